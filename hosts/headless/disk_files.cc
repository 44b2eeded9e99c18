#include "hosts/headless/disk_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "util/text.h"

namespace korvel {
namespace {

std::u16string withSeparator(std::u16string dir) {
  if (dir.empty() || dir.back() != u'/') dir.push_back(u'/');
  return dir;
}

mode_t currentUmask() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// The path a chain of symbolic links ends at (the path itself when it is no link). The end need
// not exist: writing creates it. False for a loop or a link that cannot be read.
bool followLinks(std::string path, std::string* out) {
  for (int hop = 0; hop < 40; ++hop) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      *out = path;
      return true;
    }
    std::error_code failed;
    std::filesystem::path next = std::filesystem::read_symlink(path, failed);
    if (failed) return false;
    if (next.is_relative()) next = std::filesystem::path(path).parent_path() / next;
    path = next.string();
  }
  return false;
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

bool DiskFiles::writeAll(const std::u16string& path, std::string_view bytes, std::string* failure) {
  const std::string shown = toUtf8(path);
  auto fail = [&](const std::string& reason) {
    if (failure) *failure = "cannot write " + shown + ": " + reason;
    return false;
  };
  std::string target;
  if (!followLinks(shown, &target)) return fail("the symbolic links do not lead to a file");
  struct stat info {};
  const bool existed = ::stat(target.c_str(), &info) == 0;
  if (!existed && errno != ENOENT) return fail(std::strerror(errno));
  if (existed) {
    if (S_ISDIR(info.st_mode)) return fail("it is a folder");
    if (!S_ISREG(info.st_mode)) return fail("it is a device, pipe or socket, not a file");
    if (inputs_.count({uint64_t(info.st_dev), uint64_t(info.st_ino)})) {
      return fail("it is the command's own input");
    }
  }

  // A new file in the same folder, so that the rename replaces the target in one step.
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  if (folder.empty()) folder = "/";
  std::string temporary =
      (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + "." +
      target.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
  int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR)
      return fail("the folder " + folder + " does not exist");
    return fail(std::strerror(errno));
  }
  // mkstemp makes a private file; the result gets the mode the target had, or a new file's.
  mode_t mode = existed ? (info.st_mode & 07777) : mode_t(0666 & ~currentUmask());
  const char* step = nullptr;
  if (::fchmod(fd, mode) != 0) step = "setting its mode";
  for (size_t done = 0; step == nullptr && done < bytes.size();) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      step = "writing";
    } else {
      done += size_t(n);
    }
  }
  if (step == nullptr && ::fsync(fd) != 0) step = "flushing to the disk";
  int saved = errno;
  if (::close(fd) != 0 && step == nullptr) {
    step = "closing";
    saved = errno;
  }
  if (step == nullptr && ::rename(temporary.c_str(), target.c_str()) != 0) {
    step = "replacing the file";
    saved = errno;
  }
  if (step != nullptr) {
    ::unlink(temporary.c_str());
    return fail(std::string(std::strerror(saved)) + " (" + step + ")");
  }
  // The rename itself reaches the disk with the folder's entry.
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

void DiskFiles::protectInput(const std::u16string& path) {
  struct stat info {};
  if (::stat(toUtf8(path).c_str(), &info) == 0) {
    inputs_.insert({uint64_t(info.st_dev), uint64_t(info.st_ino)});
  }
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
