// The runtime's own informational window: a modal dialog with a title, an optional icon, an
// optional picture in its top-left corner, an optional body (plain or rich text), single-line
// texts and a row of push buttons. The layout is computed here, portably, from the text measures
// of the platform; the platform's dialogs only draw what the layout placed.
#ifndef KORVEL_UI_MESSAGE_DIALOG_H_
#define KORVEL_UI_MESSAGE_DIALOG_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/dialogs.h"
#include "platform/locale.h"
#include "platform/platform.h"
#include "platform/text_metrics.h"

namespace korvel {

// Fixed measures of the layout, in pixels.
inline constexpr int kMessageButtonMinimumWidth = 76;
inline constexpr int kMessageButtonHeight = 23;
inline constexpr int kMessageButtonBottomMargin = 10;  // client bottom to the buttons' bottom
inline constexpr int kMessageButtonTextPadding = 16;   // around a label wider than the minimum
inline constexpr int kMessageButtonGap = 6;
inline constexpr int kMessageButtonRowMargin = 14;  // added to the row's width, both sides
inline constexpr int kMessageContentMargin = 15;    // picture and body from the client edges
inline constexpr int kMessageBelowContent = 44;     // client height under the content

// The text as UTF-16LE bytes, without a byte-order mark, for setBody(..., true).
std::string utf16Bytes(std::u16string_view text);

class MessageDialog {
 public:
  // The client area starts widthPixels wide, rounded through dialog units as a dialog template
  // holds it. codePage converts 8-bit bodies; null: ISO 8859-1. It is borrowed and must outlive
  // the dialog.
  explicit MessageDialog(int widthPixels, const Locale* codePage = nullptr);

  void setTitle(std::u16string title) { title_ = std::move(title); }
  void setIcon(IconHandle icon) { icon_ = icon; }
  // PNG bytes, copied. Bytes that are no PNG picture are not drawn and take no room.
  void setPicture(std::string_view png);
  // The body's bytes, copied: UTF-16LE when isUtf16 or when they begin with FF FE (the mark is
  // not shown); RTF when they begin with "{\rtf"; otherwise 8-bit text in the code page.
  void setBody(std::string_view bytes, bool isUtf16);
  void addLine(std::u16string text, DialogFont font);
  void addButton(std::u16string label, int id);

  // Places everything for display over the owner (kNoWindow: none). Never fails.
  MessageDialogView layout(const TextMetrics& metrics, WindowHandle owner) const;
  // Shows the dialog modally and answers the id of the button that closed it; 0 without the
  // platform's dialogs or text metrics, in which case nothing is shown.
  int showModal(const Platform& platform, WindowHandle owner) const;

 private:
  struct Line {
    std::u16string text;
    DialogFont font;
  };
  struct Button {
    std::u16string label;
    int id;
  };

  int widthPixels_;
  const Locale* codePage_;
  std::u16string title_;
  IconHandle icon_ = IconHandle::kNoIcon;
  std::string picture_;
  PixelSize pictureSize_;
  bool hasBody_ = false;
  std::string body_;
  bool bodyIsUtf16_ = false;
  std::vector<Line> lines_;
  std::vector<Button> buttons_;
};

}  // namespace korvel

#endif  // KORVEL_UI_MESSAGE_DIALOG_H_
