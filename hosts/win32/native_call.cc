// Native members of dual interfaces. Arguments travel as the memory image of the callee's stack
// (a block of 32-bit words, the object pointer first); each value is held in a VARIANT of the
// parameter's own type while the call runs, so that one conversion path (through the VARIANT
// conversions of the bridge) serves every parameter type and clearing the VARIANT frees what the
// call owned.
#include "hosts/win32/native_call.h"

#include <ole2.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <utility>

#include "hosts/win32/com_bridge.h"

// Pushes `count` words (the first ends up lowest, where the callee expects its first argument),
// calls `function` and answers EAX. ESP is restored from the frame, so a callee that pops a wrong
// count cannot unbalance our stack.
extern "C" uint32_t korvelCallStdcall(void* function, const uint32_t* words,
                                      size_t count) __asm__("korvel_call_stdcall");
// Where every made member jumps, with its context in EAX: hands (context, the stack arguments from
// the object pointer on, where to put the count of bytes to pop) to korvelNativeDispatch, then
// returns past the callee-popped arguments, whatever their size.
extern "C" void korvelNativeEntry() __asm__("korvel_native_entry");

__asm__(R"(
    .text
    .p2align 4
    .globl korvel_call_stdcall
korvel_call_stdcall:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
1:
    testl %ecx, %ecx
    jz 2f
    pushl -4(%esi,%ecx,4)
    decl %ecx
    jmp 1b
2:
    call *8(%ebp)
    leal -4(%ebp), %esp
    popl %esi
    popl %ebp
    ret

    .p2align 4
    .globl korvel_native_entry
korvel_native_entry:
    pushl %ebp
    movl %esp, %ebp
    subl $4, %esp
    leal 8(%ebp), %ecx
    leal -4(%ebp), %edx
    andl $-16, %esp
    subl $4, %esp
    pushl %edx
    pushl %ecx
    pushl %eax
    call korvel_native_dispatch
    movl -4(%ebp), %ecx
    movl %ebp, %esp
    popl %ebp
    popl %edx
    addl %ecx, %esp
    jmp *%edx
)");

