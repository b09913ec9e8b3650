// The module's calls for a voice sung into the microphone: the recording is made into a loop of
// whole periods tuned to 440 Hz (voiceloop/) and handed back as a WAV file image, which the page
// loads as it loads any WAV file.
//
// The page, on its own module instance:
//   1. `tv_voice_input(n)` gives room for n float samples (full scale 1.0), or null when the
//      memory cannot be had; each call gives up the room the previous call gave.
//   2. The page writes the recording there (a Float32Array over HEAPU8.buffer at that address,
//      taken after the call, as the call may have grown the memory) and calls
//      `tv_voice_make(n, sampleRate)` with the rate it was recorded at, which answers:
//        0  made
//        1  too short (under 0.2 s)
//        2  silent (nothing reaches -60 dB of full scale)
//        3  no steady pitch between 60 and 1,500 Hz
//        4  a sample rate outside 8,000 .. 192,000 Hz
//        5  a sample that is not a finite number
//        6  longer than ten minutes
//        7  out of memory: nothing was made, and the module goes on as it was
//        8  n is more than the room tv_voice_input gave (or none was asked for)
//   3. After 0: `tv_voice_wav_bytes()` and `tv_voice_wav_length()` are the WAV file image
//      (44,100 Hz, 16-bit, mono), `tv_voice_fundamental()` the pitch found in Hz and
//      `tv_voice_periods()` the periods in the loop. After any other answer they are null and
//      0. The image stays until the next tv_voice_make.
// The making takes about 30 ms for 5 s of sound: on an instance of its own, not the audio
// worklet's, or a block of sound would be late.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "voiceloop/voice_loop.h"

namespace tonvarel {
namespace {

constexpr int kNoSuchInput = 8;

float* input = nullptr;
uint32_t inputLength = 0;
std::vector<uint8_t> wavImage;
float fundamental = 0;
uint32_t periods = 0;

}  // namespace
}  // namespace tonvarel

extern "C" {

EMSCRIPTEN_KEEPALIVE float* tv_voice_input(uint32_t samples) {
  using namespace tonvarel;
  std::free(input);
  inputLength = 0;
  input = samples == 0 || samples > SIZE_MAX / sizeof(float)
              ? nullptr
              : static_cast<float*>(std::malloc(samples * sizeof(float)));
  if (input != nullptr) inputLength = samples;
  return input;
}

EMSCRIPTEN_KEEPALIVE int tv_voice_make(uint32_t samples, uint32_t sampleRate) {
  using namespace tonvarel;
  wavImage.clear();
  fundamental = 0;
  periods = 0;
  if (input == nullptr || samples > inputLength) return kNoSuchInput;
  // Memory that runs out anywhere in the making is said as a status, never an abort of the
  // module: the page says so and the voice stays as it was.
  try {
    const VoiceLoop loop = makeVoiceLoop(std::span<const float>(input, samples), sampleRate);
    if (loop.status != VoiceStatus::kMade) return static_cast<int>(loop.status);
    wavImage = voiceWavImage(loop.table);
    fundamental = static_cast<float>(loop.fundamental);
    periods = loop.periods;
  } catch (const std::bad_alloc&) {
    wavImage = {};
    return static_cast<int>(VoiceStatus::kOutOfMemory);
  }
  return static_cast<int>(VoiceStatus::kMade);
}

EMSCRIPTEN_KEEPALIVE const uint8_t* tv_voice_wav_bytes() {
  return tonvarel::wavImage.empty() ? nullptr : tonvarel::wavImage.data();
}

EMSCRIPTEN_KEEPALIVE uint32_t tv_voice_wav_length() {
  return static_cast<uint32_t>(tonvarel::wavImage.size());
}

EMSCRIPTEN_KEEPALIVE float tv_voice_fundamental() {
  return tonvarel::fundamental;
}

EMSCRIPTEN_KEEPALIVE uint32_t tv_voice_periods() {
  return tonvarel::periods;
}

}  // extern "C"
