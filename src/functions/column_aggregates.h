// Running aggregates down one column, shared by the formulas of one ordered evaluation: running
// totals such as SUM($A$1:A5000) in every row would otherwise add up the same cells again for
// every row. For each column, first row and kind of aggregate, the state after each row is kept
// as it was gathered, top to bottom, exactly as the plain walk gathers it; so an answer taken
// from here is the same, bit for bit, as the walk's. Kept states are dropped from the row of a
// cell that is computed again.
//
// SUM, AVERAGE, COUNT, MIN and MAX of one reference to one column use it.
//
// REQUIRES: used only on the thread that evaluates formulas.
#ifndef KORVEL_FUNCTIONS_COLUMN_AGGREGATES_H_
#define KORVEL_FUNCTIONS_COLUMN_AGGREGATES_H_

#include "engine/native_function.h"
#include "engine/value.h"

namespace korvel {

enum class ColumnAggregate { kSum, kAverage, kCount, kMax, kMin };

// Answers the aggregate of the call's only argument when the engine allows a cache now and the
// argument is a reference to enough rows of one column; returns false, leaving result untouched,
// when the call is not such a call (the caller then walks the values itself). The caller has
// run its error pre-check.
bool columnAggregate(CallContext& context, const Value* const* arguments, ColumnAggregate kind,
                     Value& result);

}  // namespace korvel

#endif  // KORVEL_FUNCTIONS_COLUMN_AGGREGATES_H_
