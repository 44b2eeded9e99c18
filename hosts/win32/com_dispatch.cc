// ComDispatch, its native tables and the portable factory over COM.
#include "hosts/win32/com_dispatch.h"

#include <ole2.h>

#include <array>
#include <cstring>
#include <unordered_map>
#include <utility>

#include "hosts/win32/com_bridge.h"

namespace korvel::win32 {

namespace {

using InvokeFunction = HRESULT(__stdcall*)(IDispatch* self, DISPID member, REFIID riid, LCID locale,
                                           WORD flags, DISPPARAMS* parameters, VARIANT* result,
                                           EXCEPINFO* exception, UINT* argumentError);

void clearException(EXCEPINFO* exception) {
  if (exception->pfnDeferredFillIn != nullptr) exception->pfnDeferredFillIn(exception);
  SysFreeString(exception->bstrSource);
  SysFreeString(exception->bstrDescription);
  SysFreeString(exception->bstrHelpFile);
  *exception = EXCEPINFO{};
}

// A late-bound call made through an Invoke function: the portable arguments in declaration order
// go into DISPPARAMS in reverse, a put's value as the named DISPID_PROPERTYPUT argument.
HResult invokeThrough(InvokeFunction function, IDispatch* self, int32_t memberId, WORD flags,
                      std::span<Variant> arguments, Variant* result, uint32_t locale) {
  if (result != nullptr) *result = Variant();
  std::vector<VARIANT> values(arguments.size());
  HRESULT hr = S_OK;
  for (size_t i = 0; i < arguments.size() && SUCCEEDED(hr); ++i) {
    VARIANT& value = values[arguments.size() - 1 - i];
    VariantInit(&value);
    hr = toComVariant(arguments[i], &value);
  }
  if (SUCCEEDED(hr)) {
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS parameters{values.data(), nullptr, UINT(values.size()), 0};
    if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0 && !values.empty()) {
      parameters.rgdispidNamedArgs = &putId;
      parameters.cNamedArgs = 1;
    }
    VARIANT answer;
    VariantInit(&answer);
    EXCEPINFO exception{};
    UINT argumentError = 0;
    hr = function(self, memberId, IID_NULL, locale, flags, &parameters,
                  result != nullptr ? &answer : nullptr, &exception, &argumentError);
    clearException(&exception);
    if (SUCCEEDED(hr) && result != nullptr) *result = fromComVariant(answer);
    VariantClear(&answer);
  }
  for (VARIANT& value : values) VariantClear(&value);
  return hr;
}

InvokeFunction invokeOf(IDispatch* object) {
  return reinterpret_cast<InvokeFunction>((*reinterpret_cast<void***>(object))[6]);
}

// The object's interface pointer whose table is `table` (with a reference), or its IDispatch when
// it has no such interface.
IUnknown* pointerForTable(Dispatch& self, REFIID iid, void* table) {
  std::shared_ptr<Dispatch> shared = self.weak_from_this().lock();
  if (shared == nullptr) return nullptr;
  IDispatch* object = comObjectFor(shared);
  if (object == nullptr || *reinterpret_cast<void**>(object) == table) return object;
  void* other = nullptr;
  if (SUCCEEDED(object->QueryInterface(iid, &other)) && other != nullptr) {
    object->Release();
    return static_cast<IUnknown*>(other);
  }
  return object;
}

// Replacements of IDispatch::Invoke: a native Invoke cannot be made from a signature (its
// parameters are not automation values), so a few fixed entries serve the tables whose Invoke the
// runtime replaces, each calling the portable function of its table with (member id, kind,
// arguments...).
constexpr int kInvokeHooks = 8;

std::array<MemberFunction, kInvokeHooks>& invokeHookFunctions() {
  static auto* functions = new std::array<MemberFunction, kInvokeHooks>();
  return *functions;
}

HRESULT lateBoundEntry(const MemberFunction& function, IDispatch* self, DISPID member, LCID locale,
                       WORD flags, DISPPARAMS* parameters, VARIANT* result) {
  try {
    std::shared_ptr<Dispatch> that = portableObjectFor(self);
    if (that == nullptr || !function) return E_FAIL;
    UINT total = parameters != nullptr ? parameters->cArgs : 0;
    UINT named = parameters != nullptr ? parameters->cNamedArgs : 0;
    if (named > total || (total > 0 && parameters->rgvarg == nullptr) ||
        (named > 0 && parameters->rgdispidNamedArgs == nullptr)) {
      return E_INVALIDARG;
    }
    // Positional arguments come last to first; a named argument's id is its position as the
    // type information gives it, the put's value goes last.
    std::vector<VARIANT*> sources(total - named, nullptr);
    for (UINT i = 0; i < total - named; ++i) sources[i] = &parameters->rgvarg[total - 1 - i];
    VARIANT* putValue = nullptr;
    for (UINT n = 0; n < named; ++n) {
      DISPID id = parameters->rgdispidNamedArgs[n];
      if (id == DISPID_PROPERTYPUT) {
        putValue = &parameters->rgvarg[n];
      } else if (id >= 0 && id < 64) {
        if (sources.size() <= size_t(id)) sources.resize(size_t(id) + 1, nullptr);
        sources[size_t(id)] = &parameters->rgvarg[n];
      } else {
        return DISP_E_PARAMNOTFOUND;
      }
    }
    if (putValue != nullptr) sources.push_back(putValue);
    std::vector<Variant> arguments;
    arguments.reserve(sources.size() + 2);
    arguments.push_back(Variant::i4(member));
    arguments.push_back(Variant::i4(flags));
    for (VARIANT* source : sources) {
      arguments.push_back(source != nullptr ? fromComVariant(*source) : Variant::missing());
    }
    // Only what the portable function changed goes back, so a caller's by-reference value that
    // has no exact portable form (a currency, a date) stays as it was.
    std::vector<Variant> given(arguments.begin() + 2, arguments.end());
    Variant answer;
    HResult hr = function(*that, arguments, result != nullptr ? &answer : nullptr, locale);
    for (size_t i = 0; i < sources.size() && i + 2 < arguments.size(); ++i) {
      if (sources[i] != nullptr && !(arguments[i + 2] == given[i])) {
        writeBack(arguments[i + 2], sources[i]);
      }
    }
    if (succeeded(hr) && result != nullptr) {
      VariantClear(result);
      HRESULT converted = toComVariant(answer, result);
      if (FAILED(converted)) return converted;
    }
    return hr;
  } catch (...) {
    return E_FAIL;
  }
}

template <int N>
HRESULT __stdcall invokeHook(IDispatch* self, DISPID member, REFIID, LCID locale, WORD flags,
                             DISPPARAMS* parameters, VARIANT* result, EXCEPINFO*, UINT*) {
  // A copy: the function may put another one into this entry while it runs.
  MemberFunction function = invokeHookFunctions()[N];
  return lateBoundEntry(function, self, member, locale, flags, parameters, result);
}

template <int... N>
constexpr std::array<InvokeFunction, sizeof...(N)> hookTable(std::integer_sequence<int, N...>) {
  return {&invokeHook<N>...};
}

constexpr std::array<InvokeFunction, kInvokeHooks> kInvokeHookEntries =
    hookTable(std::make_integer_sequence<int, kInvokeHooks>());

int nextInvokeHook = 0;

InvokeKind kindOf(INVOKEKIND kind) {
  switch (kind) {
    case INVOKE_PROPERTYGET:
      return InvokeKind::kPropertyGet;
    case INVOKE_PROPERTYPUT:
      return InvokeKind::kPropertyPut;
    default:
      return InvokeKind::kMethod;
  }
}

// Tables by native vtable, for the life of the process: the runtime's replacements stay in the
// tables after the objects that showed them are gone.
std::unordered_map<void*, ComInterfaceTable*>& tablesByVtable() {
  static auto* tables = new std::unordered_map<void*, ComInterfaceTable*>();
  return *tables;
}

// Portable faces of COM objects by their COM identity, while they live.
std::unordered_map<IUnknown*, std::weak_ptr<Dispatch>>& facesByIdentity() {
  static auto* faces = new std::unordered_map<IUnknown*, std::weak_ptr<Dispatch>>();
  return *faces;
}

ITypeInfo* vtableTypeInfo(IDispatch* object) {
  ITypeInfo* info = nullptr;
  if (FAILED(object->GetTypeInfo(0, 0, &info)) || info == nullptr) return nullptr;
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes)) || attributes == nullptr) {
    info->Release();
    return nullptr;
  }
  TYPEKIND kind = attributes->typekind;
  bool dual = (attributes->wTypeFlags & TYPEFLAG_FDUAL) != 0;
  info->ReleaseTypeAttr(attributes);
  if (kind == TKIND_INTERFACE) return info;
  ITypeInfo* vtableInfo = nullptr;
  HREFTYPE reference = 0;
  // The dispatch view of a dual interface names the interface that has the table.
  if (kind == TKIND_DISPATCH && dual &&
      SUCCEEDED(info->GetRefTypeOfImplType(UINT(-1), &reference))) {
    if (FAILED(info->GetRefTypeInfo(reference, &vtableInfo))) vtableInfo = nullptr;
  }
  info->Release();
  return vtableInfo;
}

