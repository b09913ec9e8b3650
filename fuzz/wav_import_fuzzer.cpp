// Feeds arbitrary bytes to the importer as a loaded file image, then plays what it made; and to
// the voice tool's reader, whose every read must stay inside the bytes too.
//
// Whatever the bytes, the importer must publish a table that lies wholly in live storage (ASan
// sees every sample read), never read the image out of bounds, and never leave the table
// withdrawn. The message boxes are swallowed; their texts must be terminated strings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/tone_table.h"
#include "engine/voice.h"
#include "wavfile/wav_import.h"
#include "wavfile/wav_samples.h"

namespace {

using namespace tonvarel;

volatile size_t sink;  // keeps the reads below from being optimised away

void swallowMessage(void* /*context*/, const char* text, const char* caption) {
  sink = std::strlen(text) + (caption != nullptr ? std::strlen(caption) : 0);
}

struct Session {
  Session() {
    buildDefaultTable(state);
    files.setMessageHook(swallowMessage, nullptr);
  }
  EngineState state;
  FileAccess files;
};

bool within(const uint8_t* first, uint64_t bytes, const void* storage, uint64_t storageBytes) {
  const auto* start = static_cast<const uint8_t*>(storage);
  return start != nullptr && first >= start && first - start + bytes <= storageBytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  static Session session;
  EngineState& state = session.state;

  // The engine gives the image storage of exactly its size, so a read one past it is caught.
  importBytes(state, session.files, {data, size});
  const uint8_t* image = state.fileImage.get();
  const auto imageLength = static_cast<uint32_t>(size);

  if (!state.tableReady.load()) std::abort();
  const uint8_t* table = state.table.load();
  const uint32_t length = state.tableLength.load();
  if (table == nullptr) std::abort();
  // A table in the file image must end inside it; the converted tables are checked by reading
  // every sample below.
  if (size != 0 && table >= image && table < image + imageLength &&
      !within(table, 2ull * length, image, imageLength)) {
    std::abort();
  }
  if (table == reinterpret_cast<const uint8_t*>(state.defaultTable.get()) &&
      length != kDefaultTableLength) {
    std::abort();
  }
  size_t sum = 0;
  for (uint32_t i = 0; i < length; ++i) sum += table[2 * i] + table[2 * i + 1];
  sink = sum;

  // Played with the gate open, high enough to wrap a short table many times per block.
  state.voices[0].gate = true;
  state.voices[0].targetPitch = size % 2 == 0 ? 440.0f : 28160.0f;
  static uint8_t block[kBlockBytes];
  renderBlock(state, block, kBlockBytes);

  sink = readWavSamples({data, size}).samples.size();
  return 0;
}
