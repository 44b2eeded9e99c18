// The database functions DGET, DMIN and DSUM: a field of the records of a database range that
// satisfy the rows of a criteria range. Their routines join the aggregation family's table.
#ifndef KORVEL_FUNCTIONS_DATABASE_FUNCTIONS_H_
#define KORVEL_FUNCTIONS_DATABASE_FUNCTIONS_H_

#include <functional>

#include "engine/native_function.h"
#include "engine/value.h"

namespace korvel {

// Routines of the native registry: (database, field, criteria).
void databaseGet(CallContext& context, const Value* const* arguments, Value& result);
void databaseMin(CallContext& context, const Value* const* arguments, Value& result);
void databaseSum(CallContext& context, const Value* const* arguments, Value& result);

// The walk those routines share, for the database functions computed elsewhere (the host
// program's): calls take(value, times) for the field cell of every record that satisfies the
// criteria, in record order, until take returns false. With blanksMatter, one blank record below
// the last stored one stands for all of them (times is their number; 1 otherwise). Returns false
// with the result set (#VALUE! or the field's error) when the arguments name no database, field
// or criteria range.
using DatabaseVisit = std::function<bool(const Value& value, double times)>;
bool forEachDatabaseMatch(CallContext& context, const Value* const* arguments, bool blanksMatter,
                          const DatabaseVisit& take, Value& result);

}  // namespace korvel

#endif  // KORVEL_FUNCTIONS_DATABASE_FUNCTIONS_H_
