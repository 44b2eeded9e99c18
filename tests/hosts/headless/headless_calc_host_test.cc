#include "hosts/headless/headless_calc_host.h"

#include <gtest/gtest.h>

#include "model/compiled_model.h"
#include "model/nodes/node.h"
#include "util/text.h"

namespace korvel {
namespace {

// Names function 4 only, as a catalogue would.
class OneFunction : public FunctionResolver {
 public:
  int functionNumber(std::u16string_view name) const override { return name == u"SUM" ? 4 : -1; }
  const std::u16string* functionName(int number) const override {
    return number == 4 ? &name_ : nullptr;
  }

 private:
  std::u16string name_ = u"SUM";
};

TEST(HeadlessCalcHost, KeepsTheLastPublishedValueAndReadsInputsFromTheModel) {
  CompiledModel model;
  Cell* input = model.cellAt(CellRef::at(0, 0, 0));
  input->ensureValue() = Value::number(42);
  Cell* blank = model.cellAt(CellRef::at(0, 1, 0));
  HeadlessCalcHost host(&model);

  Value read = Value::text(u"old");
  EXPECT_TRUE(host.calculateAndRead(input->address, read));
  EXPECT_EQ(read.number(), 42);
  EXPECT_TRUE(host.calculateAndRead(blank->address, read));
  EXPECT_TRUE(read.isEmpty());
  EXPECT_FALSE(host.calculateAndRead(CellRef::at(0, 9, 9), read));
  EXPECT_FALSE(HeadlessCalcHost().calculateAndRead(input->address, read));

  host.publishCell(input);
  input->ensureValue() = Value::text(u"later");
  host.publishCell(input);
  host.publishCell(blank);
  ASSERT_NE(host.publishedValue(input->address), nullptr);
  EXPECT_EQ(host.publishedValue(input->address)->text(), u"later");
  EXPECT_TRUE(host.publishedValue(blank->address)->isEmpty());
  EXPECT_EQ(host.publishedValue(CellRef::at(1, 0, 0)), nullptr);
  EXPECT_EQ(host.published().size(), 2u);
  EXPECT_EQ(host.publishCount(), 3u);
}

TEST(HeadlessCalcHost, CallsThatNeedTheHostProgramGiveNameErrorsAndAreCounted) {
  CompiledModel model;
  OneFunction functions;
  model.functions = &functions;
  Cell* cell = model.cellAt(CellRef::at(0, 2, 1));
  HeadlessCalcHost host(&model);
  Value a, b, c, d, e, f;
  {
    CurrentCellScope scope(cell);
    EXPECT_EQ(host.evaluate(u"=INDIRECT(\"A1\")", true, a), 1);
    EXPECT_TRUE(host.callWorksheetFunction(4, {}, 30, b));
    EXPECT_TRUE(host.callWorksheetFunction(4, {}, 30, c));
  }
  EXPECT_TRUE(host.callWorksheetFunction(999, {}, 1, d));
  host.runMacro(u"Discount", {}, e);
  host.runMacro(u"_xlfn.STDEV.S", {}, e);
  host.runMacroArray(u"Spread", {}, f);
  for (const Value* v : {&a, &b, &c, &d, &e, &f}) {
    ASSERT_TRUE(v->isError());
    EXPECT_EQ(v->errorCode(), kErrorName);
  }
  EXPECT_EQ(host.notComputedCount(), 7u);
  EXPECT_EQ(host.notComputedLine(),
            "not computed: #999 1, Discount 1, INDIRECT 1, STDEV.S 1, SUM 2, Spread 1");

  // Only calls made while a cell was evaluated name a cell; taking the cells empties the set.
  CellSet cells = host.takeCellsNeedingHost();
  ASSERT_EQ(cells.size(), 1u);
  EXPECT_EQ(*cells.begin(), cell);
  EXPECT_TRUE(host.takeCellsNeedingHost().empty());
  EXPECT_EQ(host.notComputedCount(), 7u);
  host.clearNotComputed();
  EXPECT_EQ(host.notComputedLine(), "");
}

TEST(HeadlessCalcHost, NamesTheFunctionAFormulaTextCalls) {
  const struct {
    std::u16string_view text;
    std::u16string_view name;
  } cases[] = {
      {u"=SUM(A1:A3)", u"SUM"},
      {u"=indirect(\"B2\")", u"INDIRECT"},
      {u"=_xlfn.IFERROR(1/0,2)", u"IFERROR"},
      {u"  =NOW()", u"NOW"},
      {u"=A1+1", u"A1+1"},
      {u"=_xlfn.(", u"_XLFN."},
      {u"", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HeadlessCalcHost::leadingFunctionName(c.text), c.name) << toUtf8(c.text);
  }
}

TEST(HeadlessCalcHost, ReportsNoPrecedentsAndTheConfiguredDateSystem) {
  HeadlessCalcHost host;
  std::vector<RangeRef> areas{RangeRef{CellRef::at(0, 0, 0), CellRef::at(0, 0, 0)}};
  EXPECT_EQ(host.directPrecedents(nullptr, areas), 0);
  EXPECT_TRUE(areas.empty());
  EXPECT_FALSE(host.usesDate1904());
  host.setDate1904(true);
  EXPECT_TRUE(host.usesDate1904());
  EXPECT_TRUE(host.suspendCalculation());
  EXPECT_TRUE(host.restoreCalculation());
}

}  // namespace
}  // namespace korvel
