// The bundle of ports that a runtime receives when it is built. Pointers borrow: the host that
// made the platform keeps its ports alive for as long as the runtime runs.
#ifndef KORVEL_PLATFORM_PLATFORM_H_
#define KORVEL_PLATFORM_PLATFORM_H_

#include "platform/addin_callback.h"
#include "platform/clock.h"
#include "platform/dde.h"
#include "platform/dialogs.h"
#include "platform/dispatch.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/resources.h"
#include "platform/system.h"
#include "platform/text_metrics.h"
#include "platform/window_system.h"

namespace korvel {

struct Platform {
  Locale* locale = nullptr;
  Files* files = nullptr;
  Clock* clock = nullptr;
  WindowSystem* windows = nullptr;
  // Null when the runtime is loaded outside the host program; the runtime then treats every
  // callback as failed.
  AddinCallback* addinCallback = nullptr;
  System* system = nullptr;
  // Objects the runtime creates in the host program by class; null when it creates none.
  ObjectFactory* objects = nullptr;
  // The DDE client; null without DDE.
  Dde* dde = nullptr;
  // Resources of executables; null: the application cannot be saved.
  Resources* resources = nullptr;
  // Dialogs and the measures their layout needs; null: no dialog is shown (choosers answer
  // "cancelled").
  Dialogs* dialogs = nullptr;
  TextMetrics* textMetrics = nullptr;
};

}  // namespace korvel

#endif  // KORVEL_PLATFORM_PLATFORM_H_
