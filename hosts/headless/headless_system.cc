#include "hosts/headless/headless_system.h"

#include "util/text.h"

namespace korvel {
namespace {

std::u16string_view fileNamePart(std::u16string_view path) {
  size_t slash = path.find_last_of(u"/\\");
  return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::u16string HeadlessSystem::modulePath(std::u16string_view moduleName) const {
  for (const std::u16string& path : modules_) {
    if (equalsNoCase(fileNamePart(path), moduleName)) return path;
  }
  return {};
}

void HeadlessSystem::addModule(const std::u16string& path) { modules_.push_back(path); }

bool HeadlessSystem::setCurrentDirectory(const std::u16string& directory) {
  if (directory.empty()) return false;
  currentDirectory_ = directory;
  return true;
}

std::u16string HeadlessSystem::shortPath(const std::u16string& path) const {
  // No short names on this host: an existing path is its own short form.
  return files_->exists(path) ? path : std::u16string();
}

void HeadlessSystem::setExecutableIcon(const std::u16string& path, bool large, bool small) {
  executableIcons_[path] = {large, small};
}

ExecutableIcons HeadlessSystem::extractIcons(const std::u16string& path) {
  ExecutableIcons icons;
  auto it = executableIcons_.find(path);
  if (it == executableIcons_.end()) return icons;
  auto make = [&] {
    IconHandle icon = IconHandle(nextIcon_++);
    liveIcons_.insert(icon);
    return icon;
  };
  if (it->second.first) icons.large = make();
  if (it->second.second) icons.small = make();
  return icons;
}

bool HeadlessSystem::startDetachedProcess(const std::u16string& executable,
                                          const std::vector<std::u16string>& arguments) {
  if (failProcessStart_ || executable.empty()) return false;
  processes_.push_back(DetachedProcess{executable, arguments});
  playLauncherCleanup(processes_.back());
  return true;
}

void HeadlessSystem::playLauncherCleanup(const DetachedProcess& process) {
  const auto& a = process.arguments;
  if (a.size() != 4 || a[0] != u"-clnx" || a[2] != u"-clnd") return;
  // The launcher removes what it can; a file already gone is no failure of the request.
  if (!a[1].empty()) files_->remove(a[1]);
  if (!a[3].empty()) files_->remove(a[3]);
}

}  // namespace korvel
