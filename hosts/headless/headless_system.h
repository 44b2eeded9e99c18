// The headless host's system services. Module paths, the current directory and executable icons
// are whatever the host program set up (nothing at first); existence of paths and the launcher's
// clean-up go through the Files the host works with, so the same code serves the disk and memory.
// Detached processes are recorded rather than started; the one the runtime starts at its end, the
// launcher asked to clean up ("-clnx" workbook "-clnd" module), is played at once: the two files
// are removed, as the launcher does once the host program has let go of them.
//
// REQUIRES: used on one thread; files outlives the system.
#ifndef KORVEL_HOSTS_HEADLESS_HEADLESS_SYSTEM_H_
#define KORVEL_HOSTS_HEADLESS_HEADLESS_SYSTEM_H_

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/system.h"

namespace korvel {

struct DetachedProcess {
  std::u16string executable;
  std::vector<std::u16string> arguments;
};

class HeadlessSystem : public System {
 public:
  explicit HeadlessSystem(Files* files) : files_(files) {}

  std::u16string modulePath(std::u16string_view moduleName) const override;
  std::u16string currentDirectory() const override { return currentDirectory_; }
  bool setCurrentDirectory(const std::u16string& directory) override;
  std::u16string shortPath(const std::u16string& path) const override;
  ExecutableIcons extractIcons(const std::u16string& path) override;
  void destroyIcon(IconHandle icon) override { liveIcons_.erase(icon); }
  bool startDetachedProcess(const std::u16string& executable,
                            const std::vector<std::u16string>& arguments) override;
  void endProcess(int exitCode) override { exitCode_ = exitCode; }

  // A module loaded in the process under the file name part of its path.
  void addModule(const std::u16string& path);
  // The executable at the path carries an icon in the sizes given.
  void setExecutableIcon(const std::u16string& path, bool large, bool small);
  // Icons extracted and not yet destroyed.
  size_t liveIcons() const { return liveIcons_.size(); }
  // While set, starting a process fails and nothing is recorded.
  void setFailProcessStart(bool fail) { failProcessStart_ = fail; }
  const std::vector<DetachedProcess>& detachedProcesses() const { return processes_; }
  // The exit code of the last endProcess, if any.
  std::optional<int> exitCode() const { return exitCode_; }

 private:
  void playLauncherCleanup(const DetachedProcess& process);

  Files* files_;
  std::vector<std::u16string> modules_;
  std::u16string currentDirectory_ = u"/";
  std::map<std::u16string, std::pair<bool, bool>> executableIcons_;
  std::set<IconHandle> liveIcons_;
  uint64_t nextIcon_ = 0x100;
  bool failProcessStart_ = false;
  std::vector<DetachedProcess> processes_;
  std::optional<int> exitCode_;
};

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_HEADLESS_SYSTEM_H_
