#include "hosts/headless/spreadsheet/spreadsheet_program.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "excel/dispatch_ids.h"
#include "hosts/headless/spreadsheet/command_bars.h"
#include "hosts/headless/spreadsheet/program_formula.h"
#include "hosts/headless/spreadsheet/program_objects.h"
#include "hosts/headless/spreadsheet/xlsx_workbook.h"
#include "ui/command_bar_ids.h"
#include "util/text.h"

namespace korvel {
namespace {

// Messages the application workbook's code sends through the add-in's channel entrance.
constexpr uint32_t kAttachApplication = 1152;
constexpr uint32_t kControlChanged = 1153;
constexpr uint32_t kStartMacro = 1280;
constexpr uint32_t kRangeChanged = 1282;
constexpr uint64_t kFirstStartMacro = 2;
constexpr uint64_t kSecondStartMacro = 1;

constexpr HResult kClassNotRegistered = HResult(0x80040154u);
constexpr char kCalculateKey[] = "{F9}";
// Chains of the program's own formulas longer than this many passes are left as they stand
// (circular ones never settle).
constexpr int kMaxPasses = 100;

// Procedures of the program's windows: they answer 0 to everything, and capture nothing, so a
// window that outlives the program stays safe to send to.
WindowProc quietProcedure() {
  return WindowProc([](WindowHandle, uint32_t, uint64_t, int64_t) -> int64_t { return 0; });
}

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; }

bool sameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

bool sameName8(std::string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (upper(char16_t(static_cast<unsigned char>(a[i]))) != upper(b[i])) return false;
  }
  return true;
}

std::u16string widen(std::string_view text) {
  std::u16string wide;
  for (char c : text) wide += char16_t(static_cast<unsigned char>(c));
  return wide;
}

std::u16string numbered(std::u16string_view prefix, int n) {
  std::string digits = std::to_string(n);
  return std::u16string(prefix) + std::u16string(digits.begin(), digits.end());
}

bool isBlank(const CellData& cell) {
  return cell.value.isEmpty() && cell.formula.empty() && !cell.wrapText && !cell.interiorColor &&
         !cell.fontColor && cell.numberFormat.empty() && !cell.style && cell.hyperlinks.empty() &&
         cell.locked && cell.formats.empty();
}

int64_t textAddress(const std::u16string& text) { return int64_t(uintptr_t(text.c_str())); }

// The macro part of "'Book.xlsm'!Macro" or "Book.xlsm!Module.Macro".
std::u16string_view macroPart(std::u16string_view name) {
  size_t bang = name.rfind(u'!');
  return bang == std::u16string_view::npos ? name : name.substr(bang + 1);
}

}  // namespace

class SpreadsheetProgram::Factory : public ObjectFactory {
 public:
  explicit Factory(SpreadsheetProgram& program) : program_(program) {}

  std::shared_ptr<Dispatch> create(std::u16string_view classOrProgId, HResult* result) override {
    if (sameName(classOrProgId, kApplicationProgId)) {
      // Another instance of the program runs in a process of its own and starts hidden.
      SpreadsheetOptions options = program_.options_;
      options.process =
          program_.windows_.currentProcess() + 1 + ProcessId(program_.secondPrograms_.size());
      options.visible = false;
      program_.secondPrograms_.push_back(
          std::make_unique<SpreadsheetProgram>(program_.windows_, nullptr, std::move(options)));
      return program_.secondPrograms_.back()->application();
    }
    if (sameName(classOrProgId, kWorkbookClass)) return program_.newWorkbook().object;
    if (result != nullptr) *result = kClassNotRegistered;
    return nullptr;
  }

 private:
  SpreadsheetProgram& program_;
};

SpreadsheetProgram::SpreadsheetProgram(HeadlessWindowSystem& windows, HeadlessAddinCallback* addin,
                                       SpreadsheetOptions options)
    : windows_(windows),
      addin_(addin),
      options_(std::move(options)),
      tables_(makeProgramTables()),
      commandBars_(std::make_unique<ProgramCommandBars>()),
      factory_(std::make_unique<Factory>(*this)) {
  settings_.caption = options_.caption;
  createWindows();
  application_ = std::make_shared<ApplicationObject>(this);
}

SpreadsheetProgram::~SpreadsheetProgram() { *alive_ = false; }

