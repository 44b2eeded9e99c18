// The evaluator's walk over formula trees, the cell level (array formulas, exceptions, change
// marks) and the reading of cells behind references. Operators and calls live in
// evaluator_operators.cc and evaluator_calls.cc.
#include "engine/evaluator.h"

#include <algorithm>
#include <utility>

#include "engine/calc_host.h"
#include "engine/evaluator_internal.h"
#include "engine/value_convert.h"
#include "model/address.h"
#include "model/cell.h"
#include "model/compiled_model.h"

namespace korvel {

namespace evaluation {

void readCellValue(const Cell* cell, Value& out) {
  if (!cell || !cell->value) {
    out.clear();
  } else if (cell->value->isArray()) {
    const ValueArray& array = cell->value->array();
    if (array.size() == 0) {
      out.clear();
    } else {
      out = array.elements()[0];
    }
  } else {
    out = *cell->value;
  }
}

bool onOneSheet(const RangeRef& range) {
  return isValidRange(range) && range.first.sheet() == range.last.sheet();
}

bool isSingleCellReference(const Value& value) {
  if (!value.isReference()) return false;
  RangeRef range = normalizeRange(value.reference());
  return onOneSheet(range) && range.first.row() == range.last.row() &&
         range.first.column() == range.last.column();
}

void coverShape(const Value& argument, uint32_t& columns, uint32_t& rows) {
  if (argument.isArray()) {
    columns = std::max(columns, argument.array().columns());
    rows = std::max(rows, argument.array().rows());
  } else if (argument.isReference()) {
    RangeRef range = normalizeRange(argument.reference());
    if (!onOneSheet(range)) return;
    columns = std::max(columns, range.last.column() - range.first.column() + 1);
    rows = std::max(rows, range.last.row() - range.first.row() + 1);
  }
}

void broadcastElement(Engine& engine, const Value& argument, uint32_t column, uint32_t row,
                      Value& out) {
  if (argument.isArray()) {
    const ValueArray& array = argument.array();
    uint32_t c = array.columns() == 1 ? 0 : column;
    uint32_t r = array.rows() == 1 ? 0 : row;
    if (c < array.columns() && r < array.rows()) {
      out = array.at(c, r);
    } else {
      out.setError(kErrorNA);
    }
    return;
  }
  if (argument.isReference()) {
    RangeRef range = normalizeRange(argument.reference());
    if (onOneSheet(range)) {
      uint32_t width = range.last.column() - range.first.column() + 1;
      uint32_t height = range.last.row() - range.first.row() + 1;
      uint32_t c = column, r = row;
      if (width == 1 && height == 1) {
        c = r = 0;
      } else if (width == 1) {
        c = 0;
      } else if (height == 1) {
        r = 0;
      }
      if (c >= width || r >= height) {
        out.clear();
        return;
      }
      CellRef at =
          CellRef::at(range.first.sheet(), range.first.row() + r, range.first.column() + c);
      readCellValue(engine.model().findCell(at), out);
      return;
    }
  }
  out = argument;
}

void finishForMode(Engine& engine, int mode, Value& result) {
  if (mode <= kModeValue && (result.isReference() || result.isReferenceList())) {
    referenceToValue(engine, result, result);
  }
}

}  // namespace evaluation

using evaluation::readCellValue;

namespace {

// Formula trees are bounded when they are read or compiled, but names, shared expressions and
// local roots chain trees together; these bounds keep a damaged model from exhausting the stack.
constexpr int kMaxDepth = 1200;
constexpr int kMaxIndirection = 64;
int gDepth = 0;
int gIndirection = 0;

class Step {
 public:
  explicit Step(int& counter) : counter_(counter) { ++counter_; }
  ~Step() { --counter_; }
  Step(const Step&) = delete;
  Step& operator=(const Step&) = delete;

