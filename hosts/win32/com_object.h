// A portable object as a real COM object: IDispatch with type information, the native table of its
// dual interface and connection points, so that another module (the library inside the program,
// or the program the tests play) reaches it exactly as it reaches the program's own objects.
//
// Every object of one portable interface table shares one native table. Its first seven slots are
// IUnknown and IDispatch; each member slot holds a native function of the uniform member signature
// (kComMemberParameters optional VARIANTs, the locale, the VARIANT result) that calls the portable
// table's current function of that slot. IDispatch::Invoke calls members through the native table,
// so a function another module writes into a slot runs for every object of the interface, whether
// the caller binds early or late.
//
// Portable slots keep their numbers, as the portable model numbers them after IUnknown and
// IDispatch; a table whose members sit lower is shifted past those seven. The portable late-bound
// entrance (kDispidInvoke in the Invoke slot) is IDispatch::Invoke itself, described in the type
// information so that another module can replace it like any member.
//
// REQUIRES: COM is initialised on the calling thread (apartment threaded), and every call is made
// on it.
#ifndef KORVEL_HOSTS_WIN32_COM_OBJECT_H_
#define KORVEL_HOSTS_WIN32_COM_OBJECT_H_

#include <oaidl.h>
#include <windows.h>

#include <cstddef>
#include <memory>
#include <span>

#include "hosts/win32/native_call.h"
#include "platform/dispatch.h"
#include "platform/variant.h"

namespace korvel::win32 {

// The optional VARIANT parameters of every member of a ComObject's table: enough for the widest
// member the program exposes (Run takes a macro and thirty arguments). A put takes its value as the
// last argument given.
inline constexpr size_t kComMemberParameters = 32;

// The native signature of every member slot of a ComObject's table: kComMemberParameters optional
// VARIANTs by value, the locale, the VARIANT result.
const NativeSignature& comMemberSignature();

// The COM face of a portable object. One per portable object while either lives: the object holds
// its portable object, and asking again for the same portable object answers the same COM object.
class ComObject {
 public:
  // The object's IDispatch, with a reference for the caller (a new object or the living one);
  // null when memory ran out. REQUIRES: object is not null.
  static IDispatch* of(const std::shared_ptr<Dispatch>& object);
  // The portable object when the COM object is a ComObject of this module, else null. Objects of
  // the same kind made by another module (the library and the program each have their own) are
  // not this module's: their memory layout may differ, so they are reached through COM.
  static std::shared_ptr<Dispatch> portableOf(IUnknown* object);

  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

 private:
  struct Faces;
  struct NativeTable;
  class Container;
  class ConnectionPoint;
  friend struct Faces;
  friend class ConnectionPoint;

  explicit ComObject(std::shared_ptr<Dispatch> object);
  ~ComObject();

  static ComObject* fromDispatchFace(IUnknown* face);
  IDispatch* dispatchFace() { return reinterpret_cast<IDispatch*>(&dispatchFace_); }
  ULONG addReference();
  ULONG release();
  HRESULT queryInterface(REFIID iid, void** out);
  // A member call: through the native table when the interface describes the member, else the
  // portable object's own invoke.
  HRESULT call(int32_t memberId, InvokeKind kind, std::span<Variant> arguments, Variant* result,
               uint32_t locale);
  // What the native member of a slot runs: the portable table's current function of the slot.
  HRESULT callPortableSlot(size_t slot, std::span<Variant> arguments, Variant* result,
                           uint32_t locale);

  // The face a COM caller holds: the native table, then the owner.
  struct DispatchFace {
    void* const* table;
    ComObject* owner;
  };
  // The face that answers the module's private interface; its table is a static of this module.
  struct TagFace {
    void* const* table;
    ComObject* owner;
  };

  DispatchFace dispatchFace_;
  TagFace tagFace_;
  std::unique_ptr<Container> container_;
  LONG references_ = 1;
  std::shared_ptr<Dispatch> object_;
  NativeTable* table_ = nullptr;  // null when the object has no interface table
};

}  // namespace korvel::win32

#endif  // KORVEL_HOSTS_WIN32_COM_OBJECT_H_
