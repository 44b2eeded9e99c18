// Functions newer than the catalogue. Formulas name them with the "_xlfn." prefix and the runtime
// hands them to the host program as formula texts (host_call_text.h), with every argument as
// written: references stay references, so each routine reads one-cell references itself.
// Results the newer program would spill are array values.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "engine/evaluator.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "functions/criteria.h"
#include "functions/lookup_search.h"
#include "functions/wildcard.h"
#include "hosts/headless/functions/host_arguments.h"
#include "hosts/headless/functions/host_functions.h"
#include "hosts/headless/functions/host_regex.h"
#include "model/address.h"
#include "model/cell.h"
#include "model/compiled_model.h"
#include "model/sheet.h"
#include "util/text.h"

namespace korvel {
namespace {

// The longest text a cell holds; longer joins give #VALUE!.
constexpr size_t kMaxTextLength = 32767;
// The largest array SEQUENCE builds.
constexpr uint64_t kMaxResultElements = uint64_t{1} << 21;

// An optional whole-number argument: absent or empty gives the default. False with result set
// for what is no number.
bool optionalInteger(const CallContext& context, const Value* argument, int64_t fallback,
                     int64_t* out, Value& result, bool floor = false) {
  Value v = singleValue(context, argument);
  if (v.isEmpty()) {
    *out = fallback;
    return true;
  }
  double x = 0;
  if (!numberFromValue(v, &x, result)) return false;
  if (!std::isfinite(x) || std::fabs(x) > 2147483647.0) {
    result.setError(kErrorValue);
    return false;
  }
  *out = static_cast<int64_t>(floor ? std::floor(x) : std::trunc(x));
  return true;
}

// A routine of the table that is one of a pair sharing their work, told apart by a flag.
using FlaggedRoutine = void (*)(CallContext&, const Value* const*, bool, Value&);
template <FlaggedRoutine routine, bool flag>
void flagged(CallContext& context, const Value* const* arguments, Value& result) {
  routine(context, arguments, flag, result);
}

// False with #VALUE! in result when fewer than least arguments are given.
bool atLeast(size_t count, size_t least, Value& result) {
  if (count >= least) return true;
  result.setError(kErrorValue);
  return false;
}

// The single value of an argument in out; false with the error in result when it is one.
bool errorFree(const CallContext& context, const Value* argument, Value& out, Value& result) {
  out = singleValue(context, argument);
  if (!out.isError()) return true;
  result = out;
  return false;
}

// The shape of a range argument, and where it lies when it is a reference.
struct Area {
  bool reference = false;
  uint32_t sheet = 0, top = 0, left = 0;
  uint32_t columns = 1, rows = 1;
  Value array;  // the elements when it is no reference (a single value becomes 1 x 1)
};

// False for errors, unions and references across sheets.
bool readArea(const Value& argument, Area& area) {
  const Value* source = &argument;
  if (source->isReferenceList()) {
    if (source->array().size() != 1) return false;
    source = &source->array().elements().front();
  }
  if (source->isReference()) {
    RangeRef range = normalizeRange(source->reference());
    if (!isValidRange(range) || range.first.sheet() != range.last.sheet()) return false;
    area.reference = true;
    area.sheet = range.first.sheet();
    area.top = range.first.row();
    area.left = range.first.column();
    area.rows = range.last.row() - area.top + 1;
    area.columns = range.last.column() - area.left + 1;
    return true;
  }
  if (source->isError()) return false;
  if (source->isArray()) {
    area.array = *source;
    area.columns = source->array().columns();
    area.rows = source->array().rows();
    return area.columns > 0 && area.rows > 0;
  }
  ValueArray one(1, 1);
  one.at(0, 0) = *source;
  area.array.setArray(std::move(one));
  return true;
}

// Rows first..last of an area (a sub-reference, or the rows of the array; one element alone).
Value areaPart(const Area& area, uint32_t firstColumn, uint32_t firstRow, uint32_t columns,
               uint32_t rows) {
  Value out;
  if (area.reference) {
    out.setReference(CellRef::at(area.sheet, area.top + firstRow, area.left + firstColumn),
                     CellRef::at(area.sheet, area.top + firstRow + rows - 1,
                                 area.left + firstColumn + columns - 1));
    return out;
  }
  const ValueArray& a = area.array.array();
  if (columns == 1 && rows == 1) return a.at(firstColumn, firstRow);
  ValueArray part(columns, rows);
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c) part.at(c, r) = a.at(firstColumn + c, firstRow + r);
  }
  out.setArray(std::move(part));
  return out;
}

// Visits the values of an argument row by row (the order CONCAT and TEXTJOIN join in): a range
// up to its last stored row, an array, or one value. False, with result set, for an error.
template <typename Visit>
bool forEachValue(const CallContext& context, const Value& argument, Visit visit, Value& result) {
  if (argument.isError()) {
    result = argument;
    return false;
  }
  RangeSource source;
  if (!source.assign(context, argument)) {
    result.setError(kErrorValue);
    return false;
  }
  int64_t last = -1;
  for (uint32_t c = 0; c < source.columns(); ++c) last = std::max(last, source.lastRow(c));
  for (int64_t r = 0; r <= last; ++r) {
    for (uint32_t c = 0; c < source.columns(); ++c) {
      const Value& v = source.at(c, static_cast<uint32_t>(r));
      if (v.isError()) {
        result = v;
        return false;
      }
      if (!visit(v)) return false;
    }
  }
  return true;
}

// The display texts of an argument's values, in the order forEachValue visits them.
bool textsOf(const CallContext& context, const Value& argument, std::vector<std::u16string>& out,
             Value& result) {
  auto add = [&out](const Value& v) {
    out.push_back(toText(v));
    return true;
  };
  return forEachValue(context, argument, add, result);
}

// ---- IFS, SWITCH --------------------------------------------------------------------------

// IFS(condition, value, ...): the value of the first true condition; #N/A when none is. A
// condition that is text gives #VALUE!, an error that error.
// Where an argument holds an array, or a reference to more than one cell, the call is made once
// per element (IFS({TRUE,FALSE},{1,2},TRUE,9) is {1,9}): each such argument gives its element at
// the position (a one-row or one-column array repeats; #N/A beyond an array's end), the others
// stay as they are, and the answers, each reduced to one value, form an array of the largest
// shape. Otherwise one is called with the arguments as given. One reads its arguments as a
// routine does.
template <typename One>
void lifted(CallContext& context, const Value* const* arguments, One one, Value& result) {
  const size_t count = argumentCount(arguments);
  std::vector<Value> arrays(count);
  uint32_t columns = 0, rows = 0;
  for (size_t i = 0; i < count; ++i) {
    const Value& argument = *arguments[i];
    if (argument.isReference() && context.engine != nullptr) {
      const RangeRef range = normalizeRange(argument.reference());
      if (range.first.row() != range.last.row() || range.first.column() != range.last.column()) {
        referenceToArray(*context.engine, argument, arrays[i]);
      }
    } else if (argument.isArray()) {
      arrays[i] = argument;
    }
    if (arrays[i].isArray()) {
      columns = std::max(columns, arrays[i].array().columns());
      rows = std::max(rows, arrays[i].array().rows());
    }
  }
  if (columns == 0) return one(arguments, result);
  ValueArray answers(columns, rows);
  std::vector<Value> elements(count);
  std::vector<const Value*> passed(count + 1, nullptr);
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c) {
      for (size_t i = 0; i < count; ++i) {
        passed[i] = arguments[i];
        if (!arrays[i].isArray()) continue;
        const ValueArray& array = arrays[i].array();
        const uint32_t x = array.columns() == 1 ? 0 : c, y = array.rows() == 1 ? 0 : r;
        if (x < array.columns() && y < array.rows()) {
          elements[i] = array.at(x, y);
        } else {
          elements[i].setError(kErrorNA);
        }
        passed[i] = &elements[i];
      }
      Value answer;
      one(passed.data(), answer);
      answers.at(c, r) = singleValue(context, &answer);
    }
  }
  result.setArray(std::move(answers));
}

void ifsOne(CallContext& context, const Value* const* arguments, Value& result) {
  const size_t count = argumentCount(arguments);
  if (count < 2 || count % 2 != 0) {
    result.setError(kErrorNA);
    return;
  }
  for (size_t i = 0; i < count; i += 2) {
    Value condition;
    if (!errorFree(context, arguments[i], condition, result)) return;
    if (condition.isText()) {
      result.setError(isErrorText(condition.text()) ? errorFromText(condition.text())
                                                    : kErrorValue);
      return;
    }
    if (toBoolean(condition)) {
      result = *arguments[i + 1];
      return;
    }
  }
  result.setError(kErrorNA);
}

