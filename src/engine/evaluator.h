// The evaluator: computes one cell from its formula roots, and every node on the way, with the
// value rules of value_convert.h: references as values, arrays or themselves, operators,
// comparisons, element-by-element evaluation over arrays and ranges, union and intersection,
// indirect nodes, and function calls to native routines or to the host program through CalcHost.
//
// Modes (EvalMode in node.h): 0 and 1 want a single value, 2 a value or an array, 3 a reference.
// What each node yields in each mode:
// - constants: their value; a missing argument the empty value;
// - a cell reference: in modes 0 to 2 the cell's value (its first element when the cell holds an
//   array), in mode 3 a reference to the cell;
// - a range reference: in modes 0 and 1 the value of its single cell, or of the one cell it shares
//   with the row and column of the cell being computed (#VALUE! when there is none), in modes 2
//   and 3 the reference;
// - union: a reference list of its operands' references (#VALUE! when one is not a reference);
//   intersection: the reference to the common cells (#NULL! when there are none); in value modes
//   both stand for the value of a single cell;
// - operators and comparisons: evaluate their operands in their own mode and work element by
//   element when an operand is an array, or in modes 2 and 3 a reference to several cells;
// - indirect nodes (names, shared expressions, other roots of the cell): their target in the
//   caller's mode; no target gives the empty value.
//
// Function calls. Argument i of a catalogued function is evaluated after its argument class:
// reference and unevaluated-reference classes (2, 4) in mode 3, the array class (3) in mode 2,
// value classes (0, 1) in mode 1 (mode 2 while the call itself is evaluated in mode 2 or 3).
// A function without descriptor (unknown to the catalogue, user-defined) gets every argument in
// mode 3, so that the host program sees references as ranges. The call is applied element by
// element when an argument at a value-class position holds an array or a reference to several
// cells and the function does not return an array (array-valued functions such as TRANSPOSE or
// LINEST shape their result from whole arguments); the other arguments go whole to every
// element's call, whose result is reduced to a single value. IF and CHOOSE, which answer with
// one of their (whole) branch arguments, read an array or range branch at the element's own
// position (#N/A past its end), and such branches widen the result like the condition. The flags
// bits "takes references" and "takes arrays" only summarise the classes, so the per-position class
// decides.
//
// Before any of this the host may take the call whole, its arguments unevaluated
// (CalcHost::computeCall): calls without a native routine, and every call while the host says it
// sees every call. Then: a native routine when the call node has one; otherwise the host program.
// Calls with the call flag go by number (callWorksheetFunction, with the catalogue's maximum
// argument count) when the catalogue describes the number, else as formula text (evaluate); calls
// without it are user-defined functions and go to runMacro (runMacroArray when an argument is an
// array or a reference), except names with the "_XLFN." or "_XLWS." prefix, which are host
// functions newer than the catalogue and go as formula text. Without a host every such call yields
// #NAME?.
//
// REQUIRES: every function here runs on the thread that evaluates formulas.
#ifndef KORVEL_ENGINE_EVALUATOR_H_
#define KORVEL_ENGINE_EVALUATOR_H_

#include <cstdint>
#include <span>
#include <vector>

#include "engine/engine.h"
#include "engine/value.h"
#include "model/nodes/node.h"

namespace korvel {

// Evaluates the cell's first formula root into the cell's value, with the cell as the current
// cell: an array formula's anchor computes the array for its whole range (mode 2; a reference
// result becomes the array of the range's values); a member of an array formula takes its element
// of the anchor's array (#N/A outside it; a single value stands for every member); an array result
// of a cell without array range keeps its first element. An empty result is shown as 0, as the
// host program shows a formula that refers to an empty cell. Sets kCellValueChanged when the new
// value differs from the old one and clears it otherwise. An exception from a host call leaves the
// cell with the value it had before. A null cell or a cell without formula does nothing.
// REQUIRES: cell belongs to engine's model.
void evaluateCell(Engine& engine, Cell* cell);

// Evaluates a formula tree that no cell owns (a lone formula, for tools) as if it stood in the
// cell at (which may be null: then references print without sheet and local roots are absent).
// Modes 0 to 2 give values as evaluateCell does (mode 2 keeps arrays and turns references into
// arrays of values); mode 3 keeps references. Never throws: a host failure gives #VALUE!.
Value evaluateFormula(Engine& engine, const Node* root, Cell* at, int mode);

// Evaluates the children first, in child order, each in the mode the node asks for, then the node
// itself, into result; composite nodes also keep the result as their cached value. Returns
// result. Trees nested deeper than the engine allows, and indirect nodes that stand for each other
// in a circle, give #VALUE! and the empty value. Host exceptions pass through (evaluateCell and
// evaluateFormula catch them).
Value& evaluateNode(Engine& engine, const Node* node, int mode, Value& result);

// For every argument whose bit is set in mask (bit 0 = first argument), in order: a reference to
// one cell stands for that cell's value; the first error, or text equal to an error text, is
// copied into result. True when one was found. Null entries are skipped.
bool propagateErrors(Engine& engine, std::span<const Value* const> arguments, Value& result,
                     uint32_t mask);
inline bool propagateErrors(Engine& engine, const std::vector<const Value*>& arguments,
                            Value& result, uint32_t mask) {
  return propagateErrors(engine, std::span<const Value* const>(arguments), result, mask);
}

// The value of a reference operand where a single value is wanted: the normalised reference to one
// cell gives that cell's value, its first element when it holds an array (the cell is created
// empty when missing); several cells give the cell they share with the row and column of the
// cell being computed (currentCell), and #VALUE! when they share none; cells on different sheets
// or the no-cell range give #VALUE!. A reference list of one reference counts as that reference,
// any other list gives #VALUE!. Other values are copied. operand and out may be the same value.
void referenceToValue(Engine& engine, const Value& operand, Value& out);

// The values of the cells of a reference as an array (first elements of array values, empty for
// missing cells); #VALUE! for a reference that is not on one sheet, a reference list of more than
// one reference, or a range too large to hold. Other values are copied.
void referenceToArray(Engine& engine, const Value& operand, Value& out);

}  // namespace korvel

#endif  // KORVEL_ENGINE_EVALUATOR_H_
