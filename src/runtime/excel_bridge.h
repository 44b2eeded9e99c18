// The bridge to the host program's add-in callback: Excel4 with the interface's limits over the
// AddinCallback port, and the holder of a value record that hands values back to whoever made them
// when it lets go of them.
//
// REQUIRES: used on the host program's user-interface thread.
#ifndef KORVEL_RUNTIME_EXCEL_BRIDGE_H_
#define KORVEL_RUNTIME_EXCEL_BRIDGE_H_

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "platform/addin_callback.h"
#include "platform/xloper.h"

namespace korvel {

class ExcelBridge {
 public:
  // A null callback stands for a library loaded outside the host program.
  explicit ExcelBridge(AddinCallback* callback) : callback_(callback) {}

  // The callback's Excel4: kXlretFailed without a callback, kXlretInvCount for more than
  // kXlMaxArguments arguments (the callback is not called), else the callback's answer.
  // REQUIRES: no argument is result.
  int excel4(int function, Xloper* result, std::span<const Xloper* const> arguments);
  int excel4(int function, Xloper* result, std::initializer_list<const Xloper*> arguments) {
    return excel4(function, result,
                  std::span<const Xloper* const>(arguments.begin(), arguments.size()));
  }

 private:
  AddinCallback* callback_;
};

// Owns one value record. Letting go of it (destruction, reassignment, release) hands a value the
// host program made (kXlbitXLFree) back through xlFree and frees the runtime's own storage;
// the holder is nil afterwards.
class XloperHolder {
 public:
  explicit XloperHolder(ExcelBridge* bridge) : bridge_(bridge) {}
  ~XloperHolder() { release(); }
  XloperHolder(const XloperHolder&) = delete;
  XloperHolder& operator=(const XloperHolder&) = delete;
  XloperHolder(XloperHolder&& other) noexcept;
  XloperHolder& operator=(XloperHolder&& other) noexcept;

  // A string record of the 8-bit text, cut to kXlStringMax bytes.
  void setText(std::string_view text);
  void setNil() { release(); }
  // The value's text: a string's counted bytes up to an embedded zero byte; empty for others.
  std::string text() const;
  void release();

  Xloper& value() { return value_; }
  const Xloper& value() const { return value_; }
  Xloper* get() { return &value_; }

 private:
  ExcelBridge* bridge_;
  Xloper value_;
};

// UTF-16 text as 8-bit text the way the add-in interface takes it: each unit keeps its low byte.
std::string narrowText(std::u16string_view text);
// 8-bit text widened unit by unit (each byte becomes the unit of the same value).
std::u16string widenText(std::string_view text);

}  // namespace korvel

#endif  // KORVEL_RUNTIME_EXCEL_BRIDGE_H_
