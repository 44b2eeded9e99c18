#include "excel/protection.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "excel/dispatch_ids.h"
#include "excel/excel_connection.h"
#include "runtime/runtime.h"
#include "tests/excel/fake_objects.h"
#include "tests/runtime/runtime_test_support.h"

namespace korvel {
namespace {

using testing::FakeObject;

constexpr int32_t kSheetTypeChart = -4109;

// An application workbook whose sheets behave as the program's do for protection: Protect sets
// ProtectContents and ProtectDrawingObjects from its options, Unprotect wants the sheet's
// password, Activate makes the sheet the application's active sheet. What happens to the sheets,
// in order across all of them, goes into `events`.
class ProtectionTest : public ::testing::Test {
 protected:
  ProtectionTest() : connection(*rig.runtime) {
    rig.runtime->hostInformation().excelVersion = 16;
    application = std::make_shared<FakeObject>("application");
    workbook = std::make_shared<FakeObject>("workbook");
    sheets = std::make_shared<FakeObject>("sheets");
    selection = std::make_shared<FakeObject>("selection");
    application->properties[dispid::kEnableEvents] = Variant::boolean(true);
    application->properties[dispid::kScreenUpdating] = Variant::boolean(false);
    application->properties[dispid::kSelection] = testing::object(selection);
    selection->methods[dispid::kSelect] = [this](std::span<Variant>, Variant*) {
      events.push_back("select");
      return kSOk;
    };
    workbook->properties[dispid::kSheets] = testing::object(sheets);
    sheets->methods[dispid::kItem] = [this](std::span<Variant> arguments, Variant* result) {
      int64_t i = arguments.empty() ? 0 : arguments[0].integer();
      if (i < 1 || i > int64_t(sheetList.size())) return kEInvalidArg;
      *result = testing::object(sheetList[size_t(i - 1)]);
      return kSOk;
    };
    connection.application() = ExcelObject(application);
    connection.workbook() = ExcelObject(workbook);
  }

  // A worksheet, protected or not, whose Unprotect accepts only the password given.
  std::shared_ptr<FakeObject> addSheet(bool isProtected, std::u16string password = u"",
                                       bool chart = false) {
    int index = int(sheetList.size()) + 1;
    std::string name = "sheet" + std::to_string(index);
    auto sheet = std::make_shared<FakeObject>(
        name, chart ? testing::makeInterfaceTable(kIidChart, {}) : nullptr);
    FakeObject* self = sheet.get();
    sheet->properties[dispid::kIndex] = Variant::i4(index);
    sheet->properties[dispid::kType] = Variant::i4(chart ? kSheetTypeChart : kSheetTypeWorksheet);
    sheet->properties[dispid::kParent] = testing::object(workbook);
    sheet->properties[dispid::kProtectContents] = Variant::boolean(isProtected);
    sheet->properties[dispid::kProtectDrawingObjects] = Variant::boolean(isProtected);
    auto protect = [this, self, name](std::span<Variant> arguments, Variant*) {
      events.push_back("protect " + name);
      self->properties[dispid::kProtectDrawingObjects] = arguments[1];
      self->properties[dispid::kProtectContents] = arguments[2];
      return kSOk;
    };
    sheet->methods[dispid::kProtect] = protect;
    sheet->methods[dispid::kProtectOld] = protect;
    sheet->methods[dispid::kUnprotect] = [this, self, name, password](std::span<Variant> arguments,
                                                                      Variant*) {
      if (connection.protection().recording) events.push_back("recording on");
      if (arguments.empty() || arguments[0].text() != password) return kDispEException;
      events.push_back("unprotect " + name);
      self->properties[dispid::kProtectContents] = Variant::boolean(false);
      self->properties[dispid::kProtectDrawingObjects] = Variant::boolean(false);
      return kSOk;
    };
    sheet->methods[dispid::kActivate] = [this, sheet = std::weak_ptr<FakeObject>(sheet), name](
                                            std::span<Variant>, Variant*) {
      events.push_back("activate " + name);
      application->properties[dispid::kActiveSheet] = Variant::dispatch(sheet.lock());
      return kSOk;
    };
    sheetList.push_back(sheet);
    sheets->properties[dispid::kCount] = Variant::i4(int32_t(sheetList.size()));
    return sheet;
  }

