// The evaluator: computes one cell from its formula roots, and every node on the way, with the
// value rules of values.h: references as values, arrays or themselves, operators, comparisons,
// element-by-element evaluation over arrays and ranges, union and intersection, indirect nodes,
// and function calls to native routines or to the host program through CalcHost.
#ifndef KORVEL_ENGINE_EVALUATOR_H_
#define KORVEL_ENGINE_EVALUATOR_H_

#include <cstdint>
#include <vector>

#include "engine/engine.h"
#include "engine/value.h"
#include "model/nodes/node.h"

namespace korvel {

// Evaluates the cell's first formula root into the cell's value, with the cell as the current
// cell: an array formula's anchor computes the array for its whole range; a member of an array
// formula takes its element of the anchor's array (#N/A outside it); an array result of a cell
// without array range keeps its first element. Exceptions from host calls are caught; the cell
// keeps what the computation left. REQUIRES: cell belongs to engine's model.
void evaluateCell(Engine& engine, Cell* cell);

// Evaluates the children first, in child order, each in the mode the node asks for, then the node
// itself, into result (and the node's cached value). Returns result.
Value& evaluateNode(Engine& engine, const Node* node, int mode, Value& result);

// For every argument whose bit is set in mask (bit 0 = first argument), in order: a reference to
// one cell stands for that cell's value; the first error, or text equal to an error text, is
// copied into result. True when one was found.
bool propagateErrors(Engine& engine, const std::vector<const Value*>& arguments, Value& result,
                     uint32_t mask);

// The value of a reference operand where a single value is wanted: the normalised reference to one
// cell gives that cell's value (the cell is created empty when missing); several cells, cells on
// different sheets or the no-cell range give #VALUE!. Other values are copied.
void referenceToValue(Engine& engine, const Value& operand, Value& out);

}  // namespace korvel

#endif  // KORVEL_ENGINE_EVALUATOR_H_
