#include <algorithm>
#include <cmath>
#include <functional>

#include "hosts/headless/functions/special_functions.h"
#include "tests/hosts/headless/functions/host_function_test_support.h"

namespace korvel {
namespace {

void expectClose(double actual, double expected, double tolerance, const char* what) {
  EXPECT_LE(std::fabs(actual - expected), tolerance * std::fabs(expected))
      << what << ": " << actual << " vs " << expected;
}

// The tails against closed forms, both tails in turn, where the small one must keep its digits.
TEST(SpecialFunctionsTest, TailsMatchClosedForms) {
  struct Case {
    const char* what;
    Tails tails;
    double lower, upper;
    double tolerance = 1e-14;
  };
  auto poissonUpper = [](int n, double x) {  // Q(n, x) = e^-x sum_{k<n} x^k / k!
    double term = 1, sum = 1;
    for (int k = 1; k < n; ++k) sum += term *= x / k;
    return std::exp(-x) * sum;
  };
  const Case cases[] = {
      {"I(2,3) at 1/2", incompleteBeta(2, 3, 0.5), 0.6875, 0.3125},
      {"I(1,50) near 1", incompleteBeta(1, 50, 0.75), 1, std::pow(0.25, 50)},
      {"I(3,1) small", incompleteBeta(3, 1, 1e-5), 1e-15, 1 - 1e-15},
      {"I(a,a) at 1/2, large a", incompleteBeta(1e5, 1e5, 0.5), 0.5, 0.5, 1e-12},
      {"P(1,x) far", incompleteGamma(1, 700), 1, std::exp(-700)},
      {"P(1/2,x) = erf", incompleteGamma(0.5, 0.3), std::erf(std::sqrt(0.3)),
       std::erfc(std::sqrt(0.3))},
      {"P(1/2,x) tail", incompleteGamma(0.5, 40), 1, std::erfc(std::sqrt(40.0))},
      {"Q(20,15) Poisson", incompleteGamma(20, 15), 1 - poissonUpper(20, 15), poissonUpper(20, 15)},
      {"Q(60,100) Poisson", incompleteGamma(60, 100), 1 - poissonUpper(60, 100),
       poissonUpper(60, 100)},
  };
  for (const Case& c : cases) {
    expectClose(c.tails.lower, c.lower, c.tolerance, c.what);
    expectClose(c.tails.upper, c.upper, c.tolerance, c.what);
  }
  expectClose(logBeta(2.5, 4), std::lgamma(2.5) + std::lgamma(4.0) - std::lgamma(6.5), 1e-15,
              "logBeta small");
  expectClose(logBeta(1e6, 1e6), -1386300.0033629211, 1e-15, "logBeta large");
  expectClose(logBeta(3e4, 0.5), -4.5821072207307797, 1e-14, "logBeta mixed");
  EXPECT_EQ(logGamma(1), 0);
  EXPECT_EQ(logGamma(2), 0);
}

// Every inverse taken back through its tail returns the probability, in both tails and far out:
// to 1e-12, or, where the tail changes faster than that between neighbouring doubles (an answer
// near 1 or underflowing), the probability lies between the tails at the answer's neighbours.
TEST(SpecialFunctionsTest, InversesRoundTrip) {
  const double probabilities[] = {1e-300, 1e-20, 1e-6, 0.01, 0.3, 0.5, 0.77, 0.999};
  const double shapes[][2] = {{0.5, 0.5}, {0.1, 3}, {2, 8}, {8, 10}, {30, 0.7}, {400, 250}};
  auto check = [](const std::function<Tails(double)>& tail, double x, double p, bool upper,
                  const char* what) {
    auto matched = [&](double at) { return upper ? tail(at).upper : tail(at).lower; };
    double at = matched(x);
    if (std::fabs(at - p) <= 1e-12 * p) return;
    double below = matched(std::nextafter(x, -HUGE_VAL)),
           above = matched(std::nextafter(x, HUGE_VAL));
    double smaller = std::min(below, above), larger = std::max(below, above);
    EXPECT_TRUE(smaller <= p * (1 + 1e-13) && p <= larger * (1 + 1e-13))
        << what << " p=" << p << " upper=" << upper << " x=" << x << " tail=" << at;
  };
  for (const auto& s : shapes) {
    for (double p : probabilities) {
      for (bool upper : {false, true}) {
        double a = s[0], b = s[1];
        check([&](double x) { return incompleteBeta(a, b, std::max(0.0, std::min(1.0, x))); },
              inverseIncompleteBeta(a, b, p, upper), p, upper, "beta");
        check([&](double x) { return incompleteGamma(a, std::max(0.0, x)); },
              inverseIncompleteGamma(a, p, upper), p, upper, "gamma");
      }
    }
  }
}

class HostDistributionFunctionTest : public HostFunctionTest {};

// Published examples of the host program's functions, to the digits published.
TEST_F(HostDistributionFunctionTest, PublishedValues) {
  expectAll("", {
                    {"=ROUND(BETA.DIST(2,8,10,TRUE,1,3),7)", "n:0.6854706"},
                    {"=ROUND(BETA.DIST(2,8,10,FALSE,1,3),7)", "n:1.4837646"},
                    {"=ROUND(BETADIST(2,8,10,1,3),7)", "n:0.6854706"},
                    {"=ROUND(BETA.INV(0.685470581,8,10,1,3),7)", "i:2"},
                    {"=ROUND(CHISQ.DIST(0.5,1,TRUE),8)", "n:0.52049988"},
                    {"=ROUND(CHISQ.DIST(2,3,FALSE),8)", "n:0.20755375"},
                    {"=ROUND(CHIDIST(18.307,10),7)", "n:0.0500006"},
                    {"=ROUND(CHISQ.INV(0.93,1),9)", "n:3.283020287"},
                    {"=ROUND(CHIINV(0.050001,10),6)", "n:18.306973"},
                    {"=ROUND(EXPON.DIST(0.2,10,TRUE),8)", "n:0.86466472"},
                    {"=ROUND(EXPONDIST(0.2,10,FALSE),8)", "n:1.35335283"},
                    {"=ROUND(F.DIST(15.2069,6,4,TRUE),6)", "n:0.99"},
                    {"=ROUND(F.DIST(15.2069,6,4,FALSE),7)", "n:0.0012238"},
                    {"=ROUND(FDIST(15.2068649,6,4),7)", "n:0.01"},
                    {"=ROUND(F.INV(0.01,6,4),8)", "n:0.10930991"},
                    {"=ROUND(F.INV.RT(0.01,6,4),5)", "n:15.20686"},
                    {"=ROUND(GAMMA(2.5),9)", "n:1.329340388"},
                    {"=ROUND(GAMMA(-3.75),9)", "n:0.267866129"},
                    {"=ROUND(GAMMA.DIST(10.00001131,9,2,FALSE),6)", "n:0.032639"},
                    {"=ROUND(GAMMADIST(10.00001131,9,2,TRUE),6)", "n:0.068094"},
                    {"=ROUND(GAMMA.INV(0.068094,9,2),7)", "n:10.0000112"},
                    {"=ROUND(GAMMALN.PRECISE(4),9)", "n:1.791759469"},
                    {"=ROUND(GAUSS(2),8)", "n:0.47724987"},
                    {"=ROUND(LOGNORM.DIST(4,3.5,1.2,TRUE),7)", "n:0.0390836"},
                    {"=ROUND(LOGNORM.DIST(4,3.5,1.2,FALSE),7)", "n:0.0176176"},
                    {"=ROUND(LOGINV(0.039084,3.5,1.2),7)", "n:4.0000252"},
                    {"=ROUND(NORM.DIST(42,40,1.5,TRUE),7)", "n:0.9087888"},
                    {"=ROUND(NORMDIST(42,40,1.5,FALSE),5)", "n:0.10934"},
                    {"=ROUND(NORM.S.DIST(1.333333,TRUE),9)", "n:0.908788726"},
                    {"=ROUND(NORM.S.DIST(1.333333,FALSE),9)", "n:0.164010148"},
                    {"=ROUND(PHI(0.75),9)", "n:0.301137432"},
                    {"=ROUND(T.DIST(60,1,TRUE),8)", "n:0.99469533"},
                    {"=ROUND(T.DIST(8,3,FALSE),8)", "n:0.00073691"},
                    {"=ROUND(T.DIST.2T(1.959999998,60),9)", "n:0.05464493"},
                    {"=ROUND(T.DIST.RT(1.959999998,60),9)", "n:0.027322465"},
                    {"=ROUND(TDIST(1.959999998,60,1),9)", "n:0.027322465"},
                    {"=ROUND(T.INV(0.75,2),7)", "n:0.8164966"},
                    {"=ROUND(T.INV.2T(0.546449,60),6)", "n:0.606533"},
                    {"=ROUND(WEIBULL.DIST(105,20,100,TRUE),6)", "n:0.929581"},
                    {"=ROUND(WEIBULL(105,20,100,FALSE),6)", "n:0.035589"},
                    {"=ROUND(CONFIDENCE.T(0.05,1,50),9)", "n:0.284196855"},
                });
}

// Closed forms to the last digits: the Cauchy and 2-degree t, the 2-degree chi-square, the
// uniform beta; and the deep lower normal tail, which Phi - 1/2 cannot hold.
TEST_F(HostDistributionFunctionTest, ClosedFormsToFullPrecision) {
  expectAll("", {
                    {"=ABS(T.DIST(2,1,TRUE)/(0.5+ATAN(2)/PI())-1)<1E-15", "b:TRUE"},
                    {"=ABS(T.DIST(1,2,TRUE)/(0.5+1/(2*SQRT(3)))-1)<1E-15", "b:TRUE"},
                    {"=ABS(T.DIST(-1,2,TRUE)/(0.5-1/(2*SQRT(3)))-1)<1E-15", "b:TRUE"},
                    {"=ABS(CHISQ.DIST(3,2,TRUE)/(1-EXP(-1.5))-1)<1E-15", "b:TRUE"},
                    {"=BETA.DIST(0.3,1,1,TRUE)", "n:0.3"},
                    {"=F.DIST(1,7,7,TRUE)", "n:0.5"},
                    {"=ABS(NORM.DIST(-10,0,1,TRUE)/7.619853024160526E-24-1)<1E-13", "b:TRUE"},
                    {"=ABS(T.INV(0.975,10)/2.228138851986274-1)<1E-14", "b:TRUE"},
                    {"=ABS(F.INV.RT(0.05,5,10)/3.325834530413011-1)<1E-14", "b:TRUE"},
                    {"=ABS(CHISQ.INV.RT(0.05,1)/3.841458820694124-1)<1E-14", "b:TRUE"},
                    {"=GAMMALN(1)", "i:0"},
                });
}

// Each inverse taken back through its distribution, deep in the tails too.
TEST_F(HostDistributionFunctionTest, InversesRoundTripThroughTheirDistributions) {
  const char* formulas[] = {
      "BETA.DIST(BETA.INV(P,0.7,3,0,5),0.7,3,TRUE,0,5)",
      "BETADIST(BETAINV(P,30,20),30,20)",
      "CHISQ.DIST(CHISQ.INV(P,7),7,TRUE)",
      "CHIDIST(CHIINV(P,1),1)",
      "CHISQ.DIST.RT(CHISQ.INV.RT(P,150),150)",
      "F.DIST(F.INV(P,3,17),3,17,TRUE)",
      "FDIST(FINV(P,1,1),1,1)",
      "F.DIST.RT(F.INV.RT(P,80,120),80,120)",
      "GAMMA.DIST(GAMMA.INV(P,0.3,4),0.3,4,TRUE)",
      "GAMMADIST(GAMMAINV(P,45,0.5),45,0.5,TRUE)",
      "T.DIST(T.INV(P,3),3,TRUE)",
      "T.DIST.2T(T.INV.2T(P,25),25)",
      "TDIST(TINV(P,1),1,2)",
  };
  const char* probabilities[] = {"1E-15", "0.001", "0.2", "0.6", "0.9999"};
  for (const char* formula : formulas) {
    for (const char* p : probabilities) {
      std::string text = formula;
      for (size_t at; (at = text.find('P')) != std::string::npos;) text.replace(at, 1, p);
      std::string check = "=ABS(" + text + "/" + p + "-1)<1E-12";
      EXPECT_EQ(eval("", check), "b:TRUE") << text;
    }
  }
}

TEST_F(HostDistributionFunctionTest, DomainsAndArgumentErrors) {
  expectAll("A1: \"abc\"\nA2: TRUE\nA3: \"2\"",
            {
                {"=NORM.DIST(1,0,0,TRUE)", "e:#NUM!"},
                {"=NORM.DIST(A1,0,1,TRUE)", "e:#VALUE!"},
                {"=NORM.DIST(1/0,A1,1,TRUE)", "e:#DIV/0!"},
                {"=NORM.S.DIST(A3,TRUE)-NORMSDIST(2)", "i:0"},
                {"=EXPON.DIST(A2,1,TRUE)-EXPON.DIST(1,1,TRUE)", "i:0"},
                {"=BETA.DIST(0.5,2,3,TRUE,1,1)", "e:#NUM!"},
                {"=BETA.DIST(4,2,3,TRUE,1,3)", "e:#NUM!"},
                {"=BETA.DIST(0,0.5,3,FALSE)", "e:#NUM!"},
                {"=BETA.INV(0,2,3)", "e:#NUM!"},
                {"=BETA.INV(1,2,3,1,3)", "e:#NUM!"},
                {"=EXPON.DIST(0.2,10,\"true\")-EXPON.DIST(0.2,10,TRUE)", "i:0"},
                {"=NORM.DIST(1,0,1,\"yes\")", "e:#VALUE!"},
                {"=CHIDIST(-1,3)", "e:#NUM!"},
                {"=CHIDIST(1,0.9)", "e:#NUM!"},
                {"=CHIDIST(1,1E10)", "e:#NUM!"},
                {"=CHISQ.DIST(1,2.9,TRUE)-CHISQ.DIST(1,2,TRUE)", "i:0"},
                {"=CHISQ.DIST(0,1,FALSE)", "e:#NUM!"},
                {"=CHISQ.DIST(0,2,FALSE)", "n:0.5"},
                {"=CHISQ.INV(1,3)", "e:#NUM!"},
                {"=CHISQ.INV(0,3)", "i:0"},
                {"=CHIINV(0,3)", "e:#NUM!"},
                {"=CHIINV(1.1,3)", "e:#NUM!"},
                {"=F.DIST(-1,2,3,TRUE)", "e:#NUM!"},
                {"=FDIST(1,0,3)", "e:#NUM!"},
                {"=F.INV(0,2,3)", "i:0"},
                {"=FINV(0,2,3)", "e:#NUM!"},
                {"=GAMMA(0)", "e:#NUM!"},
                {"=GAMMA(-2)", "e:#NUM!"},
                {"=GAMMA(172)", "e:#NUM!"},
                {"=GAMMALN(0)", "e:#NUM!"},
                {"=GAMMA.DIST(1,0,1,TRUE)", "e:#NUM!"},
                {"=GAMMA.DIST(0,1,2,FALSE)", "n:0.5"},
                {"=GAMMA.INV(1,2,3)", "e:#NUM!"},
                {"=LOGNORM.DIST(0,0,1,TRUE)", "e:#NUM!"},
                {"=LOGNORM.INV(1,0,1)", "e:#NUM!"},
                {"=NORM.INV(0.5,3,2)", "i:3"},
                {"=NORM.S.INV(1.5)", "e:#NUM!"},
                {"=T.DIST(1,0.5,TRUE)", "e:#NUM!"},
                {"=T.DIST.2T(-1,3)", "e:#NUM!"},
                {"=TDIST(1,3,3)", "e:#NUM!"},
                {"=TDIST(1,3,2.9)-TDIST(1,3,2)", "i:0"},
                {"=T.INV(0,3)", "e:#NUM!"},
                {"=T.INV(0.5,3)", "i:0"},
                {"=T.INV.2T(1,3)", "i:0"},
                {"=TINV(0,3)", "e:#NUM!"},
                {"=WEIBULL(-1,1,1,TRUE)", "e:#NUM!"},
                {"=WEIBULL.DIST(1,0,1,TRUE)", "e:#NUM!"},
                {"=CONFIDENCE.T(0.05,1,1)", "e:#DIV/0!"},
                {"=CONFIDENCE.T(1,1,10)", "e:#NUM!"},
                {"=CONFIDENCE.T(0.05,0,10)", "e:#NUM!"},
            });
}

// The published examples of the tests, their range rules and their errors.
TEST_F(HostDistributionFunctionTest, Tests) {
  const std::string data =
      "A1: 3\nA2: 4\nA3: 5\nA4: 8\nA5: 9\nA6: 1\nA7: 2\nA8: 4\nA9: 5\n"
      "B1: 6\nB2: 19\nB3: 3\nB4: 2\nB5: 14\nB6: 4\nB7: 5\nB8: 17\nB9: 1\n"
      "C1: 6\nC2: 7\nC3: 9\nC4: 15\nC5: 21\nD1: 20\nD2: 28\nD3: 31\nD4: 38\nD5: 40\n"
      "E1: 58\nE2: 11\nE3: 10\nF1: 35\nF2: 25\nF3: 23\n"
      "G1: 45.35\nG2: 17.56\nG3: 16.09\nH1: 47.65\nH2: 18.44\nH3: 16.91\n"
      "I1: \"x\"\nI2: =NA()\nJ1: 0";
  expectAll(data, {
                      {"=ROUND(T.TEST(A1:A9,B1:B9,2,1),6)", "n:0.196016"},
                      {"=ROUND(TTEST(A1:A9,B1:B9,2,2),6)", "n:0.191996"},
                      {"=ROUND(T.TEST(A1:A9,B1:B9,1,3),6)", "n:0.101147"},
                      {"=T.TEST(A1:A9,B1:B8,2,1)", "e:#N/A"},
                      {"=T.TEST(A1:A9,B1:B9,3,1)", "e:#NUM!"},
                      {"=T.TEST(A1:A9,B1:B9,2,4)", "e:#NUM!"},
                      {"=T.TEST(A1:A2,I1:I2,2,2)", "e:#N/A"},
                      {"=T.TEST(A1,B1:B9,2,2)", "e:#DIV/0!"},
                      {"=ROUND(F.TEST(C1:C5,D1:D5),8)", "n:0.64831785"},
                      {"=FTEST({1,1,1},D1:D5)", "e:#DIV/0!"},
                      {"=ROUND(CHISQ.TEST(E1:F3,G1:H3),9)", "n:0.000308192"},
                      {"=ROUND(CHITEST(E1:E3,G1:G3),8)", "n:0.01588856"},
                      {"=CHITEST(E1:F3,G1:G3)", "e:#N/A"},
                      {"=CHITEST(E1,G1)", "e:#N/A"},
                      {"=CHITEST(E1:E2,J1:J2)", "e:#DIV/0!"},
                  });
}

}  // namespace
}  // namespace korvel
