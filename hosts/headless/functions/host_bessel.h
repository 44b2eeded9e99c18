// The Bessel functions of integer order behind BESSELJ, BESSELY, BESSELI and BESSELK, as the
// spreadsheet program computes them: where it uses approximations good to about 1e-8 (J0 and J1
// below 8, Y, I and K) their digits, elsewhere to about 1e-14 relative accuracy away from the
// zeros. Each returns NaN where the function is not
// defined (Y and K at x <= 0, a negative order) and an infinity where it overflows, which the
// worksheet functions turn into #NUM!.
#ifndef KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_BESSEL_H_
#define KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_BESSEL_H_

namespace korvel {

double besselJ(double x, int n);
double besselY(double x, int n);
double besselI(double x, int n);
double besselK(double x, int n);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_BESSEL_H_
