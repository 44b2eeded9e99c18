// The reader of workbook packages (.xlsx): a zip of XML parts. It reads the sheets in order, the
// shared strings, every worksheet's constants, formulas (shared formulas moved to each cell),
// array formulas with their cached results, the defined names, the 1904 date flag and the
// calculation settings into the in-memory workbook. Formulas keep the package's text (no "="),
// which the model builder parses; names of functions it does not know stay calls by name.
//
// Left out, with a notice in Workbook::notices: data-table formulas (the cells keep their last
// values as constants), "_xlnm." names (print areas, filter ranges: printing, not calculation)
// and "_xlfn."/"_xlpm." names (markers the host program writes for newer functions).
// Hyperlinks, styles, comments and charts are not read.
//
// Memory: each part is read whole into memory and freed after it is read. A worksheet's rows and
// the shared strings are parsed in place a slice of about 4 MB at a time, so a part of N bytes
// needs the N bytes and a slice's parsed tree besides the cells or strings it yields (a 58 MB part
// of 1.6 million cells peaks near 320 MB, most of it the cells).
#ifndef KORVEL_COMPILER_XLSX_READER_H_
#define KORVEL_COMPILER_XLSX_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "compiler/workbook.h"
#include "util/package_parts.h"

namespace korvel {

// What a package may hold before it is refused, so that a small hostile file (a zip bomb, an
// entry that declares a size it does not have, millions of tiny strings or cells) cannot take the
// machine's memory. Bytes are counted as they are inflated, never taken from what the package
// declares. A package past a limit is refused with one message naming the part and the limit
// (docs/commands.md lists them).
struct XlsxLimits {
  // Inflated bytes of one part, and of all parts read together.
  uint64_t partBytes = kPackageMaxPartBytes;
  uint64_t packageBytes = kPackageMaxBytes;
  // Shared strings: how many, and their UTF-16 units together.
  size_t sharedStrings = kPackageMaxSharedStrings;
  size_t sharedStringUnits = kPackageMaxSharedStringUnits;
  // Inflated bytes of the styles part, which is parsed whole.
  uint64_t stylesBytes = kPackageMaxStylesBytes;
  // Cells of one worksheet, the members of its array formulas included.
  size_t cellsPerSheet = 8'000'000;
};
inline constexpr XlsxLimits kXlsxLimits{};

// Reads the package at path into *workbook (which should be new). Returns false only when the
// workbook as a whole cannot be read: not a zip package, a missing workbook or worksheet part, or
// XML that does not parse in a part the workbook needs. Faults of single cells and names (a
// formula the parser rejects, a bad cell address, an unknown shared string) go to *errors (may
// be null) as "xl/worksheets/sheet2.xml: C7: position 3: ..." and the rest is still read: a cell
// whose formula is rejected keeps its cached value as a constant, so callers that need every
// formula must treat a non-empty *errors as a failure. Never throws on bad input.
// A package past one of kXlsxLimits is refused (false) as a whole.
bool readXlsxWorkbook(const std::string& path, Workbook* workbook,
                      std::vector<std::string>* errors);
// The same under other limits (tests use small ones).
bool readXlsxWorkbook(const std::string& path, Workbook* workbook, std::vector<std::string>* errors,
                      const XlsxLimits& limits);

}  // namespace korvel

#endif  // KORVEL_COMPILER_XLSX_READER_H_
