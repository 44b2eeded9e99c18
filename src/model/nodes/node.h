// The expression nodes of compiled formulas: one class per record tag of the model stream. A
// formula is a tree of nodes; composite nodes own their children. Nodes live in the ObjectPool.
//
// This header declares the whole family, so that the model reader, the model writer and the
// compiler build and inspect nodes through one set of constructors.
//
// REQUIRES: nodes are used only on the thread that handles host commands and evaluates formulas.
#ifndef KORVEL_MODEL_NODES_NODE_H_
#define KORVEL_MODEL_NODES_NODE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/value.h"
#include "model/cell_ref.h"
#include "model/nodes/child_list.h"

namespace korvel {

class Cell;
class ChunkStream;
class CompiledModel;
class EvalContext;
class NativeFunction;

enum NodeTag : uint16_t {
  kTagCellRef = 7,
  kTagNumber = 8,
  kTagUnion = 9,
  kTagSharedRef1 = 10,
  kTagBoolean = 11,
  kTagOperator = 12,
  kTagText = 13,
  kTagDdeRef = 14,
  kTagCall = 15,
  kTagExternalRef = 16,
  kTagLocalRef = 17,
  kTagComparison = 18,
  kTagError = 19,
  kTagRangeRef = 20,
  kTagArray = 21,
  kTagNameRef = 22,
  kTagSharedRef2 = 23,
  kTagIntersection = 24,
  kTagMissing = 25,
};

// Evaluation modes: a single value, a value or an array, or the reference itself.
enum EvalMode : int { kModeValue = 1, kModeValueOrArray = 2, kModeReference = 3 };

enum OperatorCode : uint8_t {
  kOpAdd = 1,
  kOpSubtract = 2,
  kOpMultiply = 3,
  kOpDivide = 4,
  kOpPower = 5,
  kOpNegate = 6,
  kOpConcatenate = 7,
  kOpPercent = 8,
};

enum ComparisonCode : uint8_t {
  kCmpLess = 1,
  kCmpGreater = 2,
  kCmpLessOrEqual = 3,
  kCmpGreaterOrEqual = 4,
  kCmpEqual = 5,
  kCmpNotEqual = 6,
};

// Bits of the range flags of a range reference record.
inline constexpr uint8_t kRangeWholeColumns = 0x1;  // renders as A:C
inline constexpr uint8_t kRangeWholeRows = 0x2;     // renders as 1:3

// Resolves function names when call nodes are built, and names function numbers when formulas are
// rendered. The function catalogue implements it; the native registry adds the routines later.
class FunctionResolver {
 public:
  virtual ~FunctionResolver() = default;
  // The function number of an upper-case name, or -1.
  virtual int functionNumber(std::u16string_view upperName) const = 0;
  // The (possibly localised) name of a function number, or null.
  virtual const std::u16string* functionName(int number) const = 0;
  // The native routine of an upper-case name, or null.
  virtual const NativeFunction* nativeFunction(std::u16string_view upperName) const {
    (void)upperName;
    return nullptr;
  }
  // What the evaluator needs of a function number's descriptor: the largest argument count (-1
  // for a number without descriptor), the class of the argument at a position (0 none, 1 value,
  // 2 reference, 3 array, 4 unevaluated reference, 5 a single value never taken element by
  // element), the class of the result, and the flags (bit 8: takes references, bit 16: takes
  // arrays).
  virtual int maximumArguments(int number) const {
    (void)number;
    return -1;
  }
  virtual int argumentClass(int number, int position) const {
    (void)number;
    (void)position;
    return 0;
  }
  virtual int returnClass(int number) const {
    (void)number;
    return 0;
  }
  virtual uint32_t functionFlags(int number) const {
    (void)number;
    return 0;
  }
};

// The cell being evaluated or written: indirect nodes and formula texts reach the model through
// it. A scope sets it and restores the caller's on exit, so nested evaluations unwind correctly.
Cell* currentCell();
class CurrentCellScope {
 public:
  explicit CurrentCellScope(Cell* cell);
  ~CurrentCellScope();
  CurrentCellScope(const CurrentCellScope&) = delete;
  CurrentCellScope& operator=(const CurrentCellScope&) = delete;

 private:
  Cell* saved_;
};

class Node;
// A table of owned trees (the shared expressions); the operands of one node are a ChildList.
using NodeList = std::vector<std::unique_ptr<Node>>;

class Node {
 public:
  Node() = default;
  virtual ~Node() = default;
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  // Nodes are small and numerous: they come from the ObjectPool by their size.
  static void* operator new(size_t size);
  static void operator delete(void* pointer, size_t size);

  virtual NodeTag tag() const = 0;

