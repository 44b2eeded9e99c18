#include "hosts/headless/spreadsheet/program_objects.h"

#include <algorithm>
#include <utility>

#include "excel/dispatch_ids.h"
#include "hosts/headless/functions/number_format.h"
#include "hosts/headless/spreadsheet/command_bars.h"
#include "hosts/headless/spreadsheet/program_formula.h"

namespace korvel {
namespace {

using Members = std::vector<std::pair<int32_t, InvokeKind>>;
constexpr InvokeKind kGet = InvokeKind::kPropertyGet;
constexpr InvokeKind kPut = InvokeKind::kPropertyPut;
constexpr InvokeKind kCall = InvokeKind::kMethod;

// Slots of IUnknown and IDispatch come first in a dual interface; Invoke is the last of them.
constexpr size_t kInvokeSlot = 6;
constexpr size_t kFirstMemberSlot = 7;

constexpr int32_t kProtectScenarios = 0x126;
constexpr int32_t kSheetsAdd = 0xB5;
constexpr int32_t kWorkbookProtectStructure = 0x24C;
constexpr int32_t kWorkbookProtectWindows = 0x127;
constexpr int32_t kChartSheetType = -4109;
constexpr int32_t kSelectionNone = -4142;

std::shared_ptr<InterfaceTable> makeTable(const InterfaceId& iid, const Members& members) {
  std::vector<FunctionDescription> functions;
  std::vector<MemberFunction> slots(kFirstMemberSlot + members.size());
  functions.push_back({kDispidInvoke, kCall, kInvokeSlot});
  // The late-bound entrance: member id and kind lead the arguments.
  slots[kInvokeSlot] = [](Dispatch& self, std::span<Variant> arguments, Variant* result,
                          uint32_t locale) -> HResult {
    if (arguments.size() < 2 || !arguments[0].isInteger() || !arguments[1].isInteger()) {
      return kDispEBadParamCount;
    }
    return static_cast<TableObject&>(self).callMember(int32_t(arguments[0].integer()),
                                                      InvokeKind(arguments[1].integer()),
                                                      arguments.subspan(2), result, locale);
  };
  for (size_t i = 0; i < members.size(); ++i) {
    auto [id, kind] = members[i];
    functions.push_back({id, kind, kFirstMemberSlot + i});
    slots[kFirstMemberSlot + i] = [id = id, kind = kind](Dispatch& self,
                                                         std::span<Variant> arguments,
                                                         Variant* result, uint32_t locale) {
      return static_cast<TableObject&>(self).own(id, kind, arguments, result, locale);
    };
  }
  return std::make_shared<InterfaceTable>(iid, std::move(functions), std::move(slots));
}

Members withGetPut(std::initializer_list<int32_t> gets, std::initializer_list<int32_t> getPuts,
                   std::initializer_list<int32_t> methods) {
  Members members;
  for (int32_t id : gets) members.push_back({id, kGet});
  for (int32_t id : getPuts) {
    members.push_back({id, kGet});
    members.push_back({id, kPut});
  }
  for (int32_t id : methods) members.push_back({id, kCall});
  return members;
}

bool sameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i] >= u'a' && a[i] <= u'z' ? char16_t(a[i] - 32) : a[i];
    char16_t y = b[i] >= u'a' && b[i] <= u'z' ? char16_t(b[i] - 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

// A property the program keeps in a field: read, or write with the value converted.
template <typename T, typename Convert>
HResult property(T* field, InvokeKind kind, std::span<Variant> arguments, Variant* result,
                 Variant (*toVariant)(T), Convert fromVariant) {
  if (kind == kPut) {
    const Variant* value = args::putValue(arguments);
    if (value == nullptr) return kDispEBadParamCount;
    std::optional<T> converted = fromVariant(*value);
    if (!converted) return kDispETypeMismatch;
    *field = *converted;
    return kSOk;
  }
  return answer(result, toVariant(*field));
}

std::optional<bool> boolOf(const Variant& v) {
  if (v.type() == VarType::kBool || v.isInteger()) return v.integer() != 0;
  if (v.type() == VarType::kR8) return v.real() != 0;
  return std::nullopt;
}
std::optional<int32_t> intOf(const Variant& v) {
  if (v.isInteger()) return int32_t(v.integer());
  if (v.type() == VarType::kR8) return int32_t(v.real());
  if (v.type() == VarType::kBool) return v.boolean() ? -1 : 0;
  return std::nullopt;
}
std::optional<double> doubleOf(const Variant& v) {
  if (v.isInteger()) return double(v.integer());
  if (v.type() == VarType::kR8) return v.real();
  return std::nullopt;
}
std::optional<std::u16string> textOf(const Variant& v) {
  if (v.type() == VarType::kBstr) return v.text();
  if (v.isEmpty()) return std::u16string();
  return std::nullopt;
}
Variant boolVariant(bool v) { return Variant::boolean(v); }
Variant intVariant(int32_t v) { return Variant::i4(v); }
Variant doubleVariant(double v) { return Variant::r8(v); }
Variant textVariant(std::u16string v) { return Variant::text(std::move(v)); }

HResult boolProperty(bool* field, InvokeKind kind, std::span<Variant> arguments, Variant* result) {
  return property<bool>(field, kind, arguments, result, boolVariant, boolOf);
}
HResult intProperty(int32_t* field, InvokeKind kind, std::span<Variant> arguments,
                    Variant* result) {
  return property<int32_t>(field, kind, arguments, result, intVariant, intOf);
}

// An item of a collection by 1-based index or by name (ignoring case).
std::optional<size_t> itemIndex(std::span<Variant> arguments, size_t count,
                                const std::function<std::u16string(size_t)>& nameOf) {
  if (!args::given(arguments, 0)) return std::nullopt;
  if (std::optional<int64_t> index = args::integer(arguments, 0)) {
    if (*index < 1 || uint64_t(*index) > count) return std::nullopt;
    return size_t(*index - 1);
  }
  if (std::optional<std::u16string> name = args::text(arguments, 0)) {
    for (size_t i = 0; i < count; ++i) {
      if (sameName(nameOf(i), *name)) return i;
    }
  }
  return std::nullopt;
}

std::u16string folderOf(std::u16string_view path) {
  size_t slash = path.find_last_of(u"\\/");
  return slash == std::u16string_view::npos ? std::u16string()
                                            : std::u16string(path.substr(0, slash));
}

bool validSheetName(std::u16string_view name) {
  if (name.empty() || name.size() > 31) return false;
  if (name.front() == u'\'' || name.back() == u'\'') return false;
  return name.find_first_of(u"[]:*?/\\") == std::u16string_view::npos;
}

// A range of the active sheet from the Range arguments (a reference text, or two ranges or texts
// for the corners).
HResult rangeFromArguments(SpreadsheetProgram& program, SheetObject* sheet,
                           std::span<Variant> arguments, Variant* result) {
  WorkbookState* workbook = sheet != nullptr ? &sheet->workbook() : program.activeWorkbook();
  if (workbook == nullptr) return kProgramError;
  size_t sheetIndex = sheet != nullptr ? sheet->index() : workbook->activeSheet;
  std::vector<CellArea> corners;
  for (size_t i = 0; i < 2 && i < arguments.size(); ++i) {
    if (!args::given(arguments, i)) continue;
    const Variant& argument = arguments[i];
    if (argument.type() == VarType::kDispatch) {
      auto* range = dynamic_cast<RangeObject*>(argument.object().get());
      if (range == nullptr || &range->sheet().workbook() != workbook) return kEInvalidArg;
      sheetIndex = range->sheet().index();
      corners.insert(corners.end(), range->areas().begin(), range->areas().end());
      continue;
    }
    std::optional<std::u16string> text = args::text(arguments, i);
    if (!text) return kEInvalidArg;
    std::optional<A1Reference> reference = parseA1(*text);
    if (!reference) return kProgramError;
    if (!reference->sheet.empty()) {
      auto found =
          std::find_if(workbook->data.sheets.begin(), workbook->data.sheets.end(),
                       [&](const SheetData& s) { return sameName(s.name, reference->sheet); });
      if (found == workbook->data.sheets.end()) return kProgramError;
      sheetIndex = size_t(found - workbook->data.sheets.begin());
    }
    corners.insert(corners.end(), reference->areas.begin(), reference->areas.end());
  }
  if (corners.empty()) return kDispEBadParamCount;
  std::vector<CellArea> areas = corners;
  if (args::given(arguments, 1)) {
    // Two corners: the rectangle that spans both.
    CellArea span = corners[0];
    for (const CellArea& c : corners) {
      span.firstRow = std::min(span.firstRow, c.firstRow);
      span.firstColumn = std::min(span.firstColumn, c.firstColumn);
      span.lastRow = std::max(span.lastRow, c.lastRow);
      span.lastColumn = std::max(span.lastColumn, c.lastColumn);
    }
    areas = {span};
  }
  if (sheetIndex >= workbook->data.sheets.size()) return kProgramError;
  return answer(result,
                Variant::dispatch(program.sheetObject(*workbook, sheetIndex)->range(areas)));
}

std::shared_ptr<Dispatch> simpleObject(SpreadsheetProgram* program, MemberObject::Handler handler) {
  return std::make_shared<MemberObject>(program, std::move(handler));
}

// Application.WorksheetFunction's members: the program has no calculation of its own for them, so
// it hands the call to the worksheet functions it was given, describing the Ranges among the
// arguments by place, as only the calculation knows how to read their cells.
HResult worksheetFunction(SpreadsheetProgram& program, int number, std::span<Variant> arguments,
                          Variant* result) {
  const WorksheetFunctions& functions = program.worksheetFunctions();
  if (functions.call) {
    std::vector<FunctionArgument> described;
    described.reserve(arguments.size());
    for (const Variant& argument : arguments) {
      FunctionArgument& entry = described.emplace_back();
      entry.value = argument;
      auto* range = argument.type() == VarType::kDispatch
                        ? dynamic_cast<RangeObject*>(argument.object().get())
                        : nullptr;
      if (range == nullptr) continue;
      // A Range of another program (or of a closed workbook) is passed on as an object only.
      WorkbookState* workbook = &range->sheet().workbook();
      std::vector<WorkbookState*> open = program.openWorkbooks();
      if (std::find(open.begin(), open.end(), workbook) == open.end()) continue;
      entry.range = RangeArgument{program.workbookName(*workbook), range->sheet().data().name,
                                  range->areas()};
    }
    Variant computed;
    if (functions.call(number, described, &computed)) return answer(result, std::move(computed));
  }
  program.countWorksheetFunctionCall();
  return answer(result, Variant::error(kCellErrorName));
}

std::shared_ptr<Dispatch> makeShapesObject(SpreadsheetProgram* program,
                                           std::shared_ptr<SheetObject> sheet);
std::shared_ptr<Dispatch> makeQueryTablesObject(SpreadsheetProgram* program,
                                                std::shared_ptr<SheetObject> sheet);

}  // namespace

// --- Arguments and answers.

namespace args {
bool given(std::span<Variant> arguments, size_t index) {
  return index < arguments.size() && !arguments[index].isMissing();
}
std::optional<int64_t> integer(std::span<Variant> arguments, size_t index) {
  if (!given(arguments, index)) return std::nullopt;
  const Variant& v = arguments[index];
  if (v.isInteger()) return v.integer();
  if (v.type() == VarType::kR8) return int64_t(v.real());
  return std::nullopt;
}
std::optional<std::u16string> text(std::span<Variant> arguments, size_t index) {
  if (!given(arguments, index)) return std::nullopt;
  const Variant& v = arguments[index];
  if (v.type() == VarType::kBstr) return v.text();
  if (v.isEmpty() || v.type() == VarType::kDispatch || v.type() == VarType::kArray) {
    return std::nullopt;
  }
  return valueText(v);
}
bool boolean(std::span<Variant> arguments, size_t index, bool fallback) {
  if (!given(arguments, index)) return fallback;
  std::optional<bool> value = boolOf(arguments[index]);
  return value ? *value : fallback;
}
const Variant* putValue(std::span<Variant> arguments) {
  return arguments.empty() ? nullptr : &arguments.back();
}
}  // namespace args

std::u16string valueText(const Variant& value) {
  switch (value.type()) {
    case VarType::kR8:
      return generalNumberText(value.real());
    case VarType::kBstr:
      return value.text();
    case VarType::kBool:
      return value.boolean() ? u"TRUE" : u"FALSE";
    case VarType::kError:
      return cellErrorText(value.errorCode());
    default:
      if (value.isInteger()) return generalNumberText(double(value.integer()));
      return {};
  }
}

std::u16string shownText(const Variant& value, std::u16string_view numberFormat, bool date1904) {
  std::u16string ignored;
  bool readable = !numberFormat.empty() && formatText(u"", numberFormat, &ignored);
  std::u16string_view format = readable ? numberFormat : u"General";
  std::optional<double> number;
  if (value.type() == VarType::kR8) number = value.real();
  if (value.isInteger()) number = double(value.integer());
  if (number) {
    std::u16string text;
    return formatNumber(*number, format, date1904, &text) ? text : u"#######";
  }
  if (value.type() == VarType::kBstr && readable) {
    std::u16string text;
    if (formatText(value.text(), format, &text)) return text;
  }
  return valueText(value);
}

HResult answer(Variant* result, Variant value) {
  if (result != nullptr) *result = std::move(value);
  return kSOk;
}

// --- Dual-interface objects.

std::unique_ptr<SpreadsheetProgram::Tables> makeProgramTables() {
  using namespace dispid;
  auto tables = std::make_unique<SpreadsheetProgram::Tables>();
  Members application =
      withGetPut({kEvaluate, kSelection, kApplicationRange, kActiveSheet, kActiveWorkbook, kVersion,
                  kWindows, kSheets, kWorksheets, kWorkbooks, kCommandBars, kWorksheetFunction,
                  kLanguageSettings, kHwnd},
                 {kCaption, kCalculation, kDisplayAlerts, kIgnoreRemoteRequests, kIteration,
                  kMaxChange, kMaxIterations, kScreenUpdating, kWindowState, kVisible,
                  kRemoteRequestsCompanion, kDefaultSaveFormat, kUserControl, kEnableEvents},
                 {kEvaluate, kRun, kQuit, kDdeInitiate, kDdeRequest, kDdeTerminate, kOnTime,
                  kIntersect, kOnUndo, kCalculateFull, kCalculate});
  tables->application = makeTable(kIidApplication, application);
  Members workbook = withGetPut({kName, kFullName, kPath, kFileFormat, kSheets, kWorksheets,
                                 kParent, kWorkbookProtectStructure, kWorkbookProtectWindows},
                                {kSaved, kDate1904, kCheckCompatibility},
                                {kSave, kSaveAs, kSaveAs2, kSaveCopyAs, kClose, kProtect,
                                 kProtectOld, kUnprotect, kActivate});
  tables->workbook = makeTable(kIidWorkbook, workbook);
  Members worksheet =
      withGetPut({kCodeName, kIndex, kType, kParent, kRange, kUsedRange, kProtectContents,
                  kProtectDrawingObjects, kProtectScenarios, kShapes, kQueryTables, kHyperlinks},
                 {kName, kEnableSelection},
                 {kActivate, kSelect, kProtect, kProtectOld, kUnprotect, kCalculate});
  tables->worksheet = makeTable(kIidWorksheet, worksheet);
  Members chart =
      withGetPut({kCodeName, kIndex, kType, kParent, kProtectContents, kProtectDrawingObjects},
                 {kName}, {kActivate, kSelect, kProtect, kProtectOld, kUnprotect});
  tables->chart = makeTable(kIidChart, chart);
  Members range =
      withGetPut({kAddress, kCount, kHasFormula, kAreas, kWorksheet, kParent, kItem, kInterior,
                  kFont, kBorders, kHyperlinks, kDirectPrecedents, kSpecialCells},
                 {kValue, kValue2, kFormula, kWrapText, kHorizontalAlignment, kVerticalAlignment,
                  kNumberFormat, kOrientation, kRangeMember0xD1},
                 {kCalculate, kSpecialCells, kSelect, kActivate});
  tables->range = makeTable(kIidRange, range);
  return tables;
}

HResult TableObject::invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments,
                            Variant* result, uint32_t locale) {
  const FunctionDescription* entrance = table_->find(kDispidInvoke, kCall);
  MemberFunction function = entrance != nullptr ? table_->slot(entrance->slot) : MemberFunction();
  if (!function) return callMember(memberId, kind, arguments, result, locale);
  std::vector<Variant> all;
  all.reserve(arguments.size() + 2);
  all.push_back(Variant::i4(memberId));
  all.push_back(Variant::i4(int32_t(kind)));
  all.insert(all.end(), arguments.begin(), arguments.end());
  HResult hr = function(*this, all, result, locale);
  // By-reference arguments come back to the caller.
  for (size_t i = 0; i < arguments.size(); ++i) arguments[i] = std::move(all[i + 2]);
  return hr;
}

