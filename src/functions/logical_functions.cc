// Logical and information functions: IF, IFERROR, AND, OR, NOT, TRUE, FALSE, NA, the IS
// functions, N, TYPE, ERROR.TYPE, CELL, INFO and EVALUATE. CELL and INFO answer what the runtime
// knows itself and hand every other question to the host program.
//
// Choices made here:
// - AND and OR pass over empty elements of arrays as they pass over empty cells: an empty
//   element is a hole in the array, not a FALSE someone wrote.
// - EVALUATE evaluates a formula given as text. A text argument ("1+2", with or without a leading
//   "=") goes to the host program as the formula; a reference goes as its sheet-qualified address,
//   and when the host answers with a text (the referenced cell holds the formula text) that text
//   is evaluated once more, so EVALUATE(A1) computes the formula written in A1. Numbers, booleans
//   and the empty value evaluate to themselves; an empty text and other kinds give #VALUE!.
// - ISREF answers TRUE for a list of references too: a union is a reference wherever the host
//   program takes one.
// - INFO("appname") and INFO("appver") with an empty name or version give the empty text, so the
//   result is never left with whatever the caller's value held.
// - CELL quotes apostrophes in the workbook and sheet names by doubling them, so that the address
//   it gives reads back as the same reference.
#include <algorithm>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/locale_settings.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "functions/native_families.h"
#include "model/address.h"
#include "model/cell.h"
#include "model/compiled_model.h"
#include "model/nodes/node_text.h"
#include "model/sheet.h"
#include "util/text.h"

namespace korvel {
namespace {

bool insideArrayFormula(const CallContext& context) {
  const Cell* cell = context.cell;
  return cell != nullptr && (cell->arrayRange() != nullptr || cell->hasFlag(kCellArrayMember));
}

// A reference to one cell stands for the cell's value; everything else for itself. An invalid
// reference gives #REF! in *scratch.
const Value& singleCellValue(const CallContext& context, const Value& v, Value& scratch) {
  if (!v.isReference()) return v;
  RangeRef range = normalizeRange(v.reference());
  if (!isValidRange(range)) {
    scratch.setError(kErrorRef);
    return scratch;
  }
  if (range.first != range.last) return v;
  return cellValueAt(context, range.first);
}

// The value of the top-left cell of a reference.
const Value& firstCellValue(const CallContext& context, const Value& v, Value& scratch) {
  RangeRef range = normalizeRange(v.reference());
  if (!isValidRange(range)) {
    scratch.setError(kErrorRef);
    return scratch;
  }
  return cellValueAt(context, range.first);
}

bool isBooleanText(std::u16string_view text, bool* out) {
  if (equalsNoCase(text, literalText(kTextTrue))) {
    *out = true;
    return true;
  }
  if (equalsNoCase(text, literalText(kTextFalse))) {
    *out = false;
    return true;
  }
  return false;
}

void ifFunction(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* condition = argumentAt(arguments, 0);
  if (condition == nullptr) {
    result.setError(kErrorValue);
    return;
  }
  Value scratch;
  const Value& c = singleCellValue(context, *condition, scratch);
  bool truth = false;
  switch (c.kind()) {
    case ValueKind::kError:
      result = c;
      return;
    case ValueKind::kShortText:
    case ValueKind::kLongText:
      if (!isBooleanText(c.text(), &truth)) {
        result.setError(kErrorValue);
        return;
      }
      break;
    case ValueKind::kEmpty:
    case ValueKind::kInteger:
    case ValueKind::kNumber:
      truth = !c.isEmpty() && c.number() != 0;
      break;
    case ValueKind::kBoolean:
      truth = c.boolean();
      break;
    default:
      result.setError(kErrorValue);
      return;
  }
  if (truth) {
    const Value* then = argumentAt(arguments, 1);
    if (then != nullptr) {
      result = *then;
    } else {
      result.clear();
    }
    if (result.isEmpty() && insideArrayFormula(context)) result.setInteger(0);
    return;
  }
  const Value* otherwise = argumentAt(arguments, 2);
  if (otherwise != nullptr) {
    result = *otherwise;
  } else {
    result.setBoolean(false);
  }
}

void ifErrorFunction(CallContext&, const Value* const* arguments, Value& result) {
  const Value* value = argumentAt(arguments, 0);
  const Value* fallback = argumentAt(arguments, 1);
  if (value != nullptr && !isErrorLike(*value)) {
    result = *value;
  } else if (fallback != nullptr) {
    result = *fallback;
  } else {
    result.clear();
  }
}

void notFunction(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* argument = argumentAt(arguments, 0);
  if (argument == nullptr) {
    result.setError(kErrorValue);
    return;
  }
  Value scratch;
  const Value& v = singleCellValue(context, *argument, scratch);
  if (isErrorLike(v)) {
    result = v;
  } else if (v.isEmpty()) {
    result.setBoolean(true);
  } else if (v.isNumeric()) {
    result.setBoolean(v.number() == 0);
  } else if (v.isBoolean()) {
    result.setBoolean(!v.boolean());
  } else {
    result.setError(kErrorValue);
  }
}

// The walk of AND and OR over their arguments.
class LogicalFold {
 public:
  LogicalFold(const CallContext& context, bool isAnd) : context_(context), isAnd_(isAnd) {}

