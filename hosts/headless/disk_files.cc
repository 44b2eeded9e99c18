#include "hosts/headless/disk_files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "util/text.h"

namespace korvel {
namespace {

std::u16string withSeparator(std::u16string dir) {
  if (dir.empty() || dir.back() != u'/') dir.push_back(u'/');
  return dir;
}

bool writeAndClose(std::FILE* f, std::string_view bytes) {
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

DiskFiles::DiskFiles() {
  const char* dir = std::getenv("TMPDIR");
  temporary_ = withSeparator(fromUtf8(dir && *dir ? dir : "/tmp"));
}

DiskFiles::DiskFiles(std::u16string temporaryDirectory)
    : temporary_(withSeparator(std::move(temporaryDirectory))) {}

Files::Created DiskFiles::createExclusive(const std::u16string& path, std::string_view bytes) {
  std::string name = toUtf8(path);
  errno = 0;
  // "x" asks the C library for exclusive creation, so a name taken by someone else (or a link
  // planted in a shared directory) is never followed or overwritten.
  std::FILE* f = std::fopen(name.c_str(), "wbx");
  if (!f) return errno == EEXIST ? Created::kExists : Created::kFailed;
  if (!writeAndClose(f, bytes)) {
    std::remove(name.c_str());
    return Created::kFailed;
  }
  return Created::kOk;
}

bool DiskFiles::writeAll(const std::u16string& path, std::string_view bytes) {
  std::FILE* f = std::fopen(toUtf8(path).c_str(), "wb");
  return f && writeAndClose(f, bytes);
}

bool DiskFiles::readAll(const std::u16string& path, std::string* out) const {
  out->clear();
  std::FILE* f = std::fopen(toUtf8(path).c_str(), "rb");
  if (!f) return false;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out->append(buffer, n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  if (!ok) out->clear();
  return ok;
}

bool DiskFiles::exists(const std::u16string& path) const {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::path(toUtf8(path)), ec);
}

bool DiskFiles::remove(const std::u16string& path) {
  return std::remove(toUtf8(path).c_str()) == 0;
}

}  // namespace korvel
