// Files of the host operating system, as far as the runtime needs them: whole-file reads and
// writes, reads and appends in blocks, exclusive creation of temporary files, existence, removal,
// renaming, the read-only attribute and the test whether another process holds a file. Paths are
// UTF-16.
#ifndef KORVEL_PLATFORM_FILES_H_
#define KORVEL_PLATFORM_FILES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvel {

class Files {
 public:
  enum class Created { kOk, kExists, kFailed };

  virtual ~Files() = default;
  // The user's temporary directory, ending in the path separator.
  virtual std::u16string temporaryDirectory() const = 0;
  // Creates the file only when no file of that name exists, writes the bytes with one write and
  // closes it. kExists when the name is taken (nothing is written), kFailed on any other error
  // (a partly written file is removed).
  virtual Created createExclusive(const std::u16string& path, std::string_view bytes) = 0;
  // Replaces or creates the file with the bytes, whole or not at all: the bytes go to a new file
  // in the target's folder, reach the disk, and the new file then takes the target's place. A
  // symbolic link is written through to the file it names. A target that is not a regular file (a
  // folder, a device, a socket) or that the caller protected as its input is refused. On failure
  // what was there is untouched and, when failure is given, it receives one line naming the path
  // and the system's reason.
  virtual bool writeAll(const std::u16string& path, std::string_view bytes,
                        std::string* failure) = 0;
  bool writeAll(const std::u16string& path, std::string_view bytes) {
    return writeAll(path, bytes, nullptr);
  }
  // The whole file. False when it cannot be read; out is then empty.
  virtual bool readAll(const std::u16string& path, std::string* out) const = 0;
  virtual bool exists(const std::u16string& path) const = 0;
  // False when the file did not exist or could not be removed.
  virtual bool remove(const std::u16string& path) = 0;

  // The file's size in bytes; false when it cannot be found.
  virtual bool size(const std::u16string& path, uint64_t* out) const = 0;
  // Up to `length` bytes from `offset` (fewer at the end of the file). False when the file cannot
  // be read; out is then empty.
  virtual bool readBlock(const std::u16string& path, uint64_t offset, size_t length,
                         std::string* out) const = 0;
  // Appends the bytes, creating the file when it does not exist. False on failure.
  virtual bool append(const std::u16string& path, std::string_view bytes) = 0;
  // Moves the file to the new name, replacing a file of that name in one step, so that readers
  // see either the old or the new file, never a part. False (nothing moved) on failure.
  virtual bool rename(const std::u16string& from, const std::u16string& to) = 0;
  // Whether the file carries the read-only attribute (false when it does not exist).
  virtual bool readOnly(const std::u16string& path) const = 0;
  // Whether the file can be opened for appending now: false while another process holds it
  // locked, or when it cannot be opened at all.
  virtual bool openableForAppend(const std::u16string& path) const = 0;
};

}  // namespace korvel

#endif  // KORVEL_PLATFORM_FILES_H_
