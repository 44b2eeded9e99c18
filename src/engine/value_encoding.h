// The byte encoding of a value inside compiled models and data files: one kind byte, then a
// payload that depends on the kind. Integers are little-endian, texts UTF-16LE with a terminating
// zero unit.
//
//   0 empty       no payload
//   1 integer     i32
//   2 number      f64
//   3, 4 text     UTF-16 units, then a zero unit; either kind reads back as the form that fits
//   5 boolean     u8, non-zero = TRUE
//   6 reference   16 bytes: first CellRef, last CellRef (row word, column word each)
//   7 reference list, no payload; reads back as the empty value
//   8 array       u32 columns, u32 rows, then columns x rows elements row after row; elements are
//                 never arrays themselves
//   9 error       u32 error code; a code other than the seven reads back as the empty value
#ifndef KORVEL_ENGINE_VALUE_ENCODING_H_
#define KORVEL_ENGINE_VALUE_ENCODING_H_

#include <cstddef>
#include <string>

#include "engine/value.h"

namespace korvel {

// Appends the encoding of the value to *out. Array elements are not nested: an element that is
// itself an array or a reference list is written as the empty value.
void encodeValue(const Value& value, std::string* out);

// Decodes one value from the first `available` bytes and returns the number of bytes it took,
// kind byte included, so that values packed back to back are read one after the other. Never
// reads past `available`.
//
// Returns 0 and leaves *out empty when the bytes do not hold a whole value: no bytes at all, an
// unknown kind, a payload cut short, a text without its terminating zero unit, an array whose
// element count cannot fit in the bytes left (checked before anything is allocated), or an array
// element that is itself an array. The one lenient case is a text kind followed by fewer than 2
// bytes, which producers write for an empty text: it decodes as the empty text and takes the
// bytes that are there. An array without elements reads as the new, empty array (0 columns, 1
// row), whatever its stored dimensions.
size_t decodeValue(const char* bytes, size_t available, Value* out);

}  // namespace korvel

#endif  // KORVEL_ENGINE_VALUE_ENCODING_H_
