// Building happens in passes: sheets, the workbook's own cells, the names (registered first, so
// that names may refer to names defined later), the names' expressions, then the formulas. A
// fault in one item is reported and the item skipped, so one build lists every fault.

#include "compiler/model_builder.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <type_traits>
#include <utility>

#include "compiler/formula_parser.h"
#include "compiler/starting_values.h"
#include "engine/value_encoding.h"
#include "hosts/headless/lambda_calls.h"
#include "model/address.h"
#include "model/model_stream.h"
#include "util/text.h"

namespace korvel {
namespace {

// Sheet 0xFFFF stands for 0xFFFE in lookups, which never names a real sheet.
// Every member of an array formula becomes a cell of its own.
constexpr uint64_t kMaxArrayCells = 100000;
constexpr size_t kMaxNodeRecordLength = 0xFFFF;
constexpr size_t kArrayRecordFixedPart = 12;

// Functions whose result may change without a change of their arguments' cells, and those whose
// references are computed when they run.
constexpr std::u16string_view kVolatileFunctions[] = {
    u"INDIRECT", u"OFFSET", u"NOW", u"TODAY", u"RAND", u"RANDBETWEEN", u"CELL", u"INFO"};
constexpr std::u16string_view kComputedReferenceFunctions[] = {u"INDIRECT", u"OFFSET"};
// The functions that take a reference across several sheets (Sheet1:Sheet3!A1): each of them
// reads the area on every sheet as it would read one argument per sheet, which is how the
// reference is built. Elsewhere such a reference is #VALUE!.
constexpr std::u16string_view kSheetSpanFunctions[] = {
    u"SUM",  u"AVERAGE", u"AVERAGEA", u"COUNT",  u"COUNTA", u"MAX",     u"MAXA",    u"MIN",
    u"MINA", u"PRODUCT", u"STDEV",    u"STDEVA", u"STDEVP", u"STDEVPA", u"STDEV.S", u"STDEV.P",
    u"VAR",  u"VARA",    u"VARP",     u"VARPA",  u"VAR.S",  u"VAR.P"};
// The most arguments a call may have, a reference across several sheets counting once per sheet.
constexpr size_t kMaxCallArguments = 255;
constexpr std::u16string_view kFuturePrefix = u"_XLFN.";

bool contains(const std::u16string_view* begin, const std::u16string_view* end,
              std::u16string_view name) {
  return std::find(begin, end, name) != end;
}

// The names files give a LAMBDA's parameters and LET's variables ("_xlpm.x", "_xlop.x" when
// optional) and a function passed as a value ("_xleta.SUM"). The model keeps them as calls without
// arguments under those names; the host program binds them when it computes the LET or LAMBDA
// around them.
bool isLambdaPlaceholder(std::u16string_view name) {
  return startsWithNoCase(name, u"_xlpm.") || startsWithNoCase(name, u"_xlop.") ||
         startsWithNoCase(name, u"_xleta.");
}

// What a formula or a name's expression reads.
struct Reads {
  std::vector<Cell*> cells;
  std::vector<RangeRef> ranges;
  std::set<size_t> names;
  // Names called as functions (names holding a LAMBDA): what they read is read too, but a LAMBDA
  // may call itself, so they never make a name refer to itself.
  std::set<size_t> calledNames;
  uint32_t flags = 0;  // kCellAlwaysRecalculated, kCellRederivePrecedents

  void merge(const Reads& other) {
    cells.insert(cells.end(), other.cells.begin(), other.cells.end());
    ranges.insert(ranges.end(), other.ranges.begin(), other.ranges.end());
    flags |= other.flags;
  }
};

// Where a node is being built: the sheet that unqualified references mean (-1: none), and the
// prefix of messages about it.
struct Place {
  int sheet = -1;
  std::string where;
};

// One workbook cell slot of a sheet, before cells exist.
struct Slot {
  const WorkbookCell* cell = nullptr;
  const ArrayFormula* array = nullptr;  // set for members of an array formula
  int line = 0;
};

class Builder {
 public:
  Builder(const Workbook& workbook, const FunctionResolver* functions, CompiledModel& model,
          std::vector<std::string>* errors, const BuildOptions& options,
          std::vector<CellRef>* skipped)
      : workbook_(workbook),
        functions_(functions),
        model_(model),
        errors_(errors),
        options_(options),
        skipped_(skipped) {}

