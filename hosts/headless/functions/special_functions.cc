// The algorithms, and why:
// - Log-gamma is the C++ library's lgamma, accurate to a few units in the last place and exactly
//   0 at 1 and 2, where a Lanczos sum would leave rounding noise.
// - The incomplete beta function is Lentz's modified continued fraction (the even/odd form of
//   Numerical Recipes), evaluated on the side of the mean where it converges quickly; the other
//   tail is its complement. The incomplete gamma function is its power series below x = a + 1 and
//   the Legendre continued fraction (Lentz again) above.
// - Both multiply their sum by a front factor x^a y^b / B(a, b) (x^a e^-x / Gamma(a)). For large
//   parameters the naive logarithms (a ln x and ln B(a, b) near 1e6 each) cancel away their
//   digits, so above 10 the factor is written with Stirling's series: log-gamma is split into its
//   Stirling part and the small remainder delta(x) = 1/(12x) - 1/(360x^3) + ..., the large parts
//   cancel algebraically, and what is left is a ln(1 + u) - a u with u = (x - mean) / mean, taken
//   by its own series for small u.
// - The inverses start from the classic approximations (Abramowitz and Stegun 26.2.23 through a
//   Cornish-Fisher step for the beta, Wilson-Hilferty for the gamma, a power law near zero) and
//   finish with Newton steps on the smaller tail, inside a bracket that bisection shrinks whenever
//   a step would leave it.
#include "hosts/headless/functions/special_functions.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace korvel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
constexpr double kTiny = 1e-300;                      // keeps Lentz's denominators off zero
constexpr double kHalfLogTwoPi = 0.9189385332046728;  // ln(2 pi) / 2
// Continued fractions and series converge in O(sqrt(max(a, b))) terms at worst; the parameters
// reach 5e9 (degrees of freedom up to 1e10), so the cap is generous.
constexpr int kMaxTerms = 1000000;
// From here on Stirling's series with seven terms is exact to double precision.
constexpr double kStirlingFrom = 10;

// log-gamma(x) - ((x - 0.5) ln x - x + ln(2 pi) / 2) for x >= kStirlingFrom.
double stirlingRemainder(double x) {
  double r = 1 / x, r2 = r * r;
  return r * (1.0 / 12 -
              r2 * (1.0 / 360 -
                    r2 * (1.0 / 1260 -
                          r2 * (1.0 / 1680 -
                                r2 * (1.0 / 1188 - r2 * (691.0 / 360360 - r2 * (1.0 / 156)))))));
}

// ln(1 + u) - u, without the cancellation of the two for small u.
double log1pMinus(double u) {
  if (std::fabs(u) > 0.5) return std::log1p(u) - u;
  // -u^2/2 + u^3/3 - u^4/4 + ...
  double power = u * u, sum = 0;
  for (int k = 2; k < 200; ++k) {
    double term = power / k;
    sum += (k % 2 == 0) ? -term : term;
    if (std::fabs(term) <= 1e-17 * std::fabs(sum)) break;
    power *= u;
  }
  return sum;
}

// ln(ratio) - u where ratio = 1 + u, from whichever of the two is exact enough: u near 0, ratio
// near 0.
double logRatioMinus(double ratio, double u) {
  return std::fabs(u) < 0.5 ? log1pMinus(u) : std::log(ratio) - u;
}

// x^a y^b / B(a, b).
double betaFront(double a, double b, double x, double y) {
  if (a >= kStirlingFrom && b >= kStirlingFrom) {
    double sum = a + b;
    double x0 = a / sum, y0 = b / sum;
    double d = x < 0.5 ? x - x0 : y0 - y;  // the difference from the mean from the exact side
    return std::exp(a * logRatioMinus(x / x0, d / x0) + b * logRatioMinus(y / y0, -d / y0) +
                    0.5 * std::log(a * y0) - kHalfLogTwoPi -
                    (stirlingRemainder(a) + stirlingRemainder(b) - stirlingRemainder(sum)));
  }
  // Powers keep the digits that a * ln x, exponentiated, would lose when it is large.
  double direct = std::pow(x, a) * std::pow(y, b) * std::exp(-logBeta(a, b));
  if (direct > 1e-305 && direct < 1e305) return direct;
  return std::exp(a * std::log(x) + b * std::log(y) - logBeta(a, b));
}