ComInterfaceTable* readTable(IDispatch* object) {
  ITypeInfo* info = vtableTypeInfo(object);
  if (info == nullptr) return nullptr;
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes)) || attributes == nullptr) {
    info->Release();
    return nullptr;
  }
  IID iid = attributes->guid;
  size_t slotCount = attributes->cbSizeVft / sizeof(void*);
  info->ReleaseTypeAttr(attributes);

  // The object's pointer for the interface holds the table.
  void* pointer = nullptr;
  if (FAILED(object->QueryInterface(iid, &pointer)) || pointer == nullptr) {
    object->AddRef();
    pointer = object;
  }
  void** vtable = *static_cast<void***>(pointer);
  static_cast<IUnknown*>(pointer)->Release();
  auto& tables = tablesByVtable();
  if (auto found = tables.find(vtable); found != tables.end()) {
    info->Release();
    return found->second;
  }

  std::vector<FunctionDescription> functions;
  std::map<size_t, NativeSignature> signatures;
  size_t invokeSlot = SIZE_MAX;
  // The interface's own members, then those it inherits (IDispatch::Invoke among them).
  ITypeInfo* current = info;
  for (int depth = 0; current != nullptr && depth < 16; ++depth) {
    TYPEATTR* currentAttributes = nullptr;
    if (FAILED(current->GetTypeAttr(&currentAttributes)) || currentAttributes == nullptr) break;
    WORD functionCount = currentAttributes->cFuncs;
    WORD baseCount = currentAttributes->cImplTypes;
    current->ReleaseTypeAttr(currentAttributes);
    for (UINT i = 0; i < functionCount; ++i) {
      FUNCDESC* description = nullptr;
      if (FAILED(current->GetFuncDesc(i, &description)) || description == nullptr) continue;
      // A put by reference has no kind of its own in the portable model; the put by value of the
      // same member is the one the runtime means.
      if (description->funckind != FUNC_DISPATCH && description->oVft >= 0 &&
          description->invkind != INVOKE_PROPERTYPUTREF) {
        size_t slot = size_t(description->oVft) / sizeof(void*);
        InvokeKind kind = kindOf(description->invkind);
        bool known = false;
        for (const FunctionDescription& f : functions) known |= f.slot == slot;
        if (!known) {
          functions.push_back({int32_t(description->memid), kind, slot});
          if (slot >= slotCount) slotCount = slot + 1;
          NativeSignature signature;
          if (description->memid == kDispidInvoke) {
            invokeSlot = slot;
          } else if (signatureOf(current, *description, &signature)) {
            signatures.emplace(slot, std::move(signature));
          }
        }
      }
      current->ReleaseFuncDesc(description);
    }
    ITypeInfo* base = nullptr;
    HREFTYPE reference = 0;
    if (baseCount == 0 || FAILED(current->GetRefTypeOfImplType(0, &reference)) ||
        FAILED(current->GetRefTypeInfo(reference, &base))) {
      base = nullptr;
    }
    current->Release();
    current = base;
  }
  if (current != nullptr) current->Release();

  auto* table = new ComInterfaceTable(interfaceIdText(iid), iid, vtable, slotCount,
                                      std::move(functions), std::move(signatures), invokeSlot);
  tables.emplace(vtable, table);
  return table;
}

}  // namespace

