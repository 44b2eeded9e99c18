#include "hosts/headless/spreadsheet/cell_formats.h"

#include <gtest/gtest.h>

#include <optional>
#include <pugixml.hpp>
#include <string>
#include <vector>

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

TEST(CellFormatsTest, CellFormatsTakeTheirFontsFillsAndBordersInColoursOfEveryKind) {
  pugi::xml_document styles, theme;
  ASSERT_TRUE(styles.load_string(
      "<styleSheet><fonts>"
      "<font><sz val='11'/><color theme='1'/><name val='Calibri'/></font>"
      "<font><b/><i/><u val='double'/><sz val='14'/><color rgb='FF1F4E79'/><name val='Arial'/>"
      "</font>"
      "<font><sz val='11'/><color indexed='10'/><name val='Calibri'/></font>"
      "<font><sz val='11'/><color theme='4' tint='-0.5'/><name val='Calibri'/></font>"
      "<font><b val='0'/><sz val='11'/><color theme='1'/><name val='Calibri'/></font></fonts>"
      "<fills><fill><patternFill patternType='none'/></fill>"
      "<fill><patternFill patternType='gray125'><fgColor rgb='FF00FF00'/></patternFill></fill>"
      "<fill><patternFill patternType='solid'><fgColor theme='0' tint='-0.5'/></patternFill></fill>"
      "</fills><borders><border/>"
      "<border><start style='medium'/><bottom style='double'><color indexed='8'/></bottom>"
      "<top style='none'/></border></borders><cellXfs>"
      "<xf fontId='0' fillId='0' borderId='0'/><xf fontId='1' fillId='0' borderId='0'/>"
      "<xf fontId='2' fillId='2' borderId='0'/><xf fontId='3' fillId='0' borderId='1'/>"
      "<xf fontId='4' fillId='0' borderId='0'/><xf fontId='99' fillId='1' borderId='7'/>"
      "</cellXfs></styleSheet>"));
  // The part lists dark before light; cells number light first.
  ASSERT_TRUE(theme.load_string(
      "<a:theme xmlns:a='d'><a:themeElements><a:clrScheme>"
      "<a:dk1><a:sysClr val='windowText' lastClr='000000'/></a:dk1>"
      "<a:lt1><a:sysClr val='window' lastClr='FFFFFF'/></a:lt1>"
      "<a:dk2><a:srgbClr val='44546A'/></a:dk2><a:lt2><a:srgbClr val='E7E6E6'/></a:lt2>"
      "<a:accent1><a:srgbClr val='FF0000'/></a:accent1>"
      "</a:clrScheme></a:themeElements></a:theme>"));
  std::vector<CellFormatLook> looks =
      cellFormatLooks(styles.document_element(), theme.document_element());
  ASSERT_EQ(looks.size(), 6u);
  CellStyle fancy;
  fancy.bold = fancy.italic = true;
  fancy.underline = "double";
  fancy.fontSize = 14;
  fancy.fontName = u"Arial";
  CellStyle lines;
  lines.left.style = "medium";
  lines.bottom = {"double", 0x000000};
  struct Case {
    std::optional<CellStyle> style;
    std::optional<uint32_t> fontColor, fillColor;  // 0x00BBGGRR
  } cases[] = {
      {std::nullopt, std::nullopt, std::nullopt},
      {fancy, 0x794E1F, std::nullopt},
      // Indexed red; white of the theme darkened by half.
      {std::nullopt, 0x0000FF, 0x808080},
      // The first accent darkened by half.
      {lines, 0x000080, std::nullopt},
      // Not bold, in the default font's colour; then ids that name nothing and a pattern fill.
      {std::nullopt, std::nullopt, std::nullopt},
      {std::nullopt, std::nullopt, std::nullopt},
  };
  for (size_t i = 0; i < looks.size(); ++i) {
    SCOPED_TRACE("cell format " + std::to_string(i));
    const Case& c = cases[i];
    EXPECT_EQ(looks[i].style != nullptr, c.style.has_value());
    if (looks[i].style && c.style) EXPECT_TRUE(*looks[i].style == *c.style);
    EXPECT_EQ(looks[i].fontColor, c.fontColor);
    EXPECT_EQ(looks[i].fillColor, c.fillColor);
  }
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
