#include "util/text.h"

#include <utf8.h>

#include <algorithm>
#include <iterator>

namespace korvel {

std::u16string fromUtf8(std::string_view utf8) {
  // Most texts are plain ASCII: one unit per byte, nothing to decode or check.
  if (std::all_of(utf8.begin(), utf8.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return std::u16string(utf8.begin(), utf8.end());
  }
  std::string valid;
  if (!utf8::is_valid(utf8.begin(), utf8.end())) {
    utf8::replace_invalid(utf8.begin(), utf8.end(), std::back_inserter(valid));
    utf8 = valid;
  }
  std::u16string out;
  out.reserve(utf8.size());
  utf8::unchecked::utf8to16(utf8.begin(), utf8.end(), std::back_inserter(out));
  return out;
}

std::string toUtf8(std::u16string_view text) {
  std::u16string clean;
  clean.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      clean.push_back(u);
      clean.push_back(text[++i]);
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      clean.push_back(0xFFFD);
    } else {
      clean.push_back(u);
    }
  }
  std::string out;
  utf8::unchecked::utf16to8(clean.begin(), clean.end(), std::back_inserter(out));
  return out;
}

bool isValidUtf8(std::string_view bytes) { return utf8::is_valid(bytes.begin(), bytes.end()); }

char16_t foldCase(char16_t u) {
  if (u < 0x80) return (u >= u'a' && u <= u'z') ? char16_t(u - 0x20) : u;
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return char16_t(u - 0x20);
  if (u == 0xFF) return 0x178;
  if (u >= 0x100 && u <= 0x137) return char16_t(u & ~1);
  if (u >= 0x139 && u <= 0x148) return (u & 1) ? u : char16_t(u - 1);
  if (u >= 0x14A && u <= 0x177) return char16_t(u & ~1);
  if (u >= 0x179 && u <= 0x17E) return (u & 1) ? u : char16_t(u - 1);
  if (u >= 0x3B1 && u <= 0x3C9 && u != 0x3C2) return char16_t(u - 0x20);
  if (u == 0x3C2) return 0x3A3;
  if (u >= 0x3AC && u <= 0x3AF) {
    static const char16_t kTonos[] = {0x386, 0x388, 0x389, 0x38A};
    return kTonos[u - 0x3AC];
  }
  if (u >= 0x3CC && u <= 0x3CE) {
    static const char16_t kTonos[] = {0x38C, 0x38E, 0x38F};
    return kTonos[u - 0x3CC];
  }
  if (u >= 0x430 && u <= 0x44F) return char16_t(u - 0x20);
  if (u >= 0x450 && u <= 0x45F) return char16_t(u - 0x50);
  return u;
}

std::u16string toUpper(std::u16string_view text) {
  std::u16string out(text);
  for (auto& u : out) u = foldCase(u);
  return out;
}

int compareNoCase(std::u16string_view a, std::u16string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char16_t x = foldCase(a[i]), y = foldCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool equalsNoCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && compareNoCase(a, b) == 0;
}

bool startsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

bool isDigit(char16_t u) { return u >= u'0' && u <= u'9'; }

bool isAsciiLetter(char16_t u) { return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z'); }

bool isLetter(char16_t u) {
  if (isAsciiLetter(u)) return true;
  if (u < 0xC0) return false;
  if (u == 0xD7 || u == 0xF7) return false;
  if (u <= 0x24F) return true;
  return (u >= 0x386 && u <= 0x3FF) || (u >= 0x400 && u <= 0x4FF);
}

std::vector<std::u16string> split(std::u16string_view text, std::u16string_view delimiters,
                                  bool dropEmpty) {
  std::vector<std::u16string> pieces;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || delimiters.find(text[i]) != std::u16string_view::npos) {
      if (!dropEmpty || i > start) pieces.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return pieces;
}

std::u16string_view trim(std::u16string_view text, std::u16string_view units) {
  size_t first = text.find_first_not_of(units);
  if (first == std::u16string_view::npos) return {};
  size_t last = text.find_last_not_of(units);
  return text.substr(first, last - first + 1);
}

bool endsWithNoCase(std::u16string_view text, std::u16string_view suffix) {
  return text.size() >= suffix.size() &&
         equalsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

std::u16string_view fileNameOf(std::u16string_view path) {
  size_t separator = path.find_last_of(u"\\/:");
  return separator == std::u16string_view::npos ? path : path.substr(separator + 1);
}

std::u16string_view extensionOf(std::u16string_view path) {
  std::u16string_view name = fileNameOf(path);
  size_t dot = name.find_last_of(u'.');
  return dot == std::u16string_view::npos ? std::u16string_view() : name.substr(dot);
}

}  // namespace korvel
