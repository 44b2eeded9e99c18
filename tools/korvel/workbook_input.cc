#include "tools/korvel/workbook_input.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <string>
#include <type_traits>

#include "compiler/workbook_text.h"
#include "compiler/xlsx_reader.h"
#include "engine/engine.h"
#include "hosts/headless/headless_calc_host.h"
#include "model/compiled_model.h"
#include "model/sheet.h"
#include "tools/korvel/application_file.h"
#include "util/text.h"

namespace korvel {

bool endsWithNoCase(const std::string& text, const std::string& tail) {
  if (text.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    char c = text[text.size() - tail.size() + i];
    char t = tail[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (t >= 'A' && t <= 'Z') t = char(t - 'A' + 'a');
    if (c != t) return false;
  }
  return true;
}

bool isApplicationInput(const std::string& path) {
  return endsWithNoCase(path, kApplicationFileExtension) ||
         sniffInput(path) == InputKind::kApplication;
}

std::u16string programWorkbookName(const std::string& path) {
  std::u16string name = fromUtf8(path.substr(path.find_last_of("/\\") + 1));
  size_t dot = name.rfind(u'.');
  return (dot == std::u16string::npos ? name : name.substr(0, dot)) + u".xlsx";
}

namespace {}  // namespace

InputKind sniffInput(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return InputKind::kUnreadable;
  if (S_ISDIR(info.st_mode)) return InputKind::kFolder;
  if (!S_ISREG(info.st_mode)) return InputKind::kNotAFile;
  std::ifstream in(path, std::ios::binary);
  if (!in) return InputKind::kUnreadable;
  char bytes[4] = {};
  in.read(bytes, 4);
  const std::string magic(bytes, size_t(in.gcount()));
  if (magic.empty()) return InputKind::kEmpty;
  if (magic == std::string("ROZ\0", 4)) return InputKind::kModel;
  if (magic == "KVAF") return InputKind::kApplication;
  if (magic == "KVCD") return InputKind::kDataFile;
  if (magic == std::string("PK\3\4", 4)) return InputKind::kPackage;
  return InputKind::kText;
}

const char* describeInput(InputKind kind) {
  switch (kind) {
    case InputKind::kUnreadable:
      return "a file that cannot be read";
    case InputKind::kFolder:
      return "a folder";
    case InputKind::kNotAFile:
      return "a device, pipe or socket";
    case InputKind::kEmpty:
      return "an empty file";
    case InputKind::kModel:
      return "a model (.kvm)";
    case InputKind::kApplication:
      return "an application file (.kvapp)";
    case InputKind::kDataFile:
      return "a data file (.dat)";
    case InputKind::kPackage:
      return "an .xlsx workbook";
    case InputKind::kText:
      return "a workbook text";
  }
  return "";
}

bool isXlsxPath(const std::string& path) {
  if (endsWithNoCase(path, ".xlsx") || endsWithNoCase(path, ".xlsm")) return true;
  std::ifstream in(path, std::ios::binary);
  char magic[4] = {};
  return in.read(magic, 4) && std::string(magic, 4) == std::string("PK\3\4", 4);
}

bool readWorkbookFile(const std::string& path, Workbook* workbook,
                      std::vector<std::string>* errors) {
  InputKind kind = sniffInput(path);
  switch (kind) {
    case InputKind::kPackage:
    case InputKind::kText:
    case InputKind::kUnreadable:  // the readers say why
      break;
    default:
      // Read as a workbook text, a model or a folder would pass for an empty workbook, and a
      // binary file would give a line of faults for every line of its bytes.
      if (errors)
        errors->push_back(std::string("this is ") + describeInput(kind) + ", not a workbook");
      return false;
  }
  if (!isXlsxPath(path)) return readWorkbookTextFile(path, workbook, errors);
  return readXlsxWorkbook(path, workbook, errors);
}

std::string cutForMessage(const std::string& text) {
  if (text.size() <= kShownFaultLength) return text;
  size_t cut = kShownFaultLength;
  while (cut > 0 && (uint8_t(text[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
  return text.substr(0, cut) + "...";
}

void printWorkbookFaults(const std::string& path, const std::vector<std::string>& errors) {
  const std::string prefix = path + ": ";
  for (size_t i = 0; i < errors.size() && i < kShownFaults; ++i) {
    std::cerr << cutForMessage(errors[i].rfind(prefix, 0) == 0 ? errors[i] : prefix + errors[i])
              << "\n";
  }
  if (errors.size() > kShownFaults) {
    std::cerr << prefix << "and " << errors.size() - kShownFaults << " more faults\n";
  }
}

namespace {

// A workbook given to keep (not const) has each formula text freed once the program holds its own
// copy, so a large workbook never holds both at once.
template <class Book>
void applySettings(Book& workbook, Engine& engine, HeadlessCalcHost& host) {
  engine.date1904 = workbook.date1904;
  engine.iteration = workbook.calculation.iterate;
  engine.maxIterations = workbook.calculation.count;
  engine.maxChange = workbook.calculation.delta;
  host.setDate1904(engine.date1904);
  size_t texts = 0, units = 0;
  for (const auto& sheet : workbook.sheets) {
    for (const auto& cell : sheet.cells) {
      if (!cell.isFormula) continue;
      ++texts;
      units += cell.formula.size();
    }
    for (const ArrayFormula& array : sheet.arrays) {
      ++texts;
      units += array.formula.size();
    }
  }
  host.reserveWorkbookFormulas(texts, units);
  // The headless program keeps the workbook's own formula texts, as the spreadsheet program does.
  for (auto& sheet : workbook.sheets) {
    const Sheet* modelSheet = engine.model().sheets().findByExcelName(sheet.name);
    if (modelSheet == nullptr) continue;
    for (uint32_t row : sheet.hiddenRows) {
      const bool filtered =
          std::any_of(sheet.filteredRows.begin(), sheet.filteredRows.end(),
                      [row](const auto& span) { return row >= span.first && row <= span.second; });
      host.hideRow(modelSheet->index(), row, filtered);
    }
    for (const auto& span : sheet.columnWidths)
      host.setColumnWidth(modelSheet->index(), span.first, span.last, span.width);
    if (sheet.defaultColumnWidth > 0) {
      host.setDefaultColumnWidth(modelSheet->index(), sheet.defaultColumnWidth);
    } else if (sheet.baseColumnWidth > 0) {
      // The base width leaves out the padding the stored widths include.
      host.setDefaultColumnWidth(modelSheet->index(), sheet.baseColumnWidth + 5.0 / 7);
    }
    for (auto& cell : sheet.cells) {
      if (!cell.isFormula) continue;
      host.setWorkbookFormula(CellRef::at(modelSheet->index(), cell.row, cell.column),
                              cell.formula);
      if constexpr (!std::is_const_v<Book>) std::u16string().swap(cell.formula);
    }
    for (const ArrayFormula& array : sheet.arrays) {
      host.setWorkbookFormula(CellRef::at(modelSheet->index(), array.firstRow, array.firstColumn),
                              array.formula);
    }
  }
}

}  // namespace

void applyWorkbookSettings(const Workbook& workbook, Engine& engine, HeadlessCalcHost& host) {
  applySettings(workbook, engine, host);
}

void applyWorkbookSettings(Workbook&& workbook, Engine& engine, HeadlessCalcHost& host) {
  applySettings(workbook, engine, host);
}

}  // namespace korvel
