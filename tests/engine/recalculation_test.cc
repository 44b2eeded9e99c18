// Recalculation over models built from workbook text: which cells are evaluated and written, in
// which order, how circular groups iterate, and what the output rule writes.
#include "engine/recalculation.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "compiler/model_builder.h"
#include "compiler/workbook_text.h"
#include "engine/date_text.h"
#include "engine/engine.h"
#include "engine/locale_settings.h"
#include "functions/function_catalogue.h"
#include "model/address.h"
#include "recording_calc_host.h"
#include "util/text.h"

namespace korvel {
namespace {

// A host that also notes what the engine's current-time override was at every write.
class ClockWatchingHost : public RecordingCalcHost {
 public:
  Engine* engine = nullptr;
  std::vector<double> overrides;
  void publishCell(Cell* cell) override {
    RecordingCalcHost::publishCell(cell);
    if (engine) overrides.push_back(engine->nowOverride);
  }
};

class RecalculationTest : public ::testing::Test {
 protected:
  void build(const std::string& text) {
    Workbook workbook;
    std::vector<std::string> errors;
    ASSERT_TRUE(readWorkbookText(text, &workbook, &errors)) << (errors.empty() ? "" : errors[0]);
    ASSERT_TRUE(buildModel(workbook, &FunctionCatalogue::instance(), model, &errors))
        << (errors.empty() ? "" : errors[0]);
    engine = std::make_unique<Engine>(model, &host);
    host.engine = engine.get();
  }
  Cell* cell(const char* a1) {
    Cell* c = model.findCell(parseCell(fromUtf8(a1), 0));
    EXPECT_NE(c, nullptr) << a1;
    return c;
  }
  double number(const char* a1) { return cell(a1)->value ? cell(a1)->value->number() : -1e300; }
  // Gives an input cell a new value in the model and in the host's workbook, as an edit does.
  void enter(const char* a1, const Value& v) {
    Cell* c = cell(a1);
    c->ensureValue() = v;
    host.workbookCells[{c->address.rowWord, c->address.columnWord}] = v;
  }
  void recalculate(const std::vector<const char*>& changed) {
    std::vector<Cell*> cells;
    for (const char* a1 : changed) cells.push_back(cell(a1));
    host.published.clear();
    host.overrides.clear();
    engine->recalculation().recalculateChanged(cells, true);
  }
  std::vector<std::string> published() const {
    std::vector<std::string> names;
    for (Cell* c : host.published) names.push_back(toUtf8(cellText(c->address)));
    return names;
  }
  int publishCount(const char* a1) {
    int n = 0;
    for (Cell* c : host.published) n += c == cell(a1);
    return n;
  }

