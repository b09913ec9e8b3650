// Loading a WAV file as the voice's tone table.
//
// The load runs on the window thread while the streaming thread keeps rendering. The table is
// withdrawn (tableReady clear, and any frame that saw it set has finished) before any storage is
// released or re-pointed, and every way out publishes a table again. While it is withdrawn the
// voice plays silence, message boxes included.
#include "wavfile/wav_import.h"

#include <cstdio>
#include <cstring>
#include <thread>

#include "engine/tone_table.h"
#include "wavfile/messages.h"
#include "wavfile/riff.h"
#include "wavfile/sample_convert.h"
#include "wavfile/wav_header.h"

namespace tonvarel {
namespace {

void fallBack(EngineState& state, bool resetPhase) {
  fallBackToDefaultTable(state);
  if (resetPhase) requestPhaseReset(state);
}

void refuseFormat(EngineState& state, FileAccess& files, const char* message) {
  files.showMessage(message, text::kFormatCaption);
  fallBack(state, true);
}

// The file, or a table made from it, cannot be held: say so, then the default table comes back.
void outOfMemory(EngineState& state, FileAccess& files) {
  files.showMessage(text::kOutOfMemory, text::kOutOfMemoryCaption);
  fallBack(state, true);
}

// Walks the RIFF chunks of `image` for `id`. Returns the chunk's data and its size (clamped to
// the bytes present), or null after telling the user why ("not RIFF", "not WAVE", not found).
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

// The rest of the load, once the file is the engine's file image: find the format and the data,
// convert, publish. The table is withdrawn on entry and made ready again on every way out.
void convertImage(EngineState& state, FileAccess& files, const uint8_t* image,
                  uint32_t imageLength) {
  requestPhaseReset(state);

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
    int16_t* widened = renewWidenedTable(state, dataSize);
    if (widened == nullptr) return outOfMemory(state, files);
    widen8(data, widened, dataSize);
    samples = reinterpret_cast<const uint8_t*>(widened);
    length = dataSize;
  }
  if (stereo) {
    // Left and right are averaged; a last unpaired sample is dropped.
    const uint32_t pairs = length / 2;
    int16_t* mixdown = renewMixdownTable(state, pairs);
    if (mixdown == nullptr) return outOfMemory(state, files);
    mixStereo16(samples, mixdown, pairs);
    samples = reinterpret_cast<const uint8_t*>(mixdown);
    length = pairs;
  }
  // A length of 0 (no whole sample) is published as it is: the voice plays silence for it.
  publishTable(state, samples, length);
  requestPhaseReset(state);
}

}  // namespace

void importWav(EngineState& state, FileAccess& files, char* path) {
  FileCommand command(files);
  if (!command.running()) return;

  withdrawTable(state);
  requestPhaseReset(state);

  if (!files.chooseOpen(path)) return restoreTable(state);

  uint32_t imageLength = 0;
  if (!files.openForRead(path, 0) || (imageLength = files.size(0)) == 0) {
    files.close(0);
    return restoreTable(state);
  }
  uint8_t* image = renewFileImage(state, imageLength);
  if (image == nullptr) {
    files.close(0);
    return outOfMemory(state, files);
  }
  const bool complete = files.read(image, imageLength, 0) && files.lastTransferred() == imageLength;
  files.close(0);
  // A short or failed read is taken as an empty file: nothing is said and the previous table
  // stays (the default one, should the previous table have lived in the image just replaced).
  if (!complete) return restoreTable(state);

  convertImage(state, files, image, imageLength);
}

void importBytes(EngineState& state, FileAccess& files, std::span<const uint8_t> bytes) {
  FileCommand command(files);
  if (!command.running()) return;

  withdrawTable(state);
  requestPhaseReset(state);

  // Empty, or beyond the 4 GiB a RIFF size can describe: as a file that cannot be read.
  if (bytes.empty() || bytes.size() > UINT32_MAX) return restoreTable(state);
  const auto imageLength = static_cast<uint32_t>(bytes.size());
  uint8_t* image = renewFileImage(state, imageLength);
  if (image == nullptr) return outOfMemory(state, files);
  std::memcpy(image, bytes.data(), imageLength);

  convertImage(state, files, image, imageLength);
}

void importFileImage(EngineState& state, FileAccess& files, uint32_t imageLength) {
  FileCommand command(files);
  if (!command.running()) return;

  withdrawTable(state);
  requestPhaseReset(state);

  uint8_t* image = state.fileImage.get();
  if (imageLength == 0 || image == nullptr) return restoreTable(state);
  convertImage(state, files, image, imageLength);
}

}  // namespace tonvarel
