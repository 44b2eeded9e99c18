// ChunkStream: the byte reader and writer of every stored record. Read side: sequential
// little-endian access over the decoded content of a list of chunk envelopes, decoded one chunk
// at a time. Write side: a growing byte string cut into chunks of about 10 MB, which spill to
// temporary files when large.
//
// REQUIRES: streams and chunks are used only on the thread that handles host commands.
#ifndef KORVEL_MODEL_CHUNK_STREAM_H_
#define KORVEL_MODEL_CHUNK_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace korvel {

// A write step's file could not be created. The message is the text shown to the user.
class FileError : public std::runtime_error {
 public:
  explicit FileError(std::u16string message);
  const std::u16string& message() const { return message_; }

 private:
  std::u16string message_;
};

// The stored form of one piece of content.
class Chunk {
 public:
  virtual ~Chunk() = default;
  // Keeps the bytes; what the bytes are depends on the kind of chunk.
  virtual void store(std::string_view bytes) = 0;
  // Decodes the stored envelope and appends the content to *target. Returns the number of bytes
  // appended: 0 for an envelope that is damaged or gone.
  virtual size_t load(std::string* target) const = 0;
  // The envelope as stored, undecoded (empty when there is none).
  virtual std::string storedEnvelope() const = 0;
  // Whether load reads nothing but the chunk's own memory, so that it may run on another thread.
  virtual bool selfContained() const { return false; }
};

// A chunk whose bytes are an envelope made elsewhere (the launcher's model delivery).
class MemoryChunk : public Chunk {
 public:
  void store(std::string_view envelope) override { envelope_.assign(envelope); }
  size_t load(std::string* target) const override;
  std::string storedEnvelope() const override { return envelope_; }
  bool selfContained() const override { return true; }

 private:
  std::string envelope_;
};

// An envelope read in place from bytes that outlive the chunk (a model file held in memory while
// it is loaded), so that the envelope is not held twice.
class ViewChunk : public Chunk {
 public:
  void store(std::string_view envelope) override { envelope_ = envelope; }
  size_t load(std::string* target) const override;
  std::string storedEnvelope() const override { return std::string(envelope_); }
  bool selfContained() const override { return true; }

 private:
  std::string_view envelope_;
};

// A chunk of a written stream: raw content is wrapped into an envelope, kept in memory when the
// content is short and in a temporary file of its own otherwise.
class SpillChunk : public Chunk {
 public:
  // Content longer than this goes to a temporary file.
  static constexpr size_t kMemoryLimit = 1048575;
  // Names drawn before giving up when every one is taken.
  static constexpr int kNameAttempts = 100;

  // REQUIRES: files outlives the chunk.
  explicit SpillChunk(Files& files) : files_(files) {}
  // Deletes the temporary file, if any.
  ~SpillChunk() override;
  SpillChunk(const SpillChunk&) = delete;
  SpillChunk& operator=(const SpillChunk&) = delete;

  // Replaces what was stored. Throws FileError with "Cannot open file \"<path>\"" when the
  // temporary file cannot be created, std::bad_alloc when compression runs out of memory.
  void store(std::string_view content) override;
  size_t load(std::string* target) const override;
  // Reads the file for a spilled chunk; empty when the file has gone.
  std::string storedEnvelope() const override;

  // The temporary file's path; empty while the envelope is in memory.
  const std::u16string& path() const { return path_; }

 private:
  void discard();

  Files& files_;
  std::u16string path_;
  std::string envelope_;
};

// A temporary file name: 10 characters of 0-9 a-z, the first not a digit, none equal to the one
// two places before it, no extension. Drawn from std::random_device.
std::u16string drawTemporaryName();

class ChunkStream {
 public:
  enum class Kind { kMemory, kSpill };

  // A writer flushes once its buffer is longer than this.
  static constexpr size_t kFlushThreshold = 10485759;
  // appendStream copies in slices of at most this many bytes.
  static constexpr size_t kSliceLength = kFlushThreshold + 1;

  // The delivery stream: memory kind, read side. Chunks are envelopes handed over by the launcher.
  ChunkStream();
  // A stream whose chunks are SpillChunks on files (the model writer's, with writing true).
  // REQUIRES: files outlives the stream.
  explicit ChunkStream(Files& files, bool writing = true);
  ChunkStream(const ChunkStream&) = delete;
  ChunkStream& operator=(const ChunkStream&) = delete;

