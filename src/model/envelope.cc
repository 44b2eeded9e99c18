#include "model/envelope.h"

#include <zlib.h>

namespace korvel {
namespace {

void putU32(char* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint32_t getU32(std::string_view bytes, size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[offset + i]);
  return v;
}

}  // namespace

bool encodeEnvelope(std::string_view content, std::string* out) {
  out->clear();
  if (content.size() > kEnvelopeMaxContentLength) return false;
  uLongf bodyLength = compressBound(static_cast<uLong>(content.size()));
  out->resize(kEnvelopeHeaderLength + bodyLength);
  int rc = compress2(reinterpret_cast<Bytef*>(out->data() + kEnvelopeHeaderLength), &bodyLength,
                     reinterpret_cast<const Bytef*>(content.data()),
                     static_cast<uLong>(content.size()), kEnvelopeCompressionLevel);
  if (rc != Z_OK) {
    out->clear();
    return false;
  }
  out->resize(kEnvelopeHeaderLength + bodyLength);
  char* header = out->data();
  putU32(header + kEnvelopeMagicOffset, kEnvelopeMagic);
  putU32(header + kEnvelopeHeaderLengthOffset, kEnvelopeHeaderLength);
  putU32(header + kEnvelopeFormatOffset, kEnvelopeFormatWord);
  putU32(header + kEnvelopeBodyLengthOffset, static_cast<uint32_t>(bodyLength));
  putU32(header + kEnvelopeContentLengthOffset, static_cast<uint32_t>(content.size()));
  putU32(header + kEnvelopeReservedOffset, 0);
  return true;
}

size_t decodeEnvelope(std::string_view stored, std::string* target) {
  if (stored.size() < kEnvelopeHeaderLength) return 0;
  if (getU32(stored, kEnvelopeMagicOffset) != kEnvelopeMagic) return 0;
  if (getU32(stored, kEnvelopeHeaderLengthOffset) != kEnvelopeHeaderLength) return 0;
  // The format word and the reserved word are not checked: writers have always put 256 and 0
  // there, and nothing depends on them.
  uint32_t bodyLength = getU32(stored, kEnvelopeBodyLengthOffset);
  uint32_t contentLength = getU32(stored, kEnvelopeContentLengthOffset);
  if (bodyLength == 0 || contentLength == 0) return 0;
  if (bodyLength > stored.size() - kEnvelopeHeaderLength) return 0;
  if (contentLength > kEnvelopeMaxContentLength) return 0;
  if (contentLength > uint64_t{bodyLength} * kEnvelopeMaxRatio) return 0;

  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return 0;
  const size_t before = target->size();
  target->resize(before + contentLength);
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stored.data() + kEnvelopeHeaderLength));
  zs.avail_in = bodyLength;
  zs.next_out = reinterpret_cast<Bytef*>(target->data() + before);
  zs.avail_out = contentLength;
  int rc = inflate(&zs, Z_FINISH);
  // The stream must end exactly at the content length: a body that inflates to more or to less
  // is not the content the header announces, and half of it is worse than none to a loader.
  bool ok = rc == Z_STREAM_END && zs.total_out == contentLength;
  inflateEnd(&zs);
  if (!ok) {
    target->resize(before);
    return 0;
  }
  return contentLength;
}

bool splitEnvelopes(std::string_view bytes, std::vector<std::string_view>* pieces,
                    std::string* error) {
  pieces->clear();
  size_t offset = 0;
  while (offset < bytes.size()) {
    std::string_view rest = bytes.substr(offset);
    if (rest.size() < kEnvelopeHeaderLength ||
        getU32(rest, kEnvelopeMagicOffset) != kEnvelopeMagic ||
        getU32(rest, kEnvelopeHeaderLengthOffset) != kEnvelopeHeaderLength) {
      *error = "no chunk envelope at byte offset " + std::to_string(offset);
      return false;
    }
    uint64_t length = uint64_t{kEnvelopeHeaderLength} + getU32(rest, kEnvelopeBodyLengthOffset);
    if (length > rest.size()) {
      *error = "the chunk envelope at byte offset " + std::to_string(offset) +
               " runs past the end of the data";
      return false;
    }
    pieces->push_back(rest.substr(0, size_t(length)));
    offset += size_t(length);
  }
  return true;
}

}  // namespace korvel
