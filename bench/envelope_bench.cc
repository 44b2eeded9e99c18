// Decoding speed of the chunk envelope, and reading a delivered model's worth of chunks through
// ChunkStream field by field as the loader does.
#include <benchmark/benchmark.h>

#include <string>

#include "model/chunk_stream.h"
#include "model/envelope.h"

namespace korvel {
namespace {

constexpr size_t kContentLength = 10 * 1000 * 1000;

// Compresses about as well as cell records do: runs of small integers and doubles.
std::string modelLikeContent(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 12345;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>((i % 16 < 8) ? (x >> 24) & 0x0F : i & 0xFF);
  }
  return s;
}

const std::string& envelope() {
  static const std::string e = [] {
    std::string out;
    encodeEnvelope(modelLikeContent(kContentLength), &out);
    return out;
  }();
  return e;
}

void BM_DecodeEnvelope(benchmark::State& state) {
  const std::string& stored = envelope();
  std::string target;
  for (auto _ : state) {
    target.clear();
    benchmark::DoNotOptimize(decodeEnvelope(stored, &target));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kContentLength);
}
BENCHMARK(BM_DecodeEnvelope)->Unit(benchmark::kMillisecond);

void BM_EncodeEnvelope(benchmark::State& state) {
  const std::string content = modelLikeContent(kContentLength);
  std::string out;
  for (auto _ : state) benchmark::DoNotOptimize(encodeEnvelope(content, &out));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kContentLength);
}
BENCHMARK(BM_EncodeEnvelope)->Unit(benchmark::kMillisecond);

// Four chunks read as 32-bit fields: decoding plus the per-field cost of the reader.
void BM_ReadFieldsThroughStream(benchmark::State& state) {
  const std::string& stored = envelope();
  for (auto _ : state) {
    ChunkStream stream;
    for (int i = 0; i < 4; ++i) stream.appendChunk(stored);
    uint32_t value = 0, sum = 0;
    while (stream.readU32(&value)) sum += value;
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 4 * kContentLength);
}
BENCHMARK(BM_ReadFieldsThroughStream)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace korvel
