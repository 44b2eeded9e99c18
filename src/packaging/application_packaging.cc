#include "packaging/application_packaging.h"

namespace korvel {

ApplicationPackaging::ApplicationPackaging(Runtime& runtime, ExcelConnection& connection)
    : runtime_(runtime), connection_(connection) {}

void ApplicationPackaging::saveApplication() {}
void ApplicationPackaging::saveApplicationAs(std::u16string_view) {}
void ApplicationPackaging::chooseAndSaveApplicationAs() {}
void ApplicationPackaging::storeIntoExecutable() {}

}  // namespace korvel
