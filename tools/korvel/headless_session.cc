#include "tools/korvel/headless_session.h"

#include <algorithm>
#include <string>
#include <utility>

#include "compiler/model_builder.h"
#include "compiler/starting_values.h"
#include "data/data_exchange.h"
#include "engine/engine.h"
#include "engine/evaluator.h"
#include "engine/native_function.h"
#include "engine/value_variant.h"
#include "excel/dispatch_ids.h"
#include "excel/object_layer.h"
#include "functions/function_catalogue.h"
#include "hosts/headless/disk_files.h"
#include "hosts/headless/functions/host_call_text.h"
#include "hosts/headless/functions/host_functions.h"
#include "hosts/headless/headless_calc_host.h"
#include "hosts/headless/memory_files.h"
#include "hosts/headless/spreadsheet/xlsx_workbook.h"
#include "model/address.h"
#include "model/compiled_model.h"
#include "model/nodes/node.h"
#include "model/sheet.h"
#include "packaging/application_packaging.h"
#include "platform/xloper.h"
#include "runtime/addin_entry_points.h"
#include "runtime/excel_bridge.h"
#include "tools/korvel/application_file.h"
#include "ui/application_dialogs.h"
#include "ui/application_menu.h"
#include "util/text.h"

namespace korvel {

namespace {

// Where the launcher unpacked the application, as the runtime sees its paths.
constexpr char16_t kApplicationPath[] = u"/application/Application.exe";
constexpr char16_t kRuntimeModulePath[] = u"/application/plinthstub.dll";

std::unique_ptr<Files> sessionFiles(bool onDisk) {
  if (onDisk) return std::make_unique<DiskFiles>();
  return std::make_unique<MemoryFiles>();
}

SpreadsheetOptions programOptions(bool onDisk) {
  SpreadsheetOptions options;
  options.xlsxFiles = onDisk;
  return options;
}

// A Range of the application workbook as a reference into the engine's model, which holds the
// workbook's sheets under their program names; false for a sheet the model does not have.
bool rangeValue(Engine& engine, const RangeArgument& range, Value& out) {
  const Sheet* sheet = engine.model().sheets().findByExcelName(range.sheet);
  if (sheet == nullptr || range.areas.empty()) return false;
  auto corners = [&](const CellArea& area, Value& reference) {
    reference.setReference(CellRef::at(sheet->index(), area.firstRow, area.firstColumn),
                           CellRef::at(sheet->index(), area.lastRow, area.lastColumn));
  };
  if (range.areas.size() == 1) {
    corners(range.areas.front(), out);
    return true;
  }
  ValueArray list(uint32_t(range.areas.size()), 1);
  for (size_t i = 0; i < range.areas.size(); ++i) corners(range.areas[i], list.at(uint32_t(i), 0));
  out.setReferenceList(std::move(list));
  return true;
}

// A function's result as the program answers it: a reference gives its cells' values, and an
// array stays two-dimensional (rows, columns) even with one row, as the program's array results
// are.
Variant resultVariant(Engine& engine, const Value& result) {
  Value values;
  if (result.isReference() || result.isReferenceList()) {
    referenceToArray(engine, result, values);
  } else {
    values = result;
  }
  if (!values.isArray()) return toVariant(values, false);
  const ValueArray& array = values.array();
  VariantArray out = VariantArray::twoDimensions(array.rows(), array.columns());
  for (uint32_t r = 0; r < array.rows(); ++r) {
    for (uint32_t c = 0; c < array.columns(); ++c) {
      out.at(int32_t(r) + 1, int32_t(c) + 1) = toVariant(array.at(c, r), false);
    }
  }
  return Variant::array(std::move(out));
}

}  // namespace

double callService(Runtime& runtime, int code, const std::u16string& path) {
  Xloper argument = Xloper::string(narrowText(path));
  const Xloper* answer = DummyFunc8(runtime, code, &argument);
  if (answer->is(kXltypeInt)) return answer->integer();
  if (answer->is(kXltypeNum)) return answer->num();
  return 0;
}

HeadlessSession::HeadlessSession(bool onDisk)
    : files_(sessionFiles(onDisk)), system_(files_.get()), resources_(*files_) {
  findRoutine_ = &hostRoutine;
  program_ = std::make_unique<SpreadsheetProgram>(windows_, &addin_, programOptions(onDisk));
  Platform platform;
  platform.locale = &locale_;
  platform.files = files_.get();
  platform.clock = &clock_;
  platform.windows = &windows_;
  platform.addinCallback = &addin_;
  platform.system = &system_;
  platform.objects = &program_->objectFactory();
  platform.dde = &dde_;
  platform.resources = &resources_;
  platform.dialogs = &dialogs_;
  platform.textMetrics = &dialogs_;
  system_.addModule(kRuntimeModulePath);
  runtime_ = std::make_unique<Runtime>(platform);
  auto connection = std::make_unique<ExcelConnection>(*runtime_);
  connection_ = connection.get();
  runtime_->setConnection(std::move(connection));
  runtime_->setDataExchange(std::make_unique<DataExchangeService>(*runtime_, *connection_));
  runtime_->setPackaging(std::make_unique<ApplicationPackaging>(*runtime_, *connection_));
  runtime_->setDialogs(std::make_unique<ApplicationDialogBoxes>(*runtime_));
  runtime_->setMenuManager(std::make_unique<ApplicationMenu>(*runtime_, *connection_));
  runtime_->processAttach();
  program_->exports().channel = [this](uint32_t message, uint64_t wParam, int64_t lParam) {
    return DummyFunc9(*runtime_, message, wParam, lParam);
  };
  program_->exports().runProcedure = [this](std::u16string_view name) { runProcedure(name); };
  WorksheetFunctions functions;
  functions.call = [this](int number, std::span<const FunctionArgument> arguments,
                          Variant* result) {
    return computeWorksheetFunction(number, arguments, result);
  };
  functions.evaluate = [this](std::u16string_view formula, Variant* result) {
    return evaluateCallText(formula, result);
  };
  program_->setWorksheetFunctions(std::move(functions));
}

HeadlessSession::~HeadlessSession() {
  // A save as moves the application's workbook to a file of its own, which the launcher of the
  // new application would remove in the same way.
  std::u16string current = runtime_ ? runtime_->channelState().workbookPath : std::u16string();
  if (runtime_) runtime_->processDetach();
  runtime_.reset();
  program_.reset();
  if (!unpackedWorkbook_.empty()) {
    files_->remove(unpackedWorkbook_);
    std::u16string temporary = files_->temporaryDirectory();
    if (current != unpackedWorkbook_ && current.starts_with(temporary) &&
        current.find(u'/', temporary.size()) == std::u16string::npos) {
      files_->remove(current);
    }
  }
}

void HeadlessSession::runProcedure(std::u16string_view name) {
  // The program knows a command by its exported name or by the name it was registered under.
  std::string procedure = narrowText(name);
  for (const auto& [key, entry] : runtime_->registrar().entries()) {
    if (equalsNoCase(widenText(entry.functionText), name)) procedure = entry.procedure;
  }
  Runtime& runtime = *runtime_;
  if (procedure == "DummyFunc1") {
    DummyFunc1(runtime);
  } else if (procedure == "DummyFunc3") {
    DummyFunc3(runtime);
  } else if (procedure == "DummyFunc4") {
    DummyFunc4(runtime);
  } else if (procedure == "DummyFunc6") {
    DummyFunc6(runtime);
  } else if (procedure == "DummyFunc13") {
    DummyFunc13(runtime);
  }
}

bool HeadlessSession::computeWorksheetFunction(int number,
                                               std::span<const FunctionArgument> arguments,
                                               Variant* result) {
  Engine* engine = runtime_ ? runtime_->engine() : nullptr;
  const std::u16string* name = FunctionCatalogue::instance().functionName(number);
  NativeRoutine routine =
      name != nullptr && findRoutine_ != nullptr ? findRoutine_(*name) : nullptr;
  if (engine == nullptr || routine == nullptr) return false;
  if (std::find(functionsRunning_.begin(), functionsRunning_.end(), *name) !=
      functionsRunning_.end()) {
    return false;
  }
  // The caller passes as many parameters as the function takes; the routine counts only those
  // given, as the formula wrote them.
  size_t given = arguments.size();
  while (given > 0 && !arguments[given - 1].range && arguments[given - 1].value.isMissing()) {
    --given;
  }
  std::vector<Value> values(given);
  for (size_t i = 0; i < given; ++i) {
    const FunctionArgument& argument = arguments[i];
    if (argument.range) {
      if (!equalsNoCase(argument.range->workbook, workbookName()) ||
          !rangeValue(*engine, *argument.range, values[i])) {
        return false;
      }
    } else {
      values[i] = fromVariant(argument.value);
    }
  }
  std::vector<const Value*> pointers;
  for (const Value& value : values) pointers.push_back(&value);
  pointers.push_back(nullptr);
  // The cell whose formula made the call serves omitted arguments, as in the engine's own calls.
  CallContext context{currentCell(), engine};
  Value out;
  functionsRunning_.push_back(*name);
  routine(context, pointers.data(), out);
  functionsRunning_.pop_back();
  *result = resultVariant(*engine, out);
  return true;
}

bool HeadlessSession::evaluateCallText(std::u16string_view formula, Variant* result) {
  Engine* engine = runtime_ ? runtime_->engine() : nullptr;
  if (engine == nullptr) return false;
  CallContext context{currentCell(), engine};
  Value out;
  if (computeCallText(context, formula, out) == CallTextResult::kNotComputed) return false;
  *result = resultVariant(*engine, out);
  return true;
}

bool HeadlessSession::start(const Workbook& workbook, const SessionOptions& options,
                            std::string* error) {
  CompiledModel model;
  std::vector<std::string> errors;
  if (!buildModel(workbook, &FunctionCatalogue::instance(), model, &errors)) {
    *error = errors.empty() ? "the workbook does not compile" : errors.front();
    return false;
  }
  // As the author's compiler does: the model carries the values the application starts with.
  computeStartingValues(model);
  LaunchPackage package;
  SettingsRecord settings = options.settings;
  if (settings.applicationName.empty()) {
    std::u16string name = options.workbookName;
    settings.applicationName = name.substr(0, name.rfind(u'.'));
  }
  if (!writeSettings(settings, &package.settings, error)) return false;
  package.applicationPath = kApplicationPath;
  package.workbookPath = u"/application/" + options.workbookName;
  package.runtimeModulePath = kRuntimeModulePath;
  if (!modelEnvelopes(model, *files_, &package.model, error)) return false;

  WorkbookData data = programWorkbook(workbook, model, package.workbookPath);
  if (options.presentation != nullptr) takePresentation(*options.presentation, &data);
  return launch(package, std::move(data), options, error);
}

bool HeadlessSession::startApplication(const std::u16string& path, const SessionOptions& options,
                                       std::string* error) {
  ApplicationContents contents;
  if (!readApplication(*files_, path, &contents, error)) return false;
  std::u16string name = contents.record.applicationName;
  if (name.empty()) {
    name = std::u16string(fileNameOf(path));
    name = name.substr(0, name.rfind(u'.'));
  }
  // Another run of the same application may hold the plain name.
  std::u16string temporary = files_->temporaryDirectory();
  std::u16string unpacked;
  for (int n = 0; n < 1000 && unpacked.empty(); ++n) {
    std::u16string candidate =
        temporary + name + (n == 0 ? u"" : u"(" + fromUtf8(std::to_string(n)) + u")") + u".xlsx";
    switch (files_->createExclusive(candidate, contents.workbook)) {
      case Files::Created::kOk:
        unpacked = candidate;
        break;
      case Files::Created::kExists:
        break;
      case Files::Created::kFailed:
        *error = "cannot unpack the workbook into " + toUtf8(candidate);
        return false;
    }
  }
  if (unpacked.empty()) {
    *error = "cannot unpack the workbook: every name is taken in " + toUtf8(temporary);
    return false;
  }
  unpackedWorkbook_ = unpacked;
  WorkbookData workbook;
  std::string readError;
  if (!readXlsxWorkbookBytes(contents.workbook, &workbook, &readError)) {
    *error = "the application's workbook does not read: " + readError;
    return false;
  }
  workbook.fullName = unpacked;

  LaunchPackage package;
  package.settings = std::move(contents.settings);
  package.agreementText = std::move(contents.agreement);
  package.applicationPath = path;
  package.workbookPath = unpacked;
  package.runtimeModulePath = kRuntimeModulePath;
  package.model = std::move(contents.model);
  return launch(package, std::move(workbook), options, error);
}

bool HeadlessSession::launch(const LaunchPackage& package, WorkbookData workbook,
                             const SessionOptions& options, std::string* error) {
  Launcher launcher(windows_);
  LaunchResult delivered = launcher.deliver(package);
  if (!delivered.ok) {
    *error = delivered.error;
    return false;
  }
  workbookName_ = std::u16string(fileNameOf(workbook.fullName));
  sheetNames_.clear();
  for (const SheetData& sheet : workbook.sheets) sheetNames_.push_back(sheet.name);
  WorkbookCode code;
  code.isApplication = true;
  code.firstStartMacro = options.firstStartMacro;
  code.secondStartMacro = options.secondStartMacro;
  if (!program_->openWorkbook(std::move(workbook), code)) {
    *error = "the program did not open the workbook";
    return false;
  }
  if (!connection_->attached()) {
    *error = "the workbook's code did not attach the runtime";
    return false;
  }
  if (Engine* engine = runtime_->engine(); engine && engine->host()) {
    engineHost_ = std::make_unique<LambdaCalcHost>(
        [this] { return connection_ ? static_cast<CalcHost*>(connection_->calcHost()) : nullptr; });
    engine->setHost(engineHost_.get());
  }
  LaunchResult started = launcher.start();
  if (!started.ok) {
    *error = started.error;
    return false;
  }
  program_->runOnTimeProcedures();
  runMessages();

  computed_.clear();
  if (CompiledModel* loaded = runtime_->model()) {
    std::vector<CellRef> cells;
    for (Cell* cell : loaded->indexedCells()) {
      if (!cell->hasFlag(kCellInput) && !cell->address.isNone()) cells.push_back(cell->address);
    }
    std::sort(cells.begin(), cells.end(), CellRefLess());
    for (CellRef address : cells) {
      if (address.sheet() >= sheetNames_.size()) continue;
      computed_.push_back(cellName(sheetNames_[address.sheet()] + u"!" + cellText(address)));
    }
  }
  return true;
}

bool HeadlessSession::splitCell(std::u16string_view cell, std::u16string* sheet,
                                std::u16string* a1) const {
  size_t bang = cell.rfind(u'!');
  if (bang == std::u16string_view::npos) {
    if (sheetNames_.empty()) return false;
    *sheet = sheetNames_.front();
    *a1 = std::u16string(cell);
    return true;
  }
  std::u16string name(cell.substr(0, bang));
  if (name.size() >= 2 && name.front() == u'\'' && name.back() == u'\'') {
    name = name.substr(1, name.size() - 2);
  }
  *sheet = name;
  *a1 = std::u16string(cell.substr(bang + 1));
  return true;
}

bool HeadlessSession::type(std::u16string_view cell, std::u16string_view text) {
  std::u16string sheet, a1;
  if (!splitCell(cell, &sheet, &a1)) return false;
  bool typed = program_->typeIntoCell(workbookName(), sheet, a1, text);
  runMessages();
  return typed;
}

void HeadlessSession::pressCalculateKey() {
  program_->pressCalculateKey();
  runMessages();
}

bool HeadlessSession::undo() {
  bool undone = program_->undo();
  runMessages();
  return undone;
}

void HeadlessSession::setManualCalculation(bool manual) {
  ExcelObject application(program_->application());
  application.put(dispid::kCalculation,
                  Variant::i4(manual ? kCalculationManual : kCalculationAutomatic));
  runMessages();
}

void HeadlessSession::runMessages() { windows_.runMessageLoop(); }

std::u16string HeadlessSession::display(std::u16string_view cell) const {
  std::u16string sheet, a1;
  if (!splitCell(cell, &sheet, &a1)) return {};
  return program_->displayText(workbookName(), sheet, a1);
}

Variant HeadlessSession::value(std::u16string_view cell) const {
  std::u16string sheet, a1;
  if (!splitCell(cell, &sheet, &a1)) return {};
  return program_->cellValue(workbookName(), sheet, a1);
}

std::vector<std::u16string> HeadlessSession::computedCells() const { return computed_; }

std::u16string HeadlessSession::workbookName() const {
  const std::u16string& path = runtime_->channelState().workbookPath;
  std::u16string current(fileNameOf(path));
  if (!current.empty() && program_->workbookState(current) != nullptr) return current;
  return workbookName_;
}

std::u16string HeadlessSession::cellName(std::u16string_view cell) const {
  std::u16string sheet, a1;
  if (!splitCell(cell, &sheet, &a1)) return {};
  auto known = std::find_if(sheetNames_.begin(), sheetNames_.end(),
                            [&](const std::u16string& name) { return equalsNoCase(name, sheet); });
  if (known == sheetNames_.end()) return {};
  sheet = *known;
  bool plain = !sheet.empty() && !isDigit(sheet.front());
  for (char16_t unit : sheet) {
    plain = plain && (isLetter(unit) || isDigit(unit) || unit == u'_' || unit == u'.');
  }
  return (plain ? sheet : quoteSheetName(sheet)) + u"!" + toUpper(a1);
}

}  // namespace korvel
