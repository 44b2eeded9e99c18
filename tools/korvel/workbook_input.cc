#include "tools/korvel/workbook_input.h"

#include <fstream>
#include <string>
#include <type_traits>

#include "compiler/workbook_text.h"
#include "compiler/xlsx_reader.h"
#include "engine/engine.h"
#include "hosts/headless/headless_calc_host.h"
#include "model/compiled_model.h"
#include "model/sheet.h"
#include "util/text.h"

namespace korvel {
namespace {

bool endsWithNoCase(const std::string& text, const std::string& tail) {
  if (text.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    char c = text[text.size() - tail.size() + i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != tail[i]) return false;
  }
  return true;
}

}  // namespace

bool isXlsxPath(const std::string& path) {
  if (endsWithNoCase(path, ".xlsx") || endsWithNoCase(path, ".xlsm")) return true;
  std::ifstream in(path, std::ios::binary);
  char magic[4] = {};
  return in.read(magic, 4) && std::string(magic, 4) == std::string("PK\3\4", 4);
}

bool readWorkbookFile(const std::string& path, Workbook* workbook,
                      std::vector<std::string>* errors) {
  if (!isXlsxPath(path)) return readWorkbookTextFile(path, workbook, errors);
  return readXlsxWorkbook(path, workbook, errors);
}

namespace {

// letGo: each formula text of the workbook is freed once the program has its own copy, so a large
// workbook never holds both at once.
template <class Book>
void applySettings(Book& workbook, Engine& engine, HeadlessCalcHost& host, bool letGo) {
  engine.date1904 = workbook.date1904;
  engine.iteration = workbook.calculation.iterate;
  engine.maxIterations = workbook.calculation.count;
  engine.maxChange = workbook.calculation.delta;
  host.setDate1904(engine.date1904);
  // The headless program keeps the workbook's own formula texts, as the spreadsheet program does.
  for (auto& sheet : workbook.sheets) {
    const Sheet* modelSheet = engine.model().sheets().findByExcelName(sheet.name);
    if (modelSheet == nullptr) continue;
    for (auto& cell : sheet.cells) {
      if (!cell.isFormula) continue;
      host.setWorkbookFormula(CellRef::at(modelSheet->index(), cell.row, cell.column),
                              cell.formula);
      if constexpr (!std::is_const_v<Book>) {
        if (letGo) std::u16string().swap(cell.formula);
      }
    }
    for (const ArrayFormula& array : sheet.arrays) {
      host.setWorkbookFormula(CellRef::at(modelSheet->index(), array.firstRow, array.firstColumn),
                              array.formula);
    }
  }
}

}  // namespace

void applyWorkbookSettings(const Workbook& workbook, Engine& engine, HeadlessCalcHost& host) {
  applySettings(workbook, engine, host, false);
}

void applyWorkbookSettings(Workbook&& workbook, Engine& engine, HeadlessCalcHost& host) {
  applySettings(workbook, engine, host, true);
}

}  // namespace korvel
