// The cell of a compiled model: its address, current value, flags, dependency links, scheduling
// state and formula. Cells live in the ObjectPool and are owned by their CompiledModel.
//
// Cell identity: every cell receives a serial number, increasing over the life of the process, when
// it is created. Precedent and dependent sets and the model's cell lists are ordered by it, so the
// order of evaluation and of the written model follows the order in which cells were created and
// never the addresses the allocator happened to hand out.
#ifndef KORVEL_MODEL_CELL_H_
#define KORVEL_MODEL_CELL_H_

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/value.h"
#include "model/cell_links.h"
#include "model/cell_ref.h"
#include "model/formula_roots.h"
#include "model/range_links.h"

namespace korvel {

class CompiledModel;
class Node;
class CircularGroup;
struct RangeEntry;

// Cell flags. The model record carries kCellRecordFlags; the others are set at run time.
inline constexpr uint32_t kCellOnStack = 0x1;              // on the scheduling stack
inline constexpr uint32_t kCellEvaluated = 0x2;            // evaluated in the current pass
inline constexpr uint32_t kCellAlwaysRecalculated = 0x4;   // in the model's flag-0x4 list
inline constexpr uint32_t kCellKept8 = 0x8;                // stored and written back unchanged
inline constexpr uint32_t kCellInput = 0x10;               // value read from the workbook
inline constexpr uint32_t kCellRederivePrecedents = 0x20;  // precedents re-derived after evaluation
inline constexpr uint32_t kCellScheduled = 0x40;           // scheduled in the current pass
inline constexpr uint32_t kCellChangedByEvent = 0x80;
inline constexpr uint32_t kCellClosesCycle = 0x100;  // links inside its group raise no levels
inline constexpr uint32_t kCellArrayMember = 0x200;  // member of an array formula
inline constexpr uint32_t kCellWriteEveryPass = 0x400;
// With kCellArrayMember the member is never evaluated; without it the cell is in a data table.
inline constexpr uint32_t kCellArrayElsewhere = 0x800;
inline constexpr uint32_t kCellKept1000 = 0x1000;  // stored and written back unchanged
inline constexpr uint32_t kCellNeverWritten = 0x2000;
inline constexpr uint32_t kCellValueChanged = 0x4000;  // by the last evaluation
inline constexpr uint32_t kCellEventMarker = 0x8000;
inline constexpr uint32_t kCellOutsideRanges = 0x20000;  // the range lookup is skipped
// Marks of the dependency walk (recalculation_walk.cc), cleared before it returns.
inline constexpr uint32_t kCellWalkOpen = 0x40000;     // entered, successors not all finished
inline constexpr uint32_t kCellWalkDone = 0x80000;     // finished
inline constexpr uint32_t kCellWalkListed = 0x100000;  // on the evaluation list
inline constexpr uint32_t kCellWalkRaised = 0x200000;  // level raised by the relaxation

// Bits of the stored cell record: those it copies onto the cell (set or cleared), the marker it
// only sets, and the one that says which list index the record's index is.
inline constexpr uint32_t kCellRecordFlags =
    0x4 | 0x8 | 0x10 | 0x20 | 0x200 | 0x400 | 0x800 | 0x1000;
inline constexpr uint32_t kCellRecordEventMarker = 0x8000;
inline constexpr uint32_t kCellRecordSecondListIndex = 0x10000;

struct Hyperlink {
  enum Kind : uint32_t { kNone = 0, kWeb = 1, kMail = 2, kFile = 3, kInWorkbook = 4, kApplied = 5 };
  uint32_t kind = kNone;
  std::u16string address;
  std::u16string furtherText;
  std::u16string target;
  std::u16string screenTip;
};

// A set of cells in identity order, for the working sets of recalculation and tools; a cell's own
// links are the more compact CellLinks.
using CellSet = std::set<Cell*, CellIdentityLess>;

// What few cells carry: a hyperlink, the range of an array formula or data table, the circular
// group, the second list index. Cells hold it behind one pointer, made when a field is first set.
struct CellExtras {
  std::unique_ptr<Hyperlink> hyperlink;
  RangeRef arrayRange;
  bool hasArrayRange = false;
  CircularGroup* group = nullptr;
  int32_t secondListIndex = -1;
};

class Cell {
 public:
  // A cell with a fresh identity, at the sentinel address, without value or flags.
  explicit Cell(CompiledModel* owner = nullptr);
  // Releases the value, the formula and the extras; the links of other cells are not touched.
  ~Cell();
  Cell(const Cell&) = delete;
  Cell& operator=(const Cell&) = delete;

  uint64_t id() const { return id_; }

  // The value, allocated from the ObjectPool on first use as an empty value.
  Value& ensureValue();
  bool hasFlag(uint32_t flag) const { return (flags & flag) != 0; }
  void setFlag(uint32_t flag, bool on) { flags = on ? flags | flag : flags & ~flag; }

  // Links both ways: precedent into this cell's precedents, this cell into its dependents.
  void addPrecedent(Cell* precedent);

  // The rarely set fields. Getters give null (or -1) while unset; setting a null group or a -1
  // second list index on a cell without extras allocates nothing. Setters throw std::bad_alloc.
  Hyperlink* hyperlink() const { return extras_ ? extras_->hyperlink.get() : nullptr; }
  void setHyperlink(std::unique_ptr<Hyperlink> link);
  // The array formula's or data table's range, or null.
  const RangeRef* arrayRange() const {
    return extras_ && extras_->hasArrayRange ? &extras_->arrayRange : nullptr;
  }
  void setArrayRange(const RangeRef& range);
  CircularGroup* group() const { return extras_ ? extras_->group : nullptr; }
  void setGroup(CircularGroup* group);
  int32_t secondListIndex() const { return extras_ ? extras_->secondListIndex : -1; }
  void setSecondListIndex(int32_t index);

  CompiledModel* model;
  CellRef address;         // sentinel until placed
  Value* value = nullptr;  // pooled, owned; null until needed
  uint32_t flags = 0;
  int32_t firstListIndex = -1;
  CellLinks precedents;
  CellLinks dependents;
  RangeLinks rangeLinks;
  uint32_t level = 0;
  // The formula first, then its shared sub-expressions; owned.
  FormulaRoots formulaRoots;

 private:
  CellExtras& extras();

  CellExtras* extras_ = nullptr;  // pooled, owned
  uint64_t id_;
};

inline bool CellIdentityLess::operator()(const Cell* a, const Cell* b) const {
  return a->id() < b->id();
}

}  // namespace korvel

#endif  // KORVEL_MODEL_CELL_H_
