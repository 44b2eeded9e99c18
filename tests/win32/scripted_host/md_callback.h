// The add-in callback the scripted host program exports as "MdCallBack", where the library finds
// it in the process's main module: each call's native records become portable ones and go to the
// headless program's callback, which keeps the registrations, key bindings and a log of calls.
#ifndef KORVEL_TESTS_WIN32_SCRIPTED_HOST_MD_CALLBACK_H_
#define KORVEL_TESTS_WIN32_SCRIPTED_HOST_MD_CALLBACK_H_

#include "hosts/headless/headless_addin_callback.h"
#include "hosts/win32/native_xloper.h"

namespace korvel::win32 {

// The callback behind the export; the same object the in-memory program reads its bindings from.
HeadlessAddinCallback& hostAddinCallback();

}  // namespace korvel::win32

extern "C" __declspec(dllexport) int __stdcall MdCallBack(int function, int count,
                                                          korvel::win32::NativeXloper** arguments,
                                                          korvel::win32::NativeXloper* result);

#endif  // KORVEL_TESTS_WIN32_SCRIPTED_HOST_MD_CALLBACK_H_
