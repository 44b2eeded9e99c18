#include "hosts/headless/headless_dialogs.h"

namespace korvel {

std::optional<std::u16string> HeadlessDialogs::chooseFile(const FileDialogRequest&) {
  return std::nullopt;
}
std::optional<SystemColour> HeadlessDialogs::chooseColour(WindowHandle,
                                                          const std::array<SystemColour, 16>&) {
  return std::nullopt;
}
int HeadlessDialogs::showMessageDialog(WindowHandle, const MessageDialogView&) { return 0; }
int HeadlessDialogs::showImportDialog(WindowHandle, ImportDialogController&) { return 2; }
PixelSize HeadlessDialogs::textExtent(std::u16string_view, DialogFont) const { return {}; }
int HeadlessDialogs::wrappedTextHeight(std::u16string_view, DialogFont, int) const { return 0; }
PixelRect HeadlessDialogs::windowRect(WindowHandle) const { return {}; }
bool HeadlessDialogs::windowShown(WindowHandle) const { return false; }
void HeadlessDialogs::placeWindow(WindowHandle, PixelRect, bool) {}
std::string describeDialog(const ShownDialog&) { return {}; }

}  // namespace korvel