void SpreadsheetProgram::createWindows() {
  ProcessId process = options_.process;
  mainWindow_ = windows_.createWindow(
      {u"XLMAIN", options_.caption, WindowHandle::kNoWindow, process}, quietProcedure());
  deskWindow_ = windows_.createWindow({u"XLDESK", u"", mainWindow_, process}, quietProcedure());
  editWindow_ = windows_.createWindow({u"EXCEL<", u"", mainWindow_, process}, quietProcedure());
  editWindow2_ = windows_.createWindow({u"EXCEL6", u"", mainWindow_, process}, quietProcedure());
  if (!options_.visible) windows_.showWindow(mainWindow_, false);
}

void SpreadsheetProgram::setMacro(std::u16string name, ProgramMacro macro) {
  macros_[std::move(name)] = std::move(macro);
}

WindowHandle SpreadsheetProgram::workbookWindow(std::u16string_view workbook) const {
  WorkbookState* state = findOpenWorkbook(workbook);
  return state != nullptr ? state->window : WindowHandle::kNoWindow;
}

std::shared_ptr<Dispatch> SpreadsheetProgram::application() { return application_; }

ObjectFactory& SpreadsheetProgram::objectFactory() { return *factory_; }

SpreadsheetProgram* SpreadsheetProgram::secondProgram(size_t index) const {
  return index < secondPrograms_.size() ? secondPrograms_[index].get() : nullptr;
}

// --- Workbooks.

std::vector<WorkbookState*> SpreadsheetProgram::openWorkbooks() const {
  std::vector<WorkbookState*> open;
  for (const auto& workbook : workbooks_) {
    if (workbook->open) open.push_back(workbook.get());
  }
  return open;
}

WorkbookState* SpreadsheetProgram::activeWorkbook() const { return active_; }

void SpreadsheetProgram::activateWorkbook(WorkbookState& workbook) {
  if (workbook.open) active_ = &workbook;
}

std::shared_ptr<SheetObject> SpreadsheetProgram::sheetObject(WorkbookState& workbook,
                                                             size_t sheet) {
  if (sheet >= workbook.data.sheets.size()) return nullptr;
  if (workbook.sheets.size() < workbook.data.sheets.size()) {
    workbook.sheets.resize(workbook.data.sheets.size());
  }
  std::shared_ptr<SheetObject>& object = workbook.sheets[sheet];
  if (object == nullptr) {
    bool chart = workbook.data.sheets[sheet].type != kSheetTypeWorksheet;
    object = std::make_shared<SheetObject>(this, &workbook, sheet, chart);
  }
  return object;
}

WorkbookState* SpreadsheetProgram::findOpenWorkbook(std::u16string_view name) const {
  for (const auto& workbook : workbooks_) {
    if (workbook->open && sameName(workbook->name, name)) return workbook.get();
  }
  return nullptr;
}

std::u16string SpreadsheetProgram::workbookName(const WorkbookState& workbook) const {
  return workbook.name;
}

WorkbookState& SpreadsheetProgram::adopt(WorkbookData data, WorkbookCode code,
                                         std::u16string name) {
  auto state = std::make_unique<WorkbookState>();
  state->name = std::move(name);
  state->data = std::move(data);
  state->code = std::move(code);
  if (state->data.sheets.empty()) {
    state->data.sheets.emplace_back();
    state->data.sheets.back().name = u"Sheet1";
  }
  state->object = std::make_shared<WorkbookObject>(this, state.get());
  state->window = windows_.createWindow({u"EXCEL7", state->name, deskWindow_, options_.process},
                                        quietProcedure());
  workbooks_.push_back(std::move(state));
  active_ = workbooks_.back().get();
  return *workbooks_.back();
}

std::shared_ptr<Dispatch> SpreadsheetProgram::openWorkbook(WorkbookData data, WorkbookCode code) {
  std::u16string name = data.fullName.empty() ? numbered(u"Book", nextBookNumber_++)
                                              : std::u16string(fileNameOf(data.fullName));
  if (findOpenWorkbook(name) != nullptr) return nullptr;
  WorkbookState& workbook = adopt(std::move(data), std::move(code), std::move(name));
  runOpenCode(workbook);
  if (workbook.open) fireEvent(dispid::kEventWorkbookOpen, {Variant::dispatch(workbook.object)});
  return workbook.object;
}

