// Which cells count: a formula cell with a stored value, and every member of an array formula
// whose stored result holds an element for it (an array formula stored with a single value counts
// at its anchor only, as the members' own values are not known). A cell is "not computed" when its
// formula was rejected, when its evaluation called something the engine hands to the host program
// (or an unknown function), or when it reads such a cell, directly, through a range or a name;
// the value it got is not the engine's own, so it is neither a match nor a mismatch. A cell that
// draws random numbers, or reads one that does, is neither: it is counted apart.

#include "tools/korvel/check_command.h"

#include <algorithm>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>
#include <vector>

#include "compiler/model_builder.h"
#include "compiler/starting_values.h"
#include "engine/engine.h"
#include "engine/locale_settings.h"
#include "engine/recalculation.h"
#include "engine/value_convert.h"
#include "functions/function_catalogue.h"
#include "hosts/headless/headless_calc_host.h"
#include "hosts/headless/headless_locale.h"
#include "hosts/headless/system_clock.h"
#include "model/address.h"
#include "tools/korvel/calc_commands.h"
#include "tools/korvel/cell_display.h"
#include "tools/korvel/exit_status.h"
#include "tools/korvel/progress.h"
#include "tools/korvel/workbook_input.h"
#include "util/text.h"

namespace korvel {
namespace {

struct Expected {
  Value value;
  const std::u16string* formula;  // the workbook's text of the cell's formula (the anchor's)
  bool arrayMember = false;       // a member of an array formula, the anchor included
};

using ExpectedCells = std::map<CellRef, Expected, CellRefLess>;

ExpectedCells expectedCells(const Workbook& workbook) {
  ExpectedCells out;
  for (uint32_t s = 0; s < workbook.sheets.size(); ++s) {
    const WorkbookSheet& sheet = workbook.sheets[s];
    for (const WorkbookCell& cell : sheet.cells) {
      const Value* cached = cell.cached();
      if (cached == nullptr || cached->kind() == ValueKind::kEmpty) continue;
      out[CellRef::at(s, cell.row, cell.column)] = Expected{*cached, &cell.formula, false};
    }
    for (const ArrayFormula& array : sheet.arrays) {
      if (!array.cached) continue;
      if (!array.cached->isArray()) {
        if (array.cached->kind() == ValueKind::kEmpty) continue;
        out[CellRef::at(s, array.firstRow, array.firstColumn)] =
            Expected{*array.cached, &array.formula, true};
        continue;
      }
      const ValueArray& elements = array.cached->array();
      for (uint32_t r = 0; r < elements.rows() && array.firstRow + r <= array.lastRow; ++r) {
        for (uint32_t c = 0; c < elements.columns() && array.firstColumn + c <= array.lastColumn;
             ++c) {
          const Value& element = elements.at(c, r);
          if (element.kind() == ValueKind::kEmpty) continue;
          out[CellRef::at(s, array.firstRow + r, array.firstColumn + c)] =
              Expected{element, &array.formula, true};
        }
      }
    }
  }
  return out;
}

std::string cellName(const Workbook& workbook, CellRef address) {
  std::u16string sheet = workbook.sheets[address.sheet()].name;
  bool plain = !sheet.empty() && !isDigit(sheet.front());
  for (char16_t unit : sheet) {
    plain = plain && (isLetter(unit) || isDigit(unit) || unit == u'_' || unit == u'.');
  }
  return toUtf8(plain ? sheet : quoteSheetName(sheet)) + "!" +
         toUtf8(cellText(CellRef::at(0, address.row(), address.column())));
}

// Texts in double quotes, so that the text "1" is told from the number 1.
std::string shownText(const Value& value) {
  std::string text = toUtf8(toText(value));
  if (value.kind() == ValueKind::kShortText || value.kind() == ValueKind::kLongText) {
    return "\"" + text + "\"";
  }
  if (value.kind() == ValueKind::kEmpty) return "empty";
  return text;
}

// "xl/worksheets/sheet1.xml: C7: position 3: ...": a fault of one cell of a package part.
bool isCellFault(const std::string& message) {
  size_t colon = message.find(": ");
  if (colon == std::string::npos) return false;
  size_t i = colon + 2, letters = 0, digits = 0;
  while (i < message.size() && message[i] >= 'A' && message[i] <= 'Z') ++i, ++letters;
  while (i < message.size() && message[i] >= '0' && message[i] <= '9') ++i, ++digits;
  return letters >= 1 && letters <= 3 && digits >= 1 && message.compare(i, 2, ": ") == 0;
}

// Whether a formula text calls RAND, RANDBETWEEN or RANDARRAY (newer names may carry their
// "_xlfn." prefix); string literals are passed over.
bool callsRandom(std::u16string_view formula) {
  auto identifier = [](char16_t u) { return isLetter(u) || isDigit(u) || u == u'_' || u == u'.'; };
  for (size_t i = 0; i < formula.size(); ++i) {
    if (formula[i] == u'"') {
      size_t close = formula.find(u'"', i + 1);
      if (close == std::u16string_view::npos) return false;
      i = close;  // a doubled quote inside the text opens and closes at once
      continue;
    }
    if (!identifier(formula[i])) continue;
    size_t end = i;
    while (end < formula.size() && identifier(formula[end])) ++end;
    std::u16string_view name = formula.substr(i, end - i);
    i = end - 1;
    if (end >= formula.size() || formula[end] != u'(') continue;
    if (startsWithNoCase(name, u"_xlfn.")) name.remove_prefix(6);
    if (equalsNoCase(name, u"RAND") || equalsNoCase(name, u"RANDBETWEEN") ||
        equalsNoCase(name, u"RANDARRAY")) {
      return true;
    }
  }
  return false;
}

// The cells whose formulas draw random numbers, and the cells that read them.
CellSet randomCells(const Workbook& workbook, const CompiledModel& model) {
  CellSet start;
  auto add = [&](uint32_t sheet, uint32_t row, uint32_t column, const std::u16string& formula) {
    if (!callsRandom(formula)) return;
    if (Cell* cell = model.findCell(CellRef::at(sheet, row, column))) start.insert(cell);
  };
  for (uint32_t s = 0; s < workbook.sheets.size(); ++s) {
    const WorkbookSheet& sheet = workbook.sheets[s];
    for (const WorkbookCell& cell : sheet.cells) {
      if (cell.isFormula) add(s, cell.row, cell.column, cell.formula);
    }
    for (const ArrayFormula& array : sheet.arrays) {
      if (!callsRandom(array.formula)) continue;
      for (uint32_t r = array.firstRow; r <= array.lastRow; ++r) {
        for (uint32_t c = array.firstColumn; c <= array.lastColumn; ++c) {
          add(s, r, c, array.formula);
        }
      }
    }
  }
  return start.empty() ? start : cellsDependingOn(model, start);
}

std::string formulaText(const std::u16string& formula) {
  std::string text = toUtf8(formula);
  return !text.empty() && text[0] == '=' ? text : "=" + text;
}

}  // namespace

int checkCommand(const CheckOptions& options) {
  installHeadlessLocale();
  Workbook workbook;
  std::vector<std::string> errors;
  std::optional<Progress> progress(std::in_place, "korvel check " + options.input);
  progress->step("reading");
  if (!readWorkbookFile(options.input, &workbook, &errors)) {
    progress.reset();
    printWorkbookFaults(options.input, errors);
    if (errors.empty()) std::cerr << options.input << ": cannot be read\n";
    return kExitFailed;
  }
  // The stored results were computed when the workbook was saved: TODAY and NOW read that
  // instant, so the cells that use them are checked like the others.
  static HeadlessLocale locale;
  static FixedClock savedClock{LocalTime{}};
  if (workbook.savedAt && !options.now) {
    savedClock.set(*workbook.savedAt);
    installLocale(&locale, &savedClock);
  }
  // The package reader keeps a cell whose formula it rejects as its stored value, a constant:
  // such cells are counted here as rejected formulas (checked, not computed). The cells that read
  // them compute from the stored value.
  size_t rejectedByReader = 0;
  for (const std::string& e : errors) {
    if (isCellFault(e)) ++rejectedByReader;
  }
  CompiledModel model;
  std::vector<CellRef> rejected;
  progress->step("compiling");
  if (!buildModel(workbook, &FunctionCatalogue::instance(), model, &errors,
                  BuildOptions{.skipBadFormulas = true}, &rejected)) {
    progress.reset();
    printWorkbookFaults(options.input, errors);
    return kExitFailed;
  }
  // Rejected formulas are reported, counted as not computed, and the rest is checked.
  progress->clear();
  printWorkbookFaults(options.input, errors);

  // No stored result is trusted: every formula cell starts empty.
  for (Cell* cell : model.indexedCells()) {
    if (!cell->hasFlag(kCellInput) && cell->value) cell->value->clear();
  }
  for (CellRef address : rejected) {
    if (Cell* cell = model.findCell(address); cell && cell->value) cell->value->clear();
  }

  HeadlessCalcHost host(&model);
  Engine engine(model, &host);
  applyWorkbookSettings(workbook, engine, host);
  engine.output = false;
  host.takeCellsNeedingHost();
  progress->step("computing");
  engine.recalculation().setObserver(&*progress);
  engine.recalculation().computeAll();
  engine.recalculation().setObserver(nullptr);
  progress.reset();
  CellSet start = host.takeCellsNeedingHost();
  for (CellRef address : rejected) {
    if (Cell* cell = model.findCell(address)) start.insert(cell);
  }
  CellSet notComputed = cellsDependingOn(model, start);
  const CellSet random = randomCells(workbook, model);

  size_t checked = rejectedByReader, matched = 0, mismatched = 0, uncomputed = rejectedByReader;
  size_t uncompared = 0;
  nlohmann::ordered_json mismatches = nlohmann::ordered_json::array();
  for (const auto& [address, expected] : expectedCells(workbook)) {
    Cell* cell = model.findCell(address);
    if (cell != nullptr && random.count(cell)) {
      ++uncompared;
      continue;
    }
    ++checked;
    if (!cell || notComputed.count(cell)) {
      ++uncomputed;
      continue;
    }
    Value got = shownCellValue(cell);
    if (resultsMatch(expected.value, got, options.tolerance)) {
      ++matched;
      continue;
    }
    ++mismatched;
    std::string name = cellName(workbook, address);
    std::string formula = formulaText(*expected.formula);
    if (expected.arrayMember) formula = "{" + formula + "}";
    if (options.json) {
      mismatches.push_back({{"cell", name},
                            {"expected", shownText(expected.value)},
                            {"got", shownText(got)},
                            {"formula", formula}});
    } else {
      std::cout << name << ": expected " << shownText(expected.value) << ", got " << shownText(got)
                << " (formula " << formula << ")\n";
    }
  }

  // The functions that kept cells from being computed, the most frequent first.
  std::vector<std::pair<std::u16string, size_t>> functions(host.notComputed().begin(),
                                                           host.notComputed().end());
  std::stable_sort(functions.begin(), functions.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });

