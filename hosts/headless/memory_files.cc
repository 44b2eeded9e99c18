#include "hosts/headless/memory_files.h"

namespace korvel {

Files::Created MemoryFiles::createExclusive(const std::u16string& path, std::string_view bytes) {
  if (files_.count(path)) return Created::kExists;
  if (failWrites_) return Created::kFailed;
  files_[path] = std::string(bytes);
  return Created::kOk;
}

bool MemoryFiles::writeAll(const std::u16string& path, std::string_view bytes) {
  if (failWrites_) return false;
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

}  // namespace korvel