ComDispatch::ComDispatch(IDispatch* target) : target_(target) {
  if (target_ != nullptr) target_->AddRef();
}

ComDispatch::~ComDispatch() {
  for (auto& [cookie, point] : connections_) point->Release();
  if (target_ != nullptr) target_->Release();
}

HResult ComDispatch::invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments,
                            Variant* result, uint32_t locale) {
  if (target_ == nullptr) return kEFail;
  return invokeThrough(invokeOf(target_), target_, memberId, WORD(kind), arguments, result, locale);
}

InterfaceTable* ComDispatch::interfaceTable() {
  if (!tableRead_ && target_ != nullptr) {
    table_ = comInterfaceTableOf(target_);
    tableRead_ = true;
  }
  return table_;
}

std::shared_ptr<Dispatch> ComDispatch::queryInterface(const InterfaceId& iid) {
  IID native;
  if (target_ == nullptr || !parseInterfaceId(iid, &native)) return nullptr;
  void* pointer = nullptr;
  if (FAILED(target_->QueryInterface(native, &pointer)) || pointer == nullptr) return nullptr;
  auto* other = static_cast<IUnknown*>(pointer);
  std::shared_ptr<Dispatch> answer;
  InterfaceTable* table = interfaceTable();
  if (other == target_ || (table != nullptr && table->iid() == iid)) {
    // The object's own dual interface: its calls reach the interface's table either way.
    answer = shared_from_this();
  } else if (IsEqualIID(native, IID_IDispatch)) {
    answer = makeComDispatch(static_cast<IDispatch*>(pointer));
  } else {
    // Only a dual interface is an IDispatch; the other's type information tells.
    auto* asDispatch = static_cast<IDispatch*>(pointer);
    ITypeInfo* info = vtableTypeInfo(asDispatch);
    if (info != nullptr) {
      TYPEATTR* attributes = nullptr;
      if (SUCCEEDED(info->GetTypeAttr(&attributes)) && attributes != nullptr) {
        if (IsEqualIID(attributes->guid, native)) answer = makeComDispatch(asDispatch);
        info->ReleaseTypeAttr(attributes);
      }
      info->Release();
    }
  }
  other->Release();
  return answer;
}