HResult TableObject::callMember(int32_t memberId, InvokeKind kind, std::span<Variant> arguments,
                                Variant* result, uint32_t locale) {
  if (const FunctionDescription* f = table_->find(memberId, kind)) {
    if (MemberFunction function = table_->slot(f->slot)) {
      return function(*this, arguments, result, locale);
    }
  }
  return own(memberId, kind, arguments, result, locale);
}

HResult TableObject::own(int32_t memberId, InvokeKind kind, std::span<Variant> arguments,
                         Variant* result, uint32_t locale) {
  SpreadsheetProgram* p = program();
  if (p == nullptr) return kEFail;
  if (result != nullptr) *result = Variant();
  return member(*p, memberId, kind, arguments, result, locale);
}

HResult MemberObject::invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments,
                             Variant* result, uint32_t) {
  if (program() == nullptr) return kEFail;
  if (result != nullptr) *result = Variant();
  return handler_(memberId, kind, arguments, result);
}

// --- Application.

ApplicationObject::ApplicationObject(SpreadsheetProgram* program)
    : TableObject(program, program->tables().application) {}

uint32_t ApplicationObject::advise(const InterfaceId& events, std::shared_ptr<Dispatch> sink) {
  SpreadsheetProgram* p = program();
  if (p == nullptr || events != kIidApplicationEvents || sink == nullptr) return 0;
  return p->connectSink(std::move(sink));
}

