#include "engine/recalculation.h"

#include "engine/engine.h"

namespace korvel {

Recalculation::Recalculation(Engine& engine) : engine_(engine) {}
Recalculation::~Recalculation() = default;

void Recalculation::fullRecalculation() {}
void Recalculation::recalculateChanged(std::vector<Cell*>, bool) {}
void Recalculation::startPass(CompiledModel&) {}
void Recalculation::scheduleDependents(Cell*) {}
void Recalculation::markChanged(Cell*) {}

}  // namespace korvel
