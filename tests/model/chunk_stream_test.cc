#include "model/chunk_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "hosts/headless/disk_files.h"
#include "hosts/headless/memory_files.h"
#include "model/envelope.h"
#include "tests/scratch_directory.h"
#include "util/text.h"

namespace korvel {
namespace {

std::string envelopeOf(std::string_view content) {
  std::string envelope;
  EXPECT_TRUE(encodeEnvelope(content, &envelope));
  return envelope;
}

// A delivery stream holding one envelope per piece.
std::unique_ptr<ChunkStream> deliveryOf(std::initializer_list<std::string_view> pieces) {
  auto stream = std::make_unique<ChunkStream>();
  for (std::string_view piece : pieces) stream->appendChunk(envelopeOf(piece));
  return stream;
}

std::string readAll(ChunkStream& stream) {
  std::string all;
  char c;
  while (stream.read(1, &c) == 1) all.push_back(c);
  return all;
}

// Content that compresses well but is not one long run.
std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 1000) % 26);
  return s;
}

TEST(ChunkStreamRead, EmptyStreamReadsNothingAndLeavesDestinationsAlone) {
  ChunkStream stream;
  EXPECT_FALSE(stream.hasUnread());
  char bytes[4] = {'w', 'x', 'y', 'z'};
  EXPECT_EQ(stream.read(4, bytes), 0u);
  EXPECT_EQ(stream.peek(1, bytes), 0u);
  EXPECT_EQ(std::string(bytes, 4), "wxyz");
  uint32_t u32 = 7;
  double f64 = 1.5;
  EXPECT_FALSE(stream.readU32(&u32));
  EXPECT_FALSE(stream.readF64(&f64));
  EXPECT_EQ(u32, 7u);
  EXPECT_EQ(f64, 1.5);
  std::u16string text = u"old";
  EXPECT_EQ(stream.readUtf16(3, &text), 0u);
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(stream.total(), 0u);
}

TEST(ChunkStreamRead, RecordStraddlingOneBoundaryIsRead) {
  const std::string record = "0123456789abcdefghijklmnopqrstuvwxyzABCD";  // 40 bytes
  auto stream = deliveryOf({"head" + record.substr(0, 10), record.substr(10) + "tail"});
  char head[4];
  ASSERT_EQ(stream->read(4, head), 4u);
  char got[40];
  ASSERT_EQ(stream->read(40, got), 40u);
  EXPECT_EQ(std::string(got, 40), record);
  EXPECT_EQ(readAll(*stream), "tail");
  EXPECT_EQ(stream->total(), 48u);
  EXPECT_FALSE(stream->hasUnread());
}

TEST(ChunkStreamRead, OneChunkPerEnsureAndTheUnreadTailIsKept) {
  auto stream = deliveryOf({"aaaa", "bb", "cccc"});
  char c;
  ASSERT_EQ(stream->read(1, &c), 1u);
  char got[8];
  // Eight bytes need two more chunks; only one is loaded, so the read comes up short and
  // changes nothing it can be seen by.
  EXPECT_EQ(stream->read(8, got), 0u);
  EXPECT_EQ(stream->total(), 1u);
  ASSERT_EQ(stream->read(5, got), 5u);
  EXPECT_EQ(std::string(got, 5), "aaabb");
  EXPECT_EQ(readAll(*stream), "cccc");
}

TEST(ChunkStreamRead, DamagedChunkContributesNothing) {
  ChunkStream stream;
  stream.appendChunk(envelopeOf("one"));
  stream.appendChunk("not an envelope at all, just bytes");
  stream.appendChunk(envelopeOf("two"));
  // The read that reaches the damaged chunk comes up short; the next one goes on with "two".
  EXPECT_EQ(readAll(stream), "one");
  EXPECT_TRUE(stream.hasUnread());
  EXPECT_EQ(readAll(stream), "two");
  EXPECT_EQ(stream.total(), 6u);
}

