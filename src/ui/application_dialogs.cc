#include "ui/application_dialogs.h"

#include <string>
#include <string_view>

#include "runtime/application_info.h"
#include "runtime/runtime.h"
#include "runtime/text_table.h"
#include "ui/built_in_pictures.h"
#include "ui/message_dialog.h"
#include "util/text.h"

namespace korvel {
namespace {

constexpr int kAboutWidth = 500;
constexpr int kAgreementWidth = 550;
constexpr int kAboutCloseId = 8;
constexpr int kAgreementCloseId = 2;

std::u16string fromUtf16Bytes(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return text;
}

// The agreement prepared for the message dialog: its bytes and whether they are UTF-16.
struct PreparedBody {
  std::string bytes;
  bool isUtf16 = false;
};

// The system's statistical test for UTF-16 text cannot be called from portable code; this stand-in
// accepts what a launcher delivers as UTF-16 in practice: text that begins with the little-endian
// byte-order mark FF FE, or text of an even length in which at least half of the units have a zero
// high byte while fewer have a zero low byte (Latin text in UTF-16LE). 8-bit and UTF-8 text hold
// no zero bytes, so they never pass; UTF-16 text without the mark and without Latin characters
// (for example a text wholly in CJK characters) is not recognised and is read as 8-bit text.
bool looksLikeUtf16(std::string_view bytes) {
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") return true;
  if (bytes.size() < 2 || bytes.size() % 2 != 0) return false;
  size_t zeroHigh = 0;
  size_t zeroLow = 0;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    if (bytes[i] == 0) ++zeroLow;
    if (bytes[i + 1] == 0) ++zeroHigh;
  }
  const size_t units = bytes.size() / 2;
  return zeroHigh * 2 >= units && zeroLow < zeroHigh;
}

PreparedBody prepareAgreement(std::string_view text, const TemplateValues& values,
                              const Locale* codePage) {
  if (looksLikeUtf16(text)) {
    const std::string_view units = text.substr(0, 2) == "\xFF\xFE" ? text.substr(2) : text;
    return {utf16Bytes(expandPlaceholders(fromUtf16Bytes(units), values)), true};
  }
  if (text.substr(0, 5) == "{\\rtf") return {std::string(text), false};
  if (isValidUtf8(text)) {
    const std::string_view content = text.substr(0, 3) == "\xEF\xBB\xBF" ? text.substr(3) : text;
    return {utf16Bytes(expandPlaceholders(fromUtf8(content), values)), true};
  }
  // 8-bit text is expanded one unit per byte. The values go in as the code page's bytes, so that
  // the text still holds only code-page bytes when it is narrowed again.
  TemplateValues narrowed;
  for (const auto& [key, value] : values) {
    std::string bytes;
    if (codePage != nullptr) {
      bytes = codePage->toCodePage(value);
    } else {
      for (char16_t unit : value) bytes.push_back(unit < 0x100 ? static_cast<char>(unit) : '?');
    }
    std::u16string& units = narrowed[key];
    for (char byte : bytes) units.push_back(static_cast<unsigned char>(byte));
  }
  std::u16string widened;
  widened.reserve(text.size());
  for (char byte : text) widened.push_back(static_cast<unsigned char>(byte));
  const std::u16string expanded = expandPlaceholders(widened, narrowed);
  std::string bytes;
  bytes.reserve(expanded.size());
  for (char16_t unit : expanded) bytes.push_back(static_cast<char>(unit & 0xFF));
  return {std::move(bytes), false};
}

}  // namespace

ApplicationDialogBoxes::ApplicationDialogBoxes(Runtime& runtime) : runtime_(runtime) {}

void ApplicationDialogBoxes::showAbout() {
  try {
    const Platform& platform = runtime_.platform();
    const Settings& settings = runtime_.settings();
    MessageDialog dialog(kAboutWidth, platform.locale);
    dialog.setTitle(u"About " + settings.applicationName);
    dialog.setPicture(informationPicture());
    std::u16string body;
    if (settings.applicationVersion != 0) {
      body = tableText(TextEntry::kVersionLabel) + u"<?APPVER?>" + u"\n";
    }
    body += u"\n<?APPINFO?>\n";
    dialog.setBody(utf16Bytes(expandPlaceholders(body, runtime_.aboutTemplate())), true);
    dialog.addButton(u"Close", kAboutCloseId);
    dialog.showModal(platform, runtime_.mainWindow());
  } catch (...) {
    // Nothing is shown; the command ends.
  }
}

void ApplicationDialogBoxes::showAgreement() {
  try {
    const std::string& text = runtime_.channelState().agreementText;
    if (text.empty()) return;
    const Platform& platform = runtime_.platform();
    MessageDialog dialog(kAgreementWidth, platform.locale);
    dialog.setTitle(runtime_.settings().applicationName + u" - End User License Agreement");
    const PreparedBody body = prepareAgreement(text, runtime_.aboutTemplate(), platform.locale);
    dialog.setBody(body.bytes, body.isUtf16);
    dialog.addButton(u"Close", kAgreementCloseId);
    dialog.setPicture(informationPicture());
    dialog.setIcon(runtime_.channelState().applicationIcon);
    dialog.showModal(platform, runtime_.mainWindow());
  } catch (...) {
    // Nothing is shown; the command ends.
  }
}

}  // namespace korvel
