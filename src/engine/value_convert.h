// The conversions between value kinds that the evaluator and the worksheet functions share: the
// display text, the number and boolean readings, the error texts, and the comparisons with the
// tolerance of the host program. Every conversion reads the current literal text table and the
// user locale of locale_settings.h.
#ifndef KORVEL_ENGINE_VALUE_CONVERT_H_
#define KORVEL_ENGINE_VALUE_CONVERT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/value.h"

namespace korvel {

// The display text: integers in decimal, numbers by numberToText, TRUE/FALSE and error texts from
// the literal table, arrays as "{1,2;3,\"a\"}" with the user's list separator, references and
// reference lists as the #VALUE! text, empty as "".
std::u16string toText(const Value& value);

// Empty gives 0; integers, numbers and booleans their number; texts go through textToNumber.
// Every other kind, and a text that is not a number, gives false and leaves *out unchanged.
bool toNumber(const Value& value, double* out);
// toNumber, and for a text that is not a number its reading as a date, a date and time or a time
// in the given date system.
bool toNumberForOperator(const Value& value, bool date1904, double* out);

// Integers and numbers are TRUE when not zero; a text when it equals the TRUE text
// (case-insensitive); an array by its first element; a boolean is itself; all else FALSE.
bool toBoolean(const Value& value);

// True when the text starts with "#" and equals one of the seven error texts exactly.
bool isErrorText(std::u16string_view text);
// The error code of an error text, or 0.
uint32_t errorFromText(std::u16string_view text);
// The current text of an error code; the empty text for a code that is not an error code.
const std::u16string& errorText(uint32_t code);

// Equality of two numbers with the tolerance of the host program's comparison operators.
bool numbersEqual(double a, double b);
// a > b for two numbers: nearly equal numbers are rounded to 15 decimal places first, and
// numbers equal with tolerance are not greater.
bool numberGreater(double a, double b);
// <0, 0 or >0: the empty text first, otherwise case-insensitive collation under the installed
// locale, skipping hyphens and apostrophes where the texts differ; texts that differ only in
// such marks order by their number, more marks after fewer.
int compareTexts(std::u16string_view a, std::u16string_view b);

// The comparison operators of formulas. Mixed kinds order numbers < texts < booleans < references
// < errors; the empty value counts as 0, the empty text or FALSE against the other kind; an
// array takes part through its first element in the orderings.
bool equals(const Value& a, const Value& b);
bool notEqual(const Value& a, const Value& b);
bool greater(const Value& a, const Value& b);
bool less(const Value& a, const Value& b);
bool greaterOrEqual(const Value& a, const Value& b);
bool lessOrEqual(const Value& a, const Value& b);

}  // namespace korvel

#endif  // KORVEL_ENGINE_VALUE_CONVERT_H_
