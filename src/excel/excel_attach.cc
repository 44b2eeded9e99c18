// The attach sequence of HC_ATTACH_APPLICATION and the windows the connection takes over: the
// program's workbook windows, the two edit-tracking windows, the application icon, the hook that
// keeps a hidden program hidden, the Main macro of the workbook's code and the return of formulas
// that entered values had replaced.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "engine/recalculation.h"
#include "engine/value_texts.h"
#include "excel/application_events.h"
#include "excel/dde_client.h"
#include "excel/dispatch_ids.h"
#include "excel/excel_connection.h"
#include "excel/interception.h"
#include "excel/object_layer.h"
#include "excel/protection.h"
#include "model/address.h"
#include "runtime/host_commands.h"
#include "runtime/runtime.h"
#include "runtime/text_table.h"
#include "util/text.h"

namespace korvel {

namespace {

constexpr char16_t kWorkbookWindowClass[] = u"EXCEL7";
constexpr char16_t kDeskWindowClass[] = u"XLDESK";
// The first version whose sheets have more than 65,536 rows.
constexpr int32_t kFirstLargeSheetVersion = 12;

// The leading integer of a text, as the C library's wtol reads it: blanks, a sign, digits; 0 when
// none follow.
int32_t leadingInteger(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  int64_t value = 0;
  for (; i < text.size() && isDigit(text[i]); ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > INT32_MAX) return negative ? INT32_MIN : INT32_MAX;
  }
  return int32_t(negative ? -value : value);
}

// Languages whose collation and number forms the runtime takes on: every language the channel
// knows by name except English.
bool isNamedLanguage(std::u16string_view name) {
  if (name.empty() || equalsNoCase(name, u"English")) return false;
  for (int number = 0; number < 64; ++number) {
    if (equalsNoCase(languageName(number), name)) return true;
  }
  return false;
}

// The first direct child of the parent with that class, ignoring case.
WindowHandle directChild(const WindowSystem& windows, WindowHandle parent,
                         std::u16string_view className) {
  for (WindowHandle child : windows.childWindows(parent)) {
    if (windows.parentWindow(child) == parent &&
        equalsNoCase(windows.className(child), className)) {
      return child;
    }
  }
  return WindowHandle::kNoWindow;
}

// The file name part of a workbook name without its extension.
std::u16string_view baseName(std::u16string_view name) {
  size_t dot = name.find_last_of(u'.');
  return dot == std::u16string_view::npos ? name : name.substr(0, dot);
}

}  // namespace

void ExcelConnection::attachApplication(uint64_t application, std::u16string_view macro) {
  if (application != 0 && !application_.live()) {
    application_ = ExcelObject(objectAt(runtime_.platform().objects, application));
    if (application_.live()) {
      HostInformation& host = runtime_.hostInformation();
      host.excelVersion = leadingInteger(application_.getText(dispid::kVersion));
      events_->connectSink();
      workbook_ = application_.object(dispid::kActiveWorkbook);

      WindowHandle window = WindowHandle(uint64_t(uint32_t(application_.getInt(dispid::kHwnd))));
      // A handle that names no window would leave the runtime posting into nothing; the window
      // found at load time stays the main one then.
      if (runtime_.subclassWindow(window)) runtime_.setMainWindow(window);

      if (!macro.empty()) {
        // The constant table is for the macro the attach runs, and for no later code, also when
        // that macro fails.
        try {
          runMacro(macro);
        } catch (...) {
          runtime_.constantsReadable = false;
          throw;
        }
        runtime_.constantsReadable = false;
      }

      interception_->installInterceptions();

      calcHost_ = std::make_unique<ExcelCalcHost>(*this, application_, workbook_);
      Runtime& runtime = runtime_;
      calcHost_->afterWrite = [&runtime] { runtime.applicationInfo().afterWrite(); };
      ddeClient_->initialize();
      if (Engine* engine = runtime_.engine()) engine->setHost(calcHost_.get());

      int32_t fileFormat = workbook_.getInt(dispid::kFileFormat);
      if (host.excelVersion < kFirstLargeSheetVersion || fileFormat == kFileFormatExcel8) {
        setLoweredLimits(true);
      }

      host.defaultSaveFormat = application_.getInt(dispid::kDefaultSaveFormat);
      application_.put(dispid::kDefaultSaveFormat, Variant::i4(fileFormat));

      ExcelObject languageSettings = application_.object(dispid::kLanguageSettings);
      host.interfaceLanguage =
          languageSettings.getInt(dispid::kLanguageId, {Variant::i4(kLanguageIdUserInterface)});

      host.remoteRequests = application_.getBool(dispid::kIgnoreRemoteRequests);
      if (!host.remoteRequests) {
        // Switching remote requests off may change the companion property as a side effect; the
        // program's own setting of it is kept.
        int32_t before = application_.getInt(dispid::kRemoteRequestsCompanion);
        application_.put(dispid::kIgnoreRemoteRequests, Variant::boolean(true));
        int32_t after = application_.getInt(dispid::kRemoteRequestsCompanion);
        if (after != before) {
          application_.put(dispid::kRemoteRequestsCompanion, Variant::i4(before));
        }
      }
    }
  }

  // Every attach command repeats what follows: the workbook's code may have opened windows or
  // lost the menus since the last one.
  if (MenuManager* menus = runtime_.menuManager()) menus->buildMenus();
  takeOverWorkbookWindows();
  showApplicationIcon();
  if (Locale* locale = runtime_.platform().locale) {
    std::u16string language = locale->userLocale().languageName;
    if (isNamedLanguage(language)) locale->setCollationLanguage(language);
  }
  runtime_.registrar().registerEntries();
  if (runtime_.settings().showAtStart) installHiddenProgramHook();
}

