// The 44-byte header of a 44,100 Hz 16-bit PCM WAV file, written field by field, little-endian.
#include "wavfile/wav_header.h"

namespace tonvarel {
namespace {

class HeaderWriter {
 public:
  explicit HeaderWriter(std::array<uint8_t, kWavHeaderBytes>& out) : out_(out) {}
  void tag(const char (&id)[5]) {
    for (int i = 0; i < 4; ++i) out_[at_++] = static_cast<uint8_t>(id[i]);
  }
  void u16(uint16_t v) {
    out_[at_++] = static_cast<uint8_t>(v);
    out_[at_++] = static_cast<uint8_t>(v >> 8);
  }
  void u32(uint32_t v) {
    u16(static_cast<uint16_t>(v));
    u16(static_cast<uint16_t>(v >> 16));
  }

 private:
  std::array<uint8_t, kWavHeaderBytes>& out_;
  std::size_t at_ = 0;
};

}  // namespace

std::array<uint8_t, kWavHeaderBytes> pcmHeader(uint16_t channels, uint32_t dataBytes) {
  constexpr uint16_t kBits = 16;
  const auto blockAlign = static_cast<uint16_t>(channels * kBits / 8);
  std::array<uint8_t, kWavHeaderBytes> header{};
  HeaderWriter w(header);
  w.tag("RIFF");
  w.u32(dataBytes + 36);
  w.tag("WAVE");
  w.tag("fmt ");
  w.u32(16);
  w.u16(1);  // PCM
  w.u16(channels);
  w.u32(kOutputRate);
  w.u32(kOutputRate * blockAlign);
  w.u16(blockAlign);
  w.u16(kBits);
  w.tag("data");
  w.u32(dataBytes);
  return header;
}

}  // namespace tonvarel
