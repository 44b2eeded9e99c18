#include "functions/function_catalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "functions/function_table.h"
#include "util/text.h"

namespace korvel {
namespace {

std::string utf8(const std::u16string* text) { return text ? toUtf8(*text) : "(none)"; }

TEST(FunctionCatalogueTest, EveryRowResolvesToItsOwnDescriptor) {
  FunctionCatalogue catalogue;
  EXPECT_EQ(catalogue.nameCount(), 447u);
  EXPECT_EQ(catalogue.descriptorCount(), 445u);
  ASSERT_EQ(functionRows().size(), 445u);
  std::set<int> numbers;
  for (const FunctionRow& row : functionRows()) {
    SCOPED_TRACE(toUtf8(row.name));
    EXPECT_TRUE(numbers.insert(row.number).second) << "number used twice: " << row.number;
    EXPECT_EQ(catalogue.numberOfName(row.name), row.number);
    const FunctionDescriptor* descriptor = catalogue.descriptorOfNumber(row.number);
    ASSERT_NE(descriptor, nullptr);
    EXPECT_EQ(descriptor->name, row.name);
    EXPECT_LE(descriptor->minimumArguments, descriptor->maximumArguments);
    EXPECT_LE(descriptor->maximumArguments, 30);
    // Every function renders under its own name except the two with a prefixed alias.
    if (row.number != 480 && row.number != 481) {
      EXPECT_EQ(utf8(catalogue.nameOfNumber(row.number)), toUtf8(row.name));
    }
  }
}

TEST(FunctionCatalogueTest, NumbersMatchTheHostProgram) {
  FunctionCatalogue catalogue;
  const struct {
    const char16_t* name;
    int number;
    int minimum, maximum;
  } cases[] = {
      {u"COUNT", 0, 0, 30},      {u"IF", 1, 2, 3},          {u"ISERROR", 3, 1, 1},
      {u"SUM", 4, 0, 30},        {u"ABS", 24, 1, 1},        {u"VLOOKUP", 102, 3, 4},
      {u"ACCRINT", 469, 6, 7},   {u"Z.TEST", 542, 2, 3},    {u"NORM.S.DIST", 539, 2, 2},
      {u"ENCODEURL", 597, 1, 1}, {u"AVERAGEA", 700, 1, 30}, {u"HYPERLINK", 701, 1, 2},
      {u"YIELD", 702, 6, 7},     {u"MAXA", 703, 1, 30},     {u"MINA", 704, 1, 30},
      {u"STDEVA", 705, 1, 30},   {u"STDEVPA", 706, 1, 30},  {u"EVALUATE", 707, 1, 1},
      {u"VARA", 710, 1, 30},     {u"VARPA", 711, 1, 30},    {u"ODDFPRICE", 462, 8, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(toUtf8(c.name));
    EXPECT_EQ(catalogue.numberOfName(c.name), c.number);
    const FunctionDescriptor* descriptor = catalogue.descriptorOfNumber(c.number);
    ASSERT_NE(descriptor, nullptr);
    EXPECT_EQ(descriptor->name, c.name);
    EXPECT_EQ(descriptor->minimumArguments, c.minimum);
    EXPECT_EQ(descriptor->maximumArguments, c.maximum);
  }
}

TEST(FunctionCatalogueTest, AliasesShareTheNumberAndNameIt) {
  FunctionCatalogue catalogue;
  EXPECT_EQ(catalogue.numberOfName(u"COUNTIFS"), 481);
  EXPECT_EQ(catalogue.numberOfName(u"_XLFN.COUNTIFS"), 481);
  EXPECT_EQ(utf8(catalogue.nameOfNumber(481)), "_XLFN.COUNTIFS");
  EXPECT_EQ(catalogue.numberOfName(u"IFERROR"), 480);
  EXPECT_EQ(catalogue.numberOfName(u"_XLFN.IFERROR"), 480);
  EXPECT_EQ(utf8(catalogue.nameOfNumber(480)), "_XLFN.IFERROR");
  // The alias has no descriptor of its own: both spellings lead to the one of COUNTIFS.
  ASSERT_NE(catalogue.descriptorOfNumber(481), nullptr);
  EXPECT_EQ(catalogue.descriptorOfNumber(481)->name, u"COUNTIFS");
}

TEST(FunctionCatalogueTest, UnknownNamesAndNumbers) {
  FunctionCatalogue catalogue;
  for (const char16_t* name : {u"vlookup", u"Sum", u"", u"SUM ", u"_XLFN.SUM", u"NOSUCH"}) {
    EXPECT_EQ(catalogue.numberOfName(name), -1) << toUtf8(name);
  }
  for (int number : {-1, -712, 708, 709, 712, 0x7FFFFFFF}) {
    EXPECT_EQ(catalogue.descriptorOfNumber(number), nullptr) << number;
    EXPECT_EQ(catalogue.nameOfNumber(number), nullptr) << number;
  }
  // A gap inside the range: no function has number 92.
  EXPECT_EQ(catalogue.descriptorOfNumber(92), nullptr);
}

TEST(FunctionCatalogueTest, FlagsAndReturnTypes) {
  FunctionCatalogue catalogue;
  const struct {
    const char16_t* name;
    uint32_t flags;
    char returnType;
    int argumentTypeLength;
  } cases[] = {
      {u"SUMPRODUCT", 17, 'V', 1}, {u"SUM", 9, 'V', 1},       {u"ABS", 1, 'V', 1},
      {u"COLUMN", 9, 'V', 1},      {u"CALL", 2, 0, 0},        {u"REGISTER.ID", 2, 0, 0},
      {u"EVALUATE", 2, 'V', 1},    {u"NOW", 4, 'V', 0},       {u"TRUE", 1, 'V', 0},
      {u"INDIRECT", 4, 'R', 1},    {u"CELL", 12, 'V', 2},     {u"INDEX", 9, 'R', 4},
      {u"OFFSET", 9, 'R', 5},      {u"FREQUENCY", 9, 'A', 2}, {u"MMULT", 17, 'A', 2},
      {u"PROB", 17, 'V', 3},       {u"FORECAST", 17, 'V', 3}, {u"LINEST", 9, 'A', 4},
      {u"SUMIFS", 9, 'V', 29},     {u"COUNTIFS", 9, 'V', 60}, {u"RANDBETWEEN", 4, 'V', 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(toUtf8(c.name));
    const FunctionDescriptor* descriptor =
        catalogue.descriptorOfNumber(catalogue.numberOfName(c.name));
    ASSERT_NE(descriptor, nullptr);
    EXPECT_EQ(descriptor->flags, c.flags);
    EXPECT_EQ(descriptor->returnType, c.returnType);
    EXPECT_EQ(descriptor->argumentTypeLength, c.argumentTypeLength);
    EXPECT_EQ(descriptor->argumentTypes == nullptr, c.argumentTypeLength == 0);
  }
}

TEST(FunctionCatalogueTest, ArgumentAndReturnClasses) {
  FunctionCatalogue catalogue;
  auto classes = [&](const char16_t* name, int count) {
    const FunctionDescriptor* descriptor =
        catalogue.descriptorOfNumber(catalogue.numberOfName(name));
    std::string text;
    for (int i = 0; i < count; ++i) text += char('0' + argumentClass(*descriptor, i));
    return text;
  };
  // The last letter repeats up to the maximum argument count; nothing lies beyond it.
  EXPECT_EQ(classes(u"SUMIFS", 4), "2212");
  EXPECT_EQ(classes(u"SUMIFS", 31).substr(27), "2110");
  EXPECT_EQ(classes(u"VLOOKUP", 5), "12210");
  EXPECT_EQ(classes(u"COUNTIFS", 31).substr(28), "210");
  EXPECT_EQ(classes(u"NOW", 1), "0");
  EXPECT_EQ(classes(u"COLUMN", 2), "40");
  EXPECT_EQ(classes(u"SUM", 31).substr(29), "20");
  EXPECT_EQ(classes(u"ABS", 2), "10");
  EXPECT_EQ(classes(u"TRANSPOSE", 2), "30");
  EXPECT_EQ(classes(u"OFFSET", 6), "211110");
  EXPECT_EQ(classes(u"INDEX", 5), "21110");
  EXPECT_EQ(classes(u"CALL", 1), "0");

  const FunctionDescriptor& sum = *catalogue.descriptorOfNumber(4);
  EXPECT_EQ(argumentClass(sum, -1), kClassNone);

  const struct {
    int number;
    ArgumentClass result;
  } returns[] = {{4, kClassValue},   {29, kClassReference}, {148, kClassReference},
                 {252, kClassArray}, {83, kClassArray},     {150, kClassNone},
                 {267, kClassNone}};
  for (const auto& r : returns) {
    EXPECT_EQ(returnClass(*catalogue.descriptorOfNumber(r.number)), r.result) << r.number;
  }
}

TEST(FunctionCatalogueTest, BuildingTwiceChangesNothing) {
  FunctionCatalogue catalogue;
  const FunctionDescriptor* sum = catalogue.descriptorOfNumber(4);
  catalogue.build();
  EXPECT_EQ(catalogue.nameCount(), 447u);
  EXPECT_EQ(catalogue.descriptorCount(), 445u);
  EXPECT_EQ(catalogue.descriptorOfNumber(4), sum);
  EXPECT_EQ(utf8(catalogue.nameOfNumber(481)), "_XLFN.COUNTIFS");
}

TEST(FunctionCatalogueTest, ServesAsFunctionResolver) {
  const FunctionResolver& resolver = FunctionCatalogue::instance();
  EXPECT_EQ(resolver.functionNumber(u"VLOOKUP"), 102);
  EXPECT_EQ(resolver.functionNumber(u"NOSUCH"), -1);
  EXPECT_EQ(utf8(resolver.functionName(102)), "VLOOKUP");
  EXPECT_EQ(resolver.functionName(-1), nullptr);
  // Catalogued but never computed natively: its calls always go to the host program.
  EXPECT_EQ(resolver.nativeFunction(u"NORM.S.DIST"), nullptr);
  EXPECT_EQ(&FunctionCatalogue::instance(), &FunctionCatalogue::instance());
}

TEST(FunctionCatalogueTest, LocalisedNamesRenameForRenderingOnly) {
  FunctionCatalogue catalogue;
  const std::u16string table =
      u"Number;French;GERMAN\r\n"
      u"4;SOMME;SUMME\r\n"
      u"102;RECHERCHEV;SVERWEIS\r\n"
      u"481;NB.SI.ENS;ZÄHLENWENNS\r\n"
      u" 1 ;SI;WENN\r\n";
  EXPECT_EQ(catalogue.loadLocalisedNames(u"German", table), 4);
  EXPECT_EQ(utf8(catalogue.nameOfNumber(4)), "SUMME");
  EXPECT_EQ(utf8(catalogue.nameOfNumber(102)), "SVERWEIS");
  EXPECT_EQ(utf8(catalogue.nameOfNumber(481)), "ZÄHLENWENNS");
  EXPECT_EQ(utf8(catalogue.nameOfNumber(1)), "WENN");
  EXPECT_EQ(utf8(catalogue.nameOfNumber(24)), "ABS");
  // Compiled formulas keep resolving the English names; the localised ones are not names.
  EXPECT_EQ(catalogue.numberOfName(u"SUM"), 4);
  EXPECT_EQ(catalogue.numberOfName(u"_XLFN.COUNTIFS"), 481);
  EXPECT_EQ(catalogue.numberOfName(u"SUMME"), -1);
  EXPECT_EQ(catalogue.descriptorOfNumber(4)->name, u"SUM");
  EXPECT_EQ(catalogue.nameCount(), 447u);
}

TEST(FunctionCatalogueTest, LocalisedNamesWithoutAMatchingColumnChangeNothing) {
  FunctionCatalogue catalogue;
  for (const char16_t* table :
       {u"Number;French\r\n4;SOMME\r\n", u"", u"\r\n", u"German\r\n4;SUMME\r\n"}) {
    EXPECT_EQ(catalogue.loadLocalisedNames(u"German", table), 0);
    EXPECT_EQ(utf8(catalogue.nameOfNumber(4)), "SUM");
  }
}

TEST(FunctionCatalogueTest, MalformedLocalisedLinesAreSkipped) {
  FunctionCatalogue catalogue;
  const std::u16string table =
      u"\uFEFFNumber;German\r\n"
      u"\r\n"              // empty line
      u"x4;SUMMEX\r\n"     // not a number
      u"-4;SUMMEN\r\n"     // negative
      u"712;ZU GROSS\r\n"  // past the range
      u"99999999999;RIESIG\r\n"
      u"708;NIEMAND\r\n"  // in range, but no function
      u"24\r\n"           // no field for the column
      u"26;\r\n"          // empty name
      u"4;SUMME;EXTRA\n"  // bare LF, extra field
      u"27;RUNDEN";       // no final line break
  EXPECT_EQ(catalogue.loadLocalisedNames(u"german", table), 10);
  EXPECT_EQ(utf8(catalogue.nameOfNumber(4)), "SUMME");
  EXPECT_EQ(utf8(catalogue.nameOfNumber(27)), "RUNDEN");
  EXPECT_EQ(utf8(catalogue.nameOfNumber(24)), "ABS");
  EXPECT_EQ(utf8(catalogue.nameOfNumber(26)), "SIGN");
  EXPECT_EQ(catalogue.nameOfNumber(708), nullptr);
  EXPECT_EQ(catalogue.descriptorOfNumber(708), nullptr);
}

}  // namespace
}  // namespace korvel
