// Placeholder until the events land.
#include "excel/application_events.h"

namespace korvel {

ApplicationEvents::~ApplicationEvents() = default;
void ApplicationEvents::connectSink() {}
void ApplicationEvents::disconnectSink() {}
void ApplicationEvents::recalculationCycle(bool) {}
int ApplicationEvents::onRangeChanged(ExcelObject, ExcelObject) { return 0; }
bool ApplicationEvents::processChangedRange(ExcelObject&, ExcelObject&) { return false; }
void ApplicationEvents::onControlChanged(std::u16string_view) {}
void ApplicationEvents::undoLastEntry() {}
void ApplicationEvents::runStartMacros() {}
void ApplicationEvents::markDataChanged() {}
void ApplicationEvents::wireSheetControls() {}
HResult ApplicationEvents::onEvent(int32_t, std::span<Variant>) { return kSOk; }

}  // namespace korvel
