#include "compiler/model_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "compiler/workbook_text.h"
#include "functions/function_catalogue.h"
#include "hosts/headless/memory_files.h"
#include "model/address.h"
#include "model/model_stream.h"
#include "util/text.h"

namespace korvel {
namespace {

const FunctionResolver* catalogue() { return &FunctionCatalogue::instance(); }

std::string join(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) out += line + "\n";
  return out;
}

// Reads and builds; the test fails on any fault.
void build(const std::string& text, CompiledModel& model) {
  Workbook book;
  std::vector<std::string> errors;
  ASSERT_TRUE(readWorkbookText(text, &book, &errors)) << join(errors);
  ASSERT_TRUE(buildModel(book, catalogue(), model, &errors)) << join(errors);
}

std::string refText(CellRef ref) {
  return std::to_string(ref.sheet()) + "!" + toUtf8(cellText(ref));
}

// A prefix rendering of a node tree that shows what the model holds.
std::string tree(const Node& node) {
  std::string head;
  switch (node.tag()) {
    case kTagNumber: {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%g", node.value().number());
      return buffer;
    }
    case kTagText:
      return "\"" + toUtf8(node.value().text()) + "\"";
    case kTagBoolean:
      return node.value().boolean() ? "TRUE" : "FALSE";
    case kTagError:
      return "err" + std::to_string(static_cast<const ErrorNode&>(node).code() - 0x800A07D0u);
    case kTagMissing:
      return "_";
    case kTagArray:
      return "array" + std::to_string(node.value().array().columns()) + "x" +
             std::to_string(node.value().array().rows());
    case kTagCellRef:
      return refText(static_cast<const CellRefNode&>(node).address());
    case kTagRangeRef: {
      const auto& range = static_cast<const RangeRefNode&>(node);
      std::string flags = range.flags() == kRangeWholeColumns ? "/c"
                          : range.flags() == kRangeWholeRows  ? "/r"
                                                              : "";
      return refText(range.range().first) + ":" + toUtf8(cellText(range.range().last)) + flags;
    }
    case kTagNameRef:
      return "name" + std::to_string(static_cast<const NameRefNode&>(node).index());
    case kTagCall: {
      const auto& call = static_cast<const CallNode&>(node);
      head = toUtf8(call.name()) + "/" + std::to_string(call.callFlags());
      break;
    }
    case kTagOperator:
      head = "op" + std::to_string(static_cast<const OperatorNode&>(node).code());
      break;
    case kTagComparison:
      head = "cmp" + std::to_string(static_cast<const ComparisonNode&>(node).code());
      break;
    case kTagUnion:
      head = "union";
      break;
    case kTagIntersection:
      head = "isect";
      break;
    default:
      return "tag" + std::to_string(node.tag());
  }
  std::string out = "(" + head;
  for (const auto& child : node.children()) out += " " + tree(*child);
  return out + ")";
}

Cell* cellOf(const CompiledModel& model, uint32_t sheet, const char16_t* address) {
  return model.findCell(parseCell(address, sheet));
}

std::vector<std::string> addresses(const CellLinks& cells) {
  std::vector<std::string> out;
  for (Cell* cell : cells) out.push_back(refText(cell->address));
  std::sort(out.begin(), out.end());
  return out;
}

TEST(ModelBuilderTest, FormulasBecomeNodeTrees) {
  const char* tail =
      "[Two]\nB1: 2\n"
      "name Rate: =One!$A$1\nname One!Local: =A1\nname Two!Local: =B1\n";
  struct Case {
    const char* formula;
    const char* tree;
  };
  const Case cases[] = {
      {"=A1*2+Two!B1", "(op1 (op3 0!A1 2) 1!B1)"},
      {"=-A1%", "(op8 (op6 0!A1))"},
      {"=+A1", "0!A1"},
      {"=\"a\"&TRUE", "(op7 \"a\" TRUE)"},
      {"=2^3/4-#N/A", "(op2 (op4 (op5 2 3) 4) err42)"},
      {"=A1<=1", "(cmp3 0!A1 1)"},
      {"=A1<>1", "(cmp6 0!A1 1)"},
      {"=SUM(A:B,2:3)", "(SUM/1 0!A1:B1048576/c 0!A2:XFD3/r)"},
      {"=$B$3:A1", "0!A1:B3"},
      {"=sum(A1:B2 B2:C3)", "(SUM/1 (isect 0!A1:B2 0!B2:C3))"},
      {"=SUM((A1,'Two'!B1:B2))", "(SUM/1 (union 0!A1 1!B1:B2))"},
      {"=IF(A1,,\"x\")", "(IF/1 0!A1 _ \"x\")"},
      {"={1,2,3;4,5,6}", "array3x2"},
      {"=_xlfn.IFERROR(1/0,0)", "(_XLFN.IFERROR/1 (op4 1 0) 0)"},
      {"=_xlfn.stdev.s(A1:A3)", "(STDEV.S/1 0!A1:A3)"},
      {"=_xlfn.NoSuch(1)", "(_XLFN.NOSUCH/0 1)"},
      {"=MyMacro()", "(MYMACRO/0)"},
      {"=Rate+One!Local", "(op1 name0 name1)"},
      {"=Two!Local*One!Local", "(op3 name2 name1)"},
      {"=Nope+Two!Nope", "(op1 err29 err29)"},  // a name nobody defined shows #NAME?
  };
  for (const Case& c : cases) {
    CompiledModel model;
    build(std::string("[One]\nA1: 1\nC1: ") + c.formula + "\n" + tail, model);
    Cell* cell = cellOf(model, 0, u"C1");
    ASSERT_TRUE(cell && cell->formulaRoots.size() == 1) << c.formula;
    EXPECT_EQ(tree(*cell->formulaRoots[0]), c.tree) << c.formula;
  }
}

TEST(ModelBuilderTest, FlagsIndexesPrecedentsAndRanges) {
  CompiledModel model;
  build(
      "[In]\n"
      "A1: 100\n"
      "A2: 0.05\n"
      "B1: =A1*A2 -> 5\n"
      "C1:D2: {=A1:A2*2} -> {200,1;0.1,2}\n"
      "B2: =SUM(A1:A3)+C9+SUM(A1:A3)\n"
      "B3: =NOW()\n"
      "B4: =INDIRECT(\"A1\")\n"
      "B5: =Vol*2\n"
      "name Vol: =In!$B$3+RAND()+SUM(In!A1:A2)\n",
      model);
  auto at = [&](const char16_t* address) { return cellOf(model, 0, address); };
  ASSERT_EQ(model.cellCount(), 12u);  // the 11 written cells and C9

  struct Expect {
    const char16_t* address;
    int32_t listIndex;
    uint32_t flags;
  };
  const Expect expects[] = {
      {u"A1", -1, kCellInput},
      {u"B1", 0, 0},
      {u"C1", 1, kCellArrayMember},
      {u"D1", 2, kCellArrayMember | kCellArrayElsewhere},
      {u"A2", -1, kCellInput},
      {u"B2", 3, 0},
      {u"C2", 4, kCellArrayMember | kCellArrayElsewhere},
      {u"D2", 5, kCellArrayMember | kCellArrayElsewhere},
      {u"B3", 6, kCellAlwaysRecalculated},
      {u"B4", 7, kCellAlwaysRecalculated | kCellRederivePrecedents},
      {u"B5", 8, kCellAlwaysRecalculated},
      {u"C9", -1, kCellInput},
  };
  for (const Expect& e : expects) {
    Cell* cell = at(e.address);
    ASSERT_TRUE(cell) << toUtf8(e.address);
    EXPECT_EQ(cell->firstListIndex, e.listIndex) << toUtf8(e.address);
    EXPECT_EQ(cell->flags, e.flags) << toUtf8(e.address);
  }
  EXPECT_EQ(model.indexedCells().size(), model.cellCount());
  EXPECT_EQ(model.alwaysRecalculatedCells().size(), 3u);

  EXPECT_EQ(addresses(at(u"B1")->precedents), (std::vector<std::string>{"0!A1", "0!A2"}));
  EXPECT_EQ(addresses(at(u"A1")->dependents), (std::vector<std::string>{"0!B1"}));
  EXPECT_EQ(addresses(at(u"B2")->precedents), (std::vector<std::string>{"0!C9"}));
  EXPECT_EQ(addresses(at(u"B5")->precedents), (std::vector<std::string>{"0!B3"}));

  // Distinct ranges, each with the formula cells that read it (also through names).
  ASSERT_EQ(model.rangeIndex().size(), 2u);
  std::vector<std::string> ranges;
  for (const RangeEntry* entry : model.rangeIndex()) {
    std::string line = toUtf8(rangeText(entry->range)) + ":";
    for (Cell* cell : entry->cells) line += " " + refText(cell->address);
    ranges.push_back(line);
  }
  EXPECT_EQ(ranges, (std::vector<std::string>{"A1:A2: 0!C1 0!B5", "A1:A3: 0!B2"}));

  // Array members hold their element of the cached result, the anchor the whole result.
  EXPECT_TRUE(at(u"C1")->value->isArray());
  EXPECT_EQ(at(u"D2")->value->integer(), 2);
  EXPECT_EQ(*at(u"D1")->arrayRange(), (RangeRef{CellRef::at(0, 0, 2), CellRef::at(0, 1, 3)}));
  EXPECT_TRUE(at(u"C1")->formulaRoots.size() == 1 && at(u"D1")->formulaRoots.empty());
  EXPECT_EQ(at(u"B1")->value->integer(), 5);
  EXPECT_EQ(at(u"B2")->value, nullptr);

  const Sheet* sheet = model.sheets().find(0);
  ASSERT_TRUE(sheet);
  EXPECT_EQ(sheet->name(), u"In");
  EXPECT_EQ(sheet->excelName(), u"In");
  EXPECT_EQ(toUtf8(rangeText(sheet->range)), "A1:D5");
}

TEST(ModelBuilderTest, TheSameRangeTwiceIsOneEntry) {
  CompiledModel model;
  build("[S]\nA1: =SUM(B1:B3)\nA2: =MAX(B3:B1)\nA3: =SUM(S!B1:B3)+COUNT(B1:B3)\n", model);
  ASSERT_EQ(model.rangeIndex().size(), 1u);
  EXPECT_EQ(model.rangeIndex()[0]->cells.size(), 3u);
}

TEST(ModelBuilderTest, NamesAreBuiltAndScoped) {
  CompiledModel model;
  build(
      "[A]\nA1: 1\n[B]\nA1: 2\nB1: =Total\nB2: =A!Total\n"
      "name Total: =Part*2\n"
      "name B!Total: =A1\n"
      "name Part: =A!$A$1\n",
      model);
  ASSERT_EQ(model.names.size(), 3u);
  EXPECT_EQ(model.names[1].scope, 1);
  EXPECT_EQ(model.names[0].scope, -1);
  EXPECT_EQ(tree(*model.names[0].root), "(op3 name2 2)");
  EXPECT_EQ(tree(*model.names[1].root), "1!A1");  // a sheet-level name's own sheet
  EXPECT_EQ(model.nameIndex.at(u"TOTAL"), 0u);
  // B1 sees its sheet's Total; A!Total falls back to the workbook-level one, through Part to A1.
  EXPECT_EQ(tree(*cellOf(model, 1, u"B1")->formulaRoots[0]), "name1");
  EXPECT_EQ(addresses(cellOf(model, 1, u"B1")->precedents), (std::vector<std::string>{"1!A1"}));
  EXPECT_EQ(tree(*cellOf(model, 1, u"B2")->formulaRoots[0]), "name0");
  EXPECT_EQ(addresses(cellOf(model, 1, u"B2")->precedents), (std::vector<std::string>{"0!A1"}));
}

// Parameters, variables and functions passed as values become calls without arguments that the
// host program binds; the call of a LAMBDA where it stands calls its first argument. A call of a
// name holding a LAMBDA reads what the name reads, and such a name may call itself.
TEST(ModelBuilderTest, LambdaPartsBuildAsCallsTheHostBinds) {
  CompiledModel model;
  build(
      "[S]\nA1: 1\nB1: =_xlfn.LET(_xlpm.x,2,_xlpm.x+1)\nB2: =_xlfn.LAMBDA(_xlpm.x,_xlpm.x)(3)\n"
      "B3: =_xlfn.REDUCE(0,A1:A2,_xleta.SUM)\nB4: =Scale(2)\n"
      "name Scale: =_xlfn.LAMBDA(_xlpm.x,IF(_xlpm.x>9,_xlpm.x,Scale(_xlpm.x*S!$A$1)))\n",
      model);
  EXPECT_EQ(tree(*cellOf(model, 0, u"B1")->formulaRoots[0]),
            "(_XLFN.LET/0 (_XLPM.X/0) 2 (op1 (_XLPM.X/0) 1))");
  EXPECT_EQ(tree(*cellOf(model, 0, u"B2")->formulaRoots[0]),
            "(_XLAPPLY/0 (_XLFN.LAMBDA/0 (_XLPM.X/0) (_XLPM.X/0)) 3)");
  EXPECT_EQ(tree(*cellOf(model, 0, u"B3")->formulaRoots[0]),
            "(_XLFN.REDUCE/0 0 0!A1:A2 (_XLETA.SUM/0))");
  EXPECT_EQ(tree(*cellOf(model, 0, u"B4")->formulaRoots[0]), "(SCALE/0 2)");
  EXPECT_EQ(addresses(cellOf(model, 0, u"B4")->precedents), (std::vector<std::string>{"0!A1"}));
}

TEST(ModelBuilderTest, LongChainsOfNamesAreFollowed) {
  std::string text = "[S]\nA1: 1\nB1: =x_0\n";
  const int count = 5000;
  for (int i = 0; i < count; ++i) {
    text += "name x_" + std::to_string(i) + ": =x_" + std::to_string(i + 1) + "+1\n";
  }
  CompiledModel model;
  build(text + "name x_" + std::to_string(count) + ": =S!A1\n", model);
  EXPECT_EQ(addresses(cellOf(model, 0, u"B1")->precedents), (std::vector<std::string>{"0!A1"}));

  Workbook book;
  std::vector<std::string> errors;
  ASSERT_TRUE(readWorkbookText(text + "name x_5000: =x_1\n", &book, &errors));
  EXPECT_FALSE(buildModel(book, catalogue(), model, &errors));
  EXPECT_EQ(errors, (std::vector<std::string>{"the model to build into is not new"}));
  EXPECT_EQ(model.names.size(), size_t(count + 1));  // left as it was
  errors.clear();
  CompiledModel cyclic;
  EXPECT_FALSE(buildModel(book, catalogue(), cyclic, &errors));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("x_1 -> x_2 -> x_3"), std::string::npos);
}