  Node* parent() const { return parent_; }
  void setParent(Node* parent) { parent_ = parent; }
  // The children of composite nodes in record order; empty for every other node.
  virtual const ChildList& children() const;
  // Appends a child and makes this node its parent. Leaves refuse it and return false (the child
  // is destroyed), so a bad record cannot hang a subtree under a number.
  virtual bool addChild(std::unique_ptr<Node> child);
  // Destroys and forgets the children.
  virtual void releaseChildren() {}
  // Gives every child without a parent this node as parent, down the tree.
  void attachChildren();
  bool isComposite() const;

  // The value the node keeps: the constant itself for constants, the reference for a range
  // reference, and for a call the reference it returned at its last evaluation (a call that
  // returned anything else keeps the empty value); the empty value for every other node.
  virtual const Value& value() const;
  // Replace the kept value. REQUIRES: a node that keeps one (constants, range references, calls);
  // any other node throws std::logic_error.
  void setValue(const Value& v) { keptValue() = v; }
  void setNumber(double x) { keptValue().setNumber(x); }
  void setFromCell(const Value& cellValue) { keptValue() = cellValue; }

  // The node as formula text, without a leading "=": list separator of the user's locale, sheet
  // names where a reference leaves the current cell's sheet, names of defined names and functions
  // from the model and its resolver. model may be null (then references print without sheet and
  // names print as "#NAME?").
  virtual std::u16string formulaText(const CompiledModel* model) const = 0;
  // Appends this node's record with the given parent index (-1 for a root). Texts lose their
  // trailing zero units (a reader cannot tell them from padding), and a text or array constant too
  // long for the record's u16 length (or for the 1024 bytes of DDE and external references) is
  // written cut to the whole units or rows that fit, so that the length is always right; workbook
  // formulas never come near these limits.
  virtual void writeRecord(int32_t parentIndex, ChunkStream& out) const = 0;
  // Writes this node with the parent index, then each child with this node's position as parent
  // index, in prefix order. counter is the position of the next record of the same formula and
  // advances by one per record.
  void writeSubtree(int32_t parentIndex, uint32_t& counter, ChunkStream& out) const;
  // Number of records writeSubtree writes.
  uint32_t subtreeSize() const;

  // Pushes this node on the path, asks the visitor, and walks the children while the visitor
  // agrees. Returns false once the visitor has refused.
  using Visitor = std::function<bool(const std::vector<const Node*>& path)>;
  bool walk(std::vector<const Node*>& path, const Visitor& visitor) const;

  bool isArrayConstant() const { return tag() == kTagArray; }
  bool isUnion() const { return tag() == kTagUnion; }
  bool isCellReference() const { return tag() == kTagCellRef; }
  bool isRangeReference() const { return tag() == kTagRangeRef; }
  bool hasReferenceValue() const { return value().isReference(); }
  // The reference of the cached value, or the no-cell range.
  RangeRef referenceRange() const;

  // Orderings and arithmetic of the two nodes' cached values.
  bool greater(const Node& other) const;
  bool less(const Node& other) const;
  bool greaterOrEqual(const Node& other) const;
  bool lessOrEqual(const Node& other) const;
  bool equal(const Node& other) const;
  bool notEqual(const Node& other) const;
  // This value minus, plus, times, divided by the other, as numbers (a zero divisor gives 0).
  Value subtract(const Node& other) const;
  Value add(const Node& other) const;
  Value multiply(const Node& other) const;
  Value divide(const Node& other) const;

  // True when one of the argument values is an array, or a reference to more than one cell.
  // Null entries count as neither.
  static bool holdsArray(std::span<const Value* const> arguments);
  static bool holdsAreaReference(std::span<const Value* const> arguments);
  static bool holdsArray(const std::vector<const Value*>& arguments) {
    return holdsArray(std::span<const Value* const>(arguments));
  }
  static bool holdsAreaReference(const std::vector<const Value*>& arguments) {
    return holdsAreaReference(std::span<const Value* const>(arguments));
  }

  // Computes this node from its evaluated children into result and returns result. Until the
  // evaluator exists every node yields its cached value.
  virtual Value& evaluate(EvalContext* context, int mode,
                          const std::vector<const Value*>& arguments, Value& result);

  // "tag|kind|display text", for diagnostics.
  std::u16string debugText() const;

 protected:
  // The storage of the kept value; throws std::logic_error for nodes that keep none.
  virtual Value& keptValue();

 private:
  Node* parent_ = nullptr;
};

// The nodes that keep a value of their own.
class ValueNode : public Node {
 public:
  const Value& value() const override { return value_; }

 protected:
  Value& keptValue() override { return value_; }

