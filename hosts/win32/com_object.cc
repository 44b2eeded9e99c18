// ComObject: a portable object as a COM object of this module.
#include "hosts/win32/com_object.h"

#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <exception>
#include <map>
#include <new>
#include <vector>

#include "hosts/win32/com_bridge.h"

namespace korvel::win32 {
namespace {

// The module's private interface: a ComObject answers it with a face whose table is a static of
// the module that made the object, which is how a module tells its own objects from the same kind
// of object made by the other module.
// {6F1E2A53-8C4B-4D7A-9E21-3B5C0D84A7F6}
constexpr IID kTagInterface = {
    0x6f1e2a53, 0x8c4b, 0x4d7a, {0x9e, 0x21, 0x3b, 0x5c, 0x0d, 0x84, 0xa7, 0xf6}};

// Slots of IUnknown and IDispatch lead a dual interface's table; Invoke is the last of them.
constexpr size_t kInvokeSlot = 6;
constexpr size_t kFirstMemberSlot = 7;

HRESULT guarded(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

// Trailing omitted arguments are the ones the caller did not give: the portable members count
// their arguments, as the program's own members count what a caller passed.
std::span<Variant> givenArguments(std::span<Variant> arguments) {
  size_t n = arguments.size();
  while (n > 0 && arguments[n - 1].isMissing()) --n;
  return arguments.first(n);
}

}  // namespace

const NativeSignature& comMemberSignature() {
  static const NativeSignature* const signature = [] {
    auto* s = new NativeSignature;
    for (size_t i = 0; i < kComMemberParameters; ++i) {
      NativeParameter p;
      p.type = VT_VARIANT;
      p.optional = true;
      s->parameters.push_back(p);
    }
    NativeParameter locale;
    locale.type = VT_I4;
    locale.locale = true;
    s->parameters.push_back(locale);
    NativeParameter result;
    result.type = VT_VARIANT;
    result.byReference = true;
    result.result = true;
    s->parameters.push_back(result);
    return s;
  }();
  return *signature;
}

// --- Type information.

// What the native table of one portable interface table describes. Tables, their type information
// and the native members live for the rest of the process: another module may hold their addresses
// (its recorded slots, its cache of tables by address) after every object is gone.
struct ComObject::NativeTable {
  IID iid = GUID_NULL;
  std::vector<FunctionDescription> functions;
  // Native slot of a portable slot: the portable model numbers slots as a dual interface does,
  // after IUnknown and IDispatch; a table whose members sit lower is shifted past them.
  size_t offset = 0;
  // The portable late-bound entrance (kDispidInvoke at the Invoke slot) is IDispatch::Invoke here.
  bool lateBoundEntrance = false;
  std::vector<void*> slots;
  ITypeInfo* typeInformation = nullptr;
  // One object of the table, kept so that the portable table outlives its native one: a table made
  // later can never take its address and inherit slots another module wrote into this one.
  std::shared_ptr<Dispatch> keeper;

  size_t nativeSlot(const FunctionDescription& f) const {
    return lateBoundEntrance && f.memberId == kDispidInvoke && f.slot == kInvokeSlot
               ? kInvokeSlot
               : offset + f.slot;
  }
  const FunctionDescription* find(int32_t memberId, InvokeKind kind) const {
    for (const FunctionDescription& f : functions) {
      if (f.memberId == memberId && f.kind == kind) return &f;
    }
    return nullptr;
  }
};

namespace {

// The minimal type information of a ComObject's interface: a dual interface read directly (no
// dispatch half to resolve), its attributes and its function descriptions. Names, the type library
// and the rest are not kept.
class TypeInformation : public ITypeInfo {
 public:
  TypeInformation(const IID& iid, const std::vector<FunctionDescription>* functions,
                  std::vector<size_t> nativeSlots, size_t slotCount)
      : iid_(iid),
        functions_(functions),
        nativeSlots_(std::move(nativeSlots)),
        slotCount_(slotCount) {}