namespace korvel::win32 {

namespace {

// A made member: what the generic entry needs to convert and pop its arguments.
struct NativeMember {
  NativeSignature signature;
  NativeHandler handler;
  uint32_t stackBytes = 0;
};

// Bytes a value of the type takes in memory, as a by-reference parameter points at it.
size_t valueSize(VARTYPE type) {
  switch (type) {
    case VT_VARIANT:
      return sizeof(VARIANT);
    case VT_R8:
    case VT_DATE:
    case VT_CY:
    case VT_I8:
    case VT_UI8:
      return 8;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I1:
    case VT_UI1:
      return 1;
    default:
      return 4;
  }
}

// Bytes the parameter takes on the stack: smaller values widen to a whole word.
size_t stackSize(const NativeParameter& parameter) {
  if (parameter.byReference) return sizeof(void*);
  size_t size = valueSize(parameter.type);
  return size < 4 ? 4 : size;
}

bool isObjectType(VARTYPE type) { return type == VT_DISPATCH || type == VT_UNKNOWN; }

// A VARIANT's value field, where every type but VARIANT itself keeps its value.
void* valueOf(VARIANT& holder) { return &holder.llVal; }

// A zeroed VARIANT of the type, its value field ready to receive the callee's value.
void clearHolder(VARIANT& holder, VARTYPE type) {
  std::memset(&holder, 0, sizeof(holder));
  if (type != VT_VARIANT) holder.vt = type;
}

// Automation to portable for every type a parameter can have: the bridge's conversion takes the
// portable types and reads references through; the other numbers are widened first, and any
// interface pointer becomes the portable object.
Variant toPortable(const VARIANT& in) {
  VARIANT plain;
  VariantInit(&plain);
  const VARIANT* value = &in;
  if ((in.vt & VT_BYREF) != 0 && SUCCEEDED(VariantCopyInd(&plain, const_cast<VARIANT*>(&in))))
    value = &plain;
  Variant out;
  switch (value->vt) {
    case VT_R4:
    case VT_DATE:
    case VT_CY:
    case VT_DECIMAL:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT: {
      VARTYPE wider = value->vt == VT_INT ? VT_I4 : value->vt == VT_UINT ? VT_UI4 : VT_R8;
      VARIANT changed;
      VariantInit(&changed);
      if (SUCCEEDED(VariantChangeType(&changed, const_cast<VARIANT*>(value), 0, wider))) {
        out = fromComVariant(changed);
      } else {
        out = Variant::error(uint32_t(DISP_E_TYPEMISMATCH));
      }
      VariantClear(&changed);
      break;
    }
    case VT_UNKNOWN:
      out = Variant::dispatch(portableObjectFor(value->punkVal));
      break;
    default:
      out = fromComVariant(*value);
      break;
  }
  VariantClear(&plain);
  return out;
}

// The value a callee reads at `place` (a parameter's stack slot, or where a pointer points) as a
// portable one; the memory stays the caller's.
Variant readValue(const void* place, VARTYPE type) {
  VARIANT view;
  if (type == VT_VARIANT) {
    std::memcpy(&view, place, sizeof(view));
  } else {
    clearHolder(view, type);
    std::memcpy(valueOf(view), place, valueSize(type));
  }
  return toPortable(view);
}

// Portable to a VARIANT of the parameter's type (*out zeroed; the caller clears it). An interface
// pointer is queried for the interface the callee expects, so that it gets the right table.
HRESULT toNative(const Variant& in, const NativeParameter& parameter, LCID locale, VARIANT* out) {
  VARIANT com;
  VariantInit(&com);
  HRESULT hr = toComVariant(in, &com);
  if (FAILED(hr)) return hr;
  VARTYPE type = parameter.type;
  if (type == VT_VARIANT) {
    *out = com;
    return S_OK;
  }
  if (isObjectType(type)) {
    IUnknown* object = nullptr;
    bool nothing = com.vt == VT_EMPTY || com.vt == VT_NULL ||
                   (com.vt == VT_ERROR && com.scode == DISP_E_PARAMNOTFOUND);
    if (com.vt == VT_DISPATCH || com.vt == VT_UNKNOWN) {
      if (com.punkVal != nullptr) {
        IID wanted = parameter.interfaceId;
        if (IsEqualGUID(wanted, GUID_NULL))
          wanted = type == VT_DISPATCH ? IID_IDispatch : IID_IUnknown;
        hr = com.punkVal->QueryInterface(wanted, reinterpret_cast<void**>(&object));
        if (FAILED(hr)) object = nullptr;
      }
    } else if (!nothing) {
      hr = DISP_E_TYPEMISMATCH;
    }
    VariantClear(&com);
    if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
    out->vt = type;
    out->punkVal = object;
    return S_OK;
  }
  if (com.vt == type) {
    *out = com;
    return S_OK;
  }
  // An omitted array is a null SAFEARRAY pointer.
  if ((type & VT_ARRAY) != 0 && com.vt == VT_EMPTY) {
    out->vt = type;
    out->parray = nullptr;
    return S_OK;
  }
  hr = VariantChangeTypeEx(out, &com, locale != 0 ? locale : LOCALE_USER_DEFAULT, 0, type);
  VariantClear(&com);
  if (FAILED(hr)) {
    clearHolder(*out, VT_EMPTY);
    return hr;
  }
  return S_OK;
}

// Stores a portable value where a by-reference parameter points. `replace`: the pointer holds a
// value of the caller's that the store frees (an in-out parameter); otherwise it is overwritten.
HRESULT storeValue(void* place, const NativeParameter& parameter, const Variant& value,
                   bool replace, LCID locale) {
  if (parameter.type == VT_VARIANT) {
    auto* target = static_cast<VARIANT*>(place);
    // A VARIANT that refers to the caller's own variable is written through.
    if (replace && (target->vt & VT_BYREF) != 0) {
      writeBack(value, target);
      return S_OK;
    }
    VARIANT fresh;
    VariantInit(&fresh);
    HRESULT hr = toComVariant(value, &fresh);
    if (FAILED(hr)) return hr;
    if (replace) VariantClear(target);
    *target = fresh;
    return S_OK;
  }
  VARIANT converted;
  clearHolder(converted, VT_EMPTY);
  HRESULT hr = toNative(value, parameter, locale, &converted);
  if (FAILED(hr)) return hr;
  size_t size = valueSize(parameter.type);
  if (replace) {
    VARIANT old;
    clearHolder(old, parameter.type);
    std::memcpy(valueOf(old), place, size);
    VariantClear(&old);
  }
  // The converted value's ownership (a string, a reference) moves to the caller's memory.
  std::memcpy(place, valueOf(converted), size);
  return S_OK;
}

// What an omitted optional parameter gets.
Variant omittedValue(const NativeParameter& parameter) {
  if (!parameter.defaultValue.isEmpty()) return parameter.defaultValue;
  return parameter.type == VT_VARIANT ? Variant::missing() : Variant();
}

// Executable memory for the made members' stubs, carved from pages that are never freed: a table
// may call a stub long after whoever made it is gone.
constexpr size_t kStubBytes = 16;
constexpr size_t kPoolBytes = 64 * 1024;

uint8_t* allocateStub() {
  static std::mutex mutex;
  static uint8_t* next = nullptr;
  static size_t left = 0;
  std::lock_guard<std::mutex> lock(mutex);
  if (left < kStubBytes) {
    void* pool =
        VirtualAlloc(nullptr, kPoolBytes, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    if (pool == nullptr) return nullptr;
    next = static_cast<uint8_t*>(pool);
    left = kPoolBytes;
  }
  uint8_t* stub = next;
  next += kStubBytes;
  left -= kStubBytes;
  return stub;
}

void putWord(uint8_t* at, uint32_t word) {
  for (int i = 0; i < 4; ++i) at[i] = uint8_t(word >> (8 * i));
}

HRESULT dispatchMember(const NativeMember& member, const uint32_t* stack) {
  const NativeSignature& signature = member.signature;
  auto* self = reinterpret_cast<IUnknown*>(uintptr_t(stack[0]));
  const auto* cursor = reinterpret_cast<const uint8_t*>(stack + 1);
  size_t count = signature.parameters.size();
  std::vector<Variant> arguments;
  arguments.reserve(count);
  // Per parameter: where a by-reference one points, and its portable argument's index.
  std::vector<void*> places(count, nullptr);
  std::vector<size_t> indexes(count, SIZE_MAX);
  uint32_t locale = 0;
  const NativeParameter* resultParameter = nullptr;
  void* resultPlace = nullptr;
  for (size_t i = 0; i < count; ++i) {
    const NativeParameter& parameter = signature.parameters[i];
    const uint8_t* slot = cursor;
    cursor += stackSize(parameter);
    if (parameter.locale) {
      std::memcpy(&locale, slot, sizeof(locale));
      continue;
    }
    if (!parameter.byReference) {
      indexes[i] = arguments.size();
      arguments.push_back(readValue(slot, parameter.type));
      continue;
    }
    void* place = nullptr;
    std::memcpy(&place, slot, sizeof(place));
    places[i] = place;
    if (parameter.result) {
      resultParameter = &parameter;
      resultPlace = place;
      continue;
    }
    indexes[i] = arguments.size();
    if (place == nullptr) {
      arguments.push_back(Variant::missing());
    } else if (parameter.output) {
      arguments.push_back(Variant());
    } else {
      arguments.push_back(readValue(place, parameter.type));
    }
  }
  // The caller's result stays untouched until the member succeeded; an out value that is not
  // written must still read as nothing.
  if (resultPlace != nullptr) std::memset(resultPlace, 0, valueSize(resultParameter->type));
  std::vector<Variant> before = arguments;
  Variant result;
  HRESULT hr = member.handler(self, std::span<Variant>(arguments),
                              resultPlace != nullptr ? &result : nullptr, locale);
  for (size_t i = 0; i < count; ++i) {
    const NativeParameter& parameter = signature.parameters[i];
    if (places[i] == nullptr || parameter.result || indexes[i] == SIZE_MAX) continue;
    const Variant& value = arguments[indexes[i]];
    // Only what the handler changed goes back, so a value with no portable form stays as it was.
    if (!parameter.output && value == before[indexes[i]]) continue;
    storeValue(places[i], parameter, value, !parameter.output, locale);
  }
  if (SUCCEEDED(hr) && resultPlace != nullptr) {
    HRESULT stored = storeValue(resultPlace, *resultParameter, result, false, locale);
    if (FAILED(stored)) hr = stored;
  }
  return hr;
}

// The resolved form of a type description: a value of a VARTYPE, an interface (only meaningful
// behind a pointer), or a pointer to a value.
struct ResolvedType {
  enum Form { kValue, kInterface, kReference } form = kValue;
  VARTYPE type = VT_EMPTY;
  IID interfaceId = {};
};

bool resolveType(ITypeInfo* typeInfo, const TYPEDESC& description, int depth, ResolvedType* out);

// The interface a pointer to a user-defined type refers to: its identifier, and whether it can be
// called late-bound. A class stands for its default interface.
bool resolveInterface(ITypeInfo* typeInfo, const TYPEATTR& attributes, int depth,
                      ResolvedType* out) {
  if (attributes.typekind == TKIND_COCLASS) {
    for (UINT i = 0; i < attributes.cImplTypes; ++i) {
      INT flags = 0;
      if (FAILED(typeInfo->GetImplTypeFlags(i, &flags))) continue;
      if ((flags & IMPLTYPEFLAG_FDEFAULT) == 0 || (flags & IMPLTYPEFLAG_FSOURCE) != 0) continue;
      HREFTYPE reference = 0;
      if (FAILED(typeInfo->GetRefTypeOfImplType(i, &reference))) return false;
      TYPEDESC userDefined{};
      userDefined.vt = VT_USERDEFINED;
      userDefined.hreftype = reference;
      return resolveType(typeInfo, userDefined, depth + 1, out);
    }
    return false;
  }
  out->form = ResolvedType::kInterface;
  bool dispatchable = attributes.typekind == TKIND_DISPATCH ||
                      (attributes.wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE)) != 0;
  out->type = dispatchable ? VT_DISPATCH : VT_UNKNOWN;
  // A pure dispinterface has no table of its own: its objects are asked for IDispatch.
  bool pureDispatch =
      attributes.typekind == TKIND_DISPATCH && (attributes.wTypeFlags & TYPEFLAG_FDUAL) == 0;
  out->interfaceId = pureDispatch || IsEqualGUID(attributes.guid, IID_IDispatch) ||
                             IsEqualGUID(attributes.guid, IID_IUnknown)
                         ? GUID_NULL
                         : attributes.guid;
  return true;
}

bool resolveUserDefined(ITypeInfo* typeInfo, HREFTYPE reference, int depth, ResolvedType* out) {
  ITypeInfo* referenced = nullptr;
  if (FAILED(typeInfo->GetRefTypeInfo(reference, &referenced)) || referenced == nullptr) {
    return false;
  }
  TYPEATTR* attributes = nullptr;
  bool ok = false;
  if (SUCCEEDED(referenced->GetTypeAttr(&attributes)) && attributes != nullptr) {
    switch (attributes->typekind) {
      case TKIND_ENUM:
        out->form = ResolvedType::kValue;
        out->type = VT_I4;
        ok = true;
        break;
      case TKIND_ALIAS:
        ok = resolveType(referenced, attributes->tdescAlias, depth + 1, out);
        break;
      case TKIND_INTERFACE:
      case TKIND_DISPATCH:
      case TKIND_COCLASS:
        ok = resolveInterface(referenced, *attributes, depth, out);
        break;
      default:
        break;
    }
    referenced->ReleaseTypeAttr(attributes);
  }
  referenced->Release();
  return ok;
}

bool resolveType(ITypeInfo* typeInfo, const TYPEDESC& description, int depth, ResolvedType* out) {
  // Aliases of aliases end somewhere; a cycle in a broken library must not recurse forever.
  if (depth > 8) return false;
  switch (description.vt) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_ERROR:
    case VT_BOOL:
    case VT_VARIANT:
      out->form = ResolvedType::kValue;
      out->type = description.vt;
      return true;
    case VT_HRESULT:
      out->form = ResolvedType::kValue;
      out->type = VT_ERROR;
      return true;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      out->form = ResolvedType::kValue;
      out->type = description.vt;
      out->interfaceId = GUID_NULL;
      return true;
    case VT_SAFEARRAY: {
      // Only arrays of VARIANTs have a portable form.
      ResolvedType element;
      if (description.lptdesc == nullptr ||
          !resolveType(typeInfo, *description.lptdesc, depth + 1, &element) ||
          element.form != ResolvedType::kValue || element.type != VT_VARIANT) {
        return false;
      }
      out->form = ResolvedType::kValue;
      out->type = VT_ARRAY | VT_VARIANT;
      return true;
    }
    case VT_USERDEFINED:
      return resolveUserDefined(typeInfo, description.hreftype, depth, out);
    case VT_PTR: {
      ResolvedType target;
      if (description.lptdesc == nullptr ||
          !resolveType(typeInfo, *description.lptdesc, depth + 1, &target)) {
        return false;
      }
      if (target.form == ResolvedType::kReference) return false;
      // A pointer to an interface is the object itself.
      out->form =
          target.form == ResolvedType::kInterface ? ResolvedType::kValue : ResolvedType::kReference;
      out->type = target.type;
      out->interfaceId = target.interfaceId;
      return true;
    }
    default:
      return false;
  }
}

// The description of the same member in the table interface of a dual interface, for a
// description of its dispatch view.
bool vtableSignatureOf(ITypeInfo* typeInfo, const FUNCDESC& function, NativeSignature* out) {
  TYPEATTR* attributes = nullptr;
  if (FAILED(typeInfo->GetTypeAttr(&attributes)) || attributes == nullptr) return false;
  bool dual =
      attributes->typekind == TKIND_DISPATCH && (attributes->wTypeFlags & TYPEFLAG_FDUAL) != 0;
  typeInfo->ReleaseTypeAttr(attributes);
  HREFTYPE reference = 0;
  ITypeInfo* vtableInfo = nullptr;
  if (!dual || FAILED(typeInfo->GetRefTypeOfImplType(UINT(-1), &reference)) ||
      FAILED(typeInfo->GetRefTypeInfo(reference, &vtableInfo)) || vtableInfo == nullptr) {
    return false;
  }
  bool matched = false;
  bool ok = false;
  if (SUCCEEDED(vtableInfo->GetTypeAttr(&attributes)) && attributes != nullptr) {
    WORD functionCount = attributes->cFuncs;
    vtableInfo->ReleaseTypeAttr(attributes);
    for (UINT i = 0; i < functionCount && !matched; ++i) {
      FUNCDESC* candidate = nullptr;
      if (FAILED(vtableInfo->GetFuncDesc(i, &candidate)) || candidate == nullptr) continue;
      if (candidate->memid == function.memid && candidate->invkind == function.invkind &&
          candidate->funckind != FUNC_DISPATCH) {
        matched = true;
        ok = signatureOf(vtableInfo, *candidate, out);
      }
      vtableInfo->ReleaseFuncDesc(candidate);
    }
  }
  vtableInfo->Release();
  return ok;
}

}  // namespace

}  // namespace korvel::win32

