// The indirect nodes, which stand for a node elsewhere: a defined name's expression, an entry of a
// shared expression table, or another formula root of the current cell.
#include <string>

#include "engine/value_convert.h"
#include "model/chunk_stream.h"
#include "model/compiled_model.h"
#include "model/nodes/node.h"
#include "model/nodes/node_record.h"

namespace korvel {

namespace {

// Indirect nodes may name each other in a circle (a name whose expression is the name itself, a
// shared entry that refers to itself); following one past this many steps means a circle, which
// then yields nothing instead of exhausting the stack.
constexpr int kMaxIndirection = 64;
int gIndirection = 0;

class IndirectionStep {
 public:
  IndirectionStep() { ++gIndirection; }
  ~IndirectionStep() { --gIndirection; }
  IndirectionStep(const IndirectionStep&) = delete;
  IndirectionStep& operator=(const IndirectionStep&) = delete;
  bool allowed() const { return gIndirection <= kMaxIndirection; }
};

const CompiledModel* currentModel() {
  const Cell* cell = currentCell();
  return cell ? cell->model : nullptr;
}

const Node* entryAt(const NodeList& table, uint32_t index) {
  return index < table.size() ? table[index].get() : nullptr;
}

void writeIndexRecord(ChunkStream& out, NodeTag tag, int32_t parentIndex, uint32_t index) {
  writeNodeHead(out, 12, tag, parentIndex);
  out.writeU32(index);
}

// The text of the node stood for, or text when there is none.
std::u16string targetText(const Node* target, const CompiledModel* model,
                          std::u16string_view text) {
  IndirectionStep step;
  if (!target || !step.allowed()) return std::u16string(text);
  return target->formulaText(model);
}

}  // namespace

const Value& IndirectNode::value() const {
  static const Value kNoValue;
  IndirectionStep step;
  if (!step.allowed()) return kNoValue;
  const Node* node = target();
  return node ? node->value() : kNoValue;
}

std::u16string NameRefNode::formulaText(const CompiledModel* model) const {
  if (!model || index_ >= model->names.size() || model->names[index_].name.empty()) {
    return errorText(kErrorName);
  }
  return model->names[index_].name;
}

void NameRefNode::writeRecord(int32_t parentIndex, ChunkStream& out) const {
  writeIndexRecord(out, kTagNameRef, parentIndex, index_);
}

const Node* NameRefNode::target() const {
  if (resolved_) return target_;
  const CompiledModel* model = currentModel();
  if (!model || index_ >= model->names.size()) return nullptr;
  target_ = model->names[index_].root.get();
  resolved_ = target_ != nullptr;
  return target_;
}

std::u16string SharedRefNode::formulaText(const CompiledModel* model) const {
  const Node* node =
      model ? entryAt(table_ == 1 ? model->sharedTable1 : model->sharedTable2, index_) : target();
  return targetText(node, model, errorText(kErrorRef));
}

void SharedRefNode::writeRecord(int32_t parentIndex, ChunkStream& out) const {
  writeIndexRecord(out, tag(), parentIndex, index_);
}

const Node* SharedRefNode::target() const {
  if (resolved_) return target_;
  const CompiledModel* model = currentModel();
  if (!model) return nullptr;
  target_ = entryAt(table_ == 1 ? model->sharedTable1 : model->sharedTable2, index_);
  resolved_ = target_ != nullptr;
  return target_;
}

std::u16string LocalRefNode::formulaText(const CompiledModel* model) const {
  const Cell* cell = currentCell();
  const Node* root = cell && cell->firstListIndex >= 0 ? target() : nullptr;
  std::string digits = "@" + std::to_string(index_);
  return targetText(root, model, std::u16string(digits.begin(), digits.end()));
}

void LocalRefNode::writeRecord(int32_t parentIndex, ChunkStream& out) const {
  writeIndexRecord(out, kTagLocalRef, parentIndex, index_);
}

// Resolved afresh on every use: the root belongs to whichever cell is current, so a cached target
// would tie a node reached from several cells to the first of them.
const Node* LocalRefNode::target() const {
  const Cell* cell = currentCell();
  if (!cell || index_ >= cell->formulaRoots.size()) return nullptr;
  return cell->formulaRoots[index_].get();
}

}  // namespace korvel
