#include "tests/win32/scripted_host/hwnd_application.h"

#include <utility>
#include <vector>

#include "excel/dispatch_ids.h"

namespace korvel::win32 {
namespace {

bool isHwnd(int32_t memberId, InvokeKind kind) {
  return memberId == dispid::kHwnd &&
         (kind == InvokeKind::kPropertyGet ||
          uint16_t(kind) == (uint16_t(InvokeKind::kMethod) | uint16_t(InvokeKind::kPropertyGet)));
}

}  // namespace

HwndApplication::HwndApplication(std::shared_ptr<Dispatch> application, int32_t mainWindow)
    : application_(std::move(application)), mainWindow_(mainWindow) {
  InterfaceTable* own = application_->interfaceTable();
  if (own == nullptr) return;
  std::vector<FunctionDescription> functions;
  for (size_t i = 0; i < own->functionCount(); ++i) functions.push_back(own->function(i));
  std::vector<MemberFunction> slots(own->slotCount());
  for (size_t slot = 0; slot < slots.size(); ++slot) {
    const FunctionDescription* described = nullptr;
    for (const FunctionDescription& f : functions) {
      if (f.slot == slot) described = &f;
    }
    if (described != nullptr && described->memberId == kDispidInvoke) {
      // The late-bound entrance: member id and kind lead the arguments.
      slots[slot] = [](Dispatch& self, std::span<Variant> arguments, Variant* result,
                       uint32_t locale) -> HResult {
        if (arguments.size() < 2 || !arguments[0].isInteger() || !arguments[1].isInteger()) {
          return kDispEBadParamCount;
        }
        return static_cast<HwndApplication&>(self).call(int32_t(arguments[0].integer()),
                                                        InvokeKind(arguments[1].integer()),
                                                        arguments.subspan(2), result, locale);
      };
      continue;
    }
    bool hwnd = described != nullptr && isHwnd(described->memberId, described->kind);
    slots[slot] = [slot, hwnd](Dispatch& self, std::span<Variant> arguments, Variant* result,
                               uint32_t locale) -> HResult {
      auto& that = static_cast<HwndApplication&>(self);
      if (hwnd) {
        if (result != nullptr) *result = Variant::i4(that.mainWindow_);
        return kSOk;
      }
      // The program's current function of the slot, with the program's own object.
      InterfaceTable* table = that.application_->interfaceTable();
      MemberFunction function = table != nullptr ? table->slot(slot) : MemberFunction();
      if (!function) return kDispEMemberNotFound;
      return function(*that.application_, arguments, result, locale);
    };
  }
  table_ = std::make_unique<InterfaceTable>(own->iid(), std::move(functions), std::move(slots));
}

HResult HwndApplication::invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments,
                                Variant* result, uint32_t locale) {
  return call(memberId, kind, arguments, result, locale);
}

HResult HwndApplication::call(int32_t memberId, InvokeKind kind, std::span<Variant> arguments,
                              Variant* result, uint32_t locale) {
  if (isHwnd(memberId, kind)) {
    if (result != nullptr) *result = Variant::i4(mainWindow_);
    return kSOk;
  }
  return application_->invoke(memberId, kind, arguments, result, locale);
}

std::shared_ptr<Dispatch> HwndApplication::queryInterface(const InterfaceId& iid) {
  if (table_ != nullptr && table_->iid() == iid) return shared_from_this();
  return application_->queryInterface(iid);
}

uint32_t HwndApplication::advise(const InterfaceId& events, std::shared_ptr<Dispatch> sink) {
  return application_->advise(events, std::move(sink));
}

bool HwndApplication::unadvise(uint32_t cookie) { return application_->unadvise(cookie); }

}  // namespace korvel::win32
