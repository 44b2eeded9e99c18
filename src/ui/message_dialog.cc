#include "ui/message_dialog.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace korvel {
namespace {

// Larger pictures than this are taken for damaged headers rather than drawn.
constexpr uint32_t kLargestPicture = 1024;
// Room the body control keeps beside its text: borders, inner margins and the vertical scroll
// bar that a multi-line rich edit shows.
constexpr int kBodyHorizontalPadding = 24;
constexpr int kBodyVerticalPadding = 8;

// a * b / c rounded to the nearest, as the system's MulDiv does for the non-negative measures
// and positive divisors of a layout.
int mulDiv(int a, int b, int c) { return static_cast<int>((int64_t{a} * b + c / 2) / c); }

uint32_t bigEndian32(std::string_view bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// The picture's size from its header; empty when the bytes are no PNG picture.
PixelSize pngSize(std::string_view png) {
  static constexpr std::string_view kSignature("\x89PNG\r\n\x1a\n", 8);
  if (png.size() < 24 || png.substr(0, 8) != kSignature || png.substr(12, 4) != "IHDR") return {};
  const uint32_t width = bigEndian32(png, 16);
  const uint32_t height = bigEndian32(png, 20);
  if (width == 0 || height == 0 || width > kLargestPicture || height > kLargestPicture) return {};
  return {static_cast<int>(width), static_cast<int>(height)};
}

std::u16string fromUtf16Bytes(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return text;
}

// A window's text ends at its first null character.
std::u16string untilNull(std::u16string text) {
  const size_t end = text.find(u'\0');
  if (end != std::u16string::npos) text.resize(end);
  return text;
}

// The text a rich-text source shows, near enough to size the body: control words dropped (a
// paragraph or line break kept as a break), escaped characters kept, groups flattened. The
// contents of destinations such as the font table count as text, which only errs towards a
// taller body.
std::u16string visibleRichText(std::string_view rtf) {
  std::u16string text;
  size_t i = 0;
  while (i < rtf.size()) {
    const char c = rtf[i];
    if (c == '{' || c == '}' || c == '\r' || c == '\n') {
      ++i;
    } else if (c != '\\') {
      text.push_back(static_cast<unsigned char>(c));
      ++i;
    } else if (i + 1 >= rtf.size()) {
      ++i;
    } else if (std::isalpha(static_cast<unsigned char>(rtf[i + 1]))) {
      size_t end = i + 1;
      while (end < rtf.size() && std::isalpha(static_cast<unsigned char>(rtf[end]))) ++end;
      const std::string_view word = rtf.substr(i + 1, end - i - 1);
      if (end < rtf.size() && rtf[end] == '-') ++end;
      while (end < rtf.size() && std::isdigit(static_cast<unsigned char>(rtf[end]))) ++end;
      if (end < rtf.size() && rtf[end] == ' ') ++end;
      if (word == "par" || word == "line") text.push_back(u'\n');
      i = end;
    } else if (rtf[i + 1] == '\'') {
      text.push_back(u'?');
      i = std::min(rtf.size(), i + 4);
    } else {
      text.push_back(static_cast<unsigned char>(rtf[i + 1]));
      i += 2;
    }
  }
  return text;
}

}  // namespace

std::string utf16Bytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

MessageDialog::MessageDialog(int widthPixels, const Locale* codePage)
    : widthPixels_(std::max(widthPixels, 0)), codePage_(codePage) {}

void MessageDialog::setPicture(std::string_view png) {
  pictureSize_ = pngSize(png);
  if (pictureSize_.width == 0) {
    picture_.clear();
    return;
  }
  picture_.assign(png);
}

void MessageDialog::setBody(std::string_view bytes, bool isUtf16) {
  hasBody_ = true;
  body_.assign(bytes);
  bodyIsUtf16_ = isUtf16;
}

void MessageDialog::addLine(std::u16string text, DialogFont font) {
  lines_.push_back({std::move(text), font});
}

void MessageDialog::addButton(std::u16string label, int id) {
  buttons_.push_back({std::move(label), id});
}

MessageDialogView MessageDialog::layout(const TextMetrics& metrics, WindowHandle owner) const {
  MessageDialogView view;
  view.title = title_;
  view.icon = icon_;
  view.picture = picture_;

  // The body's form decides how it is read.
  if (hasBody_) {
    const std::string_view body = body_;
    if (bodyIsUtf16_ || body.substr(0, 2) == "\xFF\xFE") {
      view.bodyForm = MessageDialogView::BodyForm::kPlainText;
      const std::string_view units = body.substr(0, 2) == "\xFF\xFE" ? body.substr(2) : body;
      view.bodyText = untilNull(fromUtf16Bytes(units));
    } else if (body.substr(0, 5) == "{\\rtf") {
      view.bodyForm = MessageDialogView::BodyForm::kRichText;
      view.richText = body_;
    } else {
      view.bodyForm = MessageDialogView::BodyForm::kPlainText;
      std::u16string text;
      if (codePage_ != nullptr) {
        text = codePage_->fromCodePage(body);
      } else {
        for (char byte : body) text.push_back(static_cast<unsigned char>(byte));
      }
      view.bodyText = untilNull(std::move(text));
    }
  }

  // The dialog template holds the width in dialog units; the client area comes back from them.
  const int baseUnit = metrics.dialogBaseUnitX() > 0 ? metrics.dialogBaseUnitX() : 4;
  const int clientFromTemplate = mulDiv(mulDiv(widthPixels_, 4, baseUnit), baseUnit, 4);
  const int edgeWidth = metrics.edgeWidth();
  const int edgeHeight = metrics.edgeHeight();

  // The buttons decide how wide the window must at least be; two thirds of the screen is the
  // most it may be, whatever the buttons or the texts ask for.
  std::vector<int> buttonWidths;
  int rowWidth = 0;
  for (const Button& button : buttons_) {
    const int textWidth = metrics.textExtent(button.label, DialogFont::kNormal).width;
    const int width = std::max(kMessageButtonMinimumWidth, textWidth + kMessageButtonTextPadding);
    buttonWidths.push_back(width);
    rowWidth += width + (rowWidth > 0 ? kMessageButtonGap : 0);
  }
  const int widest = metrics.screenWidth() * 2 / 3;
  int windowWidth = clientFromTemplate + 2 * edgeWidth;
  const int needed = rowWidth + kMessageButtonRowMargin + 2 * edgeWidth;
  if (windowWidth < needed) windowWidth = std::min(needed, widest);
  if (windowWidth > widest) windowWidth = widest;
  windowWidth = std::max(windowWidth, 2 * edgeWidth);
  const int clientWidth = windowWidth - 2 * edgeWidth;

  // Content: the picture in the top-left corner, the body beside it, then the lines.
  const PixelRect ownerRect = metrics.windowRect(owner);
  const PixelRect ownerWorkArea = metrics.workAreaNear(ownerRect);
  int contentBottom = 0;
  if (!picture_.empty()) {
    contentBottom = kMessageContentMargin + pictureSize_.height;
  }
  if (view.bodyForm != MessageDialogView::BodyForm::kNone) {
    const int left = picture_.empty()
                         ? kMessageContentMargin
                         : kMessageContentMargin + pictureSize_.width + kMessageContentMargin;
    const int right = std::max(left, clientWidth - kMessageContentMargin);
    // A long body scrolls rather than pushing the buttons off the screen.
    const int tallest = std::max(ownerWorkArea.height() / 2, 3 * kMessageButtonHeight);
    const std::u16string measured = view.bodyForm == MessageDialogView::BodyForm::kRichText
                                        ? visibleRichText(view.richText)
                                        : view.bodyText;
    const int textWidth = std::max(right - left - kBodyHorizontalPadding, 1);
    const int height = std::min(
        metrics.wrappedTextHeight(measured, DialogFont::kNormal, textWidth) + kBodyVerticalPadding,
        tallest);
    view.bodyRect = {left, kMessageContentMargin, right, kMessageContentMargin + height};
    contentBottom = std::max(contentBottom, view.bodyRect.bottom);
  }
  for (const Line& line : lines_) {
    const int height = metrics.textExtent(line.text, line.font).height + 1;
    view.lines.push_back(
        {line.text, line.font, {0, contentBottom, clientWidth, contentBottom + height}});
    contentBottom += height;
  }

  const int clientHeight = contentBottom + kMessageBelowContent;
  const int windowHeight = clientHeight + metrics.captionHeight() + 2 * edgeHeight;

  // The row ends half the row margin from the right edge.
  int right = clientWidth - kMessageButtonRowMargin / 2;
  const int buttonBottom = clientHeight - kMessageButtonBottomMargin;
  for (size_t i = buttons_.size(); i-- > 0;) {
    const int width = buttonWidths[i];
    view.buttons.insert(view.buttons.begin(), {buttons_[i].label,
                                               buttons_[i].id,
                                               {right - width, buttonBottom - kMessageButtonHeight,
                                                right, buttonBottom}});
    right -= width + kMessageButtonGap;
  }

  // Centred over a shown owner, else over the work area near it; kept inside the work area of the
  // monitor it lands on.
  const PixelRect around = metrics.windowShown(owner) ? ownerRect : ownerWorkArea;
  int left = around.left + (around.width() - windowWidth) / 2;
  int top = around.top + (around.height() - windowHeight) / 2;
  const PixelRect area = metrics.workAreaNear({left, top, left + windowWidth, top + windowHeight});
  left = std::max(area.left, std::min(left, area.right - windowWidth));
  top = std::max(area.top, std::min(top, area.bottom - windowHeight));
  view.window = {left, top, left + windowWidth, top + windowHeight};
  return view;
}

int MessageDialog::showModal(const Platform& platform, WindowHandle owner) const {
  if (platform.dialogs == nullptr || platform.textMetrics == nullptr) return 0;
  return platform.dialogs->showMessageDialog(owner, layout(*platform.textMetrics, owner));
}

}  // namespace korvel
