// The calling contract of worksheet functions that the library computes itself. The registry
// (functions/) owns the NativeFunction objects; call nodes point at them, and the evaluator calls
// them without knowing the families.
#ifndef KORVEL_ENGINE_NATIVE_FUNCTION_H_
#define KORVEL_ENGINE_NATIVE_FUNCTION_H_

#include "engine/value.h"

namespace korvel {

class Cell;
class Engine;

// What a routine sees of the call: the cell under calculation (its row, column and sheet serve
// omitted arguments) and the engine it belongs to. cell may be null outside a cell (a formula
// evaluated on its own).
struct CallContext {
  Cell* cell = nullptr;
  Engine* engine = nullptr;
};

// arguments: one pointer per argument as written, ended by a null pointer. The routine
// overwrites result with exactly one value; errors are results, never exceptions.
using NativeRoutine = void (*)(CallContext& context, const Value* const* arguments, Value& result);

class NativeFunction {
 public:
  explicit NativeFunction(NativeRoutine routine = nullptr) : routine_(routine) {}
  virtual ~NativeFunction() = default;
  // A registered name whose family is not written yet has no routine: its calls go to the host.
  bool isNative() const { return routine_ != nullptr; }
  void call(CallContext& context, const Value* const* arguments, Value& result) const {
    if (routine_) routine_(context, arguments, result);
  }
  NativeRoutine routine() const { return routine_; }

 private:
  NativeRoutine routine_;
};

}  // namespace korvel

#endif  // KORVEL_ENGINE_NATIVE_FUNCTION_H_
