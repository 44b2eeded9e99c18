#include "model/nodes/node_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "model/compiled_model.h"
#include "tests/model/nodes/node_test_support.h"

namespace korvel {
namespace {

using testing_nodes::ByteStream;
using testing_nodes::FakeResolver;
using testing_nodes::rawRecord;
using testing_nodes::recordOf;
using testing_nodes::subtreeOf;
using testing_nodes::u32Bytes;

std::string f64Bytes(double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return u32Bytes(static_cast<uint32_t>(bits)) + u32Bytes(static_cast<uint32_t>(bits >> 32));
}

// Reads every record of the bytes; the roots in order, the status of the last read.
struct ReadResult {
  std::vector<std::unique_ptr<Node>> roots;
  std::vector<Node*> local;
  NodeReadStatus last = NodeReadStatus::kNode;
  std::string error;
};

ReadResult readAll(std::string_view bytes, CompiledModel& model) {
  ReadResult result;
  ByteStream in(bytes);
  while (in.stream.hasUnread()) {
    std::unique_ptr<Node> root;
    result.last = readNode(in.stream, model, result.local, &root, &result.error);
    if (root) result.roots.push_back(std::move(root));
    if (result.last == NodeReadStatus::kError) break;
  }
  return result;
}

ValueArray smallArray() {
  ValueArray a;
  std::vector<Value> first, second;
  first.push_back(Value::integer(1));
  first.push_back(Value::text(u"ab"));
  second.push_back(Value::boolean(true));
  second.push_back(Value::error(kErrorNA));
  a.appendRow(std::move(first));
  a.appendRow(std::move(second));
  return a;
}

struct RoundTripCase {
  const char* name;
  std::function<std::unique_ptr<Node>(CompiledModel&, const FunctionResolver&)> make;
  size_t length;
};

TEST(NodeRecords, EveryTagWritesItsLengthAndReadsBackToTheSameBytes) {
  const std::vector<RoundTripCase> cases = {
      {"cell",
       [](CompiledModel& m, auto&) {
         return std::make_unique<CellRefNode>(m.cellAt(CellRef::at(1, 4, 2)));
       },
       16},
      {"no cell", [](auto&, auto&) { return std::make_unique<CellRefNode>(nullptr); }, 16},
      {"number", [](auto&, auto&) { return std::make_unique<NumberNode>(2.5); }, 16},
      {"integer", [](auto&, auto&) { return std::make_unique<NumberNode>(-7); }, 16},
      {"union", [](auto&, auto&) { return std::make_unique<UnionNode>(); }, 8},
      {"shared 1", [](auto&, auto&) { return std::make_unique<SharedRefNode>(1, 3); }, 12},
      {"boolean", [](auto&, auto&) { return std::make_unique<BooleanNode>(true); }, 12},
      {"operator", [](auto&, auto&) { return std::make_unique<OperatorNode>(kOpPower); }, 12},
      {"text", [](auto&, auto&) { return std::make_unique<TextNode>(u"say \"hi\""); }, 24},
      {"empty text", [](auto&, auto&) { return std::make_unique<TextNode>(u""); }, 8},
      {"dde", [](auto&, auto&) { return std::make_unique<DdeRefNode>(2, 5, u"R1C1"); }, 24},
      {"call",
       [](auto&, const FunctionResolver& r) {
         return std::make_unique<CallNode>(u"Sum", CallNode::kCallFlag, &r);
       },
       22},
      {"external", [](auto&, auto&) { return std::make_unique<ExternalRefNode>(3, u"Sheet1'!A1"); },
       30},
      {"local", [](auto&, auto&) { return std::make_unique<LocalRefNode>(2); }, 12},
      {"comparison", [](auto&, auto&) { return std::make_unique<ComparisonNode>(kCmpNotEqual); },
       12},
      {"error", [](auto&, auto&) { return std::make_unique<ErrorNode>(kErrorNA); }, 12},
      {"unknown error code", [](auto&, auto&) { return std::make_unique<ErrorNode>(0x1234); }, 12},
      {"range",
       [](auto&, auto&) {
         return std::make_unique<RangeRefNode>(RangeRef{CellRef::at(0, 0, 0), CellRef::at(0, 9, 2)},
                                               kRangeWholeColumns);
       },
       32},
      // 12 + integer 5 + text "ab" 7 + boolean 2 + error 5.
      {"array", [](auto&, auto&) { return std::make_unique<ArrayNode>(smallArray()); }, 31},
      {"empty array", [](auto&, auto&) { return std::make_unique<ArrayNode>(ValueArray()); }, 12},
      {"name", [](auto&, auto&) { return std::make_unique<NameRefNode>(7); }, 12},
      {"shared 2", [](auto&, auto&) { return std::make_unique<SharedRefNode>(2, 9); }, 12},
      {"intersection", [](auto&, auto&) { return std::make_unique<IntersectionNode>(); }, 8},
      {"missing", [](auto&, auto&) { return std::make_unique<MissingNode>(); }, 8},
  };
  FakeResolver resolver;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CompiledModel model;
    model.functions = &resolver;
    std::unique_ptr<Node> node = c.make(model, resolver);
    std::string bytes = recordOf(*node, 5);
    ASSERT_EQ(bytes.size(), c.length);
    EXPECT_EQ(uint8_t(bytes[0]) | uint8_t(bytes[1]) << 8, int(c.length));
    EXPECT_EQ(uint8_t(bytes[2]), node->tag());
    EXPECT_EQ(bytes.substr(4, 4), u32Bytes(5));

    std::string asRoot = recordOf(*node);
    ByteStream in(asRoot);
    std::vector<Node*> local;
    std::unique_ptr<Node> root;
    std::string error;
    ASSERT_EQ(readNode(in.stream, model, local, &root, &error), NodeReadStatus::kNode) << error;
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->tag(), node->tag());
    EXPECT_EQ(local, std::vector<Node*>{root.get()});
    EXPECT_EQ(recordOf(*root), asRoot);
    EXPECT_FALSE(in.stream.hasUnread());
  }
}

