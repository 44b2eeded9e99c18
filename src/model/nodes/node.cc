// First-cut bodies of the node family so that the model reader, writer and compiler link; the
// full behaviour follows.
#include "model/nodes/node.h"

#include "model/chunk_stream.h"
#include "model/compiled_model.h"
#include "model/nodes/node_reader.h"
#include "model/object_pool.h"

namespace korvel {

namespace {
Cell* gCurrentCell = nullptr;
const NodeList& emptyList() {
  static const NodeList list;
  return list;
}
}  // namespace

Cell* currentCell() { return gCurrentCell; }
CurrentCellScope::CurrentCellScope(Cell* cell) : saved_(gCurrentCell) { gCurrentCell = cell; }
CurrentCellScope::~CurrentCellScope() { gCurrentCell = saved_; }

void* Node::operator new(size_t size) { return ObjectPool::instance().allocate(size); }
void Node::operator delete(void* pointer, size_t size) {
  ObjectPool::instance().release(size, pointer);
}

const NodeList& Node::children() const { return emptyList(); }
bool Node::addChild(std::unique_ptr<Node> child) {
  (void)child;
  return false;
}
void Node::attachChildren() {}
bool Node::isComposite() const { return false; }
void Node::writeSubtree(int32_t parentIndex, uint32_t& counter, ChunkStream& out) const {
  (void)parentIndex;
  (void)counter;
  (void)out;
}
uint32_t Node::subtreeSize() const { return 1; }
bool Node::walk(std::vector<const Node*>& path, const Visitor& visitor) const {
  (void)path;
  (void)visitor;
  return true;
}
RangeRef Node::referenceRange() const { return RangeRef{}; }
bool Node::greater(const Node&) const { return false; }
bool Node::less(const Node&) const { return false; }
bool Node::greaterOrEqual(const Node&) const { return false; }
bool Node::lessOrEqual(const Node&) const { return false; }
bool Node::equal(const Node&) const { return false; }
bool Node::notEqual(const Node&) const { return false; }
Value Node::subtract(const Node&) const { return Value(); }
Value Node::add(const Node&) const { return Value(); }
Value Node::multiply(const Node&) const { return Value(); }
Value Node::divide(const Node&) const { return Value(); }
bool Node::holdsArray(const std::vector<const Value*>&) { return false; }
bool Node::holdsAreaReference(const std::vector<const Value*>&) { return false; }
Value& Node::evaluate(EvalContext*, int, const std::vector<const Value*>&, Value& result) {
  result = value();
  return result;
}
std::u16string Node::debugText() const { return u""; }

NumberNode::NumberNode(double x) { value_.setNumber(x); }
std::u16string NumberNode::formulaText(const CompiledModel*) const { return u""; }
void NumberNode::writeRecord(int32_t, ChunkStream&) const {}
TextNode::TextNode(std::u16string_view text) { value_.setText(text); }
std::u16string TextNode::formulaText(const CompiledModel*) const { return u""; }
void TextNode::writeRecord(int32_t, ChunkStream&) const {}
BooleanNode::BooleanNode(bool b) { value_.setBoolean(b); }
std::u16string BooleanNode::formulaText(const CompiledModel*) const { return u""; }
void BooleanNode::writeRecord(int32_t, ChunkStream&) const {}
ErrorNode::ErrorNode(uint32_t code) : code_(code) { value_.setError(code); }
std::u16string ErrorNode::formulaText(const CompiledModel*) const { return u""; }
void ErrorNode::writeRecord(int32_t, ChunkStream&) const {}
std::u16string MissingNode::formulaText(const CompiledModel*) const { return u""; }
void MissingNode::writeRecord(int32_t, ChunkStream&) const {}
ArrayNode::ArrayNode(ValueArray array) { value_.setArray(std::move(array)); }
std::u16string ArrayNode::formulaText(const CompiledModel*) const { return u""; }
void ArrayNode::writeRecord(int32_t, ChunkStream&) const {}
CellRefNode::CellRefNode(Cell* cell) : cell_(cell) {}
std::u16string CellRefNode::formulaText(const CompiledModel*) const { return u""; }
void CellRefNode::writeRecord(int32_t, ChunkStream&) const {}
CellRef CellRefNode::address() const { return cell_ ? cell_->address : CellRef::none(); }
RangeRefNode::RangeRefNode(RangeRef range, uint8_t flags) : range_(range), flags_(flags) {}
std::u16string RangeRefNode::formulaText(const CompiledModel*) const { return u""; }
void RangeRefNode::writeRecord(int32_t, ChunkStream&) const {}
bool CompositeNode::addChild(std::unique_ptr<Node> child) {
  child->setParent(this);
  children_.push_back(std::move(child));
  return true;
}
std::u16string CompositeNode::joinedChildren(const CompiledModel*, std::u16string_view) const {
  return u"";
}
std::u16string UnionNode::formulaText(const CompiledModel*) const { return u""; }
void UnionNode::writeRecord(int32_t, ChunkStream&) const {}
std::u16string IntersectionNode::formulaText(const CompiledModel*) const { return u""; }
void IntersectionNode::writeRecord(int32_t, ChunkStream&) const {}
std::u16string OperatorNode::formulaText(const CompiledModel*) const { return u""; }
void OperatorNode::writeRecord(int32_t, ChunkStream&) const {}
std::u16string ComparisonNode::formulaText(const CompiledModel*) const { return u""; }
void ComparisonNode::writeRecord(int32_t, ChunkStream&) const {}
CallNode::CallNode(std::u16string name, uint32_t callFlags, const FunctionResolver*)
    : name_(std::move(name)), callFlags_(callFlags) {}
std::u16string CallNode::formulaText(const CompiledModel*) const { return u""; }
void CallNode::writeRecord(int32_t, ChunkStream&) const {}
const Value& IndirectNode::value() const { return value_; }
std::u16string NameRefNode::formulaText(const CompiledModel*) const { return u""; }
void NameRefNode::writeRecord(int32_t, ChunkStream&) const {}
const Node* NameRefNode::target() const { return nullptr; }
std::u16string SharedRefNode::formulaText(const CompiledModel*) const { return u""; }
void SharedRefNode::writeRecord(int32_t, ChunkStream&) const {}
const Node* SharedRefNode::target() const { return nullptr; }
std::u16string LocalRefNode::formulaText(const CompiledModel*) const { return u""; }
void LocalRefNode::writeRecord(int32_t, ChunkStream&) const {}
const Node* LocalRefNode::target() const { return nullptr; }
DdeRefNode::DdeRefNode(uint32_t link, uint32_t item, std::u16string itemName)
    : link_(link), item_(item), itemName_(std::move(itemName)) {}
std::u16string DdeRefNode::formulaText(const CompiledModel*) const { return u""; }
void DdeRefNode::writeRecord(int32_t, ChunkStream&) const {}
ExternalRefNode::ExternalRefNode(uint16_t workbook, std::u16string referenceText)
    : workbook_(workbook), referenceText_(std::move(referenceText)) {}
std::u16string ExternalRefNode::formulaText(const CompiledModel*) const { return u""; }
void ExternalRefNode::writeRecord(int32_t, ChunkStream&) const {}

NodeReadStatus readNode(ChunkStream&, CompiledModel&, std::vector<Node*>&, std::unique_ptr<Node>*,
                        std::string* error) {
  if (error) *error = "not yet implemented";
  return NodeReadStatus::kError;
}

}  // namespace korvel