  // Lives for the process, so references are not counted.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ITypeInfo)) {
      *out = static_cast<ITypeInfo*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** out) override {
    if (out == nullptr) return E_INVALIDARG;
    auto* attributes = new (std::nothrow) TYPEATTR{};
    *out = attributes;
    if (attributes == nullptr) return E_OUTOFMEMORY;
    attributes->guid = iid_;
    attributes->memidConstructor = MEMBERID_NIL;
    attributes->memidDestructor = MEMBERID_NIL;
    attributes->cbSizeInstance = sizeof(void*);
    attributes->typekind = TKIND_INTERFACE;
    attributes->cFuncs = WORD(functions_->size());
    attributes->cbSizeVft = WORD(slotCount_ * sizeof(void*));
    attributes->cbAlignment = sizeof(void*);
    attributes->wTypeFlags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION;
    attributes->wMajorVerNum = 1;
    return S_OK;
  }
  void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* attributes) override { delete attributes; }

  HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** out) override {
    if (out == nullptr) return E_INVALIDARG;
    *out = nullptr;
    if (index >= functions_->size()) return TYPE_E_ELEMENTNOTFOUND;
    const FunctionDescription& f = (*functions_)[index];
    auto* block = new (std::nothrow) FunctionBlock{};
    if (block == nullptr) return E_OUTOFMEMORY;
    FUNCDESC& d = block->description;
    d.memid = f.memberId;
    d.funckind = FUNC_PUREVIRTUAL;
    d.invkind = INVOKEKIND(f.kind);
    d.callconv = CC_STDCALL;
    d.oVft = SHORT(nativeSlots_[index] * sizeof(void*));
    d.elemdescFunc.tdesc.vt = VT_HRESULT;
    d.lprgelemdescParam = block->parameters;
    if (nativeSlots_[index] == kInvokeSlot) {
      describeInvoke(block);
    } else {
      describeMember(block);
    }
    *out = &block->description;
    return S_OK;
  }
  void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* description) override {
    // The description is the first member of its block.
    delete reinterpret_cast<FunctionBlock*>(description);
  }

  HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT, HREFTYPE* out) override {
    if (out != nullptr) *out = 0;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT, INT* out) override {
    if (out != nullptr) *out = 0;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR*, UINT, MEMBERID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** out) override { return notKept(out); }
  HRESULT STDMETHODCALLTYPE GetVarDesc(UINT, VARDESC** out) override { return notKept(out); }
  HRESULT STDMETHODCALLTYPE GetNames(MEMBERID, BSTR*, UINT, UINT* count) override {
    if (count != nullptr) *count = 0;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(PVOID, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID, BSTR* name, BSTR* text, DWORD* context,
                                             BSTR* file) override {
    if (name != nullptr) *name = nullptr;
    if (text != nullptr) *text = nullptr;
    if (context != nullptr) *context = 0;
    if (file != nullptr) *file = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID, INVOKEKIND, BSTR* dll, BSTR* name,
                                        WORD* ordinal) override {
    if (dll != nullptr) *dll = nullptr;
    if (name != nullptr) *name = nullptr;
    if (ordinal != nullptr) *ordinal = 0;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE, ITypeInfo** out) override {
    return notKept(out);
  }
  HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID, INVOKEKIND, PVOID* out) override {
    return notKept(out);
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, PVOID* out) override {
    return notKept(out);
  }
  HRESULT STDMETHODCALLTYPE GetMops(MEMBERID, BSTR* out) override { return notKept(out); }
  HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** library, UINT* index) override {
    if (index != nullptr) *index = 0;
    return notKept(library);
  }
  void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC*) override {}

 private:
  static constexpr size_t kMostParameters = kComMemberParameters + 2;
  struct FunctionBlock {
    FUNCDESC description;
    ELEMDESC parameters[kMostParameters];
    TYPEDESC pointees[kMostParameters];
  };

  template <typename T>
  static HRESULT notKept(T** out) {
    if (out != nullptr) *out = nullptr;
    return E_NOTIMPL;
  }

  static void parameter(FunctionBlock* block, size_t i, VARTYPE type, USHORT flags,
                        VARTYPE pointee = VT_EMPTY) {
    ELEMDESC& e = block->parameters[i];
    e.tdesc.vt = type;
    if (type == VT_PTR) {
      block->pointees[i].vt = pointee;
      e.tdesc.lptdesc = &block->pointees[i];
    }
    e.paramdesc.wParamFlags = flags;
  }

  static void describeMember(FunctionBlock* block) {
    for (size_t i = 0; i < kComMemberParameters; ++i) {
      parameter(block, i, VT_VARIANT, PARAMFLAG_FIN | PARAMFLAG_FOPT);
    }
    parameter(block, kComMemberParameters, VT_I4, PARAMFLAG_FIN | PARAMFLAG_FLCID);
    parameter(block, kComMemberParameters + 1, VT_PTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL,
              VT_VARIANT);
    block->description.cParams = SHORT(kComMemberParameters + 2);
    block->description.cParamsOpt = SHORT(kComMemberParameters);
  }

  // IDispatch::Invoke as the dual interface inherits it; the structures it points to are left
  // untyped, as nobody calls it from its description.
  static void describeInvoke(FunctionBlock* block) {
    parameter(block, 0, VT_I4, PARAMFLAG_FIN);
    parameter(block, 1, VT_PTR, PARAMFLAG_FIN, VT_VOID);
    parameter(block, 2, VT_UI4, PARAMFLAG_FIN);
    parameter(block, 3, VT_UI2, PARAMFLAG_FIN);
    parameter(block, 4, VT_PTR, PARAMFLAG_FIN, VT_VOID);
    parameter(block, 5, VT_PTR, PARAMFLAG_FOUT, VT_VARIANT);
    parameter(block, 6, VT_PTR, PARAMFLAG_FOUT, VT_VOID);
    parameter(block, 7, VT_PTR, PARAMFLAG_FOUT, VT_UINT);
    block->description.cParams = 8;
    block->description.wFuncFlags = FUNCFLAG_FRESTRICTED;
  }

  IID iid_;
  const std::vector<FunctionDescription>* functions_;
  std::vector<size_t> nativeSlots_;
  size_t slotCount_;
};

}  // namespace

