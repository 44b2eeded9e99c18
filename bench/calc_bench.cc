// Calculation workloads (bench/workloads.cc) at 10k and 100k cells, and 1M with
// KORVEL_BENCH_LARGE=1 in the environment. Each shape is measured four ways:
//   BM_Cold/SHAPE        - the first computation of a freshly built model (computeAll), the
//                          build left out of the time;
//   BM_Recalc/SHAPE      - a changed-cells recalculation after the input changed (for the
//                          onePercent shape it reaches 1% of the cells);
//   BM_RecalcGrown/SHAPE - the same recalculation, right after a recalculation in which an
//                          OFFSET cell's new height made the precedent refresh link a range the
//                          range index never held;
// and BM_LoadModel loads a chain model from its chunk envelopes, as the runtime does when an
// application starts.
//
// The headless host computes nothing: a worksheet function that is not native gives #NAME?
// there, and the label "host calls" says how many calls that were; such runs still measure
// scheduling and evaluation, not the function itself.
//
// Counters:
//   cells/s       - formula cells evaluated per second;
//   formula cells - of the model;
//   peak B/cell   - growth of the peak resident size while the model was built and computed, per
//                   formula cell (the peak is reset before; where the kernel refuses, the label
//                   says the figure is the process's peak since it started, an upper bound);
//   model B/cell  - resident size the built and computed model keeps, per formula cell;
//   peak MB       - the process's peak resident size so far;
//   growing ms    - (grown runs) the untimed recalculation in which the index grew.
// Cold and grown runs time each iteration themselves (manual time) over a fixed number of
// iterations, as each needs a model or a range of its own.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cmath>
#include <cstdio>
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
#include "workloads.h"

