// The connection's own members and the runtime's requests that go straight to one of its parts.
// The attach sequence and the windows it takes over are in excel_attach.cc.
#include "excel/excel_connection.h"

#include <vector>

#include "excel/application_events.h"
#include "excel/dde_client.h"
#include "excel/dispatch_ids.h"
#include "excel/interception.h"
#include "excel/object_layer.h"
#include "excel/protection.h"
#include "excel/workbook_life_cycle.h"
#include "runtime/runtime.h"

namespace korvel {

void EditTracking::feed(uint32_t message) {
  switch (state_) {
    case 0:
      if (message == kWmSetFocus) state_ = 1;
      break;
    case 1:
      if (message == kWmWindowPosChanging) {
        state_ = 2;
        editMode_ = true;
      }
      break;
    case 2:
      if (message == kWmKillFocus) state_ = 3;
      break;
    case 3:
      if (message == kWmWindowPosChanging) {
        state_ = 0;
        editMode_ = false;
      } else if (message == kWmSetFocus) {
        state_ = 2;
      }
      break;
    default:
      break;
  }
}

ExcelConnection::ExcelConnection(Runtime& runtime)
    : runtime_(runtime),
      events_(std::make_unique<ApplicationEvents>(*this)),
      interception_(std::make_unique<Interception>(*this)),
      protection_(std::make_unique<Protection>(*this)),
      ddeClient_(std::make_unique<DdeClient>(*this)) {}

ExcelConnection::~ExcelConnection() {
  try {
    if (runtime_.engine() != nullptr && runtime_.engine()->host() == calcHost_.get()) {
      runtime_.engine()->setHost(nullptr);
    }
    calcHost_.reset();
  } catch (...) {
  }
}

int32_t ExcelConnection::readCalculation() {
  if (!application_.live()) return 0;
  Variant value;
  HResult result =
      interception_->callOriginal(*application_.dispatch(), kIidApplication, dispid::kCalculation,
                                  InvokeKind::kPropertyGet, {}, &value, kLocaleUserDefault);
  return failed(result) ? 0 : variantToInt(value);
}

Variant ExcelConnection::runMacro(std::u16string_view macro) {
  if (!application_.live()) throw ComError(kEFail, "no program attached");
  std::vector<Variant> arguments(31, Variant::missing());
  arguments[0] = Variant::text(std::u16string(macro));
  Variant result;
  HResult hr = interception_->callOriginal(*application_.dispatch(), kIidApplication, dispid::kRun,
                                           InvokeKind::kMethod, arguments, &result);
  if (failed(hr)) throw ComError(hr, "the macro did not run");
  return result;
}

void ExcelConnection::pumpMessages() { runtime_.platform().windows->pumpMessages(); }

std::optional<bool> ExcelConnection::enableEvents() {
  if (!application_.live()) return std::nullopt;
  try {
    Variant value = application_.get(dispid::kEnableEvents);
    return variantToBool(value);
  } catch (const ComError&) {
    return std::nullopt;
  }
}

void ExcelConnection::setEnableEvents(bool enable) {
  if (!application_.live()) return;
  try {
    application_.put(dispid::kEnableEvents, Variant::boolean(enable));
  } catch (const ComError&) {
  }
}

void ExcelConnection::setIgnoreRemoteRequests(bool ignore) {
  if (!application_.live()) return;
  try {
    application_.put(dispid::kIgnoreRemoteRequests, Variant::boolean(ignore));
  } catch (const ComError&) {
  }
}

std::optional<int> ExcelConnection::calculationMode() {
  if (!application_.live()) return std::nullopt;
  return readCalculation();
}

void ExcelConnection::onTime(double earliestTime, std::u16string_view procedure) {
  if (!application_.live()) return;
  application_.call(dispid::kOnTime,
                    {Variant::r8(earliestTime), Variant::text(std::u16string(procedure))});
}

void ExcelConnection::onUndo(std::u16string_view text, std::u16string_view procedure) {
  if (!application_.live()) return;
  application_.call(dispid::kOnUndo, {Variant::text(std::u16string(text)),
                                      Variant::text(std::u16string(procedure))});
}

void ExcelConnection::controlChanged(std::u16string_view control) {
  events_->onControlChanged(control);
}

void ExcelConnection::rangeChanged(uint64_t worksheet, int64_t range) {
  events_->onRangeChanged(ExcelObject(objectAt(runtime_.platform().objects, worksheet)),
                          ExcelObject(objectAt(runtime_.platform().objects, uint64_t(range))));
}

void ExcelConnection::startApplication() { korvel::startApplication(*this); }

void ExcelConnection::runStartMacros() { events_->runStartMacros(); }

void ExcelConnection::recalculate(bool full) { events_->recalculationCycle(full); }

void ExcelConnection::undoLastEntry() { events_->undoLastEntry(); }

bool ExcelConnection::takeRangeValues(std::u16string_view reference) {
  if (!application_.live()) return false;
  try {
    ExcelObject range =
        application_.object(dispid::kApplicationRange, {Variant::text(std::u16string(reference))});
    if (!range.live()) return false;
    ExcelObject worksheet = range.object(dispid::kWorksheet);
    if (!worksheet.live()) return false;
    if (events_->processChangedRange(worksheet, range)) events_->recalculationCycle(false);
    return true;
  } catch (const ComError&) {
    return false;
  }
}

std::optional<std::u16string> ExcelConnection::windowCaption(uint64_t windowObject) {
  if (windowObject == 0) return std::nullopt;
  try {
    ExcelObject form(objectAt(runtime_.platform().objects, windowObject));
    return form.getText(dispid::kFormCaption);
  } catch (const ComError&) {
    return std::nullopt;
  }
}

bool ExcelConnection::hasOpenWorkbook(std::u16string_view fileName) {
  if (!workbook_.live() || !application_.live()) return false;
  try {
    ExcelObject workbooks = application_.object(dispid::kWorkbooks);
    if (!workbooks.live()) return false;
    std::vector<Variant> arguments{Variant::text(std::u16string(fileName))};
    Variant item;
    return succeeded(workbooks.invoke(dispid::kItem, InvokeKind::kPropertyGet, arguments, &item)) &&
           item.type() == VarType::kDispatch && item.object() != nullptr;
  } catch (const ComError&) {
    return false;
  }
}

std::optional<bool> ExcelConnection::workbookSaved() {
  if (!workbook_.live()) return std::nullopt;
  try {
    return workbook_.getBool(dispid::kSaved);
  } catch (const ComError&) {
    return std::nullopt;
  }
}

void ExcelConnection::removeWorkbookInterceptions() {
  if (workbook_.live()) interception_->restoreObject(*workbook_.dispatch());
}

void ExcelConnection::disconnect(bool workbookClosed) {
  // The engine must not reach a program the runtime lets go of.
  if (runtime_.engine() != nullptr && runtime_.engine()->host() == calcHost_.get()) {
    runtime_.engine()->setHost(nullptr);
  }
  calcHost_.reset();
  // A workbook the program still shows stays the program's; only the runtime's hold goes.
  (void)workbookClosed;
  workbook_.reset();
  if (application_.live()) {
    events_->disconnectSink();
    setEnableEvents(false);
    try {
      application_.put(dispid::kOnEntry, Variant::text(u""));
    } catch (const ComError&) {
    }
    try {
      onUndo(u"", u"");
    } catch (const ComError&) {
    }
    interception_->restoreObject(*application_.dispatch());
    setIgnoreRemoteRequests(false);
    try {
      application_.call(dispid::kQuit);
    } catch (const ComError&) {
    }
  }
  application_.reset();
  if (hiddenProgramHook_ != 0) {
    runtime_.platform().windows->removeHook(hiddenProgramHook_);
    hiddenProgramHook_ = 0;
  }
  ddeClient_->uninitialize();
}

}  // namespace korvel
