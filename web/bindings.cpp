// The browser edition's side of the module: the calls the audio worklet makes on the one engine
// that lives in its WebAssembly instance. The pad, the importer and the export are the window's
// own code; message boxes and the save chooser are answered through FileAccess's hooks.
#include <emscripten/emscripten.h>

#include <cstdio>
#include <cstring>
#include <span>
#include <vector>

#include "app/pad.h"
#include "engine/take.h"
#include "engine/tone_table.h"
#include "engine/voice.h"
#include "wavfile/file_access.h"
#include "wavfile/take_export.h"
#include "wavfile/wav_import.h"

namespace tonvarel {
namespace {

// The save writes here, in the module's in-memory file system, and the page downloads the bytes.
constexpr char kTakePath[] = "/take.wav";

FileAccess files;
char chosenSavePath[kPathChars];
uint8_t block[kBlockBytes];
std::vector<uint8_t> savedFile;

// A message box becomes a dialog on the page; a null caption is the platform's default.
EM_JS(void, postMessageBox, (const char* text, const char* caption),
      { Module.showMessage(UTF8ToString(text), caption ? UTF8ToString(caption) : null); });

void showOnPage(void* /*context*/, const char* text, const char* caption) {
  postMessageBox(text, caption);
}

bool answerWithTakePath(void* /*context*/, bool /*save*/, char* path) {
  std::memcpy(path, kTakePath, sizeof kTakePath);
  return true;
}

// Reads back what the export wrote; nothing when it wrote nothing (an empty take).
void readSavedFile() {
  savedFile.clear();
  std::FILE* file = std::fopen(kTakePath, "rb");
  if (file == nullptr) return;
  uint8_t chunk[4096];
  size_t count;
  while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    savedFile.insert(savedFile.end(), chunk, chunk + count);
  }
  std::fclose(file);
  std::remove(kTakePath);
}

}  // namespace
}  // namespace tonvarel

using namespace tonvarel;

extern "C" {

// The state the program has right after start-up. Returns the block the worklet plays from.
EMSCRIPTEN_KEEPALIVE const uint8_t* tv_start() {
  allocateTake(engine);
  buildDefaultTable(engine);
  files.setMessageHook(showOnPage, nullptr);
  files.setChooserHook(answerWithTakePath, nullptr);
  return block;
}

// The next 1,500 frames into the block.
EMSCRIPTEN_KEEPALIVE void tv_render() {
  renderBlock(engine, block, kBlockBytes);
}

// Pointer events in the window's client coordinates, as the window's messages apply them.
EMSCRIPTEN_KEEPALIVE void tv_move(int x, int y) {
  pad::mouseMove(engine, x, y);
}
EMSCRIPTEN_KEEPALIVE void tv_left_down(int x, int y) {
  if (auto at = pad::pressLeft(engine, x, y)) pad::keyOn(engine, *at);
}
EMSCRIPTEN_KEEPALIVE void tv_left_up() {
  pad::releaseLeft(engine);
  pad::keyOff(engine);
}
EMSCRIPTEN_KEEPALIVE void tv_right_down() {
  pad::pressRight(engine);
}
EMSCRIPTEN_KEEPALIVE void tv_right_up() {
  pad::releaseRight(engine);
}

// The load command with the file's bytes in hand (the page's picker or a drop gave them).
EMSCRIPTEN_KEEPALIVE void tv_load(const uint8_t* bytes, uint32_t length) {
  importBytes(engine, files, std::span<const uint8_t>(bytes, length));
}

// The save command. Returns the file's length (0: nothing was written); its bytes are at
// tv_saved_bytes() until the next save.
EMSCRIPTEN_KEEPALIVE uint32_t tv_save() {
  std::remove(kTakePath);
  exportTake(engine, files, chosenSavePath);
  readSavedFile();
  return static_cast<uint32_t>(savedFile.size());
}
EMSCRIPTEN_KEEPALIVE const uint8_t* tv_saved_bytes() {
  return savedFile.data();
}

// The pad's geometry and its semitone scale, for drawing.
EMSCRIPTEN_KEEPALIVE int tv_tick_count() {
  return pad::kTickCount;
}
EMSCRIPTEN_KEEPALIVE int tv_tick_row(int i) {
  return pad::scaleTicks()[i].row;
}
EMSCRIPTEN_KEEPALIVE int tv_tick_from_x(int i) {
  return pad::scaleTicks()[i].fromX;
}
EMSCRIPTEN_KEEPALIVE int tv_tick_to_x(int i) {
  return pad::scaleTicks()[i].toX;
}
EMSCRIPTEN_KEEPALIVE int tv_pad_origin_x() {
  return pad::kOriginX;
}
EMSCRIPTEN_KEEPALIVE int tv_pad_origin_y() {
  return pad::kOriginY;
}
EMSCRIPTEN_KEEPALIVE int tv_pad_size() {
  return pad::kSize;
}

}  // extern "C"
