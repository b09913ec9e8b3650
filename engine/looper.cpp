// The looper's controls and storage. The per-frame part lives in looper.h, inlined into the mix.
#include "engine/looper.h"

#include <cstring>

namespace tonvarel {

bool allocateLooper(EngineState& state) {
  Looper& loop = state.looper;
  loopClear(state);
  if (loop.samples.renew(kLoopCapacity) != nullptr && loop.undo.renew(kLoopCapacity) != nullptr) {
    return true;
  }
  releaseLooper(state);
  return false;
}

void releaseLooper(EngineState& state) {
  loopClear(state);
  state.looper.samples.release();
  state.looper.undo.release();
}

bool hasLooper(const EngineState& state) {
  return state.looper.samples.get() != nullptr;
}

void closeRecording(Looper& loop) {
  loop.length = loop.position;
  loop.position = 0;
  loop.undoable = false;
  loop.state = loop.length == 0 ? LoopState::kEmpty : LoopState::kPlaying;
}

void loopControl(EngineState& state) {
  Looper& loop = state.looper;
  if (!hasLooper(state)) return;
  switch (loop.state) {
    case LoopState::kEmpty:
      loop.state = LoopState::kRecording;
      loop.position = 0;
      break;
    case LoopState::kRecording:
      closeRecording(loop);
      break;
    case LoopState::kPlaying:
      // A fresh undo copy, filled as the overdub goes (see Looper).
      loop.state = LoopState::kOverdubbing;
      loop.savedFrom = loop.position;
      loop.saved = 0;
      loop.undoable = true;
      break;
    case LoopState::kOverdubbing:
      loop.state = LoopState::kPlaying;
      break;
    case LoopState::kStopped:
      loop.state = LoopState::kPlaying;
      loop.position = 0;
      break;
  }
}

void loopStop(EngineState& state) {
  Looper& loop = state.looper;
  if (loop.state == LoopState::kRecording) closeRecording(loop);  // none recorded: empty
  if (loop.state == LoopState::kPlaying || loop.state == LoopState::kOverdubbing) {
    loop.state = LoopState::kStopped;
    loop.position = 0;
  }
}

void loopUndo(EngineState& state) {
  Looper& loop = state.looper;
  if (!loop.undoable) return;
  // Only the samples the overdub changed differ from the undo copy: they go back, in at most two
  // runs (the saved span may wrap at the length).
  const uint32_t first = std::min(loop.saved, loop.length - loop.savedFrom);
  int16_t* samples = loop.samples.get();
  const int16_t* undo = loop.undo.get();
  std::memcpy(samples + loop.savedFrom, undo + loop.savedFrom, sizeof(int16_t) * first);
  std::memcpy(samples, undo, sizeof(int16_t) * (loop.saved - first));
  loop.saved = 0;
  loop.undoable = false;
  if (loop.state == LoopState::kOverdubbing) loop.state = LoopState::kPlaying;
}

void loopClear(EngineState& state) {
  Looper& loop = state.looper;
  loop.state = LoopState::kEmpty;
  loop.position = 0;
  loop.length = 0;
  loop.undoable = false;
  loop.saved = 0;
}

TakeBytes loopBytes(const EngineState& state) {
  const Looper& loop = state.looper;
  uint32_t count = 0;
  if (loop.state == LoopState::kRecording) {
    count = loop.position;
  } else if (loop.state != LoopState::kEmpty) {
    count = loop.length;
  }
  return {reinterpret_cast<const uint8_t*>(loop.samples.get()), 2 * count};
}

}  // namespace tonvarel
