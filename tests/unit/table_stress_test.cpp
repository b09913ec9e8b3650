// One thread renders blocks without pause while another replaces the table and flips every
// parameter, as the window does during a load. A withdrawn table is overwritten with a marker
// value before its storage is renewed: if any frame still read it, the marker would be heard (and
// AddressSanitizer would report the freed read). Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
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
  uint32_t lengths[2] = {0, 0};  // of the mixed-down and the widened table
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

  // The streaming thread may start late on a busy machine: churn only once it renders, and go on
  // until it has rendered many blocks during the churn, or the test would prove nothing.
  while (blocks.load() == 0) std::this_thread::yield();
  const long blocksBefore = blocks.load();

  // New tables alternate between two of the engine's storages. Once withdrawn, no table may be
  // heard again, so both are marked retired before the next table is made.
  std::mt19937 random(20261207);
  bool widened = false;
  for (int i = 0; i < 3000 || blocks.load() - blocksBefore < 100; ++i) {
    withdrawTable(state);
    for (int k = 0; k < 2; ++k) {
      int16_t* retired = (k == 0 ? state.mixdownTable : state.widenedTable).get();
      if (retired != nullptr) std::fill_n(retired, lengths[k], kRetired);
    }
    if (random() % 8 == 0) {
      fallBackToDefaultTable(state);
    } else {
      widened = !widened;
      const uint32_t length = random() % 3000;  // includes the empty table
      int16_t* fresh =
          widened ? renewWidenedTable(state, length) : renewMixdownTable(state, length);
      ASSERT_NE(fresh, nullptr);
      for (uint32_t k = 0; k < length; ++k) fresh[k] = static_cast<int16_t>(k % 2000 - 1000);
      lengths[widened ? 1 : 0] = length;
      publishTable(state, reinterpret_cast<const uint8_t*>(fresh), length);
    }

    state.voices[0].targetPitch = static_cast<float>(56320.0 / (1 + random() % 255));
    state.voices[0].vibratoDepth = static_cast<float>((random() % 192) / 500.0);
    state.voices[0].gate = random() % 4 != 0;
    if (random() % 3 == 0) state.voices[0].phaseReset = true;
    if (random() % 5 == 0) openTakeIfIdle(state);
    if (random() % 5 == 0) closeTakeUnless(state, false);
    if (i % 64 == 0) std::this_thread::yield();
  }
  stop = true;
  streaming.join();

  EXPECT_EQ(retiredHeard.load(), 0);
}

// A table filled beside the one that plays, then adopted, as the browser edition loads: the
// streaming thread never reads the storage being filled, nor the table released at adoption
// (ThreadSanitizer and AddressSanitizer would report either).
TEST(TableHandOver, PreparedTablesAreFilledBesideTheActiveOneAndAdopted) {
  EngineState state;
  allocateTake(state);
  buildDefaultTable(state);
  state.voices[0].gate = true;

  std::atomic<bool> stop{false};
  std::atomic<long> blocks{0};
  std::thread streaming([&] {
    uint8_t block[kBlockBytes];
    while (!stop.load(std::memory_order_relaxed)) {
      renderBlock(state, block, kBlockBytes);
      blocks.fetch_add(1, std::memory_order_relaxed);
    }
  });
  while (blocks.load() == 0) std::this_thread::yield();
  const long blocksBefore = blocks.load();

  std::mt19937 random(20261208);
  for (int i = 0; i < 2000 || blocks.load() - blocksBefore < 100; ++i) {
    const uint32_t length = random() % 3000;
    int16_t* fresh = renewPreparedTable(state, length);
    ASSERT_NE(fresh, nullptr);
    for (uint32_t k = 0; k < length; ++k) fresh[k] = static_cast<int16_t>(k % 2000 - 1000);
    adoptPreparedTable(state, length);
    if (random() % 8 == 0) returnToDefaultTable(state);
    if (i % 64 == 0) std::this_thread::yield();
  }
  stop = true;
  streaming.join();
  EXPECT_TRUE(state.tableReady);
}

}  // namespace
}  // namespace tonvarel
