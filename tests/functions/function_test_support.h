// A fixture for the tests of the native function families: a small workbook in the workbook text
// format, compiled with the real catalogue and native registry, calculated by the engine with a
// host that records what is handed to the host program. Formulas are checked by the value they
// leave in their cell, shown with show() of value_test_support.h ("i:2", "t:abc", "e:#N/A", ...).
#ifndef KORVEL_TESTS_FUNCTIONS_FUNCTION_TEST_SUPPORT_H_
#define KORVEL_TESTS_FUNCTIONS_FUNCTION_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "../engine/recording_calc_host.h"
#include "../engine/value_test_support.h"
#include "compiler/model_builder.h"
#include "compiler/workbook_text.h"
#include "engine/engine.h"
#include "engine/evaluator.h"
#include "engine/locale_settings.h"
#include "engine/recalculation.h"
#include "functions/function_catalogue.h"
#include "model/address.h"
#include "model/cell.h"
#include "model/compiled_model.h"
#include "model/sheet.h"
#include "util/text.h"

namespace korvel {

class FunctionTest : public ::testing::Test {
 protected:
  void TearDown() override { resetLocaleSettings(); }

  // Builds the workbook (a "[Sheet1]" line is put in front when the text does not start with a
  // sheet line) and calculates every formula once. The test fails on any fault of the text.
  void build(const std::string& text) {
    engine_.reset();  // the engine borrows the model
    model_ = std::make_unique<CompiledModel>();
    // The records start afresh; the scripted answers stay, so a test can set them before eval.
    host_.published.clear();
    host_.evaluated.clear();
    host_.functionCalls.clear();
    host_.macroCalls.clear();
    host_.reads.clear();
    host_.log.clear();
    std::string source = text;
    size_t first = source.find_first_not_of(" \t\r\n");
    if (first == std::string::npos || source[first] != '[') source = "[Sheet1]\n" + source;
    Workbook book;
    std::vector<std::string> errors;
    ASSERT_TRUE(readWorkbookText(source, &book, &errors)) << (errors.empty() ? "" : errors[0]);
    ASSERT_TRUE(buildModel(book, &FunctionCatalogue::instance(), *model_, &errors))
        << (errors.empty() ? "" : errors[0]);
    engine_ = std::make_unique<Engine>(*model_, hostFor(*model_));
    engine_->workbookName = u"Book";
    engine_->recalculation().computeAll();
  }

  // The cell at "B3" or "Sheet2!B3" (sheet names as written in the text), or null.
  Cell* cell(std::string_view address) {
    std::u16string text = fromUtf8(address);
    uint32_t sheet = 0;
    size_t bang = text.rfind(u'!');
    if (bang != std::u16string::npos) {
      std::u16string name = text.substr(0, bang);
      if (name.size() >= 2 && name.front() == u'\'') name = name.substr(1, name.size() - 2);
      const Sheet* found = model_->sheets().findByExcelName(name);
      if (!found) return nullptr;
      sheet = found->index();
      text = text.substr(bang + 1);
    }
    return model_->findCell(parseCell(text, sheet));
  }

  // The value of a cell after the calculation, shown; "no cell" when it does not exist.
  std::string valueOf(std::string_view address) {
    Cell* c = cell(address);
    if (!c) return "no cell";
    return c->value ? show(*c->value) : "-";
  }

  // The inputs, then the formula in cell at of the first sheet, calculated: the formula's value.
  std::string eval(const std::string& inputs, const std::string& formula,
                   const std::string& at = "Z100") {
    build(inputs + "\n" + at + ": " + formula + "\n");
    return valueOf(at);
  }

  // As eval, but the formula's own result (a reference stays a reference: "r:B1:B3").
  std::string evalReference(const std::string& inputs, const std::string& formula,
                            const std::string& at = "Z100") {
    build(inputs + "\n" + at + ": " + formula + "\n");
    Cell* c = cell(at);
    if (!c || c->formulaRoots.empty()) return "no formula";
    return show(evaluateFormula(*engine_, c->formulaRoots.front().get(), c, kModeReference));
  }

  // The host program the engine calls for the model just built: the recording stand-in, unless a
  // fixture brings its own.
  virtual CalcHost* hostFor(CompiledModel&) { return &host_; }

  // Stand-ins for the host program: tests script its answers and read what it was asked.
  RecordingCalcHost host_;
  std::unique_ptr<CompiledModel> model_;
  std::unique_ptr<Engine> engine_;
};

// One row of a table of formulas and the values they must show.
struct FormulaCase {
  const char* formula;
  const char* expected;
};

}  // namespace korvel

#endif  // KORVEL_TESTS_FUNCTIONS_FUNCTION_TEST_SUPPORT_H_
