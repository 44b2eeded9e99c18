// The common part of the node family: the current cell, pooled storage, tree operations, the
// orderings and arithmetic of cached values, and diagnostics.
#include "model/nodes/node.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "engine/value_convert.h"
#include "model/address.h"
#include "model/object_pool.h"

namespace korvel {

namespace {

Cell* gCurrentCell = nullptr;

}  // namespace

Cell* currentCell() { return gCurrentCell; }

CurrentCellScope::CurrentCellScope(Cell* cell) : saved_(gCurrentCell) { gCurrentCell = cell; }

CurrentCellScope::~CurrentCellScope() { gCurrentCell = saved_; }

void* Node::operator new(size_t size) { return ObjectPool::instance().allocate(size); }

void Node::operator delete(void* pointer, size_t size) {
  ObjectPool::instance().release(size, pointer);
}

const ChildList& Node::children() const {
  static const ChildList kNone;
  return kNone;
}

const Value& Node::value() const {
  static const Value kNone;
  return kNone;
}

Value& Node::keptValue() { throw std::logic_error("this node keeps no value"); }

bool Node::addChild(std::unique_ptr<Node> child) {
  (void)child;
  return false;
}

void Node::attachChildren() {
  for (const auto& child : children()) {
    if (!child->parent()) child->setParent(this);
    child->attachChildren();
  }
}

bool Node::isComposite() const { return dynamic_cast<const CompositeNode*>(this) != nullptr; }

void Node::writeSubtree(int32_t parentIndex, uint32_t& counter, ChunkStream& out) const {
  const int32_t position = static_cast<int32_t>(counter++);
  writeRecord(parentIndex, out);
  for (const auto& child : children()) child->writeSubtree(position, counter, out);
}

uint32_t Node::subtreeSize() const {
  uint32_t size = 1;
  for (const auto& child : children()) size += child->subtreeSize();
  return size;
}

bool Node::walk(std::vector<const Node*>& path, const Visitor& visitor) const {
  path.push_back(this);
  bool agreed = visitor(path);
  for (size_t i = 0; agreed && i < children().size(); ++i) {
    agreed = children()[i]->walk(path, visitor);
  }
  path.pop_back();
  return agreed;
}

RangeRef Node::referenceRange() const {
  return value().isReference() ? value().reference() : RangeRef{};
}

bool Node::greater(const Node& other) const { return korvel::greater(value(), other.value()); }
bool Node::less(const Node& other) const { return korvel::less(value(), other.value()); }
bool Node::greaterOrEqual(const Node& other) const {
  return korvel::greaterOrEqual(value(), other.value());
}
bool Node::lessOrEqual(const Node& other) const {
  return korvel::lessOrEqual(value(), other.value());
}
bool Node::equal(const Node& other) const { return equals(value(), other.value()); }
bool Node::notEqual(const Node& other) const { return korvel::notEqual(value(), other.value()); }

namespace {

// The arithmetic of two cached values: #VALUE! when either is not a number, #NUM! when the result
// is not finite, else the result in integer normal form.
template <class Op>
Value arithmetic(const Value& a, const Value& b, Op op) {
  double x, y;
  if (!toNumber(a, &x) || !toNumber(b, &y)) return Value::error(kErrorValue);
  double r = op(x, y);
  if (!std::isfinite(r)) return Value::error(kErrorNum);
  Value result;
  result.setNumber(r);
  return result;
}

}  // namespace

Value Node::subtract(const Node& other) const {
  return arithmetic(value(), other.value(), [](double x, double y) { return x - y; });
}

Value Node::add(const Node& other) const {
  return arithmetic(value(), other.value(), [](double x, double y) { return x + y; });
}

Value Node::multiply(const Node& other) const {
  return arithmetic(value(), other.value(), [](double x, double y) { return x * y; });
}

Value Node::divide(const Node& other) const {
  return arithmetic(value(), other.value(),
                    [](double x, double y) { return y == 0 ? 0.0 : x / y; });
}

bool Node::holdsArray(std::span<const Value* const> arguments) {
  for (const Value* v : arguments) {
    if (v && v->isArray()) return true;
  }
  return false;
}

bool Node::holdsAreaReference(std::span<const Value* const> arguments) {
  for (const Value* v : arguments) {
    if (!v || !v->isReference()) continue;
    RangeRef range = normalizeRange(v->reference());
    if (!isValidRange(range)) continue;
    if (range.first.row() != range.last.row() || range.first.column() != range.last.column() ||
        range.first.sheet() != range.last.sheet()) {
      return true;
    }
  }
  return false;
}

Value& Node::evaluate(EvalContext* context, int mode, const std::vector<const Value*>& arguments,
                      Value& result) {
  (void)context;
  (void)mode;
  (void)arguments;
  result = value();
  return result;
}

std::u16string Node::debugText() const {
  std::string head = std::to_string(static_cast<int>(tag())) + "|" +
                     std::to_string(static_cast<int>(value().kind())) + "|";
  std::u16string text(head.begin(), head.end());
  text += toText(value());
  return text;
}

}  // namespace korvel
