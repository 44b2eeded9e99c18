// How each function is computed, and why:
// - J0 and J1 below 8 from the same rational approximations the program's Y0 and Y1 rest on: the
//   program shows their digits (J0(0) is 1.00000000283141, not 1).
// - Other J by Miller's backward recurrence normalised by J0 + 2(J2 + J4 + ...) = 1, which is
//   accurate for every order; for x from 25 on, J0 and J1 come from Hankel's asymptotic expansion
//   and the orders below x by forward recurrence, which is stable there.
// - Y, I and K as the spreadsheet program computes them, which workbooks store: Y0, Y1, I0, I1,
//   K0 and K1 from the classic rational and polynomial approximations (accurate to about 1e-8,
//   and it is those digits the program shows), higher orders of Y and K by forward recurrence and
//   of I by Miller's backward recurrence normalised by I0.
#include "hosts/headless/functions/host_bessel.h"

#include <cmath>
#include <limits>
#include <vector>

namespace korvel {
namespace {

constexpr double kPi = 3.141592653589793;
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

// The approximations of J0 and J1 that the program's Y0 and Y1 rest on.
double approximateJ0(double x) {
  const double y = x * x;
  const double a =
      57568490574.0 +
      y * (-13362590354.0 +
           y * (651619640.7 + y * (-11214424.18 + y * (77392.33017 + y * -184.9052456))));
  const double b =
      57568490411.0 +
      y * (1029532985.0 + y * (9494680.718 + y * (59272.64853 + y * (267.8532712 + y))));
  return a / b;
}

double approximateJ1(double x) {
  const double y = x * x;
  const double a =
      x * (72362614232.0 +
           y * (-7895059235.0 +
                y * (242396853.1 + y * (-2972611.439 + y * (15704.48260 + y * -30.16036606)))));
  const double b =
      144725228442.0 +
      y * (2300535178.0 + y * (18583304.74 + y * (99447.43394 + y * (376.9991397 + y))));
  return a / b;
}

// Y0 and Y1 at x > 0: rational approximations below 8, the asymptotic form from 8 on.
void approximateY01(double x, double* y0, double* y1) {
  if (x < 8) {
    const double y = x * x;
    double a = -2957821389.0 +
               y * (7062834065.0 +
                    y * (-512359803.6 + y * (10879881.29 + y * (-86327.92757 + y * 228.4622733))));
    double b = 40076544269.0 +
               y * (745249964.8 + y * (7189466.438 + y * (47447.26470 + y * (226.1030244 + y))));
    *y0 = a / b + 0.636619772 * approximateJ0(x) * std::log(x);
    a = x * (-0.4900604943e13 +
             y * (0.1275274390e13 +
                  y * (-0.5153438139e11 +
                       y * (0.7349264551e9 + y * (-0.4237922726e7 + y * 0.8511937935e4)))));
    b = 0.2499580570e14 +
        y * (0.4244419664e12 +
             y * (0.3733650367e10 +
                  y * (0.2245904002e8 + y * (0.1020426050e6 + y * (0.3549632885e3 + y)))));
    *y1 = a / b + 0.636619772 * (approximateJ1(x) * std::log(x) - 1 / x);
    return;
  }
  const double z = 8 / x, y = z * z, scale = std::sqrt(0.636619772 / x);
  double p = 1 + y * (-0.1098628627e-2 +
                      y * (0.2734510407e-4 + y * (-0.2073370639e-5 + y * 0.2093887211e-6)));
  double q =
      -0.1562499995e-1 +
      y * (0.1430488765e-3 + y * (-0.6911147651e-5 + y * (0.7621095161e-6 - y * 0.934935152e-7)));
  double chi = x - 0.785398164;
  *y0 = scale * (std::sin(chi) * p + z * std::cos(chi) * q);
  p = 1 + y * (0.183105e-2 + y * (-0.3516396496e-4 + y * (0.2457520174e-5 + y * -0.240337019e-6)));
  q = 0.04687499995 +
      y * (-0.2002690873e-3 + y * (0.8449199096e-5 + y * (-0.88228987e-6 + y * 0.105787412e-6)));
  chi = x - 2.356194491;
  *y1 = scale * (std::sin(chi) * p + z * std::cos(chi) * q);
}

// I0 and I1 at x >= 0: polynomials below 3.75, polynomials times e^x / sqrt(x) from there.
void approximateI01(double x, double* i0, double* i1) {
  if (x < 3.75) {
    const double y = (x / 3.75) * (x / 3.75);
    *i0 = 1 + y * (3.5156229 +
                   y * (3.0899424 +
                        y * (1.2067492 + y * (0.2659732 + y * (0.360768e-1 + y * 0.45813e-2)))));
    *i1 = x *
          (0.5 +
           y * (0.87890594 +
                y * (0.51498869 +
                     y * (0.15084934 + y * (0.2658733e-1 + y * (0.301532e-2 + y * 0.32411e-3))))));
    return;
  }
  const double y = 3.75 / x, scale = std::exp(x) / std::sqrt(x);
  *i0 = scale *
        (0.39894228 +
         y * (0.1328592e-1 +
              y * (0.225319e-2 +
                   y * (-0.157565e-2 +
                        y * (0.916281e-2 +
                             y * (-0.2057706e-1 +
                                  y * (0.2635537e-1 + y * (-0.1647633e-1 + y * 0.392377e-2))))))));
  const double tail = 0.2282967e-1 + y * (-0.2895312e-1 + y * (0.1787654e-1 - y * 0.420059e-2));
  *i1 = scale * (0.39894228 +
                 y * (-0.3988024e-1 +
                      y * (-0.362018e-2 + y * (0.163801e-2 + y * (-0.1031555e-1 + y * tail)))));
}

// K0 and K1 at x > 0: polynomials with the logarithm up to 2, times e^-x / sqrt(x) above.
void approximateK01(double x, double* k0, double* k1) {
  if (x <= 2) {
    double i0, i1;
    approximateI01(x, &i0, &i1);
    const double y = x * x / 4;
    *k0 = -std::log(x / 2) * i0 +
          (-0.57721566 +
           y * (0.42278420 +
                y * (0.23069756 +
                     y * (0.3488590e-1 + y * (0.262698e-2 + y * (0.10750e-3 + y * 0.74e-5))))));
    *k1 = std::log(x / 2) * i1 +
          (1 / x) * (1 + y * (0.15443144 +
                              y * (-0.67278579 +
                                   y * (-0.18156897 + y * (-0.1919402e-1 +
                                                           y * (-0.110404e-2 + y * -0.4686e-4))))));
    return;
  }
  const double y = 2 / x, scale = std::exp(-x) / std::sqrt(x);
  *k0 = scale *
        (1.25331414 +
         y * (-0.7832358e-1 +
              y * (0.2189568e-1 +
                   y * (-0.1062446e-1 + y * (0.587872e-2 + y * (-0.251540e-2 + y * 0.53208e-3))))));
  *k1 = scale *
        (1.25331414 +
         y * (0.23498619 +
              y * (-0.3655620e-1 +
                   y * (0.1504268e-1 + y * (-0.780353e-2 + y * (0.325614e-2 + y * -0.68245e-3))))));
}

}  // namespace

double besselJ(double x, int n) {
  if (n < 0 || !std::isfinite(x)) return kNaN;
  const double sign = (x < 0 && (n & 1)) ? -1.0 : 1.0;
  x = std::fabs(x);
  if (n == 0 && x < 8) return approximateJ0(x);
  if (n == 1 && x < 8) return sign * approximateJ1(x);
  if (x == 0) return 0;
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
  approximateY01(x, &y0, &y1);
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
  double i0, i1;
  approximateI01(x, &i0, &i1);
  if (n == 0) return i0;
  if (n == 1) return sign * i1;
  if (x == 0) return 0;
  if (!std::isfinite(i0)) return kInfinity;
  // Backward from an even order well above n, rescaled whenever the values grow large.
  const double twoOverX = 2 / x;
  double above = 0, current = 1, answer = 0;
  for (int k = 2 * (n + int(std::sqrt(40.0 * n))); k > 0; --k) {
    const double below = above + k * twoOverX * current;
    above = current;
    current = below;
    if (std::fabs(current) > 1e10) {
      answer *= 1e-10;
      current *= 1e-10;
      above *= 1e-10;
    }
    if (k == n) answer = above;
  }
  return sign * answer * (i0 / current);
}

double besselK(double x, int n) {
  if (n < 0 || !(x > 0) || !std::isfinite(x)) return kNaN;
  double k0, k1;
  approximateK01(x, &k0, &k1);
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
