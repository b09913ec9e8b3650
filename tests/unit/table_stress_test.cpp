// One thread renders blocks without pause while another replaces the table and flips every
// parameter, as the window does during a load. A withdrawn table is overwritten with a marker
// value before its memory is freed: if any frame still read it, the marker would be heard (and
// AddressSanitizer would report the freed read). Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "engine/take.h"
#include "engine/tone_table.h"
#include "engine/voice.h"

namespace tonvarel {
namespace {

constexpr int16_t kRetired = 0x7777;  // never part of a live table

TEST(TableHandOver, NoFrameReadsATableAfterItIsWithdrawn) {
  EngineState state;
  allocateTake(state);
  buildDefaultTable(state);

  std::atomic<bool> stop{false};
  std::atomic<long> blocks{0};
  std::atomic<long> retiredHeard{0};
  std::thread streaming([&] {
    uint8_t block[kBlockBytes];
    while (!stop.load(std::memory_order_relaxed)) {
      renderBlock(state, block, kBlockBytes);
      for (uint32_t o = 0; o < kBlockBytes; o += 2) {
        int16_t v;
        std::memcpy(&v, block + o, 2);
        if (v == kRetired) retiredHeard.fetch_add(1, std::memory_order_relaxed);
      }
      blocks.fetch_add(1, std::memory_order_relaxed);
    }
  });

  std::mt19937 random(20261207);
  int16_t* live = nullptr;
  uint32_t liveLength = 0;
  for (int i = 0; i < 3000; ++i) {
    withdrawTable(state);
    if (live != nullptr) {
      for (uint32_t k = 0; k < liveLength; ++k) live[k] = kRetired;
      std::free(live);
      live = nullptr;
    }
    if (random() % 8 == 0) {
      useDefaultTable(state);
      state.tableReady.store(true, std::memory_order_release);
    } else {
      liveLength = random() % 3000;  // includes the empty table
      live = static_cast<int16_t*>(std::malloc((liveLength + 1) * sizeof(int16_t)));
      for (uint32_t k = 0; k < liveLength; ++k) live[k] = static_cast<int16_t>(k % 2000 - 1000);
      publishTable(state, reinterpret_cast<const uint8_t*>(live), liveLength);
    }

    state.targetPitch = static_cast<float>(56320.0 / (1 + random() % 255));
    state.vibratoDepth = static_cast<float>((random() % 192) / 500.0);
    state.gate = random() % 4 != 0;
    if (random() % 3 == 0) state.phaseReset = true;
    if (random() % 5 == 0) openTakeIfIdle(state);
    if (random() % 5 == 0) closeTakeUnless(state, false);
    if (i % 64 == 0) std::this_thread::yield();
  }
  stop = true;
  streaming.join();

  EXPECT_EQ(retiredHeard.load(), 0);
  EXPECT_GT(blocks.load(), 0);
  releaseTables(state);
  std::free(live);
  releaseTake(state);
}

}  // namespace
}  // namespace tonvarel
