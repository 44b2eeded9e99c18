// The COM bridge seen from the runtime's side: VARIANT conversions, COM objects of another module
// as portable objects, their native tables as interface tables, and connection points.
#include "hosts/win32/com_bridge.h"

#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hosts/win32/com_dispatch.h"
#include "tests/win32/check.h"

namespace korvel::win32 {
namespace {

// ---- Conversions ----------------------------------------------------------------------------

Variant roundTrip(const Variant& value, VARTYPE* type = nullptr) {
  VARIANT com;
  VariantInit(&com);
  if (FAILED(toComVariant(value, &com))) return Variant::error(0xDEAD);
  if (type != nullptr) *type = com.vt;
  Variant back = fromComVariant(com);
  VariantClear(&com);
  return back;
}

TEST_CASE("every portable type makes the round trip through a VARIANT of its own type") {
  struct Case {
    Variant value;
    VARTYPE type;
  };
  const Case cases[] = {
      {Variant(), VT_EMPTY},
      {Variant::null(), VT_NULL},
      {Variant::i1(-5), VT_I1},
      {Variant::ui1(250), VT_UI1},
      {Variant::i2(-30000), VT_I2},
      {Variant::ui2(60000), VT_UI2},
      {Variant::i4(-2000000000), VT_I4},
      {Variant::ui4(4000000000u), VT_UI4},
      {Variant::r8(-1.25e300), VT_R8},
      {Variant::boolean(true), VT_BOOL},
      {Variant::boolean(false), VT_BOOL},
      {Variant::error(0x800A07E7u), VT_ERROR},
      {Variant::missing(), VT_ERROR},
      {Variant::text(u""), VT_BSTR},
      {Variant::text(std::u16string(u"a\0b\u00e9", 4)), VT_BSTR},
      {Variant::dispatch(nullptr), VT_DISPATCH},
  };
  for (const Case& c : cases) {
    VARTYPE type = 0;
    Variant back = roundTrip(c.value, &type);
    CHECK_EQ(type, c.type);
    CHECK(back == c.value);
  }
}

TEST_CASE("automation types without a portable form read as numbers, others as a mismatch") {
  struct Case {
    VARTYPE type;
    LONGLONG bits;  // the value field's 8 bytes
    Variant expected;
  };
  double date = 45000.5;
  float single = 0.5f;
  LONGLONG dateBits = 0, singleBits = 0;
  std::memcpy(&dateBits, &date, sizeof date);
  std::memcpy(&singleBits, &single, sizeof single);
  const Case cases[] = {
      {VT_DATE, dateBits, Variant::r8(45000.5)},
      {VT_CY, 123456, Variant::r8(12.3456)},
      {VT_I8, -(1ll << 40), Variant::r8(-1099511627776.0)},
      {VT_UI8, 1ll << 40, Variant::r8(1099511627776.0)},
      {VT_R4, singleBits, Variant::r8(0.5)},
      {VT_INT, -7, Variant::i4(-7)},
      {VT_UINT, 7, Variant::ui4(7)},
      {VT_BSTR, 0, Variant::text(u"")},  // a null BSTR is the empty text
      {VT_RECORD, 0, Variant::error(DISP_E_TYPEMISMATCH)},
      {VT_BLOB, 0, Variant::error(DISP_E_TYPEMISMATCH)},
      {VT_VARIANT, 0, Variant::error(DISP_E_TYPEMISMATCH)},  // only by reference
  };
  for (const Case& c : cases) {
    VARIANT value;
    VariantInit(&value);
    value.vt = c.type;
    value.llVal = c.bits;
    CHECK(fromComVariant(value) == c.expected);
  }
  VARIANT decimal;
  VariantInit(&decimal);
  decimal.decVal.scale = 2;
  decimal.decVal.sign = DECIMAL_NEG;
  decimal.decVal.Lo64 = 314;
  decimal.vt = VT_DECIMAL;
  CHECK(fromComVariant(decimal) == Variant::r8(-3.14));
}

TEST_CASE("by-reference VARIANTs are read through and written back where the types agree") {
  VARIANT_BOOL cancel = VARIANT_FALSE;
  LONG count = 5;
  BSTR name = SysAllocString(L"old");
  VARIANT inner;
  VariantInit(&inner);
  inner.vt = VT_I4;
  inner.lVal = 9;
  VARIANT references[4];
  for (VARIANT& r : references) VariantInit(&r);
  references[0].vt = VT_BYREF | VT_BOOL;
  references[0].pboolVal = &cancel;
  references[1].vt = VT_BYREF | VT_I4;
  references[1].plVal = &count;
  references[2].vt = VT_BYREF | VT_BSTR;
  references[2].pbstrVal = &name;
  references[3].vt = VT_BYREF | VT_VARIANT;
  references[3].pvarVal = &inner;

  CHECK(fromComVariant(references[0]) == Variant::boolean(false));
  CHECK(fromComVariant(references[1]) == Variant::i4(5));
  CHECK(fromComVariant(references[2]) == Variant::text(u"old"));
  CHECK(fromComVariant(references[3]) == Variant::i4(9));

  writeBack(Variant::boolean(true), &references[0]);
  CHECK_EQ(cancel, VARIANT_TRUE);
  writeBack(Variant::r8(41.6), &references[1]);  // converted to the argument's type
  CHECK_EQ(count, 42);
  writeBack(Variant::text(u"abc"), &references[1]);  // no number: left as it is
  CHECK_EQ(count, 42);
  writeBack(Variant::text(u"new"), &references[2]);
  CHECK(std::wstring(name) == L"new");
  writeBack(Variant::text(u"any"), &references[3]);
  CHECK_EQ(inner.vt, VT_BSTR);
  CHECK(fromComVariant(inner) == Variant::text(u"any"));

  VARIANT loop;  // a reference to a reference, here to itself
  VariantInit(&loop);
  loop.vt = VT_BYREF | VT_VARIANT;
  loop.pvarVal = &loop;
  CHECK(fromComVariant(loop) == Variant::error(DISP_E_TYPEMISMATCH));

  VARIANT byValue;
  VariantInit(&byValue);
  byValue.vt = VT_I4;
  byValue.lVal = 3;
  writeBack(Variant::i4(4), &byValue);  // not a reference: nothing to write into
  CHECK_EQ(byValue.lVal, 3);
  SysFreeString(name);
  VariantClear(&inner);
}

TEST_CASE("a two-dimensional array keeps its bounds and the automation element order") {
  VariantArray cells = VariantArray::twoDimensions(2, 3, 1);
  for (int32_t i = 1; i <= 2; ++i) {
    for (int32_t j = 1; j <= 3; ++j) cells.at(i, j) = Variant::i4(i * 10 + j);
  }
  cells.at(2, 3) = Variant::text(u"last");
  Variant value = Variant::array(cells);
  VARIANT com;
  VariantInit(&com);
  CHECK(SUCCEEDED(toComVariant(value, &com)));
  CHECK_EQ(com.vt, VT_ARRAY | VT_VARIANT);
  SAFEARRAY* array = com.parray;
  CHECK_EQ(SafeArrayGetDim(array), 2u);
  LONG lower = 0, upper = 0;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  CHECK(lower == 1 && upper == 2);
  SafeArrayGetLBound(array, 2, &lower);
  SafeArrayGetUBound(array, 2, &upper);
  CHECK(lower == 1 && upper == 3);
  // The array keeps its last dimension first, and the first index runs fastest in memory.
  CHECK_EQ(array->rgsabound[0].cElements, 3u);
  CHECK_EQ(array->rgsabound[1].cElements, 2u);
  VARIANT* data = nullptr;
  SafeArrayAccessData(array, reinterpret_cast<void**>(&data));
  CHECK(data[1].vt == VT_I4 && data[1].lVal == 21);  // (2, 1)
  CHECK(data[2].vt == VT_I4 && data[2].lVal == 12);  // (1, 2)
  CHECK(data[5].vt == VT_BSTR);                      // (2, 3)
  SafeArrayUnaccessData(array);
  LONG index[2] = {1, 3};
  VARIANT element;
  VariantInit(&element);
  SafeArrayGetElement(array, index, &element);
  CHECK(element.vt == VT_I4 && element.lVal == 13);
  CHECK(fromComVariant(com) == value);
  VariantClear(&com);

  VariantArray line = VariantArray::oneDimension(3, 0);
  line.elements = {Variant::r8(1.5), Variant(), Variant::boolean(true)};
  CHECK(roundTrip(Variant::array(line)) == Variant::array(line));
  CHECK(roundTrip(Variant::array(VariantArray::twoDimensions(0, 0, 1))) ==
        Variant::array(VariantArray::twoDimensions(0, 0, 1)));
}

TEST_CASE("arrays of other element types and ranks") {
  SAFEARRAYBOUND bounds[2] = {{2, -1}, {3, 5}};  // first index -1..0, second 5..7
  SAFEARRAY* numbers = SafeArrayCreate(VT_I4, 2, bounds);
  for (LONG i = -1; i <= 0; ++i) {
    for (LONG j = 5; j <= 7; ++j) {
      LONG index[2] = {i, j};
      LONG value = i * 100 + j;
      SafeArrayPutElement(numbers, index, &value);
    }
  }
  VARIANT com;
  VariantInit(&com);
  com.vt = VT_ARRAY | VT_I4;
  com.parray = numbers;
  Variant value = fromComVariant(com);
  CHECK(value.type() == VarType::kArray);
  if (value.type() == VarType::kArray) {
    const VariantArray& a = value.array();
    CHECK(a.dimensions == 2 && a.lower[0] == -1 && a.lower[1] == 5);
    CHECK(a.count[0] == 2 && a.count[1] == 3);
    CHECK(a.at(-1, 7) == Variant::i4(-93));
    CHECK(a.at(0, 5) == Variant::i4(5));
  }
  VARIANT reference;
  VariantInit(&reference);
  reference.vt = VT_BYREF | VT_ARRAY | VT_I4;
  reference.pparray = &numbers;
  CHECK(fromComVariant(reference) == value);
  VariantClear(&com);

  SAFEARRAYBOUND cube[3] = {{1, 0}, {1, 0}, {1, 0}};
  com.vt = VT_ARRAY | VT_VARIANT;
  com.parray = SafeArrayCreate(VT_VARIANT, 3, cube);
  CHECK(fromComVariant(com) == Variant::error(DISP_E_TYPEMISMATCH));
  VariantClear(&com);
}

TEST_CASE("interface identifiers as texts") {
  const IID dispatch = IID_IDispatch;
  CHECK(interfaceIdText(dispatch) == "{00020400-0000-0000-C000-000000000046}");
  const IID sample = {0x000208d5, 0xabcd, 0x12ef, {0xc0, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xf7}};
  InterfaceId text = interfaceIdText(sample);
  CHECK(text == "{000208D5-ABCD-12EF-C001-0203040506F7}");
  IID parsed{};
  CHECK(parseInterfaceId(text, &parsed) && IsEqualIID(parsed, sample));
  CHECK(parseInterfaceId("{000208d5-abcd-12ef-c001-0203040506f7}", &parsed) &&
        IsEqualIID(parsed, sample));
  for (const char* bad :
       {"", "000208D5-ABCD-12EF-C001-0203040506F7", "{000208D5-ABCD-12EF-C001-0203040506F}",
        "{000208D5-ABCD-12EF-C001-0203040506FG}", "{000208D5+ABCD-12EF-C001-0203040506F7}",
        "{000208D5-ABCD-12EF-C001-0203040506F7"}) {
    CHECK(!parseInterfaceId(bad, &parsed));
  }
}

// ---- A COM object of another module, written by hand -------------------------------------------

// {3A9F2C41-5B7E-4E0D-8C16-2F4A9B0E71D3}
constexpr IID kGadgetEvents = {
    0x3a9f2c41, 0x5b7e, 0x4e0d, {0x8c, 0x16, 0x2f, 0x4a, 0x9b, 0x0e, 0x71, 0xd3}};

// Late-bound only (no type information): member 1 a property, member 2 a method that answers its
// arguments as a text in the order it received them, member 3 fails with exception information.
// It fires member 7 of its events with one argument.
class Gadget : public IDispatch, public IConnectionPointContainer, public IConnectionPoint {
 public:
  LONG references = 1;
  VARIANT value{};
  IDispatch* sink = nullptr;
  WORD lastFlags = 0;
  LCID lastLocale = 0;

