// The 44-byte header of a 44,100 Hz 16-bit PCM WAV file, written field by field, little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tonvarel {

inline constexpr uint32_t kWavHeaderBytes = 44;
inline constexpr uint32_t kOutputRate = 44100;

std::array<uint8_t, kWavHeaderBytes> pcmHeader(uint16_t channels, uint32_t dataBytes);

}  // namespace tonvarel