  // Returns false when an error ends the call (then *error holds it).
  bool argument(const Value& v, Value* error) {
    switch (v.kind()) {
      case ValueKind::kError:
        *error = v;
        return false;
      case ValueKind::kShortText:
      case ValueKind::kLongText:
        if (isErrorText(v.text())) {
          *error = v;
          return false;
        }
        // As the program does, the texts TRUE and FALSE given directly count as themselves, and
        // any other text is passed over (OR("",TRUE) is TRUE, OR("1") #VALUE!).
        if (bool b = false; isBooleanText(v.text(), &b)) count(b);
        return true;
      case ValueKind::kReference:
        return reference(v.reference(), error);
      case ValueKind::kReferenceList:
        for (const Value& part : v.array().elements()) {
          if (!argument(part, error)) return false;
        }
        return true;
      case ValueKind::kArray:
        for (const Value& element : v.array().elements()) {
          if (element.isError()) {
            *error = element;
            return false;
          }
          if (!element.isEmpty()) count(toBoolean(element));
        }
        return true;
      default:
        count(toBoolean(v));
        return true;
    }
  }

  // #VALUE! when no logical value was met.
  void finish(Value& result) const {
    if (!counted_) {
      result.setError(kErrorValue);
    } else {
      result.setBoolean(isAnd_ ? allTrue_ : anyTrue_);
    }
  }

 private:
  void count(bool b) {
    counted_ = true;
    allTrue_ = allTrue_ && b;
    anyTrue_ = anyTrue_ || b;
  }

  bool reference(const RangeRef& raw, Value* error) {
    RangeRef range = normalizeRange(raw);
    if (!isValidRange(range) || range.first.sheet() != range.last.sheet()) {
      error->setError(kErrorRef);
      return false;
    }
    const uint32_t sheet = range.first.sheet();
    const uint32_t firstColumn = range.first.column(), lastColumn = range.last.column();
    int64_t lastRow = -1;
    std::vector<int64_t> lastRows;
    for (uint32_t c = firstColumn; c <= lastColumn; ++c) {
      lastRows.push_back(lastStoredRow(context_, sheet, c));
      lastRow = std::max(lastRow, lastRows.back());
    }
    lastRow = std::min<int64_t>(lastRow, range.last.row());
    for (int64_t r = range.first.row(); r <= lastRow; ++r) {
      for (uint32_t c = firstColumn; c <= lastColumn; ++c) {
        if (r > lastRows[c - firstColumn]) continue;
        const Value& v = cellValueAt(context_, CellRef::at(sheet, uint32_t(r), c));
        if (isErrorLike(v)) {
          *error = v;
          return false;
        }
        if (v.isEmpty() || v.isText()) continue;
        bool b = toBoolean(v);
        count(b);
        if (isAnd_ && !b) return true;
      }
    }
    return true;
  }

