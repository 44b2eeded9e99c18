// ComObject: portable objects as real COM objects, called through IDispatch and through the native
// table their interface shares, with type information another module can read and connection
// points that take COM sinks.
#include "hosts/win32/com_object.h"

#include <ocidl.h>
#include <olectl.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "hosts/win32/com_bridge.h"
#include "hosts/win32/native_call.h"
#include "tests/win32/check.h"

namespace korvel::win32 {
namespace {

constexpr InvokeKind kGet = InvokeKind::kPropertyGet;
constexpr InvokeKind kPut = InvokeKind::kPropertyPut;
constexpr InvokeKind kCall = InvokeKind::kMethod;

constexpr int32_t kValue = 6;      // get and put
constexpr int32_t kJoin = 0x100;   // method: its texts joined, then "/" and how many it got
constexpr int32_t kChild = 0x101;  // get: another object
constexpr int32_t kBump = 0x102;   // method outside the table: adds 1 to its by-reference number
constexpr int32_t kThrow = 0x103;  // method: throws
constexpr int32_t kEvent = 0x61D;  // the event the object fires into its sink
const InterfaceId kIid = "{5A1B2C3D-0001-4E5F-8A9B-0C1D2E3F4A5B}";
const InterfaceId kEvents = "{5A1B2C3D-0002-4E5F-8A9B-0C1D2E3F4A5B}";

// A small object of a program: members in a shared table (slots as a dual interface numbers them)
// that run the object's own behaviour, a connection point for one sink.
class TestObject : public Dispatch {
 public:
  explicit TestObject(std::shared_ptr<InterfaceTable> table = {}) : table_(std::move(table)) {}

  HResult invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments, Variant* result,
                 uint32_t locale) override {
    if (table_) {
      if (const FunctionDescription* f = table_->find(memberId, kind)) {
        if (MemberFunction function = table_->slot(f->slot)) {
          return function(*this, arguments, result, locale);
        }
      }
    }
    return own(memberId, kind, arguments, result);
  }
  InterfaceTable* interfaceTable() override { return table_.get(); }
  uint32_t advise(const InterfaceId& events, std::shared_ptr<Dispatch> sink) override {
    if (events != kEvents) return 0;
    sink_ = std::move(sink);
    return 7;
  }
  bool unadvise(uint32_t cookie) override {
    if (cookie != 7 || sink_ == nullptr) return false;
    sink_ = nullptr;
    return true;
  }

  HResult own(int32_t memberId, InvokeKind kind, std::span<Variant> arguments, Variant* result) {
    if (memberId == kValue && kind == kGet) {
      if (result != nullptr) *result = value;
      return kSOk;
    }
    if (memberId == kValue && kind == kPut) {
      if (arguments.empty()) return kDispEBadParamCount;
      value = arguments.back();
      return kSOk;
    }
    if (memberId == kJoin && kind == kCall) {
      std::u16string joined;
      for (const Variant& a : arguments) joined += a.isMissing() ? u"-" : a.text();
      joined += u"/" + std::u16string(1, char16_t(u'0' + arguments.size()));
      if (result != nullptr) *result = Variant::text(joined);
      return kSOk;
    }
    if (memberId == kChild && kind == kGet) {
      if (result != nullptr) *result = Variant::dispatch(child);
      return kSOk;
    }
    if (memberId == kBump && kind == kCall && arguments.size() == 1) {
      arguments[0] = Variant::i4(int32_t(arguments[0].integer()) + 1);
      return kSOk;
    }
    if (memberId == kThrow) throw std::runtime_error("member failed");
    return kDispEMemberNotFound;
  }

  Variant value;
  std::shared_ptr<Dispatch> child;
  std::shared_ptr<Dispatch> sink_;

