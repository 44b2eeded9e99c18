#include "hosts/headless/functions/host_call_text.h"

#include <utility>

#include "engine/engine.h"
#include "engine/evaluator.h"
#include "engine/locale_settings.h"
#include "engine/number_text.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "functions/native_registry.h"
#include "hosts/headless/functions/host_functions.h"
#include "model/address.h"
#include "model/cell.h"
#include "model/compiled_model.h"
#include "model/nodes/node.h"
#include "model/sheet.h"
#include "util/text.h"

namespace korvel {
namespace {

// Prefixes newer functions carry in formulas; files also nest them ("_xlfn._xlws.SORT").
constexpr std::u16string_view kNewerPrefixes[] = {u"_XLFN.", u"_XLWS."};

// Beyond this many texts inside each other a call is left alone: a routine that hands its own
// call back would otherwise recurse without end.
constexpr int kMaxNesting = 8;

std::u16string_view withoutNewerPrefixes(std::u16string_view name) {
  bool found = true;
  while (found) {
    found = false;
    for (std::u16string_view prefix : kNewerPrefixes) {
      if (name.size() > prefix.size() && startsWithNoCase(name, prefix)) {
        name.remove_prefix(prefix.size());
        found = true;
      }
    }
  }
  return name;
}

bool isNameUnit(char16_t u) { return isLetter(u) || isDigit(u) || u == u'.' || u == u'_'; }

// The position of the unit that closes the quote opened at text[open] (quotes inside doubled), or
// npos.
size_t closingQuote(std::u16string_view text, size_t open) {
  const char16_t quote = text[open];
  for (size_t i = open + 1; i < text.size(); ++i) {
    if (text[i] != quote) continue;
    if (i + 1 < text.size() && text[i + 1] == quote) {
      ++i;
      continue;
    }
    return i;
  }
  return std::u16string_view::npos;
}

// Splits at the separator where no quote, brace or parenthesis is open. False when the nesting
// does not close.
bool splitTopLevel(std::u16string_view text, char16_t separator,
                   std::vector<std::u16string_view>& parts) {
  int depth = 0;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u == u'"' || u == u'\'') {
      i = closingQuote(text, i);
      if (i == std::u16string_view::npos) return false;
    } else if (u == u'(' || u == u'{') {
      ++depth;
    } else if (u == u')' || u == u'}') {
      if (--depth < 0) return false;
    } else if (u == separator && depth == 0) {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  if (depth != 0) return false;
  parts.push_back(text.substr(start));
  return true;
}

// A number as formula literals write it: a sign or digit first, then what textToNumber reads.
bool readNumber(std::u16string_view text, double* out) {
  if (text.empty()) return false;
  const char16_t first = text[0];
  if (!isDigit(first) && first != u'-' && first != u'+' && first != userLocale().decimalSeparator) {
    return false;
  }
  return textToNumber(text, out);
}

// A literal of an array constant or an argument: empty, quoted text, TRUE/FALSE, an error, a
// number.
bool readLiteral(std::u16string_view text, Value& out) {
  text = trim(text);
  if (text.empty()) {
    out.clear();
    return true;
  }
  if (text.front() == u'"') {
    if (closingQuote(text, 0) != text.size() - 1) return false;
    std::u16string units;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
      units += text[i];
      if (text[i] == u'"') ++i;
    }
    out.setText(units);
    return true;
  }
  if (equalsNoCase(text, literalText(kTextTrue)) || equalsNoCase(text, literalText(kTextFalse))) {
    out.setBoolean(equalsNoCase(text, literalText(kTextTrue)));
    return true;
  }
  if (uint32_t code = errorFromText(text); code != 0) {
    out.setError(code);
    return true;
  }
  double x = 0;
  if (readNumber(text, &x)) {
    out.setNumber(x);
    return true;
  }
  return false;
}

// {1,2;3,4}: rows split by ";", elements by the list separator (one row when that is ";" too).
bool readArray(std::u16string_view text, Value& out) {
  const char16_t listSeparator = userLocale().listSeparator;
  std::vector<std::u16string_view> rows;
  if (listSeparator == u';') {
    rows.push_back(text);
  } else if (!splitTopLevel(text, u';', rows)) {
    return false;
  }
  std::vector<std::vector<std::u16string_view>> cells(rows.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    if (!splitTopLevel(rows[r], listSeparator, cells[r])) return false;
    if (cells[r].size() != cells[0].size()) return false;
  }
  ValueArray array(static_cast<uint32_t>(cells[0].size()), static_cast<uint32_t>(rows.size()));
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t c = 0; c < cells[r].size(); ++c) {
      Value& element = array.at(static_cast<uint32_t>(c), static_cast<uint32_t>(r));
      if (!readLiteral(cells[r][c], element)) return false;
    }
  }
  out.setArray(std::move(array));
  return true;
}

