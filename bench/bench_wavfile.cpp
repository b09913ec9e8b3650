// The importer's work on a large file already in memory, through the same entry the browser
// edition uses: the copy into the file image, the chunk walk, and for stereo the mixdown (8-bit
// data is widened first). Reported as bytes of file per second.
//
// Every import releases the file image and the converted tables and allocates them anew. With
// glibc's defaults blocks this large go back to the kernel when freed, so each import also faults
// fresh pages in, which on some virtual machines costs more than the conversion. Each case
// therefore runs twice: "fresh_pages" with the default allocator, "warm_heap" with freed memory
// kept in the heap so that only the importer's own work is measured.
#include <benchmark/benchmark.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstring>
#include <vector>

#include "engine/tone_table.h"
#include "wavfile/wav_header.h"
#include "wavfile/wav_import.h"

namespace tonvarel {
namespace {

constexpr uint32_t kDataBytes = 128u << 20;

// A WAV file with `bits`-bit stereo data of kDataBytes bytes, filled with a varied pattern.
std::vector<uint8_t> makeFile(uint16_t bits) {
  std::vector<uint8_t> file(kWavHeaderBytes + kDataBytes);
  auto header = pcmHeader(2, kDataBytes);
  header[34] = static_cast<uint8_t>(bits);  // bits per sample; the importer reads nothing else
  std::memcpy(file.data(), header.data(), header.size());
  uint32_t x = 12345;
  for (uint32_t i = 0; i < kDataBytes; ++i) {
    x = x * 1103515245u + 12345u;
    file[kWavHeaderBytes + i] = static_cast<uint8_t>(x >> 24);
  }
  return file;
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
  const std::vector<uint8_t> file = makeFile(bits);
  for (auto _ : bench) {
    importBytes(state, files, file);
    benchmark::DoNotOptimize(state.mixdownTable.get()[state.tableLength - 1]);
  }
  bench.SetBytesProcessed(static_cast<int64_t>(bench.iterations()) *
                          static_cast<int64_t>(file.size()));
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
