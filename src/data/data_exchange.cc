#include "data/data_exchange.h"

#include <algorithm>
#include <map>
#include <utility>

#include "data/import_dialog.h"
#include "engine/recalculation.h"
#include "engine/value_variant.h"
#include "excel/application_events.h"
#include "excel/dispatch_ids.h"
#include "excel/excel_connection.h"
#include "excel/interception.h"
#include "excel/object_layer.h"
#include "excel/protection.h"
#include "model/address.h"
#include "model/cell.h"
#include "runtime/runtime.h"
#include "util/text.h"

namespace korvel {

namespace {

// The cell marks of the data exchange: changed by the user or an import, and collected.
constexpr uint32_t kChangedMark = kCellChangedByEvent;
constexpr uint32_t kCollectMark = kCellEventMarker;
// A sheet whose option word has this bit keeps the formatting of its imported cells.
constexpr uint32_t kSheetKeepsFormatting = 0x100;

bool hasFormula(const Cell* cell) {
  return cell != nullptr && !cell->formulaRoots.empty() && cell->formulaRoots.front() != nullptr;
}

bool endsWith(std::u16string_view text, std::u16string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// UserControl and EnableEvents are off while an export or import runs, dialogs included, so the
// program neither takes the user's input nor reports the runtime's writes; both are on again
// however the operation ends.
class UserControlOff {
 public:
  explicit UserControlOff(ExcelConnection& connection) : connection_(connection) { set(false); }
  ~UserControlOff() { set(true); }
  UserControlOff(const UserControlOff&) = delete;
  UserControlOff& operator=(const UserControlOff&) = delete;

 private:
  void set(bool on) {
    ExcelObject& application = connection_.application();
    if (!application.live()) return;
    try {
      application.put(dispid::kUserControl, Variant::boolean(on));
    } catch (...) {
    }
    connection_.setEnableEvents(on);
  }
  ExcelConnection& connection_;
};

// While records are applied: the importing flag, manual calculation, events and screen off and
// the application's sheets unprotected. The destructor puts back what was read (a property that
// could not be read is left as the import set it), clears the flag and protects the sheets again
// with the screen still. Never throws.
class ApplyingState {
 public:
  explicit ApplyingState(ExcelConnection& connection) : connection_(connection) {
    Runtime& runtime = connection_.runtime();
    runtime.calculation().importing = true;
    ExcelObject& application = connection_.application();
    if (application.live()) {
      events_ = connection_.enableEvents();
      try {
        screen_ = application.getBool(dispid::kScreenUpdating);
      } catch (...) {
      }
      calculation_ = calculation();
      setCalculation(kCalculationManual);
      connection_.setEnableEvents(false);
      setScreen(false);
    }
    connection_.protection().liftProtection();
  }

  ~ApplyingState() {
    if (screen_) setScreen(*screen_);
    if (events_) connection_.setEnableEvents(*events_);
    if (calculation_) setCalculation(*calculation_);
    connection_.runtime().calculation().importing = false;
    if (connection_.application().live()) {
      setScreen(false);
      connection_.protection().protectSheets();
      if (screen_) setScreen(*screen_);
    }
  }
  ApplyingState(const ApplyingState&) = delete;
  ApplyingState& operator=(const ApplyingState&) = delete;

 private:
  // The mode goes past the runtime's own setter, which would start a recalculation cycle when
  // the mode returns to automatic.
  std::optional<int32_t> calculation() {
    ExcelObject& application = connection_.application();
    Variant value;
    try {
      HResult hr = connection_.interception().callOriginal(
          *application.dispatch(), kIidApplication, dispid::kCalculation, InvokeKind::kPropertyGet,
          {}, &value, kLocaleUserDefault);
      if (failed(hr)) return std::nullopt;
    } catch (...) {
      return std::nullopt;
    }
    return variantToInt(value);
  }
  void setCalculation(int32_t mode) {
    ExcelObject& application = connection_.application();
    if (!application.live()) return;
    std::vector<Variant> arguments{Variant::i4(mode)};
    try {
      connection_.interception().callOriginal(*application.dispatch(), kIidApplication,
                                              dispid::kCalculation, InvokeKind::kPropertyPut,
                                              arguments, nullptr, kLocaleUserDefault);
    } catch (...) {
    }
  }
  void setScreen(bool on) {
    try {
      connection_.application().put(dispid::kScreenUpdating, Variant::boolean(on));
    } catch (...) {
    }
  }

  ExcelConnection& connection_;
  std::optional<bool> events_;
  std::optional<bool> screen_;
  std::optional<int32_t> calculation_;
};

// The cells one sheet receives and the rectangle that bounds them.
struct SheetBatch {
  std::vector<Cell*> cells;
  uint32_t firstRow = 0, lastRow = 0, firstColumn = 0, lastColumn = 0;

  void add(Cell* cell) {
    uint32_t row = cell->address.row(), column = cell->address.column();
    if (cells.empty()) {
      firstRow = lastRow = row;
      firstColumn = lastColumn = column;
    } else {
      firstRow = std::min(firstRow, row);
      lastRow = std::max(lastRow, row);
      firstColumn = std::min(firstColumn, column);
      lastColumn = std::max(lastColumn, column);
    }
    cells.push_back(cell);
  }
};

}  // namespace

DataExchangeService::DataExchangeService(Runtime& runtime, ExcelConnection& connection)
    : runtime_(runtime), connection_(connection) {}

std::u16string DataExchangeService::applicationCaption(std::u16string_view lead) const {
  std::u16string caption(lead);
  caption += runtime_.settings().applicationName;
  caption += u" Application";
  return caption;
}

int DataExchangeService::messageBox(std::u16string_view text, std::u16string_view caption,
                                    uint32_t style) {
  return runtime_.platform().windows->messageBox(runtime_.mainWindow(), text, caption, style);
}

// ---------------------------------------------------------------------------------------------
// Export

std::string DataExchangeService::collectRecords(bool collected) {
  std::string section;
  CompiledModel* model = runtime_.model();
  if (model == nullptr) return section;
  for (Cell* cell : model->cells()) {
    if (cell->address.isNone() || cell->value == nullptr) continue;
    // A formula's result is the application's to compute again; a value the program computes is
    // data like any other.
    if (hasFormula(cell) && !cell->hasFlag(kCellInput)) continue;
    if (!cell->hasFlag(kChangedMark) && !(collected && cell->hasFlag(kCollectMark))) continue;
    DataRecord record;
    record.sheet = uint16_t(cell->address.sheet());
    record.row = cell->address.row();
    record.column = uint16_t(cell->address.column());
    record.value = *cell->value;
    appendDataRecord(record, &section);
  }
  return section;
}

bool DataExchangeService::exportData(bool collected, std::u16string_view path) {
  if (connection_.editTracking().editMode()) return false;
  bool written = false;
  lastFailure_.clear();
  {
    UserControlOff off(connection_);
    try {
      DataFileHeader header;
      if (const CompiledModel* model = runtime_.model())
        header.applicationId = model->applicationId;
      const ChannelState& channel = runtime_.channelState();
      std::u16string target(path);
      if (target.empty()) {
        target = channel.exportDataPath.empty() ? channel.applicationPath : channel.exportDataPath;
      }
      target = dataPathForExecutable(std::move(target));
      std::string section = collectRecords(collected);
      Files* files = runtime_.platform().files;
      if (files == nullptr) {
        written = false;
      } else if (!path.empty()) {
        if (section.empty()) {
          lastFailure_ = "no cell was changed, so there is nothing to export";
        } else {
          written = writeDataFile(*files, target, header, section, &lastFailure_);
        }
      } else {
        written = exportInteractively(header, section, target);
      }
    } catch (...) {
      written = false;
    }
  }
  lastExportSucceeded_ = written;
  return written;
}

bool DataExchangeService::exportInteractively(const DataFileHeader& fileHeader,
                                              const std::string& section,
                                              const std::u16string& defaultPath) {
  const Platform& platform = runtime_.platform();
  if (platform.dialogs == nullptr) return false;
  DataFileHeader header = fileHeader;
  if (platform.clock != nullptr) header.timestamp = uint32_t(uint64_t(platform.clock->unixTime()));
  FileDialogRequest request;
  request.owner = runtime_.mainWindow();
  request.save = true;
  request.filterName = u"Data Files";
  request.filterPattern = u"*.dat";
  request.title = u"Export Changes In File";
  request.initialPath = defaultPath;
  std::optional<std::u16string> chosen = platform.dialogs->chooseFile(request);
  if (!chosen || chosen->empty()) return false;
  std::u16string target = std::move(*chosen);
  if (!endsWith(target, u".dat")) target += u".dat";
  if (platform.files->exists(target)) {
    std::u16string question =
        u"File '" + target + u"' already exists.\nWould you like to overwrite it?";
    if (messageBox(question, u"Warning", kMbYesNo | kMbIconWarning) != kIdYes) return false;
  }
  if (!writeDataFile(*platform.files, target, header, section, &lastFailure_)) {
    // The user chose the file and waits for it: a failure is said, with the system's reason.
    messageBox(u"The data was not exported: " + fromUtf8(lastFailure_) + u".", u"Warning",
               kMbOk | kMbIconWarning);
    return false;
  }
  messageBox(u"Export of data completed successfully.", applicationCaption(u"Export Data from "),
             kMbOk | kMbIconInformation);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Import

void DataExchangeService::showImportFailure(DataFileCode code, const std::u16string& path) {
  std::u16string message = dataFileMessage(code, path);
  lastFailure_ = toUtf8(message);
  messageBox(message, u"Warning", kMbOk | kMbIconWarning);
}

void DataExchangeService::importData(std::u16string_view path) {
  lastFailure_.clear();
  if (runtime_.platform().files == nullptr) return;
  try {
    if (!path.empty()) {
      if (!runtime_.settings().dataExchange) return;
      UserControlOff off(connection_);
      std::u16string target = dataPathForExecutable(std::u16string(path));
      DataFileHeader header;
      std::string section;
      DataFileCode code = readDataFile(*runtime_.platform().files, target, &header, &section);
      if (code != DataFileCode::kOk) {
        showImportFailure(code, target);
        return;
      }
      if (!applyImport(section, header, std::nullopt, std::nullopt)) {
        showImportFailure(DataFileCode::kInvalid, target);
      }
      return;
    }

    MenuManager* menus = runtime_.menuManager();
    if (menus == nullptr || !menus->excelAcceptsCommands()) return;
    UserControlOff off(connection_);
    Dialogs* dialogs = runtime_.platform().dialogs;
    if (dialogs == nullptr) return;
    ImportDataDialog dialog(runtime_);
    if (dialogs->showImportDialog(runtime_.mainWindow(), dialog) != kIdOk) return;
    std::u16string target = dataPathForExecutable(dialog.path());
    DataFileHeader header;
    std::string section;
    DataFileCode code = readDataFile(*runtime_.platform().files, target, &header, &section);
    if (code != DataFileCode::kOk) {
      showImportFailure(code, target);
      return;
    }
    const CompiledModel* model = runtime_.model();
    uint32_t applicationId = model != nullptr ? model->applicationId : 0;
    if (header.applicationId != applicationId &&
        messageBox(u"This data was created from another application.\nImport it may cause of "
                   u"incorrect data setting or failure.\nImport anyway?",
                   u"Warning", kMbYesNo | kMbIconWarning) != kIdYes) {
      return;
    }
    if (!applyImport(section, header, dialog.backgroundColour(), dialog.fontColour())) {
      showImportFailure(DataFileCode::kInvalid, target);
      return;
    }
    messageBox(u"Import of data completed successfully.", applicationCaption(u"Import Data for "),
               kMbOk | kMbIconInformation);
  } catch (...) {
    // The guards have put the program's state back; the command ends quietly.
  }
}

void DataExchangeService::importStartupData() {
  const std::u16string& path = runtime_.channelState().startupDataPath;
  if (path.empty() || !runtime_.settings().dataExchange || runtime_.platform().files == nullptr) {
    return;
  }
  try {
    DataFileHeader header;
    std::string section;
    if (readDataFile(*runtime_.platform().files, path, &header, &section) != DataFileCode::kOk) {
      return;
    }
    applyImport(section, header, std::nullopt, std::nullopt);
  } catch (...) {
  }
}

// ---------------------------------------------------------------------------------------------
// Applying records

bool DataExchangeService::applyImport(std::string_view recordSection, const DataFileHeader& header,
                                      std::optional<SystemColour> background,
                                      std::optional<SystemColour> font) {
  if (runtime_.model() == nullptr || runtime_.engine() == nullptr) return false;
  std::vector<DataRecord> records;
  // A damaged section is rejected whole: half a file of the user's data is worse than none.
  if (!readDataRecords(header, recordSection, &records)) return false;
  bool applied = false;
  try {
    ApplyingState state(connection_);
    applied = !background && !font ? applyBySheet(records) : applyByCell(records, background, font);
    recalculateImported();
  } catch (...) {
    applied = false;
  }
  if (Engine* engine = runtime_.engine()) engine->changedCells.clear();
  if (!records.empty()) {
    // The imported values are the user's data now: the export command offers them and the close
    // handling asks to export them.
    try {
      connection_.events().markDataChanged();
    } catch (...) {
    }
  }
  return applied;
}

Cell* DataExchangeService::importTarget(const DataRecord& record) {
  CompiledModel& model = *runtime_.model();
  uint32_t sheet = record.sheet == 0xFFFF ? 0xFFFE : record.sheet;
  // A sheet the application does not have cannot show the value, and a cell made for it would
  // only be exported again.
  if (model.sheets().find(sheet) == nullptr) return nullptr;
  Cell* cell = model.cellAt(CellRef::at(sheet, record.row & kRowMask, record.column & kColumnMask));
  if (cell == nullptr) return nullptr;
  if (hasFormula(cell)) {
    if (!runtime_.settings().importOverFormulas) return nullptr;
    connection_.events().detachFormula(cell);
  }
  return cell;
}

bool DataExchangeService::applyBySheet(const std::vector<DataRecord>& records) {
  Engine& engine = *runtime_.engine();
  std::map<uint32_t, SheetBatch> batches;
  for (const DataRecord& record : records) {
    Cell* cell = importTarget(record);
    if (cell == nullptr) continue;
    cell->ensureValue() = record.value;
    engine.recalculation().markChanged(cell);
    batches[cell->address.sheet()].add(cell);
  }

  ExcelObject& application = connection_.application();
  if (!application.live()) return true;
  ExcelObject workbook = connection_.workbook().live()
                             ? connection_.workbook()
                             : application.object(dispid::kActiveWorkbook);
  ExcelObject sheets = workbook.object(dispid::kSheets);
  ExcelCalcHost* host = connection_.calcHost();
  for (auto& entry : batches) {
    const uint32_t sheetIndex = entry.first;
    SheetBatch& batch = entry.second;
    ExcelObject sheet = sheets.object(dispid::kItem, {Variant::i4(int32_t(sheetIndex) + 1)});
    if (!sheet.live() || sheet.getInt(dispid::kType) != kSheetTypeWorksheet) continue;
    std::u16string address;
    std::u16string name = sheet.getText(dispid::kName);
    if (!name.empty()) address = quoteSheetName(name) + u"!";
    CellRef first = CellRef::at(sheetIndex, batch.firstRow, batch.firstColumn);
    CellRef last = CellRef::at(sheetIndex, batch.lastRow, batch.lastColumn);
    address += cellText(first);
    if (!(first == last)) address += u":" + cellText(last);

    if (batch.cells.size() > kBulkWriteThreshold) {
      ExcelObject range = application.object(dispid::kApplicationRange, {Variant::text(address)});
      Variant values = range.get(dispid::kValue2);
      if (values.type() == VarType::kArray && values.array().dimensions == 2) {
        VariantArray array = values.array();
        for (Cell* cell : batch.cells) {
          int32_t i = array.lower[0] + int32_t(cell->address.row() - batch.firstRow);
          int32_t j = array.lower[1] + int32_t(cell->address.column() - batch.firstColumn);
          if (uint32_t(i - array.lower[0]) >= array.count[0] ||
              uint32_t(j - array.lower[1]) >= array.count[1]) {
            continue;
          }
          array.at(i, j) = toVariant(*cell->value, true);
        }
        range.put(dispid::kValue2, Variant::array(std::move(array)));
        continue;
      }
    }
    if (host == nullptr) continue;
    for (Cell* cell : batch.cells) host->publishCell(cell);
  }
  return true;
}

bool DataExchangeService::applyByCell(const std::vector<DataRecord>& records,
                                      std::optional<SystemColour> background,
                                      std::optional<SystemColour> font) {
  Engine& engine = *runtime_.engine();
  ExcelCalcHost* host = connection_.calcHost();
  std::vector<Cell*> imported;
  for (const DataRecord& record : records) {
    Cell* cell = importTarget(record);
    if (cell == nullptr) continue;
    cell->ensureValue() = record.value;
    if (host != nullptr) host->publishCell(cell);
    engine.recalculation().markChanged(cell);
    imported.push_back(cell);
  }
  if (host == nullptr) return true;
  const std::optional<ProtectionTable>& table = runtime_.settings().protectionTable;
  for (Cell* cell : imported) {
    uint32_t sheet = cell->address.sheet();
    if (table && sheet < table->sheetWords.size() &&
        (table->sheetWords[sheet] & kSheetKeepsFormatting) != 0) {
      continue;
    }
    if (background) host->setInteriorColour(cell->address, *background);
    if (font) host->setFontColour(cell->address, *font);
  }
  return true;
}

void DataExchangeService::recalculateImported() {
  Engine& engine = *runtime_.engine();
  std::vector<Cell*> changed = engine.changedCells;
  const std::vector<Cell*>& volatileCells = engine.model().alwaysRecalculatedCells();
  changed.insert(changed.end(), volatileCells.begin(), volatileCells.end());
  engine.recalculation().recalculateChanged(changed, true);
  engine.changedCells.clear();
}

}  // namespace korvel
