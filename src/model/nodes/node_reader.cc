// Reading one node record into a node and hanging it under its parent.
#include "model/nodes/node_reader.h"

#include <string>
#include <utility>

#include "engine/value_encoding.h"
#include "model/chunk_stream.h"
#include "model/compiled_model.h"
#include "model/nodes/node_record.h"

namespace korvel {

namespace {

NodeReadStatus fail(std::string* error, std::string message) {
  if (error) *error = std::move(message);
  return NodeReadStatus::kError;
}

std::string tagText(uint16_t tag) { return "node record of tag " + std::to_string(tag); }

CellRef cellRefAt(const char* bytes) { return CellRef{recordU32(bytes), recordU32(bytes + 4)}; }

// The array constant of a tag-21 record, or null with *error set.
std::unique_ptr<Node> readArray(const std::string& record, std::string* error) {
  const uint32_t columns = recordU32(record.data() + 8);
  std::vector<Value> elements;
  for (size_t at = 12; at < record.size();) {
    Value element;
    size_t used = decodeValue(record.data() + at, record.size() - at, &element);
    if (used == 0 || element.hasArray()) {
      fail(error,
           "array constant record holds an undecodable element at byte " + std::to_string(at));
      return nullptr;
    }
    elements.push_back(std::move(element));
    at += used;
  }
  if (elements.empty()) return std::make_unique<ArrayNode>(ValueArray());
  if (columns == 0 || elements.size() % columns != 0) {
    fail(error, "array constant record holds " + std::to_string(elements.size()) +
                    " elements, which do not fill rows of " + std::to_string(columns) + " columns");
    return nullptr;
  }
  ValueArray array(columns, static_cast<uint32_t>(elements.size() / columns));
  array.elements() = std::move(elements);
  return std::make_unique<ArrayNode>(std::move(array));
}

// The node of a record whose length suits its tag, or null with *error set.
std::unique_ptr<Node> buildNode(uint16_t tag, const std::string& record, CompiledModel& model,
                                std::string* error) {
  const char* p = record.data();
  const size_t length = record.size();
  switch (tag) {
    case kTagCellRef: {
      CellRef address = cellRefAt(p + 8);
      return std::make_unique<CellRefNode>(address.isNone() ? nullptr : model.cellAt(address));
    }
    case kTagNumber:
      return std::make_unique<NumberNode>(recordF64(p + 8));
    case kTagUnion:
      return std::make_unique<UnionNode>();
    case kTagSharedRef1:
      return std::make_unique<SharedRefNode>(1, recordU32(p + 8));
    case kTagBoolean:
      return std::make_unique<BooleanNode>(recordU32(p + 8) != 0);
    case kTagOperator:
      return std::make_unique<OperatorNode>(static_cast<uint8_t>(p[8]));
    case kTagText:
      return std::make_unique<TextNode>(textFromRecord(p + 8, length - 8));
    case kTagDdeRef:
      return std::make_unique<DdeRefNode>(recordU32(p + 8), recordU32(p + 12),
                                          textFromRecord(p + 16, length - 16));
    case kTagCall:
      // The two zero units after the name go with the trailing zeros of the text.
      return std::make_unique<CallNode>(
          textFromRecord(p + kCallNameOffset, length - kCallNameOffset), recordU32(p + 8),
          model.functions);
    case kTagExternalRef:
      return std::make_unique<ExternalRefNode>(recordU16(p + 8),
                                               textFromRecord(p + 10, length - 10));
    case kTagLocalRef:
      return std::make_unique<LocalRefNode>(recordU32(p + 8));
    case kTagComparison:
      return std::make_unique<ComparisonNode>(static_cast<uint8_t>(p[8]));
    case kTagError:
      return std::make_unique<ErrorNode>(recordU32(p + 8));
    case kTagRangeRef:
      return std::make_unique<RangeRefNode>(RangeRef{cellRefAt(p + 8), cellRefAt(p + 16)},
                                            static_cast<uint8_t>(p[24]));
    case kTagArray:
      return readArray(record, error);
    case kTagNameRef:
      return std::make_unique<NameRefNode>(recordU32(p + 8));
    case kTagSharedRef2:
      return std::make_unique<SharedRefNode>(2, recordU32(p + 8));
    case kTagIntersection:
      return std::make_unique<IntersectionNode>();
    case kTagMissing:
      return std::make_unique<MissingNode>();
    default:
      fail(error, tagText(tag) + " has no node class");
      return nullptr;
  }
}

// Levels from the root down to a new child of parent, counting no further than the limit.
size_t depthBelow(const Node* parent) {
  size_t depth = 1;
  for (const Node* n = parent; n && depth <= kMaxNodeDepth; n = n->parent()) ++depth;
  return depth;
}

}  // namespace

NodeReadStatus readNode(ChunkStream& in, CompiledModel& model, std::vector<Node*>& local,
                        std::unique_ptr<Node>* root, std::string* error) {
  char head[kNodeHeadLength];
  if (in.peek(kNodeHeadLength, head) != kNodeHeadLength) {
    return fail(error, "the stream ends inside a node record head");
  }
  const uint16_t length = recordU16(head);
  const uint16_t tag = recordU16(head + 2);
  const int32_t parentIndex = static_cast<int32_t>(recordU32(head + 4));
  if (length < kNodeHeadLength) {
    return fail(error,
                tagText(tag) + " has length " + std::to_string(length) + ", shorter than its head");
  }
  std::string record(length, '\0');
  if (in.read(length, record.data()) != length) {
    return fail(error, "the stream ends inside a " + tagText(tag) + " of " +
                           std::to_string(length) + " bytes");
  }

  const size_t fixed = fixedRecordLength(tag);
  if (fixed == 0) {
    local.push_back(nullptr);
    return NodeReadStatus::kNoNode;
  }
  if (length < fixed) {
    return fail(error, tagText(tag) + " has length " + std::to_string(length) +
                           ", shorter than its fixed part of " + std::to_string(fixed));
  }
  if (length > maxRecordLength(tag)) {
    return fail(error, tagText(tag) + " has length " + std::to_string(length) +
                           ", longer than the " + std::to_string(maxRecordLength(tag)) +
                           " bytes it may have");
  }

  Node* parent = nullptr;
  if (parentIndex != -1) {
    if (parentIndex < 0 || static_cast<size_t>(parentIndex) >= local.size()) {
      return fail(error, tagText(tag) + " names parent " + std::to_string(parentIndex) +
                             ", which is not an earlier record");
    }
    parent = local[parentIndex];
    if (!parent) {
      return fail(error, tagText(tag) + " names parent " + std::to_string(parentIndex) +
                             ", a record that yielded no node");
    }
    if (!parent->isComposite()) {
      return fail(error, tagText(tag) + " names parent " + std::to_string(parentIndex) +
                             ", a node of tag " + std::to_string(parent->tag()) +
                             " that takes no children");
    }
    if (depthBelow(parent) > kMaxNodeDepth) {
      return fail(error,
                  tagText(tag) + " lies deeper than " + std::to_string(kMaxNodeDepth) + " levels");
    }
  } else if (!root || *root) {
    return fail(error, tagText(tag) + " is a root, but the previous root was not taken");
  }

  std::unique_ptr<Node> node = buildNode(tag, record, model, error);
  if (!node) return NodeReadStatus::kError;
  Node* built = node.get();
  if (parent) {
    parent->addChild(std::move(node));
  } else {
    *root = std::move(node);
  }
  local.push_back(built);
  return NodeReadStatus::kNode;
}

}  // namespace korvel
