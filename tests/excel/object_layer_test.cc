// The object layer against a small tree of fake program objects: Application, workbook, its
// Sheets, worksheets and their ranges and hyperlinks.
#include "excel/object_layer.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/value_convert.h"
#include "excel/dispatch_ids.h"
#include "excel/excel_connection.h"
#include "excel/protection.h"
#include "model/cell.h"
#include "model/model_stream.h"
#include "tests/excel/fake_objects.h"
#include "tests/runtime/runtime_test_support.h"

namespace korvel {
namespace {

using testing::FakeObject;

// A fake that remembers the locale of every call.
class LocaleObject : public FakeObject {
 public:
  using FakeObject::FakeObject;
  HResult invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments, Variant* result,
                 uint32_t locale) override {
    locales.push_back(locale);
    return FakeObject::invoke(memberId, kind, arguments, result, locale);
  }
  std::vector<uint32_t> locales;
};

// A collection whose Count and Item follow a vector of objects.
std::shared_ptr<FakeObject> collection(std::string name,
                                       std::vector<std::shared_ptr<FakeObject>>* items) {
  auto c = std::make_shared<FakeObject>(std::move(name));
  c->methods[dispid::kCount] = [items](std::span<Variant>, Variant* result) {
    *result = Variant::i4(int32_t(items->size()));
    return kSOk;
  };
  c->methods[dispid::kItem] = [items](std::span<Variant> arguments, Variant* result) {
    int64_t i = arguments.empty() ? 0 : arguments[0].integer();
    if (i < 1 || i > int64_t(items->size())) return kEInvalidArg;
    *result = testing::object((*items)[size_t(i - 1)]);
    return kSOk;
  };
  return c;
}

// One range of a fake sheet. Writing a text with a line feed switches word wrap on, and deleting
// a hyperlink clears the interior colour, as the program does.
struct FakeRange {
  std::shared_ptr<FakeObject> range = std::make_shared<FakeObject>("range");
  std::shared_ptr<FakeObject> interior = std::make_shared<FakeObject>("interior");
  std::vector<std::shared_ptr<FakeObject>> links;
  std::shared_ptr<FakeObject> hyperlinks = collection("hyperlinks", &links);

  FakeRange() {
    range->properties[dispid::kWrapText] = Variant::boolean(false);
    range->properties[dispid::kCalculate] = Variant();
    range->properties[dispid::kInterior] = testing::object(interior);
    interior->properties[dispid::kColor] = Variant::i4(0xFFFFFF);
    range->properties[dispid::kHyperlinks] = testing::object(hyperlinks);
    auto* self = this;
    range->methods[dispid::kValue2] = [self](std::span<Variant> arguments, Variant* result) {
      if (result == nullptr) {  // a write
        self->value = arguments.back();
        if (self->value.type() == VarType::kBstr &&
            self->value.text().find(u'\n') != std::u16string::npos) {
          self->range->properties[dispid::kWrapText] = Variant::boolean(true);
        }
      } else {
        *result = self->value;
      }
      return kSOk;
    };
    hyperlinks->methods[dispid::kAdd] = [self](std::span<Variant>, Variant* result) {
      auto link = std::make_shared<FakeObject>("hyperlink");
      link->methods[dispid::kDelete] = [self, raw = link.get()](std::span<Variant>, Variant*) {
        std::erase_if(self->links, [raw](const auto& l) { return l.get() == raw; });
        self->interior->properties[dispid::kColor] = Variant::i4(0xFFFFFF);
        return kSOk;
      };
      self->links.push_back(link);
      if (result != nullptr) *result = testing::object(link);
      return kSOk;
    };
  }
  // The call log of Hyperlinks.Add holds the range that holds the collection.
  ~FakeRange() { hyperlinks->callArguments.clear(); }
  Variant value;
};

// Application -> workbook -> Sheets -> worksheets -> ranges by A1 text.
struct FakeProgram {
  std::shared_ptr<LocaleObject> application = std::make_shared<LocaleObject>("application");
  std::shared_ptr<FakeObject> workbook = std::make_shared<FakeObject>("workbook");
  std::vector<std::shared_ptr<FakeObject>> sheetList;
  std::shared_ptr<FakeObject> sheets = collection("sheets", &sheetList);
  std::shared_ptr<FakeObject> worksheetFunction = std::make_shared<FakeObject>("functions");
  std::map<std::pair<int, std::u16string>, std::unique_ptr<FakeRange>> ranges;

