// The portable face of a COM object of another module: late-bound calls through its IDispatch, and
// the native table of its dual interface seen as the portable model's InterfaceTable, so that the
// runtime's replacements go into the very slots the object's own callers use.
//
// REQUIRES: COM is initialised on the calling thread (apartment threaded), and every call is made
// on it.
#ifndef KORVEL_HOSTS_WIN32_COM_DISPATCH_H_
#define KORVEL_HOSTS_WIN32_COM_DISPATCH_H_

#include <oaidl.h>
#include <ocidl.h>
#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "hosts/win32/native_call.h"
#include "platform/dispatch.h"
#include "platform/variant.h"

namespace korvel::win32 {

// A portable Dispatch over a COM IDispatch (one reference held for its life).
class ComDispatch : public Dispatch {
 public:
  explicit ComDispatch(IDispatch* target);
  ~ComDispatch() override;
  ComDispatch(const ComDispatch&) = delete;
  ComDispatch& operator=(const ComDispatch&) = delete;

  IDispatch* target() const { return target_; }

  // IDispatch::Invoke with the arguments by value (nothing is written back into them); the
  // object's exception information is dropped, its HRESULT answered.
  HResult invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments, Variant* result,
                 uint32_t locale = kLocaleSystemDefault) override;
  // The table of the native vtable of the object's dual interface, shared by every object of that
  // interface for the rest of the process; null without readable type information.
  InterfaceTable* interfaceTable() override;
  std::shared_ptr<Dispatch> queryInterface(const InterfaceId& iid) override;
  uint32_t advise(const InterfaceId& events, std::shared_ptr<Dispatch> sink) override;
  bool unadvise(uint32_t cookie) override;

 private:
  IDispatch* target_;
  InterfaceTable* table_ = nullptr;
  bool tableRead_ = false;
  // The connection point of each cookie this object handed out.
  std::map<uint32_t, IConnectionPoint*> connections_;
};

// What a slot of a native table holds, as a portable MemberFunction: the native function and how to
// call it. Putting it back into a slot writes the native function itself, so restoring a slot the
// runtime replaced leaves the table exactly as it was.
struct NativeSlotCall {
  void* native = nullptr;
  IID iid{};              // the interface whose table the function belongs to
  void* table = nullptr;  // that table, to find the interface pointer of an object for it
  std::shared_ptr<const NativeSignature> signature;
  // IDispatch::Invoke itself, called with (member id, invoke flags, the member's arguments...).
  bool lateBound = false;

  HResult operator()(Dispatch& self, std::span<Variant> arguments, Variant* result,
                     uint32_t locale) const;
};

// The portable model's table over a native vtable. Function descriptions come from the type
// information of the dual interface (its own members and those it inherits); a slot whose member
// this layer cannot call reads as empty and cannot be written. The slot of IDispatch::Invoke reads
// and takes functions of (member id, invoke flags, the member's arguments in declaration order),
// named arguments placed at their positions; the Invoke slots of at most eight tables take
// portable functions (any table takes back a function read from a slot).
class ComInterfaceTable : public InterfaceTable {
 public:
  ComInterfaceTable(InterfaceId iid, IID nativeIid, void** vtable, size_t slotCount,
                    std::vector<FunctionDescription> functions,
                    std::map<size_t, NativeSignature> signatures, size_t invokeSlot);

  void** vtable() const { return vtable_; }
  size_t slotCount() const override { return slotCount_; }
  MemberFunction slot(size_t index) const override;
  bool setSlot(size_t index, MemberFunction function) override;

 private:
  IID nativeIid_;
  void** vtable_;
  size_t slotCount_;
  std::map<size_t, std::shared_ptr<const NativeSignature>> signatures_;
  size_t invokeSlot_;    // the slot of IDispatch::Invoke, or SIZE_MAX
  int invokeHook_ = -1;  // the late-bound entry this table's Invoke replacement goes through
};

// The table of an interface pointer's vtable, read once from the object's type information and
// kept for the life of the process; null when the type information cannot be read.
InterfaceTable* comInterfaceTableOf(IDispatch* object);

}  // namespace korvel::win32

#endif  // KORVEL_HOSTS_WIN32_COM_DISPATCH_H_