 private:
  int& counter_;
};

int valueMode(int mode) { return mode <= kModeValue ? kModeValue : mode; }

// Operators and comparisons: operands in the node's own mode, element by element over arrays (and
// over references to several cells when the mode keeps references).
void evaluateOperation(Engine& engine, const Node* node, int mode, Value& result) {
  const ChildList& children = node->children();
  evaluation::InlineArray<Value, 2> operands(children.size());
  evaluation::InlineArray<const Value*, 2> pointers(children.size());
  for (size_t i = 0; i < children.size(); ++i) {
    evaluateNode(engine, children[i].get(), valueMode(mode), operands[i]);
    pointers[i] = &operands[i];
  }
  static const Value kNone;
  const Value& a = operands.size() == 0 ? kNone : operands[0];
  const Value* b = operands.size() > 1 ? &operands[1] : nullptr;
  const bool comparison = node->tag() == kTagComparison;
  const uint8_t code = comparison ? static_cast<const ComparisonNode*>(node)->code()
                                  : static_cast<const OperatorNode*>(node)->code();
  auto apply = [&](const Value& x, const Value* y, Value& out) {
    if (comparison) {
      evaluation::applyComparison(engine, code, x, y ? *y : kNone, out);
    } else {
      evaluation::applyOperator(engine, code, x, y, out);
    }
  };

  const bool array = Node::holdsArray(pointers.span()) ||
                     (mode >= kModeValueOrArray && Node::holdsAreaReference(pointers.span()));
  if (!array) {
    apply(a, b, result);
    return;
  }
  uint32_t columns = 1, rows = 1;
  for (const Value& operand : operands) evaluation::coverShape(operand, columns, rows);
  if (uint64_t{columns} * rows > evaluation::kMaxArrayElements) {
    result.setError(kErrorValue);
    return;
  }
  ValueArray out(columns, rows);
  Value x, y;
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c) {
      evaluation::broadcastElement(engine, a, c, r, x);
      if (b) evaluation::broadcastElement(engine, *b, c, r, y);
      apply(x, b ? &y : nullptr, out.at(c, r));
    }
  }
  result.setArray(std::move(out));
}

// The references of union operands, flattened: nested unions give their lists.
void evaluateUnion(Engine& engine, const Node* node, int mode, Value& result) {
  ValueArray list;
  Value operand;
  for (const auto& child : node->children()) {
    evaluateNode(engine, child.get(), kModeReference, operand);
    if (operand.isReference()) {
      list.appendElement(operand);
    } else if (operand.isReferenceList()) {
      for (const Value& element : operand.array().elements()) list.appendElement(element);
    } else {
      result.setError(kErrorValue);
      return;
    }
  }
  if (list.size() == 0) {
    result.setError(kErrorValue);
    return;
  }
  result.setReferenceList(std::move(list));
  evaluation::finishForMode(engine, mode, result);
}

void evaluateIntersection(Engine& engine, const Node* node, int mode, Value& result) {
  bool first = true;
  RangeRef common;
  Value operand;
  for (const auto& child : node->children()) {
    evaluateNode(engine, child.get(), kModeReference, operand);
    if (operand.isError()) {
      result = operand;
      return;
    }
    if (!operand.isReference()) {
      result.setError(kErrorValue);
      return;
    }
    RangeRef range = normalizeRange(operand.reference());
    if (!evaluation::onOneSheet(range)) {
      result.setError(kErrorValue);
      return;
    }
    if (first) {
      common = range;
      first = false;
      continue;
    }
    uint32_t sheet = common.first.sheet();
    uint32_t top = std::max(common.first.row(), range.first.row());
    uint32_t bottom = std::min(common.last.row(), range.last.row());
    uint32_t left = std::max(common.first.column(), range.first.column());
    uint32_t right = std::min(common.last.column(), range.last.column());
    if (range.first.sheet() != sheet || top > bottom || left > right) {
      result.setError(kErrorNull);
      return;
    }
    common = RangeRef{CellRef::at(sheet, top, left), CellRef::at(sheet, bottom, right)};
  }
  if (first) {
    result.setError(kErrorValue);
    return;
  }
  result.setReference(common.first, common.last);
  evaluation::finishForMode(engine, mode, result);
}

