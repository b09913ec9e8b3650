// Loading a WAV file as the voice's tone table.
//
// The load runs on the window thread while the streaming thread keeps rendering. The table is
// withdrawn (tableReady clear, and any frame that saw it set has finished) before any storage is
// released or re-pointed, and every way out publishes a table again. While it is withdrawn the
// voice plays silence, message boxes included.
#include "wavfile/wav_import.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

#ifdef __linux__
#include <sys/mman.h>
#endif

#include "engine/tone_table.h"
#include "wavfile/messages.h"
#include "wavfile/sample_convert.h"
#include "wavfile/wav_header.h"

namespace tonvarel {
namespace {

// A large table is written once, right after it is allocated, so the cost of first touching
// its fresh pages dominates an import. Where the kernel offers it, huge pages cut that cost
// several-fold; the advice covers the whole 2 MiB pages inside the block.
void adviseHugePages([[maybe_unused]] void* storage, [[maybe_unused]] size_t bytes) {
#ifdef __linux__
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  const auto begin = (reinterpret_cast<uintptr_t>(storage) + kHugePage - 1) & ~(kHugePage - 1);
  const auto end = (reinterpret_cast<uintptr_t>(storage) + bytes) & ~(kHugePage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

// Each storage is released before its replacement is allocated; nothing is resized in place.
// An empty request still gets one byte, so a table of no samples points at live storage.
template <class T>
T* renewStorage(T*& storage, size_t bytes) {
  std::free(storage);
  storage = static_cast<T*>(std::malloc(bytes == 0 ? 1 : bytes));
  if (storage != nullptr) adviseHugePages(storage, bytes);
  return storage;
}

// The table that was active before the load becomes active again.
void restoreTable(EngineState& state) {
  state.tableReady.store(true, std::memory_order_release);
}

void fallBack(EngineState& state, bool resetPhase) {
  useDefaultTable(state);
  state.tableReady.store(true, std::memory_order_release);
  if (resetPhase) state.phaseReset.store(true, std::memory_order_relaxed);
}

void refuseFormat(EngineState& state, FileAccess& files, const char* message) {
  files.showMessage(message, text::kFormatCaption);
  fallBack(state, true);
}

// Whether the active table lies in the file image: it does unless it is one of the storages of
// known size (or none at all).
bool tableInFileImage(const EngineState& state) {
  const uint8_t* table = state.table.load(std::memory_order_relaxed);
  return table != nullptr && table != reinterpret_cast<const uint8_t*>(state.defaultTable) &&
         table != reinterpret_cast<const uint8_t*>(state.widenedTable) &&
         table != reinterpret_cast<const uint8_t*>(state.mixdownTable);
}

}  // namespace

const uint8_t* findChunk(const uint8_t* image, uint32_t imageLength, uint32_t id, uint32_t* size,
                         FileAccess& files) {
  const ChunkLocation found = locateChunk(image, imageLength, id);
  switch (found.result) {
    case ChunkSearch::kFound:
      *size = found.size;
      return image + found.offset;
    case ChunkSearch::kNotRiff:
      files.showMessage(text::kNotRiff, text::kFormatCaption);
      break;
    case ChunkSearch::kNotWave:
      files.showMessage(text::kNotWave, text::kFormatCaption);
      break;
    case ChunkSearch::kNotFound:
      files.showMessage(text::kChunkMissing, text::kFormatCaption);
      break;
  }
  return nullptr;
}

void importImage(EngineState& state, FileAccess& files, uint32_t imageLength) {
  const uint8_t* image = state.fileImage;

  uint32_t formatSize = 0;
  const uint8_t* formatChunk = findChunk(image, imageLength, chunkId("fmt "), &formatSize, files);
  if (formatChunk == nullptr) {
    // Not a WAVE file at all: the phase reset asked for once the file was read still stands.
    fallBack(state, false);
    return;
  }
  // The fields are read from the image whatever size the chunk declares; only the first 16
  // bytes matter (channels, rate, bits), so a chunk cut off before them is refused.
  const auto format =
      readWaveFormat(image, imageLength, static_cast<uint32_t>(formatChunk - image));
  if (!format) return refuseFormat(state, files, text::kCannotConvert);

  bool stereo = false;
  if (format->channels == 2) {
    stereo = true;
  } else if (format->channels != 1) {
    return refuseFormat(state, files, text::kNotMonoOrStereo);
  }
  // The format tag is not looked at: any 8- or 16-bit data is taken as PCM.
  if (format->bitsPerSample != 8 && format->bitsPerSample != 16) {
    return refuseFormat(state, files, text::kCannotConvert);
  }
  if (format->sampleRate != kOutputRate) {
    // The samples are played at 44,100 per second whatever the file says; the user is only told.
    char warning[sizeof text::kRateWarning + 16];
    std::snprintf(warning, sizeof warning, text::kRateWarning,
                  static_cast<int>(static_cast<int32_t>(format->sampleRate)));
    files.showMessage(warning, text::kRateCaption);
  }
  std::this_thread::yield();

  uint32_t dataSize = 0;
  const uint8_t* data = findChunk(image, imageLength, chunkId("data"), &dataSize, files);
  if (data == nullptr) return fallBack(state, true);

  const uint8_t* samples = data;  // 16-bit data is played where it lies, at any alignment
  uint32_t length = dataSize / 2;
  if (format->bitsPerSample == 8) {
    if (renewStorage(state.widenedTable, size_t{dataSize} * 2) == nullptr) {
      return fallBack(state, true);
    }
    widen8(data, state.widenedTable, dataSize);
    samples = reinterpret_cast<const uint8_t*>(state.widenedTable);
    length = dataSize;
  }
  if (stereo) {
    // Left and right are averaged; a last unpaired sample is dropped.
    const uint32_t pairs = length / 2;
    if (renewStorage(state.mixdownTable, size_t{pairs} * 2) == nullptr) {
      return fallBack(state, true);
    }
    mixStereo16(samples, state.mixdownTable, pairs);
    samples = reinterpret_cast<const uint8_t*>(state.mixdownTable);
    length = pairs;
  }
  // A length of 0 (no whole sample) is published as it is: the voice plays silence for it.
  publishTable(state, samples, length);
  state.phaseReset.store(true, std::memory_order_relaxed);
}

void importWav(EngineState& state, FileAccess& files, char* path) {
  FileCommand command(files);
  if (!command.running()) return;

  withdrawTable(state);
  state.phaseReset.store(true, std::memory_order_relaxed);

  if (!files.chooseOpen(path)) return restoreTable(state);

  uint32_t imageLength = 0;
  if (!files.openForRead(path, 0) || (imageLength = files.size(0)) == 0) {
    files.close(0);
    return restoreTable(state);
  }

  const bool previousInImage = tableInFileImage(state);
  if (renewStorage(state.fileImage, imageLength) == nullptr) {
    files.close(0);
    return fallBack(state, true);
  }
  const bool complete =
      files.read(state.fileImage, imageLength, 0) && files.lastTransferred() == imageLength;
  files.close(0);
  if (!complete) {
    // Taken as an empty file: nothing is said and the previous table stays, unless it lived in
    // the image that was just released.
    std::free(state.fileImage);
    state.fileImage = nullptr;
    if (previousInImage) return fallBack(state, true);
    return restoreTable(state);
  }

  state.phaseReset.store(true, std::memory_order_relaxed);
  importImage(state, files, imageLength);
}

}  // namespace tonvarel
