// The application's menu in the headless program: built at the attach, found again on a later
// attach, its clicks posting the deferred commands that reach the runtime's subsystems.
#include "ui/application_menu.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "compiler/workbook_text.h"
#include "excel/dispatch_ids.h"
#include "hosts/headless/spreadsheet/command_bars.h"
#include "runtime/host_commands.h"
#include "runtime/text_table.h"
#include "tools/korvel/headless_session.h"
#include "ui/command_bar_ids.h"

namespace korvel {
namespace {

using namespace commandbar;
using Captions = std::vector<std::u16string>;

const Captions kAllButtons = {u"Export Data", u"Import Data", u"Export Collected Data",
                              u"End User License Agreement", u"About"};

struct Calls {
  std::vector<std::string> log;
};

class RecordingDialogs : public ApplicationDialogs {
 public:
  explicit RecordingDialogs(Calls* calls) : calls_(calls) {}
  void showAbout() override { calls_->log.push_back("about"); }
  void showAgreement() override { calls_->log.push_back("agreement"); }

 private:
  Calls* calls_;
};

class RecordingDataExchange : public DataExchange {
 public:
  explicit RecordingDataExchange(Calls* calls) : calls_(calls) {}
  bool exportData(bool collected, std::u16string_view path) override {
    calls_->log.push_back(std::string(collected ? "export collected" : "export") +
                          (path.empty() ? "" : " to path"));
    return true;
  }
  void importData(std::u16string_view path) override {
    calls_->log.push_back(path.empty() ? "import" : "import from path");
  }

 private:
  Calls* calls_;
};

// A control whose every call raises the exception.
template <typename Exception>
class ThrowingControl : public Dispatch {
 public:
  HResult invoke(int32_t, InvokeKind, std::span<Variant>, Variant*, uint32_t) override {
    throw Exception("The data file is locked");
  }
};

class ApplicationMenuTest : public ::testing::Test {
 protected:
  void start(bool dataExchange, std::string agreement) {
    Runtime& runtime = session.runtime();
    runtime.setDialogs(std::make_unique<RecordingDialogs>(&calls));
    runtime.setDataExchange(std::make_unique<RecordingDataExchange>(&calls));
    auto menu = std::make_unique<ApplicationMenu>(runtime, session.connection());
    menu_ = menu.get();
    runtime.setMenuManager(std::move(menu));
    runtime.channelState().agreementText = std::move(agreement);

    SessionOptions options;
    options.settings.applicationName = u"Loan";
    if (dataExchange) options.settings.header.optionFlags |= kFlagDataExchange;
    Workbook workbook;
    std::vector<std::string> errors;
    ASSERT_TRUE(readWorkbookText("[Sheet1]\nA1: 2\nA2: =A1*2\n", &workbook, &errors));
    std::string error;
    ASSERT_TRUE(session.start(workbook, options, &error)) << error;
  }

  ApplicationMenu& menu() { return *menu_; }
  SpreadsheetProgram& program() { return session.program(); }
  Captions submenu() { return program().menuCaptions({u"Application", u"Loan"}); }
  // The control of the program with the tag, as the runtime holds controls.
  ExcelObject control(std::u16string_view tag) {
    ExcelObject application(program().application());
    ExcelObject bar = application.object(dispid::kCommandBars)
                          .object(kBarsItem, {Variant::text(u"Worksheet Menu Bar")});
    return ExcelObject::of(bar.call(kBarFindControl, {Variant::missing(), Variant::missing(),
                                                      Variant::text(std::u16string(tag)),
                                                      Variant::missing(), Variant::boolean(true)}));
  }

