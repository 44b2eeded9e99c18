#include "compiler/starting_values.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler/model_builder.h"
#include "compiler/workbook_text.h"
#include "engine/recalculation_support.h"
#include "functions/function_catalogue.h"
#include "model/address.h"
#include "util/text.h"

namespace korvel {
namespace {

// Cells that call a macro (which the headless program cannot run) keep the value the workbook
// showed, of whatever kind, and so do the cells reading them; the others are computed.
TEST(StartingValuesTest, CellsNeedingTheHostKeepTheirValueOfEveryKind) {
  const std::string text =
      "[Sheet1]\n"
      "A1: 1\n"
      "B1: =Discount(A1) -> 7\n"
      "B2: =B1+0.5 -> 7.25\n"
      "B3: =Discount(A1) -> TRUE\n"
      "B4: =Discount(A1) -> #DIV/0!\n"
      "B5: =Discount(A1) -> \"a text longer than a short one\"\n"
      "B6: =Discount(A1)\n"
      "B7: =B6\n"
      "B8: =A1*3 -> 99\n"
      "B9: =Discount(A1) -> 2.5\n"
      "B10:C10: {=Discount(A1)} -> {1,2}\n"
      "B11: =Discount(A1) -> 3000000000\n";
  Workbook book;
  std::vector<std::string> errors;
  ASSERT_TRUE(readWorkbookText(text, &book, &errors));
  CompiledModel model;
  ASSERT_TRUE(buildModel(book, &FunctionCatalogue::instance(), model, &errors));

  StartingValues result = computeStartingValues(model);
  EXPECT_EQ(result.formulaCells, 12u);  // the array's two cells count
  EXPECT_EQ(result.keptCells, 11u);     // all but B8

  auto value = [&model](const char* name) {
    const Cell* cell = model.findCell(parseCell(fromUtf8(name), 0));
    return cell && cell->value ? *cell->value : Value();
  };
  struct Case {
    const char* cell;
    Value expected;
  } cases[] = {
      {"B1", Value::integer(7)},
      {"B2", Value::number(7.25)},
      {"B3", Value::boolean(true)},
      {"B4", Value::error(kErrorDiv0)},
      {"B5", Value::text(u"a text longer than a short one")},
      {"B6", Value()},
      {"B7", Value()},
      {"B8", Value::integer(3)},
      {"B9", Value::number(2.5)},
      {"B11", Value::number(3000000000.0)},
  };
  for (const Case& c : cases) {
    Value got = value(c.cell);
    EXPECT_EQ(got.kind(), c.expected.kind()) << c.cell;
    EXPECT_TRUE(sameValue(got, c.expected)) << c.cell;
  }
  Value array = value("B10");
  ASSERT_TRUE(array.isArray());
  EXPECT_EQ(array.array().columns(), 2u);
  EXPECT_TRUE(sameValue(value("C10"), Value::integer(2)));
}

}  // namespace
}  // namespace korvel
