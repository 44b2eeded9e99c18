// Numbers as the host program shows and reads them: the 15-digit display text and the reading
// of number texts in the plain and the currency form, both after the user's locale.
#ifndef KORVEL_ENGINE_NUMBER_TEXT_H_
#define KORVEL_ENGINE_NUMBER_TEXT_H_

#include <string>
#include <string_view>

namespace korvel {

// 15 significant digits; whole numbers in the 32-bit range as integers; exponent form with a
// signed exponent of at least three digits outside 1e-14..1e15 ("1.5E+020"); zero, NaN and
// infinities as "0"; the user's decimal separator.
std::u16string numberToText(double x);

// True and the number when the whole text (spaces and tabs trimmed) reads as a number in the
// plain form (sign, digits, user's decimal separator, exponent, final "%") or the currency form
// ("$", "€", the user's symbol and thousands separators). NaN and infinities are not numbers.
bool textToNumber(std::u16string_view text, double* out);

}  // namespace korvel

#endif  // KORVEL_ENGINE_NUMBER_TEXT_H_
