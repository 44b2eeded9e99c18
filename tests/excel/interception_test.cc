#include "excel/interception.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "excel/dispatch_ids.h"
#include "excel/excel_connection.h"
#include "excel/protection.h"
#include "hosts/headless/headless_locale.h"
#include "hosts/headless/headless_system.h"
#include "hosts/headless/headless_window_system.h"
#include "hosts/headless/memory_files.h"
#include "hosts/headless/system_clock.h"
#include "runtime/runtime.h"
#include "runtime/text_table.h"
#include "tests/excel/fake_objects.h"

namespace korvel {
namespace {

using testing::FakeObject;
using testing::makeInterfaceTable;

constexpr InvokeKind kMethod = InvokeKind::kMethod;
constexpr InvokeKind kGet = InvokeKind::kPropertyGet;
constexpr InvokeKind kPut = InvokeKind::kPropertyPut;

class TemporaryWorkbookFactory : public ObjectFactory {
 public:
  std::shared_ptr<Dispatch> create(std::u16string_view classOrProgId, HResult* result) override {
    requested.emplace_back(classOrProgId);
    if (!workbook) *result = kEFail;
    return workbook;
  }
  std::shared_ptr<FakeObject> workbook;
  std::vector<std::u16string> requested;
};

class RecordingPackaging : public Packaging {
 public:
  void saveApplication() override { calls.push_back("saveApplication"); }
  void saveApplicationAs(std::u16string_view path) override {
    calls.push_back("saveApplicationAs " + std::string(path.begin(), path.end()));
  }
  void storeIntoExecutable() override { calls.push_back("storeIntoExecutable"); }
  std::vector<std::string> calls;
};

// A member that answers another object; held weakly, so that objects pointing at each other
// (a sheet and its workbook) do not keep each other alive.
void answerObject(FakeObject& from, int32_t memberId, const std::shared_ptr<FakeObject>& to) {
  std::weak_ptr<FakeObject> target = to;
  from.methods[memberId] = [target](std::span<Variant>, Variant* result) {
    if (result != nullptr) *result = Variant::dispatch(target.lock());
    return kSOk;
  };
}

// Methods that do their work and answer S_OK.
void succeeds(FakeObject& object, const std::vector<int32_t>& members) {
  for (int32_t member : members) {
    object.methods[member] = [](std::span<Variant>, Variant*) { return kSOk; };
  }
}

const std::vector<int32_t> kWorkbookMethods = {dispid::kClose, dispid::kSave, dispid::kSaveAs,
                                               dispid::kSaveAs2, dispid::kSaveCopyAs};

// A collection whose Item(1) is the object.
std::shared_ptr<FakeObject> collectionOf(const std::shared_ptr<FakeObject>& item) {
  auto collection = std::make_shared<FakeObject>("collection");
  answerObject(*collection, dispid::kItem, item);
  return collection;
}

// The program as the runtime finds it at attach: the Application, the application workbook with
// one worksheet, a Range, and the workbook class the installation creates its temporary workbook
// from. Every object of an interface shares that interface's table.
class InterceptionTest : public ::testing::Test {
 protected:
  InterceptionTest()
      : system(&files),
        clock(LocalTime{2026, 12, 10, 8, 30, 0, 0}),
        applicationTable(
            makeInterfaceTable(kIidApplication, {{dispid::kCalculate, kMethod},
                                                 {dispid::kCalculateFull, kMethod},
                                                 {dispid::kRun, kMethod},
                                                 {dispid::kCalculation, kGet},
                                                 {dispid::kCalculation, kPut},
                                                 {dispid::kApplicationMember0xB7, kGet},
                                                 {dispid::kVisible, kPut},
                                                 {dispid::kEnableEvents, kPut},
                                                 {dispid::kQuit, kMethod}})),
        workbookTable(makeInterfaceTable(kIidWorkbook, {{dispid::kClose, kMethod},
                                                        {dispid::kSave, kMethod},
                                                        {dispid::kSaveAs, kMethod},
                                                        {dispid::kSaveAs2, kMethod},
                                                        {dispid::kSaveCopyAs, kMethod},
                                                        {dispid::kPath, kGet}})),
        worksheetTable(makeInterfaceTable(kIidWorksheet, {{dispid::kName, kPut},
                                                          {dispid::kProtect, kMethod},
                                                          {dispid::kUnprotect, kMethod},
                                                          {dispid::kEnableSelection, kPut},
                                                          {kDispidInvoke, kMethod}})),
        rangeTable(makeInterfaceTable(
            kIidRange,
            {{dispid::kValue, kPut}, {dispid::kValue2, kPut}, {dispid::kFormula, kPut}})),
        application(std::make_shared<FakeObject>("application", applicationTable)),
        workbook(std::make_shared<FakeObject>("workbook", workbookTable)),
        sheet(std::make_shared<FakeObject>("sheet", worksheetTable)),
        range(std::make_shared<FakeObject>("range", rangeTable)) {
    platform.locale = &locale;
    platform.files = &files;
    platform.clock = &clock;
    platform.windows = &windows;
    platform.system = &system;
    platform.objects = &factory;

    succeeds(*application, {dispid::kCalculate, dispid::kCalculateFull, dispid::kQuit});
    succeeds(*workbook, kWorkbookMethods);
    succeeds(*sheet, {dispid::kProtect, dispid::kUnprotect});
    application->properties[dispid::kVisible] = Variant::boolean(true);
    application->properties[dispid::kScreenUpdating] = Variant::boolean(true);
    application->properties[dispid::kEnableEvents] = Variant::boolean(true);
    application->properties[dispid::kCalculation] = Variant::i4(kCalculationAutomatic);
    answerObject(*application, dispid::kApplicationRange, range);
    // Workbooks.Item answers the application workbook by its file name, as long as it is open.
    workbooks = std::make_shared<FakeObject>("workbooks");
    std::weak_ptr<FakeObject> held = workbook;
    workbooks->methods[dispid::kItem] = [this, held](std::span<Variant> arguments,
                                                     Variant* result) {
      if (!workbookOpen || arguments.empty() || arguments[0].text() != u"app.xls") return kEFail;
      if (result != nullptr) *result = Variant::dispatch(held.lock());
      return kSOk;
    };
    answerObject(*application, dispid::kWorkbooks, workbooks);

    sheets = collectionOf(sheet);
    answerObject(*workbook, dispid::kWorksheets, sheets);
    answerObject(*sheet, dispid::kParent, workbook);
    sheet->properties[dispid::kIndex] = Variant::i4(1);
    sheet->properties[dispid::kProtectContents] = Variant::boolean(false);
    sheet->properties[dispid::kProtectDrawingObjects] = Variant::boolean(false);
    // The program's Invoke reaches its members through the table.
    sheet->methods[kDispidInvoke] = [this](std::span<Variant> arguments, Variant* result) {
      return sheet->invoke(variantToInt(arguments[0]), InvokeKind(variantToInt(arguments[1])),
                           arguments.subspan(2), result);
    };

    temporaryWorkbook = otherWorkbook("temporary");
    temporarySheet = std::make_shared<FakeObject>("temporary sheet", worksheetTable);
    temporaryWindow = std::make_shared<FakeObject>("temporary window");
    temporarySheets = collectionOf(temporarySheet);
    temporaryWindows = collectionOf(temporaryWindow);
    answerObject(*temporaryWorkbook, dispid::kWorksheets, temporarySheets);
    answerObject(*temporaryWorkbook, dispid::kWindows, temporaryWindows);
    factory.workbook = temporaryWorkbook;

    runtime = std::make_unique<Runtime>(platform);
    runtime->channelState().applicationPath = u"C:\\Apps\\Budget\\budget.exe";
    runtime->channelState().applicationDirectory = u"C:\\Apps\\Budget";
    runtime->channelState().workbookPath = u"C:\\Temp\\app.xls";
    auto owned = std::make_unique<ExcelConnection>(*runtime);
    connection = owned.get();
    runtime->setConnection(std::move(owned));
    auto ownedPackaging = std::make_unique<RecordingPackaging>();
    packaging = ownedPackaging.get();
    runtime->setPackaging(std::move(ownedPackaging));
    connection->application() = ExcelObject(application);
    connection->workbook() = ExcelObject(workbook);
  }

