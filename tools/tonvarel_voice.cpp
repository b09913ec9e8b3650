// tonvarel-voice: a recording in a WAV file made into a voice for the pad. The steadiest stretch
// of the recording is cut into a loop of whole periods, tuned to 440 Hz and written as a
// 44,100 Hz 16-bit mono WAV file, which the load command plays as it is.
//
//   tonvarel-voice IN.wav OUT.wav
//
// IN is read as the importer reads it (8- or 16-bit PCM, mono or stereo, stereo averaged), at
// the rate its format chunk gives. On success one line tells the pitch found, the periods and
// the samples of the loop; on any failure one line on stderr tells why, the exit status is 1 and
// OUT is left as it was.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <variant>
#include <vector>

#include "voiceloop/voice_loop.h"
#include "wavfile/riff.h"
#include "wavfile/sample_convert.h"

namespace tonvarel {
namespace {

constexpr const char* kUsage = "usage: tonvarel-voice IN.wav OUT.wav";
constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;  // carries its real format in a sub-format GUID

int fail(const std::string& message) {
  std::fprintf(stderr, "tonvarel-voice: %s\n", message.c_str());
  return 1;
}

// The whole file, or why it could not be read.
std::variant<std::vector<uint8_t>, std::string> readWhole(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return "cannot read " + path + ": " + std::strerror(errno);
  std::vector<uint8_t> bytes;
  uint8_t chunk[1 << 16];
  size_t count;
  while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    if (bytes.size() + count > UINT32_MAX) {
      std::fclose(file);
      return path + ": too large for a WAV file (over 4 GiB)";
    }
    bytes.insert(bytes.end(), chunk, chunk + count);
  }
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  if (failed) return "cannot read " + path + ": " + std::strerror(error);
  return bytes;
}

struct Recording {
  std::vector<int16_t> samples;
  uint32_t sampleRate;
};

// The samples of a WAV file image as one 16-bit channel, or why they cannot be had. The data
// is widened and mixed as the importer does it.
std::variant<Recording, std::string> decodeWav(const std::vector<uint8_t>& image) {
  const auto length = static_cast<uint32_t>(image.size());
  const ChunkLocation fmt = locateChunk(image.data(), length, chunkId("fmt "));
  switch (fmt.result) {
    case ChunkSearch::kFound:
      break;
    case ChunkSearch::kNotRiff:
      return std::string("not a WAV file (no RIFF header)");
    case ChunkSearch::kNotWave:
      return std::string("not a WAV file (a RIFF file of another kind)");
    case ChunkSearch::kNotFound:
      return std::string("no format chunk");
  }
  const std::optional<WaveFormat> format = readWaveFormat(image.data(), length, fmt.offset);
  if (!format) return std::string("the format chunk is cut short");
  if (format->formatTag != kFormatPcm && format->formatTag != kFormatExtensible) {
    return "format " + std::to_string(format->formatTag) + " is not PCM";
  }
  if (format->channels != 1 && format->channels != 2) {
    return std::to_string(format->channels) + " channels: only mono and stereo are taken";
  }
  if (format->bitsPerSample != 8 && format->bitsPerSample != 16) {
    return std::to_string(format->bitsPerSample) + "-bit samples: only 8 and 16 bits are taken";
  }
  const ChunkLocation data = locateChunk(image.data(), length, chunkId("data"));
  if (data.result != ChunkSearch::kFound) return std::string("no data chunk");

  const uint8_t* bytes = image.data() + data.offset;
  const uint32_t frames = data.size / (format->channels * (format->bitsPerSample / 8));
  Recording recording{std::vector<int16_t>(frames), format->sampleRate};
  int16_t* mono = recording.samples.data();
  if (format->bitsPerSample == 16 && format->channels == 2) {
    mixStereo16(bytes, mono, frames);
  } else if (format->bitsPerSample == 16) {
    for (uint32_t i = 0; i < frames; ++i) mono[i] = static_cast<int16_t>(loadU16(bytes + 2 * i));
  } else if (format->channels == 2) {
    std::vector<int16_t> widened(2 * size_t{frames});
    widen8(bytes, widened.data(), widened.size());
    for (uint32_t i = 0; i < frames; ++i) {
      mono[i] = static_cast<int16_t>((int32_t{widened[2 * i]} + widened[2 * i + 1]) / 2);
    }
  } else {
    widen8(bytes, mono, frames);
  }
  return recording;
}

// Writes beside `path` and moves the file into place only once it is whole, so a failure never
// leaves a partial file under the name asked for. Empty on success, else why.
std::string writeWhole(const std::string& path, const std::vector<uint8_t>& bytes) {
  const std::string partial = path + ".partial";
  std::FILE* file = std::fopen(partial.c_str(), "wb");
  if (file == nullptr) return "cannot write " + path + ": " + std::strerror(errno);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const int writeError = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed || std::rename(partial.c_str(), path.c_str()) != 0) {
    const int error = !written ? writeError : errno;
    std::remove(partial.c_str());
    return "cannot write " + path + ": " + std::strerror(error);
  }
  return {};
}

std::string withThousands(uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

int run(const std::string& inPath, const std::string& outPath) {
  auto file = readWhole(inPath);
  if (auto* why = std::get_if<std::string>(&file)) return fail(*why);
  auto decoded = decodeWav(std::get<std::vector<uint8_t>>(file));
  if (auto* why = std::get_if<std::string>(&decoded)) return fail(inPath + ": " + *why);
  const Recording& recording = std::get<Recording>(decoded);

  const VoiceLoop loop = makeVoiceLoop(recording.samples, recording.sampleRate);
  if (loop.status != VoiceStatus::kMade) {
    return fail(inPath + ": " + describeVoiceStatus(loop.status));
  }
  const std::string why = writeWhole(outPath, voiceWavImage(loop.table));
  if (!why.empty()) return fail(why);

  const auto tenths = static_cast<uint64_t>(std::llround(loop.fundamental * 10));
  std::printf("tonvarel-voice: %s.%u Hz, %s periods, %s samples\n",
              withThousands(tenths / 10).c_str(), static_cast<unsigned>(tenths % 10),
              withThousands(loop.periods).c_str(), withThousands(loop.table.size()).c_str());
  return 0;
}

}  // namespace
}  // namespace tonvarel

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "%s\n", tonvarel::kUsage);
    return 2;
  }
  try {
    return tonvarel::run(argv[1], argv[2]);
  } catch (const std::bad_alloc&) {
    return tonvarel::fail(std::string(argv[1]) + ": not enough memory to read it");
  }
}
