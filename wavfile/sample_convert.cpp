// Turning WAV sample data into the voice's 16-bit mono table.
#include "wavfile/sample_convert.h"

namespace tonvarel {

void widen8(const uint8_t* __restrict source, int16_t* __restrict target, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    // Flipping the top bit is d - 128 taken as a signed byte; shifting it up is the * 256.
    target[i] = static_cast<int16_t>(static_cast<uint16_t>((source[i] ^ 0x80u) << 8));
  }
}

void mixStereo16(const uint8_t* __restrict source, int16_t* __restrict target, size_t pairs) {
  for (size_t i = 0; i < pairs; ++i) {
    const uint8_t* frame = source + 4 * i;
    const int32_t left = static_cast<int16_t>(static_cast<uint16_t>(frame[0] | frame[1] << 8));
    const int32_t right = static_cast<int16_t>(static_cast<uint16_t>(frame[2] | frame[3] << 8));
    target[i] = static_cast<int16_t>((left + right) / 2);
  }
}

}  // namespace tonvarel
