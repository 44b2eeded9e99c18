#include "hosts/win32/native_call.h"

#include <ole2.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "hosts/win32/com_bridge.h"
#include "tests/win32/check.h"

// Calls a stdcall function with the words pushed as its stack arguments and tells how far ESP
// moved over the call: 0 when the callee popped exactly what was pushed.
extern "C" uint32_t measureStdcall(void* function, const uint32_t* words, uint32_t count,
                                   int32_t* espMoved) __asm__("korvel_test_measure_stdcall");

__asm__(R"(
    .text
    .p2align 4
    .globl korvel_test_measure_stdcall
korvel_test_measure_stdcall:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    pushl %edi
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
    movl %esp, %edi
1:
    testl %ecx, %ecx
    jz 2f
    pushl -4(%esi,%ecx,4)
    decl %ecx
    jmp 1b
2:
    call *8(%ebp)
    movl %esp, %ecx
    subl %edi, %ecx
    movl 20(%ebp), %edx
    movl %ecx, (%edx)
    movl %edi, %esp
    popl %edi
    popl %esi
    popl %ebp
    ret
)");

namespace korvel::win32 {
namespace {

// The calls never touch the object: a recognisable address is enough.
IUnknown* const kSelf = reinterpret_cast<IUnknown*>(uintptr_t(0x5E1F00));

NativeParameter value(VARTYPE type) {
  NativeParameter parameter;
  parameter.type = type;
  return parameter;
}

NativeParameter reference(VARTYPE type) {
  NativeParameter parameter = value(type);
  parameter.byReference = true;
  return parameter;
}

NativeParameter optional(VARTYPE type, Variant defaultValue = Variant()) {
  NativeParameter parameter = value(type);
  parameter.optional = true;
  parameter.defaultValue = std::move(defaultValue);
  return parameter;
}

NativeParameter localeParameter() {
  NativeParameter parameter = value(VT_I4);
  parameter.locale = true;
  return parameter;
}

NativeParameter resultParameter(VARTYPE type) {
  NativeParameter parameter = reference(type);
  parameter.result = true;
  return parameter;
}

std::u16string textOf(BSTR text) {
  return text == nullptr ? std::u16string() : std::u16string(reinterpret_cast<char16_t*>(text));
}

// What a handler was given.
struct Received {
  IUnknown* self = nullptr;
  std::vector<Variant> arguments;
  uint32_t locale = 0;
  bool hadResult = false;
  int calls = 0;
};

NativeHandler recorder(Received* received, Variant answer) {
  return [received, answer](IUnknown* self, std::span<Variant> arguments, Variant* result,
                            uint32_t locale) -> HRESULT {
    ++received->calls;
    received->self = self;
    received->arguments.assign(arguments.begin(), arguments.end());
    received->locale = locale;
    received->hadResult = result != nullptr;
    if (result != nullptr) *result = answer;
    return S_OK;
  };
}

// (VARIANT, long, BSTR, LCID, VARIANT* retval), the shape of most members of the host's tables.
NativeSignature mixedSignature() {
  return NativeSignature{{value(VT_VARIANT), value(VT_I4), value(VT_BSTR), localeParameter(),
                          resultParameter(VT_VARIANT)}};
}
using MixedFunction = HRESULT(__stdcall*)(IUnknown*, VARIANT, LONG, BSTR, LCID, VARIANT*);

// A native member of that shape, as another module implements it.
struct NativeSeen {
  VARIANT first;
  LONG number = 0;
  std::u16string text;
  LCID locale = 0;
  IUnknown* self = nullptr;
} nativeSeen;

HRESULT __stdcall nativeMixed(IUnknown* self, VARIANT first, LONG number, BSTR text, LCID locale,
                              VARIANT* result) {
  nativeSeen.self = self;
  VariantInit(&nativeSeen.first);
  VariantCopy(&nativeSeen.first, &first);
  nativeSeen.number = number;
  nativeSeen.text = textOf(text);
  nativeSeen.locale = locale;
  result->vt = VT_R8;
  result->dblVal = 0.25;
  return S_OK;
}

TEST_CASE("a made member reads its native arguments and answers its result") {
  NativeSignature signature = mixedSignature();
  CHECK_EQ(signature.stackBytes(), size_t(4 + 16 + 4 + 4 + 4 + 4));
  CHECK_EQ(signature.portableCount(), size_t(3));
  Received received;
  void* made = makeNativeMember(signature, recorder(&received, Variant::text(u"done")));
  CHECK(made != nullptr);
  if (made == nullptr) return;

  // Through a function pointer of the member's own type, as early-bound callers call it.
  VARIANT first;
  VariantInit(&first);
  first.vt = VT_R8;
  first.dblVal = 2.5;
  BSTR text = SysAllocString(L"abc");
  VARIANT result;
  VariantInit(&result);
  HRESULT hr = reinterpret_cast<MixedFunction>(made)(kSelf, first, 42, text, 0x409, &result);
  CHECK_EQ(hr, S_OK);
  CHECK_EQ(received.self, kSelf);
  CHECK_EQ(received.arguments.size(), size_t(3));
  if (received.arguments.size() == 3) {
    CHECK(received.arguments[0] == Variant::r8(2.5));
    CHECK(received.arguments[1] == Variant::i4(42));
    CHECK(received.arguments[2] == Variant::text(u"abc"));
  }
  CHECK_EQ(received.locale, 0x409u);
  CHECK(received.hadResult);
  CHECK_EQ(result.vt, VT_BSTR);
  if (result.vt == VT_BSTR) CHECK(textOf(result.bstrVal) == u"done");
  VariantClear(&result);

  // The member pops exactly its arguments, a VARIANT by value taking four words.
  uint32_t words[9] = {
      uint32_t(uintptr_t(kSelf)),  VT_I4, 0, 7, 0, 42, uint32_t(uintptr_t(text)), 0x409,
      uint32_t(uintptr_t(&result))};
  int32_t moved = -1;
  CHECK_EQ(HRESULT(measureStdcall(made, words, 9, &moved)), S_OK);
  CHECK_EQ(moved, 0);
  CHECK(received.arguments.size() == 3 && received.arguments[0] == Variant::i4(7));
  VariantClear(&result);
  SysFreeString(text);

  // Through callNativeMember: portable arguments made native, then portable again.
  std::vector<Variant> arguments{Variant::boolean(true), Variant::text(u"12"), Variant::i4(5)};
  Variant answer;
  CHECK_EQ(callNativeMember(made, kSelf, signature, arguments, &answer, 0x407), S_OK);
  CHECK(received.arguments.size() == 3 && received.arguments[0] == Variant::boolean(true));
  CHECK(received.arguments.size() == 3 && received.arguments[1] == Variant::i4(12));
  CHECK(received.arguments.size() == 3 && received.arguments[2] == Variant::text(u"5"));
  CHECK_EQ(received.locale, 0x407u);
  CHECK(answer == Variant::text(u"done"));
}

TEST_CASE("callNativeMember passes converted arguments to a native member") {
  std::vector<Variant> arguments{Variant::i4(7), Variant::r8(3.0), Variant::text(u"x")};
  Variant answer;
  HRESULT hr = callNativeMember(reinterpret_cast<void*>(&nativeMixed), kSelf, mixedSignature(),
                                arguments, &answer, 0x409);
  CHECK_EQ(hr, S_OK);
  CHECK_EQ(nativeSeen.self, kSelf);
  CHECK_EQ(nativeSeen.first.vt, VT_I4);
  CHECK_EQ(nativeSeen.first.lVal, 7);
  CHECK_EQ(nativeSeen.number, 3);
  CHECK(nativeSeen.text == u"x");
  CHECK_EQ(nativeSeen.locale, LCID(0x409));
  CHECK(answer == Variant::r8(0.25));
  VariantClear(&nativeSeen.first);

  // A text that is no number cannot become the long: refused before the call.
  std::vector<Variant> wrong{Variant::i4(1), Variant::text(u"abc"), Variant::text(u"x")};
  CHECK(FAILED(callNativeMember(reinterpret_cast<void*>(&nativeMixed), kSelf, mixedSignature(),
                                wrong, &answer, 0x409)));
  CHECK(answer.isEmpty());
}

// (long*, BSTR*, VARIANT*, [out] VARIANT_BOOL*): every in-out kind and an output-only one.
NativeSignature referenceSignature() {
  NativeParameter flag = reference(VT_BOOL);
  flag.output = true;
  return NativeSignature{
      {reference(VT_I4), reference(VT_BSTR), reference(VT_VARIANT), std::move(flag)}};
}
using ReferenceFunction = HRESULT(__stdcall*)(IUnknown*, LONG*, BSTR*, VARIANT*, VARIANT_BOOL*);

HRESULT changeReferences(IUnknown*, std::span<Variant> arguments, Variant*, uint32_t) {
  if (arguments.size() != 4) return E_INVALIDARG;
  if (!arguments[3].isEmpty()) return E_UNEXPECTED;  // an output is not read
  arguments[0] = Variant::i4(int32_t(arguments[0].integer() + 1));
  arguments[1] = Variant::text(arguments[1].text() + u"!");
  // Only integers change, so a value without a portable form can be seen to stay as it was.
  if (arguments[2].isInteger()) {
    int64_t n = arguments[2].integer();
    arguments[2] = n < 10 ? Variant::r8(double(n) + 0.5) : Variant::i4(int32_t(n * 2));
  }
  arguments[3] = Variant::boolean(true);
  return S_OK;
}

TEST_CASE("by-reference arguments are written back to both callers") {
  void* made = makeNativeMember(referenceSignature(), changeReferences);
  CHECK(made != nullptr);
  if (made == nullptr) return;
  auto function = reinterpret_cast<ReferenceFunction>(made);

  LONG number = 4;
  BSTR text = SysAllocString(L"hi");
  VARIANT variant;
  VariantInit(&variant);
  variant.vt = VT_I4;
  variant.lVal = 3;
  VARIANT_BOOL flag = 0x1234;
  CHECK_EQ(function(kSelf, &number, &text, &variant, &flag), S_OK);
  CHECK_EQ(number, 5);
  CHECK(textOf(text) == u"hi!");
  CHECK_EQ(variant.vt, VT_R8);
  CHECK_EQ(variant.dblVal, 3.5);
  CHECK_EQ(flag, VARIANT_TRUE);

  // A currency has no portable form; the handler leaves it alone and so must the write-back.
  VariantClear(&variant);
  variant.vt = VT_CY;
  variant.cyVal.int64 = 123456;
  CHECK_EQ(function(kSelf, &number, &text, &variant, &flag), S_OK);
  CHECK_EQ(variant.vt, VT_CY);
  CHECK_EQ(variant.cyVal.int64, 123456);

  // A VARIANT that refers to the caller's variable is written through to it.
  LONG variable = 10;
  variant.vt = VT_BYREF | VT_I4;
  variant.plVal = &variable;
  CHECK_EQ(function(kSelf, &number, &text, &variant, &flag), S_OK);
  CHECK_EQ(variant.vt, VT_BYREF | VT_I4);
  CHECK_EQ(variable, 20);
  SysFreeString(text);

  // The portable caller sees its own arguments changed.
  std::vector<Variant> arguments{Variant::i4(1), Variant::text(u"a"), Variant::i4(2), Variant()};
  CHECK_EQ(callNativeMember(made, kSelf, referenceSignature(), arguments, nullptr, 0), S_OK);
  CHECK(arguments[0] == Variant::i4(2));
  CHECK(arguments[1] == Variant::text(u"a!"));
  CHECK(arguments[2] == Variant::r8(2.5));
  CHECK(arguments[3] == Variant::boolean(true));
}

// (VARIANT, [optional] VARIANT, [defaultvalue(7)] long, [optional] BSTR, VARIANT* retval)
NativeSignature optionalSignature() {
  return NativeSignature{{value(VT_VARIANT), optional(VT_VARIANT), optional(VT_I4, Variant::i4(7)),
                          optional(VT_BSTR), resultParameter(VT_VARIANT)}};
}

struct OptionalSeen {
  VARTYPE secondType = VT_EMPTY;
  SCODE secondError = 0;
  LONG third = 0;
  std::u16string fourth;
  int calls = 0;
} optionalSeen;

HRESULT __stdcall nativeOptional(IUnknown*, VARIANT, VARIANT second, LONG third, BSTR fourth,
                                 VARIANT*) {
  ++optionalSeen.calls;
  optionalSeen.secondType = second.vt;
  optionalSeen.secondError = second.scode;
  optionalSeen.third = third;
  optionalSeen.fourth = textOf(fourth);
  return S_OK;
}

TEST_CASE("omitted optional arguments are padded and counts are checked") {
  struct Case {
    const char* name;
    std::vector<Variant> arguments;
    HRESULT expected;
    VARTYPE secondType;
    LONG third;
    std::u16string fourth;
  };
  const Case cases[] = {
      {"one given", {Variant::i4(1)}, S_OK, VT_ERROR, 7, u""},
      {"missing ones given",
       {Variant::i4(1), Variant::missing(), Variant::missing()},
       S_OK,
       VT_ERROR,
       7,
       u""},
      {"all given",
       {Variant::i4(1), Variant::i4(2), Variant::i4(3), Variant::text(u"t")},
       S_OK,
       VT_I4,
       3,
       u"t"},
      {"required omitted", {}, DISP_E_BADPARAMCOUNT, VT_EMPTY, 0, u""},
      {"required missing", {Variant::missing()}, S_OK, VT_ERROR, 7, u""},
      {"too many",
       {Variant::i4(1), Variant::i4(2), Variant::i4(3), Variant::text(u"t"), Variant::i4(5)},
       DISP_E_BADPARAMCOUNT,
       VT_EMPTY,
       0,
       u""},
  };
  for (const Case& test : cases) {
    std::printf("  case %s\n", test.name);
    optionalSeen = OptionalSeen();
    std::vector<Variant> arguments = test.arguments;
    Variant answer;
    HRESULT hr = callNativeMember(reinterpret_cast<void*>(&nativeOptional), kSelf,
                                  optionalSignature(), arguments, &answer, 0);
    CHECK_EQ(hr, test.expected);
    CHECK_EQ(optionalSeen.calls, SUCCEEDED(test.expected) ? 1 : 0);
    if (FAILED(test.expected)) continue;
    CHECK_EQ(optionalSeen.secondType, test.secondType);
    if (test.secondType == VT_ERROR) CHECK_EQ(optionalSeen.secondError, DISP_E_PARAMNOTFOUND);
    CHECK_EQ(optionalSeen.third, test.third);
    CHECK(optionalSeen.fourth == test.fourth);
  }

  // A made member hands every parameter to its handler, the omitted VARIANT as missing.
  Received received;
  void* made = makeNativeMember(optionalSignature(), recorder(&received, Variant()));
  std::vector<Variant> arguments{Variant::i4(1)};
  CHECK_EQ(callNativeMember(made, kSelf, optionalSignature(), arguments, nullptr, 0), S_OK);
  CHECK_EQ(received.arguments.size(), size_t(4));
  if (received.arguments.size() == 4) {
    CHECK(received.arguments[1].isMissing());
    CHECK(received.arguments[2] == Variant::i4(7));
    CHECK(received.arguments[3] == Variant::text(u""));
  }
}

TEST_CASE("a handler that throws answers E_FAIL and leaves the result empty") {
  void* made = makeNativeMember(
      mixedSignature(), [](IUnknown*, std::span<Variant>, Variant* result, uint32_t) -> HRESULT {
        *result = Variant::i4(1);
        throw std::runtime_error("handler failed");
      });
  VARIANT first;
  VariantInit(&first);
  VARIANT result;
  VariantInit(&result);
  result.vt = VT_I4;  // whatever the caller left there is not read
  result.lVal = 99;
  CHECK_EQ(reinterpret_cast<MixedFunction>(made)(kSelf, first, 0, nullptr, 0, &result), E_FAIL);
  CHECK_EQ(result.vt, VT_EMPTY);
}

// A small portable object, to see objects cross the native boundary and come back as themselves.
class PlainObject : public Dispatch {
 public:
  HResult invoke(int32_t, InvokeKind, std::span<Variant>, Variant* result, uint32_t) override {
    if (result != nullptr) *result = Variant::i4(17);
    return kSOk;
  }
};

TEST_CASE("objects cross a made member as interface pointers") {
  NativeSignature signature{{value(VT_DISPATCH), resultParameter(VT_DISPATCH)}};
  auto object = std::make_shared<PlainObject>();
  Received received;
  void* made = makeNativeMember(signature, recorder(&received, Variant::dispatch(object)));
  std::vector<Variant> arguments{Variant::dispatch(object)};
  Variant answer;
  CHECK_EQ(callNativeMember(made, kSelf, signature, arguments, &answer, 0), S_OK);
  CHECK(received.arguments.size() == 1 && received.arguments[0].object() == object);
  CHECK(answer.type() == VarType::kDispatch && answer.object() == object);

  // Nothing passes as a null pointer.
  std::vector<Variant> nothing{Variant()};
  CHECK_EQ(callNativeMember(made, kSelf, signature, nothing, &answer, 0), S_OK);
  CHECK(received.arguments.size() == 1 && received.arguments[0].type() == VarType::kDispatch &&
        received.arguments[0].object() == nullptr);
}

// A class whose table the compiler puts in read-only data, as modules keep their vtables.
struct Tabled {
  virtual ~Tabled() = default;
  virtual int __stdcall answer() { return 1; }
};

int __stdcall replacedAnswer(Tabled*) { return 2; }

DWORD protectionOf(const void* address) {
  MEMORY_BASIC_INFORMATION page{};
  VirtualQuery(address, &page, sizeof(page));
  return page.Protect;
}

TEST_CASE("writeTableSlot writes a slot of a read-only table and keeps its protection") {
  Tabled* object = new Tabled;
  // Read through volatile: the compiler knows the table's contents and would fold the calls.
  void* volatile* table = *reinterpret_cast<void* volatile**>(object);
  // The slot of answer(): the one after the two destructors.
  const size_t index = 2;
  void** slot = const_cast<void**>(&table[index]);
  using Answer = int(__stdcall*)(Tabled*);
  CHECK_EQ(reinterpret_cast<Answer>(table[index])(object), 1);
  DWORD before = protectionOf(slot);
  CHECK((before &
         (PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) == 0);
  void* original = *slot;
  CHECK(writeTableSlot(slot, reinterpret_cast<void*>(&replacedAnswer)));
  CHECK_EQ(reinterpret_cast<Answer>(table[index])(object), 2);
  CHECK_EQ(protectionOf(slot), before);
  CHECK(writeTableSlot(slot, original));
  CHECK_EQ(reinterpret_cast<Answer>(table[index])(object), 1);
  CHECK(!writeTableSlot(nullptr, original));
  delete object;
}

// A type library built in memory, with the parameter kinds the host's interfaces use.
class SampleLibrary {
 public:
  static constexpr GUID kPlainIid = {
      0x6C1F3A10, 0x2B4D, 0x4E5F, {0x91, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60}};
  static constexpr GUID kEventsIid = {
      0x6C1F3A11, 0x2B4D, 0x4E5F, {0x91, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60}};
  static constexpr GUID kSampleIid = {
      0x6C1F3A12, 0x2B4D, 0x4E5F, {0x91, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60}};

  SampleLibrary() {
    if (FAILED(CreateTypeLib2(SYS_WIN32, L"sample.tlb", &library_))) return;
    ICreateTypeInfo* mode = create(L"Mode", TKIND_ENUM, GUID_NULL);
    ICreateTypeInfo* plain = create(L"IPlain", TKIND_INTERFACE, kPlainIid);
    ICreateTypeInfo* events = create(L"IEvents", TKIND_DISPATCH, kEventsIid);
    sample_ = create(L"ISample", TKIND_INTERFACE, kSampleIid);
    if (mode == nullptr || plain == nullptr || events == nullptr || sample_ == nullptr) return;
    VARIANT one;
    VariantInit(&one);
    one.vt = VT_I4;
    one.lVal = 1;
    VARDESC constant{};
    constant.memid = 0x40000000;
    constant.lpvarValue = &one;
    constant.elemdescVar.tdesc.vt = VT_I4;
    constant.varkind = VAR_CONST;
    mode->AddVarDesc(0, &constant);
    mode->SetVarName(0, const_cast<LPOLESTR>(L"modeOne"));
    mode->LayOut();
    plain->LayOut();
    events->LayOut();
    modeType_ = reference(mode);
    plainType_ = reference(plain);
    eventsType_ = reference(events);
    mode->Release();
    plain->Release();
    events->Release();
  }
  ~SampleLibrary() {
    if (info_ != nullptr) info_->Release();
    if (sample_ != nullptr) sample_->Release();
    if (library_ != nullptr) library_->Release();
  }

  // A function of ISample with the parameters (type, flags), answering `answer`.
  void add(std::vector<std::pair<TYPEDESC, USHORT>> parameters, VARTYPE answer = VT_HRESULT,
           PARAMDESCEX* defaultValue = nullptr) {
    std::vector<ELEMDESC> elements(parameters.size());
    for (size_t i = 0; i < parameters.size(); ++i) {
      elements[i].tdesc = parameters[i].first;
      elements[i].paramdesc.wParamFlags = parameters[i].second;
      if ((parameters[i].second & PARAMFLAG_FHASDEFAULT) != 0) {
        elements[i].paramdesc.pparamdescex = defaultValue;
      }
    }
    FUNCDESC function{};
    function.memid = MEMBERID(functions_ + 1);
    function.funckind = FUNC_PUREVIRTUAL;
    function.invkind = INVOKE_FUNC;
    function.callconv = CC_STDCALL;
    function.cParams = SHORT(elements.size());
    function.lprgelemdescParam = elements.data();
    function.elemdescFunc.tdesc.vt = answer;
    if (sample_ != nullptr && SUCCEEDED(sample_->AddFuncDesc(functions_, &function))) ++functions_;
  }

  // The finished type information, or null where this system cannot build it.
  ITypeInfo* info() {
    if (info_ == nullptr && sample_ != nullptr && SUCCEEDED(sample_->LayOut())) {
      sample_->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(&info_));
    }
    return info_;
  }

  TYPEDESC userDefined(HREFTYPE type) {
    TYPEDESC description{};
    description.vt = VT_USERDEFINED;
    description.hreftype = type;
    return description;
  }
  HREFTYPE modeType_ = 0, plainType_ = 0, eventsType_ = 0;

 private:
  ICreateTypeInfo* create(const wchar_t* name, TYPEKIND kind, REFGUID guid) {
    ICreateTypeInfo* info = nullptr;
    if (library_ == nullptr ||
        FAILED(library_->CreateTypeInfo(const_cast<LPOLESTR>(name), kind, &info))) {
      return nullptr;
    }
    if (!IsEqualGUID(guid, GUID_NULL)) info->SetGuid(guid);
    return info;
  }
  HREFTYPE reference(ICreateTypeInfo* created) {
    ITypeInfo* info = nullptr;
    HREFTYPE type = 0;
    if (sample_ != nullptr &&
        SUCCEEDED(created->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(&info)))) {
      sample_->AddRefTypeInfo(info, &type);
      info->Release();
    }
    return type;
  }

