#include "hosts/win32/module.h"

namespace korvel::win32 {
namespace {
HINSTANCE instance = nullptr;
}  // namespace

HINSTANCE moduleInstance() { return instance != nullptr ? instance : GetModuleHandleW(nullptr); }

void setModuleInstance(HINSTANCE module) { instance = module; }

}  // namespace korvel::win32
