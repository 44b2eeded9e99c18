// Placeholder until the attach sequence lands.
#include "excel/excel_connection.h"

namespace korvel {

void ExcelConnection::attachApplication(uint64_t, std::u16string_view) {}
void ExcelConnection::subclassEditWindows(WindowHandle) {}
void ExcelConnection::restoreEditWindows() {}
void ExcelConnection::runMainMacro(std::u16string_view) {}
void ExcelConnection::restoreFormulas(std::u16string_view) {}

}  // namespace korvel
