#include "hosts/win32/native_call.h"

namespace korvel::win32 {

size_t NativeSignature::stackBytes() const { return 4; }
size_t NativeSignature::portableCount() const { return 0; }

bool signatureOf(ITypeInfo*, const FUNCDESC&, NativeSignature*) { return false; }

HRESULT callNativeMember(void*, IUnknown*, const NativeSignature&, std::span<Variant>, Variant*,
                         uint32_t) {
  return E_NOTIMPL;
}

void* makeNativeMember(const NativeSignature&, NativeHandler) { return nullptr; }

bool writeTableSlot(void**, void*) { return false; }

}  // namespace korvel::win32
