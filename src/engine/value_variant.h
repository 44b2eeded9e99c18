// Values at the automation boundary: the VARIANT a value becomes when it goes to the host program
// (cell writes, arguments of the host's functions and macros) and the value a VARIANT from the
// host's objects becomes.
#ifndef KORVEL_ENGINE_VALUE_VARIANT_H_
#define KORVEL_ENGINE_VALUE_VARIANT_H_

#include "engine/value.h"
#include "platform/variant.h"

namespace korvel {

// Empty -> VT_EMPTY, integer -> VT_I4, number -> VT_R8, boolean -> VT_BOOL, error -> VT_ERROR,
// text -> VT_BSTR, references and reference lists -> VT_EMPTY. Arrays become arrays of variants
// with lower bound 1: two dimensions (rows, columns) when they have more than one row, else one
// dimension of columns; an element that is itself an array becomes VT_EMPTY.
//
// With asCellText a text that the host program would read as something other than text when
// entered in a cell (empty, a number, a formula, TRUE or FALSE in the current literal texts, ...)
// gets a leading apostrophe, so the cell shows the text as it is.
Variant toVariant(const Value& value, bool asCellText);

// The integer types and VT_BOOL keep their meaning (integers and booleans), VT_R8 gives a number
// in integer normal form, VT_BSTR a text, VT_ERROR an error value (the missing argument and codes
// other than the seven give the empty value); every other type, VT_NULL and objects give the
// empty value. An array with one element becomes that element; a one-dimensional array one row;
// a two-dimensional array keeps its rows and columns. Elements convert by the same rules, except
// that an element that is itself an array gives the empty value.
Value fromVariant(const Variant& variant);

}  // namespace korvel

#endif  // KORVEL_ENGINE_VALUE_VARIANT_H_
