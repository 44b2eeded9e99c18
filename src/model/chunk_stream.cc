#include "model/chunk_stream.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <random>
#include <system_error>
#include <type_traits>

#include "model/envelope.h"
#include "util/text.h"

namespace korvel {

FileError::FileError(std::u16string message)
    : std::runtime_error(toUtf8(message)), message_(std::move(message)) {}

size_t MemoryChunk::load(std::string* target) const { return decodeEnvelope(envelope_, target); }

size_t ViewChunk::load(std::string* target) const { return decodeEnvelope(envelope_, target); }

SpillChunk::~SpillChunk() { discard(); }

void SpillChunk::discard() {
  if (!path_.empty() && files_.exists(path_)) files_.remove(path_);
  path_.clear();
  envelope_.clear();
}

void SpillChunk::store(std::string_view content) {
  discard();
  std::string envelope;
  // zlib fails only when it runs out of memory (or for content beyond any chunk's size); a chunk
  // silently left empty would cut a hole into a saved model, so this is reported as out of memory.
  if (!encodeEnvelope(content, &envelope)) throw std::bad_alloc();
  if (content.size() <= kMemoryLimit) {
    envelope_ = std::move(envelope);
    return;
  }
  // Exclusive creation: a name that exists (ours from before, or a file planted in the shared
  // temporary directory) is never opened, only replaced by a fresh draw.
  std::u16string path;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    path = files_.temporaryDirectory() + drawTemporaryName();
    Files::Created created = files_.createExclusive(path, envelope);
    if (created == Files::Created::kOk) {
      path_ = std::move(path);
      return;
    }
    if (created == Files::Created::kFailed) break;
  }
  throw FileError(u"Cannot open file \"" + path + u"\"");
}

size_t SpillChunk::load(std::string* target) const {
  if (path_.empty()) return decodeEnvelope(envelope_, target);
  std::string envelope;
  if (!files_.readAll(path_, &envelope)) return 0;
  return decodeEnvelope(envelope, target);
}

std::string SpillChunk::storedEnvelope() const {
  if (path_.empty()) return envelope_;
  std::string envelope;
  files_.readAll(path_, &envelope);
  return envelope;
}

std::u16string drawTemporaryName() {
  static constexpr char16_t kAlphabet[] = u"0123456789abcdefghijklmnopqrstuvwxyz";
  std::random_device source;
  std::uniform_int_distribution<int> pick(0, 35);
  std::u16string name;
  while (name.size() < 10) {
    char16_t c = kAlphabet[pick(source)];
    if (name.empty() && c <= u'9') continue;
    if (name.size() >= 2 && c == name[name.size() - 2]) continue;
    name.push_back(c);
  }
  return name;
}

ChunkStream::ChunkStream() : kind_(Kind::kMemory) {}

ChunkStream::ChunkStream(Files& files, bool writing)
    : kind_(Kind::kSpill), files_(&files), writing_(writing) {}

std::unique_ptr<Chunk> ChunkStream::createChunk() const {
  if (kind_ == Kind::kSpill) return std::make_unique<SpillChunk>(*files_);
  return std::make_unique<MemoryChunk>();
}

void ChunkStream::appendChunk(std::string_view bytes) {
  std::unique_ptr<Chunk> chunk = createChunk();
  chunk->store(bytes);
  chunks_.push_back(std::move(chunk));
}

void ChunkStream::appendEnvelopeView(std::string_view envelope) {
  auto chunk = std::make_unique<ViewChunk>();
  chunk->store(envelope);
  chunks_.push_back(std::move(chunk));
}

bool ChunkStream::ensure(size_t n) {
  if (position_ < buffer_.size() && available() >= n) return true;
  if (nextChunk_ < chunks_.size()) {
    buffer_.erase(0, position_);
    position_ = 0;
    if (prefetch_.valid()) {
      std::string content = prefetch_.get();  // rethrows what the decoding threw
      if (buffer_.empty()) {
        buffer_ = std::move(content);
      } else {
        buffer_ += content;
      }
    } else {
      chunks_[nextChunk_]->load(&buffer_);
    }
    ++nextChunk_;
    startPrefetch();
  }
  return available() >= n;
}

size_t ChunkStream::peek(size_t n, void* destination) {
  if (n == 0 || !ensure(n)) return 0;
  if (destination) std::memcpy(destination, buffer_.data() + position_, n);
  return n;
}

size_t ChunkStream::read(size_t n, void* destination) {
  if (peek(n, destination) != n || n == 0) return 0;
  position_ += n;
  total_ += n;
  return n;
}

