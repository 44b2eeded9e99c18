// Starting values: a compiled model carries the values the application starts with, because a full
// recalculation computes only the cells that are recalculated on every pass and their dependents.
// So every formula cell is computed once with the engine, in dependency order, on the headless
// host. A cell the engine cannot compute without the host program (its formula calls into the host
// program, or it reads such a cell, directly or through a range) keeps the value it held before,
// which for a built workbook is the value the workbook last showed, or stays empty.
//
// REQUIRES: used on one thread at a time.
#ifndef KORVEL_COMPILER_STARTING_VALUES_H_
#define KORVEL_COMPILER_STARTING_VALUES_H_

#include <cstddef>

#include "model/compiled_model.h"

namespace korvel {

class Engine;
class HeadlessCalcHost;

struct StartingValues {
  size_t formulaCells = 0;  // cells computed (formula cells and members of array formulas)
  size_t keptCells = 0;     // of those, cells that needed the host program and kept their value
};

// The start cells and every cell that reads them, directly or through other cells, ranges and
// names; the members of an array formula go with its anchor.
CellSet cellsDependingOn(const CompiledModel& model, const CellSet& start);

// Computes every formula cell of the engine's model as described above. The host's counts of
// calls that needed the host program are kept (they tell what was not computed).
// REQUIRES: engine.host() is host.
StartingValues computeStartingValues(Engine& engine, HeadlessCalcHost& host);

// The same with an engine and a headless host of its own, which are gone afterwards.
StartingValues computeStartingValues(CompiledModel& model);

}  // namespace korvel

#endif  // KORVEL_COMPILER_STARTING_VALUES_H_
