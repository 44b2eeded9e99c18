#include "runtime/application_info.h"

#include <string>

#include "runtime/settings_record.h"

namespace korvel {

std::u16string versionText(uint32_t version) {
  std::string text = std::to_string((version >> 24) & 0xFF) + "." +
                     std::to_string((version >> 16) & 0xFF) + "." +
                     std::to_string((version >> 8) & 0xFF);
  return std::u16string(text.begin(), text.end());
}

void ApplicationInfoProvider::update(const Settings& settings) {
  info_.name = settings.applicationName;
  info_.version = versionText(settings.applicationVersion);
}

void fillTemplateValues(const Settings& settings, TemplateValues* values) {
  (*values)[std::u16string(kTemplateAppName)] = settings.applicationName;
  (*values)[std::u16string(kTemplateAppVersion)] = versionText(settings.applicationVersion);
  (*values)[std::u16string(kTemplateAuthorContact)] = settings.authorContact;
  (*values)[std::u16string(kTemplateAppInfo)] = settings.applicationInformation;
}

std::u16string expandPlaceholders(std::u16string_view text, const TemplateValues& values) {
  std::u16string result;
  size_t position = 0;
  while (position < text.size()) {
    const size_t open = text.find(u"<?", position);
    if (open == std::u16string_view::npos) break;
    result.append(text.substr(position, open - position));
    const size_t close = text.find(u"?>", open + 2);
    if (close == std::u16string_view::npos) {
      position = open;
      break;
    }
    const std::u16string_view key = text.substr(open + 2, close - open - 2);
    const auto found = key.empty() ? values.end() : values.find(key);
    if (found != values.end()) {
      result.append(found->second);
    } else {
      result.append(text.substr(open, close + 2 - open));
    }
    position = close + 2;
  }
  if (position < text.size()) result.append(text.substr(position));
  return result;
}

}  // namespace korvel
