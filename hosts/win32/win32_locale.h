// The user's locale as the system reports it for the default user, collation through the system's
// sorting tables, and the system's ANSI code page for texts that cross 8-bit interfaces.
#ifndef KORVEL_HOSTS_WIN32_WIN32_LOCALE_H_
#define KORVEL_HOSTS_WIN32_WIN32_LOCALE_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/locale.h"

namespace korvel::win32 {

class Win32Locale : public Locale {
 public:
  // Reads the code page's characters once; nothing beyond the system's base services is called, so
  // the object may be built while the library is being loaded.
  Win32Locale();

  // Read from the system on each call (the runtime reads it once, at start-up).
  UserLocale userLocale() const override;
  int collateNoCase(std::u16string_view a, std::u16string_view b) const override;
  // Known names map to their language's default locale; a name the table lacks is looked up among
  // the installed locales. A language the system does not have keeps the current collation.
  void setCollationLanguage(std::u16string_view englishName) override;
  std::string toCodePage(std::u16string_view text) const override;
  std::u16string fromCodePage(std::string_view bytes) const override;

  // The locale texts are collated by (the user's default until a language is chosen).
  uint32_t collationLocale() const { return collation_; }

 private:
  uint32_t collation_;
  // The character of each byte of the code page; '?' for a byte that is not a character on its own
  // (a lead byte of a double-byte code page).
  std::array<char16_t, 256> characters_{};
};

}  // namespace korvel::win32

#endif  // KORVEL_HOSTS_WIN32_WIN32_LOCALE_H_