TEST(ChunkStreamRead, LittleEndianFieldsPeekAndShortReads) {
  const std::string bytes(
      "\x01\x34\x12\xFE\xFF\x78\x56\x34\x12\xFE\xFF\xFF\xFF"
      "\x00\x00\x00\x00\x00\x00\xF8\x3F\x09",
      22);
  auto stream = deliveryOf({bytes});
  uint8_t u8 = 0;
  uint16_t u16 = 0;
  int16_t i16 = 0;
  uint32_t u32 = 0;
  int32_t i32 = 0;
  double f64 = 0;
  EXPECT_TRUE(stream->readU8(&u8));
  EXPECT_TRUE(stream->peekU16(&u16));
  EXPECT_EQ(u16, 0x1234);
  u16 = 0;
  EXPECT_TRUE(stream->readU16(&u16));
  EXPECT_TRUE(stream->readI16(&i16));
  EXPECT_TRUE(stream->peekU32(&u32));
  EXPECT_TRUE(stream->readU32(&u32));
  EXPECT_TRUE(stream->readI32(&i32));
  EXPECT_TRUE(stream->readF64(&f64));
  EXPECT_EQ(u8, 1);
  EXPECT_EQ(u16, 0x1234);
  EXPECT_EQ(i16, -2);
  EXPECT_EQ(u32, 0x12345678u);
  EXPECT_EQ(i32, -2);
  EXPECT_EQ(f64, 1.5);
  EXPECT_EQ(stream->total(), 21u);
  // One byte left: a four-byte field is refused and the byte is still there.
  u32 = 99;
  EXPECT_FALSE(stream->readU32(&u32));
  EXPECT_EQ(u32, 99u);
  EXPECT_TRUE(stream->readU8(&u8));
  EXPECT_EQ(u8, 9);
}

TEST(ChunkStreamRead, Utf16CountsKeepZerosAndRefuseShortText) {
  auto stream = deliveryOf({std::string("A\0\0\0\xAC\x20Z", 7)});
  std::u16string text = u"old";
  EXPECT_EQ(stream->readUtf16(0, &text), 0u);
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(stream->total(), 0u);
  EXPECT_EQ(stream->readUtf16(4, &text), 0u);  // 8 bytes asked, 7 there
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(stream->readUtf16(3, &text), 6u);
  EXPECT_EQ(text, std::u16string(u"A\0\u20AC", 3));
  EXPECT_EQ(readAll(*stream), "Z");
}

TEST(ChunkStreamWrite, FlushesOnlyPastTheThreshold) {
  MemoryFiles files;
  struct Case {
    size_t length;
    size_t chunksAtOnce;
  } cases[] = {{10485759, 0}, {10485760, 1}};
  for (const Case& c : cases) {
    ChunkStream stream(files);
    stream.append(std::string(c.length, 'r'));
    EXPECT_EQ(stream.chunkCount(), c.chunksAtOnce) << c.length;
    EXPECT_EQ(stream.flush(), 1u);
    EXPECT_EQ(stream.flush(), 1u);  // nothing left to flush
    EXPECT_EQ(stream.total(), c.length);
    std::string content;
    EXPECT_EQ(stream.chunk(0).load(&content), c.length);
  }
  EXPECT_TRUE(files.files().empty());  // both streams and their temporary files are gone
}

TEST(ChunkStreamWrite, FieldsRoundTripThroughARewind) {
  MemoryFiles files;
  ChunkStream stream(files);
  stream.writeU8(0xAB);
  stream.writeU16(0xBEEF);
  stream.writeI16(-300);
  stream.writeU32(0xDEADBEEF);
  stream.writeI32(-70000);
  stream.writeF64(-2.25);
  stream.writeUtf16(std::u16string(u"x\0\u00E9", 3));
  stream.rewind();
  EXPECT_EQ(stream.chunkCount(), 1u);
  uint8_t u8;
  uint16_t u16;
  int16_t i16;
  uint32_t u32;
  int32_t i32;
  double f64;
  std::u16string text;
  ASSERT_TRUE(stream.readU8(&u8) && stream.readU16(&u16) && stream.readI16(&i16) &&
              stream.readU32(&u32) && stream.readI32(&i32) && stream.readF64(&f64));
  EXPECT_EQ(stream.readUtf16(3, &text), 6u);
  EXPECT_EQ(u8, 0xAB);
  EXPECT_EQ(u16, 0xBEEF);
  EXPECT_EQ(i16, -300);
  EXPECT_EQ(u32, 0xDEADBEEFu);
  EXPECT_EQ(i32, -70000);
  EXPECT_EQ(f64, -2.25);
  EXPECT_EQ(text, std::u16string(u"x\0\u00E9", 3));
  EXPECT_FALSE(stream.hasUnread());
}

