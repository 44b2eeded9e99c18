// The host program's object model as the runtime reaches it: objects called late-bound by member
// id (the automation IDispatch contract with portable VARIANTs), the shared member tables of their
// interfaces, interfaces queried by identifier, and connection points through which the program
// fires its events into a sink of the runtime. The objects live in the host program; holders share
// them through std::shared_ptr, which plays the part of the reference count.
//
// Interface tables stand for the virtual function tables of dual interfaces: every object of one
// interface shares one table, and the program's Invoke of such an object calls the member through
// the table, so a function put into a slot of the table serves every object of that interface,
// whether it is called through the table or by member id. Whoever replaces a slot keeps the
// function it found there and calls it to let the member do its own work.
//
// REQUIRES: every call is made on the host program's user-interface thread.
#ifndef KORVEL_PLATFORM_DISPATCH_H_
#define KORVEL_PLATFORM_DISPATCH_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/variant.h"

namespace korvel {

using HResult = int32_t;

inline constexpr HResult kSOk = 0;
inline constexpr HResult kSFalse = 1;
inline constexpr HResult kENotImpl = HResult(0x80004001u);
inline constexpr HResult kENoInterface = HResult(0x80004002u);
inline constexpr HResult kEFail = HResult(0x80004005u);
inline constexpr HResult kEInvalidArg = HResult(0x80070057u);
inline constexpr HResult kDispEMemberNotFound = HResult(0x80020003u);
inline constexpr HResult kDispETypeMismatch = HResult(0x80020005u);
inline constexpr HResult kDispEException = HResult(0x80020009u);
inline constexpr HResult kDispEBadParamCount = HResult(0x8002000Eu);

inline bool succeeded(HResult result) { return result >= 0; }
inline bool failed(HResult result) { return result < 0; }

// Locales of a call: the system default (what the runtime uses unless it says otherwise), the user
// default, and English (United States).
inline constexpr uint32_t kLocaleSystemDefault = 0x0800;
inline constexpr uint32_t kLocaleUserDefault = 0x0400;
inline constexpr uint32_t kLocaleEnglish = 0x0409;

enum class InvokeKind : uint16_t { kMethod = 1, kPropertyGet = 2, kPropertyPut = 4 };

// An interface identifier in its registry form, "{000208D5-0000-0000-C000-000000000046}"; upper
// case, so identifiers compare as texts.
using InterfaceId = std::string;

// The member id of IDispatch::Invoke itself in a dual interface's table.
inline constexpr int32_t kDispidInvoke = 0x60010003;

class Dispatch;

// One member's function as an interface table holds it: the object it is called on, the
// arguments in declaration order (a member may write back into by-reference arguments), the
// result (null when the caller wants none) and the locale.
using MemberFunction = std::function<HResult(Dispatch& self, std::span<Variant> arguments,
                                             Variant* result, uint32_t locale)>;

// What a function description of the interface's type information tells: the member id, the
// invoke kind and the slot the member's function occupies in the table.
struct FunctionDescription {
  int32_t memberId = 0;
  InvokeKind kind = InvokeKind::kMethod;
  size_t slot = 0;
};

// The shared table of one interface. Reading and writing slots is what the runtime's
// interceptions do; the program's own objects call their members through it. A host whose tables
// are native ones (real virtual function tables) overrides the slot members.
class InterfaceTable {
 public:
  InterfaceTable(InterfaceId iid, std::vector<FunctionDescription> functions,
                 std::vector<MemberFunction> slots)
      : iid_(std::move(iid)), functions_(std::move(functions)), slots_(std::move(slots)) {}
  virtual ~InterfaceTable() = default;
  InterfaceTable(const InterfaceTable&) = delete;
  InterfaceTable& operator=(const InterfaceTable&) = delete;

