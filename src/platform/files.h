// Files of the host operating system, as far as the runtime needs them: whole-file reads and
// writes, exclusive creation of temporary files, existence and removal. Paths are UTF-16.
#ifndef KORVEL_PLATFORM_FILES_H_
#define KORVEL_PLATFORM_FILES_H_

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
  // Replaces or creates the file with the bytes. False on failure.
  virtual bool writeAll(const std::u16string& path, std::string_view bytes) = 0;
  // The whole file. False when it cannot be read; out is then empty.
  virtual bool readAll(const std::u16string& path, std::string* out) const = 0;
  virtual bool exists(const std::u16string& path) const = 0;
  // False when the file did not exist or could not be removed.
  virtual bool remove(const std::u16string& path) = 0;
};

}  // namespace korvel

#endif  // KORVEL_PLATFORM_FILES_H_
