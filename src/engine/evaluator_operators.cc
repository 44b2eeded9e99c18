// The scalar operators and comparisons of formulas, on single operands: the host program's rules
// for converting operands, propagating errors and keeping results in integer normal form.
#include <cmath>

#include "engine/evaluator.h"
#include "engine/evaluator_internal.h"
#include "engine/value_convert.h"

namespace korvel::evaluation {

namespace {

// A number result in integer normal form; a result that is not finite (an overflowing sum as much
// as a product or power) is #NUM!, so that no cell ever holds an infinity.
void setResult(double x, Value& out) {
  if (std::isfinite(x)) {
    out.setNumber(x);
  } else {
    out.setError(kErrorNum);
  }
}

// Resolves references to single values and propagates the first error of the operands. False when
// out already holds the result.
bool prepareOperands(Engine& engine, const Value& a, const Value* b, Value& x, Value& y,
                     Value& out) {
  referenceToValue(engine, a, x);
  if (b) referenceToValue(engine, *b, y);
  const Value* operands[] = {&x, &y};
  return !propagateErrors(engine, std::span<const Value* const>(operands, b ? 2 : 1), out, 0x3);
}

double multiply(double x, double y) {
  // The host program's product keeps exact factors exact: 0 absorbs and 1 or -1 passes the other
  // factor through, whatever the other factor's magnitude.
  if (x == 0 || y == 0) return 0;
  if (x == 1) return y;
  if (y == 1) return x;
  if (x == -1) return -y;
  if (y == -1) return -x;
  return x * y;
}

}  // namespace

void applyOperator(Engine& engine, uint8_t code, const Value& a, const Value* b, Value& out) {
  const bool unary = code == kOpNegate || code == kOpPercent;
  if (!unary && !b) {
    // A binary operator that lost its second operand in a damaged tree reads it as empty.
    static const Value kEmpty;
    b = &kEmpty;
  }
  Value x, y;
  if (!prepareOperands(engine, a, unary ? nullptr : b, x, y, out)) return;

  if (code == kOpConcatenate) {
    std::u16string text = toText(x);
    text += toText(y);
    out.setText(text);
    return;
  }

  double p, q = 0;
  if (x.isNumeric() && (unary || y.isNumeric())) {
    p = x.number();
    if (!unary) q = y.number();
  } else {
    const bool date1904 = engine.date1904;
    if (!toNumberForOperator(x, date1904, &p) ||
        (!unary && !toNumberForOperator(y, date1904, &q))) {
      out.setError(kErrorValue);
      return;
    }
  }

  switch (code) {
    case kOpAdd:
      setResult(p + q, out);
      return;
    case kOpSubtract:
      setResult(p - q, out);
      return;
    case kOpMultiply:
      setResult(multiply(p, q), out);
      return;
    case kOpDivide:
      if (q == 0) {
        out.setError(kErrorDiv0);
      } else {
        setResult(p / q, out);
      }
      return;
    case kOpPower:
      setResult(std::pow(p, q), out);
      return;
    case kOpNegate:
      setResult(-p, out);
      return;
    case kOpPercent:
      setResult(p / 100, out);
      return;
    default:
      out.setError(kErrorValue);
      return;
  }
}

void applyComparison(Engine& engine, uint8_t code, const Value& a, const Value& b, Value& out) {
  Value x, y;
  if (!prepareOperands(engine, a, &b, x, y, out)) return;
  switch (code) {
    case kCmpLess:
      out.setBoolean(less(x, y));
      return;
    case kCmpGreater:
      out.setBoolean(greater(x, y));
      return;
    case kCmpLessOrEqual:
      out.setBoolean(lessOrEqual(x, y));
      return;
    case kCmpGreaterOrEqual:
      out.setBoolean(greaterOrEqual(x, y));
      return;
    case kCmpEqual:
      out.setBoolean(equals(x, y));
      return;
    case kCmpNotEqual:
      out.setBoolean(notEqual(x, y));
      return;
    default:
      out.setError(kErrorValue);
      return;
  }
}

}  // namespace korvel::evaluation