// SWITCH(expression, value, result, ..., [default]): the result of the first value equal to the
// expression (as "=" compares), the default, or #N/A.
void switchOne(CallContext& context, const Value* const* arguments, Value& result) {
  const size_t count = argumentCount(arguments);
  if (!atLeast(count, 3, result)) return;
  Value expression;
  if (!errorFree(context, arguments[0], expression, result)) return;
  const size_t pairs = (count - 1) / 2;
  for (size_t k = 0; k < pairs; ++k) {
    Value candidate = singleValue(context, arguments[1 + 2 * k]);
    if (candidate.isError()) continue;
    if (equals(expression, candidate)) {
      result = *arguments[2 + 2 * k];
      return;
    }
  }
  if ((count - 1) % 2 == 1) {
    result = *arguments[count - 1];
  } else {
    result.setError(kErrorNA);
  }
}

void ifsRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  lifted(
      context, arguments,
      [&context](const Value* const* one, Value& out) { ifsOne(context, one, out); }, result);
}

void switchRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  lifted(
      context, arguments,
      [&context](const Value* const* one, Value& out) { switchOne(context, one, out); }, result);
}

// ---- MAXIFS, MINIFS -----------------------------------------------------------------------

// MAXIFS/MINIFS(range, criteria_range, criteria, ...): the largest (smallest) number of the
// range where every criterion holds; 0 when none does. Ranges of another shape give #VALUE!; an
// error where the criteria hold is the result.
void extremeIfs(CallContext& context, const Value* const* arguments, bool largest, Value& result) {
  const size_t count = argumentCount(arguments);
  if (count < 3 || count % 2 == 0) {
    result.setError(kErrorValue);
    return;
  }
  if (arguments[0]->isError()) {
    result = *arguments[0];
    return;
  }
  RangeSource values;
  if (!values.assign(context, *arguments[0])) {
    result.setError(kErrorValue);
    return;
  }
  std::vector<RangeSource> ranges;
  std::vector<Criterion> criteria;
  if (!readCriteriaPairs(context, arguments, count, values, ranges, criteria)) {
    result.setError(kErrorValue);
    return;
  }
  const size_t pairs = ranges.size();
  bool found = false;
  double best = 0;
  for (uint32_t column = 0; column < values.columns(); ++column) {
    // Cells past the last stored row are empty: no number to take.
    const int64_t last = values.lastRow(column);
    for (int64_t row = 0; row <= last; ++row) {
      const Value& v = values.at(column, static_cast<uint32_t>(row));
      if (!v.isNumeric() && !v.isError()) continue;
      bool all = true;
      for (size_t k = 0; k < pairs && all; ++k) {
        all = matchesCriterion(criteria[k], ranges[k].at(column, static_cast<uint32_t>(row)));
      }
      if (!all) continue;
      if (v.isError()) {
        result = v;
        return;
      }
      const double x = v.number();
      if (!found || (largest ? x > best : x < best)) best = x;
      found = true;
    }
  }
  setNumberResult(result, found ? best : 0);
}

// ---- CONCAT, TEXTJOIN ---------------------------------------------------------------------

// CONCAT(text, ...): every value of every argument as its display text, ranges row by row.
void concatRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  std::u16string joined;
  bool tooLong = false;
  auto add = [&](const Value& v) {
    joined += toText(v);
    tooLong = joined.size() > kMaxTextLength;
    return !tooLong;
  };
  for (size_t i = 0; arguments[i] != nullptr; ++i) {
    if (!forEachValue(context, *arguments[i], add, result)) {
      if (tooLong) result.setError(kErrorValue);
      return;
    }
  }
  result.setText(joined);
}

// TEXTJOIN(delimiter, ignore_empty, text, ...): the texts joined by the delimiters in turn (a
// range or array of delimiters is used over and over), empty texts left out when asked.
void textJoinRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  const size_t count = argumentCount(arguments);
  if (!atLeast(count, 3, result)) return;
  std::vector<std::u16string> delimiters;
  if (!textsOf(context, *arguments[0], delimiters, result)) return;
  Value ignore;
  if (!errorFree(context, arguments[1], ignore, result)) return;
  bool ignoreEmpty = true;
  if (ignore.isText()) {
    double x = 0;
    if (!numberFromValue(ignore, &x, result)) return;
    ignoreEmpty = x != 0;
  } else {
    ignoreEmpty = toBoolean(ignore);
  }
  std::u16string joined;
  size_t parts = 0;
  bool tooLong = false;
  auto add = [&](const Value& v) {
    std::u16string text = toText(v);
    if (ignoreEmpty && text.empty()) return true;
    if (parts > 0 && !delimiters.empty()) joined += delimiters[(parts - 1) % delimiters.size()];
    joined += text;
    ++parts;
    tooLong = joined.size() > kMaxTextLength;
    return !tooLong;
  };
  for (size_t i = 2; i < count; ++i) {
    if (!forEachValue(context, *arguments[i], add, result)) {
      if (tooLong) result.setError(kErrorValue);
      return;
    }
  }
  result.setText(joined);
}

// ---- XLOOKUP, XMATCH ----------------------------------------------------------------------

enum MatchMode : int64_t {
  kExact = 0,
  kExactOrSmaller = -1,
  kExactOrLarger = 1,
  kWildcard = 2,
  kRegularExpression = 3
};
enum SearchMode : int64_t {
  kFirstToLast = 1,
  kLastToFirst = -1,
  kBinaryAscending = 2,
  kBinaryDescending = -2,
};

// A line to search: one row or one column of an area.
struct SearchLine {
  Area area;
  bool down = true;  // a column (or a single cell)
  size_t length = 0;
};

bool readSearchLine(const Value& argument, SearchLine& line) {
  if (!readArea(argument, line.area)) return false;
  if (line.area.columns != 1 && line.area.rows != 1) return false;
  line.down = line.area.columns == 1;
  line.length = line.down ? line.area.rows : line.area.columns;
  return true;
}

LookupLine lookupLineOf(const CallContext& context, const SearchLine& line) {
  const Area& a = line.area;
  if (!a.reference) {
    return line.down ? LookupLine::arrayColumn(a.array.array(), 0)
                     : LookupLine::arrayRow(a.array.array(), 0);
  }
  if (line.down) {
    // A whole column is searched only down to its last stored cell.
    const int64_t last =
        std::min<int64_t>(int64_t{a.top} + a.rows - 1, lastStoredRow(context, a.sheet, a.left));
    return LookupLine::cellColumn(context, a.sheet, a.left, a.top, last);
  }
  return LookupLine::cellRow(context, a.sheet, a.top, a.left, int64_t{a.left} + a.columns - 1);
}

bool sameFamily(const Value& a, const Value& b) { return typeFamily(a) == typeFamily(b); }

// -1, 0 or 1 as the value orders against the lookup value (same type family).
int orderOf(const Value& value, const Value& lookup) {
  if (equals(value, lookup)) return 0;
  return less(value, lookup) ? -1 : 1;
}

// What xSearch answers for a regular expression that does not compile.
constexpr int64_t kBadPattern = -2;

