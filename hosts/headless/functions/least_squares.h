// Ordinary least squares for the regression functions of the headless program (LINEST, LOGEST,
// TREND, GROWTH): a Householder QR decomposition of the (centred) design matrix with a rank test
// per column, so that a column collinear with earlier ones, or with the constant, is left out
// rather than spoiling the digits of the others, as normal equations would.
//
// REQUIRES: used only on the thread that evaluates formulas.
#ifndef KORVEL_HOSTS_HEADLESS_FUNCTIONS_LEAST_SQUARES_H_
#define KORVEL_HOSTS_HEADLESS_FUNCTIONS_LEAST_SQUARES_H_

#include <cstddef>
#include <vector>

namespace korvel {

struct LeastSquaresFit {
  // Per variable, in the order given. A left-out variable has coefficient 0 and error 0.
  std::vector<double> coefficients;
  std::vector<double> errors;
  std::vector<bool> kept;
  double intercept = 0;       // 0 without the constant
  double interceptError = 0;  // meaningful only with the constant
  size_t rank = 0;            // the variables kept
  size_t degreesOfFreedom = 0;
  double ssreg = 0;    // about the mean with the constant, about 0 without
  double ssresid = 0;  // the squared residuals
  double sstotal = 0;  // ssreg + ssresid as the data gives it
};

// Fits y ~ b + sum(m_j x_j) (b = 0 when constant is false). columns holds one vector of y.size()
// numbers per variable. A variable whose part not explained by the earlier kept variables (and
// the constant) is below a relative 1e-12 of its own size is left out; the degrees of freedom
// count only the kept ones. Errors are computed from ssresid / degreesOfFreedom and are not-a-
// number when there are no degrees of freedom.
LeastSquaresFit fitLeastSquares(const std::vector<std::vector<double>>& columns,
                                const std::vector<double>& y, bool constant);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_FUNCTIONS_LEAST_SQUARES_H_
