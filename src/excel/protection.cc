// The application's sheet and workbook protection. Every call into the program may fail (a wrong
// password, a sheet that cannot be activated); failures are taken one sheet at a time so that the
// other sheets are still handled, and nothing here lets an error out except
// applySheetProtection, whose callers do the per-sheet handling.
#include "excel/protection.h"

#include <algorithm>
#include <vector>

#include "excel/dispatch_ids.h"
#include "excel/excel_connection.h"
#include "excel/object_layer.h"
#include "runtime/runtime.h"

namespace korvel {
namespace {

// Passwords are kept 8-bit; the program takes them as text, one unit per byte.
std::u16string widen(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  for (char c : bytes) text.push_back(char16_t(uint8_t(c)));
  return text;
}

std::string narrow(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (char16_t c : text) bytes.push_back(char(uint8_t(c & 0xFF)));
  return bytes;
}

Variant flag(uint32_t word, uint32_t bit) { return Variant::boolean((word & bit) != 0); }

int32_t selectionMode(uint32_t word) {
  if (word & kProtectSelectAll) return kSelectionNoRestrictions;
  if (word & kProtectSelectUnlocked) return kSelectionUnlockedCells;
  return kSelectionNone;
}

// One Protect option as the program coerces it to a Boolean; omitted ones take the default.
bool optionValue(const Variant& value, bool byDefault) {
  switch (value.type()) {
    case VarType::kBool:
      return value.boolean();
    case VarType::kEmpty:
      return false;
    case VarType::kR8:
      return value.real() != 0;
    default:
      if (value.isInteger()) return value.integer() != 0;
      return byDefault;
  }
}

uint32_t wordAt(const ProtectionTable& table, size_t index) {
  return index < table.sheetWords.size() ? table.sheetWords[index] : 0;
}

std::string passwordAt(const ProtectionTable& table, size_t index) {
  return index < table.sheetPasswords.size() ? table.sheetPasswords[index] : std::string();
}

// Both lists always grow together, so that a word and its password share an index.
void growTo(ProtectionTable& table, size_t index) {
  size_t size = std::max({table.sheetWords.size(), table.sheetPasswords.size(), index + 1});
  table.sheetWords.resize(size, 0);
  table.sheetPasswords.resize(size);
}

bool isChart(const ExcelObject& sheet) {
  return sheet.live() && sheet.dispatch()->queryInterface(kIidChart) != nullptr;
}

bool isWorksheet(ExcelObject& sheet) {
  return sheet.live() && sheet.getInt(dispid::kType) == kSheetTypeWorksheet;
}

// The runtime's own Unprotect calls must not reach the table through the interception.
class RecordingOff {
 public:
  explicit RecordingOff(bool& recording) : recording_(recording), saved_(recording) {
    recording_ = false;
  }
  ~RecordingOff() { recording_ = saved_; }
  RecordingOff(const RecordingOff&) = delete;
  RecordingOff& operator=(const RecordingOff&) = delete;

