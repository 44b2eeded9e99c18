// Scheduling, ordering and evaluation of cells, the output rule, the iteration of circular
// groups and the two recalculation entries. The cycle search is in recalculation_cycles.cc, the
// refresh of precedents in precedent_refresh.cc and the data tables in data_tables.cc.
#include "engine/recalculation.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "engine/calc_host.h"
#include "engine/date_text.h"
#include "engine/engine.h"
#include "engine/evaluator.h"
#include "engine/locale_settings.h"
#include "engine/recalculation_support.h"
#include "engine/value_convert.h"
#include "model/address.h"
#include "model/compiled_model.h"
#include "model/nodes/node.h"

namespace korvel {
namespace {

// The scheduling stack, the relaxation queue and the evaluation list are sized for large models
// up front, so that they do not regrow while a big recalculation runs.
constexpr size_t kReservedCells = 50000;

// Relaxation raises levels only along links that go forward; a circle that the cycle search has
// not cut (links added since) would raise them without end. Without a circle no level ends above
// the highest level it started from plus the number of cells that can be raised, so once the
// step budget is spent and a level has passed that bound, the order is left as it stands. A
// budget alone would also stop work that was only long (running totals over formula cells raise
// each total once per cell above it) and leave cells before what they read.
constexpr size_t kRelaxationStepsPerCell = 64;
constexpr size_t kRelaxationBaseSteps = 1000000;

// Kinds that count as one when the iteration asks whether a value still moves.
int movingClass(const Value& v) {
  if (v.isNumeric()) return 1;
  if (v.isText()) return 3;
  return int(v.kind()) + 10;
}

bool stillMoves(const Value& old, const Value& now, double maxChange) {
  if (movingClass(old) != movingClass(now)) return true;
  if (old.isNumeric()) return std::fabs(now.number() - old.number()) >= maxChange;
  return false;
}

}  // namespace

const Value& cellValue(const Cell* cell) {
  static const Value kEmpty;
  return cell && cell->value ? *cell->value : kEmpty;
}

bool sameValue(const Value& a, const Value& b) { return a.kind() == b.kind() && equals(a, b); }

bool isIndexedOrInput(const Cell* cell) {
  return cell->firstListIndex >= 0 || cell->hasFlag(kCellInput);
}

bool startsArrayRange(const Cell* cell) {
  if (!cell->arrayRange()) return false;
  CellRef first = normalizeRange(*cell->arrayRange()).first;
  return first.sheet() == cell->address.sheet() && first.row() == cell->address.row() &&
         first.column() == cell->address.column();
}

bool isArrayAnchor(const Cell* cell) {
  return cell->hasFlag(kCellArrayMember) && !cell->hasFlag(kCellArrayElsewhere) &&
         startsArrayRange(cell);
}

Cell* arrayAnchorOf(const Cell* cell) {
  if (!cell->arrayRange() || !cell->model) return nullptr;
  return cell->model->findCell(normalizeRange(*cell->arrayRange()).first);
}

void appendArrayMembers(const Cell* anchor, std::vector<Cell*>& out) {
  if (!anchor->model) return;
  RangeRef r = normalizeRange(*anchor->arrayRange());
  uint32_t sheet = r.first.sheet();
  for (uint32_t row = r.first.row(); row <= r.last.row(); ++row) {
    for (uint32_t column = r.first.column(); column <= r.last.column(); ++column) {
      Cell* member = anchor->model->findCell(CellRef::at(sheet, row, column));
      if (member && member != anchor && member->hasFlag(kCellArrayMember)) out.push_back(member);
    }
  }
}

bool rangeContains(const RangeRef& range, CellRef address) {
  RangeRef r = normalizeRange(range);
  if (!isValidRange(r)) return false;
  uint32_t sheet = address.sheet();
  return r.first.sheet() == sheet && r.last.sheet() == sheet && address.row() >= r.first.row() &&
         address.row() <= r.last.row() && address.column() >= r.first.column() &&
         address.column() <= r.last.column();
}

Recalculation::Recalculation(Engine& engine) : engine_(engine) {
  stack_.reserve(kReservedCells);
  queue_.reserve(kReservedCells);
  evaluationList_.reserve(kReservedCells);
}

Recalculation::~Recalculation() = default;

CompiledModel& Recalculation::model() { return engine_.model(); }

// ---------------------------------------------------------------------------------------------
// Dependents and the range index

void Recalculation::rangesContaining(const Cell* cell, std::vector<RangeEntry*>& out,
                                     bool inOrder) {
  model().rangeIndex().containing(cell->address, out, inOrder);
}

bool Recalculation::lookUpRanges(Cell* cell) {
  if (cell->hasFlag(kCellOutsideRanges) && !cell->hasFlag(kCellRederivePrecedents)) return false;
  if (!model().rangeIndex().containsAny(cell->address)) {
    // Only a cell that lies in no range at all may skip the lookup later: a cell inside a range
    // whose readers happen to be scheduled already must still reach them next time.
    cell->setFlag(kCellOutsideRanges, true);
    return false;
  }
  return true;
}

void Recalculation::collectDependents(Cell* cell, bool lookup, std::vector<Cell*>& out,
                                      Readers readers) {
  out.clear();
  for (Cell* dependent : cell->dependents) {
    if (dependent != cell) out.push_back(dependent);
  }
  if (lookup) {
    ranges_.clear();
    if (readers == Readers::kFresh) {
      model().rangeIndex().reachUnmarked(cell->address, ranges_);
    } else {
      rangesContaining(cell, ranges_, readers == Readers::kAll);
    }
    for (RangeEntry* entry : ranges_) {
      for (Cell* reader : entry->cells) {
        if (reader != cell) out.push_back(reader);
      }
    }
  }
  // The members of an array formula are never evaluated themselves; they change with their
  // anchor, so the cells that read them follow the anchor.
  if (isArrayAnchor(cell)) appendArrayMembers(cell, out);
}

// ---------------------------------------------------------------------------------------------
// Scheduling and ordering

void Recalculation::scheduleDependents(Cell* start) {
  if (!start || start->hasFlag(kCellScheduled) || start->hasFlag(kCellOnStack)) return;
  stack_.clear();
  stack_.push_back(start);
  start->flags |= kCellOnStack;
  std::vector<Cell*>& dependents = dependents_;
  while (!stack_.empty()) {
    Cell* cell = stack_.back();
    if (cell->hasFlag(kCellScheduled)) {
      stack_.pop_back();
      cell->flags &= ~kCellOnStack;
      evaluationList_.push_back(cell);
      continue;
    }
    if (cell->hasFlag(kCellArrayElsewhere)) {
      if (cell->hasFlag(kCellArrayMember)) {
        // Computed with its anchor: never listed, but its readers are still scheduled below.
        stack_.pop_back();
        cell->flags &= ~kCellOnStack;
        unlisted_.push_back(cell);
      } else if (cell->arrayRange()) {
        dataTable(*cell->arrayRange()).pending.insert(cell);
      }
    }
    cell->flags |= kCellScheduled;
    // Readers reached through a range earlier in the round are scheduled and had their levels
    // raised then; what a later cell of the range would add, the relaxation adds as well.
    collectDependents(cell, lookUpRanges(cell), dependents,
                      cuts_ == 0 ? Readers::kFresh : Readers::kAll);
    bool closes = cell->hasFlag(kCellClosesCycle) && cell->group();
    for (Cell* dependent : dependents) {
      bool sameGroup = closes && (dependent->group() == cell->group() ||
                                  cell->group()->members.count(dependent) != 0);
      if (!sameGroup && dependent->level < cell->level + 1) dependent->level = cell->level + 1;
      if (!(dependent->flags & (kCellScheduled | kCellOnStack))) {
        dependent->flags |= kCellOnStack;
        stack_.push_back(dependent);
      }
    }
    if (cell->hasFlag(kCellArrayMember) && !cell->hasFlag(kCellArrayElsewhere) &&
        !startsArrayRange(cell)) {
      Cell* anchor = arrayAnchorOf(cell);
      if (anchor && !(anchor->flags & (kCellScheduled | kCellOnStack))) {
        anchor->flags |= kCellOnStack;
        stack_.push_back(anchor);
      }
    }
  }
}

// Levels only rise, each to the least value that puts it above the cells it depends on; that
// value does not depend on the order in which dependents are looked at.
void Recalculation::relaxLevels() {
  std::stable_sort(evaluationList_.begin(), evaluationList_.end(),
                   [](const Cell* a, const Cell* b) { return a->level < b->level; });
  queue_.clear();
  if (cuts_ == 0 && groups_.empty() && relaxInOrder()) return;
  std::vector<Cell*>& dependents = dependents_;
  auto lookup = [](const Cell* c) {
    return !c->hasFlag(kCellOutsideRanges) || c->hasFlag(kCellRederivePrecedents);
  };
  for (size_t i = evaluationList_.size(); i-- > 0;) {
    Cell* cell = evaluationList_[i];
    if (cell->flags & (kCellClosesCycle | kCellOnStack)) continue;
    bool behind = false;
    collectDependents(cell, lookup(cell), dependents, Readers::kAllAnyOrder);
    for (Cell* dependent : dependents) {
      if (dependent->level <= cell->level) {
        behind = true;
        break;
      }
    }
    if (!behind && cell->hasFlag(kCellArrayMember) && !cell->hasFlag(kCellArrayElsewhere) &&
        !startsArrayRange(cell)) {
      Cell* anchor = arrayAnchorOf(cell);
      behind = anchor && cell->level <= anchor->level;
    }
    if (behind) {
      cell->flags |= kCellOnStack;
      queue_.push_back(cell);
    }
  }
  size_t budget = kRelaxationBaseSteps + kRelaxationStepsPerCell * evaluationList_.size();
  uint64_t highest = 0;
  for (const Cell* cell : evaluationList_) highest = std::max<uint64_t>(highest, cell->level);
  for (const Cell* cell : unlisted_) highest = std::max<uint64_t>(highest, cell->level);
  const uint64_t bound = highest + 2 * (evaluationList_.size() + unlisted_.size()) + 2;
  bool circle = false;
  while (!queue_.empty() && (budget > 0 || !circle)) {
    if (budget > 0) --budget;
    Cell* cell = queue_.back();
    queue_.pop_back();
    if (!cell->hasFlag(kCellOnStack)) continue;
    cell->flags &= ~kCellOnStack;
    if (cell->hasFlag(kCellClosesCycle)) continue;
    if (cell->hasFlag(kCellArrayMember) && !cell->hasFlag(kCellArrayElsewhere) &&
        !startsArrayRange(cell)) {
      Cell* anchor = arrayAnchorOf(cell);
      if (anchor && anchor->hasFlag(kCellScheduled) && !anchor->hasFlag(kCellEvaluated) &&
          cell->level <= anchor->level) {
        cell->level = anchor->level + 1;
        if (cell->level > bound) circle = true;
        cell->flags |= kCellOnStack;
        queue_.push_back(cell);
      }
    }
    collectDependents(cell, lookup(cell), dependents, Readers::kAllAnyOrder);
    for (Cell* dependent : dependents) {
      if (dependent->level < cell->level + 1) {
        dependent->level = cell->level + 1;
        if (dependent->level > bound) circle = true;
        if (!dependent->hasFlag(kCellOnStack)) {
          dependent->flags |= kCellOnStack;
          queue_.push_back(dependent);
        }
      }
    }
  }
  for (Cell* cell : queue_) cell->flags &= ~kCellOnStack;
  queue_.clear();
}

void Recalculation::orderAndEvaluate(std::vector<Cell*>* collected) {
  // Aggregates may keep partial results while cells are computed in dependency order; whatever
  // happened to the cells before or happens after is not theirs to see.
  struct AggregateWindow {
    Engine& engine;
    explicit AggregateWindow(Engine& e) : engine(e) {
      engine.aggregateCache.reset();
      engine.aggregateCacheUsable = true;
    }
    ~AggregateWindow() {
      engine.aggregateCacheUsable = false;
      engine.aggregateCache.reset();
    }
  } window(engine_);
  relaxLevels();
  if (hasCircularGroups()) {
    CellIdentityLess less;
    std::sort(evaluationList_.begin(), evaluationList_.end(), less);
    evaluationList_.erase(std::unique(evaluationList_.begin(), evaluationList_.end()),
                          evaluationList_.end());
  }
  std::stable_sort(evaluationList_.begin(), evaluationList_.end(),
                   [](const Cell* a, const Cell* b) { return a->level < b->level; });
  // Evaluating may schedule nothing new, but index rather than iterate: the list is a member.
  constexpr size_t kObservedCells = 4096;
  for (size_t i = 0; i < evaluationList_.size(); ++i) {
    if (observer_ && i % kObservedCells == 0) observer_->cellsEvaluated(i, evaluationList_.size());
    Cell* cell = evaluationList_[i];
    bool wasEvaluated = cell->hasFlag(kCellEvaluated);
    try {
      evaluateOne(cell);
    } catch (const HostCallFailure&) {
      // The cell keeps what the computation left; the round goes on.
    }
    if (collected && !wasEvaluated && isIndexedOrInput(cell)) collected->push_back(cell);
  }
}

void Recalculation::releaseSchedulingStack() {
  // A long chain deepens the scheduling stack to its length; ordering and evaluation need none of
  // it, and the walk that orders is where a pass peaks.
  if (stack_.capacity() > kReservedCells) {
    std::vector<Cell*>().swap(stack_);
    stack_.reserve(kReservedCells);
  }
}

void Recalculation::perPassReset() {
  constexpr uint32_t kPassFlags = kCellOnStack | kCellEvaluated | kCellScheduled;
  for (Cell* cell : evaluationList_) cell->flags &= ~kPassFlags;
  for (Cell* cell : unlisted_) cell->flags &= ~kPassFlags;
  evaluationList_.clear();
  unlisted_.clear();
  // A pass over a large model leaves its list as long as the model; the next step (loading a
  // change, the walk of the next pass) is better off without it.
  if (evaluationList_.capacity() > 4 * kReservedCells) {
    std::vector<Cell*>().swap(evaluationList_);
    evaluationList_.reserve(kReservedCells);
  }
  model().rangeIndex().newPass();
}

// ---------------------------------------------------------------------------------------------
// Cell evaluation and output

bool Recalculation::evaluateOne(Cell* cell) {
  if (cell->hasFlag(kCellEvaluated) || !(cell->flags & (kCellScheduled | kCellChangedByEvent))) {
    return false;
  }
  cell->flags |= kCellEvaluated;
  if (!isIndexedOrInput(cell)) return false;
  CurrentCellScope scope(cell);
  Value old = cellValue(cell);
  bool input = cell->hasFlag(kCellInput);
  // Anything but a host failure (out of memory, a fault) ends the pass on its way out: the cell
  // then counts as not computed, so that the pass's end marks it with the others instead of leaving
  // what the computation had written as its result.
  struct NotComputedUnlessFinished {
    Cell* cell;
    bool finished = false;
    ~NotComputedUnlessFinished() {
      if (!finished) cell->flags &= ~kCellEvaluated;
    }
  } guard{cell};
  try {
    if (input) {
      Value read;
      CalcHost* host = engine_.host();
      // A failed read keeps the value the model holds.
      if (host && host->calculateAndRead(cell->address, read)) cell->ensureValue() = read;
    } else {
      evaluateCell(engine_, cell);
    }
  } catch (const HostCallFailure&) {
    // A failed call into the host program: the cell keeps what the computation left.
  }
  guard.finished = true;
  if (engine_.aggregateCache) engine_.aggregateCache->cellComputed(cell->address);
  bool anchor = isArrayAnchor(cell);
  if (anchor) distributeArray(cell);
  bool changed = !sameValue(old, cellValue(cell)) || cell->hasFlag(kCellWriteEveryPass);
  cell->setFlag(kCellValueChanged, changed);
  if (changed && !input) output(cell, &old);
  return changed;
}

bool Recalculation::writesElements(const Cell* cell) const {
  if (!isArrayAnchor(cell) || !cellValue(cell).isArray()) return false;
  RangeRef r = normalizeRange(*cell->arrayRange());
  const ValueArray& array = cellValue(cell).array();
  return array.columns() == r.last.column() - r.first.column() + 1 &&
         array.rows() == r.last.row() - r.first.row() + 1;
}

void Recalculation::output(Cell* cell, const Value* old) {
  if (cell->hasFlag(kCellNeverWritten) || cell->hasFlag(kCellInput) || !engine_.output) return;
  if (!writesElements(cell)) {
    publish(cell);
    return;
  }
  RangeRef r = normalizeRange(*cell->arrayRange());
  const ValueArray& array = cellValue(cell).array();
  bool comparable = old && old->isArray() && old->array().columns() == array.columns() &&
                    old->array().rows() == array.rows();
  for (uint32_t row = 0; row < array.rows(); ++row) {
    for (uint32_t column = 0; column < array.columns(); ++column) {
      if (comparable && sameValue(old->array().at(column, row), array.at(column, row))) continue;
      Cell* member = model().findCell(
          CellRef::at(r.first.sheet(), r.first.row() + row, r.first.column() + column));
      if (!member) continue;
      member->setFlag(kCellValueChanged, true);
      if (!member->hasFlag(kCellNeverWritten) && !member->hasFlag(kCellInput)) publish(member);
    }
  }
}

void Recalculation::publish(Cell* cell) {
  CalcHost* host = engine_.host();
  if (!host) return;
  try {
    host->publishCell(cell);
  } catch (const HostCallFailure&) {
    // A failed write leaves the workbook cell as it was; the model keeps the new value.
  }
}

void Recalculation::distributeArray(Cell* anchor) {
  const Value& result = cellValue(anchor);
  RangeRef r = normalizeRange(*anchor->arrayRange());
  uint32_t sheet = r.first.sheet();
  for (uint32_t row = r.first.row(); row <= r.last.row(); ++row) {
    for (uint32_t column = r.first.column(); column <= r.last.column(); ++column) {
      Cell* member = model().findCell(CellRef::at(sheet, row, column));
      if (!member || member == anchor || !member->hasFlag(kCellArrayMember)) continue;
      uint32_t c = column - r.first.column(), rr = row - r.first.row();
      Value element;
      if (!result.isArray()) {
        element = result;
      } else {
        // As the host program fills an array formula's range: a single row or column repeats
        // across the range, and positions beyond the array get #N/A.
        const ValueArray& array = result.array();
        if (array.columns() == 1) c = 0;
        if (array.rows() == 1) rr = 0;
        if (c < array.columns() && rr < array.rows()) {
          element = array.at(c, rr);
        } else {
          element = Value::error(kErrorNA);
        }
      }
      if (!sameValue(cellValue(member), element)) member->ensureValue() = element;
      if (engine_.aggregateCache) engine_.aggregateCache->cellComputed(member->address);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Rounds and entries

void Recalculation::scheduleAndEvaluate(const std::vector<Cell*>& cells,
                                        std::vector<Cell*>* collected) {
  try {
    perPassReset();
    for (Cell* cell : cells) scheduleDependents(cell);
    releaseSchedulingStack();
    for (Cell* cell : cells) {
      if (!isIndexedOrInput(cell)) cell->flags |= kCellChangedByEvent | kCellEventMarker;
    }
    orderAndEvaluate(collected);
  } catch (const HostCallFailure&) {
    // A host failure that escapes a round ends it; the recalculation goes on with its next step.
  }
}

void Recalculation::iterate(const std::vector<Cell*>& cells, CellSet* changes) {
  auto rearm = [&cells] {
    for (Cell* cell : cells) {
      cell->flags |= kCellScheduled;
      cell->flags &= ~(kCellOnStack | kCellEvaluated);
    }
  };
  if (engine_.maxIterations >= 2) {
    // The round that produced the list was the first evaluation.
    int evaluations = 1;
    bool moving = false;
    do {
      rearm();
      moving = false;
      for (Cell* cell : cells) {
        if (!isIndexedOrInput(cell)) continue;
        Value old = cellValue(cell);
        bool changed = false;
        try {
          changed = evaluateOne(cell);
        } catch (const HostCallFailure&) {
        }
        if (changed && changes) changes->insert(cell);
        if (changed && !moving) moving = stillMoves(old, cellValue(cell), engine_.maxChange);
      }
      ++evaluations;
    } while (evaluations < engine_.maxIterations && moving);
  }
  rearm();
}

void Recalculation::writeCell(Cell* cell) { output(cell, nullptr); }

void Recalculation::recalculate() {
  cycleSearch();
  perPassReset();
  std::vector<Cell*> indexed = model().indexedCells();
  for (Cell* cell : indexed) {
    bool input = cell->hasFlag(kCellInput);
    if (cell->hasFlag(kCellWriteEveryPass) && engine_.output && !input &&
        !cell->hasFlag(kCellNeverWritten)) {
      publish(cell);
    }
    if (!cell->hasFlag(kCellScheduled) &&
        (cell->flags & (kCellRederivePrecedents | kCellAlwaysRecalculated | kCellWriteEveryPass))) {
      scheduleDependents(cell);
    }
  }
  orderAndEvaluate(nullptr);
  if (refreshPrecedents()) {
    std::vector<Cell*> rederived;
    for (Cell* cell : model().alwaysRecalculatedCells()) {
      if (cell->hasFlag(kCellRederivePrecedents)) rederived.push_back(cell);
    }
    scheduleAndEvaluate(rederived, nullptr);
  }
}

void Recalculation::fullRecalculation() {
  if (CalcHost* host = engine_.host()) {
    // Each preparation is on its own: one that fails does not keep the others from running.
    try {
      host->scanSheetHyperlinks(engine_);
    } catch (const HostCallFailure&) {
    }
    try {
      host->openLinkedWorkbooks(engine_);
    } catch (const HostCallFailure&) {
    }
    try {
      host->wireSheetControls(engine_);
    } catch (const HostCallFailure&) {
    }
    try {
      host->refreshQueryTables();
    } catch (const HostCallFailure&) {
    }
    try {
      engine_.date1904 = host->usesDate1904();
    } catch (const HostCallFailure&) {
    }
  }
  try {
    relinkPrecedents();
    recalculate();
  } catch (const HostCallFailure&) {
  } catch (...) {
    abandonPass();
    throw;
  }
  perPassReset();
}

void Recalculation::recalculateChanged(std::vector<Cell*> changed, bool automatic) {
  engine_.computedWithoutExcel = true;
  engine_.output = true;
  engine_.clearSearchCaches();
  LocalTime now = currentLocalTime();
  engine_.nowOverride =
      dateSerial(now.year, now.month, now.day, now.hour, now.minute,
                 double(now.second) + double(now.millisecond) / 1000.0, engine_.date1904);
  CalcHost* host = engine_.host();
  std::exception_ptr failure;
  if (host) {
    try {
      host->suspendCalculation();
    } catch (const HostCallFailure&) {
    }
  }
  try {
    // A model recalculated before any full pass has not had its circles found; ordering needs
    // them to come to an end.
    if (!searched_) cycleSearch();
    if (!engine_.iteration && !hasCircularGroups()) {
      engine_.searchCachesUsable = true;
      scheduleAndEvaluate(changed, nullptr);
      engine_.searchCachesUsable = false;
    } else {
      for (const auto& group : groups_) {
        changed.insert(changed.end(), group->members.begin(), group->members.end());
      }
      std::sort(changed.begin(), changed.end(), CellIdentityLess());
      changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
      std::vector<Cell*> evaluated;
      evaluated.reserve(kReservedCells);
      scheduleAndEvaluate(changed, &evaluated);
      // When nothing went to the host program, iterated values are written once at the end
      // rather than every round.
      bool collect = engine_.computedWithoutExcel;
      if (collect) engine_.output = false;
      CellSet changes;
      iterate(evaluated, collect ? &changes : nullptr);
      if (collect) {
        engine_.output = true;
        if (!changes.empty()) {
          for (Cell* cell : evaluated) {
            if (cell->hasFlag(kCellValueChanged)) changes.insert(cell);
          }
          for (Cell* cell : changes) writeCell(cell);
        }
      }
    }
    engine_.precedentsChanged = refreshPrecedents();
    if (automatic) computeDataTables();
  } catch (const HostCallFailure&) {
  } catch (...) {
    failure = std::current_exception();
    abandonPass();
  }
  engine_.output = true;
  engine_.searchCachesUsable = false;
  engine_.clearSearchCaches();
  engine_.nowOverride = 0;
  if (host) {
    try {
      host->restoreCalculation();
    } catch (const HostCallFailure&) {
    }
  }
  if (failure) std::rethrow_exception(failure);
}

void Recalculation::startPass(CompiledModel& target) {
  for (Cell* cell : target.cells()) {
    if (!isIndexedOrInput(cell)) evaluateOne(cell);
  }
}

void Recalculation::markChanged(Cell* cell) {
  if (!cell) return;
  engine_.changedCells.push_back(cell);
  cell->flags |= kCellChangedByEvent | kCellEventMarker;
}

void Recalculation::computeAll() {
  bool savedOutput = engine_.output;
  engine_.output = false;
  try {
    cycleSearch();
    perPassReset();
    // Scheduling adds no cell to the lists, so they are walked in place rather than copied: on a
    // large model a copy is a sizeable part of the peak.
    const std::vector<Cell*>& indexed = model().indexedCells();
    for (size_t i = 0; i < indexed.size(); ++i) {
      if (!indexed[i]->formulaRoots.empty()) scheduleDependents(indexed[i]);
    }
    releaseSchedulingStack();
    // Only circles are evaluated again, so without them nothing is collected.
    std::vector<Cell*> evaluated;
    bool circles = hasCircularGroups();
    orderAndEvaluate(circles ? &evaluated : nullptr);
    if (circles) iterate(evaluated, nullptr);
  } catch (const HostCallFailure&) {
  } catch (...) {
    abandonPass();
    engine_.output = savedOutput;
    throw;
  }
  perPassReset();
  engine_.output = savedOutput;
}

void Recalculation::abandonPass() {
  std::vector<Cell*> unreached;
  try {
    for (Cell* cell : evaluationList_) {
      if (cell->hasFlag(kCellEvaluated) || cell->hasFlag(kCellInput)) continue;
      if (!isIndexedOrInput(cell) || cell->formulaRoots.empty()) continue;
      cell->ensureValue().setError(kErrorValue);
      cell->setFlag(kCellValueChanged, true);
      unreached.push_back(cell);
    }
  } catch (const std::bad_alloc&) {
    // Marking as many as memory allows is all that can be done.
  }
  perPassReset();
  for (Cell* cell : unreached) {
    try {
      output(cell, nullptr);
    } catch (const std::exception&) {
      // The model holds the marks; a workbook cell that cannot be written now is written by the
      // next pass that reaches it.
    }
  }
}

}  // namespace korvel