  HeadlessSession session;
  Calls calls;
  ApplicationMenu* menu_ = nullptr;
};

TEST_F(ApplicationMenuTest, WithoutDataExchangeOrAgreementTheSubmenuHoldsOnlyAbout) {
  start(false, "");
  Captions bar = program().menuCaptions();
  ASSERT_GE(bar.size(), 2u);
  // The menu sits just before Help.
  EXPECT_EQ(bar[bar.size() - 2], u"Application");
  EXPECT_EQ(bar.back(), u"Help");
  EXPECT_EQ(program().menuCaptions({u"Application"}), Captions{u"Loan"});
  EXPECT_EQ(submenu(), Captions{u"About"});
}

TEST_F(ApplicationMenuTest, DataExchangeAndAgreementBringEveryButtonInOrder) {
  start(true, "Use it well.");
  EXPECT_EQ(submenu(), kAllButtons);
}

TEST_F(ApplicationMenuTest, AnotherAttachFindsTheMenuAgainAndClicksRunOnce) {
  start(true, "");
  menu().buildMenus();
  // A runtime that starts again in the same program meets the menu the first one left.
  auto second = std::make_unique<ApplicationMenu>(session.runtime(), session.connection());
  second->buildMenus();

  Captions bar = program().menuCaptions();
  EXPECT_EQ(std::count(bar.begin(), bar.end(), u"Application"), 1);
  EXPECT_EQ(program().menuCaptions({u"Application"}), Captions{u"Loan"});
  EXPECT_EQ(submenu(),
            (Captions{u"Export Data", u"Import Data", u"Export Collected Data", u"About"}));

  // Each menu is connected once: a click posts one command from each of them.
  ASSERT_TRUE(program().clickMenuButton(kAboutButtonTag));
  session.runMessages();
  EXPECT_EQ(calls.log, (std::vector<std::string>{"about", "about"}));
  calls.log.clear();
  second.reset();
  ASSERT_TRUE(program().clickMenuButton(kAboutButtonTag));
  session.runMessages();
  EXPECT_EQ(calls.log, std::vector<std::string>{"about"});
}

TEST_F(ApplicationMenuTest, ClicksPostTheirCommandsWhichRunFromTheMessageLoop) {
  start(true, "Use it well.");
  struct Case {
    const char16_t* tag;
    const char* ran;
  };
  const Case cases[] = {
      {kExportButtonTag, "export"},
      {kImportButtonTag, "import"},
      {kExportCollectedButtonTag, "export collected"},
      {kAgreementButtonTag, "agreement"},
      {kAboutButtonTag, "about"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.ran));
    calls.log.clear();
    size_t queued = session.windows().queuedMessages();
    ASSERT_TRUE(program().clickMenuButton(c.tag));
    // Posted, not run inside the click.
    EXPECT_TRUE(calls.log.empty());
    EXPECT_EQ(session.windows().queuedMessages(), queued + 1);
    session.runMessages();
    EXPECT_EQ(calls.log, std::vector<std::string>{c.ran});
  }
  EXPECT_EQ(menuCommandOf(u"Korvel_About_Package_Button"), DEFER_ABOUT);
  EXPECT_EQ(menuCommandOf(u"korvel_package_save_data_button"), DEFER_ABOUT);
  EXPECT_EQ(menuCommandOf(u"Something else"), DEFER_ABOUT);
  EXPECT_EQ(menuCommandOf(kExportCollectedButtonTag), DEFER_EXPORT_COLLECTED);
}

TEST_F(ApplicationMenuTest, AClickCancelsTheButtonsDefaultAction) {
  start(false, "");
  int ran = 0;
  program().setMacro(u"AboutMacro", [&ran](std::span<Variant>) {
    ++ran;
    return Variant();
  });
  ExcelObject about = control(kAboutButtonTag);
  about.put(kControlOnAction, Variant::text(u"AboutMacro"));
  ASSERT_TRUE(program().clickMenuButton(kAboutButtonTag));
  EXPECT_EQ(ran, 0);

  // A control of another tag shows the About box as well.
  Variant cancel = Variant::boolean(false);
  about.put(kControlTag, Variant::text(u"Someone else's"));
  menu().onButtonClick(about, cancel);
  EXPECT_TRUE(cancel.boolean());
  calls.log.clear();
  session.runMessages();
  EXPECT_EQ(calls.log, (std::vector<std::string>{"about", "about"}));
}

TEST_F(ApplicationMenuTest, AFailingClickTellsTheUserInAnErrorBox) {
  start(false, "");
  struct Case {
    std::shared_ptr<Dispatch> button;
    std::u16string text;
    std::u16string caption;
  };
  const Case cases[] = {
      {std::make_shared<ThrowingControl<notice4user>>(), u"The data file is locked",
       tableText(TextEntry::kNoticeCaption)},
      {std::make_shared<ThrowingControl<std::runtime_error>>(),
       u"The error occurred for unknow reason please close Excel and try again.",
       u"Korvel Plinth Compiler"},
      {nullptr, u"The error occurred for unknow reason please close Excel and try again.",
       u"Korvel Plinth Compiler"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.caption.begin(), c.caption.end()));
    size_t shown = session.windows().messageBoxes().size();
    Variant cancel = Variant::boolean(false);
    menu().onButtonClick(ExcelObject(c.button), cancel);
    ASSERT_EQ(session.windows().messageBoxes().size(), shown + 1);
    const auto& box = session.windows().messageBoxes().back();
    EXPECT_EQ(box.owner, WindowHandle::kNoWindow);
    EXPECT_EQ(box.text, c.text);
    EXPECT_EQ(box.caption, c.caption);
    EXPECT_EQ(box.style, kMbOk | kMbIconError);
    EXPECT_FALSE(cancel.boolean());
  }
  session.runMessages();
  EXPECT_TRUE(calls.log.empty());
}

TEST_F(ApplicationMenuTest, TheProgramAcceptsCommandsUnlessBusy) {
  start(false, "");
  EXPECT_TRUE(menu().excelAcceptsCommands());
  program().setBusy(true);
  EXPECT_FALSE(menu().excelAcceptsCommands());
  program().setBusy(false);
  EXPECT_TRUE(menu().excelAcceptsCommands());

  // Without a program to ask, the answer is no.
  HeadlessSession unattached;
  ApplicationMenu lone(unattached.runtime(), unattached.connection());
  EXPECT_FALSE(lone.excelAcceptsCommands());
}

TEST_F(ApplicationMenuTest, TheExportCommandIsEnabledTheFirstTimeOnly) {
  start(true, "");
  ExcelObject exportButton = control(kExportButtonTag);
  exportButton.put(kControlEnabled, Variant::boolean(false));
  menu().enableExportCommand();
  EXPECT_TRUE(exportButton.getBool(kControlEnabled));
  exportButton.put(kControlEnabled, Variant::boolean(false));
  menu().enableExportCommand();
  EXPECT_FALSE(exportButton.getBool(kControlEnabled));
}

TEST_F(ApplicationMenuTest, RemovingTheMenusTakesThemAway) {
  start(true, "");
  menu().removeMenus();
  Captions bar = program().menuCaptions();
  EXPECT_EQ(std::count(bar.begin(), bar.end(), u"Application"), 0);
  EXPECT_FALSE(program().clickMenuButton(kAboutButtonTag));
  session.runMessages();
  EXPECT_TRUE(calls.log.empty());
}

}  // namespace
}  // namespace korvel
