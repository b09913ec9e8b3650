// The headless renderer's script: one command per line, parsed whole before anything runs.
#include "tools/render_script.h"

#include <array>
#include <charconv>
#include <optional>

#include "engine/engine_state.h"
#include "instrument/midi.h"
#include "wavfile/file_access.h"

namespace tonvarel {
namespace {

using Kind = ScriptCommand::Kind;

struct Keyword {
  std::string_view name;
  Kind kind;
};

constexpr std::array<Keyword, 13> kKeywords{{
    {"move", Kind::kMove},
    {"ldown", Kind::kLeftDown},
    {"lup", Kind::kLeftUp},
    {"rdown", Kind::kRightDown},
    {"rup", Kind::kRightUp},
    {"load", Kind::kLoad},
    {"save", Kind::kSave},
    {"snap", Kind::kSnap},
    {"default", Kind::kDefault},
    {"voice", Kind::kVoice},
    {"midi", Kind::kMidi},
    {"render", Kind::kRender},
    {"frames", Kind::kRender},
}};

// `loop` alone is the loop control; the other controls follow `loop` or `take` as a second word.
struct SecondWord {
  std::string_view first;
  std::string_view second;
  Kind kind;
};

constexpr std::array<SecondWord, 6> kSecondWords{{
    {"loop", "stop", Kind::kLoopStop},
    {"loop", "undo", Kind::kLoopUndo},
    {"loop", "clear", Kind::kLoopClear},
    {"loop", "save", Kind::kLoopSave},
    {"take", "play", Kind::kTakePlay},
    {"take", "stop", Kind::kTakeStop},
}};

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (isBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::string_view nextToken(std::string_view& rest) {
  rest = trimmed(rest);
  size_t end = 0;
  while (end < rest.size() && !isBlank(rest[end])) ++end;
  std::string_view token = rest.substr(0, end);
  rest.remove_prefix(end);
  return token;
}

std::optional<int64_t> integer(std::string_view token) {
  if (token.empty()) return std::nullopt;
  int64_t value = 0;
  const char* end = token.data() + token.size();
  const char* begin = token.data();
  auto [ptr, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc{} || ptr != end) return std::nullopt;
  return value;
}

constexpr std::string_view kHexDigits = "0123456789ABCDEF";

// Two hexadecimal digits, either case.
std::optional<uint8_t> hexByte(std::string_view token) {
  if (token.size() != 2) return std::nullopt;
  int value = 0;
  for (char c : token) {
    const char upper = c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
    const size_t digit = kHexDigits.find(upper);
    if (digit == std::string_view::npos) return std::nullopt;
    value = value * 16 + static_cast<int>(digit);
  }
  return static_cast<uint8_t>(value);
}

template <size_t N>
std::optional<int> indexIn(const std::array<std::string_view, N>& names, std::string_view word) {
  for (size_t i = 0; i < N; ++i) {
    if (names[i] == word) return static_cast<int>(i);
  }
  return std::nullopt;
}

template <size_t N>
std::string listed(const std::array<std::string_view, N>& names) {
  std::string list;
  for (std::string_view name : names) {
    if (!list.empty()) list += ' ';
    list += name;
  }
  return list;
}

class LineParser {
 public:
  LineParser(int line, std::string_view rest) : line_(line), rest_(rest) {}

  std::optional<ScriptError> coordinates(ScriptCommand& command) {
    auto x = coordinate("X");
    if (!x) return error_;
    auto y = coordinate("Y");
    if (!y) return error_;
    command.x = *x;
    command.y = *y;
    return finished();
  }

  // `render N` counts blocks of 1,500 frames, `frames F` single frames.
  std::optional<ScriptError> frameCount(ScriptCommand& command, std::string_view word,
                                        uint64_t& total) {
    const bool blocks = word == "render";
    const char* unit = blocks ? "block" : "frame";
    const std::string_view token = nextToken(rest_);
    if (token.empty()) return fail(std::string(word) + " needs a " + unit + " count");
    auto n = integer(token);
    if (!n) {
      return fail(std::string(unit) + " count '" + std::string(token) + "' is not a whole number");
    }
    if (*n < 0) return fail(std::string(unit) + " count must not be negative");
    const uint64_t frames = static_cast<uint64_t>(*n) * (blocks ? kBlockFrames : 1);
    if (static_cast<uint64_t>(*n) > kMaxStreamFrames || total + frames > kMaxStreamFrames) {
      return fail("the stream would pass the 4 GiB a WAV file can hold (at most " +
                  std::to_string(kMaxStreamFrames) + " frames in all)");
    }
    total += frames;
    command.frames = static_cast<uint32_t>(frames);
    return finished();
  }

  // `snap on` is every semitone from C, `snap off` ends it, `snap SCALE KEY` names both.
  std::optional<ScriptError> snapSetting(ScriptCommand& command) {
    const std::string_view word = nextToken(rest_);
    if (word == "off") return finished();
    if (word == "on") {
      command.snap = pad::Snap{};
      return finished();
    }
    const auto scale = indexIn(pad::kScaleNames, word);
    if (!scale) {
      if (word.empty()) return fail("snap needs 'on', 'off' or a scale and a key");
      return fail("unknown scale '" + std::string(word) + "' (" + listed(pad::kScaleNames) + ")");
    }
    const std::string_view keyWord = nextToken(rest_);
    const auto key = indexIn(pad::kKeyNames, keyWord);
    if (!key) {
      if (keyWord.empty()) return fail("snap " + std::string(word) + " needs a key");
      return fail("unknown key '" + std::string(keyWord) + "' (" + listed(pad::kKeyNames) + ")");
    }
    command.snap = pad::Snap{static_cast<pad::Scale>(*scale), *key};
    return finished();
  }

  // `voice K`, K from 0 to 9.
  std::optional<ScriptError> voiceNumber(ScriptCommand& command) {
    const std::string_view token = nextToken(rest_);
    if (token.empty()) return fail("voice needs a number from 0 to " + lastVoice());
    const auto k = integer(token);
    if (!k || *k < 0 || *k >= kVoiceCount) {
      return fail("voice '" + std::string(token) + "' is not a number from 0 to " + lastVoice());
    }
    command.voice = static_cast<int>(*k);
    return finished();
  }

  // `midi HH HH [HH]`: one whole channel message, each byte in two hexadecimal digits.
  std::optional<ScriptError> midiMessage(ScriptCommand& command) {
    size_t count = 0;
    for (std::string_view token = nextToken(rest_); !token.empty(); token = nextToken(rest_)) {
      const auto byte = hexByte(token);
      if (!byte) return fail("byte '" + std::string(token) + "' is not two hexadecimal digits");
      if (count == command.midi.size()) return fail("a MIDI channel message has at most 3 bytes");
      command.midi[count++] = *byte;
    }
    if (count == 0) return fail("midi needs a channel message: 2 or 3 bytes in hexadecimal");
    const uint8_t status = command.midi[0];
    if (status < 0x80) return fail("the first byte must be a status byte, 80 to EF");
    if (status >= 0xF0) return fail("system messages (F0 to FF) do not reach the engine");
    for (size_t i = 1; i < count; ++i) {
      if (command.midi[i] >= 0x80) return fail("a data byte must be below 80");
    }
    const size_t length = midi::messageLength(status);
    if (count != length) {
      const char kind[] = {kHexDigits[status >> 4], 'n', '\0'};
      return fail("a message of kind " + std::string(kind) + " has " + std::to_string(length) +
                  " bytes");
    }
    command.midiLength = static_cast<uint8_t>(count);
    return std::nullopt;
  }

  // `loop`, `loop stop|undo|clear`, `loop save PATH`, `take play|stop`.
  std::optional<ScriptError> control(ScriptCommand& command, std::string_view first) {
    const std::string_view second = nextToken(rest_);
    if (first == "loop" && second.empty()) {
      command.kind = Kind::kLoop;
      return std::nullopt;
    }
    std::string known;
    for (const SecondWord& w : kSecondWords) {
      if (w.first != first) continue;
      if (w.second == second) {
        command.kind = w.kind;
        return w.kind == Kind::kLoopSave ? path(command) : finished();
      }
      known += (known.empty() ? "" : ", ") + std::string(w.second);
    }
    if (second.empty()) return fail(std::string(first) + " needs one of " + known);
    return fail("unknown " + std::string(first) + " command '" + std::string(second) + "' (" +
                known + ")");
  }

  std::optional<ScriptError> path(ScriptCommand& command) {
    const std::string_view p = trimmed(rest_);
    if (p.empty()) return fail("needs a path");
    if (p.size() >= static_cast<size_t>(kPathChars)) {
      return fail("path is longer than " + std::to_string(kPathChars - 1) + " bytes");
    }
    command.path = std::string(p);
    return std::nullopt;
  }

  std::optional<ScriptError> finished() {
    const std::string_view extra = nextToken(rest_);
    if (!extra.empty()) return fail("unexpected '" + std::string(extra) + "'");
    return std::nullopt;
  }

  ScriptError fail(std::string message) {
    error_ = ScriptError{line_, std::move(message)};
    return *error_;
  }

 private:
  std::optional<uint16_t> coordinate(const char* name) {
    const std::string_view token = nextToken(rest_);
    if (token.empty()) {
      fail(std::string("missing ") + name + " coordinate");
      return std::nullopt;
    }
    auto v = integer(token);
    if (!v) {
      fail(std::string(name) + " coordinate '" + std::string(token) + "' is not a whole number");
      return std::nullopt;
    }
    if (*v < -32768 || *v > 65535) {
      fail(std::string(name) + " coordinate " + std::string(token) +
           " does not fit the 16 bits of a mouse message");
      return std::nullopt;
    }
    // Negative positions arrive as their 16-bit two's complement, as in a real message.
    return static_cast<uint16_t>(*v);
  }

  static std::string lastVoice() { return std::to_string(kVoiceCount - 1); }

  int line_;
  std::string_view rest_;
  std::optional<ScriptError> error_;
};

}  // namespace

std::variant<std::vector<ScriptCommand>, ScriptError> parseScript(std::string_view text) {
  std::vector<ScriptCommand> commands;
  uint64_t totalFrames = 0;
  int line = 0;
  while (!text.empty()) {
    ++line;
    const size_t newline = text.find('\n');
    std::string_view rest = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);

    rest = trimmed(rest);
    if (rest.empty() || rest.front() == '#') continue;

    const std::string_view word = nextToken(rest);
    LineParser parser(line, rest);
    if (word == "loop" || word == "take") {
      ScriptCommand command;
      command.line = line;
      if (auto error = parser.control(command, word)) return *error;
      commands.push_back(std::move(command));
      continue;
    }
    const Keyword* keyword = nullptr;
    for (const Keyword& k : kKeywords) {
      if (k.name == word) keyword = &k;
    }
    if (keyword == nullptr) return parser.fail("unknown command '" + std::string(word) + "'");

    ScriptCommand command;
    command.kind = keyword->kind;
    command.line = line;
    std::optional<ScriptError> error;
    switch (keyword->kind) {
      case Kind::kLoad:
      case Kind::kSave:
        error = parser.path(command);
        break;
      case Kind::kRender:
        error = parser.frameCount(command, word, totalFrames);
        break;
      case Kind::kSnap:
        error = parser.snapSetting(command);
        break;
      case Kind::kDefault:
        error = parser.finished();
        break;
      case Kind::kVoice:
        error = parser.voiceNumber(command);
        break;
      case Kind::kMidi:
        error = parser.midiMessage(command);
        break;
      default:
        error = parser.coordinates(command);
        break;
    }
    if (error) return *error;
    commands.push_back(std::move(command));
  }
  return commands;
}

}  // namespace tonvarel
