// Where the portable object model meets COM: automation VARIANTs and the portable Variant, and the
// two faces of an object. A COM object of another module reaches the runtime as a ComDispatch (a
// portable Dispatch over its IDispatch); a portable object that must travel to COM (an event sink
// of the runtime, or an object of the scripted test program) goes out as a ComObject (a real
// IDispatch with type information over the portable object). Each side unwraps its own kind, so an
// object that makes the round trip comes back as itself.
//
// REQUIRES: COM is initialised on the calling thread (apartment threaded), and every call is made
// on it.
#ifndef KORVEL_HOSTS_WIN32_COM_BRIDGE_H_
#define KORVEL_HOSTS_WIN32_COM_BRIDGE_H_

#include <oaidl.h>
#include <windows.h>

#include <memory>
#include <string>

#include "platform/dispatch.h"
#include "platform/variant.h"

namespace korvel::win32 {

// Portable to automation. *out must be initialised (VariantInit); the caller clears it. Texts
// become BSTRs, arrays SAFEARRAYs of VARIANT with the same bounds, objects comObjectFor(object).
// E_OUTOFMEMORY when an allocation fails (*out is then VT_EMPTY).
HRESULT toComVariant(const Variant& in, VARIANT* out);
// Automation to portable: by-reference values are read through, SAFEARRAYs of any element type of
// one or two dimensions become arrays, objects portableObjectFor(object); a type with no portable
// form (a date becomes its number, a currency its value) that cannot be read becomes the error
// DISP_E_TYPEMISMATCH.
Variant fromComVariant(const VARIANT& in);
// Writes the portable value back into a by-reference VARIANT argument (VT_BYREF | type): the
// converted value where the types agree, nothing otherwise.
void writeBack(const Variant& value, VARIANT* byReference);

// The COM face of a portable object, with a reference for the caller: the wrapped IDispatch of a
// ComDispatch, else the ComObject made for the object (one per object while it lives). Null for
// null.
IDispatch* comObjectFor(const std::shared_ptr<Dispatch>& object);
// The portable face of a COM object: the portable object of a ComObject of this module, else the
// ComDispatch over it (one per COM identity while it lives). Null for null.
std::shared_ptr<Dispatch> portableObjectFor(IUnknown* object);

// The halves of the two functions above, one per file, so that each side knows the other's kind:
// the IDispatch a ComDispatch wraps (null for any other object; no reference added) and the
// portable object of a ComObject of this module (null for any other COM object).
IDispatch* comDispatchTarget(Dispatch& object);
std::shared_ptr<Dispatch> comObjectTarget(IUnknown* object);
// A new ComDispatch over the object, and the ComObject of a portable object (with a reference).
std::shared_ptr<Dispatch> makeComDispatch(IDispatch* object);
IDispatch* makeComObject(const std::shared_ptr<Dispatch>& object);

// Interface identifiers: the registry form of the portable model ("{...}", upper case) and back.
InterfaceId interfaceIdText(REFIID iid);
bool parseInterfaceId(const InterfaceId& text, IID* out);

// The portable factory over COM: create by ProgID or class identifier (CoCreateInstance, local
// server or in-process), objectAt reads a message word as the IDispatch* the workbook's code sent.
class ComObjectFactory : public ObjectFactory {
 public:
  std::shared_ptr<Dispatch> create(std::u16string_view classOrProgId, HResult* result) override;
  std::shared_ptr<Dispatch> objectAt(uint64_t address) override;
};

}  // namespace korvel::win32

#endif  // KORVEL_HOSTS_WIN32_COM_BRIDGE_H_
