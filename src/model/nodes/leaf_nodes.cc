// The constant nodes: numbers, texts, booleans, errors, missing arguments and array constants.
#include <cmath>
#include <string>

#include "engine/value_encoding.h"
#include "model/chunk_stream.h"
#include "model/nodes/node.h"
#include "model/nodes/node_record.h"
#include "model/nodes/node_text.h"

namespace korvel {

NumberNode::NumberNode(double x) { value_.setNumber(std::isfinite(x) ? x : 0.0); }

std::u16string NumberNode::formulaText(const CompiledModel* model) const {
  (void)model;
  return formulaLiteral(value_);
}

void NumberNode::writeRecord(int32_t parentIndex, ChunkStream& out) const {
  writeNodeHead(out, 16, kTagNumber, parentIndex);
  out.writeF64(value_.isNumeric() ? value_.number() : 0.0);
}

TextNode::TextNode(std::u16string_view text) { value_.setText(text); }

std::u16string TextNode::formulaText(const CompiledModel* model) const {
  (void)model;
  return quotedFormulaText(value_.text());
}

void TextNode::writeRecord(int32_t parentIndex, ChunkStream& out) const {
  const size_t fixed = fixedRecordLength(kTagText);
  std::u16string_view text = recordText(value_.isText() ? value_.text() : std::u16string_view(),
                                        kMaxNodeRecordLength - fixed);
  writeNodeHead(out, fixed + 2 * text.size(), kTagText, parentIndex);
  out.writeUtf16(text);
}

BooleanNode::BooleanNode(bool b) { value_.setBoolean(b); }

std::u16string BooleanNode::formulaText(const CompiledModel* model) const {
  (void)model;
  return formulaLiteral(value_);
}

void BooleanNode::writeRecord(int32_t parentIndex, ChunkStream& out) const {
  writeNodeHead(out, 12, kTagBoolean, parentIndex);
  out.writeU32(value_.isBoolean() && value_.boolean() ? 1 : 0);
}

ErrorNode::ErrorNode(uint32_t code) : code_(code) { value_.setError(code); }

std::u16string ErrorNode::formulaText(const CompiledModel* model) const {
  (void)model;
  // A code outside the seven has no text; the empty text keeps a call's argument list intact.
  return formulaLiteral(value_);
}

void ErrorNode::writeRecord(int32_t parentIndex, ChunkStream& out) const {
  writeNodeHead(out, 12, kTagError, parentIndex);
  out.writeU32(code_);
}

std::u16string MissingNode::formulaText(const CompiledModel* model) const {
  (void)model;
  return {};
}

void MissingNode::writeRecord(int32_t parentIndex, ChunkStream& out) const {
  writeNodeHead(out, 8, kTagMissing, parentIndex);
}

ArrayNode::ArrayNode(ValueArray array) { value_.setArray(std::move(array)); }

std::u16string ArrayNode::formulaText(const CompiledModel* model) const {
  (void)model;
  return formulaLiteral(value_);
}

void ArrayNode::writeRecord(int32_t parentIndex, ChunkStream& out) const {
  const size_t fixed = fixedRecordLength(kTagArray);
  static const ValueArray kNoArray;
  const ValueArray& array = value_.isArray() ? value_.array() : kNoArray;
  // Whole rows only, as many as the record can hold, so that a reader always finds full rows.
  // A workbook's array constants are far smaller than a record.
  std::string elements;
  uint32_t columns = array.size() ? array.columns() : 0;
  for (uint32_t r = 0; columns && r < array.rows(); ++r) {
    std::string row;
    for (uint32_t c = 0; c < columns; ++c) encodeValue(array.at(c, r), &row);
    if (fixed + elements.size() + row.size() > kMaxNodeRecordLength) break;
    elements += row;
  }
  if (elements.empty()) columns = 0;
  writeNodeHead(out, fixed + elements.size(), kTagArray, parentIndex);
  out.writeU32(columns);
  out.append(elements);
}

}  // namespace korvel
