#include "hosts/headless/disk_files.h"

#include <sys/stat.h>
#include <unistd.h>

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

bool DiskFiles::size(const std::u16string& path, uint64_t* out) const {
  std::error_code ec;
  uintmax_t bytes = std::filesystem::file_size(std::filesystem::path(toUtf8(path)), ec);
  if (ec) return false;
  *out = bytes;
  return true;
}

bool DiskFiles::readBlock(const std::u16string& path, uint64_t offset, size_t length,
                          std::string* out) const {
  out->clear();
  std::FILE* f = std::fopen(toUtf8(path).c_str(), "rb");
  if (!f) return false;
  bool ok = std::fseek(f, long(offset), SEEK_SET) == 0;
  if (ok && length > 0) {
    out->resize(length);
    size_t n = std::fread(out->data(), 1, length, f);
    ok = !std::ferror(f);
    out->resize(ok ? n : 0);
  }
  std::fclose(f);
  return ok;
}

bool DiskFiles::append(const std::u16string& path, std::string_view bytes) {
  std::FILE* f = std::fopen(toUtf8(path).c_str(), "ab");
  return f && writeAndClose(f, bytes);
}

bool DiskFiles::rename(const std::u16string& from, const std::u16string& to) {
  return std::rename(toUtf8(from).c_str(), toUtf8(to).c_str()) == 0;
}

bool DiskFiles::readOnly(const std::u16string& path) const {
  struct stat info {};
  if (::stat(toUtf8(path).c_str(), &info) != 0) return false;
  return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool DiskFiles::openableForAppend(const std::u16string& path) const {
  // Files are not locked against each other here; a file that opens for appending is free.
  std::string name = toUtf8(path);
  if (::access(name.c_str(), F_OK) != 0) return false;
  std::FILE* f = std::fopen(name.c_str(), "ab");
  if (!f) return false;
  std::fclose(f);
  return true;
}

}  // namespace korvel