// --- The faces' native functions.

struct ComObject::Faces {
  // IUnknown and IDispatch of the dispatch face, as the first seven slots of every table.
  static HRESULT __stdcall queryInterface(IUnknown* self, REFIID iid, void** out) {
    return fromDispatchFace(self)->queryInterface(iid, out);
  }
  static ULONG __stdcall addReference(IUnknown* self) {
    return fromDispatchFace(self)->addReference();
  }
  static ULONG __stdcall release(IUnknown* self) { return fromDispatchFace(self)->release(); }

  static HRESULT __stdcall getTypeInfoCount(IUnknown* self, UINT* count) {
    if (count == nullptr) return E_INVALIDARG;
    *count = fromDispatchFace(self)->table_ != nullptr ? 1 : 0;
    return S_OK;
  }
  static HRESULT __stdcall getTypeInfo(IUnknown* self, UINT index, LCID, ITypeInfo** out) {
    if (out == nullptr) return E_INVALIDARG;
    *out = nullptr;
    NativeTable* table = fromDispatchFace(self)->table_;
    if (index != 0 || table == nullptr) return DISP_E_BADINDEX;
    *out = table->typeInformation;
    (*out)->AddRef();
    return S_OK;
  }
  // The portable model calls members by id only.
  static HRESULT __stdcall getIDsOfNames(IUnknown*, REFIID, LPOLESTR*, UINT count, LCID,
                                         DISPID* ids) {
    if (ids != nullptr) {
      for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    }
    return DISP_E_UNKNOWNNAME;
  }
  static HRESULT __stdcall invoke(IUnknown* self, DISPID memberId, REFIID, LCID locale, WORD flags,
                                  DISPPARAMS* parameters, VARIANT* result, EXCEPINFO*,
                                  UINT* argumentError) {
    try {
      return invokeMember(fromDispatchFace(self), memberId, locale, flags, parameters, result,
                          argumentError);
    } catch (...) {
      return guarded(std::current_exception());
    }
  }