size_t ChunkStream::readUtf16(size_t count, std::u16string* out) {
  out->clear();
  if (count == 0 || !ensure(2 * count)) return 0;
  out->resize(count);
  const char* p = buffer_.data() + position_;
  for (size_t i = 0; i < count; ++i) {
    (*out)[i] = static_cast<char16_t>(static_cast<unsigned char>(p[2 * i]) |
                                      static_cast<unsigned char>(p[2 * i + 1]) << 8);
  }
  position_ += 2 * count;
  total_ += 2 * count;
  return 2 * count;
}

template <class T>
bool ChunkStream::readLittleEndian(T* value, bool advance) {
  using U = std::make_unsigned_t<std::conditional_t<std::is_same_v<T, double>, uint64_t, T>>;
  unsigned char bytes[sizeof(T)];
  if ((advance ? read(sizeof(T), bytes) : peek(sizeof(T), bytes)) != sizeof(T)) return false;
  U bits = 0;
  for (size_t i = sizeof(T); i-- > 0;) bits = static_cast<U>((bits << 8) | bytes[i]);
  *value = std::bit_cast<T>(bits);
  return true;
}

bool ChunkStream::readU8(uint8_t* value) { return readLittleEndian(value, true); }
bool ChunkStream::readU16(uint16_t* value) { return readLittleEndian(value, true); }
bool ChunkStream::readI16(int16_t* value) { return readLittleEndian(value, true); }
bool ChunkStream::readU32(uint32_t* value) { return readLittleEndian(value, true); }
bool ChunkStream::readI32(int32_t* value) { return readLittleEndian(value, true); }
bool ChunkStream::readF64(double* value) { return readLittleEndian(value, true); }
bool ChunkStream::peekU16(uint16_t* value) { return readLittleEndian(value, false); }
bool ChunkStream::peekU32(uint32_t* value) { return readLittleEndian(value, false); }

void ChunkStream::appendBytes(const char* bytes, size_t n) {
  buffer_.append(bytes, n);
  total_ += n;
  pendingWrites_ = true;
}

void ChunkStream::append(const void* bytes, size_t n) {
  appendBytes(static_cast<const char*>(bytes), n);
  if (buffer_.size() > kFlushThreshold) flush();
}

void ChunkStream::writeU8(uint8_t value) { append(&value, 1); }

void ChunkStream::writeU16(uint16_t value) {
  char bytes[2] = {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
  append(bytes, 2);
}

void ChunkStream::writeU32(uint32_t value) {
  char bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  append(bytes, 4);
}

void ChunkStream::writeF64(double value) {
  uint64_t bits = std::bit_cast<uint64_t>(value);
  char bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  append(bytes, 8);
}

void ChunkStream::writeUtf16(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(2 * text.size());
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  append(bytes);
}

size_t ChunkStream::flush() {
  // Only written bytes become a chunk: after reading, the buffer holds content that a chunk
  // already stores, and cutting it again would duplicate it.
  if (pendingWrites_ && !buffer_.empty()) {
    if (kind_ == Kind::kMemory) {
      // A memory chunk keeps envelopes; content written here must be wrapped first, or it would
      // be stored as an envelope it is not and read back as nothing.
      std::string envelope;
      if (!encodeEnvelope(buffer_, &envelope)) throw std::bad_alloc();
      appendChunk(envelope);
    } else {
      appendChunk(buffer_);
    }
    buffer_.clear();
    position_ = 0;
  }
  pendingWrites_ = false;
  return chunks_.size();
}

void ChunkStream::startPrefetch() {
  if (writing_ || nextChunk_ >= chunks_.size() || !chunks_[nextChunk_]->selfContained()) return;
  const Chunk* chunk = chunks_[nextChunk_].get();
  try {
    prefetch_ = std::async(std::launch::async, [chunk] {
      std::string content;
      chunk->load(&content);
      return content;
    });
  } catch (const std::system_error&) {
    // No thread to be had: the chunk is decoded when it is reached, as without prefetching.
  }
}

void ChunkStream::rewind() {
  // A decoding under way is for the old position; it is waited for and dropped.
  prefetch_ = std::future<std::string>();
  if (pendingWrites_) flush();
  buffer_.clear();
  position_ = 0;
  nextChunk_ = 0;
}

size_t ChunkStream::appendStream(ChunkStream& source) {
  const uint64_t before = total_;
  source.rewind();
  while (source.nextChunk_ < source.chunks_.size()) {
    source.ensure(1);
    std::string_view piece(source.buffer_);
    piece.remove_prefix(source.position_);
    source.total_ += piece.size();
    while (!piece.empty()) {
      size_t slice = std::min(piece.size(), kSliceLength - std::min(buffer_.size(), kSliceLength));
      if (slice == 0) {
        flush();
        continue;
      }
      appendBytes(piece.data(), slice);
      piece.remove_prefix(slice);
      if (buffer_.size() > kFlushThreshold) flush();
    }
    source.position_ = source.buffer_.size();
  }
  return static_cast<size_t>(total_ - before);
}

}  // namespace korvel