// The position the search finds, -1 when there is none, or kBadPattern.
int64_t xSearch(const LookupLine& line, const Value& lookup, int64_t match, int64_t search) {
  const int64_t size = static_cast<int64_t>(line.size());
  if (search == kBinaryAscending || search == kBinaryDescending) {
    const bool descending = search == kBinaryDescending;
    // The first position whose value is not before the lookup value in the sorted order.
    int64_t low = 0, high = size;
    while (low < high) {
      const int64_t middle = low + (high - low) / 2;
      const Value& v = line.at(static_cast<size_t>(middle));
      int order = orderOf(v, lookup);
      if (descending) order = -order;
      if (order < 0) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    int64_t position = -1;
    if (low < size && sameFamily(line.at(static_cast<size_t>(low)), lookup) &&
        orderOf(line.at(static_cast<size_t>(low)), lookup) == 0) {
      position = low;
    } else if (match == kExactOrSmaller) {
      position = descending ? low : low - 1;
    } else if (match == kExactOrLarger) {
      position = descending ? low - 1 : low;
    }
    // The bisection takes the position it ends on whatever its value's type, as the newer program
    // does: a text among numbers can be the "next larger" number.
    return position < size ? position : -1;
  }
  if (match == kRegularExpression) {
    // The lookup text is a pattern matched against the texts of the line.
    if (!lookup.isText()) return -1;
    for (int64_t step = 0; step < size; ++step) {
      const int64_t i = search == kLastToFirst ? size - 1 - step : step;
      const Value& v = line.at(static_cast<size_t>(i));
      if (!v.isText()) continue;
      const int found = regexSearch(lookup.text(), v.text(), false);
      if (found < 0) return kBadPattern;
      if (found > 0) return i;
    }
    return -1;
  }
  const bool pattern = match == kWildcard && lookup.isText() && hasPatternCharacter(lookup.text());
  int64_t best = -1;
  for (int64_t step = 0; step < size; ++step) {
    const int64_t i = search == kLastToFirst ? size - 1 - step : step;
    const Value& v = line.at(static_cast<size_t>(i));
    if (v.isEmpty() || !sameFamily(v, lookup)) continue;
    if (pattern) {
      if (matchesPattern(v.text(), lookup.text())) return i;
      continue;
    }
    const int order = orderOf(v, lookup);
    if (order == 0) return i;
    if (match == kExactOrSmaller && order < 0 &&
        (best < 0 || greater(v, line.at(static_cast<size_t>(best))))) {
      best = i;
    } else if (match == kExactOrLarger && order > 0 &&
               (best < 0 || less(v, line.at(static_cast<size_t>(best))))) {
      best = i;
    }
  }
  return best;
}

// The match and search modes of XLOOKUP and XMATCH; false with result set for others.
bool readModes(const CallContext& context, const Value* matchArgument, const Value* searchArgument,
               int64_t* match, int64_t* search, Value& result) {
  if (!optionalInteger(context, matchArgument, kExact, match, result) ||
      !optionalInteger(context, searchArgument, kFirstToLast, search, result)) {
    return false;
  }
  if (*match < -1 || *match > 3 ||
      (*search != 1 && *search != -1 && *search != 2 && *search != -2) ||
      ((*match == kWildcard || *match == kRegularExpression) && (*search == 2 || *search == -2))) {
    result.setError(kErrorValue);
    return false;
  }
  return true;
}

// Calls one(lookup value, out) for a single lookup value, or for each element of an array or range
// of lookup values (an array of the answers, each reduced to one value). An error among the
// lookup values is its own answer.
template <typename One>
void forEachLookup(CallContext& context, const Value& argument, One answer, Value& result) {
  auto one = [&answer](const Value& lookup, Value& out) {
    if (lookup.isError()) {
      out = lookup;
    } else {
      answer(lookup, out);
    }
  };
  Value lookup = dereferenced(context, argument);
  if (!lookup.isArray() && !lookup.isReference()) {
    one(lookup, result);
    return;
  }
  if (lookup.isReference()) {
    Value cells;
    referenceToArray(*context.engine, lookup, cells);
    lookup = std::move(cells);
    if (!lookup.isArray()) {
      result = lookup;
      return;
    }
  }
  const ValueArray& values = lookup.array();
  ValueArray answers(values.columns(), values.rows());
  for (uint32_t r = 0; r < values.rows(); ++r) {
    for (uint32_t c = 0; c < values.columns(); ++c) {
      Value answer;
      one(values.at(c, r), answer);
      Value single = singleValue(context, &answer);
      answers.at(c, r) = std::move(single);
    }
  }
  result.setArray(std::move(answers));
}

// XLOOKUP(lookup, lookup_array, return_array, [if_not_found], [match_mode], [search_mode]): the
// row (or column) of the return array beside the found position; a reference when the return
// array is one.
void xLookupRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  const size_t count = argumentCount(arguments);
  if (!atLeast(count, 3, result)) return;
  for (size_t i = 1; i < 3; ++i) {
    if (arguments[i]->isError()) {
      result = *arguments[i];
      return;
    }
  }
  SearchLine line;
  Area returned;
  if (!readSearchLine(*arguments[1], line) || !readArea(*arguments[2], returned) ||
      (line.down ? returned.rows : returned.columns) != line.length) {
    result.setError(kErrorValue);
    return;
  }
  int64_t match = 0, search = 0;
  if (!readModes(context, argumentAt(arguments, 4), argumentAt(arguments, 5), &match, &search,
                 result)) {
    return;
  }
  const Value* notFound = argumentAt(arguments, 3);
  const LookupLine lookupLine = lookupLineOf(context, line);
  auto one = [&](const Value& lookup, Value& out) {
    const int64_t position = xSearch(lookupLine, lookup, match, search);
    if (position == kBadPattern) {
      out.setError(kErrorValue);
      return;
    }
    if (position < 0) {
      if (notFound != nullptr && !notFound->isEmpty()) {
        out = *notFound;
      } else {
        out.setError(kErrorNA);
      }
      return;
    }
    const uint32_t at = static_cast<uint32_t>(position);
    out = line.down ? areaPart(returned, 0, at, returned.columns, 1)
                    : areaPart(returned, at, 0, 1, returned.rows);
  };
  forEachLookup(context, *arguments[0], one, result);
}

// XMATCH(lookup, lookup_array, [match_mode], [search_mode]): the position found, from 1.
void xMatchRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  const size_t count = argumentCount(arguments);
  if (!atLeast(count, 2, result)) return;
  if (arguments[1]->isError()) {
    result = *arguments[1];
    return;
  }
  SearchLine line;
  if (!readSearchLine(*arguments[1], line)) {
    result.setError(kErrorValue);
    return;
  }
  int64_t match = 0, search = 0;
  if (!readModes(context, argumentAt(arguments, 2), argumentAt(arguments, 3), &match, &search,
                 result)) {
    return;
  }
  const LookupLine lookupLine = lookupLineOf(context, line);
  auto one = [&](const Value& lookup, Value& out) {
    const int64_t position = xSearch(lookupLine, lookup, match, search);
    if (position < 0) {
      out.setError(position == kBadPattern ? kErrorValue : kErrorNA);
    } else {
      setNumberResult(out, double(position + 1));
    }
  };
  forEachLookup(context, *arguments[0], one, result);
}

// ---- TEXTBEFORE, TEXTAFTER ----------------------------------------------------------------

bool unitsEqual(char16_t a, char16_t b, bool ignoreCase) {
  return a == b || (ignoreCase && foldCase(a) == foldCase(b));
}

bool matchesAt(std::u16string_view text, size_t at, std::u16string_view delimiter,
               bool ignoreCase) {
  if (at + delimiter.size() > text.size()) return false;
  for (size_t i = 0; i < delimiter.size(); ++i) {
    if (!unitsEqual(text[at + i], delimiter[i], ignoreCase)) return false;
  }
  return true;
}

// The longest delimiter that starts at the position, or -1.
int64_t delimiterAt(std::u16string_view text, size_t at, const std::vector<std::u16string>& list,
                    bool ignoreCase) {
  int64_t length = -1;
  for (const std::u16string& d : list) {
    if (int64_t(d.size()) > length && matchesAt(text, at, d, ignoreCase))
      length = int64_t(d.size());
  }
  return length;
}

// Where the instance'th delimiter lies (start and length); false when there are fewer. From the
// end for a negative instance; the end of the text (its start, from the end) counts as one more
// delimiter when matchEnd is set.
bool findInstance(std::u16string_view text, const std::vector<std::u16string>& delimiters,
                  int64_t instance, bool ignoreCase, bool matchEnd, size_t* start, size_t* length) {
  int64_t found = 0;
  const int64_t wanted = instance < 0 ? -instance : instance;
  if (instance > 0) {
    size_t at = 0;
    while (at <= text.size()) {
      const int64_t d = delimiterAt(text, at, delimiters, ignoreCase);
      if (d < 0) {
        ++at;
        continue;
      }
      if (++found == wanted) {
        *start = at;
        *length = size_t(d);
        return true;
      }
      at += d > 0 ? size_t(d) : 1;
    }
    if (matchEnd && found + 1 == wanted) {
      *start = text.size();
      *length = 0;
      return true;
    }
    return false;
  }
  // From the end: delimiters that end at or before the limit, the last first.
  size_t limit = text.size();
  for (int64_t at = int64_t(text.size()); at >= 0; --at) {
    const size_t position = size_t(at);
    int64_t d = -1;
    for (const std::u16string& candidate : delimiters) {
      if (position + candidate.size() <= limit && int64_t(candidate.size()) > d &&
          matchesAt(text, position, candidate, ignoreCase)) {
        d = int64_t(candidate.size());
      }
    }
    if (d < 0) continue;
    if (++found == wanted) {
      *start = position;
      *length = size_t(d);
      return true;
    }
    limit = position;
    if (d == 0 && at == 0) break;
  }
  if (matchEnd && found + 1 == wanted) {
    *start = 0;
    *length = 0;
    return true;
  }
  return false;
}

