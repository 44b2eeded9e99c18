// The database functions DGET, DMIN and DSUM: a field of the records of a database range that
// satisfy the rows of a criteria range. Their routines join the aggregation family's table.
#ifndef KORVEL_FUNCTIONS_DATABASE_FUNCTIONS_H_
#define KORVEL_FUNCTIONS_DATABASE_FUNCTIONS_H_

#include "engine/native_function.h"
#include "engine/value.h"

namespace korvel {

// Routines of the native registry: (database, field, criteria).
void databaseGet(CallContext& context, const Value* const* arguments, Value& result);
void databaseMin(CallContext& context, const Value* const* arguments, Value& result);
void databaseSum(CallContext& context, const Value* const* arguments, Value& result);

}  // namespace korvel

#endif  // KORVEL_FUNCTIONS_DATABASE_FUNCTIONS_H_