namespace korvel {
namespace {

using bench::Place;
using bench::Shape;
using bench::Workload;
using Clock = std::chrono::steady_clock;

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

// Resets the peak resident size to the current one (Linux 4.0 and later); false where refused.
bool resetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return bool(out);
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

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

Cell* findCell(const CompiledModel& model, const Place& place) {
  const Sheet* sheet =
      model.sheets().findByExcelName(std::u16string(place.sheet.begin(), place.sheet.end()));
  return sheet ? model.findCell(CellRef::at(sheet->index(), place.row, place.column)) : nullptr;
}

size_t formulaCells(const CompiledModel& model) {
  size_t n = 0;
  for (Cell* cell : model.indexedCells()) n += cell->hasFlag(kCellInput) ? 0 : 1;
  return n;
}

// Changes a constant as an edit does and recalculates as the recalculation cycle does, with the
// cells recalculated on every pass among the changes.
void setAndRecalculate(Engine& engine, Cell* cell, double x) {
  cell->ensureValue() = Value::number(x);
  engine.recalculation().markChanged(cell);
  std::vector<Cell*> changed = std::move(engine.changedCells);
  engine.changedCells.clear();
  for (Cell* always : engine.model().alwaysRecalculatedCells()) changed.push_back(always);
  engine.recalculation().recalculateChanged(std::move(changed), true);
}

// How many cells a recalculation after a change of the cell evaluates: its dependents, found by
// the same scheduling, and the cells recalculated on every pass.
size_t reachedBy(Engine& engine, Cell* cell) {
  Recalculation& recalculation = engine.recalculation();
  recalculation.perPassReset();
  recalculation.scheduleDependents(cell);
  for (Cell* always : engine.model().alwaysRecalculatedCells()) {
    recalculation.scheduleDependents(always);
  }
  size_t reached = recalculation.evaluationList().size() - 1;
  recalculation.perPassReset();
  return reached;
}

// A model built and computed once, with what building it cost in memory.
struct Computed {
  std::unique_ptr<CompiledModel> model;
  std::unique_ptr<HeadlessCalcHost> host;
  std::unique_ptr<Engine> engine;
  double peakBytes = 0;  // growth of the peak resident size, or the process's peak
  double keptBytes = 0;
  bool peakIsProcess = false;
};

Computed buildAndCompute(const std::string& text) {
  Computed c;
  // Freed memory goes back to the system first, so that the growth is the model's own.
  malloc_trim(0);
  c.peakIsProcess = !resetPeak();
  double before = statusBytes("VmRSS");
  c.model = buildFrom(text);
  if (!c.model) return c;
  c.host = std::make_unique<HeadlessCalcHost>(c.model.get());
  c.engine = std::make_unique<Engine>(*c.model, c.host.get());
  c.engine->recalculation().computeAll();
  double peak = statusBytes("VmHWM");
  c.peakBytes = c.peakIsProcess ? peak : peak - before;
  malloc_trim(0);
  c.keptBytes = statusBytes("VmRSS") - before;
  return c;
}

// cells/s comes from the time the routine measured itself: Google Benchmark's rates divide by CPU
// time, which for manually timed runs includes the untimed building.
void setCounters(benchmark::State& state, const Computed& c, double evaluatedPerIteration,
                 double secondsPerIteration, std::string label = "") {
  double formulas = double(formulaCells(*c.model));
  state.counters["cells/s"] = evaluatedPerIteration / secondsPerIteration;
  state.counters["formula cells"] = formulas;
  state.counters["peak B/cell"] = c.peakBytes / formulas;
  state.counters["model B/cell"] = c.keptBytes / formulas;
  state.counters["peak MB"] = statusBytes("VmHWM") / 1e6;
  if (c.peakIsProcess) label += "peak B/cell is the process's peak; ";
  if (c.host->notComputedCount() > 0) {
    label += "host calls (not computed headlessly): " + std::to_string(c.host->notComputedCount());
  }
  if (!label.empty()) state.SetLabel(label);
}

std::string family(const char* kind, const Shape& shape) {
  return std::string("BM_") + kind + "/" + shape.name;
}

void BM_LoadModel(benchmark::State& state) {
  std::unique_ptr<CompiledModel> built =
      buildFrom(bench::findShape("chain")->make(int(state.range(0))).text);
  if (!built) return state.SkipWithError("the workbook did not build");
  MemoryFiles files;
  ChunkStream out(files);
  writeModel(*built, out);
  std::vector<std::string> envelopes;
  for (size_t i = 0; i < out.chunkCount(); ++i) envelopes.push_back(out.chunk(i).storedEnvelope());
  size_t cells = built->cellCount();
  built.reset();
  // Only the loading counts: the envelopes are read where they lie, as korvel reads a model
  // file, and tearing the model down afterwards is left out of the time.
  double loading = 0;
  for (auto _ : state) {
    auto model = std::make_unique<CompiledModel>();
    Clock::time_point start = Clock::now();
    ChunkStream in;
    for (const std::string& e : envelopes) in.appendEnvelopeView(e);
    std::string error;
    if (!loadModel(in, *model, &error)) return state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(model->cellCount());
    loading += seconds(Clock::now() - start);
    state.PauseTiming();
    model.reset();
    state.ResumeTiming();
  }
  bench::recordRun("BM_LoadModel", state.range(0), loading / double(state.iterations()));
  state.counters["cells/s"] =
      benchmark::Counter(double(cells) * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["peak MB"] = statusBytes("VmHWM") / 1e6;
}

// The first computation of a freshly built model; only computeAll is timed.
void runCold(benchmark::State& state, const Shape& shape) {
  Workload workload = shape.make(int(state.range(0)));
  double total = 0;
  Computed last;
  for (auto _ : state) {
    last = Computed();  // the previous model goes before the next is built
    std::unique_ptr<CompiledModel> model = buildFrom(workload.text);
    if (!model) {
      state.SkipWithError("the workbook did not build");
      break;
    }
    auto host = std::make_unique<HeadlessCalcHost>(model.get());
    auto engine = std::make_unique<Engine>(*model, host.get());
    Clock::time_point start = Clock::now();
    engine->recalculation().computeAll();
    double elapsed = seconds(Clock::now() - start);
    state.SetIterationTime(elapsed);
    total += elapsed;
    last.model = std::move(model);
    last.host = std::move(host);
    last.engine = std::move(engine);
  }
  if (!last.model) return;
  // A fast wrong answer is no result: a wrong value is reported, still with the time it took.
  Cell* output = findCell(*last.model, workload.output);
  if (!output || !output->value || output->value->isEmpty()) {
    return state.SkipWithError("the output cell was not computed");
  }
  std::string wrong;
  if (!std::isnan(workload.expected) &&
      (!output->value->isNumeric() || output->value->number() != workload.expected)) {
    char text[200];
    std::snprintf(
        text, sizeof text, "WRONG VALUE: %s is %.15g, not %.15g; ", workload.output.name().c_str(),
        output->value->isNumeric() ? output->value->number() : std::nan(""), workload.expected);
    wrong = text;
  }
  double perIteration = total / double(state.iterations());
  bench::recordRun(family("Cold", shape), state.range(0), perIteration);
  last.engine.reset();
  last.host.reset();
  last.model.reset();
  // The memory counters come from one more build, measured on its own.
  Computed measured = buildAndCompute(workload.text);
  setCounters(state, measured, double(formulaCells(*measured.model)), perIteration, wrong);
}

// Changes the input back and forth and recalculates what depends on it.
void runRecalc(benchmark::State& state, const Shape& shape) {
  Workload workload = shape.make(int(state.range(0)));
  Computed c = buildAndCompute(workload.text);
  if (!c.model) return state.SkipWithError("the workbook did not build");
  Cell* input = findCell(*c.model, workload.input);
  if (!input) return state.SkipWithError("no input cell");
  double x = 0;
  Clock::time_point start = Clock::now();
  for (auto _ : state) {
    x = x == 0 ? 1 : 0;
    setAndRecalculate(*c.engine, input, x);
  }
  double perIteration = seconds(Clock::now() - start) / double(state.iterations());
  bench::recordRun(family("Recalc", shape), state.range(0), perIteration);
  setCounters(state, c, double(reachedBy(*c.engine, input)), perIteration);
}

// Each iteration first sets the Grow sheet's height to one never used, so that the OFFSET cell's
// precedent refresh adds a range entry, then times the next ordinary recalculation.
void runGrown(benchmark::State& state, const Shape& shape) {
  Workload workload = shape.make(int(state.range(0)));
  Computed c = buildAndCompute(workload.text + bench::growSheet(workload.growAnchor));
  if (!c.model) return state.SkipWithError("the workbook did not build");
  Cell* input = findCell(*c.model, workload.input);
  Cell* height = findCell(*c.model, Place{bench::kGrowSheet, 0, 0});
  if (!input || !height) return state.SkipWithError("no input cell");
  const RangeIndex& index = c.model->rangeIndex();
  double x = 0, rows = 2, total = 0, growing = 0;
  for (auto _ : state) {
    size_t entries = index.size();
    Clock::time_point grow = Clock::now();
    setAndRecalculate(*c.engine, height, ++rows);
    growing += seconds(Clock::now() - grow);
    if (index.size() == entries) {
      state.SkipWithError("the range index did not grow");
      break;
    }
    x = x == 0 ? 1 : 0;
    Clock::time_point start = Clock::now();
    setAndRecalculate(*c.engine, input, x);
    double elapsed = seconds(Clock::now() - start);
    state.SetIterationTime(elapsed);
    total += elapsed;
  }
  double perIteration = total / double(state.iterations());
  bench::recordRun(family("RecalcGrown", shape), state.range(0), perIteration);
  setCounters(state, c, double(reachedBy(*c.engine, input)), perIteration);
  // The untimed recalculation that grew the index, for a look at what linking a range costs.
  state.counters["growing ms"] = growing * 1e3 / double(state.iterations());
}

bool switchedOn(const char* variable) {
  const char* value = std::getenv(variable);
  return value && *value && *value != '0';
}

// Sizes: 10k and 100k by default; 1M cells take minutes and gigabytes, so only on request
// (KORVEL_BENCH_LARGE=1), as do the shapes that are slow past 10k (KORVEL_BENCH_SLOW=1).
const bool kRegistered = [] {
  std::vector<int64_t> allSizes{10000, 100000};
  if (switchedOn("KORVEL_BENCH_LARGE")) allSizes.push_back(1000000);
  // Iterations of the runs that need a model or a range each: enough to even out noise at 10k,
  // one or two where a model takes seconds to build.
  auto fixedIterations = [](int64_t size) -> int64_t {
    return size <= 10000 ? 10 : size <= 100000 ? 3 : 1;
  };
  auto* load = benchmark::RegisterBenchmark("BM_LoadModel", BM_LoadModel);
  for (int64_t n : allSizes) load->Arg(n);
  load->Unit(benchmark::kMillisecond);
  for (const Shape& shape : bench::shapes()) {
    std::vector<int64_t> sizes = allSizes;
    if (shape.slow && !switchedOn("KORVEL_BENCH_SLOW")) sizes.resize(1);
    for (int64_t n : sizes) {
      benchmark::RegisterBenchmark(family("Cold", shape).c_str(), runCold, shape)
          ->Arg(n)
          ->Iterations(fixedIterations(n))
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
    auto* recalc = benchmark::RegisterBenchmark(family("Recalc", shape).c_str(), runRecalc, shape);
    for (int64_t n : sizes) recalc->Arg(n);
    recalc->Unit(benchmark::kMillisecond);
    for (int64_t n : sizes) {
      benchmark::RegisterBenchmark(family("RecalcGrown", shape).c_str(), runGrown, shape)
          ->Arg(n)
          ->Iterations(fixedIterations(n))
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
  return true;
}();

}  // namespace
}  // namespace korvel
