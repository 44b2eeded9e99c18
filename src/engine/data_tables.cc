// Data tables of the workbook (TABLE formula ranges): a table's interior cells take the value of
// its result formula, found at the table's top-left cell, with the table's input cells set to
// the header values of the interior cell's column (top row) and row (left column).
//
// How a table is computed: for each interior cell in row order, the input cells get their
// substitutes, the dependents of the input cells are recomputed with the output switch off, and
// the result cell's value becomes the interior cell's value, written by the output rule when it
// changed. The interior cells themselves are not evaluated meanwhile (their formulas stand for
// the whole table). At the end the input cells get their saved values back, their dependents
// are recomputed once more, and the input cells and every recomputed cell are written again.
#include "engine/calc_host.h"
#include "engine/engine.h"
#include "engine/recalculation.h"
#include "engine/recalculation_support.h"
#include "model/address.h"
#include "model/compiled_model.h"
#include "model/nodes/node.h"

namespace korvel {
namespace {

// The cell an input root names: a cell reference, or an area of one cell.
Cell* inputCellOf(CompiledModel& model, const Node* root) {
  if (!root) return nullptr;
  if (root->isCellReference()) return static_cast<const CellRefNode*>(root)->cell();
  if (root->isRangeReference()) {
    RangeRef r = normalizeRange(static_cast<const RangeRefNode*>(root)->range());
    if (isValidRange(r) && r.first == r.last) return model.cellAt(r.first);
  }
  return nullptr;
}

}  // namespace

DataTable& Recalculation::dataTable(const RangeRef& range) {
  RangeRef r = normalizeRange(range);
  RangeKey key{r.first.rowWord, r.first.columnWord, r.last.rowWord, r.last.columnWord};
  auto [it, added] = dataTables_.try_emplace(key);
  if (added) it->second.range = r;
  return it->second;
}

void Recalculation::computeDataTables() {
  for (auto& [key, table] : dataTables_) {
    if (table.pending.empty()) continue;
    try {
      computeDataTable(table);
    } catch (const HostCallFailure&) {
      // A table the host program fails keeps what it had; the others are still computed.
    }
  }
  for (auto& [key, table] : dataTables_) table.pending.clear();
}

void Recalculation::recomputeInputs(DataTable& table, CellSet& recomputed) {
  perPassReset();
  Cell* inputs[] = {table.rowInput, table.columnInput};
  for (Cell* input : inputs) {
    if (input) scheduleDependents(input);
  }
  // The input cells hold the values given here, and the table's own cells are computed here.
  for (Cell* input : inputs) {
    if (input) input->flags |= kCellEvaluated;
  }
  for (Cell* cell : evaluationList_) {
    if (rangeContains(table.range, cell->address)) cell->flags |= kCellEvaluated;
  }
  bool savedOutput = engine_.output;
  engine_.output = false;
  std::vector<Cell*> evaluated;
  orderAndEvaluate(&evaluated);
  engine_.output = savedOutput;
  recomputed.insert(evaluated.begin(), evaluated.end());
}

void Recalculation::computeDataTable(DataTable& table) {
  const RangeRef& r = table.range;
  uint32_t sheet = r.first.sheet();
  auto at = [&](uint32_t row, uint32_t column) {
    return model().findCell(CellRef::at(sheet, row, column));
  };
  if (!table.inputsFound) {
    table.inputsFound = true;
    if (Cell* first = at(r.first.row() + 1, r.first.column() + 1)) {
      CurrentCellScope scope(first);
      if (first->formulaRoots.size() > 0) {
        table.rowInput = inputCellOf(model(), first->formulaRoots[0].get());
      }
      if (first->formulaRoots.size() > 1) {
        table.columnInput = inputCellOf(model(), first->formulaRoots[1].get());
      }
    }
  }
  Cell* result = at(r.first.row(), r.first.column());
  if (!result || (!table.rowInput && !table.columnInput)) return;
  Value savedRow = cellValue(table.rowInput);
  Value savedColumn = cellValue(table.columnInput);
  auto substitute = [&](Cell* input, const Value& value) {
    if (!input || sameValue(cellValue(input), value)) return;
    input->ensureValue() = value;
    if (engine_.output && !input->hasFlag(kCellNeverWritten)) publish(input);
  };
  CellSet recomputed;
  for (uint32_t row = r.first.row() + 1; row <= r.last.row(); ++row) {
    for (uint32_t column = r.first.column() + 1; column <= r.last.column(); ++column) {
      Cell* interior = at(row, column);
      if (!interior) continue;
      substitute(table.rowInput, cellValue(at(r.first.row(), column)));
      substitute(table.columnInput, cellValue(at(row, r.first.column())));
      recomputeInputs(table, recomputed);
      Value old = cellValue(interior);
      interior->ensureValue() = cellValue(result);
      bool changed = !sameValue(old, cellValue(interior));
      interior->setFlag(kCellValueChanged, changed);
      if (changed) output(interior, &old);
    }
  }
  substitute(table.rowInput, savedRow);
  substitute(table.columnInput, savedColumn);
  recomputeInputs(table, recomputed);
  perPassReset();
  for (Cell* input : {table.rowInput, table.columnInput}) {
    if (input && engine_.output && !input->hasFlag(kCellNeverWritten)) publish(input);
  }
  for (Cell* cell : recomputed) {
    if (!rangeContains(table.range, cell->address)) writeCell(cell);
  }
}

}  // namespace korvel
