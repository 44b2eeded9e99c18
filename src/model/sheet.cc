#include "model/sheet.h"

#include <utility>

#include "model/address.h"
#include "util/text.h"

namespace korvel {

Sheet::Sheet(uint32_t index, std::u16string name, std::u16string excelName)
    : index_(index), excelName_(std::move(excelName)) {
  setName(std::move(name));
}

void Sheet::setName(std::u16string name) {
  name_ = std::move(name);
  quotedName_ = quoteSheetName(name_);
}

Sheet& SheetTable::add(Sheet sheet) {
  uint32_t index = sheet.index();
  return sheets_.insert_or_assign(index, std::move(sheet)).first->second;
}

Sheet* SheetTable::find(uint32_t index) {
  auto it = sheets_.find(index);
  return it == sheets_.end() ? nullptr : &it->second;
}

const Sheet* SheetTable::find(uint32_t index) const {
  auto it = sheets_.find(index);
  return it == sheets_.end() ? nullptr : &it->second;
}

Sheet* SheetTable::findByExcelName(std::u16string_view name) {
  for (auto& [index, sheet] : sheets_) {
    if (equalsNoCase(sheet.excelName(), name)) return &sheet;
  }
  return nullptr;
}

const Sheet* SheetTable::findByExcelName(std::u16string_view name) const {
  return const_cast<SheetTable*>(this)->findByExcelName(name);
}

bool SheetTable::remove(uint32_t index) { return sheets_.erase(index) != 0; }

}  // namespace korvel
