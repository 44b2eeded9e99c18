// The behaviour of the data-import dialog: the path the user chose (typed or browsed for) and the
// two highlight colours for the imported cells. The platform owns the window and calls in here as
// the user works in it; the controller lives for one import.
//
// REQUIRES: used on the host program's user-interface thread.
#ifndef KORVEL_DATA_IMPORT_DIALOG_H_
#define KORVEL_DATA_IMPORT_DIALOG_H_

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dialogs.h"

namespace korvel {

class Runtime;

// The custom colours the colour chooser offers, in order.
inline constexpr std::array<SystemColour, 16> kImportCustomColours = {
    0xCC99FF, 0x99CCFF, 0x99FFFF, 0xCCFFCC, 0xFFFFCC, 0xFFCC99, 0xFF99CC, 0xFFFFFF,
    0xFF00FF, 0x00CCFF, 0x00FFFF, 0x00FF00, 0xFFFF00, 0xFFCC00, 0x663399, 0xC0C0C0,
};
// The edit box holds at most this many characters of the path.
inline constexpr size_t kImportPathLimit = 511;

class ImportDataDialog : public ImportDialogController {
 public:
  // REQUIRES: runtime outlives the dialog.
  explicit ImportDataDialog(Runtime& runtime);

  // "Import Data for <name> Application"; "Dialog" (the window's own title) without a name.
  std::u16string title() const override;
  IconHandle icon() const override;
  // The open-file chooser for data files; nullopt when cancelled or without dialogs.
  std::optional<std::u16string> browse(WindowHandle dialog) override;
  // The short colour chooser; a chosen colour replaces the default for that swatch.
  void chooseColour(bool background, WindowHandle dialog) override;
  std::optional<SystemColour> swatch(bool background) const override;
  // Takes the edit box's text (cut to kImportPathLimit) as the path. An empty text keeps the
  // dialog open and tells the user to choose a file.
  bool import(std::u16string_view editText, WindowHandle dialog) override;
  void cancel() override { path_.clear(); }

  // What the user chose: the path (empty until Import took one, empty again after Cancel) and
  // the colours (nullopt: leave that colour of the imported cells as it is).
  const std::u16string& path() const { return path_; }
  std::optional<SystemColour> backgroundColour() const { return background_; }
  std::optional<SystemColour> fontColour() const { return font_; }

 private:
  Runtime& runtime_;
  std::u16string path_;
  std::optional<SystemColour> background_;
  std::optional<SystemColour> font_;
};

}  // namespace korvel

#endif  // KORVEL_DATA_IMPORT_DIALOG_H_
