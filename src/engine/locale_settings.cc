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

}  // namespace

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