// x^a e^-x / Gamma(a).
double gammaFront(double a, double x) {
  if (a >= kStirlingFrom) {
    return std::exp(a * logRatioMinus(x / a, (x - a) / a) + 0.5 * std::log(a) - kHalfLogTwoPi -
                    stirlingRemainder(a));
  }
  if (x <= 700) {
    double direct = std::pow(x, a) * std::exp(-x) / std::tgamma(a);
    if (direct > 1e-305 && direct < 1e305) return direct;
  }
  return std::exp(a * std::log(x) - x - logGamma(a));
}

// The continued fraction of I_x(a, b) / front * a.
double betaFraction(double a, double b, double x) {
  double qab = a + b, qap = a + 1, qam = a - 1;
  double c = 1, d = 1 - qab * x / qap;
  if (std::fabs(d) < kTiny) d = kTiny;
  d = 1 / d;
  double h = d;
  for (int m = 1; m <= kMaxTerms; ++m) {
    int m2 = 2 * m;
    double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
    d = 1 + aa * d;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = 1 + aa / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1 / d;
    h *= d * c;
    aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
    d = 1 + aa * d;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = 1 + aa / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1 / d;
    double delta = d * c;
    h *= delta;
    if (std::fabs(delta - 1) <= kEpsilon) break;
  }
  return h;
}

// A standard normal quantile good to about 4.5e-4 (Abramowitz and Stegun 26.2.23) for a tail
// probability pp <= 0.5; the result is positive.
double roughNormalTail(double pp) {
  double t = std::sqrt(-2 * std::log(pp));
  return t - (2.30753 + t * 0.27061) / (1 + t * (0.99229 + t * 0.04481));
}

}  // namespace

double logGamma(double x) { return std::lgamma(x); }

double logBeta(double a, double b) {
  if (a < b) std::swap(a, b);  // a >= b
  if (b >= kStirlingFrom) {
    double sum = a + b;
    return kHalfLogTwoPi - 0.5 * std::log(sum) - (a - 0.5) * std::log1p(b / a) -
           (b - 0.5) * std::log1p(a / b) +
           (stirlingRemainder(a) + stirlingRemainder(b) - stirlingRemainder(sum));
  }
  if (a >= kStirlingFrom) {
    // ln Gamma(a) - ln Gamma(a + b) with the large parts cancelled.
    double sum = a + b;
    double ratio = -(a - 0.5) * std::log1p(b / a) - b * std::log(sum) + b + stirlingRemainder(a) -
                   stirlingRemainder(sum);
    return logGamma(b) + ratio;
  }
  return logGamma(a) + logGamma(b) - logGamma(a + b);
}

Tails incompleteBeta(double a, double b, double x) { return incompleteBeta(a, b, x, 1 - x); }

Tails incompleteBeta(double a, double b, double x, double y) {
  if (!(a > 0) || !(b > 0) || !(x >= 0) || !(y >= 0)) return {kNaN, kNaN};
  if (x == 0) return {0, 1};
  if (y == 0) return {1, 0};
  double front = betaFront(a, b, x, y);
  if (x < (a + 1) / (a + b + 2)) {
    double lower = front * betaFraction(a, b, x) / a;
    return {lower, 1 - lower};
  }
  double upper = front * betaFraction(b, a, y) / b;
  return {1 - upper, upper};
}

double betaDensity(double a, double b, double x, double y) {
  if (!(a > 0) || !(b > 0) || !(x >= 0) || !(y >= 0)) return kNaN;
  if (x == 0 || y == 0) {
    double power = x == 0 ? a : b;
    if (power < 1) return HUGE_VAL;
    if (power > 1) return 0;
    return std::exp(-logBeta(a, b));
  }
  return betaFront(a, b, x, y) / (x * y);
}

Tails incompleteGamma(double a, double x) {
  if (!(a > 0) || !(x >= 0)) return {kNaN, kNaN};
  if (x == 0) return {0, 1};
  if (std::isinf(x)) return {1, 0};
  double front = gammaFront(a, x);
  if (x < a + 1) {
    double term = 1 / a, sum = term;
    for (int n = 1; n <= kMaxTerms; ++n) {
      term *= x / (a + n);
      sum += term;
      if (std::fabs(term) < std::fabs(sum) * kEpsilon) break;
    }
    double lower = front * sum;
    return {lower, 1 - lower};
  }
  double bb = x + 1 - a, c = 1 / kTiny, d = 1 / bb, h = d;
  for (int i = 1; i <= kMaxTerms; ++i) {
    double an = -i * (i - a);
    bb += 2;
    d = an * d + bb;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = bb + an / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1 / d;
    double delta = d * c;
    h *= delta;
    if (std::fabs(delta - 1) <= kEpsilon) break;
  }
  double upper = front * h;
  return {1 - upper, upper};
}

