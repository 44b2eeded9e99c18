// The reference-building members of the lookup and reference family: INDEX, OFFSET, INDIRECT,
// ADDRESS, ROW, COLUMN, ROWS, COLUMNS, TRANSPOSE and HYPERLINK. Their routines are listed in the
// family's table in lookup_functions.cc.
//
// REQUIRES: called only by the evaluator, on the thread that evaluates formulas.
#ifndef KORVEL_FUNCTIONS_REFERENCE_FUNCTIONS_H_
#define KORVEL_FUNCTIONS_REFERENCE_FUNCTIONS_H_

#include "engine/native_function.h"
#include "engine/value.h"

namespace korvel {

void indexFunction(CallContext& context, const Value* const* arguments, Value& result);
void offsetFunction(CallContext& context, const Value* const* arguments, Value& result);
void indirectFunction(CallContext& context, const Value* const* arguments, Value& result);
void addressFunction(CallContext& context, const Value* const* arguments, Value& result);
void rowFunction(CallContext& context, const Value* const* arguments, Value& result);
void columnFunction(CallContext& context, const Value* const* arguments, Value& result);
void rowsFunction(CallContext& context, const Value* const* arguments, Value& result);
void columnsFunction(CallContext& context, const Value* const* arguments, Value& result);
void transposeFunction(CallContext& context, const Value* const* arguments, Value& result);
void hyperlinkFunction(CallContext& context, const Value* const* arguments, Value& result);

}  // namespace korvel

#endif  // KORVEL_FUNCTIONS_REFERENCE_FUNCTIONS_H_
