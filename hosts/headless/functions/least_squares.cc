// The fit works on the centred data when there is a constant: centring is the constant's column
// eliminated exactly, and it keeps the digits that a column of ones beside large x values would
// cost. Columns are reduced by Householder reflections in the order given; before a column gets
// its reflection, the norm of its part below the rows already used (what the earlier kept columns
// do not explain) is compared with the column's own norm, and a column that keeps less than a
// relative 1e-12 is left out. Going in order means the later of two collinear columns is the
// one left out, as the spreadsheet program does.
//
// Standard errors come from the triangular factor: Cov(m) = s^2 (R'R)^-1 = s^2 R^-1 R^-T, so the
// error of m_j is s times the norm of row j of R^-1; the constant's variance is
// s^2 (1/n + |R^-T xbar|^2).
#include "hosts/headless/functions/least_squares.h"

#include <cmath>
#include <limits>

namespace korvel {
namespace {

constexpr double kCollinearTolerance = 1e-12;

double squaredNorm(const std::vector<double>& v, size_t from) {
  // Scaled so that large or tiny values neither overflow nor underflow.
  double scale = 0;
  for (size_t i = from; i < v.size(); ++i) scale = std::fmax(scale, std::fabs(v[i]));
  if (scale == 0) return 0;
  double sum = 0;
  for (size_t i = from; i < v.size(); ++i) {
    double t = v[i] / scale;
    sum += t * t;
  }
  return sum * scale * scale;
}

}  // namespace

LeastSquaresFit fitLeastSquares(const std::vector<std::vector<double>>& columns,
                                const std::vector<double>& y, bool constant) {
  const size_t n = y.size();
  const size_t k = columns.size();
  LeastSquaresFit fit;
  fit.coefficients.assign(k, 0);
  fit.errors.assign(k, 0);
  fit.kept.assign(k, false);

  std::vector<double> means(k, 0);
  double yMean = 0;
  if (constant && n > 0) {
    for (size_t j = 0; j < k; ++j) {
      double sum = 0;
      for (double x : columns[j]) sum += x;
      means[j] = sum / double(n);
    }
    double sum = 0;
    for (double v : y) sum += v;
    yMean = sum / double(n);
  }
  std::vector<std::vector<double>> a(k, std::vector<double>(n));
  for (size_t j = 0; j < k; ++j) {
    for (size_t i = 0; i < n; ++i) a[j][i] = columns[j][i] - means[j];
  }
  std::vector<double> b(n);
  for (size_t i = 0; i < n; ++i) b[i] = y[i] - yMean;
  const std::vector<double> centred = b;

  std::vector<double> ownNorm(k);
  for (size_t j = 0; j < k; ++j) ownNorm[j] = std::sqrt(squaredNorm(a[j], 0));

  std::vector<size_t> order;  // the kept columns, in order; column order[r] owns row r of R
  std::vector<std::vector<double>> reflections;  // v of each kept column's reflection
  std::vector<double> reflectionNorms;           // v'v
  for (size_t j = 0; j < k; ++j) {
    const size_t row = order.size();
    if (row >= n || ownNorm[j] == 0) continue;
    double rest = std::sqrt(squaredNorm(a[j], row));
    if (!(rest > kCollinearTolerance * ownNorm[j])) continue;
    // The reflection I - 2vv'/v'v that maps a[j][row..] onto -sign * rest * e1.
    double alpha = a[j][row] >= 0 ? -rest : rest;
    std::vector<double> v(a[j].begin() + long(row), a[j].end());
    v[0] -= alpha;
    double vv = squaredNorm(v, 0);
    auto reflect = [&](std::vector<double>& c) {
      double dot = 0;
      for (size_t i = 0; i < v.size(); ++i) dot += v[i] * c[row + i];
      double factor = 2 * dot / vv;
      for (size_t i = 0; i < v.size(); ++i) c[row + i] -= factor * v[i];
    };
    for (size_t later = j + 1; later < k; ++later) reflect(a[later]);
    reflect(b);
    a[j][row] = alpha;
    for (size_t i = row + 1; i < n; ++i) a[j][i] = 0;
    order.push_back(j);
    reflections.push_back(std::move(v));
    reflectionNorms.push_back(vv);
    fit.kept[j] = true;
  }
  const size_t rank = order.size();
  fit.rank = rank;

  // R z = Q'c by back substitution; R(r, c) = a[order[c]][r].
  auto solve = [&](const std::vector<double>& qc, std::vector<double>& z) {
    for (size_t r = rank; r-- > 0;) {
      double sum = qc[r];
      for (size_t c = r + 1; c < rank; ++c) sum -= a[order[c]][r] * z[c];
      z[r] = sum / a[order[r]][r];
    }
  };
  std::vector<double> z(rank);
  solve(b, z);
  for (size_t c = 0; c < rank; ++c) fit.coefficients[order[c]] = z[c];
  // One step of refinement: the residual's own least-squares correction recovers the last digits
  // that rounding in the reflections cost the smaller coefficients.
  if (rank > 0) {
    std::vector<double> residual(n);
    for (size_t i = 0; i < n; ++i) {
      double fitted = 0;
      for (size_t j = 0; j < k; ++j) fitted += fit.coefficients[j] * (columns[j][i] - means[j]);
      residual[i] = centred[i] - fitted;
    }
    for (size_t r = 0; r < rank; ++r) {
      const std::vector<double>& v = reflections[r];
      double dot = 0;
      for (size_t i = 0; i < v.size(); ++i) dot += v[i] * residual[r + i];
      double factor = 2 * dot / reflectionNorms[r];
      for (size_t i = 0; i < v.size(); ++i) residual[r + i] -= factor * v[i];
    }
    std::vector<double> correction(rank);
    solve(residual, correction);
    for (size_t c = 0; c < rank; ++c) fit.coefficients[order[c]] += correction[c];
  }

  double intercept = yMean;
  for (size_t j = 0; j < k; ++j) intercept -= fit.coefficients[j] * means[j];
  fit.intercept = constant ? intercept : 0;

  // The sums of squares from the data itself rather than from Q'b, so a perfect fit shows 0.
  double ssresid = 0, ssreg = 0;
  for (size_t i = 0; i < n; ++i) {
    double fitted = 0;
    for (size_t j = 0; j < k; ++j) fitted += fit.coefficients[j] * (columns[j][i] - means[j]);
    double residual = centred[i] - fitted;
    ssresid += residual * residual;
    ssreg += fitted * fitted;
  }
  fit.ssresid = ssresid;
  fit.ssreg = ssreg;
  fit.sstotal = squaredNorm(centred, 0);
  const size_t used = rank + (constant ? 1 : 0);
  fit.degreesOfFreedom = n > used ? n - used : 0;

  const double variance = fit.degreesOfFreedom > 0 ? ssresid / double(fit.degreesOfFreedom)
                                                   : std::numeric_limits<double>::quiet_NaN();
  // R^-1, upper triangular, column by column: R x = e_c.
  std::vector<std::vector<double>> inverse(rank, std::vector<double>(rank, 0));
  for (size_t c = 0; c < rank; ++c) {
    for (size_t r = c + 1; r-- > 0;) {
      double sum = r == c ? 1 : 0;
      for (size_t m = r + 1; m <= c; ++m) sum -= a[order[m]][r] * inverse[m][c];
      inverse[r][c] = sum / a[order[r]][r];
    }
  }
  for (size_t r = 0; r < rank; ++r) {
    double sum = 0;
    for (size_t c = r; c < rank; ++c) sum += inverse[r][c] * inverse[r][c];
    fit.errors[order[r]] = std::sqrt(variance * sum);
  }
  if (constant) {
    double sum = 0;
    for (size_t c = 0; c < rank; ++c) {
      double t = 0;
      for (size_t r = 0; r <= c; ++r) t += inverse[r][c] * means[order[r]];
      sum += t * t;
    }
    fit.interceptError = n > 0 ? std::sqrt(variance * (1 / double(n) + sum))
                               : std::numeric_limits<double>::quiet_NaN();
  }
  return fit;
}

}  // namespace korvel
