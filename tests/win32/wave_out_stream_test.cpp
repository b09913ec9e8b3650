// The output stream against Wine's real waveform-audio device. ctest runs this program twice:
// once with an ALSA `file` device that captures every played frame (TONVAREL_CAPTURE names the
// file) and once with no device at all (TONVAREL_CAPTURE unset).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio_out/wave_out_stream.h"
#include "engine/take.h"
#include "engine/tone_table.h"
#include "engine/voice.h"

namespace tonvarel {
namespace {

const char* capturePath() {
  return std::getenv("TONVAREL_CAPTURE");
}

// Wine's path for a Unix file, so the test can read what ALSA wrote.
std::string windowsPath(const char* unixPath) {
  return std::string("Z:") + unixPath;
}

std::vector<int16_t> leftChannelOfCapture() {
  std::vector<int16_t> left;
  FILE* f = std::fopen(windowsPath(capturePath()).c_str(), "rb");
  if (f == nullptr) return left;
  int16_t frame[2];
  while (std::fread(frame, sizeof frame, 1, f) == 1) left.push_back(frame[0]);
  std::fclose(f);
  return left;
}

void waitForBlocks(const EngineState& state, uint32_t blocks) {
  const uint32_t target = state.renderSequence.load() + 2 * blocks;
  for (int i = 0; i < 1000 && state.renderSequence.load() < target; ++i) Sleep(5);
  ASSERT_GE(state.renderSequence.load(), target) << "the streaming thread stopped rendering";
}

TEST(WaveOutStream, StartsAndStopsFiftyTimesWithoutHangingOrLeaking) {
  EngineState state;
  DWORD handlesBefore = 0;
  for (int i = 0; i < 50; ++i) {
    {
      WaveOutStream stream(state);
      EXPECT_EQ(stream.hasDevice(), capturePath() != nullptr);
      EXPECT_TRUE(stream.isStreaming());
      EXPECT_NE(state.takeBuffer.get(), nullptr);
      if (i % 10 == 0) Sleep(20);  // sometimes stop mid-stream, sometimes right away
    }
    EXPECT_EQ(state.takeBuffer.get(), nullptr);
    if (i == 9) GetProcessHandleCount(GetCurrentProcess(), &handlesBefore);
  }
  DWORD handlesAfter = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
  EXPECT_LE(handlesAfter, handlesBefore + 2) << "handles grow with every stream";
}

TEST(WaveOutStream, WithoutADeviceStillRendersSoTakesAreRecorded) {
  if (capturePath() != nullptr) GTEST_SKIP() << "runs without a device only";
  EngineState state;
  buildDefaultTable(state);
  {
    WaveOutStream stream(state);
    ASSERT_FALSE(stream.hasDevice());
    openTakeIfIdle(state);
    state.gate = true;
    waitForBlocks(state, 3);  // paced at about 34 ms a block
    EXPECT_GE(takeBytes(state).length, 2 * 2 * kBlockFrames);
  }
}

TEST(WaveOutStream, StreamsSilenceUntilTheGateOpensThenExactlyWhatTheRendererMakes) {
  if (capturePath() == nullptr) GTEST_SKIP() << "runs with the capturing device only";
  std::remove(windowsPath(capturePath()).c_str());

  // A table of its own indices shows every frame's read position in the capture.
  std::vector<int16_t> ramp(30000);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int16_t>(i + 1);
  const auto* table = reinterpret_cast<const uint8_t*>(ramp.data());
  const auto length = static_cast<uint32_t>(ramp.size());
  constexpr float kPitch = 660.0f;  // 1.5 samples a frame

  EngineState state;
  publishTable(state, table, length);
  state.vibratoDepth = 0.0f;
  state.targetPitch = kPitch;
  size_t silentFrames = 0;
  {
    WaveOutStream stream(state);
    ASSERT_TRUE(stream.hasDevice());
    waitForBlocks(state, 4);  // the pitch settles: no ramp left
    state.phaseReset = true;
    for (int i = 0; i < 200 && state.phaseReset.load(); ++i) Sleep(1);
    state.gate = true;
    waitForBlocks(state, 24);
  }

  const std::vector<int16_t> captured = leftChannelOfCapture();
  while (silentFrames < captured.size() && captured[silentFrames] == 0) ++silentFrames;
  ASSERT_GE(silentFrames, 2 * kBlockFrames) << "the stream should start with silent blocks";
  const size_t heard = captured.size() - silentFrames;
  ASSERT_GE(heard, 16 * kBlockFrames);

  // The same parameters through renderBlock, from the phase reset on.
  EngineState reference;
  publishTable(reference, table, length);
  reference.vibratoDepth = 0.0f;
  reference.targetPitch = reference.currentPitch = kPitch;
  reference.phaseReset = true;
  reference.gate = true;
  std::vector<int16_t> expected;
  std::vector<uint8_t> block(kBlockBytes);
  while (expected.size() < heard + 4 * kBlockFrames) {
    renderBlock(reference, block.data(), kBlockBytes);
    for (uint32_t o = 0; o < kBlockBytes; o += 4) {
      int16_t left, right;
      std::memcpy(&left, &block[o], 2);
      std::memcpy(&right, &block[o + 2], 2);
      ASSERT_EQ(left, right);
      expected.push_back(left);
    }
  }

  // The gate opened some frames after the reset: find where the capture joins the reference,
  // then every later frame must match, with no block lost or played twice.
  size_t offset = 0;
  while (offset < 4 * kBlockFrames && expected[offset] != captured[silentFrames]) ++offset;
  ASSERT_LT(offset, 4 * kBlockFrames) << "first heard sample " << captured[silentFrames];
  for (size_t i = 0; i < heard; ++i) {
    ASSERT_EQ(captured[silentFrames + i], expected[offset + i])
        << "frame " << i << " after the gate";
  }
}

}  // namespace
}  // namespace tonvarel