  void setActive(const std::shared_ptr<FakeObject>& sheet) {
    application->properties[dispid::kActiveSheet] = testing::object(sheet);
  }

  ProtectionTable& table(std::vector<uint32_t> words, std::vector<std::string> passwords = {}) {
    passwords.resize(words.size());
    ProtectionTable t;
    t.sheetWords = std::move(words);
    t.sheetPasswords = std::move(passwords);
    rig.runtime->settings().protectionTable = t;
    return *rig.runtime->settings().protectionTable;
  }

  ProtectionTable& current() { return *rig.runtime->settings().protectionTable; }
  Protection& protection() { return connection.protection(); }

  // What the object layer does at the first write into a sheet during a scope.
  void writeInto(int index) {
    ProtectionTable* copy = protection().scopeTable();
    ASSERT_NE(copy, nullptr);
    size_t at = size_t(index - 1);
    ASSERT_TRUE(copy->sheetWords[at] & kProtectContents);
    ExcelObject sheet(sheetList[at]);
    protection().recording = false;
    sheet.call(dispid::kUnprotect, {Variant::text(std::u16string(copy->sheetPasswords[at].begin(),
                                                                 copy->sheetPasswords[at].end()))});
    protection().recording = true;
    copy->sheetWords[at] = 0;
  }

  // The last Protect arguments a sheet received.
  static const std::vector<Variant>& lastProtect(const FakeObject& sheet, const char* call) {
    for (size_t i = sheet.calls.size(); i-- > 0;) {
      if (sheet.calls[i] == call) return sheet.callArguments[i];
    }
    static const std::vector<Variant> none;
    return none;
  }

