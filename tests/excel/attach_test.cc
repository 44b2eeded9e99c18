// The attach sequence and the windows the connection takes over, against fake program objects
// and the headless window system.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "excel/application_events.h"
#include "excel/dispatch_ids.h"
#include "excel/excel_connection.h"
#include "excel/object_layer.h"
#include "hosts/headless/headless_addin_callback.h"
#include "hosts/headless/headless_system.h"
#include "hosts/headless/headless_window_system.h"
#include "hosts/headless/memory_files.h"
#include "hosts/headless/system_clock.h"
#include "model/address.h"
#include "model/nodes/node.h"
#include "runtime/host_commands.h"
#include "runtime/runtime.h"
#include "tests/excel/fake_objects.h"

namespace korvel {
namespace {

using testing::FakeObject;

class RecordingLocale : public Locale {
 public:
  UserLocale user = UserLocale::englishUnitedStates();
  std::vector<std::u16string> collations;

  UserLocale userLocale() const override { return user; }
  int collateNoCase(std::u16string_view a, std::u16string_view b) const override {
    return a.compare(b);
  }
  void setCollationLanguage(std::u16string_view name) override { collations.emplace_back(name); }
};

class CountingMenus : public MenuManager {
 public:
  explicit CountingMenus(int* builds) : builds_(builds) {}
  void buildMenus() override { ++*builds_; }

 private:
  int* builds_;
};

// A message a window's own procedure received.
struct Received {
  WindowHandle window;
  uint32_t message;
  uint64_t wParam;
  int64_t lParam;
};

// The program's windows (main window, desk, one workbook window, the two edit windows), a
// runtime with a real connection, and a fake Application with its active workbook.
class AttachTest : public ::testing::Test {
 protected:
  AttachTest() : system_(&files_), clock_(LocalTime{2026, 1, 5, 9, 0, 0, 0}) {
    main_ = window(u"XLMAIN", WindowHandle::kNoWindow);
    desk_ = window(u"XLDESK", main_);
    book_ = window(u"EXCEL7", desk_);
    edit_ = window(u"EXCEL<", main_);
    edit2_ = window(u"EXCEL6", main_);

    platform_.locale = &locale_;
    platform_.files = &files_;
    platform_.clock = &clock_;
    platform_.windows = &windows_;
    platform_.addinCallback = &addin_;
    platform_.system = &system_;
    runtime_ = std::make_unique<Runtime>(platform_);
    auto connection = std::make_unique<ExcelConnection>(*runtime_);
    connection_ = connection.get();
    runtime_->setConnection(std::move(connection));
    runtime_->setMenuManager(std::make_unique<CountingMenus>(&menuBuilds_));
    runtime_->processAttach();

    application_ = std::make_shared<FakeObject>(
        "application",
        testing::makeInterfaceTable(kIidApplication, {{dispid::kVisible, InvokeKind::kPropertyGet},
                                                      {dispid::kVisible, InvokeKind::kPropertyPut},
                                                      {dispid::kRun, InvokeKind::kMethod}}));
    workbook_ = std::make_shared<FakeObject>(
        "workbook",
        testing::makeInterfaceTable(kIidWorkbook, {{dispid::kSaved, InvokeKind::kPropertyGet}}));
    auto languageSettings = std::make_shared<FakeObject>("language settings");
    languageSettings->methods[dispid::kLanguageId] = [](std::span<Variant> arguments,
                                                        Variant* result) {
      if (arguments.size() != 1 || arguments[0].integer() != kLanguageIdUserInterface) {
        return kEInvalidArg;
      }
      *result = Variant::i4(1031);
      return kSOk;
    };
    workbook_->properties[dispid::kFileFormat] = Variant::i4(51);
    workbook_->properties[dispid::kName] = Variant::text(u"App.xlsx");
    auto& app = application_->properties;
    app[dispid::kVersion] = Variant::text(u"16.0");
    app[dispid::kActiveWorkbook] = Variant::dispatch(workbook_);
    app[dispid::kHwnd] = Variant::i4(int32_t(main_));
    app[dispid::kDefaultSaveFormat] = Variant::i4(56);
    app[dispid::kLanguageSettings] = Variant::dispatch(languageSettings);
    app[dispid::kRemoteRequestsCompanion] = Variant::i4(5);
    app[dispid::kVisible] = Variant::boolean(false);
    app[dispid::kEnableEvents] = Variant::boolean(true);
    app[dispid::kScreenUpdating] = Variant::boolean(true);
    app[dispid::kCalculation] = Variant::i4(kCalculationAutomatic);
    app[dispid::kWorksheetFunction] = Variant::dispatch(std::make_shared<FakeObject>("functions"));
    // Switching remote requests off moves the companion property, as the program does.
    application_->methods[dispid::kIgnoreRemoteRequests] = [this](std::span<Variant> arguments,
                                                                  Variant* result) {
      auto& properties = application_->properties;
      if (arguments.empty()) {
        *result = Variant::boolean(ignoreRemoteRequests_);
      } else {
        ignoreRemoteRequests_ = arguments[0].boolean();
        properties[dispid::kRemoteRequestsCompanion] = Variant::i4(9);
      }
      return kSOk;
    };
    application_->methods[dispid::kRun] = [this](std::span<Variant> arguments, Variant*) {
      macrosRun_.push_back(arguments[0].text());
      constantsReadableDuringMacro_ = runtime_->constantsReadable;
      return kSOk;
    };
  }

