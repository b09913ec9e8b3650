// The voice: a table-reading oscillator with a triangle vibrato, rendered a block at a time or
// frame by frame within a block.
//
// The sound is defined sample for sample: intermediates are doubles, evaluated left to right,
// and rounded to float exactly where a float(...) is written below.
#include "engine/voice.h"

#include <algorithm>

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

namespace {

// Odd from construction to destruction: see withdrawTable().
class RenderingMark {
 public:
  explicit RenderingMark(EngineState& state)
      : state_(state), sequence_(state.renderSequence.load(std::memory_order_relaxed)) {
    state_.renderSequence.store(sequence_ + 1, std::memory_order_seq_cst);
  }
  ~RenderingMark() { state_.renderSequence.store(sequence_ + 2, std::memory_order_release); }
  RenderingMark(const RenderingMark&) = delete;
  RenderingMark& operator=(const RenderingMark&) = delete;

 private:
  EngineState& state_;
  uint32_t sequence_;
};

// A new block: the target is read once, and the pitch history moves on.
void openBlock(EngineState& state) {
  state.previousPitch = state.currentPitch;
  state.currentPitch = state.targetPitch.load(std::memory_order_relaxed);
}

// Frames [from, to) of the open block, `blockBytes` long, into `out` from its start. Frame f's
// ramp depends only on the block's two pitches and f, so a block rendered in pieces is the same
// block, bit for bit.
void renderSpan(EngineState& state, uint8_t* out, uint32_t from, uint32_t to, uint32_t blockBytes) {
  Voice v(state);
  const double current = state.currentPitch;
  const double change = double{state.previousPitch} - current;
  const double bytes = blockBytes;
  for (uint32_t f = from; f < to; ++f, out += 4) {
    const uint32_t o = 4 * f;
    v.rampPitch = static_cast<float>(current - change * double(o) / bytes);
    const int16_t sample = nextSample(state, v);
    const auto bits = static_cast<uint16_t>(sample);
    out[0] = out[2] = static_cast<uint8_t>(bits);
    out[1] = out[3] = static_cast<uint8_t>(bits >> 8);
    if (state.recording.load(std::memory_order_acquire)) appendSample(state, sample);
  }
  v.storeTo(state);
}

}  // namespace

void renderBlock(EngineState& state, uint8_t* block, uint32_t byteCount) {
  const RenderingMark rendering(state);
  state.blockCloseRequest.store(false, std::memory_order_relaxed);  // a new block opens anyway
  openBlock(state);
  renderSpan(state, block, 0, byteCount / 4, byteCount);
  state.blockFrame = kBlockFrames;
}

void renderFrames(EngineState& state, uint8_t* frames, uint32_t frameCount) {
  const RenderingMark rendering(state);
  if (state.blockCloseRequest.exchange(false, std::memory_order_relaxed)) {
    state.blockFrame = kBlockFrames;
  }
  while (frameCount > 0) {
    if (state.blockFrame == kBlockFrames) {
      openBlock(state);
      state.blockFrame = 0;
    }
    const uint32_t count = std::min(frameCount, kBlockFrames - state.blockFrame);
    renderSpan(state, frames, state.blockFrame, state.blockFrame + count, kBlockBytes);
    state.blockFrame += count;
    frames += 4 * count;
    frameCount -= count;
  }
}

void closeBlockEarly(EngineState& state) {
  state.blockCloseRequest.store(true, std::memory_order_relaxed);
}

}  // namespace tonvarel
