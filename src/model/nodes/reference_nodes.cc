// The reference nodes: a cell, a range, an item of a DDE link and a reference into another
// workbook.
#include <string>

#include "engine/value_convert.h"
#include "model/address.h"
#include "model/chunk_stream.h"
#include "model/compiled_model.h"
#include "model/nodes/node.h"
#include "model/nodes/node_record.h"
#include "model/nodes/node_text.h"

namespace korvel {

namespace {

void writeCellRef(ChunkStream& out, CellRef cell) {
  out.writeU32(cell.rowWord);
  out.writeU32(cell.columnWord);
}

std::u16string referenceError() { return errorText(kErrorRef); }

std::u16string rowNumberText(uint32_t row) {
  std::string digits = std::to_string(row + 1);
  return std::u16string(digits.begin(), digits.end());
}

// Apostrophes doubled, for text inside a quoted reference.
std::u16string doubledApostrophes(std::u16string_view text) {
  std::u16string out;
  for (char16_t u : text) {
    out += u;
    if (u == u'\'') out += u'\'';
  }
  return out;
}

}  // namespace

CellRefNode::CellRefNode(Cell* cell) : cell_(cell) {}

CellRef CellRefNode::address() const { return cell_ ? cell_->address : CellRef::none(); }

std::u16string CellRefNode::formulaText(const CompiledModel* model) const {
  CellRef cell = address();
  if (cell.isNone()) return referenceError();
  bool known;
  std::u16string text = sheetPrefix(model, cell.sheet(), &known);
  if (!known) return referenceError();
  return text + cellText(cell);
}

void CellRefNode::writeRecord(int32_t parentIndex, ChunkStream& out) const {
  writeNodeHead(out, 16, kTagCellRef, parentIndex);
  writeCellRef(out, address());
}

RangeRefNode::RangeRefNode(RangeRef range, uint8_t flags) : flags_(flags) {
  value_.setReference(range.first, range.last);
}

std::u16string RangeRefNode::formulaText(const CompiledModel* model) const {
  const RangeRef range = this->range();
  const CellRef first = range.first;
  const CellRef last = range.last.isNone() ? first : range.last;
  if (first.isNone()) return referenceError();
  std::u16string area;
  if (flags_ & kRangeWholeColumns) {
    area = columnLetters(first.column()) + u":" + columnLetters(last.column());
  } else if (flags_ & kRangeWholeRows) {
    area = rowNumberText(first.row()) + u":" + rowNumberText(last.row());
  } else {
    area = rangeText(RangeRef{first, last});
  }
  if (area.empty()) return referenceError();
  bool known;
  std::u16string text = sheetPrefix(model, first.sheet(), &known);
  if (!known) return referenceError();
  return text + area;
}

void RangeRefNode::writeRecord(int32_t parentIndex, ChunkStream& out) const {
  writeNodeHead(out, 32, kTagRangeRef, parentIndex);
  const RangeRef range = this->range();
  writeCellRef(out, range.first);
  writeCellRef(out, range.last);
  out.writeU8(flags_);
  for (int i = 0; i < 7; ++i) out.writeU8(0);
}

DdeRefNode::DdeRefNode(uint32_t link, uint32_t item, std::u16string itemName)
    : link_(link), item_(item), itemName_(std::move(itemName)) {}

std::u16string DdeRefNode::formulaText(const CompiledModel* model) const {
  if (!model || link_ >= model->ddeLinks.size()) return referenceError();
  const DdeLink& link = model->ddeLinks[link_];
  return quoteSheetName(link.service) + u"|" + quoteSheetName(link.topic) + u"!" +
         quoteSheetName(itemName_);
}

void DdeRefNode::writeRecord(int32_t parentIndex, ChunkStream& out) const {
  const size_t fixed = fixedRecordLength(kTagDdeRef);
  std::u16string_view text = recordText(itemName_, kMaxLinkRecordLength - fixed);
  writeNodeHead(out, fixed + 2 * text.size(), kTagDdeRef, parentIndex);
  out.writeU32(link_);
  out.writeU32(item_);
  out.writeUtf16(text);
}

ExternalRefNode::ExternalRefNode(uint16_t workbook, std::u16string referenceText)
    : workbook_(workbook), referenceText_(std::move(referenceText)) {}

std::u16string ExternalRefNode::formulaText(const CompiledModel* model) const {
  if (!model || workbook_ >= model->externalWorkbooks.size()) return referenceError();
  const ExternalWorkbook& book = model->externalWorkbooks[workbook_];
  // The host program writes the folder, then the file name in brackets: the full path is the
  // folder with its separator followed by the file name.
  std::u16string folder;
  const std::u16string& full = book.fullPath;
  if (full.size() > book.fileName.size() &&
      full.compare(full.size() - book.fileName.size(), book.fileName.size(), book.fileName) == 0) {
    folder = full.substr(0, full.size() - book.fileName.size());
  } else {
    folder = book.path;
    if (!folder.empty() && folder.back() != u'\\' && folder.back() != u'/') folder += u'\\';
  }
  return u"'" + doubledApostrophes(folder) + u"[" + doubledApostrophes(book.fileName) + u"]" +
         referenceText_;
}

void ExternalRefNode::writeRecord(int32_t parentIndex, ChunkStream& out) const {
  const size_t fixed = fixedRecordLength(kTagExternalRef);
  std::u16string_view text = recordText(referenceText_, kMaxLinkRecordLength - fixed);
  writeNodeHead(out, fixed + 2 * text.size(), kTagExternalRef, parentIndex);
  out.writeU16(workbook_);
  out.writeUtf16(text);
}

}  // namespace korvel