// TEXTBEFORE/TEXTAFTER(text, delimiter, [instance_num], [match_mode], [match_end],
// [if_not_found]).
void textAround(CallContext& context, const Value* const* arguments, bool before, Value& result) {
  const size_t count = argumentCount(arguments);
  if (!atLeast(count, 2, result)) return;
  std::vector<std::u16string> delimiters;
  if (!textsOf(context, *arguments[1], delimiters, result)) return;
  if (delimiters.empty()) delimiters.emplace_back();
  int64_t instance = 1, matchMode = 0, matchEnd = 0;
  // The instance is taken down to a whole number: -1.2 is the second from the end.
  if (!optionalInteger(context, argumentAt(arguments, 2), 1, &instance, result, true) ||
      !optionalInteger(context, argumentAt(arguments, 3), 0, &matchMode, result) ||
      !optionalInteger(context, argumentAt(arguments, 4), 0, &matchEnd, result)) {
    return;
  }
  if ((matchMode != 0 && matchMode != 1) || (matchEnd != 0 && matchEnd != 1)) {
    result.setError(kErrorValue);
    return;
  }
  const Value* instanceArgument = argumentAt(arguments, 2);
  const bool instanceGiven = instanceArgument != nullptr && !instanceArgument->isEmpty();
  size_t shortest = delimiters[0].size();
  for (const std::u16string& d : delimiters) shortest = std::min(shortest, d.size());
  // An empty cell given for if_not_found answers the empty text.
  Value notFound;
  bool notFoundGiven = false;
  if (const Value* given = argumentAt(arguments, 5); given != nullptr && !given->isEmpty()) {
    notFound = singleValue(context, given);
    if (notFound.isEmpty()) notFound.setText(u"");
    notFoundGiven = true;
  }
  auto one = [&](const Value& textValue, Value& out) {
    const std::u16string text = toText(textValue);
    // A delimiter longer than the text fails only where an instance is given.
    if (instance == 0 || (instance < 0 ? -instance : instance) > int64_t(text.size()) ||
        (instanceGiven && shortest > text.size())) {
      out.setError(kErrorValue);
      return;
    }
    size_t start = 0, length = 0;
    if (!findInstance(text, delimiters, instance, matchMode == 1, matchEnd != 0, &start, &length)) {
      if (notFoundGiven) {
        out = notFound;
      } else {
        out.setError(kErrorNA);
      }
      return;
    }
    out.setText(before ? std::u16string_view(text).substr(0, start)
                       : std::u16string_view(text).substr(start + length));
  };
  forEachLookup(context, *arguments[0], one, result);
}

// ---- SEQUENCE, SHEET ----------------------------------------------------------------------

// SEQUENCE(rows, [columns], [start], [step]): numbers row by row.
void sequenceRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (!atLeast(argumentCount(arguments), 1, result)) return;
  int64_t rows = 0, columns = 0;
  if (!optionalInteger(context, arguments[0], 1, &rows, result) ||
      !optionalInteger(context, argumentAt(arguments, 1), 1, &columns, result)) {
    return;
  }
  double start = 1, step = 1;
  for (size_t i = 2; i < 4; ++i) {
    Value v = singleValue(context, argumentAt(arguments, i));
    if (v.isEmpty()) continue;
    if (!numberFromValue(v, i == 2 ? &start : &step, result)) return;
  }
  if (rows < 1 || columns < 1 || uint64_t(rows) * uint64_t(columns) > kMaxResultElements) {
    result.setError(kErrorValue);
    return;
  }
  if (rows == 1 && columns == 1) {
    setNumberResult(result, start);
    return;
  }
  ValueArray out(static_cast<uint32_t>(columns), static_cast<uint32_t>(rows));
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c) {
      setNumberResult(out.at(c, r), start + step * (double(r) * double(columns) + c));
    }
  }
  result.setArray(std::move(out));
}

// SHEET([value]): the position of the sheet (from 1) of the calling cell, of a reference, or of
// the sheet named by a text; #NA for a name no sheet has.
void sheetRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  const CompiledModel* model = context.engine ? &context.engine->model() : nullptr;
  if (model == nullptr) {
    result.setError(kErrorNA);
    return;
  }
  const Value* argument = argumentAt(arguments, 0);
  uint32_t sheet = 0;
  if (argument == nullptr || argument->isEmpty()) {
    if (context.cell == nullptr) {
      result.setError(kErrorNA);
      return;
    }
    sheet = context.cell->address.sheet();
  } else if (argument->isReference()) {
    sheet = normalizeRange(argument->reference()).first.sheet();
  } else if (argument->isText()) {
    const Sheet* found = model->sheets().findByExcelName(argument->text());
    if (found == nullptr) {
      result.setError(kErrorNA);
      return;
    }
    sheet = found->index();
  } else if (argument->isError()) {
    result = *argument;
    return;
  } else {
    result.setError(kErrorNA);
    return;
  }
  int position = 1;
  for (const auto& entry : model->sheets().sheets()) {
    if (entry.first == sheet) {
      result.setInteger(position);
      return;
    }
    ++position;
  }
  result.setError(kErrorNA);
}

// ---- Dynamic arrays: UNIQUE, FILTER, SORT, TOCOL, TAKE, DROP, HSTACK, VSTACK, TEXTSPLIT ----

// The values of an argument as an array: a range's cells, an array, or one value as 1 x 1. False
// with result set for errors and unions.
bool valuesOf(CallContext& context, const Value& argument, ValueArray& out, Value& result) {
  if (argument.isError()) {
    result = argument;
    return false;
  }
  Value v = argument;
  if (v.isReference() || v.isReferenceList()) {
    Value cells;
    referenceToArray(*context.engine, v, cells);
    v = std::move(cells);
  }
  if (v.isError()) {
    result = v;
    return false;
  }
  if (v.isArray()) {
    out = v.array();
    return out.size() > 0;
  }
  out = ValueArray(1, 1);
  out.at(0, 0) = v;
  return true;
}

// A 1 x 1 array is its element.
void setArrayResult(Value& result, ValueArray array) {
  if (array.columns() == 1 && array.rows() == 1) {
    Value only = array.at(0, 0);
    result = std::move(only);
    return;
  }
  result.setArray(std::move(array));
}

bool sameValue(const Value& a, const Value& b) {
  return typeFamily(a) == typeFamily(b) && (a.isEmpty() || equals(a, b));
}

// UNIQUE(array, [by_col], [exactly_once]): the distinct rows (columns), in first-seen order;
// texts compare without regard to case.
void uniqueRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  ValueArray values;
  if (argumentCount(arguments) < 1 || !valuesOf(context, *arguments[0], values, result)) {
    if (argumentCount(arguments) < 1) result.setError(kErrorValue);
    return;
  }
  const bool byColumn = toBoolean(singleValue(context, argumentAt(arguments, 1)));
  const bool exactlyOnce = toBoolean(singleValue(context, argumentAt(arguments, 2)));
  const uint32_t lines = byColumn ? values.columns() : values.rows();
  const uint32_t width = byColumn ? values.rows() : values.columns();
  auto at = [&](uint32_t line, uint32_t i) -> const Value& {
    return byColumn ? values.at(line, i) : values.at(i, line);
  };
  auto sameLine = [&](uint32_t a, uint32_t b) {
    for (uint32_t i = 0; i < width; ++i) {
      if (!sameValue(at(a, i), at(b, i))) return false;
    }
    return true;
  };
  std::vector<uint32_t> kept;
  for (uint32_t line = 0; line < lines; ++line) {
    uint32_t seen = 0;
    for (uint32_t other = 0; other < lines; ++other) {
      if ((other < line || exactlyOnce) && sameLine(line, other)) ++seen;
    }
    if (exactlyOnce ? seen == 1 : seen == 0) kept.push_back(line);
  }
  if (kept.empty()) {
    result.setError(kErrorValue);
    return;
  }
  const uint32_t count = static_cast<uint32_t>(kept.size());
  ValueArray out(byColumn ? count : width, byColumn ? width : count);
  for (uint32_t k = 0; k < count; ++k) {
    for (uint32_t i = 0; i < width; ++i) {
      (byColumn ? out.at(k, i) : out.at(i, k)) = at(kept[k], i);
    }
  }
  setArrayResult(result, std::move(out));
}

