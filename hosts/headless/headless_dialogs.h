// Dialogs of the headless host: every dialog shown is recorded (what it showed and how it was
// answered) and answered from a script the caller queued; without a script, choosers are
// cancelled, message dialogs close with their last button and the import dialog is cancelled.
// Also the text metrics of the headless screen: fixed character widths, so layouts are the same
// on every machine.
#ifndef KORVEL_HOSTS_HEADLESS_HEADLESS_DIALOGS_H_
#define KORVEL_HOSTS_HEADLESS_HEADLESS_DIALOGS_H_

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/text_metrics.h"

namespace korvel {

// One dialog as the user saw it.
struct ShownDialog {
  enum class Kind { kOpenFile, kSaveFile, kColour, kMessage, kImport };
  Kind kind = Kind::kMessage;
  std::u16string title;
  // kMessage: the body as shown (plain text; rich text as its RTF source), then its lines.
  std::u16string body;
  std::vector<std::u16string> lines;
  std::vector<std::u16string> buttons;  // labels
  MessageDialogView view;               // kMessage: the whole layout
  FileDialogRequest file;               // kOpenFile, kSaveFile
  // The answer: a path, a colour as "0x00BBGGRR", a button id, or "cancelled".
  std::u16string answer;
};

// One step of the user's work in the import dialog.
struct ImportDialogAction {
  enum class Kind { kType, kBrowse, kBackgroundColour, kFontColour, kImport, kCancel };
  Kind kind = Kind::kCancel;
  std::u16string text;  // kType: the edit box's new text
};

class HeadlessDialogs : public Dialogs, public TextMetrics {
 public:
  // Scripts, each used once in queue order.
  void queueFileAnswer(std::optional<std::u16string> path) { files_.push_back(std::move(path)); }
  void queueColourAnswer(std::optional<SystemColour> colour) { colours_.push_back(colour); }
  void queueMessageAnswer(int buttonId) { messages_.push_back(buttonId); }
  // The import dialog works through the actions; it is cancelled when they end with it open.
  void queueImportActions(std::vector<ImportDialogAction> actions) {
    imports_.push_back(std::move(actions));
  }
  const std::vector<ShownDialog>& shown() const { return shown_; }
  void clearShown() { shown_.clear(); }

  std::optional<std::u16string> chooseFile(const FileDialogRequest& request) override;
  std::optional<SystemColour> chooseColour(
      WindowHandle owner, const std::array<SystemColour, 16>& customColours) override;
  int showMessageDialog(WindowHandle owner, const MessageDialogView& dialog) override;
  int showImportDialog(WindowHandle owner, ImportDialogController& controller) override;

  PixelSize textExtent(std::u16string_view text, DialogFont font) const override;
  int wrappedTextHeight(std::u16string_view text, DialogFont font, int width) const override;
  int screenWidth() const override { return screen_.width(); }
  PixelRect workAreaNear(const PixelRect&) const override { return workArea_; }
  PixelRect windowRect(WindowHandle window) const override;
  bool windowShown(WindowHandle window) const override;
  int captionHeight() const override { return 22; }
  int edgeWidth() const override { return 3; }
  int edgeHeight() const override { return 3; }
  int dialogBaseUnitX() const override { return 6; }
  // The headless screen: 1280 x 1024 with a 40-pixel task bar at the bottom; owner windows are
  // where the caller puts them (none: not shown).
  void setScreen(PixelRect screen, PixelRect workArea) {
    screen_ = screen;
    workArea_ = workArea;
  }
  void placeWindow(WindowHandle window, PixelRect rect, bool shown);

 private:
  std::deque<std::optional<std::u16string>> files_;
  std::deque<std::optional<SystemColour>> colours_;
  std::deque<int> messages_;
  std::deque<std::vector<ImportDialogAction>> imports_;
  std::vector<ShownDialog> shown_;
  PixelRect screen_{0, 0, 1280, 1024};
  PixelRect workArea_{0, 0, 1280, 984};
  struct Placed {
    WindowHandle window;
    PixelRect rect;
    bool shown;
  };
  std::vector<Placed> windows_;
};

// The dialog as the tool prints it: its kind and title, the body, the lines and the buttons, one
// per line, in UTF-8.
std::string describeDialog(const ShownDialog& dialog);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_HEADLESS_DIALOGS_H_
