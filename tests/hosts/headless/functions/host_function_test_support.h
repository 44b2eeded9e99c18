// A fixture for the tests of the headless program's worksheet functions: the native families'
// fixture (a workbook text compiled with the real catalogue and calculated by the engine) with
// the headless calculation host in place of the recording one, so the functions the runtime
// leaves to the host program are computed by the headless program's library. A call nothing
// computes shows "e:#NAME?" and is counted by the host.
#ifndef KORVEL_TESTS_HOSTS_HEADLESS_FUNCTIONS_HOST_FUNCTION_TEST_SUPPORT_H_
#define KORVEL_TESTS_HOSTS_HEADLESS_FUNCTIONS_HOST_FUNCTION_TEST_SUPPORT_H_

#include <cmath>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "hosts/headless/headless_calc_host.h"
#include "tests/functions/function_test_support.h"

namespace korvel {

// A formula and the number it must come to, within a relative precision (absolute at 0): the
// published examples state a few digits, computed references and stored results fifteen.
struct NumberCase {
  const char* formula;
  double expected;
  double precision = 1e-14;
};

class HostFunctionTest : public FunctionTest {
 protected:
  CalcHost* hostFor(CompiledModel& model) override {
    headless_ = std::make_unique<HeadlessCalcHost>(&model);
    for (const auto& [sheet, row] : hiddenRows_) headless_->hideRow(sheet, row);
    for (const auto& [sheet, row] : filteredRows_) headless_->hideRow(sheet, row, true);
    for (const ColumnWidth& w : columnWidths_)
      headless_->setColumnWidth(w.sheet, w.first, w.last, w.width);
    for (const auto& [sheet, width] : defaultColumnWidths_)
      headless_->setDefaultColumnWidth(sheet, width);
    return headless_.get();
  }

  // Each formula over the inputs shows its expected value.
  void expectAll(const std::string& inputs, std::initializer_list<FormulaCase> cases) {
    for (const FormulaCase& c : cases) EXPECT_EQ(eval(inputs, c.formula), c.expected) << c.formula;
  }

  // Each formula over the inputs comes to its number.
  void expectNumbers(const std::string& inputs, std::initializer_list<NumberCase> cases) {
    for (const NumberCase& c : cases) {
      build(inputs + "\nZ100: " + c.formula + "\n");
      Cell* at = cell("Z100");
      ASSERT_TRUE(at != nullptr && at->value != nullptr) << c.formula;
      ASSERT_TRUE(at->value->isNumeric()) << c.formula << " gives " << show(*at->value);
      const double tolerance = c.precision * (c.expected == 0 ? 1 : std::fabs(c.expected));
      EXPECT_NEAR(at->value->number(), c.expected, tolerance) << c.formula;
    }
  }

  std::unique_ptr<HeadlessCalcHost> headless_;
  // Rows (sheet, row) the workbook of the next build hides by hand, and those a filter hides.
  std::vector<std::pair<uint32_t, uint32_t>> hiddenRows_;
  std::vector<std::pair<uint32_t, uint32_t>> filteredRows_;
  // Column widths of the workbook of the next build, and default widths (sheet, width).
  struct ColumnWidth {
    uint32_t sheet, first, last;
    double width;
  };
  std::vector<ColumnWidth> columnWidths_;
  std::vector<std::pair<uint32_t, double>> defaultColumnWidths_;
};

}  // namespace korvel

#endif  // KORVEL_TESTS_HOSTS_HEADLESS_FUNCTIONS_HOST_FUNCTION_TEST_SUPPORT_H_