WorkbookState& SpreadsheetProgram::newWorkbook() {
  WorkbookState& workbook =
      adopt(WorkbookData{}, WorkbookCode{}, numbered(u"Book", nextBookNumber_++));
  workbook.data.fileFormat = settings_.defaultSaveFormat;
  fireEvent(dispid::kEventNewWorkbook, {Variant::dispatch(workbook.object)});
  return workbook;
}

WorkbookState* SpreadsheetProgram::openFile(std::u16string_view path, HResult* error) {
  if (WorkbookState* open = findOpenWorkbook(fileNameOf(path))) return open;
  std::optional<WorkbookData> data;
  for (const auto& [name, contents] : files_) {
    if (sameName(name, path)) data = contents;
  }
  if (!data && options_.readWorkbook) data = options_.readWorkbook(path);
  if (!data && options_.xlsxFiles) {
    WorkbookData read;
    if (readXlsxWorkbook(toUtf8(path), &read, nullptr)) data = std::move(read);
  }
  if (!data) {
    if (error != nullptr) *error = kProgramError;
    return nullptr;
  }
  data->fullName = std::u16string(path);
  openWorkbook(std::move(*data));
  return findOpenWorkbook(fileNameOf(path));
}

void SpreadsheetProgram::runOpenCode(WorkbookState& workbook) {
  const WorkbookCode& code = workbook.code;
  if (!code.isApplication || !exports_.channel) return;
  if (!code.firstStartMacro.empty()) {
    postedTexts_.push_back(code.firstStartMacro);
    exports_.channel(kStartMacro, kFirstStartMacro, textAddress(postedTexts_.back()));
  }
  if (!code.secondStartMacro.empty()) {
    postedTexts_.push_back(code.secondStartMacro);
    exports_.channel(kStartMacro, kSecondStartMacro, textAddress(postedTexts_.back()));
  }
  int64_t macro = 0;
  if (!code.attachMacro.empty()) {
    postedTexts_.push_back(code.attachMacro);
    macro = textAddress(postedTexts_.back());
  }
  // The Application travels as an address: keep a holder for the duration of the call.
  std::shared_ptr<Dispatch> application = application_;
  exports_.channel(kAttachApplication, application->address(), macro);
}

bool SpreadsheetProgram::close(WorkbookState& workbook, bool saveChanges) {
  if (!workbook.open) return false;
  std::vector<Variant> answered =
      fireEvent(dispid::kEventWorkbookBeforeClose,
                {Variant::dispatch(workbook.object), Variant::boolean(false)});
  if (answered[1].boolean()) return false;
  if (!workbook.open) return true;  // a sink closed it meanwhile
  if (saveChanges) save(workbook, u"", false, false);
  workbook.open = false;
  windows_.destroyWindow(workbook.window);
  if (active_ == &workbook) {
    std::vector<WorkbookState*> open = openWorkbooks();
    active_ = open.empty() ? nullptr : open.back();
  }
  return true;
}

SaveOutcome SpreadsheetProgram::save(WorkbookState& workbook, std::u16string_view fullName,
                                     bool saveAsUi, bool copyOnly) {
  if (!workbook.open) return SaveOutcome::kFailed;
  if (!copyOnly) {
    std::vector<Variant> answered = fireEvent(
        dispid::kEventWorkbookBeforeSave,
        {Variant::dispatch(workbook.object), Variant::boolean(saveAsUi), Variant::boolean(false)});
    if (answered[2].boolean()) return SaveOutcome::kCancelled;
  }
  std::u16string target(fullName.empty() ? std::u16string_view(workbook.data.fullName) : fullName);
  if (target.empty()) target = workbook.name;
  WorkbookData copy = workbook.data;
  copy.fullName = target;
  if (options_.writeWorkbook) {
    if (!options_.writeWorkbook(copy, workbook.data.fullName, target)) return SaveOutcome::kFailed;
  } else if (options_.xlsxFiles) {
    // A workbook that never came from a file on disk gets a package of its own.
    std::string original = toUtf8(workbook.data.fullName);
    std::error_code missing;
    if (!original.empty() && !std::filesystem::exists(original, missing)) original.clear();
    std::string error;
    if (!writeXlsxWorkbook(copy, original, toUtf8(target), &error)) {
      return SaveOutcome::kFailed;
    }
  } else {
    files_[target] = std::move(copy);
  }
  if (!copyOnly) {
    workbook.data.fullName = target;
    workbook.name = std::u16string(fileNameOf(target));
    workbook.saved = true;
  }
  return SaveOutcome::kSaved;
}

