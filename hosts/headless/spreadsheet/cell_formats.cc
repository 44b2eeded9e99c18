#include "hosts/headless/spreadsheet/cell_formats.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>
#include <utility>

#include "util/text.h"

namespace korvel {
namespace {

// Element names may carry a namespace prefix ("x:numFmt").
bool named(pugi::xml_node node, std::string_view name) {
  std::string_view full = node.name();
  size_t colon = full.find(':');
  return (colon == std::string_view::npos ? full : full.substr(colon + 1)) == name;
}

pugi::xml_node child(pugi::xml_node node, std::string_view name) {
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
    if (named(c, name)) return c;
  return {};
}

bool readId(const char* text, int64_t* out) {
  std::string_view view = text;
  auto [end, failed] = std::from_chars(view.data(), view.data() + view.size(), *out);
  return !view.empty() && failed == std::errc() && end == view.data() + view.size();
}

struct BuiltIn {
  int64_t id;
  const char16_t* code;
};

// The ids 1 to 49 that have codes, as the program shows them in the en-US locale.
constexpr BuiltIn kBuiltIn[] = {
    {1, u"0"},
    {2, u"0.00"},
    {3, u"#,##0"},
    {4, u"#,##0.00"},
    {5, u"$#,##0_);($#,##0)"},
    {6, u"$#,##0_);[Red]($#,##0)"},
    {7, u"$#,##0.00_);($#,##0.00)"},
    {8, u"$#,##0.00_);[Red]($#,##0.00)"},
    {9, u"0%"},
    {10, u"0.00%"},
    {11, u"0.00E+00"},
    {12, u"# ?/?"},
    {13, u"# ??/??"},
    {14, u"m/d/yyyy"},
    {15, u"d-mmm-yy"},
    {16, u"d-mmm"},
    {17, u"mmm-yy"},
    {18, u"h:mm AM/PM"},
    {19, u"h:mm:ss AM/PM"},
    {20, u"h:mm"},
    {21, u"h:mm:ss"},
    {22, u"m/d/yyyy h:mm"},
    {37, u"#,##0 ;(#,##0)"},
    {38, u"#,##0 ;[Red](#,##0)"},
    {39, u"#,##0.00;(#,##0.00)"},
    {40, u"#,##0.00;[Red](#,##0.00)"},
    {41, u"_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)"},
    {42, u"_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)"},
    {43, u"_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)"},
    {44, u"_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)"},
    {45, u"mm:ss"},
    {46, u"[h]:mm:ss"},
    {47, u"mm:ss.0"},
    {48, u"##0.0E+0"},
    {49, u"@"},
};

// The children of node named name, in order.
std::vector<pugi::xml_node> children(pugi::xml_node node, std::string_view name) {
  std::vector<pugi::xml_node> list;
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
    if (named(c, name)) list.push_back(c);
  return list;
}

// An element's "val": absent means on, as in <b/>.
bool flagOn(pugi::xml_node node) {
  if (!node) return false;
  std::string_view value = node.attribute("val").value();
  return value.empty() || value == "1" || value == "true";
}

// 0x00BBGGRR from 0xRRGGBB.
uint32_t fromRgb(uint32_t rgb) {
  return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

// 0x00BBGGRR from "RRGGBB" or "AARRGGBB"; the alpha is not shown.
std::optional<uint32_t> hexColour(std::string_view text) {
  if (text.size() != 6 && text.size() != 8) return std::nullopt;
  uint32_t argb = 0;
  auto [end, failed] = std::from_chars(text.data(), text.data() + text.size(), argb, 16);
  if (failed != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return fromRgb(argb & 0xFFFFFF);
}

// The legacy palette of indexed colours 0 to 63, as 0xRRGGBB.
constexpr uint32_t kPalette[64] = {
    0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF,
    0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF,
    0x800000, 0x008000, 0x000080, 0x808000, 0x800080, 0x008080, 0xC0C0C0, 0x808080,
    0x9999FF, 0x993366, 0xFFFFCC, 0xCCFFFF, 0x660066, 0xFF8080, 0x0066CC, 0xCCCCFF,
    0x000080, 0xFF00FF, 0xFFFF00, 0x00FFFF, 0x800080, 0x800000, 0x008080, 0x0000FF,
    0x00CCFF, 0xCCFFFF, 0xCCFFCC, 0xFFFF99, 0x99CCFF, 0xFF99CC, 0xCC99FF, 0xFFCC99,
    0x3366FF, 0x33CCCC, 0x99CC00, 0xFFCC00, 0xFF9900, 0xFF6600, 0x666699, 0x969696,
    0x003366, 0x339966, 0x003300, 0x333300, 0x993300, 0x993366, 0x333399, 0x333333,
};

// The colour lightened (tint > 0) or darkened (tint < 0) by the tint's part of its lightness.
uint32_t tinted(uint32_t bgr, double tint) {
  double rgb[3] = {(bgr & 0xFF) / 255.0, ((bgr >> 8) & 0xFF) / 255.0, ((bgr >> 16) & 0xFF) / 255.0};
  double high = std::max({rgb[0], rgb[1], rgb[2]});
  double low = std::min({rgb[0], rgb[1], rgb[2]});
  double lightness = (high + low) / 2;
  double hue = 0, saturation = 0;
  if (high != low) {
    double range = high - low;
    saturation = lightness > 0.5 ? range / (2 - high - low) : range / (high + low);
    if (high == rgb[0]) {
      hue = (rgb[1] - rgb[2]) / range + (rgb[1] < rgb[2] ? 6 : 0);
    } else if (high == rgb[1]) {
      hue = (rgb[2] - rgb[0]) / range + 2;
    } else {
      hue = (rgb[0] - rgb[1]) / range + 4;
    }
    hue /= 6;
  }
  lightness = tint < 0 ? lightness * (1 + tint) : lightness * (1 - tint) + tint;
  double q = lightness < 0.5 ? lightness * (1 + saturation)
                             : lightness + saturation - lightness * saturation;
  double p = 2 * lightness - q;
  auto channel = [&](double t) {
    if (saturation == 0) return lightness;
    if (t < 0) t += 1;
    if (t > 1) t -= 1;
    if (t < 1.0 / 6) return p + (q - p) * 6 * t;
    if (t < 0.5) return q;
    if (t < 2.0 / 3) return p + (q - p) * (2.0 / 3 - t) * 6;
    return p;
  };
  uint32_t out = 0;
  const double shifts[3] = {hue + 1.0 / 3, hue, hue - 1.0 / 3};
  for (int i = 0; i < 3; ++i) {
    double value = std::clamp(channel(shifts[i]), 0.0, 1.0);
    out |= uint32_t(std::lround(value * 255)) << (8 * i);
  }
  return out;
}

// The theme's colours in the order cells index them: light 1, dark 1, light 2, dark 2, the
// accents, then the links' (the part lists each pair dark first).
std::vector<uint32_t> themeColours(pugi::xml_node theme) {
  pugi::xml_node scheme = child(child(theme, "themeElements"), "clrScheme");
  std::vector<uint32_t> colours;
  for (pugi::xml_node entry = scheme.first_child(); entry; entry = entry.next_sibling()) {
    pugi::xml_node value = entry.first_child();
    std::optional<uint32_t> colour;
    if (named(value, "srgbClr")) colour = hexColour(value.attribute("val").value());
    if (named(value, "sysClr")) colour = hexColour(value.attribute("lastClr").value());
    colours.push_back(colour.value_or(0));
  }
  if (colours.size() >= 4) {
    std::swap(colours[0], colours[1]);
    std::swap(colours[2], colours[3]);
  }
  return colours;
}

// A <color> element's colour; absent for none, an automatic one, or one that names nothing
// known.
std::optional<uint32_t> colourOf(pugi::xml_node color, const std::vector<uint32_t>& theme) {
  if (!color) return std::nullopt;
  std::optional<uint32_t> colour;
  int64_t index = 0;
  if (pugi::xml_attribute rgb = color.attribute("rgb")) {
    colour = hexColour(rgb.value());
  } else if (readId(color.attribute("indexed").value(), &index)) {
    // 64 and 65 are the system's text and window colours.
    if (index >= 0 && index < 64) colour = fromRgb(kPalette[index]);
    if (index == 64) colour = 0x000000;
    if (index == 65) colour = 0xFFFFFF;
  } else if (readId(color.attribute("theme").value(), &index)) {
    if (index >= 0 && index < int64_t(theme.size())) colour = theme[size_t(index)];
  }
  const char* tintText = color.attribute("tint").value();
  char* end = nullptr;
  double tint = std::strtod(tintText, &end);
  if (colour && end != tintText && *end == '\0' && tint >= -1 && tint <= 1 && tint != 0) {
    colour = tinted(*colour, tint);
  }
  return colour;
}

struct Font {
  CellStyle style;  // the font's members only
  std::optional<uint32_t> colour;
};

Font readFont(pugi::xml_node font, const std::vector<uint32_t>& theme) {
  Font out;
  out.style.bold = flagOn(child(font, "b"));
  out.style.italic = flagOn(child(font, "i"));
  if (pugi::xml_node u = child(font, "u")) {
    std::string_view kind = u.attribute("val").value();
    if (kind != "none") out.style.underline = kind.empty() ? "single" : std::string(kind);
  }
  std::string_view size = child(font, "sz").attribute("val").value();
  std::from_chars(size.data(), size.data() + size.size(), out.style.fontSize);
  if (!(out.style.fontSize > 0 && out.style.fontSize <= 409)) out.style.fontSize = 0;
  out.style.fontName = fromUtf8(child(font, "name").attribute("val").value());
  out.colour = colourOf(child(font, "color"), theme);
  return out;
}

BorderLine readLine(pugi::xml_node side, const std::vector<uint32_t>& theme) {
  BorderLine line;
  std::string_view style = side.attribute("style").value();
  if (style.empty() || style == "none") return line;
  line.style = style;
  line.color = colourOf(child(side, "color"), theme);
  return line;
}

}  // namespace

std::u16string_view builtInNumberFormat(int64_t id) {
  for (const BuiltIn& format : kBuiltIn) {
    if (format.id == id) return format.code;
  }
  return {};
}

std::vector<std::u16string> cellFormatCodes(pugi::xml_node styleSheet) {
  std::map<int64_t, std::u16string> own;
  for (pugi::xml_node f = child(child(styleSheet, "numFmts"), "numFmt"); f; f = f.next_sibling()) {
    int64_t id = 0;
    if (named(f, "numFmt") && readId(f.attribute("numFmtId").value(), &id))
      own[id] = fromUtf8(f.attribute("formatCode").value());
  }
  std::vector<std::u16string> codes;
  for (pugi::xml_node xf = child(child(styleSheet, "cellXfs"), "xf"); xf; xf = xf.next_sibling()) {
    if (!named(xf, "xf")) continue;
    int64_t id = 0;
    std::u16string code;
    if (readId(xf.attribute("numFmtId").value(), &id)) {
      auto found = own.find(id);
      code = found != own.end() ? found->second : std::u16string(builtInNumberFormat(id));
    }
    if (equalsNoCase(code, u"General")) code.clear();
    codes.push_back(std::move(code));
  }
  return codes;
}

}  // namespace korvel

namespace korvel {

std::vector<CellFormatLook> cellFormatLooks(pugi::xml_node styleSheet, pugi::xml_node theme) {
  std::vector<uint32_t> palette = themeColours(theme);
  std::vector<Font> fonts;
  for (pugi::xml_node font : children(child(styleSheet, "fonts"), "font"))
    fonts.push_back(readFont(font, palette));
  std::vector<std::optional<uint32_t>> fills;
  for (pugi::xml_node fill : children(child(styleSheet, "fills"), "fill")) {
    pugi::xml_node pattern = child(fill, "patternFill");
    std::optional<uint32_t> colour;
    if (std::string_view(pattern.attribute("patternType").value()) == "solid")
      colour = colourOf(child(pattern, "fgColor"), palette);
    fills.push_back(colour);
  }
  std::vector<CellStyle> borders;
  for (pugi::xml_node border : children(child(styleSheet, "borders"), "border")) {
    CellStyle lines;
    // Newer packages may say start and end for left and right.
    pugi::xml_node left = child(border, "left"), right = child(border, "right");
    lines.left = readLine(left ? left : child(border, "start"), palette);
    lines.right = readLine(right ? right : child(border, "end"), palette);
    lines.top = readLine(child(border, "top"), palette);
    lines.bottom = readLine(child(border, "bottom"), palette);
    borders.push_back(std::move(lines));
  }
  const Font defaultFont = fonts.empty() ? Font() : fonts.front();

  auto pick = [](const auto& list, pugi::xml_attribute id) -> int64_t {
    int64_t index = -1;
    bool known = readId(id.value(), &index) && index >= 0 && index < int64_t(list.size());
    return known ? index : -1;
  };
  std::vector<CellFormatLook> looks;
  // By font and border: the formats that share them share one style.
  std::map<std::pair<int64_t, int64_t>, std::shared_ptr<const CellStyle>> styles;
  for (pugi::xml_node xf : children(child(styleSheet, "cellXfs"), "xf")) {
    CellFormatLook look;
    int64_t fontId = pick(fonts, xf.attribute("fontId"));
    int64_t borderId = pick(borders, xf.attribute("borderId"));
    if (fontId >= 0 && fonts[size_t(fontId)].colour != defaultFont.colour)
      look.fontColor = fonts[size_t(fontId)].colour;
    if (int64_t fillId = pick(fills, xf.attribute("fillId")); fillId >= 0)
      look.fillColor = fills[size_t(fillId)];
    auto [known, added] = styles.try_emplace({fontId, borderId});
    if (added) {
      CellStyle style = borderId >= 0 ? borders[size_t(borderId)] : CellStyle();
      if (fontId >= 0) {
        const CellStyle& font = fonts[size_t(fontId)].style;
        style.bold = font.bold;
        style.italic = font.italic;
        style.underline = font.underline;
        if (font.fontSize != defaultFont.style.fontSize) style.fontSize = font.fontSize;
        if (font.fontName != defaultFont.style.fontName) style.fontName = font.fontName;
      }
      if (!(style == CellStyle())) known->second = std::make_shared<const CellStyle>(style);
    }
    look.style = known->second;
    looks.push_back(std::move(look));
  }
  return looks;
}

}  // namespace korvel
