#include "model/cell.h"

#include "model/nodes/node.h"
#include "model/object_pool.h"

namespace korvel {
namespace {

// Identities are never reused, so a set ordered by them stays ordered when cells come and go.
uint64_t nextCellId = 1;

}  // namespace

Cell::Cell(CompiledModel* owner) : model(owner), id_(nextCellId++) {}

Cell::~Cell() { ObjectPool::instance().destroy(value); }

Value& Cell::ensureValue() {
  if (!value) value = ObjectPool::instance().make<Value>();
  return *value;
}

void Cell::addPrecedent(Cell* precedent) {
  precedents.insert(precedent);
  precedent->dependents.insert(this);
}

}  // namespace korvel
