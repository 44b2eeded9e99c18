// The argument and result rules that every native function family shares: the error pre-check
// over chosen arguments, the reading of a number from a value, and the storing of number and
// error results. Families say per argument which rule it follows; the bodies then work on plain
// numbers and leave the error cases to these helpers.
//
// REQUIRES: used only on the thread that evaluates formulas.
#ifndef KORVEL_FUNCTIONS_ARGUMENTS_H_
#define KORVEL_FUNCTIONS_ARGUMENTS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/native_function.h"
#include "engine/value.h"
#include "model/cell_ref.h"

namespace korvel {

class CompiledModel;

// A pre-check mask that covers every argument, however many there are.
inline constexpr uint32_t kAllArguments = 0xFFFFFFFFu;
// The mask bit of one argument position. REQUIRES: 0 <= position < 32.
constexpr uint32_t argumentBit(int position) { return uint32_t{1} << position; }

// The number of arguments: the pointers before the terminating null.
size_t argumentCount(const Value* const* arguments);

// The argument at a position, or null when the call has fewer arguments.
const Value* argumentAt(const Value* const* arguments, size_t position);

// The current value of a cell of the context's model (the engine's, else the cell's own); a cell
// that does not exist, has no value yet, or a context without a model reads as the empty value.
const Value& cellValueAt(const CallContext& context, CellRef address);

// The last row of the column that holds a stored cell, or -1 when none does (or the context has
// no model). Range scans stop there: later rows can hold no value.
int64_t lastStoredRow(const CallContext& context, uint32_t sheet, uint32_t column);

// An error value, or a text equal to an error text: what the rules pass on as an error.
bool isErrorLike(const Value& value);

// A reference to one cell stands for that cell's value (cellValueAt); any other value, a
// reference to several cells included, is returned as it is.
Value dereferenced(const CallContext& context, const Value& value);

// Error pre-check over the arguments whose bit is set in mask (bit i for argument i; arguments
// from position 32 on are covered only by kAllArguments), in argument order:
// - a reference is normalised; a corner at the no-cell address, or corners on two sheets, make
//   the result #REF!;
// - a single-cell reference reads its cell: an error, or a text equal to an error text, becomes
//   the result as it stands; a reference to several cells is not read;
// - an error value becomes the result.
// Returns true when it set the result and the call stops; false leaves result untouched.
bool errorPrecheck(const CallContext& context, const Value* const* arguments, uint32_t mask,
                   Value& result);

// The number a value stands for: floating numbers as they are, integers, booleans (0 or 1) and
// the empty value (0) converted, texts read by textToNumber. Returns true with *out set; false
// with the result set when there is no number: an error value or a text equal to an error text is
// copied, any other text that does not read as a number, a reference, a reference list and an
// array give #VALUE!.
bool numberFromValue(const Value& value, double* out, Value& result);
// A value typed directly as an argument of an aggregate (SUM, COUNT, STDEV...), read as the
// program reads it there: numbers as they are, booleans as 1 or 0, a text that reads as a number,
// a date or a time as that number. False for any other text or kind.
bool directArgumentNumber(const CallContext& context, const Value& value, double* out);
// numberFromValue for loops that gather errors: 0 with *out set, else the error code the value
// stands for (the code of an error text, #VALUE! for the rest).
uint32_t numberOrError(const Value& value, double* out);

// Stores a computed number in integer normal form (3.0 and -0.0 as integers, 2.5 and 3e9 as
// floating numbers). NaN and the infinities, which no cell can hold, become #NUM!.
void setNumberResult(Value& result, double x);
// Stores an error, releasing what the result held. A code that is not one of the seven error
// codes becomes #VALUE!, so a result is never left empty by a bad code.
void setErrorResult(Value& result, uint32_t code);

// Calls into the host program for the parts of a function that the library leaves to it. Both
// clear the engine's computed-without-host flag first. Without an engine or a host the result is
// #NAME?, as for any function nobody computes.
// callHostFunction: the host's function of that number with exactly count parameters (the
// arguments, then missing ones); a failed call gives #VALUE!.
void callHostFunction(CallContext& context, int number, const Value* const* arguments, int count,
                      Value& result);
// evaluateOnHost: a formula text beginning with "=", in the user's function names and list
// separator; a failed evaluation gives #VALUE!.
void evaluateOnHost(CallContext& context, std::u16string_view formula, Value& result);

// The cell CELL reports on: the reference argument's top-left cell, or the calling cell when the
// argument is absent or empty. False with the result set (#VALUE!, #REF! or the argument's error)
// when there is none.
bool cellArgumentAddress(const CallContext& context, const Value* reference, CellRef* address,
                         Value& result);
// That cell's value; the calling cell's own value while it is being computed.
const Value& cellArgumentValue(const CallContext& context, CellRef address);

// The model a call reads: its engine's, else its cell's; null without either.
const CompiledModel* contextModel(const CallContext& context);
// The name of the model's sheet as the host program shows it; empty for a sheet it does not have.
std::u16string contextSheetName(const CallContext& context, uint32_t sheet);

// An argument as it stands in a formula text for the host program: a reference as its address
// (qualified with its sheet's name when it lies on another sheet than the context's cell), a
// reference list as its references in parentheses joined by the list separator, any other value
// as its literal.
std::u16string argumentFormulaText(const CallContext& context, const Value& argument);

}  // namespace korvel

#endif  // KORVEL_FUNCTIONS_ARGUMENTS_H_