void evaluateDde(Engine& engine, const DdeRefNode* node, Value& result) {
  const auto& links = engine.model().ddeLinks;
  if (node->link() >= links.size() || node->item() >= links[node->link()].items.size()) {
    result.setError(kErrorRef);
    return;
  }
  result = links[node->link()].items[node->item()].lastValue;
}

// The address a reference reads while a reference shift is active: moved when it lies in the band,
// as it stands otherwise.
CellRef shiftedAddress(const Engine::ReferenceShift& shift, CellRef address) {
  const RangeRef& band = shift.band;
  if (shift.rows == 0 || address.isNone() || address.sheet() != band.first.sheet() ||
      address.row() < band.first.row() || address.row() > band.last.row() ||
      address.column() < band.first.column() || address.column() > band.last.column()) {
    return address;
  }
  int64_t row = int64_t(address.row()) + shift.rows;
  if (row < 0 || row > int64_t(maxRow())) return CellRef::none();
  return CellRef::at(address.sheet(), uint32_t(row), address.column());
}

void evaluateCellReference(Engine& engine, const CellRefNode* node, int mode, Value& result) {
  Cell* cell = node->cell();
  if (!cell || cell->address.isNone()) {
    result.setError(kErrorRef);
    return;
  }
  if (engine.referenceShift.rows != 0) {
    CellRef moved = shiftedAddress(engine.referenceShift, cell->address);
    if (moved.isNone()) {
      result.setError(kErrorRef);
      return;
    }
    if (mode == kModeReference) {
      result.setReference(moved, moved);
    } else {
      readCellValue(engine.model().findCell(moved), result);
    }
    return;
  }
  if (mode == kModeReference) {
    result.setReference(cell->address, cell->address);
  } else {
    readCellValue(cell, result);
  }
}

void evaluateRangeReference(Engine& engine, const RangeRefNode* node, int mode, Value& result) {
  RangeRef range = node->range();
  if (engine.referenceShift.rows != 0) {
    range.first = shiftedAddress(engine.referenceShift, range.first);
    range.last = shiftedAddress(engine.referenceShift, range.last);
    if (range.first.isNone() || range.last.isNone()) {
      result.setError(kErrorRef);
      return;
    }
  }
  result.setReference(range.first, range.last);
  evaluation::finishForMode(engine, mode, result);
}

bool sameValue(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case ValueKind::kEmpty:
      return true;
    case ValueKind::kInteger:
    case ValueKind::kBoolean:
      return a.integer() == b.integer();
    case ValueKind::kNumber:
      return a.number() == b.number();
    case ValueKind::kShortText:
    case ValueKind::kLongText:
      return a.text() == b.text();
    case ValueKind::kError:
      return a.errorCode() == b.errorCode();
    case ValueKind::kReference:
      return a.reference() == b.reference();
    case ValueKind::kReferenceList:
    case ValueKind::kArray: {
      const ValueArray& x = a.array();
      const ValueArray& y = b.array();
      if (x.columns() != y.columns() || x.rows() != y.rows() || x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i) {
        if (!sameValue(x.elements()[i], y.elements()[i])) return false;
      }
      return true;
    }
  }
  return false;
}

// The value of a root evaluated for a cell: references become values (or the range's array in
// mode 2), arrays keep only their first element outside mode 2, and the empty result shows as 0.
void finishRoot(Engine& engine, int mode, Value& result) {
  if (mode == kModeValueOrArray) {
    if (result.isReference() || result.isReferenceList()) referenceToArray(engine, result, result);
  } else if (mode != kModeReference) {
    referenceToValue(engine, result, result);
    if (result.isArray()) {
      Value first;
      if (result.array().size() > 0) first = result.array().elements()[0];
      result = std::move(first);
    }
  }
  if (mode != kModeReference && result.isEmpty()) result.setInteger(0);
}

