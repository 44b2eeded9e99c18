#include "hosts/win32/win32_text_metrics.h"

#include <climits>

namespace korvel::win32 {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

struct FontSpec {
  int pixels;
  int weight;
};

// Indexed by DialogFont.
constexpr FontSpec kFonts[3] = {{10, FW_NORMAL}, {11, FW_NORMAL}, {12, FW_SEMIBOLD}};

HWND windowOf(WindowHandle window) {
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(static_cast<uint64_t>(window)));
}

// A screen device context with the font selected, restored and released when done.
class ScreenText {
 public:
  explicit ScreenText(HFONT font) : dc_(GetDC(nullptr)) {
    if (dc_ != nullptr && font != nullptr) previous_ = SelectObject(dc_, font);
  }
  ~ScreenText() {
    if (dc_ == nullptr) return;
    if (previous_ != nullptr) SelectObject(dc_, previous_);
    ReleaseDC(nullptr, dc_);
  }
  ScreenText(const ScreenText&) = delete;
  ScreenText& operator=(const ScreenText&) = delete;
  HDC dc() const { return dc_; }

 private:
  HDC dc_;
  HGDIOBJ previous_ = nullptr;
};

// The system measures texts of int length; longer ones are measured as far as that goes.
int measuredLength(std::u16string_view text) {
  return text.size() > size_t(INT_MAX) ? INT_MAX : int(text.size());
}

}  // namespace

Win32TextMetrics::~Win32TextMetrics() {
  for (HFONT font : fonts_) {
    if (font != nullptr) DeleteObject(font);
  }
}

HFONT Win32TextMetrics::font(DialogFont font) const {
  auto index = size_t(font);
  if (index >= fonts_.size()) index = size_t(DialogFont::kNormal);
  if (fonts_[index] == nullptr) {
    // A negative height asks for the character height in pixels, as the dialogs lay text out.
    fonts_[index] = CreateFontW(-kFonts[index].pixels, 0, 0, 0, kFonts[index].weight, FALSE, FALSE,
                                FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
  }
  return fonts_[index];
}

PixelSize Win32TextMetrics::textExtent(std::u16string_view text, DialogFont font) const {
  ScreenText screen(this->font(font));
  SIZE size{};
  if (screen.dc() == nullptr ||
      !GetTextExtentPoint32W(screen.dc(), reinterpret_cast<const wchar_t*>(text.data()),
                             measuredLength(text), &size)) {
    return {};
  }
  return {int(size.cx), int(size.cy)};
}

int Win32TextMetrics::wrappedTextHeight(std::u16string_view text, DialogFont font,
                                        int width) const {
  ScreenText screen(this->font(font));
  if (screen.dc() == nullptr) return 0;
  RECT rect{0, 0, width > 0 ? width : 1, 0};
  // Ampersands are text in the dialog's body, not mnemonics.
  int height =
      DrawTextW(screen.dc(), reinterpret_cast<const wchar_t*>(text.data()), measuredLength(text),
                &rect, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
  return height > 0 ? int(rect.bottom - rect.top) : 0;
}

int Win32TextMetrics::screenWidth() const { return GetSystemMetrics(SM_CXSCREEN); }

PixelRect Win32TextMetrics::workAreaNear(const PixelRect& rect) const {
  RECT area{rect.left, rect.top, rect.right, rect.bottom};
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  HMONITOR monitor = MonitorFromRect(&area, MONITOR_DEFAULTTONEAREST);
  if (monitor == nullptr || !GetMonitorInfoW(monitor, &info)) {
    return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  return {int(info.rcWork.left), int(info.rcWork.top), int(info.rcWork.right),
          int(info.rcWork.bottom)};
}

PixelRect Win32TextMetrics::windowRect(WindowHandle window) const {
  RECT rect{};
  if (window == WindowHandle::kNoWindow || !GetWindowRect(windowOf(window), &rect)) return {};
  return {int(rect.left), int(rect.top), int(rect.right), int(rect.bottom)};
}

bool Win32TextMetrics::windowShown(WindowHandle window) const {
  HWND handle = windowOf(window);
  return window != WindowHandle::kNoWindow && IsWindowVisible(handle) && !IsIconic(handle);
}

int Win32TextMetrics::captionHeight() const { return GetSystemMetrics(SM_CYCAPTION); }

int Win32TextMetrics::edgeWidth() const { return GetSystemMetrics(SM_CXDLGFRAME); }

int Win32TextMetrics::edgeHeight() const { return GetSystemMetrics(SM_CYDLGFRAME); }

int Win32TextMetrics::dialogBaseUnitX() const { return LOWORD(GetDialogBaseUnits()); }

}  // namespace korvel::win32
