#include "hosts/headless/headless_dialogs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvel {
namespace {

using Action = ImportDialogAction;

constexpr WindowHandle kOwner{3};

// Logs what the dialog asks of it; import succeeds for the text "good.dat" only.
class RecordingController : public ImportDialogController {
 public:
  explicit RecordingController(Dialogs* dialogs) : dialogs_(dialogs) {}
  std::u16string title() const override { return u"Import Data"; }
  IconHandle icon() const override { return IconHandle::kNoIcon; }
  std::optional<std::u16string> browse(WindowHandle dialog) override {
    calls.push_back("browse");
    FileDialogRequest request;
    request.owner = dialog;
    request.title = u"Open";
    return dialogs_->chooseFile(request);
  }
  void chooseColour(bool background, WindowHandle) override {
    calls.push_back(background ? "background" : "font");
  }
  std::optional<SystemColour> swatch(bool) const override { return std::nullopt; }
  bool import(std::u16string_view editText, WindowHandle) override {
    calls.push_back("import " + std::string(editText.begin(), editText.end()));
    return editText == u"good.dat";
  }
  void cancel() override { calls.push_back("cancel"); }

  std::vector<std::string> calls;

 private:
  Dialogs* dialogs_;
};

TEST(HeadlessDialogsTest, ChoosersAnswerFromTheQueueThenCancel) {
  HeadlessDialogs dialogs;
  FileDialogRequest save;
  save.save = true;
  save.title = u"Export";
  dialogs.queueFileAnswer(u"C:\\out.dat");
  EXPECT_EQ(dialogs.chooseFile(save), u"C:\\out.dat");
  EXPECT_EQ(dialogs.chooseFile(FileDialogRequest{}), std::nullopt);
  dialogs.queueColourAnswer(0x0000FF00);
  EXPECT_EQ(dialogs.chooseColour(kOwner, {}), 0x0000FF00u);
  EXPECT_EQ(dialogs.chooseColour(kOwner, {}), std::nullopt);

  const std::vector<ShownDialog>& shown = dialogs.shown();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0].kind, ShownDialog::Kind::kSaveFile);
  EXPECT_EQ(shown[0].title, u"Export");
  EXPECT_EQ(shown[0].answer, u"C:\\out.dat");
  EXPECT_EQ(shown[1].kind, ShownDialog::Kind::kOpenFile);
  EXPECT_EQ(shown[1].answer, u"cancelled");
  EXPECT_EQ(shown[2].answer, u"0x0000FF00");
  EXPECT_EQ(shown[3].answer, u"cancelled");
  EXPECT_EQ(describeDialog(shown[0]), "[Save: Export]\n-> C:\\out.dat\n");
}

TEST(HeadlessDialogsTest, MessageDialogRecordsWhatItShowed) {
  HeadlessDialogs dialogs;
  MessageDialogView view;
  view.title = u"About Loan";
  view.bodyForm = MessageDialogView::BodyForm::kRichText;
  view.richText = "{\\rtf1 x}";
  view.lines.push_back({u"line", DialogFont::kSmall, {}});
  view.buttons.push_back({u"Yes", 6, {}});
  view.buttons.push_back({u"No", 7, {}});
  dialogs.queueMessageAnswer(6);
  EXPECT_EQ(dialogs.showMessageDialog(kOwner, view), 6);
  EXPECT_EQ(dialogs.showMessageDialog(kOwner, view), 7);  // unscripted: the last button
  EXPECT_EQ(dialogs.showMessageDialog(kOwner, MessageDialogView{}), 0);

  const ShownDialog& first = dialogs.shown().at(0);
  EXPECT_EQ(first.body, u"{\\rtf1 x}");
  EXPECT_EQ(first.lines, std::vector<std::u16string>{u"line"});
  EXPECT_EQ(first.buttons, (std::vector<std::u16string>{u"Yes", u"No"}));
  EXPECT_EQ(first.answer, u"6");
  EXPECT_EQ(dialogs.shown().at(1).answer, u"7");
  EXPECT_EQ(describeDialog(first), "[About Loan]\n{\\rtf1 x}\nline\n(Yes)\n(No)\n");
}

