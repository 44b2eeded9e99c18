// The headless host's 8-bit code page, Windows-1252, and how the engine reaches it.
#include <gtest/gtest.h>

#include <string>

#include "engine/locale_settings.h"
#include "hosts/headless/headless_locale.h"

namespace korvel {
namespace {

TEST(CodePage, EveryByteReadsAsOneCharacterAndBack) {
  HeadlessLocale locale;
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  std::u16string text = locale.fromCodePage(all);
  ASSERT_EQ(text.size(), 256u);
  EXPECT_EQ(text[0x41], u'A');
  EXPECT_EQ(text[0x80], u'\u20AC');  // euro sign
  EXPECT_EQ(text[0x92], u'\u2019');
  EXPECT_EQ(text[0x9F], u'\u0178');
  EXPECT_EQ(text[0x81], u'\u0081');
  EXPECT_EQ(text[0xE9], u'\u00E9');
  EXPECT_EQ(locale.toCodePage(text), all);
}

TEST(CodePage, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  HeadlessLocale locale;
  // U+0080 is not the byte 0x80 (that is the euro sign); a surrogate pair is one character.
  EXPECT_EQ(locale.toCodePage(u"a\u0080\u0500\u4E2D\U0001F600b"), "a????b");
  EXPECT_EQ(locale.toCodePage(u"\u20AC\u2122"), "\x80\x99");
  // An unpaired surrogate is a character the code page lacks, and does not swallow the next one.
  EXPECT_EQ(locale.toCodePage(u"\xD800x"), "?x");
}

TEST(CodePage, EngineUsesTheInstalledPortOrWindows1252) {
  resetLocaleSettings();
  EXPECT_EQ(toSystemCodePage(u"\u20AC"), "\x80");
  EXPECT_EQ(fromSystemCodePage("\x80"), u"\u20AC");

  // A port that keeps the default of the interface (ISO 8859-1).
  class Latin1Locale : public HeadlessLocale {
   public:
    std::string toCodePage(std::u16string_view text) const override {
      return Locale::toCodePage(text);
    }
    std::u16string fromCodePage(std::string_view bytes) const override {
      return Locale::fromCodePage(bytes);
    }
  } latin1;
  installLocale(&latin1, nullptr);
  EXPECT_EQ(toSystemCodePage(u"\u20AC\u00E9\u0080"), "?\xE9\x80");
  EXPECT_EQ(fromSystemCodePage("\x80"), u"\u0080");
  resetLocaleSettings();
}

}  // namespace
}  // namespace korvel
