#include "functions/lookup_search.h"

#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>

#include "engine/engine.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "functions/wildcard.h"

namespace korvel {
namespace {

// Past this many outcomes the cache starts over rather than grow without end in a model that
// looks up a different value in every cell.
constexpr size_t kCacheCapacity = size_t{1} << 20;

// Exact-search outcomes of one recalculation, keyed by the searched line, the pattern rule and
// the lookup value, all packed into one text so that the key needs no hashing code of its own.
class LookupCache : public SearchCache {
 public:
  bool find(const std::u16string& key, int64_t* position) const {
    auto it = outcomes_.find(key);
    if (it == outcomes_.end()) return false;
    *position = it->second;
    return true;
  }
  void store(std::u16string key, int64_t position) {
    if (outcomes_.size() >= kCacheCapacity) outcomes_.clear();
    outcomes_.emplace(std::move(key), position);
  }

 private:
  std::unordered_map<std::u16string, int64_t> outcomes_;
};

void appendWord(std::u16string& key, uint64_t word, int units) {
  for (int i = 0; i < units; ++i) key.push_back(char16_t((word >> (16 * i)) & 0xFFFF));
}

// The key of a search, or false when the lookup value is of a kind the cache does not keep.
// Numbers are keyed by their exact bits: values that only compare equal get entries of their own,
// each holding what a fresh search gave, so the cache can never answer differently from one.
bool searchKey(const LookupLine& line, const Value& lookup, PatternRule rule, std::u16string* key) {
  CellRef first = line.cellAt(0);
  key->clear();
  key->push_back(rule == PatternRule::kStarOrQuestion ? u'w' : u'p');
  appendWord(*key, first.rowWord, 2);
  appendWord(*key, first.columnWord, 2);
  CellRef second = line.size() > 1 ? line.cellAt(1) : first;
  key->push_back(second.row() != first.row() ? u'd' : u'a');
  appendWord(*key, line.size(), 4);
  key->push_back(char16_t(lookup.kind()));
  switch (lookup.kind()) {
    case ValueKind::kInteger:
    case ValueKind::kNumber: {
      double x = lookup.number();
      uint64_t bits;
      std::memcpy(&bits, &x, sizeof bits);
      appendWord(*key, bits, 4);
      return true;
    }
    case ValueKind::kShortText:
    case ValueKind::kLongText:
      key->append(lookup.text());
      return true;
    case ValueKind::kBoolean:
      key->push_back(lookup.boolean() ? u'1' : u'0');
      return true;
    case ValueKind::kError:
      appendWord(*key, lookup.errorCode(), 2);
      return true;
    default:
      return false;
  }
}

// Only while the engine says no cell can change between two searches (engine.h).
bool cacheUsable(const CallContext& context) {
  return context.engine != nullptr && context.engine->searchCachesUsable;
}

bool matchesExactly(const Value& candidate, const Value& lookup, bool pattern) {
  if (lookup.isText()) {
    if (!candidate.isText()) return false;
    return pattern ? matchesPattern(candidate.text(), lookup.text()) : equals(candidate, lookup);
  }
  // A cell without a value is not a zero, an empty text or FALSE to a lookup, although the
  // comparison operators treat it as each of them.
  return !candidate.isEmpty() && equals(candidate, lookup);
}

bool isPattern(const Value& lookup, PatternRule rule) {
  if (!lookup.isText()) return false;
  return rule == PatternRule::kStarOrQuestion ? hasWildcard(lookup.text())
                                              : hasPatternCharacter(lookup.text());
}

}  // namespace

LookupLine LookupLine::cellColumn(const CallContext& context, uint32_t sheet, uint32_t column,
                                  int64_t firstRow, int64_t lastRow) {
  LookupLine line;
  line.context_ = &context;
  line.down_ = true;
  line.sheet_ = sheet;
  line.fixed_ = column;
  line.first_ = uint32_t(firstRow < 0 ? 0 : firstRow);
  line.size_ = lastRow >= firstRow ? size_t(lastRow - firstRow + 1) : 0;
  return line;
}

LookupLine LookupLine::cellRow(const CallContext& context, uint32_t sheet, uint32_t row,
                               int64_t firstColumn, int64_t lastColumn) {
  LookupLine line = cellColumn(context, sheet, row, firstColumn, lastColumn);
  line.down_ = false;
  return line;
}

LookupLine LookupLine::arrayColumn(const ValueArray& array, uint32_t column) {
  LookupLine line;
  line.array_ = &array;
  line.down_ = true;
  line.fixed_ = column;
  line.size_ = array.rows();
  return line;
}

LookupLine LookupLine::arrayRow(const ValueArray& array, uint32_t row) {
  LookupLine line;
  line.array_ = &array;
  line.down_ = false;
  line.fixed_ = row;
  line.size_ = array.columns();
  return line;
}

CellRef LookupLine::cellAt(size_t i) const {
  uint32_t along = first_ + uint32_t(i);
  return down_ ? CellRef::at(sheet_, along, fixed_) : CellRef::at(sheet_, fixed_, along);
}

const Value& LookupLine::at(size_t i) const {
  if (array_ != nullptr) {
    return down_ ? array_->at(fixed_, uint32_t(i)) : array_->at(uint32_t(i), fixed_);
  }
  return cellValueAt(*context_, cellAt(i));
}

int typeFamily(const Value& value) {
  switch (value.kind()) {
    case ValueKind::kEmpty:
      return 0;
    case ValueKind::kInteger:
    case ValueKind::kNumber:
      return 1;
    case ValueKind::kShortText:
    case ValueKind::kLongText:
      return 2;
    case ValueKind::kBoolean:
      return 3;
    case ValueKind::kError:
      return 4;
    default:
      return 16 + int(value.kind());
  }
}

int64_t exactSearch(const LookupLine& line, const Value& lookup, PatternRule rule) {
  const bool pattern = isPattern(lookup, rule);
  for (size_t i = 0; i < line.size(); ++i) {
    if (matchesExactly(line.at(i), lookup, pattern)) return int64_t(i);
  }
  return -1;
}

int64_t cachedExactSearch(CallContext& context, int slot, const LookupLine& line,
                          const Value& lookup, PatternRule rule) {
  std::u16string key;
  if (!line.isCells() || line.size() == 0 || !cacheUsable(context) ||
      !searchKey(line, lookup, rule, &key)) {
    return exactSearch(line, lookup, rule);
  }
  std::unique_ptr<SearchCache>& holder = context.engine->searchCaches[slot];
  if (!holder) holder = std::make_unique<LookupCache>();
  // Every cache of these slots is made here, so the cast cannot meet another class.
  auto* cache = static_cast<LookupCache*>(holder.get());
  int64_t position = -1;
  if (cache->find(key, &position)) return position;
  position = exactSearch(line, lookup, rule);
  cache->store(std::move(key), position);
  return position;
}

int64_t bisectionSearch(const LookupLine& line, const Value& lookup, bool descending) {
  const int family = typeFamily(lookup);
  const int64_t n = int64_t(line.size());
  auto inFamily = [&](int64_t i) { return typeFamily(line.at(size_t(i))) == family; };
  // Whether a value may be the answer: not beyond the lookup value in the sort order.
  auto acceptable = [&](int64_t i) {
    const Value& v = line.at(size_t(i));
    return descending ? !less(v, lookup) : !greater(v, lookup);
  };
  int64_t lo = 0;
  while (lo < n && !inFamily(lo)) ++lo;
  if (lo == n) return -1;
  int64_t hi = n - 1;
  while (hi > lo && !inFamily(hi)) --hi;
  while (hi - lo > 1) {
    int64_t mid = lo + (hi - lo) / 2;
    if (!inFamily(mid)) {
      int64_t nearest = -1;
      for (int64_t d = 1; mid - d > lo || mid + d < hi; ++d) {
        if (mid + d < hi && inFamily(mid + d)) {
          nearest = mid + d;
          break;
        }
        if (mid - d > lo && inFamily(mid - d)) {
          nearest = mid - d;
          break;
        }
      }
      if (nearest < 0) break;  // lo and hi are neighbours within the family
      mid = nearest;
    }
    if (equals(line.at(size_t(mid)), lookup)) return mid;
    if (acceptable(mid)) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  if (acceptable(hi)) return hi;
  if (acceptable(lo)) return lo;
  return -1;
}

}  // namespace korvel
