#include "packaging/application_resources.h"

#include "runtime/text_table.h"

namespace korvel {

std::u16string workbookResourceType() { return tableText(TextEntry::kWorkbookResourceType); }

uint32_t workbookTag(std::string_view settingsRecord) {
  if (settingsRecord.size() < 12) return 0;
  uint32_t tag = 0;
  for (int i = 3; i >= 0; --i) tag = (tag << 8) | uint8_t(settingsRecord[8 + size_t(i)]);
  return tag;
}

}  // namespace korvel
