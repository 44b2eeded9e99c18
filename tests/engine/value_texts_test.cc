#include "engine/value_texts.h"

#include <gtest/gtest.h>

#include "engine/locale_settings.h"
#include "engine/value_convert.h"
#include "util/text.h"

namespace korvel {
namespace {

class ValueTexts : public ::testing::Test {
 protected:
  void SetUp() override { resetLocaleSettings(); }
  void TearDown() override { resetLocaleSettings(); }
};

const std::u16string kTable =
    u"English;German;French\r\n"
    u"#DIV/0!;#DIV/0!;#DIV/0!\r\n"
    u"#N/A;#NV;#N/A\r\n"
    u"#NAME?;#NAME?;#NOM?\r\n"
    u"TRUE;WAHR;VRAI\r\n"
    u"FALSE;FALSCH;FAUX\r\n"
    u"#VALUE!;;#VALEUR!\r\n"
    u"#NUM!\r\n"
    u"UNKNOWN;X;Y\r\n";

TEST_F(ValueTexts, LanguageNames) {
  struct Case {
    int number;
    std::u16string_view name;
  } cases[] = {
      {5, u"Czech"},      {7, u"German"},      {12, u"French"},
      {36, u"Slovenian"}, {0x0407, u"German"}, {0x0C0C, u"French"},
      {9, u"English"},    {17, u"English"},    {0, u"English"},
  };
  for (const auto& c : cases) EXPECT_EQ(languageName(c.number), c.name) << c.number;
}

TEST_F(ValueTexts, LoadsTheColumnOfTheLanguage) {
  EXPECT_EQ(loadLiteralTexts(kTable, 7), u"German");
  EXPECT_EQ(literalText(kTextNA), u"#NV");
  EXPECT_EQ(literalText(kTextTrue), u"WAHR");
  EXPECT_EQ(literalText(kTextFalse), u"FALSCH");
  // An empty translation, a short line and an unknown key leave the texts as they are.
  EXPECT_EQ(literalText(kTextValue), u"#VALUE!");
  EXPECT_EQ(literalText(kTextNum), u"#NUM!");
  EXPECT_EQ(literalText(kTextNull), u"#NULL!");
  // The conversions read the loaded texts.
  EXPECT_EQ(toText(Value::boolean(false)), u"FALSCH");
  EXPECT_EQ(errorFromText(u"#NV"), uint32_t(kErrorNA));
}

TEST_F(ValueTexts, AcceptsBareLineFeedsAndMatchesTheLanguageIgnoringCase) {
  EXPECT_EQ(loadLiteralTexts(u"\uFEFFenglish;FRENCH\n#NAME?;#NOM?\nTRUE;VRAI", 0x040C), u"French");
  EXPECT_EQ(literalText(kTextName), u"#NOM?");
  EXPECT_EQ(literalText(kTextTrue), u"VRAI");
}

TEST_F(ValueTexts, EnglishAndMissingColumnsChangeNothing) {
  for (int language : {9, 0x0409, 25, 17}) {
    EXPECT_EQ(loadLiteralTexts(kTable, language), u"") << language;
    EXPECT_EQ(literalText(kTextTrue), u"TRUE") << language;
    EXPECT_EQ(literalText(kTextNA), u"#N/A") << language;
  }
  EXPECT_EQ(loadLiteralTexts(u"", 7), u"");
}

}  // namespace
}  // namespace korvel
