// The wildcard patterns of lookups and criteria: "*" matches any run of characters (also none),
// "?" any one character, and "~" before "*" or "?" makes that character literal. Letters compare
// without regard to case and the whole text must match.
#ifndef KORVEL_FUNCTIONS_WILDCARD_H_
#define KORVEL_FUNCTIONS_WILDCARD_H_

#include <string_view>

namespace korvel {

// True when the text holds "*" or "?" (the lookups' test for a pattern).
bool hasWildcard(std::u16string_view text);
// True when the text holds "*", "?" or "~" (the criteria's test: "~*" must match a literal "*").
bool hasPatternCharacter(std::u16string_view text);

// Whether the whole text matches the pattern. Runs in time proportional to the product of the two
// lengths at worst, never exponential in the number of stars.
bool matchesPattern(std::u16string_view text, std::u16string_view pattern);

}  // namespace korvel

#endif  // KORVEL_FUNCTIONS_WILDCARD_H_
