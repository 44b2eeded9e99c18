// Placeholder until the life cycle lands.
#include "excel/workbook_life_cycle.h"

namespace korvel {

void startApplication(ExcelConnection&) {}
void onWorkbookBeforeClose(ExcelConnection&, ExcelObject, Variant&) {}

}  // namespace korvel