TEST(ChunkStreamWrite, MemoryKindWrapsWhatItFlushes) {
  // Raw content flushed into a memory chunk would be stored as an envelope it is not and read
  // back as nothing; the stream wraps it instead.
  ChunkStream stream;
  stream.append("written in memory");
  EXPECT_EQ(stream.flush(), 1u);
  std::string envelope = stream.chunk(0).storedEnvelope();
  EXPECT_EQ(envelope.substr(0, 4), std::string("ROZ\0", 4));
  stream.rewind();
  EXPECT_EQ(readAll(stream), "written in memory");
}

TEST(ChunkStreamAppendStream, CopiesChunksAndPendingBytes) {
  MemoryFiles files;
  ChunkStream source(files);
  source.appendChunk("abc");
  source.appendChunk("defg");
  source.append("hi");
  ChunkStream target(files);
  target.append("01");
  EXPECT_EQ(target.appendStream(source), 9u);
  EXPECT_EQ(target.total(), 11u);
  EXPECT_EQ(source.chunkCount(), 3u);  // its pending bytes were flushed first
  EXPECT_EQ(target.flush(), 1u);
  target.rewind();
  EXPECT_EQ(readAll(target), "01abcdefghi");
  // A copy from a delivery stream that was partly read starts from its beginning.
  auto delivery = deliveryOf({"xyz", "w"});
  char c;
  delivery->read(1, &c);
  ChunkStream again(files);
  EXPECT_EQ(again.appendStream(*delivery), 4u);
  again.rewind();
  EXPECT_EQ(readAll(again), "xyzw");
}

TEST(ChunkStreamWrite, RereadingAWrittenStreamKeepsItsChunks) {
  // Regression: rewinding or copying a written stream after reading it cut the content just
  // read into one more chunk, so every further read saw it twice.
  MemoryFiles files;
  ChunkStream stream(files);
  stream.append("model content");
  stream.rewind();
  EXPECT_EQ(readAll(stream), "model content");
  stream.rewind();
  EXPECT_EQ(stream.chunkCount(), 1u);
  EXPECT_EQ(readAll(stream), "model content");
  EXPECT_EQ(stream.flush(), 1u);
  ChunkStream copy(files);
  copy.appendStream(stream);
  copy.appendStream(stream);
  copy.rewind();
  EXPECT_EQ(stream.chunkCount(), 1u);
  EXPECT_EQ(readAll(copy), "model contentmodel content");
}

TEST(ChunkStreamAppendStream, SlicesAtTheChunkLimit) {
  MemoryFiles files;
  const std::string big = pattern(ChunkStream::kSliceLength);
  ChunkStream source(files);
  source.appendChunk(big);
  ChunkStream target(files);
  target.append("12345");
  EXPECT_EQ(target.appendStream(source), big.size());
  ASSERT_EQ(target.chunkCount(), 1u);
  std::string first;
  EXPECT_EQ(target.chunk(0).load(&first), ChunkStream::kSliceLength);
  EXPECT_EQ(first, "12345" + big.substr(0, big.size() - 5));
  EXPECT_EQ(target.flush(), 2u);
  std::string second;
  EXPECT_EQ(target.chunk(1).load(&second), 5u);
  EXPECT_EQ(second, big.substr(big.size() - 5));
}

class ChunkSpill : public ::testing::Test {
 protected:
  MemoryFiles files_;
};

TEST_F(ChunkSpill, ContentUpToTheLimitStaysInMemory) {
  const std::string content = pattern(SpillChunk::kMemoryLimit);
  SpillChunk chunk(files_);
  chunk.store(content);
  EXPECT_TRUE(chunk.path().empty());
  EXPECT_TRUE(files_.files().empty());
  std::string loaded;
  EXPECT_EQ(chunk.load(&loaded), content.size());
  EXPECT_EQ(loaded, content);
  EXPECT_EQ(chunk.storedEnvelope(), envelopeOf(content));
}

TEST_F(ChunkSpill, LongerContentGoesToAFileThatDiesWithTheChunk) {
  const std::string content = pattern(SpillChunk::kMemoryLimit + 1);
  {
    SpillChunk chunk(files_);
    chunk.store(content);
    ASSERT_EQ(files_.files().size(), 1u);
    const std::u16string& path = chunk.path();
    EXPECT_EQ(path.substr(0, 5), u"/tmp/");
    EXPECT_EQ(path.size(), 15u);
    EXPECT_EQ(chunk.storedEnvelope(), files_.files().at(path));
    std::string loaded;
    EXPECT_EQ(chunk.load(&loaded), content.size());
    EXPECT_EQ(loaded, content);
    // Storing again replaces the file.
    chunk.store(content);
    EXPECT_EQ(files_.files().size(), 1u);
  }
  EXPECT_TRUE(files_.files().empty());
}