  ICreateTypeLib2* library_ = nullptr;
  ICreateTypeInfo* sample_ = nullptr;
  ITypeInfo* info_ = nullptr;
  UINT functions_ = 0;
};

TYPEDESC plainType(VARTYPE type) {
  TYPEDESC description{};
  description.vt = type;
  return description;
}

TYPEDESC pointerTo(TYPEDESC* target) {
  TYPEDESC description{};
  description.vt = VT_PTR;
  description.lptdesc = target;
  return description;
}

TEST_CASE("signatures read from type information") {
  SampleLibrary library;
  constexpr USHORT in = PARAMFLAG_FIN;
  TYPEDESC variant = plainType(VT_VARIANT);
  TYPEDESC boolean = plainType(VT_BOOL);
  TYPEDESC text = plainType(VT_BSTR);
  TYPEDESC dispatch = plainType(VT_DISPATCH);
  TYPEDESC voidType = plainType(VT_VOID);
  TYPEDESC plain = library.userDefined(library.plainType_);
  TYPEDESC events = library.userDefined(library.eventsType_);
  TYPEDESC eventsPointer = pointerTo(&events);
  PARAMDESCEX seven{};
  seven.cBytes = sizeof(seven);
  seven.varDefaultValue.vt = VT_I4;
  seven.varDefaultValue.lVal = 7;
  // Get(long, [optional] VARIANT, [lcid] long, [out, retval] VARIANT*)
  library.add({{plainType(VT_I4), in},
               {variant, in | PARAMFLAG_FOPT},
               {plainType(VT_I4), in | PARAMFLAG_FLCID},
               {pointerTo(&variant), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}});
  // Put(Mode, [defaultvalue(7)] long, [in, out] BSTR*, [out] VARIANT_BOOL*)
  library.add({{library.userDefined(library.modeType_), in},
               {plainType(VT_I4), in | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT},
               {pointerTo(&text), in | PARAMFLAG_FOUT},
               {pointerTo(&boolean), PARAMFLAG_FOUT}},
              VT_HRESULT, &seven);
  // Objects(IEvents*, IPlain*, [out, retval] IEvents**)
  library.add({{pointerTo(&events), in},
               {pointerTo(&plain), in},
               {pointerTo(&eventsPointer), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}});
  // Refused: no HRESULT, a pointer to nothing, a plain interface by value, a locale as text.
  library.add({{dispatch, in}}, VT_UI4);
  library.add({{pointerTo(&voidType), in}});
  library.add({{plain, in}});
  library.add({{text, in | PARAMFLAG_FLCID}});
  ITypeInfo* info = library.info();
  CHECK(info != nullptr);
  if (info == nullptr) return;

  struct Expected {
    VARTYPE type;
    bool byReference, locale, result, optional, output;
    Variant defaultValue;
    GUID interfaceId;
  };
  const std::vector<std::vector<Expected>> accepted = {
      {{VT_I4, false, false, false, false, false, {}, GUID_NULL},
       {VT_VARIANT, false, false, false, true, false, {}, GUID_NULL},
       {VT_I4, false, true, false, false, false, {}, GUID_NULL},
       {VT_VARIANT, true, false, true, false, false, {}, GUID_NULL}},
      {{VT_I4, false, false, false, false, false, {}, GUID_NULL},
       {VT_I4, false, false, false, true, false, Variant::i4(7), GUID_NULL},
       {VT_BSTR, true, false, false, false, false, {}, GUID_NULL},
       {VT_BOOL, true, false, false, false, true, {}, GUID_NULL}},
      {{VT_DISPATCH, false, false, false, false, false, {}, GUID_NULL},
       {VT_UNKNOWN, false, false, false, false, false, {}, SampleLibrary::kPlainIid},
       {VT_DISPATCH, true, false, true, false, false, {}, GUID_NULL}},
  };
  for (UINT i = 0; i < 7; ++i) {
    std::printf("  function %u\n", i);
    FUNCDESC* function = nullptr;
    CHECK(SUCCEEDED(info->GetFuncDesc(i, &function)));
    if (function == nullptr) continue;
    NativeSignature signature;
    bool read = signatureOf(info, *function, &signature);
    info->ReleaseFuncDesc(function);
    CHECK_EQ(read, i < accepted.size());
    if (!read || i >= accepted.size()) continue;
    const std::vector<Expected>& expected = accepted[i];
    CHECK_EQ(signature.parameters.size(), expected.size());
    for (size_t p = 0; p < expected.size() && p < signature.parameters.size(); ++p) {
      const NativeParameter& parameter = signature.parameters[p];
      CHECK_EQ(parameter.type, expected[p].type);
      CHECK_EQ(parameter.byReference, expected[p].byReference);
      CHECK_EQ(parameter.locale, expected[p].locale);
      CHECK_EQ(parameter.result, expected[p].result);
      CHECK_EQ(parameter.optional, expected[p].optional);
      CHECK_EQ(parameter.output, expected[p].output);
      CHECK(parameter.defaultValue == expected[p].defaultValue);
      CHECK(IsEqualGUID(parameter.interfaceId, expected[p].interfaceId));
    }
  }
}

// The description of (member id, kind) in the type information, as signatureOf reads it.
bool signatureOfMember(ITypeInfo* info, MEMBERID member, INVOKEKIND kind, NativeSignature* out,
                       size_t* slot, FUNCKIND* funcKind) {
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes))) return false;
  WORD count = attributes->cFuncs;
  info->ReleaseTypeAttr(attributes);
  bool found = false;
  for (UINT i = 0; i < count && !found; ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(info->GetFuncDesc(i, &function))) continue;
    if (function->memid == member && function->invkind == kind) {
      found = signatureOf(info, *function, out);
      *slot = size_t(function->oVft) / sizeof(void*);
      *funcKind = function->funckind;
    }
    info->ReleaseFuncDesc(function);
  }
  return found;
}

