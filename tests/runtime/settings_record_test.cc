#include "runtime/settings_record.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "model/envelope.h"

namespace korvel {
namespace {

// Raw record bytes: a zeroed header of the given length with fields set at their offsets, then
// the parts appended as they would be stored.
class RawRecord {
 public:
  explicit RawRecord(uint16_t headerLength) : bytes_(headerLength, '\0') {
    if (headerLength >= 2) set(0, 2, headerLength);
  }
  RawRecord& set(size_t offset, size_t width, uint64_t v) {
    for (size_t i = 0; i < width; ++i)
      bytes_[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return *this;
  }
  RawRecord& utf16(std::u16string_view text) {
    for (char16_t u : text) {
      bytes_.push_back(static_cast<char>(u & 0xFF));
      bytes_.push_back(static_cast<char>(u >> 8));
    }
    return *this;
  }
  RawRecord& bytes(std::string_view b) {
    bytes_.append(b);
    return *this;
  }
  RawRecord& u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return *this;
  }
  const std::string& str() const { return bytes_; }

 private:
  std::string bytes_;
};

const std::string kFixed("0123456789ab", 12);

std::string writeContent(const SettingsRecord& record) {
  std::string out, error;
  EXPECT_TRUE(writeSettingsContent(record, &out, &error)) << error;
  return out;
}

std::string utf16Bytes(std::u16string_view text) { return RawRecord(0).utf16(text).str(); }

// A current-layout record with every part present and every reserved byte set, so a writer that
// dropped or moved any byte shows.
std::string fullRecord() {
  RawRecord r(kSettingsHeaderLength);
  for (size_t i = 2; i < kSettingsHeaderLength; ++i) r.set(i, 1, 0xA0 + i % 0x50);
  r.set(kSettingsText1LengthOffset, 1, 6)
      .set(kSettingsText2LengthOffset, 2, 8)
      .set(kSettingsText3LengthOffset, 4, 3)
      .set(kSettingsText4LengthOffset, 4, 5)  // odd: carried bytes stay as they are
      .set(kSettingsList5LengthOffset, 4, 10)
      .set(kSettingsText6LengthOffset, 4, 2)
      .set(kSettingsText7LengthOffset, 2, 4)
      .set(kSettingsText8LengthOffset, 4, 1)
      .set(kSettingsText9LengthOffset, 4, 2)
      .set(kSettingsWriterVersionOffset, 4, 0x02000001);
  r.utf16(u"App").utf16(u"Info").bytes(scrambleText("pwd")).bytes("t4abc");
  r.utf16(u"a||b|").bytes("t6").utf16(u"Me").bytes(kFixed).bytes("8").bytes("99");
  r.u32(3).u32(1).u32(0x24).u32(2).bytes("pw");
  return r.str();
}

TEST(SettingsRecordTest, ReadsEveryHeaderLayout) {
  struct Case {
    const char* name;
    RawRecord raw;
    SettingsRecord want;
  };
  auto base = [](uint16_t length) {
    SettingsRecord want;
    want.header.storedLength = length;
    want.applicationName = u"App";
    want.applicationInformation = u"Info";
    want.fixedBytes = kFixed;
    return want;
  };
  std::vector<Case> cases;
  {
    Case c{"24", RawRecord(24), base(24)};
    c.raw.set(4, 4, 0x01020300).set(8, 4, 7).set(12, 4, 8).set(16, 2, 0x0001);
    c.raw.set(18, 1, 6).set(20, 2, 8).set(22, 2, 0xFFFF);  // 22 belongs to no field
    c.raw.utf16(u"App").utf16(u"Info").bytes(kFixed);
    c.want.header.applicationVersion = 0x01020300;
    c.want.header.reserved8 = {7, 8, 0, 0};
    c.want.header.optionFlags = 1;
    cases.push_back(c);
  }
  {
    Case c{"28", RawRecord(28), base(28)};
    c.raw.set(4, 4, 0x02010000).set(16, 4, 9).set(20, 2, 0x0848).set(22, 1, 6).set(24, 2, 8);
    c.raw.utf16(u"App").utf16(u"Info").bytes(kFixed);
    c.want.header.applicationVersion = 0x02010000;
    c.want.header.reserved8 = {0, 0, 9, 0};
    c.want.header.optionFlags = 0x0848;
    cases.push_back(c);
  }
  for (uint16_t length : {uint16_t{72}, uint16_t{80}}) {
    Case c{length == 72 ? "72" : "80", RawRecord(length), base(length)};
    c.raw.set(4, 4, 0x03000000).set(20, 4, 5).set(24, 2, 0x10).set(26, 1, 6).set(27, 1, 0xEE);
    c.raw.set(28, 2, 8).set(32, 4, 2).set(36, 4, 2).set(40, 4, 4).set(44, 2, 0x4444);
    c.raw.set(48, 8, 0x3FF0000000000000).set(56, 2, 1).set(60, 4, 0x60606060);
    c.raw.set(64, 2, 2).set(68, 4, 1);
    if (length == 80) c.raw.set(72, 4, 2);
    c.raw.utf16(u"App").utf16(u"Info").bytes("pw").bytes("t4").utf16(u"x|").bytes("6");
    c.raw.utf16(u"M").bytes(kFixed).bytes("8");
    if (length == 80) c.raw.bytes("99");
    c.want.header.applicationVersion = 0x03000000;
    c.want.header.reserved8 = {0, 0, 0, 5};
    c.want.header.optionFlags = 0x10;
    c.want.header.reserved44 = 0x4444;
    c.want.header.reserved56 = 0x3FF0000000000000;
    c.want.header.reserved68 = 0x60606060;
    c.want.scrambledPassword = "pw";
    c.want.text4 = "t4";
    c.want.list5 = utf16Bytes(u"x|");
    c.want.text6 = "6";
    c.want.authorContact = u"M";
    c.want.text8 = "8";
    if (length == 80) c.want.text9 = "99";
    cases.push_back(c);
  }
  {
    // An unknown shorter layout is taken at the current offsets as far as it reaches.
    Case c{"40", RawRecord(40), base(40)};
    c.raw.set(4, 4, 0x01000000).set(24, 2, 0x40).set(26, 1, 6).set(28, 2, 8).set(36, 4, 1);
    c.raw.utf16(u"App").utf16(u"Info").bytes("4").bytes(kFixed);
    c.want.header.applicationVersion = 0x01000000;
    c.want.header.optionFlags = 0x40;
    c.want.text4 = "4";
    cases.push_back(c);
  }
  {
    // An unknown longer layout: nothing in it can be placed; the parts start after it.
    Case c{"120", RawRecord(120), base(120)};
    c.raw.set(4, 4, 0x01000000).set(26, 1, 6);
    c.raw.bytes(kFixed);
    c.want.applicationName.clear();
    c.want.applicationInformation.clear();
    cases.push_back(c);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ParsedSettings parsed = parseSettings(c.raw.str());
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_FALSE(parsed.enveloped);
    EXPECT_EQ(parsed.record, c.want);
    EXPECT_EQ(parsed.content, c.raw.str());

    // Written back in the current layout, it reads as the same record.
    ParsedSettings again = parseSettings(writeContent(parsed.record));
    ASSERT_TRUE(again.ok) << again.error;
    SettingsRecord want = c.want;
    want.header.storedLength = kSettingsHeaderLength;
    EXPECT_EQ(again.record, want);
  }
}

TEST(SettingsRecordTest, CurrentLayoutRoundTripsByteForByte) {
  const std::string raw = fullRecord();
  ParsedSettings parsed = parseSettings(raw);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.record.applicationName, u"App");
  EXPECT_EQ(parsed.record.applicationInformation, u"Info");
  EXPECT_EQ(parsed.record.authorContact, u"Me");
  EXPECT_EQ(parsed.record.text4, "t4abc");
  EXPECT_EQ(parsed.record.text9, "99");
  EXPECT_EQ(writeContent(parsed.record), raw);