bool ApplicationObject::unadvise(uint32_t cookie) {
  SpreadsheetProgram* p = program();
  return p != nullptr && p->disconnectSink(cookie);
}

HResult ApplicationObject::member(SpreadsheetProgram& program, int32_t memberId, InvokeKind kind,
                                  std::span<Variant> arguments, Variant* result, uint32_t) {
  using namespace dispid;
  SpreadsheetProgram::Settings& s = program.settings();
  WorkbookState* active = program.activeWorkbook();
  switch (memberId) {
    case kEvaluate: {
      std::optional<std::u16string> text = args::text(arguments, 0);
      if (!text) return kEInvalidArg;
      return answer(result, program.evaluate(*text));
    }
    case kCaption:
      return property<std::u16string>(&s.caption, kind, arguments, result, textVariant, textOf);
    case kSelection: {
      if (active == nullptr) return answer(result, Variant::dispatch(nullptr));
      CellArea area = active->selections.count(active->activeSheet)
                          ? active->selections[active->activeSheet]
                          : CellArea{};
      return answer(result, Variant::dispatch(
                                program.sheetObject(*active, active->activeSheet)->range({area})));
    }
    case kApplicationRange:
      return rangeFromArguments(program, nullptr, arguments, result);
    case kRun: {
      std::optional<std::u16string> macro = args::text(arguments, 0);
      if (!macro) return kEInvalidArg;
      return program.run(*macro, arguments.subspan(1), result);
    }
    case kQuit:
      program.quit();
      return kSOk;
    case kActiveSheet:
      if (active == nullptr) return answer(result, Variant::dispatch(nullptr));
      return answer(result, Variant::dispatch(program.sheetObject(*active, active->activeSheet)));
    case kActiveWorkbook:
      return answer(result, Variant::dispatch(active != nullptr ? active->object : nullptr));
    case kCalculation: {
      if (kind != kPut) return answer(result, Variant::i4(s.calculation));
      const Variant* value = args::putValue(arguments);
      std::optional<int32_t> mode = value != nullptr ? intOf(*value) : std::nullopt;
      if (!mode || (*mode != kCalculationAutomatic && *mode != kCalculationManual &&
                    *mode != kCalculationSemiautomatic)) {
        return kProgramError;
      }
      bool wasManual = s.calculation == kCalculationManual;
      s.calculation = *mode;
      // Leaving manual mode brings the program's own formulas up to date.
      if (wasManual && *mode == kCalculationAutomatic) program.calculateAll(false);
      return kSOk;
    }
    case kDdeInitiate:
    case kDdeRequest:
    case kDdeTerminate:
      return kProgramError;  // no DDE servers in the headless world
    case kDisplayAlerts:
      return boolProperty(&s.displayAlerts, kind, arguments, result);
    case kIgnoreRemoteRequests:
      return boolProperty(&s.ignoreRemoteRequests, kind, arguments, result);
    case kIteration:
      return boolProperty(&s.iteration, kind, arguments, result);
    case kMaxChange:
      return property<double>(&s.maxChange, kind, arguments, result, doubleVariant, doubleOf);
    case kMaxIterations:
      return intProperty(&s.maxIterations, kind, arguments, result);
    case kScreenUpdating:
      return boolProperty(&s.screenUpdating, kind, arguments, result);
    case kVersion:
      return answer(result, Variant::text(u"16.0"));
    case kWindowState:
      return intProperty(&s.windowState, kind, arguments, result);
    case kWindows: {
      SpreadsheetProgram* p = &program;
      return answer(result, Variant::dispatch(simpleObject(
                                p, [p](int32_t id, InvokeKind, std::span<Variant>, Variant* r) {
                                  if (id != kCount) return kDispEMemberNotFound;
                                  return answer(r, Variant::i4(int32_t(p->openWorkbooks().size())));
                                })));
    }
    case kSheets:
    case kWorksheets:
      if (active == nullptr) return kProgramError;
      return answer(result,
                    Variant::dispatch(makeSheetsObject(&program, active, memberId == kWorksheets)));
    case kVisible: {
      HeadlessWindowSystem& windows = program.windowSystem();
      if (kind != kPut)
        return answer(result, Variant::boolean(windows.isWindowVisible(program.mainWindow())));
      const Variant* value = args::putValue(arguments);
      std::optional<bool> visible = value != nullptr ? boolOf(*value) : std::nullopt;
      if (!visible) return kDispETypeMismatch;
      windows.showWindow(program.mainWindow(), *visible);
      return kSOk;
    }
    case kWorkbooks:
      return answer(result, Variant::dispatch(makeWorkbooksObject(&program)));
    case kOnTime: {
      std::optional<std::u16string> procedure = args::text(arguments, 1);
      if (!args::given(arguments, 0) || !procedure) return kEInvalidArg;
      double earliest = doubleOf(arguments[0]).value_or(0);
      program.queueOnTime(earliest, *procedure, args::boolean(arguments, 3, true));
      return kSOk;
    }
    case kIntersect: {
      std::shared_ptr<SheetObject> sheet;
      std::vector<CellArea> common;
      bool first = true;
      for (size_t i = 0; i < arguments.size(); ++i) {
        if (!args::given(arguments, i)) continue;
        auto* range = arguments[i].type() == VarType::kDispatch
                          ? dynamic_cast<RangeObject*>(arguments[i].object().get())
                          : nullptr;
        if (range == nullptr) return kEInvalidArg;
        if (sheet != nullptr && range->sheetObject() != sheet) return kProgramError;
        sheet = range->sheetObject();
        if (first) {
          common = range->areas();
          first = false;
          continue;
        }
        std::vector<CellArea> next;
        for (const CellArea& a : common) {
          for (const CellArea& b : range->areas()) {
            CellArea c{std::max(a.firstRow, b.firstRow), std::max(a.firstColumn, b.firstColumn),
                       std::min(a.lastRow, b.lastRow), std::min(a.lastColumn, b.lastColumn)};
            if (c.firstRow <= c.lastRow && c.firstColumn <= c.lastColumn) next.push_back(c);
          }
        }
        common = std::move(next);
      }
      if (sheet == nullptr) return kDispEBadParamCount;
      if (common.empty()) return answer(result, Variant::dispatch(nullptr));
      return answer(result, Variant::dispatch(sheet->range(common)));
    }
    case kOnUndo: {
      std::optional<std::u16string> text = args::text(arguments, 0);
      std::optional<std::u16string> procedure = args::text(arguments, 1);
      if (!text || !procedure) return kEInvalidArg;
      program.setOnUndo(*text, *procedure);
      return kSOk;
    }
    case kRemoteRequestsCompanion:
      return intProperty(&s.remoteRequestsCompanion, kind, arguments, result);
    case kDefaultSaveFormat:
      return intProperty(&s.defaultSaveFormat, kind, arguments, result);
    case kUserControl:
      return boolProperty(&s.userControl, kind, arguments, result);
    case kEnableEvents:
      return boolProperty(&s.enableEvents, kind, arguments, result);
    case kCommandBars:
      return answer(result, Variant::dispatch(makeCommandBarsObject(&program)));
    case kWorksheetFunction: {
      SpreadsheetProgram* p = &program;
      return answer(result,
                    Variant::dispatch(simpleObject(
                        p, [p](int32_t id, InvokeKind, std::span<Variant> arguments, Variant* r) {
                          if (id < kWorksheetFunctionBase) return kDispEMemberNotFound;
                          return worksheetFunction(*p, id - kWorksheetFunctionBase, arguments, r);
                        })));
    }
    case kLanguageSettings:
      return answer(result,
                    Variant::dispatch(simpleObject(
                        &program, [](int32_t id, InvokeKind, std::span<Variant>, Variant* r) {
                          if (id != kLanguageId) return kDispEMemberNotFound;
                          return answer(r, Variant::i4(1033));
                        })));
    case kCalculateFull:
    case kCalculate:
      if (kind != kCall) return kDispEMemberNotFound;
      program.calculateAll(true);
      return kSOk;
    case kHwnd:
      return answer(result, Variant::i4(int32_t(uint64_t(program.mainWindow()))));
    default:
      return kDispEMemberNotFound;
  }
}

