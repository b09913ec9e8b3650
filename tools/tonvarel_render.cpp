// tonvarel-render: the program's engine, pad and file commands driven by a script instead of a
// mouse, writing every rendered block to a WAV file. Message boxes become lines on stderr.
//
//   tonvarel-render SCRIPT --out STREAM.wav
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <span>
#include <sstream>
#include <string>
#include <variant>

#include "engine/looper.h"
#include "engine/take.h"
#include "engine/tone_table.h"
#include "engine/voice.h"
#include "instrument/controls.h"
#include "instrument/pad.h"
#include "tools/render_script.h"
#include "wavfile/file_access.h"
#include "wavfile/take_export.h"
#include "wavfile/wav_header.h"
#include "wavfile/wav_import.h"

namespace tonvarel {
namespace {

constexpr const char* kUsage = "usage: tonvarel-render SCRIPT --out STREAM.wav";

int fail(const std::string& message) {
  std::fprintf(stderr, "tonvarel-render: %s\n", message.c_str());
  return 1;
}

// The chooser hook answers every chooser with the path of the command being run.
bool answerWithScriptedPath(void* context, bool /*save*/, char* path) {
  const auto* chosen = static_cast<const std::string*>(context);
  std::memcpy(path, chosen->c_str(), chosen->size() + 1);  // the parser keeps it under kPathChars
  return true;
}

// Writes the stream to a side file and moves it into place only once it is complete, so a
// failed run never leaves something that looks like a finished stream.
class StreamFile {
 public:
  explicit StreamFile(std::string path) : path_(std::move(path)), partial_(path_ + ".partial") {}
  ~StreamFile() {
    if (file_ != nullptr) std::fclose(file_);
    if (!committed_) std::remove(partial_.c_str());
  }

  bool open() {
    file_ = std::fopen(partial_.c_str(), "wb");
    return file_ != nullptr && put(pcmHeader(2, 0).data(), kWavHeaderBytes);
  }
  bool put(const uint8_t* bytes, size_t count) {
    dataBytes_ += count;
    return std::fwrite(bytes, 1, count, file_) == count;
  }
  bool commit() {
    const auto header = pcmHeader(2, static_cast<uint32_t>(dataBytes_ - kWavHeaderBytes));
    const bool written = std::fseek(file_, 0, SEEK_SET) == 0 &&
                         std::fwrite(header.data(), 1, header.size(), file_) == header.size();
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!written || !closed || std::rename(partial_.c_str(), path_.c_str()) != 0) return false;
    committed_ = true;
    return true;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string partial_;
  std::FILE* file_ = nullptr;
  uint64_t dataBytes_ = 0;
  bool committed_ = false;
};

bool usesLooper(const std::vector<ScriptCommand>& commands) {
  using Kind = ScriptCommand::Kind;
  return std::any_of(commands.begin(), commands.end(), [](const ScriptCommand& c) {
    return c.kind >= Kind::kLoop && c.kind <= Kind::kTakeStop;
  });
}

int run(const std::string& scriptPath, const std::string& outPath) {
  std::ifstream in(scriptPath, std::ios::binary);
  if (!in) return fail("cannot read script " + scriptPath + ": " + std::strerror(errno));
  std::stringstream text;
  text << in.rdbuf();
  if (in.bad()) return fail("cannot read script " + scriptPath);

  auto parsed = parseScript(text.str());
  if (auto* error = std::get_if<ScriptError>(&parsed)) {
    return fail(scriptPath + ": line " + std::to_string(error->line) + ": " + error->message);
  }
  const auto& commands = std::get<std::vector<ScriptCommand>>(parsed);

  StreamFile stream(outPath);
  if (!stream.open()) return fail("cannot write " + outPath + ": " + std::strerror(errno));

  // The state the program has right after start-up.
  EngineState state;
  allocateTake(state);
  buildDefaultTable(state);
  // The looper's and the playback's storage, taken once, as the page takes them. Without it their
  // lines would do nothing, which is not the sound the script asks for.
  const bool looper = allocateLooper(state);
  const bool playback = allocatePlayback(state);
  if (!(looper && playback) && usesLooper(commands)) {
    return fail("not enough memory for the looper and the take's playback");
  }

  FileAccess fileAccess;
  char chosenPath[kPathChars] = {};
  std::string scriptedPath;
  fileAccess.setChooserHook(answerWithScriptedPath, &scriptedPath);

  uint8_t block[kBlockBytes];
  Controls controls(state);
  int voice = 0;  // what ldown, lup and move address
  for (const ScriptCommand& c : commands) {
    using Kind = ScriptCommand::Kind;
    switch (c.kind) {
      case Kind::kLoop:
        loopControl(state);
        break;
      case Kind::kLoopStop:
        loopStop(state);
        break;
      case Kind::kLoopUndo:
        loopUndo(state);
        break;
      case Kind::kLoopClear:
        loopClear(state);
        break;
      case Kind::kLoopSave:
        scriptedPath = c.path;
        exportLoop(state, fileAccess, chosenPath);
        break;
      case Kind::kTakePlay:
        playTake(state);
        break;
      case Kind::kTakeStop:
        stopTake(state);
        break;
      case Kind::kVoice:
        voice = c.voice;
        break;
      case Kind::kMidi:
        controls.midi(std::span<const uint8_t>(c.midi.data(), c.midiLength));  // parsed whole
        break;
      case Kind::kMove:
        controls.move(c.x, c.y, voice);
        break;
      case Kind::kLeftDown:
        controls.leftDown(c.x, c.y, voice);
        break;
      case Kind::kLeftUp:
        controls.leftUp(voice);
        break;
      case Kind::kRightDown:
        pad::pressRight(state);
        break;
      case Kind::kRightUp:
        pad::releaseRight(state);
        break;
      case Kind::kLoad:
        scriptedPath = c.path;
        importWav(state, fileAccess, chosenPath);
        break;
      case Kind::kSave:
        scriptedPath = c.path;
        exportTake(state, fileAccess, chosenPath);
        break;
      case Kind::kSnap:
        pad::setSnap(state, c.snap);
        break;
      case Kind::kDefault:
        returnToDefaultTable(state);
        break;
      case Kind::kRender:
        for (uint32_t left = c.frames; left > 0;) {
          const uint32_t count = std::min(left, kBlockFrames);
          renderFrames(state, block, count);
          if (!stream.put(block, 4 * count)) {
            return fail("cannot write " + outPath + ": " + std::strerror(errno));
          }
          left -= count;
        }
        break;
    }
  }

  if (!stream.commit()) return fail("cannot finish " + outPath + ": " + std::strerror(errno));
  return 0;
}

}  // namespace
}  // namespace tonvarel

int main(int argc, char** argv) {
  std::string script;
  std::string out;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--out" && i + 1 < argc) {
      out = argv[++i];
    } else if (arg == "-h" || arg == "--help") {
      std::puts(tonvarel::kUsage);
      return 0;
    } else if (script.empty() && !arg.starts_with("--")) {
      script = arg;
    } else {
      std::fprintf(stderr, "tonvarel-render: unexpected argument '%s' (%s)\n", arg.c_str(),
                   tonvarel::kUsage);
      return 2;
    }
  }
  if (script.empty() || out.empty()) {
    std::fprintf(stderr, "%s\n", tonvarel::kUsage);
    return 2;
  }
  return tonvarel::run(script, out);
}
