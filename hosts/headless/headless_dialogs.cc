#include "hosts/headless/headless_dialogs.h"

#include <algorithm>
#include <cstdio>

#include "util/text.h"

namespace korvel {
namespace {

int characterWidth(DialogFont font) {
  switch (font) {
    case DialogFont::kSmall:
      return 5;
    case DialogFont::kLarge:
      return 7;
    case DialogFont::kNormal:
      break;
  }
  return 6;
}

int fontPixels(DialogFont font) {
  switch (font) {
    case DialogFont::kSmall:
      return 10;
    case DialogFont::kLarge:
      return 12;
    case DialogFont::kNormal:
      break;
  }
  return 11;
}

int lineHeight(DialogFont font) { return fontPixels(font) + 3; }

// Characters, a surrogate pair counting once.
int characters(std::u16string_view text) {
  int count = 0;
  for (char16_t unit : text) {
    if (unit < 0xDC00 || unit > 0xDFFF) ++count;
  }
  return count;
}

std::u16string ascii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

std::u16string decimal(int value) { return ascii(std::to_string(value)); }

}  // namespace

std::optional<std::u16string> HeadlessDialogs::chooseFile(const FileDialogRequest& request) {
  std::optional<std::u16string> answer;
  if (!files_.empty()) {
    answer = std::move(files_.front());
    files_.pop_front();
  }
  ShownDialog shown;
  shown.kind = request.save ? ShownDialog::Kind::kSaveFile : ShownDialog::Kind::kOpenFile;
  shown.title = request.title;
  shown.file = request;
  shown.answer = answer ? *answer : u"cancelled";
  shown_.push_back(std::move(shown));
  return answer;
}

std::optional<SystemColour> HeadlessDialogs::chooseColour(WindowHandle,
                                                          const std::array<SystemColour, 16>&) {
  std::optional<SystemColour> answer;
  if (!colours_.empty()) {
    answer = colours_.front();
    colours_.pop_front();
  }
  ShownDialog shown;
  shown.kind = ShownDialog::Kind::kColour;
  if (answer) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(*answer));
    shown.answer = ascii(text);
  } else {
    shown.answer = u"cancelled";
  }
  shown_.push_back(std::move(shown));
  return answer;
}

int HeadlessDialogs::showMessageDialog(WindowHandle, const MessageDialogView& dialog) {
  int answer = dialog.buttons.empty() ? 0 : dialog.buttons.back().id;
  if (!messages_.empty()) {
    answer = messages_.front();
    messages_.pop_front();
  }
  ShownDialog shown;
  shown.kind = ShownDialog::Kind::kMessage;
  shown.title = dialog.title;
  switch (dialog.bodyForm) {
    case MessageDialogView::BodyForm::kPlainText:
      shown.body = dialog.bodyText;
      break;
    case MessageDialogView::BodyForm::kRichText:
      for (char byte : dialog.richText) shown.body.push_back(static_cast<unsigned char>(byte));
      break;
    case MessageDialogView::BodyForm::kNone:
      break;
  }
  for (const MessageDialogView::Line& line : dialog.lines) shown.lines.push_back(line.text);
  for (const MessageDialogView::Button& button : dialog.buttons) {
    shown.buttons.push_back(button.label);
  }
  shown.view = dialog;
  shown.answer = decimal(answer);
  shown_.push_back(std::move(shown));
  return answer;
}

int HeadlessDialogs::showImportDialog(WindowHandle owner, ImportDialogController& controller) {
  std::vector<ImportDialogAction> actions;
  if (!imports_.empty()) {
    actions = std::move(imports_.front());
    imports_.pop_front();
  }
  // Recorded before the actions run, so that the choosers they open come after it.
  const size_t index = shown_.size();
  ShownDialog shown;
  shown.kind = ShownDialog::Kind::kImport;
  shown.title = controller.title();
  shown.buttons = {u"Import", u"Cancel"};
  shown_.push_back(std::move(shown));

  // The headless dialog has no window of its own; what the controller opens over it is owned by
  // the dialog's owner instead.
  const WindowHandle dialog = owner;
  std::u16string editText;
  int result = 0;
  for (const ImportDialogAction& action : actions) {
    switch (action.kind) {
      case ImportDialogAction::Kind::kType:
        editText = action.text;
        break;
      case ImportDialogAction::Kind::kBrowse:
        if (std::optional<std::u16string> path = controller.browse(dialog)) editText = *path;
        break;
      case ImportDialogAction::Kind::kBackgroundColour:
        controller.chooseColour(true, dialog);
        break;
      case ImportDialogAction::Kind::kFontColour:
        controller.chooseColour(false, dialog);
        break;
      case ImportDialogAction::Kind::kImport:
        if (controller.import(editText, dialog)) result = 1;
        break;
      case ImportDialogAction::Kind::kCancel:
        controller.cancel();
        result = 2;
        break;
    }
    if (result != 0) break;
  }
  if (result == 0) {
    controller.cancel();
    result = 2;
  }
  shown_[index].answer = decimal(result);
  return result;
}

PixelSize HeadlessDialogs::textExtent(std::u16string_view text, DialogFont font) const {
  return {characters(text) * characterWidth(font), lineHeight(font)};
}

int HeadlessDialogs::wrappedTextHeight(std::u16string_view text, DialogFont font, int width) const {
  if (text.empty()) return 0;
  const int perLine = std::max(1, width / characterWidth(font));
  int lines = 0;
  for (const std::u16string& paragraph : split(text, u"\n")) {
    const int count = characters(trim(paragraph, u"\r"));
    lines += std::max(1, (count + perLine - 1) / perLine);
  }
  return lines * lineHeight(font);
}

PixelRect HeadlessDialogs::windowRect(WindowHandle window) const {
  for (const Placed& placed : windows_) {
    if (placed.window == window) return placed.rect;
  }
  return {};
}

bool HeadlessDialogs::windowShown(WindowHandle window) const {
  for (const Placed& placed : windows_) {
    if (placed.window == window) return placed.shown;
  }
  return false;
}

void HeadlessDialogs::placeWindow(WindowHandle window, PixelRect rect, bool shown) {
  for (Placed& placed : windows_) {
    if (placed.window == window) {
      placed.rect = rect;
      placed.shown = shown;
      return;
    }
  }
  windows_.push_back({window, rect, shown});
}

std::string describeDialog(const ShownDialog& dialog) {
  std::string out;
  auto line = [&out](std::u16string_view text) {
    out += toUtf8(text);
    out += '\n';
  };
  switch (dialog.kind) {
    case ShownDialog::Kind::kOpenFile:
      line(u"[Open: " + dialog.title + u"]");
      line(u"-> " + dialog.answer);
      return out;
    case ShownDialog::Kind::kSaveFile:
      line(u"[Save: " + dialog.title + u"]");
      line(u"-> " + dialog.answer);
      return out;
    case ShownDialog::Kind::kColour:
      line(u"[Colour]");
      line(u"-> " + dialog.answer);
      return out;
    case ShownDialog::Kind::kImport:
    case ShownDialog::Kind::kMessage:
      break;
  }
  line(u"[" + dialog.title + u"]");
  if (!dialog.body.empty()) {
    std::u16string body;
    for (char16_t unit : dialog.body) {
      if (unit != u'\r') body.push_back(unit);
    }
    if (!body.empty() && body.back() == u'\n') body.pop_back();
    line(body);
  }
  for (const std::u16string& text : dialog.lines) line(text);
  for (const std::u16string& label : dialog.buttons) line(u"(" + label + u")");
  return out;
}

}  // namespace korvel
