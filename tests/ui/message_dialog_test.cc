#include "ui/message_dialog.h"

#include <gtest/gtest.h>

#include <string>

#include "hosts/headless/headless_dialogs.h"
#include "hosts/headless/headless_locale.h"
#include "ui/built_in_pictures.h"

namespace korvel {
namespace {

using BodyForm = MessageDialogView::BodyForm;

constexpr WindowHandle kOwner{7};

// The headless screen: 1280 wide, work area 1280 x 984; captions 22, edges 3, 6 px per
// character of the dialog font, base unit 6.
class MessageDialogTest : public ::testing::Test {
 protected:
  HeadlessDialogs metrics;
  HeadlessLocale locale;
};

TEST_F(MessageDialogTest, BodyFormFollowsTheBytes) {
  struct Case {
    std::string bytes;
    bool isUtf16;
    BodyForm form;
    std::u16string text;  // kPlainText
  };
  const std::string rtf = "{\\rtf1 <?APPNAME?>}";
  for (const Case& c : {
           Case{"caf\xE9 \x80", false, BodyForm::kPlainText, u"caf\u00E9 \u20AC"},  // code page
           Case{"\xFF\xFE" + utf16Bytes(u"Zo\u00EB"), false, BodyForm::kPlainText, u"Zo\u00EB"},
           Case{utf16Bytes(u"flagged"), true, BodyForm::kPlainText, u"flagged"},
           Case{rtf, false, BodyForm::kRichText, u""},
           Case{" " + rtf, false, BodyForm::kPlainText, u" {\\rtf1 <?APPNAME?>}"},
           Case{std::string("cut\0here", 8), false, BodyForm::kPlainText, u"cut"},
       }) {
    SCOPED_TRACE(c.bytes);
    MessageDialog dialog(300, &locale);
    dialog.setBody(c.bytes, c.isUtf16);
    const MessageDialogView view = dialog.layout(metrics, kOwner);
    EXPECT_EQ(view.bodyForm, c.form);
    if (c.form == BodyForm::kRichText) {
      EXPECT_EQ(view.richText, c.bytes);
    } else {
      EXPECT_EQ(view.bodyText, c.text);
    }
  }
  MessageDialog empty(300);
  EXPECT_EQ(empty.layout(metrics, kOwner).bodyForm, BodyForm::kNone);
}

TEST_F(MessageDialogTest, ButtonsSitRightAlignedAboveTheBottom) {
  MessageDialog dialog(300);
  dialog.addButton(u"OK", 1);
  dialog.addButton(u"A rather long label", 2);  // 19 characters: 114 px of text
  const MessageDialogView view = dialog.layout(metrics, kOwner);
  ASSERT_EQ(view.buttons.size(), 2u);
  const int clientWidth = view.window.width() - 6;
  const int clientHeight = view.window.height() - 22 - 6;
  EXPECT_EQ(clientWidth, 300);
  EXPECT_EQ(view.buttons[0].rect.width(), 76);
  EXPECT_EQ(view.buttons[1].rect.width(), 114 + kMessageButtonTextPadding);
  EXPECT_EQ(view.buttons[1].rect.right, clientWidth - kMessageButtonRowMargin / 2);
  EXPECT_EQ(view.buttons[0].rect.right + kMessageButtonGap, view.buttons[1].rect.left);
  for (const auto& button : view.buttons) {
    EXPECT_EQ(button.rect.height(), 23);
    EXPECT_EQ(button.rect.bottom, clientHeight - 10);
  }
  EXPECT_EQ(view.buttons[1].label, u"A rather long label");
  EXPECT_EQ(view.buttons[1].id, 2);
}

TEST_F(MessageDialogTest, HeightIsContentPlusFixedMargins) {
  MessageDialog dialog(300);
  dialog.setPicture(informationPicture());
  dialog.setBody(utf16Bytes(u"one\ntwo\nthree"), true);
  dialog.addLine(u"Large", DialogFont::kLarge);
  dialog.addButton(u"Close", 8);
  const MessageDialogView view = dialog.layout(metrics, kOwner);
  // Body beside the 32 px picture; three lines of 14 px plus the control's padding.
  EXPECT_EQ(view.bodyRect.left, 15 + 32 + 15);
  EXPECT_EQ(view.bodyRect.top, 15);
  EXPECT_EQ(view.bodyRect.height(), 3 * 14 + 8);
  ASSERT_EQ(view.lines.size(), 1u);
  EXPECT_EQ(view.lines[0].rect,
            (PixelRect{0, view.bodyRect.bottom, 300, view.bodyRect.bottom + 16}));
  EXPECT_EQ(view.window.height(), view.lines[0].rect.bottom + 44 + 22 + 6);
}

TEST_F(MessageDialogTest, WidthFollowsButtonsWithinTwoThirdsOfTheScreen) {
  const int twoThirds = 1280 * 2 / 3;
  struct Case {
    int width;
    int buttons;
    int want;  // window width
  };
  for (const Case& c : {
           Case{300, 1, 306},                      // template width and two edges
           Case{100, 3, 3 * 76 + 2 * 6 + 14 + 6},  // widened for the buttons
           Case{5000, 1, twoThirds},               // narrowed
           Case{100, 20, twoThirds},               // buttons ask for more than the screen allows
       }) {
    MessageDialog dialog(c.width);
    dialog.setTitle(std::u16string(400, u'T'));
    dialog.setBody(utf16Bytes(std::u16string(5000, u'x')), true);
    for (int i = 0; i < c.buttons; ++i) dialog.addButton(u"B", i);
    EXPECT_EQ(dialog.layout(metrics, kOwner).window.width(), c.want) << c.width << " " << c.buttons;
  }
}

TEST_F(MessageDialogTest, LongBodyScrollsInsteadOfGrowingPastTheScreen) {
  MessageDialog dialog(500);
  dialog.setBody(utf16Bytes(std::u16string(100000, u'x')), true);
  dialog.addButton(u"Close", 2);
  const MessageDialogView view = dialog.layout(metrics, kOwner);
  EXPECT_LE(view.window.height(), 984);
  EXPECT_GE(view.window.top, 0);
}

TEST_F(MessageDialogTest, CentredOverAShownOwnerElseOnTheWorkArea) {
  MessageDialog dialog(294);  // 300 wide with its edges
  dialog.addButton(u"Close", 8);
  const int height = dialog.layout(metrics, kOwner).window.height();

  metrics.placeWindow(kOwner, {100, 200, 700, 600}, true);
  EXPECT_EQ(dialog.layout(metrics, kOwner).window,
            (PixelRect{250, 400 - height / 2, 550, 400 - height / 2 + height}));

  metrics.placeWindow(kOwner, {100, 200, 700, 600}, false);  // minimised or hidden
  const int top = (984 - height) / 2;
  EXPECT_EQ(dialog.layout(metrics, kOwner).window, (PixelRect{490, top, 790, top + height}));

  // Over an owner at the screen's corner the dialog stays inside the work area.
  metrics.placeWindow(kOwner, {1200, -50, 1400, 50}, true);
  EXPECT_EQ(dialog.layout(metrics, kOwner).window, (PixelRect{980, 0, 1280, height}));
}

TEST_F(MessageDialogTest, PictureThatIsNoPngTakesNoRoom) {
  MessageDialog dialog(300);
  dialog.setPicture("not a picture");
  dialog.setBody("text", false);
  const MessageDialogView view = dialog.layout(metrics, kOwner);
  EXPECT_TRUE(view.picture.empty());
  EXPECT_EQ(view.bodyRect.left, 15);
}

TEST_F(MessageDialogTest, ShowModalAnswersThePlatformOrNothing) {
  MessageDialog dialog(300);
  dialog.setTitle(u"Title");
  dialog.addButton(u"Yes", 6);
  dialog.addButton(u"No", 7);
  EXPECT_EQ(dialog.showModal(Platform{}, kOwner), 0);
  EXPECT_TRUE(metrics.shown().empty());

  Platform platform;
  platform.dialogs = &metrics;
  platform.textMetrics = &metrics;
  metrics.queueMessageAnswer(6);
  EXPECT_EQ(dialog.showModal(platform, kOwner), 6);
  EXPECT_EQ(dialog.showModal(platform, kOwner), 7);  // closed: the last button
  ASSERT_EQ(metrics.shown().size(), 2u);
  EXPECT_EQ(metrics.shown()[0].title, u"Title");
  EXPECT_EQ(metrics.shown()[0].view.window, dialog.layout(metrics, kOwner).window);
}

}  // namespace
}  // namespace korvel
