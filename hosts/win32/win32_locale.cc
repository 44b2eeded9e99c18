#include "hosts/win32/win32_locale.h"

#include <windows.h>

#include <climits>
#include <cstdlib>

#include "util/text.h"

namespace korvel::win32 {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

// One locale item of the user's default locale; empty when the system has none.
std::u16string localeItem(LCTYPE item) {
  int length = GetLocaleInfoW(LOCALE_USER_DEFAULT, item, nullptr, 0);
  if (length <= 0) return {};
  std::u16string text(size_t(length), u'\0');
  length =
      GetLocaleInfoW(LOCALE_USER_DEFAULT, item, reinterpret_cast<wchar_t*>(text.data()), length);
  if (length <= 0) return {};
  text.resize(size_t(length));
  while (!text.empty() && text.back() == u'\0') text.pop_back();
  return text;
}

// The number an item starts with ("3;0" for grouping, "1" for positions); the fallback when it
// does not start with a digit or is out of range.
int leadingNumber(const std::u16string& text, int fallback, int highest) {
  int value = 0;
  size_t digits = 0;
  while (digits < text.size() && isDigit(text[digits]) && value <= highest) {
    value = value * 10 + (text[digits++] - u'0');
  }
  return digits == 0 || value > highest ? fallback : value;
}

char16_t firstUnit(const std::u16string& text, char16_t fallback) {
  return text.empty() ? fallback : text.front();
}

struct CollationLanguage {
  const char16_t* name;
  LANGID language;
};

// The languages the runtime can be localised to, each with the locale its collation follows.
const CollationLanguage kLanguages[] = {
    {u"English", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)},
    {u"Czech", MAKELANGID(LANG_CZECH, SUBLANG_DEFAULT)},
    {u"Danish", MAKELANGID(LANG_DANISH, SUBLANG_DEFAULT)},
    {u"German", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)},
    {u"Greek", MAKELANGID(LANG_GREEK, SUBLANG_DEFAULT)},
    {u"Spanish", MAKELANGID(LANG_SPANISH, SUBLANG_SPANISH_MODERN)},
    {u"Finnish", MAKELANGID(LANG_FINNISH, SUBLANG_DEFAULT)},
    {u"French", MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH)},
    {u"Hungarian", MAKELANGID(LANG_HUNGARIAN, SUBLANG_DEFAULT)},
    {u"Italian", MAKELANGID(LANG_ITALIAN, SUBLANG_ITALIAN)},
    {u"Dutch", MAKELANGID(LANG_DUTCH, SUBLANG_DUTCH)},
    {u"Norwegian", MAKELANGID(LANG_NORWEGIAN, SUBLANG_NORWEGIAN_BOKMAL)},
    {u"Polish", MAKELANGID(LANG_POLISH, SUBLANG_DEFAULT)},
    {u"Portuguese", MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE)},
    {u"Romanian", MAKELANGID(LANG_ROMANIAN, SUBLANG_DEFAULT)},
    {u"Russian", MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT)},
    {u"Swedish", MAKELANGID(LANG_SWEDISH, SUBLANG_DEFAULT)},
    {u"Turkish", MAKELANGID(LANG_TURKISH, SUBLANG_DEFAULT)},
    {u"Slovenian", MAKELANGID(LANG_SLOVENIAN, SUBLANG_DEFAULT)},
};

// The installed locale whose English language name is the one sought; the lowest identifier when
// several share it, so that the choice does not depend on the order of enumeration.
struct LocaleSearch {
  std::u16string_view name;
  LCID found = 0;
};
LocaleSearch* activeSearch = nullptr;

BOOL CALLBACK visitLocale(LPWSTR identifier) {
  wchar_t* end = nullptr;
  auto lcid = LCID(wcstoul(identifier, &end, 16));
  wchar_t name[128];
  int length = GetLocaleInfoW(lcid, LOCALE_SENGLANGUAGE, name, 128);
  if (length > 1 &&
      equalsNoCase(std::u16string_view(reinterpret_cast<const char16_t*>(name), size_t(length - 1)),
                   activeSearch->name) &&
      (activeSearch->found == 0 || lcid < activeSearch->found)) {
    activeSearch->found = lcid;
  }
  return TRUE;
}

LCID installedLocaleNamed(std::u16string_view name) {
  // The enumeration's callback takes no context; the search runs on the caller's thread only.
  LocaleSearch search{name};
  activeSearch = &search;
  EnumSystemLocalesW(visitLocale, LCID_INSTALLED);
  activeSearch = nullptr;
  return search.found;
}

}  // namespace

Win32Locale::Win32Locale() : collation_(LOCALE_USER_DEFAULT) {
  for (int byte = 0; byte < 256; ++byte) {
    char in = static_cast<char>(byte);
    wchar_t out[2] = {};
    int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, &in, 1, out, 2);
    characters_[size_t(byte)] = length == 1 ? char16_t(out[0]) : u'?';
  }
}

