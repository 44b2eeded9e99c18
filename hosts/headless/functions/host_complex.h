// Complex numbers as the engineering functions of the headless program exchange them: texts such
// as "3+4i", "-2.5j", "i" or "1E-3-7i", read into a pair of doubles and written back with 15
// significant digits, the number form of the host program's complex texts.
#ifndef KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_COMPLEX_H_
#define KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_COMPLEX_H_

#include <string>
#include <string_view>

namespace korvel {

struct ComplexNumber {
  double real = 0;
  double imaginary = 0;
  // The unit letter of the text it was read from ('i' or 'j'); 0 when the text named none (a
  // plain real number), so that such a value combines with either.
  char16_t suffix = 0;
};

// Reads a complex text: an optional real part and an optional imaginary part ending in "i" or
// "j" (the coefficient may be left out: "i", "-j", "3-i"), numbers with an optional decimal point
// and exponent, no spaces. The empty text is 0. False for anything else.
bool parseComplex(std::u16string_view text, ComplexNumber* out);

// The text of one part: at most 15 significant digits, trailing zeros dropped; exponent form
// ("1E+20", "6.12323399573677E-17") from 1E+15 up and where fixed form would need more than 18
// decimals. -0 is "0".
std::u16string complexPartText(double x);

// The complex text of a number: "0", "1.5", "i", "-2j", "3+4i", "1-i"; the coefficient 1 of the
// imaginary part is left out. suffix 0 writes 'i'.
std::u16string complexText(const ComplexNumber& z);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_COMPLEX_H_
