// Members of dual interfaces as native functions: a member's parameters as its type information
// describes them, calls of the native function in a table slot with portable arguments, and native
// functions made at run time that a table slot can hold and that hand the call to portable code.
// This is what lets the runtime put its replacements into the host program's shared tables, and
// what lets the scripted test program build tables of its own.
//
// The native calling convention is the 32-bit standard one (arguments pushed right to left, the
// callee pops them, the result in EAX); every member answers an HRESULT.
#ifndef KORVEL_HOSTS_WIN32_NATIVE_CALL_H_
#define KORVEL_HOSTS_WIN32_NATIVE_CALL_H_

#include <oaidl.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "platform/dispatch.h"
#include "platform/variant.h"

namespace korvel::win32 {

struct NativeParameter {
  // The value's automation type (VT_VARIANT, VT_I4, VT_BSTR, VT_BOOL, VT_R8, VT_DISPATCH, ...);
  // for a pointer parameter the type it points to.
  VARTYPE type = VT_VARIANT;
  bool byReference = false;  // a pointer to the value
  bool locale = false;       // the call's locale (PARAMFLAG_FLCID), an LCID by value
  bool result = false;       // where the member's result goes (PARAMFLAG_FRETVAL), by reference
  // The caller may leave it out (PARAMFLAG_FOPT, a default value, or among the function's trailing
  // optional parameters); it then gets defaultValue, or missing for a VARIANT without one (the
  // type's zero value otherwise).
  bool optional = false;
  Variant defaultValue;
  // By reference and only written by the callee (PARAMFLAG_FOUT without PARAMFLAG_FIN): nothing is
  // passed in, and the callee does not free what the pointer held.
  bool output = false;
  // For an interface pointer (VT_DISPATCH or VT_UNKNOWN): the interface the callee expects, which
  // an object is queried for before it is passed; GUID_NULL for IDispatch or IUnknown itself.
  IID interfaceId = {};
};

// The parameters after the object pointer, in declaration order.
struct NativeSignature {
  std::vector<NativeParameter> parameters;
  // Bytes the callee pops: the object pointer and every parameter (a VARIANT by value takes 16).
  size_t stackBytes() const;
  // The parameters the portable caller passes: neither the locale nor the result.
  size_t portableCount() const;
};

// The signature a function description gives; false for a member this layer cannot call (a
// parameter type with no portable form, a function that does not answer an HRESULT).
bool signatureOf(ITypeInfo* typeInfo, const FUNCDESC& function, NativeSignature* out);

// Calls the native function with the object pointer and the portable arguments converted to the
// parameters' types (by-reference ones are written back), the locale, and the result converted
// back. Fewer arguments than parameters leave the trailing optional ones out, and a missing
// argument stands for an omitted one. DISP_E_BADPARAMCOUNT when the arguments do not match the
// signature's count, DISP_E_PARAMNOTOPTIONAL for a required parameter given as missing that a
// VARIANT does not carry, and the conversion's error (DISP_E_TYPEMISMATCH, ...) when an argument
// cannot take its parameter's type; the function is then not called. *result is empty unless the
// call succeeded.
HRESULT callNativeMember(void* function, IUnknown* self, const NativeSignature& signature,
                         std::span<Variant> arguments, Variant* result, uint32_t locale);

// What a made native function calls: the object pointer it was called on, the portable arguments,
// the result (null when the signature has no result parameter) and the locale (0 without one).
using NativeHandler = std::function<HRESULT(IUnknown* self, std::span<Variant> arguments,
                                            Variant* result, uint32_t locale)>;
// A native function with the signature that converts its parameters and calls the handler;
// by-reference arguments the handler changed (and every output) are written back after it, and
// the result when the handler succeeded (the result pointer otherwise reads as empty). An
// exception of the handler answers E_FAIL. A null by-reference pointer reaches the handler as a
// missing argument. It lives for the rest of the process (tables may still point at it after the
// runtime is gone). Null when no executable memory is left.
void* makeNativeMember(const NativeSignature& signature, NativeHandler handler);

// Writes a slot of a shared interface table (its pages are read-only in most modules), keeping the
// page's protection; false when the page cannot be made writable.
bool writeTableSlot(void** slot, void* function);

}  // namespace korvel::win32

#endif  // KORVEL_HOSTS_WIN32_NATIVE_CALL_H_
