#include "model/nodes/node.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/locale_settings.h"
#include "model/compiled_model.h"
#include "model/object_pool.h"
#include "tests/model/nodes/node_test_support.h"

namespace korvel {
namespace {

using testing_nodes::FakeResolver;

std::unique_ptr<Node> binary(std::unique_ptr<CompositeNode> node, std::unique_ptr<Node> a,
                             std::unique_ptr<Node> b = nullptr) {
  node->addChild(std::move(a));
  if (b) node->addChild(std::move(b));
  return node;
}

std::unique_ptr<Node> number(double x) { return std::make_unique<NumberNode>(x); }
std::unique_ptr<Node> text(std::u16string_view t) { return std::make_unique<TextNode>(t); }
std::unique_ptr<Node> range(uint32_t sheet, uint32_t r1, uint32_t c1, uint32_t r2, uint32_t c2,
                            uint8_t flags = 0) {
  return std::make_unique<RangeRefNode>(
      RangeRef{CellRef::at(sheet, r1, c1), CellRef::at(sheet, r2, c2)}, flags);
}

class NodeText : public ::testing::Test {
 protected:
  void SetUp() override {
    model_.sheets().add(Sheet(0, u"Calc", u"Calc"));
    model_.sheets().add(Sheet(1, u"Data", u"Data"));
    model_.sheets().add(Sheet(2, u"My Sheet", u"My Sheet"));
    model_.sheets().add(Sheet(3, u"2020", u"2020"));
    model_.sheets().add(Sheet(4, u"AB12", u"AB12"));
    model_.sheets().add(Sheet(5, u"rc", u"rc"));
    model_.functions = &resolver_;
    home_ = model_.cellAt(CellRef::at(0, 0, 0));
  }
  void TearDown() override { resetLocaleSettings(); }

