#include "ui/application_dialogs.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "hosts/headless/headless_dialogs.h"
#include "hosts/headless/headless_locale.h"
#include "runtime/application_info.h"
#include "runtime/runtime.h"
#include "ui/built_in_pictures.h"
#include "ui/message_dialog.h"

namespace korvel {
namespace {

using BodyForm = MessageDialogView::BodyForm;

constexpr WindowHandle kMainWindow{11};
constexpr IconHandle kIcon{42};

// A runtime whose platform shows its dialogs headless, with the settings of an application "Loan"
// version 2.1.0 applied to the template.
class ApplicationDialogsTest : public ::testing::Test {
 protected:
  ApplicationDialogsTest() {
    Platform platform;
    platform.locale = &locale;
    platform.dialogs = &dialogs;
    platform.textMetrics = &dialogs;
    runtime = std::make_unique<Runtime>(platform);
    boxes = std::make_unique<ApplicationDialogBoxes>(*runtime);
    runtime->setMainWindow(kMainWindow);
    runtime->channelState().applicationIcon = kIcon;
    setSettings(0x02010000, u"Loan info \u20AC");
  }

  void setSettings(uint32_t version, std::u16string information) {
    Settings& settings = runtime->settings();
    settings.applicationName = u"Loan";
    settings.applicationVersion = version;
    settings.applicationInformation = std::move(information);
    fillTemplateValues(settings, &runtime->aboutTemplate());
  }

  const ShownDialog& onlyDialog() {
    EXPECT_EQ(dialogs.shown().size(), 1u);
    return dialogs.shown().at(0);
  }

  HeadlessLocale locale;
  HeadlessDialogs dialogs;
  std::unique_ptr<Runtime> runtime;
  std::unique_ptr<ApplicationDialogBoxes> boxes;
};

TEST_F(ApplicationDialogsTest, AboutShowsVersionAndInformation) {
  boxes->showAbout();
  const ShownDialog& about = onlyDialog();
  EXPECT_EQ(about.view.title, u"About Loan");
  EXPECT_EQ(about.view.bodyText, u"Version 2.1.0\n\nLoan info \u20AC\n");
  EXPECT_EQ(about.view.picture, informationPicture());
  EXPECT_EQ(about.view.icon, IconHandle::kNoIcon);
  ASSERT_EQ(about.view.buttons.size(), 1u);
  EXPECT_EQ(about.view.buttons[0].id, 8);
  EXPECT_EQ(about.view.window.width(), 500 + 6);
  EXPECT_EQ(describeDialog(about),
            "[About Loan]\nVersion 2.1.0\n\nLoan info \xE2\x82\xAC\n(Close)\n");

  dialogs.clearShown();
  setSettings(0, u"<?APPNAME?>");  // values are not expanded again
  boxes->showAbout();
  EXPECT_EQ(onlyDialog().view.bodyText, u"\n<?APPNAME?>\n");
}

TEST_F(ApplicationDialogsTest, AgreementIsReadByItsForm) {
  struct Case {
    const char* name;
    std::string bytes;
    BodyForm form;
    std::u16string text;  // kPlainText
  };
  const std::string rtf = "{\\rtf1\\ansi Terms of <?APPNAME?>\\par}";
  for (const Case& c : {
           Case{"utf16 with mark", "\xFF\xFE" + utf16Bytes(u"Terms of <?APPNAME?>"),
                BodyForm::kPlainText, u"Terms of Loan"},
           Case{"utf16 without mark", utf16Bytes(u"Terms of <?APPNAME?> \u20AC"),
                BodyForm::kPlainText, u"Terms of Loan \u20AC"},
           Case{"rtf", rtf, BodyForm::kRichText, u""},
           Case{"rtf after a space", " " + rtf, BodyForm::kPlainText,
                u" {\\rtf1\\ansi Terms of Loan\\par}"},
           Case{"utf8 with mark", "\xEF\xBB\xBFZo\xC3\xAB <?APPNAME?>", BodyForm::kPlainText,
                u"Zo\u00EB Loan"},
           Case{"utf8", "caf\xC3\xA9 <?APPNAME?>", BodyForm::kPlainText, u"caf\u00E9 Loan"},
           // 8-bit in the code page; the value's euro sign becomes the code page's byte for it.
           Case{"8-bit", "caf\xE9 \x80 <?APPINFO?> <?X?>", BodyForm::kPlainText,
                u"caf\u00E9 \u20AC Loan info \u20AC <?X?>"},
       }) {
    SCOPED_TRACE(c.name);
    dialogs.clearShown();
    runtime->channelState().agreementText = c.bytes;
    boxes->showAgreement();
    const ShownDialog& agreement = onlyDialog();
    EXPECT_EQ(agreement.view.bodyForm, c.form);
    if (c.form == BodyForm::kRichText) {
      EXPECT_EQ(agreement.view.richText, c.bytes);
    } else {
      EXPECT_EQ(agreement.view.bodyText, c.text);
    }
    EXPECT_EQ(agreement.view.title, u"Loan - End User License Agreement");
    EXPECT_EQ(agreement.view.icon, kIcon);
    EXPECT_EQ(agreement.view.picture, informationPicture());
    ASSERT_EQ(agreement.view.buttons.size(), 1u);
    EXPECT_EQ(agreement.view.buttons[0].label, u"Close");
    EXPECT_EQ(agreement.view.buttons[0].id, 2);
  }
}

TEST_F(ApplicationDialogsTest, NothingShownWithoutTextOrDialogs) {
  boxes->showAgreement();  // no agreement delivered
  EXPECT_TRUE(dialogs.shown().empty());

  Runtime bare{Platform{}};
  ApplicationDialogBoxes bareBoxes(bare);
  bare.channelState().agreementText = "text";
  bareBoxes.showAbout();
  bareBoxes.showAgreement();
  EXPECT_TRUE(dialogs.shown().empty());
}

}  // namespace
}  // namespace korvel
