#include "hosts/headless/headless_addin_callback.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace korvel {
namespace {

constexpr const char* kModule = "C:\\app\\plinthstub.dll";

class AddinCallbackTest : public ::testing::Test {
 protected:
  int call(int function, std::vector<Xloper> arguments, Xloper* result = nullptr) {
    std::vector<const Xloper*> pointers;
    for (const Xloper& argument : arguments) pointers.push_back(&argument);
    return host_.excel4(function, result, pointers);
  }
  Xloper text(const char* s) { return Xloper::string(s); }
  // Registers as the runtime does and returns the id xlfRegisterId answers.
  double registerEntry(const char* procedure, const char* type, const char* functionText) {
    Xloper result;
    EXPECT_EQ(
        call(kXlfRegister,
             {text(kModule), text(procedure), text(type), text(functionText), text(""), text("0")},
             &result),
        kXlretSuccess);
    EXPECT_TRUE(result.is(kXltypeNum));
    Xloper id;
    EXPECT_EQ(call(kXlfRegisterId, {text(kModule), text(procedure)}, &id), kXlretSuccess);
    EXPECT_EQ(id, result);
    return id.num();
  }

  HeadlessAddinCallback host_;
};

TEST_F(AddinCallbackTest, WithoutAHostProgramEveryCallFails) {
  host_.setConnected(false);
  Xloper result = Xloper::integer(5);
  for (int function : {kXlfRegister, kXlfRegisterId, kXlfUnregister, kXlfSetName, kXlcOnKey,
                       kXlcOnEntry, kXlFree, 12345}) {
    EXPECT_EQ(call(function, {text(kModule), text("DummyFunc0")}, &result), kXlretFailed);
  }
  EXPECT_EQ(result, Xloper::integer(5));
  EXPECT_TRUE(host_.calls().empty());
  EXPECT_TRUE(host_.registrations().empty());

  host_.setConnected(true);
  EXPECT_EQ(call(kXlcOnKey, std::vector<Xloper>(256, text("^a"))), kXlretInvCount);
  EXPECT_TRUE(host_.calls().empty());
  EXPECT_EQ(call(kXlcOnKey, std::vector<Xloper>(1, text("^a"))), kXlretSuccess);
  EXPECT_EQ(call(12345, {}), kXlretInvXlfn);
  EXPECT_EQ(host_.calls().size(), 2u);
  EXPECT_EQ(host_.calls()[1].returnCode, kXlretInvXlfn);
}

TEST_F(AddinCallbackTest, RecordsRegistrationsUnderOneIdPerProcedure) {
  double calc = registerEntry("DummyFunc1", "R", "KorvelCalc");
  double seconds = registerEntry("DummyFunc2", "B", "KorvelSeconds");
  double again = registerEntry("DummyFunc2", "B", "KorvelSecondsToo");
  EXPECT_NE(calc, seconds);
  EXPECT_EQ(seconds, again);
  ASSERT_EQ(host_.registrations().size(), 3u);
  const XllRegistration* entry = host_.registration("DummyFunc1");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->modulePath, kModule);
  EXPECT_EQ(entry->typeText, "R");
  EXPECT_EQ(entry->functionText, "KorvelCalc");
  EXPECT_EQ(entry->macroType, "0");
  EXPECT_EQ(host_.definedNames(),
            (std::set<std::string>{"KorvelCalc", "KorvelSeconds", "KorvelSecondsToo"}));

  // Unregistering as the add-in closes: the name goes, then the procedure.
  Xloper result;
  EXPECT_EQ(call(kXlfSetName, {text("KorvelSeconds")}, &result), kXlretSuccess);
  EXPECT_EQ(result, Xloper::boolean(true));
  EXPECT_EQ(call(kXlfUnregister, {Xloper::number(seconds)}, &result), kXlretSuccess);
  EXPECT_EQ(result, Xloper::boolean(true));
  EXPECT_EQ(host_.registrations().size(), 1u);
  EXPECT_EQ(host_.registration("DummyFunc2"), nullptr);
  EXPECT_EQ(host_.definedNames(), (std::set<std::string>{"KorvelCalc", "KorvelSecondsToo"}));
  EXPECT_EQ(call(kXlfUnregister, {Xloper::number(seconds)}, &result), kXlretSuccess);
  EXPECT_EQ(result, Xloper::boolean(false));