  FakeResolver resolver_;
  CompiledModel model_;
  Cell* home_ = nullptr;
};

TEST_F(NodeText, ConstantsRenderAsLiterals) {
  ValueArray array;
  std::vector<Value> row1, row2;
  row1.push_back(Value::integer(1));
  row1.push_back(Value::text(u"a\"b"));
  row2.push_back(Value::boolean(true));
  row2.push_back(Value::error(kErrorNA));
  array.appendRow(std::move(row1));
  array.appendRow(std::move(row2));
  struct Case {
    std::unique_ptr<Node> node;
    std::u16string expected;
  };
  Case cases[] = {
      {number(42), u"42"},
      {number(-3), u"-3"},
      {number(1.5), u"1.5"},
      {number(1e20), u"1E+020"},
      {text(u"say \"hi\""), u"\"say \"\"hi\"\"\""},
      {std::make_unique<BooleanNode>(false), u"FALSE"},
      {std::make_unique<ErrorNode>(kErrorDiv0), u"#DIV/0!"},
      {std::make_unique<MissingNode>(), u""},
      {std::make_unique<ArrayNode>(std::move(array)), u"{1,\"a\"\"b\";TRUE,#N/A}"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.node->formulaText(&model_), c.expected);
}

TEST_F(NodeText, ReferencesNameTheirSheetWhenItIsNotTheCurrentOne) {
  CurrentCellScope scope(home_);
  struct Case {
    std::unique_ptr<Node> node;
    std::u16string expected;
  };
  Case cases[] = {
      {std::make_unique<CellRefNode>(model_.cellAt(CellRef::at(0, 2, 1))), u"B3"},
      {std::make_unique<CellRefNode>(model_.cellAt(CellRef::at(1, 2, 1))), u"Data!B3"},
      {std::make_unique<CellRefNode>(nullptr), u"#REF!"},
      {range(0, 2, 1, 8, 2), u"B3:C9"},
      {range(0, 4, 4, 4, 4), u"E5"},
      {range(2, 0, 0, 0, 0), u"'My Sheet'!A1"},
      {range(3, 0, 0, 0, 0), u"'2020'!A1"},
      {range(4, 0, 0, 0, 0), u"'AB12'!A1"},
      {range(5, 0, 0, 0, 0), u"'rc'!A1"},
      {range(1, 0, 0, 1048575, 2, kRangeWholeColumns), u"Data!A:C"},
      {range(0, 0, 0, 2, 16383, kRangeWholeRows), u"1:3"},
      {range(9, 0, 0, 0, 0), u"#REF!"},  // no such sheet
  };
  for (const auto& c : cases) EXPECT_EQ(c.node->formulaText(&model_), c.expected);
}

TEST_F(NodeText, WithoutACurrentCellSheetsShowWhenTheModelHasSeveral) {
  auto ref = range(0, 0, 0, 1, 1);
  EXPECT_EQ(ref->formulaText(&model_), u"Calc!A1:B2");
  EXPECT_EQ(ref->formulaText(nullptr), u"A1:B2");
  CompiledModel single;
  single.sheets().add(Sheet(0, u"Only", u"Only"));
  EXPECT_EQ(ref->formulaText(&single), u"A1:B2");
}

TEST_F(NodeText, CompositesRenderWithParenthesesAndTheListSeparator) {
  CurrentCellScope scope(home_);
  auto sum = std::make_unique<CallNode>(u"sum", 1, &resolver_);
  sum->addChild(number(1));
  sum->addChild(std::make_unique<MissingNode>());
  sum->addChild(binary(std::make_unique<OperatorNode>(kOpNegate), number(2)));
  EXPECT_EQ(sum->formulaText(&model_), u"SUMME(1,,-2)");
  EXPECT_EQ(sum->functionNumber(), 4);
  EXPECT_EQ(sum->formulaText(nullptr), u"sum(1,,-2)");

  struct Case {
    std::unique_ptr<Node> node;
    std::u16string expected;
  };
  Case cases[] = {
      {binary(std::make_unique<OperatorNode>(kOpAdd), number(1), number(2)), u"(1+2)"},
      {binary(std::make_unique<OperatorNode>(kOpSubtract), number(1), number(2)), u"(1-2)"},
      {binary(std::make_unique<OperatorNode>(kOpMultiply), number(1), number(2)), u"(1*2)"},
      {binary(std::make_unique<OperatorNode>(kOpDivide), number(1), number(2)), u"(1/2)"},
      {binary(std::make_unique<OperatorNode>(kOpPower), number(2), number(3)), u"(2^3)"},
      {binary(std::make_unique<OperatorNode>(kOpConcatenate), text(u"a"), text(u"b")),
       u"(\"a\"&\"b\")"},
      {binary(std::make_unique<OperatorNode>(kOpPercent), number(5)), u"5%"},
      {binary(std::make_unique<ComparisonNode>(kCmpLess), number(1), number(2)), u"(1<2)"},
      {binary(std::make_unique<ComparisonNode>(kCmpGreaterOrEqual), number(1), number(2)),
       u"(1>=2)"},
      {binary(std::make_unique<ComparisonNode>(kCmpNotEqual), number(1), number(2)), u"(1<>2)"},
      {binary(std::make_unique<UnionNode>(), range(0, 0, 0, 0, 0), range(1, 1, 1, 1, 1)),
       u"(A1,Data!B2)"},
      {binary(std::make_unique<IntersectionNode>(), range(0, 0, 0, 1, 1), range(0, 0, 1, 2, 2)),
       u"(A1:B2 B1:C3)"},
      {std::make_unique<CallNode>(u"NoSuchThing", 0, &resolver_), u"NoSuchThing()"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.node->formulaText(&model_), c.expected);

  UserLocale german = UserLocale::germanGermany();
  german.listSeparator = u';';
  setUserLocale(german);
  EXPECT_EQ(sum->formulaText(&model_), u"SUMME(1;;-2)");
}

TEST_F(NodeText, LinksNamesAndIndirectNodesRenderFromTheModel) {
  model_.names.push_back(DefinedName{number(0.05), u"Rate", -1});
  model_.sharedTable1.push_back(
      binary(std::make_unique<OperatorNode>(kOpAdd), number(1), std::make_unique<NameRefNode>(0)));
  model_.ddeLinks.push_back(DdeLink{u"srv", u"to'pic", {}});
  model_.externalWorkbooks.push_back(
      ExternalWorkbook{u"C:\\Books", u"Book.xlsx", u"C:\\Books\\Book.xlsx"});

  EXPECT_EQ(NameRefNode(0).formulaText(&model_), u"Rate");
  EXPECT_EQ(NameRefNode(1).formulaText(&model_), u"#NAME?");
  EXPECT_EQ(NameRefNode(0).formulaText(nullptr), u"#NAME?");
  EXPECT_EQ(SharedRefNode(1, 0).formulaText(&model_), u"(1+Rate)");
  EXPECT_EQ(SharedRefNode(2, 0).formulaText(&model_), u"#REF!");
  EXPECT_EQ(DdeRefNode(0, 0, u"item").formulaText(&model_), u"'srv'|'to''pic'!'item'");
  EXPECT_EQ(DdeRefNode(1, 0, u"item").formulaText(&model_), u"#REF!");
  EXPECT_EQ(ExternalRefNode(0, u"Sheet1'!A1").formulaText(&model_),
            u"'C:\\Books\\[Book.xlsx]Sheet1'!A1");
  EXPECT_EQ(ExternalRefNode(1, u"Sheet1'!A1").formulaText(&model_), u"#REF!");
}

TEST_F(NodeText, LocalReferencesShowTheCurrentCellsRootOrTheirIndex) {
  LocalRefNode local(1);
  EXPECT_EQ(local.formulaText(&model_), u"@1");

  home_->formulaRoots.push_back(std::make_unique<LocalRefNode>(1));
  home_->formulaRoots.push_back(number(7));
  CurrentCellScope scope(home_);
  EXPECT_EQ(local.formulaText(&model_), u"@1");  // the cell has no list index
  home_->firstListIndex = 0;
  EXPECT_EQ(local.formulaText(&model_), u"7");
  EXPECT_EQ(LocalRefNode(5).formulaText(&model_), u"@5");
}

TEST(NodeIndirect, TargetsResolveThroughTheCurrentCellAndForwardTheirValue) {
  CompiledModel model;
  Cell* cell = model.cellAt(CellRef::at(0, 0, 0));
  model.names.push_back(DefinedName{std::make_unique<NumberNode>(3), u"Three", -1});
  model.sharedTable2.push_back(std::make_unique<TextNode>(u"shared"));
  cell->formulaRoots.push_back(std::make_unique<NumberNode>(1));
  cell->formulaRoots.push_back(std::make_unique<BooleanNode>(true));

  NameRefNode name(0), noName(1);
  SharedRefNode shared(2, 0), noShared(1, 0);
  LocalRefNode local(1), noLocal(2);
  EXPECT_EQ(name.target(), nullptr);  // no current cell yet
  EXPECT_TRUE(name.value().isEmpty());

  CurrentCellScope scope(cell);
  EXPECT_EQ(name.target(), model.names[0].root.get());
  EXPECT_EQ(name.value().number(), 3);
  EXPECT_EQ(shared.value().text(), u"shared");
  EXPECT_TRUE(local.value().boolean());
  for (const IndirectNode* none :
       {static_cast<const IndirectNode*>(&noName), static_cast<const IndirectNode*>(&noShared),
        static_cast<const IndirectNode*>(&noLocal)}) {
    EXPECT_EQ(none->target(), nullptr);
    EXPECT_TRUE(none->value().isEmpty());
  }
  // The node stood for is kept once found.
  model.names[0].root->setNumber(4);
  EXPECT_EQ(name.value().number(), 4);
}

TEST(NodeIndirect, CirclesOfIndirectNodesEndInsteadOfRecursingForever) {
  CompiledModel model;
  Cell* cell = model.cellAt(CellRef::at(0, 0, 0));
  model.names.push_back(DefinedName{std::make_unique<NameRefNode>(0), u"Self", -1});
  model.sharedTable1.push_back(std::make_unique<SharedRefNode>(1, 0));
  cell->firstListIndex = 0;
  cell->formulaRoots.push_back(std::make_unique<LocalRefNode>(0));
  CurrentCellScope scope(cell);
  EXPECT_TRUE(NameRefNode(0).value().isEmpty());
  EXPECT_TRUE(SharedRefNode(1, 0).value().isEmpty());
  EXPECT_EQ(SharedRefNode(1, 0).formulaText(&model), u"#REF!");
  EXPECT_EQ(cell->formulaRoots[0]->formulaText(&model), u"@0");
}

TEST(NodeTree, WalkStopsWhenTheVisitorRefusesAndKeepsThePath) {
  auto root = binary(std::make_unique<OperatorNode>(kOpAdd),
                     binary(std::make_unique<OperatorNode>(kOpNegate), number(1)), number(2));
  std::vector<size_t> depths;
  std::vector<const Node*> path;
  EXPECT_TRUE(root->walk(path, [&](const std::vector<const Node*>& p) {
    depths.push_back(p.size());
    return true;
  }));
  EXPECT_EQ(depths, (std::vector<size_t>{1, 2, 3, 2}));
  EXPECT_TRUE(path.empty());

  int visited = 0;
  EXPECT_FALSE(root->walk(path, [&](const std::vector<const Node*>& p) {
    ++visited;
    return p.back()->tag() != kTagNumber;
  }));
  EXPECT_EQ(visited, 3);
}

TEST(NodeTree, LeavesRefuseChildrenAndAttachChildrenFillsMissingParents) {
  NumberNode leaf(1);
  EXPECT_FALSE(leaf.addChild(number(2)));
  EXPECT_TRUE(leaf.children().empty());
  EXPECT_FALSE(leaf.isComposite());

  auto root = binary(std::make_unique<OperatorNode>(kOpAdd),
                     binary(std::make_unique<OperatorNode>(kOpNegate), number(1)), number(2));
  EXPECT_TRUE(root->isComposite());
  const Node* inner = root->children()[0]->children()[0].get();
  const_cast<Node*>(inner)->setParent(nullptr);
  root->children()[1]->setParent(nullptr);
  root->attachChildren();
  EXPECT_EQ(inner->parent(), root->children()[0].get());
  EXPECT_EQ(root->children()[1]->parent(), root.get());
  EXPECT_EQ(root->subtreeSize(), 4u);
  root->releaseChildren();
  EXPECT_EQ(root->subtreeSize(), 1u);
}

TEST(NodeValues, PredicatesFollowTheClassAndTheCachedValue) {
  auto r = range(0, 0, 0, 2, 0);
  CellRefNode cell(nullptr);
  UnionNode u;
  ArrayNode a{ValueArray()};
  EXPECT_TRUE(r->isRangeReference() && r->hasReferenceValue());
  EXPECT_EQ(r->referenceRange(), (RangeRef{CellRef::at(0, 0, 0), CellRef::at(0, 2, 0)}));
  EXPECT_TRUE(cell.isCellReference() && !cell.hasReferenceValue());
  EXPECT_EQ(cell.referenceRange(), RangeRef{});
  EXPECT_TRUE(u.isUnion() && !u.isRangeReference());
  EXPECT_TRUE(a.isArrayConstant() && !a.isUnion());
}

TEST(NodeValues, OrderingsAndArithmeticUseTheCachedValues) {
  NumberNode one(1), two(2), zero(0);
  TextNode a(u"a"), upperA(u"A"), digits(u"3");
  EXPECT_TRUE(two.greater(one) && one.less(two) && !one.greater(one));
  EXPECT_TRUE(one.greaterOrEqual(one) && one.lessOrEqual(two));
  EXPECT_TRUE(a.equal(upperA) && a.notEqual(one));
  EXPECT_TRUE(a.greater(two));  // texts order after numbers

  EXPECT_EQ(two.subtract(one).kind(), ValueKind::kInteger);
  EXPECT_EQ(two.subtract(one).integer(), 1);
  EXPECT_EQ(digits.add(two).number(), 5);
  EXPECT_EQ(two.multiply(digits).number(), 6);
  EXPECT_EQ(one.divide(two).number(), 0.5);
  EXPECT_EQ(one.divide(zero).number(), 0);
  EXPECT_EQ(a.add(one).errorCode(), kErrorValue);
  NumberNode big(1e308);
  EXPECT_EQ(big.multiply(NumberNode(10)).errorCode(), kErrorNum);
}

// A call keeps only the references it returns, which the refresh of computed precedents reads;
// nodes that keep no value refuse one instead of dropping it.
TEST(NodeValues, CallsKeepReferenceResultsOnlyAndOtherNodesRefuseValues) {
  CallNode call(u"OFFSET", CallNode::kCallFlag, nullptr);
  Value reference = Value::reference(CellRef::at(0, 1, 1), CellRef::at(0, 2, 1));
  call.keepResult(reference);
  EXPECT_EQ(call.referenceRange(), reference.reference());
  call.keepResult(Value::number(3));
  EXPECT_TRUE(call.value().isEmpty());

  CellRefNode cell(nullptr);
  OperatorNode plus(kOpAdd);
  EXPECT_THROW(cell.setValue(Value::number(1)), std::logic_error);
  EXPECT_THROW(plus.setNumber(1), std::logic_error);
  EXPECT_TRUE(plus.value().isEmpty());
}

TEST(NodeValues, ArgumentChecksFindArraysAndAreaReferences) {
  Value single = Value::reference(CellRef::at(0, 1, 1), CellRef::at(0, 1, 1));
  Value reversed = Value::reference(CellRef::at(0, 3, 1), CellRef::at(0, 1, 1));
  Value lastMissing = Value::reference(CellRef::at(0, 1, 1), CellRef::none());
  Value array;
  array.setArray(ValueArray(2, 1));
  Value n = Value::number(1);
  EXPECT_FALSE(Node::holdsArray({&n, &single, nullptr}));
  EXPECT_TRUE(Node::holdsArray({&n, &array}));
  EXPECT_FALSE(Node::holdsAreaReference({&single, &lastMissing, &array, nullptr}));
  EXPECT_TRUE(Node::holdsAreaReference({&n, &reversed}));
}

TEST(NodeValues, DebugTextAndTheEvaluateStub) {
  NumberNode n(42);
  EXPECT_EQ(n.debugText(), u"8|1|42");
  EXPECT_EQ(TextNode(u"hey").debugText(), u"13|3|hey");
  Value result = Value::text(u"old");
  EXPECT_EQ(&n.evaluate(nullptr, kModeValue, {}, result), &result);
  EXPECT_EQ(result.integer(), 42);
}

TEST(NodeValues, NodesComeFromTheObjectPool) {
  // A slab of CallNodes exists only once one has been made.
  const size_t before = ObjectPool::instance().slabCount(sizeof(CallNode));
  auto call = std::make_unique<CallNode>(u"X", 0, nullptr);
  EXPECT_GE(ObjectPool::instance().slabCount(sizeof(CallNode)), std::max<size_t>(before, 1));
}

}  // namespace
}  // namespace korvel
