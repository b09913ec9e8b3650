// The module's calls for loads that never stall the sound. The page works a load out on its own
// instance, on an engine that never plays; the worklet only copies the finished table into its
// engine's storage, a slice between two render quanta, and adopts it whole.
//
// The page:
//   1. `tv_load_room(n)` gives room for the file's n bytes (null when the memory cannot be had);
//      the page writes them there, a piece at a time.
//   2. `tv_load_prepare(n)` runs the load command on them: its message boxes reach the page's
//      Module.showMessage as they are shown, and it answers with what the load did (LoadOutcome:
//      0 the table stays, 1 the built-in tone, 2 a table). For 2, `tv_load_table()` and
//      `tv_load_table_length()` are its 16-bit samples (possibly at an odd address).
//      `tv_load_bits()`, `tv_load_channels()` and `tv_load_float()` tell what the file's format
//      chunk gave, for the page's words on a refused file (0 when it has none).
//   3. `tv_load_release()` gives the room back once the table has been handed over.
// The worklet, between two quanta:
//   1. `tv_prepared_room(samples)` gives room for the table beside the active one, which plays on
//      (null when the memory cannot be had); the worklet fills it a slice at a time.
//   2. `tv_adopt(outcome, samples)` takes the load on, as the load command would have left the
//      engine; 0 when there is nothing to adopt (a table whose room was never had).
#include <emscripten/emscripten.h>

#include <cstdint>
#include <span>

#include "engine/tone_table.h"
#include "wavfile/file_access.h"
#include "wavfile/prepared_load.h"
#include "wavfile/wav_samples.h"

namespace tonvarel {
namespace {

EngineState preparing;  // the page's engine: it loads, and never plays
FileAccess preparingFiles;
PreparedLoad prepared;
WavSampleFormat preparedFormat;
uint32_t preparedRoom = 0;  // samples of the worklet's room for a table

EM_JS(void, postLoadMessage, (const char* text, const char* caption),
      { Module.showMessage(UTF8ToString(text), caption ? UTF8ToString(caption) : null); });

void showOnPage(void* /*context*/, const char* text, const char* caption) {
  postLoadMessage(text, caption);
}

}  // namespace
}  // namespace tonvarel

using namespace tonvarel;

extern "C" {

EMSCRIPTEN_KEEPALIVE uint8_t* tv_load_room(uint32_t bytes) {
  prepared = {};
  return renewFileImage(preparing, bytes);
}

EMSCRIPTEN_KEEPALIVE int tv_load_prepare(uint32_t bytes) {
  preparingFiles.setMessageHook(showOnPage, nullptr);
  const uint8_t* image = preparing.fileImage.get();
  preparedFormat = image == nullptr ? WavSampleFormat{}
                                    : readWavSampleFormat(std::span<const uint8_t>(image, bytes));
  prepared = prepareLoad(preparing, preparingFiles, bytes);
  return static_cast<int>(prepared.outcome);
}

EMSCRIPTEN_KEEPALIVE const uint8_t* tv_load_table() {
  return prepared.samples;
}
EMSCRIPTEN_KEEPALIVE uint32_t tv_load_table_length() {
  return prepared.length;
}
EMSCRIPTEN_KEEPALIVE int tv_load_bits() {
  return preparedFormat.bits;
}
EMSCRIPTEN_KEEPALIVE int tv_load_channels() {
  return preparedFormat.channels;
}
EMSCRIPTEN_KEEPALIVE int tv_load_float() {
  return preparedFormat.isFloat ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE void tv_load_release() {
  prepared = {};
  releaseTables(preparing);
}

EMSCRIPTEN_KEEPALIVE int16_t* tv_prepared_room(uint32_t samples) {
  int16_t* room = renewPreparedTable(engine, samples);
  preparedRoom = room == nullptr ? 0 : samples;
  return room;
}

EMSCRIPTEN_KEEPALIVE int tv_adopt(int outcome, uint32_t samples) {
  switch (static_cast<LoadOutcome>(outcome)) {
    case LoadOutcome::kUnchanged:
    case LoadOutcome::kBuiltIn:
      adoptLoad(engine, static_cast<LoadOutcome>(outcome), 0);
      return 1;
    case LoadOutcome::kTable:
      if (engine.preparedTable.get() == nullptr || samples > preparedRoom) return 0;
      adoptLoad(engine, LoadOutcome::kTable, samples);
      preparedRoom = 0;
      return 1;
  }
  return 0;
}

}  // extern "C"