// --- Workbook.

WorkbookObject::WorkbookObject(SpreadsheetProgram* program, WorkbookState* workbook)
    : TableObject(program, program->tables().workbook), workbook_(workbook) {}

HResult WorkbookObject::member(SpreadsheetProgram& program, int32_t memberId, InvokeKind kind,
                               std::span<Variant> arguments, Variant* result, uint32_t) {
  using namespace dispid;
  WorkbookState& wb = *workbook_;
  if (!wb.open) return kProgramError;
  WorkbookData& data = wb.data;
  switch (memberId) {
    case kName:
      return answer(result, Variant::text(program.workbookName(wb)));
    case kFullName:
      return answer(
          result, Variant::text(data.fullName.empty() ? program.workbookName(wb) : data.fullName));
    case kPath:
      return answer(result, Variant::text(folderOf(data.fullName)));
    case kSaved:
      return boolProperty(&wb.saved, kind, arguments, result);
    case kDate1904:
      return boolProperty(&data.date1904, kind, arguments, result);
    case kFileFormat:
      return answer(result, Variant::i4(data.fileFormat));
    case kCheckCompatibility:
      return boolProperty(&data.checkCompatibility, kind, arguments, result);
    case kSheets:
    case kWorksheets:
      return answer(result,
                    Variant::dispatch(makeSheetsObject(&program, &wb, memberId == kWorksheets)));
    case kParent:
      return answer(result, Variant::dispatch(program.application()));
    case kWorkbookProtectStructure:
      return answer(result, Variant::boolean(data.protectStructure));
    case kWorkbookProtectWindows:
      return answer(result, Variant::boolean(data.protectWindows));
    case kSave:
      program.save(wb, u"", false, false);
      return kSOk;
    case kSaveAs:
    case kSaveAs2: {
      std::optional<std::u16string> name = args::text(arguments, 0);
      if (!name || name->empty()) return kEInvalidArg;
      if (std::optional<int64_t> format = args::integer(arguments, 1)) {
        data.fileFormat = int32_t(*format);
      }
      // A name without an extension gets the one of the format, as the program adds it.
      if (size_t start = name->find_last_of(u"\\/:") + 1; name->find(u'.', start) == name->npos) {
        *name += data.fileFormat == kFileFormatExcel8 ? u".xls" : u".xlsx";
      }
      return program.save(wb, *name, false, false) == SaveOutcome::kFailed ? kProgramError : kSOk;
    }
    case kSaveCopyAs: {
      std::optional<std::u16string> name = args::text(arguments, 0);
      if (!name || name->empty()) return kEInvalidArg;
      return program.save(wb, *name, false, true) == SaveOutcome::kFailed ? kProgramError : kSOk;
    }
    case kClose: {
      bool saveChanges = args::boolean(arguments, 0, false);
      if (saveChanges) {
        std::optional<std::u16string> name = args::text(arguments, 1);
        program.save(wb, name.value_or(u""), false, false);
      }
      program.close(wb, false);
      return kSOk;
    }
    case kProtect:
    case kProtectOld: {
      std::u16string password = args::text(arguments, 0).value_or(u"");
      if ((data.protectStructure || data.protectWindows) && password != data.password) {
        return kProgramError;
      }
      data.protectStructure = args::boolean(arguments, 1, true);
      data.protectWindows = args::boolean(arguments, 2, false);
      data.password = password;
      return kSOk;
    }
    case kUnprotect: {
      std::u16string password = args::text(arguments, 0).value_or(u"");
      if ((data.protectStructure || data.protectWindows) && password != data.password) {
        return kProgramError;
      }
      data.protectStructure = data.protectWindows = false;
      data.password.clear();
      return kSOk;
    }
    case kActivate:
      program.activateWorkbook(wb);
      return kSOk;
    default:
      return kDispEMemberNotFound;
  }
}

