#include "functions/wildcard.h"

#include <cstddef>

#include "util/text.h"

namespace korvel {

bool hasWildcard(std::u16string_view text) {
  return text.find_first_of(u"*?") != std::u16string_view::npos;
}

bool hasPatternCharacter(std::u16string_view text) {
  return text.find_first_of(u"*?~") != std::u16string_view::npos;
}

bool matchesPattern(std::u16string_view text, std::u16string_view pattern) {
  // Greedy matching with one backtrack point: the last star seen. On a mismatch the star takes
  // one more character of the text, which never needs to revisit an earlier star.
  size_t t = 0, p = 0;
  size_t starPattern = std::u16string_view::npos, starText = 0;
  while (t < text.size()) {
    if (p < pattern.size()) {
      char16_t c = pattern[p];
      if (c == u'*') {
        starPattern = ++p;
        starText = t;
        continue;
      }
      bool literal = false;
      size_t width = 1;
      if (c == u'~' && p + 1 < pattern.size() &&
          (pattern[p + 1] == u'*' || pattern[p + 1] == u'?')) {
        c = pattern[p + 1];
        literal = true;
        width = 2;
      }
      if ((!literal && c == u'?') || foldCase(c) == foldCase(text[t])) {
        p += width;
        ++t;
        continue;
      }
    }
    if (starPattern == std::u16string_view::npos) return false;
    p = starPattern;
    t = ++starText;
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

}  // namespace korvel
