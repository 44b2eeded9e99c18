// The chunk envelope: the stored form of one piece of content, a 24-byte header followed by a
// zlib stream. The launcher writes the model's chunks in this form, and the runtime writes it for
// the resources of a saved application. docs/chunk_envelope.md describes the format.
#ifndef KORVEL_MODEL_ENVELOPE_H_
#define KORVEL_MODEL_ENVELOPE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// The bytes 'R', 'O', 'Z', 0 read as a little-endian u32.
inline constexpr uint32_t kEnvelopeMagic = 0x005A4F52u;
inline constexpr uint32_t kEnvelopeHeaderLength = 24;
inline constexpr uint32_t kEnvelopeFormatWord = 256;
// Header field offsets.
inline constexpr size_t kEnvelopeMagicOffset = 0;
inline constexpr size_t kEnvelopeHeaderLengthOffset = 4;
inline constexpr size_t kEnvelopeFormatOffset = 8;
inline constexpr size_t kEnvelopeBodyLengthOffset = 12;
inline constexpr size_t kEnvelopeContentLengthOffset = 16;
inline constexpr size_t kEnvelopeReservedOffset = 20;
// Compression of the body: zlib wrapper, window 15 bits, memory level 8, default strategy.
inline constexpr int kEnvelopeCompressionLevel = 6;
// Deflate never expands data more than 1032-fold, so a content length above 1032 times the body
// length cannot be honest; decoding refuses it before allocating anything.
inline constexpr uint64_t kEnvelopeMaxRatio = 1032;
// No chunk the runtime handles comes near this; larger content lengths are refused.
inline constexpr uint32_t kEnvelopeMaxContentLength = 1u << 30;

// Wraps the content into an envelope, replacing *out. False (out empty) when the content is longer
// than kEnvelopeMaxContentLength or compression fails. Empty content gives an envelope with
// content length 0, which decodes to nothing, as it should.
bool encodeEnvelope(std::string_view content, std::string* out);

// Decodes an envelope and appends its content to *target; returns the number of bytes appended.
// Appends nothing and returns 0 unless the magic is right, the header length is 24, body and
// content length are not 0, the body lies inside `stored`, the content length is plausible, and
// the body inflates to exactly content-length bytes. Never reads outside `stored`.
size_t decodeEnvelope(std::string_view stored, std::string* target);

// Cuts a sequence of envelopes stored back to back (a .kvm file, a resource) into the single
// envelopes, by their header and body lengths; the pieces point into bytes. False, with *error
// naming the byte offset, when the bytes at some offset are not an envelope header or a body runs
// past the end. Empty bytes are an empty sequence.
bool splitEnvelopes(std::string_view bytes, std::vector<std::string_view>* pieces,
                    std::string* error);

}  // namespace korvel

#endif  // KORVEL_MODEL_ENVELOPE_H_
