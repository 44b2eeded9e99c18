// The headless host's application file: the container's encoding, its reader's refusals, and the
// update sessions that replace the file in one step.
#include "hosts/headless/headless_resources.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hosts/headless/memory_files.h"

namespace korvel {
namespace {

const std::vector<ResourceEntry> kEntries = {
    {u"KVSETTINGS", 1, 1033, "settings"},
    {u"KVWORKBOOK", 1020, 1033, std::string("wb\0\xff", 4)},
    {u"EXTRSC", 1200, 1033, ""},
    {u"\u00c9T\u00c9", 70000, 7, "non-ASCII type"},
};

TEST(ApplicationFileTest, EncodesAndDecodesEveryEntry) {
  std::string bytes = encodeApplicationFile(kEntries);
  ASSERT_EQ(bytes.substr(0, 8), std::string("KVAF\x01\0\0\0", 8));
  EXPECT_EQ(bytes.substr(8, 4), std::string("\x04\0\0\0", 4));
  std::vector<ResourceEntry> decoded;
  std::string error;
  ASSERT_TRUE(decodeApplicationFile(bytes, &decoded, &error)) << error;
  EXPECT_EQ(decoded, kEntries);

  ASSERT_NE(findResource(decoded, u"kvworkbook", 1020), nullptr);
  EXPECT_EQ(findResource(decoded, u"kvworkbook", 1020)->bytes, kEntries[1].bytes);
  EXPECT_EQ(findResource(decoded, u"EXTRSC", 1201), nullptr);

  std::vector<ResourceEntry> none;
  ASSERT_TRUE(decodeApplicationFile(encodeApplicationFile({}), &none, &error));
  EXPECT_TRUE(none.empty());
}

TEST(ApplicationFileTest, RefusesBytesThatAreNoContainer) {
  std::string good = encodeApplicationFile(kEntries);
  std::string badVersion = good;
  badVersion[4] = 2;
  std::string hugeCount = good;
  hugeCount[11] = '\x7f';
  // The first entry's data offset (after its 2 + 20 + 4 + 2 bytes) pointed past the end.
  std::string outside = good;
  outside[2 + 20 + 4 + 2 + 12 + 3] = '\x7f';
  // Three entries (18 bytes each in the table) that all name the first one's 1,000 bytes: the
  // copies would take three times what the file holds.
  std::string overlapping = encodeApplicationFile(
      {{u"A", 1, 1033, std::string(1000, 'x')}, {u"B", 2, 1033, ""}, {u"C", 3, 1033, ""}});
  for (size_t entry : {1, 2}) {
    overlapping.replace(12 + 18 * entry + 10, 8, overlapping.substr(12 + 10, 8));
  }
  const std::string bad[] = {"",      "KVAF",     "XXXX\x01\0\0\0\0\0\0\0", badVersion, hugeCount,
                             outside, overlapping};
  for (const std::string& bytes : bad) {
    std::vector<ResourceEntry> entries = {kEntries[0]};
    std::string error;
    EXPECT_FALSE(decodeApplicationFile(bytes, &entries, &error)) << bytes.size();
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(entries.empty());
  }
  // Every cut of the table is refused; cuts inside the data are caught by the data bounds.
  for (size_t length = 0; length < good.size(); ++length) {
    std::vector<ResourceEntry> entries;
    std::string error;
    EXPECT_FALSE(decodeApplicationFile(std::string_view(good).substr(0, length), &entries, &error))
        << length;
  }
}

class HeadlessResourcesTest : public ::testing::Test {
 protected:
  HeadlessResourcesTest() : resources_(files_) {
    files_.writeAll(kPath, encodeApplicationFile(kEntries));
  }

  std::vector<ResourceEntry> entries() {
    std::vector<ResourceEntry> out;
    std::string error;
    EXPECT_TRUE(readApplicationFile(files_, kPath, &out, &error)) << error;
    return out;
  }

  static constexpr char16_t kPath[] = u"/apps/App.kvapp";
  MemoryFiles files_;
  HeadlessResources resources_;
};

TEST_F(HeadlessResourcesTest, CommitReplacesAddsAndKeepsOrDropsTheRest) {
  std::unique_ptr<ResourceUpdate> update = resources_.beginUpdate(kPath, true);
  ASSERT_NE(update, nullptr);
  EXPECT_TRUE(update->update(u"kvworkbook", 1020, 1033, "new workbook"));
  EXPECT_TRUE(update->update(u"EXTRSC", 1201, 1033, "chunk 2"));
  // Nothing reaches the file before the commit.
  EXPECT_EQ(entries(), kEntries);
  EXPECT_TRUE(update->end(true));
  EXPECT_FALSE(update->update(u"EXTRSC", 1202, 1033, "late"));
  EXPECT_FALSE(update->end(true));

  std::vector<ResourceEntry> expected = kEntries;
  expected[1].bytes = "new workbook";
  expected.push_back({u"EXTRSC", 1201, 1033, "chunk 2"});
  EXPECT_EQ(entries(), expected);
  EXPECT_EQ(files_.files().size(), 1u);

  update = resources_.beginUpdate(kPath, false);
  ASSERT_NE(update, nullptr);
  update->update(u"EXTRSC", 1200, 1033, "only");
  ASSERT_TRUE(update->end(true));
  EXPECT_EQ(entries(), (std::vector<ResourceEntry>{{u"EXTRSC", 1200, 1033, "only"}}));
}

TEST_F(HeadlessResourcesTest, DiscardAndFailedCommitLeaveTheFileAsItWas) {
  std::string before = files_.files().at(kPath);
  std::unique_ptr<ResourceUpdate> update = resources_.beginUpdate(kPath, false);
  ASSERT_NE(update, nullptr);
  update->update(u"EXTRSC", 1200, 1033, "discarded");
  EXPECT_TRUE(update->end(false));
  EXPECT_EQ(files_.files().at(kPath), before);

  update = resources_.beginUpdate(kPath, true);
  update->update(u"EXTRSC", 1200, 1033, "never written");
  files_.setFailWrites(true);
  EXPECT_FALSE(update->end(true));
  files_.setFailWrites(false);
  EXPECT_EQ(files_.files().at(kPath), before);
  EXPECT_EQ(files_.files().size(), 1u);
}

TEST_F(HeadlessResourcesTest, NoUpdateOfAMissingOrForeignFile) {
  files_.writeAll(u"/apps/plain.txt", "not a container");
  EXPECT_EQ(resources_.beginUpdate(u"/apps/missing.kvapp", true), nullptr);
  EXPECT_EQ(resources_.beginUpdate(u"/apps/plain.txt", true), nullptr);
  EXPECT_EQ(files_.files().at(u"/apps/plain.txt"), "not a container");
}

}  // namespace
}  // namespace korvel