  explicit FakeProgram(int sheetCount) {
    application->properties[dispid::kActiveWorkbook] = testing::object(workbook);
    application->properties[dispid::kVersion] = Variant::text(u"16.0");
    application->properties[dispid::kWorksheetFunction] = testing::object(worksheetFunction);
    application->properties[dispid::kHwnd] = Variant::i4(4242);
    application->properties[dispid::kCalculation] = Variant::i4(kCalculationAutomatic);
    workbook->properties[dispid::kSheets] = testing::object(sheets);
    for (int i = 0; i < sheetCount; ++i) addSheet();
  }

  FakeObject& addSheet() {
    int index = int(sheetList.size());
    auto sheet = std::make_shared<FakeObject>("sheet" + std::to_string(index));
    sheet->properties[dispid::kIndex] = Variant::i4(index + 1);
    sheet->properties[dispid::kProtectContents] = Variant::boolean(false);
    sheet->methods[dispid::kRange] = [this, index](std::span<Variant> arguments, Variant* result) {
      *result = testing::object(range(index, arguments[0].text()).range);
      return kSOk;
    };
    sheetList.push_back(sheet);
    return *sheet;
  }

  FakeRange& range(int sheet, const std::u16string& address) {
    auto& slot = ranges[{sheet, address}];
    if (!slot) {
      slot = std::make_unique<FakeRange>();
      slot->range->properties[dispid::kAddress] = Variant::text(address);
      slot->range->properties[dispid::kWorksheet] = testing::object(sheetList[size_t(sheet)]);
    }
    return *slot;
  }
};

class ObjectLayerTest : public ::testing::Test {
 protected:
  explicit ObjectLayerTest(int sheets = 2) : program(sheets) {}

  ExcelCalcHost& host() {
    if (!host_) {
      host_ = std::make_unique<ExcelCalcHost>(connection, ExcelObject(program.application),
                                              ExcelObject(program.workbook));
    }
    return *host_;
  }
  Cell* cell(uint32_t sheet, uint32_t row, uint32_t column, Value value) {
    Cell* c = rig.runtime->model()->cellAt(CellRef::at(sheet, row, column));
    c->ensureValue() = std::move(value);
    return c;
  }