size_t countLetters(std::u16string_view text, size_t from) {
  size_t i = from;
  while (i < text.size() && isAsciiLetter(text[i])) ++i;
  return i - from;
}

size_t countDigits(std::u16string_view text, size_t from) {
  size_t i = from;
  while (i < text.size() && isDigit(text[i])) ++i;
  return i - from;
}

// The three shapes of an address part: a cell ("$B$7"), a column ("$B") or a row ("7"). The parse
// of address.h takes longer letter runs for a cell, so names are told from addresses here.
enum class AddressShape { kNone, kCell, kColumn, kRow };

AddressShape shapeOf(std::u16string_view part) {
  size_t i = 0;
  if (i < part.size() && part[i] == u'$') ++i;
  const size_t letters = countLetters(part, i);
  i += letters;
  if (letters > 3) return AddressShape::kNone;
  if (letters > 0 && i == part.size()) return AddressShape::kColumn;
  if (i < part.size() && part[i] == u'$') {
    ++i;
    if (letters == 0) return AddressShape::kNone;
  }
  const size_t digits = countDigits(part, i);
  if (digits == 0 || i + digits != part.size()) return AddressShape::kNone;
  return letters > 0 ? AddressShape::kCell : AddressShape::kRow;
}

std::u16string withoutDollars(std::u16string_view text) {
  std::u16string out;
  for (char16_t u : text) {
    if (u != u'$') out += u;
  }
  return out;
}

// "B7", "B7:C9", "A:C", "1:3" (with or without "$") on the sheet; false for anything else.
bool readAddress(std::u16string_view text, uint32_t sheet, Value& out) {
  const size_t colon = text.find(u':');
  const AddressShape first =
      shapeOf(colon == std::u16string_view::npos ? text : text.substr(0, colon));
  if (first == AddressShape::kNone) return false;
  if (colon == std::u16string_view::npos && first != AddressShape::kCell) return false;
  if (colon != std::u16string_view::npos && shapeOf(text.substr(colon + 1)) != first) return false;
  CellRef a, b;
  parseRange(withoutDollars(text), sheet, a, b);
  if (a.isNone() || (colon != std::u16string_view::npos && b.isNone())) return false;
  if (colon == std::u16string_view::npos) b = a;
  out.setReference(a, b);
  return true;
}

const Sheet* sheetNamed(const CompiledModel& model, std::u16string_view name) {
  if (const Sheet* sheet = model.sheets().findByExcelName(name)) return sheet;
  for (const auto& [index, sheet] : model.sheets().sheets()) {
    if (sheet.excelName().empty() && equalsNoCase(sheet.name(), name)) return &sheet;
  }
  return nullptr;
}

// The defined name's value as the engine evaluates it (a reference stays one). A name of the
// sheet is found before a workbook name of the same spelling; sheetScope -2 asks for workbook
// names only.
bool readDefinedName(CallContext& context, std::u16string_view name, int64_t sheetScope,
                     Value& out) {
  CompiledModel& model = context.engine->model();
  const DefinedName* found = nullptr;
  for (const DefinedName& defined : model.names) {
    if (!defined.root || !equalsNoCase(defined.name, name)) continue;
    if (defined.scope == sheetScope) {
      found = &defined;
      break;
    }
    if (defined.scope == -1 && found == nullptr) found = &defined;
  }
  if (found == nullptr) return false;
  evaluateNode(*context.engine, found->root.get(), kModeReference, out);
  return true;
}

uint32_t contextSheet(const CallContext& context) {
  return context.cell && !context.cell->address.isNone() ? context.cell->address.sheet() : 0;
}

bool readOperand(CallContext& context, std::u16string_view text, Value& out);

