// The cells that needed the host program are known only after the pass (the host remembers the
// cell being evaluated at each call), so every formula cell's value is kept before it and the
// cells that needed the host, with everything that reads them, get their kept value back after.

#include "compiler/starting_values.h"

#include <algorithm>
#include <map>
#include <unordered_map>
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

// The values of the formula cells before the pass, by position in the model's cell list. Most are
// numbers, booleans, errors or empty and take nine bytes; the rest are kept whole.
class KeptValues {
 public:
  explicit KeptValues(size_t cells) : tags_(cells, kNotKept), payloads_(cells) {}

  void keep(size_t i, const Value* value) {
    if (!value) {
      tags_[i] = kNoValue;
      return;
    }
    Payload& p = payloads_[i];
    switch (value->kind()) {
      case ValueKind::kEmpty:
        tags_[i] = kEmpty;
        return;
      case ValueKind::kInteger:
        tags_[i] = kInteger;
        p.integer = value->integer();
        return;
      case ValueKind::kNumber:
        // Only a number that reads back as a number; a whole one would come back an integer.
        if (Value::number(value->number()).kind() == ValueKind::kNumber) {
          tags_[i] = kNumber;
          p.number = value->number();
          return;
        }
        break;
      case ValueKind::kBoolean:
        tags_[i] = kBoolean;
        p.integer = value->boolean() ? 1 : 0;
        return;
      case ValueKind::kError:
        tags_[i] = kError;
        p.error = value->errorCode();
        return;
      default:
        break;
    }
    tags_[i] = kWhole;
    whole_.emplace(i, *value);
  }

  bool holds(size_t i) const { return tags_[i] != kNotKept; }

  void restore(size_t i, Cell* cell) const {
    const Payload& p = payloads_[i];
    switch (tags_[i]) {
      case kNoValue:
        if (cell->value) cell->value->clear();
        return;
      case kEmpty:
        cell->ensureValue().clear();
        return;
      case kInteger:
        cell->ensureValue().setInteger(p.integer);
        return;
      case kNumber:
        cell->ensureValue().setNumber(p.number);
        return;
      case kBoolean:
        cell->ensureValue().setBoolean(p.integer != 0);
        return;
      case kError:
        cell->ensureValue().setError(p.error);
        return;
      case kWhole:
        cell->ensureValue() = whole_.at(i);
        return;
      default:
        return;
    }
  }

 private:
  enum Tag : uint8_t { kNotKept, kNoValue, kEmpty, kInteger, kNumber, kBoolean, kError, kWhole };
  union Payload {
    int32_t integer;
    double number;
    uint32_t error;
  };
  std::vector<uint8_t> tags_;
  std::vector<Payload> payloads_;
  std::unordered_map<size_t, Value> whole_;
};

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
  // The model's cell list only grows, so a cell's position in it names the cell until the end.
  const size_t listed = model.cells().size();
  KeptValues kept(listed);
  for (size_t i = 0; i < listed; ++i) {
    Cell* cell = model.cells()[i];
    if (!isFormulaCell(cell)) continue;
    kept.keep(i, cell->value);
    ++result.formulaCells;
  }

  // Only the cells of this pass count as needing the host; the call counts stay for the caller.
  host.takeCellsNeedingHost();
  bool output = engine.output;
  engine.output = false;  // the pass fills the model; nothing is shown yet
  engine.recalculation().computeAll();
  engine.output = output;

  CellSet reached = cellsDependingOn(model, host.takeCellsNeedingHost());
  if (reached.empty()) return result;
  for (size_t i = 0; i < listed; ++i) {
    Cell* cell = model.cells()[i];
    if (!kept.holds(i) || !reached.count(cell)) continue;
    ++result.keptCells;
    kept.restore(i, cell);
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