  bool anyRejected = !rejected.empty() || rejectedByReader > 0;
  int status = anyRejected ? kExitFailed : mismatched > 0 ? kExitDiffers : kExitSuccess;
  if (options.json) {
    nlohmann::ordered_json byFunction = nlohmann::ordered_json::object();
    for (const auto& [name, calls] : functions) byFunction[toUtf8(name)] = calls;
    nlohmann::ordered_json rejectedCells = nlohmann::ordered_json::array();
    for (CellRef address : rejected) rejectedCells.push_back(cellName(workbook, address));
    nlohmann::ordered_json out{{"file", options.input},
                               {"checked", checked},
                               {"matched", matched},
                               {"mismatched", mismatched},
                               {"notComputed", uncomputed},
                               {"random", uncompared},
                               {"mismatches", std::move(mismatches)},
                               {"notComputedFunctions", std::move(byFunction)},
                               {"rejectedFormulas", std::move(rejectedCells)},
                               {"rejectedCells", rejectedByReader}};
    std::cout << out.dump(2) << "\n";
    return status;
  }
  std::cout << "checked " << checked << " formula cells: " << matched << " matched, " << mismatched
            << " mismatched, " << uncomputed << " not computed\n";
  if (uncompared > 0) std::cout << "not compared (random): " << uncompared << "\n";
  if (!functions.empty()) {
    std::cout << "not computed calls:";
    bool first = true;
    for (const auto& [name, calls] : functions) {
      std::cout << (first ? " " : ", ") << toUtf8(name) << " " << calls;
      first = false;
    }
    std::cout << "\n";
  }
  if (rejectedByReader > 0) std::cout << "rejected cells: " << rejectedByReader << "\n";
  if (!rejected.empty()) {
    std::cout << "rejected formulas: " << rejected.size() << " (";
    constexpr size_t kListed = 10;  // stderr has every one, with the parser's message
    for (size_t i = 0; i < rejected.size() && i < kListed; ++i) {
      std::cout << (i ? ", " : "") << cellName(workbook, rejected[i]);
    }
    if (rejected.size() > kListed) std::cout << " and " << rejected.size() - kListed << " more";
    std::cout << ")\n";
  }
  return status;
}

}  // namespace korvel
