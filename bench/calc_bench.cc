// Calculation workloads at 10k and 100k cells (1M too with KORVEL_BENCH_LARGE=1 in the
// environment): loading a model from its chunks, and changed-cells recalculations of
//   chain  - each cell adds 1 to the one above;
//   grid   - ten columns, each cell the SUM of the row above;
//   lookup - a VLOOKUP per row into a 10k-row table on another sheet;
//   onePercent - 100 independent chains; one input reaches 1% of the cells.
// Every formula depends on the changed input, so a recalculation evaluates every formula cell.
//
// The models are built from workbook texts generated in memory, by the same generator as
// bench/compare. The headless host computes nothing: a worksheet function that is not native
// gives #NAME? there, and the label "host calls" says how many calls that were; such runs still
// measure scheduling and evaluation, not the function itself.
//
// Counters: cells/s (formula cells evaluated per second), peak B/cell (the process's peak resident
// size so far, per cell of the model: an upper bound, as earlier runs count in it) and peak MB.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "compiler/model_builder.h"
#include "compiler/workbook_text.h"
#include "engine/engine.h"
#include "engine/locale_settings.h"
#include "engine/recalculation.h"
#include "functions/function_catalogue.h"
#include "hosts/headless/headless_calc_host.h"
#include "hosts/headless/headless_locale.h"
#include "hosts/headless/memory_files.h"
#include "hosts/headless/system_clock.h"
#include "model/chunk_stream.h"
#include "model/model_stream.h"

