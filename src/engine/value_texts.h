// Localisation of the literal text table (the seven error texts, TRUE and FALSE) from the table
// the launcher delivers for the host program's user-interface language.
#ifndef KORVEL_ENGINE_VALUE_TEXTS_H_
#define KORVEL_ENGINE_VALUE_TEXTS_H_

#include <string>
#include <string_view>

namespace korvel {

// The English name of a primary language number (5 "Czech", 7 "German", ...); "English" for 9
// and for every number without a name of its own. A full language identifier works too: only
// its low 10 bits, the primary language, count.
std::u16string_view languageName(int primaryLanguage);

// Loads the literal texts for the language from a table of lines separated by CR LF (a bare LF
// is accepted too) and fields separated by ";". The first line names the languages in English,
// one per column; each following line starts with the English text it replaces ("#DIV/0!",
// "TRUE", ...) and holds that text's translation in the column of its language. Lines with an
// unknown key and empty or missing translations leave the text as it is.
//
// Nothing changes for English (9), for languages without a name of their own (they use the
// English texts, which are the defaults) or when no column names the language. Returns the English
// name of the language whose texts were loaded, or the empty text when nothing was loaded; the
// caller then switches the locale's collation to that language (Locale::setCollationLanguage), so
// that text comparison and number formatting follow it.
//
// REQUIRES: the thread that evaluates formulas; called at most once, before recalculation.
std::u16string loadLiteralTexts(std::u16string_view table, int languageNumber);

}  // namespace korvel

#endif  // KORVEL_ENGINE_VALUE_TEXTS_H_
