// Lookups over the in-memory workbook.

#include "compiler/workbook.h"

#include "util/text.h"

namespace korvel {

int Workbook::findSheet(std::u16string_view name) const {
  for (size_t i = 0; i < sheets.size(); ++i) {
    if (equalsNoCase(sheets[i].name, name)) return int(i);
  }
  return -1;
}

}  // namespace korvel