  testing::RuntimeRig rig;
  ExcelConnection connection{*rig.runtime};
  FakeProgram program;
  std::unique_ptr<ExcelCalcHost> host_;
};

TEST_F(ObjectLayerTest, PublishingWritesTheValueAndKeepsTheWorkbooksWordWrap) {
  int hooks = 0;
  host().beforeWrite = [&] { hooks += 1; };
  host().afterWrite = [&] { hooks += 10; };
  host().publishCell(cell(0, 1, 1, Value::text(u"two\nlines")));
  FakeRange& b2 = program.range(0, u"B2");
  EXPECT_EQ(b2.value, Variant::text(u"two\nlines"));
  EXPECT_EQ(b2.range->properties[dispid::kWrapText], Variant::boolean(false));
  EXPECT_EQ(hooks, 11);

  // An array writes its top-left element only, into the second sheet.
  ValueArray array(2, 2);
  array.at(0, 0) = Value::number(7.5);
  array.at(1, 0) = Value::number(8);
  Value arrayValue;
  arrayValue.setArray(std::move(array));
  host().publishCell(cell(1, 0, 2, std::move(arrayValue)));
  EXPECT_EQ(program.range(1, u"C1").value, Variant::r8(7.5));

  // A text the program would read as a number keeps its apostrophe.
  host().publishCell(cell(0, 2, 0, Value::text(u"12")));
  EXPECT_EQ(program.range(0, u"A3").value, Variant::text(u"'12"));
}

TEST_F(ObjectLayerTest, CellsWithoutALiveSheetAreNotWritten) {
  EXPECT_NO_THROW(host().publishCell(cell(5, 0, 0, Value::number(1))));
  EXPECT_NO_THROW(host().publishCell(cell(0xFFFF, 0, 0, Value::number(1))));
  EXPECT_TRUE(program.ranges.empty());
  Value out;
  EXPECT_EQ(host().readCell(CellRef::at(5, 0, 0), out), 0);
  EXPECT_FALSE(host().calculateAndRead(CellRef::at(5, 0, 0), out));

  // A sheet added later is found by the next lookup that misses.
  program.addSheet();
  EXPECT_EQ(host().setInteriorColour(CellRef::at(2, 0, 0), 0x0000FF), 1);
  EXPECT_EQ(program.range(2, u"A1").interior->properties[dispid::kColor], Variant::i4(0xFF));
}

TEST_F(ObjectLayerTest, WritesGoToTheApplicationWorkbookEvenWhenAnotherIsActive) {
  FakeProgram other(1);
  program.application->properties[dispid::kActiveWorkbook] = testing::object(other.workbook);
  host().publishCell(cell(0, 0, 0, Value::number(3)));
  EXPECT_EQ(program.range(0, u"A1").value, Variant::i4(3));
  EXPECT_TRUE(other.ranges.empty());
}

TEST_F(ObjectLayerTest, ProtectedSheetsAreUnprotectedOnceWithoutRecording) {
  // Sheet 1 opens with its own password; sheet 2's password is refused, the application's works.
  std::vector<std::pair<int, std::u16string>> unprotects;
  for (int s = 0; s < 2; ++s) {
    FakeObject& sheet = *program.sheetList[size_t(s)];
    sheet.properties[dispid::kProtectContents] = Variant::boolean(true);
    sheet.methods[dispid::kUnprotect] = [&, s, raw = &sheet](std::span<Variant> a, Variant*) {
      EXPECT_FALSE(connection.protection().recording);
      unprotects.emplace_back(s, a[0].text());
      std::u16string right = s == 0 ? u"one" : u"app";
      if (a[0].text() != right) return kEFail;
      raw->properties[dispid::kProtectContents] = Variant::boolean(false);
      return kSOk;
    };
  }
  ProtectionTable table;
  table.sheetWords = {0x20 | 0x4, 0x20};
  table.sheetPasswords = {"one", "wrong"};
  table.workbookPassword = "app";
  host().setProtectionTable(&table);

  for (int pass = 0; pass < 2; ++pass) {
    host().publishCell(cell(0, 0, 0, Value::number(pass)));
    host().publishCell(cell(1, 0, 0, Value::number(pass)));
  }
  using Call = std::pair<int, std::u16string>;
  EXPECT_EQ(unprotects, (std::vector<Call>{{0, u"one"}, {1, u"wrong"}, {1, u"app"}}));
  EXPECT_EQ(table.sheetWords, (std::vector<uint32_t>{0, 0}));
  EXPECT_TRUE(connection.protection().recording);
  EXPECT_EQ(program.range(1, u"A1").value, Variant::i4(1));
}

TEST_F(ObjectLayerTest, HyperlinkRequestsAreAppliedThenRemovedWithTheFormattingKept) {
  rig.runtime->channelState().applicationDirectory = u"C:\\App\\";
  Cell* c = cell(0, 0, 0, Value::text(u"Manual"));
  c->setHyperlink(std::make_unique<Hyperlink>(classifyHyperlink(u"docs\\manual.pdf")));
  c->setFlag(kCellWriteEveryPass, true);
  host().publishCell(c);
  FakeRange& a1 = program.range(0, u"A1");
  ASSERT_EQ(a1.links.size(), 1u);
  EXPECT_EQ(a1.links[0]->properties[dispid::kAddress], Variant::text(u"C:\\App\\docs\\manual.pdf"));
  EXPECT_EQ(a1.links[0]->properties[dispid::kTextToDisplay], Variant::text(u"Manual"));
  EXPECT_FALSE(c->hasFlag(kCellWriteEveryPass));
  EXPECT_EQ(c->hyperlink()->kind, uint32_t(Hyperlink::kApplied));
  EXPECT_EQ(a1.value, Variant::text(u"Manual"));

  // Applied and published again without a new request: the link goes, the colour stays.
  a1.interior->properties[dispid::kColor] = Variant::i4(0x00FF00);
  host().publishCell(c);
  EXPECT_TRUE(a1.links.empty());
  EXPECT_EQ(a1.interior->properties[dispid::kColor], Variant::i4(0x00FF00));

  // An in-workbook link is added back whenever the range lost it.
  Cell* d = cell(0, 1, 0, Value::text(u"Go"));
  d->setHyperlink(std::make_unique<Hyperlink>(classifyHyperlink(u"#Sheet2!A1")));
  host().publishCell(d);
  host().publishCell(d);
  FakeRange& a2 = program.range(0, u"A2");
  ASSERT_EQ(a2.links.size(), 1u);
  EXPECT_EQ(a2.links[0]->properties[dispid::kSubAddress], Variant::text(u"Sheet2!A1"));
}

TEST_F(ObjectLayerTest, HostInfoAnswersTheVersionForVerInAnyCase) {
  EXPECT_EQ(host().hostInfo(u"VER"), 16);
  EXPECT_EQ(host().hostInfo(u"ver"), 16);
  EXPECT_EQ(host().hostInfo(u"version"), std::nullopt);
  EXPECT_EQ(host().hostInfo(u""), std::nullopt);
}

TEST_F(ObjectLayerTest, WorksheetFunctionsGetExactlyTheirParameterCount) {
  std::vector<Variant> seen;
  program.worksheetFunction->methods[dispid::kWorksheetFunctionBase + 4] = [&](std::span<Variant> a,
                                                                               Variant* result) {
    seen.assign(a.begin(), a.end());
    *result = Variant::r8(42);
    return kSOk;
  };
  Value one = Value::number(1.5);
  Value cells = Value::reference(CellRef::at(1, 0, 0), CellRef::at(1, 2, 1));
  Value out;
  EXPECT_TRUE(host().callWorksheetFunction(4, {&one, &cells}, 4, out));
  EXPECT_EQ(toText(out), u"42");
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], Variant::r8(1.5));
  // A reference reaches the program as the Range it names.
  EXPECT_EQ(seen[1].object(), program.range(1, u"A1:B3").range);
  EXPECT_TRUE(seen[2].isMissing() && seen[3].isMissing());

  // The program refuses: #VALUE!.
  EXPECT_FALSE(host().callWorksheetFunction(5, {&one}, 1, out));
  EXPECT_EQ(out.errorCode(), kErrorValue);
}

