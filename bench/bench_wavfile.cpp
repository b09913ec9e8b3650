// The importer's work on a large file image already in memory: the chunk walk, and for stereo
// the mixdown (8-bit data is widened first). Reported as bytes of file image per second.
//
// Every import releases the converted tables and allocates them anew. With glibc's defaults
// blocks this large go back to the kernel when freed, so each import also faults fresh pages
// in, which on some virtual machines costs more than the conversion. Each case therefore runs
// twice: "fresh_pages" with the default allocator, "warm_heap" with freed memory kept in the heap
// so that only the importer's own work is measured.
#include <benchmark/benchmark.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstdlib>
#include <cstring>

#include "engine/tone_table.h"
#include "wavfile/wav_header.h"
#include "wavfile/wav_import.h"

namespace tonvarel {
namespace {

constexpr uint32_t kDataBytes = 128u << 20;

// A WAV image with `bits`-bit stereo data of kDataBytes bytes, filled with a varied pattern.
void fillImage(EngineState& state, uint16_t bits) {
  std::free(state.fileImage);
  state.fileImage = static_cast<uint8_t*>(std::malloc(kWavHeaderBytes + kDataBytes));
  auto header = pcmHeader(2, kDataBytes);
  header[34] = static_cast<uint8_t>(bits);  // bits per sample; the importer reads nothing else
  std::memcpy(state.fileImage, header.data(), header.size());
  uint32_t x = 12345;
  for (uint32_t i = 0; i < kDataBytes; ++i) {
    x = x * 1103515245u + 12345u;
    state.fileImage[kWavHeaderBytes + i] = static_cast<uint8_t>(x >> 24);
  }
}

void keepFreedMemory(bool keep) {
#if defined(__GLIBC__)
  constexpr int kGlibcDefaultThreshold = 128 * 1024;
  mallopt(M_MMAP_THRESHOLD, keep ? 1 << 30 : kGlibcDefaultThreshold);
  mallopt(M_TRIM_THRESHOLD, keep ? 1 << 30 : kGlibcDefaultThreshold);
#else
  (void)keep;
#endif
}

void importStereo(benchmark::State& bench, uint16_t bits) {
  const bool warmHeap = bench.range(0) != 0;
  bench.SetLabel(warmHeap ? "warm_heap" : "fresh_pages");
  keepFreedMemory(warmHeap);
  EngineState state;
  FileAccess files;
  buildDefaultTable(state);
  fillImage(state, bits);
  for (auto _ : bench) {
    withdrawTable(state);
    importImage(state, files, kWavHeaderBytes + kDataBytes);
    benchmark::DoNotOptimize(state.mixdownTable[state.tableLength - 1]);
  }
  bench.SetBytesProcessed(static_cast<int64_t>(bench.iterations()) *
                          (kWavHeaderBytes + kDataBytes));
  releaseTables(state);
  keepFreedMemory(false);
}

void BM_Import16BitStereo(benchmark::State& bench) {
  importStereo(bench, 16);
}
void BM_Import8BitStereo(benchmark::State& bench) {
  importStereo(bench, 8);
}

BENCHMARK(BM_Import16BitStereo)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Import8BitStereo)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace tonvarel

BENCHMARK_MAIN();
