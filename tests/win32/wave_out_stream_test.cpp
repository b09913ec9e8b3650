// The output stream against Wine's real waveform-audio device. ctest runs this program twice:
// once with an ALSA `file` device that captures every played frame (TONVAREL_CAPTURE names the
// file) and once with no device at all (TONVAREL_CAPTURE unset).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "audio_out/wave_out_stream.h"
#include "engine/take.h"
#include "engine/tone_table.h"
#include "engine/voice.h"

namespace tonvarel {

// Takes the device away from a running stream, as a driver that dies or hangs would.
struct WaveOutStreamTestAccess {
  static HWAVEOUT device(const WaveOutStream& stream) { return stream.device_; }
};

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

// Handles open in this process, found by asking after every handle value in turn: Wine's
// GetProcessHandleCount always reports 0.
int openHandles() {
  int count = 0;
  DWORD flags;
  for (uintptr_t value = 4; value < 16384; value += 4) {
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

// Blocks renderBlock has finished (the sequence is odd while one is under way).
uint32_t blocksRendered(const EngineState& state) {
  return state.renderSequence.load() / 2;
}

double secondsNow() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// A table of its own indices shows every frame's read position in the sound.
constexpr float kRampPitch = 660.0f;  // 1.5 samples a frame: the ramp repeats every 20,000 frames
constexpr size_t kRampPeriod = 20000;

std::vector<int16_t> rampTable() {
  std::vector<int16_t> ramp(30000);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int16_t>(i + 1);
  return ramp;
}

void playRamp(EngineState& state, const std::vector<int16_t>& ramp) {
  publishTable(state, reinterpret_cast<const uint8_t*>(ramp.data()),
               static_cast<uint32_t>(ramp.size()));
  state.voices[0].vibratoDepth = 0.0f;
  state.voices[0].targetPitch = kRampPitch;
}

// Once the pitch has settled (no ramp left), restarts the phase so that the stream lines up
// with a reference rendered from a phase reset.
void resetPhaseOnceSettled(EngineState& state) {
  waitForBlocks(state, 4);
  state.voices[0].phaseReset = true;
  for (int i = 0; i < 200 && state.voices[0].phaseReset.load(); ++i) Sleep(1);
}

// The left channel of at least `frames` frames of the ramp through renderBlock, from a phase
// reset, with the gate open.
void renderReference(const std::vector<int16_t>& ramp, size_t frames, std::vector<int16_t>& left) {
  EngineState reference;
  playRamp(reference, ramp);
  reference.voices[0].currentPitch = kRampPitch;
  reference.voices[0].phaseReset = true;
  reference.voices[0].gate = true;
  std::vector<uint8_t> block(kBlockBytes);
  while (left.size() < frames) {
    renderBlock(reference, block.data(), kBlockBytes);
    for (uint32_t o = 0; o < kBlockBytes; o += 4) {
      int16_t l, r;
      std::memcpy(&l, &block[o], 2);
      std::memcpy(&r, &block[o + 2], 2);
      ASSERT_EQ(l, r);
      left.push_back(l);
    }
  }
}

TEST(WaveOutStream, StartsAndStopsFiftyTimesWithoutHangingOrLeaking) {
  EngineState state;
  int handlesBefore = 0;
  for (int i = 0; i < 50; ++i) {
    {
      WaveOutStream stream(state);
      EXPECT_EQ(stream.hasDevice(), capturePath() != nullptr);
      EXPECT_TRUE(stream.isStreaming());
      EXPECT_NE(state.takeBuffer.get(), nullptr);
      if (i % 10 == 0) Sleep(20);  // sometimes stop mid-stream, sometimes right away
    }
    EXPECT_EQ(state.takeBuffer.get(), nullptr);
    if (i == 9) handlesBefore = openHandles();
  }
  const int handlesAfter = openHandles();
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
    state.voices[0].gate = true;
    waitForBlocks(state, 3);  // paced at about 34 ms a block
    EXPECT_GE(takeBytes(state).length, 2 * 2 * kBlockFrames);
  }
}

TEST(WaveOutStream, StreamsSilenceUntilTheGateOpensThenExactlyWhatTheRendererMakes) {
  if (capturePath() == nullptr) GTEST_SKIP() << "runs with the capturing device only";
  std::remove(windowsPath(capturePath()).c_str());

  const std::vector<int16_t> ramp = rampTable();
  EngineState state;
  playRamp(state, ramp);
  size_t silentFrames = 0;
  {
    WaveOutStream stream(state);
    ASSERT_TRUE(stream.hasDevice());
    resetPhaseOnceSettled(state);
    state.voices[0].gate = true;
    waitForBlocks(state, 24);
  }

  const std::vector<int16_t> captured = leftChannelOfCapture();
  while (silentFrames < captured.size() && captured[silentFrames] == 0) ++silentFrames;
  ASSERT_GE(silentFrames, 2 * kBlockFrames) << "the stream should start with silent blocks";
  const size_t heard = captured.size() - silentFrames;
  ASSERT_GE(heard, 16 * kBlockFrames);

  // The same parameters through renderBlock, from the phase reset on.
  std::vector<int16_t> expected;
  ASSERT_NO_FATAL_FAILURE(renderReference(ramp, heard + 100 * kBlockFrames, expected));

  // The gate opened some frames after the reset: find where the capture joins the reference,
  // then every later frame must follow it, allowing only the two kinds of damage Wine's sound
  // path does (see tests/e2e/README.md): silence inserted where a block came late, and output
  // lost from the program's looped blocks, the capture carrying on at the first frame of a later
  // block or at least a block further on. Nothing may repeat, go back or skip within a block.
  size_t offset = 0;
  while (offset < 4 * kBlockFrames && expected[offset] != captured[silentFrames]) ++offset;
  ASSERT_LT(offset, 4 * kBlockFrames) << "first heard sample " << captured[silentFrames];
  constexpr size_t kMinSilence = 64, kMaxLost = 4 * kBlockFrames, kProbe = 32;
  size_t j = offset, inserted = 0, lost = 0;
  for (size_t i = silentFrames; i < captured.size();) {
    ASSERT_LT(j + kMaxLost + kProbe, expected.size()) << "more lost than the capture can explain";
    if (captured[i] == expected[j]) {
      ++i, ++j;
      continue;
    }
    size_t run = 0;
    while (i + run < captured.size() && captured[i + run] == 0) ++run;
    if (run >= kMinSilence || i + run == captured.size()) {
      i += run, ++inserted;
      continue;
    }
    // The ramp's values do not repeat within kMaxLost frames, so at most one place fits.
    const size_t probe = std::min(kProbe, captured.size() - i);
    size_t resume = j + 1;
    for (; resume <= j + kMaxLost; ++resume) {
      const bool blockStart = resume % kBlockFrames == 0;  // the reset came at a block start
      if ((blockStart || resume >= j + kBlockFrames) &&
          std::equal(captured.begin() + i, captured.begin() + i + probe,
                     expected.begin() + resume)) {
        break;
      }
    }
    ASSERT_LE(resume, j + kMaxLost)
        << "frame " << i - silentFrames << " after the gate: " << captured[i] << " where "
        << expected[j] << " was due";
    j = resume, ++lost;
  }
  std::printf("%zu stretches of silence inserted, %zu losses\n", inserted, lost);
}

// Two ways the device fails under a running stream. Its handle dies, so every later write is
// refused; the stream may write between the reset and the close, which then refuses, so reset
// again.
void closeDevice(HWAVEOUT device) {
  MMRESULT closed = MMSYSERR_ERROR;
  for (int i = 0; i < 50 && closed != MMSYSERR_NOERROR; ++i) {
    waveOutReset(device);
    closed = waveOutClose(device);
  }
  EXPECT_EQ(closed, MMSYSERR_NOERROR);
}

// Or it takes blocks but gives none back, without a word, as a hung driver does.
void pauseDevice(HWAVEOUT device) {
  EXPECT_EQ(waveOutPause(device), MMSYSERR_NOERROR);
}

TEST(WaveOutStream, WhenTheDeviceFailsKeepsRenderingInRealTimeAndTheTakeLosesNothing) {
  if (capturePath() == nullptr) GTEST_SKIP() << "runs with the capturing device only";
  constexpr double kBlocksPerSecond = 44100.0 / kBlockFrames;
  const struct {
    const char* name;
    void (*fail)(HWAVEOUT);
  } failures[] = {{"closed", closeDevice}, {"paused", pauseDevice}};
  const std::vector<int16_t> ramp = rampTable();
  {
    // Wine sets up its sound system on the first open and keeps it: count handles after that.
    EngineState state;
    WaveOutStream warmUp(state);
  }
  const int handlesBefore = openHandles();

  for (const auto& failure : failures) {
    SCOPED_TRACE(failure.name);
    std::remove(windowsPath(capturePath()).c_str());
    EngineState state;
    playRamp(state, ramp);
    auto stream = std::make_unique<WaveOutStream>(state);
    ASSERT_TRUE(stream->hasDevice());
    resetPhaseOnceSettled(state);
    state.voices[0].gate = true;
    waitForBlocks(state, 1);
    const uint32_t takeOpened = blocksRendered(state);
    openTakeIfIdle(state);
    const double deviceFrom = secondsNow();
    Sleep(1000);

    const uint32_t failedAt = blocksRendered(state);
    const double failedTime = secondsNow();
    failure.fail(WaveOutStreamTestAccess::device(*stream));
    Sleep(1500);  // past the limit a silent device is given: the thread keeps time by now
    const uint32_t selfTimedFrom = blocksRendered(state);
    const double selfTimedTime = secondsNow();
    Sleep(2000);
    const uint32_t takeClosed = blocksRendered(state);
    const double endTime = secondsNow();
    closeTakeUnless(state, false);
    waitForBlocks(state, 1);  // no append under way when the take is copied
    const TakeBytes take = takeBytes(state);
    std::vector<int16_t> taken(take.length / 2);
    std::memcpy(taken.data(), take.bytes, take.length);

    const double stopFrom = secondsNow();
    stream.reset();
    const double stopSeconds = secondsNow() - stopFrom;

    const double deviceRate = (failedAt - takeOpened) / (failedTime - deviceFrom);
    const double selfTimedRate = (takeClosed - selfTimedFrom) / (endTime - selfTimedTime);
    std::printf("device %s: %.1f blocks/s, then %.1f blocks/s; stopped in %.1f ms\n", failure.name,
                deviceRate, selfTimedRate, stopSeconds * 1000.0);

    // The device really played until it failed (a reset may drop the last two blocks).
    EXPECT_GE(leftChannelOfCapture().size(), (failedAt - 4) * size_t{kBlockFrames});
    // Afterwards real time paces the blocks: they keep coming, and the time the device ran
    // ahead of real time is not made up in a burst.
    EXPECT_GE(selfTimedRate, 0.5 * kBlocksPerSecond);
    EXPECT_LE(takeClosed - failedAt, (endTime - failedTime) * kBlocksPerSecond + 5);
    EXPECT_LT(stopSeconds, 1.0);

    // Every block rendered while the take was open is in it, in order, as renderBlock makes it.
    EXPECT_GE(taken.size(), (takeClosed - takeOpened - 1) * size_t{kBlockFrames});
    EXPECT_LE(taken.size(), (takeClosed - takeOpened + 3) * size_t{kBlockFrames});
    ASSERT_FALSE(taken.empty());
    std::vector<int16_t> expected;
    ASSERT_NO_FATAL_FAILURE(renderReference(ramp, taken.size() + kRampPeriod, expected));
    size_t offset = 0;
    while (offset < kRampPeriod && expected[offset] != taken[0]) ++offset;
    ASSERT_LT(offset, kRampPeriod) << "first sample of the take " << taken[0];
    for (size_t i = 0; i < taken.size(); ++i) {
      ASSERT_EQ(taken[i], expected[offset + i]) << "frame " << i << " of the take";
    }
  }
  // Wine's own handles come and go by one; each stream has two of its own.
  EXPECT_LE(openHandles(), handlesBefore + 1) << "failed streams leave handles open";
}

}  // namespace
}  // namespace tonvarel
