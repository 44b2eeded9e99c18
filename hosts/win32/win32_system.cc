#include "hosts/win32/win32_system.h"

#include <windows.h>
// After windows.h, whose definitions it builds on.
#include <shellapi.h>

#include "util/text.h"

namespace korvel::win32 {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

const wchar_t* wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

bool usable(std::u16string_view text) {
  return !text.empty() && text.find(u'\0') == std::u16string_view::npos;
}

HICON iconOf(IconHandle icon) {
  return reinterpret_cast<HICON>(static_cast<uintptr_t>(static_cast<uint64_t>(icon)));
}

IconHandle handleOf(HICON icon) {
  return static_cast<IconHandle>(reinterpret_cast<uintptr_t>(icon));
}

bool bareArgument(std::u16string_view argument) {
  if (argument.empty()) return false;
  for (char16_t unit : argument) {
    if (!isAsciiLetter(unit) && !isDigit(unit) && unit != u'-') return false;
  }
  return true;
}

// The quoting the system's command-line reader undoes: backslashes are literal except before a
// quote, where 2n backslashes and a quote stand for n backslashes and 2n + 1 for n and a literal
// quote.
void appendQuoted(std::u16string* line, std::u16string_view argument) {
  line->push_back(u'"');
  size_t backslashes = 0;
  for (char16_t unit : argument) {
    if (unit == u'\\') {
      ++backslashes;
      continue;
    }
    if (unit == u'"') backslashes = 2 * backslashes + 1;
    line->append(backslashes, u'\\');
    backslashes = 0;
    line->push_back(unit);
  }
  // Backslashes before the closing quote are doubled so that it stays a closing quote.
  line->append(2 * backslashes, u'\\');
  line->push_back(u'"');
}

}  // namespace

std::u16string commandLine(std::u16string_view executable,
                           const std::vector<std::u16string>& arguments) {
  // The program's name is read up to the next quote with no escapes at all, so it cannot hold one.
  if (!usable(executable) || executable.find(u'"') != std::u16string_view::npos) return {};
  std::u16string line = u"\"";
  line += executable;
  line += u'"';
  for (const std::u16string& argument : arguments) {
    if (argument.find(u'\0') != std::u16string::npos) return {};
    line += u' ';
    if (bareArgument(argument)) {
      line += argument;
    } else {
      appendQuoted(&line, argument);
    }
  }
  return line;
}

std::u16string Win32System::modulePath(std::u16string_view moduleName) const {
  if (!usable(moduleName)) return {};
  std::u16string name(moduleName);
  HMODULE module = GetModuleHandleW(wide(name));
  if (module == nullptr) return {};
  // Long paths do not fit MAX_PATH: the buffer grows until the name is not cut.
  std::u16string path(MAX_PATH, u'\0');
  for (;;) {
    DWORD length =
        GetModuleFileNameW(module, reinterpret_cast<wchar_t*>(path.data()), DWORD(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= 65536) return {};
    path.resize(path.size() * 2);
  }
}

std::u16string Win32System::currentDirectory() const {
  std::u16string directory;
  for (;;) {
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) return {};
    directory.assign(needed, u'\0');
    DWORD length = GetCurrentDirectoryW(needed, reinterpret_cast<wchar_t*>(directory.data()));
    if (length == 0) return {};
    // Another thread may have changed it to a longer one between the two calls.
    if (length < needed) {
      directory.resize(length);
      return directory;
    }
  }
}

bool Win32System::setCurrentDirectory(const std::u16string& directory) {
  return usable(directory) && SetCurrentDirectoryW(wide(directory));
}

std::u16string Win32System::shortPath(const std::u16string& path) const {
  if (!usable(path)) return {};
  for (;;) {
    DWORD needed = GetShortPathNameW(wide(path), nullptr, 0);
    if (needed == 0) return {};
    std::u16string shortForm(needed, u'\0');
    DWORD length =
        GetShortPathNameW(wide(path), reinterpret_cast<wchar_t*>(shortForm.data()), needed);
    if (length == 0) return {};
    if (length < needed) {
      shortForm.resize(length);
      return shortForm;
    }
  }
}

ExecutableIcons Win32System::extractIcons(const std::u16string& path) {
  ExecutableIcons icons;
  if (!usable(path)) return icons;
  HICON large = nullptr;
  HICON small = nullptr;
  UINT extracted = ExtractIconExW(wide(path), 0, &large, &small, 1);
  if (extracted == 0 || extracted == UINT(-1)) return icons;
  if (large != nullptr) {
    icons.large = handleOf(large);
    icons_.insert(static_cast<uint64_t>(icons.large));
  }
  if (small != nullptr) {
    icons.small = handleOf(small);
    icons_.insert(static_cast<uint64_t>(icons.small));
  }
  return icons;
}

void Win32System::destroyIcon(IconHandle icon) {
  if (icons_.erase(static_cast<uint64_t>(icon)) == 0) return;
  DestroyIcon(iconOf(icon));
}

bool Win32System::startDetachedProcess(const std::u16string& executable,
                                       const std::vector<std::u16string>& arguments) {
  std::u16string line = commandLine(executable, arguments);
  if (line.empty()) return false;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(wide(executable), reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr,
                      FALSE, DETACHED_PROCESS, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

void Win32System::endProcess(int exitCode) {
  TerminateProcess(GetCurrentProcess(), UINT(exitCode));
}

}  // namespace korvel::win32
