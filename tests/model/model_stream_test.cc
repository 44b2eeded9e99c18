#include "model/model_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/envelope.h"
#include "model/nodes/node.h"

namespace korvel {
namespace {

// Little-endian byte builder for hand-made streams.
class Bytes {
 public:
  Bytes& u8(uint8_t v) {
    s_.push_back(char(v));
    return *this;
  }
  Bytes& u16(uint16_t v) { return u8(v & 0xFF).u8(v >> 8); }
  Bytes& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
  Bytes& i32(int32_t v) { return u32(uint32_t(v)); }
  Bytes& f64(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, 8);
    return u32(uint32_t(bits)).u32(uint32_t(bits >> 32));
  }
  Bytes& text(std::u16string_view t) {
    for (char16_t c : t) u16(c);
    return *this;
  }
  Bytes& zeros(size_t n) {
    s_.append(n, '\0');
    return *this;
  }
  Bytes& ref(CellRef r) { return u32(r.rowWord).u32(r.columnWord); }
  Bytes& range(CellRef a, CellRef b) { return ref(a).ref(b); }
  Bytes& raw(const std::string& b) {
    s_ += b;
    return *this;
  }
  const std::string& str() const { return s_; }
  size_t size() const { return s_.size(); }

 private:
  std::string s_;
};

CellRef at(uint32_t sheet, uint32_t row, uint32_t column) {
  return CellRef::at(sheet, row, column);
}

// Node records as the format lays them out.
std::string numberNode(int32_t parent, double x) {
  return Bytes().u16(16).u16(kTagNumber).i32(parent).f64(x).str();
}
std::string booleanNode(int32_t parent, bool b) {
  return Bytes().u16(12).u16(kTagBoolean).i32(parent).u32(b ? 1 : 0).str();
}
std::string cellNode(int32_t parent, CellRef r) {
  return Bytes().u16(16).u16(kTagCellRef).i32(parent).ref(r).str();
}
std::string rangeNode(int32_t parent, CellRef a, CellRef b) {
  return Bytes().u16(32).u16(kTagRangeRef).i32(parent).range(a, b).u8(0).zeros(7).str();
}
std::string operatorNode(int32_t parent, uint8_t code) {
  return Bytes().u16(12).u16(kTagOperator).i32(parent).u8(code).zeros(3).str();
}
std::string unionNode(int32_t parent) { return Bytes().u16(8).u16(kTagUnion).i32(parent).str(); }

// The value encoding of a few values, for payloads.
std::string numberValue(double x) { return Bytes().u8(2).f64(x).str(); }
std::string textValue(std::u16string_view t) {
  return Bytes().u8(t.size() <= 4 ? 3 : 4).text(t).u16(0).str();
}

std::string cellRecord(CellRef address, const std::string& value, uint32_t flags, int32_t listIndex,
                       std::u16string_view link = {}, bool hasLink = false,
                       const RangeRef* arrayRange = nullptr) {
  Bytes b;
  b.u8(40).zeros(7).ref(address).u32(uint32_t(value.size())).u32(flags).i32(listIndex);
  b.u32(hasLink ? uint32_t(link.size() + 1) : 0).u32(arrayRange ? 16 : 0).u32(0);
  b.raw(value);
  if (hasLink) b.text(link).u16(0);
  if (arrayRange) b.range(arrayRange->first, arrayRange->last);
  return b.str();
}

std::string sheetRecord(uint16_t index, std::u16string_view name, uint32_t flags, RangeRef range) {
  return Bytes()
      .u16(32)
      .u16(index)
      .u32(0)
      .range(range.first, range.last)
      .u32(flags)
      .u16(uint16_t(2 * name.size()))
      .u16(uint16_t(2 * name.size()))
      .text(name)
      .text(name)
      .str();
}

std::string emptySection(uint32_t fixed = 8) {
  Bytes b;
  b.u32(fixed).u32(0);
  if (fixed == 12) b.u32(0);
  return b.str();
}

// A stream as its sections, so that a test can change one and keep the rest.
struct ModelBytes {
  uint32_t magic = kModelMagic;
  uint32_t headerLength = 24;
  uint16_t sheets = 1;
  uint32_t cells = 1;
  uint32_t names = 0;
  uint32_t applicationId = 77;
  std::string headerTail;
  std::string section[13];

  // One sheet, one constant cell A1 (1.5), no formulas.
  ModelBytes() {
    section[1] = Bytes().u32(8).u32(1).u16(0).u16(0).u32(0).u32(0).str();
    section[2] = sheetRecord(0, u"Sheet1", 0, RangeRef{at(0, 0, 0), at(0, 9, 9)});
    section[3] = emptySection(12);
    section[4] = emptySection(12);
    for (int s : {5, 6, 7, 10, 11, 12}) section[s] = emptySection();
    section[8] = cellRecord(at(0, 0, 0), numberValue(1.5), 0, -1);
    section[9] = Bytes().u32(0).str();
  }

