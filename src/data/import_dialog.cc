#include "data/import_dialog.h"

#include "runtime/runtime.h"

namespace korvel {

namespace {

std::u16string applicationCaption(std::u16string_view lead, const std::u16string& name) {
  std::u16string caption(lead);
  caption += name;
  caption += u" Application";
  return caption;
}

}  // namespace

ImportDataDialog::ImportDataDialog(Runtime& runtime) : runtime_(runtime) {}

std::u16string ImportDataDialog::title() const {
  const std::u16string& name = runtime_.settings().applicationName;
  if (name.empty()) return u"Dialog";
  return applicationCaption(u"Import Data for ", name);
}

IconHandle ImportDataDialog::icon() const { return runtime_.channelState().applicationIcon; }

std::optional<std::u16string> ImportDataDialog::browse(WindowHandle dialog) {
  Dialogs* dialogs = runtime_.platform().dialogs;
  if (dialogs == nullptr) return std::nullopt;
  FileDialogRequest request;
  request.owner = dialog;
  request.save = false;
  request.filterName = u"Data Files";
  request.filterPattern = u"*.dat";
  request.title = applicationCaption(u"Import Data for ", runtime_.settings().applicationName);
  request.fileMustExist = true;
  request.hideReadOnly = true;
  return dialogs->chooseFile(request);
}

void ImportDataDialog::chooseColour(bool background, WindowHandle dialog) {
  Dialogs* dialogs = runtime_.platform().dialogs;
  if (dialogs == nullptr) return;
  std::optional<SystemColour> chosen = dialogs->chooseColour(dialog, kImportCustomColours);
  if (!chosen) return;
  (background ? background_ : font_) = *chosen;
}

std::optional<SystemColour> ImportDataDialog::swatch(bool background) const {
  return background ? background_ : font_;
}

bool ImportDataDialog::import(std::u16string_view editText, WindowHandle dialog) {
  std::u16string_view text = editText.substr(0, kImportPathLimit);
  if (text.empty()) {
    runtime_.platform().windows->messageBox(
        dialog, u"Please select a file for import",
        applicationCaption(u"Load Data for ", runtime_.settings().applicationName),
        kMbOk | kMbIconInformation);
    return false;
  }
  path_ = std::u16string(text);
  return true;
}

}  // namespace korvel
