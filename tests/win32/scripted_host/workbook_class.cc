#include "tests/win32/scripted_host/workbook_class.h"

#include <iterator>
#include <memory>
#include <string>

#include "excel/dispatch_ids.h"
#include "hosts/win32/com_bridge.h"

namespace korvel::win32 {

class WorkbookClass::Factory final : public IClassFactory {
 public:
  explicit Factory(SpreadsheetProgram& program) : program_(program) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
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

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    try {
      HResult result = kSOk;
      std::shared_ptr<Dispatch> workbook = program_.objectFactory().create(kWorkbookClass, &result);
      if (workbook == nullptr) return failed(result) ? HRESULT(result) : E_FAIL;
      IDispatch* object = comObjectFor(workbook);
      if (object == nullptr) return E_OUTOFMEMORY;
      HRESULT hr = object->QueryInterface(iid, out);
      object->Release();
      if (SUCCEEDED(hr)) ++created_;
      return hr;
    } catch (...) {
      return E_FAIL;
    }
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  int created() const { return created_; }

 private:
  SpreadsheetProgram& program_;
  LONG references_ = 1;
  int created_ = 0;
};

WorkbookClass::WorkbookClass(SpreadsheetProgram& program) : factory_(new Factory(program)) {
  CLSID clsid;
  std::wstring text(std::begin(kWorkbookClass), std::end(kWorkbookClass) - 1);
  if (FAILED(CLSIDFromString(text.c_str(), &clsid)) ||
      FAILED(CoRegisterClassObject(clsid, factory_, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                   REGCLS_MULTIPLEUSE, &cookie_))) {
    cookie_ = 0;
  }
}

WorkbookClass::~WorkbookClass() {
  if (cookie_ != 0) CoRevokeClassObject(cookie_);
  factory_->Release();
}

int WorkbookClass::created() const { return factory_->created(); }

}  // namespace korvel::win32
