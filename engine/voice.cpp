// The voices: table-reading oscillators with a shared triangle vibrato, each in its own 1,500-frame
// blocks, mixed into one sample per frame. Rendered a block at a time or frame by frame.
//
// The sound is defined sample for sample: intermediates are doubles, evaluated left to right,
// and rounded to float exactly where a float(...) is written below. Per frame, in this order: the
// oscillator steps, every voice renders its sample, the samples are summed in 32 bits and clamped
// (v), the loop and the take's playback add theirs and one clamp makes the frame, the take records
// the frame, and the loop records or overdubs v. No float enters the mix.
#include "engine/voice.h"

#include <algorithm>
#include <cmath>

#include "engine/looper.h"
#include "engine/take.h"

namespace tonvarel {
namespace {

constexpr int32_t kLfoSlopeFrames = 1000;
// Frames rendered at a time: the oscillator's values and the voices' sum for them live on the
// stack.
constexpr uint32_t kChunkFrames = 256;
// Below 2^24 a float's spacing is at most 1, so adding or subtracting a whole table length
// that leaves the sign alone is exact.
constexpr double kExactBelow = 16'777'216.0;

inline int16_t readSample(const uint8_t* table, uint32_t index) {
  const uint8_t* p = table + 2 * static_cast<uint64_t>(index);
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

inline int16_t clampToSample(int32_t v) {
  return static_cast<int16_t>(std::clamp<int32_t>(v, -32768, 32767));
}

// Brings the phase into [0, n) by passes that subtract n while it is not below n, then add n while
// it is negative, rounding each result to float. While the phase lies within ±2^24 every pass but
// the one that crosses zero from below is exact, so those passes amount to one exact fmod: a high
// note on a short table wraps in one step instead of thousands.
inline float wrapPhase(float phase, double n) {
  if (double{phase} < n && phase >= 0.0f) return phase;
  if (std::fabs(double{phase}) < kExactBelow) {
    const double folded = std::fmod(double{phase}, n);           // exact
    if (folded >= 0.0) return static_cast<float>(folded + 0.0);  // +0, as the passes give
    phase = static_cast<float>(folded);
  }
  for (;;) {
    bool wrapped = false;
    if (!(double{phase} < n)) {
      phase = static_cast<float>(double{phase} - n);
      wrapped = true;
    }
    if (double{phase} < 0.0) {
      phase = static_cast<float>(double{phase} + n);
      wrapped = true;
    }
    if (!wrapped) return phase;
  }
}

// The oscillator's values for the next `count` frames, as each frame reads it after its step.
void stepOscillator(EngineState& s, float* values, uint32_t count) {
  float value = s.lfoValue;
  float step = s.lfoStep;
  int32_t counter = s.lfoCounter;
  for (uint32_t i = 0; i < count; ++i) {
    ++counter;
    value = static_cast<float>(double{value} + double{step});
    if (counter >= kLfoSlopeFrames) {
      counter = 0;
      step = -step;
    }
    values[i] = value;
  }
  s.lfoValue = value;
  s.lfoStep = step;
  s.lfoCounter = counter;
}

// One voice's frame at the given ramp and oscillator value: the phase moves on whatever the gate
// and the table say; only the returned sample is silenced.
inline int16_t voiceSample(const EngineState& s, Voice& voice, float& phase, float lfo,
                           float ramp) {
  if (voice.phaseReset.load(std::memory_order_relaxed)) {
    phase = 0.0f;
    voice.phaseReset.store(false, std::memory_order_relaxed);
  }

  const double depth = voice.vibratoDepth.load(std::memory_order_relaxed);
  float inc = static_cast<float>(double{lfo} * depth * double{voice.currentPitch});
  inc = static_cast<float>(double{inc} + double{ramp});
  inc = static_cast<float>(double{inc} / kTablePitch);
  phase = static_cast<float>(double{phase} + double{inc});

  // One snapshot per frame, flag first: the index is wrapped against the same table it reads.
  // The flag is loaded sequentially consistent to pair with withdrawTable().
  const bool ready = s.tableReady.load(std::memory_order_seq_cst);
  const uint8_t* table = s.table.load(std::memory_order_relaxed);
  const uint32_t length = s.tableLength.load(std::memory_order_relaxed);

  // An empty table would never leave the wrap: it plays silence instead.
  if (length == 0) return 0;
  phase = wrapPhase(phase, length);

  if (table == nullptr || !ready || !voice.gate.load(std::memory_order_relaxed)) return 0;
  return readSample(table, static_cast<uint32_t>(phase));
}

// A new block for one voice: the target is read once, and the pitch history moves on.
void openBlock(Voice& voice) {
  voice.previousPitch = voice.currentPitch;
  voice.currentPitch = voice.targetPitch.load(std::memory_order_relaxed);
}

// Frames [from, to) of the voice's open block, `blockBytes` long, added to `mix`. Frame f's ramp
// depends only on the block's two pitches and f, so a block rendered in pieces is the same block,
// bit for bit. With `skipSilence`, a voice whose gate is closed skips its phase walk: every gate
// opens with a phase reset, so where a silent phase stood never reaches the sound. That holds only
// where nothing opens the gate while frames are rendered, as between the pieces of renderFrames.
void renderSpan(const EngineState& s, Voice& voice, const float* lfo, int32_t* mix, uint32_t from,
                uint32_t to, uint32_t blockBytes, bool skipSilence) {
  const double current = voice.currentPitch;
  const double change = double{voice.previousPitch} - current;
  const double bytes = blockBytes;
  const auto rampAt = [&](uint32_t f) {
    return static_cast<float>(current - change * double(4 * f) / bytes);
  };
  if (skipSilence && !voice.gate.load(std::memory_order_relaxed)) {
    voice.rampPitch = rampAt(to - 1);
    return;
  }
  float phase = voice.phase;
  for (uint32_t f = from; f < to; ++f) {
    const float ramp = rampAt(f);
    *mix++ += voiceSample(s, voice, phase, *lfo++, ramp);
  }
  voice.phase = phase;
  voice.rampPitch = rampAt(to - 1);
}

// The mixed frames: the voices' sum clamped, the loop and the playback added under one more clamp,
// written to both channels, and recorded by an open take.
void finishFrames(EngineState& s, const int32_t* mix, uint8_t* out, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i, out += 4) {
    const int16_t voices = clampToSample(mix[i]);
    const int32_t loop = loopFrame(s.looper, voices);
    const int16_t sample = clampToSample(voices + loop + playbackFrame(s.playback));
    const auto bits = static_cast<uint16_t>(sample);
    out[0] = out[2] = static_cast<uint8_t>(bits);
    out[1] = out[3] = static_cast<uint8_t>(bits >> 8);
    if (s.recording.load(std::memory_order_acquire)) appendSample(s, sample);
  }
}

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

}  // namespace

StereoFrame renderFrame(EngineState& state) {
  float lfo;
  stepOscillator(state, &lfo, 1);
  int32_t sum = 0;
  for (Voice& voice : state.voices) {
    float phase = voice.phase;
    sum += voiceSample(state, voice, phase, lfo, voice.rampPitch);
    voice.phase = phase;
  }
  const int16_t sample = clampToSample(sum);
  return {sample, sample};
}

void renderBlock(EngineState& state, uint8_t* block, uint32_t byteCount) {
  const RenderingMark rendering(state);
  for (Voice& voice : state.voices) {
    voice.blockCloseRequest.store(false, std::memory_order_relaxed);  // a new block opens anyway
    openBlock(voice);
  }
  const uint32_t frameCount = byteCount / 4;
  float lfo[kChunkFrames];
  int32_t mix[kChunkFrames];
  for (uint32_t from = 0; from < frameCount; from += kChunkFrames) {
    const uint32_t count = std::min(kChunkFrames, frameCount - from);
    stepOscillator(state, lfo, count);
    std::fill_n(mix, count, 0);
    // The window thread may open voice 0's gate at any frame of a whole block, so it always
    // walks. The other voices are played only where frames are rendered piecewise.
    for (int k = 0; k < kVoiceCount; ++k) {
      renderSpan(state, state.voices[k], lfo, mix, from, from + count, byteCount, k != 0);
    }
    finishFrames(state, mix, block + 4 * from, count);
  }
  for (Voice& voice : state.voices) voice.blockFrame = kBlockFrames;
}

void renderFrames(EngineState& state, uint8_t* frames, uint32_t frameCount) {
  const RenderingMark rendering(state);
  for (Voice& voice : state.voices) {
    if (voice.blockCloseRequest.exchange(false, std::memory_order_relaxed)) {
      voice.blockFrame = kBlockFrames;
    }
  }
  float lfo[kChunkFrames];
  int32_t mix[kChunkFrames];
  while (frameCount > 0) {
    const uint32_t count = std::min(frameCount, kChunkFrames);
    stepOscillator(state, lfo, count);
    std::fill_n(mix, count, 0);
    for (Voice& voice : state.voices) {
      // The voice's blocks open in turn, wherever they fall within the chunk.
      for (uint32_t done = 0; done < count;) {
        if (voice.blockFrame == kBlockFrames) {
          openBlock(voice);
          voice.blockFrame = 0;
        }
        const uint32_t span = std::min(count - done, kBlockFrames - voice.blockFrame);
        renderSpan(state, voice, lfo + done, mix + done, voice.blockFrame, voice.blockFrame + span,
                   kBlockBytes, true);
        voice.blockFrame += span;
        done += span;
      }
    }
    finishFrames(state, mix, frames, count);
    frames += 4 * count;
    frameCount -= count;
  }
}

void closeBlockEarly(EngineState& state, int voice) {
  state.voices[voice].blockCloseRequest.store(true, std::memory_order_relaxed);
}

}  // namespace tonvarel
