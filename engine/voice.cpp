// The voice: a table-reading oscillator with a triangle vibrato, rendered a block at a time.
//
// The sound is defined sample for sample: intermediates are doubles, evaluated left to right,
// and rounded to float exactly where a float(...) is written below.
#include "engine/voice.h"

#include "engine/take.h"

namespace tonvarel {
namespace {

constexpr int32_t kLfoSlopeFrames = 1000;

// The streaming thread's running values, copied into locals for the length of a block.
struct Voice {
  float phase;
  float lfoValue;
  float lfoStep;
  int32_t lfoCounter;
  float currentPitch;
  float rampPitch;

  explicit Voice(const EngineState& s)
      : phase(s.phase),
        lfoValue(s.lfoValue),
        lfoStep(s.lfoStep),
        lfoCounter(s.lfoCounter),
        currentPitch(s.currentPitch),
        rampPitch(s.rampPitch) {}

  void storeTo(EngineState& s) const {
    s.phase = phase;
    s.lfoValue = lfoValue;
    s.lfoStep = lfoStep;
    s.lfoCounter = lfoCounter;
    s.rampPitch = rampPitch;
  }
};

inline int16_t readSample(const uint8_t* table, uint32_t index) {
  const uint8_t* p = table + 2 * static_cast<uint64_t>(index);
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

inline int16_t nextSample(EngineState& s, Voice& v) {
  if (s.phaseReset.load(std::memory_order_relaxed)) {
    v.phase = 0.0f;
    s.phaseReset.store(false, std::memory_order_relaxed);
  }

  ++v.lfoCounter;
  v.lfoValue = static_cast<float>(double{v.lfoValue} + double{v.lfoStep});
  if (v.lfoCounter >= kLfoSlopeFrames) {
    v.lfoCounter = 0;
    v.lfoStep = -v.lfoStep;
  }

  const double depth = s.vibratoDepth.load(std::memory_order_relaxed);
  float inc = static_cast<float>(double{v.lfoValue} * depth * double{v.currentPitch});
  inc = static_cast<float>(double{inc} + double{v.rampPitch});
  inc = static_cast<float>(double{inc} / kTablePitch);
  v.phase = static_cast<float>(double{v.phase} + double{inc});

  // One snapshot per frame, flag first: the index is wrapped against the same table it reads.
  // The flag is loaded sequentially consistent to pair with withdrawTable().
  const bool ready = s.tableReady.load(std::memory_order_seq_cst);
  const uint8_t* table = s.table.load(std::memory_order_relaxed);
  const uint32_t length = s.tableLength.load(std::memory_order_relaxed);

  // An empty table would never leave the wrap: it plays silence instead.
  if (length == 0) return 0;
  const double n = length;
  for (;;) {
    bool wrapped = false;
    if (!(double{v.phase} < n)) {
      v.phase = static_cast<float>(double{v.phase} - n);
      wrapped = true;
    }
    if (double{v.phase} < 0.0) {
      v.phase = static_cast<float>(double{v.phase} + n);
      wrapped = true;
    }
    if (!wrapped) break;
  }

  if (table == nullptr || !ready || !s.gate.load(std::memory_order_relaxed)) return 0;
  return readSample(table, static_cast<uint32_t>(v.phase));
}

}  // namespace

StereoFrame renderFrame(EngineState& state) {
  Voice v(state);
  const int16_t sample = nextSample(state, v);
  v.storeTo(state);
  return {sample, sample};
}

void renderBlock(EngineState& state, uint8_t* block, uint32_t byteCount) {
  // Odd from here to the end of the block: see withdrawTable().
  const uint32_t sequence = state.renderSequence.load(std::memory_order_relaxed);
  state.renderSequence.store(sequence + 1, std::memory_order_seq_cst);

  state.previousPitch = state.currentPitch;
  state.currentPitch = state.targetPitch.load(std::memory_order_relaxed);

  Voice v(state);
  const double current = state.currentPitch;
  const double change = double{state.previousPitch} - current;
  const double bytes = byteCount;
  for (uint32_t o = 0; o + 4 <= byteCount; o += 4) {
    v.rampPitch = static_cast<float>(current - change * double(o) / bytes);
    const int16_t sample = nextSample(state, v);
    const auto bits = static_cast<uint16_t>(sample);
    block[o] = block[o + 2] = static_cast<uint8_t>(bits);
    block[o + 1] = block[o + 3] = static_cast<uint8_t>(bits >> 8);
    if (state.recording.load(std::memory_order_acquire)) appendSample(state, sample);
  }
  v.storeTo(state);

  state.renderSequence.store(sequence + 2, std::memory_order_release);
}

}  // namespace tonvarel