  std::string header() const {
    return Bytes()
        .u32(magic)
        .u32(headerLength)
        .u16(1)
        .u16(sheets)
        .u32(cells)
        .u32(names)
        .u32(applicationId)
        .raw(headerTail)
        .str();
  }
  // Byte offset where a section starts.
  size_t offsetOf(int s) const {
    size_t offset = header().size();
    for (int i = 1; i < s; ++i) offset += section[i].size();
    return offset;
  }
  std::string str(int lastSection = 12) const {
    std::string out = header();
    for (int i = 1; i <= lastSection; ++i) out += section[i];
    return out;
  }
};

// A delivery stream holding the content in chunks of at most chunkSize bytes.
std::unique_ptr<ChunkStream> streamOf(const std::string& content, size_t chunkSize = 0) {
  auto stream = std::make_unique<ChunkStream>();
  if (chunkSize == 0) chunkSize = content.size();
  for (size_t at = 0; at < content.size(); at += chunkSize) {
    std::string envelope;
    EXPECT_TRUE(encodeEnvelope(content.substr(at, chunkSize), &envelope));
    stream->appendChunk(envelope);
  }
  return stream;
}

std::string contentOf(const ChunkStream& stream) {
  std::string content;
  for (size_t i = 0; i < stream.chunkCount(); ++i) stream.chunk(i).load(&content);
  return content;
}

std::string written(const CompiledModel& model) {
  ChunkStream out;
  writeModel(model, out);
  return contentOf(out);
}

bool load(const std::string& content, CompiledModel& model, std::string* error = nullptr,
          size_t chunkSize = 0) {
  std::string ignored;
  return loadModel(*streamOf(content, chunkSize), model, error ? error : &ignored);
}

void expectEmpty(const CompiledModel& model) {
  EXPECT_EQ(model.cellCount(), 0u);
  EXPECT_TRUE(model.grid().extents().empty());
  EXPECT_TRUE(model.sheets().empty());
  EXPECT_TRUE(model.names.empty());
  EXPECT_TRUE(model.nameIndex.empty());
  EXPECT_TRUE(model.controls.empty());
  EXPECT_TRUE(model.constants.empty());
  EXPECT_TRUE(model.externalWorkbooks.empty());
  EXPECT_TRUE(model.ddeLinks.empty());
  EXPECT_TRUE(model.rangeIndex().empty());
  EXPECT_TRUE(model.sharedTable1.empty());
  EXPECT_TRUE(model.sharedTable2.empty());
  EXPECT_TRUE(model.indexedCells().empty());
  EXPECT_EQ(model.applicationId, 0u);
}

TEST(ModelStream, MinimalModelLoadsAndWritesBackByteForByte) {
  ModelBytes m;
  std::string content = m.str();
  // Section 12's header is the last thing in the stream.
  EXPECT_EQ(content.substr(content.size() - 8), emptySection());

  CompiledModel model;
  std::string error;
  ASSERT_TRUE(load(content, model, &error)) << error;
  EXPECT_EQ(model.applicationId, 77u);
  EXPECT_EQ(model.formatVersion, 1u);
  ASSERT_EQ(model.sheets().size(), 1u);
  EXPECT_EQ(model.sheets().find(0)->name(), u"Sheet1");
  EXPECT_EQ(model.sheets().find(0)->quotedName(), u"'Sheet1'");
  EXPECT_EQ(model.sheets().find(0)->range.last, at(0, 9, 9));
  ASSERT_EQ(model.cellCount(), 1u);
  Cell* a1 = model.findCell(at(0, 0, 0));
  ASSERT_NE(a1, nullptr);
  ASSERT_NE(a1->value, nullptr);
  EXPECT_EQ(a1->value->number(), 1.5);
  EXPECT_TRUE(a1->formulaRoots.empty());
  EXPECT_TRUE(model.indexedCells().empty());

  EXPECT_EQ(written(model), content);
}

// Every section with content, laid out as the writer lays it out.
struct FullModel {
  ModelBytes m;
  CellRef a1 = at(0, 0, 0), b1 = at(0, 0, 1), a2 = at(0, 1, 0), b2 = at(0, 1, 1), c3 = at(0, 2, 2);
  RangeRef arrayRange{a2, b2};

