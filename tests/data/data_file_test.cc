#include "data/data_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/value_encoding.h"
#include "hosts/headless/memory_files.h"
#include "model/envelope.h"
#include "util/text.h"

namespace korvel {
namespace {

std::string encoded(const Value& v) {
  std::string out;
  encodeValue(v, &out);
  return out;
}

// A file as an older writer left it: the header with the given version and creator lengths, then
// the envelope of the payload exactly as given.
std::string fileOf(uint32_t version, uint16_t creator1, uint16_t creator2,
                   const std::string& payload) {
  DataFileHeader header;
  header.formatVersion = version;
  header.creatorText1Length = creator1;
  header.creatorText2Length = creator2;
  std::string envelope;
  EXPECT_TRUE(encodeEnvelope(payload, &envelope));
  return encodeDataFileHeader(header) + envelope;
}

std::vector<DataRecord> sampleRecords() {
  ValueArray array(2, 1);
  array.at(0, 0).setText(u"a");
  array.at(1, 0).setNumber(2.5);
  std::vector<DataRecord> records(7);
  records[0] = {0, 0, 0, Value::integer(-7)};
  records[1] = {1, 1048575, 16383, Value::number(0.125)};
  records[2] = {2, 5, 3, Value::text(u"long text \u00e9\u4e2d")};
  records[3] = {0xFFFE, 9, 9, Value::boolean(true)};
  records[4] = {0, 1, 2, Value::error(errorCodeAt(2))};
  records[5] = {0, 3, 4, Value()};
  records[6].value.setArray(std::move(array));
  return records;
}

TEST(DataFileHeader, WordsAreStoredRotatedAndReadBack) {
  DataFileHeader header;
  header.applicationId = 0x12345678;
  header.timestamp = 0x80000001;
  header.recordLength = 99;
  std::string bytes = encodeDataFileHeader(header);
  ASSERT_EQ(bytes.size(), 32u);
  EXPECT_EQ(bytes.substr(0, 4), "KVCD");
  // Word 1 of a file with both creator texts empty, 0x00010020, is stored as 0x40000200.
  EXPECT_EQ(bytes.substr(4, 4), std::string("\x00\x02\x00\x40", 4));
  // The marker 7213 rotated right by 7 bits.
  EXPECT_EQ(bytes.substr(28, 4), std::string("\x38\x00\x00\x5A", 4));
  DataFileHeader back;
  ASSERT_TRUE(decodeDataFileHeader(bytes, &back));
  EXPECT_EQ(back, header);
}

TEST(DataFileHeader, RefusesWrongMagicAndHeaderLength) {
  std::string good = encodeDataFileHeader(DataFileHeader());
  DataFileHeader header, out;
  header.headerLength = 33;
  std::string badMagic = good;
  badMagic[0] = 'X';
  for (const std::string& bytes : {encodeDataFileHeader(header), badMagic, good.substr(0, 31)}) {
    EXPECT_FALSE(decodeDataFileHeader(bytes, &out));
  }
}

TEST(DataFile, RecordsRoundTripThroughTheFile) {
  std::string section;
  for (const DataRecord& r : sampleRecords()) appendDataRecord(r, &section);
  DataFileHeader header;
  header.applicationId = 77;
  header.formatVersion = 0x01000000;  // the writer always states its own layout
  std::string file;
  ASSERT_TRUE(encodeDataFile(header, section, &file));

  DataFileHeader read;
  std::string readSection;
  ASSERT_EQ(parseDataFile(file, &read, &readSection), DataFileCode::kOk);
  EXPECT_EQ(read.applicationId, 77u);
  EXPECT_EQ(read.formatVersion, kDataFileRuntimeVersion);
  EXPECT_EQ(read.recordLength, section.size());
  EXPECT_EQ(read.creatorText1Length, 1);
  EXPECT_EQ(read.creatorText2Length, 1);
  EXPECT_EQ(read.marker, kDataFileMarker);
  EXPECT_EQ(readSection, section);

  std::vector<DataRecord> records;
  ASSERT_TRUE(readDataRecords(read, readSection, &records));
  std::vector<DataRecord> expected = sampleRecords();
  ASSERT_EQ(records.size(), expected.size());
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(records[i].sheet, expected[i].sheet);
    EXPECT_EQ(records[i].row, expected[i].row);
    EXPECT_EQ(records[i].column, expected[i].column);
    EXPECT_EQ(encoded(records[i].value), encoded(expected[i].value));
  }
}

TEST(DataFile, EmptySectionHoldsOnlyTheCreatorTexts) {
  std::string file, section = "x";
  DataFileHeader header;
  ASSERT_TRUE(encodeDataFile(DataFileHeader(), "", &file));
  ASSERT_EQ(parseDataFile(file, &header, &section), DataFileCode::kOk);
  EXPECT_TRUE(section.empty());
  std::vector<DataRecord> records;
  EXPECT_TRUE(readDataRecords(header, section, &records));
  EXPECT_TRUE(records.empty());
}

TEST(DataFile, SheetFFFFIsTakenAsFFFE) {
  DataRecord record{0xFFFF, 1, 2, Value::integer(1)};
  std::string section;
  appendDataRecord(record, &section);
  DataRecord read;
  EXPECT_EQ(readDataRecord(DataFileHeader(), section, &read), section.size());
  EXPECT_EQ(read.sheet, 0xFFFE);
}

// The same three records as each layout stores them: (row 300, column 5, sheet 0xFF) integer 42,
// (row 1, column 0, sheet 2) text "H\xe9", (row 0, column 2, sheet 0) number 1.5.
struct LayoutCase {
  const char* name;
  uint32_t version;
  bool narrowKeys, shiftedKinds, eightBitText;
};

std::string legacyPayload(const LayoutCase& c, uint16_t* creator1, uint16_t* creator2) {
  std::string payload;
  if (c.narrowKeys) {
    payload += std::string("ab\0c\0", 5);  // creator texts counted in bytes
    *creator1 = 3;
    *creator2 = 2;
  } else {
    payload += std::string("a\0\0\0\0\0", 6);  // in UTF-16 units
    *creator1 = 2;
    *creator2 = 1;
  }
  auto key = [&](uint32_t row, uint16_t column, uint16_t sheet) {
    if (c.narrowKeys) {
      payload += {char(row & 0xFF), char(row >> 8), char(column), char(sheet)};
    } else {
      payload += {char(row & 0xFF), char(row >> 8), 0, 0, char(column), 0, char(sheet), 0};
    }
  };
  char shift = c.shiftedKinds ? 1 : 0;
  key(300, 5, 0xFF);
  payload += {char(1 - shift), 42, 0, 0, 0};
  key(1, 0, 2);
  if (c.eightBitText) {
    payload += {char(4 - shift), 'H', char(0xE9), 0, 'z'};
  } else {
    payload += {char(4 - shift), 'H', 0, char(0xE9), 0, 0, 0};
  }
  key(0, 2, 0);
  std::string number;
  encodeValue(Value::number(1.5), &number);
  number[0] = char(number[0] - shift);
  payload += number;
  return payload;
}

TEST(DataFile, OlderLayoutsAreReadByVersion) {
  const LayoutCase cases[] = {
      {"1.9.6.11 current", 0x0109060B, false, false, false},
      {"1.9.6.10 narrow keys", 0x0109060A, true, false, false},
      {"1.9.6.5 shifted kinds", 0x01090605, true, true, false},
      {"1.2.7.255 8-bit texts", 0x010207FF, true, true, true},
      {"9.0.0.0 narrow and shifted, UTF-16", 0x09000000, true, true, false},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    uint16_t creator1 = 0, creator2 = 0;
    std::string payload = legacyPayload(c, &creator1, &creator2);
    std::string file = fileOf(c.version, creator1, creator2, payload);
    DataFileHeader header;
    std::string section;
    ASSERT_EQ(parseDataFile(file, &header, &section), DataFileCode::kOk);
    std::vector<DataRecord> records;
    ASSERT_TRUE(readDataRecords(header, section, &records));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].row, 300u);
    EXPECT_EQ(records[0].column, 5);
    EXPECT_EQ(records[0].sheet, 0xFF);
    EXPECT_EQ(encoded(records[0].value), encoded(Value::integer(42)));
    EXPECT_EQ(records[1].sheet, 2);
    EXPECT_EQ(encoded(records[1].value), encoded(Value::text(u"H\u00e9")));
    EXPECT_EQ(records[2].column, 2);
    EXPECT_EQ(encoded(records[2].value), encoded(Value::number(1.5)));
  }
}