  static HRESULT invokeMember(ComObject* owner, DISPID memberId, LCID locale, WORD flags,
                              DISPPARAMS* parameters, VARIANT* result, UINT* argumentError) {
    if (result != nullptr) VariantInit(result);
    if (argumentError != nullptr) *argumentError = 0;
    UINT count = parameters != nullptr ? parameters->cArgs : 0;
    UINT named = parameters != nullptr ? parameters->cNamedArgs : 0;
    if (count > 0 && parameters->rgvarg == nullptr) return E_INVALIDARG;
    bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    // The one named argument is the value of a put; portable members take it last.
    if (named > 1 || named > count ||
        (named == 1 && (!put || parameters->rgdispidNamedArgs == nullptr ||
                        parameters->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))) {
      return DISP_E_NONAMEDARGS;
    }
    // DISPPARAMS holds the named arguments first, then the positional ones last to first.
    std::vector<VARIANT*> order;
    order.reserve(count);
    for (UINT i = count; i > named; --i) order.push_back(&parameters->rgvarg[i - 1]);
    if (named == 1) order.push_back(&parameters->rgvarg[0]);
    std::vector<Variant> arguments;
    arguments.reserve(count);
    for (VARIANT* v : order) arguments.push_back(fromComVariant(*v));
    // By-reference arguments as they came, so that only the ones a member changed are written.
    std::vector<Variant> given(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
      if (order[i]->vt & VT_BYREF) given[i] = arguments[i];
    }

    // A caller that cannot tell a property from a method (METHOD | PROPERTYGET) gets the property
    // when there is one.
    InvokeKind kinds[2];
    size_t kindCount = 0;
    if (put) {
      kinds[kindCount++] = InvokeKind::kPropertyPut;
    } else {
      if (flags & DISPATCH_PROPERTYGET) kinds[kindCount++] = InvokeKind::kPropertyGet;
      if (flags & DISPATCH_METHOD) kinds[kindCount++] = InvokeKind::kMethod;
    }
    if (kindCount == 0) return E_INVALIDARG;
    Variant value;
    HRESULT hr = DISP_E_MEMBERNOTFOUND;
    for (size_t k = 0; k < kindCount && hr == DISP_E_MEMBERNOTFOUND; ++k) {
      value = Variant();
      hr = owner->call(memberId, kinds[k], arguments, &value, locale);
    }
    for (size_t i = 0; i < given.size(); ++i) {
      if ((order[i]->vt & VT_BYREF) && !(arguments[i] == given[i])) {
        writeBack(arguments[i], order[i]);
      }
    }
    if (FAILED(hr) || result == nullptr) return hr;
    HRESULT converted = toComVariant(value, result);
    return FAILED(converted) ? converted : hr;
  }

  // The private interface's face.
  static HRESULT __stdcall tagQueryInterface(IUnknown* self, REFIID iid, void** out) {
    return reinterpret_cast<TagFace*>(self)->owner->queryInterface(iid, out);
  }
  static ULONG __stdcall tagAddReference(IUnknown* self) {
    return reinterpret_cast<TagFace*>(self)->owner->addReference();
  }
  static ULONG __stdcall tagRelease(IUnknown* self) {
    return reinterpret_cast<TagFace*>(self)->owner->release();
  }

  // The table of an object with no interface table: IUnknown and IDispatch only.
  static void* const* plainTable() {
    static void* const table[] = {
        reinterpret_cast<void*>(&queryInterface), reinterpret_cast<void*>(&addReference),
        reinterpret_cast<void*>(&release),        reinterpret_cast<void*>(&getTypeInfoCount),
        reinterpret_cast<void*>(&getTypeInfo),    reinterpret_cast<void*>(&getIDsOfNames),
        reinterpret_cast<void*>(&invoke)};
    return table;
  }
  static void* const* tagTable() {
    static void* const table[] = {reinterpret_cast<void*>(&tagQueryInterface),
                                  reinterpret_cast<void*>(&tagAddReference),
                                  reinterpret_cast<void*>(&tagRelease)};
    return table;
  }

  // The native member that serves a portable slot in every table: it finds the object from the
  // pointer it is called on, so one function serves the slot of any interface.
  static void* memberFor(size_t portableSlot) {
    static auto* members = new std::vector<void*>;
    if (portableSlot < members->size() && (*members)[portableSlot] != nullptr) {
      return (*members)[portableSlot];
    }
    void* member = makeNativeMember(comMemberSignature(),
                                    [portableSlot](IUnknown* self, std::span<Variant> arguments,
                                                   Variant* result, uint32_t locale) -> HRESULT {
                                      return fromDispatchFace(self)->callPortableSlot(
                                          portableSlot, arguments, result, locale);
                                    });
    if (member == nullptr) return nullptr;
    if (members->size() <= portableSlot) members->resize(portableSlot + 1);
    (*members)[portableSlot] = member;
    return member;
  }