  Value value_;
};

class NumberNode : public ValueNode {
 public:
  // NaN and infinities are kept as 0.
  explicit NumberNode(double x);
  NodeTag tag() const override { return kTagNumber; }
  std::u16string formulaText(const CompiledModel* model) const override;
  void writeRecord(int32_t parentIndex, ChunkStream& out) const override;
  // The number as stored (an integer value is written as its double).
  double number() const { return value_.number(); }
};

class TextNode : public ValueNode {
 public:
  explicit TextNode(std::u16string_view text);
  NodeTag tag() const override { return kTagText; }
  // In double quotes, inner quotes doubled.
  std::u16string formulaText(const CompiledModel* model) const override;
  void writeRecord(int32_t parentIndex, ChunkStream& out) const override;
};

class BooleanNode : public ValueNode {
 public:
  explicit BooleanNode(bool b);
  NodeTag tag() const override { return kTagBoolean; }
  std::u16string formulaText(const CompiledModel* model) const override;
  void writeRecord(int32_t parentIndex, ChunkStream& out) const override;
};

class ErrorNode : public ValueNode {
 public:
  // The stored code, kept for writing even when it is not one of the seven (the value is then
  // empty).
  explicit ErrorNode(uint32_t code);
  NodeTag tag() const override { return kTagError; }
  std::u16string formulaText(const CompiledModel* model) const override;
  void writeRecord(int32_t parentIndex, ChunkStream& out) const override;
  uint32_t code() const { return code_; }

 private:
  uint32_t code_;
};

class MissingNode : public Node {
 public:
  NodeTag tag() const override { return kTagMissing; }
  std::u16string formulaText(const CompiledModel* model) const override;
  void writeRecord(int32_t parentIndex, ChunkStream& out) const override;
};

class ArrayNode : public ValueNode {
 public:
  explicit ArrayNode(ValueArray array);
  NodeTag tag() const override { return kTagArray; }
  // "{1,2;3,4}" with the user's list separator; texts quoted.
  std::u16string formulaText(const CompiledModel* model) const override;
  void writeRecord(int32_t parentIndex, ChunkStream& out) const override;
};

class CellRefNode : public Node {
 public:
  // REQUIRES: cell is a cell of the model (or null for a reference to no cell).
  explicit CellRefNode(Cell* cell);
  NodeTag tag() const override { return kTagCellRef; }
  std::u16string formulaText(const CompiledModel* model) const override;
  void writeRecord(int32_t parentIndex, ChunkStream& out) const override;
  Cell* cell() const { return cell_; }
  // The cell's address, or the sentinel.
  CellRef address() const;

 private:
  Cell* cell_;
};

class RangeRefNode : public ValueNode {
 public:
  RangeRefNode(RangeRef range, uint8_t flags);
  NodeTag tag() const override { return kTagRangeRef; }
  std::u16string formulaText(const CompiledModel* model) const override;
  void writeRecord(int32_t parentIndex, ChunkStream& out) const override;
  // The range is the reference the node keeps as its value.
  RangeRef range() const { return value_.isReference() ? value_.reference() : RangeRef{}; }
  uint8_t flags() const { return flags_; }

 private:
  uint8_t flags_;
};

class CompositeNode : public Node {
 public:
  const ChildList& children() const override { return children_; }
  bool addChild(std::unique_ptr<Node> child) override;
  void releaseChildren() override { children_.clear(); }

 protected:
  // The children's texts joined by separator.
  std::u16string joinedChildren(const CompiledModel* model, std::u16string_view separator) const;

  ChildList children_;
};

class UnionNode : public CompositeNode {
 public:
  NodeTag tag() const override { return kTagUnion; }
  // "(a,b)" with the user's list separator.
  std::u16string formulaText(const CompiledModel* model) const override;
  void writeRecord(int32_t parentIndex, ChunkStream& out) const override;
};

class IntersectionNode : public CompositeNode {
 public:
  NodeTag tag() const override { return kTagIntersection; }
  // "(a b)".
  std::u16string formulaText(const CompiledModel* model) const override;
  void writeRecord(int32_t parentIndex, ChunkStream& out) const override;
};

class OperatorNode : public CompositeNode {
 public:
  explicit OperatorNode(uint8_t code) : code_(code) {}
  NodeTag tag() const override { return kTagOperator; }
  // Binary operators as "(a+b)", negation "-a", percent "a%".
  std::u16string formulaText(const CompiledModel* model) const override;
  void writeRecord(int32_t parentIndex, ChunkStream& out) const override;
  uint8_t code() const { return code_; }

 private:
  uint8_t code_;
};

class ComparisonNode : public CompositeNode {
 public:
  explicit ComparisonNode(uint8_t code) : code_(code) {}
  NodeTag tag() const override { return kTagComparison; }
  // "(a<b)".
  std::u16string formulaText(const CompiledModel* model) const override;
  void writeRecord(int32_t parentIndex, ChunkStream& out) const override;
  uint8_t code() const { return code_; }