TEST(NodeRecords, FieldsLieWhereTheFormatPutsThem) {
  CompiledModel model;
  CellRefNode cell(model.cellAt(CellRef::at(2, 0x10, 3)));
  EXPECT_EQ(recordOf(cell, 1), rawRecord(kTagCellRef, 1, u32Bytes(0x10) + u32Bytes(0x20003)));
  CellRefNode none(nullptr);
  EXPECT_EQ(recordOf(none), rawRecord(kTagCellRef, -1, std::string(8, '\xFF')));

  CallNode call(u"Now", 1, nullptr);
  EXPECT_EQ(recordOf(call),
            rawRecord(kTagCall, -1, u32Bytes(1) + std::string("N\0o\0w\0\0\0\0\0", 10)));

  RangeRefNode range(RangeRef{CellRef::at(0, 1, 2), CellRef::at(0, 3, 4)}, kRangeWholeRows);
  EXPECT_EQ(recordOf(range), rawRecord(kTagRangeRef, -1,
                                       u32Bytes(1) + u32Bytes(2) + u32Bytes(3) + u32Bytes(4) +
                                           "\x02" + std::string(7, '\0')));

  OperatorNode negate(kOpNegate);
  EXPECT_EQ(recordOf(negate), rawRecord(kTagOperator, -1, std::string("\x06\0\0\0", 4)));
  ExternalRefNode external(0x102, u"A");
  EXPECT_EQ(recordOf(external), rawRecord(kTagExternalRef, -1,
                                          std::string("\x02\x01"
                                                      "A\0",
                                                      4)));
}

