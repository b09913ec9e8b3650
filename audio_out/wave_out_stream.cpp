// The output stream: keeps the waveform-audio device fed from start-up to exit.
//
// How it works. The device is opened with an auto-reset event as its callback: it signals the
// event once when it opens and once each time it finishes a block. Two blocks of 1,500 frames
// alternate. The streaming thread, at time-critical priority, writes one block, waits for the
// event, and renders the other block (the one the device just gave back) while the first plays.
// Every write earns exactly one signal, so the event stays in step with the loop. The thread
// takes no lock, allocates nothing and touches no file or window.
//
// Without a device nothing would ever signal the event, and the voice would fall still: notes
// would be silent but also missing from the take. So the thread then keeps time itself, waiting
// out each block's playing time (1,500 frames at 44,100 Hz) against a running deadline. It does
// the same from the moment a device fails: a write it refuses earns no signal, and a device that
// gives no block back for a second has stopped. The failed device is not written again.
//
// Stopping: the destructor sets the stop flag and keeps setting the event until the thread has
// ended (a set event stays set until the thread's next wait takes it, so it cannot be missed).
// Only then are the take buffer, the device and the event released.
#include "audio_out/wave_out_stream.h"

#include "engine/take.h"
#include "engine/voice.h"

namespace tonvarel {

WaveOutStream::WaveOutStream(EngineState& state) : state_(state) {
  resetPerformance(state_);
  stopStreaming_.store(false, std::memory_order_relaxed);

  wakeEvent_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);

  format_.wFormatTag = WAVE_FORMAT_PCM;
  format_.nChannels = 2;
  format_.wBitsPerSample = 16;
  format_.nBlockAlign = static_cast<WORD>(format_.nChannels * format_.wBitsPerSample / 8);
  format_.nSamplesPerSec = 44100;
  format_.nAvgBytesPerSec = format_.nBlockAlign * format_.nSamplesPerSec;
  format_.cbSize = 0;

  if (waveOutOpen(&device_, WAVE_MAPPER, &format_, reinterpret_cast<DWORD_PTR>(wakeEvent_), 0,
                  CALLBACK_EVENT) != MMSYSERR_NOERROR) {
    device_ = nullptr;  // no device: the thread renders silence nobody hears
  }

  for (int i = 0; i < 2; ++i) {
    headers_[i].lpData = reinterpret_cast<LPSTR>(blocks_[i]);
    headers_[i].dwBufferLength = kBlockBytes;
    headers_[i].dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    headers_[i].dwLoops = 1;
  }
  if (device_ != nullptr &&
      (waveOutPrepareHeader(device_, &headers_[0], sizeof(WAVEHDR)) != MMSYSERR_NOERROR ||
       waveOutPrepareHeader(device_, &headers_[1], sizeof(WAVEHDR)) != MMSYSERR_NOERROR)) {
    // A device that will not take the blocks is no device: run without sound.
    for (WAVEHDR& header : headers_) waveOutUnprepareHeader(device_, &header, sizeof(WAVEHDR));
    waveOutClose(device_);
    device_ = nullptr;
  }

  if (wakeEvent_ != nullptr) {
    thread_ = CreateThread(nullptr, 0, streamLoop, this, 0, nullptr);
    if (thread_ != nullptr) SetThreadPriority(thread_, THREAD_PRIORITY_TIME_CRITICAL);
  }

  // The thread is already running, but recording stays clear until the window opens a take.
  allocateTake(state_);
}

namespace {

// A working device gives a block back every 34 ms; one silent this long has stopped.
constexpr DWORD kDeviceSilenceLimitMs = 1000;

// Paces the streaming thread when there is no device to do it: one block per block's playing
// time, on average, however late each wake-up comes.
class BlockClock {
 public:
  BlockClock() { restart(); }
  // Counts blocks from now on.
  void restart() {
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&start_);
    blocks_ = 0;
  }
  // Milliseconds until the next block is due (0 if it is due already).
  DWORD millisecondsToNextBlock() {
    ++blocks_;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const double due = static_cast<double>(blocks_) * kBlockFrames / 44100.0;
    const double elapsed = static_cast<double>(now.QuadPart - start_.QuadPart) /
                           static_cast<double>(frequency_.QuadPart);
    return due > elapsed ? static_cast<DWORD>((due - elapsed) * 1000.0) : 0;
  }

 private:
  LARGE_INTEGER frequency_{};
  LARGE_INTEGER start_{};
  uint64_t blocks_ = 0;
};

}  // namespace

DWORD WINAPI WaveOutStream::streamLoop(LPVOID self) {
  auto& stream = *static_cast<WaveOutStream*>(self);
  BlockClock clock;
  bool deviceWorks = stream.device_ != nullptr;
  int i = 0;
  while (!stream.stopStreaming_.load(std::memory_order_acquire)) {
    if (deviceWorks) {
      // A refused block earns no signal to wait for; a device silent past the limit has stopped.
      deviceWorks =
          waveOutWrite(stream.device_, &stream.headers_[i], sizeof(WAVEHDR)) == MMSYSERR_NOERROR &&
          WaitForSingleObject(stream.wakeEvent_, kDeviceSilenceLimitMs) == WAIT_OBJECT_0;
      // From here on the thread keeps time, counted from now: the device may have run ahead.
      if (!deviceWorks) clock.restart();
    }
    if (!deviceWorks) WaitForSingleObject(stream.wakeEvent_, clock.millisecondsToNextBlock());
    i = 1 - i;
    renderBlock(stream.state_, stream.blocks_[i], kBlockBytes);
  }
  return 0;
}

void WaveOutStream::stopThread() {
  stopStreaming_.store(true, std::memory_order_release);
  if (thread_ == nullptr) return;
  do {
    SetEvent(wakeEvent_);
  } while (WaitForSingleObject(thread_, 20) == WAIT_TIMEOUT);
  CloseHandle(thread_);
  thread_ = nullptr;
}

WaveOutStream::~WaveOutStream() {
  stopThread();
  releaseTake(state_);
  // A failed device refuses these at once (its handle is dead) or hands the blocks back (it
  // stalled). The event outlives the device, which signals it for each block it hands back and
  // once more as it closes.
  if (device_ != nullptr) {
    waveOutReset(device_);
    for (WAVEHDR& header : headers_) waveOutUnprepareHeader(device_, &header, sizeof(WAVEHDR));
    waveOutClose(device_);
  }
  if (wakeEvent_ != nullptr) CloseHandle(wakeEvent_);
}

}  // namespace tonvarel