  // The native table of a portable table, made once; null when executable memory ran out.
  static NativeTable* tableFor(const std::shared_ptr<Dispatch>& object, InterfaceTable& portable) {
    static auto* tables = new std::map<const InterfaceTable*, NativeTable*>;
    auto found = tables->find(&portable);
    if (found != tables->end()) return found->second;

    auto table = std::make_unique<NativeTable>();
    bool entrance = false;
    bool low = false;
    for (size_t i = 0; i < portable.functionCount(); ++i) {
      const FunctionDescription& f = portable.function(i);
      table->functions.push_back(f);
      if (f.memberId == kDispidInvoke && f.kind == InvokeKind::kMethod && f.slot == kInvokeSlot) {
        entrance = true;
      } else if (f.slot < kFirstMemberSlot) {
        low = true;
      }
    }
    table->offset = low ? kFirstMemberSlot : 0;
    table->lateBoundEntrance = entrance && !low;
    size_t slotCount = std::max(kFirstMemberSlot, table->offset + portable.slotCount());
    std::vector<size_t> nativeSlots;
    for (const FunctionDescription& f : table->functions) {
      nativeSlots.push_back(table->nativeSlot(f));
      slotCount = std::max(slotCount, nativeSlots.back() + 1);
    }
    table->slots.assign(plainTable(), plainTable() + kFirstMemberSlot);
    for (size_t i = kFirstMemberSlot; i < slotCount; ++i) {
      void* member = memberFor(i - table->offset);
      if (member == nullptr) return nullptr;
      table->slots.push_back(member);
    }
    if (!parseInterfaceId(portable.iid(), &table->iid)) table->iid = GUID_NULL;
    table->typeInformation =
        new TypeInformation(table->iid, &table->functions, std::move(nativeSlots), slotCount);
    table->keeper = object;
    NativeTable* made = table.release();
    (*tables)[&portable] = made;
    return made;
  }
};

// --- Connection points.

class ComObject::Container final : public IConnectionPointContainer {
 public:
  explicit Container(ComObject* owner) : owner_(owner) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return owner_->queryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return owner_->addReference(); }
  ULONG STDMETHODCALLTYPE Release() override { return owner_->release(); }

  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override {
    if (out != nullptr) *out = nullptr;
    return E_NOTIMPL;
  }
  // Any events interface: whether the object fires it shows when a sink is advised.
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;

 private:
  ComObject* owner_;
};

class ComObject::ConnectionPoint final : public IConnectionPoint {
 public:
  ConnectionPoint(ComObject* owner, const IID& iid) : owner_(owner), iid_(iid) {
    owner_->addReference();
  }
  ~ConnectionPoint() { owner_->release(); }
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
      *out = static_cast<IConnectionPoint*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&references_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return ULONG(left);
  }

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* out) override {
    if (out == nullptr) return E_POINTER;
    *out = iid_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override {
    if (out == nullptr) return E_POINTER;
    *out = owner_->container_.get();
    (*out)->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
    if (cookie != nullptr) *cookie = 0;
    if (sink == nullptr || cookie == nullptr) return E_POINTER;
    try {
      IDispatch* dispatch = nullptr;
      if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) ||
          dispatch == nullptr) {
        return CONNECT_E_CANNOTCONNECT;
      }
      std::shared_ptr<Dispatch> portableSink = portableObjectFor(dispatch);
      dispatch->Release();
      if (portableSink == nullptr) return CONNECT_E_CANNOTCONNECT;
      *cookie = owner_->object_->advise(interfaceIdText(iid_), std::move(portableSink));
      return *cookie != 0 ? S_OK : CONNECT_E_CANNOTCONNECT;
    } catch (...) {
      return guarded(std::current_exception());
    }
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
    try {
      return owner_->object_->unadvise(cookie) ? S_OK : CONNECT_E_NOCONNECTION;
    } catch (...) {
      return guarded(std::current_exception());
    }
  }
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override {
    if (out != nullptr) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  ComObject* owner_;
  IID iid_;
  LONG references_ = 1;
};

HRESULT ComObject::Container::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  if (out == nullptr) return E_POINTER;
  *out = new (std::nothrow) ConnectionPoint(owner_, iid);
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

// --- The object.

namespace {

// The living COM object of each portable object.
std::map<const Dispatch*, ComObject*>& liveObjects() {
  static auto* objects = new std::map<const Dispatch*, ComObject*>;
  return *objects;
}

}  // namespace

ComObject::ComObject(std::shared_ptr<Dispatch> object)
    : dispatchFace_{Faces::plainTable(), this},
      tagFace_{Faces::tagTable(), this},
      container_(std::make_unique<Container>(this)),
      object_(std::move(object)) {
  if (InterfaceTable* portable = object_->interfaceTable()) {
    table_ = Faces::tableFor(object_, *portable);
    if (table_ != nullptr) dispatchFace_.table = table_->slots.data();
  }
}

ComObject::~ComObject() = default;

