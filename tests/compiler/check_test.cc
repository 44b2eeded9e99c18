// The comparison rule of `korvel check`, and the model builder's option that drops faulty
// formulas so that the rest of a workbook can still be checked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler/model_builder.h"
#include "compiler/result_check.h"
#include "compiler/workbook_text.h"
#include "functions/function_catalogue.h"
#include "model/address.h"

namespace korvel {
namespace {

TEST(ResultsMatch, FollowsTheToleranceAndTheKinds) {
  struct Case {
    const char* what;
    Value expected;
    Value got;
    bool match;
  };
  ValueArray array(2, 1);
  array.at(0, 0) = Value::number(4);
  Value arrayOfFour;
  arrayOfFour.setArray(std::move(array));
  const Case cases[] = {
      {"same number", Value::number(0.25), Value::number(0.25), true},
      {"integer against number", Value::integer(3), Value::number(3.0), true},
      {"within relative tolerance", Value::number(1e6), Value::number(1e6 * (1 + 5e-10)), true},
      {"outside relative tolerance", Value::number(1e6), Value::number(1e6 * (1 + 2e-9)), false},
      {"near zero, absolute", Value::number(0), Value::number(5e-13), true},
      {"near zero, too far", Value::number(0), Value::number(1e-11), false},
      {"sign", Value::number(1), Value::number(-1), false},
      {"a third against 0.3333", Value::number(0.25), Value::number(0.3333), false},
      {"empty result shows 0", Value::number(0), Value(), true},
      {"number against text", Value::number(1), Value::text(u"1"), false},
      {"texts exact", Value::text(u"abc"), Value::text(u"abc"), true},
      {"texts differ in case", Value::text(u"abc"), Value::text(u"ABC"), false},
      {"texts differ in a space", Value::text(u"abc"), Value::text(u"abc "), false},
      {"empty text against empty", Value::text(u""), Value(), true},
      {"booleans", Value::boolean(true), Value::boolean(true), true},
      {"booleans differ", Value::boolean(true), Value::boolean(false), false},
      {"boolean against 1", Value::boolean(true), Value::number(1), false},
      {"errors", Value::error(kErrorNA), Value::error(kErrorNA), true},
      {"errors differ", Value::error(kErrorNA), Value::error(kErrorValue), false},
      {"error against number", Value::error(kErrorDiv0), Value::number(0), false},
      {"array by its first element", Value::number(4), arrayOfFour, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(resultsMatch(c.expected, c.got, kDefaultCheckTolerance), c.match) << c.what;
  }
  EXPECT_TRUE(resultsMatch(Value::number(100), Value::number(101), 0.05));
}

TEST(BuildOptions, SkipBadFormulasDropsOnlyTheFaultyCells) {
  const std::string text =
      "[Sheet1]\n"
      "A1: 2\n"
      "A2: =A1*\n"
      "A3: =A1+1\n"
      "A4: =Loop+1\n"
      "A5: =Missing!A1\n"
      "name Loop: =Loop\n";
  Workbook book;
  std::vector<std::string> errors;
  ASSERT_TRUE(readWorkbookText(text, &book, &errors)) << errors.front();

  CompiledModel refused;
  EXPECT_FALSE(buildModel(book, &FunctionCatalogue::instance(), refused, &errors));

  CompiledModel model;
  errors.clear();
  std::vector<CellRef> skipped;
  ASSERT_TRUE(buildModel(book, &FunctionCatalogue::instance(), model, &errors,
                         BuildOptions{.skipBadFormulas = true}, &skipped));
  ASSERT_EQ(skipped.size(), 3u);
  EXPECT_EQ(skipped[0], CellRef::at(0, 1, 0));
  EXPECT_EQ(skipped[1], CellRef::at(0, 3, 0));
  EXPECT_EQ(skipped[2], CellRef::at(0, 4, 0));
  std::string all;
  for (const std::string& e : errors) all += e + "\n";
  EXPECT_NE(all.find("Sheet1!A2"), std::string::npos) << all;
  EXPECT_NE(all.find("Sheet1!A4: reads the faulty name Loop"), std::string::npos) << all;
  EXPECT_NE(all.find("Sheet1!A5"), std::string::npos) << all;
  const Cell* good = model.findCell(CellRef::at(0, 2, 0));
  ASSERT_NE(good, nullptr);
  EXPECT_EQ(good->formulaRoots.size(), 1u);
  const Cell* dropped = model.findCell(CellRef::at(0, 1, 0));
  ASSERT_NE(dropped, nullptr);
  EXPECT_TRUE(dropped->formulaRoots.empty());
  EXPECT_TRUE(dropped->hasFlag(kCellInput));
}

}  // namespace
}  // namespace korvel
