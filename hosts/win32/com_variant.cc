// Automation VARIANTs and the portable Variant.
#include <ole2.h>

#include "hosts/win32/com_bridge.h"

namespace korvel::win32 {

HRESULT toComVariant(const Variant&, VARIANT* out) {
  out->vt = VT_EMPTY;
  return E_NOTIMPL;
}

Variant fromComVariant(const VARIANT&) { return Variant::error(DISP_E_TYPEMISMATCH); }

void writeBack(const Variant&, VARIANT*) {}

InterfaceId interfaceIdText(REFIID) { return {}; }

bool parseInterfaceId(const InterfaceId&, IID*) { return false; }

}  // namespace korvel::win32
