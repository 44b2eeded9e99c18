// Services of the host operating system that are neither files nor time: paths of loaded modules,
// the process's current directory, short path forms, the icons of an executable, starting a
// detached process and ending the current one. Local time and the performance counter are the
// Clock's, the temporary directory is the Files'. Paths are UTF-16.
#ifndef KORVEL_PLATFORM_SYSTEM_H_
#define KORVEL_PLATFORM_SYSTEM_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// An icon loaded from an executable; kNoIcon is none. The holder destroys it through the System.
enum class IconHandle : uint64_t { kNoIcon = 0 };

// The first icon of an executable in its two sizes; either may be missing.
struct ExecutableIcons {
  IconHandle large = IconHandle::kNoIcon;
  IconHandle small = IconHandle::kNoIcon;
};

// REQUIRES: called on the host program's user-interface thread.
class System {
 public:
  virtual ~System() = default;

  // Full path of the module of that file name (case ignored) loaded in the current process; empty
  // when no such module is loaded.
  virtual std::u16string modulePath(std::u16string_view moduleName) const = 0;

  virtual std::u16string currentDirectory() const = 0;
  // False, with nothing changed, when the directory cannot be made current.
  virtual bool setCurrentDirectory(const std::u16string& directory) = 0;

  // The short form of an existing path where the file system keeps one, else the path itself;
  // empty when the path does not exist.
  virtual std::u16string shortPath(const std::u16string& path) const = 0;

  // The first icon of the executable at the path; both missing when it has none or cannot be read.
  virtual ExecutableIcons extractIcons(const std::u16string& path) = 0;
  // Destroying kNoIcon, or an icon destroyed before, does nothing.
  virtual void destroyIcon(IconHandle icon) = 0;

  // Starts the executable with the arguments and returns without waiting for it; the process
  // outlives the current one. Each argument reaches the new process as one argument: the Windows
  // command line puts every argument in double quotes except those made only of letters, digits
  // and '-'. False when the process could not be started.
  virtual bool startDetachedProcess(const std::u16string& executable,
                                    const std::vector<std::u16string>& arguments) = 0;

  // Ends the current process with the exit code. On a real host it does not return; a host that
  // cannot end its own process (the headless one, inside tests) records the request and returns,
  // so callers return normally after the call.
  virtual void endProcess(int exitCode) = 0;
};

}  // namespace korvel

#endif  // KORVEL_PLATFORM_SYSTEM_H_
