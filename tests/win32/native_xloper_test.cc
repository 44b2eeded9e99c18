// Native value records and the add-in callback. This program exports the callback entry itself,
// as the host program does, so the callback finds it in the main module.
#include "hosts/win32/native_xloper.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "hosts/win32/win32_addin_callback.h"
#include "tests/win32/check.h"

namespace korvel::win32 {
namespace {

constexpr int kEcho = 1;      // answers a copy of its first argument, allocated here
constexpr int kAnswer42 = 2;  // answers the number 42
constexpr int kRefuse = 3;    // fails with kXlretInvXloper

// What the entry saw.
struct HostLog {
  std::vector<int> functions;
  std::vector<int> counts;
  std::vector<Xloper> arguments;  // of the last call
  bool resultGiven = false;
  std::vector<char*> allocated;  // strings handed out
  std::vector<char*> freed;      // strings that came back through xlFree
};
HostLog& hostLog() {
  static HostLog log;
  return log;
}

}  // namespace
}  // namespace korvel::win32

using korvel::win32::NativeXloper;

// The entry exported undecorated, as the host program's is: the symbol drops the decoration of
// the calling convention, and the linker is told to export it by that name.
extern "C" int __stdcall MdCallBack(int function, int count, NativeXloper** arguments,
                                    NativeXloper* result) __asm__("_MdCallBack");
__asm__(".section .drectve\n\t.ascii \" -export:MdCallBack\"\n\t.text");

extern "C" int __stdcall MdCallBack(int function, int count, NativeXloper** arguments,
                                    NativeXloper* result) {
  using namespace korvel;
  using namespace korvel::win32;
  HostLog& log = hostLog();
  log.functions.push_back(function);
  log.counts.push_back(count);
  log.arguments.clear();
  for (int i = 0; i < count; ++i) log.arguments.push_back(fromNativeXloper(arguments[i]));
  log.resultGiven = result != nullptr;
  switch (function) {
    case kXlFree:
      for (int i = 0; i < count; ++i) {
        if ((arguments[i]->xltype & ~kXlbitsOwnership) == kXltypeStr) {
          log.freed.push_back(arguments[i]->val.str);
          delete[] arguments[i]->val.str;
        }
      }
      return kXlretSuccess;
    case kEcho: {
      if (result == nullptr || count < 1 || (arguments[0]->xltype & 0xFFF) != kXltypeStr) {
        return kXlretInvXloper;
      }
      auto length = uint8_t(arguments[0]->val.str[0]);
      char* copy = new char[length + 1];
      std::memcpy(copy, arguments[0]->val.str, length + 1);
      log.allocated.push_back(copy);
      result->xltype = kXltypeStr;
      result->val.str = copy;
      return kXlretSuccess;
    }
    case kAnswer42:
      if (result != nullptr) {
        result->xltype = kXltypeNum;
        result->val.num = 42;
      }
      return kXlretSuccess;
    case kRefuse:
      return kXlretInvXloper;
    default:
      return kXlretInvXlfn;
  }
}

