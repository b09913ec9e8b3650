// Turning WAV sample data into the voice's 16-bit mono table. Exact integer arithmetic, written
// as plain byte loops the compiler can vectorise; sources may lie at any (odd) address.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tonvarel {

// 8-bit unsigned samples to signed 16-bit: (d - 128) * 256, so 0 -> -32768, 128 -> 0,
// 255 -> 32512.
void widen8(const uint8_t* source, int16_t* target, size_t count);

// Pairs of little-endian 16-bit samples (left, right) to their mean, summed in 32 bits and
// divided with truncation toward zero: (-3, 0) -> -1, (3, 0) -> 1.
void mixStereo16(const uint8_t* source, int16_t* target, size_t pairs);

}  // namespace tonvarel
