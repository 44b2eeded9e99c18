#include "tools/korvel/data_command.h"

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <vector>

#include "data/data_file.h"
#include "hosts/headless/disk_files.h"
#include "hosts/headless/spreadsheet/xlsx_workbook.h"
#include "model/address.h"
#include "model/compiled_model.h"
#include "tools/korvel/application_file.h"
#include "tools/korvel/cell_text.h"
#include "tools/korvel/exit_status.h"
#include "tools/korvel/model_dump.h"
#include "tools/korvel/workbook_input.h"
#include "util/text.h"

namespace korvel {
namespace {

std::string versionText(uint32_t version) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u", version >> 24, (version >> 16) & 0xFF,
                (version >> 8) & 0xFF, version & 0xFF);
  return buffer;
}

// "Order!C7" with the book's sheet names, else "sheet 2!C7": the sheet by its position from 1.
// The cell as the workbook names it.
std::string recordCell(const DataRecord& r, const std::vector<std::u16string>& sheets) {
  std::string sheet = r.sheet < sheets.size() ? sheetReferenceName(sheets[r.sheet])
                                              : "sheet " + std::to_string(uint32_t(r.sheet) + 1);
  return sheet + "!" + toUtf8(cellText(CellRef::at(0, r.row, r.column)));
}

// The sheet names of the book the data belongs to: a workbook, or an application file's
// workbook. False with the message on stderr.
bool bookSheetNames(const std::string& book, std::vector<std::u16string>* names) {
  if (sniffInput(book) == InputKind::kApplication) {
    DiskFiles files;
    ApplicationContents contents;
    WorkbookData workbook;
    std::string error;
    std::u16string path = fromUtf8(book);
    if (!readApplication(files, path, &contents, &error) ||
        !readXlsxWorkbookBytes(contents.workbook, &workbook, &error)) {
      std::cerr << "korvel: " << book << ": " << error << "\n";
      return false;
    }
    for (const SheetData& sheet : workbook.sheets) names->push_back(sheet.name);
    return true;
  }
  Workbook workbook;
  std::vector<std::string> errors;
  if (!readWorkbookFile(book, &workbook, &errors)) {
    printWorkbookFaults(book, errors);
    return false;
  }
  for (const WorkbookSheet& sheet : workbook.sheets) names->push_back(sheet.name);
  return true;
}

}  // namespace

int dataDumpCommand(const std::string& path, bool json, const std::string& book) {
  std::vector<std::u16string> sheets;
  if (!book.empty() && !bookSheetNames(book, &sheets)) return kExitFailed;
  DiskFiles files;
  std::u16string widePath = fromUtf8(path);
  DataFileHeader header;
  std::string section;
  DataFileCode code = readDataFile(files, widePath, &header, &section);
  if (code != DataFileCode::kOk) {
    std::cerr << "korvel: " << toUtf8(dataFileMessage(code, widePath)) << "\n";
    return kExitFailed;
  }
  std::vector<DataRecord> records;
  bool complete = readDataRecords(header, section, &records);

  // Data files carry no sheet names: without the book a record's sheet is shown by its position,
  // counted from 1 as the workbook's tabs are, and references by their cells alone.
  CompiledModel noModel;
  if (json) {
    nlohmann::ordered_json out;
    out["header"] = {{"appId", header.applicationId},
                     {"timestamp", header.timestamp},
                     {"formatVersion", versionText(header.formatVersion)},
                     {"recordLength", header.recordLength}};
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const DataRecord& r : records) {
      list.push_back({{"cell", recordCell(r, sheets)},
                      {"sheet", r.sheet},
                      {"row", r.row},
                      {"col", r.column},
                      {"value", valueJson(noModel, r.value)}});
    }
    out["records"] = list;
    std::cout << out.dump(2) << "\n";
  } else {
    std::cout << "appId: " << header.applicationId << "\n"
              << "timestamp: " << header.timestamp << "\n"
              << "formatVersion: " << versionText(header.formatVersion) << "\n"
              << "recordLength: " << header.recordLength << "\n"
              << "records: " << records.size() << "\n";
    for (const DataRecord& r : records) {
      std::cout << "  " << recordCell(r, sheets) << " = " << valueText(noModel, r.value) << "\n";
    }
  }
  std::cout.flush();
  if (!complete) {
    std::cerr << "korvel: " << toUtf8(dataFileMessage(DataFileCode::kInvalid, widePath)) << "\n";
    return kExitFailed;
  }
  return kExitSuccess;
}

}  // namespace korvel
