#include "tools/korvel/calc_commands.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

#include "compiler/formula_parser.h"
#include "compiler/model_builder.h"
#include "compiler/starting_values.h"
#include "compiler/workbook_text.h"
#include "engine/engine.h"
#include "engine/evaluator.h"
#include "engine/locale_settings.h"
#include "engine/recalculation.h"
#include "engine/value_convert.h"
#include "functions/function_catalogue.h"
#include "hosts/headless/disk_files.h"
#include "hosts/headless/headless_calc_host.h"
#include "hosts/headless/headless_locale.h"
#include "hosts/headless/system_clock.h"
#include "model/address.h"
#include "tools/korvel/cell_display.h"
#include "tools/korvel/cell_text.h"
#include "tools/korvel/exit_status.h"
#include "tools/korvel/model_file.h"
#include "tools/korvel/progress.h"
#include "tools/korvel/workbook_input.h"
#include "util/text.h"

namespace korvel {

void installHeadlessLocale() {
  static HeadlessLocale locale;
  static SystemClock clock;
  installLocale(&locale, &clock);
}

namespace {

// A reference result is shown as the array of its cells' values; past this many cells it is
// shown as #VALUE!, as no one reads such a line.
constexpr uint64_t kMaxShownCells = 1u << 20;

// "Sheet1!B2", "'My sheet'!B2" or "B2" (the first sheet), read against the sheet names of the
// model. The sentinel when it does not read.
CellRef parseCellName(std::u16string_view text, const CompiledModel& model) {
  size_t bang = text.rfind(u'!');
  uint32_t sheet = 0;
  if (bang != std::u16string_view::npos) {
    std::u16string name(text.substr(0, bang));
    if (name.size() >= 2 && name.front() == u'\'' && name.back() == u'\'') {
      std::u16string unquoted;
      for (size_t i = 1; i + 1 < name.size(); ++i) {
        unquoted += name[i];
        if (name[i] == u'\'' && i + 2 < name.size() && name[i + 1] == u'\'') ++i;
      }
      name = unquoted;
    }
    const Sheet* found = model.sheets().findByExcelName(name);
    if (!found) return CellRef::none();
    sheet = found->index();
    text.remove_prefix(bang + 1);
  } else if (!model.sheets().empty()) {
    sheet = model.sheets().sheets().begin()->first;
  }
  SyntaxCell cell;
  if (!parseCellAddress(text, &cell) || cell.row > maxRow() || cell.column > maxColumn()) {
    return CellRef::none();
  }
  return CellRef::at(sheet, cell.row, cell.column);
}

// The sheet name as a reference shows it: in apostrophes when it is not a plain word.
std::string sheetPrefix(const CompiledModel& model, uint32_t index) {
  const Sheet* sheet = model.sheets().find(index);
  return sheet ? sheetReferenceName(sheet->excelName()) + "!" : "";
}

std::string cellName(const CompiledModel& model, CellRef address) {
  return sheetPrefix(model, address.sheet()) + toUtf8(cellText(address));
}

Value cellValue(const CompiledModel& model, CellRef address) {
  return shownCellValue(model.findCell(address));
}

// A reference stands for the value of its cell, or the array of its cells' values.
Value shownValue(const CompiledModel& model, const Value& value) {
  if (value.isReferenceList()) return Value::error(kErrorValue);
  if (!value.isReference()) return value;
  RangeRef range = normalizeRange(value.reference());
  if (!isValidRange(range) || range.first.sheet() != range.last.sheet()) {
    return Value::error(kErrorValue);
  }
  uint32_t rows = range.last.row() - range.first.row() + 1;
  uint32_t columns = range.last.column() - range.first.column() + 1;
  if (rows == 1 && columns == 1) return cellValue(model, range.first);
  if (uint64_t(rows) * columns > kMaxShownCells) return Value::error(kErrorValue);
  ValueArray array(columns, rows);
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c) {
      array.at(c, r) = cellValue(
          model, CellRef::at(range.first.sheet(), range.first.row() + r, range.first.column() + c));
    }
  }
  Value out;
  out.setArray(std::move(array));
  return out;
}