  bool run() {
    if (model_.cellCount() != 0 || !model_.sheets().empty() || !model_.names.empty() ||
        !model_.rangeIndex().empty()) {
      fault(0, "the model to build into is not new");
      return false;
    }
    model_.functions = functions_;
    model_.applicationId = workbook_.applicationId;
    buildSheets();
    if (ok_) {
      // Later passes cope with the faults of earlier ones, so that one build reports them all.
      buildCells();
      registerNames();
      // With skipBadFormulas, a faulty expression costs its own item only.
      softFaults_ = options_.skipBadFormulas;
      buildNames();
      findNameCycles();
      buildFormulas();
      softFaults_ = false;
    }
    if (ok_) {
      assignIndexes();
    } else {
      clearModel();
    }
    return ok_;
  }

 private:
  void fault(int line, const std::string& message) {
    if (!softFaults_) ok_ = false;
    if (!errors_) return;
    errors_->push_back(line > 0 ? "line " + std::to_string(line) + ": " + message : message);
  }

  std::string sheetPrefix(uint32_t sheet) const {
    return toUtf8(workbook_.sheets[sheet].name) + "!";
  }
  std::string cellName(uint32_t sheet, uint32_t row, uint32_t column) const {
    return sheetPrefix(sheet) + toUtf8(cellText(CellRef::at(0, row, column)));
  }

  void buildSheets() {
    if (workbook_.sheets.size() > kMaxWorkbookSheets) {
      fault(0, "the workbook has more than " + std::to_string(kMaxWorkbookSheets) + " sheets");
      return;
    }
    for (size_t i = 0; i < workbook_.sheets.size(); ++i) {
      const WorkbookSheet& sheet = workbook_.sheets[i];
      std::u16string_view name = sheet.name;
      if (name.empty() || name.find_first_of(u":\\/?*[]") != std::u16string_view::npos) {
        fault(sheet.line, "'" + toUtf8(name) + "' is not a valid sheet name");
      } else if (workbook_.findSheet(name) != int(i)) {
        fault(sheet.line, "the sheet name '" + toUtf8(name) + "' is used twice");
      }
      model_.sheets().add(Sheet(uint32_t(i), sheet.name, sheet.name));
    }
  }

  // Places every workbook cell and array member, checks overlaps, sets values and array ranges.
  void buildCells() {
    // Counted first: a large workbook's list would otherwise hold its old and new storage at
    // once while it doubles.
    size_t formulas = 0;
    for (const WorkbookSheet& sheet : workbook_.sheets) {
      formulas += sheet.arrays.size();
      for (const WorkbookCell& cell : sheet.cells) formulas += cell.isFormula ? 1 : 0;
    }
    formulas_.reserve(formulas);
    for (uint32_t s = 0; s < workbook_.sheets.size(); ++s) {
      const WorkbookSheet& sheet = workbook_.sheets[s];
      if (sheet.arrays.empty() && inOrder(sheet)) {
        // Cells written row by row, each once, as workbook texts and packages give them: no
        // slot map is needed to order them or to find a cell defined twice.
        for (const WorkbookCell& cell : sheet.cells)
          placeCell(model_.cellAt(CellRef::at(s, cell.row, cell.column)), s, cell);
        model_.sheets().find(s)->range = usedRange(s, sheet.cells);
        continue;
      }
      std::map<std::pair<uint32_t, uint32_t>, Slot> slots;  // by row, then column
      auto claim = [&](uint32_t row, uint32_t column, Slot slot) {
        auto [it, added] = slots.emplace(std::make_pair(row, column), slot);
        if (added) return true;
        std::string other =
            it->second.line > 0 ? " (line " + std::to_string(it->second.line) + ")" : "";
        fault(slot.line, cellName(s, row, column) + " is defined twice" + other);
        return false;
      };
      for (const WorkbookCell& cell : sheet.cells) {
        if (cell.row > maxRow() || cell.column > maxColumn()) {
          fault(cell.line, "sheet " + toUtf8(sheet.name) + ": a cell outside the sheet");
          continue;
        }
        claim(cell.row, cell.column, Slot{&cell, nullptr, cell.line});
      }
      for (const ArrayFormula& array : sheet.arrays) {
        if (array.firstRow > array.lastRow || array.firstColumn > array.lastColumn ||
            array.lastRow > maxRow() || array.lastColumn > maxColumn()) {
          fault(array.line, "sheet " + toUtf8(sheet.name) + ": an array formula outside the sheet");
          continue;
        }
        uint64_t count = uint64_t(array.lastRow - array.firstRow + 1) *
                         (array.lastColumn - array.firstColumn + 1);
        if (count > kMaxArrayCells) {
          fault(array.line, cellName(s, array.firstRow, array.firstColumn) +
                                ": an array formula over more than " +
                                std::to_string(kMaxArrayCells) + " cells");
          continue;
        }
        // One overlap is reported, not every cell of it.
        bool clear = true;
        for (uint32_t r = array.firstRow; clear && r <= array.lastRow; ++r) {
          for (uint32_t c = array.firstColumn; clear && c <= array.lastColumn; ++c) {
            clear = claim(r, c, Slot{nullptr, &array, array.line});
          }
        }
      }
      for (const auto& [position, slot] : slots) {
        Cell* cell = model_.cellAt(CellRef::at(s, position.first, position.second));
        if (slot.cell) {
          placeCell(cell, s, *slot.cell);
        } else {
          placeArrayMember(cell, s, *slot.array);
        }
      }
      model_.sheets().find(s)->range = usedRange(s, slots);
    }
  }

