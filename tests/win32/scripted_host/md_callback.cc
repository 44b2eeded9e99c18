#include "tests/win32/scripted_host/md_callback.h"

#include <exception>
#include <vector>

namespace korvel::win32 {
namespace {

// The memory of the values handed to the library: the few a scripted run makes are kept until
// the program ends, whether or not the library hands them back through xlFree.
NativeXloperStore& returnedValues() {
  static NativeXloperStore store;
  return store;
}

}  // namespace

HeadlessAddinCallback& hostAddinCallback() {
  static HeadlessAddinCallback callback;
  return callback;
}

}  // namespace korvel::win32

extern "C" __declspec(dllexport) int __stdcall MdCallBack(int function, int count,
                                                          korvel::win32::NativeXloper** arguments,
                                                          korvel::win32::NativeXloper* result) {
  using korvel::Xloper;
  try {
    if (count < 0 || (count > 0 && arguments == nullptr)) return korvel::kXlretInvCount;
    std::vector<Xloper> values;
    values.reserve(size_t(count));
    for (int i = 0; i < count; ++i) values.push_back(korvel::win32::fromNativeXloper(arguments[i]));
    std::vector<const Xloper*> pointers;
    for (const Xloper& value : values) pointers.push_back(&value);
    Xloper answer;
    int code =
        korvel::win32::hostAddinCallback().excel4(function, result ? &answer : nullptr, pointers);
    if (result != nullptr) *result = *korvel::win32::returnedValues().keep(answer);
    return code;
  } catch (...) {
    return korvel::kXlretFailed;
  }
}
