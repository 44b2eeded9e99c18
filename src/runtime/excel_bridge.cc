#include "runtime/excel_bridge.h"

#include <utility>

namespace korvel {

int ExcelBridge::excel4(int function, Xloper* result, std::span<const Xloper* const> arguments) {
  if (!callback_) return kXlretFailed;
  // The interface counts arguments in one byte's range; the host program would read past the
  // array for more, so the call is refused before it is made.
  if (arguments.size() > kXlMaxArguments) return kXlretInvCount;
  return callback_->excel4(function, result, arguments);
}

XloperHolder::XloperHolder(XloperHolder&& other) noexcept
    : bridge_(other.bridge_), value_(std::move(other.value_)) {
  other.value_ = Xloper();
}

XloperHolder& XloperHolder::operator=(XloperHolder&& other) noexcept {
  if (this != &other) {
    release();
    bridge_ = other.bridge_;
    value_ = std::move(other.value_);
    other.value_ = Xloper();
  }
  return *this;
}

void XloperHolder::setText(std::string_view text) {
  release();
  value_ = Xloper::string(text);
}

std::string XloperHolder::text() const { return std::string(value_.text()); }

void XloperHolder::release() {
  // A value the host program made is its to free; the record's own storage goes with the
  // reassignment either way, so the holder never hands the same value back twice.
  if ((value_.flags() & kXlbitXLFree) != 0 && bridge_) {
    Xloper handedBack = std::move(value_);
    value_ = Xloper();
    bridge_->excel4(kXlFree, nullptr, {&handedBack});
    return;
  }
  value_ = Xloper();
}

std::string narrowText(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t unit : text) out.push_back(char(unit & 0xFF));
  return out;
}

std::u16string widenText(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char byte : text) out.push_back(char16_t(uint8_t(byte)));
  return out;
}

}  // namespace korvel