  CompiledModel model;
  ClockWatchingHost host;
  std::unique_ptr<Engine> engine;
};

TEST_F(RecalculationTest, ChangedInputRecomputesExactlyItsDependentsOncePrecedentsFirst) {
  build(
      "[S]\nA1: 1\nA2: 2\n"
      "C1: =B2+B1\nB2: =B1*2\nB1: =A1+1\nB3: =A2+1\nD1: =C1+B2\n");
  engine->recalculation().computeAll();
  EXPECT_DOUBLE_EQ(number("D1"), 10);
  enter("A1", Value::integer(10));
  recalculate({"A1"});
  EXPECT_EQ(published(), (std::vector<std::string>{"B1", "B2", "C1", "D1"}));
  EXPECT_DOUBLE_EQ(number("B1"), 11);
  EXPECT_DOUBLE_EQ(number("C1"), 33);
  EXPECT_DOUBLE_EQ(number("D1"), 55);
  EXPECT_DOUBLE_EQ(number("B3"), 3);
  // The input cell is read from the workbook but never written back.
  EXPECT_EQ(host.reads.size(), 1u);
}

TEST_F(RecalculationTest, CellInsideARangeReachesTheFormulasThatReadTheRange) {
  build("[S]\nA1: 1\nA2: 2\nA3: 3\nA4: 4\nB1: =SUM(A1:A3)\nB2: =B1+1\n");
  engine->recalculation().computeAll();
  // SUM goes to the host program until the aggregation family exists; its answer tells whether
  // B1 was computed again.
  for (int round = 0; round < 2; ++round) {
    // The second round runs with what the first one remembered about ranges.
    host.functionAnswer = Value::integer(24 + round);
    enter("A2", Value::integer(20 + round));
    recalculate({"A2"});
    EXPECT_EQ(published(), (std::vector<std::string>{"B1", "B2"})) << round;
    EXPECT_DOUBLE_EQ(number("B1"), 24 + round);
  }
  host.functionAnswer = Value::integer(99);
  enter("A4", Value::integer(40));
  recalculate({"A4"});
  EXPECT_TRUE(published().empty());
  EXPECT_TRUE(cell("A4")->hasFlag(kCellOutsideRanges));
  EXPECT_FALSE(cell("A2")->hasFlag(kCellOutsideRanges));
}

TEST_F(RecalculationTest, TwoCellsReadingEachOtherFormOneGroup) {
  build("[S]\nA1: 3\nB1: =A1+C1*0.5\nC1: =B1*0.5\nD1: =A1*2\n");
  engine->recalculation().cycleSearch();
  const auto& groups = engine->recalculation().circularGroups();
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0]->members, (CellSet{cell("B1"), cell("C1")}));
  EXPECT_TRUE(cell("B1")->hasFlag(kCellClosesCycle));
  EXPECT_TRUE(cell("C1")->hasFlag(kCellClosesCycle));
  EXPECT_EQ(cell("B1")->group(), groups[0].get());
  EXPECT_FALSE(cell("D1")->hasFlag(kCellClosesCycle));
  // A search again finds the same circle, not a second copy of it.
  engine->recalculation().cycleSearch();
  EXPECT_EQ(engine->recalculation().circularGroups().size(), 1u);
}

// The walk goes down a chain one frame deep, keeping the links it has left open: a circle closed
// at the far end is still seen, and an edit then runs down the whole chain in order.
TEST_F(RecalculationTest, ChainsAreWalkedInOrderAndACircleAtTheirEndIsSeen) {
  build(
      "[S]\nA1: =A5+1\nA2: =A1+1\nA3: =A2+1\nA4: =A3+1\nA5: =A4+1\nB1: =A3*2\n"
      "C1: 1\nC2: =C1+1\nC3: =C2+C1\nC4: =C3+1\nC5: =C4*C2\n");
  engine->recalculation().cycleSearch();
  const auto& groups = engine->recalculation().circularGroups();
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0]->members,
            (CellSet{cell("A1"), cell("A2"), cell("A3"), cell("A4"), cell("A5")}));
  EXPECT_FALSE(cell("B1")->hasFlag(kCellClosesCycle));
  engine->recalculation().fullRecalculation();
  enter("C1", Value::integer(2));
  recalculate({"C1"});
  std::vector<std::string> chain;  // the circle, computed again on every recalculation, aside
  for (const std::string& name : published()) {
    if (name[0] == 'C') chain.push_back(name);
  }
  EXPECT_EQ(chain, (std::vector<std::string>{"C2", "C3", "C4", "C5"}));
  EXPECT_EQ(number("C5"), 6 * 3);
  for (Cell* c : model.cells()) EXPECT_FALSE(c->flags & (kCellWalkOpen | kCellWalkDone));
}

