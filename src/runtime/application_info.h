// What the runtime tells others about the application it runs: the information provider that the
// engine reads (name and version text, for INFO) with the notice it gives after each write into
// the workbook, and the template values that fill "<?KEY?>" placeholders in the launcher's texts.
//
// REQUIRES: used only on the thread that handles host commands.
#ifndef KORVEL_RUNTIME_APPLICATION_INFO_H_
#define KORVEL_RUNTIME_APPLICATION_INFO_H_

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "engine/engine.h"

namespace korvel {

struct Settings;

// "major.minor.build" from bits 24-31, 16-23 and 8-15 of an application version; bits 0-7 are
// not shown.
std::u16string versionText(uint32_t version);

// Owns the ApplicationInfo that Engine::applicationInfo borrows, and the notice the object layer
// gives after each write (the runtime clears its undo-registered flag with it).
class ApplicationInfoProvider {
 public:
  explicit ApplicationInfoProvider(std::function<void()> afterWrite = {})
      : afterWrite_(std::move(afterWrite)) {}

  // Takes the application name and version text from the settings.
  void update(const Settings& settings);
  // REQUIRES: the provider outlives whoever keeps the address.
  const ApplicationInfo& info() const { return info_; }
  // Called after each write into the workbook; does nothing without a callback.
  void afterWrite() const {
    if (afterWrite_) afterWrite_();
  }

 private:
  ApplicationInfo info_;
  std::function<void()> afterWrite_;
};

// Key (without "<?" and "?>") to the text that replaces its placeholder.
using TemplateValues = std::map<std::u16string, std::u16string, std::less<>>;

// The keys fillTemplateValues sets.
inline constexpr std::u16string_view kTemplateAppName = u"APPNAME";
inline constexpr std::u16string_view kTemplateAppVersion = u"APPVER";
inline constexpr std::u16string_view kTemplateAuthorContact = u"AUTHOR_CONTACT";
inline constexpr std::u16string_view kTemplateAppInfo = u"APPINFO";

// (Re)fills the four keys from the settings; other keys stay.
// REQUIRES: values not null.
void fillTemplateValues(const Settings& settings, TemplateValues* values);

// Replaces every "<?KEY?>" whose key is not empty and in values by its value. Other placeholders
// and an unclosed "<?" stay as they are; values are inserted as they are, never expanded again.
std::u16string expandPlaceholders(std::u16string_view text, const TemplateValues& values);

}  // namespace korvel

#endif  // KORVEL_RUNTIME_APPLICATION_INFO_H_