// FILTER(array, include, [if_empty]): the rows (or columns, for an include row) whose include
// value is true; if_empty, else #VALUE!, when none is.
void filterRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  ValueArray values, include;
  if (!atLeast(argumentCount(arguments), 2, result)) return;
  if (!valuesOf(context, *arguments[0], values, result) ||
      !valuesOf(context, *arguments[1], include, result)) {
    return;
  }
  bool byRow = include.columns() == 1 && include.rows() == values.rows();
  if (!byRow && !(include.rows() == 1 && include.columns() == values.columns())) {
    result.setError(kErrorValue);
    return;
  }
  std::vector<uint32_t> kept;
  for (uint32_t i = 0; i < include.size(); ++i) {
    const Value& v = include.elements()[i];
    if (v.isError()) {
      result = v;
      return;
    }
    double x = 0;
    if (v.isText()) {
      result.setError(kErrorValue);
      return;
    }
    if (v.isBoolean() ? v.boolean() : (toNumber(v, &x) && x != 0)) kept.push_back(i);
  }
  if (kept.empty()) {
    const Value* ifEmpty = argumentAt(arguments, 2);
    if (ifEmpty != nullptr && !ifEmpty->isEmpty()) {
      result = singleValue(context, ifEmpty);
    } else {
      result.setError(kErrorValue);
    }
    return;
  }
  const uint32_t count = static_cast<uint32_t>(kept.size());
  ValueArray out(byRow ? values.columns() : count, byRow ? count : values.rows());
  for (uint32_t k = 0; k < count; ++k) {
    if (byRow) {
      for (uint32_t c = 0; c < values.columns(); ++c) out.at(c, k) = values.at(c, kept[k]);
    } else {
      for (uint32_t r = 0; r < values.rows(); ++r) out.at(k, r) = values.at(kept[k], r);
    }
  }
  setArrayResult(result, std::move(out));
}

// SORT(array, [sort_index], [sort_order], [by_col]): rows (columns) in a stable order of one
// column (row); sort_order -1 descends.
void sortRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  ValueArray values;
  if (!atLeast(argumentCount(arguments), 1, result)) return;
  if (!valuesOf(context, *arguments[0], values, result)) return;
  int64_t index = 1, order = 1;
  if (!optionalInteger(context, argumentAt(arguments, 1), 1, &index, result) ||
      !optionalInteger(context, argumentAt(arguments, 2), 1, &order, result)) {
    return;
  }
  const bool byColumn = toBoolean(singleValue(context, argumentAt(arguments, 3)));
  const uint32_t lines = byColumn ? values.columns() : values.rows();
  const uint32_t width = byColumn ? values.rows() : values.columns();
  if (index < 1 || index > int64_t(width) || (order != 1 && order != -1)) {
    result.setError(kErrorValue);
    return;
  }
  auto at = [&](uint32_t line, uint32_t i) -> const Value& {
    return byColumn ? values.at(line, i) : values.at(i, line);
  };
  std::vector<uint32_t> lineOrder(lines);
  for (uint32_t i = 0; i < lines; ++i) lineOrder[i] = i;
  const uint32_t key = static_cast<uint32_t>(index - 1);
  std::stable_sort(lineOrder.begin(), lineOrder.end(), [&](uint32_t a, uint32_t b) {
    const Value& va = at(a, key);
    const Value& vb = at(b, key);
    // Empty cells stay last either way.
    if (va.isEmpty() || vb.isEmpty()) return !va.isEmpty() && vb.isEmpty();
    const int o = sortOrder(va, vb);
    return order == 1 ? o < 0 : o > 0;
  });
  ValueArray out(values.columns(), values.rows());
  for (uint32_t k = 0; k < lines; ++k) {
    for (uint32_t i = 0; i < width; ++i) {
      (byColumn ? out.at(k, i) : out.at(i, k)) = at(lineOrder[k], i);
    }
  }
  setArrayResult(result, std::move(out));
}

// TOCOL and TOROW(array, [ignore], [scan_by_column]): one column (row) of the values; ignore 1
// leaves out blanks, 2 errors, 3 both.
void toLine(CallContext& context, const Value* const* arguments, bool row, Value& result) {
  ValueArray values;
  if (!atLeast(argumentCount(arguments), 1, result)) return;
  if (!valuesOf(context, *arguments[0], values, result)) return;
  int64_t ignore = 0;
  if (!optionalInteger(context, argumentAt(arguments, 1), 0, &ignore, result)) return;
  if (ignore < 0 || ignore > 3) {
    result.setError(kErrorValue);
    return;
  }
  const bool byColumn = toBoolean(singleValue(context, argumentAt(arguments, 2)));
  std::vector<Value> kept;
  const uint32_t outer = byColumn ? values.columns() : values.rows();
  const uint32_t inner = byColumn ? values.rows() : values.columns();
  for (uint32_t o = 0; o < outer; ++o) {
    for (uint32_t i = 0; i < inner; ++i) {
      const Value& v = byColumn ? values.at(o, i) : values.at(i, o);
      if ((ignore & 1) && v.isEmpty()) continue;
      if ((ignore & 2) && v.isError()) continue;
      kept.push_back(v);
    }
  }
  if (kept.empty()) {
    result.setError(kErrorValue);
    return;
  }
  const uint32_t length = static_cast<uint32_t>(kept.size());
  ValueArray out(row ? length : 1, row ? 1 : length);
  out.elements() = std::move(kept);
  setArrayResult(result, std::move(out));
}

// TAKE and DROP(array, rows, [columns]): the first rows (the last, for a negative count), or all
// but those.
void takeOrDrop(CallContext& context, const Value* const* arguments, bool take, Value& result) {
  ValueArray values;
  if (!atLeast(argumentCount(arguments), 2, result)) return;
  if (!valuesOf(context, *arguments[0], values, result)) return;
  int64_t rows = 0, columns = 0;
  const int64_t allRows = values.rows(), allColumns = values.columns();
  if (!optionalInteger(context, arguments[1], take ? allRows : 0, &rows, result) ||
      !optionalInteger(context, argumentAt(arguments, 2), take ? allColumns : 0, &columns,
                       result)) {
    return;
  }
  // The kept span of one dimension: [first, first + count).
  auto span = [&](int64_t n, int64_t all, int64_t* first, int64_t* count) {
    const int64_t m = std::min<int64_t>(n < 0 ? -n : n, all);
    if (take) {
      *count = m;
      *first = n < 0 ? all - m : 0;
    } else {
      *count = all - m;
      *first = n < 0 ? 0 : m;
    }
  };
  int64_t firstRow = 0, rowCount = 0, firstColumn = 0, columnCount = 0;
  span(rows, allRows, &firstRow, &rowCount);
  span(columns, allColumns, &firstColumn, &columnCount);
  if (rowCount == 0 || columnCount == 0) {
    result.setError(kErrorValue);
    return;
  }
  ValueArray out(static_cast<uint32_t>(columnCount), static_cast<uint32_t>(rowCount));
  for (uint32_t r = 0; r < rowCount; ++r) {
    for (uint32_t c = 0; c < columnCount; ++c) {
      out.at(c, r) = values.at(uint32_t(firstColumn + c), uint32_t(firstRow + r));
    }
  }
  setArrayResult(result, std::move(out));
}