  const CallContext& context_;
  bool isAnd_;
  bool counted_ = false;
  bool allTrue_ = true;
  bool anyTrue_ = false;
};

void logicalFold(const CallContext& context, const Value* const* arguments, bool isAnd,
                 Value& result) {
  LogicalFold fold(context, isAnd);
  for (size_t i = 0; arguments != nullptr && arguments[i] != nullptr; ++i) {
    Value error;
    if (!fold.argument(*arguments[i], &error)) {
      result = std::move(error);
      return;
    }
  }
  fold.finish(result);
}

void andFunction(CallContext& context, const Value* const* arguments, Value& result) {
  logicalFold(context, arguments, true, result);
}

void orFunction(CallContext& context, const Value* const* arguments, Value& result) {
  logicalFold(context, arguments, false, result);
}

void trueFunction(CallContext&, const Value* const*, Value& result) { result.setBoolean(true); }
void falseFunction(CallContext&, const Value* const*, Value& result) { result.setBoolean(false); }
void naFunction(CallContext&, const Value* const*, Value& result) { result.setError(kErrorNA); }

// The IS functions share one reading of their argument.
enum class IsTest { kBlank, kErr, kError, kLogical, kNa, kNonText, kNumber, kRef, kText };

bool isTest(const CallContext& context, const Value* argument, IsTest test) {
  if (argument == nullptr) return false;
  if (test == IsTest::kRef) {
    if (argument->isReferenceList()) return true;
    return argument->isReference() && isValidRange(normalizeRange(argument->reference()));
  }
  Value scratch;
  const Value& v = singleCellValue(context, *argument, scratch);
  const bool reference = v.isReference();
  const bool errorLike = isErrorLike(v);
  const bool na = (v.isError() && v.errorCode() == kErrorNA) ||
                  (v.isText() && errorFromText(v.text()) == kErrorNA);
  switch (test) {
    case IsTest::kBlank:
      return v.isEmpty();
    case IsTest::kErr:
      return (errorLike && !na) || reference;
    case IsTest::kError:
      return errorLike || reference;
    case IsTest::kLogical:
      return v.isBoolean();
    case IsTest::kNa:
      return na;
    case IsTest::kNonText:
      return !v.isText();
    case IsTest::kNumber:
      return v.isNumeric();
    case IsTest::kText:
      return v.isText();
    case IsTest::kRef:
      break;
  }
  return false;
}

template <IsTest test>
void isFunction(CallContext& context, const Value* const* arguments, Value& result) {
  result.setBoolean(isTest(context, argumentAt(arguments, 0), test));
}

void nFunction(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* argument = argumentAt(arguments, 0);
  if (argument == nullptr) {
    result.setInteger(0);
    return;
  }
  Value scratch;
  const Value* v = argument;
  if (v->isReferenceList()) {
    if (v->array().size() == 0) {
      result.setError(kErrorValue);
      return;
    }
    v = &v->array().elements()[0];
  }
  if (v->isArray()) {
    if (v->array().size() == 0) {
      result.setInteger(0);
      return;
    }
    v = &v->array().elements()[0];
  }
  if (v->isReference()) v = &firstCellValue(context, *v, scratch);
  switch (v->kind()) {
    case ValueKind::kError:
      result = *v;
      return;
    case ValueKind::kInteger:
    case ValueKind::kNumber:
      setNumberResult(result, v->number());
      return;
    case ValueKind::kBoolean:
      result.setInteger(v->boolean() ? 1 : 0);
      return;
    default:
      result.setInteger(0);
      return;
  }
}

void typeFunction(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* argument = argumentAt(arguments, 0);
  if (argument == nullptr) {
    result.setInteger(1);
    return;
  }
  if (insideArrayFormula(context) && (argument->isReference() || argument->isArray())) {
    result.setInteger(64);
    return;
  }
  Value scratch;
  const Value& v =
      argument->isReference() ? firstCellValue(context, *argument, scratch) : *argument;
  int type = 1;
  if (v.isText()) {
    type = 2;
  } else if (v.isBoolean()) {
    type = 4;
  } else if (v.isArray()) {
    type = 64;
  } else if (v.isError()) {
    type = 16;
  }
  result.setInteger(type);
}

void errorTypeFunction(CallContext&, const Value* const* arguments, Value& result) {
  const Value* v = argumentAt(arguments, 0);
  uint32_t code = 0;
  if (v != nullptr && v->isError()) code = v->errorCode();
  if (v != nullptr && v->isText()) code = errorFromText(v->text());
  if (v != nullptr && (v->isReference() || v->isReferenceList())) code = kErrorValue;
  int index = errorIndex(code);
  if (index < 0) {
    result.setError(kErrorNA);
    return;
  }
  result.setInteger(index + 1);
}

std::u16string doubledApostrophes(std::u16string_view text) {
  std::u16string out;
  for (char16_t u : text) {
    out.push_back(u);
    if (u == u'\'') out.push_back(u);
  }
  return out;
}

void cellFunction(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* infoType = argumentAt(arguments, 0);
  if (infoType == nullptr) {
    result.setError(kErrorValue);
    return;
  }
  if (isErrorLike(*infoType)) {
    result = *infoType;
    return;
  }
  if (!infoType->isText()) {
    result.setError(kErrorValue);
    return;
  }
  const bool wantsType = equalsNoCase(infoType->text(), u"type");
  const bool wantsAddress = equalsNoCase(infoType->text(), u"address");
  if (!wantsType && !wantsAddress) {
    callHostFunction(context, 125, arguments, 2, result);
    return;
  }

  CellRef first;
  if (!cellArgumentAddress(context, argumentAt(arguments, 1), &first, result)) return;

  if (wantsType) {
    const Value* v = &cellArgumentValue(context, first);
    result.setText(v->isEmpty() ? u"b" : (v->isText() ? u"l" : u"v"));
    return;
  }

  std::u16string text;
  const bool sameSheet = context.cell != nullptr && !context.cell->address.isNone() &&
                         context.cell->address.sheet() == first.sheet();
  if (!sameSheet) {
    const std::u16string workbook =
        context.engine != nullptr ? context.engine->workbookName : std::u16string();
    text = u"'[" + doubledApostrophes(workbook) + u"]" +
           doubledApostrophes(contextSheetName(context, first.sheet())) + u"'!";
  }
  text += cellText(first, true, true);
  result.setText(text);
}

void infoFunction(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  const Value* type = argumentAt(arguments, 0);
  if (type == nullptr || !type->isText()) {
    result.setError(kErrorValue);
    return;
  }
  if (equalsNoCase(type->text(), u"isexe")) {
    result.setBoolean(true);
    return;
  }
  const bool wantsName = equalsNoCase(type->text(), u"appname");
  if (wantsName || equalsNoCase(type->text(), u"appver")) {
    const ApplicationInfo* info =
        context.engine != nullptr ? context.engine->applicationInfo : nullptr;
    if (info == nullptr) {
      result.setError(kErrorValue);
      return;
    }
    result.setText(wantsName ? info->name : info->version);
    return;
  }
  callHostFunction(context, 244, arguments, 1, result);
}

// The address of a reference with its sheet's name, whichever sheet the calling cell is on.
std::u16string qualifiedAddress(const CallContext& context, const RangeRef& range) {
  std::u16string sheet = contextSheetName(context, range.first.sheet());
  std::u16string text = sheetNameNeedsQuotes(sheet) ? quoteSheetName(sheet) : sheet;
  return text + u"!" + rangeText(range);
}

void evaluateFunction(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* argument = argumentAt(arguments, 0);
  if (argument == nullptr) {
    result.setError(kErrorValue);
    return;
  }
  if (argument->isReference()) {
    RangeRef range = normalizeRange(argument->reference());
    if (!isValidRange(range) || range.first.sheet() != range.last.sheet()) {
      result.setError(kErrorRef);
      return;
    }
    evaluateOnHost(context, u"=" + qualifiedAddress(context, range), result);
    if (!result.isText() || isErrorText(result.text())) return;
    const std::u16string formula(result.text());
    if (formula.empty()) return;
    evaluateOnHost(context, formula.front() == u'=' ? formula : u"=" + formula, result);
    return;
  }
  switch (argument->kind()) {
    case ValueKind::kShortText:
    case ValueKind::kLongText: {
      std::u16string_view formula = argument->text();
      if (isErrorText(formula)) {
        result = *argument;
      } else if (formula.empty() || formula == u"=") {
        result.setError(kErrorValue);
      } else {
        evaluateOnHost(
            context,
            formula.front() == u'=' ? std::u16string(formula) : u"=" + std::u16string(formula),
            result);
      }
      return;
    }
    case ValueKind::kEmpty:
    case ValueKind::kInteger:
    case ValueKind::kNumber:
    case ValueKind::kBoolean:
    case ValueKind::kError:
      result = *argument;
      return;
    default:
      result.setError(kErrorValue);
      return;
  }
}

constexpr NativeEntry kLogicalFunctions[] = {
    {u"AND", andFunction},
    {u"CELL", cellFunction},
    {u"ERROR.TYPE", errorTypeFunction},
    {u"EVALUATE", evaluateFunction},
    {u"FALSE", falseFunction},
    {u"IF", ifFunction},
    {u"IFERROR", ifErrorFunction},
    {u"INFO", infoFunction},
    {u"ISBLANK", isFunction<IsTest::kBlank>},
    {u"ISERR", isFunction<IsTest::kErr>},
    {u"ISERROR", isFunction<IsTest::kError>},
    {u"ISLOGICAL", isFunction<IsTest::kLogical>},
    {u"ISNA", isFunction<IsTest::kNa>},
    {u"ISNONTEXT", isFunction<IsTest::kNonText>},
    {u"ISNUMBER", isFunction<IsTest::kNumber>},
    {u"ISREF", isFunction<IsTest::kRef>},
    {u"ISTEXT", isFunction<IsTest::kText>},
    {u"N", nFunction},
    {u"NA", naFunction},
    {u"NOT", notFunction},
    {u"OR", orFunction},
    {u"TRUE", trueFunction},
    {u"TYPE", typeFunction},
};

}  // namespace

NativeTable logicalFunctions() { return kLogicalFunctions; }

}  // namespace korvel