  // Every cell inside the sheet, strictly by row and then column.
  bool inOrder(const WorkbookSheet& sheet) const {
    for (size_t i = 0; i < sheet.cells.size(); ++i) {
      const WorkbookCell& cell = sheet.cells[i];
      if (cell.row > maxRow() || cell.column > maxColumn()) return false;
      if (i > 0) {
        const WorkbookCell& before = sheet.cells[i - 1];
        if (std::make_pair(before.row, before.column) >= std::make_pair(cell.row, cell.column)) {
          return false;
        }
      }
    }
    return true;
  }

  void placeCell(Cell* cell, uint32_t sheet, const WorkbookCell& from) {
    if (!from.isFormula) {
      cell->ensureValue() = from.value;
      return;
    }
    if (const Value* cached = from.cached()) cell->ensureValue() = *cached;
    formulas_.push_back(Pending{cell, &from.formula, sheet, from.line});
  }

  void placeArrayMember(Cell* cell, uint32_t sheet, const ArrayFormula& array) {
    RangeRef range{CellRef::at(sheet, array.firstRow, array.firstColumn),
                   CellRef::at(sheet, array.lastRow, array.lastColumn)};
    cell->setArrayRange(range);
    bool anchor = cell->address == range.first;
    cell->setFlag(kCellArrayMember, true);
    cell->setFlag(kCellArrayElsewhere, !anchor);
    if (anchor) formulas_.push_back(Pending{cell, &array.formula, sheet, array.line});
    if (!array.cached) return;
    const Value& result = *array.cached;
    if (anchor || !result.isArray()) {
      cell->ensureValue() = result;
      return;
    }
    uint32_t c = cell->address.column() - array.firstColumn;
    uint32_t r = cell->address.row() - array.firstRow;
    const ValueArray& elements = result.array();
    cell->ensureValue() =
        c < elements.columns() && r < elements.rows() ? elements.at(c, r) : Value::error(kErrorNA);
  }

  // The used range of slots by row and column, or of cells in that order.
  template <class Slots>
  RangeRef usedRange(uint32_t sheet, const Slots& slots) const {
    if (slots.empty()) return RangeRef{CellRef::at(sheet, 0, 0), CellRef::at(sheet, 0, 0)};
    auto position = [](const auto& entry) {
      if constexpr (std::is_same_v<std::decay_t<decltype(entry)>, WorkbookCell>) {
        return std::make_pair(entry.row, entry.column);
      } else {
        return entry.first;
      }
    };
    uint32_t firstRow = position(*slots.begin()).first;
    uint32_t lastRow = position(*slots.rbegin()).first;
    uint32_t firstColumn = UINT32_MAX, lastColumn = 0;
    for (const auto& entry : slots) {
      firstColumn = std::min(firstColumn, position(entry).second);
      lastColumn = std::max(lastColumn, position(entry).second);
    }
    return RangeRef{CellRef::at(sheet, firstRow, firstColumn),
                    CellRef::at(sheet, lastRow, lastColumn)};
  }

