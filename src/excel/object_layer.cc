// Placeholder until the object layer lands.
#include "excel/object_layer.h"

namespace korvel {

ExcelCalcHost::ExcelCalcHost(ExcelConnection& connection, ExcelObject application,
                             ExcelObject workbook)
    : connection_(connection), application_(application), workbook_(workbook) {}
ExcelCalcHost::~ExcelCalcHost() = default;
void ExcelCalcHost::publishCell(Cell*) {}
bool ExcelCalcHost::calculateAndRead(CellRef, Value&) { return false; }
int ExcelCalcHost::evaluate(std::u16string_view, bool, Value&) { return 0; }
bool ExcelCalcHost::callWorksheetFunction(int, const std::vector<const Value*>&, int, Value&) {
  return false;
}
void ExcelCalcHost::runMacro(std::u16string_view, const std::vector<const Value*>&, Value&) {}
void ExcelCalcHost::runMacroArray(std::u16string_view, const std::vector<const Value*>&, Value&) {}
int ExcelCalcHost::directPrecedents(Cell*, std::vector<RangeRef>&) { return 0; }
void ExcelCalcHost::scanSheetHyperlinks(Engine&) {}
void ExcelCalcHost::openLinkedWorkbooks(Engine&) {}
void ExcelCalcHost::wireSheetControls(Engine&) {}
void ExcelCalcHost::refreshQueryTables() {}
bool ExcelCalcHost::usesDate1904() { return false; }
bool ExcelCalcHost::suspendCalculation() { return false; }
bool ExcelCalcHost::restoreCalculation() { return false; }

}  // namespace korvel