TEST_F(RecalculationTest, FullPassEvaluatesACircleOnceWithoutIterating) {
  build("[S]\nA1: 3\nB1: =A1+C1*0.5\nC1: =B1*0.5\n");
  cell("B1")->flags |= kCellAlwaysRecalculated;
  engine->recalculation().fullRecalculation();
  EXPECT_EQ(publishCount("B1"), 1);
  EXPECT_EQ(publishCount("C1"), 1);
  EXPECT_EQ(host.log[0], "scanSheetHyperlinks");
  EXPECT_EQ(host.log[1], "openLinkedWorkbooks");
  EXPECT_EQ(host.log[2], "wireSheetControls");
  EXPECT_EQ(host.log[3], "refreshQueryTables");
  EXPECT_EQ(engine->recalculation().evaluationList().size(), 0u);
  for (Cell* c : model.cells()) {
    EXPECT_FALSE(c->flags & (kCellOnStack | kCellEvaluated | kCellScheduled));
  }
}

TEST_F(RecalculationTest, ChangedCellsIterateACircleWhileValuesMove) {
  for (bool iteration : {false, true}) {
    SCOPED_TRACE(iteration);
    model.clearCells();
    model.sheets().clear();
    model.rangeIndex().clear();
    build("[S]\nA1: 3\nB1: =A1+C1*0.5\nC1: =B1*0.5\n");
    engine->iteration = iteration;
    engine->recalculation().fullRecalculation();
    enter("A1", Value::integer(6));
    recalculate({"A1"});
    // B1 = 6 + B1 / 4 settles at 8; a single evaluation would leave it far from there.
    EXPECT_NEAR(number("B1"), 8, 0.01);
    EXPECT_NEAR(number("C1"), 4, 0.01);
  }
}

// B1 = A1 + B1/2 reads itself: each evaluation halves the distance to 2 * A1.
TEST_F(RecalculationTest, IterationStopsAtTheFirstQuietRoundOrTheLimit) {
  struct Case {
    int maxIterations;
    double maxChange;
    double expected;
  };
  const Case cases[] = {
      {100, 0.001, 4 - 4.0 / 4096},  // 12 evaluations: the 12th moved by less than 0.001
      {1, 0.001, 2},                 // no second round
      {3, 0.001, 3.5},
      {100, 0.5, 3.75},  // the 4th evaluation moves by 0.25
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.maxIterations);
    model.clearCells();
    model.sheets().clear();
    model.rangeIndex().clear();
    build("[S]\nA1: 1\nB1: =A1+B1*0.5\n");
    engine->iteration = true;
    engine->maxIterations = c.maxIterations;
    engine->maxChange = c.maxChange;
    enter("A1", Value::integer(2));
    recalculate({"A1"});
    EXPECT_DOUBLE_EQ(number("B1"), c.expected);
  }
}

TEST_F(RecalculationTest, TextsNeverCountAsMoving) {
  build("[S]\nB1: =B1&\"x\"\n");
  engine->iteration = true;
  recalculate({"B1"});
  ASSERT_TRUE(cell("B1")->value->isText());
  EXPECT_EQ(cell("B1")->value->text(), u"xx");
}

TEST_F(RecalculationTest, IteratedValuesAreWrittenOnceWhenNothingCalledTheHost) {
  build("[S]\nA1: 1\nB1: =A1+B1*0.5\nC1: =A1*3\n");
  engine->iteration = true;
  enter("A1", Value::integer(2));
  recalculate({"A1"});
  // Once by the first round, once for the whole loop.
  EXPECT_EQ(publishCount("B1"), 2);
  EXPECT_EQ(publishCount("C1"), 1);
  EXPECT_TRUE(engine->output);
}

TEST_F(RecalculationTest, IteratedValuesAreWrittenAsTheyChangeWhenACellCalledTheHost) {
  build("[S]\nA1: 1\nB1: =A1+B1*0.5+SUMSQ(0)\n");  // SUMSQ is left to the host
  engine->iteration = true;
  enter("A1", Value::integer(2));
  recalculate({"A1"});
  EXPECT_FALSE(engine->computedWithoutExcel);
  EXPECT_EQ(publishCount("B1"), 12);
}

