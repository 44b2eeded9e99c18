#include "hosts/headless/headless_locale.h"

#include <locale.h>
#include <wchar.h>

#include <string>

#include "engine/locale_settings.h"
#include "util/text.h"

namespace korvel {
namespace {

struct LanguageLocale {
  const char16_t* name;
  const char* posix;
};

const LanguageLocale kLanguages[] = {
    {u"English", "en_US.UTF-8"},   {u"Czech", "cs_CZ.UTF-8"},      {u"Danish", "da_DK.UTF-8"},
    {u"German", "de_DE.UTF-8"},    {u"Greek", "el_GR.UTF-8"},      {u"Spanish", "es_ES.UTF-8"},
    {u"Finnish", "fi_FI.UTF-8"},   {u"French", "fr_FR.UTF-8"},     {u"Hungarian", "hu_HU.UTF-8"},
    {u"Italian", "it_IT.UTF-8"},   {u"Dutch", "nl_NL.UTF-8"},      {u"Norwegian", "nb_NO.UTF-8"},
    {u"Polish", "pl_PL.UTF-8"},    {u"Portuguese", "pt_PT.UTF-8"}, {u"Romanian", "ro_RO.UTF-8"},
    {u"Russian", "ru_RU.UTF-8"},   {u"Swedish", "sv_SE.UTF-8"},    {u"Turkish", "tr_TR.UTF-8"},
    {u"Slovenian", "sl_SI.UTF-8"},
};

std::wstring wide(std::u16string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t u = foldCase(text[i]);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size()) {
      u = 0x10000 + ((u - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    out.push_back(wchar_t(u));
  }
  return out;
}

}  // namespace

HeadlessLocale::HeadlessLocale(UserLocale locale) : locale_(std::move(locale)) {
  setCollationLanguage(locale_.languageName);
}

HeadlessLocale::~HeadlessLocale() {
  if (handle_) freelocale(static_cast<locale_t>(handle_));
}

void HeadlessLocale::setCollationLanguage(std::u16string_view englishName) {
  if (handle_) freelocale(static_cast<locale_t>(handle_));
  handle_ = nullptr;
  for (const auto& language : kLanguages) {
    if (equalsNoCase(englishName, language.name)) {
      handle_ = newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, language.posix, locale_t(0));
      break;
    }
  }
}

int HeadlessLocale::collateNoCase(std::u16string_view a, std::u16string_view b) const {
  if (!handle_) return compareNoCase(a, b);
  int r = wcscoll_l(wide(a).c_str(), wide(b).c_str(), static_cast<locale_t>(handle_));
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

std::string HeadlessLocale::toCodePage(std::u16string_view text) const {
  return toWindows1252(text);
}

std::u16string HeadlessLocale::fromCodePage(std::string_view bytes) const {
  return fromWindows1252(bytes);
}

}  // namespace korvel