  const InterfaceId& iid() const { return iid_; }
  // The type information: how many functions it describes, and each description.
  size_t functionCount() const { return functions_.size(); }
  const FunctionDescription& function(size_t index) const { return functions_.at(index); }
  // The description of (member id, kind), or null.
  const FunctionDescription* find(int32_t memberId, InvokeKind kind) const {
    for (const FunctionDescription& f : functions_) {
      if (f.memberId == memberId && f.kind == kind) return &f;
    }
    return nullptr;
  }

  virtual size_t slotCount() const { return slots_.size(); }
  // An empty function for a slot outside the table.
  virtual MemberFunction slot(size_t index) const {
    return index < slots_.size() ? slots_[index] : MemberFunction();
  }
  // False, with nothing written, for a slot outside the table.
  virtual bool setSlot(size_t index, MemberFunction function) {
    if (index >= slots_.size()) return false;
    slots_[index] = std::move(function);
    return true;
  }

 private:
  InterfaceId iid_;
  std::vector<FunctionDescription> functions_;
  std::vector<MemberFunction> slots_;
};

// An object of the host program (or a sink of the runtime that the program calls).
class Dispatch : public std::enable_shared_from_this<Dispatch> {
 public:
  virtual ~Dispatch() = default;

  // Calls the member: arguments in declaration order (omitted optional ones as
  // Variant::missing()), result may be null. Answers an HResult; a failure leaves result empty.
  virtual HResult invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments,
                         Variant* result, uint32_t locale = kLocaleSystemDefault) = 0;

  // The table of the interface the object implements as a dual interface; null when it has no
  // type information.
  virtual InterfaceTable* interfaceTable() { return nullptr; }
  // The same object seen through another of its interfaces; null when it has none of that
  // identifier. The default answers the object itself for its own interface.
  virtual std::shared_ptr<Dispatch> queryInterface(const InterfaceId& iid) {
    InterfaceTable* table = interfaceTable();
    if (table != nullptr && table->iid() == iid) return shared_from_this();
    return nullptr;
  }

  // Connection points: connects a sink for the events interface and answers a cookie, 0 when the
  // object fires no such events. The object then calls the sink's invoke with the event's member
  // id and arguments (Cancel and other by-reference arguments are read back after the call).
  virtual uint32_t advise(const InterfaceId& /*events*/, std::shared_ptr<Dispatch> /*sink*/) {
    return 0;
  }
  // False when no connection has that cookie.
  virtual bool unadvise(uint32_t /*cookie*/) { return false; }

  // An interface pointer as it travels in a message word, and back. The address must be that of
  // a live object the sender holds for the duration of the call. Pointers that the workbook's code
  // sends are the program's own; they are read through objectAt (below).
  uint64_t address() { return uint64_t(uintptr_t(this)); }
  static std::shared_ptr<Dispatch> fromAddress(uint64_t address) {
    if (address == 0) return nullptr;
    return reinterpret_cast<Dispatch*>(uintptr_t(address))->shared_from_this();
  }
};

// Objects the runtime creates in the host program by class: a second instance of the program
// ("Excel.Application"), a new workbook of the running program (its workbook class).
class ObjectFactory {
 public:
  virtual ~ObjectFactory() = default;
  // The new object, or null with *result set when it cannot be created.
  virtual std::shared_ptr<Dispatch> create(std::u16string_view classOrProgId, HResult* result) = 0;
  // The object whose interface pointer the workbook's code sent in a message word; null for 0.
  // A program whose pointers are not Dispatch addresses (a real automation server) answers its
  // own view of the object.
  virtual std::shared_ptr<Dispatch> objectAt(uint64_t address) {
    return Dispatch::fromAddress(address);
  }
};

// objectAt of the platform's factory, or Dispatch::fromAddress without one.
inline std::shared_ptr<Dispatch> objectAt(ObjectFactory* factory, uint64_t address) {
  return factory != nullptr ? factory->objectAt(address) : Dispatch::fromAddress(address);
}

}  // namespace korvel

#endif  // KORVEL_PLATFORM_DISPATCH_H_