UserLocale Win32Locale::userLocale() const {
  UserLocale locale = UserLocale::englishUnitedStates();
  locale.decimalSeparator = firstUnit(localeItem(LOCALE_SDECIMAL), locale.decimalSeparator);
  if (std::u16string text = localeItem(LOCALE_SMONDECIMALSEP); !text.empty()) {
    locale.monetaryDecimalSeparator = text;
  }
  // An empty thousands separator is a real setting (no grouping mark), so it is kept.
  locale.monetaryThousandsSeparator = localeItem(LOCALE_SMONTHOUSANDSEP);
  locale.monetaryGrouping = leadingNumber(localeItem(LOCALE_SMONGROUPING), 3, 9);
  locale.listSeparator = firstUnit(localeItem(LOCALE_SLIST), locale.listSeparator);
  if (std::u16string text = localeItem(LOCALE_SCURRENCY); !text.empty()) {
    locale.currencySymbol = text.substr(0, 6);
  }
  locale.currencyPosition = leadingNumber(localeItem(LOCALE_ICURRENCY), 0, 3);
  locale.longDateOrder = leadingNumber(localeItem(LOCALE_ILDATE), 0, 2);
  locale.dateSeparator = firstUnit(localeItem(LOCALE_SDATE), locale.dateSeparator);
  if (std::u16string text = localeItem(LOCALE_SENGLANGUAGE); !text.empty()) {
    locale.languageName = text;
  }
  // The thirteenth month's items are numbered apart from the other twelve.
  const LCTYPE fullMonths[13] = {LOCALE_SMONTHNAME1,  LOCALE_SMONTHNAME2,  LOCALE_SMONTHNAME3,
                                 LOCALE_SMONTHNAME4,  LOCALE_SMONTHNAME5,  LOCALE_SMONTHNAME6,
                                 LOCALE_SMONTHNAME7,  LOCALE_SMONTHNAME8,  LOCALE_SMONTHNAME9,
                                 LOCALE_SMONTHNAME10, LOCALE_SMONTHNAME11, LOCALE_SMONTHNAME12,
                                 LOCALE_SMONTHNAME13};
  const LCTYPE shortMonths[13] = {
      LOCALE_SABBREVMONTHNAME1,  LOCALE_SABBREVMONTHNAME2,  LOCALE_SABBREVMONTHNAME3,
      LOCALE_SABBREVMONTHNAME4,  LOCALE_SABBREVMONTHNAME5,  LOCALE_SABBREVMONTHNAME6,
      LOCALE_SABBREVMONTHNAME7,  LOCALE_SABBREVMONTHNAME8,  LOCALE_SABBREVMONTHNAME9,
      LOCALE_SABBREVMONTHNAME10, LOCALE_SABBREVMONTHNAME11, LOCALE_SABBREVMONTHNAME12,
      LOCALE_SABBREVMONTHNAME13};
  for (size_t i = 0; i < 13; ++i) {
    std::u16string full = localeItem(fullMonths[i]);
    std::u16string abbreviated = localeItem(shortMonths[i]);
    // A locale that misses a month keeps the English one, so that month lookups never meet an
    // empty name among the twelve.
    if (i == 12 || !full.empty()) locale.monthNames[i] = full;
    if (i == 12 || !abbreviated.empty()) locale.abbreviatedMonthNames[i] = abbreviated;
  }
  return locale;
}

int Win32Locale::collateNoCase(std::u16string_view a, std::u16string_view b) const {
  if (a.size() <= INT_MAX && b.size() <= INT_MAX) {
    int result =
        CompareStringW(collation_, NORM_IGNORECASE, reinterpret_cast<const wchar_t*>(a.data()),
                       int(a.size()), reinterpret_cast<const wchar_t*>(b.data()), int(b.size()));
    if (result != 0) return result - CSTR_EQUAL;
  }
  // The locale cannot compare them (it went away, or the texts are out of its range): an order
  // that does not depend on the system still answers.
  return compareNoCase(a, b);
}

void Win32Locale::setCollationLanguage(std::u16string_view englishName) {
  LCID lcid = 0;
  for (const CollationLanguage& language : kLanguages) {
    if (equalsNoCase(englishName, language.name)) {
      lcid = MAKELCID(language.language, SORT_DEFAULT);
      break;
    }
  }
  if (lcid == 0 && !englishName.empty()) lcid = installedLocaleNamed(englishName);
  if (lcid != 0 && IsValidLocale(lcid, LCID_INSTALLED)) collation_ = lcid;
}

std::string Win32Locale::toCodePage(std::u16string_view text) const {
  std::string bytes;
  bytes.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ++i;
      bytes.push_back('?');
      continue;
    }
    char byte = '?';
    if (unit < 0x80 && characters_[unit] == unit) {
      byte = char(unit);
    } else {
      // Only the character a byte stands for on its own maps back to it: best-fit look-alikes and
      // double-byte characters become '?', so one character stays one byte.
      for (size_t b = 0; b < 256; ++b) {
        if (characters_[b] == unit && unit != u'?') {
          byte = char(b);
          break;
        }
      }
    }
    bytes.push_back(byte);
  }
  return bytes;
}

std::u16string Win32Locale::fromCodePage(std::string_view bytes) const {
  std::u16string text;
  text.reserve(bytes.size());
  for (char byte : bytes) text.push_back(characters_[static_cast<unsigned char>(byte)]);
  return text;
}

}  // namespace korvel::win32
