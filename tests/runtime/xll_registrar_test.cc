#include "runtime/xll_registrar.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "hosts/headless/headless_addin_callback.h"
#include "hosts/headless/headless_system.h"
#include "hosts/headless/memory_files.h"
#include "runtime/text_table.h"

namespace korvel {
namespace {

constexpr TextEntry kEveryEntry[] = {
    TextEntry::kNoticeCaption,       TextEntry::kUndoCaption,
    TextEntry::kUndoProcedure,       TextEntry::kCalculateFunction,
    TextEntry::kDurationFunction,    TextEntry::kDurationFunction2,
    TextEntry::kMainFunction,        TextEntry::kRangeFunction,
    TextEntry::kServiceFunction,     TextEntry::kCalculateKey,
    TextEntry::kCalculateKey2,       TextEntry::kEntryMacro,
    TextEntry::kInfoLaunchMode,      TextEntry::kInfoApplicationPath,
    TextEntry::kInfoApplicationName, TextEntry::kInfoApplicationVersion,
    TextEntry::kInfoHostText,        TextEntry::kMainWorkbook,
    TextEntry::kCloseQuestion,       TextEntry::kCloseCaptionPrefix,
    TextEntry::kSaveWarning,         TextEntry::kEditWindowClass,
    TextEntry::kEditWindowClass2,    TextEntry::kLinkedApplicationArguments,
    TextEntry::kRunMacroSuffix,      TextEntry::kRunMacroPrefix,
    TextEntry::kInterceptionFailed,  TextEntry::kWorkbookResourceType,
    TextEntry::kReadOnlyCaption,     TextEntry::kReadOnlyWarning,
    TextEntry::kVersionLabel,
};

TEST(TextTableTest, StoredEntriesAreScrambledAndReadBack) {
  for (TextEntry entry : kEveryEntry) {
    int number = int(entry);
    SCOPED_TRACE(number);
    std::u16string text = tableText(entry);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(scrambleEntry(number, text), storedEntry(number));
    EXPECT_EQ(scrambleEntry(number, scrambleEntry(number, text)), text);
    // No stored unit is a character of the plain texts, so no text stands in the library.
    for (char16_t unit : storedEntry(number)) EXPECT_GE(unit, 0x8000);
    EXPECT_EQ(tableText8(entry).size(), text.size());
  }
  EXPECT_TRUE(tableText(TextEntry(99)).empty());
  // Equal texts under different numbers are stored differently.
  EXPECT_NE(scrambleEntry(1, u"same"), scrambleEntry(2, u"same"));
}

TEST(TextTableTest, FixedNamesAndMacroPartsHaveTheirLengths) {
  EXPECT_EQ(tableText8(TextEntry::kUndoProcedure), "DummyFunc4");
  EXPECT_EQ(tableText8(TextEntry::kEntryMacro), "DummyFunc6");
  EXPECT_EQ(tableText(TextEntry::kRunMacroSuffix).size(), 10u);
  EXPECT_EQ(tableText(TextEntry::kRunMacroPrefix).size(), 11u);
}

class XllRegistrarTest : public ::testing::Test {
 protected:
  XllRegistrarTest() : system(&files), bridge(&callback), registrar(&bridge, &system) {
    system.addModule(u"C:\\Apps\\plinthstub.dll");
  }

  int callsOf(int function) const {
    return int(std::count_if(callback.calls().begin(), callback.calls().end(),
                             [&](const XllCall& call) { return call.function == function; }));
  }

