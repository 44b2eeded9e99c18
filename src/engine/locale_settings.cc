#include "engine/locale_settings.h"

#include "util/text.h"

namespace korvel {
namespace {

const std::array<std::u16string, kLiteralTextCount> kDefaultTexts = {
    u"#NULL!", u"#DIV/0!", u"#VALUE!", u"#REF!", u"#NAME?", u"#NUM!", u"#N/A", u"TRUE", u"FALSE"};

struct Settings {
  UserLocale locale = UserLocale::englishUnitedStates();
  const Locale* collator = nullptr;
  const Clock* clock = nullptr;
  std::array<std::u16string, kLiteralTextCount> texts = kDefaultTexts;
};

Settings& settings() {
  static Settings s;
  return s;
}

// The characters of the bytes 0x80 to 0x9F; the rest of the code page is ISO 8859-1.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char windows1252Byte(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<char>(unit);
  for (int i = 0; i < 32; ++i) {
    if (kWindows1252High[i] == unit) return static_cast<char>(0x80 + i);
  }
  return '?';
}

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::string toWindows1252(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (isHighSurrogate(text[i]) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
      ++i;
      bytes.push_back('?');
      continue;
    }
    bytes.push_back(windows1252Byte(text[i]));
  }
  return bytes;
}

std::u16string fromWindows1252(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  for (char byte : bytes) {
    auto b = static_cast<unsigned char>(byte);
    text.push_back(b >= 0x80 && b < 0xA0 ? kWindows1252High[b - 0x80] : char16_t(b));
  }
  return text;
}

std::string toSystemCodePage(std::u16string_view text) {
  const Locale* port = settings().collator;
  return port ? port->toCodePage(text) : toWindows1252(text);
}

std::u16string fromSystemCodePage(std::string_view bytes) {
  const Locale* port = settings().collator;
  return port ? port->fromCodePage(bytes) : fromWindows1252(bytes);
}

void installLocale(const Locale* locale, const Clock* clock) {
  Settings& s = settings();
  s.locale = locale ? locale->userLocale() : UserLocale::englishUnitedStates();
  s.collator = locale;
  s.clock = clock;
}

void setUserLocale(const UserLocale& locale) { settings().locale = locale; }

const UserLocale& userLocale() { return settings().locale; }

int collateNoCase(std::u16string_view a, std::u16string_view b) {
  const Locale* collator = settings().collator;
  return collator ? collator->collateNoCase(a, b) : compareNoCase(a, b);
}

int currentYear() {
  const Clock* clock = settings().clock;
  return clock ? clock->now().year : 2000;
}

LocalTime currentLocalTime() {
  const Clock* clock = settings().clock;
  if (clock) return clock->now();
  LocalTime t;
  t.year = 2000;
  return t;
}

const std::u16string& literalText(int index) { return settings().texts.at(size_t(index)); }

void setLiteralText(int index, std::u16string text) {
  settings().texts.at(size_t(index)) = std::move(text);
}

void resetLocaleSettings() { settings() = Settings{}; }

}  // namespace korvel