  void registerNames() {
    for (const WorkbookName& name : workbook_.names) {
      int scope = -1;
      std::string label = "name " + toUtf8(name.name);
      if (!name.scopeSheet.empty()) {
        scope = workbook_.findSheet(name.scopeSheet);
        if (scope < 0) {
          fault(name.line, label + ": unknown sheet '" + toUtf8(name.scopeSheet) + "'");
        }
      }
      if (!isValidDefinedName(name.name)) {
        fault(name.line, "'" + toUtf8(name.name) + "' is not a valid name");
      }
      std::u16string upper = toUpper(name.name);
      if (!nameLookup_.emplace(std::make_pair(scope, upper), model_.names.size()).second) {
        fault(name.line, label + ": the name is defined twice" +
                             (scope >= 0 ? " for sheet " + toUtf8(name.scopeSheet) : ""));
      }
      DefinedName entry;
      entry.name = name.name;
      entry.scope = scope;
      model_.names.push_back(std::move(entry));
      model_.nameIndex.emplace(upper, model_.names.size() - 1);
    }
  }

  // The name's index: among the names of the sheet first (the qualifier's, else the current
  // one), then among the workbook-level names. -1 when none matches.
  int findName(std::u16string_view text, int sheet) const {
    std::u16string upper = toUpper(text);
    if (sheet >= 0) {
      auto it = nameLookup_.find({sheet, upper});
      if (it != nameLookup_.end()) return int(it->second);
    }
    auto it = nameLookup_.find({-1, upper});
    return it == nameLookup_.end() ? -1 : int(it->second);
  }

  void buildNames() {
    nameReads_.resize(workbook_.names.size());
    for (size_t i = 0; i < workbook_.names.size(); ++i) {
      const WorkbookName& name = workbook_.names[i];
      Place place{model_.names[i].scope, "name " + toUtf8(name.name) + ": "};
      model_.names[i].root = buildFormula(name.formula, name.line, place, &nameReads_[i]);
      if (!model_.names[i].root) badNames_.insert(i);
    }
  }

  // A name may refer to names, but never to itself: its value would have no end. Depth-first
  // with a stack of its own, as chains of names may be long.
  void findNameCycles() {
    std::vector<int> state(nameReads_.size(), 0);  // 0 new, 1 on the path, 2 done
    using Step = std::pair<size_t, std::set<size_t>::const_iterator>;
    for (size_t start = 0; start < nameReads_.size(); ++start) {
      if (state[start] != 0) continue;
      std::vector<Step> path{{start, nameReads_[start].names.begin()}};
      state[start] = 1;
      while (!path.empty()) {
        size_t index = path.back().first;
        auto& it = path.back().second;
        if (it == nameReads_[index].names.end()) {
          state[index] = 2;
          path.pop_back();
          continue;
        }
        size_t next = *it++;
        if (state[next] == 1) {
          reportCycle(path, next);
        } else if (state[next] == 0) {
          state[next] = 1;
          path.push_back({next, nameReads_[next].names.begin()});
        }
      }
    }
  }

  template <class Path>
  void reportCycle(const Path& path, size_t next) {
    std::string chain;
    auto from = std::find_if(path.begin(), path.end(),
                             [&](const auto& step) { return step.first == next; });
    for (auto it = from; it != path.end(); ++it) {
      chain += toUtf8(model_.names[it->first].name) + " -> ";
      badNames_.insert(it->first);
    }
    chain += toUtf8(model_.names[next].name);
    fault(workbook_.names[next].line, "name " + toUtf8(model_.names[next].name) +
                                          ": the name refers to itself (" + chain + ")");
  }

  // Adds what the names read, down through the names they use; each name once. Returns a faulty
  // name among them, or -1.
  int addNameReads(const std::set<size_t>& names, Reads* reads) const {
    int bad = -1;
    std::vector<size_t> stack(names.begin(), names.end());
    std::set<size_t> visited;
    while (!stack.empty()) {
      size_t index = stack.back();
      stack.pop_back();
      if (!visited.insert(index).second) continue;
      if (badNames_.count(index)) bad = int(index);
      reads->merge(nameReads_[index]);
      for (const std::set<size_t>* next :
           {&nameReads_[index].names, &nameReads_[index].calledNames})
        stack.insert(stack.end(), next->begin(), next->end());
    }
    return bad;
  }