size_t SpreadsheetProgram::addSheetTo(WorkbookState& workbook, std::u16string name) {
  for (int n = int(workbook.data.sheets.size()) + 1; name.empty(); ++n) {
    std::u16string candidate = numbered(u"Sheet", n);
    bool taken = std::any_of(workbook.data.sheets.begin(), workbook.data.sheets.end(),
                             [&](const SheetData& s) { return sameName(s.name, candidate); });
    if (!taken) name = candidate;
  }
  SheetData sheet;
  sheet.name = std::move(name);
  workbook.data.sheets.push_back(std::move(sheet));
  size_t index = workbook.data.sheets.size() - 1;
  workbook.saved = false;
  workbook.activeSheet = index;
  fireEvent(dispid::kEventWorkbookNewSheet,
            {Variant::dispatch(workbook.object), Variant::dispatch(sheetObject(workbook, index))});
  return index;
}

// --- Cells.

bool SpreadsheetProgram::writable(const WorkbookState& workbook, size_t sheet, uint32_t row,
                                  uint32_t column, ChangeSource source) const {
  const SheetData& data = workbook.data.sheets[sheet];
  const SheetProtectionData& protection = data.protection;
  if (!protection.contents) return true;
  // Protection for the user interface only leaves automation free to write.
  constexpr size_t kUserInterfaceOnly = 3;
  if (source == ChangeSource::kAutomation && protection.options.size() > kUserInterfaceOnly &&
      protection.options[kUserInterfaceOnly].type() == VarType::kBool &&
      protection.options[kUserInterfaceOnly].boolean()) {
    return true;
  }
  auto cell = data.cells.find({row, column});
  return cell != data.cells.end() && !cell->second.locked;
}

Variant SpreadsheetProgram::formulaValue(WorkbookState& workbook, size_t sheet,
                                         const std::u16string& formula) {
  WorkbookData& data = workbook.data;
  FormulaCellReader read = [&](const std::u16string& name, uint32_t row,
                               uint32_t column) -> std::optional<Variant> {
    const SheetData* target = &data.sheets[sheet];
    if (!name.empty()) {
      auto found = std::find_if(data.sheets.begin(), data.sheets.end(),
                                [&](const SheetData& s) { return sameName(s.name, name); });
      if (found == data.sheets.end()) return std::nullopt;
      target = &*found;
    }
    auto cell = target->cells.find({row, column});
    return cell == target->cells.end() ? Variant() : cell->second.value;
  };
  FormulaOutcome outcome = evaluateFormula(formula, read);
  if (outcome.unsupported) ++unsupportedFormulas_;
  return std::move(outcome.value);
}

void SpreadsheetProgram::storeEntry(WorkbookState& workbook, size_t sheet, uint32_t row,
                                    uint32_t column, const Variant& value, bool textAsTyped) {
  std::map<CellKey, CellData>& cells = workbook.data.sheets[sheet].cells;
  CellData& cell = cells[{row, column}];
  cell.formula.clear();
  Variant stored;
  switch (value.type()) {
    case VarType::kBstr: {
      const std::u16string& text = value.text();
      if (text.find(u'\n') != std::u16string::npos) cell.wrapText = true;  // as the program does
      if (!textAsTyped || text.empty()) {
        if (!text.empty()) stored = value;
      } else if (text[0] == u'\'') {
        stored = Variant::text(text.substr(1));
      } else if (text[0] == u'=' && text.size() > 1) {
        cell.formula = text;
      } else if (std::optional<double> number = parseCellNumber(text)) {
        stored = Variant::r8(*number);
      } else if (std::optional<TypedNumber> typed = readTypedNumber(text, workbook.data.date1904)) {
        // A percentage or a date typed into a cell in General takes the format it was typed in.
        stored = Variant::r8(typed->number);
        if (cell.numberFormat.empty()) cell.numberFormat = typed->format;
      } else if (sameName(text, u"TRUE") || sameName(text, u"FALSE")) {
        stored = Variant::boolean(sameName(text, u"TRUE"));
      } else if (uint32_t error = cellErrorCode(text)) {
        stored = Variant::error(error);
      } else {
        stored = value;
      }
      break;
    }
    case VarType::kR8:
    case VarType::kBool:
    case VarType::kError:
      stored = value;
      break;
    default:
      if (value.isInteger()) stored = Variant::r8(double(value.integer()));
      break;
  }
  if (value.type() == VarType::kError && value.isMissing()) stored = Variant();
  // An entered formula is computed at once, whatever the calculation mode.
  if (!cell.formula.empty()) stored = formulaValue(workbook, sheet, cell.formula);
  cell.value = std::move(stored);
  if (isBlank(cell)) cells.erase({row, column});
}

