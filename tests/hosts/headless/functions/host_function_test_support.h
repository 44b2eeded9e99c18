// A fixture for the tests of the headless program's worksheet functions: a small workbook in the
// workbook text format, compiled with the real catalogue, calculated by the engine with the
// headless calculation host, which computes the functions the runtime leaves to the host
// program. Formulas are checked by the value they leave in their cell, shown with show() of
// value_test_support.h ("i:2", "n:0.5", "t:abc", "e:#N/A", ...); a call nothing computes shows
// "e:#NAME?" and is counted by the host.
#ifndef KORVEL_TESTS_HOSTS_HEADLESS_FUNCTIONS_HOST_FUNCTION_TEST_SUPPORT_H_
#define KORVEL_TESTS_HOSTS_HEADLESS_FUNCTIONS_HOST_FUNCTION_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/model_builder.h"
#include "compiler/workbook_text.h"
#include "engine/engine.h"
#include "engine/locale_settings.h"
#include "engine/recalculation.h"
#include "functions/function_catalogue.h"
#include "hosts/headless/headless_calc_host.h"
#include "model/address.h"
#include "model/cell.h"
#include "model/compiled_model.h"
#include "model/sheet.h"
#include "tests/engine/value_test_support.h"
#include "util/text.h"

namespace korvel {

class HostFunctionTest : public ::testing::Test {
 protected:
  void TearDown() override { resetLocaleSettings(); }

  // Builds the workbook (a "[Sheet1]" line is put in front when the text does not start with a
  // sheet line) and calculates every formula once. The test fails on any fault of the text.
  void build(const std::string& text) {
    engine_.reset();  // the engine borrows the model
    model_ = std::make_unique<CompiledModel>();
    std::string source = text;
    size_t first = source.find_first_not_of(" \t\r\n");
    if (first == std::string::npos || source[first] != '[') source = "[Sheet1]\n" + source;
    Workbook book;
    std::vector<std::string> errors;
    ASSERT_TRUE(readWorkbookText(source, &book, &errors)) << (errors.empty() ? "" : errors[0]);
    ASSERT_TRUE(buildModel(book, &FunctionCatalogue::instance(), *model_, &errors))
        << (errors.empty() ? "" : errors[0]);
    host_ = std::make_unique<HeadlessCalcHost>(model_.get());
    engine_ = std::make_unique<Engine>(*model_, host_.get());
    engine_->workbookName = u"Book";
    engine_->recalculation().computeAll();
  }

  // The value of a cell after the calculation ("B3" or "Sheet2!B3"), shown; "no cell" when it
  // does not exist.
  std::string valueOf(std::string_view address) {
    std::u16string text = fromUtf8(address);
    uint32_t sheet = 0;
    size_t bang = text.rfind(u'!');
    if (bang != std::u16string::npos) {
      std::u16string name = text.substr(0, bang);
      if (name.size() >= 2 && name.front() == u'\'') name = name.substr(1, name.size() - 2);
      const Sheet* found = model_->sheets().findByExcelName(name);
      if (!found) return "no cell";
      sheet = found->index();
      text = text.substr(bang + 1);
    }
    Cell* c = model_->findCell(parseCell(text, sheet));
    if (!c) return "no cell";
    return c->value ? show(*c->value) : "-";
  }

  // The inputs, then the formula in cell Z100 of the first sheet, calculated: the formula's value.
  std::string eval(const std::string& inputs, const std::string& formula) {
    build(inputs + "\nZ100: " + formula + "\n");
    return valueOf("Z100");
  }

  std::unique_ptr<CompiledModel> model_;
  std::unique_ptr<HeadlessCalcHost> host_;
  std::unique_ptr<Engine> engine_;
};

// One row of a table of formulas and the values they must show.
struct FormulaCase {
  const char* formula;
  const char* expected;
};

}  // namespace korvel

#endif  // KORVEL_TESTS_HOSTS_HEADLESS_FUNCTIONS_HOST_FUNCTION_TEST_SUPPORT_H_
