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
// Memory: each part is read whole into memory and freed after it is read. A worksheet's rows are
// parsed in place a slice of about 4 MB at a time, so a worksheet part of N bytes needs the N
// bytes and a slice's parsed tree besides the cells it yields (a 58 MB part of 1.6 million cells
// peaks near 320 MB, most of it the cells).
#ifndef KORVEL_COMPILER_XLSX_READER_H_
#define KORVEL_COMPILER_XLSX_READER_H_

#include <string>
#include <vector>

#include "compiler/workbook.h"

namespace korvel {

// Reads the package at path into *workbook (which should be new). Returns false only when the
// workbook as a whole cannot be read: not a zip package, a missing workbook or worksheet part, or
// XML that does not parse in a part the workbook needs. Faults of single cells and names (a
// formula the parser rejects, a bad cell address, an unknown shared string) go to *errors (may
// be null) as "xl/worksheets/sheet2.xml: C7: position 3: ..." and the rest is still read: a cell
// whose formula is rejected keeps its cached value as a constant, so callers that need every
// formula must treat a non-empty *errors as a failure. Never throws on bad input.
bool readXlsxWorkbook(const std::string& path, Workbook* workbook,
                      std::vector<std::string>* errors);

}  // namespace korvel

#endif  // KORVEL_COMPILER_XLSX_READER_H_
