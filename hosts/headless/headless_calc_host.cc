#include "hosts/headless/headless_calc_host.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <utility>

#include "engine/evaluator.h"
#include "engine/native_function.h"
#include "hosts/headless/functions/host_call_text.h"
#include "hosts/headless/functions/host_functions.h"
#include "model/cell.h"
#include "model/compiled_model.h"
#include "model/nodes/node.h"
#include "util/text.h"

namespace korvel {
namespace {

constexpr std::u16string_view kFuturePrefix = u"_XLFN.";
constexpr std::u16string_view kWorksheetPrefix = u"_XLWS.";

}  // namespace

bool CellRefLess::operator()(const CellRef& a, const CellRef& b) const {
  if (a.sheet() != b.sheet()) return a.sheet() < b.sheet();
  if (a.row() != b.row()) return a.row() < b.row();
  if (a.column() != b.column()) return a.column() < b.column();
  // Words that differ only in bits the accessors mask stay distinct keys.
  return a.columnWord != b.columnWord ? a.columnWord < b.columnWord : a.rowWord < b.rowWord;
}

void HeadlessCalcHost::setWorkbookFormula(CellRef cell, std::u16string_view text) {
  std::u16string& texts = workbookFormulaTexts_;
  const size_t start = texts.size();
  if (start > UINT32_MAX - 2 - text.size()) throw std::bad_alloc();
  texts.append(2, u'\0');  // the length, known once the text is in
  if (text.empty() || text[0] != u'=') texts += u'=';
  // Files store newer functions with a prefix ("_xlfn.", "_xlws.") that formulas never show.
  size_t i = std::min(text.find(u'_'), text.size());
  texts.append(text.substr(0, i));
  while (i < text.size()) {
    std::u16string_view rest = text.substr(i);
    if (startsWithNoCase(rest, u"_xlfn.") || startsWithNoCase(rest, u"_xlws.")) {
      i += 6;
      continue;
    }
    texts += text[i++];
  }
  const uint32_t length = uint32_t(texts.size() - start - 2);
  texts[start] = char16_t(length & 0xFFFF);
  texts[start + 1] = char16_t(length >> 16);
  workbookFormulas_.set(cell, uint32_t(start));
}

void HeadlessCalcHost::reserveWorkbookFormulas(size_t texts, size_t units) {
  // Each text takes its length and perhaps an "=" beside its own units.
  workbookFormulaTexts_.reserve(workbookFormulaTexts_.size() + units + 3 * texts);
}

std::optional<std::u16string_view> HeadlessCalcHost::workbookFormula(CellRef cell) const {
  const uint32_t* start = workbookFormulas_.find(cell);
  if (start == nullptr) return std::nullopt;
  const char16_t* at = workbookFormulaTexts_.data() + *start;
  const uint32_t length = uint32_t(at[0]) | (uint32_t(at[1]) << 16);
  return std::u16string_view(at + 2, length);
}

const Value* HeadlessCalcHost::publishedValue(CellRef address) const {
  return published_.find(address);
}

CellSet HeadlessCalcHost::takeCellsNeedingHost() {
  CellSet cells;
  cells.swap(cellsNeedingHost_);
  return cells;
}

void HeadlessCalcHost::clearNotComputed() {
  notComputed_.clear();
  notComputedCount_ = 0;
  cellsNeedingHost_.clear();
}

std::string HeadlessCalcHost::notComputedLine() const {
  if (notComputedCount_ == 0) return std::string();
  std::string line = "not computed:";
  bool first = true;
  for (const auto& [name, calls] : notComputed_) {
    line += first ? " " : ", ";
    line += toUtf8(name) + " " + std::to_string(calls);
    first = false;
  }
  return line;
}

void HeadlessCalcHost::publishCell(Cell* cell) {
  if (!cell) return;
  published_.set(cell->address, cell->value ? *cell->value : Value());
  ++publishCount_;
}

bool HeadlessCalcHost::calculateAndRead(CellRef address, Value& out) {
  const Cell* cell = model_ ? model_->findCell(address) : nullptr;
  if (!cell) return false;
  if (cell->value) {
    out = *cell->value;
  } else {
    out.clear();
  }
  return true;
}

void HeadlessCalcHost::count(std::u16string name, Value& out) {
  // Functions newer than the catalogue carry a prefix in formulas; the count names the function.
  if (name.size() > kFuturePrefix.size() && startsWithNoCase(name, kFuturePrefix)) {
    name.erase(0, kFuturePrefix.size());
  }
  ++notComputed_[std::move(name)];
  ++notComputedCount_;
  if (Cell* cell = currentCell()) cellsNeedingHost_.insert(cell);
  out.setError(kErrorName);
}

// Answers as the host program's Evaluate does: 0 when the text gave cells (out holds their
// value), 1 for a value; what the headless program cannot compute is counted and gives #NAME?.
int HeadlessCalcHost::evaluate(std::u16string_view text, bool, Value& out) {
  if (computesFunctions_ && model_ && model_->engine) {
    CallContext context{currentCell(), model_->engine};
    switch (computeCallText(context, text, out)) {
      case CallTextResult::kCells:
        return 0;
      case CallTextResult::kValue:
        return 1;
      case CallTextResult::kNotComputed:
        break;
    }
  }
  count(leadingFunctionName(text), out);
  return 1;
}

bool HeadlessCalcHost::callWorksheetFunction(int number, const std::vector<const Value*>& arguments,
                                             int, Value& out) {
  const std::u16string* name =
      model_ && model_->functions ? model_->functions->functionName(number) : nullptr;
  NativeRoutine routine = name && computesFunctions_ ? hostRoutine(*name) : nullptr;
  if (routine == nullptr || model_->engine == nullptr) {
    count(name ? *name : u"#" + fromUtf8(std::to_string(number)), out);
    return true;
  }
  std::vector<const Value*> terminated(arguments);
  terminated.push_back(nullptr);
  CallContext context{currentCell(), model_->engine};
  routine(context, terminated.data(), out);
  return true;
}

// A workbook may name a newer function without the prefix it needs ("CONCAT(" typed into a file
// by another program): the call then reaches the host as a macro of that name, and the function
// of the name answers it.
bool HeadlessCalcHost::callFunctionNamed(std::u16string_view name,
                                         const std::vector<const Value*>& arguments, Value& out) {
  if (!computesFunctions_ || model_ == nullptr || model_->engine == nullptr) return false;
  return korvel::callFunctionNamed(*model_->engine, name, arguments, out);
}

namespace {
constexpr int kSubtotalFunction = 344;
}  // namespace

bool HeadlessCalcHost::computeCall(Engine& engine, const CallNode& node, int mode, Value& out) {
  if (!computesFunctions_) return false;
  if (anyRowFiltered() && node.functionNumber() == kSubtotalFunction) {
    // The rows a filter hides are left out by every code: the headless program's SUBTOTAL knows
    // them.
    std::vector<Value> values(node.children().size());
    std::vector<const Value*> arguments;
    for (size_t i = 0; i < values.size(); ++i) {
      evaluateNode(engine, node.children()[i].get(), kModeReference, values[i]);
      arguments.push_back(&values[i]);
    }
    return callFunctionNamed(u"SUBTOTAL", arguments, out);
  }
  // The engine's own calls reach here only so that SUBTOTAL could be taken: they stay its own.
  const NativeFunction* native = node.native();
  if (!lambdas_.active() && native != nullptr && native->isNative()) return false;
  return lambdas_.compute(engine, node, mode, out);
}

void HeadlessCalcHost::runMacro(std::u16string_view name,
                                const std::vector<const Value*>& arguments, Value& out) {
  if (callFunctionNamed(name, arguments, out)) return;
  count(std::u16string(name), out);
}

void HeadlessCalcHost::runMacroArray(std::u16string_view name,
                                     const std::vector<const Value*>& arguments, Value& out) {
  if (callFunctionNamed(name, arguments, out)) return;
  count(std::u16string(name), out);
}

int HeadlessCalcHost::directPrecedents(Cell*, std::vector<RangeRef>& areas) {
  areas.clear();
  return 0;
}

std::u16string HeadlessCalcHost::leadingFunctionName(std::u16string_view text) {
  text = trim(text);
  if (!text.empty() && text.front() == u'=') text.remove_prefix(1);
  text = trim(text);
  size_t end = 0;
  while (end < text.size() && (isLetter(text[end]) || isDigit(text[end]) || text[end] == u'.' ||
                               text[end] == u'_' || text[end] == u'\\')) {
    ++end;
  }
  if (end == 0 || end >= text.size() || text[end] != u'(') return std::u16string(text);
  std::u16string name = toUpper(text.substr(0, end));
  // Files nest the prefixes of newer functions: "_xlfn._xlws.SORT".
  for (std::u16string_view prefix : {kFuturePrefix, kWorksheetPrefix}) {
    if (name.size() > prefix.size() && name.starts_with(prefix)) name.erase(0, prefix.size());
  }
  return name;
}

// Widths are stored in characters of the standard font's widest digit with the cell padding
// added; the program shows whole pixels: a digit of the standard font (11 points) is 7 pixels
// wide and the padding 5.
namespace {
constexpr int kDigitPixels = 7;
constexpr int kPaddingPixels = 5;
constexpr double kStandardWidth = 8 + double(kPaddingPixels) / kDigitPixels;

int shownCharacters(double width) {
  const double pixels =
      std::trunc((256 * width + std::trunc(128.0 / kDigitPixels)) / 256 * kDigitPixels);
  return std::max(0, int((pixels - kPaddingPixels) / kDigitPixels));
}
}  // namespace

void HeadlessCalcHost::setColumnWidth(uint32_t sheet, uint32_t firstColumn, uint32_t lastColumn,
                                      double width) {
  columnWidths_[sheet].push_back({firstColumn, lastColumn, width});
}

void HeadlessCalcHost::setDefaultColumnWidth(uint32_t sheet, double width) {
  defaultColumnWidths_[sheet] = width;
}

int HeadlessCalcHost::columnCharacters(uint32_t sheet, uint32_t column, bool* standard) const {
  if (auto spans = columnWidths_.find(sheet); spans != columnWidths_.end()) {
    for (auto it = spans->second.rbegin(); it != spans->second.rend(); ++it) {
      if (column < it->first || column > it->last) continue;
      *standard = false;
      return shownCharacters(it->width);
    }
  }
  *standard = true;
  auto found = defaultColumnWidths_.find(sheet);
  return shownCharacters(found != defaultColumnWidths_.end() ? found->second : kStandardWidth);
}

}  // namespace korvel
