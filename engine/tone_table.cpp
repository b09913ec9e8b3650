// Tone tables: the built-in 440 Hz square wave and the rule for swapping tables under a live voice.
#include "engine/tone_table.h"

#include <cstdlib>
#include <thread>

namespace tonvarel {

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
  auto* samples = static_cast<int16_t*>(std::malloc(kDefaultTableLength * sizeof(int16_t)));
  if (samples == nullptr) return;
  fillDefaultTable(samples);
  state.defaultTable = samples;
  publishTable(state, reinterpret_cast<const uint8_t*>(samples), kDefaultTableLength);
}

void useDefaultTable(EngineState& state) {
  state.table.store(reinterpret_cast<const uint8_t*>(state.defaultTable),
                    std::memory_order_relaxed);
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

void publishTable(EngineState& state, const uint8_t* samples, uint32_t length) {
  state.table.store(samples, std::memory_order_relaxed);
  state.tableLength.store(length, std::memory_order_relaxed);
  state.tableReady.store(true, std::memory_order_release);
}

void releaseTables(EngineState& state) {
  withdrawTable(state);
  state.table.store(nullptr, std::memory_order_relaxed);
  std::free(state.defaultTable);
  std::free(state.mixdownTable);
  std::free(state.widenedTable);
  std::free(state.fileImage);
  state.defaultTable = nullptr;
  state.mixdownTable = nullptr;
  state.widenedTable = nullptr;
  state.fileImage = nullptr;
}

}  // namespace tonvarel