  // A workbook of the program other than the application workbook.
  std::shared_ptr<FakeObject> otherWorkbook(std::string name) {
    auto other = std::make_shared<FakeObject>(std::move(name), workbookTable);
    succeeds(*other, kWorkbookMethods);
    return other;
  }

  Interception& interception() { return connection->interception(); }
  void install() { interception().installInterceptions(); }

  HResult call(FakeObject& object, int32_t memberId, InvokeKind kind,
               std::vector<Variant> arguments = {}, Variant* result = nullptr) {
    return object.invoke(memberId, kind, arguments, result);
  }
  // The member's slot called directly, as an early-bound caller does.
  HResult callSlot(FakeObject& object, int32_t memberId, InvokeKind kind,
                   std::vector<Variant> arguments = {}, Variant* result = nullptr) {
    const FunctionDescription* function = object.table->find(memberId, kind);
    return object.table->slot(function->slot)(object, arguments, result, kLocaleSystemDefault);
  }
  // A cell waiting in the changed-cells list.
  void addChangedCell() {
    runtime->engine()->changedCells.push_back(
        runtime->model()->cellAt(CellRef::at(0, 0, runtime->engine()->changedCells.size())));
  }

  HeadlessLocale locale;
  MemoryFiles files;
  HeadlessSystem system;
  FixedClock clock;
  HeadlessWindowSystem windows;
  TemporaryWorkbookFactory factory;
  Platform platform;
  bool workbookOpen = true;