TEST(HeadlessDialogsTest, ImportDialogPlaysTheActions) {
  HeadlessDialogs dialogs;
  RecordingController controller(&dialogs);
  dialogs.queueFileAnswer(std::nullopt);  // the first browse is cancelled
  dialogs.queueFileAnswer(u"good.dat");
  dialogs.queueImportActions({{Action::Kind::kType, u"bad.dat"},
                              {Action::Kind::kBrowse, {}},
                              {Action::Kind::kImport, {}},  // refused: the dialog stays open
                              {Action::Kind::kBackgroundColour, {}},
                              {Action::Kind::kFontColour, {}},
                              {Action::Kind::kBrowse, {}},
                              {Action::Kind::kImport, {}},
                              {Action::Kind::kCancel, {}}});  // never reached
  EXPECT_EQ(dialogs.showImportDialog(kOwner, controller), 1);
  EXPECT_EQ(controller.calls, (std::vector<std::string>{"browse", "import bad.dat", "background",
                                                        "font", "browse", "import good.dat"}));
  // The import dialog comes first, the choosers it opened after it.
  ASSERT_EQ(dialogs.shown().size(), 3u);
  const ShownDialog& import = dialogs.shown()[0];
  EXPECT_EQ(import.kind, ShownDialog::Kind::kImport);
  EXPECT_EQ(import.title, u"Import Data");
  EXPECT_EQ(import.buttons, (std::vector<std::u16string>{u"Import", u"Cancel"}));
  EXPECT_EQ(import.answer, u"1");

  // Actions that end with the dialog open cancel it; so does no script at all.
  controller.calls.clear();
  dialogs.queueImportActions({{Action::Kind::kType, u"x"}});
  EXPECT_EQ(dialogs.showImportDialog(kOwner, controller), 2);
  EXPECT_EQ(dialogs.showImportDialog(kOwner, controller), 2);
  dialogs.queueImportActions({{Action::Kind::kCancel, {}}, {Action::Kind::kImport, {}}});
  EXPECT_EQ(dialogs.showImportDialog(kOwner, controller), 2);
  EXPECT_EQ(controller.calls, (std::vector<std::string>{"cancel", "cancel", "cancel"}));
  EXPECT_EQ(dialogs.shown().back().answer, u"2");
}

TEST(HeadlessDialogsTest, TextMetricsUseFixedCharacterWidths) {
  HeadlessDialogs metrics;
  EXPECT_EQ(metrics.textExtent(u"Close", DialogFont::kNormal), (PixelSize{30, 14}));
  EXPECT_EQ(metrics.textExtent(u"Close", DialogFont::kSmall), (PixelSize{25, 13}));
  EXPECT_EQ(metrics.textExtent(u"a\U0001F600", DialogFont::kLarge), (PixelSize{14, 15}));

  struct Case {
    std::u16string text;
    int width;
    int lines;
  };
  for (const Case& c : {
           Case{u"", 60, 0}, Case{u"0123456789", 60, 1},  // exactly ten characters of 6 px
           Case{u"0123456789a", 60, 2},                   // one more wraps
           Case{u"ab\r\n\ncd", 60, 3},                    // an empty paragraph is a line
           Case{u"abc", 1, 3},                            // narrower than a character: one per line
       }) {
    EXPECT_EQ(metrics.wrappedTextHeight(c.text, DialogFont::kNormal, c.width), c.lines * 14)
        << c.width;
  }

  EXPECT_FALSE(metrics.windowShown(kOwner));
  EXPECT_EQ(metrics.windowRect(kOwner), PixelRect{});
  metrics.placeWindow(kOwner, {1, 2, 3, 4}, true);
  metrics.placeWindow(kOwner, {5, 6, 7, 8}, false);
  EXPECT_FALSE(metrics.windowShown(kOwner));
  EXPECT_EQ(metrics.windowRect(kOwner), (PixelRect{5, 6, 7, 8}));
}

}  // namespace
}  // namespace korvel