// --- Worksheet and chart sheet.

SheetObject::SheetObject(SpreadsheetProgram* program, WorkbookState* workbook, size_t index,
                         bool chart)
    : TableObject(program, chart ? program->tables().chart : program->tables().worksheet),
      workbook_(workbook),
      index_(index),
      chart_(chart) {}

std::shared_ptr<Dispatch> SheetObject::queryInterface(const InterfaceId& iid) {
  if (iid == (chart_ ? kIidChart : kIidWorksheet)) return shared_from_this();
  return nullptr;
}

std::shared_ptr<RangeObject> SheetObject::range(std::vector<CellArea> areas) {
  SpreadsheetProgram* p = program();
  if (p == nullptr) return nullptr;
  return std::make_shared<RangeObject>(p, std::static_pointer_cast<SheetObject>(shared_from_this()),
                                       std::move(areas));
}

HResult SheetObject::protect(std::span<Variant> arguments, bool newForm) {
  SheetProtectionData& protection = data().protection;
  std::u16string password = args::text(arguments, 0).value_or(u"");
  bool protectedNow = protection.contents || protection.drawingObjects || protection.scenarios;
  // A protected sheet takes new options only with its own password.
  if (protectedNow && !protection.password.empty() && password != protection.password) {
    return kProgramError;
  }
  protection.drawingObjects = args::boolean(arguments, 1, true);
  protection.contents = args::boolean(arguments, 2, true);
  protection.scenarios = args::boolean(arguments, 3, true);
  protection.password = password;
  size_t count = newForm ? 16 : 5;
  protection.options.assign(count - 1, Variant::missing());
  for (size_t i = 1; i < count && i < arguments.size(); ++i)
    protection.options[i - 1] = arguments[i];
  return kSOk;
}

