// ComDispatch, its native tables and the portable factory over COM.
#include "hosts/win32/com_dispatch.h"

#include "hosts/win32/com_bridge.h"

namespace korvel::win32 {

ComDispatch::ComDispatch(IDispatch* target) : target_(target) {
  if (target_ != nullptr) target_->AddRef();
}

ComDispatch::~ComDispatch() {
  if (target_ != nullptr) target_->Release();
}

HResult ComDispatch::invoke(int32_t, InvokeKind, std::span<Variant>, Variant*, uint32_t) {
  return kENotImpl;
}

InterfaceTable* ComDispatch::interfaceTable() { return nullptr; }

std::shared_ptr<Dispatch> ComDispatch::queryInterface(const InterfaceId&) { return nullptr; }

uint32_t ComDispatch::advise(const InterfaceId&, std::shared_ptr<Dispatch>) { return 0; }

bool ComDispatch::unadvise(uint32_t) { return false; }

IDispatch* comDispatchTarget(Dispatch& object) {
  auto* com = dynamic_cast<ComDispatch*>(&object);
  return com != nullptr ? com->target() : nullptr;
}

std::shared_ptr<Dispatch> makeComDispatch(IDispatch* object) {
  return std::make_shared<ComDispatch>(object);
}

std::shared_ptr<Dispatch> portableObjectFor(IUnknown*) { return nullptr; }

std::shared_ptr<Dispatch> ComObjectFactory::create(std::u16string_view, HResult* result) {
  if (result != nullptr) *result = kENotImpl;
  return nullptr;
}

std::shared_ptr<Dispatch> ComObjectFactory::objectAt(uint64_t) { return nullptr; }

}  // namespace korvel::win32