// A reference with an optional sheet: Sheet2!A1, 'My sheet'!A1:C3, a defined name, Sheet1!Name.
bool readReference(CallContext& context, std::u16string_view text, Value& out) {
  const CompiledModel& model = context.engine->model();
  uint32_t sheet = contextSheet(context);
  bool qualified = false;
  std::u16string_view rest = text;
  if (!text.empty() && text.front() == u'\'') {
    const size_t close = closingQuote(text, 0);
    if (close == std::u16string_view::npos || close + 1 >= text.size() || text[close + 1] != u'!') {
      return false;
    }
    std::u16string name;
    for (size_t i = 1; i < close; ++i) {
      name += text[i];
      if (text[i] == u'\'') ++i;
    }
    const Sheet* found = sheetNamed(model, name);
    if (found == nullptr) return false;
    sheet = found->index();
    qualified = true;
    rest = text.substr(close + 2);
  } else if (const size_t bang = text.find(u'!'); bang != std::u16string_view::npos) {
    const std::u16string_view name = text.substr(0, bang);
    for (char16_t u : name) {
      if (!isNameUnit(u)) return false;
    }
    const Sheet* found = sheetNamed(model, name);
    if (found == nullptr) return false;
    sheet = found->index();
    qualified = true;
    rest = text.substr(bang + 1);
  }
  if (readAddress(rest, sheet, out)) return true;
  if (rest.empty() || isDigit(rest.front())) return false;
  for (char16_t u : rest) {
    if (!isNameUnit(u) && u != u'\\') return false;
  }
  return readDefinedName(context, rest, qualified ? int64_t{sheet} : int64_t{contextSheet(context)},
                         out);
}

// (A1,B2:C3): the references of a union, as one reference list.
bool readUnion(CallContext& context, std::u16string_view inside, Value& out) {
  std::vector<std::u16string_view> parts;
  if (!splitTopLevel(inside, userLocale().listSeparator, parts)) return false;
  ValueArray list(static_cast<uint32_t>(parts.size()), 1);
  for (size_t i = 0; i < parts.size(); ++i) {
    Value& part = list.at(static_cast<uint32_t>(i), 0);
    if (!readOperand(context, parts[i], part)) return false;
    if (part.isReferenceList() && part.array().size() == 1) {
      Value only = part.array().at(0, 0);
      part = std::move(only);
    }
    if (!part.isReference()) return false;
  }
  if (parts.size() == 1) {
    Value only = list.at(0, 0);
    out = std::move(only);
  } else {
    out.setReferenceList(std::move(list));
  }
  return true;
}

bool readNestedCall(CallContext& context, std::u16string_view text, Value& out);

bool readOperand(CallContext& context, std::u16string_view text, Value& out) {
  text = trim(text);
  if (text.empty()) {
    out.clear();
    return true;
  }
  if (readNestedCall(context, text, out)) return true;
  if (text.front() == u'{') {
    return text.size() >= 2 && text.back() == u'}' &&
           readArray(text.substr(1, text.size() - 2), out);
  }
  if (text.front() == u'(') {
    return text.size() >= 2 && text.back() == u')' &&
           readUnion(context, text.substr(1, text.size() - 2), out);
  }
  if (readLiteral(text, out)) return true;
  if (text.front() == u'"' || text.front() == u'#') return false;
  return readReference(context, text, out);
}

// The name of "NAME(" at the start of the text and the position of its "(", or npos.
size_t callNameEnd(std::u16string_view text) {
  size_t end = 0;
  while (end < text.size() && (isNameUnit(text[end]) || text[end] == u'\\')) ++end;
  if (end == 0 || end >= text.size() || text[end] != u'(') return std::u16string_view::npos;
  if (isDigit(text[0]) || text[0] == u'.') return std::u16string_view::npos;
  return end;
}

bool equalsExactly(const std::vector<std::u16string>& texts, std::u16string_view text) {
  for (const std::u16string& t : texts) {
    if (t == text) return true;
  }
  return false;
}

// The texts being computed, innermost last.
std::vector<std::u16string>& textsInProgress() {
  static std::vector<std::u16string> texts;
  return texts;
}

class InProgress {
 public:
  explicit InProgress(std::u16string_view text) { textsInProgress().emplace_back(text); }
  ~InProgress() { textsInProgress().pop_back(); }
  InProgress(const InProgress&) = delete;
  InProgress& operator=(const InProgress&) = delete;
};

// A reference result as the host program's Evaluate answers it: the value of its cell, or the
// array of its cells' values.
void readCells(CallContext& context, const Value& reference, Value& out) {
  const RangeRef range = normalizeRange(reference.reference());
  if (range.first == range.last) {
    out = cellValueAt(context, range.first);
  } else {
    referenceToArray(*context.engine, reference, out);
  }
}