  MemoryFiles files;
  HeadlessSystem system;
  HeadlessAddinCallback callback;
  ExcelBridge bridge;
  XllRegistrar registrar;
};

TEST_F(XllRegistrarTest, RegistersEveryEntryWithItsId) {
  registrar.registerEntries();
  EXPECT_EQ(registrar.modulePath(), "C:\\Apps\\plinthstub.dll");

  struct Expected {
    int key;
    const char* procedure;
    std::string functionText;
    const char* typeText;
    const char* macroType;
  };
  const Expected expected[] = {
      {0, "DummyFunc0", "DummyFunc0", "R", "0"},
      {1, "DummyFunc1", tableText8(TextEntry::kCalculateFunction), "R", "0"},
      {2, "DummyFunc2", tableText8(TextEntry::kDurationFunction), "B", "0"},
      {3, "DummyFunc3", tableText8(TextEntry::kMainFunction), "J", "0"},
      {4, "DummyFunc4", "DummyFunc4", "J", "0"},
      {5, "DummyFunc5", tableText8(TextEntry::kRangeFunction), "RR", "0"},
      {6, "DummyFunc6", "DummyFunc6", "J", "0"},
      {7, "DummyFunc7", "DummyFunc7", "RR", "0"},
      {8, "DummyFunc8", tableText8(TextEntry::kServiceFunction), "RJP", "2"},
      {9, "DummyFunc13", "DummyFunc13", "J", "2"},
      {502, "DummyFunc2", tableText8(TextEntry::kDurationFunction2), "B", "0"},
  };
  ASSERT_EQ(registrar.entries().size(), std::size(expected));
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.key);
    const RegistrationEntry& entry = registrar.entries().at(e.key);
    EXPECT_EQ(entry.procedure, e.procedure);
    EXPECT_EQ(entry.functionText, e.functionText);
    auto registered =
        std::find_if(callback.registrations().begin(), callback.registrations().end(),
                     [&](const XllRegistration& r) { return r.functionText == e.functionText; });
    ASSERT_NE(registered, callback.registrations().end());
    EXPECT_EQ(registered->modulePath, "C:\\Apps\\plinthstub.dll");
    EXPECT_EQ(registered->procedure, e.procedure);
    EXPECT_EQ(registered->typeText, e.typeText);
    EXPECT_EQ(registered->argumentText, "");
    EXPECT_EQ(registered->macroType, e.macroType);
    ASSERT_TRUE(entry.registerId.value().is(kXltypeNum));
    EXPECT_EQ(entry.registerId.value().num(), registered->registerId);
    EXPECT_TRUE(callback.definedNames().count(e.functionText));
  }

  std::string calculate = tableText8(TextEntry::kCalculateFunction);
  EXPECT_EQ(callback.keyBindings(),
            (std::map<std::string, std::string>{{"{F9}", calculate}, {"^%{F9}", calculate}}));
  EXPECT_EQ(callsOf(kXlcOnKey), 3);
  EXPECT_EQ(callback.entryBindings(), (std::map<std::string, std::string>{{"", "DummyFunc6"}}));
}

TEST_F(XllRegistrarTest, UnregisterRemovesNamesAndGivesKeysBack) {
  registrar.registerEntries();
  registrar.unregisterEntries();
  EXPECT_TRUE(callback.registrations().empty());
  EXPECT_TRUE(callback.definedNames().empty());
  EXPECT_TRUE(callback.keyBindings().empty());
  for (const auto& [key, entry] : registrar.entries()) {
    EXPECT_TRUE(entry.registerId.value().is(kXltypeNil)) << key;
  }
  // Every call of the close carried the arguments the host program takes.
  for (const XllCall& call : callback.calls()) {
    EXPECT_EQ(call.returnCode, kXlretSuccess) << call.function;
    EXPECT_FALSE(call.arguments.empty());
  }
}

TEST_F(XllRegistrarTest, OutsideTheHostProgramNothingIsRegistered) {
  callback.setConnected(false);
  registrar.registerEntries();
  EXPECT_EQ(registrar.entries().size(), 11u);
  for (const auto& [key, entry] : registrar.entries()) {
    EXPECT_TRUE(entry.registerId.value().is(kXltypeNil)) << key;
  }
  registrar.unregisterEntries();
  callback.setConnected(true);
  EXPECT_TRUE(callback.registrations().empty());
  EXPECT_TRUE(callback.calls().empty());
}

}  // namespace
}  // namespace korvel
