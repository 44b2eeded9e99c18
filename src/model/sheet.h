// The sheet table: one record per worksheet of the application workbook, keyed by the sheet index
// that CellRefs carry. Workbook events find the engine's sheet through the host program's sheet
// name, compared without regard to case.
#ifndef KORVEL_MODEL_SHEET_H_
#define KORVEL_MODEL_SHEET_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "model/cell_ref.h"

namespace korvel {

class Sheet {
 public:
  Sheet() = default;
  Sheet(uint32_t index, std::u16string name, std::u16string excelName);

  uint32_t index() const { return index_; }
  const std::u16string& name() const { return name_; }
  // The name between apostrophes, each apostrophe inside doubled; follows setName.
  const std::u16string& quotedName() const { return quotedName_; }
  void setName(std::u16string name);
  const std::u16string& excelName() const { return excelName_; }
  void setExcelName(std::u16string name) { excelName_ = std::move(name); }

  // Kept and written back; nothing in the model computes with it.
  RangeRef range;
  // Set when the sheet's used range must be read at its next activation (workbook events).
  bool eventFlag = false;

 private:
  uint32_t index_ = 0;
  std::u16string name_;
  std::u16string quotedName_;
  std::u16string excelName_;
};

class SheetTable {
 public:
  // Adds the sheet, or replaces the one with the same index. Returns the stored record.
  Sheet& add(Sheet sheet);
  Sheet* find(uint32_t index);
  const Sheet* find(uint32_t index) const;
  // The first sheet (by index) whose host program name equals the name without regard to case.
  Sheet* findByExcelName(std::u16string_view name);
  const Sheet* findByExcelName(std::u16string_view name) const;
  bool remove(uint32_t index);
  void clear() { sheets_.clear(); }

  size_t size() const { return sheets_.size(); }
  bool empty() const { return sheets_.empty(); }
  // Sheets in index order.
  const std::map<uint32_t, Sheet>& sheets() const { return sheets_; }

 private:
  std::map<uint32_t, Sheet> sheets_;
};

}  // namespace korvel

#endif  // KORVEL_MODEL_SHEET_H_
