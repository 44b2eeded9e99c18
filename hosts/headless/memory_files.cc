#include "hosts/headless/memory_files.h"

#include "util/text.h"

namespace korvel {

Files::Created MemoryFiles::createExclusive(const std::u16string& path, std::string_view bytes) {
  if (files_.count(path)) return Created::kExists;
  if (failWrites_) return Created::kFailed;
  files_[path] = std::string(bytes);
  return Created::kOk;
}

bool MemoryFiles::writeAll(const std::u16string& path, std::string_view bytes,
                           std::string* failure) {
  if (failWrites_ || readOnly(path)) {
    if (failure) {
      *failure = "cannot write " + toUtf8(path) +
                 (failWrites_ ? ": the disk refused the write" : ": the file is read-only");
    }
    return false;
  }
  files_[path] = std::string(bytes);
  return true;
}

bool MemoryFiles::readAll(const std::u16string& path, std::string* out) const {
  auto it = files_.find(path);
  if (it == files_.end()) {
    out->clear();
    return false;
  }
  *out = it->second;
  return true;
}

bool MemoryFiles::remove(const std::u16string& path) {
  readOnly_.erase(path);
  return files_.erase(path) != 0;
}

bool MemoryFiles::size(const std::u16string& path, uint64_t* out) const {
  auto it = files_.find(path);
  if (it == files_.end()) return false;
  *out = it->second.size();
  return true;
}

bool MemoryFiles::readBlock(const std::u16string& path, uint64_t offset, size_t length,
                            std::string* out) const {
  out->clear();
  auto it = files_.find(path);
  if (it == files_.end()) return false;
  if (offset < it->second.size()) *out = it->second.substr(size_t(offset), length);
  return true;
}

bool MemoryFiles::append(const std::u16string& path, std::string_view bytes) {
  if (failWrites_ || readOnly(path)) return false;
  files_[path].append(bytes);
  return true;
}

bool MemoryFiles::rename(const std::u16string& from, const std::u16string& to) {
  auto it = files_.find(from);
  if (failWrites_ || it == files_.end() || readOnly(to)) return false;
  if (from == to) return true;
  std::string bytes = std::move(it->second);
  files_.erase(it);
  files_[to] = std::move(bytes);
  return true;
}

bool MemoryFiles::readOnly(const std::u16string& path) const {
  auto it = readOnly_.find(path);
  return it != readOnly_.end() && it->second && files_.count(path) != 0;
}

void MemoryFiles::setReadOnly(const std::u16string& path, bool readOnly) {
  readOnly_[path] = readOnly;
}

bool MemoryFiles::openableForAppend(const std::u16string& path) const {
  auto lock = locks_.find(path);
  if (lock != locks_.end() && lock->second != 0) {
    if (lock->second > 0) --lock->second;
    return false;
  }
  return files_.count(path) != 0 && !readOnly(path);
}

}  // namespace korvel
