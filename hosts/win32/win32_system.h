// Modules, the current directory, short paths, executable icons and processes of the Windows host.
#ifndef KORVEL_HOSTS_WIN32_WIN32_SYSTEM_H_
#define KORVEL_HOSTS_WIN32_WIN32_SYSTEM_H_

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system.h"

namespace korvel::win32 {

// The command line that hands each argument to the new process unchanged: the executable always
// in quotes, an argument of only ASCII letters, digits and '-' bare, every other argument (the
// empty one too) in quotes with its quotes and the backslashes before them escaped. Empty when the
// executable's name holds a quote or a NUL, or an argument a NUL, which no command line carries.
std::u16string commandLine(std::u16string_view executable,
                           const std::vector<std::u16string>& arguments);

class Win32System : public System {
 public:
  // The icons still held stay with the windows that may show them: the system frees them with the
  // process.
  std::u16string modulePath(std::u16string_view moduleName) const override;
  std::u16string currentDirectory() const override;
  bool setCurrentDirectory(const std::u16string& directory) override;
  std::u16string shortPath(const std::u16string& path) const override;
  ExecutableIcons extractIcons(const std::u16string& path) override;
  // Destroys only icons this object extracted and has not destroyed yet, so a stale handle the
  // system has since given to another icon is never destroyed.
  void destroyIcon(IconHandle icon) override;
  // The executable is named to the system directly (no search of the path) and as the first word
  // of the command line; the process gets no console and no handles of this one.
  bool startDetachedProcess(const std::u16string& executable,
                            const std::vector<std::u16string>& arguments) override;
  void endProcess(int exitCode) override;

 private:
  std::set<uint64_t> icons_;
};

}  // namespace korvel::win32

#endif  // KORVEL_HOSTS_WIN32_WIN32_SYSTEM_H_