void SpreadsheetProgram::recalculate(WorkbookState& workbook,
                                     std::optional<std::pair<size_t, CellArea>> only) {
  // Passes in row order until nothing changes: chains that run down or right settle in one.
  for (int pass = 0; pass < kMaxPasses; ++pass) {
    bool changed = false;
    int unsupported = unsupportedFormulas_;
    for (size_t s = 0; s < workbook.data.sheets.size(); ++s) {
      if (only && only->first != s) continue;
      for (auto& [key, cell] : workbook.data.sheets[s].cells) {
        if (cell.formula.empty()) continue;
        if (only && !only->second.contains(key.first, key.second)) continue;
        Variant value = formulaValue(workbook, s, cell.formula);
        if (!(value == cell.value)) {
          cell.value = std::move(value);
          changed = true;
        }
      }
    }
    // A formula the program cannot compute counts once per calculation.
    if (pass > 0) unsupportedFormulas_ = unsupported;
    if (!changed) break;
  }
}

void SpreadsheetProgram::calculateAll(bool fireEvents) {
  if (fireEvents) ++fullCalculations_;
  for (WorkbookState* workbook : openWorkbooks()) recalculate(*workbook, std::nullopt);
  if (!fireEvents || active_ == nullptr) return;
  WorkbookState& workbook = *active_;
  for (size_t s = 0; s < workbook.data.sheets.size(); ++s) {
    if (!workbook.open || s >= workbook.data.sheets.size()) break;
    if (workbook.data.sheets[s].type != kSheetTypeWorksheet) continue;
    fireEvent(dispid::kEventSheetCalculate, {Variant::dispatch(sheetObject(workbook, s))});
  }
}

void SpreadsheetProgram::calculateArea(WorkbookState& workbook, size_t sheet,
                                       const CellArea& area) {
  recalculate(workbook, std::make_pair(sheet, area));
}

void SpreadsheetProgram::afterChange(WorkbookState& workbook, size_t sheet,
                                     const std::vector<CellArea>& areas, ChangeSource source) {
  workbook.saved = false;
  if (settings_.calculation == kCalculationAutomatic) recalculate(workbook, std::nullopt);
  if (source == ChangeSource::kUser && addin_ != nullptr) {
    const std::map<std::string, std::string>& entries = addin_->entryBindings();
    std::u16string sheetName = workbook.data.sheets[sheet].name;
    auto binding = std::find_if(entries.begin(), entries.end(), [&](const auto& entry) {
      return sameName8(entry.first, sheetName);
    });
    if (binding == entries.end()) binding = entries.find("");
    if (binding != entries.end()) runProcedureByName(widen(binding->second));
  }
  if (!settings_.enableEvents || !workbook.open) return;
  std::shared_ptr<SheetObject> sheetObj = sheetObject(workbook, sheet);
  std::shared_ptr<RangeObject> range = sheetObj->range(areas);
  // The sheet's own change code runs before the program tells the application's sinks, as the
  // program raises a change on the sheet first, then on the workbook, then on the application.
  // Both only while events are on.
  if (workbook.code.isApplication && exports_.channel) {
    exports_.channel(kRangeChanged, sheetObj->address(), int64_t(range->address()));
  }
  // The report may have switched events off or closed the workbook.
  if (!settings_.enableEvents || !workbook.open) return;
  fireEvent(dispid::kEventSheetChange, {Variant::dispatch(sheetObj), Variant::dispatch(range)});
}

// --- Macros, procedures, undo and timers.

bool SpreadsheetProgram::isRegisteredProcedure(std::u16string_view name) const {
  if (addin_ == nullptr) return false;
  for (const XllRegistration& r : addin_->registrations()) {
    if (sameName8(r.procedure, name) || sameName8(r.functionText, name)) return true;
  }
  return false;
}