  void buildFormulas() {
    for (const Pending& pending : formulas_) {
      Reads reads;
      const CellRef& at = pending.cell->address;
      Place place{int(pending.sheet), cellName(pending.sheet, at.row(), at.column()) + ": "};
      std::unique_ptr<Node> root = buildFormula(*pending.formula, pending.line, place, &reads);
      if (!root) {
        if (skipped_) skipped_->push_back(at);
        continue;
      }
      std::set<size_t> used(reads.names);
      used.insert(reads.calledNames.begin(), reads.calledNames.end());
      int badName = addNameReads(used, &reads);
      if (badName >= 0 && options_.skipBadFormulas) {
        // Without the option the faulty name has failed the build already.
        fault(pending.line,
              place.where + "reads the faulty name " + toUtf8(model_.names[size_t(badName)].name));
        if (skipped_) skipped_->push_back(at);
        continue;
      }
      Cell* cell = pending.cell;
      cell->formulaRoots.push_back(std::move(root));
      for (Cell* precedent : reads.cells) cell->addPrecedent(precedent);
      for (const RangeRef& range : reads.ranges) {
        RangeEntry* entry = model_.rangeIndex().add(range);
        // The cell's ranges are linked together, so a repeat can only be the last reader.
        if (entry->cells.empty() || entry->cells.back() != cell) entry->cells.push_back(cell);
      }
      cell->flags |= reads.flags;
    }
  }

  void assignIndexes() {
    int32_t next = 0;
    for (Cell* cell : model_.cells()) {
      if (!cell->formulaRoots.empty() || cell->hasFlag(kCellArrayMember)) {
        cell->firstListIndex = next++;
      } else {
        cell->setFlag(kCellInput, true);
      }
      model_.enterInLists(cell);
    }
  }

  void clearModel() {
    model_.rangeIndex().clear();
    model_.names.clear();
    model_.nameIndex.clear();
    model_.clearCells();
    model_.sheets().clear();
  }

  std::unique_ptr<Node> buildFormula(const std::u16string& formula, int line, const Place& place,
                                     Reads* reads) {
    ParseError error;
    std::unique_ptr<SyntaxNode> syntax = parseFormula(formula, &error);
    if (!syntax) {
      fault(line, place.where + error.message);
      return nullptr;
    }
    bool failed = false;
    std::unique_ptr<Node> root = buildNode(*syntax, line, place, reads, &failed);
    return failed ? nullptr : std::move(root);
  }