TEST_F(ObjectLayerTest, EvaluateUsesTheEnglishLocaleOnlyWhenAsked) {
  Variant answer = Variant::r8(3);
  program.application->methods[dispid::kEvaluate] = [&](std::span<Variant>, Variant* result) {
    *result = answer;
    return kSOk;
  };
  Value out;
  program.application->locales.clear();
  EXPECT_EQ(host().evaluate(u"=1+2", true, out), 1);
  EXPECT_EQ(program.application->locales.back(), 1033u);
  EXPECT_EQ(host().evaluate(u"=1+2", false, out), 1);
  EXPECT_EQ(program.application->locales.back(), 1024u);
  EXPECT_EQ(toText(out), u"3");

  VariantArray rows = VariantArray::twoDimensions(2, 1);
  rows.at(1, 1) = Variant::r8(1);
  rows.at(2, 1) = Variant::text(u"b");
  answer = Variant::array(std::move(rows));
  ASSERT_EQ(host().evaluate(u"={1;\"b\"}", false, out), 1);
  ASSERT_TRUE(out.isArray());
  EXPECT_EQ(out.array().rows(), 2u);
  EXPECT_EQ(out.array().at(0, 1).text(), u"b");

  answer = testing::object(program.range(0, u"A1").range);
  EXPECT_EQ(host().evaluate(u"=A1", false, out), 0);

  program.application->failing.insert(dispid::kEvaluate);
  EXPECT_EQ(host().evaluate(u"=X(", false, out), -1);
}