HResult SpreadsheetProgram::run(std::u16string_view macro, std::span<Variant> arguments,
                                Variant* result) {
  runLog_.emplace_back(macro);
  // Macro names ignore case, and a workbook prefix may lead them.
  auto found = std::find_if(macros_.begin(), macros_.end(),
                            [&](const auto& m) { return sameName(m.first, macro); });
  if (found == macros_.end()) {
    found = std::find_if(macros_.begin(), macros_.end(),
                         [&](const auto& m) { return sameName(m.first, macroPart(macro)); });
  }
  if (found != macros_.end()) {
    ProgramMacro code = found->second;  // the macro may replace itself
    Variant value = code(arguments);
    return answer(result, std::move(value));
  }
  if (isRegisteredProcedure(macro) && exports_.runProcedure) {
    exports_.runProcedure(macro);
    return kSOk;
  }
  return kProgramError;  // the macro is not available
}

bool SpreadsheetProgram::runProcedureByName(std::u16string_view name) {
  return succeeded(run(name, {}, nullptr));
}

void SpreadsheetProgram::setOnUndo(std::u16string text, std::u16string procedure) {
  onUndo_ = UndoRecord{std::move(text), std::move(procedure)};
}

void SpreadsheetProgram::queueOnTime(double earliest, std::u16string procedure, bool schedule) {
  if (schedule) {
    onTime_.push_back({earliest, std::move(procedure)});
    return;
  }
  std::erase_if(onTime_, [&](const TimerRecord& t) {
    return t.earliest == earliest && sameName(t.procedure, procedure);
  });
}

int SpreadsheetProgram::runOnTimeProcedures() {
  std::vector<TimerRecord> due = std::move(onTime_);
  onTime_.clear();
  std::stable_sort(due.begin(), due.end(), [](const TimerRecord& a, const TimerRecord& b) {
    return a.earliest < b.earliest;
  });
  int ran = 0;
  for (const TimerRecord& timer : due) ran += runProcedureByName(timer.procedure) ? 1 : 0;
  return ran;
}

Variant SpreadsheetProgram::evaluate(std::u16string_view text) {
  if (std::optional<double> number = parseCellNumber(text)) return Variant::r8(*number);
  int before = unsupportedFormulas_;
  Variant value;
  if (active_ != nullptr) {
    value = formulaValue(*active_, active_->activeSheet, std::u16string(text));
  } else {
    FormulaOutcome outcome = evaluateFormula(
        text, [](const std::u16string&, uint32_t, uint32_t) { return std::nullopt; });
    if (outcome.unsupported) ++unsupportedFormulas_;
    value = outcome.value;
  }
  if (unsupportedFormulas_ != before) {
    unsupportedFormulas_ = before;  // counted as an evaluation, not as a cell's formula
    Variant computed;
    if (worksheetFunctions_.evaluate && worksheetFunctions_.evaluate(text, &computed)) {
      return computed;
    }
    ++unansweredEvaluations_;
  }
  return value;
}

void SpreadsheetProgram::quit() {
  for (WorkbookState* workbook : openWorkbooks()) {
    if (!close(*workbook, false)) return;  // a sink kept a workbook open
  }
  quit_ = true;
  commandBars_->dropTemporary();
  if (windows_.isWindow(mainWindow_)) windows_.destroyWindow(mainWindow_);
}

// --- Menus.

bool SpreadsheetProgram::clickMenuButton(std::u16string_view tag) {
  return clickCommandBarControl(*this, commandBars_->findByTag(tag));
}

bool SpreadsheetProgram::clickMenuPath(const std::vector<std::u16string>& captions) {
  return clickCommandBarControl(*this, commandBars_->findByPath(captions));
}

std::vector<std::u16string> SpreadsheetProgram::menuCaptions(
    const std::vector<std::u16string>& path) {
  std::shared_ptr<CommandBarControlList> list;
  if (path.empty()) {
    if (CommandBarState* bar = commandBars_->bar(commandbar::kWorksheetMenuBar))
      list = bar->controls;
  } else if (auto popup = commandBars_->findByPath(path)) {
    list = popup->controls;
  }
  std::vector<std::u16string> captions;
  if (list == nullptr) return captions;
  for (const auto& control : *list) {
    if (control->visible) captions.push_back(control->caption);
  }
  return captions;
}

