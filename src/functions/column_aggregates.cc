#include "functions/column_aggregates.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "engine/engine.h"
#include "functions/arguments.h"
#include "model/address.h"
#include "model/cell.h"
#include "model/compiled_model.h"

namespace korvel {
namespace {

// Shorter ranges are added up directly: keeping their states would cost more than it saves.
constexpr uint32_t kMinimumRows = 8;
// Where MAX and MIN start, as the plain walk does.
constexpr double kLargest = 1e308;

struct Accumulator {
  double a = 0;  // the sum, count or extreme so far
  double b = 0;  // AVERAGE's count
};

struct Key {
  uint32_t sheet;
  uint32_t column;
  uint32_t firstRow;
  ColumnAggregate kind;
  bool operator==(const Key&) const = default;
};

struct KeyHash {
  size_t operator()(const Key& k) const {
    uint64_t h = (uint64_t(k.sheet) << 48) ^ (uint64_t(k.column) << 32) ^ k.firstRow;
    h = (h ^ uint64_t(k.kind)) * 0x9E3779B97F4A7C15ull;
    return size_t(h ^ (h >> 31));
  }
};

struct Prefix {
  uint32_t firstRow = 0;
  std::vector<Accumulator> states;  // states[i]: after rows firstRow .. firstRow + i
  int64_t stopRow = -1;             // the row whose value ended the walk, once met
};

Accumulator initial(ColumnAggregate kind) {
  Accumulator acc;
  if (kind == ColumnAggregate::kMax) acc.a = -kLargest;
  if (kind == ColumnAggregate::kMin) acc.a = kLargest;
  return acc;
}

// One cell's value, as the plain walk takes a value of a referenced cell. False: the walk ends
// here and the value is the result.
bool gather(ColumnAggregate kind, const Value& value, Accumulator& acc) {
  switch (kind) {
    case ColumnAggregate::kSum:
      if (value.isNumeric()) acc.a += value.number();
      return !value.isError();
    case ColumnAggregate::kAverage:
      if (value.isNumeric()) {
        acc.a += value.number();
        acc.b += 1;
      }
      return !value.isError();
    case ColumnAggregate::kCount:
      if (value.isNumeric()) acc.a += 1;
      return true;
    case ColumnAggregate::kMax:
    case ColumnAggregate::kMin:
      if (value.isNumeric()) {
        double x = value.number();
        if (kind == ColumnAggregate::kMax ? x > acc.a : x < acc.a) acc.a = x;
        return true;
      }
      return !isErrorLike(value);
  }
  return true;
}

void finish(ColumnAggregate kind, const Accumulator& acc, Value& result) {
  switch (kind) {
    case ColumnAggregate::kSum:
    case ColumnAggregate::kCount:
      setNumberResult(result, acc.a);
      return;
    case ColumnAggregate::kAverage:
      if (acc.b == 0) {
        result.setError(kErrorDiv0);
      } else {
        setNumberResult(result, acc.a / acc.b);
      }
      return;
    case ColumnAggregate::kMax:
    case ColumnAggregate::kMin:
      if (acc.a == initial(kind).a) {
        result.setInteger(0);
      } else {
        setNumberResult(result, acc.a);
      }
      return;
  }
}

class ColumnAggregates : public AggregateCache {
 public:
  Prefix& prefix(const Key& key) {
    auto [it, added] = prefixes_.try_emplace(key);
    if (added) {
      it->second.firstRow = key.firstRow;
      byColumn_[columnKey(key.sheet, key.column)].push_back(&it->second);
    }
    return it->second;
  }

  void cellComputed(CellRef address) override {
    auto it = byColumn_.find(columnKey(address.sheet(), address.column()));
    if (it == byColumn_.end()) return;
    uint32_t row = address.row();
    for (Prefix* p : it->second) {
      if (row < p->firstRow) continue;
      size_t keep = row - p->firstRow;
      if (p->states.size() > keep) p->states.resize(keep);
      if (p->stopRow >= int64_t(row)) p->stopRow = -1;
    }
  }

 private:
  static uint64_t columnKey(uint32_t sheet, uint32_t column) {
    return (uint64_t(sheet) << 32) | column;
  }

  std::unordered_map<Key, Prefix, KeyHash> prefixes_;  // nodes stay where they are
  std::unordered_map<uint64_t, std::vector<Prefix*>> byColumn_;
};

}  // namespace

bool columnAggregate(CallContext& context, const Value* const* arguments, ColumnAggregate kind,
                     Value& result) {
  Engine* engine = context.engine;
  if (engine == nullptr || !engine->aggregateCacheUsable || engine->insideSubtotal) return false;
  if (argumentCount(arguments) != 1 || !arguments[0]->isReference()) return false;
  RangeRef r = normalizeRange(arguments[0]->reference());
  if (!isValidRange(r) || r.first.sheet() != r.last.sheet() ||
      r.first.column() != r.last.column() || r.last.row() - r.first.row() + 1 < kMinimumRows) {
    return false;
  }
  const CompiledModel& model = engine->model();
  if (!engine->aggregateCache) engine->aggregateCache = std::make_unique<ColumnAggregates>();
  auto* cache = dynamic_cast<ColumnAggregates*>(engine->aggregateCache.get());
  if (cache == nullptr) return false;

  const uint32_t sheet = r.first.sheet(), column = r.first.column(), first = r.first.row();
  // The walk stops at the column's last cell: the rows below hold nothing.
  const int64_t stop = std::min<int64_t>(model.grid().lastRowWithCell(sheet, column), r.last.row());
  Accumulator acc = initial(kind);
  if (stop >= int64_t(first)) {
    Prefix& p = cache->prefix(Key{sheet, column, first, kind});
    if (p.stopRow >= 0 && p.stopRow <= stop) {
      result = cellValueAt(context, CellRef::at(sheet, uint32_t(p.stopRow), column));
      return true;
    }
    Accumulator running = p.states.empty() ? initial(kind) : p.states.back();
    for (int64_t row = int64_t(first) + int64_t(p.states.size()); row <= stop; ++row) {
      const Cell* cell = model.findCell(CellRef::at(sheet, uint32_t(row), column));
      if (cell != nullptr && cell->value != nullptr && !gather(kind, *cell->value, running)) {
        p.stopRow = row;
        result = *cell->value;
        return true;
      }
      p.states.push_back(running);
    }
    acc = p.states[size_t(stop - int64_t(first))];
  }
  finish(kind, acc, result);
  return true;
}

}  // namespace korvel
