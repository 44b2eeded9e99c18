// The texts are matched as wide strings: on systems whose wchar_t holds a code point, surrogate
// pairs are joined first, so that "." and classes take a character outside the basic plane
// whole; where wchar_t is a UTF-16 unit the units are matched as they are.
//
// std::regex matches by backtracking with one call frame per step, so a long text ("^[A-Z]*$"
// over 20,000 letters) overflows the stack. Where the library offers it (libstdc++'s polynomial
// mode) patterns are matched by a state set instead, whose depth is bounded by the pattern; the
// patterns it refuses (those with back-references), and every pattern on other libraries, are
// matched by backtracking only over texts short enough to be safe, and longer texts give
// #VALUE!.
#include "hosts/headless/functions/host_regex.h"

#include <cmath>
#include <cstdint>
#include <regex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "engine/evaluator.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "hosts/headless/functions/host_arguments.h"

namespace korvel {
namespace {

// The longest text a cell holds; longer replacements give #VALUE!.
constexpr size_t kMaxTextLength = 32767;
// The longest text matched by backtracking: a few hundred bytes of stack per character even in
// instrumented builds.
constexpr size_t kMaxBacktrackingLength = 1024;

using WideMatch = std::match_results<std::wstring::const_iterator>;
using WideIterator = std::regex_iterator<std::wstring::const_iterator>;

std::wstring toWide(std::u16string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char32_t u = text[i];
    if constexpr (sizeof(wchar_t) >= 4) {
      if (u >= 0xD800 && u < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
          text[i + 1] < 0xE000) {
        out += static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00));
        ++i;
        continue;
      }
    }
    out += static_cast<wchar_t>(u);
  }
  return out;
}