TEST_F(ObjectLayerTest, TheCalculationKeeperRestoresTheModeItFound) {
  auto& mode = program.application->properties[dispid::kCalculation];
  EXPECT_TRUE(host().suspendCalculation());
  EXPECT_EQ(mode, Variant::i4(kCalculationManual));
  EXPECT_TRUE(host().restoreCalculation());
  EXPECT_EQ(mode, Variant::i4(kCalculationAutomatic));

  // Manual already: nothing is written either way.
  mode = Variant::i4(kCalculationManual);
  int puts = program.application->count("put 0x13C");
  EXPECT_TRUE(host().suspendCalculation());
  EXPECT_TRUE(host().restoreCalculation());
  EXPECT_EQ(program.application->count("put 0x13C"), puts);

  program.application->failing.insert(dispid::kCalculation);
  EXPECT_FALSE(host().suspendCalculation());
  EXPECT_FALSE(host().restoreCalculation());
}

TEST_F(ObjectLayerTest, RangesBecomeRangeRefs) {
  struct Case {
    std::u16string address;
    int result;
    RangeRef expected;
  };
  const Case cases[] = {
      {u"$B$2:$C$3", 1, {CellRef::at(1, 1, 1), CellRef::at(1, 2, 2)}},
      {u"$A$1", 1, {CellRef::at(1, 0, 0), CellRef::at(1, 0, 0)}},
      {u"$A$1,$C$3", 0, {}},
      {u"", 0, {}},
  };
  for (const Case& c : cases) {
    auto range = std::make_shared<FakeObject>();
    range->properties[dispid::kWorksheet] = testing::object(program.sheetList[1]);
    range->properties[dispid::kAddress] = Variant::text(c.address);
    ExcelObject holder(range);
    RangeRef out;
    EXPECT_EQ(host().rangeToRef(holder, out), c.result)
        << std::string(c.address.begin(), c.address.end());
    if (c.result == 1) {
      EXPECT_EQ(out, c.expected);
    }
  }
  auto broken = std::make_shared<FakeObject>();
  ExcelObject holder(broken);
  RangeRef out;
  EXPECT_EQ(host().rangeToRef(holder, out), -1);
}

TEST_F(ObjectLayerTest, DirectPrecedentsListEveryArea) {
  std::vector<std::shared_ptr<FakeObject>> areaList = {program.range(0, u"B2:C3").range,
                                                       program.range(0, u"E5").range};
  auto areas = collection("areas", &areaList);
  auto precedents = std::make_shared<FakeObject>("precedents");
  precedents->properties[dispid::kAreas] = testing::object(areas);
  program.range(0, u"A1").range->properties[dispid::kDirectPrecedents] =
      testing::object(precedents);
  std::vector<RangeRef> found;
  EXPECT_EQ(host().directPrecedents(cell(0, 0, 0, Value()), found), 1);
  EXPECT_EQ(found, (std::vector<RangeRef>{{CellRef::at(0, 1, 1), CellRef::at(0, 2, 2)},
                                          {CellRef::at(0, 4, 4), CellRef::at(0, 4, 4)}}));
  // No precedents: the program raises an error.
  std::vector<RangeRef> none;
  EXPECT_EQ(host().directPrecedents(cell(0, 9, 0, Value()), none), -1);
  EXPECT_TRUE(none.empty());
}