uint32_t ComDispatch::advise(const InterfaceId& events, std::shared_ptr<Dispatch> sink) {
  IID iid;
  if (target_ == nullptr || sink == nullptr || !parseInterfaceId(events, &iid)) return 0;
  IConnectionPointContainer* container = nullptr;
  if (FAILED(target_->QueryInterface(IID_IConnectionPointContainer,
                                     reinterpret_cast<void**>(&container))) ||
      container == nullptr) {
    return 0;
  }
  IConnectionPoint* point = nullptr;
  HRESULT hr = container->FindConnectionPoint(iid, &point);
  container->Release();
  if (FAILED(hr) || point == nullptr) return 0;
  IDispatch* comSink = comObjectFor(sink);
  DWORD cookie = 0;
  hr = comSink != nullptr ? point->Advise(comSink, &cookie) : E_FAIL;
  if (comSink != nullptr) comSink->Release();
  if (FAILED(hr) || cookie == 0 || connections_.count(cookie) != 0) {
    if (SUCCEEDED(hr)) point->Unadvise(cookie);
    point->Release();
    return 0;
  }
  connections_.emplace(cookie, point);
  return cookie;
}

bool ComDispatch::unadvise(uint32_t cookie) {
  auto found = connections_.find(cookie);
  if (found == connections_.end()) return false;
  HRESULT hr = found->second->Unadvise(cookie);
  found->second->Release();
  connections_.erase(found);
  return SUCCEEDED(hr);
}

HResult NativeSlotCall::operator()(Dispatch& self, std::span<Variant> arguments, Variant* result,
                                   uint32_t locale) const {
  IUnknown* pointer = pointerForTable(self, iid, table);
  if (pointer == nullptr) return kEFail;
  HResult hr;
  if (lateBound) {
    if (arguments.size() < 2 || !arguments[0].isInteger() || !arguments[1].isInteger()) {
      hr = kDispEBadParamCount;
    } else {
      hr = invokeThrough(reinterpret_cast<InvokeFunction>(native), static_cast<IDispatch*>(pointer),
                         int32_t(arguments[0].integer()), WORD(arguments[1].integer()),
                         arguments.subspan(2), result, locale);
    }
  } else {
    hr = signature != nullptr
             ? callNativeMember(native, pointer, *signature, arguments, result, locale)
             : kEFail;
  }
  pointer->Release();
  return hr;
}

ComInterfaceTable::ComInterfaceTable(InterfaceId iid, IID nativeIid, void** vtable,
                                     size_t slotCount, std::vector<FunctionDescription> functions,
                                     std::map<size_t, NativeSignature> signatures,
                                     size_t invokeSlot)
    : InterfaceTable(std::move(iid), std::move(functions), {}),
      nativeIid_(nativeIid),
      vtable_(vtable),
      slotCount_(slotCount),
      invokeSlot_(invokeSlot) {
  for (auto& [slot, signature] : signatures) {
    signatures_.emplace(slot, std::make_shared<const NativeSignature>(std::move(signature)));
  }
}