void SpreadsheetProgram::setBusy(bool busy) { commandBars_->setBusy(busy); }

// --- Events.

std::vector<Variant> SpreadsheetProgram::fireEvent(int32_t eventId,
                                                   std::vector<Variant> arguments) {
  if (!settings_.enableEvents) return arguments;
  std::vector<std::shared_ptr<Dispatch>> sinks;
  for (const auto& [cookie, sink] : sinks_) sinks.push_back(sink);
  for (const std::shared_ptr<Dispatch>& sink : sinks) {
    sink->invoke(eventId, InvokeKind::kMethod, arguments, nullptr);
  }
  return arguments;
}

uint32_t SpreadsheetProgram::connectSink(std::shared_ptr<Dispatch> sink) {
  uint32_t cookie = nextCookie_++;
  sinks_[cookie] = std::move(sink);
  return cookie;
}

bool SpreadsheetProgram::disconnectSink(uint32_t cookie) { return sinks_.erase(cookie) != 0; }

// --- User actions.

const SheetData* SpreadsheetProgram::findSheet(std::u16string_view workbook,
                                               std::u16string_view sheet, size_t* index) const {
  WorkbookState* state = findOpenWorkbook(workbook);
  if (state == nullptr) return nullptr;
  for (size_t i = 0; i < state->data.sheets.size(); ++i) {
    if (sameName(state->data.sheets[i].name, sheet)) {
      if (index != nullptr) *index = i;
      return &state->data.sheets[i];
    }
  }
  return nullptr;
}

bool SpreadsheetProgram::userChange(std::u16string_view workbook, std::u16string_view sheet,
                                    std::u16string_view a1,
                                    const std::vector<std::vector<Variant>>& rows,
                                    ChangeSource source) {
  size_t index = 0;
  if (findSheet(workbook, sheet, &index) == nullptr) return false;
  WorkbookState& state = *findOpenWorkbook(workbook);
  if (state.data.sheets[index].type != kSheetTypeWorksheet || rows.empty()) return false;
  std::optional<CellArea> at = parseA1Area(a1);
  if (!at) return false;
  size_t width = 0;
  for (const auto& row : rows) width = std::max(width, row.size());
  if (width == 0 || at->firstRow + rows.size() > kSheetRows ||
      at->firstColumn + width > kSheetColumns) {
    return false;
  }
  CellArea area{at->firstRow, at->firstColumn, at->firstRow + uint32_t(rows.size()) - 1,
                at->firstColumn + uint32_t(width) - 1};
  for (uint32_t r = area.firstRow; r <= area.lastRow; ++r) {
    for (uint32_t c = area.firstColumn; c <= area.lastColumn; ++c) {
      if (!writable(state, index, r, c, source)) return false;  // the program refuses the entry
    }
  }
  // The user works on the sheet he changes; a new change ends what Undo could take back.
  activateWorkbook(state);
  state.activeSheet = index;
  onUndo_.reset();
  for (size_t i = 0; i < rows.size(); ++i) {
    for (size_t j = 0; j < width; ++j) {
      Variant value = j < rows[i].size() ? rows[i][j] : Variant();
      storeEntry(state, index, area.firstRow + uint32_t(i), area.firstColumn + uint32_t(j), value,
                 source == ChangeSource::kUser);
    }
  }
  afterChange(state, index, {area}, source);
  return true;
}

bool SpreadsheetProgram::typeIntoCell(std::u16string_view workbook, std::u16string_view sheet,
                                      std::u16string_view a1, std::u16string_view text) {
  return userChange(workbook, sheet, a1, {{Variant::text(std::u16string(text))}},
                    ChangeSource::kUser);
}

bool SpreadsheetProgram::clearCell(std::u16string_view workbook, std::u16string_view sheet,
                                   std::u16string_view a1) {
  // Clearing is no data entry: no entry macro runs.
  return userChange(workbook, sheet, a1, {{Variant()}}, ChangeSource::kPaste);
}

bool SpreadsheetProgram::pasteValues(std::u16string_view workbook, std::u16string_view sheet,
                                     std::u16string_view topLeft,
                                     const std::vector<std::vector<Variant>>& rows) {
  return userChange(workbook, sheet, topLeft, rows, ChangeSource::kPaste);
}

