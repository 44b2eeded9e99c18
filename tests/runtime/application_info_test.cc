#include "runtime/application_info.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/settings_record.h"

namespace korvel {
namespace {

TEST(ApplicationInfoTest, VersionTextShowsTheTopThreeBytes) {
  struct Case {
    uint32_t version;
    std::u16string text;
  };
  for (const Case& c : {Case{0x01020300, u"1.2.3"}, Case{0x020100FF, u"2.1.0"}, Case{0, u"0.0.0"},
                        Case{0xFFFEFD00, u"255.254.253"}}) {
    EXPECT_EQ(versionText(c.version), c.text) << c.version;
  }
}

TEST(ApplicationInfoTest, ProviderFollowsTheAppliedSettings) {
  // A record in the oldest layout: version bytes 1, 2, 3, 0 and only the data-exchange flag.
  std::string raw(24, '\0');
  const unsigned char header[] = {24, 0, 0, 0, 0, 3, 2, 1, 0, 0, 0, 0,
                                  0,  0, 0, 0, 1, 0, 4, 0, 0, 0, 0, 0};
  raw.assign(reinterpret_cast<const char*>(header), sizeof(header));
  raw.append(std::string("A\0p\0", 4));
  raw.append(12, '\0');
  Settings settings;
  ASSERT_TRUE(applySettings(parseSettings(raw), &settings));
  EXPECT_TRUE(settings.dataExchange);
  EXPECT_FALSE(settings.saveAsExecutable);

  int writes = 0;
  ApplicationInfoProvider provider([&writes] { ++writes; });
  provider.update(settings);
  EXPECT_EQ(provider.info().name, u"Ap");
  EXPECT_EQ(provider.info().version, u"1.2.3");
  provider.afterWrite();
  provider.afterWrite();
  EXPECT_EQ(writes, 2);
  ApplicationInfoProvider().afterWrite();  // without a callback: nothing happens

  TemplateValues values{{u"OTHER", u"kept"}};
  settings.applicationInformation = u"<?APPNAME?> info";
  settings.authorContact = u"me@example.org";
  fillTemplateValues(settings, &values);
  EXPECT_EQ(values, (TemplateValues{{u"APPNAME", u"Ap"},
                                    {u"APPVER", u"1.2.3"},
                                    {u"AUTHOR_CONTACT", u"me@example.org"},
                                    {u"APPINFO", u"<?APPNAME?> info"},
                                    {u"OTHER", u"kept"}}));
}

TEST(ApplicationInfoTest, ExpandPlaceholders) {
  const TemplateValues values{{u"APPVER", u"2.1.0"}, {u"APPINFO", u"<?APPVER?>"}, {u"E", u""}};
  struct Case {
    std::u16string text;
    std::u16string want;
  };
  for (const Case& c : {
           Case{u"Version <?APPVER?>, <?MISSING?>.", u"Version 2.1.0, <?MISSING?>."},
           Case{u"<?APPVER?><?APPVER?>", u"2.1.02.1.0"},
           Case{u"\n<?APPINFO?>\n", u"\n<?APPVER?>\n"},  // values are not expanded again
           Case{u"a<?E?>b", u"ab"},
           Case{u"a<?\?>b", u"a<?\?>b"},  // an empty key is no placeholder
           Case{u"<?>", u"<?>"},
           Case{u"end <?APPVER", u"end <?APPVER"},
           Case{u"x <? <?APPVER?>", u"x <? <?APPVER?>"},  // the key runs to the first ?>
           Case{u"", u""},
           Case{u"no placeholders", u"no placeholders"},
       }) {
    EXPECT_EQ(expandPlaceholders(c.text, values), c.want);
  }
}

}  // namespace
}  // namespace korvel
