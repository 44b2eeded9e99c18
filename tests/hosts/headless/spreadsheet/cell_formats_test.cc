#include "hosts/headless/spreadsheet/cell_formats.h"

#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <string>

#include "engine/locale_settings.h"
#include "hosts/headless/headless_locale.h"
#include "hosts/headless/spreadsheet/program_objects.h"
#include "hosts/headless/system_clock.h"
#include "util/text.h"

namespace korvel {
namespace {

TEST(CellFormatsTest, CellFormatsTakeThePackagesCodesOrTheBuiltInOnes) {
  pugi::xml_document styles;
  ASSERT_TRUE(styles.load_string(
      "<x:styleSheet xmlns:x='main'><x:numFmts><x:numFmt numFmtId='164' formatCode='yyyy-mm-dd'/>"
      "<x:numFmt numFmtId='14' formatCode='dd.mm.yyyy'/></x:numFmts>"
      "<x:cellXfs><x:xf numFmtId='0'/><x:xf numFmtId='164'/><x:xf numFmtId='10'/>"
      "<x:xf numFmtId='14'/><x:xf numFmtId='200'/><x:xf/><x:xf numFmtId='49'/></x:cellXfs>"
      "</x:styleSheet>"));
  // A package may redefine a built-in id; an id without a code is General.
  std::vector<std::u16string> expected = {u"", u"yyyy-mm-dd", u"0.00%", u"dd.mm.yyyy",
                                          u"", u"",           u"@"};
  EXPECT_EQ(cellFormatCodes(styles.document_element()), expected);
}

TEST(CellFormatsTest, ACellShowsItsValueInItsFormat) {
  HeadlessLocale locale;
  SystemClock clock;
  installLocale(&locale, &clock);
  struct Case {
    Variant value;
    const char16_t* format;
    const char16_t* shown;
  };
  const Case cases[] = {
      {Variant::r8(46366), u"yyyy-mm-dd", u"2026-12-10"},
      {Variant::r8(46366), u"m/d/yyyy", u"12/10/2026"},
      {Variant::r8(0.256), u"0.00%", u"25.60%"},
      {Variant::r8(1234.5), u"#,##0.00", u"1,234.50"},
      {Variant::i4(7), u"0.00", u"7.00"},
      {Variant::r8(1.0 / 3), u"", u"0.333333333"},
      {Variant::r8(123456789012.0), u"", u"1.23457E+11"},
      // A date the format cannot show, and a code that does not read (General).
      {Variant::r8(-1), u"yyyy-mm-dd", u"#######"},
      {Variant::r8(0.5), u"0.0\"", u"0.5"},
      {Variant::text(u"abc"), u"@", u"abc"},
      {Variant::text(u"abc"), u"0;0;0;\"<\"@\">\"", u"<abc>"},
      {Variant::boolean(true), u"0.00", u"TRUE"},
      {Variant::error(0x800A07D7), u"0.00", u"#DIV/0!"},
      {Variant(), u"0.00", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(toUtf8(shownText(c.value, c.format, false)), toUtf8(c.shown)) << toUtf8(c.format);
  }
  // The 1904 date system counts from 1904-01-01.
  EXPECT_EQ(shownText(Variant::r8(1), u"yyyy-mm-dd", true), u"1904-01-02");
  resetLocaleSettings();
}

}  // namespace
}  // namespace korvel
