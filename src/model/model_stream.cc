#include "model/model_stream.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/value_encoding.h"
#include "model/address.h"
#include "model/nodes/node.h"
#include "model/nodes/node_reader.h"
#include "util/text.h"

namespace korvel {
namespace {

// Expression bytes of defined names are copied in pieces of this size, so that no piece needs
// more than the buffer and one further chunk.
constexpr size_t kCopySlice = 1 << 16;

const char* const kSectionNames[] = {"model header",
                                     "grid extents",
                                     "sheet table",
                                     "control table",
                                     "constant table",
                                     "external workbooks",
                                     "DDE links",
                                     "defined names",
                                     "cells",
                                     "cell formulas",
                                     "referenced ranges",
                                     "shared expression table 2",
                                     "shared expression table 1"};

uint16_t getU16(const unsigned char* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t getU32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
CellRef getCellRef(const unsigned char* p) { return CellRef{getU32(p), getU32(p + 4)}; }

std::string addressText(CellRef ref) {
  if (ref.isNone()) return "the no-cell address";
  return "sheet " + std::to_string(ref.sheet()) + " row " + std::to_string(ref.row()) + " column " +
         std::to_string(ref.column());
}

}  // namespace

Hyperlink classifyHyperlink(std::u16string text) {
  Hyperlink link;
  if (startsWithNoCase(text, u"http://") || startsWithNoCase(text, u"https://")) {
    link.kind = Hyperlink::kWeb;
  } else if (startsWithNoCase(text, u"mailto:")) {
    link.kind = Hyperlink::kMail;
  } else if (!text.empty() && text[0] == u'#') {
    link.kind = Hyperlink::kInWorkbook;
    link.target = text.substr(1);
    return link;
  } else {
    link.kind = Hyperlink::kFile;
  }
  link.address = std::move(text);
  return link;
}

namespace {

// The text a cell record carries for the hyperlink: in-workbook links as "#" and their target.
std::u16string hyperlinkText(const Hyperlink& link) {
  if (link.kind == Hyperlink::kInWorkbook) return u"#" + link.target;
  return link.address;
}

// Windows paths stay as they are: a drive letter or a leading backslash already makes them
// absolute, and a relative path has no working directory of this process to be resolved against.
std::u16string fullWorkbookPath(const std::u16string& path, const std::u16string& fileName) {
  std::u16string full = path;
  if (full.empty() || full.back() != u'\\') full.push_back(u'\\');
  return full + fileName;
}

void resetModel(CompiledModel& model) {
  model.names.clear();
  model.nameIndex.clear();
  model.sharedTable1.clear();
  model.sharedTable2.clear();
  model.rangeIndex().clear();
  model.controls.clear();
  model.constants.clear();
  model.externalWorkbooks.clear();
  model.ddeLinks.clear();
  model.headerTails.clear();
  model.sheetFlags.clear();
  model.duplicateExternalWorkbooks.clear();
  model.clearCells();
  model.sheets().clear();
  model.applicationId = 0;
  model.formatVersion = kModelFormatVersion;
}

// ---------------------------------------------------------------------------------------------
// Loading

class Loader {
 public:
  Loader(ChunkStream& in, CompiledModel& model) : in_(in), model_(model) {}

  bool run();
  const std::string& error() const { return error_; }

 private:
  struct PendingName {
    std::u16string name;
    int32_t scope;
    uint32_t length;  // bytes of the expression
    uint64_t offset;  // where the expression starts in the model stream
    uint32_t record;  // record number in section 7
  };

  bool fail(const std::string& what);
  void startSection(int section) {
    section_ = section;
    record_ = -1;
    node_ = -1;
    offset_ = in_.total();
  }
  void startRecord(uint64_t record) {
    record_ = int64_t(record);
    node_ = -1;
    offset_ = in_.total();
  }

  bool readBytes(size_t n, void* destination, const char* what);
  bool skip(uint64_t n, const char* what);
  bool readText(uint64_t bytes, std::u16string* out, const char* what);
  // Reads a head whose length field (u8, u16 or u32 by width) comes first: the fixed part into
  // head, the rest of a longer head skipped.
  bool readHead(int width, uint32_t fixedLength, unsigned char* head, const char* what);
  // Reads a section header with a u32 length prefix; its fixed part (length included) into head.
  bool readSectionHeader(uint32_t fixedLength, unsigned char* head);

  bool readSection(int section);
  bool modelHeader();
  bool gridExtents();
  bool sheetTable();
  bool controlTable();
  bool constantTable();
  bool externalWorkbooks();
  bool ddeLinks();
  bool definedNames();
  bool cells();
  bool cellFormulas();
  bool referencedRanges();
  bool sharedTable2();
  bool sharedTable1();

  bool afterCells();
  bool applyExtents();
  bool buildNames();
  void fillRangeIndex();

  ChunkStream& in_;
  CompiledModel& model_;
  std::string error_;
  int section_ = 0;
  int64_t record_ = -1;
  int64_t node_ = -1;
  uint64_t offset_ = 0;

