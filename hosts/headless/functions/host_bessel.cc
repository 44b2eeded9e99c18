// How each function is computed, and why:
// - J by Miller's backward recurrence normalised by J0 + 2(J2 + J4 + ...) = 1, which is accurate
//   for every order; for x from 25 on, J0 and J1 come from Hankel's asymptotic expansion and the
//   orders below x by forward recurrence, which is stable there.
// - Y0 and Y1 below 25 from the Neumann series over the same normalised J values (no power series
//   with its cancellation), from 25 on from the asymptotic expansion; higher orders by forward
//   recurrence, which is stable for Y.
// - I by its power series, whose terms are all positive.
// - K0 and K1 by their power series up to 2 and by Steed's continued fraction above, higher
//   orders by forward recurrence, stable for K.
#include "hosts/headless/functions/host_bessel.h"

#include <cmath>
#include <limits>
#include <vector>

namespace korvel {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kEulerGamma = 0.5772156649015329;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
// From here on the asymptotic expansions reach full precision before they diverge.
constexpr double kAsymptotic = 25;

// log of (x/2)^n / n!, the size of the first term of the power series of J_n and I_n.
double leadingTermLog(double x, int n) { return n * std::log(x / 2) - std::lgamma(n + 1.0); }

// J_0 .. J_top at x > 0 by backward recurrence, normalised.
std::vector<double> millerJ(double x, int top) {
  const double reach = std::max(double(top), x);
  int start = int(reach + 30 + std::sqrt(60 * reach));
  start += start & 1;
  std::vector<double> j(size_t(start) + 2, 0.0);
  j[size_t(start)] = 1e-300;
  for (int k = start; k >= 1; --k) {
    j[size_t(k) - 1] = (2.0 * k / x) * j[size_t(k)] - j[size_t(k) + 1];
    if (std::fabs(j[size_t(k) - 1]) > 1e250) {
      for (int m = k - 1; m <= start + 1; ++m) j[size_t(m)] *= 1e-250;
    }
  }
  double sum = j[0];
  for (int k = 2; k <= start; k += 2) sum += 2 * j[size_t(k)];
  for (double& v : j) v /= sum;
  return j;
}

// Hankel's expansion for order 0 or 1: J (first) and Y (second).
void hankel(double x, int order, double* jOut, double* yOut) {
  const double mu = 4.0 * order * order;
  double p = 1, q = 0, term = 1, previous = kInfinity;
  for (int k = 1; k < 200; ++k) {
    term *= (mu - (2.0 * k - 1) * (2.0 * k - 1)) / (k * 8.0 * x);
    if (std::fabs(term) >= previous || term == 0) break;
    previous = std::fabs(term);
    // Terms alternate between Q and P, with the signs + - - + + - - ...
    switch (k % 4) {
      case 1:
        q += term;
        break;
      case 2:
        p -= term;
        break;
      case 3:
        q -= term;
        break;
      default:
        p += term;
        break;
    }
    if (previous < 1e-17) break;
  }
  const double s = std::sin(x), c = std::cos(x);
  // chi = x - (order / 2 + 1 / 4) pi, its sine and cosine from those of x.
  const double r = std::sqrt(0.5);
  const double cosChi = order == 0 ? (c + s) * r : (s - c) * r;
  const double sinChi = order == 0 ? (s - c) * r : -(s + c) * r;
  const double scale = std::sqrt(2 / (kPi * x));
  *jOut = scale * (p * cosChi - q * sinChi);
  *yOut = scale * (p * sinChi + q * cosChi);
}

// Y0 and Y1 at 0 < x < kAsymptotic from the normalised J values.
void neumannY(double x, double* y0, double* y1) {
  std::vector<double> j = millerJ(x, 2);
  const double log = std::log(x / 2) + kEulerGamma;
  double sum0 = 0, sum1 = 0;
  for (size_t k = 1; 2 * k + 1 < j.size(); ++k) {
    const double sign = (k & 1) ? -1.0 : 1.0;
    sum0 += sign * j[2 * k] / double(k);
    sum1 += sign * (j[2 * k - 1] - j[2 * k + 1]) / double(k);
  }
  *y0 = (2 / kPi) * (log * j[0] - 2 * sum0);
  *y1 = (2 / kPi) * (-j[0] / x + log * j[1] + sum1);
}

// K0 and K1 at x > 0.
void besselK01(double x, double* k0, double* k1) {
  if (x <= 2) {
    const double i0 = besselI(x, 0), i1 = besselI(x, 1);
    const double log = std::log(x / 2);
    const double q = x * x / 4;
    // psi(k + 1) = -gamma + H_k
    double term0 = 1, term1 = 1;  // q^k / (k!)^2 and q^k / (k! (k + 1)!)
    double harmonic = 0;
    double sum0 = 0, sum1 = 0;
    for (int k = 0; k < 100; ++k) {
      if (k > 0) {
        term0 *= q / (double(k) * k);
        term1 *= q / (double(k) * (k + 1));
        harmonic += 1.0 / k;
      }
      const double psi1 = harmonic - kEulerGamma;
      const double psi2 = psi1 + 1.0 / (k + 1);
      sum0 += psi1 * term0;
      sum1 += (psi1 + psi2) * term1;
      if (term0 < 1e-18 * std::fabs(sum0) && term1 < 1e-18 * std::fabs(sum1)) break;
    }
    *k0 = -log * i0 + sum0;
    *k1 = 1 / x + log * i1 - (x / 4) * sum1;
    return;
  }
  // Steed's method for the continued fraction of K1/K0 with the series of Temme's normalisation.
  double b = 2 * (1 + x), d = 1 / b, h = d, delh = d;
  double q1 = 0, q2 = 1;
  const double a1 = 0.25;
  double q = a1, c = a1, a = -a1;
  double s = 1 + q * delh;
  for (int i = 1; i < 10000; ++i) {
    a -= 2 * i;
    c = -a * c / (i + 1.0);
    const double qnew = (q1 - b * q2) / a;
    q1 = q2;
    q2 = qnew;
    q += c * qnew;
    b += 2;
    d = 1 / (b + a * d);
    delh = (b * d - 1) * delh;
    h += delh;
    const double dels = q * delh;
    s += dels;
    if (std::fabs(dels / s) < 1e-17) break;
  }
  h *= a1;
  *k0 = std::sqrt(kPi / (2 * x)) * std::exp(-x) / s;
  *k1 = *k0 * (x + 0.5 - h) / x;
}

}  // namespace

