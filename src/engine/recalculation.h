// Recalculation: finds every cell that depends on what changed, orders the cells so that
// precedents come first, evaluates each once (circular groups round after round within the
// iteration settings), refreshes precedents that formulas compute at run time, and writes changed
// values to the workbook through CalcHost.
//
// The flags of cell.h drive it: 0x40 scheduled, 0x1 on the stack (or queued, or on the path of
// the cycle search), 0x2 evaluated; the three live for one round and the per-pass reset clears
// them on every cell of the evaluation list.
//
// REQUIRES: used only on the thread that handles host commands and evaluates formulas.
#ifndef KORVEL_ENGINE_RECALCULATION_H_
#define KORVEL_ENGINE_RECALCULATION_H_

#include <cstdint>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "model/cell.h"
#include "model/cell_ref.h"

namespace korvel {

class CompiledModel;
class Engine;
class Node;
struct RangeEntry;

// Cells that depend on each other in a circle, found by the cycle search. Groups are kept in the
// order they were found; a cell that lies on several circles is a member of each, and its group
// field names the one found last.
class CircularGroup {
 public:
  explicit CircularGroup(uint64_t id) : id_(id) {}
  uint64_t id() const { return id_; }
  CellSet members;

 private:
  uint64_t id_;
};

// A data table of the workbook (the range of a TABLE formula): the cells of it that were
// scheduled since it was last computed, and its two input cells, found on first use from the
// formula roots of its first interior cell (either may be missing).
struct DataTable {
  RangeRef range;
  CellSet pending;
  bool inputsFound = false;
  Cell* rowInput = nullptr;     // takes the top row's value of an interior cell's column
  Cell* columnInput = nullptr;  // takes the left column's value of an interior cell's row
};

// The references a formula reads: cells, and ranges of more than one cell on one sheet.
struct CollectedReferences {
  std::vector<Cell*> cells;
  std::vector<RangeRef> ranges;
};

// Walks the formula tree from root and collects its cell references and area references, going
// through defined names, shared expressions and local roots (resolved with the current cell).
// An area that is an argument of ROW, COLUMN, INDEX, ROWS, COLUMNS, OFFSET or ISREF, and a cell
// that is the first argument of one of them, is not collected: those read where a reference
// lies, not what it holds. An area of one cell counts as that cell; an area across sheets is not
// collected. With computed set, the references that calls returned at their last evaluation
// (INDIRECT, OFFSET) are collected as areas too. Missing model cells are created empty.
CollectedReferences collectReferences(CompiledModel& model, const Node* root, bool computed);

class Recalculation {
 public:
  explicit Recalculation(Engine& engine);
  ~Recalculation();
  Recalculation(const Recalculation&) = delete;
  Recalculation& operator=(const Recalculation&) = delete;

  // Host preparations (hyperlinks, linked workbooks, controls, query tables, date system; all
  // skipped without a host), re-linking of precedents, the full pass, then the per-pass reset.
  // The caller copies the host's iteration settings into the engine before.
  void fullRecalculation();
  // Recomputes the dependents of the changed cells (and iterates circular groups), writing every
  // changed value; NOW returns one instant throughout. With automatic set, pending data tables
  // are computed too.
  //
  // This entry, fullRecalculation and computeAll keep going past a failed call into the host
  // program (HostCallFailure). Anything else (std::bad_alloc, a programming error) ends the pass:
  // the cells it did not reach are marked with #VALUE!, the host's calculation is restored, and
  // the exception reaches the caller.
  void recalculateChanged(std::vector<Cell*> changed, bool automatic);
  // Marks every cell of the model that is neither indexed nor an input cell as evaluated when it
  // is scheduled or changed by an event (run once when the application starts).
  void startPass(CompiledModel& model);
  // Depth-first scheduling of the cell and its transitive dependents onto the evaluation list,
  // raising levels on the way. A cell already scheduled in this round is left as it is.
  void scheduleDependents(Cell* cell);
  // The cell joins the engine's changed-cells list, with flags 0x80 and 0x8000.
  void markChanged(Cell* cell);
  // Evaluates every indexed formula cell once in dependency order with the output switch off
  // (circular groups iterated as a changed-cells recalculation does), so that a freshly built
  // model gets its starting values. Nothing is written to the workbook.
  void computeAll();

