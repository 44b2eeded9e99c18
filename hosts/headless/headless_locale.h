// The headless host's user locale: a settable UserLocale (English, United States, by default) and
// collation through the C library's wcscoll_l when the language's locale is installed, else by
// folded code units so that results never depend on what the machine happens to have. Its 8-bit
// code page is Windows-1252 whatever the machine's own.
#ifndef KORVEL_HOSTS_HEADLESS_HEADLESS_LOCALE_H_
#define KORVEL_HOSTS_HEADLESS_HEADLESS_LOCALE_H_

#include "platform/locale.h"

namespace korvel {

class HeadlessLocale : public Locale {
 public:
  explicit HeadlessLocale(UserLocale locale = UserLocale::englishUnitedStates());
  ~HeadlessLocale() override;
  HeadlessLocale(const HeadlessLocale&) = delete;
  HeadlessLocale& operator=(const HeadlessLocale&) = delete;

  UserLocale userLocale() const override { return locale_; }
  int collateNoCase(std::u16string_view a, std::u16string_view b) const override;
  void setCollationLanguage(std::u16string_view englishName) override;
  // Windows-1252: the headless host stands in for a Western European system.
  std::string toCodePage(std::u16string_view text) const override;
  std::u16string fromCodePage(std::string_view bytes) const override;

  void setUserLocale(UserLocale locale) { locale_ = std::move(locale); }
  // True when collation runs through an installed C library locale.
  bool hasSystemCollation() const { return handle_ != nullptr; }

 private:
  UserLocale locale_;
  void* handle_ = nullptr;  // locale_t of the collation language, or null
};

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_HEADLESS_LOCALE_H_