  // Enveloped, the record reads the same and is written back as the same envelope.
  std::string envelope, written, error;
  ASSERT_TRUE(encodeEnvelope(raw, &envelope));
  ParsedSettings wrapped = parseSettings(envelope);
  ASSERT_TRUE(wrapped.ok) << wrapped.error;
  EXPECT_TRUE(wrapped.enveloped);
  EXPECT_EQ(wrapped.content, raw);
  EXPECT_EQ(wrapped.record, parsed.record);
  ASSERT_TRUE(writeSettings(wrapped.record, &written, &error)) << error;
  EXPECT_EQ(written, envelope);
}

TEST(SettingsRecordTest, NameLengthFitsOneByte) {
  SettingsRecord record;
  record.applicationName = std::u16string(127, u'n');
  record.authorContact = std::u16string(127, u'c');
  ParsedSettings parsed = parseSettings(writeContent(record));
  ASSERT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.record.applicationName, record.applicationName);
  EXPECT_EQ(parsed.record.authorContact, record.authorContact);

  // 128 units would write a length of 0 with 256 bytes behind it: refused, nothing written.
  record.applicationName.push_back(u'n');
  std::string out = "old", error;
  EXPECT_FALSE(writeSettings(record, &out, &error));
  EXPECT_TRUE(out.empty());
  EXPECT_NE(error.find("application name"), std::string::npos) << error;
  record.applicationName.pop_back();
  record.applicationInformation = std::u16string(32768, u'i');
  EXPECT_FALSE(writeSettingsContent(record, &out, &error));
}