  // Told how far an evaluation has come, every few thousand cells, so that a long computation
  // can show it. The observer only looks: it must not touch the model or the engine.
  class Observer {
   public:
    virtual void cellsEvaluated(size_t done, size_t total) = 0;

   protected:
    ~Observer() = default;
  };
  // Null: no one is told (the default).
  void setObserver(Observer* observer) { observer_ = observer; }

  // The steps the entries above are made of; public for the recalculation cycle and for tests.
  //
  // The full pass: cycle search, scheduling of the cells recalculated on every pass, ordering and
  // evaluation, precedent refresh. Does not iterate.
  void recalculate();
  // Re-links the precedents of every indexed cell: input cells take what the host reports,
  // formula cells their formula's references.
  void relinkPrecedents();
  // Finds the circular groups of the whole model (the registry is built afresh).
  void cycleSearch();
  // Re-derives the precedents of the evaluated cells that carry 0x20; when any changed, the
  // circular groups are searched again. Returns whether any changed.
  bool refreshPrecedents();
  // Per-pass reset, scheduling of the cells, ordering and evaluation; evaluated cells that are
  // indexed or input cells are appended to collected when given. A failed host call ends the
  // round.
  void scheduleAndEvaluate(const std::vector<Cell*>& cells, std::vector<Cell*>* collected);
  // Level relaxation, ordering, then the cell evaluation of every cell of the evaluation list.
  void orderAndEvaluate(std::vector<Cell*>* collected);
  // The cell evaluation: computes the cell when it is scheduled and not yet evaluated, and
  // outputs a changed value. Returns whether the value changed (flag 0x4000).
  bool evaluateOne(Cell* cell);
  // Re-evaluates the cells round after round while values move, within the iteration settings.
  // Cells whose value changed are added to changes when given.
  void iterate(const std::vector<Cell*>& cells, CellSet* changes);
  // Computes every data table with pending cells, then empties every pending set.
  void computeDataTables();
  // Clears flags 0x1, 0x2 and 0x40 on every cell of the evaluation list and empties it.
  void releaseSchedulingStack();
  void perPassReset();

  const std::vector<std::unique_ptr<CircularGroup>>& circularGroups() const { return groups_; }
  bool hasCircularGroups() const { return !groups_.empty(); }
  const std::vector<Cell*>& evaluationList() const { return evaluationList_; }
  // The data table covering range (registered on first use).
  DataTable& dataTable(const RangeRef& range);
  // Whether some data table has cells waiting to be computed.
  bool hasPendingDataTables() const {
    for (const auto& [key, table] : dataTables_) {
      if (!table.pending.empty()) return true;
    }
    return false;
  }

 private:
  // After a failure that is not the host program's (out of memory, a programming error): every
  // formula cell of the evaluation list that the pass did not reach gets #VALUE!, so that no stale
  // value passes for a result, and is written out when output is on. Ends the pass.
  void abandonPass();

  using RangeKey = std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>;