const char* kindName(const Value& value) {
  switch (value.kind()) {
    case ValueKind::kEmpty:
      return "empty";
    case ValueKind::kInteger:
    case ValueKind::kNumber:
      return "number";
    case ValueKind::kShortText:
    case ValueKind::kLongText:
      return "text";
    case ValueKind::kBoolean:
      return "boolean";
    case ValueKind::kArray:
      return "array";
    case ValueKind::kError:
      return "error";
    default:
      return "reference";
  }
}

// *workbook keeps the settings of a workbook input (a model input leaves it as it is).
bool loadInput(const std::string& path, CompiledModel& model, Workbook* workbook,
               Progress* progress = nullptr) {
  model.functions = &FunctionCatalogue::instance();
  if (sniffInput(path) == InputKind::kModel) {
    DiskFiles files;
    std::string error;
    if (readModelFile(files, fromUtf8(path), model, &error)) return true;
    if (progress) progress->clear();
    std::cerr << "korvel: " << error << "\n";
    return false;
  }
  std::vector<std::string> errors;
  if (readWorkbookFile(path, workbook, &errors) &&
      buildModel(*workbook, &FunctionCatalogue::instance(), model, &errors)) {
    return true;
  }
  if (progress) progress->clear();
  printWorkbookFaults(path, errors);
  return false;
}

void reportNotComputed(const HeadlessCalcHost& host) {
  std::string line = host.notComputedLine();
  if (!line.empty()) std::cerr << line << "\n";
}

// Sets the cell's value as the workbook would after an edit, and lists it as changed. The exit
// status: success, a usage error, or differs for a cell that refuses the entry.
int applySet(Engine& engine, const std::string& assignment) {
  CompiledModel& model = engine.model();
  size_t equals = assignment.find('=');
  if (equals == std::string::npos) {
    std::cerr << "korvel: --set " << assignment << ": expected CELL=VALUE\n";
    return kExitUsage;
  }
  CellRef address = parseCellName(fromUtf8(assignment.substr(0, equals)), model);
  if (address.isNone()) {
    std::cerr << "korvel: --set " << assignment << ": no such cell\n";
    return kExitUsage;
  }
  Value value;
  ParseError error;
  if (!parseConstant(fromUtf8(assignment.substr(equals + 1)), false, &value, &error)) {
    std::cerr << "korvel: --set " << assignment << ": " << error.message << "\n";
    return kExitUsage;
  }
  Cell* cell = model.cellAt(address);
  if (!cell->formulaRoots.empty() || cell->firstListIndex >= 0) {
    std::cerr << "korvel: --set " << assignment << ": the cell holds a formula\n";
    return kExitDiffers;
  }
  if (!cell->hasFlag(kCellInput)) {
    cell->setFlag(kCellInput, true);
    model.enterInLists(cell);
  }
  cell->ensureValue() = value;
  engine.recalculation().markChanged(cell);
  return kExitSuccess;
}

}  // namespace

namespace {

bool expandGet(const std::string& text, std::vector<std::string>* out) {
  size_t bang = text.rfind('!');
  size_t colon = text.find(':', bang == std::string::npos ? 0 : bang);
  if (colon == std::string::npos) {
    out->push_back(text);
    return true;
  }
  std::string prefix = bang == std::string::npos ? "" : text.substr(0, bang + 1);
  size_t start = prefix.size();
  SyntaxCell first, last;
  if (!parseCellAddress(fromUtf8(text.substr(start, colon - start)), &first) ||
      !parseCellAddress(fromUtf8(text.substr(colon + 1)), &last)) {
    return false;
  }
  if (first.row > last.row) std::swap(first.row, last.row);
  if (first.column > last.column) std::swap(first.column, last.column);
  if (uint64_t(last.row - first.row + 1) * (last.column - first.column + 1) > kMaxGetCells) {
    return false;
  }
  for (uint32_t row = first.row; row <= last.row; ++row) {
    for (uint32_t column = first.column; column <= last.column; ++column) {
      out->push_back(prefix + toUtf8(cellText(CellRef::at(0, row, column))));
    }
  }
  return true;
}

}  // namespace

bool insideSheetLimits(const std::string& text) {
  size_t bang = text.rfind('!');
  SyntaxCell cell;
  return parseCellAddress(fromUtf8(text.substr(bang == std::string::npos ? 0 : bang + 1)), &cell) &&
         cell.row <= maxRow() && cell.column <= maxColumn();
}