TEST(NodeRecords, TreesWriteInPrefixOrderAndReadBackWhole) {
  // SUM(A1:B2, -(1 + 2)) under a union with a missing argument.
  FakeResolver resolver;
  CompiledModel model;
  model.functions = &resolver;
  auto call = std::make_unique<CallNode>(u"SUM", 1, &resolver);
  call->addChild(
      std::make_unique<RangeRefNode>(RangeRef{CellRef::at(0, 0, 0), CellRef::at(0, 1, 1)}, 0));
  auto negate = std::make_unique<OperatorNode>(kOpNegate);
  auto plus = std::make_unique<OperatorNode>(kOpAdd);
  plus->addChild(std::make_unique<NumberNode>(1));
  plus->addChild(std::make_unique<NumberNode>(2));
  negate->addChild(std::move(plus));
  call->addChild(std::move(negate));
  call->addChild(std::make_unique<MissingNode>());
  ASSERT_EQ(call->subtreeSize(), 7u);

  std::string bytes = subtreeOf(*call);
  // Parent indexes: call -1, range 0, negate 0, plus 2, 1 and 2 under 3, missing 0.
  std::vector<int32_t> parents;
  for (size_t at = 0; at < bytes.size();) {
    parents.push_back(int32_t(testing_nodes::readLe32(bytes.data() + at + 4)));
    at += uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8;
  }
  EXPECT_EQ(parents, (std::vector<int32_t>{-1, 0, 0, 2, 3, 3, 0}));

  ReadResult read = readAll(bytes, model);
  ASSERT_EQ(read.last, NodeReadStatus::kNode) << read.error;
  ASSERT_EQ(read.roots.size(), 1u);
  EXPECT_EQ(read.roots[0]->formulaText(&model), u"SUMME(A1:B2,-(1+2),)");
  EXPECT_EQ(subtreeOf(*read.roots[0]), bytes);
  EXPECT_EQ(read.local[3]->parent(), read.local[2]);
}

TEST(NodeReader, UnionRecordTakesTheFollowingRangesAsChildrenInOrder) {
  CompiledModel model;
  std::string bytes = rawRecord(kTagUnion, -1, "");
  RangeRefNode first(RangeRef{CellRef::at(0, 0, 0), CellRef::at(0, 1, 0)}, 0);
  RangeRefNode second(RangeRef{CellRef::at(0, 5, 5), CellRef::at(0, 6, 6)}, 0);
  bytes += recordOf(first, 0) + recordOf(second, 0);
  ReadResult read = readAll(bytes, model);
  ASSERT_EQ(read.last, NodeReadStatus::kNode) << read.error;
  ASSERT_EQ(read.roots.size(), 1u);
  const Node& u = *read.roots[0];
  ASSERT_TRUE(u.isUnion());
  ASSERT_EQ(u.children().size(), 2u);
  EXPECT_EQ(u.children()[0]->formulaText(&model), u"A1:A2");
  EXPECT_EQ(u.children()[1]->formulaText(&model), u"F6:G7");
  EXPECT_EQ(u.children()[1]->parent(), &u);
}

TEST(NodeReader, NonFiniteNumbersLoadAsZero) {
  for (double x :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity()}) {
    CompiledModel model;
    ReadResult read = readAll(rawRecord(kTagNumber, -1, f64Bytes(x)), model);
    ASSERT_EQ(read.roots.size(), 1u);
    EXPECT_EQ(read.roots[0]->value().kind(), ValueKind::kInteger);
    EXPECT_EQ(read.roots[0]->value().number(), 0.0);
  }
}

TEST(NodeReader, CellReferencesFindOrCreateTheirCell) {
  CompiledModel model;
  Cell* existing = model.cellAt(CellRef::at(0, 1, 1));
  std::string bytes = rawRecord(kTagCellRef, -1, u32Bytes(1) + u32Bytes(1)) +
                      rawRecord(kTagCellRef, -1, u32Bytes(7) + u32Bytes(0x10002)) +
                      rawRecord(kTagCellRef, -1, std::string(8, '\xFF'));
  ReadResult read = readAll(bytes, model);
  ASSERT_EQ(read.roots.size(), 3u);
  EXPECT_EQ(static_cast<CellRefNode&>(*read.roots[0]).cell(), existing);
  Cell* created = static_cast<CellRefNode&>(*read.roots[1]).cell();
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(model.findCell(CellRef::at(1, 7, 2)), created);
  EXPECT_EQ(static_cast<CellRefNode&>(*read.roots[2]).cell(), nullptr);
  EXPECT_EQ(model.cellCount(), 2u);
}

