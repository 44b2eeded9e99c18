// The built-in table of worksheet functions: one plain row per function with its name, its
// function number, its argument counts, its kind and its argument and return letters. The
// FunctionCatalogue is built from these rows; nothing else reads them directly.
#ifndef KORVEL_FUNCTIONS_FUNCTION_TABLE_H_
#define KORVEL_FUNCTIONS_FUNCTION_TABLE_H_

#include <cstdint>
#include <span>

namespace korvel {

struct FunctionRow {
  const char16_t* name;  // upper case, as formulas spell it
  int16_t number;        // the host program's worksheet-function number, 0..711
  int16_t minimumArguments;
  int16_t maximumArguments;  // 30 for the open-ended functions
  uint8_t kind;              // 1 ordinary, 2 macro-sheet call-outs, 4 volatile
  char returnType;           // 'V', 'A', 'R', or 0 for none
  // One letter per argument position, the last repeating: 'V' value, 'S' single value (never
  // taken element by element), 'R' reference, 'A' array, 'N' unevaluated reference. Null for
  // functions without arguments of their own.
  const char* argumentTypes;
};

// The 445 rows in ascending name order.
std::span<const FunctionRow> functionRows();

}  // namespace korvel

#endif  // KORVEL_FUNCTIONS_FUNCTION_TABLE_H_