HResult SheetObject::unprotect(std::span<Variant> arguments) {
  SheetProtectionData& protection = data().protection;
  std::u16string password = args::text(arguments, 0).value_or(u"");
  bool protectedNow = protection.contents || protection.drawingObjects || protection.scenarios;
  if (!protectedNow) return kSOk;
  if (password != protection.password) return kProgramError;
  protection.contents = protection.drawingObjects = protection.scenarios = false;
  protection.password.clear();
  protection.options.clear();
  return kSOk;
}

HResult SheetObject::member(SpreadsheetProgram& program, int32_t memberId, InvokeKind kind,
                            std::span<Variant> arguments, Variant* result, uint32_t) {
  using namespace dispid;
  WorkbookState& wb = *workbook_;
  if (!wb.open) return kProgramError;
  SheetData& sheet = data();
  auto self = std::static_pointer_cast<SheetObject>(shared_from_this());
  switch (memberId) {
    case kName: {
      if (kind != kPut) return answer(result, Variant::text(sheet.name));
      const Variant* value = args::putValue(arguments);
      if (value == nullptr || value->type() != VarType::kBstr) return kDispETypeMismatch;
      const std::u16string& name = value->text();
      if (!validSheetName(name) || wb.data.protectStructure) return kProgramError;
      for (size_t i = 0; i < wb.data.sheets.size(); ++i) {
        if (i != index_ && sameName(wb.data.sheets[i].name, name)) return kProgramError;
      }
      sheet.name = name;
      wb.saved = false;
      return kSOk;
    }
    case kCodeName: {
      std::string n = std::to_string(index_ + 1);
      return answer(result, Variant::text(sheet.codeName.empty()
                                              ? u"Sheet" + std::u16string(n.begin(), n.end())
                                              : sheet.codeName));
    }
    case kIndex:
      return answer(result, Variant::i4(int32_t(index_ + 1)));
    case kType:
      return answer(result, Variant::i4(chart_ ? kChartSheetType : sheet.type));
    case kParent:
      return answer(result, Variant::dispatch(wb.object));
    case kActivate:
    case kSelect:
      if (sheet.hidden) return kProgramError;
      program.activateWorkbook(wb);
      wb.activeSheet = index_;
      return kSOk;
    case kProtect:
      return protect(arguments, true);
    case kProtectOld:
      return protect(arguments, false);
    case kUnprotect:
      return unprotect(arguments);
    case kProtectContents:
      return answer(result, Variant::boolean(sheet.protection.contents));
    case kProtectDrawingObjects:
      return answer(result, Variant::boolean(sheet.protection.drawingObjects));
    case kProtectScenarios:
      return answer(result, Variant::boolean(sheet.protection.scenarios));
    default:
      break;
  }
  if (chart_) return kDispEMemberNotFound;
  switch (memberId) {
    case kRange:
      return rangeFromArguments(program, this, arguments, result);
    case kUsedRange: {
      if (sheet.cells.empty()) return answer(result, Variant::dispatch(range({CellArea{}})));
      CellArea used{UINT32_MAX, UINT32_MAX, 0, 0};
      for (const auto& [key, cell] : sheet.cells) {
        used.firstRow = std::min(used.firstRow, key.first);
        used.lastRow = std::max(used.lastRow, key.first);
        used.firstColumn = std::min(used.firstColumn, key.second);
        used.lastColumn = std::max(used.lastColumn, key.second);
      }
      return answer(result, Variant::dispatch(range({used})));
    }
    case kEnableSelection: {
      if (kind != kPut) return answer(result, Variant::i4(sheet.protection.enableSelection));
      const Variant* value = args::putValue(arguments);
      std::optional<int32_t> mode = value != nullptr ? intOf(*value) : std::nullopt;
      if (!mode || (*mode != 0 && *mode != 1 && *mode != kSelectionNone)) return kProgramError;
      sheet.protection.enableSelection = *mode;
      return kSOk;
    }
    case kShapes:
      return answer(result, Variant::dispatch(makeShapesObject(&program, self)));
    case kQueryTables:
      return answer(result, Variant::dispatch(makeQueryTablesObject(&program, self)));
    case kHyperlinks:
      return answer(result,
                    Variant::dispatch(makeHyperlinksObject(
                        &program, self, {CellArea{0, 0, kSheetRows - 1, kSheetColumns - 1}})));
    case kCalculate:
      program.calculateArea(wb, index_, CellArea{0, 0, kSheetRows - 1, kSheetColumns - 1});
      return kSOk;
    default:
      return kDispEMemberNotFound;
  }
}

