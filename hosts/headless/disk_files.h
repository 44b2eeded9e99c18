// Real files of the machine the headless host runs on. Paths are UTF-16 inside the system and
// UTF-8 on disk.
#ifndef KORVEL_HOSTS_HEADLESS_DISK_FILES_H_
#define KORVEL_HOSTS_HEADLESS_DISK_FILES_H_

#include <cstdint>
#include <set>
#include <utility>

#include "platform/files.h"

namespace korvel {

class DiskFiles : public Files {
 public:
  // The temporary directory is TMPDIR when set, else /tmp.
  DiskFiles();
  explicit DiskFiles(std::u16string temporaryDirectory);

  std::u16string temporaryDirectory() const override { return temporary_; }
  Created createExclusive(const std::u16string& path, std::string_view bytes) override;
  using Files::writeAll;
  bool writeAll(const std::u16string& path, std::string_view bytes, std::string* failure) override;
  bool readAll(const std::u16string& path, std::string* out) const override;
  bool exists(const std::u16string& path) const override;
  bool remove(const std::u16string& path) override;
  bool size(const std::u16string& path, uint64_t* out) const override;
  bool readBlock(const std::u16string& path, uint64_t offset, size_t length,
                 std::string* out) const override;
  bool append(const std::u16string& path, std::string_view bytes) override;
  bool rename(const std::u16string& from, const std::u16string& to) override;
  bool readOnly(const std::u16string& path) const override;
  bool openableForAppend(const std::u16string& path) const override;

  // The file a command reads: writeAll refuses it under any name (a link, another path), so that
  // a command never overwrites its own input. Does nothing when the file does not exist.
  void protectInput(const std::u16string& path);

 private:
  std::u16string temporary_;
  std::set<std::pair<uint64_t, uint64_t>> inputs_;  // device and inode of protected files
};

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_DISK_FILES_H_