TEST(ModelBuilderTest, FaultsAreReportedAndLeaveNoModel) {
  struct Case {
    const char* text;
    std::vector<std::string> errors;
  };
  const Case cases[] = {
      {"[S]\nA1: =Foo!A1", {"line 2: S!A1: position 2: unknown sheet 'Foo'"}},
      {"[S]\nA1: =1+", {"line 2: S!A1: position 4: expected a value"}},
      {"[S]\nA1: =SUM(A1", {"line 2: S!A1: position 8: expected ',' or ')'"}},
      {"[S]\nname Q: =A1",
       {"line 2: name Q: position 2: a reference in a workbook-level name needs a sheet"}},
      {"[S]\nname A: =B+1\nname B: =S!A1*A",
       {"line 2: name A: the name refers to itself (A -> B -> A)"}},
      {"[S]\nname X: =1\nname x: =2", {"line 3: name x: the name is defined twice"}},
      {"name Q!X: =1", {"line 1: name X: unknown sheet 'Q'"}},
      {"[S]\nA1: 1\na1: 2", {"line 3: S!A1 is defined twice (line 2)"}},
      {"[S]\nB2: 1\nA1:C3: {=1}", {"line 3: S!B2 is defined twice (line 2)"}},
      {"[S]\nA1:C3: {=1}\nB2:D4: {=2}", {"line 3: S!B2 is defined twice (line 2)"}},
      {"[S]\nA1:XFD100: {=1}", {"line 2: S!A1: an array formula over more than 100000 cells"}},
      {"[S]\nA1: =Bad!A1\nA2: =1+\nA3: =A1",
       {"line 2: S!A1: position 2: unknown sheet 'Bad'",
        "line 3: S!A2: position 4: expected a value"}},
  };
  for (const Case& c : cases) {
    Workbook book;
    std::vector<std::string> errors;
    ASSERT_TRUE(readWorkbookText(c.text, &book, &errors)) << join(errors);
    CompiledModel model;
    EXPECT_FALSE(buildModel(book, catalogue(), model, &errors)) << c.text;
    ASSERT_EQ(errors.size(), c.errors.size()) << c.text << "\n" << join(errors);
    for (size_t i = 0; i < errors.size(); ++i) {
      EXPECT_EQ(errors[i].rfind(c.errors[i], 0), 0u) << c.text << "\n  gave: " << errors[i];
    }
    EXPECT_EQ(model.cellCount(), 0u);
    EXPECT_TRUE(model.sheets().empty());
    EXPECT_TRUE(model.names.empty());
    EXPECT_TRUE(model.rangeIndex().empty());
  }
}

