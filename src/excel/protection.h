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
inline constexpr uint32_t kProtectAllowFormattingCells = 0x100;
inline constexpr uint32_t kProtectAllowFiltering = 0x400;
inline constexpr uint32_t kProtectAllowFormattingRows = 0x800;
inline constexpr uint32_t kProtectAllowFormattingColumns = 0x1000;
inline constexpr uint32_t kProtectAllowInsertingColumns = 0x2000;
inline constexpr uint32_t kProtectAllowInsertingRows = 0x4000;
inline constexpr uint32_t kProtectAllowInsertingHyperlinks = 0x8000;
inline constexpr uint32_t kProtectAllowDeletingColumns = 0x10000;
inline constexpr uint32_t kProtectAllowDeletingRows = 0x20000;
inline constexpr uint32_t kProtectAllowSorting = 0x40000;
inline constexpr uint32_t kProtectAllowUsingPivotTables = 0x80000;
inline constexpr uint32_t kProtectSelectionBits = kProtectSelectAll | kProtectSelectUnlocked;
// Workbook word bits.
inline constexpr uint32_t kProtectStructure = 0x1;
inline constexpr uint32_t kProtectWindows = 0x2;

// EnableSelection values of a worksheet.
inline constexpr int32_t kSelectionNoRestrictions = 0;
inline constexpr int32_t kSelectionUnlockedCells = 1;
inline constexpr int32_t kSelectionNone = -4142;

// The bits of the options of Worksheet.Protect after the password, in argument order.
inline constexpr uint32_t kProtectOptionBits[15] = {
    kProtectDrawingObjects,
    kProtectContents,
    kProtectScenarios,
    kProtectUserInterfaceOnly,
    kProtectAllowFormattingCells,
    kProtectAllowFormattingColumns,
    kProtectAllowFormattingRows,
    kProtectAllowInsertingColumns,
    kProtectAllowInsertingRows,
    kProtectAllowInsertingHyperlinks,
    kProtectAllowDeletingColumns,
    kProtectAllowDeletingRows,
    kProtectAllowSorting,
    kProtectAllowFiltering,
    kProtectAllowUsingPivotTables,
};

class Protection {
 public:
  explicit Protection(ExcelConnection& connection) : connection_(connection) {}

  // Activates the worksheet and protects it as the word says: the 16-argument Protect from major
  // version 10, the 4-argument one below; then EnableSelection from bits 0x4 and 0x8. The password
  // is 8-bit, one byte per character. Nothing happens to an empty holder.
  // Throws ComError when a call fails; callers handle one sheet at a time.
  void applySheetProtection(std::string_view password, ExcelObject& worksheet, uint32_t word);
  // Unprotects every sheet of the application workbook whose word is not 0 and that reports
  // ProtectContents, with its password (the application password when it has none), the active
  // sheet last, with the recording switch off; chart sheets are left alone. Never throws.
  void liftProtection();
  // Protects every worksheet whose word is not 0, the active one last (or activates it again when
  // it is not protected), and selects the remembered selection again; EnableEvents is off
  // meanwhile. Never throws.
  void protectSheets();
  // Protects the workbook's structure and windows as the table's workbook word says. Never throws.
  void protectWorkbook();

  // Around the engine's writes: the scope copies the table's words for the object layer, which
  // unprotects a sheet before its first write and clears its word in the copy; closing protects
  // again every sheet whose copy differs, the active one last. sheetIndex is the table index
  // (Index - 1) of the sheet that was active when the scope opened; closing falls back on it when
  // the program cannot tell its active sheet. None of the three throws.
  void openProtectionScope(uint32_t sheetIndex);
  // The scope's owner switched ScreenUpdating off; closing switches it on again.
  void noteScreenUpdatingSwitchedOff() { screenUpdatingSwitchedOff_ = true; }
  void closeProtectionScope();
  void releaseProtectionScope();
  bool scopeOpen() const { return scope_.has_value(); }
  // The working copy the object layer was handed (null without an open scope or a table).
  ProtectionTable* scopeTable() { return scope_ ? &*scope_ : nullptr; }

  // After the program's own Protect, Unprotect or EnableSelection succeeded on a worksheet of the
  // application workbook (sheets of other workbooks are ignored). options are the Protect
  // arguments after the password, in order (omitted ones take the program's defaults). None of
  // the three throws.
  void recordProtect(ExcelObject& worksheet, std::u16string_view password,
                     std::span<const Variant> options);
  void recordUnprotect(ExcelObject& worksheet);
  void recordSelectionMode(ExcelObject& worksheet, int32_t mode);

  // While false, Unprotect calls are not recorded: the runtime's own calls.
  bool recording = true;

 private:
  // The sheet's index in the table (Index - 1) when it belongs to the application workbook.
  std::optional<size_t> tableIndex(ExcelObject& worksheet);
  // The sheets of the application workbook and the Index of the program's active sheet (0 when
  // it cannot be read).
  struct SheetList {
    ExcelObject sheets;
    int32_t count = 0;
    ExcelObject activeSheet;
    int32_t activeIndex = 0;
  };
  SheetList sheetList();
  int32_t excelVersion();

  ExcelConnection& connection_;
  std::optional<ProtectionTable> scope_;
  uint32_t scopeSheet_ = 0;
  bool screenUpdatingSwitchedOff_ = false;
};

}  // namespace korvel

#endif  // KORVEL_EXCEL_PROTECTION_H_