TEST_F(ChunkSpill, VanishedFileDecodesToNothing) {
  SpillChunk chunk(files_);
  chunk.store(pattern(SpillChunk::kMemoryLimit + 1));
  ASSERT_TRUE(files_.remove(chunk.path()));
  std::string loaded = "keep";
  EXPECT_EQ(chunk.load(&loaded), 0u);
  EXPECT_EQ(loaded, "keep");
  EXPECT_TRUE(chunk.storedEnvelope().empty());
}

// Answers "exists" for the first `taken` creations, as if those names were already in use.
class TakenNamesFiles : public MemoryFiles {
 public:
  explicit TakenNamesFiles(int taken) : taken_(taken) {}
  Created createExclusive(const std::u16string& path, std::string_view bytes) override {
    tried.push_back(path);
    if (taken_-- > 0) return Created::kExists;
    return MemoryFiles::createExclusive(path, bytes);
  }
  std::vector<std::u16string> tried;

 private:
  int taken_;
};

TEST_F(ChunkSpill, TakenNamesAreDrawnAgain) {
  TakenNamesFiles files(3);
  SpillChunk chunk(files);
  chunk.store(pattern(SpillChunk::kMemoryLimit + 1));
  ASSERT_EQ(files.tried.size(), 4u);
  EXPECT_EQ(chunk.path(), files.tried.back());
  EXPECT_EQ(files.files().size(), 1u);
}

TEST_F(ChunkSpill, CreationFailuresRaiseTheFileError) {
  TakenNamesFiles allTaken(1000);
  MemoryFiles refusing;
  refusing.setFailWrites(true);
  Files* cases[] = {&allTaken, &refusing};
  for (Files* files : cases) {
    SpillChunk chunk(*files);
    try {
      chunk.store(pattern(SpillChunk::kMemoryLimit + 1));
      ADD_FAILURE() << "no exception";
    } catch (const FileError& e) {
      const std::u16string& m = e.message();
      ASSERT_EQ(m.size(), std::u16string(u"Cannot open file \"/tmp/0123456789\"").size());
      EXPECT_EQ(m.substr(0, 23), u"Cannot open file \"/tmp/");
      EXPECT_EQ(m.back(), u'"');
      EXPECT_EQ(std::string(e.what()), toUtf8(m));
    }
    EXPECT_TRUE(chunk.path().empty());
  }
  EXPECT_EQ(allTaken.tried.size(), static_cast<size_t>(SpillChunk::kNameAttempts));
  // A writer stream passes the error on from its flush.
  ChunkStream stream(refusing);
  EXPECT_THROW(stream.append(pattern(ChunkStream::kSliceLength)), FileError);
}

TEST(ChunkTemporaryName, FollowsTheNamingRule) {
  for (int i = 0; i < 2000; ++i) {
    std::u16string name = drawTemporaryName();
    ASSERT_EQ(name.size(), 10u);
    EXPECT_TRUE(name[0] >= u'a' && name[0] <= u'z') << toUtf8(name);
    for (size_t k = 0; k < name.size(); ++k) {
      char16_t c = name[k];
      ASSERT_TRUE((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z')) << toUtf8(name);
      if (k >= 2) {
        ASSERT_NE(c, name[k - 2]) << toUtf8(name);
      }
    }
  }
  EXPECT_NE(drawTemporaryName(), drawTemporaryName());
}

TEST(ChunkStreamDisk, SpillsToRealFilesAndRemovesThem) {
  std::filesystem::path dir = makeScratchDirectory("korvel-chunks");
  DiskFiles files(fromUtf8(dir.string()));
  const std::string content = pattern(ChunkStream::kSliceLength + 300000);
  {
    ChunkStream stream(files);
    stream.append(content);
    ASSERT_EQ(stream.chunkCount(), 1u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
    stream.rewind();
    std::string back(content.size(), '\0');
    ASSERT_EQ(stream.read(back.size(), back.data()), back.size());
    EXPECT_TRUE(back == content);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace korvel
