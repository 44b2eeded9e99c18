// The add-in interface's value record as the host program passes it in memory: 16 bytes, 8 of
// value and the 16-bit type word, with counted 8-bit strings, reference blocks and arrays the
// record points to. Conversions to and from the portable Xloper, which owns its storage.
#ifndef KORVEL_HOSTS_WIN32_NATIVE_XLOPER_H_
#define KORVEL_HOSTS_WIN32_NATIVE_XLOPER_H_

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/xloper.h"

namespace korvel::win32 {

#pragma pack(push, 1)
struct NativeRect {
  uint16_t rowFirst, rowLast;
  uint8_t columnFirst, columnLast;
};
struct NativeMultiReference {
  uint16_t count;
  NativeRect rects[1];  // count rectangles
};
#pragma pack(pop)

struct NativeXloper {
  union {
    double num;
    char* str;  // counted: the first byte is the length
    uint16_t xbool;
    uint16_t err;
    int16_t w;
    struct {
      uint16_t count;  // always 1
      NativeRect ref;
    } sref;
    struct {
      NativeMultiReference* lpmref;
      uint32_t idSheet;
    } mref;
    struct {
      NativeXloper* lparray;
      uint16_t rows;
      uint16_t columns;
    } array;
    uint8_t raw[8];
  } val;
  uint16_t xltype;
};
static_assert(sizeof(NativeXloper) == 16 || sizeof(void*) != 4);

// The portable copy of a native record (null reads as missing); flag bits are kept.
Xloper fromNativeXloper(const NativeXloper* in);

// Native copies of portable values whose memory stays valid until the store forgets them: what an
// entry point returns to the host program, and the arguments of one callback.
class NativeXloperStore {
 public:
  NativeXloperStore() = default;
  NativeXloperStore(const NativeXloperStore&) = delete;
  NativeXloperStore& operator=(const NativeXloperStore&) = delete;

  // A native copy of the value; it stays valid until clear() or the store's end.
  NativeXloper* keep(const Xloper& value);
  void clear();

 private:
  std::deque<NativeXloper> records_;
  std::deque<std::string> strings_;
  std::deque<std::vector<uint8_t>> blocks_;
  std::deque<std::vector<NativeXloper>> arrays_;
};

}  // namespace korvel::win32

#endif  // KORVEL_HOSTS_WIN32_NATIVE_XLOPER_H_
