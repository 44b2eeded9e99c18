// The resources of executables: named blocks (type, id, language) that an executable carries and
// that its launcher reads at start. The runtime writes them when it saves the application: an
// update session opened on the file, any number of replacements, and one commit or discard at the
// end, so the file changes all at once or not at all.
#ifndef KORVEL_PLATFORM_RESOURCES_H_
#define KORVEL_PLATFORM_RESOURCES_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace korvel {

// English (United States): the language of every resource the runtime writes.
inline constexpr uint16_t kResourceLanguageEnglish = 1033;

// One open update of an executable's resources.
class ResourceUpdate {
 public:
  virtual ~ResourceUpdate() = default;
  // Adds or replaces the resource (type, id, language). False when it cannot be stored; the
  // update stays open and end(false) still discards everything.
  virtual bool update(std::u16string_view type, uint32_t id, uint16_t language,
                      std::string_view bytes) = 0;
  // Removes the resource (type, id, language) when the file has it; true when it is gone, also
  // when there was none.
  virtual bool remove(std::u16string_view type, uint32_t id, uint16_t language) = 0;
  // commit: writes every update into the file; otherwise the file stays as it was. False when the
  // commit failed (the file is then unchanged). Ends the update; later calls fail.
  virtual bool end(bool commit) = 0;
};

class Resources {
 public:
  virtual ~Resources() = default;
  // Opens an update of the executable's resources. keepExisting false drops every resource the
  // file has before the updates. Null when the file cannot be opened for updating.
  virtual std::unique_ptr<ResourceUpdate> beginUpdate(const std::u16string& executable,
                                                      bool keepExisting) = 0;
};

}  // namespace korvel

#endif  // KORVEL_PLATFORM_RESOURCES_H_
