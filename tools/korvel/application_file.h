// Application files (.kvapp) on the launcher's side: building one from a workbook (the settings
// record, the workbook without its compiled formulas, the compiled model and the licence
// agreement as resources of the headless host's container) and opening one to hand its contents
// to the runtime. The runtime's save writes the workbook and model resources of the same file, so
// an application saved in place opens here again with its saved state.
#ifndef KORVEL_TOOLS_KORVEL_APPLICATION_FILE_H_
#define KORVEL_TOOLS_KORVEL_APPLICATION_FILE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/workbook.h"
#include "hosts/headless/headless_resources.h"
#include "hosts/headless/spreadsheet/workbook_data.h"
#include "model/compiled_model.h"
#include "platform/files.h"
#include "runtime/settings_record.h"

namespace korvel {

inline constexpr char kApplicationFileExtension[] = ".kvapp";

// What the author chooses when compiling.
struct ApplicationOptions {
  std::u16string name;  // REQUIRES: not empty
  // Major in bits 24-31, minor in bits 16-23, build in bits 8-15.
  uint32_t version = 0;
  std::u16string information;
  bool dataExchange = false;
  bool saveAsExecutable = false;
  // The licence agreement's bytes as the dialog shows them; none when empty.
  std::string agreement;
};

// "1", "1.2" or "1.2.3", each part 0..255, packed as ApplicationOptions::version. False for
// anything else.
bool parseApplicationVersion(std::string_view text, uint32_t* version);

// The program's copy of the application workbook: sheet names, constants and the values the
// formulas start with; the formulas themselves stay in the model, whose results the runtime
// writes in from then on.
WorkbookData programWorkbook(const Workbook& workbook, const CompiledModel& model,
                             std::u16string fullName);
// Gives the program's copy the look the package's cells and sheets have (fonts, fills, borders,
// merged cells, column widths), sheet by sheet of the same name; an application file keeps the
// author's package, so its workbook has them already.
void takePresentation(const WorkbookData& package, WorkbookData* workbook);

// Compiles the workbook (the model with its starting values) and lays out the application's
// resources: settings "KVSETTINGS" 1 (enveloped record), the workbook 1020 (enveloped: the
// rotated workbook tag, then the .xlsx bytes, written from package when it is not empty so that
// the package's other parts stay), the model's chunk envelopes "EXTRSC" 1200 upwards and, when
// there is one, the agreement "KVAGREEMENT" 1. False with *error when the workbook does not
// compile, the workbook cannot be written, or the model needs a resource id above 1400. files
// takes the model writer's spill files.
bool buildApplicationResources(const Workbook& workbook, std::string_view package,
                               const ApplicationOptions& options, Files& files,
                               std::vector<ResourceEntry>* entries, std::string* error);

// What the launcher takes out of an application file.
struct ApplicationContents {
  std::string settings;  // the settings record as stored
  SettingsRecord record;
  std::string agreement;           // plain bytes; empty when the file has none
  std::vector<std::string> model;  // the chunk envelopes, in resource id order
  std::string workbook;            // the workbook file's bytes
};

// Reads the application file at path. False with *error when it is no container, the settings
// or the workbook resource is missing or damaged, or the workbook's tag is not the settings' (a
// workbook that belongs to another application).
bool readApplication(const Files& files, const std::u16string& path, ApplicationContents* contents,
                     std::string* error);

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_APPLICATION_FILE_H_
