// The formula texts the runtime hands to the host program instead of a call: a function newer
// than the catalogue, or a case a native leaves to the host (SUBTOTAL's codes, EVALUATE). The
// runtime writes them in one narrow shape: "=NAME(" + arguments joined by the user's list
// separator + ")", each argument a literal (number, quoted text, TRUE/FALSE, an error, an array
// constant {1,2;3,4}) or a reference as formulas write it (A1, $A$1:B2, A:C, 1:3, Sheet2!A1,
// 'My sheet'!A1:C3, a defined name, a union in parentheses). The headless program reads that
// shape and computes the call with its own routines or the native of the name; an argument may
// itself be such a call (functions that compute references are written as they stand), computed
// in place. It has no formula parser, so anything else (operators, other workbooks) stays for the
// host program.
//
// REQUIRES: used only on the thread that evaluates formulas.
#ifndef KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_CALL_TEXT_H_
#define KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_CALL_TEXT_H_

#include <string>
#include <string_view>
#include <vector>

#include "engine/native_function.h"
#include "engine/value.h"

namespace korvel {

// A call read from a formula text.
struct HostCallText {
  // Upper case, without the "_xlfn." and "_xlws." prefixes of newer functions; empty when the
  // text is a lone operand ("=Sheet1!A1", "=5"), which is then the only argument.
  std::u16string name;
  std::vector<Value> arguments;  // a missing argument is the empty value
};

// Reads "=NAME(arguments)" or "=operand" in the user's list and decimal separators. References
// without a sheet lie on the sheet of context.cell (sheet 0 without a cell); sheet names are the
// model's (the host program's name, else the model's own); defined names are looked up in the
// model's name table (a name of the cell's sheet before a workbook name) and evaluated by
// context.engine, so they give their reference. False, with call unspecified, for any other
// text, for a sheet or name the model does not have, and without an engine.
bool parseCallText(CallContext& context, std::u16string_view text, HostCallText& call);

enum class CallTextResult {
  kNotComputed,  // the text could not be read, or no routine computes the function
  kValue,        // out holds the call's value
  kCells,        // the call gave a reference: out holds its cell's value or its values' array
};

// Computes a formula text: its function by the headless program's routine of that name
// (hostRoutine), else by the native routine of that name; a lone operand gives its value.
// Arguments at value positions of catalogued functions are read as the evaluator reads them
// (a one-cell reference stands for its cell's value). A text that comes back while it is being
// computed (a native handing the same call to the host again) is not computed, nor are texts
// nested deeper than a few calls.
CallTextResult computeCallText(CallContext& context, std::u16string_view text, Value& out);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_CALL_TEXT_H_