// HSTACK and VSTACK(array, ...): the arrays side by side (one above the other); short ones are
// padded with #N/A.
void stack(CallContext& context, const Value* const* arguments, bool across, Value& result) {
  std::vector<ValueArray> parts;
  uint64_t length = 0, breadth = 0;
  for (size_t i = 0; arguments[i] != nullptr; ++i) {
    ValueArray part;
    if (!valuesOf(context, *arguments[i], part, result)) return;
    length += across ? part.columns() : part.rows();
    breadth = std::max<uint64_t>(breadth, across ? part.rows() : part.columns());
    parts.push_back(std::move(part));
  }
  if (parts.empty() || length * breadth > kMaxResultElements) {
    result.setError(kErrorValue);
    return;
  }
  ValueArray out(uint32_t(across ? length : breadth), uint32_t(across ? breadth : length));
  for (Value& v : out.elements()) v.setError(kErrorNA);
  uint32_t offset = 0;
  for (const ValueArray& part : parts) {
    for (uint32_t r = 0; r < part.rows(); ++r) {
      for (uint32_t c = 0; c < part.columns(); ++c) {
        (across ? out.at(offset + c, r) : out.at(c, offset + r)) = part.at(c, r);
      }
    }
    offset += across ? part.columns() : part.rows();
  }
  setArrayResult(result, std::move(out));
}

// CHOOSECOLS and CHOOSEROWS(array, n, ...): the columns (rows) of those numbers, from 1, or from
// the end when negative; each number may also be an array of numbers.
void chooseLines(CallContext& context, const Value* const* arguments, bool columns, Value& result) {
  ValueArray values;
  if (!atLeast(argumentCount(arguments), 2, result)) return;
  if (!valuesOf(context, *arguments[0], values, result)) return;
  const int64_t lines = columns ? values.columns() : values.rows();
  std::vector<uint32_t> chosen;
  for (size_t i = 1; arguments[i] != nullptr; ++i) {
    ValueArray numbers;
    if (!valuesOf(context, *arguments[i], numbers, result)) return;
    for (const Value& n : numbers.elements()) {
      double x = 0;
      if (!numberFromValue(n, &x, result)) return;
      const int64_t k = static_cast<int64_t>(std::trunc(x));
      if (k == 0 || k > lines || k < -lines) {
        result.setError(kErrorValue);
        return;
      }
      chosen.push_back(static_cast<uint32_t>(k > 0 ? k - 1 : lines + k));
    }
  }
  const uint32_t count = static_cast<uint32_t>(chosen.size());
  ValueArray out(columns ? count : values.columns(), columns ? values.rows() : count);
  for (uint32_t k = 0; k < count; ++k) {
    if (columns) {
      for (uint32_t r = 0; r < values.rows(); ++r) out.at(k, r) = values.at(chosen[k], r);
    } else {
      for (uint32_t c = 0; c < values.columns(); ++c) out.at(c, k) = values.at(c, chosen[k]);
    }
  }
  setArrayResult(result, std::move(out));
}

// VALUETOTEXT(value, [format]): the display text; format 1 quotes texts as formulas write them.
// A value as VALUETOTEXT and ARRAYTOTEXT write it; strictly, a text in quotes with its quotes
// doubled, so that the result reads back as a formula constant.
std::u16string valueText(const Value& v, bool strict) {
  if (!strict || !v.isText()) return toText(v);
  std::u16string quoted = u"\"";
  for (char16_t u : v.text()) {
    quoted += u;
    if (u == u'"') quoted += u;
  }
  return quoted + u"\"";
}

void valueToTextOne(CallContext& context, const Value* const* arguments, Value& result) {
  Value v = singleValue(context, argumentAt(arguments, 0));
  int64_t format = 0;
  if (!optionalInteger(context, argumentAt(arguments, 1), 0, &format, result)) return;
  if (format != 0 && format != 1) {
    result.setError(kErrorValue);
    return;
  }
  result.setText(valueText(v, format == 1));
}

void valueToTextRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  lifted(
      context, arguments,
      [&context](const Value* const* one, Value& out) { valueToTextOne(context, one, out); },
      result);
}

// ARRAYTOTEXT(array, [format]): format 0 joins the values' texts with ", " row after row;
// format 1 writes an array constant, {a,b;c,d}, its texts quoted.
void arrayToTextRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (!atLeast(argumentCount(arguments), 1, result)) return;
  int64_t format = 0;
  if (!optionalInteger(context, argumentAt(arguments, 1), 0, &format, result)) return;
  if (format != 0 && format != 1) {
    result.setError(kErrorValue);
    return;
  }
  ValueArray values;
  if (!valuesOf(context, *arguments[0], values, result)) return;
  const bool strict = format == 1;
  std::u16string text = strict ? u"{" : u"";
  for (uint32_t r = 0; r < values.rows(); ++r) {
    for (uint32_t c = 0; c < values.columns(); ++c) {
      if (r > 0 || c > 0) text += !strict ? u", " : c == 0 ? u";" : u",";
      text += valueText(values.at(c, r), strict);
    }
  }
  if (strict) text += u"}";
  if (text.size() > kMaxTextLength) {
    result.setError(kErrorValue);
    return;
  }
  result.setText(text);
}

// SINGLE(value), the "@" of formulas: a range stands for its cell in the calling cell's row or
// column (#VALUE! when it shares none), an array for its first element.
void singleRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (!atLeast(argumentCount(arguments), 1, result)) return;
  const Value& argument = *arguments[0];
  if ((argument.isReference() || argument.isReferenceList()) && context.engine == nullptr) {
    result.setError(kErrorValue);
    return;
  }
  Value v;
  if (context.engine != nullptr) {
    referenceToValue(*context.engine, argument, v);
  } else {
    v = argument;
  }
  if (v.isArray()) {
    Value first = v.array().size() > 0 ? v.array().at(0, 0) : Value();
    v = std::move(first);
  }
  result = std::move(v);
}

// RANDARRAY([rows], [columns], [min], [max], [whole]): draws of the native RAND scaled to the
// bounds; whole numbers take every integer from min to max with equal chance.
void randArrayRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  int64_t rows = 0, columns = 0;
  if (!optionalInteger(context, argumentAt(arguments, 0), 1, &rows, result) ||
      !optionalInteger(context, argumentAt(arguments, 1), 1, &columns, result)) {
    return;
  }
  double bounds[2] = {0, 1};
  for (size_t i = 0; i < 2; ++i) {
    Value v = singleValue(context, argumentAt(arguments, 2 + i));
    if (!v.isEmpty() && !numberFromValue(v, &bounds[i], result)) return;
  }
  bool whole = false;
  Value flag = singleValue(context, argumentAt(arguments, 4));
  if (!flag.isEmpty()) {
    double x = 0;
    if (!numberFromValue(flag, &x, result)) return;
    whole = x != 0;
  }
  const double low = whole ? std::ceil(bounds[0]) : bounds[0];
  const double high = whole ? std::floor(bounds[1]) : bounds[1];
  if (rows < 1 || columns < 1 || uint64_t(rows) * uint64_t(columns) > kMaxResultElements ||
      low > high || (whole && (bounds[0] != low || bounds[1] != high))) {
    result.setError(kErrorValue);
    return;
  }
  const Value* none[] = {nullptr};
  ValueArray out(static_cast<uint32_t>(columns), static_cast<uint32_t>(rows));
  for (Value& element : out.elements()) {
    Value draw;
    callNative(u"RAND", context, none, draw);
    double x = 0;
    if (!numberFromValue(draw, &x, result)) return;
    setNumberResult(element,
                    whole ? low + std::floor(x * (high - low + 1)) : low + x * (high - low));
  }
  setArrayResult(result, std::move(out));
}