TEST(SettingsRecordTest, ProtectionListFollowsWriterVersion) {
  ProtectionTable table;
  table.workbookWord = 3;
  table.sheetWords = {0x24, 0, 0x2C};
  table.sheetPasswords = {"one", "", "three"};

  struct Case {
    uint32_t writerVersion;
    bool passwords;
    size_t bytes;
  };
  for (const Case& c : {Case{0, false, 20}, Case{0x02000000, false, 20}, Case{0x02000001, true, 40},
                        Case{0x03000000, true, 40}}) {
    SCOPED_TRACE(c.writerVersion);
    SettingsRecord record;
    record.header.writerVersion = c.writerVersion;
    record.trailingList = writeProtectionList(table, c.writerVersion);
    EXPECT_EQ(record.trailingList.size(), c.bytes);
    ParsedSettings parsed = parseSettings(writeContent(record));
    ASSERT_TRUE(parsed.ok);
    auto read = readProtectionList(parsed.record.trailingList, c.writerVersion);
    ASSERT_TRUE(read.has_value());
    ProtectionTable want = table;
    if (!c.passwords) want.sheetPasswords = {"", "", ""};
    EXPECT_EQ(*read, want);
  }
}

TEST(SettingsRecordTest, DamagedProtectionListsStayInsideTheirBytes) {
  const uint32_t kWithPasswords = 0x02000001;
  struct Case {
    const char* name;
    std::string bytes;
    uint32_t writerVersion;
    std::optional<ProtectionTable> want;
  };
  std::vector<Case> cases = {
      {"one byte is no list", "\x01", kWithPasswords, std::nullopt},
      {"two bytes: a short workbook word", std::string("\x02\x01", 2), 0,
       ProtectionTable{0x0102, {}, {}, {}}},
      {"count beyond the entries", RawRecord(0).u32(1).u32(0xFFFFFFFF).u32(0x20).str(), 0,
       ProtectionTable{1, {0x20}, {""}, {}}},
      {"password beyond the end", RawRecord(0).u32(0).u32(2).u32(0x20).u32(1000).bytes("abc").str(),
       kWithPasswords, ProtectionTable{0, {0x20}, {"abc"}, {}}},
      {"password length cut short", RawRecord(0).u32(0).u32(1).u32(0x20).bytes("\x05").str(),
       kWithPasswords, ProtectionTable{0, {0x20}, {""}, {}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(readProtectionList(c.bytes, c.writerVersion), c.want);
  }
}

TEST(SettingsRecordTest, PartsRunningPastTheEndAreSkippedInPlace) {
  struct Case {
    const char* name;
    RawRecord raw;
    std::u16string name1;
    std::u16string info;
    std::string fixed;
  };
  std::vector<Case> cases;
  {
    // The information is read from where the skipped name would have begun.
    Case c{"name runs past the end", RawRecord(24), u"", u"Ab", ""};
    c.raw.set(18, 1, 40).set(20, 2, 4).utf16(u"Ab").bytes("x");
    cases.push_back(c);
  }
  {
    Case c{"information runs past the end", RawRecord(24), u"A", u"", ""};
    c.raw.set(18, 1, 2).set(20, 2, 0xFFFF).utf16(u"A").utf16(u"Inf");
    cases.push_back(c);
  }
  {
    Case c{"fixed bytes cut short", RawRecord(kSettingsHeaderLength), u"", u"", ""};
    c.raw.set(kSettingsText8LengthOffset, 4, 0xFFFFFFFF).bytes("0123");
    cases.push_back(c);
  }
  {
    Case c{"negative author length", RawRecord(kSettingsHeaderLength), u"", u"", kFixed};
    c.raw.set(kSettingsText7LengthOffset, 2, 0x8000).bytes(kFixed);
    cases.push_back(c);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ParsedSettings parsed = parseSettings(c.raw.str());
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.record.applicationName, c.name1);
    EXPECT_EQ(parsed.record.applicationInformation, c.info);
    EXPECT_EQ(parsed.record.fixedBytes, c.fixed);
    EXPECT_TRUE(parsed.record.authorContact.empty());
    // What the skipped parts leave unread is carried as the trailing list. Written back, every
    // length agrees with its part.
    std::string written = writeContent(parsed.record);
    ParsedSettings again = parseSettings(written);
    ASSERT_TRUE(again.ok);
    EXPECT_EQ(writeContent(again.record), written);
    EXPECT_EQ(again.record.applicationName, c.name1);
  }
}

TEST(SettingsRecordTest, RefusesBytesShorterThanTheirHeader) {
  std::string envelope;
  ASSERT_TRUE(encodeEnvelope(fullRecord(), &envelope));
  std::string damaged = envelope;
  damaged[30] ^= 0x55;  // inside the zlib body: read as plain bytes, whose header length is huge
  for (const std::string& bytes :
       {std::string(), std::string("\x68", 1), RawRecord(24).str().substr(0, 23),
        fullRecord().substr(0, kSettingsHeaderLength - 1), damaged}) {
    ParsedSettings parsed = parseSettings(bytes);
    EXPECT_FALSE(parsed.ok) << bytes.size();
    EXPECT_FALSE(parsed.error.empty());
  }
  // A header alone is a record without parts.
  EXPECT_TRUE(parseSettings(RawRecord(24).str()).ok);
}

TEST(SettingsRecordTest, ListFiveIsSeparatedTexts) {
  EXPECT_EQ(joinListTexts({u"a", u"b"}), utf16Bytes(u"a|b|"));
  EXPECT_EQ(listTexts(utf16Bytes(u"a|b|")), (std::vector<std::u16string>{u"a", u"b"}));
  EXPECT_EQ(listTexts(utf16Bytes(u"|a||b")), (std::vector<std::u16string>{u"a", u"b"}));
  EXPECT_TRUE(listTexts("").empty());
}

TEST(SettingsRecordTest, ScramblingComesBack) {
  const std::string text("secret\0\xff", 8);
  EXPECT_NE(scrambleText(text), text);
  EXPECT_EQ(unscrambleText(scrambleText(text)), text);
}

TEST(SettingsRecordTest, ApplyTakesTheInterpretedValues) {
  struct Case {
    uint16_t flags;
    bool dataExchange, saveAsExecutable, screenStill, showAtStart, importOverFormulas;
  };
  for (const Case& c : {Case{0x0001, true, false, false, false, false},
                        Case{0x0008, false, true, false, false, false},
                        Case{0x0010, false, false, true, false, false},
                        Case{0x0040, false, false, false, true, false},
                        Case{0x0800, false, false, false, false, true},
                        Case{0xF7A6, false, false, false, false, false}}) {
    SCOPED_TRACE(c.flags);
    SettingsRecord record;
    record.header.optionFlags = c.flags;
    Settings settings;
    ASSERT_TRUE(applySettings(parseSettings(writeContent(record)), &settings));
    EXPECT_EQ(settings.dataExchange, c.dataExchange);
    EXPECT_EQ(settings.saveAsExecutable, c.saveAsExecutable);
    EXPECT_EQ(settings.screenStillDuringCalculation, c.screenStill);
    EXPECT_EQ(settings.showAtStart, c.showAtStart);
    EXPECT_EQ(settings.importOverFormulas, c.importOverFormulas);
  }

  Settings settings;
  ParsedSettings parsed = parseSettings(fullRecord());
  ASSERT_TRUE(applySettings(parsed, &settings));
  EXPECT_EQ(settings.applicationVersion, parsed.record.header.applicationVersion);
  EXPECT_EQ(settings.applicationName, u"App");
  EXPECT_EQ(settings.applicationInformation, u"Info");
  EXPECT_EQ(settings.authorContact, u"Me");
  EXPECT_EQ(settings.applicationPassword, u"pwd");
  EXPECT_EQ(settings.settingsCopy, fullRecord());
  ASSERT_TRUE(settings.protectionTable.has_value());
  EXPECT_EQ(*settings.protectionTable, (ProtectionTable{3, {0x24}, {"pw"}, "pwd"}));
}

TEST(SettingsRecordTest, LaterRecordsKeepWhatTheyDoNotCarry) {
  Settings settings;
  ASSERT_TRUE(applySettings(parseSettings(fullRecord()), &settings));
  const Settings first = settings;

  // A failed parse changes nothing at all.
  EXPECT_FALSE(applySettings(parseSettings("\x68"), &settings));
  EXPECT_EQ(settings.settingsCopy, first.settingsCopy);
  EXPECT_EQ(settings.applicationName, first.applicationName);

  // An empty author contact and a list without words keep the earlier ones; name and
  // information are replaced even by empty texts.
  SettingsRecord later;
  later.header.applicationVersion = 0x05000000;
  later.trailingList = writeProtectionList(ProtectionTable{}, 0);
  ParsedSettings parsed = parseSettings(writeContent(later));
  ASSERT_TRUE(applySettings(parsed, &settings));
  EXPECT_EQ(settings.applicationVersion, 0x05000000u);
  EXPECT_EQ(settings.authorContact, u"Me");
  EXPECT_TRUE(settings.applicationName.empty());
  EXPECT_TRUE(settings.applicationInformation.empty());
  EXPECT_TRUE(settings.applicationPassword.empty());
  EXPECT_EQ(settings.protectionTable, first.protectionTable);
  EXPECT_EQ(settings.settingsCopy, parsed.content);

  // A list with sheet entries but no password leaves the table's workbook password empty.
  later.trailingList = writeProtectionList(ProtectionTable{0, {0x20}, {}, {}}, 0);
  ASSERT_TRUE(applySettings(parseSettings(writeContent(later)), &settings));
  EXPECT_EQ(settings.protectionTable, (ProtectionTable{0, {0x20}, {""}, ""}));
}

TEST(SettingsRecordTest, SeedCorpusParses) {
  const std::filesystem::path folder =
      std::filesystem::path(KORVEL_SOURCE_DIR) / "fuzz" / "corpus" / "settings";
  size_t seeds = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ParsedSettings parsed = parseSettings(bytes);
    EXPECT_TRUE(parsed.ok) << entry.path() << ": " << parsed.error;
    ++seeds;
  }
  EXPECT_GT(seeds, 0u);
}

}  // namespace
}  // namespace korvel
