// The model builder: turns a workbook into a CompiledModel, ready for the runtime's own model
// writer. docs/workbook_text.md describes what the model holds; in short:
//
// - Sheets get indexes 0, 1, ... in workbook order; the name and the host program's name are the
//   sheet's name as written; the sheet range is the used range (A1 alone for an empty sheet).
// - Cells are created sheet by sheet, row by row, then column by column; cells that only
//   formulas or names refer to follow, empty, in the order they are first referred to. Cell
//   identity follows that order, and so does the written model.
// - Formula cells and the members of array formulas are indexed cells with a first list index
//   0, 1, 2, ... in model order. Every other cell (constants and the empty cells that formulas
//   read) is an input cell (flag 0x10): the value may come from the workbook, also through
//   INDIRECT or OFFSET, which no formula text shows.
// - A formula that calls INDIRECT, OFFSET, NOW, TODAY, RAND, RANDBETWEEN, CELL or INFO, directly
//   or through a defined name, makes its cell recalculated on every pass (0x4); INDIRECT and
//   OFFSET also make its precedents re-derived after evaluation (0x20).
// - Precedents are the cells named by the formula's cell references, and those of the names it
//   uses (through names of names too). Every distinct range the formula reads, directly or
//   through names, is an entry of the range index listing the formula cells that read it.
// - An array formula's anchor (its top-left cell) holds the formula; every member carries 0x200
//   and the array range, and every member but the anchor 0x800 (never evaluated).
// - buildModel leaves in formula cells the workbook's cached value when it has one, else no
//   value. Members of an array formula hold their element of the cached result (the anchor holds
//   the whole result). compileWorkbook then computes the starting values (starting_values.h).
// - References are absolute in the model: dollar marks are accepted and dropped. A reference
//   without a sheet is on the formula's own sheet; in a sheet-level name, on the name's sheet; in
//   a workbook-level name it is a fault.
// - A name is looked up among the names of the formula's sheet (or of the sheet it is qualified
//   with), then among the workbook-level names. A name nobody defined is #NAME?. An unknown
//   sheet and a name that refers to itself through other names are faults.
// - A LAMBDA parameter or LET variable ("_xlpm.x", "_xlop.x") and a function passed as a value
//   ("_xleta.SUM") become calls without arguments of that name (upper case), and the call of a
//   value (LAMBDA(x,x+1)(3)) a call named kAppliedCallName whose first argument is what it calls:
//   the headless program computes them with LET and LAMBDA (hosts/headless/lambda_calls.h). A call
//   of a defined name (one holding a LAMBDA) reads what the name's expression reads.
// - A reference across several sheets (Sheet1:Sheet3!A1) given to SUM, AVERAGE, COUNT, COUNTA,
//   MAX, MIN, PRODUCT or a STDEV or VAR form (and the A forms) becomes one argument per sheet, in
//   sheet order; anywhere else it is #VALUE! (#REF! when a sheet is missing).
// - The range operator between other than two cell addresses (A1:INDEX(A:A,3)) becomes a call
//   named kRangeCallName of its two ends, which the headless program computes; the cell's
//   precedents are re-derived from the area it gives.
// - Function names are upper-cased. A name the catalogue does not know, but knows without a
//   leading "_xlfn.", is called by that shorter name. A function the catalogue knows carries the
//   call flag; others stay calls without it.
//
// REQUIRES: used on one thread at a time (the model and its cells are not shared).
#ifndef KORVEL_COMPILER_MODEL_BUILDER_H_
#define KORVEL_COMPILER_MODEL_BUILDER_H_

#include <string>
#include <vector>

#include "compiler/workbook.h"
#include "model/chunk_stream.h"
#include "model/compiled_model.h"

namespace korvel {

// Builds the workbook into model, which must be new (no cells, sheets or names). functions (the
// function catalogue; may be null, then no call is catalogued) is borrowed and stored in
// model.functions, so it must outlive the model. Returns true when every item built; otherwise
// false, *errors (may be null) receives one message per fault ("line 12: Sheet1!A5: position 3:
// unknown sheet 'Input'"; the line part only for items read from a text), and the model is left
// without cells, sheets and names. A model that is not new is refused and left as it is. Never
// throws on bad input.
bool buildModel(const Workbook& workbook, const FunctionResolver* functions, CompiledModel& model,
                std::vector<std::string>* errors);

struct BuildOptions {
  // A formula cell whose formula does not parse or build, or that reads a name whose expression
  // does not (or that refers to itself), is reported in *errors and built as a cell without a
  // formula: an input cell holding the cached value, or nothing; the anchor of an array formula
  // keeps its list index but no formula. The rest of the workbook builds. Faults of sheets and
  // cells still fail the build.
  bool skipBadFormulas = false;
};

// buildModel with options. *skipped (may be null) receives the cells whose formula was dropped,
// in build order; it is left empty when the build fails.
bool buildModel(const Workbook& workbook, const FunctionResolver* functions, CompiledModel& model,
                std::vector<std::string>* errors, const BuildOptions& options,
                std::vector<CellRef>* skipped);

// buildModel into a model of its own, computeStartingValues (every formula cell computed once by
// the engine on the headless host; cells that need the host program keep the cached value), then
// writeModel into out. Nothing is written when the build fails. Throws what writeModel throws
// (FileError when a temporary file cannot be made).
bool compileWorkbook(const Workbook& workbook, const FunctionResolver* functions, ChunkStream& out,
                     std::vector<std::string>* errors);

}  // namespace korvel

#endif  // KORVEL_COMPILER_MODEL_BUILDER_H_
