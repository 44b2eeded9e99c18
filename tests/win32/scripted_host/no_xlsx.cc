// The scripted host program carries no zip or XML library: its workbooks are built in memory, and
// every .xlsx package call of the in-memory program and the compiler fails with one message.
#include <string>
#include <string_view>
#include <vector>

#include "compiler/xlsx_reader.h"
#include "hosts/headless/spreadsheet/xlsx_workbook.h"

namespace korvel {
namespace {

constexpr const char* kNoXlsx = "no .xlsx support in this program";

bool refuse(std::string* error) {
  if (error != nullptr) *error = kNoXlsx;
  return false;
}

}  // namespace

bool readXlsxWorkbook(const std::string&, WorkbookData* workbook, std::string* error) {
  if (workbook != nullptr) *workbook = WorkbookData{};
  return refuse(error);
}

bool readXlsxWorkbookBytes(std::string_view, WorkbookData* workbook, std::string* error) {
  if (workbook != nullptr) *workbook = WorkbookData{};
  return refuse(error);
}

bool writeXlsxWorkbook(const WorkbookData&, const std::string&, const std::string&,
                       std::string* error) {
  return refuse(error);
}

bool writeXlsxWorkbookBytes(const WorkbookData&, std::string_view, std::string*,
                            std::string* error) {
  return refuse(error);
}

bool readXlsxWorkbook(const std::string&, Workbook*, std::vector<std::string>* errors) {
  if (errors != nullptr) errors->push_back(kNoXlsx);
  return false;
}

}  // namespace korvel
