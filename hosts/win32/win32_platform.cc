#include "hosts/win32/win32_platform.h"

#include "hosts/win32/com_bridge.h"
#include "hosts/win32/win32_addin_callback.h"
#include "hosts/win32/win32_clock.h"
#include "hosts/win32/win32_dde.h"
#include "hosts/win32/win32_dialogs.h"
#include "hosts/win32/win32_files.h"
#include "hosts/win32/win32_locale.h"
#include "hosts/win32/win32_resources.h"
#include "hosts/win32/win32_system.h"
#include "hosts/win32/win32_text_metrics.h"
#include "hosts/win32/win32_window_system.h"

namespace korvel::win32 {

struct Win32Platform::Ports {
  Win32Locale locale;
  Win32Files files;
  Win32Clock clock;
  Win32WindowSystem windows;
  Win32AddinCallback addinCallback;
  Win32System system;
  ComObjectFactory objects;
  Win32Dde dde;
  Win32Resources resources;
  Win32TextMetrics textMetrics;
  Win32Dialogs dialogs{textMetrics};
};

Win32Platform::Win32Platform() : ports_(std::make_unique<Ports>()) {
  platform_.locale = &ports_->locale;
  platform_.files = &ports_->files;
  platform_.clock = &ports_->clock;
  platform_.windows = &ports_->windows;
  platform_.addinCallback = &ports_->addinCallback;
  platform_.system = &ports_->system;
  platform_.objects = &ports_->objects;
  platform_.dde = &ports_->dde;
  platform_.resources = &ports_->resources;
  platform_.dialogs = &ports_->dialogs;
  platform_.textMetrics = &ports_->textMetrics;
}

Win32Platform::~Win32Platform() = default;

}  // namespace korvel::win32