  Kind kind() const { return kind_; }
  bool writing() const { return writing_; }
  // Bytes consumed by reads, or appended by writes, since creation.
  uint64_t total() const { return total_; }
  size_t chunkCount() const { return chunks_.size(); }
  const Chunk& chunk(size_t index) const { return *chunks_[index]; }

  // An empty chunk of the stream's kind; the list is not changed.
  std::unique_ptr<Chunk> createChunk() const;
  // Stores the bytes in a new chunk at the end of the list: an envelope for the memory kind, raw
  // content for the spill kind. May throw FileError (spill kind).
  void appendChunk(std::string_view bytes);
  // Adds an envelope that is read where it lies. REQUIRES: the bytes outlive the stream.
  void appendEnvelopeView(std::string_view envelope);

  // Makes n unread bytes available when the buffer and at most one more chunk hold them. Keeps
  // only the unread tail of the buffer. True when n bytes are available.
  bool ensure(size_t n);
  // Copies n bytes to destination and advances; returns n. When fewer than n bytes are available
  // copies nothing, changes nothing and returns 0. A null destination skips the bytes.
  size_t read(size_t n, void* destination);
  // As read, without advancing.
  size_t peek(size_t n, void* destination);
  // Reads count UTF-16LE units into *out (cleared first; zero units are kept). Returns the bytes
  // consumed, 2 * count, or 0 with out empty when count is 0 or the stream is short.
  size_t readUtf16(size_t count, std::u16string* out);
  // True when bytes remain in the buffer or chunks remain to be loaded.
  bool hasUnread() const { return position_ < buffer_.size() || nextChunk_ < chunks_.size(); }

  // Little-endian fields. On a short read they return false and leave *value unchanged.
  bool readU8(uint8_t* value);
  bool readU16(uint16_t* value);
  bool readI16(int16_t* value);
  bool readU32(uint32_t* value);
  bool readI32(int32_t* value);
  bool readF64(double* value);
  bool peekU16(uint16_t* value);
  bool peekU32(uint32_t* value);

  // Appends to the buffer and flushes once it is longer than kFlushThreshold. May throw FileError.
  void append(const void* bytes, size_t n);
  void append(std::string_view bytes) { append(bytes.data(), bytes.size()); }
  void writeU8(uint8_t value);
  void writeU16(uint16_t value);
  void writeI16(int16_t value) { writeU16(static_cast<uint16_t>(value)); }
  void writeU32(uint32_t value);
  void writeI32(int32_t value) { writeU32(static_cast<uint32_t>(value)); }
  void writeF64(double value);
  // The units as UTF-16LE, without a count.
  void writeUtf16(std::u16string_view text);

  // Turns the written bytes of the buffer into a chunk and clears the buffer; content loaded for
  // reading is never cut into a chunk again. Returns the number of chunks.
  // A memory-kind stream wraps the content into an envelope itself. May throw FileError or
  // std::bad_alloc (see SpillChunk::store).
  size_t flush();
  // Flushes written bytes not yet in a chunk, then starts reading from the first chunk again.
  // Rewinding any number of times, between reads, leaves the chunks as they are.
  void rewind();
  // Copies all content of source (rewound first) into this stream. Returns the bytes appended.
  // REQUIRES: source is not this stream. May throw FileError.
  size_t appendStream(ChunkStream& source);

 private:
  size_t available() const { return buffer_.size() - position_; }
  template <class T>
  bool readLittleEndian(T* value, bool advance);
  void appendBytes(const char* bytes, size_t n);

  Kind kind_;
  Files* files_ = nullptr;
  std::string buffer_;
  std::vector<std::unique_ptr<Chunk>> chunks_;
  uint64_t total_ = 0;
  size_t position_ = 0;
  size_t nextChunk_ = 0;
  bool writing_ = false;
  // The buffer holds appended bytes that no chunk stores yet (as opposed to loaded content).
  bool pendingWrites_ = false;
  // While the buffer is read, the content of chunks_[nextChunk_] is decoded on another thread,
  // so that inflating a model's chunks overlaps with reading their records. Declared after
  // chunks_: destroying it waits for the decoding, which reads the chunk.
  std::future<std::string> prefetch_;
  void startPrefetch();
};

}  // namespace korvel

#endif  // KORVEL_MODEL_CHUNK_STREAM_H_
