// The special functions under the continuous distributions: log-gamma and log-beta, the
// regularized incomplete beta and gamma functions with both tails, and their inverses. Other
// function families (the discrete distributions, regression tests) reuse them.
//
// Both tails are returned because each is computed where it is accurate: the smaller tail
// directly, the larger one as its complement, so a tail of 1e-300 keeps its digits.
//
// Nothing here throws; arguments outside a function's domain give not-a-number.
#ifndef KORVEL_HOSTS_HEADLESS_FUNCTIONS_SPECIAL_FUNCTIONS_H_
#define KORVEL_HOSTS_HEADLESS_FUNCTIONS_SPECIAL_FUNCTIONS_H_

#include <cmath>

namespace korvel {

// ln |Gamma(x)|; +infinity at 0 and the negative integers.
double logGamma(double x);
// ln B(a, b) for a, b > 0, without the cancellation of three log-gammas when a or b is large.
double logBeta(double a, double b);

// The two tails of a distribution at one point: lower + upper == 1 up to rounding.
struct Tails {
  double lower;
  double upper;
};

// The regularized incomplete beta function I_x(a, b) (lower) and 1 - I_x(a, b) (upper).
// y is 1 - x, passed by callers who know it more exactly than 1 - x would give it.
// REQUIRES: a, b > 0; 0 <= x <= 1; y == 1 - x.
Tails incompleteBeta(double a, double b, double x, double y);
Tails incompleteBeta(double a, double b, double x);
// The density of the beta distribution on [0, 1] at x (y = 1 - x); +infinity at an end where
// the density has a pole.
double betaDensity(double a, double b, double x, double y);

// The regularized incomplete gamma functions P(a, x) (lower) and Q(a, x) (upper).
// REQUIRES: a > 0; x >= 0.
Tails incompleteGamma(double a, double x);
// The density of the gamma distribution of shape a and scale 1 at x.
double gammaDensity(double a, double x);

// The x with I_x(a, b) == p (upper: with 1 - I_x(a, b) == p); not-a-number outside [0, 1].
double inverseIncompleteBeta(double a, double b, double p, bool upper);
// The x with P(a, x) == p (upper: Q(a, x) == p); +infinity for the lower tail 1.
double inverseIncompleteGamma(double a, double p, bool upper);

// A strictly increasing distribution function inverted: the x in [low, high] (high may be
// +infinity) where tail(x) meets target. tail(x) returns the distribution's Tails at x and
// density(x) its density; upper selects which tail is matched (the upper tail falls as x grows).
// start is a good first guess. Newton steps on the matched tail, kept inside a shrinking bracket
// by bisection, converge to about 15 digits.
template <typename TailFunction, typename DensityFunction>
double invertDistribution(TailFunction&& tail, DensityFunction&& density, double target, bool upper,
                          double start, double low, double high);

// ---------------------------------------------------------------------------------------------

template <typename TailFunction, typename DensityFunction>
double invertDistribution(TailFunction&& tail, DensityFunction&& density, double target, bool upper,
                          double start, double low, double high) {
  // Matching the smaller tail keeps the digits of targets near 1.
  if (target > 0.5) {
    target = 1 - target;
    upper = !upper;
  }
  // f rises with x and is zero at the answer.
  auto f = [&](double x) {
    Tails t = tail(x);
    return upper ? target - t.upper : t.lower - target;
  };
  if (!(high < HUGE_VAL)) {
    // Find a finite upper end: the distribution has passed the target there.
    double probe = start > low && start < HUGE_VAL ? start : (low > 0 ? 2 * low : 1);
    for (int i = 0; i < 2100 && f(probe) < 0; ++i) {
      low = probe;
      probe *= 2;
      if (!(probe < HUGE_VAL)) return HUGE_VAL;
    }
    high = probe;
  }
  // Far in a tail the distribution behaves like a power or an exponential of x, where Newton on
  // the tail itself crawls; on its logarithm the steps are nearly exact there.
  const bool onLogarithm = target < 0.1;
  const double logTarget = onLogarithm ? std::log(target) : 0;
  double x = start > low && start < high ? start : (low + high) / 2;
  for (int i = 0; i < 400; ++i) {
    Tails tails = tail(x);
    double matched = upper ? tails.upper : tails.lower;
    double fx = upper ? target - matched : matched - target;
    if (fx == 0) return x;
    if (fx < 0) {
      low = x;
    } else {
      high = x;
    }
    double slope = density(x);
    double next;
    if (onLogarithm && matched > 0) {
      double g = std::log(matched) - logTarget;
      next = x - (upper ? -g : g) * matched / slope;
    } else {
      next = x - fx / slope;
    }
    if (!(next > low && next < high)) {
      // Bisect, geometrically across a wide bracket so tiny answers are reached quickly.
      next = low > 0 && high > 4 * low   ? std::sqrt(low) * std::sqrt(high)
             : low == 0 && high > 1e-300 ? high / 16
                                         : low + (high - low) / 2;
    }
    if (std::fabs(next - x) <= 1e-15 * std::fabs(next) || high - low <= 1e-15 * std::fabs(next) ||
        next == x) {
      return next;
    }
    x = next;
  }
  return x;
}

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_FUNCTIONS_SPECIAL_FUNCTIONS_H_