TEST(NodeReader, CallsResolveThroughTheModelsFunctions) {
  FakeResolver resolver;
  CompiledModel model;
  CallNode sample(u"sum", 1, nullptr);
  CallNode unknown(u"MyMacro", 0, nullptr);
  std::string bytes = recordOf(sample) + recordOf(unknown);

  ReadResult without = readAll(bytes, model);
  ASSERT_EQ(without.roots.size(), 2u);
  EXPECT_EQ(static_cast<CallNode&>(*without.roots[0]).functionNumber(), -1);

  model.functions = &resolver;
  ReadResult with = readAll(bytes, model);
  ASSERT_EQ(with.roots.size(), 2u);
  auto& sum = static_cast<CallNode&>(*with.roots[0]);
  EXPECT_EQ(sum.name(), u"sum");
  EXPECT_EQ(sum.functionNumber(), 4);
  EXPECT_EQ(sum.native(), FakeResolver::native());
  EXPECT_EQ(sum.callFlags(), 1u);
  auto& macro = static_cast<CallNode&>(*with.roots[1]);
  EXPECT_EQ(macro.functionNumber(), -1);
  EXPECT_EQ(macro.native(), nullptr);
  EXPECT_EQ(macro.formulaText(&model), u"MyMacro()");
}

TEST(NodeReader, UnknownTagsAreConsumedAndLeaveAGapInTheLocalList) {
  CompiledModel model;
  std::string bytes =
      rawRecord(kTagUnion, -1, "") + rawRecord(99, 0, "abcdef") + rawRecord(kTagMissing, 0, "");
  ReadResult read = readAll(bytes, model);
  ASSERT_EQ(read.last, NodeReadStatus::kNode) << read.error;
  ASSERT_EQ(read.local.size(), 3u);
  EXPECT_EQ(read.local[1], nullptr);
  EXPECT_EQ(read.roots[0]->children().size(), 1u);

  ByteStream in(rawRecord(99, -1, "xy"));
  std::vector<Node*> local;
  std::unique_ptr<Node> root;
  EXPECT_EQ(readNode(in.stream, model, local, &root, nullptr), NodeReadStatus::kNoNode);
  EXPECT_EQ(root, nullptr);
  EXPECT_FALSE(in.stream.hasUnread());
}

TEST(NodeReader, TextsEndAtTheirFirstTrailingZeroAndTooLongTextsAreCutToFit) {
  CompiledModel model;
  ReadResult padded = readAll(rawRecord(kTagText, -1, std::string("h\0i\0\0\0\0\0", 8)), model);
  ASSERT_EQ(padded.roots.size(), 1u);
  EXPECT_EQ(padded.roots[0]->value().text(), u"hi");

  // A text beyond what a u16 length can carry: the record holds the units that fit, and its
  // length says so.
  TextNode longText(std::u16string(40000, u'x'));
  std::string bytes = recordOf(longText);
  ASSERT_LE(bytes.size(), 0xFFFFu);
  EXPECT_EQ(size_t(uint8_t(bytes[0]) | uint8_t(bytes[1]) << 8), bytes.size());
  ReadResult read = readAll(bytes + recordOf(MissingNode()), model);
  ASSERT_EQ(read.roots.size(), 2u);
  EXPECT_EQ(read.roots[0]->value().text(), std::u16string((0xFFFF - 8) / 2, u'x'));

  // DDE and external texts stay within their 1024-byte records.
  DdeRefNode dde(0, 0, std::u16string(600, u'i'));
  EXPECT_EQ(recordOf(dde).size(), 1024u);
  ExternalRefNode external(0, std::u16string(600, u'e'));
  EXPECT_LE(recordOf(external).size(), 1024u);
  ReadResult links = readAll(recordOf(dde) + recordOf(external), model);
  ASSERT_EQ(links.roots.size(), 2u) << links.error;
}

struct MalformedCase {
  const char* name;
  std::string bytes;
  const char* errorPart;
};