  ~AttachTest() override { setLoweredLimits(false); }

  WindowHandle window(const char16_t* className, WindowHandle parent) {
    return windows_.createWindow(
        {className, u"", parent, 0},
        WindowProc([this](WindowHandle w, uint32_t message, uint64_t wParam, int64_t lParam) {
          received_.push_back({w, message, wParam, lParam});
          return int64_t(5);
        }));
  }
  int receivedBy(WindowHandle w, uint32_t message) const {
    int n = 0;
    for (const Received& r : received_) n += r.window == w && r.message == message;
    return n;
  }
  void attach(std::u16string_view macro = u"") {
    runtime_->connection().attach(application_->address(), macro);
  }

  MemoryFiles files_;
  HeadlessSystem system_;
  FixedClock clock_;
  HeadlessWindowSystem windows_;
  HeadlessAddinCallback addin_;
  RecordingLocale locale_;
  Platform platform_;
  WindowHandle main_, desk_, book_, edit_, edit2_;
  std::vector<Received> received_;
  std::unique_ptr<Runtime> runtime_;
  ExcelConnection* connection_ = nullptr;
  int menuBuilds_ = 0;
  std::shared_ptr<FakeObject> application_;
  std::shared_ptr<FakeObject> workbook_;
  bool ignoreRemoteRequests_ = false;
  std::vector<std::u16string> macrosRun_;
  bool constantsReadableDuringMacro_ = false;
};

TEST_F(AttachTest, FirstAttachTakesTheProgramsSettingsAndRunsTheMacroOnce) {
  attach(u"Setup");

  ASSERT_TRUE(connection_->attached());
  EXPECT_TRUE(connection_->workbook().sameObject(ExcelObject(workbook_)));
  const HostInformation& host = runtime_->hostInformation();
  EXPECT_EQ(host.excelVersion, 16);
  EXPECT_EQ(host.defaultSaveFormat, 56);
  EXPECT_EQ(application_->properties[dispid::kDefaultSaveFormat].integer(), 51);
  EXPECT_EQ(host.interfaceLanguage, 1031);
  EXPECT_FALSE(host.remoteRequests);
  EXPECT_TRUE(ignoreRemoteRequests_);
  // The companion property moved with IgnoreRemoteRequests and got its value back.
  EXPECT_EQ(application_->properties[dispid::kRemoteRequestsCompanion].integer(), 5);

  EXPECT_EQ(macrosRun_, std::vector<std::u16string>{u"Setup"});
  EXPECT_TRUE(constantsReadableDuringMacro_);
  EXPECT_FALSE(runtime_->constantsReadable);

  EXPECT_EQ(runtime_->mainWindow(), main_);
  ASSERT_NE(connection_->calcHost(), nullptr);
  EXPECT_EQ(runtime_->engine()->host(), connection_->calcHost());
  EXPECT_FALSE(limitsLowered());
  EXPECT_EQ(menuBuilds_, 1);
  EXPECT_FALSE(addin_.registrations().empty());
}

TEST_F(AttachTest, SecondAttachRepeatsOnlyMenusWindowsAndRegistration) {
  attach(u"Setup");
  size_t callbackCalls = addin_.calls().size();
  int versionReads = application_->count("get 0x188");
  ExcelCalcHost* host = connection_->calcHost();
  WindowHandle laterBook = window(u"excel7", desk_);

  attach(u"Setup");

  EXPECT_EQ(application_->count("get 0x188"), versionReads);
  EXPECT_EQ(macrosRun_.size(), 1u);
  EXPECT_EQ(connection_->calcHost(), host);
  EXPECT_EQ(menuBuilds_, 2);
  // The registration runs again (the program keeps one registration per procedure).
  EXPECT_GT(addin_.calls().size(), callbackCalls + 10);
  // The new workbook window is taken over; the first one is not entered a second time, so a
  // message reaches its own procedure exactly once.
  EXPECT_EQ(connection_->workbookWindows().size(), 2u);
  EXPECT_TRUE(connection_->workbookWindows().count(laterBook));
  windows_.send(book_, kWmUser + 7, 0, 0);
  EXPECT_EQ(receivedBy(book_, kWmUser + 7), 1);
}

struct SheetLimitCase {
  const char16_t* version;
  int32_t fileFormat;
  bool lowered;
};

class SheetLimitTest : public AttachTest, public ::testing::WithParamInterface<SheetLimitCase> {};

TEST_P(SheetLimitTest, OlderProgramsAndOlderFileFormatsLowerTheSheetLimits) {
  setLoweredLimits(false);
  application_->properties[dispid::kVersion] = Variant::text(GetParam().version);
  workbook_->properties[dispid::kFileFormat] = Variant::i4(GetParam().fileFormat);
  attach();
  EXPECT_EQ(limitsLowered(), GetParam().lowered);
  EXPECT_EQ(maxRow(), GetParam().lowered ? kLoweredMaxRow : kFullMaxRow);
  EXPECT_EQ(maxColumn(), GetParam().lowered ? kLoweredMaxColumn : kFullMaxColumn);
}

INSTANTIATE_TEST_SUITE_P(Versions, SheetLimitTest,
                         ::testing::Values(SheetLimitCase{u"11.0", 51, true},
                                           SheetLimitCase{u"16.0", kFileFormatExcel8, true},
                                           SheetLimitCase{u"12.0", 51, false}));

TEST_F(AttachTest, WorkbookWindowCloseLetsTheCloseEventsThrough) {
  attach();
  application_->properties[dispid::kEnableEvents] = Variant::boolean(false);
  windows_.send(book_, kWmSysCommand, kScClose, 0);
  EXPECT_TRUE(application_->properties[dispid::kEnableEvents].boolean());
  EXPECT_EQ(receivedBy(book_, kWmSysCommand), 1);

  // An application saved as an executable asks its own question; events stay as they are.
  runtime_->settings().saveAsExecutable = true;
  application_->properties[dispid::kEnableEvents] = Variant::boolean(false);
  windows_.send(book_, kWmSysCommand, kScClose, 0);
  EXPECT_FALSE(application_->properties[dispid::kEnableEvents].boolean());
}

TEST_F(AttachTest, IconGoesOnTheDesksWorkbookWindowLargeThenSmall) {
  runtime_->channelState().applicationIcon = IconHandle(42);
  attach();
  std::vector<uint64_t> sizes;
  for (const Received& r : received_) {
    if (r.message != kWmSetIcon) continue;
    EXPECT_EQ(r.window, book_);
    EXPECT_EQ(r.lParam, 42);
    sizes.push_back(r.wParam);
  }
  EXPECT_EQ(sizes, (std::vector<uint64_t>{kIconBig, kIconSmall}));
}

TEST_F(AttachTest, CollationFollowsANamedUserLanguageOnly) {
  struct Case {
    const char16_t* language;
    bool switched;
  } cases[] = {{u"German", true}, {u"Slovenian", true}, {u"English", false}, {u"Klingon", false}};
  for (const Case& c : cases) {
    locale_.user.languageName = c.language;
    locale_.collations.clear();
    attach();
    EXPECT_EQ(locale_.collations.size(), c.switched ? 1u : 0u);
    if (c.switched && !locale_.collations.empty()) {
      EXPECT_EQ(locale_.collations[0], c.language);
    }
  }
}

TEST_F(AttachTest, HiddenProgramIsHiddenAgainOnlyAfterTheWorkbookAskedForIt) {
  runtime_->settings().showAtStart = true;
  attach();
  application_->properties[dispid::kVisible] = Variant::boolean(true);

  // The workbook's code has not asked for a hidden program yet.
  windows_.activateWindow(main_);
  EXPECT_TRUE(windows_.isWindowVisible(main_));
  EXPECT_TRUE(application_->properties[dispid::kVisible].boolean());

  runtime_->hostInformation().visibleRequested = false;
  windows_.activateWindow(book_);  // not the main window
  EXPECT_TRUE(windows_.isWindowVisible(main_));
  windows_.activateWindow(main_);
  EXPECT_FALSE(windows_.isWindowVisible(main_));
  EXPECT_FALSE(application_->properties[dispid::kVisible].boolean());

  // A second attach does not hook twice, and the shut-down removes the hook.
  attach();
  runtime_->shutDown();
  windows_.showWindow(main_, true);
  windows_.activateWindow(main_);
  EXPECT_TRUE(windows_.isWindowVisible(main_));
}

TEST_F(AttachTest, EditWindowsFollowTheCellEditorAndAreGivenBack) {
  EditTracking& tracking = connection_->editTracking();
  windows_.send(edit_, kWmSetFocus, 0, 0);
  windows_.send(edit_, kWmWindowPosChanging, 0, 0);
  EXPECT_TRUE(tracking.editMode());
  windows_.send(edit2_, kWmKillFocus, 0, 0);
  EXPECT_EQ(tracking.state(), 3);
  // Position changes of the second window do not count.
  windows_.send(edit2_, kWmWindowPosChanging, 0, 0);
  EXPECT_TRUE(tracking.editMode());
  windows_.send(edit_, kWmWindowPosChanging, 0, 0);
  EXPECT_FALSE(tracking.editMode());
  EXPECT_EQ(receivedBy(edit_, kWmWindowPosChanging), 2);
  EXPECT_EQ(receivedBy(edit2_, kWmKillFocus), 1);

  // Subclassing again takes nothing twice.
  connection_->subclassEditWindows(main_);
  windows_.send(edit_, kWmSetFocus, 0, 0);
  EXPECT_EQ(receivedBy(edit_, kWmSetFocus), 2);

  connection_->restoreEditWindows();
  windows_.send(edit_, kWmSetFocus, 0, 0);
  windows_.send(edit_, kWmWindowPosChanging, 0, 0);
  EXPECT_EQ(tracking.state(), 1);
  EXPECT_FALSE(tracking.editMode());
}

TEST_F(AttachTest, MainMacroRunsInTheWorkbookFoundOnce) {
  attach();
  auto workbooks = std::make_shared<FakeObject>("workbooks");
  std::vector<std::shared_ptr<FakeObject>> books;
  for (const char16_t* name : {u"App.xlsx", u"KorvelMain.xlam"}) {
    books.push_back(std::make_shared<FakeObject>("book"));
    books.back()->properties[dispid::kName] = Variant::text(name);
  }
  workbooks->properties[dispid::kCount] = Variant::i4(2);
  workbooks->methods[dispid::kItem] = [&books](std::span<Variant> arguments, Variant* result) {
    *result = Variant::dispatch(books.at(size_t(arguments[0].integer() - 1)));
    return kSOk;
  };
  auto sheet = std::make_shared<FakeObject>("sheet");
  sheet->properties[dispid::kIndex] = Variant::i4(2);
  application_->properties[dispid::kWorkbooks] = Variant::dispatch(workbooks);
  application_->properties[dispid::kActiveSheet] = Variant::dispatch(sheet);

  connection_->runMainMacro(u"KorvelMain");
  connection_->runMainMacro(u"KorvelMain");

  EXPECT_EQ(macrosRun_,
            (std::vector<std::u16string>{u"'KorvelMain.xlam'!Main", u"'KorvelMain.xlam'!Main"}));
  EXPECT_EQ(workbooks->count("get 0x76"), 1);

  // A failing macro reaches the caller, which swallows it.
  application_->failing.insert(dispid::kRun);
  EXPECT_THROW(connection_->runMainMacro(u"KorvelMain"), ComError);
}

TEST_F(AttachTest, FormulasComeBackOnlyInTheNamedRange) {
  attach();
  auto sheet = std::make_shared<FakeObject>("sheet");
  sheet->properties[dispid::kIndex] = Variant::i4(1);
  auto range = std::make_shared<FakeObject>("range");
  range->properties[dispid::kWorksheet] = Variant::dispatch(sheet);
  range->properties[dispid::kAddress] = Variant::text(u"$B$2:$C$3");
  application_->methods[dispid::kApplicationRange] = [&range](std::span<Variant> arguments,
                                                              Variant* result) {
    if (arguments.empty() || arguments[0].text() != u"Prices") return kEFail;
    *result = Variant::dispatch(range);
    return kSOk;
  };
  CompiledModel& model = *runtime_->model();
  Cell* inside = model.cellAt(CellRef::at(0, 2, 2));
  Cell* outside = model.cellAt(CellRef::at(0, 5, 1));
  model.cellAt(CellRef::at(0, 1, 1));  // in the range, without a set-aside formula
  for (Cell* cell : {inside, outside}) {
    cell->formulaRoots.push_back(std::make_unique<NumberNode>(4));
    connection_->events().detachFormula(cell);
    ASSERT_TRUE(cell->formulaRoots.empty());
  }

  connection_->restoreFormulas(u"Prices");

  EXPECT_EQ(inside->formulaRoots.size(), 1u);
  EXPECT_TRUE(outside->formulaRoots.empty());
  EXPECT_TRUE(connection_->events().hasSetAsideFormula(outside));
  EXPECT_EQ(runtime_->engine()->changedCells, std::vector<Cell*>{inside});

  // A text that names no range changes nothing.
  EXPECT_THROW(connection_->restoreFormulas(u"Nowhere"), ComError);
  EXPECT_EQ(runtime_->engine()->changedCells.size(), 1u);
}

}  // namespace
}  // namespace korvel
