// Placeholder until the protection lands.
#include "excel/protection.h"

namespace korvel {

void Protection::applySheetProtection(std::string_view, ExcelObject&, uint32_t) {}
void Protection::liftProtection() {}
void Protection::protectSheets() {}
void Protection::protectWorkbook() {}
void Protection::openProtectionScope(uint32_t) {}
void Protection::closeProtectionScope() {}
void Protection::releaseProtectionScope() {}
void Protection::recordProtect(ExcelObject&, std::u16string_view, std::span<const Variant>) {}
void Protection::recordUnprotect(ExcelObject&) {}
void Protection::recordSelectionMode(ExcelObject&, int32_t) {}

}  // namespace korvel