TEST_F(RecalculationTest, NowIsOneInstantForTheWholeRecalculation) {
  struct FixedClock : Clock {
    LocalTime now() const override { return LocalTime{2024, 3, 15, 10, 30, 15, 250}; }
    uint64_t counter() const override { return 0; }
    uint64_t counterFrequency() const override { return 1; }
    int64_t unixTime() const override { return 0; }
    void sleep(uint32_t) override {}
  } clock;
  installLocale(nullptr, &clock);
  build("[S]\nA1: 1\nB1: =A1+1\nC1: =B1+1\n");
  engine->date1904 = true;
  enter("A1", Value::integer(5));
  recalculate({"A1"});
  resetLocaleSettings();
  double expected = dateSerial(2024, 3, 15, 10, 30, 15.25, true);
  EXPECT_EQ(host.overrides, (std::vector<double>{expected, expected}));
  EXPECT_EQ(engine->nowOverride, 0);
}

TEST_F(RecalculationTest, NeverWrittenCellChangesButIsNotWritten) {
  build("[S]\nA1: 1\nB1: =A1+1\nC1: =B1+1\n");
  cell("B1")->flags |= kCellNeverWritten;
  enter("A1", Value::integer(5));
  recalculate({"A1"});
  EXPECT_EQ(published(), (std::vector<std::string>{"C1"}));
  EXPECT_DOUBLE_EQ(number("B1"), 6);
  EXPECT_TRUE(cell("B1")->hasFlag(kCellValueChanged));
}

TEST_F(RecalculationTest, ArrayFormulaWritesElementsOnlyWhenItsResultFitsItsRange) {
  build(
      "[S]\nA1: 1\nA2: 2\nA3: 3\n"
      "B1:B3: {=A1:A3*2}\n"
      "C1:C3: {=A1:A2*2}\n"
      "D1: =B3+1\n");
  engine->recalculation().computeAll();
  host.published.clear();
  enter("A3", Value::integer(30));
  recalculate({"A3"});
  // B's result fits: only the changed element is written, and its reader follows. C's does not
  // fit its range: one value to its anchor.
  EXPECT_EQ(published(), (std::vector<std::string>{"B3", "D1"}));
  EXPECT_DOUBLE_EQ(number("B3"), 60);
  EXPECT_DOUBLE_EQ(number("D1"), 61);
  enter("A1", Value::integer(10));
  recalculate({"A1"});
  EXPECT_EQ(publishCount("B1"), 1);
  EXPECT_EQ(publishCount("C1"), 1);
  EXPECT_EQ(publishCount("C2"), 0);
}

TEST_F(RecalculationTest, MarkedCellsJoinTheChangedList) {
  build("[S]\nA1: 1\nB1: =A1+1\n");
  engine->recalculation().markChanged(cell("A1"));
  EXPECT_EQ(engine->changedCells, (std::vector<Cell*>{cell("A1")}));
  EXPECT_TRUE(cell("A1")->hasFlag(kCellChangedByEvent));
  EXPECT_TRUE(cell("A1")->hasFlag(kCellEventMarker));
}

TEST_F(RecalculationTest, InputCellThatCannotBeReadKeepsItsValue) {
  build("[S]\nA1: 1\nB1: =A1+1\n");
  cell("A1")->ensureValue() = Value::integer(7);  // the workbook has no answer for A1
  recalculate({"A1"});
  EXPECT_DOUBLE_EQ(number("A1"), 7);
  EXPECT_DOUBLE_EQ(number("B1"), 8);
}