// TRIMRANGE(range, [rows], [columns]): the range without its empty outer rows and columns;
// rows and columns say which ends go: 0 none, 1 leading, 2 trailing, 3 both (the default).
void trimRangeRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (!atLeast(argumentCount(arguments), 1, result)) return;
  int64_t trimRows = 3, trimColumns = 3;
  if (!optionalInteger(context, argumentAt(arguments, 1), 3, &trimRows, result) ||
      !optionalInteger(context, argumentAt(arguments, 2), 3, &trimColumns, result)) {
    return;
  }
  const Value& argument = *arguments[0];
  if (argument.isError()) {
    result = argument;
    return;
  }
  if (!argument.isReference() || trimRows < 0 || trimRows > 3 || trimColumns < 0 ||
      trimColumns > 3) {
    result.setError(kErrorValue);
    return;
  }
  RangeRef range = normalizeRange(argument.reference());
  if (!isValidRange(range) || range.first.sheet() != range.last.sheet()) {
    result.setError(kErrorRef);
    return;
  }
  // The bounding box of the cells that hold a value, scanning only to each column's last stored
  // row.
  const uint32_t sheet = range.first.sheet();
  int64_t top = -1, bottom = -1, left = -1, right = -1;
  for (uint32_t c = range.first.column(); c <= range.last.column(); ++c) {
    const int64_t last = std::min<int64_t>(lastStoredRow(context, sheet, c), range.last.row());
    for (int64_t r = range.first.row(); r <= last; ++r) {
      if (cellValueAt(context, CellRef::at(sheet, uint32_t(r), c)).isEmpty()) continue;
      top = top < 0 ? r : std::min(top, r);
      bottom = std::max(bottom, r);
      left = left < 0 ? c : left;
      right = c;
    }
  }
  if (top < 0) {
    result.setError(kErrorRef);  // nothing left to refer to
    return;
  }
  auto at = [&](int64_t row, int64_t column) {
    return CellRef::at(sheet, uint32_t(row), uint32_t(column));
  };
  const int64_t firstRow = (trimRows & 1) ? top : range.first.row();
  const int64_t lastRow = (trimRows & 2) ? bottom : range.last.row();
  const int64_t firstColumn = (trimColumns & 1) ? left : range.first.column();
  const int64_t lastColumn = (trimColumns & 2) ? right : range.last.column();
  result.setReference(at(firstRow, firstColumn), at(lastRow, lastColumn));
}

// GETPIVOTDATA: the headless workbook holds no pivot tables, so no reference names one.
void getPivotDataRoutine(CallContext&, const Value* const*, Value& result) {
  result.setError(kErrorRef);
}

// TEXTSPLIT(text, column_delimiter, [row_delimiter], [ignore_empty], [match_mode], [pad_with]):
// the pieces in columns (and rows); short rows are padded with pad_with, else #N/A.
void textSplitRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (!atLeast(argumentCount(arguments), 2, result)) return;
  Value textValue;
  if (!errorFree(context, arguments[0], textValue, result)) return;
  const std::u16string text = toText(textValue);
  std::vector<std::u16string> columnDelimiters, rowDelimiters;
  auto addTo = [](std::vector<std::u16string>& list) {
    return [&list](const Value& v) {
      std::u16string d = toText(v);
      if (!d.empty()) list.push_back(std::move(d));
      return true;
    };
  };
  const Value* rowArgument = argumentAt(arguments, 2);
  if (!forEachValue(context, *arguments[1], addTo(columnDelimiters), result)) return;
  if (rowArgument != nullptr &&
      !forEachValue(context, *rowArgument, addTo(rowDelimiters), result)) {
    return;
  }
  if (columnDelimiters.empty() && rowDelimiters.empty()) {
    result.setError(kErrorValue);
    return;
  }
  const bool ignoreEmpty = toBoolean(singleValue(context, argumentAt(arguments, 3)));
  int64_t matchMode = 0;
  if (!optionalInteger(context, argumentAt(arguments, 4), 0, &matchMode, result)) return;
  const bool ignoreCase = matchMode == 1;
  Value pad = Value::error(kErrorNA);
  if (const Value* given = argumentAt(arguments, 5); given != nullptr && !given->isEmpty()) {
    pad = singleValue(context, given);
  }
  // Splits at the earliest (longest) delimiter each time.
  auto split = [&](std::u16string_view whole, const std::vector<std::u16string>& list) {
    std::vector<std::u16string> pieces;
    size_t start = 0, at = 0;
    while (at < whole.size() && !list.empty()) {
      const int64_t d = delimiterAt(whole, at, list, ignoreCase);
      if (d <= 0) {
        ++at;
        continue;
      }
      pieces.emplace_back(whole.substr(start, at - start));
      at += size_t(d);
      start = at;
    }
    pieces.emplace_back(whole.substr(start));
    if (ignoreEmpty) std::erase_if(pieces, [](const std::u16string& p) { return p.empty(); });
    return pieces;
  };
  std::vector<std::vector<std::u16string>> table;
  for (const std::u16string& line : split(text, rowDelimiters)) {
    table.push_back(split(line, columnDelimiters));
  }
  size_t columns = 0;
  for (const auto& row : table) columns = std::max(columns, row.size());
  if (table.empty() || columns == 0 || table.size() * columns > kMaxResultElements) {
    result.setError(kErrorValue);
    return;
  }
  ValueArray out(static_cast<uint32_t>(columns), static_cast<uint32_t>(table.size()));
  for (uint32_t r = 0; r < table.size(); ++r) {
    for (uint32_t c = 0; c < columns; ++c) {
      if (c < table[r].size()) {
        out.at(c, r).setText(table[r][c]);
      } else {
        out.at(c, r) = pad;
      }
    }
  }
  setArrayResult(result, std::move(out));
}

// ---- WRAPCOLS, WRAPROWS, EXPAND, SORTBY ---------------------------------------------------

// The pad value of WRAPCOLS, WRAPROWS and EXPAND: #N/A when absent.
Value padValue(const CallContext& context, const Value* argument) {
  if (argument == nullptr) return Value::error(kErrorNA);
  return singleValue(context, argument);
}

// WRAPCOLS and WRAPROWS(vector, wrap_count, [pad_with]): a row or column of values laid out in
// columns (rows) of wrap_count values; the last one padded. A two-dimensional array gives
// #VALUE!, a count below 1 #NUM!.
void wrapLines(CallContext& context, const Value* const* arguments, bool columns, Value& result) {
  ValueArray values;
  const size_t count = argumentCount(arguments);
  if (count < 2 || count > 3) {
    result.setError(kErrorValue);
    return;
  }
  if (!valuesOf(context, *arguments[0], values, result)) return;
  if (values.columns() != 1 && values.rows() != 1) {
    result.setError(kErrorValue);
    return;
  }
  int64_t wrap = 0;
  if (!optionalInteger(context, arguments[1], 0, &wrap, result)) return;
  if (wrap < 1) {
    result.setError(kErrorNum);
    return;
  }
  const Value pad = padValue(context, argumentAt(arguments, 2));
  const uint64_t size = values.size();
  const uint64_t length = std::min<uint64_t>(uint64_t(wrap), size);
  const uint64_t lines = (size + uint64_t(wrap) - 1) / uint64_t(wrap);
  ValueArray out(uint32_t(columns ? lines : length), uint32_t(columns ? length : lines));
  for (uint64_t k = 0; k < lines * length; ++k) {
    const uint32_t line = uint32_t(k / length), i = uint32_t(k % length);
    Value& slot = columns ? out.at(line, i) : out.at(i, line);
    const uint64_t source = uint64_t(line) * uint64_t(wrap) + i;
    slot = source < size ? values.elements()[source] : pad;
  }
  setArrayResult(result, std::move(out));
}

// EXPAND(array, rows, [columns], [pad_with]): the array grown to rows x columns (absent or empty
// keeps a dimension), padded. Smaller than the array gives #VALUE!, too large #NUM!.
void expandRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  ValueArray values;
  const size_t count = argumentCount(arguments);
  if (count < 2 || count > 4) {
    result.setError(kErrorValue);
    return;
  }
  if (!valuesOf(context, *arguments[0], values, result)) return;
  int64_t rows = 0, columns = 0;
  if (!optionalInteger(context, arguments[1], values.rows(), &rows, result) ||
      !optionalInteger(context, argumentAt(arguments, 2), values.columns(), &columns, result)) {
    return;
  }
  if (rows < int64_t{values.rows()} || columns < int64_t{values.columns()}) {
    result.setError(kErrorValue);
    return;
  }
  if (uint64_t(rows) * uint64_t(columns) > kMaxResultElements) {
    result.setError(kErrorNum);
    return;
  }
  const Value pad = padValue(context, argumentAt(arguments, 3));
  ValueArray out(static_cast<uint32_t>(columns), static_cast<uint32_t>(rows));
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c) {
      out.at(c, r) = r < values.rows() && c < values.columns() ? values.at(c, r) : pad;
    }
  }
  setArrayResult(result, std::move(out));
}

