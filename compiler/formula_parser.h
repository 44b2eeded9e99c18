// The formula parser of the compiler: A1-style formula text to a small syntax tree that the model
// builder turns into expression nodes. It knows the syntax only: whether a name is a defined name
// or a sheet exists is for the builder to say.
//
// Precedence, from the tightest: the range colon inside a reference token (A1:B2, A:C, 1:3), the
// range colon between other references (A1:INDEX(A:A,3), OFFSET(A1,1,1):B9, Name:C5), the
// intersection (a space between two references), the union (the list separator inside
// parentheses), negation (unary minus; unary plus is dropped), percent, ^, * and /, + and -, &,
// then the six comparisons. Binary operators group from the left, so 2^3^2 is (2^3)^2 and
// -2^2 is (-2)^2, as the host program computes them.
//
// Limits: 8192 units of formula text, 255 units per text constant, and at most 1000 levels of
// operators, calls, unions and intersections in the tree (a chain a+b+c+... counts a level per
// operator).
#ifndef KORVEL_COMPILER_FORMULA_PARSER_H_
#define KORVEL_COMPILER_FORMULA_PARSER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/value.h"

namespace korvel {

enum class SyntaxKind {
  kNumber,
  kText,
  kBoolean,
  kError,
  kArray,    // array constant
  kMissing,  // an argument left out: F(1,,2)
  kReference,
  kName,        // a defined name, possibly sheet-qualified
  kCall,        // a function by name; without a name, a call of its first child: LAMBDA(x,x+1)(3)
  kOperator,    // code: OperatorCode of model/nodes/node.h (negation and percent are unary)
  kComparison,  // code: ComparisonCode of model/nodes/node.h
  kUnion,
  kIntersection,
  kRange,  // the range operator between two expressions that are no plain cell address
};

// One corner of a reference; the dollar marks are kept for rendering only.
struct SyntaxCell {
  uint32_t row = 0;     // 0-based
  uint32_t column = 0;  // 0-based
  bool absoluteRow = false;
  bool absoluteColumn = false;
};

enum class ReferenceShape { kCell, kArea, kColumns, kRows };

struct SyntaxNode {
  SyntaxKind kind = SyntaxKind::kMissing;
  // 1-based position, in the parsed text, of the first unit of the node (of the operator for
  // operators).
  size_t position = 0;
  double number = 0;
  bool boolean = false;
  uint32_t errorCode = 0;
  uint8_t code = 0;
  // The text constant, the defined name or the function name, as written.
  std::u16string text;
  // Sheet qualifier of a reference or a name, as written without quotes; hasSheet tells an empty
  // qualifier from none.
  bool hasSheet = false;
  std::u16string sheet;
  // The last sheet of a reference across several sheets (Sheet1:Sheet3!A1), else empty.
  std::u16string lastSheet;
  ReferenceShape shape = ReferenceShape::kCell;
  SyntaxCell first;
  SyntaxCell last;  // equals first for a single cell
  ValueArray array;
  std::vector<std::unique_ptr<SyntaxNode>> children;
  // Levels of the subtree, 1 for a leaf. Bounded by the parser, so that passes over the tree and
  // over the nodes built from it may recurse.
  uint32_t height = 1;

  // A compact prefix rendering for diagnostics and tests: "(+ 1 (* 2 A1))", "(SUM A1:B2 _)",
  // "(neg x)", "(% x)", "(apply (LAMBDA ...) 3)", "(union a b)", "(isect a b)", "(range a b)",
  // "name(Rate)", "Sheet1:Sheet3!A1", "{1,2;3,4}", "#N/A".
  std::string describe() const;
};

struct ParseError {
  size_t position = 0;  // 1-based position in the parsed text where the fault was found
  std::string message;  // "position 7: expected ..." (UTF-8)
};

// Parses a formula; a leading "=" is optional. Returns the root, or null with *error set (error
// may be null). Never throws on bad input.
std::unique_ptr<SyntaxNode> parseFormula(std::u16string_view text, ParseError* error);

// Parses a single constant as a cell of the workbook text holds it: a number (with an optional
// sign), a text in double quotes, TRUE or FALSE, an error literal, or, when allowArray, an array
// constant. Returns false with *error set (position relative to text) for anything else.
bool parseConstant(std::u16string_view text, bool allowArray, Value* out, ParseError* error);

// An A1 cell address with optional dollar marks, within the full sheet size ("XFD1048576" at
// most); the whole text must be the address.
bool parseCellAddress(std::u16string_view text, SyntaxCell* out);

// The code of an error literal such as "#N/A" (case-insensitive), or 0.
uint32_t errorCodeOfLiteral(std::u16string_view text);
// The literal of one of the seven error codes ("#N/A"); "#VALUE!" for any other code.
std::u16string_view errorLiteralText(uint32_t code);

// True when the text is a valid defined name: a letter, "_" or "\" first, then letters, digits,
// "_", "." or "\"; not TRUE or FALSE, not a cell address such as "AB12", not a row-and-column
// address such as "R1C1", "R" or "C".
bool isValidDefinedName(std::u16string_view text);

}  // namespace korvel

#endif  // KORVEL_COMPILER_FORMULA_PARSER_H_