// A member of an array formula other than its anchor shows its element of the anchor's value.
void memberValue(const Cell* cell, const CellRef& anchor, Value& result) {
  const Cell* anchorCell = cell->model ? cell->model->findCell(anchor) : nullptr;
  if (!anchorCell || !anchorCell->value) {
    result.setError(kErrorNA);
    return;
  }
  const Value& whole = *anchorCell->value;
  if (!whole.isArray()) {
    result = whole;
    return;
  }
  uint32_t c = cell->address.column() - anchor.column();
  uint32_t r = cell->address.row() - anchor.row();
  if (c < whole.array().columns() && r < whole.array().rows()) {
    result = whole.array().at(c, r);
  } else {
    result.setError(kErrorNA);
  }
}

}  // namespace

Value& evaluateNode(Engine& engine, const Node* node, int mode, Value& result) {
  Step depth(gDepth);
  if (!node) {
    result.clear();
    return result;
  }
  if (gDepth > kMaxDepth) {
    result.setError(kErrorValue);
    return result;
  }
  switch (node->tag()) {
    case kTagNumber:
    case kTagText:
    case kTagBoolean:
    case kTagError:
    case kTagArray:
    case kTagMissing:
    case kTagExternalRef:
      result = node->value();
      return result;
    case kTagCellRef:
      evaluateCellReference(engine, static_cast<const CellRefNode*>(node), mode, result);
      return result;
    case kTagRangeRef:
      evaluateRangeReference(engine, static_cast<const RangeRefNode*>(node), mode, result);
      return result;
    case kTagDdeRef:
      evaluateDde(engine, static_cast<const DdeRefNode*>(node), result);
      return result;
    case kTagNameRef:
    case kTagSharedRef1:
    case kTagSharedRef2:
    case kTagLocalRef: {
      Step indirection(gIndirection);
      const Node* target = gIndirection <= kMaxIndirection
                               ? static_cast<const IndirectNode*>(node)->target()
                               : nullptr;
      if (!target) {
        result.clear();
        return result;
      }
      return evaluateNode(engine, target, mode, result);
    }
    case kTagOperator:
    case kTagComparison:
      evaluateOperation(engine, node, mode, result);
      break;
    case kTagUnion:
      evaluateUnion(engine, node, mode, result);
      break;
    case kTagIntersection:
      evaluateIntersection(engine, node, mode, result);
      break;
    case kTagCall:
      evaluation::evaluateCall(engine, *static_cast<const CallNode*>(node), mode, result);
      break;
    default:
      result.setError(kErrorValue);
      return result;
  }
  return result;
}

void evaluateCell(Engine& engine, Cell* cell) {
  if (!cell) return;
  CurrentCellScope scope(cell);
  try {
    Value result;
    const bool member = cell->arrayRange() && cell->hasFlag(kCellArrayMember);
    const CellRef anchor = member ? normalizeRange(*cell->arrayRange()).first : CellRef();
    if (member && !(anchor == cell->address)) {
      memberValue(cell, anchor, result);
    } else {
      if (cell->formulaRoots.empty() || !cell->formulaRoots[0]) return;
      const int mode = cell->arrayRange() ? kModeValueOrArray : kModeValue;
      evaluateNode(engine, cell->formulaRoots[0].get(), mode, result);
      finishRoot(engine, mode, result);
    }
    Value& stored = cell->ensureValue();
    const bool changed = !sameValue(stored, result);
    if (changed) stored = std::move(result);
    cell->setFlag(kCellValueChanged, changed);
  } catch (const HostCallFailure&) {
    // The cell keeps the value it had: a failed host call must not show as a result.
  }
}

Value evaluateFormula(Engine& engine, const Node* root, Cell* at, int mode) {
  CurrentCellScope scope(at);
  Value result;
  try {
    const int wanted = mode <= kModeValue ? kModeValue : mode;
    evaluateNode(engine, root, wanted, result);
    finishRoot(engine, wanted, result);
  } catch (const HostCallFailure&) {
    result.setError(kErrorValue);
  }
  return result;
}

