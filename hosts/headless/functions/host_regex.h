// The regular-expression functions of the headless program: REGEXTEST, REGEXEXTRACT and
// REGEXREPLACE. Patterns are read as ECMAScript regular expressions (std::regex); the
// spreadsheet program reads them as Perl-compatible ones. The two agree on the everyday syntax
// (classes, ranges, quantifiers, {m,n}, groups, (?:...), alternation, lookahead, anchors, \d \w
// \s \b and their negations, back-references); where they differ:
// - patterns using what ECMAScript lacks do not compile and give #VALUE!: lookbehind (?<=...)
//   (?<!...), named groups (?<name>...) (?P<name>...), atomic groups (?>...), possessive
//   quantifiers (a*+), inline options (?i), \A \z \Z \h \R \K, \Q...\E, \p{...} properties,
//   recursion and conditionals;
// - "$" matches only at the very end (not before a final line feed), and "." also refuses
//   carriage returns and the Unicode line and paragraph separators;
// - case-insensitive matching folds ASCII letters only.
// Replacement texts are read the Perl-compatible way: $n and ${n} insert group n ($0 the whole
// match), $$ a dollar sign; any other "$" stands for itself.
//
// REQUIRES: used only on the thread that evaluates formulas (a compiled pattern is kept).
#ifndef KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_REGEX_H_
#define KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_REGEX_H_

#include <string_view>

#include "engine/native_function.h"
#include "engine/value.h"

namespace korvel {

// REGEXTEST(text, pattern, [case_sensitivity]): whether the pattern matches somewhere in the
// text. case_sensitivity 0 (the default) tells case, 1 ignores it.
void regexTestRoutine(CallContext& context, const Value* const* arguments, Value& result);

// REGEXEXTRACT(text, pattern, [return_mode], [case_sensitivity]): return_mode 0 (the default)
// gives the first match, 1 every match (a column), 2 the groups of the first match (a row). #N/A
// when nothing matches.
void regexExtractRoutine(CallContext& context, const Value* const* arguments, Value& result);

// REGEXREPLACE(text, pattern, replacement, [occurrence], [case_sensitivity]): the text with
// every match replaced (occurrence 0, the default), or only the n-th (from the end when n is
// negative); the text as it is when there is no such match.
void regexReplaceRoutine(CallContext& context, const Value* const* arguments, Value& result);

// Whether the pattern matches somewhere in the text, as REGEXTEST reads them: 1 yes, 0 no, -1
// when the pattern does not compile or the text is too long for it.
int regexSearch(std::u16string_view pattern, std::u16string_view text, bool ignoreCase);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_REGEX_H_
