// UTF-16 text helpers shared by every subsystem: conversion to and from UTF-8 at the edges,
// case folding that does not depend on the C library's current locale, and splitting.
#ifndef KORVEL_UTIL_TEXT_H_
#define KORVEL_UTIL_TEXT_H_

#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// UTF-8 to UTF-16. Invalid sequences become U+FFFD, so a bad byte never loses the rest of a text.
std::u16string fromUtf8(std::string_view utf8);
// UTF-16 to UTF-8. Unpaired surrogates become U+FFFD.
std::string toUtf8(std::u16string_view text);
// True when the bytes are valid UTF-8.
bool isValidUtf8(std::string_view bytes);

// Upper-case form of one unit for case-insensitive comparison: ASCII, Latin-1, Latin Extended-A,
// Greek and Cyrillic letters fold to their capitals; every other unit stays.
char16_t foldCase(char16_t unit);
std::u16string toUpper(std::u16string_view text);
bool equalsNoCase(std::u16string_view a, std::u16string_view b);
// <0, 0 or >0 by folded code units.
int compareNoCase(std::u16string_view a, std::u16string_view b);
// True when prefix is a case-insensitive prefix of text.
bool startsWithNoCase(std::u16string_view text, std::u16string_view prefix);

bool isDigit(char16_t unit);
bool isAsciiLetter(char16_t unit);
// Letters as the date and address parsers see them: ASCII and the folded ranges above.
bool isLetter(char16_t unit);

// Splits at any of the delimiter units; empty pieces are kept unless dropEmpty.
std::vector<std::u16string> split(std::u16string_view text, std::u16string_view delimiters,
                                  bool dropEmpty = false);
// Removes the given units at both ends.
std::u16string_view trim(std::u16string_view text, std::u16string_view units = u" \t");
bool endsWithNoCase(std::u16string_view text, std::u16string_view suffix);

// Path parts. Both separators count, so paths of either system work; a drive colon ends a
// directory part too.
std::u16string_view fileNameOf(std::u16string_view path);
// The file name's extension with its dot (".exe"); empty when the name has none.
std::u16string_view extensionOf(std::u16string_view path);

}  // namespace korvel

#endif  // KORVEL_UTIL_TEXT_H_