bool propagateErrors(Engine& engine, std::span<const Value* const> arguments, Value& result,
                     uint32_t mask) {
  Value cellValue;
  for (size_t i = 0; i < arguments.size() && i < 32; ++i) {
    if (!(mask & (uint32_t{1} << i)) || !arguments[i]) continue;
    const Value* value = arguments[i];
    if (evaluation::isSingleCellReference(*value)) {
      RangeRef range = normalizeRange(value->reference());
      readCellValue(engine.model().findCell(range.first), cellValue);
      value = &cellValue;
    }
    if (value->isError() || (value->isText() && isErrorText(value->text()))) {
      result = *value;
      return true;
    }
  }
  return false;
}

namespace {

// Where one value is wanted, a range of several cells stands for the one cell it shares with
// the row and column of the cell being computed, as the host program reads "=A:A" in row 5 as
// A5: a workbook's formulas must give in the application what they gave in the program. A range
// on another sheet counts the same row and column there. False when the current cell's row or
// column misses the range, or no cell is being computed.
bool implicitIntersection(const RangeRef& range, RangeRef* cell) {
  const Cell* current = currentCell();
  if (current == nullptr || !evaluation::onOneSheet(range) || !isValidRange(range)) return false;
  const CellRef at = current->address;
  uint32_t row = range.first.row(), column = range.first.column();
  if (range.last.row() != row) {
    if (at.row() < range.first.row() || at.row() > range.last.row()) return false;
    row = at.row();
  }
  if (range.last.column() != column) {
    if (at.column() < range.first.column() || at.column() > range.last.column()) return false;
    column = at.column();
  }
  const CellRef target = CellRef::at(range.first.sheet(), row, column);
  *cell = RangeRef{target, target};
  return true;
}

}  // namespace

void referenceToValue(Engine& engine, const Value& operand, Value& out) {
  if (operand.isReferenceList()) {
    const ValueArray& list = operand.array();
    if (list.size() == 1 && list.elements()[0].isReference()) {
      Value single = list.elements()[0];
      referenceToValue(engine, single, out);
    } else {
      out.setError(kErrorValue);
    }
    return;
  }
  if (!operand.isReference()) {
    if (&operand != &out) out = operand;
    return;
  }
  RangeRef range = normalizeRange(operand.reference());
  if (!evaluation::isSingleCellReference(operand) && !implicitIntersection(range, &range)) {
    out.setError(kErrorValue);
    return;
  }
  readCellValue(engine.model().cellAt(range.first), out);
}

void referenceToArray(Engine& engine, const Value& operand, Value& out) {
  if (operand.isReferenceList()) {
    const ValueArray& list = operand.array();
    if (list.size() == 1 && list.elements()[0].isReference()) {
      Value single = list.elements()[0];
      referenceToArray(engine, single, out);
    } else {
      out.setError(kErrorValue);
    }
    return;
  }
  if (!operand.isReference()) {
    if (&operand != &out) out = operand;
    return;
  }
  RangeRef range = normalizeRange(operand.reference());
  if (!evaluation::onOneSheet(range)) {
    out.setError(kErrorValue);
    return;
  }
  uint32_t columns = range.last.column() - range.first.column() + 1;
  uint32_t rows = range.last.row() - range.first.row() + 1;
  if (uint64_t{columns} * rows > evaluation::kMaxArrayElements) {
    out.setError(kErrorValue);
    return;
  }
  ValueArray array(columns, rows);
  const CompiledModel& model = engine.model();
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c) {
      CellRef at =
          CellRef::at(range.first.sheet(), range.first.row() + r, range.first.column() + c);
      readCellValue(model.findCell(at), array.at(c, r));
    }
  }
  out.setArray(std::move(array));
}

}  // namespace korvel