TEST(ModelBuilderTest, WorkbooksMadeInCodeAreChecked) {
  Workbook book;
  book.sheets.push_back({u"A/B", {}, {}, 0});
  std::vector<std::string> errors;
  CompiledModel model;
  EXPECT_FALSE(buildModel(book, catalogue(), model, &errors));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "'A/B' is not a valid sheet name");

  WorkbookCell far;
  far.row = 2000000;
  book.sheets[0] = WorkbookSheet{u"S", {far}, {}, 0};
  errors.clear();
  EXPECT_FALSE(buildModel(book, catalogue(), model, &errors));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("outside the sheet"), std::string::npos);

  // Without a resolver every call stays uncatalogued.
  Workbook plain;
  readWorkbookText("[S]\nA1: =SUM(1)", &plain, nullptr);
  CompiledModel uncatalogued;
  ASSERT_TRUE(buildModel(plain, nullptr, uncatalogued, &errors));
  EXPECT_EQ(tree(*cellOf(uncatalogued, 0, u"A1")->formulaRoots[0]), "(SUM/0 1)");
}

// The written chunks as the launcher delivers them: envelopes in a stream of the memory kind.
// (Reading the writer's own stream and rewinding it again would flush the bytes read as a chunk.)
std::unique_ptr<ChunkStream> delivered(ChunkStream& written) {
  written.flush();
  auto stream = std::make_unique<ChunkStream>();
  for (size_t i = 0; i < written.chunkCount(); ++i) {
    stream->appendChunk(written.chunk(i).storedEnvelope());
  }
  return stream;
}

