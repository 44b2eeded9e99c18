#include "engine/engine.h"

#include "engine/recalculation.h"

namespace korvel {

Engine::Engine(CompiledModel& model, CalcHost* host)
    : model_(model), host_(host), recalculation_(std::make_unique<Recalculation>(*this)) {
  model_.engine = this;
}

Engine::~Engine() {
  if (model_.engine == this) model_.engine = nullptr;
}

}  // namespace korvel
