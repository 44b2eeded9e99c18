// The calculation engine of one model: the model, the host it reaches the workbook through, and
// the calculation state that the evaluator, the recalculation and the native functions share.
//
// REQUIRES: used only on the thread that handles host commands and evaluates formulas.
#ifndef KORVEL_ENGINE_ENGINE_H_
#define KORVEL_ENGINE_ENGINE_H_

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "engine/calc_host.h"
#include "model/compiled_model.h"

namespace korvel {

class Recalculation;

// What the runtime tells of the application it runs (INFO answers from it).
struct ApplicationInfo {
  std::u16string name;
  std::u16string version;  // "major.minor.build"
};

// A cache that a worksheet function family keeps for the length of one changed-cells
// recalculation (exact-match searches, ranking). The engine only holds and empties it.
class SearchCache {
 public:
  virtual ~SearchCache() = default;
};

// The slots of Engine::searchCaches: the three exact-match lookup caches and the ranking cache.
enum SearchCacheSlot : int {
  kLookupCacheSlot0 = 0,
  kLookupCacheSlot1 = 1,
  kLookupCacheSlot2 = 2,
  kRankCacheSlot = 3,
  kSearchCacheCount = 4,
};

// Partial results of aggregates over long ranges (running totals), which a worksheet function
// family keeps for the length of one ordered evaluation of cells. Every cell of such an
// evaluation is computed before the cells that read its ranges, so a partial result stays right
// until a cell it gathered is computed again; the recalculation says so through cellComputed.
class AggregateCache {
 public:
  virtual ~AggregateCache() = default;
  // The cell at the address was computed (its value may be new): what was gathered from it on
  // must be gathered again.
  virtual void cellComputed(CellRef address) = 0;
};

class Engine {
 public:
  // Borrows the model and the host (which may be null: then every call that needs the host
  // program yields #NAME?). Sets model.engine to this engine.
  explicit Engine(CompiledModel& model, CalcHost* host = nullptr);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  CompiledModel& model() { return model_; }
  CalcHost* host() { return host_; }
  void setHost(CalcHost* host) { host_ = host; }
  Recalculation& recalculation() { return *recalculation_; }

  // Settings copied from the host program.
  bool iteration = false;
  double maxChange = 0.001;
  int maxIterations = 100;
  bool date1904 = false;
  // The name of the running workbook, as the host program shows it (CELL, INDIRECT).
  std::u16string workbookName;
  // Borrowed; null while the runtime has no application information.
  const ApplicationInfo* applicationInfo = nullptr;

  // State of the current recalculation.
  bool output = true;                // changed values are written to the workbook only while on
  bool computedWithoutExcel = true;  // cleared by every call into the host program
  bool precedentsChanged = false;
  double nowOverride = 0;  // the serial date-time NOW returns while not 0
  bool insideSubtotal = false;
  // While rows is not 0, the evaluator reads every cell reference and range corner that lies in
  // the band (sheet, rows and columns inclusive) that many rows lower: a database function
  // evaluates a computed criterion once per record this way, without writing anything.
  struct ReferenceShift {
    RangeRef band;
    int32_t rows = 0;
  };
  ReferenceShift referenceShift;
  // Cells changed since the last recalculation (markChanged, DDE data).
  std::vector<Cell*> changedCells;
  // Created on first use by the functions that search; emptied at the start and at the end of
  // every changed-cells recalculation. They may be used only while searchCachesUsable is set:
  // during the evaluation of a changed-cells recalculation without circles or iteration, where
  // every cell is computed before the cells that read it, so no stored outcome can go stale.
  bool searchCachesUsable = false;
  std::array<std::unique_ptr<SearchCache>, kSearchCacheCount> searchCaches;
  void clearSearchCaches() {
    for (auto& cache : searchCaches) cache.reset();
  }
  // Created on first use by the aggregates, only while aggregateCacheUsable is set: during an
  // ordered evaluation of cells (the recalculation sets and clears it, emptying the cache at both
  // ends).
  bool aggregateCacheUsable = false;
  std::unique_ptr<AggregateCache> aggregateCache;

 private:
  CompiledModel& model_;
  CalcHost* host_;
  std::unique_ptr<Recalculation> recalculation_;
};

}  // namespace korvel

#endif  // KORVEL_ENGINE_ENGINE_H_