  // Arguments the host program cannot use answer #VALUE! and change nothing.
  EXPECT_EQ(call(kXlfRegister, {text(kModule), Xloper::number(1)}, &result), kXlretSuccess);
  EXPECT_EQ(result, Xloper::error(kXlerrValue));
  EXPECT_EQ(call(kXlfUnregister, {text("KorvelCalc")}, &result), kXlretSuccess);
  EXPECT_EQ(result, Xloper::error(kXlerrValue));
  EXPECT_EQ(host_.registrations().size(), 1u);

  // A procedure asked for by id only is registered without texts.
  Xloper id;
  call(kXlfRegisterId, {text(kModule), text("DummyFunc13")}, &id);
  EXPECT_TRUE(id.is(kXltypeNum));
  ASSERT_NE(host_.registration("DummyFunc13"), nullptr);
  EXPECT_EQ(host_.registration("DummyFunc13")->registerId, id.num());
}

TEST_F(AddinCallbackTest, RecordsKeyAndEntryBindings) {
  EXPECT_EQ(call(kXlcOnKey, {text("{F9}"), text("KorvelCalc")}), kXlretSuccess);
  EXPECT_EQ(call(kXlcOnKey, {text("^%{F9}"), text("KorvelCalc")}), kXlretSuccess);
  EXPECT_EQ(call(kXlcOnKey, {text("^%{F9}"), text("KorvelCalc")}), kXlretSuccess);
  EXPECT_EQ(call(kXlcOnEntry, {Xloper(), text("DummyFunc6")}), kXlretSuccess);
  EXPECT_EQ(host_.keyBindings(),
            (std::map<std::string, std::string>{{"{F9}", "KorvelCalc"}, {"^%{F9}", "KorvelCalc"}}));
  EXPECT_EQ(host_.entryBindings(), (std::map<std::string, std::string>{{"", "DummyFunc6"}}));

  // One argument gives a key its normal meaning back; an empty macro ends the entry binding.
  EXPECT_EQ(call(kXlcOnKey, {text("{F9}")}), kXlretSuccess);
  EXPECT_EQ(call(kXlcOnEntry, {Xloper(), text("")}), kXlretSuccess);
  EXPECT_EQ(host_.keyBindings(), (std::map<std::string, std::string>{{"^%{F9}", "KorvelCalc"}}));
  EXPECT_TRUE(host_.entryBindings().empty());
}

TEST_F(AddinCallbackTest, AnswersFreeAndInjectedFailures) {
  Xloper kept = Xloper::string("from the host");
  kept.setFlags(kXlbitXLFree);
  EXPECT_EQ(call(kXlFree, {kept, Xloper::number(1)}), kXlretSuccess);
  EXPECT_EQ(host_.freedValues(), 2);
  ASSERT_EQ(host_.calls().size(), 1u);
  EXPECT_EQ(host_.calls()[0].arguments[0], kept);

  host_.setFailure(kXlfRegister, kXlretFailed);
  Xloper result = Xloper::integer(9);
  EXPECT_EQ(call(kXlfRegister, {text(kModule), text("DummyFunc0")}, &result), kXlretFailed);
  EXPECT_EQ(result, Xloper::integer(9));
  EXPECT_TRUE(host_.registrations().empty());
  host_.setFailure(kXlfRegister, kXlretSuccess);
  EXPECT_EQ(call(kXlfRegister, {text(kModule), text("DummyFunc0")}, &result), kXlretSuccess);
  EXPECT_EQ(host_.registrations().size(), 1u);
}

}  // namespace
}  // namespace korvel