  std::unique_ptr<Node> buildNode(const SyntaxNode& s, int line, const Place& place, Reads* reads,
                                  bool* failed) {
    auto fail = [&](const std::string& message) -> std::unique_ptr<Node> {
      *failed = true;
      fault(line, place.where + "position " + std::to_string(s.position) + ": " + message);
      return nullptr;
    };
    std::unique_ptr<Node> node;
    switch (s.kind) {
      case SyntaxKind::kNumber:
        return std::make_unique<NumberNode>(s.number);
      case SyntaxKind::kText:
        return std::make_unique<TextNode>(s.text);
      case SyntaxKind::kBoolean:
        return std::make_unique<BooleanNode>(s.boolean);
      case SyntaxKind::kError:
        return std::make_unique<ErrorNode>(s.errorCode);
      case SyntaxKind::kMissing:
        return std::make_unique<MissingNode>();
      case SyntaxKind::kArray: {
        size_t length = kArrayRecordFixedPart;
        std::string encoded;
        for (const Value& element : s.array.elements()) encodeValue(element, &encoded);
        if (length + encoded.size() > kMaxNodeRecordLength) {
          return fail("the array constant is too large for one node record");
        }
        return std::make_unique<ArrayNode>(s.array);
      }
      case SyntaxKind::kReference:
        return buildReference(s, place, reads, fail);
      case SyntaxKind::kName: {
        int sheet = place.sheet;
        if (s.hasSheet) {
          sheet = workbook_.findSheet(s.sheet);
          if (sheet < 0) return fail("unknown sheet '" + toUtf8(s.sheet) + "'");
        }
        int index = findName(s.text, sheet);
        if (index < 0 && isLambdaPlaceholder(s.text) && !s.hasSheet) {
          return std::make_unique<CallNode>(toUpper(s.text), 0, functions_);
        }
        if (index < 0) {
          // The program keeps a formula that reads a name nobody defined (a typo, a deleted
          // name) and shows #NAME? in its cell; the cells reading that cell compute from it.
          return std::make_unique<ErrorNode>(kErrorName);
        }
        reads->names.insert(size_t(index));
        return std::make_unique<NameRefNode>(uint32_t(index));
      }
      case SyntaxKind::kCall:
        node = buildCall(s, place, reads);
        break;
      case SyntaxKind::kOperator:
        node = std::make_unique<OperatorNode>(s.code);
        break;
      case SyntaxKind::kComparison:
        node = std::make_unique<ComparisonNode>(s.code);
        break;
      case SyntaxKind::kUnion:
        node = std::make_unique<UnionNode>();
        break;
      case SyntaxKind::kIntersection:
        node = std::make_unique<IntersectionNode>();
        break;
      case SyntaxKind::kRange:
        // The area between two computed references has no node of its own: the host program
        // computes it, and the cell reads whatever area it gives.
        node = std::make_unique<CallNode>(std::u16string(kRangeCallName), 0, functions_);
        reads->flags |= kCellRederivePrecedents;
        break;
    }
    if (!node) return fail("an expression the model cannot hold");
    const bool spansSheets =
        s.kind == SyntaxKind::kCall &&
        contains(std::begin(kSheetSpanFunctions), std::end(kSheetSpanFunctions),
                 withoutFuturePrefix(toUpper(s.text)));
    size_t arguments = 0;
    for (const auto& child : s.children) {
      int first = -1, last = -1;
      if (spansSheets && child->kind == SyntaxKind::kReference && !child->lastSheet.empty()) {
        first = workbook_.findSheet(child->sheet);
        last = workbook_.findSheet(child->lastSheet);
      }
      if (first >= 0 && last >= 0) {
        if (first > last) std::swap(first, last);
        for (int sheet = first; sheet <= last; ++sheet) {
          std::unique_ptr<Node> built = buildReferenceOn(*child, sheet, reads, fail);
          if (!built) return nullptr;
          node->addChild(std::move(built));
        }
        arguments += size_t(last - first) + 1;
      } else {
        std::unique_ptr<Node> built = buildNode(*child, line, place, reads, failed);
        if (!built) return nullptr;
        node->addChild(std::move(built));
        ++arguments;
      }
    }
    if (spansSheets && arguments > kMaxCallArguments) {
      return fail("the call has more than " + std::to_string(kMaxCallArguments) +
                  " arguments, counting each sheet of a reference across sheets");
    }
    return node;
  }

  static std::u16string withoutFuturePrefix(std::u16string upper) {
    if (startsWithNoCase(upper, kFuturePrefix)) upper.erase(0, kFuturePrefix.size());
    return upper;
  }

  template <class Fail>
  std::unique_ptr<Node> buildReference(const SyntaxNode& s, const Place& place, Reads* reads,
                                       Fail& fail) {
    int sheet = place.sheet;
    if (!s.lastSheet.empty()) {
      // Across several sheets outside the functions that take it (those are built by the call),
      // or with a sheet the workbook lacks.
      if (workbook_.findSheet(s.sheet) < 0 || workbook_.findSheet(s.lastSheet) < 0) {
        return std::make_unique<ErrorNode>(kErrorRef);
      }
      return std::make_unique<ErrorNode>(kErrorValue);
    }
    if (s.hasSheet) {
      sheet = workbook_.findSheet(s.sheet);
      if (sheet < 0) return fail("unknown sheet '" + toUtf8(s.sheet) + "'");
    } else if (sheet < 0) {
      return fail("a reference in a workbook-level name needs a sheet, as in Sheet1!" +
                  s.describe());
    }
    return buildReferenceOn(s, sheet, reads, fail);
  }

