// Fuzz target of the settings record reader: the input is a record as the launcher sends it,
// enveloped or bare. Whatever parses must write back, and the written form must read back to
// itself; whatever does not parse must say why and leave the settings untouched.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "runtime/application_info.h"
#include "runtime/settings_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace korvel;
  ParsedSettings parsed =
      parseSettings(std::string_view(reinterpret_cast<const char*>(data), size));
  Settings settings;
  settings.applicationName = u"before";
  if (!parsed.ok) {
    if (parsed.error.empty() || applySettings(parsed, &settings) ||
        settings.applicationName != u"before") {
      std::abort();
    }
    return 0;
  }
  if (!applySettings(parsed, &settings)) std::abort();
  ApplicationInfoProvider provider;
  provider.update(settings);
  TemplateValues values;
  fillTemplateValues(settings, &values);
  expandPlaceholders(settings.applicationInformation, values);

  // A record that was read always fits its length fields; once written in the current layout it
  // is a fixed point of reading and writing.
  std::string written, error;
  if (!writeSettingsContent(parsed.record, &written, &error)) std::abort();
  ParsedSettings again = parseSettings(written);
  if (!again.ok) std::abort();
  std::string rewritten;
  if (!writeSettingsContent(again.record, &rewritten, &error) || rewritten != written) {
    std::abort();
  }
  return 0;
}