// --- Collections.

std::shared_ptr<Dispatch> makeWorkbooksObject(SpreadsheetProgram* program) {
  return simpleObject(
      program,
      [program](int32_t id, InvokeKind, std::span<Variant> arguments, Variant* result) -> HResult {
        std::vector<WorkbookState*> open = program->openWorkbooks();
        switch (id) {
          case dispid::kCount:
            return answer(result, Variant::i4(int32_t(open.size())));
          case dispid::kItem: {
            std::optional<size_t> index = itemIndex(
                arguments, open.size(), [&](size_t i) { return program->workbookName(*open[i]); });
            if (!index) return kProgramError;
            return answer(result, Variant::dispatch(open[*index]->object));
          }
          case dispid::kOpen: {
            std::optional<std::u16string> path = args::text(arguments, 0);
            if (!path) return kEInvalidArg;
            HResult error = kProgramError;
            WorkbookState* workbook = program->openFile(*path, &error);
            if (workbook == nullptr) return error;
            return answer(result, Variant::dispatch(workbook->object));
          }
          case kSheetsAdd:
            return answer(result, Variant::dispatch(program->newWorkbook().object));
          default:
            return kDispEMemberNotFound;
        }
      });
}

std::shared_ptr<Dispatch> makeSheetsObject(SpreadsheetProgram* program, WorkbookState* workbook,
                                           bool worksheetsOnly) {
  return simpleObject(
      program,
      [program, workbook, worksheetsOnly](int32_t id, InvokeKind, std::span<Variant> arguments,
                                          Variant* result) -> HResult {
        if (!workbook->open) return kProgramError;
        std::vector<size_t> members;
        for (size_t i = 0; i < workbook->data.sheets.size(); ++i) {
          if (!worksheetsOnly || workbook->data.sheets[i].type == kSheetTypeWorksheet) {
            members.push_back(i);
          }
        }
        switch (id) {
          case dispid::kCount:
            return answer(result, Variant::i4(int32_t(members.size())));
          case dispid::kItem: {
            std::optional<size_t> index = itemIndex(arguments, members.size(), [&](size_t i) {
              return workbook->data.sheets[members[i]].name;
            });
            if (!index) return kProgramError;
            return answer(result,
                          Variant::dispatch(program->sheetObject(*workbook, members[*index])));
          }
          case kSheetsAdd: {
            if (workbook->data.protectStructure) return kProgramError;
            size_t index = program->addSheetTo(*workbook, u"");
            return answer(result, Variant::dispatch(program->sheetObject(*workbook, index)));
          }
          default:
            return kDispEMemberNotFound;
        }
      });
}