TEST(DataFile, KindSevenAndTheOldEmptyKindReadAsEmpty) {
  struct Case {
    uint32_t version;
    std::string value;
  } cases[] = {
      {kDataFileRuntimeVersion, std::string(1, 7)},
      {0x01090605, std::string(1, 6)},
      {0x01090605, std::string(1, char(0xFF))},
      {0x09000000, std::string(1, 6)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    DataFileHeader header;
    header.formatVersion = c.version;
    std::string section =
        c.version == kDataFileRuntimeVersion ? std::string(8, '\0') : std::string(4, '\0');
    section += c.value;
    DataRecord record;
    record.value.setInteger(3);
    EXPECT_EQ(readDataRecord(header, section, &record), section.size());
    EXPECT_TRUE(record.value.isEmpty());
  }
}

TEST(DataFile, CutRecordSectionVisitsTheCompleteRecordsAndReportsDamage) {
  std::string section;
  std::vector<DataRecord> sample = sampleRecords();
  for (size_t i = 0; i < 3; ++i) appendDataRecord(sample[i], &section);
  std::string firstTwo;
  appendDataRecord(sample[0], &firstTwo);
  appendDataRecord(sample[1], &firstTwo);
  // Inside the third key, right after it, and inside its text.
  for (size_t cut : {firstTwo.size() + 3, firstTwo.size() + 8, section.size() - 3}) {
    SCOPED_TRACE(cut);
    std::vector<DataRecord> records;
    EXPECT_FALSE(readDataRecords(DataFileHeader(), section.substr(0, cut), &records));
    EXPECT_EQ(records.size(), 2u);
  }
  // Unknown kinds and a nested array in an old layout are damage too.
  DataFileHeader old;
  old.formatVersion = 0x01090605;
  std::vector<DataRecord> records;
  EXPECT_FALSE(readDataRecords(old, std::string("\0\0\0\0\x0A", 5), &records));
  std::string nested("\0\0\0\0\x07\x01\0\0\0\x01\0\0\0\x07\x01\0\0\0\x01\0\0\0\x00", 23);
  EXPECT_FALSE(readDataRecords(old, nested, &records));
  // An 8-bit text needs the byte after its zero byte.
  old.formatVersion = 0x01020000;
  EXPECT_FALSE(readDataRecords(old, std::string("\0\0\0\0\x03hi\0", 8), &records));
  DataRecord text;
  EXPECT_EQ(readDataRecord(old, std::string("\0\0\0\0\x03hi\0\0", 9), &text), 9u);
  EXPECT_EQ(text.value.text(), u"hi");
}

TEST(DataFile, ReadingRefusesBadFilesWithTheirCodes) {
  MemoryFiles files;
  std::string good;
  ASSERT_TRUE(encodeDataFile(DataFileHeader(), "", &good));
  DataFileHeader badLength;
  badLength.headerLength = 33;
  std::string envelope = good.substr(32);
  std::string cutEnvelope = good.substr(0, good.size() - 1);
  std::string longCreators = fileOf(kDataFileRuntimeVersion, 2, 1, std::string(4, '\0'));
  std::string longByteCreators = fileOf(0x01090600, 4, 1, std::string(4, '\0'));
  files.writeAll(u"/d/32.dat", good.substr(0, 32));
  files.writeAll(u"/d/33.dat", encodeDataFileHeader(badLength) + envelope);
  files.writeAll(u"/d/cut.dat", cutEnvelope);
  files.writeAll(u"/d/creators.dat", longCreators);
  files.writeAll(u"/d/bytes.dat", longByteCreators);
  files.writeAll(u"/d/good.dat", good);
  struct Case {
    const char16_t* path;
    DataFileCode code;
  } cases[] = {
      {u"/d/missing.dat", DataFileCode::kCannotOpen},
      {u"/d/32.dat", DataFileCode::kInvalid},
      {u"/d/33.dat", DataFileCode::kInvalid},
      {u"/d/cut.dat", DataFileCode::kInvalid},
      {u"/d/creators.dat", DataFileCode::kInvalid},
      {u"/d/bytes.dat", DataFileCode::kInvalid},
      {u"/d/good.dat", DataFileCode::kOk},
  };
  for (const Case& c : cases) {
    DataFileHeader header;
    std::string section;
    EXPECT_EQ(readDataFile(files, c.path, &header, &section), c.code) << toUtf8(c.path);
  }
  EXPECT_EQ(dataFileMessage(DataFileCode::kCannotOpen, u"C:\\a.dat"),
            u"Cannot open file 'C:\\a.dat'.");
  EXPECT_EQ(dataFileMessage(DataFileCode::kCannotRead, u"x"), u"Cannot read data from file 'x'.");
  EXPECT_EQ(dataFileMessage(DataFileCode::kInvalid, u"x"),
            u"Data file 'x' is not a valid file format or corrupted.");
}

TEST(DataFile, WriteReplacesTheTargetOnlyWithACompleteFile) {
  MemoryFiles files;
  std::string section;
  appendDataRecord({0, 1, 1, Value::integer(5)}, &section);
  files.writeAll(u"/d/app.dat", "old");
  files.writeAll(u"/d/app.dat.tmp", "someone else's");
  std::string failure;
  ASSERT_TRUE(writeDataFile(files, u"/d/app.dat", DataFileHeader(), section, &failure));
  DataFileHeader header;
  std::string read;
  ASSERT_EQ(readDataFile(files, u"/d/app.dat", &header, &read), DataFileCode::kOk);
  EXPECT_EQ(read, section);
  EXPECT_EQ(files.files().at(u"/d/app.dat.tmp"), "someone else's");
  EXPECT_EQ(files.files().size(), 2u);

  // A disk that refuses writes, and a target that cannot be replaced, keep the old file and leave
  // nothing behind.
  files.writeAll(u"/d/app.dat", "old");
  files.setFailWrites(true);
  EXPECT_FALSE(writeDataFile(files, u"/d/app.dat", DataFileHeader(), section, &failure));
  EXPECT_EQ(failure, "cannot write /d/app.dat: the disk refused the write");
  files.setFailWrites(false);
  files.setReadOnly(u"/d/app.dat", true);
  EXPECT_FALSE(writeDataFile(files, u"/d/app.dat", DataFileHeader(), section, &failure));
  EXPECT_EQ(files.files().at(u"/d/app.dat"), "old");
  EXPECT_EQ(files.files().size(), 2u);
}

TEST(DataFile, ExecutablePathsBecomeDataPaths) {
  struct Case {
    std::u16string in, out;
  } cases[] = {
      {u"C:\\apps\\calc.exe", u"C:\\apps\\calc.dat"},
      {u"C:\\apps\\calc.EXE", u"C:\\apps\\calc.EXE"},
      {u"calc.exe.bak", u"calc.exe.bak"},
      {u".exe", u".dat"},
      {u"exe", u"exe"},
      {u"", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(dataPathForExecutable(c.in), c.out);
}

}  // namespace
}  // namespace korvel
