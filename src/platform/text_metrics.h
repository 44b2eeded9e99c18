// What a layout needs to know of the screen and its fonts: the size text takes in one of the
// dialog fonts, the screen and its work areas, and the fixed parts of a window frame. Sizes are
// pixels.
#ifndef KORVEL_PLATFORM_TEXT_METRICS_H_
#define KORVEL_PLATFORM_TEXT_METRICS_H_

#include <cstdint>
#include <string_view>

#include "platform/window_system.h"

namespace korvel {

struct PixelSize {
  int width = 0;
  int height = 0;
  friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

struct PixelRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The message dialog's three fonts (Tahoma 10 px, 11 px and 12 px semi-bold); 1 is the dialog's.
enum class DialogFont : int { kSmall = 0, kNormal = 1, kLarge = 2 };

class TextMetrics {
 public:
  virtual ~TextMetrics() = default;
  // The extent of the text on one line in the font.
  virtual PixelSize textExtent(std::u16string_view text, DialogFont font) const = 0;
  // The height the text takes when wrapped at the width (rich-text body of a dialog).
  virtual int wrappedTextHeight(std::u16string_view text, DialogFont font, int width) const = 0;
  // The primary screen's width.
  virtual int screenWidth() const = 0;
  // The work area (screen without task bars) of the monitor nearest to the rectangle.
  virtual PixelRect workAreaNear(const PixelRect& rect) const = 0;
  // The window's rectangle on the screen; empty when it does not exist.
  virtual PixelRect windowRect(WindowHandle window) const = 0;
  // Whether the window is visible and not minimised.
  virtual bool windowShown(WindowHandle window) const = 0;
  // Height of a caption bar, and width and height of a dialog frame's edge.
  virtual int captionHeight() const = 0;
  virtual int edgeWidth() const = 0;
  virtual int edgeHeight() const = 0;
  // The horizontal dialog base unit (pixels per 4 dialog units).
  virtual int dialogBaseUnitX() const = 0;
};

}  // namespace korvel

#endif  // KORVEL_PLATFORM_TEXT_METRICS_H_