double besselJ(double x, int n) {
  if (n < 0 || !std::isfinite(x)) return kNaN;
  const double sign = (x < 0 && (n & 1)) ? -1.0 : 1.0;
  x = std::fabs(x);
  if (x == 0) return n == 0 ? 1.0 : 0.0;
  if (n > 0 && leadingTermLog(x, n) < -760) return 0;
  if (x >= kAsymptotic && n < x) {
    double j0, j1, y;
    hankel(x, 0, &j0, &y);
    hankel(x, 1, &j1, &y);
    if (n == 0) return sign * j0;
    for (int k = 1; k < n; ++k) {
      const double next = (2.0 * k / x) * j1 - j0;
      j0 = j1;
      j1 = next;
    }
    return sign * j1;
  }
  return sign * millerJ(x, n)[size_t(n)];
}

double besselY(double x, int n) {
  if (n < 0 || !(x > 0) || !std::isfinite(x)) return kNaN;
  double y0, y1;
  if (x >= kAsymptotic) {
    double j;
    hankel(x, 0, &j, &y0);
    hankel(x, 1, &j, &y1);
  } else {
    neumannY(x, &y0, &y1);
  }
  if (n == 0) return y0;
  for (int k = 1; k < n; ++k) {
    const double next = (2.0 * k / x) * y1 - y0;
    y0 = y1;
    y1 = next;
    if (!std::isfinite(y1)) return -kInfinity;
  }
  return y1;
}

double besselI(double x, int n) {
  if (n < 0 || !std::isfinite(x)) return kNaN;
  const double sign = (x < 0 && (n & 1)) ? -1.0 : 1.0;
  x = std::fabs(x);
  if (x == 0) return n == 0 ? 1.0 : 0.0;
  if (n > 0 && leadingTermLog(x, n) < -760) return 0;
  // (x/2)^n / n! as a product, one factor per order, so that no power overflows on the way.
  double term = 1;
  for (int k = 1; k <= n && term != 0; ++k) term *= (x / 2) / k;
  const double q = x * x / 4;
  double sum = term;
  for (int k = 1; k < 100000 && term > 1e-17 * sum; ++k) {
    term *= q / (double(k) * (n + k));
    sum += term;
    if (!std::isfinite(sum)) return kInfinity;
  }
  return sign * sum;
}

double besselK(double x, int n) {
  if (n < 0 || !(x > 0) || !std::isfinite(x)) return kNaN;
  double k0, k1;
  besselK01(x, &k0, &k1);
  if (n == 0) return k0;
  for (int k = 1; k < n; ++k) {
    const double next = k0 + (2.0 * k / x) * k1;
    k0 = k1;
    k1 = next;
    if (!std::isfinite(k1)) return kInfinity;
  }
  return k1;
}

}  // namespace korvel
