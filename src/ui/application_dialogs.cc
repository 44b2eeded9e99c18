#include "ui/application_dialogs.h"

namespace korvel {

ApplicationDialogBoxes::ApplicationDialogBoxes(Runtime& runtime) : runtime_(runtime) {}

void ApplicationDialogBoxes::showAbout() {}
void ApplicationDialogBoxes::showAgreement() {}

}  // namespace korvel
