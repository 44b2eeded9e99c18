// Placeholder until the interception lands.
#include "excel/interception.h"

namespace korvel {

Interception::Interception(ExcelConnection& connection) : connection_(connection) {}
void Interception::assignReplacements() {}
void Interception::processObject(Dispatch&) {}
void Interception::restoreObject(Dispatch&) {}
void Interception::installInterceptions() {}
MemberFunction Interception::original(const InterfaceId&, int32_t, InvokeKind) const { return {}; }
HResult Interception::callOriginal(Dispatch& object, const InterfaceId&, int32_t memberId,
                                   InvokeKind kind, std::span<Variant> arguments, Variant* result,
                                   uint32_t locale) {
  return object.invoke(memberId, kind, arguments, result, locale);
}

}  // namespace korvel