  // The reference's cell or area on that sheet.
  template <class Fail>
  std::unique_ptr<Node> buildReferenceOn(const SyntaxNode& s, int sheet, Reads* reads, Fail& fail) {
    uint32_t sh = uint32_t(sheet);
    if (s.shape == ReferenceShape::kCell) {
      if (s.first.row > maxRow() || s.first.column > maxColumn()) {
        return fail("the reference " + s.describe() + " lies outside the sheet");
      }
      Cell* cell = model_.cellAt(CellRef::at(sh, s.first.row, s.first.column));
      reads->cells.push_back(cell);
      return std::make_unique<CellRefNode>(cell);
    }
    uint32_t row1 = std::min(s.first.row, s.last.row), row2 = std::max(s.first.row, s.last.row);
    uint32_t col1 = std::min(s.first.column, s.last.column);
    uint32_t col2 = std::max(s.first.column, s.last.column);
    uint8_t flags = 0;
    if (s.shape == ReferenceShape::kColumns) {
      row1 = 0;
      row2 = maxRow();
      flags = kRangeWholeColumns;
    } else if (s.shape == ReferenceShape::kRows) {
      col1 = 0;
      col2 = maxColumn();
      flags = kRangeWholeRows;
    }
    if (row2 > maxRow() || col2 > maxColumn()) {
      return fail("the reference " + s.describe() + " lies outside the sheet");
    }
    RangeRef range{CellRef::at(sh, row1, col1), CellRef::at(sh, row2, col2)};
    reads->ranges.push_back(range);
    return std::make_unique<RangeRefNode>(range, flags);
  }

  std::unique_ptr<Node> buildCall(const SyntaxNode& s, const Place& place, Reads* reads) {
    if (s.text.empty()) {
      // The call of a value (LAMBDA(x,x+1)(3)): the host program computes it.
      return std::make_unique<CallNode>(std::u16string(kAppliedCallName), 0, functions_);
    }
    std::u16string upper = toUpper(s.text);
    std::u16string_view base = upper;
    if (startsWithNoCase(base, kFuturePrefix)) base.remove_prefix(kFuturePrefix.size());
    std::u16string called = upper;
    int number = functions_ ? functions_->functionNumber(upper) : -1;
    if (number < 0 && base.size() != upper.size() && functions_) {
      number = functions_->functionNumber(base);
      if (number >= 0) called = std::u16string(base);
    }
    if (contains(std::begin(kVolatileFunctions), std::end(kVolatileFunctions), base)) {
      reads->flags |= kCellAlwaysRecalculated;
    }
    if (contains(std::begin(kComputedReferenceFunctions), std::end(kComputedReferenceFunctions),
                 base)) {
      reads->flags |= kCellRederivePrecedents;
    }
    if (number < 0) {
      // A defined name that holds a LAMBDA, called: the formula reads what its expression reads.
      int index = findName(s.text, place.sheet);
      if (index >= 0) reads->calledNames.insert(size_t(index));
    }
    return std::make_unique<CallNode>(std::move(called), number >= 0 ? CallNode::kCallFlag : 0,
                                      functions_);
  }

  // One per formula cell of the workbook, so kept to 24 bytes.
  struct Pending {
    Cell* cell;
    const std::u16string* formula;  // the workbook's, which outlives the build
    uint32_t sheet;
    int line;
  };

  const Workbook& workbook_;
  const FunctionResolver* functions_;
  CompiledModel& model_;
  std::vector<std::string>* errors_;
  BuildOptions options_;
  std::vector<CellRef>* skipped_;
  bool ok_ = true;
  bool softFaults_ = false;
  std::set<size_t> badNames_;  // names whose expression did not build or that refer to themselves
  std::vector<Pending> formulas_;
  std::vector<Reads> nameReads_;
  std::map<std::pair<int, std::u16string>, size_t> nameLookup_;  // scope, upper-cased name
};

}  // namespace

bool buildModel(const Workbook& workbook, const FunctionResolver* functions, CompiledModel& model,
                std::vector<std::string>* errors) {
  return Builder(workbook, functions, model, errors, BuildOptions{}, nullptr).run();
}

bool buildModel(const Workbook& workbook, const FunctionResolver* functions, CompiledModel& model,
                std::vector<std::string>* errors, const BuildOptions& options,
                std::vector<CellRef>* skipped) {
  if (skipped) skipped->clear();
  bool ok = Builder(workbook, functions, model, errors, options, skipped).run();
  if (!ok && skipped) skipped->clear();
  return ok;
}

bool compileWorkbook(const Workbook& workbook, const FunctionResolver* functions, ChunkStream& out,
                     std::vector<std::string>* errors) {
  CompiledModel model;
  if (!buildModel(workbook, functions, model, errors)) return false;
  computeStartingValues(model);
  writeModel(model, out);
  return true;
}

}  // namespace korvel
