// What the runtime does with the application workbook: the start sequence once the model is
// complete, and the handling of a workbook that the program is about to close.
//
// REQUIRES: used on the host program's user-interface thread.
#ifndef KORVEL_EXCEL_WORKBOOK_LIFE_CYCLE_H_
#define KORVEL_EXCEL_WORKBOOK_LIFE_CYCLE_H_

#include "excel/excel_object.h"
#include "platform/variant.h"

namespace korvel {

class ExcelConnection;

// HC_START: the first full calculation with the program's events, screen and protection held,
// the start-up import, and the program made visible when it should be. ComErrors go to the
// caller.
void startApplication(ExcelConnection& connection);
// The program's before-close event of any workbook; cancel is the by-reference Cancel argument.
void onWorkbookBeforeClose(ExcelConnection& connection, ExcelObject workbook, Variant& cancel);

}  // namespace korvel

#endif  // KORVEL_EXCEL_WORKBOOK_LIFE_CYCLE_H_
