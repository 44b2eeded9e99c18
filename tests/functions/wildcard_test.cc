#include "functions/wildcard.h"

#include <gtest/gtest.h>

#include <string>

#include "util/text.h"

namespace korvel {
namespace {

TEST(Wildcard, MatchesWholeTextsWithoutRegardToCase) {
  struct Case {
    const char* text;
    const char* pattern;
    bool matches;
  } cases[] = {
      {"abc", "a?c", true},
      {"ABC", "a?c", true},
      {"abcd", "a?c", false},
      {"", "*", true},
      {"", "?", false},
      {"anything", "*", true},
      {"apple", "a*", true},
      {"banana", "a*", false},
      {"banana", "*an*a", true},
      {"a*", "a~*", true},
      {"ab", "a~*", false},
      {"*", "~*", true},
      {"?", "~?", true},
      {"x", "~?", false},
      {"a~b", "a~b", true},
      {"ab~", "ab~", true},
      {"mississippi", "m*iss*ppi", true},
      {"mississippi", "m*iss*ppx", false},
      {"aaa", "a*a*a*a", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(matchesPattern(fromUtf8(c.text), fromUtf8(c.pattern)), c.matches)
        << c.text << " ~ " << c.pattern;
  }
}

TEST(Wildcard, StarsDoNotBacktrackExponentially) {
  std::u16string text(5000, u'a');
  std::u16string pattern;
  for (int i = 0; i < 200; ++i) pattern += u"*a";
  pattern += u"b";
  EXPECT_FALSE(matchesPattern(text, pattern));
}

TEST(Wildcard, TellsPatternsFromPlainTexts) {
  EXPECT_TRUE(hasWildcard(u"a*"));
  EXPECT_TRUE(hasWildcard(u"a?"));
  EXPECT_FALSE(hasWildcard(u"a~b"));
  EXPECT_TRUE(hasPatternCharacter(u"a~b"));
  EXPECT_FALSE(hasPatternCharacter(u"plain"));
}

}  // namespace
}  // namespace korvel