std::string content(ChunkStream& written) {
  std::unique_ptr<ChunkStream> stream = delivered(written);
  std::string bytes;
  uint8_t byte = 0;
  while (stream->readU8(&byte)) bytes += char(byte);
  return bytes;
}

// The built model survives the runtime's own writer and reader unchanged.
void expectRoundTrip(const CompiledModel& built) {
  MemoryFiles files;
  ChunkStream first(files, true);
  writeModel(built, first);
  std::string written = content(first);
  ASSERT_FALSE(written.empty());

  CompiledModel loaded;
  loaded.functions = catalogue();
  std::string error;
  ASSERT_TRUE(loadModel(*delivered(first), loaded, &error)) << error;
  EXPECT_EQ(loaded.cellCount(), built.cellCount());
  EXPECT_EQ(loaded.names.size(), built.names.size());
  EXPECT_EQ(loaded.rangeIndex().size(), built.rangeIndex().size());
  EXPECT_EQ(loaded.indexedCells().size(), built.indexedCells().size());
  EXPECT_EQ(loaded.alwaysRecalculatedCells().size(), built.alwaysRecalculatedCells().size());

  ChunkStream second(files, true);
  writeModel(loaded, second);
  EXPECT_TRUE(content(second) == written) << "the rewritten model differs";
}

