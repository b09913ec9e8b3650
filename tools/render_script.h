// The headless renderer's script: one command per line, parsed whole before anything runs.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "instrument/pad.h"

namespace tonvarel {

struct ScriptCommand {
  enum class Kind {
    // The looper's controls and the take played back (`loop ...`, `take ...`)
    kLoop,
    kLoopStop,
    kLoopUndo,
    kLoopClear,
    kLoopSave,
    kTakePlay,
    kTakeStop,
    kMove,
    kLeftDown,
    kLeftUp,
    kRightDown,
    kRightUp,
    kLoad,
    kSave,
    kSnap,
    kDefault,
    kVoice,
    kMidi,
    kRender
  };
  Kind kind = Kind::kRender;
  int line = 0;
  uint16_t x = 0;  // client coordinates as a mouse message carries them
  uint16_t y = 0;
  // render N and frames F alike: frames rendered on from where the block stands
  uint32_t frames = 0;
  int voice = 0;                  // voice K: the voice later ldown, lup and move lines address
  std::optional<pad::Snap> snap;  // a scale and key to snap to; none: snap off
  std::array<uint8_t, 3> midi{};  // a MIDI channel message, midiLength bytes of it
  uint8_t midiLength = 0;
  std::string path;
};

struct ScriptError {
  int line;
  std::string message;
};

// The longest stream a WAV header can describe, in 16-bit stereo frames.
inline constexpr uint64_t kMaxStreamFrames = (0xFFFFFFFFull - 36) / 4;

std::variant<std::vector<ScriptCommand>, ScriptError> parseScript(std::string_view text);

}  // namespace tonvarel