IDispatch* ComObject::of(const std::shared_ptr<Dispatch>& object) {
  std::map<const Dispatch*, ComObject*>& live = liveObjects();
  auto found = live.find(object.get());
  if (found != live.end()) {
    found->second->addReference();
    return found->second->dispatchFace();
  }
  // Called from conversions that answer E_OUTOFMEMORY for a null object.
  ComObject* made = nullptr;
  try {
    made = new ComObject(object);
    live[object.get()] = made;
    return made->dispatchFace();
  } catch (...) {
    delete made;
    return nullptr;
  }
}

std::shared_ptr<Dispatch> ComObject::portableOf(IUnknown* object) {
  if (object == nullptr) return nullptr;
  IUnknown* tag = nullptr;
  if (FAILED(object->QueryInterface(kTagInterface, reinterpret_cast<void**>(&tag))) ||
      tag == nullptr) {
    return nullptr;
  }
  std::shared_ptr<Dispatch> portable;
  // Only this module's faces have this module's table; any other answer is released unread.
  if (*reinterpret_cast<void* const* const*>(tag) == Faces::tagTable()) {
    portable = reinterpret_cast<TagFace*>(tag)->owner->object_;
  }
  tag->Release();
  return portable;
}

ComObject* ComObject::fromDispatchFace(IUnknown* face) {
  return reinterpret_cast<DispatchFace*>(face)->owner;
}

ULONG ComObject::addReference() { return ULONG(InterlockedIncrement(&references_)); }

ULONG ComObject::release() {
  LONG left = InterlockedDecrement(&references_);
  if (left == 0) {
    liveObjects().erase(object_.get());
    delete this;
  }
  return ULONG(left);
}

HRESULT ComObject::queryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      (table_ != nullptr && !IsEqualIID(table_->iid, GUID_NULL) && IsEqualIID(iid, table_->iid))) {
    *out = dispatchFace();
  } else if (IsEqualIID(iid, IID_IConnectionPointContainer)) {
    *out = static_cast<IConnectionPointContainer*>(container_.get());
  } else if (IsEqualIID(iid, kTagInterface)) {
    *out = &tagFace_;
  }
  if (*out != nullptr) {
    addReference();
    return S_OK;
  }
  // Another interface of the portable object is its own COM object, unless it is this one.
  try {
    std::shared_ptr<Dispatch> other = object_->queryInterface(interfaceIdText(iid));
    if (other == nullptr) return E_NOINTERFACE;
    if (other == object_) {
      addReference();
      *out = dispatchFace();
    } else {
      *out = of(other);
    }
    return S_OK;
  } catch (...) {
    return guarded(std::current_exception());
  }
}

HRESULT ComObject::call(int32_t memberId, InvokeKind kind, std::span<Variant> arguments,
                        Variant* result, uint32_t locale) {
  const FunctionDescription* f = table_ != nullptr ? table_->find(memberId, kind) : nullptr;
  if (f == nullptr || table_->nativeSlot(*f) == kInvokeSlot) {
    return object_->invoke(memberId, kind, arguments, result, locale);
  }
  // Read from the object's table at the call, so that whatever function a slot holds now runs.
  void* function = dispatchFace_.table[table_->nativeSlot(*f)];
  return callNativeMember(function, reinterpret_cast<IUnknown*>(dispatchFace()),
                          comMemberSignature(), arguments, result, locale);
}

HRESULT ComObject::callPortableSlot(size_t slot, std::span<Variant> arguments, Variant* result,
                                    uint32_t locale) {
  try {
    InterfaceTable* portable = object_->interfaceTable();
    MemberFunction function = portable != nullptr ? portable->slot(slot) : MemberFunction();
    if (!function) return DISP_E_MEMBERNOTFOUND;
    return function(*object_, givenArguments(arguments), result, locale);
  } catch (...) {
    return guarded(std::current_exception());
  }
}

IDispatch* makeComObject(const std::shared_ptr<Dispatch>& object) {
  return object != nullptr ? ComObject::of(object) : nullptr;
}

std::shared_ptr<Dispatch> comObjectTarget(IUnknown* object) {
  return ComObject::portableOf(object);
}

IDispatch* comObjectFor(const std::shared_ptr<Dispatch>& object) {
  if (object == nullptr) return nullptr;
  if (IDispatch* target = comDispatchTarget(*object)) {
    target->AddRef();
    return target;
  }
  return ComObject::of(object);
}

}  // namespace korvel::win32
