// The one record the voice lives in: what the window asks for, and what the streaming thread keeps.
#pragma once

#include <atomic>
#include <bit>
#include <cstdint>

#include "engine/storage.h"

namespace tonvarel {

static_assert(std::endian::native == std::endian::little, "tables and blocks are little-endian");

inline constexpr uint32_t kDefaultTableLength = 44100;
inline constexpr uint32_t kTakeCapacity = 5'292'000;  // 60 s of 16-bit mono at 44,100 Hz
inline constexpr uint32_t kBlockFrames = 1500;
inline constexpr uint32_t kBlockBytes = kBlockFrames * 4;  // 16-bit stereo

inline constexpr uint32_t kLoopCapacity = kTakeCapacity / 2;  // samples: 60 s, as the take holds

inline constexpr int kVoiceCount =
    10;  // voice 0 is the window's; the others serve fingers and notes

// One voice: what the controls ask of it, and what the streaming thread keeps for it. Each voice
// has its own 1,500-frame blocks; the table, the take, snap and the vibrato's oscillator are
// shared.
struct Voice {
  // Parameters, written by the controls.
  std::atomic<bool> gate{false};
  std::atomic<bool> phaseReset{false};  // set by the controls, cleared by the frame that serves it
  std::atomic<float> targetPitch{440.0f};
  std::atomic<float> vibratoDepth{0.000001f};
  // Held from a left press (on the pad or off it) or a note until its release: a held voice keeps
  // the take open, and no other source may take it.
  std::atomic<bool> leftHeld{false};

  // Asks the renderer to close this voice's block before its next frame, so that a note opens a
  // block of its own. Only frames rendered piecewise honour it; a whole block always runs out.
  std::atomic<bool> blockCloseRequest{false};

  // Kept by the streaming thread alone.
  float phase = 0.0f;
  float currentPitch = 440.0f;
  float previousPitch = 440.0f;
  float rampPitch = 440.0f;
  // Frames of the voice's current block already rendered; a complete block means the next frame
  // opens a new one (and none is open before the first frame).
  uint32_t blockFrame = kBlockFrames;
};

enum class LoopState : uint8_t { kEmpty, kRecording, kPlaying, kOverdubbing, kStopped };

// The looper: a 16-bit mono loop of up to 60 s that records the voices' sample, plays it under
// them and layers more onto it. Kept by the thread that renders, and its controls are called on
// that same thread between two render calls (the page's worklet, the renderer), so nothing here
// is shared between threads. The Windows program takes no storage for it, and then every control
// does nothing.
struct Looper {
  LoopState state = LoopState::kEmpty;
  uint32_t position = 0;  // the sample the next frame plays; while recording, the frames recorded
  uint32_t length = 0;    // samples, once the first layer is recorded
  // An overdub began since the loop was recorded or last undone: undo brings back the loop as it
  // was when that overdub began.
  bool undoable = false;
  // The undo copy is filled as the overdub runs: each sample is saved just before the overdub first
  // changes it, so that starting an overdub copies nothing. It holds `saved` samples from
  // `savedFrom` on (wrapping at the length); every other sample is as it was when the overdub
  // began.
  uint32_t savedFrom = 0;
  uint32_t saved = 0;
  Storage<int16_t> samples;
  Storage<int16_t> undo;
};

// The take played back: a copy of the take made when play was pressed, played once. Kept and
// controlled as the looper is.
struct TakePlayback {
  uint32_t position = 0;
  uint32_t length = 0;  // samples; it plays while position < length
  Storage<int16_t> samples;
};

// Fields shared by the two threads are atomics; single values need no ordering, while
// tableReady (publishing table, tableLength and the samples) and recording (publishing the
// reset of takeLength) are stored with release and loaded with acquire or stronger.
struct EngineState {
  // The active tone table: 16-bit little-endian mono samples. A 16-bit file is played where it
  // lies in the file image, so `table` may sit at an odd address: read it byte-wise.
  std::atomic<const uint8_t*> table{nullptr};
  std::atomic<uint32_t> tableLength{kDefaultTableLength};
  std::atomic<bool> tableReady{false};

  Voice voices[kVoiceCount];

  // The vibrato's triangle oscillator, stepped once a frame before any voice reads it.
  float lfoValue = 0.0f;
  float lfoStep = 0.005f;
  int32_t lfoCounter = 500;

  // The take: the window opens and closes it, the streaming thread appends to it.
  std::atomic<bool> recording{false};
  std::atomic<uint32_t> takeLength{0};
  Storage<uint8_t> takeBuffer;

  Looper looper;
  TakePlayback playback;

  // The right mouse button as the pad last saw it: it holds the take open. (Each voice keeps its
  // own left button.)
  std::atomic<bool> rightHeld{false};

  // What the pad's pitch snaps to (the browser's control): the notes of a scale in a key, as pitch
  // classes, bit p for the notes p semitones above an A in every octave; none: snap is off. Read
  // and written by the window thread alone: the streaming thread only sees the targetPitch it
  // produced.
  uint16_t snapPitchClasses = 0;

  // Table storage owned by the engine; `table` points into one of these once the default exists.
  // Front ends and the importer change them only through the calls in tone_table.h.
  Storage<int16_t> defaultTable;
  Storage<uint8_t> fileImage;  // a loaded WAV file, whole; 16-bit mono is played where it lies
  Storage<int16_t> widenedTable;
  Storage<int16_t> mixdownTable;
  // A table worked out elsewhere (the browser's page prepares loads on its own instance): filled
  // in `preparedTable` while the active table plays on, then swapped into `adoptedTable`.
  Storage<int16_t> preparedTable;
  Storage<int16_t> adoptedTable;

  // Odd while renderBlock or renderFrames runs. Lets the window wait out a block that may have seen
  // the old table before it releases that table's storage.
  std::atomic<uint32_t> renderSequence{0};
};

// The process-wide instance the window, the streaming thread and the file commands share. Never
// destroyed (see engine_state.cpp): whoever allocates its storage releases it.
extern EngineState& engine;

}  // namespace tonvarel
