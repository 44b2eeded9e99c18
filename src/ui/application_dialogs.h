// The About box and the licence agreement: message dialogs over the host program's main window,
// their texts from the settings and the launcher with the template's placeholders filled in.
#ifndef KORVEL_UI_APPLICATION_DIALOGS_H_
#define KORVEL_UI_APPLICATION_DIALOGS_H_

#include "runtime/subsystems.h"

namespace korvel {

class Runtime;

class ApplicationDialogBoxes : public ApplicationDialogs {
 public:
  // REQUIRES: runtime outlives the dialogs.
  explicit ApplicationDialogBoxes(Runtime& runtime);

  void showAbout() override;
  void showAgreement() override;

 private:
  Runtime& runtime_;
};

}  // namespace korvel

#endif  // KORVEL_UI_APPLICATION_DIALOGS_H_
