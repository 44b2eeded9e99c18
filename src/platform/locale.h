// The user's locale settings and text collation, as the host operating system reports them.
#ifndef KORVEL_PLATFORM_LOCALE_H_
#define KORVEL_PLATFORM_LOCALE_H_

#include <array>
#include <string>
#include <string_view>

namespace korvel {

// Read once at start-up; every number and date text of the engine follows it.
struct UserLocale {
  char16_t decimalSeparator = u'.';
  std::u16string monetaryDecimalSeparator = u".";
  std::u16string monetaryThousandsSeparator = u",";
  int monetaryGrouping = 3;  // first grouping size
  char16_t listSeparator = u',';
  std::u16string currencySymbol = u"$";  // up to 6 units
  // 0 symbol before the number, 1 after it, 2 before with a space, 3 after with a space.
  int currencyPosition = 0;
  // 0 month-day-year, 1 day-month-year, 2 year-month-day.
  int longDateOrder = 0;
  char16_t dateSeparator = u'/';
  std::u16string languageName = u"English";  // English name of the user's language
  // Thirteen entries each: the thirteenth is empty except in calendars with a thirteenth month.
  std::array<std::u16string, 13> monthNames;
  std::array<std::u16string, 13> abbreviatedMonthNames;

  // English (United States), the default user of the headless host.
  static UserLocale englishUnitedStates();
  // German (Germany): decimal comma, day-month-year, German month names.
  static UserLocale germanGermany();
};

class Locale {
 public:
  virtual ~Locale() = default;
  virtual UserLocale userLocale() const = 0;
  // Case-insensitive collation of two texts under the current collation language: <0, 0 or >0.
  virtual int collateNoCase(std::u16string_view a, std::u16string_view b) const = 0;
  // Switches collation, character types and number formatting to the named language (its English
  // name, for example "German"); an unknown or uninstalled language keeps a deterministic order.
  virtual void setCollationLanguage(std::u16string_view englishName) = 0;

  // The system's 8-bit code page, in which texts reach older interfaces and which CODE and CHAR
  // number characters by. Every character the code page lacks becomes "?" (a surrogate pair is
  // one character), so one character always gives one byte and one byte one character.
  // This default is ISO 8859-1, the code page whose 256 characters are the first 256 code points;
  // hosts replace it with the system's own.
  virtual std::string toCodePage(std::u16string_view text) const {
    std::string bytes;
    bytes.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
      char16_t unit = text[i];
      if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
          text[i + 1] <= 0xDFFF) {
        ++i;
      }
      bytes.push_back(unit < 0x100 ? static_cast<char>(unit) : '?');
    }
    return bytes;
  }
  virtual std::u16string fromCodePage(std::string_view bytes) const {
    std::u16string text;
    text.reserve(bytes.size());
    for (char byte : bytes) text.push_back(static_cast<char16_t>(static_cast<unsigned char>(byte)));
    return text;
  }
};

}  // namespace korvel

#endif  // KORVEL_PLATFORM_LOCALE_H_