  uint32_t sheetCount_ = 0;
  uint32_t cellCount_ = 0;
  uint32_t nameCount_ = 0;
  std::vector<GridExtent> extents_;
  std::vector<uint64_t> extentOffsets_;
  std::vector<PendingName> pendingNames_;
  std::string nameExpressions_;
  bool cellsDone_ = false;
};

bool Loader::fail(const std::string& what) {
  error_ = "model section " + std::to_string(section_) + " (" + kSectionNames[section_] + "), ";
  error_ += record_ < 0 ? std::string("header") : "record " + std::to_string(record_);
  if (node_ >= 0) error_ += ", node record " + std::to_string(node_);
  error_ += ", byte " + std::to_string(offset_) + ": " + what;
  return false;
}

bool Loader::readBytes(size_t n, void* destination, const char* what) {
  if (n == 0 || in_.read(n, destination) == n) return true;
  return fail(std::string(what) + " cut short");
}

bool Loader::skip(uint64_t n, const char* what) {
  // Only a longer head is skipped, so the bytes lie in the buffer and one further chunk.
  if (n == 0) return true;
  if (uint64_t(size_t(n)) != n || in_.read(size_t(n), nullptr) != n) {
    return fail(std::string(what) + " cut short");
  }
  return true;
}

bool Loader::readText(uint64_t bytes, std::u16string* out, const char* what) {
  out->clear();
  uint64_t units = bytes / 2;
  if (units > 0 && (units > SIZE_MAX / 2 || in_.readUtf16(size_t(units), out) != 2 * units)) {
    return fail(std::string(what) + " cut short");
  }
  // An odd length leaves a byte that belongs to no unit; it is part of the record all the same.
  return skip(bytes % 2, what);
}

bool Loader::readHead(int width, uint32_t fixedLength, unsigned char* head, const char* what) {
  unsigned char field[4];
  if (in_.peek(size_t(width), field) != size_t(width)) {
    return fail(std::string(what) + " cut short");
  }
  uint32_t length = width == 1 ? field[0] : width == 2 ? getU16(field) : getU32(field);
  if (length < fixedLength) {
    return fail(std::string(what) + " length " + std::to_string(length) +
                " is shorter than its fixed part of " + std::to_string(fixedLength) + " bytes");
  }
  return readBytes(fixedLength, head, what) && skip(length - fixedLength, what);
}

bool Loader::readSectionHeader(uint32_t fixedLength, unsigned char* head) {
  uint32_t length = 0;
  if (!in_.peekU32(&length)) return fail("section header cut short");
  if (length < fixedLength) {
    return fail("section header length " + std::to_string(length) + " is shorter than " +
                std::to_string(fixedLength));
  }
  if (!readBytes(fixedLength, head, "section header")) return false;
  if (length > fixedLength) {
    size_t extra = length - fixedLength;
    if (!in_.ensure(extra)) return fail("section header cut short");
    std::string tail(extra, '\0');
    if (!readBytes(extra, tail.data(), "section header")) return false;
    model_.headerTails[section_] = std::move(tail);
  }
  return true;
}

bool Loader::run() {
  resetModel(model_);
  startSection(0);
  if (!modelHeader()) return false;
  for (int section = 1; section <= 12; ++section) {
    startSection(section);
    // Sections 2 and 8 have no header: their counts, given by the model header, say whether the
    // stream may end before them (a count of 0) or not (the first record read fails).
    if (section != 2 && section != 8 && !in_.hasUnread()) {
      if (section <= 7 && nameCount_ > 0) {
        return fail("the stream ends before the " + std::to_string(nameCount_) +
                    " defined names that the model header counts");
      }
      break;
    }
    if (!readSection(section)) return false;
    if (section == 8 && !afterCells()) return false;
  }
  if (!cellsDone_ && !afterCells()) return false;
  fillRangeIndex();
  return true;
}

bool Loader::readSection(int section) {
  switch (section) {
    case 1:
      return gridExtents();
    case 2:
      return sheetTable();
    case 3:
      return controlTable();
    case 4:
      return constantTable();
    case 5:
      return externalWorkbooks();
    case 6:
      return ddeLinks();
    case 7:
      return definedNames();
    case 8:
      return cells();
    case 9:
      return cellFormulas();
    case 10:
      return referencedRanges();
    case 11:
      return sharedTable2();
    case 12:
      return sharedTable1();
  }
  return true;
}

bool Loader::modelHeader() {
  unsigned char head[kModelHeaderLength];
  if (in_.peek(kModelHeaderLength, head) != kModelHeaderLength) {
    return fail("model header cut short");
  }
  uint32_t length = getU32(head + 4);
  if (getU32(head) != kModelMagic) return fail("the stream does not begin with \"KVGR\"");
  if (length < kModelHeaderLength) {
    return fail("header length " + std::to_string(length) + " is shorter than 24");
  }
  if (!readBytes(kModelHeaderLength, head, "model header")) return false;
  if (length > kModelHeaderLength) {
    size_t extra = length - kModelHeaderLength;
    if (!in_.ensure(extra)) return fail("model header cut short");
    std::string tail(extra, '\0');
    if (!readBytes(extra, tail.data(), "model header")) return false;
    model_.headerTails[0] = std::move(tail);
  }
  model_.formatVersion = getU16(head + 8);
  sheetCount_ = getU16(head + 10);
  cellCount_ = getU32(head + 12);
  nameCount_ = getU32(head + 16);
  model_.applicationId = getU32(head + 20);
  return true;
}

bool Loader::gridExtents() {
  unsigned char head[kSectionHeaderLength];
  if (!readSectionHeader(kSectionHeaderLength, head)) return false;
  uint32_t count = getU32(head + 4);
  for (uint32_t i = 0; i < count; ++i) {
    startRecord(i);
    unsigned char r[kGridExtentLength];
    if (!readBytes(sizeof r, r, "grid extent")) return false;
    extents_.push_back({getU16(r), getU16(r + 2), getU32(r + 4), getU32(r + 8)});
    extentOffsets_.push_back(offset_);
  }
  return true;
}

bool Loader::sheetTable() {
  for (uint32_t i = 0; i < sheetCount_; ++i) {
    startRecord(i);
    unsigned char r[kSheetRecordLength];
    if (!readHead(2, kSheetRecordLength, r, "sheet record")) return false;
    std::u16string name, excelName;
    if (!readText(getU16(r + 28), &name, "sheet name") ||
        !readText(getU16(r + 30), &excelName, "sheet's Excel name")) {
      return false;
    }
    uint32_t index = getU16(r + 2);
    uint32_t flags = getU32(r + 24);
    Sheet& sheet = model_.sheets().add(Sheet(index, std::move(name), std::move(excelName)));
    sheet.range = RangeRef{getCellRef(r + 8), getCellRef(r + 16)};
    sheet.eventFlag = (flags & 1) != 0;
    model_.sheetFlags[index] = flags;
  }
  return true;
}

bool Loader::controlTable() {
  unsigned char head[kCountedSectionHeaderLength];
  if (!readSectionHeader(kCountedSectionHeaderLength, head)) return false;
  uint32_t groups = getU32(head + 4);
  uint32_t totalLength = getU32(head + 8);
  uint64_t start = in_.total();
  uint64_t record = 0;
  for (uint32_t g = 0; g < groups; ++g) {
    startRecord(record++);
    unsigned char gh[kControlGroupHeadLength];
    if (!readHead(4, kControlGroupHeadLength, gh, "control group head")) return false;
    ControlGroup group;
    group.word = getU32(gh + 4);
    uint32_t items = group.word & 0xFFFF;
    for (uint32_t i = 0; i < items; ++i) {
      startRecord(record++);
      unsigned char ih[kControlItemHeadLength];
      if (!readHead(4, kControlItemHeadLength, ih, "control item head")) return false;
      ControlItem item;
      item.attribute1 = getU16(ih + 4);
      item.attribute2 = getU16(ih + 6);
      item.linkedCell = getCellRef(ih + 8);
      if (!readText(getU32(ih + 16), &item.name, "control name") ||
          !readText(getU32(ih + 20), &item.text2, "control text 2") ||
          !readText(getU32(ih + 24), &item.text3, "control text 3") ||
          !readText(getU32(ih + 28), &item.groupName, "control group name")) {
        return false;
      }
      group.items.push_back(std::move(item));
    }
    model_.controls.push_back(std::move(group));
  }
  uint64_t used = in_.total() - start;
  if (used != totalLength) {
    record_ = -1;
    offset_ = start;
    return fail("the groups take " + std::to_string(used) + " bytes, the header says " +
                std::to_string(totalLength));
  }
  return true;
}

bool Loader::constantTable() {
  unsigned char head[kCountedSectionHeaderLength];
  if (!readSectionHeader(kCountedSectionHeaderLength, head)) return false;
  uint32_t count = getU32(head + 4);
  uint32_t blockLength = getU32(head + 8);
  // Every value takes at least its kind byte.
  if (count > blockLength) {
    return fail(std::to_string(count) + " values cannot fit in a block of " +
                std::to_string(blockLength) + " bytes");
  }
  offset_ = in_.total();
  if (blockLength > 0 && !in_.ensure(blockLength)) return fail("value block cut short");
  std::string block(blockLength, '\0');
  if (!readBytes(blockLength, block.data(), "value block")) return false;
  size_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    Value value;
    size_t taken = decodeValue(block.data() + at, block.size() - at, &value);
    if (taken == 0) {
      record_ = i;
      offset_ += at;
      return fail("not a value, or a value running past the block");
    }
    at += taken;
    model_.constants.push_back(std::move(value));
  }
  if (at != block.size()) {
    return fail("the value block holds " + std::to_string(block.size() - at) + " bytes after its " +
                std::to_string(count) + " values");
  }
  return true;
}

bool Loader::externalWorkbooks() {
  unsigned char head[kSectionHeaderLength];
  if (!readSectionHeader(kSectionHeaderLength, head)) return false;
  uint32_t count = getU32(head + 4);
  std::set<std::u16string> known;
  for (uint32_t i = 0; i < count; ++i) {
    startRecord(i);
    unsigned char r[kExternalWorkbookHeadLength];
    if (!readHead(4, kExternalWorkbookHeadLength, r, "external workbook head")) return false;
    ExternalWorkbook workbook;
    if (!readText(getU16(r + 4), &workbook.path, "workbook path") ||
        !readText(getU16(r + 6), &workbook.fileName, "workbook file name")) {
      return false;
    }
    workbook.fullPath = fullWorkbookPath(workbook.path, workbook.fileName);
    if (known.insert(workbook.fullPath).second) {
      model_.externalWorkbooks.push_back(std::move(workbook));
    } else {
      model_.duplicateExternalWorkbooks.emplace_back(i, std::move(workbook));
    }
  }
  return true;
}

bool Loader::ddeLinks() {
  unsigned char head[kSectionHeaderLength];
  if (!readSectionHeader(kSectionHeaderLength, head)) return false;
  uint32_t count = getU32(head + 4);
  uint64_t record = 0;
  for (uint32_t l = 0; l < count; ++l) {
    startRecord(record++);
    unsigned char lh[kDdeLinkHeadLength];
    if (!readHead(4, kDdeLinkHeadLength, lh, "DDE link head")) return false;
    DdeLink link;
    if (!readText(getU16(lh + 4), &link.service, "DDE service name") ||
        !readText(getU16(lh + 6), &link.topic, "DDE topic name")) {
      return false;
    }
    uint32_t items = getU32(lh + 8);
    for (uint32_t i = 0; i < items; ++i) {
      startRecord(record++);
      unsigned char ih[kDdeItemHeadLength];
      if (!readHead(4, kDdeItemHeadLength, ih, "DDE item head")) return false;
      DdeItem item;
      if (!readText(getU32(ih + 4), &item.name, "DDE item name")) return false;
      uint32_t cells = getU32(ih + 8);
      for (uint32_t c = 0; c < cells; ++c) {
        unsigned char ref[8];
        if (!readBytes(sizeof ref, ref, "DDE item cells")) return false;
        item.cells.insert(getCellRef(ref));
      }
      link.items.push_back(std::move(item));
    }
    model_.ddeLinks.push_back(std::move(link));
  }
  return true;
}

// The expressions are kept as bytes and built after section 8, so that the cells of section 8
// are created in record order: cell identity, and with it the order of the written model, then
// follows the stored order even where a name refers to a cell whose record comes later.
bool Loader::definedNames() {
  unsigned char head[kSectionHeaderLength];
  if (!readSectionHeader(kSectionHeaderLength, head)) return false;
  uint32_t count = getU32(head + 4);
  if (count != nameCount_) {
    return fail("the section counts " + std::to_string(count) + " names, the model header " +
                std::to_string(nameCount_));
  }
  for (uint32_t i = 0; i < count; ++i) {
    startRecord(i);
    unsigned char r[kNameRecordHeadLength];
    if (!readHead(2, kNameRecordHeadLength, r, "name record head")) return false;
    PendingName pending;
    if (!readText(getU16(r + 2), &pending.name, "name")) return false;
    pending.scope = int32_t(getU32(r + 4));
    pending.length = getU32(r + 8);
    pending.offset = in_.total();
    pending.record = i;
    for (uint32_t left = pending.length; left > 0;) {
      size_t piece = std::min<size_t>(left, kCopySlice);
      size_t at = nameExpressions_.size();
      if (!in_.ensure(piece)) return fail("name expression cut short");
      nameExpressions_.resize(at + piece);
      if (!readBytes(piece, nameExpressions_.data() + at, "name expression")) return false;
      left -= uint32_t(piece);
    }
    pendingNames_.push_back(std::move(pending));
  }
  return true;
}

bool Loader::cells() {
  for (uint32_t i = 0; i < cellCount_; ++i) {
    startRecord(i);
    unsigned char r[kCellRecordHeadLength];
    if (!readHead(1, kCellRecordHeadLength, r, "cell record head")) return false;
    CellRef address = getCellRef(r + 8);
    uint32_t valueLength = getU32(r + 16);
    uint32_t flags = getU32(r + 20);
    int32_t listIndex = int32_t(getU32(r + 24));
    uint32_t linkUnits = getU32(r + 28);
    uint32_t rangeLength = getU32(r + 32);

    if (!address.isNone() && model_.findCell(address)) {
      return fail("a second record for the cell at " + addressText(address));
    }
    Cell* cell = model_.newCell();
    cell->address = address;
    cell->flags = (cell->flags & ~kCellRecordFlags) | (flags & kCellRecordFlags);
    if (flags & kCellRecordEventMarker) cell->flags |= kCellEventMarker;
    if (flags & kCellRecordSecondListIndex) {
      cell->setSecondListIndex(listIndex);
      cell->firstListIndex = -1;
    } else {
      cell->firstListIndex = listIndex;
      cell->setSecondListIndex(-1);
    }

    if (valueLength > 0) {
      if (!in_.ensure(valueLength)) return fail("value payload cut short");
      std::string payload(valueLength, '\0');
      if (!readBytes(valueLength, payload.data(), "value payload")) return false;
      Value value;
      if (decodeValue(payload.data(), payload.size(), &value) == 0) {
        return fail("the value payload holds no value");
      }
      cell->ensureValue() = std::move(value);
    }
    if (linkUnits > 0) {
      std::u16string text;
      if (!readText(uint64_t(linkUnits) * 2, &text, "hyperlink text")) return false;
      if (text.back() == u'\0') text.pop_back();
      cell->setHyperlink(std::make_unique<Hyperlink>(classifyHyperlink(std::move(text))));
    }
    if (rangeLength > 0) {
      if (rangeLength < kArrayRangeLength) {
        return fail("array range payload of " + std::to_string(rangeLength) + " bytes");
      }
      unsigned char range[kArrayRangeLength];
      if (!readBytes(sizeof range, range, "array range") ||
          !skip(rangeLength - kArrayRangeLength, "array range")) {
        return false;
      }
      cell->setArrayRange(RangeRef{getCellRef(range), getCellRef(range + 8)});
    }
    model_.placeCell(cell);
    model_.enterInLists(cell);
  }
  return true;
}

bool Loader::afterCells() {
  cellsDone_ = true;
  int section = section_;
  if (!applyExtents() || !buildNames()) return false;
  section_ = section;
  return true;
}

bool Loader::applyExtents() {
  section_ = 1;
  // A 12-byte extent can reserve a whole row block (512 KB of slots); no model needs more than
  // one block per cell it holds, so more is a forged stream, refused before it is allocated.
  uint64_t budget = uint64_t(CellGrid::kBlockRows) * (uint64_t(model_.cellCount()) + 1);
  uint64_t asked = 0;
  for (size_t i = 0; i < extents_.size(); ++i) {
    const GridExtent& e = extents_[i];
    record_ = int64_t(i);
    offset_ = extentOffsets_[i];
    uint32_t blockEnd =
        e.firstRow / CellGrid::kBlockRows * CellGrid::kBlockRows + (CellGrid::kBlockRows - 1);
    if (e.firstRow <= e.lastRow) asked += std::min(e.lastRow, blockEnd) - e.firstRow + 1;
    if (asked > budget) {
      return fail("the grid extents reserve more rows than one block per cell record");
    }
    if (!model_.reserveRows(e.sheet, e.column, e.firstRow, e.lastRow)) {
      return fail("the grid extent names no rows");
    }
  }
  extents_.clear();
  extentOffsets_.clear();
  return true;
}

bool Loader::buildNames() {
  section_ = 7;
  if (pendingNames_.empty()) return true;
  ChunkStream expressions;
  expressions.append(nameExpressions_);
  nameExpressions_.clear();
  nameExpressions_.shrink_to_fit();
  expressions.flush();
  const uint64_t base = expressions.total();
  uint64_t start = 0;
  for (PendingName& pending : pendingNames_) {
    record_ = pending.record;
    DefinedName name;
    name.name = std::move(pending.name);
    name.scope = pending.scope;
    std::vector<Node*> local;
    // Roots after the first are not part of the name, but live until the expression is read:
    // later records may name them as parents.
    NodeList further;
    for (int64_t j = 0;; ++j) {
      uint64_t used = expressions.total() - base - start;
      if (used == pending.length) break;
      node_ = j;
      offset_ = pending.offset + used;
      if (used > pending.length) {
        return fail("the node records run past the expression's " + std::to_string(pending.length) +
                    " bytes");
      }
      std::unique_ptr<Node> root;
      std::string message;
      if (readNode(expressions, model_, local, &root, &message) == NodeReadStatus::kError) {
        return fail(message);
      }
      if (!root) continue;
      if (name.root) {
        further.push_back(std::move(root));
      } else {
        name.root = std::move(root);  // the first node read is the name's root
      }
    }
    node_ = -1;
    start += pending.length;
    model_.nameIndex.emplace(toUpper(name.name), model_.names.size());
    model_.names.push_back(std::move(name));
  }
  pendingNames_.clear();
  return true;
}

bool Loader::cellFormulas() {
  uint32_t count = 0;
  if (!in_.readU32(&count)) return fail("formula count cut short");
  for (uint32_t i = 0; i < count; ++i) {
    startRecord(i);
    unsigned char r[kFormulaRecordHeadLength];
    if (!readHead(1, kFormulaRecordHeadLength, r, "formula record head")) return false;
    CellRef address = getCellRef(r + 8);
    uint32_t nodes = getU32(r + 16);
    uint32_t precedents = getU32(r + 20);
    Cell* cell = model_.findCell(address);
    if (!cell) return fail("a formula for " + addressText(address) + ", which has no cell");
    std::vector<Node*> local;
    for (uint32_t j = 0; j < nodes; ++j) {
      node_ = j;
      offset_ = in_.total();
      std::unique_ptr<Node> root;
      std::string message;
      if (readNode(in_, model_, local, &root, &message) == NodeReadStatus::kError) {
        return fail(message);
      }
      if (root) cell->formulaRoots.push_back(std::move(root));
    }
    node_ = -1;
    for (uint32_t p = 0; p < precedents; ++p) {
      offset_ = in_.total();
      unsigned char ref[8];
      if (!readBytes(sizeof ref, ref, "precedent")) return false;
      Cell* precedent = model_.findCell(getCellRef(ref));
      if (!precedent) {
        return fail("precedent " + std::to_string(p) + " names " + addressText(getCellRef(ref)) +
                    ", which has no cell");
      }
      cell->addPrecedent(precedent);
    }
  }
  return true;
}

bool Loader::referencedRanges() {
  unsigned char head[kSectionHeaderLength];
  if (!readSectionHeader(kSectionHeaderLength, head)) return false;
  uint32_t count = getU32(head + 4);
  for (uint32_t i = 0; i < count; ++i) {
    startRecord(i);
    unsigned char r[16];
    if (!readBytes(sizeof r, r, "range")) return false;
    RangeRef range{getCellRef(r), getCellRef(r + 8)};
    model_.rangeIndex().add(range);
  }
  return true;
}

bool Loader::sharedTable2() {
  unsigned char head[kSectionHeaderLength];
  if (!readSectionHeader(kSectionHeaderLength, head)) return false;
  uint32_t count = getU32(head + 4);
  std::vector<Node*> local;
  for (uint32_t j = 0; j < count; ++j) {
    startRecord(j);
    std::unique_ptr<Node> root;
    std::string message;
    if (readNode(in_, model_, local, &root, &message) == NodeReadStatus::kError) {
      return fail(message);
    }
    if (root) model_.sharedTable2.push_back(std::move(root));
  }
  return true;
}

bool Loader::sharedTable1() {
  unsigned char head[kSectionHeaderLength];
  if (!readSectionHeader(kSectionHeaderLength, head)) return false;
  uint32_t entries = getU32(head + 4);
  std::vector<Node*> local;
  for (uint64_t j = 0; in_.hasUnread(); ++j) {
    startRecord(j);
    std::unique_ptr<Node> root;
    std::string message;
    if (readNode(in_, model_, local, &root, &message) == NodeReadStatus::kError) {
      return fail(message);
    }
    if (root) model_.sharedTable1.push_back(std::move(root));
  }
  if (model_.sharedTable1.size() < entries) {
    record_ = -1;
    return fail("the header counts " + std::to_string(entries) + " entries, the stream holds " +
                std::to_string(model_.sharedTable1.size()));
  }
  return true;
}

// Links each range of the index with the cells whose own formula roots hold a range reference
// node of that range. References reached only through names or shared expressions are left to
// recalculation, which re-derives links as it needs them.
void Loader::fillRangeIndex() {
  const RangeIndex& ranges = model_.rangeIndex();
  if (ranges.empty()) return;
  std::vector<const Node*> stack;
  for (Cell* cell : model_.cells()) {
    std::set<RangeEntry*> linked;
    for (const auto& root : cell->formulaRoots) {
      if (root) stack.push_back(root.get());
    }
    while (!stack.empty()) {
      const Node* node = stack.back();
      stack.pop_back();
      for (const auto& child : node->children()) stack.push_back(child.get());
      if (!node->isRangeReference()) continue;
      RangeEntry* entry = ranges.find(static_cast<const RangeRefNode*>(node)->range());
      if (!entry || !linked.insert(entry).second) continue;
      entry->cells.push_back(cell);
      cell->rangeLinks.push_back(entry);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Writing

uint16_t u16Length(size_t bytes, const char* what) {
  if (bytes > 0xFFFF) throw std::logic_error(std::string(what) + " too long for the model stream");
  return uint16_t(bytes);
}

uint32_t u32Length(uint64_t bytes, const char* what) {
  if (bytes > 0xFFFFFFFFu) {
    throw std::logic_error(std::string(what) + " too long for the model stream");
  }
  return uint32_t(bytes);
}

void writeCellRef(ChunkStream& out, CellRef ref) {
  out.writeU32(ref.rowWord);
  out.writeU32(ref.columnWord);
}

void writeRange(ChunkStream& out, const RangeRef& range) {
  writeCellRef(out, range.first);
  writeCellRef(out, range.last);
}

void writeZeros(ChunkStream& out, size_t n) {
  static const char kZeros[8] = {};
  out.append(kZeros, n);
}

// The node records of one tree as bytes, so that their length can be written before them.
std::string treeRecords(const Node& root) {
  ChunkStream scratch;
  uint32_t counter = 0;
  root.writeSubtree(-1, counter, scratch);
  scratch.flush();
  std::string bytes;
  for (size_t i = 0; i < scratch.chunkCount(); ++i) scratch.chunk(i).load(&bytes);
  return bytes;
}

class Writer {
 public:
  Writer(const CompiledModel& model, ChunkStream& out) : model_(model), out_(out) {}
  void run();

 private:
  // The section header length field: the fixed length plus any kept tail.
  void sectionHeader(int section, uint32_t fixedLength);
  void sectionTail(int section);
  void writeCell(Cell* cell);
  void writeFormula(Cell* cell);

  const CompiledModel& model_;
  ChunkStream& out_;
};

void Writer::sectionHeader(int section, uint32_t fixedLength) {
  auto it = model_.headerTails.find(section);
  size_t tail = it == model_.headerTails.end() ? 0 : it->second.size();
  out_.writeU32(u32Length(fixedLength + tail, "section header"));
}

void Writer::sectionTail(int section) {
  auto it = model_.headerTails.find(section);
  if (it != model_.headerTails.end()) out_.append(it->second);
}

void Writer::run() {
  const CompiledModel& m = model_;

  // Section 0.
  out_.writeU32(kModelMagic);
  sectionHeader(0, kModelHeaderLength);
  out_.writeU16(m.formatVersion);
  out_.writeU16(u16Length(m.sheets().size(), "sheet count"));
  out_.writeU32(u32Length(m.cellCount(), "cell count"));
  out_.writeU32(u32Length(m.names.size(), "name count"));
  out_.writeU32(m.applicationId);
  sectionTail(0);

  // Section 1.
  std::vector<GridExtent> extents = m.grid().extents();
  sectionHeader(1, kSectionHeaderLength);
  out_.writeU32(u32Length(extents.size(), "grid extent count"));
  sectionTail(1);
  for (const GridExtent& e : extents) {
    out_.writeU16(uint16_t(e.sheet));
    out_.writeU16(uint16_t(e.column));
    out_.writeU32(e.firstRow);
    out_.writeU32(e.lastRow);
  }

  // Section 2.
  for (const auto& [index, sheet] : m.sheets().sheets()) {
    auto stored = m.sheetFlags.find(index);
    uint32_t flags = stored == m.sheetFlags.end() ? 0 : stored->second;
    flags = (flags & ~1u) | (sheet.eventFlag ? 1u : 0u);
    out_.writeU16(kSheetRecordLength);
    out_.writeU16(u16Length(index, "sheet index"));
    out_.writeU32(0);
    writeRange(out_, sheet.range);
    out_.writeU32(flags);
    out_.writeU16(u16Length(2 * sheet.name().size(), "sheet name"));
    out_.writeU16(u16Length(2 * sheet.excelName().size(), "sheet's Excel name"));
    out_.writeUtf16(sheet.name());
    out_.writeUtf16(sheet.excelName());
  }

  // Section 3.
  uint64_t controlBytes = 0;
  for (const ControlGroup& group : m.controls) {
    controlBytes += kControlGroupHeadLength;
    for (const ControlItem& item : group.items) {
      controlBytes += kControlItemHeadLength + 2 * (item.name.size() + item.text2.size() +
                                                    item.text3.size() + item.groupName.size());
    }
  }
  sectionHeader(3, kCountedSectionHeaderLength);
  out_.writeU32(u32Length(m.controls.size(), "control group count"));
  out_.writeU32(u32Length(controlBytes, "control table"));
  sectionTail(3);
  for (const ControlGroup& group : m.controls) {
    if (group.items.size() > 0xFFFF) throw std::logic_error("control group too large");
    out_.writeU32(kControlGroupHeadLength);
    out_.writeU32((group.word & 0xFFFF0000u) | uint32_t(group.items.size()));
    for (const ControlItem& item : group.items) {
      out_.writeU32(kControlItemHeadLength);
      out_.writeU16(item.attribute1);
      out_.writeU16(item.attribute2);
      writeCellRef(out_, item.linkedCell);
      out_.writeU32(uint32_t(2 * item.name.size()));
      out_.writeU32(uint32_t(2 * item.text2.size()));
      out_.writeU32(uint32_t(2 * item.text3.size()));
      out_.writeU32(uint32_t(2 * item.groupName.size()));
      out_.writeUtf16(item.name);
      out_.writeUtf16(item.text2);
      out_.writeUtf16(item.text3);
      out_.writeUtf16(item.groupName);
    }
  }

  // Section 4.
  std::string block;
  for (const Value& value : m.constants) encodeValue(value, &block);
  sectionHeader(4, kCountedSectionHeaderLength);
  out_.writeU32(u32Length(m.constants.size(), "constant count"));
  out_.writeU32(u32Length(block.size(), "constant block"));
  sectionTail(4);
  out_.append(block);

  // Section 5: the table with the dropped duplicates back at their stored positions.
  const auto& duplicates = m.duplicateExternalWorkbooks;
  size_t workbookRecords = m.externalWorkbooks.size() + duplicates.size();
  sectionHeader(5, kSectionHeaderLength);
  out_.writeU32(u32Length(workbookRecords, "external workbook count"));
  sectionTail(5);
  size_t nextTable = 0, nextDuplicate = 0;
  for (size_t i = 0; i < workbookRecords; ++i) {
    bool duplicate = nextDuplicate < duplicates.size() && (duplicates[nextDuplicate].first <= i ||
                                                           nextTable == m.externalWorkbooks.size());
    const ExternalWorkbook& w =
        duplicate ? duplicates[nextDuplicate++].second : m.externalWorkbooks[nextTable++];
    out_.writeU32(kExternalWorkbookHeadLength);
    out_.writeU16(u16Length(2 * w.path.size(), "workbook path"));
    out_.writeU16(u16Length(2 * w.fileName.size(), "workbook file name"));
    out_.writeUtf16(w.path);
    out_.writeUtf16(w.fileName);
  }

  // Section 6.
  sectionHeader(6, kSectionHeaderLength);
  out_.writeU32(u32Length(m.ddeLinks.size(), "DDE link count"));
  sectionTail(6);
  for (const DdeLink& link : m.ddeLinks) {
    out_.writeU32(kDdeLinkHeadLength);
    out_.writeU16(u16Length(2 * link.service.size(), "DDE service name"));
    out_.writeU16(u16Length(2 * link.topic.size(), "DDE topic name"));
    out_.writeU32(u32Length(link.items.size(), "DDE item count"));
    out_.writeUtf16(link.service);
    out_.writeUtf16(link.topic);
    for (const DdeItem& item : link.items) {
      out_.writeU32(kDdeItemHeadLength);
      out_.writeU32(u32Length(2 * item.name.size(), "DDE item name"));
      out_.writeU32(u32Length(item.cells.size(), "DDE cell count"));
      out_.writeUtf16(item.name);
      for (const CellRef& ref : item.cells) writeCellRef(out_, ref);
    }
  }

  // Section 7.
  sectionHeader(7, kSectionHeaderLength);
  out_.writeU32(u32Length(m.names.size(), "name count"));
  sectionTail(7);
  for (const DefinedName& name : m.names) {
    std::string expression = name.root ? treeRecords(*name.root) : std::string();
    out_.writeU16(kNameRecordHeadLength);
    out_.writeU16(u16Length(2 * name.name.size(), "defined name"));
    out_.writeI32(name.scope);
    out_.writeU32(u32Length(expression.size(), "name expression"));
    out_.writeUtf16(name.name);
    out_.append(expression);
  }

  // Section 8.
  for (Cell* cell : m.cells()) writeCell(cell);

  // Section 9. A cell without an address cannot be found again by a reader, so its formula,
  // and any precedent without an address, stays out of the stream.
  uint32_t formulas = 0;
  for (Cell* cell : m.cells()) {
    if (!cell->formulaRoots.empty() && !cell->address.isNone()) ++formulas;
  }
  out_.writeU32(formulas);
  for (Cell* cell : m.cells()) {
    if (!cell->formulaRoots.empty() && !cell->address.isNone()) writeFormula(cell);
  }

  // Section 10.
  uint32_t ranges = u32Length(m.rangeIndex().size(), "range index");
  sectionHeader(10, kSectionHeaderLength);
  out_.writeU32(ranges);
  sectionTail(10);
  for (const RangeEntry* entry : m.rangeIndex()) writeRange(out_, entry->range);

  // Section 11.
  uint64_t table2Records = 0;
  for (const auto& root : m.sharedTable2) table2Records += root ? root->subtreeSize() : 0;
  sectionHeader(11, kSectionHeaderLength);
  out_.writeU32(u32Length(table2Records, "shared table 2"));
  sectionTail(11);
  uint32_t counter = 0;
  for (const auto& root : m.sharedTable2) {
    if (root) root->writeSubtree(-1, counter, out_);
  }

  // Section 12.
  sectionHeader(12, kSectionHeaderLength);
  out_.writeU32(u32Length(m.sharedTable1.size(), "shared table 1"));
  sectionTail(12);
  counter = 0;
  size_t trees = 0;
  for (const auto& root : m.sharedTable1) {
    if (!root) continue;
    root->writeSubtree(-1, counter, out_);
    ++trees;
  }
  if (trees != m.sharedTable1.size()) {
    throw std::logic_error("shared table 1: " + std::to_string(trees) + " trees written for " +
                           std::to_string(m.sharedTable1.size()) + " entries");
  }
}

void Writer::writeCell(Cell* cell) {
  CurrentCellScope scope(cell);
  std::string payload;
  if (cell->value) {
    // Members of an array formula other than its anchor hold pieces of the anchor's array;
    // only the anchor stores the array.
    bool arrayMember =
        cell->hasFlag(kCellArrayMember) && cell->arrayRange() && cell->value->isArray();
    const CellRef& first = cell->arrayRange() ? cell->arrayRange()->first : CellRef::none();
    bool anchor = first.row() == cell->address.row() && first.column() == cell->address.column() &&
                  first.sheet() == cell->address.sheet();
    if (!arrayMember || anchor) encodeValue(*cell->value, &payload);
  }
  std::u16string link = cell->hyperlink() ? hyperlinkText(*cell->hyperlink()) : std::u16string();
  bool withRange = cell->arrayRange() && (cell->arrayRange()->first.isNone() ||
                                          cell->arrayRange()->first != cell->arrayRange()->last);
  bool second = cell->secondListIndex() >= 0;
  uint32_t flags = (cell->flags & (kCellRecordFlags | kCellRecordEventMarker)) |
                   (second ? kCellRecordSecondListIndex : 0);

  out_.writeU8(kCellRecordHeadLength);
  writeZeros(out_, 7);
  writeCellRef(out_, cell->address);
  out_.writeU32(u32Length(payload.size(), "cell value"));
  out_.writeU32(flags);
  out_.writeI32(second ? cell->secondListIndex() : cell->firstListIndex);
  out_.writeU32(cell->hyperlink() ? u32Length(link.size() + 1, "hyperlink") : 0);
  out_.writeU32(withRange ? kArrayRangeLength : 0);
  out_.writeU32(0);
  out_.append(payload);
  if (cell->hyperlink()) {
    out_.writeUtf16(link);
    out_.writeU16(0);
  }
  if (withRange) writeRange(out_, *cell->arrayRange());
}

void Writer::writeFormula(Cell* cell) {
  CurrentCellScope scope(cell);
  uint64_t records = 0;
  for (const auto& root : cell->formulaRoots) records += root ? root->subtreeSize() : 0;
  uint32_t precedents = 0;
  for (Cell* p : cell->precedents) precedents += p->address.isNone() ? 0 : 1;

  out_.writeU8(kFormulaRecordHeadLength);
  writeZeros(out_, 7);
  writeCellRef(out_, cell->address);
  out_.writeU32(u32Length(records, "formula"));
  out_.writeU32(precedents);
  uint32_t counter = 0;
  for (const auto& root : cell->formulaRoots) {
    if (root) root->writeSubtree(-1, counter, out_);
  }
  for (Cell* p : cell->precedents) {
    if (!p->address.isNone()) writeCellRef(out_, p->address);
  }
}

}  // namespace

bool loadModel(ChunkStream& in, CompiledModel& model, std::string* error) {
  Loader loader(in, model);
  bool ok = false;
  try {
    ok = loader.run();
  } catch (...) {
    resetModel(model);
    throw;
  }
  if (!ok) {
    resetModel(model);
    if (error) *error = loader.error();
  }
  return ok;
}

void writeModel(const CompiledModel& model, ChunkStream& out) {
  Writer(model, out).run();
  out.flush();
}

}  // namespace korvel
