#include "model/envelope.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

namespace korvel {
namespace {

std::string randomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

uint32_t u32At(const std::string& s, size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[offset + i]);
  return v;
}

void setU32(std::string* s, size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*s)[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

TEST(Envelope, RoundTripsAndAppends) {
  const std::string contents[] = {"x", std::string("a\0b\0", 4), std::string(100000, 'z'),
                                  randomBytes(70000, 1)};
  for (const std::string& content : contents) {
    std::string envelope;
    ASSERT_TRUE(encodeEnvelope(content, &envelope));
    std::string target = "prefix";
    EXPECT_EQ(decodeEnvelope(envelope, &target), content.size());
    EXPECT_EQ(target, "prefix" + content);
  }
}

TEST(Envelope, HeaderIsLittleEndianWithTheTextMagic) {
  std::string envelope;
  ASSERT_TRUE(encodeEnvelope("hello hello hello", &envelope));
  EXPECT_EQ(envelope.substr(0, 4), std::string("ROZ\0", 4));
  EXPECT_EQ(u32At(envelope, 0), kEnvelopeMagic);
  EXPECT_EQ(u32At(envelope, 4), 24u);
  EXPECT_EQ(u32At(envelope, 8), 256u);
  EXPECT_EQ(u32At(envelope, 12), envelope.size() - 24);
  EXPECT_EQ(u32At(envelope, 16), 17u);
  EXPECT_EQ(u32At(envelope, 20), 0u);
  // A zlib header for window 15 at level 6.
  EXPECT_EQ(static_cast<unsigned char>(envelope[24]), 0x78);
  EXPECT_EQ(static_cast<unsigned char>(envelope[25]), 0x9C);
}

TEST(Envelope, AcceptsAnyConformingZlibStreamAndTrailingBytes) {
  // A body made by another writer with the same parameters, followed by unrelated bytes.
  const std::string content = randomBytes(5000, 2) + std::string(5000, 'q');
  std::string body(compressBound(content.size()), '\0');
  uLongf bodyLength = body.size();
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(body.data()), &bodyLength,
                      reinterpret_cast<const Bytef*>(content.data()), content.size(), 9),
            Z_OK);
  body.resize(bodyLength);
  std::string envelope(24, '\0');
  setU32(&envelope, 0, kEnvelopeMagic);
  setU32(&envelope, 4, 24);
  setU32(&envelope, 8, 256);
  setU32(&envelope, 12, static_cast<uint32_t>(body.size()));
  setU32(&envelope, 16, static_cast<uint32_t>(content.size()));
  envelope += body + "trailing";
  std::string target;
  EXPECT_EQ(decodeEnvelope(envelope, &target), content.size());
  EXPECT_EQ(target, content);
}

TEST(Envelope, EmptyContentEncodesToAnEnvelopeOfNothing) {
  std::string envelope;
  ASSERT_TRUE(encodeEnvelope("", &envelope));
  EXPECT_EQ(u32At(envelope, 16), 0u);
  std::string target = "keep";
  EXPECT_EQ(decodeEnvelope(envelope, &target), 0u);
  EXPECT_EQ(target, "keep");
}

TEST(Envelope, RejectsDamagedEnvelopesWithoutTouchingTheTarget) {
  const std::string content = randomBytes(3000, 3) + std::string(3000, 'k');
  std::string good;
  ASSERT_TRUE(encodeEnvelope(content, &good));
  const uint32_t body = static_cast<uint32_t>(good.size() - 24);
  struct Case {
    const char* name;
    size_t offset;  // field to overwrite, or npos to leave the header alone
    uint32_t value;
    size_t keep;  // bytes of the envelope kept (npos: all)
  };
  const size_t all = std::string::npos;
  const Case cases[] = {
      {"numeric magic", 0, 0x00485A44u, all},
      {"zero magic", 0, 0, all},
      {"header length 20", 4, 20, all},
      {"header length 25", 4, 25, all},
      {"body length 0", 12, 0, all},
      {"body longer than the bytes", 12, body + 1, all},
      {"content length 0", 16, 0, all},
      {"content one short", 16, static_cast<uint32_t>(content.size() - 1), all},
      {"content one long", 16, static_cast<uint32_t>(content.size() + 1), all},
      {"absurd content length", 16, 0xFFFFFFFFu, all},
      {"beyond the compression ratio", 16, body * 1033, all},
      {"truncated body", all, 0, good.size() - 1},
      {"header only", all, 0, 24},
      {"short header", all, 0, 23},
      {"nothing", all, 0, 0},
  };
  for (const Case& c : cases) {
    std::string bad = good.substr(0, c.keep);
    if (c.offset != all) setU32(&bad, c.offset, c.value);
    std::string target = "keep";
    EXPECT_EQ(decodeEnvelope(bad, &target), 0u) << c.name;
    EXPECT_EQ(target, "keep") << c.name;
  }
  // A damaged body fails its checksum.
  std::string flipped = good;
  flipped[24 + 200] ^= 0x40;
  std::string target;
  EXPECT_EQ(decodeEnvelope(flipped, &target), 0u);
  EXPECT_TRUE(target.empty());
}

TEST(Envelope, TruncatedInputIsNeverReadPast) {
  // Every prefix of a good envelope is refused; under the address sanitizer this also shows
  // that no byte past the prefix is read (the prefix is copied to a buffer of its own size).
  std::string good;
  ASSERT_TRUE(encodeEnvelope(randomBytes(600, 4), &good));
  for (size_t n = 0; n < good.size(); ++n) {
    std::unique_ptr<char[]> exact(new char[n + 1]);
    std::copy(good.begin(), good.begin() + n, exact.get());
    std::string target;
    EXPECT_EQ(decodeEnvelope(std::string_view(exact.get(), n), &target), 0u) << n;
  }
}

TEST(Envelope, SplitsASequenceAndNamesTheOffsetOfDamage) {
  std::string a, b;
  ASSERT_TRUE(encodeEnvelope("first chunk", &a));
  ASSERT_TRUE(encodeEnvelope(randomBytes(3000, 9), &b));
  std::vector<std::string_view> pieces;
  std::string error;
  const std::string sequence = a + b;  // the pieces point into it
  ASSERT_TRUE(splitEnvelopes(sequence, &pieces, &error));
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0], a);
  EXPECT_EQ(pieces[1], b);
  EXPECT_TRUE(splitEnvelopes("", &pieces, &error));
  EXPECT_TRUE(pieces.empty());

  struct Case {
    std::string bytes;
    const char* message;
  } bad[] = {
      {a + "junk", "no chunk envelope at byte offset "},
      {a + b.substr(0, b.size() - 1), "runs past the end"},
      {a.substr(0, 10), "no chunk envelope at byte offset 0"},
  };
  for (const auto& c : bad) {
    EXPECT_FALSE(splitEnvelopes(c.bytes, &pieces, &error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace korvel