 private:
  bool& recording_;
  bool saved_;
};

}  // namespace

int32_t Protection::excelVersion() { return connection_.runtime().hostInformation().excelVersion; }

Protection::SheetList Protection::sheetList() {
  SheetList list;
  list.sheets = connection_.workbook().object(dispid::kSheets);
  list.count = list.sheets.getInt(dispid::kCount);
  try {
    list.activeSheet = connection_.application().object(dispid::kActiveSheet);
    if (list.activeSheet.live()) list.activeIndex = list.activeSheet.getInt(dispid::kIndex);
  } catch (const ComError&) {
    list.activeIndex = 0;
  }
  return list;
}

std::optional<size_t> Protection::tableIndex(ExcelObject& worksheet) {
  if (!worksheet.live() || !connection_.workbook().live()) return std::nullopt;
  ExcelObject parent = worksheet.object(dispid::kParent);
  if (!parent.sameObject(connection_.workbook())) return std::nullopt;
  int32_t index = worksheet.getInt(dispid::kIndex);
  if (index < 1) return std::nullopt;
  return size_t(index - 1);
}

void Protection::applySheetProtection(std::string_view password, ExcelObject& worksheet,
                                      uint32_t word) {
  if (!worksheet.live()) return;
  worksheet.call(dispid::kActivate);
  Variant text = Variant::text(widen(password));
  if (excelVersion() >= 10) {
    std::vector<Variant> arguments{text};
    for (uint32_t bit : kProtectOptionBits) arguments.push_back(flag(word, bit));
    worksheet.call(dispid::kProtect, std::move(arguments));
  } else {
    worksheet.call(dispid::kProtectOld,
                   {text, flag(word, kProtectDrawingObjects), flag(word, kProtectContents),
                    flag(word, kProtectScenarios)});
  }
  worksheet.put(dispid::kEnableSelection, Variant::i4(selectionMode(word)));
}

void Protection::liftProtection() {
  Settings& settings = connection_.runtime().settings();
  if (!connection_.workbook().live() || !settings.protectionTable) return;
  const ProtectionTable& table = *settings.protectionTable;
  bool anySheet = std::any_of(table.sheetWords.begin(), table.sheetWords.end(),
                              [](uint32_t word) { return word != 0; });
  if (table.workbookWord == 0 && !anySheet) return;
  try {
    SheetList list = sheetList();
    std::string applicationPassword = narrow(settings.applicationPassword);
    auto lift = [&](int32_t index) {
      try {
        // The table may change under the interception's recording; read it afresh.
        const ProtectionTable& current = *settings.protectionTable;
        if (wordAt(current, size_t(index - 1)) == 0) return;
        ExcelObject sheet = list.sheets.object(dispid::kItem, {Variant::i4(index)});
        if (!sheet.live() || isChart(sheet)) return;
        std::string password = passwordAt(current, size_t(index - 1));
        if (password.empty()) password = applicationPassword;
        if (!sheet.getBool(dispid::kProtectContents)) return;
        RecordingOff off(recording);
        sheet.call(dispid::kUnprotect, {Variant::text(widen(password))});
      } catch (const ComError&) {
      }
    };
    for (int32_t i = 1; i <= list.count; ++i) {
      if (i != list.activeIndex) lift(i);
    }
    if (list.activeIndex >= 1 && list.activeIndex <= list.count) lift(list.activeIndex);
  } catch (const ComError&) {
  }
  connection_.pumpMessages();
}

void Protection::protectSheets() {
  Settings& settings = connection_.runtime().settings();
  if (!connection_.workbook().live() || !settings.protectionTable ||
      settings.protectionTable->sheetWords.empty()) {
    return;
  }
  ExcelObject& application = connection_.application();
  std::optional<bool> eventsOn;
  try {
    eventsOn = application.getBool(dispid::kEnableEvents);
    application.put(dispid::kEnableEvents, Variant::boolean(false));
  } catch (const ComError&) {
  }
  try {
    SheetList list = sheetList();
    ExcelObject selection;
    try {
      selection = application.object(dispid::kSelection);
    } catch (const ComError&) {
    }
    // Whether the sheet was protected (and so activated).
    auto protect = [&](int32_t index) {
      try {
        const ProtectionTable& table = *settings.protectionTable;
        uint32_t word = wordAt(table, size_t(index - 1));
        if (word == 0) return false;
        ExcelObject sheet = list.sheets.object(dispid::kItem, {Variant::i4(index)});
        if (!isWorksheet(sheet)) return false;
        applySheetProtection(passwordAt(table, size_t(index - 1)), sheet, word);
        return true;
      } catch (const ComError&) {
        return false;
      }
    };
    for (int32_t i = 1; i <= list.count; ++i) {
      if (i != list.activeIndex) protect(i);
    }
    bool activeDone =
        list.activeIndex >= 1 && list.activeIndex <= list.count && protect(list.activeIndex);
    if (!activeDone && list.activeSheet.live()) {
      try {
        list.activeSheet.call(dispid::kActivate);
      } catch (const ComError&) {
      }
    }
    if (selection.live()) {
      try {
        selection.call(dispid::kSelect);
      } catch (const ComError&) {
      }
    }
  } catch (const ComError&) {
  }
  if (eventsOn.value_or(false)) {
    try {
      application.put(dispid::kEnableEvents, Variant::boolean(true));
    } catch (const ComError&) {
    }
  }
}

void Protection::protectWorkbook() {
  const std::optional<ProtectionTable>& table = connection_.runtime().settings().protectionTable;
  ExcelObject& workbook = connection_.workbook();
  if (!workbook.live() || !table) return;
  uint32_t word = table->workbookWord;
  if ((word & (kProtectStructure | kProtectWindows)) == 0) return;
  int32_t member = excelVersion() >= 11 ? dispid::kProtect : dispid::kProtectOld;
  try {
    workbook.call(member, {Variant::text(widen(table->workbookPassword)),
                           flag(word, kProtectStructure), flag(word, kProtectWindows)});
  } catch (const ComError&) {
  }
}

void Protection::openProtectionScope(uint32_t sheetIndex) {
  scopeSheet_ = sheetIndex;
  screenUpdatingSwitchedOff_ = false;
  const std::optional<ProtectionTable>& table = connection_.runtime().settings().protectionTable;
  if (table) {
    // Both lists keep one length so that an index reads the same in either.
    scope_ = *table;
    if (!scope_->sheetWords.empty()) growTo(*scope_, scope_->sheetWords.size() - 1);
  } else {
    scope_.reset();
  }
  if (ExcelCalcHost* host = connection_.calcHost()) host->setProtectionTable(scopeTable());
}

void Protection::closeProtectionScope() {
  const std::optional<ProtectionTable>& table = connection_.runtime().settings().protectionTable;
  if (scope_ && table && connection_.workbook().live()) {
    size_t size = std::max(scope_->sheetWords.size(), table->sheetWords.size());
    bool differs = false;
    for (size_t i = 0; i < size && !differs; ++i) {
      differs = wordAt(*scope_, i) != wordAt(*table, i);
    }
    if (differs) {
      try {
        SheetList list = sheetList();
        int32_t activeIndex = list.activeIndex != 0 ? list.activeIndex : int32_t(scopeSheet_ + 1);
        auto reprotect = [&](int32_t index) {
          try {
            // Read afresh: the interception records the runtime's own Protect calls too.
            const ProtectionTable& current = *connection_.runtime().settings().protectionTable;
            size_t at = size_t(index - 1);
            uint32_t word = wordAt(current, at);
            if (!scope_ || wordAt(*scope_, at) == word || (word & kProtectContents) == 0) {
              return false;
            }
            ExcelObject sheet = list.sheets.object(dispid::kItem, {Variant::i4(index)});
            if (!isWorksheet(sheet)) return false;
            applySheetProtection(passwordAt(current, at), sheet, word);
            // A second close before the release finds nothing left to do.
            growTo(*scope_, at);
            scope_->sheetWords[at] = word;
            return true;
          } catch (const ComError&) {
            return false;
          }
        };
        for (int32_t i = 1; i <= list.count; ++i) {
          if (i != activeIndex) reprotect(i);
        }
        bool activeDone = activeIndex >= 1 && activeIndex <= list.count && reprotect(activeIndex);
        if (!activeDone) {
          ExcelObject active = list.activeSheet;
          if (!active.live() && activeIndex >= 1 && activeIndex <= list.count) {
            active = list.sheets.object(dispid::kItem, {Variant::i4(activeIndex)});
          }
          if (active.live()) active.call(dispid::kActivate);
        }
      } catch (const ComError&) {
      }
    }
  }
  if (screenUpdatingSwitchedOff_) {
    screenUpdatingSwitchedOff_ = false;
    try {
      connection_.application().put(dispid::kScreenUpdating, Variant::boolean(true));
    } catch (const ComError&) {
    }
  }
}

void Protection::releaseProtectionScope() {
  if (ExcelCalcHost* host = connection_.calcHost()) host->setProtectionTable(nullptr);
  scope_.reset();
  scopeSheet_ = 0;
  screenUpdatingSwitchedOff_ = false;
}

void Protection::recordProtect(ExcelObject& worksheet, std::u16string_view password,
                               std::span<const Variant> options) {
  try {
    std::optional<size_t> index = tableIndex(worksheet);
    if (!index) return;
    std::optional<ProtectionTable>& table = connection_.runtime().settings().protectionTable;
    if (!table) table.emplace();
    uint32_t word = 0;
    for (size_t i = 0; i < std::size(kProtectOptionBits); ++i) {
      // DrawingObjects, Contents and Scenarios are on unless the call says otherwise.
      bool byDefault = i < 3;
      bool on = i < options.size() ? optionValue(options[i], byDefault) : byDefault;
      if (on) word |= kProtectOptionBits[i];
    }
    uint32_t old = wordAt(*table, *index);
    word |= old == 0 ? kProtectSelectionBits : old & kProtectSelectionBits;
    growTo(*table, *index);
    table->sheetWords[*index] = word;
    table->sheetPasswords[*index] = narrow(password);
  } catch (const ComError&) {
  }
}

void Protection::recordUnprotect(ExcelObject& worksheet) {
  std::optional<ProtectionTable>& table = connection_.runtime().settings().protectionTable;
  if (!recording || !table || table->sheetWords.empty()) return;
  try {
    std::optional<size_t> index = tableIndex(worksheet);
    if (!index || wordAt(*table, *index) == 0) return;
    if (worksheet.getBool(dispid::kProtectContents) ||
        worksheet.getBool(dispid::kProtectDrawingObjects)) {
      return;
    }
    table->sheetWords[*index] &= kProtectSelectionBits;
  } catch (const ComError&) {
  }
}

void Protection::recordSelectionMode(ExcelObject& worksheet, int32_t mode) {
  std::optional<ProtectionTable>& table = connection_.runtime().settings().protectionTable;
  if (!table) return;
  try {
    std::optional<size_t> index = tableIndex(worksheet);
    if (!index) return;
    uint32_t word = wordAt(*table, *index) & ~kProtectSelectionBits;
    if (mode == kSelectionNoRestrictions) {
      word |= kProtectSelectionBits;
    } else if (mode == kSelectionUnlockedCells) {
      word |= kProtectSelectUnlocked;
    }
    growTo(*table, *index);
    table->sheetWords[*index] = word;
  } catch (const ComError&) {
  }
}

}  // namespace korvel
