// Until the importer takes bytes itself: the load with the file's bytes already in hand, as
// importWav does after its chooser and read.
#include <cstdlib>
#include <cstring>
#include <span>

#include "engine/tone_table.h"
#include "wavfile/wav_import.h"

namespace tonvarel {

void importBytes(EngineState& state, FileAccess& files, std::span<const uint8_t> bytes) {
  FileCommand command(files);
  if (!command.running()) return;
  withdrawTable(state);
  state.phaseReset.store(true, std::memory_order_relaxed);
  if (bytes.empty()) {
    state.tableReady.store(true, std::memory_order_release);
    return;
  }
  std::free(state.fileImage);
  state.fileImage = static_cast<uint8_t*>(std::malloc(bytes.size()));
  if (state.fileImage == nullptr) {
    useDefaultTable(state);
    state.tableReady.store(true, std::memory_order_release);
    return;
  }
  std::memcpy(state.fileImage, bytes.data(), bytes.size());
  importImage(state, files, static_cast<uint32_t>(bytes.size()));
}

}  // namespace tonvarel
