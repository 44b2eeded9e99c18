// Files through the system's wide-character file functions. Paths are UTF-16 as the system takes
// them; a path holding a NUL unit is refused, since the system would silently cut it there.
#ifndef KORVEL_HOSTS_WIN32_WIN32_FILES_H_
#define KORVEL_HOSTS_WIN32_WIN32_FILES_H_

#include "platform/files.h"

namespace korvel::win32 {

class Win32Files : public Files {
 public:
  std::u16string temporaryDirectory() const override;
  Created createExclusive(const std::u16string& path, std::string_view bytes) override;
  using Files::writeAll;
  bool writeAll(const std::u16string& path, std::string_view bytes, std::string* failure) override;
  bool readAll(const std::u16string& path, std::string* out) const override;
  // Directories count as existing, files of any attribute too.
  bool exists(const std::u16string& path) const override;
  bool remove(const std::u16string& path) override;
  // False for a directory.
  bool size(const std::u16string& path, uint64_t* out) const override;
  bool readBlock(const std::u16string& path, uint64_t offset, size_t length,
                 std::string* out) const override;
  bool append(const std::u16string& path, std::string_view bytes) override;
  // Never copies across volumes: a move that would need a copy fails instead.
  bool rename(const std::u16string& from, const std::u16string& to) override;
  bool readOnly(const std::u16string& path) const override;
  bool openableForAppend(const std::u16string& path) const override;
};

}  // namespace korvel::win32

#endif  // KORVEL_HOSTS_WIN32_WIN32_FILES_H_