bool expandGets(const std::vector<std::string>& gets, std::vector<std::string>* out) {
  for (const std::string& get : gets) {
    if (!expandGet(get, out)) {
      std::cerr << "korvel: --get " << get << ": not a cell or a range of at most " << kMaxGetCells
                << " cells\n";
      return false;
    }
  }
  return true;
}

int calcCommand(const CalcOptions& options) {
  installHeadlessLocale();
  CompiledModel model;
  Workbook workbook;
  std::optional<Progress> progress(std::in_place, "korvel calc " + options.input);
  progress->step("loading");
  bool loaded = loadInput(options.input, model, &workbook, &*progress);
  if (!loaded) return kExitFailed;
  HeadlessCalcHost host(&model);
  Engine engine(model, &host);
  CellFormats formats(workbook);
  applyWorkbookSettings(std::move(workbook), engine, host);
  formats.date1904 = engine.date1904;
  // The model, the headless program and the formats hold all that is needed from here on: the
  // workbook's cells make room for what the computation takes.
  workbook = Workbook();
  progress->step("computing");
  engine.recalculation().setObserver(&*progress);
  computeStartingValues(engine, host);
  progress->step("recalculating");
  engine.recalculation().fullRecalculation();
  engine.recalculation().setObserver(nullptr);
  progress.reset();

  for (const std::string& assignment : options.sets) {
    if (int status = applySet(engine, assignment); status != kExitSuccess) return status;
  }
  if (!options.sets.empty()) {
    // As the recalculation cycle does: the cells recalculated on every pass join the changes.
    std::vector<Cell*> changed = std::move(engine.changedCells);
    engine.changedCells.clear();
    for (Cell* cell : model.alwaysRecalculatedCells()) changed.push_back(cell);
    engine.recalculation().recalculateChanged(std::move(changed), true);
  }

  std::vector<CellRef> shown;
  std::vector<std::string> wanted;
  if (!expandGets(options.gets, &wanted)) return kExitUsage;
  for (const std::string& cell : wanted) {
    CellRef address = parseCellName(fromUtf8(cell), model);
    if (address.isNone()) {
      std::cerr << "korvel: --get " << cell << ": no such cell\n";
      return kExitUsage;
    }
    shown.push_back(address);
  }
  if (options.gets.empty()) {
    for (Cell* cell : model.indexedCells()) {
      if (!cell->hasFlag(kCellInput) && !cell->address.isNone()) shown.push_back(cell->address);
    }
    std::sort(shown.begin(), shown.end(), CellRefLess());
  }

  auto text = [&](CellRef address, const Value& value) {
    return toUtf8(options.raw ? toText(value)
                              : displayedText(value, formats.at(address), formats.date1904));
  };
  if (options.json) {
    nlohmann::ordered_json cells = nlohmann::ordered_json::array();
    for (CellRef address : shown) {
      Value value = shownValue(model, cellValue(model, address));
      nlohmann::ordered_json entry{{"cell", cellName(model, address)},
                                   {"kind", kindName(value)},
                                   {"text", text(address, value)}};
      addJsonValue(value, &entry);
      cells.push_back(std::move(entry));
    }
    nlohmann::ordered_json notComputed = nlohmann::ordered_json::object();
    for (const auto& [name, calls] : host.notComputed()) notComputed[toUtf8(name)] = calls;
    nlohmann::ordered_json out{{"cells", std::move(cells)}, {"notComputed", notComputed}};
    std::cout << out.dump(2) << "\n";
  } else {
    for (CellRef address : shown) {
      std::cout << cellName(model, address) << " = "
                << text(address, shownValue(model, cellValue(model, address))) << "\n";
    }
  }
  reportNotComputed(host);
  return kExitSuccess;
}

