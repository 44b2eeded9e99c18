// The library's entry and its exports. The host program loads the library as an add-in: process
// attach builds the ports and the runtime and subclasses the program's main windows; process
// detach shuts the runtime down and gives the windows their procedures back. The exports are the
// add-in entry points with the calling convention the program and the workbook's code use; each
// converts between the native records and the portable ones and calls the runtime's own entry.
#include <windows.h>
// After windows.h, which declares what it uses.
#include <oleauto.h>

#include <exception>
#include <memory>
#include <string>

#include "data/data_exchange.h"
#include "excel/excel_connection.h"
#include "hosts/win32/com_bridge.h"
#include "hosts/win32/module.h"
#include "hosts/win32/native_xloper.h"
#include "hosts/win32/win32_platform.h"
#include "packaging/application_packaging.h"
#include "runtime/addin_entry_points.h"
#include "runtime/runtime.h"
#include "ui/application_dialogs.h"
#include "ui/application_menu.h"

namespace korvel::win32 {
namespace {

struct Library {
  bool comInitialized = false;
  std::unique_ptr<Win32Platform> ports;
  std::unique_ptr<Runtime> runtime;
  // What the exports hand back lives until the same export is called again.
  NativeXloperStore returned[9];
};

Library* library = nullptr;

void attach(HINSTANCE instance) {
  library = new Library();
  library->comInitialized = SUCCEEDED(CoInitialize(nullptr));
  setModuleInstance(instance);
  // The message dialogs show rich text; the control's class exists only once its library is in.
  if (GetModuleHandleW(L"riched20.dll") == nullptr) LoadLibraryW(L"riched20.dll");
  library->ports = std::make_unique<Win32Platform>();
  library->runtime = std::make_unique<Runtime>(library->ports->platform());
  Runtime& runtime = *library->runtime;
  auto connection = std::make_unique<ExcelConnection>(runtime);
  ExcelConnection& excel = *connection;
  runtime.setConnection(std::move(connection));
  runtime.setDataExchange(std::make_unique<DataExchangeService>(runtime, excel));
  runtime.setPackaging(std::make_unique<ApplicationPackaging>(runtime, excel));
  runtime.setDialogs(std::make_unique<ApplicationDialogBoxes>(runtime));
  runtime.setMenuManager(std::make_unique<ApplicationMenu>(runtime, excel));
  runtime.processAttach();
}

void detach(bool processEnding) {
  if (library == nullptr) return;
  if (processEnding) {
    // Other threads are gone and the program's windows and objects may be too: nothing is called
    // into them, and the memory goes with the process.
    library = nullptr;
    return;
  }
  if (library->runtime) library->runtime->processDetach();
  library->runtime.reset();
  library->ports.reset();
  if (library->comInitialized) CoUninitialize();
  delete library;
  library = nullptr;
}

Runtime* runtime() { return library != nullptr ? library->runtime.get() : nullptr; }

NativeXloper* zeroRecord() {
  static NativeXloper zero{};
  zero = NativeXloper{};
  return &zero;
}

NativeXloper* keep(int slot, const Xloper* value) {
  if (library == nullptr || value == nullptr) return zeroRecord();
  library->returned[slot].clear();
  return library->returned[slot].keep(*value);
}

}  // namespace
}  // namespace korvel::win32

using korvel::Xloper;
using korvel::win32::NativeXloper;
using korvel::win32::runtime;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  try {
    if (reason == DLL_PROCESS_ATTACH) korvel::win32::attach(instance);
    if (reason == DLL_PROCESS_DETACH) korvel::win32::detach(reserved != nullptr);
  } catch (...) {
    // A runtime that cannot be built leaves the program without the application; the load itself
    // still succeeds so that the program keeps running.
  }
  return TRUE;
}

NativeXloper* __stdcall DummyFunc0() {
  return runtime() ? korvel::win32::keep(0, korvel::DummyFunc0(*runtime()))
                   : korvel::win32::zeroRecord();
}

NativeXloper* __stdcall DummyFunc1() {
  return runtime() ? korvel::win32::keep(1, korvel::DummyFunc1(*runtime()))
                   : korvel::win32::zeroRecord();
}

double __stdcall DummyFunc2() { return runtime() ? korvel::DummyFunc2(*runtime()) : 0; }

int __stdcall DummyFunc3() { return runtime() ? korvel::DummyFunc3(*runtime()) : 0; }

int __stdcall DummyFunc4() { return runtime() ? korvel::DummyFunc4(*runtime()) : 0; }

NativeXloper* __stdcall DummyFunc5(NativeXloper* argument) {
  if (!runtime()) return korvel::win32::zeroRecord();
  Xloper portable = korvel::win32::fromNativeXloper(argument);
  return korvel::win32::keep(5, korvel::DummyFunc5(*runtime(), &portable));
}

int __stdcall DummyFunc6() { return runtime() ? korvel::DummyFunc6(*runtime()) : 0; }

NativeXloper* __stdcall DummyFunc7(NativeXloper* argument) {
  if (!runtime()) return korvel::win32::zeroRecord();
  Xloper portable = korvel::win32::fromNativeXloper(argument);
  return korvel::win32::keep(7, korvel::DummyFunc7(*runtime(), &portable));
}

NativeXloper* __stdcall DummyFunc8(int code, NativeXloper* argument) {
  if (!runtime()) return korvel::win32::zeroRecord();
  Xloper portable = korvel::win32::fromNativeXloper(argument);
  return korvel::win32::keep(8, korvel::DummyFunc8(*runtime(), code, &portable));
}

LRESULT __stdcall DummyFunc9(UINT message, WPARAM wParam, LPARAM lParam) {
  return runtime() ? LRESULT(korvel::DummyFunc9(*runtime(), message, wParam, lParam)) : 0;
}

int __stdcall xlAutoClose() { return runtime() ? korvel::xlAutoClose(*runtime()) : 0; }

// Declared by the workbook's code as a function answering a Variant: the caller passes the place
// for the result first and receives its address back.
VARIANT* __stdcall DummyFunc11(VARIANT* result, int index) {
  if (result == nullptr) return result;
  VariantInit(result);
  if (!runtime()) return result;
  korvel::Variant value = korvel::DummyFunc11(*runtime(), index);
  if (value.type() == korvel::VarType::kBstr) {
    // The text's units are the bytes of the BSTR the workbook's code converts back itself.
    std::string bytes;
    for (char16_t unit : value.text()) bytes.push_back(char(unit & 0xFF));
    result->vt = VT_BSTR;
    result->bstrVal = SysAllocStringByteLen(bytes.data(), UINT(bytes.size()));
    if (result->bstrVal == nullptr) result->vt = VT_EMPTY;
    return result;
  }
  korvel::win32::toComVariant(value, result);
  return result;
}

BSTR __stdcall DummyFunc12(int index) {
  if (!runtime()) return nullptr;
  std::string bytes = korvel::DummyFunc12(*runtime(), index);
  return SysAllocStringByteLen(bytes.data(), UINT(bytes.size()));
}

int __stdcall DummyFunc13() { return runtime() ? korvel::DummyFunc13(*runtime()) : 0; }

}  // extern "C"
