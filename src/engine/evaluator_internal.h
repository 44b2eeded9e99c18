// Pieces of the evaluator shared by its source files: reading cells behind references, the
// element-by-element (broadcast) rules, the scalar operators and comparisons, and function calls.
// Not part of the engine's interface; evaluator.h is.
#ifndef KORVEL_ENGINE_EVALUATOR_INTERNAL_H_
#define KORVEL_ENGINE_EVALUATOR_INTERNAL_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/engine.h"
#include "engine/value.h"
#include "model/cell.h"
#include "model/nodes/node.h"

namespace korvel::evaluation {

// A number of elements fixed when it is made, in place up to N and on the heap beyond: the
// operands and arguments of one evaluation, which nearly always fit, so that evaluating a formula
// allocates nothing.
template <class T, size_t N>
class InlineArray {
 public:
  // Value-initialised elements. Throws std::bad_alloc.
  explicit InlineArray(size_t size) : size_(size) {
    if (size > N) heap_ = std::make_unique<T[]>(size);
  }
  InlineArray(const InlineArray&) = delete;
  InlineArray& operator=(const InlineArray&) = delete;

  size_t size() const { return size_; }
  T* data() { return heap_ ? heap_.get() : inline_; }
  const T* data() const { return heap_ ? heap_.get() : inline_; }
  T& operator[](size_t i) { return data()[i]; }
  const T& operator[](size_t i) const { return data()[i]; }
  T* begin() { return data(); }
  T* end() { return data() + size_; }
  const T* begin() const { return data(); }
  const T* end() const { return data() + size_; }
  std::span<const T> span() const { return std::span<const T>(data(), size_); }

 private:
  T inline_[N]{};
  std::unique_ptr<T[]> heap_;
  size_t size_;
};

// Broadcast results larger than this many elements give #VALUE! instead of exhausting memory
// (A:A + 1 still fits; A:XFD does not).
inline constexpr uint64_t kMaxArrayElements = uint64_t{1} << 21;

// The value a cell shows: empty for a missing cell or a cell without value, the first element of
// an array value (empty for an array without elements), else the value.
void readCellValue(const Cell* cell, Value& out);

// For a normalised range: valid and on one sheet.
bool onOneSheet(const RangeRef& range);
// A reference value (after normalising) to exactly one cell.
bool isSingleCellReference(const Value& value);

// Grows columns and rows to cover the argument: an array by its size, a reference on one sheet by
// its normalised range; anything else counts nothing.
void coverShape(const Value& argument, uint32_t& columns, uint32_t& rows);
// The element that an argument supplies at (column, row) of a broadcast: arrays repeat a single
// column or row and give #N/A outside, references supply cell values (empty outside the range),
// everything else supplies itself.
void broadcastElement(Engine& engine, const Value& argument, uint32_t column, uint32_t row,
                      Value& out);

// One operator on single operands (b is null for negation and percent). References are resolved
// and errors propagated first.
void applyOperator(Engine& engine, uint8_t code, const Value& a, const Value* b, Value& out);
// One comparison on single operands, with the same resolving and error propagation.
void applyComparison(Engine& engine, uint8_t code, const Value& a, const Value& b, Value& out);

// A function call: arguments evaluated as the function's argument classes ask, then the native
// routine or the host program, element by element where the rules call for it.
void evaluateCall(Engine& engine, const CallNode& node, int mode, Value& result);

// In value modes a reference result stands for the value of its single cell (#VALUE! otherwise);
// other results stay.
void finishForMode(Engine& engine, int mode, Value& result);

}  // namespace korvel::evaluation

#endif  // KORVEL_ENGINE_EVALUATOR_INTERNAL_H_