double gammaDensity(double a, double x) {
  if (!(a > 0) || !(x >= 0)) return kNaN;
  if (x == 0) {
    if (a < 1) return HUGE_VAL;
    return a > 1 ? 0 : 1;
  }
  return gammaFront(a, x) / x;
}

double inverseIncompleteBeta(double a, double b, double p, bool upper) {
  if (!(a > 0) || !(b > 0) || !(p >= 0) || !(p <= 1)) return kNaN;
  double lower = upper ? 1 - p : p, higher = upper ? p : 1 - p;
  if (lower == 0) return 0;
  if (higher == 0) return 1;
  double start, rest;  // the first guess and 1 - start, each where it is the exact one
  if (a >= 1 && b >= 1) {
    double z = roughNormalTail(std::min(lower, higher));
    if (lower < 0.5) z = -z;
    double al = (z * z - 3) / 6;
    double h = 2 / (1 / (2 * a - 1) + 1 / (2 * b - 1));
    double w = z * std::sqrt(al + h) / h -
               (1 / (2 * b - 1) - 1 / (2 * a - 1)) * (al + 5.0 / 6 - 2 / (3 * h));
    start = a / (a + b * std::exp(2 * w));
    rest = 1 - start;
  } else {
    double t = std::exp(a * std::log(a / (a + b))) / a;
    double u = std::exp(b * std::log(b / (a + b))) / b;
    double w = t + u;
    if (lower < t / w) {
      start = std::pow(a * w * lower, 1 / a);
      rest = 1 - start;
    } else {
      rest = std::pow(b * w * higher, 1 / b);
      start = 1 - rest;
    }
  }
  // Near the ends I_x(a, b) is close to x^a / (a B(a, b)), and 1 - I_x to (1 - x)^b / (b B(a, b)).
  double lnB = logBeta(a, b);
  if (lower < 1e-3) {
    double power = std::exp((std::log(lower) + std::log(a) + lnB) / a);
    if (power < 0.1) {
      start = power;
      rest = 1 - power;
    }
  } else if (higher < 1e-3) {
    double power = std::exp((std::log(higher) + std::log(b) + lnB) / b);
    if (power < 0.1) {
      rest = power;
      start = 1 - power;
    }
  }
  if (start > 0.5) {
    // Near 1 the doubles are too coarse to resolve a tail: solve for 1 - x, where the tails of
    // (a, b) at x are those of (b, a) at 1 - x swapped.
    double y = invertDistribution([&](double v) { return incompleteBeta(b, a, v); },
                                  [&](double v) { return betaDensity(b, a, v, 1 - v); }, p, !upper,
                                  rest, 0, 1);
    return 1 - y;
  }
  return invertDistribution([&](double x) { return incompleteBeta(a, b, x); },
                            [&](double x) { return betaDensity(a, b, x, 1 - x); }, p, upper, start,
                            0, 1);
}

double inverseIncompleteGamma(double a, double p, bool upper) {
  if (!(a > 0) || !(p >= 0) || !(p <= 1)) return kNaN;
  double lower = upper ? 1 - p : p, higher = upper ? p : 1 - p;
  if (lower == 0) return 0;
  if (higher == 0) return HUGE_VAL;
  double start;
  if (a > 1) {
    double z = roughNormalTail(std::min(lower, higher));
    if (lower < 0.5) z = -z;
    start = std::max(1e-3, a * std::pow(1 - 1 / (9 * a) + z / (3 * std::sqrt(a)), 3));
  } else {
    double t = 1 - a * (0.253 + a * 0.12);
    start = lower < t ? std::pow(lower / t, 1 / a) : 1 - std::log(higher / (1 - t));
  }
  // Near zero P(a, x) is close to x^a / Gamma(a + 1).
  if (lower < 1e-3) {
    double power = std::exp((std::log(lower) + logGamma(a + 1)) / a);
    if (power < 0.1 * a) start = power;
  }
  if (!(start > 0 && start < HUGE_VAL)) start = a;
  return invertDistribution([&](double x) { return incompleteGamma(a, x); },
                            [&](double x) { return gammaDensity(a, x); }, p, upper, start, 0,
                            HUGE_VAL);
}

}  // namespace korvel