TEST(NodeReader, MalformedRecordsAreErrorsAndAttachNothing) {
  const std::string head = rawRecord(kTagUnion, -1, "");
  const std::string number = rawRecord(kTagNumber, -1, f64Bytes(1));
  const std::vector<MalformedCase> cases = {
      {"head cut short", std::string("\x10\0\x08\0\xFF", 5), "ends inside a node record head"},
      {"record cut short", number.substr(0, 12), "ends inside"},
      {"length below the head", rawRecord(kTagMissing, -1, "", 6), "shorter than its head"},
      {"number without its payload", rawRecord(kTagNumber, -1, "1234"), "shorter than its fixed"},
      {"range without flags", rawRecord(kTagRangeRef, -1, std::string(16, '\0')),
       "shorter than its fixed"},
      {"call without its zero units", rawRecord(kTagCall, -1, std::string("\x01\0\0\0", 4), 12),
       "shorter than its fixed"},
      {"dde beyond 1024 bytes", rawRecord(kTagDdeRef, -1, std::string(1018, 'a')), "longer"},
      {"external beyond 1024 bytes", rawRecord(kTagExternalRef, -1, std::string(1018, 'a')),
       "longer"},
      {"parent beyond the records", head + rawRecord(kTagMissing, 1, ""), "not an earlier"},
      {"parent below -1", head + rawRecord(kTagMissing, -2, ""), "not an earlier"},
      {"parent that yielded no node", rawRecord(99, -1, "") + rawRecord(kTagMissing, 0, ""),
       "yielded no node"},
      {"leaf as parent", number + rawRecord(kTagMissing, 0, ""), "takes no children"},
      {"array element cut short",
       rawRecord(kTagArray, -1, u32Bytes(1) + std::string("\x01\x02\x00", 3)), "undecodable"},
      {"array element of unknown kind",
       rawRecord(kTagArray, -1, u32Bytes(1) + std::string("\x0C", 1)), "undecodable"},
      {"array inside an array",
       rawRecord(kTagArray, -1, u32Bytes(1) + std::string("\x08\x01\0\0\0\x01\0\0\0\0", 10)),
       "undecodable"},
      {"elements not filling rows",
       rawRecord(kTagArray, -1, u32Bytes(2) + std::string("\0\0\0", 3)), "do not fill rows"},
      {"elements without columns", rawRecord(kTagArray, -1, u32Bytes(0) + std::string("\0", 1)),
       "do not fill rows"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CompiledModel model;
    ReadResult read = readAll(c.bytes, model);
    EXPECT_EQ(read.last, NodeReadStatus::kError);
    EXPECT_NE(read.error.find(c.errorPart), std::string::npos) << read.error;
    // The failed record added nothing: the earlier root keeps its children.
    for (const auto& root : read.roots) EXPECT_TRUE(root->children().empty());
  }
}

TEST(NodeReader, RootsMustBeTakenBeforeTheNextRootIsRead) {
  CompiledModel model;
  ByteStream in(rawRecord(kTagUnion, -1, "") + rawRecord(kTagMissing, -1, ""));
  std::vector<Node*> local;
  std::unique_ptr<Node> root;
  std::string error;
  ASSERT_EQ(readNode(in.stream, model, local, &root, &error), NodeReadStatus::kNode);
  Node* first = root.get();
  EXPECT_EQ(readNode(in.stream, model, local, &root, &error), NodeReadStatus::kError);
  EXPECT_EQ(root.get(), first);
  EXPECT_EQ(local.size(), 1u);
  EXPECT_EQ(readNode(in.stream, model, local, nullptr, &error), NodeReadStatus::kError);
}

TEST(NodeReader, TreesDeeperThanTheLimitAreRefused) {
  CompiledModel model;
  std::string bytes = rawRecord(kTagOperator, -1, std::string("\x06\0\0\0", 4));
  for (size_t i = 1; i < kMaxNodeDepth; ++i) {
    bytes += rawRecord(kTagOperator, int32_t(i - 1), std::string("\x06\0\0\0", 4));
  }
  ReadResult within = readAll(bytes, model);
  ASSERT_EQ(within.last, NodeReadStatus::kNode) << within.error;
  EXPECT_EQ(within.roots[0]->subtreeSize(), kMaxNodeDepth);

  bytes += rawRecord(kTagMissing, int32_t(kMaxNodeDepth - 1), "");
  ReadResult beyond = readAll(bytes, model);
  EXPECT_EQ(beyond.last, NodeReadStatus::kError);
  EXPECT_NE(beyond.error.find("deeper"), std::string::npos);
}

}  // namespace
}  // namespace korvel