 private:
  std::shared_ptr<InterfaceTable> table_;
};

// The table of TestObject's interface: slots from `first` on (7 after IUnknown and IDispatch as
// the program's tables number them, 0 for a table that starts at its first member), with the
// late-bound entrance at the Invoke slot when asked.
std::shared_ptr<InterfaceTable> makeTable(size_t first, bool entrance = false) {
  const std::pair<int32_t, InvokeKind> members[] = {
      {kValue, kGet}, {kValue, kPut}, {kJoin, kCall}, {kChild, kGet}, {kThrow, kCall}};
  std::vector<FunctionDescription> functions;
  std::vector<MemberFunction> slots(first + std::size(members));
  if (entrance) {
    functions.push_back({kDispidInvoke, kCall, 6});
    slots[6] = [](Dispatch& self, std::span<Variant> arguments, Variant* result, uint32_t) {
      return static_cast<TestObject&>(self).own(int32_t(arguments[0].integer()),
                                                InvokeKind(arguments[1].integer()),
                                                arguments.subspan(2), result);
    };
  }
  for (size_t i = 0; i < std::size(members); ++i) {
    auto [id, kind] = members[i];
    functions.push_back({id, kind, first + i});
    slots[first + i] = [id = id, kind = kind](Dispatch& self, std::span<Variant> arguments,
                                              Variant* result, uint32_t) {
      return static_cast<TestObject&>(self).own(id, kind, arguments, result);
    };
  }
  return std::make_shared<InterfaceTable>(kIid, std::move(functions), std::move(slots));
}

// A COM object of no portable kind: an event sink that records its calls. A liar answers every
// interface with itself, as a careless object of another module might.
class TestSink : public IDispatch {
 public:
  explicit TestSink(bool liar = false) : liar_(liar) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (liar_ || IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++references); }
  ULONG STDMETHODCALLTYPE Release() override { return ULONG(--references); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** out) override {
    *out = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID memberId, REFIID, LCID, WORD, DISPPARAMS* parameters,
                                   VARIANT*, EXCEPINFO*, UINT*) override {
    calls.push_back(memberId);
    if (parameters->cArgs == 1 && parameters->rgvarg[0].vt == VT_I4) {
      lastArgument = parameters->rgvarg[0].lVal;
    }
    return S_OK;
  }

  int references = 1;  // the test's own, never freed
  std::vector<DISPID> calls;
  LONG lastArgument = 0;

 private:
  bool liar_;
};

IID iidOf(const InterfaceId& text) {
  IID iid{};
  CHECK(parseInterfaceId(text, &iid));
  return iid;
}

// A COM reference released when the scope ends.
template <typename T>
struct Ref {
  T* p = nullptr;
  Ref() = default;
  explicit Ref(T* pointer) : p(pointer) {}
  ~Ref() {
    if (p != nullptr) p->Release();
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T* operator->() const { return p; }
  void** out() { return reinterpret_cast<void**>(&p); }
};

// IDispatch::Invoke with the arguments in declaration order; a put's value goes as the named
// argument. The result is left in *result (cleared first).
HRESULT invokeCom(IDispatch* object, DISPID memberId, WORD flags, std::vector<VARIANT> arguments,
                  VARIANT* result) {
  std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS parameters{reversed.data(), nullptr, UINT(reversed.size()), 0};
  if (flags == DISPATCH_PROPERTYPUT) {
    parameters.rgdispidNamedArgs = &named;
    parameters.cNamedArgs = 1;
  }
  VariantClear(result);
  HRESULT hr = object->Invoke(memberId, IID_NULL, kLocaleEnglish, flags, &parameters, result,
                              nullptr, nullptr);
  for (VARIANT& v : reversed) VariantClear(&v);
  return hr;
}

VARIANT textArgument(const wchar_t* text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return v;
}

VARIANT numberArgument(LONG n) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = n;
  return v;
}

std::wstring textOf(const VARIANT& v) {
  return v.vt == VT_BSTR ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : L"<not text>";
}

void** vtableOf(IUnknown* object) { return *reinterpret_cast<void***>(object); }