// Called from korvel_native_entry only; it must not let anything escape into native frames.
extern "C" HRESULT korvelNativeDispatch(const korvel::win32::NativeMember* member,
                                        const uint32_t* stack,
                                        uint32_t* popBytes) __asm__("korvel_native_dispatch");

extern "C" __attribute__((used)) HRESULT korvelNativeDispatch(
    const korvel::win32::NativeMember* member, const uint32_t* stack, uint32_t* popBytes) {
  *popBytes = member->stackBytes;
  try {
    return korvel::win32::dispatchMember(*member, stack);
  } catch (...) {
    return E_FAIL;
  }
}

namespace korvel::win32 {

size_t NativeSignature::stackBytes() const {
  size_t bytes = sizeof(void*);
  for (const NativeParameter& parameter : parameters) bytes += stackSize(parameter);
  return bytes;
}

size_t NativeSignature::portableCount() const {
  size_t count = 0;
  for (const NativeParameter& parameter : parameters) {
    if (!parameter.locale && !parameter.result) ++count;
  }
  return count;
}

bool signatureOf(ITypeInfo* typeInfo, const FUNCDESC& function, NativeSignature* out) {
  if (typeInfo == nullptr || out == nullptr) return false;
  if (function.funckind == FUNC_DISPATCH) return vtableSignatureOf(typeInfo, function, out);
  if (function.callconv != CC_STDCALL || function.elemdescFunc.tdesc.vt != VT_HRESULT) {
    return false;
  }
  // A variable argument list (-1) has no fixed stack layout.
  if (function.cParamsOpt < 0 || function.cParams < 0) return false;
  size_t total = size_t(function.cParams);
  size_t portable = 0;
  for (size_t i = 0; i < total; ++i) {
    USHORT flags = function.lprgelemdescParam[i].paramdesc.wParamFlags;
    if ((flags & (PARAMFLAG_FLCID | PARAMFLAG_FRETVAL)) == 0) ++portable;
  }
  size_t firstOptional = portable - std::min(portable, size_t(function.cParamsOpt));
  NativeSignature signature;
  size_t index = 0;
  for (size_t i = 0; i < total; ++i) {
    const ELEMDESC& element = function.lprgelemdescParam[i];
    const PARAMDESC& description = element.paramdesc;
    USHORT flags = description.wParamFlags;
    ResolvedType resolved;
    if (!resolveType(typeInfo, element.tdesc, 0, &resolved)) return false;
    if (resolved.form == ResolvedType::kInterface) return false;
    NativeParameter parameter;
    parameter.type = resolved.type;
    parameter.byReference = resolved.form == ResolvedType::kReference;
    parameter.interfaceId = resolved.interfaceId;
    if ((flags & PARAMFLAG_FLCID) != 0) {
      if (parameter.byReference || valueSize(parameter.type) != 4 || isObjectType(parameter.type) ||
          parameter.type == VT_BSTR) {
        return false;
      }
      parameter.locale = true;
    } else if ((flags & PARAMFLAG_FRETVAL) != 0) {
      if (!parameter.byReference) return false;
      parameter.result = true;
    } else {
      parameter.optional = (flags & PARAMFLAG_FOPT) != 0 || index >= firstOptional;
      if ((flags & PARAMFLAG_FHASDEFAULT) != 0 && description.pparamdescex != nullptr) {
        parameter.optional = true;
        parameter.defaultValue = toPortable(description.pparamdescex->varDefaultValue);
      }
      parameter.output =
          parameter.byReference && (flags & PARAMFLAG_FOUT) != 0 && (flags & PARAMFLAG_FIN) == 0;
      ++index;
    }
    signature.parameters.push_back(std::move(parameter));
  }
  *out = std::move(signature);
  return true;
}

HRESULT callNativeMember(void* function, IUnknown* self, const NativeSignature& signature,
                         std::span<Variant> arguments, Variant* result, uint32_t locale) {
  if (result != nullptr) *result = Variant();
  if (function == nullptr) return E_POINTER;
  if (arguments.size() > signature.portableCount()) return DISP_E_BADPARAMCOUNT;
  size_t count = signature.parameters.size();
  // Zeroed: every holder starts empty, and clearing all of them at the end is always sound.
  std::vector<VARIANT> holders(count);
  struct Clear {
    std::vector<VARIANT>& holders;
    ~Clear() {
      for (VARIANT& holder : holders) VariantClear(&holder);
    }
  } clear{holders};
  std::vector<size_t> indexes(count, SIZE_MAX);
  std::vector<uint32_t> words;
  words.reserve(signature.stackBytes() / 4);
  words.push_back(uint32_t(uintptr_t(self)));
  size_t next = 0;
  for (size_t i = 0; i < count; ++i) {
    const NativeParameter& parameter = signature.parameters[i];
    VARIANT& holder = holders[i];
    if (parameter.locale) {
      holder.vt = VT_I4;
      holder.lVal = LONG(locale);
    } else if (parameter.result) {
      clearHolder(holder, parameter.type);
    } else {
      size_t index = next++;
      Variant omitted;
      const Variant* value = nullptr;
      bool given = index < arguments.size();
      // A missing argument stands for an omitted one, but only a VARIANT can carry it as it is.
      if (given && !(arguments[index].isMissing() && parameter.type != VT_VARIANT)) {
        value = &arguments[index];
      } else if (parameter.optional) {
        omitted = omittedValue(parameter);
        value = &omitted;
      } else {
        return given ? DISP_E_PARAMNOTOPTIONAL : DISP_E_BADPARAMCOUNT;
      }
      if (parameter.output) {
        clearHolder(holder, parameter.type);
      } else {
        HRESULT hr = toNative(*value, parameter, LCID(locale), &holder);
        if (FAILED(hr)) return hr;
      }
      if (given) indexes[i] = index;
    }
    void* place = parameter.type == VT_VARIANT ? static_cast<void*>(&holder) : valueOf(holder);
    if (parameter.byReference) {
      words.push_back(uint32_t(uintptr_t(place)));
    } else {
      size_t size = stackSize(parameter);
      size_t first = words.size();
      words.resize(first + size / 4);
      // Values narrower than a word are widened with zeros (the holder's unused bytes are zero).
      std::memcpy(&words[first], place, size);
    }
  }
  HRESULT hr = HRESULT(korvelCallStdcall(function, words.data(), words.size()));
  for (size_t i = 0; i < count; ++i) {
    const NativeParameter& parameter = signature.parameters[i];
    if (!parameter.byReference) continue;
    if (parameter.result) {
      if (SUCCEEDED(hr) && result != nullptr) *result = toPortable(holders[i]);
    } else if (indexes[i] != SIZE_MAX) {
      arguments[indexes[i]] = toPortable(holders[i]);
    }
  }
  return hr;
}

void* makeNativeMember(const NativeSignature& signature, NativeHandler handler) {
  uint8_t* stub = allocateStub();
  if (stub == nullptr) return nullptr;
  // Never freed: the stub may be called for the rest of the process.
  auto* member = new NativeMember{signature, std::move(handler), uint32_t(signature.stackBytes())};
  // mov eax, member; jmp korvel_native_entry (relative to the end of the jump).
  stub[0] = 0xB8;
  putWord(stub + 1, uint32_t(uintptr_t(member)));
  stub[5] = 0xE9;
  uintptr_t entry = reinterpret_cast<uintptr_t>(&korvelNativeEntry);
  putWord(stub + 6, uint32_t(entry - uintptr_t(stub + 10)));
  std::memset(stub + 10, 0xCC, kStubBytes - 10);
  FlushInstructionCache(GetCurrentProcess(), stub, kStubBytes);
  return stub;
}

bool writeTableSlot(void** slot, void* function) {
  if (slot == nullptr) return false;
  MEMORY_BASIC_INFORMATION page{};
  if (VirtualQuery(slot, &page, sizeof(page)) == 0 || page.State != MEM_COMMIT) return false;
  // Tables sit in code pages in some modules: keep them executable while they are written.
  DWORD executable =
      PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  DWORD writable = (page.Protect & executable) != 0 ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE;
  DWORD old = 0;
  if (!VirtualProtect(slot, sizeof(void*), writable, &old)) return false;
  *slot = function;
  DWORD ignored = 0;
  VirtualProtect(slot, sizeof(void*), old, &ignored);
  FlushInstructionCache(GetCurrentProcess(), slot, sizeof(void*));
  return true;
}

}  // namespace korvel::win32
