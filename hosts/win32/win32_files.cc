#include "hosts/win32/win32_files.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>

#include "util/text.h"

namespace korvel::win32 {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

// The path as the system takes it; none for a path the system would read differently (empty, or
// cut at an embedded NUL).
std::optional<const wchar_t*> systemPath(const std::u16string& path) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return std::nullopt;
  return reinterpret_cast<const wchar_t*>(path.c_str());
}

// Owns a file handle.
class File {
 public:
  explicit File(HANDLE handle) : handle_(handle) {}
  ~File() { close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool close() {
    if (!valid()) return true;
    bool ok = CloseHandle(handle_) != FALSE;
    handle_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE handle_;
};

File open(const std::u16string& path, DWORD access, DWORD share, DWORD disposition) {
  std::optional<const wchar_t*> name = systemPath(path);
  if (!name) {
    SetLastError(ERROR_INVALID_NAME);
    return File(INVALID_HANDLE_VALUE);
  }
  return File(
      CreateFileW(*name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Reading shares the file with writers too: the files read (workbooks, executables) are often held
// open by the program that uses them.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// One call of the system moves at most this much.
constexpr size_t kMaximumTransfer = size_t(1) << 30;

bool writeAllBytes(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    auto chunk = DWORD(std::min(bytes.size(), kMaximumTransfer));
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

// Reads up to length bytes from the file's position; false on a read error.
bool readUpTo(HANDLE file, size_t length, std::string* out) {
  out->clear();
  std::string bytes(length, '\0');
  size_t filled = 0;
  while (filled < length) {
    DWORD read = 0;
    auto chunk = DWORD(std::min(length - filled, kMaximumTransfer));
    if (!ReadFile(file, bytes.data() + filled, chunk, &read, nullptr)) return false;
    if (read == 0) break;
    filled += read;
  }
  bytes.resize(filled);
  *out = std::move(bytes);
  return true;
}

}  // namespace

std::u16string Win32Files::temporaryDirectory() const {
  std::u16string directory(MAX_PATH + 1, u'\0');
  for (;;) {
    DWORD length =
        GetTempPathW(DWORD(directory.size()), reinterpret_cast<wchar_t*>(directory.data()));
    if (length == 0) return u".\\";
    if (length < directory.size()) {
      directory.resize(length);
      break;
    }
    directory.resize(length + 1);
  }
  if (directory.back() != u'\\' && directory.back() != u'/') directory.push_back(u'\\');
  return directory;
}

Files::Created Win32Files::createExclusive(const std::u16string& path, std::string_view bytes) {
  File file = open(path, GENERIC_WRITE, 0, CREATE_NEW);
  if (!file.valid()) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Created::kExists
                                                                       : Created::kFailed;
  }
  bool written = writeAllBytes(file.get(), bytes);
  if (!file.close() || !written) {
    DeleteFileW(*systemPath(path));
    return Created::kFailed;
  }
  return Created::kOk;
}

bool Win32Files::writeAll(const std::u16string& path, std::string_view bytes,
                          std::string* failure) {
  auto fail = [&](const char* reason, DWORD error) {
    if (failure) {
      *failure = "cannot write " + toUtf8(path) + ": " + reason;
      if (error != 0) *failure += " (system error " + std::to_string(error) + ")";
    }
    return false;
  };
  std::optional<const wchar_t*> name = systemPath(path);
  if (!name) return fail("the path is not valid", 0);
  // The file a link or junction leads to is the one replaced; asking the open handle for its
  // final path follows them all.
  std::u16string target = path;
  File existing(CreateFileW(*name, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                            nullptr));
  if (existing.valid()) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(existing.get()) != FILE_TYPE_DISK) {
      return fail("it is a device or pipe, not a file", 0);
    }
    if (GetFileInformationByHandle(existing.get(), &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return fail("it is a folder", 0);
    }
    std::u16string resolved(32768, u'\0');
    DWORD length = GetFinalPathNameByHandleW(
        existing.get(), reinterpret_cast<wchar_t*>(resolved.data()), DWORD(resolved.size()), 0);
    if (length > 0 && length < resolved.size()) {
      resolved.resize(length);
      target = resolved;
    }
    existing.close();
  } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
    return fail("it cannot be opened", GetLastError());
  }
  // A new file beside the target, so that the move replaces it in one step on one volume.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::u16string temporary = target + u".~";
    for (char digit : std::to_string(attempt)) temporary += char16_t(digit);
    File file = open(temporary, GENERIC_WRITE, 0, CREATE_NEW);
    if (!file.valid()) {
      DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      return fail(error == ERROR_PATH_NOT_FOUND ? "the folder does not exist"
                                                : "a file cannot be created in its folder",
                  error);
    }
    bool written = writeAllBytes(file.get(), bytes) && FlushFileBuffers(file.get());
    DWORD error = written ? 0 : GetLastError();
    if (!file.close() && written) {
      written = false;
      error = GetLastError();
    }
    std::optional<const wchar_t*> from = systemPath(temporary);
    std::optional<const wchar_t*> to = systemPath(target);
    if (written && !MoveFileExW(*from, *to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      written = false;
      error = GetLastError();
    }
    if (!written) {
      DeleteFileW(*from);
      return fail("the bytes did not reach the disk", error);
    }
    return true;
  }
  return fail("no temporary name is free in its folder", 0);
}

bool Win32Files::readAll(const std::u16string& path, std::string* out) const {
  out->clear();
  File file = open(path, GENERIC_READ, kShareAll, OPEN_EXISTING);
  LARGE_INTEGER size{};
  if (!file.valid() || !GetFileSizeEx(file.get(), &size)) return false;
  if (uint64_t(size.QuadPart) >= out->max_size()) return false;
  // The size is where reading starts; a file that grows meanwhile is read to its end too.
  std::string bytes;
  if (!readUpTo(file.get(), size_t(size.QuadPart), &bytes)) return false;
  std::string more;
  do {
    if (!readUpTo(file.get(), 65536, &more)) return false;
    bytes += more;
  } while (!more.empty());
  *out = std::move(bytes);
  return true;
}

bool Win32Files::exists(const std::u16string& path) const {
  std::optional<const wchar_t*> name = systemPath(path);
  return name && GetFileAttributesW(*name) != INVALID_FILE_ATTRIBUTES;
}

bool Win32Files::remove(const std::u16string& path) {
  std::optional<const wchar_t*> name = systemPath(path);
  return name && DeleteFileW(*name);
}

bool Win32Files::size(const std::u16string& path, uint64_t* out) const {
  std::optional<const wchar_t*> name = systemPath(path);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!name || !GetFileAttributesExW(*name, GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  *out = uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  return true;
}

bool Win32Files::readBlock(const std::u16string& path, uint64_t offset, size_t length,
                           std::string* out) const {
  out->clear();
  File file = open(path, GENERIC_READ, kShareAll, OPEN_EXISTING);
  if (!file.valid() || offset > uint64_t(INT64_MAX)) return false;
  LARGE_INTEGER position{};
  position.QuadPart = LONGLONG(offset);
  if (!SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN)) return false;
  // A block asked for past the end is read as far as the file goes, so nothing is reserved for
  // bytes that are not there.
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return false;
  uint64_t available = uint64_t(size.QuadPart) > offset ? uint64_t(size.QuadPart) - offset : 0;
  return readUpTo(file.get(), size_t(std::min<uint64_t>(length, available)), out);
}

bool Win32Files::append(const std::u16string& path, std::string_view bytes) {
  File file = open(path, FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS);
  if (!file.valid()) return false;
  LARGE_INTEGER end{};
  bool written =
      SetFilePointerEx(file.get(), end, nullptr, FILE_END) && writeAllBytes(file.get(), bytes);
  return file.close() && written;
}

bool Win32Files::rename(const std::u16string& from, const std::u16string& to) {
  std::optional<const wchar_t*> source = systemPath(from);
  std::optional<const wchar_t*> target = systemPath(to);
  return source && target &&
         MoveFileExW(*source, *target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

bool Win32Files::readOnly(const std::u16string& path) const {
  std::optional<const wchar_t*> name = systemPath(path);
  if (!name) return false;
  DWORD attributes = GetFileAttributesW(*name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool Win32Files::openableForAppend(const std::u16string& path) const {
  // Asking for no sharing fails while anyone else has the file open, which is the test wanted:
  // the resource update that follows needs the file to itself.
  File file = open(path, FILE_APPEND_DATA, 0, OPEN_EXISTING);
  return file.valid();
}

}  // namespace korvel::win32