// SORTBY(array, by_array, [sort_order], ...): the rows (for by_arrays that are columns as tall
// as the array) or columns (rows as wide as it) in a stable order of the keys, the first key
// first. Keys of another shape, or orders other than 1 and -1, give #VALUE!.
void sortByRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  ValueArray values;
  const size_t count = argumentCount(arguments);
  if (!atLeast(count, 2, result)) return;
  if (!valuesOf(context, *arguments[0], values, result)) return;
  struct Key {
    ValueArray values;
    int64_t order = 1;
  };
  std::vector<Key> keys;
  int byColumn = -1;  // unknown until the first key
  for (size_t i = 1; i < count; i += 2) {
    Key key;
    if (!valuesOf(context, *arguments[i], key.values, result)) return;
    if (!optionalInteger(context, argumentAt(arguments, i + 1), 1, &key.order, result)) return;
    const bool column = key.values.columns() == 1 && key.values.rows() == values.rows();
    const bool row = key.values.rows() == 1 && key.values.columns() == values.columns();
    int across = column ? 0 : row ? 1 : -1;
    // A single cell against a single line fits either way; the first key decides.
    if (column && row && byColumn >= 0) across = byColumn;
    if (across < 0 || (byColumn >= 0 && across != byColumn) ||
        (key.order != 1 && key.order != -1)) {
      result.setError(kErrorValue);
      return;
    }
    byColumn = across;
    keys.push_back(std::move(key));
  }
  const bool columns = byColumn == 1;
  const uint32_t lines = columns ? values.columns() : values.rows();
  std::vector<uint32_t> lineOrder(lines);
  for (uint32_t i = 0; i < lines; ++i) lineOrder[i] = i;
  std::stable_sort(lineOrder.begin(), lineOrder.end(), [&](uint32_t a, uint32_t b) {
    for (const Key& key : keys) {
      const Value& va = key.values.elements()[a];
      const Value& vb = key.values.elements()[b];
      // Empty cells stay last either way, as SORT keeps them.
      if (va.isEmpty() || vb.isEmpty()) {
        if (va.isEmpty() == vb.isEmpty()) continue;
        return vb.isEmpty();
      }
      const int o = sortOrder(va, vb);
      if (o != 0) return key.order == 1 ? o < 0 : o > 0;
    }
    return false;
  });
  ValueArray out(values.columns(), values.rows());
  for (uint32_t k = 0; k < lines; ++k) {
    if (columns) {
      for (uint32_t r = 0; r < values.rows(); ++r) out.at(k, r) = values.at(lineOrder[k], r);
    } else {
      for (uint32_t c = 0; c < values.columns(); ++c) out.at(c, k) = values.at(c, lineOrder[k]);
    }
  }
  setArrayResult(result, std::move(out));
}

// ANCHORARRAY(cell): the values of the array formula anchored at the cell (what "A1#" writes) over
// the range the workbook records for it, read from the anchor's own value so that the members
// need not be computed yet; #REF! for a cell that anchors no array formula.
void anchorArrayRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (argumentCount(arguments) != 1) {
    result.setError(kErrorValue);
    return;
  }
  const Value& argument = *arguments[0];
  if (argument.isError()) {
    result = argument;
    return;
  }
  const CompiledModel* model = contextModel(context);
  if (!argument.isReference() || model == nullptr) {
    result.setError(kErrorRef);
    return;
  }
  const CellRef address = normalizeRange(argument.reference()).first;
  const Cell* cell = model->findCell(address);
  if (cell == nullptr || !cell->arrayRange() || !cell->hasFlag(kCellArrayMember) ||
      !(normalizeRange(*cell->arrayRange()).first == address)) {
    result.setError(kErrorRef);
    return;
  }
  // The anchor's value fills the range as an array formula fills its cells: a single value every
  // cell, a row or column along the other dimension, #N/A beyond the array.
  const RangeRef range = normalizeRange(*cell->arrayRange());
  const uint64_t columns = uint64_t{range.last.column()} - range.first.column() + 1;
  const uint64_t rows = uint64_t{range.last.row()} - range.first.row() + 1;
  const Value& anchor = cellValueAt(context, address);
  if (columns * rows > kMaxResultElements) {
    result.setError(kErrorNum);
    return;
  }
  ValueArray out(static_cast<uint32_t>(columns), static_cast<uint32_t>(rows));
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c) {
      if (!anchor.isArray()) {
        out.at(c, r) = anchor;
        continue;
      }
      const ValueArray& a = anchor.array();
      const uint32_t ac = a.columns() == 1 ? 0 : c, ar = a.rows() == 1 ? 0 : r;
      if (ac < a.columns() && ar < a.rows()) {
        out.at(c, r) = a.at(ac, ar);
      } else {
        out.at(c, r).setError(kErrorNA);
      }
    }
  }
  setArrayResult(result, std::move(out));
}

// ---- Services of the outside world ------------------------------------------------------

// The headless program reaches no web service, real-time data server, database or code library:
// each of these answers as the spreadsheet program does when the service is unavailable.
template <uint32_t code>
void unavailableService(CallContext&, const Value* const*, Value& result) {
  result.setError(code);
}

constexpr NativeEntry kHostNewerFunctions[] = {
    {u"CONCAT", concatRoutine},
    {u"IFS", ifsRoutine},
    {u"MAXIFS", flagged<extremeIfs, true>},
    {u"MINIFS", flagged<extremeIfs, false>},
    {u"SEQUENCE", sequenceRoutine},
    {u"SHEET", sheetRoutine},
    {u"SWITCH", switchRoutine},
    {u"TEXTAFTER", flagged<textAround, false>},
    {u"TEXTBEFORE", flagged<textAround, true>},
    {u"TEXTJOIN", textJoinRoutine},
    {u"XLOOKUP", xLookupRoutine},
    {u"XMATCH", xMatchRoutine},
    {u"CHOOSECOLS", flagged<chooseLines, true>},
    {u"CHOOSEROWS", flagged<chooseLines, false>},
    {u"DROP", flagged<takeOrDrop, false>},
    {u"FILTER", filterRoutine},
    {u"HSTACK", flagged<stack, true>},
    {u"SORT", sortRoutine},
    {u"TAKE", flagged<takeOrDrop, true>},
    {u"TEXTSPLIT", textSplitRoutine},
    {u"TOCOL", flagged<toLine, false>},
    {u"TOROW", flagged<toLine, true>},
    {u"UNIQUE", uniqueRoutine},
    {u"VALUETOTEXT", valueToTextRoutine},
    {u"VSTACK", flagged<stack, false>},
    {u"ANCHORARRAY", anchorArrayRoutine},
    {u"EXPAND", expandRoutine},
    {u"SORTBY", sortByRoutine},
    {u"WRAPCOLS", flagged<wrapLines, true>},
    {u"WRAPROWS", flagged<wrapLines, false>},
    {u"REGEXEXTRACT", regexExtractRoutine},
    {u"REGEXREPLACE", regexReplaceRoutine},
    {u"REGEXTEST", regexTestRoutine},
    {u"ARRAYTOTEXT", arrayToTextRoutine},
    {u"GETPIVOTDATA", getPivotDataRoutine},
    {u"RANDARRAY", randArrayRoutine},
    {u"SINGLE", singleRoutine},
    {u"TRIMRANGE", trimRangeRoutine},
    {u"CALL", unavailableService<kErrorValue>},
    {u"CUBEKPIMEMBER", unavailableService<kErrorName>},
    {u"CUBEMEMBER", unavailableService<kErrorName>},
    {u"CUBEMEMBERPROPERTY", unavailableService<kErrorName>},
    {u"CUBERANKEDMEMBER", unavailableService<kErrorName>},
    {u"CUBESET", unavailableService<kErrorName>},
    {u"CUBESETCOUNT", unavailableService<kErrorName>},
    {u"CUBEVALUE", unavailableService<kErrorName>},
    {u"FILTERXML", unavailableService<kErrorValue>},
    {u"REGISTER.ID", unavailableService<kErrorValue>},
    {u"RTD", unavailableService<kErrorNA>},
    {u"SQL.REQUEST", unavailableService<kErrorNA>},
    {u"WEBSERVICE", unavailableService<kErrorValue>},
};

}  // namespace

int sortOrder(const Value& a, const Value& b) {
  const int fa = a.isEmpty() ? 99 : typeFamily(a), fb = b.isEmpty() ? 99 : typeFamily(b);
  if (fa != fb) return fa < fb ? -1 : 1;
  if (a.isError())
    return a.errorCode() == b.errorCode() ? 0 : a.errorCode() < b.errorCode() ? -1 : 1;
  if (a.isEmpty()) return 0;
  if (equals(a, b)) return 0;
  return less(a, b) ? -1 : 1;
}

NativeTable hostNewerFunctions() { return NativeTable(kHostNewerFunctions); }

}  // namespace korvel
