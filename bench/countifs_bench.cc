// COUNTIFS over 100k rows with two criteria, a number comparison and a text, evaluated again and
// again in its cell: the cost of the criteria scan itself (parsing, cell reads and matching).
// Counters: rows/s (positions of the ranges matched per second).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "compiler/model_builder.h"
#include "compiler/workbook_text.h"
#include "engine/engine.h"
#include "engine/evaluator.h"
#include "engine/recalculation.h"
#include "functions/function_catalogue.h"
#include "model/cell.h"
#include "model/compiled_model.h"

namespace korvel {
namespace {

constexpr int kRows = 100000;

std::string countifsBook() {
  std::string t = "[Sheet1]\n";
  for (int r = 1; r <= kRows; ++r) {
    std::string row = std::to_string(r);
    t += "A" + row + ": " + std::to_string(r % 1000) + "\n";
    t += "B" + row + (r % 3 == 0 ? ": \"north\"\n" : ": \"south\"\n");
  }
  std::string last = std::to_string(kRows);
  t += "D1: =COUNTIFS(A1:A" + last + ",\">500\",B1:B" + last + ",\"north\")\n";
  return t;
}

void BM_Countifs(benchmark::State& state) {
  Workbook workbook;
  CompiledModel model;
  if (!readWorkbookText(countifsBook(), &workbook, nullptr) ||
      !buildModel(workbook, &FunctionCatalogue::instance(), model, nullptr)) {
    return state.SkipWithError("the workbook did not build");
  }
  Engine engine(model);
  Cell* formula = model.findCell(CellRef::at(0, 0, 3));
  if (formula == nullptr) return state.SkipWithError("no formula cell");
  for (auto _ : state) {
    evaluateCell(engine, formula);
    benchmark::DoNotOptimize(formula->value);
  }
  if (formula->value == nullptr || !formula->value->isNumeric()) {
    return state.SkipWithError("COUNTIFS gave no number");
  }
  state.counters["rows/s"] =
      benchmark::Counter(double(kRows) * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["count"] = formula->value->number();
}
BENCHMARK(BM_Countifs)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace korvel
