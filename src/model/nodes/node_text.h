// Pieces of formula text shared by the node classes: literals of constant values and the sheet
// prefix of references.
#ifndef KORVEL_MODEL_NODES_NODE_TEXT_H_
#define KORVEL_MODEL_NODES_NODE_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/value.h"

namespace korvel {

class CompiledModel;

// The text between double quotes, each double quote inside doubled.
std::u16string quotedFormulaText(std::u16string_view text);

// A constant as a formula literal: integers in decimal, numbers by numberToText, texts quoted,
// TRUE/FALSE and error texts from the literal table, arrays as "{1,2;3,4}" with the user's list
// separator between columns and ";" between rows. Empty values and kinds without a literal
// (references) give the empty text.
std::u16string formulaLiteral(const Value& value);

// True when a sheet name must be quoted in a reference: it is empty, holds anything but ASCII
// letters, digits, "_" and ".", starts with a digit, or would read as a cell address (A1 or R1C1
// form), which the host program would take for a reference.
bool sheetNameNeedsQuotes(std::u16string_view name);

// The "Sheet!" prefix of a reference to the sheet: empty when no model is given, when the sheet is
// the current cell's, or when there is no current cell and the model has at most one sheet.
// Sets *known to false when a prefix is needed but the model has no name for the sheet.
std::u16string sheetPrefix(const CompiledModel* model, uint32_t sheet, bool* known);

}  // namespace korvel

#endif  // KORVEL_MODEL_NODES_NODE_TEXT_H_
