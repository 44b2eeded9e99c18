// Running aggregates kept during a recalculation must give what a plain walk of the cells gives,
// bit for bit, however the cells below and above them change.
#include "functions/column_aggregates.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "compiler/model_builder.h"
#include "compiler/workbook_text.h"
#include "engine/engine.h"
#include "engine/evaluator.h"
#include "engine/recalculation.h"
#include "functions/function_catalogue.h"
#include "hosts/headless/headless_calc_host.h"
#include "model/compiled_model.h"

namespace korvel {
namespace {

constexpr int kRows = 60;

// Column A mixes constants (numbers whose sums round, texts, booleans, an error) with formula
// cells; columns C to G hold running and trailing aggregates of it. I1 reads the whole column
// through a computed reference, which nothing links before it first runs: it may come before the
// formula cells of the column and gather them before they are computed.
std::string book() {
  std::string t = "[S]\nI1: =SUM(OFFSET($A$1,0,0," + std::to_string(kRows) + ",1))\n";
  for (int r = 1; r <= kRows; ++r) {
    std::string row = std::to_string(r);
    if (r % 7 == 0) {
      t += "A" + row + ": =A" + std::to_string(r - 1) + "*1.1\n";
    } else {
      t += "A" + row + ": " + std::to_string(r) + ".1\n";
    }
    t += "C" + row + ": =SUM($A$1:A" + row + ")\n";
    t += "D" + row + ": =AVERAGE($A$1:A" + row + ")\n";
    t += "E" + row + ": =COUNT($A$1:A" + row + ")\n";
    t += "F" + row + ": =MAX($A$1:A" + row + ")\n";
    t += "G" + row + ": =MIN(A" + row + ":$A$" + std::to_string(kRows) + ")\n";
  }
  return t;
}

bool sameBits(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
  if (!a.isNumeric()) return a.isError() ? a.errorCode() == b.errorCode() : true;
  double x = a.number(), y = b.number();
  return std::memcmp(&x, &y, sizeof x) == 0;
}

// The book built and computed once.
class ColumnAggregatesTest : public testing::Test {
 protected:
  void SetUp() override {
    Workbook workbook;
    ASSERT_TRUE(readWorkbookText(book(), &workbook, nullptr));
    ASSERT_TRUE(buildModel(workbook, &FunctionCatalogue::instance(), model, nullptr));
    engine.recalculation().computeAll();
  }
  CompiledModel model;
  HeadlessCalcHost host{&model};
  Engine engine{model, &host};
};

TEST_F(ColumnAggregatesTest, EqualAPlainWalkAfterRandomEdits) {
  const Value edits[] = {
      Value::number(0.1),   Value::number(1e16),    Value::number(-3.3),    Value::text(u"x"),
      Value::boolean(true), Value::error(kErrorNA), Value::number(1.0 / 3), Value()};
  std::mt19937 random(7);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    // Edit a few constants of column A, then recalculate what depends on them.
    for (int k = 0; k < 3; ++k) {
      uint32_t row = uint32_t(random() % kRows);
      if ((row + 1) % 7 == 0) continue;  // a formula cell
      Cell* cell = model.findCell(CellRef::at(0, row, 0));
      ASSERT_NE(cell, nullptr);
      cell->ensureValue() = edits[random() % std::size(edits)];
      engine.recalculation().markChanged(cell);
    }
    engine.recalculation().markChanged(model.findCell(CellRef::at(0, 0, 8)));
    std::vector<Cell*> changed = std::move(engine.changedCells);
    engine.changedCells.clear();
    engine.recalculation().recalculateChanged(std::move(changed), true);
    // Outside a recalculation the aggregates walk the cells: the reference answer.
    for (uint32_t column = 2; column <= 6; ++column) {
      for (uint32_t row = 0; row < kRows; ++row) {
        Cell* cell = model.findCell(CellRef::at(0, row, column));
        ASSERT_NE(cell, nullptr);
        Value kept = *cell->value;
        evaluateCell(engine, cell);
        ASSERT_TRUE(sameBits(kept, *cell->value))
            << "column " << column << " row " << row << ": " << kept.number() << " vs "
            << cell->value->number();
      }
    }
  }
}

// Within one ordered evaluation a cell of the column may be computed again after a total gathered
// it (a circle, a reference computed at run time): the totals below it must see the new value.
TEST_F(ColumnAggregatesTest, GatherAgainFromACellComputedAgain) {
  Cell* total = model.findCell(CellRef::at(0, 29, 2));  // C30: =SUM($A$1:A30)
  Cell* input = model.findCell(CellRef::at(0, 9, 0));   // A10
  engine.aggregateCacheUsable = true;
  evaluateCell(engine, total);
  double before = total->value->number();
  input->ensureValue() = Value::number(input->value->number() + 1000);
  ASSERT_NE(engine.aggregateCache, nullptr);
  engine.aggregateCache->cellComputed(input->address);
  evaluateCell(engine, total);
  EXPECT_NEAR(total->value->number(), before + 1000, 1e-9);
  engine.aggregateCacheUsable = false;
}

}  // namespace
}  // namespace korvel
