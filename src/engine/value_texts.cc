#include "engine/value_texts.h"

#include <vector>

#include "engine/locale_settings.h"
#include "util/text.h"

namespace korvel {
namespace {

struct LanguageEntry {
  int number;
  std::u16string_view name;
};

constexpr LanguageEntry kLanguages[] = {
    {5, u"Czech"},      {6, u"Danish"},   {7, u"German"},      {8, u"Greek"},     {10, u"Spanish"},
    {11, u"Finnish"},   {12, u"French"},  {14, u"Hungarian"},  {16, u"Italian"},  {19, u"Dutch"},
    {20, u"Norwegian"}, {21, u"Polish"},  {22, u"Portuguese"}, {24, u"Romanian"}, {25, u"Russian"},
    {29, u"Swedish"},   {31, u"Turkish"}, {36, u"Slovenian"},
};

constexpr int kEnglish = 9;
constexpr int kPrimaryLanguageMask = 0x3FF;

// The keys of the table are the default English texts, in literal text order.
constexpr std::u16string_view kKeys[kLiteralTextCount] = {
    u"#NULL!", u"#DIV/0!", u"#VALUE!", u"#REF!", u"#NAME?", u"#NUM!", u"#N/A", u"TRUE", u"FALSE"};

std::vector<std::u16string_view> splitView(std::u16string_view text, char16_t delimiter) {
  std::vector<std::u16string_view> pieces;
  size_t start = 0;
  while (true) {
    size_t end = text.find(delimiter, start);
    if (end == std::u16string_view::npos) {
      pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

std::vector<std::u16string_view> lines(std::u16string_view table) {
  std::vector<std::u16string_view> out = splitView(table, u'\n');
  for (auto& line : out) {
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
  }
  return out;
}

}  // namespace

std::u16string_view languageName(int primaryLanguage) {
  int primary = primaryLanguage & kPrimaryLanguageMask;
  for (const LanguageEntry& e : kLanguages) {
    if (e.number == primary) return e.name;
  }
  return u"English";
}

std::u16string loadLiteralTexts(std::u16string_view table, int languageNumber) {
  // Languages without a name of their own use English too, whose texts are the defaults.
  std::u16string_view language = languageName(languageNumber);
  if (language == languageName(kEnglish)) return {};
  if (!table.empty() && table.front() == u'\uFEFF') table.remove_prefix(1);
  std::vector<std::u16string_view> rows = lines(table);

  std::vector<std::u16string_view> names = splitView(rows.front(), u';');
  size_t column = 0;
  while (column < names.size() && !equalsNoCase(names[column], language)) ++column;
  if (column == names.size()) return {};

  for (size_t i = 1; i < rows.size(); ++i) {
    std::vector<std::u16string_view> fields = splitView(rows[i], u';');
    if (column >= fields.size() || fields[column].empty()) continue;
    for (int index = 0; index < kLiteralTextCount; ++index) {
      if (equalsNoCase(fields.front(), kKeys[index])) {
        setLiteralText(index, std::u16string(fields[column]));
        break;
      }
    }
  }
  return std::u16string(language);
}

}  // namespace korvel