namespace {

std::shared_ptr<Dispatch> makeShapesObject(SpreadsheetProgram* program,
                                           std::shared_ptr<SheetObject> sheet) {
  auto shapeObject = [program, sheet](size_t index) {
    return simpleObject(program,
                        [sheet, index](int32_t id, InvokeKind kind, std::span<Variant> arguments,
                                       Variant* result) -> HResult {
                          std::vector<ShapeData>& shapes = sheet->data().shapes;
                          if (!sheet->workbook().open || index >= shapes.size())
                            return kProgramError;
                          ShapeData& shape = shapes[index];
                          std::u16string* field = id == dispid::kName       ? &shape.name
                                                  : id == dispid::kOnAction ? &shape.onAction
                                                                            : nullptr;
                          if (field == nullptr) return kDispEMemberNotFound;
                          return property<std::u16string>(field, kind, arguments, result,
                                                          textVariant, textOf);
                        });
  };
  return simpleObject(program,
                      [sheet, shapeObject](int32_t id, InvokeKind, std::span<Variant> arguments,
                                           Variant* result) -> HResult {
                        std::vector<ShapeData>& shapes = sheet->data().shapes;
                        if (id == dispid::kCount)
                          return answer(result, Variant::i4(int32_t(shapes.size())));
                        if (id != dispid::kItem) return kDispEMemberNotFound;
                        std::optional<size_t> index = itemIndex(
                            arguments, shapes.size(), [&](size_t i) { return shapes[i].name; });
                        if (!index) return kProgramError;
                        return answer(result, Variant::dispatch(shapeObject(*index)));
                      });
}

std::shared_ptr<Dispatch> makeQueryTablesObject(SpreadsheetProgram* program,
                                                std::shared_ptr<SheetObject> sheet) {
  return simpleObject(
      program,
      [program, sheet](int32_t id, InvokeKind, std::span<Variant> arguments,
                       Variant* result) -> HResult {
        int count = sheet->data().queryTables;
        if (id == dispid::kCount) return answer(result, Variant::i4(count));
        if (id != dispid::kItem) return kDispEMemberNotFound;
        std::optional<int64_t> index = args::integer(arguments, 0);
        if (!index || *index < 1 || *index > count) return kProgramError;
        return answer(
            result,
            Variant::dispatch(simpleObject(
                program,
                [sheet](int32_t member, InvokeKind, std::span<Variant>, Variant* r) -> HResult {
                  if (member != dispid::kRefresh) return kDispEMemberNotFound;
                  ++sheet->workbook().queryTableRefreshes[sheet->index()];
                  return answer(r, Variant::boolean(true));
                })));
      });
}

}  // namespace

}  // namespace korvel