MemberFunction ComInterfaceTable::slot(size_t index) const {
  if (index >= slotCount_) return {};
  NativeSlotCall call;
  call.native = vtable_[index];
  call.iid = nativeIid_;
  call.table = vtable_;
  if (index == invokeSlot_) {
    call.lateBound = true;
  } else {
    auto found = signatures_.find(index);
    if (found == signatures_.end()) return {};
    call.signature = found->second;
  }
  return call;
}

bool ComInterfaceTable::setSlot(size_t index, MemberFunction function) {
  if (index >= slotCount_ || !function) return false;
  if (const auto* native = function.target<NativeSlotCall>()) {
    return writeTableSlot(&vtable_[index], native->native);
  }
  if (index == invokeSlot_) {
    if (invokeHook_ < 0) {
      if (nextInvokeHook >= kInvokeHooks) return false;
      invokeHook_ = nextInvokeHook++;
    }
    invokeHookFunctions()[size_t(invokeHook_)] = std::move(function);
    return writeTableSlot(&vtable_[index],
                          reinterpret_cast<void*>(kInvokeHookEntries[size_t(invokeHook_)]));
  }
  auto found = signatures_.find(index);
  if (found == signatures_.end()) return false;
  void* made = makeNativeMember(
      *found->second, [function = std::move(function)](IUnknown* self, std::span<Variant> arguments,
                                                       Variant* result, uint32_t locale) {
        std::shared_ptr<Dispatch> that = portableObjectFor(self);
        if (that == nullptr) return HRESULT(E_FAIL);
        return HRESULT(function(*that, arguments, result, locale));
      });
  return made != nullptr && writeTableSlot(&vtable_[index], made);
}

InterfaceTable* comInterfaceTableOf(IDispatch* object) {
  return object != nullptr ? readTable(object) : nullptr;
}

IDispatch* comDispatchTarget(Dispatch& object) {
  auto* com = dynamic_cast<ComDispatch*>(&object);
  return com != nullptr ? com->target() : nullptr;
}

std::shared_ptr<Dispatch> makeComDispatch(IDispatch* object) {
  if (object == nullptr) return nullptr;
  return std::make_shared<ComDispatch>(object);
}

std::shared_ptr<Dispatch> portableObjectFor(IUnknown* object) {
  if (object == nullptr) return nullptr;
  if (std::shared_ptr<Dispatch> own = comObjectTarget(object)) return own;
  IUnknown* identity = nullptr;
  if (FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity))) ||
      identity == nullptr) {
    return nullptr;
  }
  // The face holds a reference to the object, so a live entry's identity cannot be reused.
  identity->Release();
  auto& faces = facesByIdentity();
  if (auto found = faces.find(identity); found != faces.end()) {
    if (std::shared_ptr<Dispatch> face = found->second.lock()) return face;
  }
  IDispatch* dispatch = nullptr;
  if (FAILED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) ||
      dispatch == nullptr) {
    return nullptr;
  }
  std::shared_ptr<Dispatch> face = makeComDispatch(dispatch);
  dispatch->Release();
  for (auto it = faces.begin(); it != faces.end();) {
    it = it->second.expired() ? faces.erase(it) : std::next(it);
  }
  faces[identity] = face;
  return face;
}

std::shared_ptr<Dispatch> ComObjectFactory::create(std::u16string_view classOrProgId,
                                                   HResult* result) {
  std::u16string name(classOrProgId);
  auto* text = reinterpret_cast<const wchar_t*>(name.c_str());
  CLSID clsid;
  HRESULT hr = !name.empty() && name.front() == u'{' ? CLSIDFromString(text, &clsid)
                                                     : CLSIDFromProgID(text, &clsid);
  IDispatch* object = nullptr;
  if (SUCCEEDED(hr)) {
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch,
                          reinterpret_cast<void**>(&object));
  }
  if (FAILED(hr) || object == nullptr) {
    if (result != nullptr) *result = FAILED(hr) ? hr : kEFail;
    return nullptr;
  }
  std::shared_ptr<Dispatch> portable = portableObjectFor(object);
  object->Release();
  if (result != nullptr) *result = portable != nullptr ? kSOk : kEFail;
  return portable;
}

std::shared_ptr<Dispatch> ComObjectFactory::objectAt(uint64_t address) {
  if (address == 0) return nullptr;
  return portableObjectFor(reinterpret_cast<IDispatch*>(uintptr_t(address)));
}

}  // namespace korvel::win32
