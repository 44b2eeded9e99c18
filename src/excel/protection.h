// The application's sheet and workbook protection: applying it after the first calculation,
// lifting it where the runtime must write, the scope around the engine's writes that re-protects
// what was opened, and keeping the table in step with what the workbook's code does (through the
// interceptions of Protect, Unprotect and EnableSelection).
//
// The table is the runtime's (Settings::protectionTable); a sheet's entry is at its Index - 1.
//
// REQUIRES: used on the host program's user-interface thread.
#ifndef KORVEL_EXCEL_PROTECTION_H_
#define KORVEL_EXCEL_PROTECTION_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "excel/excel_object.h"
#include "platform/variant.h"
#include "runtime/settings_record.h"

namespace korvel {

class ExcelConnection;

// Sheet word bits.
inline constexpr uint32_t kProtectSelectAll = 0x4;
inline constexpr uint32_t kProtectSelectUnlocked = 0x8;
inline constexpr uint32_t kProtectDrawingObjects = 0x10;
inline constexpr uint32_t kProtectContents = 0x20;
inline constexpr uint32_t kProtectScenarios = 0x40;
inline constexpr uint32_t kProtectUserInterfaceOnly = 0x80;
// Workbook word bits.
inline constexpr uint32_t kProtectStructure = 0x1;
inline constexpr uint32_t kProtectWindows = 0x2;

class Protection {
 public:
  explicit Protection(ExcelConnection& connection) : connection_(connection) {}

  // Activates the worksheet and protects it as the word says: the 16-argument Protect from major
  // version 10, the 4-argument one below; then EnableSelection from bits 0x4 and 0x8.
  void applySheetProtection(std::string_view password, ExcelObject& worksheet, uint32_t word);
  // Unprotects every protected sheet of the application workbook with its password, the active
  // sheet last, with the recording switch off.
  void liftProtection();
  // Protects every sheet whose word is not 0 (worksheets only), the active one last, and selects
  // the remembered selection again.
  void protectSheets();
  void protectWorkbook();

  // Around the engine's writes: the scope copies the table's words for the object layer, which
  // unprotects a sheet before its first write and clears its word in the copy; closing protects
  // again every sheet whose copy differs, the active one last.
  void openProtectionScope(uint32_t sheetIndex);
  // The scope's owner switched ScreenUpdating off; closing switches it on again.
  void noteScreenUpdatingSwitchedOff() { screenUpdatingSwitchedOff_ = true; }
  void closeProtectionScope();
  void releaseProtectionScope();
  bool scopeOpen() const { return scope_.has_value(); }

  // After the program's own Protect, Unprotect or EnableSelection succeeded on a worksheet of the
  // application workbook. options are the Protect arguments after the password, in order
  // (omitted ones take the program's defaults).
  void recordProtect(ExcelObject& worksheet, std::u16string_view password,
                     std::span<const Variant> options);
  void recordUnprotect(ExcelObject& worksheet);
  void recordSelectionMode(ExcelObject& worksheet, int32_t mode);

  // While false, Unprotect calls are not recorded: the runtime's own calls.
  bool recording = true;

 private:
  ExcelConnection& connection_;
  std::optional<ProtectionTable> scope_;
  uint32_t scopeSheet_ = 0;
  bool screenUpdatingSwitchedOff_ = false;
};

}  // namespace korvel

#endif  // KORVEL_EXCEL_PROTECTION_H_