// Out of memory is no failure of the host program: it ends the pass and reaches the caller, the
// cells the pass did not reach show #VALUE! instead of their old values, and the host's own
// calculation is restored. The next pass computes them again.
TEST_F(RecalculationTest, OutOfMemoryEndsThePassAndMarksTheCellsItDidNotReach) {
  build("[S]\nA1: 1\nB1: =A1+1\nC1: =B1+SUMSQ(0)\nD1: =C1*2\n");  // SUMSQ is left to the host
  engine->recalculation().computeAll();
  EXPECT_DOUBLE_EQ(number("D1"), 4);
  enter("A1", Value::number(5));
  host.outOfMemory = true;
  EXPECT_THROW(recalculate({"A1"}), std::bad_alloc);
  EXPECT_DOUBLE_EQ(number("B1"), 6);
  for (const char* a1 : {"C1", "D1"}) {
    ASSERT_TRUE(cell(a1)->value && cell(a1)->value->isError()) << a1;
    EXPECT_EQ(cell(a1)->value->errorCode(), kErrorValue) << a1;
    EXPECT_EQ(publishCount(a1), 1) << a1;
  }
  EXPECT_EQ(host.log.back(), "restoreCalculation");

  host.outOfMemory = false;
  recalculate({"A1"});
  EXPECT_DOUBLE_EQ(number("D1"), 12);

  host.outOfMemory = true;
  EXPECT_THROW(engine->recalculation().computeAll(), std::bad_alloc);
  EXPECT_TRUE(cell("D1")->value->isError());
}

// A failed call of the host program is not the end of the pass: the cell keeps its value.
TEST_F(RecalculationTest, HostFailureKeepsTheCellAndThePassGoesOn) {
  build("[S]\nA1: 1\nB1: =A1+SUMSQ(0)\nC1: =A1*2\n");
  engine->recalculation().computeAll();
  enter("A1", Value::number(5));
  host.throwOnCall = true;
  recalculate({"A1"});
  EXPECT_DOUBLE_EQ(number("B1"), 1);
  EXPECT_DOUBLE_EQ(number("C1"), 10);
}

// Running totals over formula cells raise each total once for every cell above it before the
// order settles: more steps than the relaxation's budget, without any circle. Cutting it short
// computed totals before the cells they add up.
TEST_F(RecalculationTest, LongRunningTotalsOverFormulaCellsComeAfterWhatTheyRead) {
  constexpr int kRows = 2500;
  std::string text = "[S]\nA1: 1\nB1: =SUM(A$1:A1)\n";
  for (int r = 2; r <= kRows; ++r) {
    std::string row = std::to_string(r);
    text +=
        "A" + row + ": =A" + std::to_string(r - 1) + "+1\nB" + row + ": =SUM(A$1:A" + row + ")\n";
  }
  build(text);
  engine->recalculation().computeAll();
  EXPECT_EQ(number("B2500"), 2500.0 * 2501 / 2);
  enter("A1", Value::integer(2));
  recalculate({"A1"});
  EXPECT_EQ(number("B2500"), 2500.0 * 2501 / 2 + 2500);
  EXPECT_EQ(number("B1250"), 1250.0 * 1251 / 2 + 1250);
}

// Random models whose formulas read cells and ranges of every shape the range index files (running
// prefixes, blocks across columns, a whole column, a whole row, single rows), each reading only
// what lies before it row by row, so there is no circle: every value after the full computation
// and after edits of inputs must be what computing the cells in that order gives.
class RandomRangesTest : public RecalculationTest,
                         public ::testing::WithParamInterface<unsigned> {};