std::string fixture(const char* name) {
  return std::string(KORVEL_SOURCE_DIR) + "/tests/fixtures/" + name;
}

TEST(ModelBuilderTest, LoanFixtureBuildsAndRoundTrips) {
  Workbook book;
  std::vector<std::string> errors;
  ASSERT_TRUE(readWorkbookTextFile(fixture("loan.txt"), &book, &errors)) << join(errors);
  CompiledModel model;
  ASSERT_TRUE(buildModel(book, catalogue(), model, &errors)) << join(errors);
  EXPECT_EQ(model.sheets().size(), 3u);
  EXPECT_EQ(model.names.size(), 6u);

  Cell* lastPayment = cellOf(model, 2, u"B4");
  ASSERT_TRUE(lastPayment);
  EXPECT_EQ(tree(*lastPayment->formulaRoots[0]),
            "(_XLFN.IFERROR/1 (EDATE/1 0!B5 (op2 name2 1)) err42)");
  // Through Periods the payment date reads the years and the payments per year.
  EXPECT_EQ(addresses(lastPayment->precedents), (std::vector<std::string>{"0!B3", "0!B4", "0!B5"}));
  EXPECT_TRUE(cellOf(model, 2, u"B5")->hasFlag(kCellAlwaysRecalculated));
  EXPECT_TRUE(cellOf(model, 1, u"H1")->hasFlag(kCellArrayElsewhere));
  EXPECT_EQ(cellOf(model, 1, u"H1")->value->number(), 0.045);
  EXPECT_TRUE(cellOf(model, 2, u"B8")->hasFlag(kCellArrayMember));
  EXPECT_EQ(tree(*cellOf(model, 2, u"A9")->formulaRoots[0]), "name5");
  // Calls resolve through the catalogue the model carries.
  ASSERT_EQ(model.names[4].root->tag(), kTagCall);
  EXPECT_EQ(static_cast<const CallNode&>(*model.names[4].root).functionNumber(), 59);  // PMT

  expectRoundTrip(model);
}

