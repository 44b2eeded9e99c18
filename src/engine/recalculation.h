// Recalculation: finds every cell that depends on what changed, orders the cells so that
// precedents come first, evaluates each once (circular groups round after round within the
// iteration settings), refreshes precedents that formulas compute at run time, and writes changed
// values to the workbook through CalcHost.
//
// REQUIRES: used only on the thread that handles host commands and evaluates formulas.
#ifndef KORVEL_ENGINE_RECALCULATION_H_
#define KORVEL_ENGINE_RECALCULATION_H_

#include <vector>

namespace korvel {

class Cell;
class CompiledModel;
class Engine;

class Recalculation {
 public:
  explicit Recalculation(Engine& engine);
  ~Recalculation();
  Recalculation(const Recalculation&) = delete;
  Recalculation& operator=(const Recalculation&) = delete;

  // Host preparations, re-linking of precedents, the full pass, then the per-pass reset.
  void fullRecalculation();
  // Recomputes the dependents of the changed cells (and iterates circular groups).
  void recalculateChanged(std::vector<Cell*> changed, bool automatic);
  // Marks every cell of the model that is neither indexed nor an input cell as evaluated when it
  // is scheduled or changed by an event (run once when the application starts).
  void startPass(CompiledModel& model);
  // Depth-first scheduling of the cell and its transitive dependents.
  void scheduleDependents(Cell* cell);
  // The cell joins the engine's changed-cells list, with flags 0x80 and 0x8000.
  void markChanged(Cell* cell);

 private:
  Engine& engine_;
};

}  // namespace korvel

#endif  // KORVEL_ENGINE_RECALCULATION_H_