void ExcelConnection::takeOverWorkbookWindows() {
  WindowSystem& windows = *runtime_.platform().windows;
  WindowHandle main = runtime_.mainWindow();
  if (main == WindowHandle::kNoWindow) return;
  if (!workbookWindowProc_) {
    workbookWindowProc_ =
        WindowProc([this](WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
          return workbookWindowProcedure(window, message, wParam, lParam);
        });
  }
  for (WindowHandle child : windows.childWindows(main)) {
    if (workbookWindows_.count(child) != 0) continue;
    if (!equalsNoCase(windows.className(child), kWorkbookWindowClass)) continue;
    if (windows.windowProc(child) == workbookWindowProc_) continue;
    workbookWindows_[child] = windows.setWindowProc(child, workbookWindowProc_);
  }
}

int64_t ExcelConnection::workbookWindowProcedure(WindowHandle window, uint32_t message,
                                                 uint64_t wParam, int64_t lParam) {
  try {
    if (message == kWmSysCommand && (wParam & 0xFFF0) == kScClose &&
        !runtime_.settings().saveAsExecutable) {
      // Closing from the workbook's window must reach the runtime's close handling even when an
      // interrupted piece of work left the program's events off.
      std::optional<bool> events = enableEvents();
      if (events && !*events) setEnableEvents(true);
    }
  } catch (...) {
  }
  auto entry = workbookWindows_.find(window);
  if (entry == workbookWindows_.end() || !entry->second) return 0;
  // A copy: the previous procedure may reach this registry again before it returns.
  WindowProc previous = entry->second;
  try {
    return previous(window, message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

void ExcelConnection::showApplicationIcon() {
  IconHandle icon = runtime_.channelState().applicationIcon;
  WindowHandle main = runtime_.mainWindow();
  if (icon == IconHandle::kNoIcon || main == WindowHandle::kNoWindow) return;
  WindowSystem& windows = *runtime_.platform().windows;
  WindowHandle desk = directChild(windows, main, kDeskWindowClass);
  if (desk == WindowHandle::kNoWindow) return;
  WindowHandle workbookWindow = directChild(windows, desk, kWorkbookWindowClass);
  if (workbookWindow == WindowHandle::kNoWindow) return;
  windows.send(workbookWindow, kWmSetIcon, kIconBig, int64_t(icon));
  windows.send(workbookWindow, kWmSetIcon, kIconSmall, int64_t(icon));
}

void ExcelConnection::installHiddenProgramHook() {
  if (hiddenProgramHook_ != 0) return;
  hiddenProgramHook_ = runtime_.platform().windows->installActivateHook(
      [this](WindowHandle window) { onActivate(window); });
}

void ExcelConnection::onActivate(WindowHandle window) {
  try {
    if (!runtime_.settings().showAtStart || runtime_.hostInformation().visibleRequested) return;
    if (!application_.live()) return;
    WindowSystem& windows = *runtime_.platform().windows;
    if (!equalsNoCase(windows.className(window), kHostMainWindowClass)) return;
    if (!application_.getBool(dispid::kVisible)) return;
    windows.showWindow(window, false);
    // The program's own Visible: the intercepted one would take this for the workbook's request.
    Variant hidden = Variant::boolean(false);
    interception_->callOriginal(*application_.dispatch(), kIidApplication, dispid::kVisible,
                                InvokeKind::kPropertyPut, std::span<Variant>(&hidden, 1), nullptr,
                                kLocaleSystemDefault);
  } catch (...) {
  }
}

void ExcelConnection::subclassEditWindows(WindowHandle mainWindow) {
  WindowSystem& windows = *runtime_.platform().windows;
  const std::u16string classes[2] = {tableText(TextEntry::kEditWindowClass),
                                     tableText(TextEntry::kEditWindowClass2)};
  bool taken[2] = {false, false};
  for (WindowHandle child : windows.childWindows(mainWindow)) {
    std::u16string className = windows.className(child);
    for (int which = 0; which < 2; ++which) {
      if (taken[which] || classes[which].empty() || !equalsNoCase(className, classes[which])) {
        continue;
      }
      taken[which] = true;
      if (editWindows_.count(child) != 0) break;
      // The first window follows the position changes that open and close the cell editor; the
      // second only the focus that moves between the two.
      bool positions = which == 0;
      WindowProc proc([this, positions](WindowHandle window, uint32_t message, uint64_t wParam,
                                        int64_t lParam) -> int64_t {
        if (message == kWmSetFocus || message == kWmKillFocus ||
            (positions && (message == kWmWindowPosChanging || message == kWmWindowPosChanged))) {
          editTracking_.feed(message);
        }
        auto entry = editWindows_.find(window);
        if (entry == editWindows_.end()) return 0;
        WindowProc previous = entry->second;
        return previous(window, message, wParam, lParam);
      });
      editWindows_[child] = windows.setWindowProc(child, proc);
      break;
    }
  }
}

void ExcelConnection::restoreEditWindows() {
  WindowSystem& windows = *runtime_.platform().windows;
  for (auto& [window, previous] : editWindows_) {
    if (previous && windows.isWindow(window)) windows.setWindowProc(window, previous);
  }
  editWindows_.clear();
}

void ExcelConnection::runMainMacro(std::u16string_view workbookIdentity) {
  if (!application_.live()) return;
  uint32_t sheetIndex = 0;
  ExcelObject activeSheet = application_.object(dispid::kActiveSheet);
  if (activeSheet.live()) sheetIndex = uint32_t(activeSheet.getInt(dispid::kIndex) - 1);

  protection_->openProtectionScope(sheetIndex);
  // The scope is closed and released on every path: sheets opened for the macro's writes must not
  // stay unprotected.
  struct ScopeGuard {
    Protection& protection;
    ~ScopeGuard() {
      try {
        protection.closeProtectionScope();
      } catch (...) {
      }
      try {
        protection.releaseProtectionScope();
      } catch (...) {
      }
    }
  } guard{*protection_};

  if (runtime_.settings().protectionTable || runtime_.settings().screenStillDuringCalculation) {
    if (application_.getBool(dispid::kScreenUpdating)) {
      application_.put(dispid::kScreenUpdating, Variant::boolean(false));
      protection_->noteScreenUpdatingSwitchedOff();
    }
  }

  if (mainWorkbookName_.empty()) {
    ExcelObject workbooks = application_.object(dispid::kWorkbooks);
    int32_t count = workbooks.getInt(dispid::kCount);
    for (int32_t i = 1; i <= count; ++i) {
      ExcelObject candidate = workbooks.object(dispid::kItem, {Variant::i4(i)});
      if (!candidate.live()) continue;
      std::u16string name = candidate.getText(dispid::kName);
      if (equalsNoCase(name, workbookIdentity) || equalsNoCase(baseName(name), workbookIdentity)) {
        mainWorkbookName_ = name;
        break;
      }
    }
  }
  // Without the workbook there is no Main to run; the search is tried again next time.
  if (mainWorkbookName_.empty()) return;
  runMacro(u"'" + mainWorkbookName_ + u"'!Main");
}

void ExcelConnection::restoreFormulas(std::u16string_view reference) {
  Engine* engine = runtime_.engine();
  if (engine == nullptr || calcHost_ == nullptr || !application_.live()) return;
  ExcelObject range =
      application_.object(dispid::kApplicationRange, {Variant::text(std::u16string(reference))});
  if (!range.live()) return;
  RangeRef area;
  if (calcHost_->rangeToRef(range, area) != 1) return;
  area = normalizeRange(area);
  // The model's cells rather than the range's addresses: a whole-column name stays cheap.
  for (Cell* cell : engine->model().cells()) {
    if (!events_->hasSetAsideFormula(cell)) continue;
    const CellRef& address = cell->address;
    if (address.isNone() || address.sheet() != area.first.sheet() ||
        address.row() < area.first.row() || address.row() > area.last.row() ||
        address.column() < area.first.column() || address.column() > area.last.column()) {
      continue;
    }
    if (events_->reattachFormula(cell)) engine->changedCells.push_back(cell);
  }
}

}  // namespace korvel