TEST(ModelBuilderTest, EveryNodeKindRoundTrips) {
  CompiledModel model;
  build(
      "[S]\nA1: 1\nA2: \"t\"\nA3: FALSE\nA4: #DIV/0!\n"
      "B1: =IF(A1>0,,{1,\"x\";TRUE,#N/A})&-A2%\n"
      "B2: =SUM((A:A,1:1),A1:A3 A2:A4,Rate,_xlfn.NoSuch())\n"
      "B3:C4: {=TRANSPOSE(A1:B2)} -> {1,2;3,4}\n"
      "name Rate: =S!$A$1*INDIRECT(\"A1\")\n",
      model);
  expectRoundTrip(model);
}

TEST(ModelBuilderTest, CompileWorkbookWritesOnlyGoodModels) {
  Workbook book;
  readWorkbookText("[S]\nA1: =Missing!A1", &book, nullptr);
  MemoryFiles files;
  ChunkStream out(files, true);
  std::vector<std::string> errors;
  EXPECT_FALSE(compileWorkbook(book, catalogue(), out, &errors));
  EXPECT_EQ(out.chunkCount(), 0u);
  EXPECT_EQ(errors.size(), 1u);

  Workbook good;
  readWorkbookText("[S]\nA1: 2\nA2: =A1*3", &good, nullptr);
  EXPECT_TRUE(compileWorkbook(good, catalogue(), out, &errors));
  CompiledModel loaded;
  std::string error;
  ASSERT_TRUE(loadModel(*delivered(out), loaded, &error)) << error;
  Cell* a2 = cellOf(loaded, 0, u"A2");
  ASSERT_TRUE(a2);
  EXPECT_EQ(a2->firstListIndex, 0);
  EXPECT_EQ(addresses(a2->precedents), (std::vector<std::string>{"0!A1"}));
}

}  // namespace
}  // namespace korvel
