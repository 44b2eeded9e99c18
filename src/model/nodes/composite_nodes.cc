// The composite nodes, which own their operands: union, intersection, operators, comparisons and
// function calls.
#include <string>

#include "engine/locale_settings.h"
#include "engine/value_convert.h"
#include "model/chunk_stream.h"
#include "model/compiled_model.h"
#include "model/nodes/node.h"
#include "model/nodes/node_record.h"
#include "util/text.h"

namespace korvel {

namespace {

std::u16string listSeparator() { return std::u16string(1, userLocale().listSeparator); }

// The text of operand i, or the empty text when the node has fewer operands.
std::u16string operandText(const ChildList& children, size_t i, const CompiledModel* model) {
  return i < children.size() ? children[i]->formulaText(model) : std::u16string();
}

// Operators and comparisons: "(" left, symbol, right ")".
std::u16string binaryText(const ChildList& children, std::u16string_view symbol,
                          const CompiledModel* model) {
  return u"(" + operandText(children, 0, model) + std::u16string(symbol) +
         operandText(children, 1, model) + u")";
}

void writeCodeRecord(ChunkStream& out, NodeTag tag, int32_t parentIndex, uint8_t code) {
  writeNodeHead(out, 12, tag, parentIndex);
  out.writeU8(code);
  out.writeU8(0);
  out.writeU8(0);
  out.writeU8(0);
}

}  // namespace

bool CompositeNode::addChild(std::unique_ptr<Node> child) {
  if (!child) return false;
  child->setParent(this);
  children_.push_back(std::move(child));
  return true;
}

std::u16string CompositeNode::joinedChildren(const CompiledModel* model,
                                             std::u16string_view separator) const {
  std::u16string text;
  for (size_t i = 0; i < children_.size(); ++i) {
    if (i) text += separator;
    text += children_[i]->formulaText(model);
  }
  return text;
}

std::u16string UnionNode::formulaText(const CompiledModel* model) const {
  return u"(" + joinedChildren(model, listSeparator()) + u")";
}

void UnionNode::writeRecord(int32_t parentIndex, ChunkStream& out) const {
  writeNodeHead(out, 8, kTagUnion, parentIndex);
}

std::u16string IntersectionNode::formulaText(const CompiledModel* model) const {
  return u"(" + joinedChildren(model, u" ") + u")";
}

void IntersectionNode::writeRecord(int32_t parentIndex, ChunkStream& out) const {
  writeNodeHead(out, 8, kTagIntersection, parentIndex);
}

std::u16string OperatorNode::formulaText(const CompiledModel* model) const {
  switch (code_) {
    case kOpAdd:
      return binaryText(children_, u"+", model);
    case kOpSubtract:
      return binaryText(children_, u"-", model);
    case kOpMultiply:
      return binaryText(children_, u"*", model);
    case kOpDivide:
      return binaryText(children_, u"/", model);
    case kOpPower:
      return binaryText(children_, u"^", model);
    case kOpConcatenate:
      return binaryText(children_, u"&", model);
    case kOpNegate:
      return u"-" + operandText(children_, 0, model);
    case kOpPercent:
      return operandText(children_, 0, model) + u"%";
    default:
      // An operator the evaluator does not know computes #VALUE!; say so rather than guess.
      return errorText(kErrorValue);
  }
}

void OperatorNode::writeRecord(int32_t parentIndex, ChunkStream& out) const {
  writeCodeRecord(out, kTagOperator, parentIndex, code_);
}

std::u16string ComparisonNode::formulaText(const CompiledModel* model) const {
  static constexpr std::u16string_view kSymbols[] = {u"<", u">", u"<=", u">=", u"=", u"<>"};
  if (code_ < kCmpLess || code_ > kCmpNotEqual) return errorText(kErrorValue);
  return binaryText(children_, kSymbols[code_ - 1], model);
}

void ComparisonNode::writeRecord(int32_t parentIndex, ChunkStream& out) const {
  writeCodeRecord(out, kTagComparison, parentIndex, code_);
}

CallNode::CallNode(std::u16string name, uint32_t callFlags, const FunctionResolver* resolver)
    : name_(std::move(name)), callFlags_(callFlags) {
  if (!resolver) return;
  const std::u16string upper = toUpper(name_);
  number_ = resolver->functionNumber(upper);
  native_ = resolver->nativeFunction(upper);
}

void CallNode::keepResult(const Value& result) {
  if (result.isReference()) {
    value_ = result;
  } else {
    value_.clear();
  }
}

std::u16string CallNode::formulaText(const CompiledModel* model) const {
  const std::u16string* name = nullptr;
  if (model && model->functions && number_ >= 0) name = model->functions->functionName(number_);
  std::u16string text = name ? *name : name_;
  text += u'(';
  text += joinedChildren(model, listSeparator());
  text += u')';
  return text;
}

void CallNode::writeRecord(int32_t parentIndex, ChunkStream& out) const {
  std::u16string_view name = recordText(name_, kMaxNodeRecordLength - kCallRecordFixedLength);
  writeNodeHead(out, kCallRecordFixedLength + 2 * name.size(), kTagCall, parentIndex);
  out.writeU32(callFlags_);
  out.writeUtf16(name);
  out.writeU16(0);
  out.writeU16(0);
}

}  // namespace korvel
