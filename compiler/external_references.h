// References to other workbooks ("[1]Sheet1!A1", "'[2]My sheet'!$A$1:$B$3"): the model has no
// node for them, and the host program shows the values the package cached for the other
// workbook's cells when it last read them, so the package reader writes those values in place of
// the references while it reads the workbook.
#ifndef KORVEL_COMPILER_EXTERNAL_REFERENCES_H_
#define KORVEL_COMPILER_EXTERNAL_REFERENCES_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/value.h"

namespace korvel {

// One sheet of another workbook as the package cached it.
struct ExternalSheet {
  std::u16string name;
  // False when the package holds no values for the sheet (never read, or its last reading failed).
  bool cached = false;
  std::map<std::pair<uint32_t, uint32_t>, Value> cells;  // (row, column), 0-based
};

// A defined name of another workbook and what it refers to ("='Defines'!$A$1").
struct ExternalName {
  std::u16string name;
  int sheet = -1;  // the index of the sheet it belongs to; -1 for the whole workbook
  std::u16string refersTo;
};

// Another workbook, "[n]" in formulas (n counting from 1 in the package's order).
struct ExternalBook {
  std::vector<ExternalSheet> sheets;
  std::vector<ExternalName> names;
};

// The formula with every reference to another workbook written as the values cached for it: a
// cell as its literal, a block of cells as an array constant; a cell of a cached sheet that the
// cache lacks is empty there and shows 0, as the host program shows an empty cell. A reference
// the cache cannot answer (an unknown book or sheet, a sheet without values, whole columns or
// rows, a reference across sheets of the other workbook) becomes #REF!. A name of the other
// workbook reads the cells it refers to there (a name of the sheet before one of the workbook);
// an unknown name, or one that refers to anything but cells, is #REF!. A function of
// the other workbook ("[1]!Quote(A1)") becomes a call by its name, which nothing computes. "[0]"
// names this workbook and is dropped ("[0]!Rate" is Rate). Texts in quotes and everything else
// stay as written.
std::u16string resolveExternalReferences(std::u16string_view formula,
                                         const std::vector<ExternalBook>& books);

}  // namespace korvel

#endif  // KORVEL_COMPILER_EXTERNAL_REFERENCES_H_
