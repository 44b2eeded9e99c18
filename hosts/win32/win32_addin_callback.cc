#include "hosts/win32/win32_addin_callback.h"

#include <windows.h>

#include <cstring>

namespace korvel::win32 {

namespace {

// Whether the host program filled the record with pointers into its own memory (or said so
// itself), so that it wants the record back through xlFree.
bool holdsHostMemory(const NativeXloper& record) {
  if ((record.xltype & kXlbitXLFree) != 0) return true;
  switch (record.xltype & ~kXlbitsOwnership) {
    case kXltypeStr:
    case kXltypeRef:
    case kXltypeMulti:
      return true;
    default:
      return false;
  }
}

}  // namespace

Win32AddinCallback::Entry Win32AddinCallback::entry() {
  if (!looked_) {
    looked_ = true;
    // The host program exports the entry from its own executable; a library loaded by another
    // program finds none and stays unconnected.
    FARPROC address = GetProcAddress(GetModuleHandleW(nullptr), "MdCallBack");
    entry_ = reinterpret_cast<Entry>(reinterpret_cast<void*>(address));
  }
  return entry_;
}

int Win32AddinCallback::excel4(int function, Xloper* result,
                               std::span<const Xloper* const> arguments) {
  Entry callback = entry();
  if (callback == nullptr) return kXlretFailed;
  if (arguments.size() > kXlMaxArguments) return kXlretInvCount;
  if (function == kXlFree) return handBack(arguments);

  NativeXloperStore store;
  std::vector<NativeXloper*> natives;
  natives.reserve(arguments.size());
  for (const Xloper* argument : arguments) {
    // The host program reads every pointer it is given; an absent argument is an omitted one.
    natives.push_back(store.keep(argument != nullptr ? *argument : Xloper::missing()));
  }
  NativeXloper native;
  std::memset(&native, 0, sizeof native);
  native.xltype = kXltypeNil;
  int code = callback(function, int(natives.size()), natives.data(),
                      result != nullptr ? &native : nullptr);
  if (result != nullptr && code == kXlretSuccess) {
    *result = fromNativeXloper(&native);
    if (holdsHostMemory(native)) {
      result->setFlags(uint16_t(result->flags() | kXlbitXLFree));
      allocated_.push_back({*result, native});
    }
  }
  return code;
}

int Win32AddinCallback::handBack(std::span<const Xloper* const> arguments) {
  std::vector<NativeXloper> records;
  bool unknown = false;
  for (const Xloper* argument : arguments) {
    if (argument == nullptr) continue;
    auto it = allocated_.begin();
    while (it != allocated_.end() && !(it->value == *argument)) ++it;
    if (it == allocated_.end()) {
      // Not the host program's memory (or handed back before): freeing it there would be a
      // second release or a release of memory it never gave.
      unknown = true;
      continue;
    }
    records.push_back(it->record);
    allocated_.erase(it);
  }
  int code = kXlretSuccess;
  if (!records.empty()) {
    std::vector<NativeXloper*> pointers;
    for (NativeXloper& record : records) pointers.push_back(&record);
    code = entry_(kXlFree, int(pointers.size()), pointers.data(), nullptr);
  }
  return code == kXlretSuccess && unknown ? kXlretInvXloper : code;
}

}  // namespace korvel::win32
