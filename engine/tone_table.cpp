// Tone tables: the built-in 440 Hz square wave and the rule for swapping tables under a live voice.
#include "engine/tone_table.h"

#include <thread>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace tonvarel {
namespace {

const uint8_t* bytesOf(const Storage<int16_t>& storage) {
  return reinterpret_cast<const uint8_t*>(storage.get());
}

bool tableIn(const EngineState& state, const Storage<int16_t>& storage) {
  return storage.get() != nullptr &&
         state.table.load(std::memory_order_relaxed) == bytesOf(storage);
}

// The active table lies in the file image unless it is one of the other storages (or none): a
// 16-bit mono file is played from inside the image, at its "data" chunk.
bool tableInFileImage(const EngineState& state) {
  const uint8_t* table = state.table.load(std::memory_order_relaxed);
  return table != nullptr && table != bytesOf(state.defaultTable) &&
         table != bytesOf(state.widenedTable) && table != bytesOf(state.mixdownTable) &&
         table != bytesOf(state.adoptedTable);
}

// A large table is written once, right after it is allocated, so the cost of first touching
// its fresh pages dominates an import. Where the kernel offers it, huge pages cut that cost
// several-fold; the advice covers the whole 2 MiB pages inside the block.
void adviseHugePages([[maybe_unused]] void* storage, [[maybe_unused]] size_t bytes) {
#ifdef __linux__
  if (storage == nullptr) return;
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  const auto begin = (reinterpret_cast<uintptr_t>(storage) + kHugePage - 1) & ~(kHugePage - 1);
  const auto end = (reinterpret_cast<uintptr_t>(storage) + bytes) & ~(kHugePage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

template <class T>
T* renew(EngineState& state, Storage<T>& storage, size_t count, bool activeLivesThere) {
  if (activeLivesThere) useDefaultTable(state);
  T* fresh = storage.renew(count);
  adviseHugePages(fresh, count * sizeof(T));
  return fresh;
}

}  // namespace

void fillDefaultTable(int16_t* samples) {
  // 880 half-periods in 44,100 samples: the runs come out 51 or 50 samples long and the last
  // sample is -1000, so the wrap back to the first sample is the 880th change of sign.
  int16_t value = 1000;
  int32_t acc = 0;
  for (uint32_t i = 0; i < kDefaultTableLength; ++i) {
    samples[i] = value;
    acc += 880;
    if (acc >= 44100) {
      acc -= 44100;
      value = static_cast<int16_t>(-value);
    }
  }
}

void buildDefaultTable(EngineState& state) {
  int16_t* samples = state.defaultTable.renew(kDefaultTableLength);
  if (samples == nullptr) return;
  fillDefaultTable(samples);
  publishTable(state, bytesOf(state.defaultTable), kDefaultTableLength);
}

void useDefaultTable(EngineState& state) {
  state.table.store(bytesOf(state.defaultTable), std::memory_order_relaxed);
  state.tableLength.store(kDefaultTableLength, std::memory_order_relaxed);
}

void withdrawTable(EngineState& state) {
  // Both this store and the load below are sequentially consistent, as are the streaming
  // thread's store that opens a block and its per-frame load of tableReady. So either the
  // block we see running began before the flag was cleared and we wait for it to end, or any
  // block that begins later reads the flag as clear in every frame.
  state.tableReady.store(false, std::memory_order_seq_cst);
  const uint32_t seen = state.renderSequence.load(std::memory_order_seq_cst);
  if ((seen & 1u) == 0) return;
  while (state.renderSequence.load(std::memory_order_acquire) == seen) std::this_thread::yield();
}

void restoreTable(EngineState& state) {
  state.tableReady.store(true, std::memory_order_release);
}

void fallBackToDefaultTable(EngineState& state) {
  useDefaultTable(state);
  state.tableReady.store(true, std::memory_order_release);
}

void returnToDefaultTable(EngineState& state) {
  withdrawTable(state);
  fallBackToDefaultTable(state);
  requestPhaseReset(state);
}

void requestPhaseReset(EngineState& state) {
  for (Voice& voice : state.voices) voice.phaseReset.store(true, std::memory_order_relaxed);
}

uint8_t* renewFileImage(EngineState& state, size_t bytes) {
  return renew(state, state.fileImage, bytes, tableInFileImage(state));
}

int16_t* renewWidenedTable(EngineState& state, size_t samples) {
  return renew(state, state.widenedTable, samples, tableIn(state, state.widenedTable));
}

int16_t* renewMixdownTable(EngineState& state, size_t samples) {
  return renew(state, state.mixdownTable, samples, tableIn(state, state.mixdownTable));
}

int16_t* renewPreparedTable(EngineState& state, size_t samples) {
  // Never the active table: renewing it disturbs nothing that plays.
  return renew(state, state.preparedTable, samples, false);
}

void adoptPreparedTable(EngineState& state, uint32_t length) {
  withdrawTable(state);
  state.adoptedTable.swap(state.preparedTable);
  publishTable(state, bytesOf(state.adoptedTable), length);
  requestPhaseReset(state);
  state.preparedTable.release();  // the table before, if it was an adopted one: no frame sees it
}

void publishTable(EngineState& state, const uint8_t* samples, uint32_t length) {
  state.table.store(samples, std::memory_order_relaxed);
  state.tableLength.store(length, std::memory_order_relaxed);
  state.tableReady.store(true, std::memory_order_release);
}

void releaseTables(EngineState& state) {
  withdrawTable(state);
  state.table.store(nullptr, std::memory_order_relaxed);
  state.defaultTable.release();
  state.mixdownTable.release();
  state.widenedTable.release();
  state.fileImage.release();
  state.preparedTable.release();
  state.adoptedTable.release();
}

}  // namespace tonvarel
