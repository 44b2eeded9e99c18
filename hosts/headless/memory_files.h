// Files kept in memory, for tests: the same contract as the disk, plus switches that make the
// next creations or writes fail, so a test can show what happens when the disk refuses.
#ifndef KORVEL_HOSTS_HEADLESS_MEMORY_FILES_H_
#define KORVEL_HOSTS_HEADLESS_MEMORY_FILES_H_

#include <map>

#include "platform/files.h"

namespace korvel {

class MemoryFiles : public Files {
 public:
  std::u16string temporaryDirectory() const override { return u"/tmp/"; }
  Created createExclusive(const std::u16string& path, std::string_view bytes) override;
  using Files::writeAll;
  bool writeAll(const std::u16string& path, std::string_view bytes, std::string* failure) override;
  bool readAll(const std::u16string& path, std::string* out) const override;
  bool exists(const std::u16string& path) const override { return files_.count(path) != 0; }
  bool remove(const std::u16string& path) override;
  bool size(const std::u16string& path, uint64_t* out) const override;
  bool readBlock(const std::u16string& path, uint64_t offset, size_t length,
                 std::string* out) const override;
  bool append(const std::u16string& path, std::string_view bytes) override;
  bool rename(const std::u16string& from, const std::u16string& to) override;
  bool readOnly(const std::u16string& path) const override;
  bool openableForAppend(const std::u16string& path) const override;

  // Every creation and write fails while set.
  void setFailWrites(bool fail) { failWrites_ = fail; }
  const std::map<std::u16string, std::string>& files() const { return files_; }
  // The read-only attribute, and the lock another process holds on a file: a locked file stays
  // locked for that many more openableForAppend calls (-1: for ever).
  void setReadOnly(const std::u16string& path, bool readOnly);
  void lock(const std::u16string& path, int attempts) { locks_[path] = attempts; }

 private:
  std::map<std::u16string, std::string> files_;
  std::map<std::u16string, bool> readOnly_;
  mutable std::map<std::u16string, int> locks_;
  bool failWrites_ = false;
};

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_MEMORY_FILES_H_
