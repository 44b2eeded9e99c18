// The cells that needed the host program are known only after the pass (the host remembers the
// cell being evaluated at each call), so every formula cell's value is kept before it and the
// cells that needed the host, with everything that reads them, get their kept value back after.

#include "compiler/starting_values.h"

#include <algorithm>
#include <map>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "engine/recalculation.h"
#include "hosts/headless/headless_calc_host.h"

namespace korvel {
namespace {

bool isFormulaCell(const Cell* cell) {
  return cell->firstListIndex >= 0 && !cell->hasFlag(kCellInput);
}

}  // namespace

// Iterative, as chains of formulas may be long.
CellSet cellsDependingOn(const CompiledModel& model, const CellSet& start) {
  CellSet reached;
  std::vector<Cell*> stack;
  auto reach = [&](Cell* cell) {
    if (cell && reached.insert(cell).second) stack.push_back(cell);
  };
  for (Cell* cell : start) reach(cell);
  if (stack.empty()) return reached;
  std::unordered_set<const RangeEntry*> fired;  // an entry's readers are reached once
  std::vector<RangeEntry*> containing;
  while (!stack.empty()) {
    Cell* cell = stack.back();
    stack.pop_back();
    for (Cell* dependent : cell->dependents) reach(dependent);
    containing.clear();
    model.rangeIndex().containing(cell->address, containing);
    for (const RangeEntry* entry : containing) {
      if (!fired.insert(entry).second) continue;
      for (Cell* reader : entry->cells) reach(reader);
    }
    // The anchor computes the whole array formula, so its members share its fate.
    if (cell->arrayRange() && cell->hasFlag(kCellArrayMember) &&
        cell->address == cell->arrayRange()->first) {
      const RangeRef& r = *cell->arrayRange();
      for (uint32_t row = r.first.row(); row <= r.last.row(); ++row) {
        for (uint32_t column = r.first.column(); column <= r.last.column(); ++column) {
          reach(model.findCell(CellRef::at(r.first.sheet(), row, column)));
        }
      }
    }
  }
  return reached;
}

StartingValues computeStartingValues(Engine& engine, HeadlessCalcHost& host) {
  CompiledModel& model = engine.model();
  StartingValues result;
  std::vector<std::pair<Cell*, std::optional<Value>>> kept;
  for (Cell* cell : model.indexedCells()) {
    if (!isFormulaCell(cell)) continue;
    kept.emplace_back(cell, cell->value ? std::optional<Value>(*cell->value) : std::nullopt);
  }
  result.formulaCells = kept.size();

  // Only the cells of this pass count as needing the host; the call counts stay for the caller.
  host.takeCellsNeedingHost();
  bool output = engine.output;
  engine.output = false;  // the pass fills the model; nothing is shown yet
  engine.recalculation().computeAll();
  engine.output = output;

  CellSet reached = cellsDependingOn(model, host.takeCellsNeedingHost());
  for (auto& [cell, value] : kept) {
    if (!reached.count(cell)) continue;
    ++result.keptCells;
    if (value) {
      cell->ensureValue() = *value;
    } else if (cell->value) {
      cell->value->clear();
    }
  }
  return result;
}

StartingValues computeStartingValues(CompiledModel& model) {
  HeadlessCalcHost host(&model);
  Engine* previous = model.engine;
  StartingValues result;
  {
    Engine engine(model, &host);
    result = computeStartingValues(engine, host);
  }
  model.engine = previous;
  return result;
}

}  // namespace korvel