  CompiledModel& model();
  // Appends the entries of the range index whose range contains the cell, in index order unless
  // inOrder is false.
  void rangesContaining(const Cell* cell, std::vector<RangeEntry*>& out, bool inOrder = true);
  // Whether the range lookup runs for the cell (0x20000 skips it unless the cell has 0x20); sets
  // 0x20000 on a cell that lies in no range.
  bool lookUpRanges(Cell* cell);
  // Every cell that reads this one: its dependents, the cells that read a range containing it,
  // and for an array formula's anchor the other members of its range. Self-links are dropped.
  // kFresh leaves out the ranges whose readers were reached earlier in the round; kAllAnyOrder
  // gives the readers of ranges in no particular order, for callers that only ask whether or how
  // high, not in which order.
  enum class Readers { kAll, kFresh, kAllAnyOrder };
  void collectDependents(Cell* cell, bool lookup, std::vector<Cell*>& out,
                         Readers readers = Readers::kAll);
  void relaxLevels();
  // The dependency walk (recalculation_walk.cc): depth first from the roots over the cells and
  // the chains of the range index, so that a cell inside many nested ranges costs one step per
  // level of the index rather than one per range. Returns false when it meets a circle; else
  // walkOrder_ holds every node visited, each after all the nodes it leads to. With
  // kFlagsOnly the range lookup of a cell is decided by its flags alone, as the relaxation
  // decides it; kMarking asks the index and marks cells that lie in no range, and starts only
  // from roots that read something, as the cycle search does.
  enum class WalkLookup { kMarking, kFlagsOnly };
  using WalkNode = uintptr_t;
  bool walk(const std::vector<Cell*>& roots, WalkLookup lookup, bool recordOrder = true);
  void walkSuccessors(WalkNode node, WalkLookup lookup, std::vector<WalkNode>& out);
  // Empties the walk's buffers, giving large ones back.
  void releaseWalkBuffers();
  // Clears every mark the walk left, and the levels the relaxation carried on slots and entries;
  // after a walk that recorded no order, by looking at every cell, slot and entry.
  void endWalk(bool recorded = true);
  // The cycle search for a model without circles: true when the walk from the cycle search's
  // starting cells met none, which is all the search would have found.
  bool walkFindsNoCircle();
  // The relaxation for an evaluation list without circles, in one pass in dependency order;
  // false (levels untouched) when the walk meets a circle.
  bool relaxInOrder();
  // The cell is its own dependent, directly or through a range that holds it.
  bool readsItself(Cell* cell);
  // Writes the cell by the output rule: an array formula whose array fits its range writes each
  // element that differs from old (every element without old), any other cell itself.
  void output(Cell* cell, const Value* old);
  void writeCell(Cell* cell);
  bool writesElements(const Cell* cell) const;
  void publish(Cell* cell);
  // Gives the members of an array formula their elements of the anchor's value.
  void distributeArray(Cell* anchor);
  // Replaces (or, with add, extends) the cell's precedents. Returns whether they changed.
  bool setPrecedents(Cell* cell, const CollectedReferences& references, bool add);
  // Makes every range entry listed in the cells of the entry (as the model reader fills them) a
  // precedent range of those cells too.
  void syncRangeLinks();
  void computeDataTable(DataTable& table);
  // Recomputes the dependents of the table's input cells with the values they hold now, without
  // writing; the cells computed are added to recomputed.
  void recomputeInputs(DataTable& table, CellSet& recomputed);

  Engine& engine_;
  Observer* observer_ = nullptr;
  std::vector<Cell*> stack_;
  std::vector<Cell*> queue_;
  std::vector<Cell*> evaluationList_;
  // Cells that carry round flags without being on the evaluation list (array members computed
  // with their anchor); the per-pass reset clears them too.
  std::vector<Cell*> unlisted_;
  std::vector<Cell*> scratch_;
  std::vector<std::unique_ptr<CircularGroup>> groups_;
  uint64_t nextGroupId_ = 1;
  bool searched_ = false;  // the cycle search ran on this model
  std::map<RangeKey, DataTable> dataTables_;
  std::vector<RangeEntry*> ranges_;  // scratch of rangesContaining
  std::vector<Cell*> dependents_;    // scratch of scheduling and relaxation
  // Cells that the last cycle search gave 0x100. While there are none, every link from a cell to
  // the readers of a range it lies in is one the level relaxation keeps, so scheduling may reach
  // a range's readers once per round instead of once per cell inside it.
  size_t cuts_ = 0;
  // State of the dependency walk, kept to reuse its storage.
  // 16 bytes: a walk may go as deep as the model is long.
  struct WalkFrame {
    WalkNode node;
    uint32_t next;  // the next of the node's successors in walkPending_
    uint32_t end;   // the end of them, with kFrameDefers
  };
  // In end: the frame finishes deferred nodes after its own (the run that ends at the top).
  static constexpr uint32_t kFrameDefers = 0x80000000u;
  std::vector<WalkFrame> walkPath_;
  std::vector<WalkNode> walkPending_;
  // Nodes entered whose successors have all been taken, each to be finished right after the frame
  // that followed it: a chain walks one frame deep with one deferred node per link. A frame's run
  // is the deferred nodes from the top down to the first one that starts a run.
  std::vector<WalkNode> walkDeferred_;
  std::vector<bool> walkDeferredStarts_;
  std::vector<WalkNode> walkOrder_;
  std::vector<WalkNode> walkScratch_;
  std::vector<uint32_t> chainSlots_;
  std::vector<uint32_t> wideEntries_;
  std::vector<Cell*> members_;
  std::vector<uint8_t> slotMarks_;  // 1 entered, 2 finished
  std::vector<uint8_t> entryMarks_;
  std::vector<uint32_t> slotLevels_;  // the level a slot or entry passes on, plus one; 0 none
  std::vector<uint32_t> entryLevels_;
};

}  // namespace korvel

#endif  // KORVEL_ENGINE_RECALCULATION_H_