TEST_CASE("ComObject: one COM object per portable object, unwrapped by its own module only") {
  auto object = std::make_shared<TestObject>();
  std::weak_ptr<TestObject> watch = object;
  IDispatch* first = comObjectFor(object);
  IDispatch* second = comObjectFor(object);
  CHECK(first != nullptr);
  CHECK_EQ(first, second);
  CHECK(comObjectTarget(first) == object);
  IUnknown* identity = nullptr;
  CHECK_EQ(first->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  CHECK_EQ(static_cast<void*>(identity), static_cast<void*>(first));
  CHECK(comObjectFor(nullptr) == nullptr);
  CHECK(comObjectTarget(nullptr) == nullptr);

  // Another module's object that answers every interface is not taken for one of ours.
  TestSink liar(true);
  CHECK(comObjectTarget(&liar) == nullptr);
  CHECK_EQ(liar.references, 1);
  // A portable face over a COM object goes back as that object.
  std::shared_ptr<Dispatch> overLiar = makeComDispatch(&liar);
  IDispatch* back = comObjectFor(overLiar);
  CHECK_EQ(static_cast<void*>(back), static_cast<void*>(&liar));
  back->Release();

  // The COM object keeps the portable one alive, and goes with its last reference.
  object = nullptr;
  first->Release();
  second->Release();
  CHECK(!watch.expired());
  identity->Release();
  CHECK(watch.expired());
}

TEST_CASE("ComObject: Invoke by member id, with and without an interface table") {
  // The program's numbering, with and without its late-bound entrance; a table that starts at
  // slot 0; an object without type information.
  struct Case {
    const char* name;
    std::shared_ptr<InterfaceTable> table;
  } cases[] = {{"program table", makeTable(7)},
               {"program table with entrance", makeTable(7, true)},
               {"table from slot 0", makeTable(0)},
               {"no table", nullptr}};
  for (Case& c : cases) {
    std::printf("  %s\n", c.name);
    auto object = std::make_shared<TestObject>(c.table);
    object->child = std::make_shared<TestObject>();
    Ref<IDispatch> com(comObjectFor(object));
    VARIANT result;
    VariantInit(&result);

    // Arguments keep their order; trailing omitted ones are not passed on.
    CHECK_EQ(invokeCom(com.p, kJoin, DISPATCH_METHOD,
                       {textArgument(L"a"), textArgument(L"b"), textArgument(L"c")}, &result),
             S_OK);
    CHECK(textOf(result) == L"abc/3");
    CHECK_EQ(invokeCom(com.p, kJoin, DISPATCH_METHOD, {textArgument(L"a")}, &result), S_OK);
    CHECK(textOf(result) == L"a/1");

    // A put takes its value as the named argument; a caller that says method or get reads it.
    CHECK_EQ(invokeCom(com.p, kValue, DISPATCH_PROPERTYPUT, {numberArgument(41)}, &result), S_OK);
    CHECK(object->value == Variant::i4(41));
    CHECK_EQ(invokeCom(com.p, kValue, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, &result), S_OK);
    CHECK(result.vt == VT_I4 && result.lVal == 41);

    // An object comes back as the COM object of the portable one.
    CHECK_EQ(invokeCom(com.p, kChild, DISPATCH_PROPERTYGET, {}, &result), S_OK);
    CHECK(result.vt == VT_DISPATCH && comObjectTarget(result.pdispVal) == object->child);

    // A member the table does not describe is the object's own; by-reference arguments come back.
    VARIANT number = numberArgument(9);
    VARIANT byReference;
    VariantInit(&byReference);
    byReference.vt = VT_BYREF | VT_I4;
    byReference.plVal = &number.lVal;
    DISPPARAMS parameters{&byReference, nullptr, 1, 0};
    CHECK_EQ(
        com->Invoke(kBump, IID_NULL, 0, DISPATCH_METHOD, &parameters, nullptr, nullptr, nullptr),
        S_OK);
    CHECK_EQ(number.lVal, 10);

    CHECK_EQ(invokeCom(com.p, 0x999, DISPATCH_METHOD, {}, &result), DISP_E_MEMBERNOTFOUND);
    // An exception stays on the portable side.
    CHECK_EQ(invokeCom(com.p, kThrow, DISPATCH_METHOD, {}, &result), E_FAIL);
    // A named argument other than a put's value has no place in a portable call.
    DISPID named = 0;
    VARIANT one = numberArgument(1);
    DISPPARAMS withName{&one, &named, 1, 1};
    CHECK_EQ(com->Invoke(kJoin, IID_NULL, 0, DISPATCH_METHOD, &withName, &result, nullptr, nullptr),
             DISP_E_NONAMEDARGS);
    VariantClear(&result);
  }
}

TEST_CASE("ComObject: more arguments than a table's member takes are refused") {
  auto object = std::make_shared<TestObject>(makeTable(7));
  Ref<IDispatch> com(comObjectFor(object));
  std::vector<VARIANT> many(kComMemberParameters + 1);
  for (VARIANT& v : many) v = textArgument(L"x");
  VARIANT result;
  VariantInit(&result);
  CHECK_EQ(invokeCom(com.p, kJoin, DISPATCH_METHOD, std::move(many), &result),
           DISP_E_BADPARAMCOUNT);
}

TEST_CASE("ComObject: type information describes the shared native table") {
  for (bool entrance : {false, true}) {
    for (size_t first : {size_t(0), size_t(7)}) {
      if (entrance && first == 0) continue;
      std::printf("  first slot %u%s\n", unsigned(first), entrance ? ", entrance" : "");
      std::shared_ptr<InterfaceTable> table = makeTable(first, entrance);
      auto a = std::make_shared<TestObject>(table);
      auto b = std::make_shared<TestObject>(table);
      Ref<IDispatch> comA(comObjectFor(a));
      Ref<IDispatch> comB(comObjectFor(b));
      CHECK_EQ(vtableOf(comA.p), vtableOf(comB.p));
      // The interface's identifier answers the same face.
      Ref<IUnknown> asInterface;
      CHECK_EQ(comA->QueryInterface(iidOf(kIid), asInterface.out()), S_OK);
      CHECK_EQ(static_cast<void*>(asInterface.p), static_cast<void*>(comA.p));

      UINT count = 0;
      CHECK_EQ(comA->GetTypeInfoCount(&count), S_OK);
      CHECK_EQ(count, 1u);
      Ref<ITypeInfo> info;
      CHECK_EQ(comA->GetTypeInfo(0, 0, reinterpret_cast<ITypeInfo**>(info.out())), S_OK);
      TYPEATTR* attributes = nullptr;
      CHECK_EQ(info->GetTypeAttr(&attributes), S_OK);
      CHECK(IsEqualIID(attributes->guid, iidOf(kIid)));
      CHECK_EQ(attributes->typekind, TKIND_INTERFACE);
      CHECK((attributes->wTypeFlags & TYPEFLAG_FDUAL) != 0);
      CHECK_EQ(attributes->cFuncs, WORD(table->functionCount()));
      // Members sit after IUnknown and IDispatch whatever slot the portable table starts at.
      size_t shift = first == 0 ? 7 : 0;
      CHECK_EQ(attributes->cbSizeVft, WORD((shift + table->slotCount()) * 4));
      info->ReleaseTypeAttr(attributes);

      for (UINT i = 0; i < table->functionCount(); ++i) {
        const FunctionDescription& f = table->function(i);
        FUNCDESC* d = nullptr;
        CHECK_EQ(info->GetFuncDesc(i, &d), S_OK);
        CHECK_EQ(d->memid, f.memberId);
        CHECK_EQ(int(d->invkind), int(f.kind));
        if (f.memberId == kDispidInvoke) {
          // The entrance is IDispatch::Invoke itself.
          CHECK_EQ(d->oVft, 24);
        } else {
          CHECK_EQ(size_t(d->oVft), (shift + f.slot) * 4);
          CHECK_EQ(d->cParams, SHORT(kComMemberParameters + 2));
          CHECK_EQ(d->cParamsOpt, SHORT(kComMemberParameters));
          NativeSignature signature;
          CHECK(signatureOf(info.p, *d, &signature));
          CHECK_EQ(signature.portableCount(), kComMemberParameters);
          CHECK_EQ(signature.stackBytes(), comMemberSignature().stackBytes());
        }
        info->ReleaseFuncDesc(d);
      }
      FUNCDESC* none = nullptr;
      CHECK(FAILED(info->GetFuncDesc(UINT(table->functionCount()), &none)));
    }
  }
  // An object without a table has no type information.
  Ref<IDispatch> plain(comObjectFor(std::make_shared<TestObject>()));
  UINT count = 1;
  CHECK_EQ(plain->GetTypeInfoCount(&count), S_OK);
  CHECK_EQ(count, 0u);
  ITypeInfo* info = nullptr;
  CHECK(FAILED(plain->GetTypeInfo(0, 0, &info)));
  CHECK(info == nullptr);
}

TEST_CASE("ComObject: a function written into a slot runs for every object of the interface") {
  std::shared_ptr<InterfaceTable> table = makeTable(7, true);
  auto a = std::make_shared<TestObject>(table);
  auto b = std::make_shared<TestObject>(table);
  Ref<IDispatch> comA(comObjectFor(a));
  Ref<IDispatch> comB(comObjectFor(b));
  void** vtable = vtableOf(comA.p);
  size_t slot = 7 + 2;  // kJoin
  void* original = vtable[slot];

  // Early binding through the table reaches the portable member.
  std::vector<Variant> arguments = {Variant::text(u"p"), Variant::text(u"q")};
  Variant answer;
  CHECK_EQ(
      callNativeMember(original, comA.p, comMemberSignature(), arguments, &answer, kLocaleEnglish),
      S_OK);
  CHECK(answer == Variant::text(u"pq/2"));

  int replaced = 0;
  void* replacement =
      makeNativeMember(comMemberSignature(),
                       [&replaced, original](IUnknown* self, std::span<Variant> arguments,
                                             Variant* result, uint32_t locale) -> HRESULT {
                         ++replaced;
                         HRESULT hr = callNativeMember(original, self, comMemberSignature(),
                                                       arguments, result, locale);
                         if (SUCCEEDED(hr)) *result = Variant::text(result->text() + u"!");
                         return hr;
                       });
  CHECK(replacement != nullptr);
  CHECK(writeTableSlot(&vtable[slot], replacement));
  VARIANT result;
  VariantInit(&result);
  CHECK_EQ(invokeCom(comA.p, kJoin, DISPATCH_METHOD, {textArgument(L"x")}, &result), S_OK);
  CHECK(textOf(result) == L"x/1!");
  CHECK_EQ(invokeCom(comB.p, kJoin, DISPATCH_METHOD, {textArgument(L"y")}, &result), S_OK);
  CHECK(textOf(result) == L"y/1!");
  CHECK_EQ(replaced, 2);
  // A member in another slot is untouched.
  CHECK_EQ(invokeCom(comA.p, kValue, DISPATCH_PROPERTYGET, {}, &result), S_OK);
  CHECK_EQ(replaced, 2);

  CHECK(writeTableSlot(&vtable[slot], original));
  CHECK_EQ(invokeCom(comB.p, kJoin, DISPATCH_METHOD, {textArgument(L"z")}, &result), S_OK);
  CHECK(textOf(result) == L"z/1");
  CHECK_EQ(replaced, 2);
  VariantClear(&result);
}

TEST_CASE("ComObject: the table seen from the other side takes portable replacements") {
  std::shared_ptr<InterfaceTable> table = makeTable(7, true);
  auto object = std::make_shared<TestObject>(table);
  Ref<IDispatch> com(comObjectFor(object));
  // What the library sees: the COM object through its own portable face, the same table whichever
  // interface pointer it reads it from.
  std::shared_ptr<Dispatch> view = makeComDispatch(com.p);
  InterfaceTable* native = view->interfaceTable();
  CHECK(native != nullptr);
  if (native == nullptr) return;
  std::shared_ptr<Dispatch> asInterface = view->queryInterface(kIid);
  CHECK(asInterface != nullptr && asInterface->interfaceTable() == native);
  const FunctionDescription* join = native->find(kJoin, kCall);
  const FunctionDescription* entrance = native->find(kDispidInvoke, kCall);
  CHECK(join != nullptr && entrance != nullptr);
  if (join == nullptr || entrance == nullptr) return;
  MemberFunction originalJoin = native->slot(join->slot);
  MemberFunction originalEntrance = native->slot(entrance->slot);
  std::vector<std::string> seen;
  CHECK(native->setSlot(join->slot, [&](Dispatch& self, std::span<Variant> arguments,
                                        Variant* result, uint32_t locale) {
    seen.push_back("join");
    return originalJoin(self, arguments, result, locale);
  }));
  CHECK(native->setSlot(entrance->slot, [&](Dispatch& self, std::span<Variant> arguments,
                                            Variant* result, uint32_t locale) {
    seen.push_back("invoke " + std::to_string(arguments[0].integer()));
    return originalEntrance(self, arguments, result, locale);
  }));

  // Late binding runs the replaced Invoke, which calls the member through its replaced slot.
  VARIANT result;
  VariantInit(&result);
  CHECK_EQ(invokeCom(com.p, kJoin, DISPATCH_METHOD, {textArgument(L"k")}, &result), S_OK);
  CHECK(textOf(result) == L"k/1");
  CHECK((seen == std::vector<std::string>{"invoke 256", "join"}));
  seen.clear();
  std::vector<Variant> arguments = {Variant::text(u"v")};
  Variant answer;
  CHECK_EQ(view->invoke(kJoin, kCall, arguments, &answer), kSOk);
  CHECK(answer == Variant::text(u"v/1"));
  CHECK((seen == std::vector<std::string>{"invoke 256", "join"}));

  CHECK(native->setSlot(join->slot, originalJoin));
  CHECK(native->setSlot(entrance->slot, originalEntrance));
  seen.clear();
  CHECK_EQ(invokeCom(com.p, kJoin, DISPATCH_METHOD, {textArgument(L"m")}, &result), S_OK);
  CHECK(textOf(result) == L"m/1");
  CHECK(seen.empty());
  VariantClear(&result);
}

TEST_CASE("ComObject: connection points reach the portable advise; sinks are called through COM") {
  auto object = std::make_shared<TestObject>(makeTable(7));
  Ref<IDispatch> com(comObjectFor(object));
  Ref<IConnectionPointContainer> container;
  CHECK_EQ(com->QueryInterface(IID_IConnectionPointContainer, container.out()), S_OK);
  Ref<IConnectionPoint> point;
  CHECK_EQ(container->FindConnectionPoint(iidOf(kEvents),
                                          reinterpret_cast<IConnectionPoint**>(point.out())),
           S_OK);
  IID iid{};
  CHECK_EQ(point->GetConnectionInterface(&iid), S_OK);
  CHECK(IsEqualIID(iid, iidOf(kEvents)));

  // A sink of another kind: the program fires into it through COM.
  TestSink sink;
  DWORD cookie = 0;
  CHECK_EQ(point->Advise(&sink, &cookie), S_OK);
  CHECK_EQ(cookie, 7u);
  CHECK(object->sink_ != nullptr);
  std::vector<Variant> eventArguments = {Variant::i4(5)};
  CHECK_EQ(object->sink_->invoke(kEvent, kCall, eventArguments, nullptr), kSOk);
  CHECK((sink.calls == std::vector<DISPID>{kEvent}));
  CHECK_EQ(sink.lastArgument, 5);
  CHECK_EQ(point->Unadvise(cookie), S_OK);
  CHECK_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
  CHECK(object->sink_ == nullptr);
  CHECK_EQ(sink.references, 1);

  // A portable sink of this module comes back as itself.
  auto ownSink = std::make_shared<TestObject>();
  Ref<IDispatch> ownCom(comObjectFor(ownSink));
  CHECK_EQ(point->Advise(ownCom.p, &cookie), S_OK);
  CHECK(object->sink_ == ownSink);
  CHECK_EQ(point->Unadvise(cookie), S_OK);

  // Events the object does not fire.
  Ref<IConnectionPoint> other;
  CHECK_EQ(container->FindConnectionPoint(iidOf(kIid),
                                          reinterpret_cast<IConnectionPoint**>(other.out())),
           S_OK);
  CHECK_EQ(other->Advise(&sink, &cookie), CONNECT_E_CANNOTCONNECT);
  CHECK_EQ(cookie, 0u);
}

}  // namespace
}  // namespace korvel::win32
