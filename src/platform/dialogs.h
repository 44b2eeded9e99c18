// The dialogs the runtime shows: the system's file and colour choosers, the message dialog (a
// laid-out window with a title, a picture, a body, lines and buttons, built by the user-interface
// code) and the data-import dialog, whose behaviour belongs to the runtime and whose window
// belongs to the platform. Every call is modal: it returns when the user has closed the dialog.
#ifndef KORVEL_PLATFORM_DIALOGS_H_
#define KORVEL_PLATFORM_DIALOGS_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system.h"
#include "platform/text_metrics.h"
#include "platform/window_system.h"

namespace korvel {

// A colour as the system stores it: 0x00BBGGRR.
using SystemColour = uint32_t;

struct FileDialogRequest {
  WindowHandle owner = WindowHandle::kNoWindow;
  bool save = false;             // a save dialog; otherwise an open dialog
  std::u16string filterName;     // "Data Files"
  std::u16string filterPattern;  // "*.dat"
  std::u16string title;
  std::u16string initialPath;  // preset file name; empty: none
  bool fileMustExist = false;
  bool hideReadOnly = false;
};

// A message dialog as its layout placed it. Rectangles are pixels: the window's on the screen,
// the others in the window's client area.
struct MessageDialogView {
  enum class BodyForm { kNone, kPlainText, kRichText };
  struct Line {
    std::u16string text;
    DialogFont font = DialogFont::kNormal;
    PixelRect rect;
  };
  struct Button {
    std::u16string label;
    int id = 0;
    PixelRect rect;
  };
  std::u16string title;
  IconHandle icon = IconHandle::kNoIcon;
  std::string picture;  // PNG bytes; empty: none
  BodyForm bodyForm = BodyForm::kNone;
  std::u16string bodyText;  // kPlainText: the text as shown
  std::string richText;     // kRichText: the RTF bytes as they are streamed in
  PixelRect bodyRect;
  std::vector<Line> lines;
  std::vector<Button> buttons;
  PixelRect window;
};

// The data-import dialog's behaviour, which the platform's window calls as the user works in it.
// Colours are either a chosen SystemColour or the default.
class ImportDialogController {
 public:
  virtual ~ImportDialogController() = default;
  // On creation: the title and the large icon to set (kNoIcon: keep the window's own).
  virtual std::u16string title() const = 0;
  virtual IconHandle icon() const = 0;
  // The browse button: the path to put into the edit box, or nullopt when the user cancelled.
  virtual std::optional<std::u16string> browse(WindowHandle dialog) = 0;
  // A colour button: asks for the colour and keeps it when the user chose one.
  virtual void chooseColour(bool background, WindowHandle dialog) = 0;
  // What a swatch shows: a chosen colour, or nullopt for the default (which shows "<default>").
  virtual std::optional<SystemColour> swatch(bool background) const = 0;
  // The Import button with the edit box's text: true ends the dialog with 1; false keeps it open
  // (the controller told the user why; the focus goes back into the edit box).
  virtual bool import(std::u16string_view editText, WindowHandle dialog) = 0;
  // The Cancel button or the window's close: the dialog ends with 2.
  virtual void cancel() = 0;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // The chosen path, or nullopt when the user cancelled.
  virtual std::optional<std::u16string> chooseFile(const FileDialogRequest& request) = 0;
  // The colour chooser in its short form, solid colours only, with the 16 custom colours.
  virtual std::optional<SystemColour> chooseColour(
      WindowHandle owner, const std::array<SystemColour, 16>& customColours) = 0;
  // Shows the dialog; the id of the button that closed it (the window's close gives the id of
  // the last button, as pressing Escape does).
  virtual int showMessageDialog(WindowHandle owner, const MessageDialogView& dialog) = 0;
  // Shows the data-import dialog driven by the controller; 1 (Import) or 2 (Cancel).
  virtual int showImportDialog(WindowHandle owner, ImportDialogController& controller) = 0;
};

}  // namespace korvel

#endif  // KORVEL_PLATFORM_DIALOGS_H_