int evalCommand(const EvalOptions& options) {
  installHeadlessLocale();
  std::u16string formula = fromUtf8(options.formula);
  ParseError parseError;
  if (!parseFormula(formula, &parseError)) {
    std::cerr << "korvel: " << cutForMessage(options.formula) << ": " << parseError.message << "\n";
    return kExitFailed;
  }

  Workbook workbook;
  std::vector<std::string> errors;
  if (!options.book.empty() && !readWorkbookFile(options.book, &workbook, &errors)) {
    printWorkbookFaults(options.book, errors);
    return kExitFailed;
  }
  // The cell the formula stands in: --at, else the first free cell of column A below the first
  // sheet's used rows (A1 without a book).
  size_t sheetIndex = 0;
  SyntaxCell at;
  if (!options.at.empty()) {
    std::u16string text = fromUtf8(options.at);
    size_t bang = text.rfind(u'!');
    std::u16string sheetName = bang == std::u16string::npos ? u"" : text.substr(0, bang);
    if (sheetName.size() >= 2 && sheetName.front() == u'\'' && sheetName.back() == u'\'') {
      sheetName = sheetName.substr(1, sheetName.size() - 2);
    }
    std::u16string cell = bang == std::u16string::npos ? text : text.substr(bang + 1);
    if (!parseCellAddress(cell, &at) || at.row > maxRow() || at.column > maxColumn()) {
      std::cerr << "korvel: --at " << options.at << ": not a cell\n";
      return kExitUsage;
    }
    if (!sheetName.empty()) {
      int found = workbook.findSheet(sheetName);
      if (found < 0 && !options.book.empty()) {
        std::cerr << "korvel: --at " << options.at << ": the book has no such sheet\n";
        return kExitUsage;
      }
      if (found < 0) {
        workbook.sheets.push_back(WorkbookSheet{sheetName, {}, {}, 0});
        found = int(workbook.sheets.size()) - 1;
      }
      sheetIndex = size_t(found);
    }
  } else if (!workbook.sheets.empty()) {
    const WorkbookSheet& first = workbook.sheets[0];
    uint32_t next = 0;
    for (const WorkbookCell& c : first.cells) next = std::max(next, c.row + 1);
    for (const ArrayFormula& a : first.arrays) next = std::max(next, a.lastRow + 1);
    at.row = std::min(next, maxRow());
  }
  if (workbook.sheets.empty()) workbook.sheets.push_back(WorkbookSheet{u"Sheet1", {}, {}, 0});

  // The formula takes the place of what the cell held.
  WorkbookSheet& sheet = workbook.sheets[sheetIndex];
  std::erase_if(sheet.cells,
                [&](const WorkbookCell& c) { return c.row == at.row && c.column == at.column; });
  WorkbookCell cell;
  cell.row = at.row;
  cell.column = at.column;
  cell.isFormula = true;
  cell.formula = formula;
  sheet.cells.push_back(cell);

  CompiledModel model;
  if (!buildModel(workbook, &FunctionCatalogue::instance(), model, &errors)) {
    for (const std::string& e : errors) std::cerr << "korvel: " << e << "\n";
    return kExitFailed;
  }
  CellFormats formats(workbook);
  HeadlessCalcHost host(&model);
  Engine engine(model, &host);
  applyWorkbookSettings(workbook, engine, host);
  if (options.date1904) {
    engine.date1904 = true;
    host.setDate1904(true);
  }
  computeStartingValues(engine, host);
  // The line on stderr tells what the formula itself could not compute.
  host.clearNotComputed();

  Cell* formulaCell = model.findCell(CellRef::at(uint32_t(sheetIndex), at.row, at.column));
  Value result;
  if (formulaCell && !formulaCell->formulaRoots.empty()) {
    // References are kept, so that one cell shows its value and a range the array of its values.
    result = evaluateFormula(engine, formulaCell->formulaRoots.front().get(), formulaCell,
                             kModeReference);
  }
  Value shown = shownValue(model, result);
  CellRef address = CellRef::at(uint32_t(sheetIndex), at.row, at.column);
  std::string text = toUtf8(
      options.raw ? toText(shown) : displayedText(shown, formats.at(address), engine.date1904));
  if (options.json) {
    nlohmann::ordered_json out{{"formula", options.formula},
                               {"cell", cellName(model, address)},
                               {"kind", kindName(shown)},
                               {"text", text}};
    addJsonValue(shown, &out);
    std::cout << out.dump(2) << "\n";
  } else {
    std::cout << text << "\n";
  }
  reportNotComputed(host);
  return kExitSuccess;
}

}  // namespace korvel
