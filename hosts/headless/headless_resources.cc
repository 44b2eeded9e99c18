#include "hosts/headless/headless_resources.h"

namespace korvel {

std::string encodeApplicationFile(const std::vector<ResourceEntry>&) { return {}; }
bool decodeApplicationFile(std::string_view, std::vector<ResourceEntry>*, std::string* error) {
  *error = "not built yet";
  return false;
}
bool readApplicationFile(const Files&, const std::u16string&, std::vector<ResourceEntry>*,
                         std::string* error) {
  *error = "not built yet";
  return false;
}
const ResourceEntry* findResource(const std::vector<ResourceEntry>&, std::u16string_view,
                                  uint32_t) {
  return nullptr;
}
std::unique_ptr<ResourceUpdate> HeadlessResources::beginUpdate(const std::u16string&, bool) {
  return nullptr;
}

}  // namespace korvel