void SpreadsheetProgram::pressCalculateKey() {
  if (addin_ != nullptr) {
    auto bound = addin_->keyBindings().find(kCalculateKey);
    if (bound != addin_->keyBindings().end()) {
      runProcedureByName(widen(bound->second));
      return;
    }
  }
  calculateAll(true);
}

bool SpreadsheetProgram::undo() {
  if (!onUndo_) return false;
  std::u16string procedure = onUndo_->procedure;
  onUndo_.reset();
  runProcedureByName(procedure);
  return true;
}

bool SpreadsheetProgram::clickControl(std::u16string_view name) {
  if (active_ == nullptr) return false;
  WorkbookState& workbook = *active_;
  const std::vector<ShapeData>& shapes = workbook.data.sheets[workbook.activeSheet].shapes;
  auto shape = std::find_if(shapes.begin(), shapes.end(),
                            [&](const ShapeData& s) { return sameName(s.name, name); });
  if (shape == shapes.end()) return false;
  std::u16string onAction = shape->onAction;
  std::u16string control = shape->name;
  if (!onAction.empty()) run(onAction, {}, nullptr);
  if (workbook.code.isApplication && exports_.channel && workbook.open) {
    // The entrance posts the click: the name must outlive this call.
    postedTexts_.push_back(control);
    exports_.channel(kControlChanged, uint64_t(textAddress(postedTexts_.back())), 0);
  }
  return true;
}

bool SpreadsheetProgram::closeWorkbook(std::u16string_view workbook) {
  WorkbookState* state = findOpenWorkbook(workbook);
  return state != nullptr && close(*state, false);
}

bool SpreadsheetProgram::saveWorkbook(std::u16string_view workbook) {
  WorkbookState* state = findOpenWorkbook(workbook);
  return state != nullptr && save(*state, u"", false, false) == SaveOutcome::kSaved;
}

bool SpreadsheetProgram::addSheet(std::u16string_view workbook, std::u16string_view name) {
  WorkbookState* state = findOpenWorkbook(workbook);
  if (state == nullptr || state->data.protectStructure || name.empty()) return false;
  for (const SheetData& sheet : state->data.sheets) {
    if (sameName(sheet.name, name)) return false;
  }
  addSheetTo(*state, std::u16string(name));
  return true;
}

bool SpreadsheetProgram::activateMainWindow() { return windows_.activateWindow(mainWindow_); }

// --- Contents.

WorkbookState* SpreadsheetProgram::workbookState(std::u16string_view workbook) {
  return findOpenWorkbook(workbook);
}

const WorkbookState* SpreadsheetProgram::workbookState(std::u16string_view workbook) const {
  return findOpenWorkbook(workbook);
}

Variant SpreadsheetProgram::cellValue(std::u16string_view workbook, std::u16string_view sheet,
                                      std::u16string_view a1) const {
  const SheetData* data = findSheet(workbook, sheet, nullptr);
  std::optional<CellArea> at = parseA1Area(a1);
  if (data == nullptr || !at) return Variant();
  auto cell = data->cells.find({at->firstRow, at->firstColumn});
  return cell == data->cells.end() ? Variant() : cell->second.value;
}

std::u16string SpreadsheetProgram::cellFormula(std::u16string_view workbook,
                                               std::u16string_view sheet,
                                               std::u16string_view a1) const {
  const SheetData* data = findSheet(workbook, sheet, nullptr);
  std::optional<CellArea> at = parseA1Area(a1);
  if (data == nullptr || !at) return {};
  auto cell = data->cells.find({at->firstRow, at->firstColumn});
  return cell == data->cells.end() ? std::u16string() : cell->second.formula;
}

std::u16string SpreadsheetProgram::displayText(std::u16string_view workbook,
                                               std::u16string_view sheet,
                                               std::u16string_view a1) const {
  const WorkbookState* state = workbookState(workbook);
  const SheetData* data = findSheet(workbook, sheet, nullptr);
  std::optional<CellArea> at = parseA1Area(a1);
  if (state == nullptr || data == nullptr || !at) return {};
  auto cell = data->cells.find({at->firstRow, at->firstColumn});
  if (cell == data->cells.end()) return {};
  return shownText(cell->second.value, cell->second.numberFormat, state->data.date1904);
}

}  // namespace korvel
