// VLOOKUP over a 100k-row table, one benchmark per search mode:
//   LookupExact       - an exact search for a key near the end, a scan of the whole column;
//   LookupApproximate - a bisection for a key between two stored keys.
// The formula cell is evaluated on its own, outside a changed-cells recalculation, so the lookup
// cache does not answer and every iteration searches afresh.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "compiler/model_builder.h"
#include "compiler/workbook_text.h"
#include "engine/engine.h"
#include "engine/evaluator.h"
#include "engine/locale_settings.h"
#include "functions/function_catalogue.h"
#include "hosts/headless/headless_locale.h"
#include "hosts/headless/system_clock.h"
#include "model/address.h"

namespace korvel {
namespace {

constexpr int kRows = 100000;

// Keys 2, 4, 6, ... in column A of sheet Table, their halves in column B; the formula in Sheet1.
std::unique_ptr<CompiledModel> lookupModel(const std::string& formula) {
  static HeadlessLocale locale;
  static SystemClock clock;
  installLocale(&locale, &clock);
  std::string text = "[Table]\n";
  for (int r = 1; r <= kRows; ++r) {
    std::string row = std::to_string(r);
    text += "A" + row + ": " + std::to_string(2 * r) + "\nB" + row + ": " + row + "\n";
  }
  text += "[Sheet1]\nA1: " + formula + "\n";
  Workbook workbook;
  auto model = std::make_unique<CompiledModel>();
  if (!readWorkbookText(text, &workbook, nullptr) ||
      !buildModel(workbook, &FunctionCatalogue::instance(), *model, nullptr)) {
    return nullptr;
  }
  return model;
}

void runLookup(benchmark::State& state, const std::string& formula, int expected) {
  std::unique_ptr<CompiledModel> model = lookupModel(formula);
  if (!model) return state.SkipWithError("the workbook did not build");
  const Sheet* sheet = model->sheets().findByExcelName(u"Sheet1");
  Cell* cell = sheet ? model->findCell(CellRef::at(sheet->index(), 0, 0)) : nullptr;
  if (!cell) return state.SkipWithError("no formula cell");
  Engine engine(*model, nullptr);
  for (auto _ : state) {
    evaluateCell(engine, cell);
    benchmark::DoNotOptimize(cell->value);
  }
  if (!cell->value || !cell->value->isNumeric() || cell->value->number() != expected) {
    state.SkipWithError("the lookup found the wrong row");
  }
  state.counters["rows"] = kRows;
}

void BM_LookupExact(benchmark::State& state) {
  runLookup(state, "=VLOOKUP(199998,Table!$A$1:$B$100000,2,FALSE)", kRows - 1);
}
BENCHMARK(BM_LookupExact);

void BM_LookupApproximate(benchmark::State& state) {
  runLookup(state, "=VLOOKUP(123457,Table!$A$1:$B$100000,2,TRUE)", 61728);
}
BENCHMARK(BM_LookupApproximate);

}  // namespace
}  // namespace korvel
