#include "model/cell.h"

#include <utility>

#include "model/nodes/node.h"
#include "model/object_pool.h"

namespace korvel {
namespace {

// Identities are never reused, so a set ordered by them stays ordered when cells come and go.
uint64_t nextCellId = 1;

}  // namespace

Cell::Cell(CompiledModel* owner) : model(owner), id_(nextCellId++) {}

Cell::~Cell() {
  ObjectPool::instance().destroy(value);
  ObjectPool::instance().destroy(extras_);
}

Value& Cell::ensureValue() {
  if (!value) value = ObjectPool::instance().make<Value>();
  return *value;
}

CellExtras& Cell::extras() {
  if (!extras_) extras_ = ObjectPool::instance().make<CellExtras>();
  return *extras_;
}

void Cell::setHyperlink(std::unique_ptr<Hyperlink> link) {
  if (link || extras_) extras().hyperlink = std::move(link);
}

void Cell::setArrayRange(const RangeRef& range) {
  CellExtras& e = extras();
  e.arrayRange = range;
  e.hasArrayRange = true;
}

void Cell::setGroup(CircularGroup* group) {
  if (group || extras_) extras().group = group;
}

void Cell::setSecondListIndex(int32_t index) {
  if (index != -1 || extras_) extras().secondListIndex = index;
}

void Cell::addPrecedent(Cell* precedent) {
  precedents.insert(precedent);
  precedent->dependents.insert(this);
}

}  // namespace korvel