  Gadget() { VariantInit(&value); }

  HRESULT __stdcall QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
      *out = static_cast<IDispatch*>(this);
    } else if (IsEqualIID(iid, IID_IConnectionPointContainer)) {
      *out = static_cast<IConnectionPointContainer*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG __stdcall AddRef() override { return ULONG(++references); }
  ULONG __stdcall Release() override { return ULONG(--references); }
  HRESULT __stdcall GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT __stdcall GetTypeInfo(UINT, LCID, ITypeInfo** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT __stdcall GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT __stdcall Invoke(DISPID member, REFIID, LCID locale, WORD flags, DISPPARAMS* parameters,
                           VARIANT* result, EXCEPINFO* exception, UINT*) override {
    lastFlags = flags;
    lastLocale = locale;
    if (member == 1 && flags == DISPATCH_PROPERTYPUT) {
      if (parameters->cArgs != 1 || parameters->cNamedArgs != 1 ||
          parameters->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
        return DISP_E_PARAMNOTOPTIONAL;
      }
      return VariantCopy(&value, &parameters->rgvarg[0]);
    }
    if (member == 1 && (flags & DISPATCH_PROPERTYGET) != 0) return VariantCopy(result, &value);
    if (member == 2) {
      std::wstring text;
      for (UINT i = parameters->cArgs; i-- > 0;) {
        VARIANT item;
        VariantInit(&item);
        VariantChangeType(&item, &parameters->rgvarg[i], 0, VT_BSTR);
        text += item.vt == VT_BSTR ? item.bstrVal : L"?";
        VariantClear(&item);
      }
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocString(text.c_str());
      return S_OK;
    }
    if (member == 3) {
      exception->scode = E_ACCESSDENIED;
      exception->bstrDescription = SysAllocString(L"refused");
      return DISP_E_EXCEPTION;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

  HRESULT __stdcall EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  HRESULT __stdcall FindConnectionPoint(REFIID iid, IConnectionPoint** out) override {
    *out = nullptr;
    if (!IsEqualIID(iid, kGadgetEvents)) return CONNECT_E_NOCONNECTION;
    *out = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT __stdcall GetConnectionInterface(IID* iid) override {
    *iid = kGadgetEvents;
    return S_OK;
  }
  HRESULT __stdcall GetConnectionPointContainer(IConnectionPointContainer** out) override {
    *out = this;
    AddRef();
    return S_OK;
  }
  HRESULT __stdcall Advise(IUnknown* newSink, DWORD* cookie) override {
    if (sink != nullptr) return CONNECT_E_ADVISELIMIT;
    if (FAILED(newSink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&sink)))) {
      return CONNECT_E_CANNOTCONNECT;
    }
    *cookie = 77;
    return S_OK;
  }
  HRESULT __stdcall Unadvise(DWORD cookie) override {
    if (cookie != 77 || sink == nullptr) return CONNECT_E_NOCONNECTION;
    sink->Release();
    sink = nullptr;
    return S_OK;
  }
  HRESULT __stdcall EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

  // Fires event 7 with a text; answers the HRESULT of the sink.
  HRESULT fire(const wchar_t* text) {
    if (sink == nullptr) return E_FAIL;
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = SysAllocString(text);
    DISPPARAMS parameters{&argument, nullptr, 1, 0};
    HRESULT hr =
        sink->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &parameters, nullptr, nullptr, nullptr);
    VariantClear(&argument);
    return hr;
  }
};

TEST_CASE("a COM object is called late-bound through its portable face") {
  Gadget gadget;
  {
    std::shared_ptr<Dispatch> object = portableObjectFor(static_cast<IDispatch*>(&gadget));
    CHECK(object != nullptr);
    CHECK(comDispatchTarget(*object) == static_cast<IDispatch*>(&gadget));

    Variant put[] = {Variant::text(u"hello")};
    CHECK_EQ(object->invoke(1, InvokeKind::kPropertyPut, put, nullptr), kSOk);
    CHECK_EQ(gadget.lastFlags, WORD(DISPATCH_PROPERTYPUT));
    Variant got;
    CHECK_EQ(object->invoke(1, InvokeKind::kPropertyGet, {}, &got, kLocaleEnglish), kSOk);
    CHECK(got == Variant::text(u"hello"));
    CHECK_EQ(gadget.lastLocale, LCID(kLocaleEnglish));

    Variant arguments[] = {Variant::i4(1), Variant::text(u"b"), Variant::r8(2.5)};
    CHECK_EQ(object->invoke(2, InvokeKind::kMethod, arguments, &got), kSOk);
    CHECK(got == Variant::text(u"1b2.5"));

    got = Variant::i4(5);
    CHECK_EQ(object->invoke(3, InvokeKind::kMethod, {}, &got), HResult(DISP_E_EXCEPTION));
    CHECK(got.isEmpty());
    CHECK_EQ(object->invoke(9, InvokeKind::kMethod, {}, nullptr), kDispEMemberNotFound);
    CHECK(object->interfaceTable() == nullptr);  // no type information
    CHECK(object->queryInterface("{00000000-0000-0000-0000-00000000ABCD}") == nullptr);

    // One portable face per COM identity while it lives, whichever interface shows the object.
    CHECK(portableObjectFor(static_cast<IConnectionPointContainer*>(&gadget)) == object);
    CHECK(ComObjectFactory().objectAt(uint64_t(uintptr_t(static_cast<IDispatch*>(&gadget)))) ==
          object);
    Variant asValue = fromComVariant([&gadget] {
      VARIANT v;
      VariantInit(&v);
      v.vt = VT_DISPATCH;
      v.pdispVal = &gadget;
      return v;
    }());
    CHECK(asValue.object() == object);
    // Back to COM, the face is the object itself.
    IDispatch* again = comObjectFor(object);
    CHECK(again == static_cast<IDispatch*>(&gadget));
    if (again != nullptr) again->Release();
  }
  VariantClear(&gadget.value);
  CHECK_EQ(gadget.references, 1);  // every reference the bridge took is given back
  CHECK(ComObjectFactory().objectAt(0) == nullptr);
}

class RecordingSink : public Dispatch {
 public:
  std::vector<std::pair<int32_t, Variant>> calls;
  HResult invoke(int32_t memberId, InvokeKind, std::span<Variant> arguments, Variant*,
                 uint32_t) override {
    calls.emplace_back(memberId, arguments.empty() ? Variant() : arguments[0]);
    return kSOk;
  }
};

TEST_CASE("a portable sink connected to a COM object's events receives them until disconnected") {
  Gadget gadget;
  {
    std::shared_ptr<Dispatch> object = portableObjectFor(static_cast<IDispatch*>(&gadget));
    auto sink = std::make_shared<RecordingSink>();
    CHECK_EQ(object->advise("{00000000-0000-0000-0000-00000000ABCD}", sink), 0u);
    uint32_t cookie = object->advise(interfaceIdText(kGadgetEvents), sink);
    CHECK_EQ(cookie, 77u);
    CHECK_EQ(gadget.fire(L"opened"), S_OK);
    CHECK_EQ(sink->calls.size(), size_t(1));
    if (!sink->calls.empty()) {
      CHECK_EQ(sink->calls[0].first, 7);
      CHECK(sink->calls[0].second == Variant::text(u"opened"));
    }
    CHECK(!object->unadvise(cookie + 1));
    CHECK(object->unadvise(cookie));
    CHECK(!object->unadvise(cookie));
    CHECK(gadget.sink == nullptr);
  }
  CHECK_EQ(gadget.references, 1);
}

// ---- A real automation server with type information --------------------------------------------

constexpr int32_t kDictionaryAdd = 1;
constexpr int32_t kDictionaryCount = 2;
constexpr int32_t kDictionaryExists = 3;

std::shared_ptr<Dispatch> newDictionary() {
  HResult hr = kSOk;
  std::shared_ptr<Dispatch> dictionary = ComObjectFactory().create(u"Scripting.Dictionary", &hr);
  CHECK_EQ(hr, kSOk);
  return dictionary;
}

int32_t countOf(Dispatch& dictionary) {
  Variant count;
  if (failed(dictionary.invoke(kDictionaryCount, InvokeKind::kPropertyGet, {}, &count))) return -1;
  return count.isInteger() ? int32_t(count.integer()) : -2;
}

TEST_CASE("objects are created by program or class identifier") {
  std::shared_ptr<Dispatch> dictionary = newDictionary();
  CHECK(dictionary != nullptr);
  if (dictionary == nullptr) return;
  Variant pair[] = {Variant::text(u"k"), Variant::r8(2.5)};
  CHECK_EQ(dictionary->invoke(kDictionaryAdd, InvokeKind::kMethod, pair, nullptr), kSOk);
  CHECK_EQ(countOf(*dictionary), 1);
  HResult hr = kSOk;
  CHECK(ComObjectFactory().create(u"{EE09B103-97E0-11CF-978F-00A02463E06F}", &hr) != nullptr);
  CHECK_EQ(hr, kSOk);
  for (const char16_t* bad : {u"No.Such.Program", u"{EE09B103-97E0", u""}) {
    hr = kSOk;
    CHECK(ComObjectFactory().create(bad, &hr) == nullptr);
    CHECK(failed(hr));
  }
}

TEST_CASE("a dual interface's native table is one interface table with the members' slots") {
  std::shared_ptr<Dispatch> first = newDictionary();
  std::shared_ptr<Dispatch> second = newDictionary();
  if (first == nullptr || second == nullptr) return;
  InterfaceTable* table = first->interfaceTable();
  CHECK(table != nullptr);
  if (table == nullptr) return;
  CHECK(table->iid() == "{42C642C1-97E1-11CF-978F-00A02463E06F}");
  CHECK(second->interfaceTable() == table);
  CHECK(first->queryInterface(table->iid()) != nullptr);
  CHECK(first->queryInterface(table->iid())->interfaceTable() == table);
  const FunctionDescription* count = table->find(kDictionaryCount, InvokeKind::kPropertyGet);
  const FunctionDescription* invoke = table->find(kDispidInvoke, InvokeKind::kMethod);
  CHECK(count != nullptr && count->slot >= 7 && count->slot < table->slotCount());
  CHECK(invoke != nullptr && invoke->slot == 6);
  CHECK(table->find(kDictionaryAdd, InvokeKind::kMethod) != nullptr);
  CHECK(!table->slot(table->slotCount()));
  CHECK(!table->setSlot(table->slotCount(), table->slot(6)));
}

TEST_CASE(
    "a portable function in a native slot serves every object, late-bound too, until put back") {
  std::shared_ptr<Dispatch> first = newDictionary();
  std::shared_ptr<Dispatch> second = newDictionary();
  if (first == nullptr || second == nullptr) return;
  InterfaceTable* table = first->interfaceTable();
  CHECK(table != nullptr);
  if (table == nullptr) return;
  const FunctionDescription* count = table->find(kDictionaryCount, InvokeKind::kPropertyGet);
  CHECK(count != nullptr);
  if (count == nullptr) return;
  Variant pair[] = {Variant::text(u"k"), Variant::i4(1)};
  first->invoke(kDictionaryAdd, InvokeKind::kMethod, pair, nullptr);

  MemberFunction original = table->slot(count->slot);
  CHECK(bool(original));
  Variant direct;
  CHECK(original && original(*first, {}, &direct, 0) == kSOk && direct == Variant::i4(1));
  int calls = 0;
  bool installed = table->setSlot(count->slot,
                                  [&calls, original](Dispatch& self, std::span<Variant> arguments,
                                                     Variant* result, uint32_t locale) -> HResult {
                                    ++calls;
                                    HResult hr = original(self, arguments, result, locale);
                                    if (succeeded(hr) && result != nullptr)
                                      *result = Variant::i4(int32_t(result->integer() + 100));
                                    return hr;
                                  });
  CHECK(installed);
  // The program's own Invoke calls the member through the table.
  CHECK_EQ(countOf(*first), 101);
  CHECK_EQ(countOf(*second), 100);
  CHECK_EQ(calls, 2);
  CHECK(table->setSlot(count->slot, original));
  CHECK_EQ(countOf(*first), 1);
  CHECK_EQ(calls, 2);
}

TEST_CASE("IDispatch::Invoke of a native table takes a portable replacement") {
  std::shared_ptr<Dispatch> dictionary = newDictionary();
  if (dictionary == nullptr) return;
  InterfaceTable* table = dictionary->interfaceTable();
  CHECK(table != nullptr);
  if (table == nullptr) return;
  MemberFunction original = table->slot(6);
  CHECK(bool(original));
  // The replacement sees (member id, flags, arguments in declaration order) and renames a key.
  std::vector<Variant> seen;
  auto replacement = [&seen, original](Dispatch& self, std::span<Variant> arguments,
                                       Variant* result, uint32_t locale) -> HResult {
    seen.assign(arguments.begin(), arguments.end());
    if (arguments.size() > 2 && arguments[2] == Variant::text(u"old")) {
      arguments[2] = Variant::text(u"renamed");
    }
    return original(self, arguments, result, locale);
  };
  CHECK(table->setSlot(6, replacement));

  Variant pair[] = {Variant::text(u"key"), Variant::r8(7)};
  CHECK_EQ(dictionary->invoke(kDictionaryAdd, InvokeKind::kMethod, pair, nullptr), kSOk);
  CHECK(seen.size() == 4 && seen[0] == Variant::i4(kDictionaryAdd) &&
        seen[1] == Variant::i4(DISPATCH_METHOD) && seen[2] == Variant::text(u"key") &&
        seen[3] == Variant::r8(7));
  CHECK_EQ(countOf(*dictionary), 1);  // the original Invoke did the work

  // A COM caller with the key by reference and the item named by its position.
  IDispatch* com = comDispatchTarget(*dictionary);
  BSTR key = SysAllocString(L"old");
  VARIANT arguments[2];
  VariantInit(&arguments[0]);
  arguments[0].vt = VT_I4;  // named: the item
  arguments[0].lVal = 8;
  VariantInit(&arguments[1]);
  arguments[1].vt = VT_BYREF | VT_BSTR;
  arguments[1].pbstrVal = &key;
  DISPID itemPosition = 1;
  DISPPARAMS parameters{arguments, &itemPosition, 2, 1};
  CHECK_EQ(com->Invoke(kDictionaryAdd, IID_NULL, 0, DISPATCH_METHOD, &parameters, nullptr, nullptr,
                       nullptr),
           S_OK);
  CHECK(seen.size() == 4 && seen[2] == Variant::text(u"old") && seen[3] == Variant::i4(8));
  CHECK(std::wstring(key) == L"renamed");
  Variant renamed[] = {Variant::text(u"renamed")};
  Variant exists;
  CHECK_EQ(dictionary->invoke(kDictionaryExists, InvokeKind::kMethod, renamed, &exists), kSOk);
  CHECK(exists == Variant::boolean(true));
  SysFreeString(key);

  CHECK(table->setSlot(6, original));
  seen.clear();
  CHECK_EQ(countOf(*dictionary), 2);
  CHECK(seen.empty());
}

// ---- An object of the other module's kind: a portable object behind a ComObject --------------

const InterfaceId kTallyIid = "{2E6B0F14-7C3A-4D95-B0E8-51A7C9D3F260}";
constexpr int32_t kTallyTotal = 1;  // get
constexpr int32_t kTallyAdd = 2;    // method: adds its argument

// Its members run through its interface's shared table, numbered as a dual interface's, with the
// late-bound entrance in the slot of IDispatch::Invoke, as the program's objects have them.
class Tally : public Dispatch {
 public:
  explicit Tally(std::shared_ptr<InterfaceTable> table) : table_(std::move(table)) {}
  int32_t total = 0;

  HResult invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments, Variant* result,
                 uint32_t locale) override {
    const FunctionDescription* f = table_->find(memberId, kind);
    if (f == nullptr || f->slot == 6) return kDispEMemberNotFound;
    return table_->slot(f->slot)(*this, arguments, result, locale);
  }
  InterfaceTable* interfaceTable() override { return table_.get(); }

  static std::shared_ptr<InterfaceTable> makeTable() {
    std::vector<MemberFunction> slots(9);
    slots[6] = [](Dispatch& self, std::span<Variant> arguments, Variant* result, uint32_t locale) {
      if (arguments.size() < 2) return kDispEBadParamCount;
      return self.invoke(int32_t(arguments[0].integer()), InvokeKind(arguments[1].integer()),
                         arguments.subspan(2), result, locale);
    };
    slots[7] = [](Dispatch& self, std::span<Variant>, Variant* result, uint32_t) {
      if (result != nullptr) *result = Variant::i4(static_cast<Tally&>(self).total);
      return kSOk;
    };
    slots[8] = [](Dispatch& self, std::span<Variant> arguments, Variant*, uint32_t) {
      if (arguments.empty() || !arguments[0].isInteger()) return kDispETypeMismatch;
      static_cast<Tally&>(self).total += int32_t(arguments[0].integer());
      return kSOk;
    };
    return std::make_shared<InterfaceTable>(
        kTallyIid,
        std::vector<FunctionDescription>{{kDispidInvoke, InvokeKind::kMethod, 6},
                                         {kTallyTotal, InvokeKind::kPropertyGet, 7},
                                         {kTallyAdd, InvokeKind::kMethod, 8}},
        std::move(slots));
  }

 private:
  std::shared_ptr<InterfaceTable> table_;
};

TEST_CASE("the native table of an object made by the other module takes replacements too") {
  std::shared_ptr<InterfaceTable> portableTable = Tally::makeTable();
  auto first = std::make_shared<Tally>(portableTable);
  auto second = std::make_shared<Tally>(portableTable);
  // The other module's objects arrive as plain COM objects: seen here only through IDispatch.
  IDispatch* firstCom = comObjectFor(first);
  IDispatch* secondCom = comObjectFor(second);
  CHECK(firstCom != nullptr && secondCom != nullptr);
  if (firstCom == nullptr || secondCom == nullptr) return;
  std::shared_ptr<Dispatch> firstFace = makeComDispatch(firstCom);
  std::shared_ptr<Dispatch> secondFace = makeComDispatch(secondCom);
  firstCom->Release();
  secondCom->Release();

  InterfaceTable* table = firstFace->interfaceTable();
  CHECK(table != nullptr);
  if (table == nullptr) return;
  CHECK(table != portableTable.get());
  CHECK(table->iid() == kTallyIid);
  CHECK(secondFace->interfaceTable() == table);
  const FunctionDescription* add = table->find(kTallyAdd, InvokeKind::kMethod);
  CHECK(add != nullptr);
  if (add == nullptr) return;

  MemberFunction original = table->slot(add->slot);
  CHECK(bool(original));
  Variant five[] = {Variant::i4(5)};
  CHECK(original && original(*firstFace, five, nullptr, 0) == kSOk);
  CHECK_EQ(first->total, 5);
  // A replacement that doubles the amount, then lets the member do its own work.
  CHECK(table->setSlot(add->slot,
                       [original](Dispatch& self, std::span<Variant> arguments, Variant* result,
                                  uint32_t locale) -> HResult {
                         if (arguments.empty()) return kDispEBadParamCount;
                         Variant twice[] = {Variant::i4(int32_t(arguments[0].integer() * 2))};
                         return original(self, twice, result, locale);
                       }));
  Variant three[] = {Variant::i4(3)};
  CHECK_EQ(firstFace->invoke(kTallyAdd, InvokeKind::kMethod, three, nullptr), kSOk);
  CHECK_EQ(secondFace->invoke(kTallyAdd, InvokeKind::kMethod, three, nullptr), kSOk);
  CHECK_EQ(first->total, 11);
  CHECK_EQ(second->total, 6);
  Variant total;
  CHECK_EQ(firstFace->invoke(kTallyTotal, InvokeKind::kPropertyGet, {}, &total), kSOk);
  CHECK(total == Variant::i4(11));
  CHECK(table->setSlot(add->slot, original));
  CHECK_EQ(secondFace->invoke(kTallyAdd, InvokeKind::kMethod, three, nullptr), kSOk);
  CHECK_EQ(second->total, 9);

  // The late-bound entrance: what a caller of IDispatch::Invoke reaches.
  const FunctionDescription* entrance = table->find(kDispidInvoke, InvokeKind::kMethod);
  CHECK(entrance != nullptr && entrance->slot == 6);
  MemberFunction invoke = table->slot(6);
  std::vector<Variant> seen;
  CHECK(table->setSlot(6,
                       [&seen, invoke](Dispatch& self, std::span<Variant> arguments,
                                       Variant* result, uint32_t locale) -> HResult {
                         seen.assign(arguments.begin(), arguments.end());
                         return invoke(self, arguments, result, locale);
                       }));
  CHECK_EQ(firstFace->invoke(kTallyAdd, InvokeKind::kMethod, three, nullptr), kSOk);
  CHECK_EQ(first->total, 14);
  CHECK(seen.size() == 3 && seen[0] == Variant::i4(kTallyAdd) && seen[2] == Variant::i4(3));
  CHECK(table->setSlot(6, invoke));
  seen.clear();
  CHECK_EQ(firstFace->invoke(kTallyTotal, InvokeKind::kPropertyGet, {}, &total), kSOk);
  CHECK(total == Variant::i4(14) && seen.empty());
}

}  // namespace
}  // namespace korvel::win32