  FullModel() {
    m.sheets = 2;
    m.cells = 5;
    m.names = 2;
    m.applicationId = 0x1234;
    // Cells by column, then row: A1 A2 | B1 B2 | C3.
    m.section[1] = Bytes()
                       .u32(8)
                       .u32(3)
                       .u16(0)
                       .u16(0)
                       .u32(0)
                       .u32(1)
                       .u16(0)
                       .u16(1)
                       .u32(0)
                       .u32(1)
                       .u16(0)
                       .u16(2)
                       .u32(2)
                       .u32(2)
                       .str();
    m.section[2] = sheetRecord(0, u"Sheet1", 1, RangeRef{a1, c3}) +
                   sheetRecord(1, u"O'Neil", 0x6, RangeRef{at(1, 0, 0), at(1, 0, 0)});
    Bytes controls;
    std::string items;
    for (std::u16string_view name : {u"Check 1", u"Check 2"}) {
      items += Bytes()
                   .u32(32)
                   .u16(3)
                   .u16(4)
                   .ref(at(1, 0, 0))
                   .u32(uint32_t(2 * name.size()))
                   .u32(0)
                   .u32(2)
                   .u32(2)
                   .text(name)
                   .text(u"x")
                   .text(u"G")
                   .str();
    }
    std::string group = Bytes().u32(8).u32((1u << 24) | (5u << 16) | 2).raw(items).str();
    m.section[3] = Bytes().u32(12).u32(1).u32(uint32_t(group.size())).raw(group).str();
    std::string values = numberValue(2.5) + textValue(u"abc") + Bytes().u8(9).u32(kErrorNA).str();
    m.section[4] = Bytes().u32(12).u32(3).u32(uint32_t(values.size())).raw(values).str();
    Bytes workbooks;
    workbooks.u32(8).u32(3);
    for (auto [path, file] : {std::pair{u"C:\\dir", u"a.xls"}, std::pair{u"C:\\dir\\", u"a.xls"},
                              std::pair{u"shared", u"b.xls"}}) {
      std::u16string_view p(path), f(file);
      workbooks.u32(8).u16(uint16_t(2 * p.size())).u16(uint16_t(2 * f.size())).text(p).text(f);
    }
    m.section[5] = workbooks.str();
    // The item's cells in column-word, then row-word order.
    m.section[6] = Bytes()
                       .u32(8)
                       .u32(1)
                       .u32(12)
                       .u16(6)
                       .u16(2)
                       .u32(1)
                       .text(u"SRV")
                       .text(u"T")
                       .u32(12)
                       .u32(4)
                       .u32(2)
                       .text(u"it")
                       .ref(at(0, 5, 0))
                       .ref(at(0, 1, 1))
                       .str();
    // "Total" refers to C3, whose record is the last of section 8.
    std::string total = cellNode(-1, c3);
    std::string rate = numberNode(-1, 0.05);
    m.section[7] = Bytes()
                       .u32(8)
                       .u32(2)
                       .u16(12)
                       .u16(10)
                       .i32(-1)
                       .u32(uint32_t(total.size()))
                       .text(u"Total")
                       .raw(total)
                       .u16(12)
                       .u16(8)
                       .i32(0)
                       .u32(uint32_t(rate.size()))
                       .text(u"rate")
                       .raw(rate)
                       .str();
    Bytes array;
    array.u8(8).u32(2).u32(1).raw(numberValue(1.25)).raw(numberValue(2.25));
    m.section[8] = cellRecord(a1, numberValue(1.5), 0x10 | 0x8 | 0x1000, 0, u"http://x.org", true) +
                   cellRecord(b1, "", 0x8000 | 0x10000, 3, u"#Sheet2!A1", true) +
                   cellRecord(a2, array.str(), 0x200 | 0x400, -1, {}, false, &arrayRange) +
                   cellRecord(b2, "", 0x200 | 0x800, -1, {}, false, &arrayRange) +
                   cellRecord(c3, textValue(u"Hello"), 0x4 | 0x20, -1);
    // C3 = A1 + A1:B2, and a second root 7. Precedents in identity (= record) order.
    std::string nodes =
        operatorNode(-1, kOpAdd) + cellNode(0, a1) + rangeNode(0, a1, b2) + numberNode(-1, 7);
    m.section[9] = Bytes()
                       .u32(1)
                       .u8(24)
                       .zeros(7)
                       .ref(c3)
                       .u32(4)
                       .u32(4)
                       .raw(nodes)
                       .ref(a1)
                       .ref(b1)
                       .ref(a2)
                       .ref(b2)
                       .str();
    m.section[10] = Bytes().u32(8).u32(2).range(a1, b2).range(b1, b1).str();
    m.section[11] = Bytes().u32(8).u32(1).raw(numberNode(-1, 3)).str();
    m.section[12] = Bytes()
                        .u32(8)
                        .u32(2)
                        .raw(booleanNode(-1, true))
                        .raw(unionNode(-1))
                        .raw(rangeNode(1, a1, a1))
                        .raw(rangeNode(1, b2, b2))
                        .str();
  }
};

TEST(ModelStream, EverySectionLoadsIntoTheModel) {
  FullModel f;
  CompiledModel model;
  std::string error;
  ASSERT_TRUE(load(f.m.str(), model, &error)) << error;

  EXPECT_EQ(model.applicationId, 0x1234u);
  ASSERT_EQ(model.sheets().size(), 2u);
  EXPECT_TRUE(model.sheets().find(0)->eventFlag);
  EXPECT_FALSE(model.sheets().find(1)->eventFlag);
  EXPECT_EQ(model.sheets().find(1)->quotedName(), u"'O''Neil'");

  ASSERT_EQ(model.controls.size(), 1u);
  EXPECT_EQ(model.controls[0].sheet(), 1u);
  ASSERT_EQ(model.controls[0].items.size(), 2u);
  const ControlItem& item = model.controls[0].items[1];
  EXPECT_EQ(item.name, u"Check 2");
  EXPECT_EQ(item.attribute1, 3);
  EXPECT_EQ(item.attribute2, 4);
  EXPECT_EQ(item.linkedCell, at(1, 0, 0));
  EXPECT_EQ(item.text2, u"");
  EXPECT_EQ(item.text3, u"x");
  EXPECT_EQ(item.groupName, u"G");

  ASSERT_EQ(model.constants.size(), 3u);
  EXPECT_EQ(model.constants[0].number(), 2.5);
  EXPECT_EQ(model.constants[1].text(), u"abc");
  EXPECT_EQ(model.constants[2].errorCode(), kErrorNA);

  // The second record names the same workbook as the first and is dropped from the table.
  ASSERT_EQ(model.externalWorkbooks.size(), 2u);
  EXPECT_EQ(model.externalWorkbooks[0].fullPath, u"C:\\dir\\a.xls");
  EXPECT_EQ(model.externalWorkbooks[1].fullPath, u"shared\\b.xls");
  ASSERT_EQ(model.duplicateExternalWorkbooks.size(), 1u);
  EXPECT_EQ(model.duplicateExternalWorkbooks[0].first, 1u);

  ASSERT_EQ(model.ddeLinks.size(), 1u);
  EXPECT_EQ(model.ddeLinks[0].service, u"SRV");
  EXPECT_EQ(model.ddeLinks[0].topic, u"T");
  ASSERT_EQ(model.ddeLinks[0].items.size(), 1u);
  EXPECT_EQ(model.ddeLinks[0].items[0].name, u"it");
  EXPECT_EQ(model.ddeLinks[0].items[0].cells.size(), 2u);

  ASSERT_EQ(model.names.size(), 2u);
  EXPECT_EQ(model.nameIndex.at(u"TOTAL"), 0u);
  EXPECT_EQ(model.nameIndex.at(u"RATE"), 1u);
  EXPECT_EQ(model.names[1].scope, 0);
  ASSERT_NE(model.names[1].root, nullptr);
  EXPECT_EQ(model.names[1].root->tag(), kTagNumber);

  ASSERT_EQ(model.cellCount(), 5u);
  Cell* a1 = model.findCell(f.a1);
  Cell* b1 = model.findCell(f.b1);
  Cell* a2 = model.findCell(f.a2);
  Cell* b2 = model.findCell(f.b2);
  Cell* c3 = model.findCell(f.c3);
  ASSERT_TRUE(a1 && b1 && a2 && b2 && c3);
  EXPECT_EQ(a1->flags, 0x10u | 0x8 | 0x1000);
  EXPECT_EQ(a1->firstListIndex, 0);
  EXPECT_EQ(a1->secondListIndex(), -1);
  ASSERT_NE(a1->hyperlink(), nullptr);
  EXPECT_EQ(a1->hyperlink()->kind, Hyperlink::kWeb);
  EXPECT_EQ(a1->hyperlink()->address, u"http://x.org");
  EXPECT_EQ(b1->flags, kCellEventMarker);
  EXPECT_EQ(b1->firstListIndex, -1);
  EXPECT_EQ(b1->secondListIndex(), 3);
  EXPECT_EQ(b1->value, nullptr);
  ASSERT_NE(b1->hyperlink(), nullptr);
  EXPECT_EQ(b1->hyperlink()->kind, Hyperlink::kInWorkbook);
  EXPECT_EQ(b1->hyperlink()->target, u"Sheet2!A1");
  ASSERT_NE(a2->arrayRange(), nullptr);
  EXPECT_EQ(*a2->arrayRange(), f.arrayRange);
  ASSERT_TRUE(a2->value && a2->value->isArray());
  EXPECT_EQ(a2->value->array().at(1, 0).number(), 2.25);
  EXPECT_EQ(c3->value->text(), u"Hello");
  EXPECT_EQ(model.indexedCells(), (std::vector<Cell*>{a1}));
  EXPECT_EQ(model.alwaysRecalculatedCells(), (std::vector<Cell*>{c3}));

  // The name made before its cell's record points at the cell that record filled.
  const Node* total = model.names[0].root.get();
  ASSERT_NE(total, nullptr);
  ASSERT_EQ(total->tag(), kTagCellRef);
  EXPECT_EQ(static_cast<const CellRefNode*>(total)->cell(), c3);
  // Cells are in record order.
  EXPECT_EQ(std::vector<Cell*>(model.cells().begin(), model.cells().end()),
            (std::vector<Cell*>{a1, b1, a2, b2, c3}));

  ASSERT_EQ(c3->formulaRoots.size(), 2u);
  EXPECT_EQ(c3->formulaRoots[0]->tag(), kTagOperator);
  EXPECT_EQ(c3->formulaRoots[0]->children().size(), 2u);
  EXPECT_EQ(c3->formulaRoots[1]->tag(), kTagNumber);
  EXPECT_EQ(c3->precedents.size(), 4u);
  EXPECT_EQ(a1->dependents.size(), 1u);
  EXPECT_TRUE(a1->dependents.count(c3));

  // The range A1:B2 is read by C3's formula; B1:B1 by none.
  ASSERT_EQ(model.rangeIndex().size(), 2u);
  EXPECT_EQ(model.rangeIndex()[0]->cells, (std::vector<Cell*>{c3}));
  EXPECT_TRUE(model.rangeIndex()[1]->cells.empty());
  EXPECT_EQ(std::vector<RangeEntry*>(c3->rangeLinks.begin(), c3->rangeLinks.end()),
            (std::vector<RangeEntry*>{model.rangeIndex()[0]}));

  ASSERT_EQ(model.sharedTable2.size(), 1u);
  ASSERT_EQ(model.sharedTable1.size(), 2u);
  EXPECT_EQ(model.sharedTable1[0]->tag(), kTagBoolean);
  ASSERT_EQ(model.sharedTable1[1]->tag(), kTagUnion);
  EXPECT_EQ(model.sharedTable1[1]->children().size(), 2u);
}

TEST(ModelStream, LoadedModelsWriteBackTheirStreamExactly) {
  FullModel f;
  ModelBytes longHeaders = ModelBytes();
  longHeaders.headerLength = 28;
  longHeaders.headerTail = "\x01\x02\x03\x04";
  // A section header longer than this writer's keeps its extra bytes too.
  longHeaders.section[5] = Bytes().u32(12).u32(0).u32(0xABCD).str();

  struct Case {
    const char* name;
    std::string content;
    size_t chunkSize;
  } cases[] = {
      {"minimal", ModelBytes().str(), 0},
      {"full", f.m.str(), 0},
      {"full, in chunks that cut records", f.m.str(), 97},
      {"longer headers", longHeaders.str(), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CompiledModel model;
    std::string error;
    ASSERT_TRUE(load(c.content, model, &error, c.chunkSize)) << error;
    EXPECT_EQ(written(model), c.content);
  }
}

TEST(ModelStream, ModelHeaderLongerThan24IsReadAsGiven) {
  ModelBytes m;
  m.headerLength = 32;
  m.headerTail = std::string(8, '\x5A');
  CompiledModel model;
  std::string error;
  ASSERT_TRUE(load(m.str(), model, &error)) << error;
  EXPECT_EQ(model.applicationId, 77u);
  EXPECT_EQ(model.cellCount(), 1u);
  EXPECT_EQ(model.headerTails.at(0), m.headerTail);
}

TEST(ModelStream, LongerRecordHeadsAreSkipped) {
  ModelBytes m;
  // A sheet record of 36 bytes and a cell record head of 44: the extra bytes come before the
  // texts and payloads.
  std::string sheet = sheetRecord(0, u"Sheet1", 1, RangeRef{});
  sheet[0] = 36;
  m.section[2] = sheet.substr(0, 32) + "\xEE\xEE\xEE\xEE" + sheet.substr(32);
  std::string cell = cellRecord(at(0, 0, 0), numberValue(4), 0, 2);
  cell[0] = 44;
  m.section[8] = cell.substr(0, 40) + "\xEE\xEE\xEE\xEE" + cell.substr(40);
  CompiledModel model;
  std::string error;
  ASSERT_TRUE(load(m.str(), model, &error)) << error;
  EXPECT_EQ(model.sheets().find(0)->name(), u"Sheet1");
  EXPECT_TRUE(model.sheets().find(0)->eventFlag);
  Cell* cell0 = model.findCell(at(0, 0, 0));
  ASSERT_NE(cell0, nullptr);
  EXPECT_EQ(cell0->value->number(), 4);
  EXPECT_EQ(cell0->firstListIndex, 2);
  // Written back in this writer's own layout.
  EXPECT_EQ(written(model).find("\xEE\xEE"), std::string::npos);
}

TEST(ModelStream, StreamEndingAtASectionBoundaryLoadsAsFarAsItGoes) {
  FullModel f;
  for (int last : {9, 10, 11}) {
    SCOPED_TRACE(last);
    CompiledModel model;
    std::string error;
    ASSERT_TRUE(load(f.m.str(last), model, &error)) << error;
    EXPECT_EQ(model.cellCount(), 5u);
    EXPECT_EQ(model.findCell(f.c3)->formulaRoots.size(), 2u);
    EXPECT_EQ(model.rangeIndex().size(), last >= 10 ? 2u : 0u);
    EXPECT_TRUE(model.sharedTable1.empty());
  }
  // With no names and no cells counted, the stream may end right after the sheet table.
  ModelBytes m;
  m.cells = 0;
  CompiledModel model;
  ASSERT_TRUE(load(m.str(2), model));
  EXPECT_EQ(model.sheets().size(), 1u);
}

TEST(ModelStream, HyperlinksAreClassifiedAndWrittenInTheFormRead) {
  struct Case {
    std::u16string text;
    uint32_t kind;
  } cases[] = {
      {u"HTTPS://a.b", Hyperlink::kWeb},  {u"http://a.b", Hyperlink::kWeb},
      {u"MailTo:x@y", Hyperlink::kMail},  {u"#Sheet2!A1", Hyperlink::kInWorkbook},
      {u"docs\\a.pdf", Hyperlink::kFile}, {u"", Hyperlink::kFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    ModelBytes m;
    m.section[8] = cellRecord(at(0, 0, 0), "", 0, -1, c.text, true);
    CompiledModel model;
    ASSERT_TRUE(load(m.str(), model));
    const Hyperlink* link = model.findCell(at(0, 0, 0))->hyperlink();
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->kind, c.kind);
    if (c.kind == Hyperlink::kInWorkbook) {
      EXPECT_EQ(link->target, u"Sheet2!A1");
    } else {
      EXPECT_EQ(link->address, c.text);
    }
    EXPECT_EQ(written(model), m.str());
  }
}

TEST(ModelStream, ModelBuiltThroughTheInterfaceSurvivesTheRoundTrip) {
  CompiledModel model;
  model.applicationId = 9;
  model.sheets().add(Sheet(0, u"Data", u"Data"));
  Cell* a1 = model.cellAt(at(0, 0, 0));
  a1->ensureValue().setNumber(2);
  a1->firstListIndex = 0;
  a1->flags = kCellInput | kCellScheduled;  // the run-time bit is not stored
  model.enterInLists(a1);
  Cell* b5 = model.cellAt(at(0, 4, 1));
  auto product = std::make_unique<OperatorNode>(kOpMultiply);
  product->addChild(std::make_unique<CellRefNode>(a1));
  product->addChild(std::make_unique<NumberNode>(3));
  b5->formulaRoots.push_back(std::move(product));
  b5->addPrecedent(a1);
  b5->ensureValue().setNumber(6);
  // A member of an array formula that is not its anchor stores no value.
  Cell* c1 = model.cellAt(at(0, 0, 2));
  c1->flags = kCellArrayMember;
  c1->setArrayRange(RangeRef{at(0, 0, 1), at(0, 0, 2)});
  c1->ensureValue().setArray(ValueArray(2, 1));
  model.constants.push_back(Value::text(u"key"));
  model.names.push_back(DefinedName{std::make_unique<CellRefNode>(b5), u"Result", -1});
  model.nameIndex[u"RESULT"] = 0;
  model.sharedTable1.push_back(std::make_unique<NumberNode>(1));

  std::string first = written(model);
  CompiledModel loaded;
  std::string error;
  ASSERT_TRUE(load(first, loaded, &error)) << error;
  EXPECT_EQ(written(loaded), first);

  Cell* a1b = loaded.findCell(at(0, 0, 0));
  Cell* b5b = loaded.findCell(at(0, 4, 1));
  Cell* c1b = loaded.findCell(at(0, 0, 2));
  ASSERT_TRUE(a1b && b5b && c1b);
  EXPECT_EQ(a1b->flags, kCellInput);
  EXPECT_EQ(loaded.indexedCells(), (std::vector<Cell*>{a1b}));
  ASSERT_EQ(b5b->formulaRoots.size(), 1u);
  EXPECT_EQ(b5b->formulaRoots[0]->children().size(), 2u);
  EXPECT_TRUE(b5b->precedents.count(a1b));
  EXPECT_EQ(c1b->value, nullptr);
  ASSERT_NE(c1b->arrayRange(), nullptr);
  EXPECT_EQ(static_cast<const CellRefNode*>(loaded.names[0].root.get())->cell(), b5b);
  EXPECT_EQ(loaded.nameIndex.at(u"RESULT"), 0u);
  EXPECT_EQ(loaded.grid().extents(), model.grid().extents());
}

TEST(ModelStream, SharedTable1TreeCountMismatchIsAnInternalError) {
  CompiledModel model;
  model.sharedTable1.push_back(std::make_unique<NumberNode>(1));
  model.sharedTable1.push_back(nullptr);
  ChunkStream out;
  EXPECT_THROW(writeModel(model, out), std::logic_error);
}

// Each malformed stream is rejected whole, with the section and the byte offset in the message,
// and leaves the model empty.
TEST(ModelStream, MalformedModelsAreRejectedWhole) {
  struct Case {
    const char* name;
    std::string content;
    int section;
    int64_t offset;  // -1: not checked
  };
  std::vector<Case> cases;
  auto add = [&](const char* name, const ModelBytes& m, int section, int64_t offset = -1) {
    cases.push_back({name, m.str(), section, offset});
  };
  FullModel full;
  {
    ModelBytes m;
    m.magic = 0x12345678;
    add("another magic", m, 0, 0);
  }
  {
    ModelBytes m;
    m.headerLength = 20;
    add("model header shorter than 24", m, 0, 0);
  }
  cases.push_back({"stream ends inside the model header", ModelBytes().str().substr(0, 10), 0, 0});
  {
    ModelBytes m;
    m.section[1] = Bytes().u32(8).u32(1).u16(0).u16(0).u32(9).u32(3).str();
    add("extent naming no rows", m, 1, 32);
  }
  {
    ModelBytes m;
    Bytes b;
    b.u32(8).u32(3);
    for (uint16_t column = 0; column < 3; ++column) b.u16(0).u16(column).u32(0).u32(65535);
    m.section[1] = b.str();
    add("extents reserving more than one block per cell", m, 1);
  }
  {
    ModelBytes m;
    m.sheets = 2;
    add("sheet count beyond the records", m, 2, int64_t(m.offsetOf(3)));
  }
  {
    ModelBytes m;
    m.section[2][0] = 30;
    add("sheet record shorter than 32", m, 2, int64_t(m.offsetOf(2)));
  }
  {
    ModelBytes m;
    m.section[3] = Bytes().u32(12).u32(1).u32(9).u32(8).u32(0).str();
    add("control groups not filling their length", m, 3);
  }
  {
    ModelBytes m;
    m.section[3] = Bytes().u32(12).u32(1).u32(28).u32(8).u32(1).u32(20).zeros(16).str();
    add("control item head shorter than 32", m, 3);
  }
  {
    ModelBytes m;
    m.section[3] = Bytes().u32(4).str();
    add("section header shorter than its fixed part", m, 3, int64_t(m.offsetOf(3)));
  }
  {
    ModelBytes m;
    m.section[4] = Bytes().u32(12).u32(3).u32(2).u8(0).u8(0).str();
    add("more constants than block bytes", m, 4);
  }
  {
    ModelBytes m;
    m.section[4] = Bytes().u32(12).u32(1).u32(2).u8(0x77).u8(0).str();
    add("constant that is no value", m, 4);
  }
  {
    ModelBytes m;
    m.section[5] = Bytes().u32(8).u32(1).u32(8).u16(4000).u16(0).str();
    add("workbook path longer than the stream", m, 5, int64_t(m.offsetOf(5) + 8));
  }
  {
    ModelBytes m;
    m.section[6] = Bytes().u32(8).u32(1).u32(12).u16(0).u16(0).u32(0xFFFFFFFF).str();
    add("DDE item count beyond the stream", m, 6);
  }
  {
    ModelBytes m;
    m.names = 1;
    add("name counts that differ", m, 7);
  }
  {
    ModelBytes m;
    m.names = 1;
    add("stream ending before counted names", m, 7);
    cases.back().content = m.str(6);
  }
  {
    ModelBytes m;
    m.names = 1;
    std::string expression = numberNode(-1, 1) + "\x01\x02\x03\x04";
    m.section[7] = Bytes()
                       .u32(8)
                       .u32(1)
                       .u16(12)
                       .u16(2)
                       .i32(-1)
                       .u32(uint32_t(expression.size()))
                       .text(u"N")
                       .raw(expression)
                       .str();
    // The second node record starts 16 bytes into the expression.
    add("name expression with a broken node record", m, 7, int64_t(m.offsetOf(7) + 8 + 14 + 16));
  }
  {
    ModelBytes m;
    m.cells = 2;
    add("cell count beyond the records", m, 8, int64_t(m.offsetOf(9)));
  }
  {
    ModelBytes m;
    m.section[8][0] = 39;
    add("cell record head shorter than 40", m, 8, int64_t(m.offsetOf(8)));
  }
  {
    ModelBytes m;
    m.section[8] = Bytes()
                       .u8(40)
                       .zeros(7)
                       .ref(at(0, 0, 0))
                       .u32(0)
                       .u32(0)
                       .i32(-1)
                       .u32(0x7FFFFFFF)
                       .u32(0)
                       .u32(0)
                       .str();
    add("hyperlink longer than the stream", m, 8);
  }
  {
    ModelBytes m;
    m.section[8] = cellRecord(at(0, 0, 0), "\x63", 0, -1);
    add("value payload that is no value", m, 8);
  }
  {
    ModelBytes m;
    m.section[8] = cellRecord(at(0, 0, 0), "", 0, -1);
    m.section[8][32] = 8;
    m.section[8] += std::string(8, '\0');
    add("array range payload of 8 bytes", m, 8);
  }
  {
    ModelBytes m;
    m.cells = 2;
    m.section[8] += cellRecord(at(0, 0, 0), numberValue(2), 0, -1);
    add("two records for one address", m, 8, int64_t(m.offsetOf(8) + m.section[8].size() / 2));
  }
  {
    ModelBytes m;
    m.section[9] = Bytes().u32(1).u8(24).zeros(7).ref(at(0, 7, 7)).u32(0).u32(0).str();
    add("formula for an address without a cell", m, 9, int64_t(m.offsetOf(9) + 4));
  }
  {
    ModelBytes m;
    m.section[9] =
        Bytes().u32(1).u8(24).zeros(7).ref(at(0, 0, 0)).u32(0).u32(1).ref(at(0, 3, 3)).str();
    add("precedent without a cell", m, 9, int64_t(m.offsetOf(9) + 4 + 24));
  }
  {
    ModelBytes m;
    m.section[9] = Bytes()
                       .u32(1)
                       .u8(24)
                       .zeros(7)
                       .ref(at(0, 0, 0))
                       .u32(2)
                       .u32(0)
                       .raw(operatorNode(-1, kOpAdd))
                       .raw(numberNode(5, 1))
                       .str();
    add("parent index naming no node", m, 9, int64_t(m.offsetOf(9) + 4 + 24 + 12));
  }
  {
    ModelBytes m;
    m.section[9] = Bytes()
                       .u32(1)
                       .u8(24)
                       .zeros(7)
                       .ref(at(0, 0, 0))
                       .u32(1)
                       .u32(0)
                       .u16(12)
                       .u16(kTagNumber)
                       .i32(-1)
                       .u32(0)
                       .str();
    add("node record shorter than its fixed part", m, 9);
  }
  {
    ModelBytes m;
    m.section[9] =
        Bytes().u32(1).u8(24).zeros(7).ref(at(0, 0, 0)).u32(3).u32(0).raw(numberNode(-1, 1)).str();
    // Cut after the section: otherwise the next section's header would read as records of an
    // unknown tag, which the format cannot tell from nodes.
    add("node count beyond the stream", m, 9);
    cases.back().content = m.str(9);
  }
  {
    ModelBytes m;
    m.section[10] = Bytes().u32(8).u32(5).range(at(0, 0, 0), at(0, 1, 1)).str();
    add("range count beyond the stream", m, 10);
  }
  {
    ModelBytes m;
    m.section[11] = Bytes().u32(8).u32(2).raw(numberNode(-1, 1)).str();
    add("table 2 node count beyond the stream", m, 11);
    cases.back().content = m.str(11);
  }
  {
    ModelBytes m;
    m.section[12] = Bytes().u32(8).u32(3).raw(numberNode(-1, 1)).str();
    add("table 1 entry count beyond its trees", m, 12);
  }
  {
    ModelBytes m = full.m;
    m.section[12] += std::string("\x08\x00", 2);
    add("bytes after table 1 that are no node record", m, 12, int64_t(m.str().size()) - 2);
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CompiledModel model;
    // Something from before must go too.
    model.cellAt(at(0, 99, 99));
    model.constants.push_back(Value::number(1));
    std::string error;
    EXPECT_FALSE(load(c.content, model, &error));
    EXPECT_NE(error.find("model section " + std::to_string(c.section) + " "), std::string::npos)
        << error;
    if (c.offset >= 0) {
      EXPECT_NE(error.find("byte " + std::to_string(c.offset) + ":"), std::string::npos) << error;
    }
    expectEmpty(model);
  }
}

// Every prefix of a full stream, and the stream with any one byte replaced, either loads or is
// rejected cleanly; run under the sanitizers this shows that nothing reads past its input.
TEST(ModelStream, CutAndDamagedStreamsLoadOrFailCleanly) {
  const std::string content = FullModel().m.str();
  auto check = [](const std::string& bytes) {
    CompiledModel model;
    std::string error;
    if (load(bytes, model, &error)) return;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(model.cellCount(), 0u);
    EXPECT_TRUE(model.names.empty());
    EXPECT_TRUE(model.sheets().empty());
  };
  for (size_t n = 1; n < content.size(); ++n) check(content.substr(0, n));
  for (size_t i = 0; i < content.size(); ++i) {
    for (char replacement : {'\x00', '\x7F', '\xFF'}) {
      std::string damaged = content;
      damaged[i] = replacement;
      check(damaged);
    }
  }
}

}  // namespace
}  // namespace korvel
