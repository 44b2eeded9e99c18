// The system ports against the real system: files in a folder of their own under the temporary
// directory, resources written into a copy of this program, a process started from this program.
#include <windows.h>
// After windows.h, whose definitions it builds on.
#include <shellapi.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "hosts/win32/win32_clock.h"
#include "hosts/win32/win32_files.h"
#include "hosts/win32/win32_locale.h"
#include "hosts/win32/win32_resources.h"
#include "hosts/win32/win32_system.h"
#include "hosts/win32/win32_text_metrics.h"
#include "tests/win32/check.h"
#include "util/text.h"

namespace korvel::win32 {
namespace {

const wchar_t* wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

std::u16string fromWide(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }

std::u16string programPath() {
  wchar_t path[MAX_PATH * 4];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  return std::u16string(reinterpret_cast<const char16_t*>(path), length);
}

// A fresh folder under the temporary directory, removed with what it holds.
class Scratch {
 public:
  Scratch() {
    directory_ =
        Win32Files().temporaryDirectory() + u"korvel-system-" +
        fromUtf8(std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter_++)) + u"\\";
    CreateDirectoryW(wide(directory_), nullptr);
  }
  ~Scratch() {
    WIN32_FIND_DATAW found;
    std::u16string pattern = directory_ + u"*";
    HANDLE search = FindFirstFileW(wide(pattern), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        std::u16string path = directory_ + fromWide(found.cFileName);
        SetFileAttributesW(wide(path), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(wide(path));
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    RemoveDirectoryW(wide(directory_));
  }
  std::u16string path(std::u16string_view name) const { return directory_ + std::u16string(name); }
  const std::u16string& directory() const { return directory_; }

 private:
  static inline int counter_ = 0;
  std::u16string directory_;
};

TEST_CASE("files: temporary directory, exclusive creation, whole-file and block reads") {
  Win32Files files;
  std::u16string temporary = files.temporaryDirectory();
  CHECK(!temporary.empty() && temporary.back() == u'\\');
  CHECK(files.exists(temporary));

  Scratch scratch;
  // A name outside the 8-bit code pages: paths reach the system as UTF-16.
  std::u16string path = scratch.path(u"data \u00fc\u4e2d.bin");
  std::string bytes("first\0second", 12);
  CHECK(files.createExclusive(path, bytes) == Files::Created::kOk);
  CHECK(files.createExclusive(path, "other") == Files::Created::kExists);
  CHECK(files.createExclusive(scratch.path(u"missing\\x.bin"), "x") == Files::Created::kFailed);

  std::string read;
  CHECK(files.readAll(path, &read));
  CHECK(read == bytes);
  uint64_t size = 0;
  CHECK(files.size(path, &size));
  CHECK_EQ(size, 12u);
  CHECK(!files.size(scratch.directory(), &size));

  struct BlockCase {
    uint64_t offset;
    size_t length;
    std::string expected;
  };
  const BlockCase blocks[] = {{0, 5, "first"},
                              {6, 100, "second"},
                              {12, 4, ""},
                              {400, 4, ""},
                              {5, 2, std::string("\0s", 2)}};
  for (const BlockCase& block : blocks) {
    CHECK(files.readBlock(path, block.offset, block.length, &read));
    CHECK(read == block.expected);
  }

  std::u16string missing = scratch.path(u"missing.bin");
  read = "stale";
  CHECK(!files.readAll(missing, &read));
  CHECK(read.empty());
  CHECK(!files.readBlock(missing, 0, 4, &read));
  CHECK(!files.size(missing, &size));
  CHECK(!files.exists(missing));
  CHECK(!files.remove(missing));
  CHECK(files.remove(path));
  CHECK(!files.exists(path));
}

TEST_CASE("files: write, append, rename over a file, read-only attribute") {
  Win32Files files;
  Scratch scratch;
  std::u16string path = scratch.path(u"log.txt");
  CHECK(files.append(path, "ab"));
  CHECK(files.append(path, "cd"));
  std::string read;
  CHECK(files.readAll(path, &read));
  CHECK(read == "abcd");
  // A shorter write leaves nothing of the longer file behind.
  CHECK(files.writeAll(path, "x"));
  CHECK(files.readAll(path, &read));
  CHECK(read == "x");

  std::u16string replacement = scratch.path(u"log.new");
  CHECK(files.writeAll(replacement, "new contents"));
  CHECK(files.rename(replacement, path));
  CHECK(!files.exists(replacement));
  CHECK(files.readAll(path, &read));
  CHECK(read == "new contents");
  CHECK(!files.rename(scratch.path(u"missing"), path));
  CHECK(files.readAll(path, &read));
  CHECK(read == "new contents");

  CHECK(!files.readOnly(path));
  CHECK(!files.readOnly(scratch.path(u"missing")));
  SetFileAttributesW(wide(path), FILE_ATTRIBUTE_READONLY);
  CHECK(files.readOnly(path));
  SetFileAttributesW(wide(path), FILE_ATTRIBUTE_NORMAL);
}

TEST_CASE("files: a path with a NUL is refused, not cut short") {
  Win32Files files;
  Scratch scratch;
  std::u16string prefix = scratch.path(u"name");
  std::u16string cut = prefix + std::u16string(1, u'\0') + u".txt";
  CHECK(!files.writeAll(cut, "x"));
  CHECK(files.createExclusive(cut, "x") == Files::Created::kFailed);
  CHECK(!files.append(cut, "x"));
  CHECK(!files.exists(prefix));
  CHECK(files.writeAll(prefix, "kept"));
  CHECK(!files.exists(cut));
  CHECK(!files.remove(cut));
  CHECK(files.exists(prefix));
}

TEST_CASE("files: openable for append only while nobody else holds the file") {
  Win32Files files;
  Scratch scratch;
  std::u16string path = scratch.path(u"program.exe");
  CHECK(files.writeAll(path, "MZ"));
  CHECK(files.openableForAppend(path));
  HANDLE held = CreateFileW(wide(path), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  CHECK(held != INVALID_HANDLE_VALUE);
  CHECK(!files.openableForAppend(path));
  CloseHandle(held);
  CHECK(files.openableForAppend(path));
  CHECK(!files.openableForAppend(scratch.path(u"missing.exe")));
  std::string read;
  CHECK(files.readAll(path, &read));
  CHECK(read == "MZ");
}

TEST_CASE("clock: counter, local time and unix time") {
  Win32Clock clock;
  CHECK(clock.counterFrequency() > 0);
  uint64_t before = clock.counter();
  clock.sleep(30);
  uint64_t elapsed = clock.counter() - before;
  // At least 20 ms of the 30 slept, whatever the scheduler's granularity.
  CHECK(elapsed * 1000 >= clock.counterFrequency() * 20);
  int64_t difference = clock.unixTime() - int64_t(std::time(nullptr));
  CHECK(difference >= -2 && difference <= 2);
  LocalTime now = clock.now();
  CHECK(now.year >= 2024);
  CHECK(now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31);
  CHECK(now.hour <= 23 && now.minute <= 59 && now.second <= 60 && now.millisecond <= 999);
}

TEST_CASE("locale: the user's settings are complete") {
  Win32Locale locale;
  UserLocale user = locale.userLocale();
  CHECK(user.decimalSeparator != u'\0');
  CHECK(!user.monetaryDecimalSeparator.empty());
  CHECK(user.listSeparator != u'\0');
  CHECK(user.dateSeparator != u'\0');
  CHECK(!user.currencySymbol.empty() && user.currencySymbol.size() <= 6);
  CHECK(user.currencyPosition >= 0 && user.currencyPosition <= 3);
  CHECK(user.longDateOrder >= 0 && user.longDateOrder <= 2);
  CHECK(user.monetaryGrouping >= 0 && user.monetaryGrouping <= 9);
  CHECK(!user.languageName.empty());
  for (size_t i = 0; i < 12; ++i) {
    CHECK(!user.monthNames[i].empty());
    CHECK(!user.abbreviatedMonthNames[i].empty());
    CHECK(user.monthNames[i].find(u'\0') == std::u16string::npos);
  }
  // The prefix has the user's English locale; it shows the items come from the right places.
  if (user.languageName == u"English") {
    CHECK(user.monthNames[0] == u"January");
    CHECK(user.abbreviatedMonthNames[11] == u"Dec");
    CHECK(user.monthNames[12].empty());
  }
}

TEST_CASE("locale: collation ignores case and follows the chosen language") {
  Win32Locale locale;
  struct Case {
    std::u16string_view a, b;
    int sign;
  };
  const Case cases[] = {
      {u"a", u"A", 0},
      {u"apple", u"APPLE", 0},
      {u"a", u"b", -1},
      {u"B", u"a", 1},
      {u"", u"a", -1},
      {u"abc", u"ab", 1},
      {u"Zebra", u"apple", 1},
      {std::u16string_view(u"a\0b", 3), std::u16string_view(u"a\0c", 3), -1},
  };
  for (const Case& c : cases) {
    int result = locale.collateNoCase(c.a, c.b);
    CHECK_EQ((result > 0) - (result < 0), c.sign);
  }
  uint32_t user = locale.collationLocale();
  locale.setCollationLanguage(u"No Such Language");
  CHECK_EQ(locale.collationLocale(), user);
  locale.setCollationLanguage(u"german");
  CHECK_EQ(locale.collationLocale(), 0x0407u);
  // Not in the table: found among the installed locales by its English name.
  locale.setCollationLanguage(u"Icelandic");
  CHECK_EQ(PRIMARYLANGID(LANGIDFROMLCID(locale.collationLocale())), LANG_ICELANDIC);
  CHECK_EQ(locale.collateNoCase(u"a", u"A"), 0);
  // Swedish sorts the letter after z; the user's English locale puts it beside a.
  locale.setCollationLanguage(u"Swedish");
  CHECK(locale.collateNoCase(u"\u00e4", u"z") > 0);
  locale.setCollationLanguage(u"English");
  CHECK(locale.collateNoCase(u"\u00e4", u"z") < 0);
}

TEST_CASE("locale: one character is one byte of the code page") {
  Win32Locale locale;
  std::u16string ascii;
  for (char16_t unit = 1; unit < 0x80; ++unit) ascii.push_back(unit);
  std::string bytes = locale.toCodePage(ascii);
  CHECK_EQ(bytes.size(), ascii.size());
  CHECK(locale.fromCodePage(bytes) == ascii);
  // A CJK character, a surrogate pair and a lone surrogate.
  CHECK(locale.toCodePage(u"a\u4e2d\U0001F600b\xD800") == "a??b?");
  // Every byte reads as one character, and each character that is not '?' writes back the byte.
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(char(b));
  std::u16string text = locale.fromCodePage(all);
  CHECK_EQ(text.size(), 256u);
  std::string back = locale.toCodePage(text);
  CHECK_EQ(back.size(), 256u);
  for (size_t b = 0; b < 256 && back.size() == 256; ++b) {
    if (text[b] != u'?') CHECK_EQ(back[b], all[b]);
  }
  // A look-alike the code page lacks is not replaced by its best fit.
  CHECK(locale.toCodePage(u"\u0101") == "?");
}

TEST_CASE("system: module paths, current directory and short paths") {
  Win32System system;
  std::u16string kernel = system.modulePath(u"kernel32.dll");
  CHECK(endsWithNoCase(kernel, u"\\kernel32.dll"));
  CHECK(system.modulePath(u"KERNEL32.DLL") == kernel);
  CHECK(system.modulePath(u"no-such-module.dll").empty());
  CHECK(system.modulePath(u"").empty());

  Scratch scratch;
  std::u16string start = system.currentDirectory();
  CHECK(!start.empty());
  CHECK(system.setCurrentDirectory(scratch.directory()));
  CHECK(equalsNoCase(system.currentDirectory() + u"\\", scratch.directory()));
  CHECK(!system.setCurrentDirectory(scratch.path(u"missing")));
  CHECK(equalsNoCase(system.currentDirectory() + u"\\", scratch.directory()));
  CHECK(system.setCurrentDirectory(start));

  std::u16string file = scratch.path(u"a long file name.workbook");
  Win32Files().writeAll(file, "x");
  std::u16string shortForm = system.shortPath(file);
  CHECK(!shortForm.empty());
  CHECK(Win32Files().exists(shortForm));
  CHECK(system.shortPath(scratch.path(u"missing.txt")).empty());
}

TEST_CASE("system: icons of an executable are destroyed once") {
  Win32System system;
  wchar_t directory[MAX_PATH];
  GetSystemDirectoryW(directory, MAX_PATH);
  std::u16string shell = fromWide(directory) + u"\\shell32.dll";
  ExecutableIcons icons = system.extractIcons(shell);
  CHECK(icons.large != IconHandle::kNoIcon);
  CHECK(icons.small != IconHandle::kNoIcon);
  auto alive = [](IconHandle icon) {
    ICONINFO info{};
    if (!GetIconInfo(reinterpret_cast<HICON>(uintptr_t(icon)), &info)) return false;
    if (info.hbmMask) DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    return true;
  };
  CHECK(alive(icons.large));
  system.destroyIcon(icons.large);
  system.destroyIcon(icons.large);
  system.destroyIcon(IconHandle::kNoIcon);
  CHECK(alive(icons.small));
  system.destroyIcon(icons.small);

  ExecutableIcons none = system.extractIcons(u"C:\\no\\such\\program.exe");
  CHECK(none.large == IconHandle::kNoIcon && none.small == IconHandle::kNoIcon);
}

std::vector<std::u16string> parsedArguments(const std::u16string& line) {
  int count = 0;
  wchar_t** parsed = CommandLineToArgvW(wide(line), &count);
  std::vector<std::u16string> arguments;
  for (int i = 0; parsed != nullptr && i < count; ++i) arguments.push_back(fromWide(parsed[i]));
  LocalFree(parsed);
  return arguments;
}

TEST_CASE("system: the command line hands every argument over unchanged") {
  const std::vector<std::u16string> arguments = {
      u"-clnx",
      u"C:\\Data Files\\Budget.xls",
      u"",
      u"say \"hi\"",
      u"C:\\folder\\",
      u"trailing\\\\",
      u"\\\"",
      u"tab\there",
      u"\u00fcber-99",
      u"plain-Word-42",
  };
  std::u16string program = u"C:\\Program Files\\App\\app.exe";
  std::u16string line = commandLine(program, arguments);
  std::vector<std::u16string> parsed = parsedArguments(line);
  CHECK_EQ(parsed.size(), arguments.size() + 1);
  if (parsed.size() == arguments.size() + 1) {
    CHECK(parsed[0] == program);
    for (size_t i = 0; i < arguments.size(); ++i) CHECK(parsed[i + 1] == arguments[i]);
  }
  // Only plain words go bare.
  CHECK(line.find(u" -clnx ") != std::u16string::npos);
  CHECK(line.find(u" \"\u00fcber-99\"") != std::u16string::npos);
  CHECK(line.find(u" plain-Word-42") != std::u16string::npos);

  CHECK(commandLine(u"C:\\a\"b.exe", {}).empty());
  CHECK(commandLine(u"", {}).empty());
  CHECK(commandLine(program, {std::u16string(u"a\0b", 3)}).empty());
}

// Run in the process the next case starts (the marker variable names the file to write); in the
// test run itself it does nothing.
TEST_CASE("child-writes-its-arguments") {
  wchar_t marker[MAX_PATH * 2];
  if (GetEnvironmentVariableW(L"KORVEL_CHILD_MARKER", marker, MAX_PATH * 2) == 0) return;
  std::u16string joined;
  for (const std::u16string& argument : parsedArguments(fromWide(GetCommandLineW()))) {
    joined += argument + u"\n";
  }
  Win32Files().writeAll(fromWide(marker), toUtf8(joined));
}

TEST_CASE("system: a detached process starts with its arguments") {
  Win32System system;
  Win32Files files;
  Scratch scratch;
  std::u16string marker = scratch.path(u"arguments.txt");
  SetEnvironmentVariableW(L"KORVEL_CHILD_MARKER", wide(marker));
  std::u16string program = programPath();
  const std::vector<std::u16string> arguments = {u"child-writes-its-arguments", u"a b", u"",
                                                 u"q\"uote", u"dir\\"};
  CHECK(system.startDetachedProcess(program, arguments));
  SetEnvironmentVariableW(L"KORVEL_CHILD_MARKER", nullptr);
  std::string written;
  for (int wait = 0; wait < 200 && !files.readAll(marker, &written); ++wait) Sleep(50);
  std::u16string expected = program + u"\n";
  for (const std::u16string& argument : arguments) expected += argument + u"\n";
  CHECK(fromUtf8(written) == expected);

  CHECK(!system.startDetachedProcess(scratch.path(u"missing.exe"), {}));
}

struct ReadResource {
  bool found = false;
  std::string bytes;
};

ReadResource readResource(const std::u16string& executable, const wchar_t* type, WORD id) {
  ReadResource result;
  HMODULE module = LoadLibraryExW(wide(executable), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return result;
  HRSRC resource =
      FindResourceExW(module, type, MAKEINTRESOURCEW(id), WORD(kResourceLanguageEnglish));
  if (resource != nullptr) {
    HGLOBAL loaded = LoadResource(module, resource);
    DWORD size = SizeofResource(module, resource);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    result.found = data != nullptr || size == 0;
    if (data != nullptr) result.bytes.assign(static_cast<const char*>(data), size);
  }
  FreeLibrary(module);
  return result;
}

TEST_CASE("resources: written, replaced, removed and read back by the system") {
  Win32Resources resources;
  Win32Files files;
  Scratch scratch;
  std::u16string executable = scratch.path(u"application.exe");
  CHECK(CopyFileW(wide(programPath()), wide(executable), TRUE));

  std::string workbook("PK\3\4\0\0workbook", 14);
  std::unique_ptr<ResourceUpdate> update = resources.beginUpdate(executable, true);
  CHECK(update != nullptr);
  if (update == nullptr) return;
  CHECK(update->update(u"KVWORKBOOK", 1020, kResourceLanguageEnglish, workbook));
  CHECK(update->update(u"EXTRSC", 1200, kResourceLanguageEnglish, "chunk 0"));
  CHECK(update->update(u"EXTRSC", 1201, kResourceLanguageEnglish, "chunk 1"));
  CHECK(update->update(u"extrsc", 1201, kResourceLanguageEnglish, "chunk 1 again"));
  CHECK(update->update(u"#300", 7, kResourceLanguageEnglish, "numbered"));
  CHECK(update->remove(u"EXTRSC", 1300, kResourceLanguageEnglish));
  // Names the system cannot store are refused, and the update stays usable.
  CHECK(!update->update(u"", 1, kResourceLanguageEnglish, "x"));
  CHECK(!update->update(u"#0", 1, kResourceLanguageEnglish, "x"));
  CHECK(!update->update(u"#65536", 1, kResourceLanguageEnglish, "x"));
  CHECK(!update->update(u"EXTRSC", 0, kResourceLanguageEnglish, "x"));
  CHECK(!update->update(u"EXTRSC", 65536, kResourceLanguageEnglish, "x"));
  CHECK(update->end(true));
  CHECK(!update->end(true));
  CHECK(!update->update(u"EXTRSC", 1202, kResourceLanguageEnglish, "late"));

  ReadResource read = readResource(executable, L"KVWORKBOOK", 1020);
  CHECK(read.found && read.bytes == workbook);
  read = readResource(executable, L"EXTRSC", 1200);
  CHECK(read.found && read.bytes == "chunk 0");
  // The lower-case name reaches the same resource, as the system looks names up.
  read = readResource(executable, L"extrsc", 1201);
  CHECK(read.found && read.bytes == "chunk 1 again");
  read = readResource(executable, MAKEINTRESOURCEW(300), 7);
  CHECK(read.found && read.bytes == "numbered");

  // A later session replaces and removes what an earlier one wrote, and keeps the rest.
  update = resources.beginUpdate(executable, true);
  CHECK(update != nullptr && update->remove(u"EXTRSC", 1200, kResourceLanguageEnglish));
  CHECK(update != nullptr && update->update(u"KVWORKBOOK", 1020, kResourceLanguageEnglish, "v2"));
  CHECK(update != nullptr && update->end(true));
  CHECK(!readResource(executable, L"EXTRSC", 1200).found);
  read = readResource(executable, L"EXTRSC", 1201);
  CHECK(read.found && read.bytes == "chunk 1 again");
  read = readResource(executable, L"KVWORKBOOK", 1020);
  CHECK(read.found && read.bytes == "v2");

  // Not keeping the existing resources drops them all.
  update = resources.beginUpdate(executable, false);
  CHECK(update != nullptr && update->update(u"EXTRSC", 1200, kResourceLanguageEnglish, "only"));
  CHECK(update != nullptr && update->end(true));
  read = readResource(executable, L"EXTRSC", 1200);
  CHECK(read.found && read.bytes == "only");
  CHECK(!readResource(executable, L"KVWORKBOOK", 1020).found);
  CHECK(!readResource(executable, MAKEINTRESOURCEW(300), 7).found);
}

TEST_CASE("resources: a discarded or dropped update leaves the file as it was") {
  Win32Resources resources;
  Win32Files files;
  Scratch scratch;
  std::u16string executable = scratch.path(u"application.exe");
  CHECK(CopyFileW(wide(programPath()), wide(executable), TRUE));
  std::string before;
  CHECK(files.readAll(executable, &before));

  std::unique_ptr<ResourceUpdate> update = resources.beginUpdate(executable, false);
  CHECK(update != nullptr && update->update(u"EXTRSC", 1200, kResourceLanguageEnglish, "x"));
  CHECK(update != nullptr && update->end(false));
  update = resources.beginUpdate(executable, true);
  CHECK(update != nullptr && update->update(u"EXTRSC", 1200, kResourceLanguageEnglish, "y"));
  update.reset();

  std::string after;
  CHECK(files.readAll(executable, &after));
  CHECK(after == before);
  CHECK(resources.beginUpdate(scratch.path(u"missing.exe"), true) == nullptr);
}

TEST_CASE("text metrics: extents, wrapping and the screen") {
  Win32TextMetrics metrics;
  const DialogFont fonts[] = {DialogFont::kSmall, DialogFont::kNormal, DialogFont::kLarge};
  for (DialogFont font : fonts) {
    PixelSize one = metrics.textExtent(u"W", font);
    PixelSize many = metrics.textExtent(u"WWWWWWWW", font);
    CHECK(one.width > 0 && one.height > 0);
    CHECK(many.width > one.width);
    CHECK_EQ(many.height, one.height);
    CHECK(metrics.font(font) != nullptr);
  }
  CHECK(metrics.textExtent(u"Message", DialogFont::kLarge).height >=
        metrics.textExtent(u"Message", DialogFont::kSmall).height);

  std::u16string body;
  for (int i = 0; i < 40; ++i) body += u"word & word ";
  int wide = metrics.wrappedTextHeight(body, DialogFont::kNormal, 600);
  int narrow = metrics.wrappedTextHeight(body, DialogFont::kNormal, 120);
  CHECK(wide > 0);
  CHECK(narrow > wide);

  CHECK(metrics.screenWidth() > 0);
  PixelRect work = metrics.workAreaNear({10, 10, 110, 60});
  CHECK(work.width() > 0 && work.height() > 0 && work.width() <= metrics.screenWidth());
  CHECK(metrics.captionHeight() > 0);
  CHECK(metrics.edgeWidth() > 0 && metrics.edgeHeight() > 0);
  CHECK(metrics.dialogBaseUnitX() > 0);
}

TEST_CASE("text metrics: a window's rectangle and whether it is shown") {
  Win32TextMetrics metrics;
  HWND window = CreateWindowExW(0, L"STATIC", L"probe", WS_OVERLAPPED, 40, 50, 300, 200, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  CHECK(window != nullptr);
  auto handle = static_cast<WindowHandle>(reinterpret_cast<uintptr_t>(window));
  CHECK(metrics.windowRect(handle) == (PixelRect{40, 50, 340, 250}));
  CHECK(!metrics.windowShown(handle));
  ShowWindow(window, SW_SHOWNOACTIVATE);
  CHECK(metrics.windowShown(handle));
  ShowWindow(window, SW_SHOWMINNOACTIVE);
  CHECK(!metrics.windowShown(handle));
  DestroyWindow(window);
  CHECK(metrics.windowRect(handle) == PixelRect{});
  CHECK(!metrics.windowShown(handle));
  CHECK(metrics.windowRect(WindowHandle::kNoWindow) == PixelRect{});
}

}  // namespace
}  // namespace korvel::win32