TEST_P(RandomRangesTest, NestedAndOverlappingRangesComputeEachCellAfterWhatItReads) {
  constexpr int kRows = 90, kColumns = 5;  // A..E; F holds inputs only, row 1 too
  {
    unsigned seed = GetParam();
    std::mt19937 random(seed);
    auto below = [&](int n) { return int(random() % unsigned(n)); };
    auto name = [](int row, int column) {
      return std::string(1, char('A' + column)) + std::to_string(row);
    };
    // What each cell adds up: (first row, first column, last row, last column) blocks, plus k.
    struct Formula {
      std::vector<std::array<int, 4>> reads;
      long k = 0;
      bool input = true;
    };
    std::vector<std::vector<Formula>> cells(kRows + 1, std::vector<Formula>(kColumns + 1));
    std::vector<std::vector<long>> value(kRows + 1, std::vector<long>(kColumns + 1, 0));
    std::string text = "[S]\n";
    for (int row = 1; row <= kRows; ++row) {
      for (int column = 0; column <= kColumns; ++column) {
        Formula& f = cells[row][column];
        f.k = below(7);
        if (row == 1 || column == kColumns || below(4) == 0) {
          text += name(row, column) + ": " + std::to_string(f.k) + "\n";
          continue;
        }
        f.input = false;
        // Kept small, so that every sum stays exact.
        std::string formula = "=MOD(" + std::to_string(f.k);
        for (int n = 1 + below(2); n > 0; --n) {
          std::array<int, 4> r{};
          std::string ref;
          switch (below(6)) {
            case 0: {  // a running prefix of a column to the row above
              int c = below(kColumns);
              r = {1, c, row - 1, c};
              ref = "$" + std::string(1, char('A' + c)) + "$1:" + name(row - 1, c);
              break;
            }
            case 1: {  // a block of rows above, across columns
              int r1 = 1 + below(row - 1), r2 = r1 + below(row - r1);
              int c1 = below(kColumns), c2 = c1 + below(kColumns - c1);
              r = {r1, c1, r2, c2};
              ref = name(r2, c2) + ":" + name(r1, c1);
              break;
            }
            case 2:  // the whole column of inputs
              r = {1, kColumns, kRows, kColumns};
              ref = "F:F";
              break;
            case 3:  // the whole first row
              r = {1, 0, 1, kColumns};
              ref = "$1:$1";
              break;
            case 4: {  // the cells to the left in the same row
              if (column == 0) {
                r = {row - 1, 0, row - 1, 0};
                ref = name(row - 1, 0);
              } else {
                r = {row, 0, row, column - 1};
                ref = "A" + std::to_string(row) + ":" + name(row, column - 1);
              }
              break;
            }
            default: {  // one cell above
              int r1 = 1 + below(row - 1), c = below(kColumns + 1);
              r = {r1, c, r1, c};
              ref = name(r1, c);
            }
          }
          f.reads.push_back(r);
          formula += "+SUM(" + ref + ")";
        }
        text += name(row, column) + ": " + formula + ",997)\n";
      }
    }
    auto expected = [&] {
      for (int row = 1; row <= kRows; ++row) {
        for (int column = 0; column <= kColumns; ++column) {
          if (cells[row][column].input) value[row][column] = cells[row][column].k;
        }
      }
      for (int row = 1; row <= kRows; ++row) {
        for (int column = 0; column <= kColumns; ++column) {
          const Formula& f = cells[row][column];
          if (f.input) continue;
          long v = f.k;
          for (const auto& r : f.reads) {
            for (int rr = r[0]; rr <= r[2]; ++rr) {
              for (int cc = r[1]; cc <= r[3]; ++cc) v += value[rr][cc];
            }
          }
          value[row][column] = v % 997;
        }
      }
    };
    auto check = [&](const char* when) {
      expected();
      for (int row = 1; row <= kRows; ++row) {
        for (int column = 0; column <= kColumns; ++column) {
          ASSERT_EQ(number(name(row, column).c_str()), double(value[row][column]))
              << name(row, column) << " " << when << ", seed " << seed;
        }
      }
    };
    build(text);
    engine->recalculation().computeAll();
    check("after the full computation");
    for (int round = 0; round < 6; ++round) {
      std::vector<std::string> edited;
      for (int n = 1 + below(3); n > 0; --n) {
        int row = 1 + below(kRows), column = below(kColumns + 1);
        if (!cells[row][column].input) continue;
        cells[row][column].k = 10 + below(50);
        enter(name(row, column).c_str(), Value::integer(int32_t(cells[row][column].k)));
        edited.push_back(name(row, column));
      }
      std::vector<const char*> changed;
      for (const std::string& a1 : edited) changed.push_back(a1.c_str());
      recalculate(changed);
      check("after edits");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomRangesTest, ::testing::Values(1u, 2u, 3u));

}  // namespace
}  // namespace korvel