namespace korvel::win32 {
namespace {

TEST_CASE("native records round trip every kind of value") {
  std::string longText(255, 'x');
  longText[100] = '\0';  // counted bytes, embedded zero included
  Xloper flagged = Xloper::number(2.5);
  flagged.setFlags(kXlbitXLFree);
  Xloper dllOwned = Xloper::string("owned");
  dllOwned.setFlags(kXlbitDLLFree);
  const Xloper values[] = {
      Xloper::number(-1.25),
      Xloper::string(""),
      Xloper::string(longText),
      Xloper::boolean(true),
      Xloper::boolean(false),
      Xloper::error(kXlerrNA),
      Xloper::integer(-7),
      Xloper::missing(),
      Xloper::nil(),
      Xloper::smallReference({3, 9, 1, 255}),
      Xloper::reference(0x12345678, {{0, 0, 0, 0}, {65535, 65535, 2, 3}}),
      Xloper::reference(7, {}),
      Xloper::multi(2, 3,
                    {Xloper::number(1), Xloper::string("two"), Xloper::boolean(true), Xloper(),
                     Xloper::error(kXlerrDiv0), Xloper::integer(6)}),
      Xloper::multi(1, 2, {Xloper::reference(1, {{1, 2, 3, 4}}), Xloper::multi(1, 1, {})}),
      flagged,
      dllOwned,
  };
  NativeXloperStore store;
  std::vector<NativeXloper*> kept;
  for (const Xloper& value : values) kept.push_back(store.keep(value));
  // Every record stays valid while the store keeps adding.
  for (size_t i = 0; i < kept.size(); ++i) {
    Xloper back = fromNativeXloper(kept[i]);
    if (!(back == values[i])) std::printf("  value %zu differs\n", i);
    CHECK(back == values[i]);
  }
}

TEST_CASE("native records have the host program's layout") {
  static_assert(sizeof(NativeXloper) == 16);
  NativeXloperStore store;
  NativeXloper* text = store.keep(Xloper::string("abc"));
  CHECK_EQ(text->xltype, kXltypeStr);
  CHECK_EQ(std::memcmp(text->val.str,
                       "\x03"
                       "abc",
                       4),
           0);

  NativeXloper* ref = store.keep(Xloper::reference(9, {{1, 2, 3, 4}, {5, 6, 7, 8}}));
  const auto* block = reinterpret_cast<const uint8_t*>(ref->val.mref.lpmref);
  const uint8_t expected[] = {2, 0, 1, 0, 2, 0, 3, 4, 5, 0, 6, 0, 7, 8};
  CHECK_EQ(std::memcmp(block, expected, sizeof expected), 0);
  CHECK_EQ(ref->val.mref.idSheet, 9u);

  // Records as the host program builds them.
  char hostText[] = "\x05hello, and more";
  NativeXloper elements[2] = {};
  elements[0].xltype = kXltypeStr;
  elements[0].val.str = hostText;
  elements[1].xltype = kXltypeInt;
  elements[1].val.w = -3;
  NativeXloper array = {};
  array.xltype = kXltypeMulti | kXlbitXLFree;
  array.val.array.lparray = elements;
  array.val.array.rows = 2;
  array.val.array.columns = 1;
  Xloper read = fromNativeXloper(&array);
  CHECK_EQ(read.flags(), kXlbitXLFree);
  CHECK_EQ(read.rows(), 2);
  CHECK(read.elements()[0] == Xloper::string("hello"));
  CHECK(read.elements()[1] == Xloper::integer(-3));

  CHECK(fromNativeXloper(nullptr) == Xloper::missing());
  NativeXloper flow = {};
  flow.xltype = kXltypeFlow;
  CHECK(fromNativeXloper(&flow) == Xloper::nil());
}

TEST_CASE("the add-in callback reaches the exported entry with the arguments") {
  Win32AddinCallback callback;
  HostLog& log = hostLog();
  Xloper text = Xloper::string("name");
  Xloper number = Xloper::number(3);
  Xloper result = Xloper::string("stale");
  CHECK_EQ(callback.excel4(kAnswer42, &result, {{&text, &number}}), kXlretSuccess);
  CHECK_EQ(log.counts.back(), 2);
  CHECK(log.arguments == std::vector<Xloper>({text, number}));
  CHECK(result == Xloper::number(42));
  CHECK_EQ(callback.pendingReleases(), size_t(0));

  // Without a result the call still runs; a refused call leaves the result alone.
  CHECK_EQ(callback.excel4(kAnswer42, nullptr, {}), kXlretSuccess);
  CHECK(!log.resultGiven);
  CHECK_EQ(callback.excel4(kRefuse, &result, {{&text}}), kXlretInvXloper);
  CHECK(result == Xloper::number(42));

  // More arguments than the interface counts: refused before the host program sees them.
  std::vector<const Xloper*> many(kXlMaxArguments + 1, &number);
  size_t calls = log.functions.size();
  CHECK_EQ(callback.excel4(kAnswer42, &result, many), kXlretInvCount);
  CHECK_EQ(log.functions.size(), calls);
  many.pop_back();
  CHECK_EQ(callback.excel4(kAnswer42, &result, many), kXlretSuccess);
  CHECK_EQ(log.counts.back(), int(kXlMaxArguments));
}

TEST_CASE("a value the host program allocated goes back to it once through xlFree") {
  Win32AddinCallback callback;
  HostLog& log = hostLog();
  log.allocated.clear();
  log.freed.clear();
  Xloper text = Xloper::string("hello");
  Xloper first, second;
  CHECK_EQ(callback.excel4(kEcho, &first, {{&text}}), kXlretSuccess);
  CHECK_EQ(callback.excel4(kEcho, &second, {{&text}}), kXlretSuccess);
  CHECK(first.text() == "hello");
  CHECK_EQ(first.flags(), kXlbitXLFree);
  CHECK_EQ(callback.pendingReleases(), size_t(2));

  // As the runtime's holder does it: the value moves out, the holder forgets it.
  Xloper handedBack = std::move(first);
  CHECK_EQ(callback.excel4(kXlFree, nullptr, {{&handedBack}}), kXlretSuccess);
  CHECK_EQ(log.freed.size(), size_t(1));
  CHECK_EQ(callback.pendingReleases(), size_t(1));
  // Handing the same value back again must not free the host program's memory twice.
  Xloper copy = second;
  CHECK_EQ(callback.excel4(kXlFree, nullptr, {{&second}}), kXlretSuccess);
  CHECK_EQ(callback.excel4(kXlFree, nullptr, {{&copy}}), kXlretInvXloper);
  CHECK(log.freed == log.allocated);
  CHECK_EQ(callback.pendingReleases(), size_t(0));

  // A value the runtime made itself is not the host program's to free.
  Xloper own = Xloper::string("own");
  own.setFlags(kXlbitXLFree);
  size_t calls = log.functions.size();
  CHECK_EQ(callback.excel4(kXlFree, nullptr, {{&own}}), kXlretInvXloper);
  CHECK_EQ(log.functions.size(), calls);
}

}  // namespace
}  // namespace korvel::win32
