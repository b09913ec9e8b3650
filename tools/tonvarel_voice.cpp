// tonvarel-voice: a recording in a WAV file made into a voice for the pad. The steadiest stretch
// of the recording is cut into a loop of whole periods, tuned to 440 Hz and written as a
// 44,100 Hz 16-bit mono WAV file, which the load command plays as it is.
//
//   tonvarel-voice IN.wav OUT.wav
//
// IN may hold 8-, 16-, 24- or 32-bit PCM or 32- or 64-bit floating-point samples, mono or stereo
// (averaged), with the plain or the extensible format tag, at the rate its format chunk gives. On
// success one line tells the pitch found, the periods and the samples of the loop; on any failure
// one line on stderr tells why, the exit status is 1 and OUT is left as it was.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <variant>
#include <vector>

#include "voiceloop/voice_loop.h"
#include "wavfile/wav_samples.h"

namespace tonvarel {
namespace {

constexpr const char* kUsage = "usage: tonvarel-voice IN.wav OUT.wav";

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

// Why the samples of a WAV file image cannot be had, in one phrase.
std::string whyUnread(const WavSamples& wav) {
  switch (wav.status) {
    case WavSamplesStatus::kRead:
      break;
    case WavSamplesStatus::kNotRiff:
      return "not a WAV file (no RIFF header)";
    case WavSamplesStatus::kNotWave:
      return "not a WAV file (a RIFF file of another kind)";
    case WavSamplesStatus::kNoFormat:
      return "no format chunk";
    case WavSamplesStatus::kFormatCut:
      return "the format chunk is cut short";
    case WavSamplesStatus::kNotPcm:
      return "a compressed or unknown sample format: only PCM and floating-point samples are taken";
    case WavSamplesStatus::kChannels:
      return std::to_string(wav.channels) + " channels: only mono and stereo are taken";
    case WavSamplesStatus::kSampleSize:
      return std::to_string(wav.bits) + (wav.isFloat ? "-bit floating-point" : "-bit") +
             " samples: PCM is taken in 8, 16, 24 or 32 bits, floating point in 32 or 64";
    case WavSamplesStatus::kNoData:
      return "no data chunk";
  }
  return {};
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
  const WavSamples wav = readWavSamples(std::get<std::vector<uint8_t>>(file));
  if (wav.status != WavSamplesStatus::kRead) return fail(inPath + ": " + whyUnread(wav));

  const VoiceLoop loop = makeVoiceLoop(wav.samples, wav.sampleRate);
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