  testing::RuntimeRig rig;
  ExcelConnection connection;
  std::shared_ptr<FakeObject> application, workbook, sheets, selection;
  std::vector<std::shared_ptr<FakeObject>> sheetList;
  std::vector<std::string> events;
};

TEST_F(ProtectionTest, AppliesTheWordWithTheFormOfTheProgramVersion) {
  struct Case {
    int version;
    uint32_t word;
    const char* call;
    size_t arguments;
    int32_t selection;
  };
  const uint32_t options = kProtectContents | kProtectDrawingObjects |
                           kProtectAllowFormattingCells | kProtectAllowUsingPivotTables |
                           kProtectAllowFiltering;
  const Case cases[] = {
      {16, options | kProtectSelectUnlocked, "call 0x7ED", 16, kSelectionUnlockedCells},
      {10, options | kProtectSelectAll | kProtectSelectUnlocked, "call 0x7ED", 16,
       kSelectionNoRestrictions},
      {9, options, "call 0x11A", 4, kSelectionNone},
  };
  auto sheet = addSheet(false);
  for (const Case& c : cases) {
    rig.runtime->hostInformation().excelVersion = c.version;
    ExcelObject holder(sheet);
    protection().applySheetProtection("pw\xE9", holder, c.word);
    const std::vector<Variant>& arguments = lastProtect(*sheet, c.call);
    ASSERT_EQ(arguments.size(), c.arguments) << c.version;
    EXPECT_EQ(arguments[0].text(), u"pw\u00E9");
    EXPECT_TRUE(arguments[1].boolean());   // DrawingObjects
    EXPECT_TRUE(arguments[2].boolean());   // Contents
    EXPECT_FALSE(arguments[3].boolean());  // Scenarios
    if (c.arguments == 16) {
      EXPECT_FALSE(arguments[4].boolean());  // UserInterfaceOnly
      EXPECT_TRUE(arguments[5].boolean());   // AllowFormattingCells
      EXPECT_FALSE(arguments[6].boolean());  // AllowFormattingColumns
      EXPECT_TRUE(arguments[14].boolean());  // AllowFiltering
      EXPECT_TRUE(arguments[15].boolean());  // AllowUsingPivotTables
    }
    EXPECT_EQ(sheet->properties[dispid::kEnableSelection], Variant::i4(c.selection));
    EXPECT_EQ(events.front(), "activate sheet1");
    events.clear();
  }
}

TEST_F(ProtectionTest, LiftUnprotectsOnlyTheApplicationsSheetsTheActiveOneLast) {
  rig.runtime->settings().applicationPassword = u"app";
  auto first = addSheet(true, u"one");
  addSheet(true, u"app", /*chart=*/true);
  auto untouched = addSheet(true, u"");
  auto byDefault = addSheet(true, u"app");
  auto wrong = addSheet(true, u"other");
  table({kProtectContents, kProtectContents, 0, kProtectContents | kProtectSelectAll,
         kProtectContents},
        {"one", "", "", "", "nope"});
  setActive(first);

  protection().liftProtection();

  EXPECT_EQ(events, (std::vector<std::string>{"unprotect sheet4", "unprotect sheet1"}));
  EXPECT_TRUE(protection().recording);
  EXPECT_TRUE(untouched->properties[dispid::kProtectContents].boolean());
  EXPECT_TRUE(wrong->properties[dispid::kProtectContents].boolean());
  EXPECT_EQ(byDefault->count("call 0x11D"), 1);

  // Nothing to do without a word for any sheet or the workbook.
  events.clear();
  table({0, 0});
  protection().liftProtection();
  EXPECT_TRUE(events.empty());
}

TEST_F(ProtectionTest, ProtectSheetsProtectsWorksheetsWithWordsAndRestoresTheActiveSheet) {
  auto first = addSheet(false);
  auto second = addSheet(false);
  addSheet(false, u"", /*chart=*/true);
  auto plain = addSheet(false);
  table({kProtectContents, kProtectContents | kProtectSelectUnlocked, kProtectContents, 0},
        {"a", "b", "", ""});
  setActive(second);

  protection().protectSheets();

  EXPECT_EQ(events, (std::vector<std::string>{"activate sheet1", "protect sheet1",
                                              "activate sheet2", "protect sheet2", "select"}));
  EXPECT_EQ(lastProtect(*second, "call 0x7ED")[0].text(), u"b");
  EXPECT_EQ(second->properties[dispid::kEnableSelection], Variant::i4(kSelectionUnlockedCells));
  EXPECT_EQ(plain->count("call 0x7ED"), 0);
  // Events were off meanwhile and are on again.
  EXPECT_EQ(application->count("put 0x4BC"), 2);
  EXPECT_TRUE(application->properties[dispid::kEnableEvents].boolean());

  // An unprotected active sheet is activated again after the others were protected.
  events.clear();
  setActive(plain);
  protection().protectSheets();
  EXPECT_EQ(events.back(), "select");
  EXPECT_EQ(events[events.size() - 2], "activate sheet4");
  EXPECT_TRUE(ExcelObject::of(application->properties[dispid::kActiveSheet])
                  .sameObject(ExcelObject(plain)));
}

TEST_F(ProtectionTest, ProtectWorkbookUsesTheFormOfTheProgramVersion) {
  struct Case {
    int version;
    uint32_t word;
    const char* call;  // null: no call
  };
  const Case cases[] = {
      {11, kProtectStructure, "call 0x7ED"},
      {10, kProtectStructure | kProtectWindows, "call 0x11A"},
      {16, 0, nullptr},
  };
  for (const Case& c : cases) {
    workbook->calls.clear();
    workbook->callArguments.clear();
    rig.runtime->hostInformation().excelVersion = c.version;
    table({}).workbookWord = c.word;
    current().workbookPassword = "wb";
    workbook->methods[dispid::kProtect] = [](std::span<Variant>, Variant*) { return kSOk; };
    workbook->methods[dispid::kProtectOld] = workbook->methods[dispid::kProtect];
    protection().protectWorkbook();
    if (c.call == nullptr) {
      EXPECT_EQ(workbook->count("call 0x7ED") + workbook->count("call 0x11A"), 0);
      continue;
    }
    ASSERT_EQ(workbook->count(c.call), 1) << c.version;
    const std::vector<Variant>& arguments = workbook->callArguments.back();
    ASSERT_EQ(arguments.size(), 3u);
    EXPECT_EQ(arguments[0].text(), u"wb");
    EXPECT_TRUE(arguments[1].boolean());
    EXPECT_EQ(arguments[2].boolean(), (c.word & kProtectWindows) != 0);
  }
}

TEST_F(ProtectionTest, ScopeProtectsWrittenSheetsAgainAndKeepsTheActiveSheet) {
  auto first = addSheet(true, u"a");
  auto second = addSheet(true, u"b");
  auto third = addSheet(true, u"c");
  const uint32_t word2 = kProtectContents | kProtectScenarios | kProtectSelectAll;
  table({kProtectContents, word2, kProtectContents}, {"a", "b", "c"});
  setActive(second);

  protection().openProtectionScope(1);
  protection().noteScreenUpdatingSwitchedOff();
  writeInto(2);
  writeInto(1);
  events.clear();
  protection().closeProtectionScope();

  EXPECT_EQ(events, (std::vector<std::string>{"activate sheet1", "protect sheet1",
                                              "activate sheet2", "protect sheet2"}));
  EXPECT_TRUE(first->properties[dispid::kProtectContents].boolean());
  const std::vector<Variant>& arguments = lastProtect(*second, "call 0x7ED");
  ASSERT_EQ(arguments.size(), 16u);
  EXPECT_EQ(arguments[0].text(), u"b");
  EXPECT_TRUE(arguments[3].boolean());  // Scenarios
  EXPECT_EQ(second->properties[dispid::kEnableSelection], Variant::i4(kSelectionNoRestrictions));
  EXPECT_EQ(third->count("call 0x7ED"), 0);
  EXPECT_TRUE(ExcelObject::of(application->properties[dispid::kActiveSheet])
                  .sameObject(ExcelObject(second)));
  EXPECT_TRUE(application->properties[dispid::kScreenUpdating].boolean());
  // The table itself is untouched by the scope.
  EXPECT_EQ(current().sheetWords[1], word2);

  protection().releaseProtectionScope();
  EXPECT_EQ(protection().scopeTable(), nullptr);
}

TEST_F(ProtectionTest, ScopeActivatesTheActiveSheetWhenOnlyOthersWereProtected) {
  addSheet(true, u"a");
  auto second = addSheet(false);
  table({kProtectContents, 0}, {"a", ""});
  setActive(second);
  application->properties[dispid::kScreenUpdating] = Variant::boolean(false);

  protection().openProtectionScope(1);
  writeInto(1);
  events.clear();
  protection().closeProtectionScope();
  protection().releaseProtectionScope();

  EXPECT_EQ(events,
            (std::vector<std::string>{"activate sheet1", "protect sheet1", "activate sheet2"}));
  // Screen updating was not switched off by the scope's owner, so it stays as it is.
  EXPECT_FALSE(application->properties[dispid::kScreenUpdating].boolean());

  // A scope without writes changes nothing.
  events.clear();
  protection().openProtectionScope(1);
  protection().closeProtectionScope();
  protection().releaseProtectionScope();
  EXPECT_TRUE(events.empty());

  // When the program cannot tell its active sheet, the one the scope was opened for is kept.
  application->failing.insert(dispid::kActiveSheet);
  events.clear();
  protection().openProtectionScope(1);
  writeInto(1);
  events.clear();
  protection().closeProtectionScope();
  protection().releaseProtectionScope();
  EXPECT_EQ(events,
            (std::vector<std::string>{"activate sheet1", "protect sheet1", "activate sheet2"}));
}

TEST_F(ProtectionTest, SelectionModeFromTheWorkbooksCodeIsUsedWhenProtectingAgain) {
  auto sheet = addSheet(true, u"a");
  table({kProtectContents | kProtectSelectAll | kProtectSelectUnlocked}, {"a"});
  setActive(sheet);
  ExcelObject holder(sheet);

  struct Case {
    int32_t mode;
    uint32_t bits;
  };
  for (Case c : {Case{kSelectionNone, 0u}, Case{kSelectionNoRestrictions, kProtectSelectionBits},
                 Case{kSelectionUnlockedCells, kProtectSelectUnlocked}}) {
    protection().recordSelectionMode(holder, c.mode);
    EXPECT_EQ(current().sheetWords[0], kProtectContents | c.bits) << c.mode;
  }

  protection().openProtectionScope(0);
  writeInto(1);
  protection().closeProtectionScope();
  protection().releaseProtectionScope();
  EXPECT_EQ(sheet->properties[dispid::kEnableSelection], Variant::i4(kSelectionUnlockedCells));
  EXPECT_TRUE(sheet->properties[dispid::kProtectContents].boolean());

  // A sheet beyond the table grows both lists.
  auto later = addSheet(false);
  ExcelObject laterHolder(later);
  protection().recordSelectionMode(laterHolder, kSelectionUnlockedCells);
  EXPECT_EQ(current().sheetWords, (std::vector<uint32_t>{kProtectContents | kProtectSelectUnlocked,
                                                         kProtectSelectUnlocked}));
  EXPECT_EQ(current().sheetPasswords.size(), 2u);
}

TEST_F(ProtectionTest, UnprotectFromTheWorkbooksCodeKeepsOnlyTheSelectionBits) {
  auto sheet = addSheet(true, u"a");
  const uint32_t word = kProtectContents | kProtectDrawingObjects | kProtectSelectUnlocked;
  table({word}, {"a"});
  setActive(sheet);
  ExcelObject holder(sheet);

  // Still protected, or the runtime's own call: not recorded.
  protection().recordUnprotect(holder);
  EXPECT_EQ(current().sheetWords[0], word);
  holder.call(dispid::kUnprotect, {Variant::text(u"a")});
  protection().recording = false;
  protection().recordUnprotect(holder);
  protection().recording = true;
  EXPECT_EQ(current().sheetWords[0], word);

  protection().recordUnprotect(holder);
  EXPECT_EQ(current().sheetWords[0], kProtectSelectUnlocked);

  // Later cycles leave the sheet unprotected.
  events.clear();
  protection().openProtectionScope(0);
  EXPECT_FALSE(protection().scopeTable()->sheetWords[0] & kProtectContents);
  protection().closeProtectionScope();
  protection().releaseProtectionScope();
  EXPECT_TRUE(events.empty());
  EXPECT_FALSE(sheet->properties[dispid::kProtectContents].boolean());
}

TEST_F(ProtectionTest, ProtectFromTheWorkbooksCodeIsRecordedForItsOwnSheetsOnly) {
  auto first = addSheet(false);
  auto second = addSheet(false);
  ExcelObject firstHolder(first), secondHolder(second);
  rig.runtime->settings().protectionTable.reset();

  // No table yet: the first record creates it; omitted options take the program's defaults and
  // a sheet without an earlier word may select anything.
  protection().recordProtect(secondHolder, u"p\u0141", {});
  ASSERT_TRUE(rig.runtime->settings().protectionTable);
  EXPECT_EQ(current().sheetWords,
            (std::vector<uint32_t>{0, kProtectDrawingObjects | kProtectContents |
                                          kProtectScenarios | kProtectSelectionBits}));
  EXPECT_EQ(current().sheetPasswords, (std::vector<std::string>{"", "pA"}));

  // Options as given (integers count as the program coerces them); earlier selection bits stay.
  protection().recordSelectionMode(secondHolder, kSelectionUnlockedCells);
  const Variant options[] = {Variant::boolean(false), Variant::i4(1),     Variant::missing(),
                             Variant::boolean(true),  Variant::missing(), Variant::missing(),
                             Variant::missing(),      Variant::missing(), Variant::missing(),
                             Variant::missing(),      Variant::missing(), Variant::missing(),
                             Variant::boolean(true)};
  protection().recordProtect(secondHolder, u"", options);
  EXPECT_EQ(current().sheetWords[1], kProtectContents | kProtectScenarios |
                                         kProtectUserInterfaceOnly | kProtectAllowSorting |
                                         kProtectSelectUnlocked);
  EXPECT_EQ(current().sheetPasswords[1], "");

  // A sheet of another workbook is not the application's.
  auto other = std::make_shared<FakeObject>("other workbook");
  first->properties[dispid::kParent] = testing::object(other);
  protection().recordProtect(firstHolder, u"x", {});
  protection().recordSelectionMode(firstHolder, kSelectionNone);
  EXPECT_EQ(current().sheetWords[0], 0u);
}

}  // namespace
}  // namespace korvel