 private:
  uint8_t code_;
};

class CallNode : public CompositeNode {
 public:
  // Bit 0 of the call flags: a worksheet function of the catalogue.
  static constexpr uint32_t kCallFlag = 0x1;

  // Resolves the upper-cased name through the resolver (which may be null): function number, or
  // -1, and native routine, or null. The name is kept as written.
  CallNode(std::u16string name, uint32_t callFlags, const FunctionResolver* resolver);
  NodeTag tag() const override { return kTagCall; }
  // The resolver's name for the function number when it has one, else the name as written, then
  // the arguments in parentheses joined by the list separator.
  std::u16string formulaText(const CompiledModel* model) const override;
  void writeRecord(int32_t parentIndex, ChunkStream& out) const override;
  const std::u16string& name() const { return name_; }
  uint32_t callFlags() const { return callFlags_; }
  int functionNumber() const { return number_; }
  const NativeFunction* native() const { return native_; }
  const Value& value() const override { return value_; }
  // Keeps the result of an evaluation as the call's value when it is a reference, which the
  // refresh of computed precedents reads; any other result leaves the empty value.
  void keepResult(const Value& result);

 protected:
  Value& keptValue() override { return value_; }

 private:
  Value value_;
  std::u16string name_;
  uint32_t callFlags_;
  int number_ = -1;
  const NativeFunction* native_ = nullptr;
};

// A node that stands for another: a defined name's expression, a shared expression, or another
// root of the current cell. Name and shared targets are found on first use through the current
// cell's model and cached once found; local targets are looked up in the current cell on every
// use, since they belong to whichever cell is current. An index outside its table, or no current
// cell, gives no target. Indirect nodes that stand for each other in a circle yield the empty
// value and render their fallback text instead of recursing without end.
class IndirectNode : public Node {
 public:
  explicit IndirectNode(uint32_t index) : index_(index) {}
  uint32_t index() const { return index_; }
  // The node stood for, or null.
  virtual const Node* target() const = 0;
  const Value& value() const override;

 protected:
  uint32_t index_;
  mutable const Node* target_ = nullptr;
  mutable bool resolved_ = false;
};

class NameRefNode : public IndirectNode {
 public:
  using IndirectNode::IndirectNode;
  NodeTag tag() const override { return kTagNameRef; }
  // The defined name as written, or "#NAME?" when the index names none.
  std::u16string formulaText(const CompiledModel* model) const override;
  void writeRecord(int32_t parentIndex, ChunkStream& out) const override;
  const Node* target() const override;
};

class SharedRefNode : public IndirectNode {
 public:
  // table is 1 (tag 10) or 2 (tag 23).
  SharedRefNode(int table, uint32_t index) : IndirectNode(index), table_(table) {}
  NodeTag tag() const override { return table_ == 1 ? kTagSharedRef1 : kTagSharedRef2; }
  // The shared expression's own text.
  std::u16string formulaText(const CompiledModel* model) const override;
  void writeRecord(int32_t parentIndex, ChunkStream& out) const override;
  const Node* target() const override;
  int table() const { return table_; }

 private:
  int table_;
};

class LocalRefNode : public IndirectNode {
 public:
  using IndirectNode::IndirectNode;
  NodeTag tag() const override { return kTagLocalRef; }
  // The current cell's root of that index; "@n" when there is no current cell with a list index.
  std::u16string formulaText(const CompiledModel* model) const override;
  void writeRecord(int32_t parentIndex, ChunkStream& out) const override;
  const Node* target() const override;
};

class DdeRefNode : public Node {
 public:
  DdeRefNode(uint32_t link, uint32_t item, std::u16string itemName);
  NodeTag tag() const override { return kTagDdeRef; }
  // 'service'|'topic'!'item'
  std::u16string formulaText(const CompiledModel* model) const override;
  void writeRecord(int32_t parentIndex, ChunkStream& out) const override;
  uint32_t link() const { return link_; }
  uint32_t item() const { return item_; }
  const std::u16string& itemName() const { return itemName_; }

 private:
  uint32_t link_, item_;
  std::u16string itemName_;
};

class ExternalRefNode : public Node {
 public:
  ExternalRefNode(uint16_t workbook, std::u16string referenceText);
  NodeTag tag() const override { return kTagExternalRef; }
  // 'path[file]reference
  std::u16string formulaText(const CompiledModel* model) const override;
  void writeRecord(int32_t parentIndex, ChunkStream& out) const override;
  uint16_t workbook() const { return workbook_; }
  const std::u16string& referenceText() const { return referenceText_; }

 private:
  uint16_t workbook_;
  std::u16string referenceText_;
};

}  // namespace korvel

#endif  // KORVEL_MODEL_NODES_NODE_H_
