// The data exchange of a running application: export of the user's changed (and collected) cells
// to a data file, import of such a file into the model and the visible workbook, and the start-up
// import of the file the launcher names.
//
// Every operation switches the program's UserControl and EnableEvents off while it runs and on
// again on every path; applying records also holds the program's calculation, events and screen
// and lifts the application's sheet protection, restoring all of it afterwards. Nothing here lets
// an exception out.
//
// REQUIRES: used on the host program's user-interface thread, from a command handler.
#ifndef KORVEL_DATA_DATA_EXCHANGE_H_
#define KORVEL_DATA_DATA_EXCHANGE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/data_file.h"
#include "platform/dialogs.h"
#include "runtime/subsystems.h"

namespace korvel {

class Cell;
class ExcelConnection;
class Runtime;

// A sheet that receives more records than this is written with one array assignment.
inline constexpr size_t kBulkWriteThreshold = 10000;

class DataExchangeService : public DataExchange {
 public:
  // REQUIRES: runtime and connection outlive the service.
  DataExchangeService(Runtime& runtime, ExcelConnection& connection);

  // Empty path: asks for the file (preset with the export path the launcher gave, else the
  // application's own path, ".exe" turned into ".dat"), asks before overwriting and reports
  // success. Otherwise writes to the path silently, and writes nothing when no cell has a value
  // to export. Refused (false) while the user edits a cell. True when a file was written.
  bool exportData(bool collected, std::u16string_view path) override;
  // Empty path: the readiness check, the import dialog, the question for data of another
  // application, the success message. Otherwise (only when data exchange is enabled) reads the
  // path silently. Read and apply failures are reported either way.
  void importData(std::u16string_view path) override;
  // The launcher's start-up data file, when data exchange is enabled; never shows anything.
  void importStartupData() override;
  bool lastExportSucceeded() const override { return lastExportSucceeded_; }
  void clearLastExportSucceeded() override { lastExportSucceeded_ = false; }
  std::string lastFailure() const override { return lastFailure_; }

  // Writes the records of a read file into the model and the workbook and recalculates what
  // depends on them. With both colours nullopt the values go sheet by sheet; otherwise cell by
  // cell, each imported cell then coloured with the colours given. A damaged record section
  // applies nothing. False when the section is damaged or the program failed a call.
  bool applyImport(std::string_view recordSection, const DataFileHeader& header,
                   std::optional<SystemColour> background, std::optional<SystemColour> font);

  // The record section of an export: every exportable cell, in the model's order.
  std::string collectRecords(bool collected);

 private:
  bool exportInteractively(const DataFileHeader& header, const std::string& section,
                           const std::u16string& defaultPath);
  // The values of the records into the model; the cells that took one, by sheet for the bulk
  // write or in file order.
  bool applyBySheet(const std::vector<DataRecord>& records);
  bool applyByCell(const std::vector<DataRecord>& records, std::optional<SystemColour> background,
                   std::optional<SystemColour> font);
  // The model cell a record writes into, its formula set aside when import over formulas allows;
  // null when the record is to be skipped.
  Cell* importTarget(const DataRecord& record);
  void recalculateImported();
  void showImportFailure(DataFileCode code, const std::u16string& path);
  int messageBox(std::u16string_view text, std::u16string_view caption, uint32_t style);
  std::u16string applicationCaption(std::u16string_view lead) const;

  Runtime& runtime_;
  ExcelConnection& connection_;
  bool lastExportSucceeded_ = false;
  std::string lastFailure_;
};

}  // namespace korvel

#endif  // KORVEL_DATA_DATA_EXCHANGE_H_