std::u16string fromWide(std::wstring_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (wchar_t w : text) {
    const auto u = static_cast<uint32_t>(w);
    if (u >= 0x10000 && u < 0x110000) {
      out += static_cast<char16_t>(0xD800 + ((u - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((u - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(u);
    }
  }
  return out;
}

// The last pattern compiled: a column of formulas usually tests one pattern over and over.
struct CompiledPattern {
  bool filled = false;
  std::u16string pattern;
  bool ignoreCase = false;
  bool valid = false;
  bool backtracking = false;  // matched by backtracking: texts must be short
  std::wregex regex;
};

// A compiled pattern and how far it may be used.
struct Pattern {
  const std::wregex* regex = nullptr;
  bool backtracking = false;
  bool fits(const std::wstring& text) const {
    return !backtracking || text.size() <= kMaxBacktrackingLength;
  }
};

bool compile(const std::wstring& pattern, std::regex_constants::syntax_option_type flags,
             std::wregex& regex) {
  try {
    regex.assign(pattern, flags);
  } catch (const std::regex_error&) {
    return false;
  }
  return true;
}

// The compiled pattern; its regex is null when ECMAScript cannot read it.
Pattern compiled(std::u16string_view pattern, bool ignoreCase) {
  static CompiledPattern last;
  if (!last.filled || last.ignoreCase != ignoreCase || last.pattern != pattern) {
    last.filled = true;
    last.pattern.assign(pattern);
    last.ignoreCase = ignoreCase;
    auto flags = std::regex_constants::ECMAScript;
    if (ignoreCase) flags |= std::regex_constants::icase;
    const std::wstring wide = toWide(pattern);
    last.backtracking = true;
#if defined(__GLIBCXX__)
    last.backtracking = !compile(wide, flags | std::regex_constants::__polynomial, last.regex);
#endif
    last.valid = !last.backtracking || compile(wide, flags, last.regex);
  }
  Pattern out;
  if (last.valid) out.regex = &last.regex;
  out.backtracking = last.backtracking;
  return out;
}

// The text of an argument; false with the error in result when it is one.
bool textArgument(const CallContext& context, const Value* argument, std::u16string& out,
                  Value& result) {
  Value v = singleValue(context, argument);
  if (v.isError()) {
    result = v;
    return false;
  }
  out = toText(v);
  return true;
}

// An optional whole number from a list of allowed ones (absent or empty: the default); false
// with #VALUE! (or the argument's error) in result otherwise.
bool optionChoice(const CallContext& context, const Value* argument, int64_t fallback,
                  int64_t least, int64_t most, int64_t* out, Value& result) {
  Value v = singleValue(context, argument);
  if (v.isEmpty()) {
    *out = fallback;
    return true;
  }
  double x = 0;
  if (!numberFromValue(v, &x, result)) return false;
  x = std::trunc(x);
  if (!(x >= static_cast<double>(least) && x <= static_cast<double>(most))) {
    result.setError(kErrorValue);
    return false;
  }
  *out = static_cast<int64_t>(x);
  return true;
}

// case_sensitivity: 0 tells case, 1 ignores it.
bool ignoreCaseArgument(const CallContext& context, const Value* argument, bool* ignoreCase,
                        Value& result) {
  int64_t choice = 0;
  if (!optionChoice(context, argument, 0, 0, 1, &choice, result)) return false;
  *ignoreCase = choice == 1;
  return true;
}

// Computes each text of the first argument: a range or an array gives the array of the answers
// (an answer that is itself an array keeps its first element, as a cell would), an error
// element stays that error.
template <typename Compute>
void overTexts(CallContext& context, const Value* argument, Compute compute, Value& result) {
  Value v = argument == nullptr ? Value() : dereferenced(context, *argument);
  if (v.isReferenceList()) {
    result.setError(kErrorValue);
    return;
  }
  if (v.isReference()) {
    Value cells;
    referenceToArray(*context.engine, v, cells);
    v = std::move(cells);
  }
  if (!v.isArray()) {
    if (v.isError()) {
      result = v;
    } else {
      compute(toText(v), result);
    }
    return;
  }
  const ValueArray& texts = v.array();
  ValueArray out(texts.columns(), texts.rows());
  for (uint32_t r = 0; r < texts.rows(); ++r) {
    for (uint32_t c = 0; c < texts.columns(); ++c) {
      const Value& text = texts.at(c, r);
      Value& answer = out.at(c, r);
      if (text.isError()) {
        answer = text;
        continue;
      }
      compute(toText(text), answer);
      if (answer.isArray()) {
        Value first = answer.array().size() > 0 ? answer.array().at(0, 0) : Value();
        answer = std::move(first);
      }
    }
  }
  if (out.columns() == 1 && out.rows() == 1) {
    Value only = out.at(0, 0);
    result = std::move(only);
  } else {
    result.setArray(std::move(out));
  }
}

// Every match of the pattern in the text, in order. False when the text is too long for the
// pattern or the matcher gives up (which std::regex reports by throwing).
bool allMatches(const Pattern& regex, const std::wstring& text, std::vector<WideMatch>& out) {
  if (!regex.fits(text)) return false;
  try {
    for (WideIterator it(text.begin(), text.end(), *regex.regex), end; it != end; ++it) {
      out.push_back(*it);
    }
  } catch (const std::regex_error&) {
    return false;
  }
  return true;
}

bool searchOnce(const Pattern& regex, const std::wstring& text, WideMatch& match, bool* found) {
  if (!regex.fits(text)) return false;
  try {
    *found = std::regex_search(text, match, *regex.regex);
  } catch (const std::regex_error&) {
    return false;
  }
  return true;
}

bool isAsciiDigit(wchar_t w) { return w >= L'0' && w <= L'9'; }

// The replacement of one match: $n and ${n} insert group n (nothing for a group that did not
// take part), $$ a dollar sign; anything else is copied.
void expandReplacement(const std::wstring& replacement, const WideMatch& match, std::wstring& out) {
  for (size_t i = 0; i < replacement.size(); ++i) {
    const wchar_t w = replacement[i];
    if (w != L'$' || i + 1 >= replacement.size()) {
      out += w;
      continue;
    }
    const wchar_t next = replacement[i + 1];
    if (next == L'$') {
      out += L'$';
      ++i;
      continue;
    }
    size_t start = i + 1, stop = start;
    const bool braced = next == L'{';
    if (braced) ++start, ++stop;
    size_t group = 0;
    while (stop < replacement.size() && isAsciiDigit(replacement[stop]) && stop - start < 4) {
      group = group * 10 + static_cast<size_t>(replacement[stop] - L'0');
      ++stop;
    }
    if (stop == start || (braced && (stop >= replacement.size() || replacement[stop] != L'}'))) {
      out += w;
      continue;
    }
    if (group < match.size() && match[group].matched) out += match[group].str();
    i = braced ? stop : stop - 1;
  }
}

void setCheckedText(const std::wstring& text, Value& result) {
  std::u16string units = fromWide(text);
  if (units.size() > kMaxTextLength) {
    result.setError(kErrorValue);
    return;
  }
  result.setText(units);
}

}  // namespace

int regexSearch(std::u16string_view pattern, std::u16string_view text, bool ignoreCase) {
  const Pattern regex = compiled(pattern, ignoreCase);
  if (regex.regex == nullptr) return -1;
  WideMatch match;
  bool found = false;
  if (!searchOnce(regex, toWide(text), match, &found)) return -1;
  return found ? 1 : 0;
}

void regexTestRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  const size_t count = argumentCount(arguments);
  if (count < 2 || count > 3) {
    result.setError(kErrorValue);
    return;
  }
  std::u16string pattern;
  bool ignoreCase = false;
  if (!textArgument(context, arguments[1], pattern, result) ||
      !ignoreCaseArgument(context, argumentAt(arguments, 2), &ignoreCase, result)) {
    return;
  }
  const Pattern regex = compiled(pattern, ignoreCase);
  if (regex.regex == nullptr) {
    result.setError(kErrorValue);
    return;
  }
  auto test = [regex](const std::u16string& text, Value& out) {
    WideMatch match;
    bool found = false;
    if (!searchOnce(regex, toWide(text), match, &found)) {
      out.setError(kErrorValue);
      return;
    }
    out.setBoolean(found);
  };
  overTexts(context, arguments[0], test, result);
}

void regexExtractRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  const size_t count = argumentCount(arguments);
  if (count < 2 || count > 4) {
    result.setError(kErrorValue);
    return;
  }
  std::u16string pattern;
  int64_t mode = 0;
  bool ignoreCase = false;
  if (!textArgument(context, arguments[1], pattern, result) ||
      !optionChoice(context, argumentAt(arguments, 2), 0, 0, 2, &mode, result) ||
      !ignoreCaseArgument(context, argumentAt(arguments, 3), &ignoreCase, result)) {
    return;
  }
  const Pattern regex = compiled(pattern, ignoreCase);
  if (regex.regex == nullptr) {
    result.setError(kErrorValue);
    return;
  }
  auto extract = [regex, mode](const std::u16string& text, Value& out) {
    const std::wstring wide = toWide(text);
    if (mode == 1) {
      std::vector<WideMatch> matches;
      if (!allMatches(regex, wide, matches)) {
        out.setError(kErrorValue);
        return;
      }
      if (matches.empty()) {
        out.setError(kErrorNA);
        return;
      }
      ValueArray column(1, static_cast<uint32_t>(matches.size()));
      for (uint32_t r = 0; r < column.rows(); ++r)
        column.at(0, r).setText(fromWide(matches[r].str()));
      if (column.rows() == 1) {
        out.setText(fromWide(matches[0].str()));
      } else {
        out.setArray(std::move(column));
      }
      return;
    }
    WideMatch match;
    bool found = false;
    if (!searchOnce(regex, wide, match, &found)) {
      out.setError(kErrorValue);
      return;
    }
    if (!found) {
      out.setError(kErrorNA);
      return;
    }
    if (mode == 0) {
      out.setText(fromWide(match.str()));
      return;
    }
    // The groups of the match; a pattern without groups has none to give.
    const size_t groups = match.size() - 1;
    if (groups == 0) {
      out.setError(kErrorValue);
      return;
    }
    ValueArray row(static_cast<uint32_t>(groups), 1);
    for (size_t g = 0; g < groups; ++g) {
      row.at(static_cast<uint32_t>(g), 0).setText(fromWide(match[g + 1].str()));
    }
    if (groups == 1) {
      Value only = row.at(0, 0);
      out = std::move(only);
    } else {
      out.setArray(std::move(row));
    }
  };
  overTexts(context, arguments[0], extract, result);
}

void regexReplaceRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  const size_t count = argumentCount(arguments);
  if (count < 3 || count > 5) {
    result.setError(kErrorValue);
    return;
  }
  std::u16string pattern, replacement;
  int64_t occurrence = 0;
  bool ignoreCase = false;
  if (!textArgument(context, arguments[1], pattern, result) ||
      !textArgument(context, arguments[2], replacement, result) ||
      !optionChoice(context, argumentAt(arguments, 3), 0, -2147483648LL, 2147483647LL, &occurrence,
                    result) ||
      !ignoreCaseArgument(context, argumentAt(arguments, 4), &ignoreCase, result)) {
    return;
  }
  const Pattern regex = compiled(pattern, ignoreCase);
  if (regex.regex == nullptr) {
    result.setError(kErrorValue);
    return;
  }
  const std::wstring wideReplacement = toWide(replacement);
  auto replace = [&](const std::u16string& text, Value& out) {
    const std::wstring wide = toWide(text);
    std::vector<WideMatch> matches;
    if (!allMatches(regex, wide, matches)) {
      out.setError(kErrorValue);
      return;
    }
    const int64_t total = static_cast<int64_t>(matches.size());
    int64_t only = -1;  // the one match replaced, or -1 for all
    if (occurrence != 0) {
      only = occurrence > 0 ? occurrence - 1 : total + occurrence;
      if (only < 0 || only >= total) {
        out.setText(text);
        return;
      }
    }
    std::wstring replaced;
    auto copiedTo = wide.cbegin();
    for (int64_t k = 0; k < total; ++k) {
      if (only >= 0 && k != only) continue;
      const WideMatch& match = matches[static_cast<size_t>(k)];
      replaced.append(copiedTo, match[0].first);
      expandReplacement(wideReplacement, match, replaced);
      copiedTo = match[0].second;
      if (replaced.size() > 2 * kMaxTextLength) {
        out.setError(kErrorValue);
        return;
      }
    }
    replaced.append(copiedTo, wide.cend());
    setCheckedText(replaced, out);
  };
  overTexts(context, arguments[0], replace, result);
}

}  // namespace korvel