TEST_CASE("members of another module's dual interface are called through its table") {
  // The system's dictionary object: a dual interface whose members take VARIANTs by reference.
  CLSID dictionaryClass{};
  IDispatch* dictionary = nullptr;
  if (FAILED(CLSIDFromProgID(L"Scripting.Dictionary", &dictionaryClass)) ||
      FAILED(CoCreateInstance(dictionaryClass, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(&dictionary)))) {
    std::printf("  no dictionary object on this system\n");
    return;
  }
  ITypeInfo* info = nullptr;
  CHECK(SUCCEEDED(dictionary->GetTypeInfo(0, 0, &info)));
  if (info == nullptr) {
    dictionary->Release();
    return;
  }
  // The object's own type information is its dispatch view; the signatures come from the
  // interface behind it, the slots from the descriptions' table offsets.
  NativeSignature add, count, item;
  size_t addSlot = 0, countSlot = 0, itemSlot = 0;
  FUNCKIND kind = FUNC_PUREVIRTUAL;
  CHECK(signatureOfMember(info, 1, INVOKE_FUNC, &add, &addSlot, &kind));  // Add(Key, Item)
  CHECK(signatureOfMember(info, 2, INVOKE_PROPERTYGET, &count, &countSlot, &kind));
  CHECK(signatureOfMember(info, 0, INVOKE_PROPERTYGET, &item, &itemSlot, &kind));
  info->Release();
  CHECK_EQ(kind, FUNC_DISPATCH);
  CHECK_EQ(add.portableCount(), size_t(2));
  CHECK(!add.parameters.empty() && add.parameters[0].byReference &&
        add.parameters[0].type == VT_VARIANT);
  CHECK(!count.parameters.empty() && count.parameters.back().result &&
        count.parameters.back().type == VT_I4);

  void** table = *reinterpret_cast<void***>(dictionary);
  std::vector<Variant> entry{Variant::text(u"a"), Variant::i4(5)};
  CHECK_EQ(callNativeMember(table[addSlot], dictionary, add, entry, nullptr, 0), S_OK);
  Variant answer;
  CHECK_EQ(callNativeMember(table[countSlot], dictionary, count, {}, &answer, 0), S_OK);
  CHECK(answer == Variant::i4(1));
  std::vector<Variant> key{Variant::text(u"a")};
  CHECK_EQ(callNativeMember(table[itemSlot], dictionary, item, key, &answer, 0), S_OK);
  CHECK(answer == Variant::i4(5));
  // The object's own answer to a second Add of the key comes back as it is.
  CHECK(FAILED(callNativeMember(table[addSlot], dictionary, add, entry, nullptr, 0)));
  dictionary->Release();
}

}  // namespace
}  // namespace korvel::win32