// The evaluator reads a one-cell reference at a value position of a catalogued function as its
// cell's value; routines of those functions expect it so.
void readValuePositions(CallContext& context, std::u16string_view name,
                        std::vector<Value>& arguments) {
  const FunctionResolver* resolver = context.engine->model().functions;
  if (resolver == nullptr) return;
  const int number = resolver->functionNumber(name);
  if (number < 0 || resolver->maximumArguments(number) < 0) return;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const int argumentClass = resolver->argumentClass(number, static_cast<int>(i));
    if ((argumentClass == 0 || argumentClass == 1 || argumentClass == 5) &&
        arguments[i].isReference()) {
      const RangeRef range = normalizeRange(arguments[i].reference());
      if (range.first == range.last) {
        Value cell = cellValueAt(context, range.first);
        arguments[i] = std::move(cell);
      }
    }
  }
}

// The call's function by the headless program's routine of that name, else the native; false
// when neither exists.
bool callRoutine(CallContext& context, HostCallText& call, Value& result) {
  NativeRoutine routine = hostRoutine(call.name);
  if (routine == nullptr) {
    const NativeFunction* native = NativeRegistry::instance().findNative(call.name);
    if (native != nullptr) routine = native->routine();
  }
  if (routine == nullptr) return false;
  readValuePositions(context, call.name, call.arguments);
  std::vector<const Value*> arguments;
  for (const Value& argument : call.arguments) arguments.push_back(&argument);
  arguments.push_back(nullptr);
  routine(context, arguments.data(), result);
  return true;
}

// A call inside a call ("OFFSET(A1,1,1)" in "ANCHORARRAY(OFFSET(A1,1,1))", which the runtime
// writes as it stands for functions that compute references): computed in place, its reference
// kept as one. False for anything else, and for calls nested deeper than a few.
bool readNestedCall(CallContext& context, std::u16string_view text, Value& out) {
  const size_t nameEnd = callNameEnd(text);
  if (nameEnd == std::u16string_view::npos || text.back() != u')') return false;
  if (textsInProgress().size() >= kMaxNesting) return false;
  std::u16string whole = u"=";
  whole += text;
  InProgress guard(whole);
  HostCallText call;
  if (!parseCallText(context, whole, call) || call.name.empty()) return false;
  return callRoutine(context, call, out);
}

}  // namespace

bool parseCallText(CallContext& context, std::u16string_view text, HostCallText& call) {
  call.name.clear();
  call.arguments.clear();
  if (context.engine == nullptr) return false;
  text = trim(text);
  if (text.empty() || text.front() != u'=') return false;
  text = trim(text.substr(1));
  const size_t nameEnd = callNameEnd(text);
  if (nameEnd == std::u16string_view::npos || text.back() != u')') {
    call.arguments.emplace_back();
    return readOperand(context, text, call.arguments.back());
  }
  std::u16string_view inside = text.substr(nameEnd + 1, text.size() - nameEnd - 2);
  std::vector<std::u16string_view> parts;
  // The closing parenthesis must be the call's own: "F(1)+G(2)" fails the split.
  if (!splitTopLevel(inside, userLocale().listSeparator, parts)) return false;
  if (parts.size() == 1 && trim(parts[0]).empty()) parts.clear();
  call.name = toUpper(withoutNewerPrefixes(text.substr(0, nameEnd)));
  call.arguments.resize(parts.size());
  for (size_t i = 0; i < parts.size(); ++i) {
    if (!readOperand(context, parts[i], call.arguments[i])) return false;
  }
  return true;
}

CallTextResult computeCallText(CallContext& context, std::u16string_view text, Value& out) {
  if (textsInProgress().size() >= kMaxNesting || equalsExactly(textsInProgress(), text)) {
    return CallTextResult::kNotComputed;
  }
  InProgress guard(text);
  HostCallText call;
  if (!parseCallText(context, text, call)) return CallTextResult::kNotComputed;
  Value result;
  if (call.name.empty()) {
    result = std::move(call.arguments[0]);
  } else if (!callRoutine(context, call, result)) {
    return CallTextResult::kNotComputed;
  }
  if (result.isReferenceList()) {
    out.setError(kErrorValue);
    return CallTextResult::kValue;
  }
  if (result.isReference()) {
    readCells(context, result, out);
    return CallTextResult::kCells;
  }
  out = std::move(result);
  return CallTextResult::kValue;
}

}  // namespace korvel
