// Text sizes in the message dialog's fonts on the screen, the monitors' work areas, windows'
// rectangles and the system's frame metrics.
#ifndef KORVEL_HOSTS_WIN32_WIN32_TEXT_METRICS_H_
#define KORVEL_HOSTS_WIN32_WIN32_TEXT_METRICS_H_

#include <windows.h>

#include <array>

#include "platform/text_metrics.h"

namespace korvel::win32 {

class Win32TextMetrics : public TextMetrics {
 public:
  Win32TextMetrics() = default;
  ~Win32TextMetrics() override;
  Win32TextMetrics(const Win32TextMetrics&) = delete;
  Win32TextMetrics& operator=(const Win32TextMetrics&) = delete;

  PixelSize textExtent(std::u16string_view text, DialogFont font) const override;
  int wrappedTextHeight(std::u16string_view text, DialogFont font, int width) const override;
  int screenWidth() const override;
  PixelRect workAreaNear(const PixelRect& rect) const override;
  PixelRect windowRect(WindowHandle window) const override;
  bool windowShown(WindowHandle window) const override;
  int captionHeight() const override;
  int edgeWidth() const override;
  int edgeHeight() const override;
  int dialogBaseUnitX() const override;

  // The font itself (Tahoma at the font's size), made on first use and kept while this object
  // lives; for the dialogs that draw in it.
  HFONT font(DialogFont font) const;

 private:
  mutable std::array<HFONT, 3> fonts_{};
};

}  // namespace korvel::win32

#endif  // KORVEL_HOSTS_WIN32_WIN32_TEXT_METRICS_H_
