// Resources of the headless host's "executables": an application file is a container of resources
// (type, id, language, bytes), the form an executable's resources take on a platform without
// executables of that kind. Updates follow the begin, update, end contract, and the commit
// replaces the file in one step, so a failure leaves the previous file intact. The layout is
// documented in docs/application_file.md.
#ifndef KORVEL_HOSTS_HEADLESS_HEADLESS_RESOURCES_H_
#define KORVEL_HOSTS_HEADLESS_HEADLESS_RESOURCES_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/resources.h"

namespace korvel {

struct ResourceEntry {
  std::u16string type;
  uint32_t id = 0;
  uint16_t language = kResourceLanguageEnglish;
  std::string bytes;
  friend bool operator==(const ResourceEntry&, const ResourceEntry&) = default;
};

// The container addresses its entries by 32-bit offsets and sizes: a larger file is none, and is
// refused before it is read.
inline constexpr uint64_t kApplicationFileMaxBytes = uint64_t(1) << 32;

// The container's bytes for the entries, in the order given.
std::string encodeApplicationFile(const std::vector<ResourceEntry>& entries);
// Reads a container; false with *error for bytes that are not one (never reads past them, and
// never copies more bytes than the container holds, however its entries overlap).
bool decodeApplicationFile(std::string_view bytes, std::vector<ResourceEntry>* entries,
                           std::string* error);
// Reads the container at the path.
bool readApplicationFile(const Files& files, const std::u16string& path,
                         std::vector<ResourceEntry>* entries, std::string* error);
// The entry of that type (compared without regard to case) and id, any language; null when none.
const ResourceEntry* findResource(const std::vector<ResourceEntry>& entries,
                                  std::u16string_view type, uint32_t id);

class HeadlessResources : public Resources {
 public:
  // REQUIRES: files outlives the resources.
  explicit HeadlessResources(Files& files) : files_(files) {}
  // Null when the file does not exist or is not a container.
  std::unique_ptr<ResourceUpdate> beginUpdate(const std::u16string& executable,
                                              bool keepExisting) override;

 private:
  Files& files_;
};

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_HEADLESS_RESOURCES_H_