  std::shared_ptr<InterfaceTable> applicationTable;
  std::shared_ptr<InterfaceTable> workbookTable;
  std::shared_ptr<InterfaceTable> worksheetTable;
  std::shared_ptr<InterfaceTable> rangeTable;
  std::shared_ptr<FakeObject> application;
  std::shared_ptr<FakeObject> workbook;
  std::shared_ptr<FakeObject> sheet;
  std::shared_ptr<FakeObject> range;
  std::shared_ptr<FakeObject> workbooks;
  std::shared_ptr<FakeObject> sheets;
  std::shared_ptr<FakeObject> temporaryWorkbook;
  std::shared_ptr<FakeObject> temporarySheet;
  std::shared_ptr<FakeObject> temporaryWindow;
  std::shared_ptr<FakeObject> temporarySheets;
  std::shared_ptr<FakeObject> temporaryWindows;

  std::unique_ptr<Runtime> runtime;
  ExcelConnection* connection = nullptr;
  RecordingPackaging* packaging = nullptr;
};

TEST_F(InterceptionTest, OneInstallationServesEveryObjectOfAnInterface) {
  install();
  for (const InterfaceId& iid : {kIidApplication, kIidWorkbook, kIidWorksheet, kIidRange}) {
    EXPECT_TRUE(interception().processed(iid)) << iid;
  }
  // The worksheet interface came from a workbook of its own, closed again, with the screen and
  // the events as they were.
  ASSERT_EQ(factory.requested, std::vector<std::u16string>{kWorkbookClass});
  EXPECT_EQ(temporaryWorkbook->count("call 0x115"), 1);
  EXPECT_EQ(temporaryWindow->properties[dispid::kWindowState], Variant::i4(kWindowMaximized));
  EXPECT_EQ(application->properties[dispid::kScreenUpdating], Variant::boolean(true));
  EXPECT_EQ(application->properties[dispid::kEnableEvents], Variant::boolean(true));
  EXPECT_EQ(application->count("put 0x17E"), 2);

  // Another workbook of the program, never processed itself, shares the replaced table: its
  // Save is the program's own, by member id and through the slot.
  auto other = otherWorkbook("other");
  EXPECT_EQ(call(*other, dispid::kSave, kMethod), kSOk);
  EXPECT_EQ(callSlot(*other, dispid::kSave, kMethod), kSOk);
  EXPECT_EQ(other->count("call 0x11B"), 2);
  // The application workbook's Save never reaches the program, whichever way it is called.
  EXPECT_EQ(call(*workbook, dispid::kSave, kMethod), kSFalse);
  EXPECT_EQ(callSlot(*workbook, dispid::kSave, kMethod), kSFalse);
  EXPECT_EQ(workbook->count("call 0x11B"), 0);

  // Installing again records nothing new: the program's function is still the one called.
  install();
  interception().processObject(*other);
  EXPECT_EQ(
      interception().callOriginal(*workbook, kIidWorkbook, dispid::kSave, kMethod, {}, nullptr),
      kSOk);
  EXPECT_EQ(workbook->count("call 0x11B"), 1);
  EXPECT_TRUE(interception().original(kIidRange, dispid::kValue2, kPut));
  EXPECT_FALSE(interception().installed(kIidRange, dispid::kValue2, kPut));
}

TEST_F(InterceptionTest, WorksheetFallsBackToTheApplicationWorkbook) {
  factory.workbook = nullptr;
  install();
  EXPECT_TRUE(interception().processed(kIidWorksheet));
  EXPECT_TRUE(interception().installed(kIidWorksheet, dispid::kName, kPut));
}

TEST_F(InterceptionTest, NoticeWhenTheApplicationCannotBeIntercepted) {
  auto plain = std::make_shared<FakeObject>("application without type information");
  connection->application() = ExcelObject(plain);
  try {
    install();
    ADD_FAILURE() << "no notice";
  } catch (const notice4user& notice) {
    EXPECT_EQ(std::string(notice.what()), tableText8(TextEntry::kInterceptionFailed));
  }
}

TEST_F(InterceptionTest, CalculateRunsTheCycleInsteadOfTheProgramsOwn) {
  install();
  for (int32_t member : {dispid::kCalculate, dispid::kCalculateFull}) {
    application->calls.clear();
    addChangedCell();
    EXPECT_EQ(call(*application, member, kMethod), kSOk);
    EXPECT_EQ(application->count("call 0x117"), 0);
    // The cycle has the program compute its own formulas once, through its own function.
    EXPECT_EQ(application->count("call 0x70D"), 1);
    EXPECT_TRUE(runtime->engine()->changedCells.empty());
  }
}

TEST_F(InterceptionTest, SwitchingToAutomaticWithPendingChangesRunsOneCycle) {
  install();
  struct Case {
    int32_t from;
    int32_t to;
    bool pending;
    int cycles;
  };
  const Case cases[] = {
      {kCalculationManual, kCalculationAutomatic, true, 1},
      {kCalculationManual, kCalculationSemiautomatic, true, 1},
      {kCalculationManual, kCalculationAutomatic, false, 0},
      {kCalculationAutomatic, kCalculationAutomatic, true, 0},
      {kCalculationManual, kCalculationManual, true, 0},
  };
  for (const Case& c : cases) {
    application->properties[dispid::kCalculation] = Variant::i4(c.from);
    application->calls.clear();
    runtime->engine()->changedCells.clear();
    if (c.pending) addChangedCell();
    EXPECT_EQ(call(*application, dispid::kCalculation, kPut, {Variant::i4(c.to)}), kSOk);
    EXPECT_EQ(application->properties[dispid::kCalculation], Variant::i4(c.to));
    EXPECT_EQ(application->count("call 0x70D"), c.cycles) << c.from << " -> " << c.to;
  }
  // A setter the program refuses runs nothing and answers the refusal.
  application->properties[dispid::kCalculation] = Variant::i4(kCalculationManual);
  application->failing.insert(dispid::kCalculation);
  application->calls.clear();
  addChangedCell();
  EXPECT_EQ(call(*application, dispid::kCalculation, kPut, {Variant::i4(kCalculationAutomatic)}),
            kEFail);
  EXPECT_EQ(application->count("call 0x70D"), 0);
}

TEST_F(InterceptionTest, RunMarksTheWorkbooksOwnCodeWhileItRuns) {
  install();
  bool flagDuringRun = false;
  application->methods[dispid::kRun] = [&](std::span<Variant>, Variant* result) {
    flagDuringRun = runtime->calculation().workbookCodeRunning;
    if (result != nullptr) *result = Variant::i4(5);
    return kSOk;
  };
  struct Case {
    std::u16string macro;
    bool codeRunning;
  };
  const Case cases[] = {
      {u"KorvelHooks.Sheet1_AfterSave", true},
      {u"korvelhooks.Sheet1_aftersave", true},
      {u"KorvelHooks.Sheet1_Other", false},
      {u"Module1.Sheet1_AfterSave", false},
      {u"", false},
  };
  for (const Case& c : cases) {
    Variant result;
    EXPECT_EQ(call(*application, dispid::kRun, kMethod, {Variant::text(c.macro)}, &result), kSOk);
    EXPECT_EQ(result, Variant::i4(5));
    EXPECT_EQ(flagDuringRun, c.codeRunning) << std::string(c.macro.begin(), c.macro.end());
    EXPECT_FALSE(runtime->calculation().workbookCodeRunning);
  }
}

TEST_F(InterceptionTest, VisibleRecordsWhatTheWorkbooksCodeAskedFor) {
  install();
  EXPECT_EQ(call(*application, dispid::kVisible, kPut, {Variant::boolean(false)}), kSOk);
  EXPECT_FALSE(runtime->hostInformation().visibleRequested);
  EXPECT_EQ(application->properties[dispid::kVisible], Variant::boolean(false));
  EXPECT_EQ(call(*application, dispid::kVisible, kPut, {Variant::i4(1)}), kSOk);
  EXPECT_TRUE(runtime->hostInformation().visibleRequested);
}

TEST_F(InterceptionTest, ReturnedObjectsHaveTheirInterfaceProcessed) {
  auto returnedTable = makeInterfaceTable(kIidWorksheet, {{dispid::kName, kPut}});
  auto returned = std::make_shared<FakeObject>("returned", returnedTable);
  application->properties[dispid::kApplicationMember0xB7] = Variant::dispatch(returned);
  interception().assignReplacements();
  interception().processObject(*application);
  EXPECT_FALSE(interception().processed(kIidWorksheet));
  Variant result;
  EXPECT_EQ(call(*application, dispid::kApplicationMember0xB7, kGet, {}, &result), kSOk);
  EXPECT_TRUE(interception().processed(kIidWorksheet));
  EXPECT_TRUE(interception().installed(kIidWorksheet, dispid::kName, kPut));
}

TEST_F(InterceptionTest, PathAnswersTheApplicationsFolder) {
  install();
  workbook->properties[dispid::kPath] = Variant::text(u"C:\\Temp");
  Variant path;
  EXPECT_EQ(call(*workbook, dispid::kPath, kGet, {}, &path), kSOk);
  EXPECT_EQ(path, Variant::text(u"C:\\Apps\\Budget"));
  EXPECT_EQ(workbook->count("get 0x123"), 0);

  auto other = otherWorkbook("other");
  other->properties[dispid::kPath] = Variant::text(u"D:\\Reports");
  EXPECT_EQ(call(*other, dispid::kPath, kGet, {}, &path), kSOk);
  EXPECT_EQ(path, Variant::text(u"D:\\Reports"));
}

TEST_F(InterceptionTest, SavingTheApplicationWorkbookNeverWritesAWorkbook) {
  install();
  for (bool asExecutable : {false, true}) {
    runtime->settings().saveAsExecutable = asExecutable;
    packaging->calls.clear();
    EXPECT_EQ(call(*workbook, dispid::kSave, kMethod), kSFalse);
    for (int32_t saveAs : {dispid::kSaveAs, dispid::kSaveAs2}) {
      EXPECT_EQ(call(*workbook, saveAs, kMethod, {Variant::text(u"D:\\Out\\b.xls")}), kSFalse);
    }
    EXPECT_EQ(call(*workbook, dispid::kSaveAs, kMethod, {Variant::missing()}), kSFalse);
    std::vector<std::string> expected;
    if (asExecutable) {
      expected = {"saveApplication", "saveApplicationAs D:\\Out\\b.xls",
                  "saveApplicationAs D:\\Out\\b.xls"};
    }
    EXPECT_EQ(packaging->calls, expected);
  }
  EXPECT_TRUE(workbook->calls.empty());
  EXPECT_TRUE(files.files().empty());
}

TEST_F(InterceptionTest, SaveCopyAsCopiesTheApplicationExecutable) {
  install();
  const std::u16string executable = u"C:\\Apps\\Budget\\budget.exe";
  std::string program(3000, 'x');
  program += "end";
  struct Case {
    std::u16string fileName;
    bool asExecutable;
    bool executablePresent;
    std::u16string copy;  // empty: none made
  };
  const Case cases[] = {
      {u"D:\\Out\\copy.xlsx", true, true, u"D:\\Out\\copy.exe"},
      {u"D:\\Out.d\\copy", true, true, u"D:\\Out.d\\copy.exe"},
      {u"c:\\apps\\budget\\BUDGET.xls", true, true, u""},
      {u"D:\\Out\\copy.xlsx", true, false, u""},
      {u"D:\\Out\\copy.xlsx", false, true, u""},
  };
  for (const Case& c : cases) {
    files.remove(u"D:\\Out\\copy.exe");
    files.remove(u"D:\\Out.d\\copy.exe");
    files.remove(executable);
    if (c.executablePresent) files.writeAll(executable, program);
    runtime->settings().saveAsExecutable = c.asExecutable;
    packaging->calls.clear();
    EXPECT_EQ(call(*workbook, dispid::kSaveCopyAs, kMethod, {Variant::text(c.fileName)}), kSFalse);
    std::string name(c.fileName.begin(), c.fileName.end());
    EXPECT_EQ(files.files().size(), size_t(c.executablePresent) + !c.copy.empty()) << name;
    if (!c.copy.empty()) {
      std::string copied;
      ASSERT_TRUE(files.readAll(c.copy, &copied)) << name;
      EXPECT_EQ(copied, program);
    }
    if (c.executablePresent) {
      std::string kept;
      files.readAll(executable, &kept);
      EXPECT_EQ(kept, program) << name;
    }
    EXPECT_EQ(packaging->calls.size(), c.asExecutable ? 1u : 0u);
  }
  EXPECT_EQ(workbook->count("call 0xAF"), 0);
}

TEST_F(InterceptionTest, QuitWhileHiddenShutsDownAndEndsTheProcess) {
  install();
  application->properties[dispid::kVisible] = Variant::boolean(false);
  EXPECT_EQ(call(*application, dispid::kQuit, kMethod), kSOk);
  EXPECT_EQ(runtime->shutDowns(), 1);
  EXPECT_FALSE(connection->attached());
  EXPECT_EQ(system.exitCode(), std::optional<int>(0));
}

TEST_F(InterceptionTest, QuitWhileShownLeavesTheQuittingToTheProgram) {
  install();
  EXPECT_EQ(call(*application, dispid::kQuit, kMethod), kSOk);
  EXPECT_EQ(application->count("call 0x12E"), 1);
  EXPECT_EQ(runtime->shutDowns(), 0);
  EXPECT_FALSE(system.exitCode().has_value());
}

TEST_F(InterceptionTest, ClosingTheApplicationWorkbookStoresAPendingSave) {
  install();
  runtime->calculation().closePending = true;
  // Another workbook closes while the application workbook stays open: nothing more happens.
  auto other = otherWorkbook("other");
  EXPECT_EQ(call(*other, dispid::kClose, kMethod), kSOk);
  EXPECT_TRUE(packaging->calls.empty());

  workbook->methods[dispid::kClose] = [this](std::span<Variant>, Variant*) {
    workbookOpen = false;
    return kSOk;
  };
  EXPECT_EQ(call(*workbook, dispid::kClose, kMethod), kSOk);
  EXPECT_EQ(packaging->calls, std::vector<std::string>{"storeIntoExecutable"});
}

TEST_F(InterceptionTest, RestoreObjectPutsTheProgramsFunctionsBack) {
  install();
  interception().restoreObject(*application);
  EXPECT_FALSE(interception().installed(kIidApplication, dispid::kCalculate, kMethod));
  EXPECT_EQ(call(*application, dispid::kCalculate, kMethod), kSOk);
  EXPECT_EQ(application->count("call 0x117"), 1);
  // The workbook's table keeps its replacements.
  EXPECT_EQ(call(*workbook, dispid::kSave, kMethod), kSFalse);
  // A later attach processes the interface again and the replacements return.
  interception().processObject(*application);
  EXPECT_EQ(call(*application, dispid::kCalculate, kMethod), kSOk);
  EXPECT_EQ(application->count("call 0x117"), 1);
}

TEST_F(InterceptionTest, RenamingASheetRenamesTheEnginesSheet) {
  runtime->model()->sheets().add(Sheet(0, u"Input", u"Input"));
  install();
  EXPECT_EQ(call(*sheet, dispid::kName, kPut, {Variant::text(u"Costs")}), kSOk);
  EXPECT_EQ(runtime->model()->sheets().find(0)->excelName(), u"Costs");
  EXPECT_EQ(runtime->model()->sheets().find(0)->name(), u"Costs");

  // Late-bound, through the program's Invoke.
  EXPECT_EQ(callSlot(*sheet, kDispidInvoke, kMethod,
                     {Variant::i4(dispid::kName), Variant::i4(int(kPut)), Variant::text(u"Plan")}),
            kSOk);
  EXPECT_EQ(runtime->model()->sheets().find(0)->excelName(), u"Plan");
  EXPECT_EQ(sheet->properties[dispid::kName], Variant::text(u"Plan"));

  // A name the program refuses leaves the engine's sheet as the program still names it.
  sheet->failing.insert(dispid::kName);
  EXPECT_EQ(call(*sheet, dispid::kName, kPut, {Variant::text(u"Bad:Name")}), kEFail);
  EXPECT_EQ(runtime->model()->sheets().find(0)->excelName(), u"Plan");

  // A sheet of another workbook is not the application's.
  auto otherParent = otherWorkbook("other");
  auto otherSheet = std::make_shared<FakeObject>("other sheet", worksheetTable);
  answerObject(*otherSheet, dispid::kParent, otherParent);
  otherSheet->properties[dispid::kIndex] = Variant::i4(1);
  EXPECT_EQ(call(*otherSheet, dispid::kName, kPut, {Variant::text(u"Elsewhere")}), kSOk);
  EXPECT_EQ(runtime->model()->sheets().find(0)->excelName(), u"Plan");
}

TEST_F(InterceptionTest, ProtectionChangesOfTheWorkbooksCodeAreRecorded) {
  install();
  EXPECT_EQ(call(*sheet, dispid::kProtect, kMethod, {Variant::text(u"pw")}), kSOk);
  ASSERT_TRUE(runtime->settings().protectionTable.has_value());
  const ProtectionTable& table = *runtime->settings().protectionTable;
  ASSERT_EQ(table.sheetWords.size(), 1u);
  EXPECT_EQ(table.sheetWords[0], kProtectDrawingObjects | kProtectContents | kProtectScenarios |
                                     kProtectSelectAll | kProtectSelectUnlocked);
  EXPECT_EQ(table.sheetPasswords[0], "pw");

  EXPECT_EQ(call(*sheet, dispid::kEnableSelection, kPut, {Variant::i4(1)}), kSOk);
  EXPECT_EQ(table.sheetWords[0] & (kProtectSelectAll | kProtectSelectUnlocked),
            kProtectSelectUnlocked);

  // Unprotect through the program's Invoke.
  EXPECT_EQ(
      callSlot(*sheet, kDispidInvoke, kMethod,
               {Variant::i4(dispid::kUnprotect), Variant::i4(int(kMethod)), Variant::text(u"pw")}),
      kSOk);
  EXPECT_EQ(table.sheetWords[0], kProtectSelectUnlocked);

  // Late-bound callers often ask for method or property at once (flags 3): still a Protect.
  EXPECT_EQ(callSlot(*sheet, kDispidInvoke, kMethod,
                     {Variant::i4(dispid::kProtect), Variant::i4(3), Variant::text(u"pw")}),
            kSOk);
  EXPECT_EQ(table.sheetWords[0] & kProtectContents, kProtectContents);
  EXPECT_EQ(callSlot(*sheet, kDispidInvoke, kMethod,
                     {Variant::i4(dispid::kUnprotect), Variant::i4(3), Variant::text(u"pw")}),
            kSOk);
  EXPECT_EQ(table.sheetWords[0], kProtectSelectUnlocked);

  // A Protect the program refuses changes nothing.
  sheet->failing.insert(dispid::kProtect);
  EXPECT_EQ(call(*sheet, dispid::kProtect, kMethod, {Variant::text(u"other")}), kEFail);
  EXPECT_EQ(table.sheetWords[0], kProtectSelectUnlocked);
}

}  // namespace
}  // namespace korvel