namespace korvel {
namespace {

constexpr int kGridColumns = 10;
constexpr int kTableRows = 10000;
constexpr int kChains = 100;

// A field of /proc/self/status in kB, as bytes; 0 where there is none.
double statusBytes(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  std::string key = std::string(field) + ":";
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return std::atof(line.c_str() + key.size()) * 1024.0;
  }
  return 0;
}

std::string column(int c) { return std::string(1, char('A' + c)); }

// The workbook texts. `cells` is the number of formula cells, near enough.
std::string chainBook(int cells) {
  std::string t = "[Sheet1]\nA1: 1\n";
  for (int r = 2; r <= cells + 1; ++r) {
    t += "A" + std::to_string(r) + ": =A" + std::to_string(r - 1) + "+1\n";
  }
  return t;
}

std::string gridBook(int cells) {
  int rows = cells / kGridColumns;
  std::string t = "[Sheet1]\nA1: 1\n";
  for (int c = 1; c < kGridColumns; ++c) t += column(c) + "1: =$A$1\n";
  for (int r = 2; r <= rows; ++r) {
    std::string above = std::to_string(r - 1);
    std::string formula = ": =SUM(A" + above + ":" + column(kGridColumns - 1) + above + ")\n";
    for (int c = 0; c < kGridColumns; ++c) t += column(c) + std::to_string(r) + formula;
  }
  return t;
}

std::string lookupBook(int cells) {
  std::string t = "[Table]\n";
  for (int r = 1; r <= kTableRows; ++r) {
    t += "A" + std::to_string(r) + ": " + std::to_string(r) + "\nB" + std::to_string(r) + ": " +
         std::to_string(r * 3) + "\n";
  }
  t += "[Sheet1]\nC1: 0\n";
  // Two formula cells a row: the key, moved by the input, and its lookup.
  for (int r = 1; r <= cells / 2; ++r) {
    std::string row = std::to_string(r);
    t += "A" + row + ": =$C$1+" + std::to_string(r % (kTableRows - 1) + 1) + "\n";
    t += "B" + row + ": =VLOOKUP(A" + row + ",Table!$A$1:$B$" + std::to_string(kTableRows) +
         ",2,FALSE)\n";
  }
  return t;
}

std::string onePercentBook(int cells) {
  int length = cells / kChains;
  std::string t = "[Sheet1]\n";
  for (int chain = 0; chain < kChains; ++chain) {
    // Chains side by side, column by column; chain numbers past Z use two letters.
    std::string col = chain < 26 ? column(chain) : column(chain / 26 - 1) + column(chain % 26);
    t += col + "1: 1\n";
    for (int r = 2; r <= length + 1; ++r) {
      t += col + std::to_string(r) + ": =" + col + std::to_string(r - 1) + "+1\n";
    }
  }
  return t;
}

void installBenchLocale() {
  static HeadlessLocale locale;
  static SystemClock clock;
  installLocale(&locale, &clock);
}

std::unique_ptr<CompiledModel> buildFrom(const std::string& text) {
  installBenchLocale();
  Workbook workbook;
  auto model = std::make_unique<CompiledModel>();
  if (!readWorkbookText(text, &workbook, nullptr) ||
      !buildModel(workbook, &FunctionCatalogue::instance(), *model, nullptr)) {
    return nullptr;
  }
  return model;
}

size_t formulaCells(const CompiledModel& model) {
  size_t n = 0;
  for (Cell* cell : model.indexedCells()) n += cell->hasFlag(kCellInput) ? 0 : 1;
  return n;
}

void BM_LoadModel(benchmark::State& state) {
  std::unique_ptr<CompiledModel> built = buildFrom(chainBook(int(state.range(0))));
  if (!built) return state.SkipWithError("the workbook did not build");
  MemoryFiles files;
  ChunkStream out(files);
  writeModel(*built, out);
  std::vector<std::string> envelopes;
  for (size_t i = 0; i < out.chunkCount(); ++i) envelopes.push_back(out.chunk(i).storedEnvelope());
  size_t cells = built->cellCount();
  built.reset();
  for (auto _ : state) {
    ChunkStream in;
    for (const std::string& e : envelopes) in.appendChunk(e);
    CompiledModel model;
    std::string error;
    if (!loadModel(in, model, &error)) return state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(model.cellCount());
  }
  state.counters["cells/s"] =
      benchmark::Counter(double(cells) * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["peak MB"] = statusBytes("VmHWM") / 1e6;
}

// Changes the input back and forth and recalculates what depends on it.
void runChanged(benchmark::State& state, std::string (*book)(int), CellRef input) {
  std::unique_ptr<CompiledModel> model = buildFrom(book(int(state.range(0))));
  if (!model) return state.SkipWithError("the workbook did not build");
  Cell* cell = model->findCell(input);
  if (!cell) return state.SkipWithError("no input cell");
  HeadlessCalcHost host(model.get());
  Engine engine(*model, &host);
  engine.recalculation().computeAll();
  size_t evaluated = 0;
  double x = 0;
  for (auto _ : state) {
    x = x == 0 ? 1 : 0;
    cell->ensureValue() = Value::number(x);
    engine.recalculation().markChanged(cell);
    std::vector<Cell*> changed = std::move(engine.changedCells);
    engine.changedCells.clear();
    engine.recalculation().recalculateChanged(std::move(changed), true);
  }
  // Every dependent of the input is evaluated once per recalculation.
  engine.recalculation().perPassReset();
  engine.recalculation().scheduleDependents(cell);
  evaluated = engine.recalculation().evaluationList().size() - 1;
  engine.recalculation().perPassReset();
  state.counters["cells/s"] =
      benchmark::Counter(double(evaluated) * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["peak B/cell"] = statusBytes("VmHWM") / double(model->cellCount());
  state.counters["peak MB"] = statusBytes("VmHWM") / 1e6;
  state.counters["formula cells"] = double(formulaCells(*model));
  if (host.notComputedCount() > 0) {
    state.SetLabel("host calls (not computed headlessly): " +
                   std::to_string(host.notComputedCount()));
  }
}

void BM_RecalcChain(benchmark::State& state) { runChanged(state, chainBook, CellRef::at(0, 0, 0)); }
void BM_RecalcSumGrid(benchmark::State& state) {
  runChanged(state, gridBook, CellRef::at(0, 0, 0));
}
void BM_RecalcLookup(benchmark::State& state) {
  runChanged(state, lookupBook, CellRef::at(1, 0, 2));
}
void BM_RecalcOnePercent(benchmark::State& state) {
  runChanged(state, onePercentBook, CellRef::at(0, 0, 0));
}

// Sizes: 10k and 100k by default; 1M cells take minutes and gigabytes, so only on request.
const bool kRegistered = [] {
  std::vector<int64_t> sizes{10000, 100000};
  if (const char* large = std::getenv("KORVEL_BENCH_LARGE"); large && *large && *large != '0') {
    sizes.push_back(1000000);
  }
  for (auto [name, routine] :
       {std::pair{"BM_LoadModel", &BM_LoadModel}, std::pair{"BM_RecalcChain", &BM_RecalcChain},
        std::pair{"BM_RecalcSumGrid", &BM_RecalcSumGrid},
        std::pair{"BM_RecalcLookup", &BM_RecalcLookup},
        std::pair{"BM_RecalcOnePercent", &BM_RecalcOnePercent}}) {
    auto* b = benchmark::RegisterBenchmark(name, routine)->Unit(benchmark::kMillisecond);
    for (int64_t n : sizes) b->Arg(n);
  }
  return true;
}();

}  // namespace
}  // namespace korvel