TEST_F(ObjectLayerTest, MacrosRunWithTheirArgumentsAndFailuresGiveValueErrors) {
  std::vector<Variant> seen;
  program.application->methods[dispid::kRun] = [&](std::span<Variant> a, Variant* result) {
    seen.assign(a.begin(), a.end());
    *result = Variant::text(u"done");
    return kSOk;
  };
  Value x = Value::number(2.5);
  Value flag = Value::boolean(true);
  Value out;
  host().runMacro(u"Module1.Twice", {&x, &flag}, out);
  EXPECT_EQ(toText(out), u"done");
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], Variant::text(u"Module1.Twice"));
  EXPECT_EQ(seen[1], Variant::r8(2.5));
  EXPECT_EQ(seen[2], Variant::boolean(true));

  program.application->failing.insert(dispid::kRun);
  host().runMacroArray(u"Module1.Twice", {&x}, out);
  EXPECT_EQ(out.errorCode(), kErrorValue);
}

class ObjectFactoryStub : public ObjectFactory {
 public:
  std::shared_ptr<Dispatch> create(std::u16string_view name, HResult* result) override {
    created.emplace_back(name);
    *result = kSOk;
    return program;
  }
  std::vector<std::u16string> created;
  std::shared_ptr<FakeObject> program;
};

TEST_F(ObjectLayerTest, LinkedWorkbooksOpenInAHiddenSecondProgramOrStartTheirApplication) {
  auto second = std::make_shared<FakeObject>("second");
  std::vector<std::shared_ptr<FakeObject>> opened;
  auto workbooks = collection("workbooks", &opened);
  workbooks->methods[dispid::kOpen] = [&](std::span<Variant> a, Variant* result) {
    auto book = std::make_shared<FakeObject>("linked");
    book->properties[dispid::kName] = Variant::text(a[0].text());
    opened.push_back(book);
    *result = testing::object(book);
    return kSOk;
  };
  second->properties[dispid::kWorkbooks] = testing::object(workbooks);
  second->properties[dispid::kHwnd] = Variant::i4(99);
  ObjectFactoryStub factory;
  factory.program = second;
  // The runtime keeps its own copy of the ports; the factory joins it after construction.
  const_cast<Platform&>(rig.runtime->platform()).objects = &factory;

  std::vector<std::shared_ptr<FakeObject>> ownBooks;
  program.application->properties[dispid::kWorkbooks] =
      testing::object(collection("own", &ownBooks));
  CompiledModel& model = *rig.runtime->model();
  model.externalWorkbooks = {{u"/data/", u"Rates.xls", u"/data/Rates.xls"},
                             {u"/data/", u"Tool.xls", u"/data/Tool.xls"},
                             {u"/data/", u"Missing.xls", u"/data/Missing.xls"}};
  rig.files.writeAll(u"/data/Rates.xls", "x");
  rig.files.writeAll(u"/data/Tool.xls", "x");
  rig.files.writeAll(u"/data/Tool.exe", "x");

  host().openLinkedWorkbooks(*rig.runtime->engine());
  host().openLinkedWorkbooks(*rig.runtime->engine());  // nothing twice
  EXPECT_EQ(factory.created, std::vector<std::u16string>{u"Excel.Application"});
  EXPECT_EQ(second->properties[dispid::kIgnoreRemoteRequests], Variant::boolean(true));
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0]->properties[dispid::kName], Variant::text(u"/data/Rates.xls"));
  ASSERT_EQ(rig.system.detachedProcesses().size(), 1u);
  EXPECT_EQ(rig.system.detachedProcesses()[0].executable, u"/data/Tool.exe");
  EXPECT_EQ(rig.system.detachedProcesses()[0].arguments,
            (std::vector<std::u16string>{u"-link", u"4242"}));
  EXPECT_EQ(host().linkedWorkbooks().size(), 2u);

  // The user opens Rates.xls in the application's program: the hidden copy closes and is read no
  // more. Once the user closes it, the next full calculation opens a copy again.
  host().linkedWorkbookOpened(u"/data/Rates.xls");
  EXPECT_EQ(opened[0]->count("call 0x115"), 1);
  EXPECT_EQ(host().linkedWorkbooks().size(), 1u);
  host().linkedWorkbookClosed(u"Rates.xls");
  host().openLinkedWorkbooks(*rig.runtime->engine());
  ASSERT_EQ(opened.size(), 2u);

  // Going away closes what it opened, without saving, and quits the second program.
  host_.reset();
  EXPECT_EQ(opened[1]->count("call 0x115"), 1);
  EXPECT_EQ(opened[1]->callArguments.back()[0], Variant::boolean(false));
  EXPECT_EQ(second->count("call 0x12E"), 1);
  EXPECT_EQ(program.application->properties[dispid::kDisplayAlerts], Variant::boolean(false));
}

