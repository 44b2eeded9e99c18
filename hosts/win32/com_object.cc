// ComObject: a portable object as a COM object of this module.
#include "hosts/win32/com_object.h"

#include "hosts/win32/com_bridge.h"

namespace korvel::win32 {

const NativeSignature& comMemberSignature() {
  static const NativeSignature signature;
  return signature;
}

IDispatch* comObjectFor(const std::shared_ptr<Dispatch>& object) {
  if (object == nullptr) return nullptr;
  if (IDispatch* target = comDispatchTarget(*object)) {
    target->AddRef();
    return target;
  }
  return nullptr;
}

std::shared_ptr<Dispatch> comObjectTarget(IUnknown*) { return nullptr; }

IDispatch* makeComObject(const std::shared_ptr<Dispatch>&) { return nullptr; }

}  // namespace korvel::win32