TEST_F(ObjectLayerTest, TheHyperlinkScanRemembersInWorkbookLinksAndResolvesFileLinks) {
  rig.runtime->channelState().applicationDirectory = u"C:\\App";
  std::vector<std::shared_ptr<FakeObject>> links;
  auto add = [&](const std::u16string& cellAddress, int member, std::u16string text) {
    auto link = std::make_shared<FakeObject>("link");
    link->properties[dispid::kRange] = testing::object(program.range(1, cellAddress).range);
    link->properties[member] = Variant::text(std::move(text));
    links.push_back(link);
    return link;
  };
  auto file = add(u"A1", dispid::kAddress, u"notes.txt");
  auto inside = add(u"B2", dispid::kSubAddress, u"Sheet1!C3");
  inside->properties[dispid::kScreenTip] = Variant::text(u"Go there");
  auto web = add(u"C3", dispid::kAddress, u"https://example.org");
  program.sheetList[1]->properties[dispid::kHyperlinks] =
      testing::object(collection("links", &links));
  cell(1, 1, 1, Value::text(u"Jump"));

  host().scanSheetHyperlinks(*rig.runtime->engine());
  EXPECT_EQ(file->properties[dispid::kAddress], Variant::text(u"C:\\App\\notes.txt"));
  EXPECT_EQ(web->count("put 0xEC"), 0);
  Cell* b2 = rig.runtime->model()->findCell(CellRef::at(1, 1, 1));
  ASSERT_TRUE(b2->hyperlink());
  EXPECT_EQ(b2->hyperlink()->kind, uint32_t(Hyperlink::kInWorkbook));
  EXPECT_EQ(b2->hyperlink()->target, u"Sheet1!C3");
  EXPECT_EQ(b2->hyperlink()->screenTip, u"Go there");
}

TEST_F(ObjectLayerTest, SmallReadsOfTheProgram) {
  auto language = std::make_shared<FakeObject>("language");
  language->methods[dispid::kLanguageId] = [](std::span<Variant> a, Variant* result) {
    *result = Variant::i4(a[0].integer() == 2 ? 0x0407 : 0);
    return kSOk;
  };
  program.application->properties[dispid::kLanguageSettings] = testing::object(language);
  EXPECT_EQ(host().uiLanguage(), 0x07);

  program.workbook->properties[dispid::kDate1904] = Variant::boolean(true);
  EXPECT_TRUE(host().usesDate1904());
  program.workbook->properties[dispid::kDate1904] = Variant::i4(1);
  EXPECT_FALSE(host().usesDate1904());

  program.range(0, u"D4").value = Variant::text(u"in");
  Value out;
  EXPECT_EQ(host().readCell(CellRef::at(0, 3, 3), out), 1);
  EXPECT_EQ(toText(out), u"in");
  EXPECT_TRUE(host().calculateAndRead(CellRef::at(0, 3, 3), out));
  EXPECT_EQ(program.range(0, u"D4").range->count("call 0x117"), 1);
}

}  // namespace
}  // namespace korvel
