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
// out each block's playing time (1,500 frames at 44,100 Hz) against a running deadline.
//
// Stopping: the destructor sets the stop flag and wakes the thread. A pulse is lost if the thread
// is not yet waiting, and without a device nothing else would ever wake it, so the destructor
// keeps setting the event until the thread has ended. Only then are the event, the take buffer,
// the device and the blocks released.
#include "audio_out/wave_out_stream.h"

#include <cstdlib>

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
    blocks_[i] = static_cast<uint8_t*>(std::calloc(kBlockBytes, 1));
    headers_[i].lpData = reinterpret_cast<LPSTR>(blocks_[i]);
    headers_[i].dwBufferLength = kBlockBytes;
    headers_[i].dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    headers_[i].dwLoops = 1;
  }
  if (blocks_[0] == nullptr || blocks_[1] == nullptr) {
    // Nothing to render into: run without sound.
    if (device_ != nullptr) waveOutClose(device_);
    device_ = nullptr;
  } else if (device_ != nullptr) {
    for (WAVEHDR& header : headers_) waveOutPrepareHeader(device_, &header, sizeof(WAVEHDR));
  }

  if (blocks_[0] != nullptr && blocks_[1] != nullptr && wakeEvent_ != nullptr) {
    thread_ = CreateThread(nullptr, 0, streamLoop, this, 0, &threadId_);
    if (thread_ != nullptr) SetThreadPriority(thread_, THREAD_PRIORITY_TIME_CRITICAL);
  }

  // The thread is already running, but recording stays clear until the window opens a take.
  allocateTake(state_);
}

namespace {

// Paces the streaming thread when there is no device to do it: one block per block's playing
// time, on average, however late each wake-up comes.
class BlockClock {
 public:
  BlockClock() {
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&start_);
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
  int i = 0;
  while (!stream.stopStreaming_.load(std::memory_order_acquire)) {
    if (stream.device_ != nullptr) {
      waveOutWrite(stream.device_, &stream.headers_[i], sizeof(WAVEHDR));
      WaitForSingleObject(stream.wakeEvent_, INFINITE);
    } else {
      WaitForSingleObject(stream.wakeEvent_, clock.millisecondsToNextBlock());
    }
    i = 1 - i;
    renderBlock(stream.state_, stream.blocks_[i], kBlockBytes);
  }
  return 0;
}

void WaveOutStream::stopThread() {
  stopStreaming_.store(true, std::memory_order_release);
  if (thread_ == nullptr) return;
  PulseEvent(wakeEvent_);
  // A set event stays set until the thread's next wait takes it, so this cannot be missed.
  while (WaitForSingleObject(thread_, 20) == WAIT_TIMEOUT) SetEvent(wakeEvent_);
  CloseHandle(thread_);
  thread_ = nullptr;
}

WaveOutStream::~WaveOutStream() {
  stopThread();
  if (wakeEvent_ != nullptr) CloseHandle(wakeEvent_);
  releaseTake(state_);
  if (device_ != nullptr) {
    waveOutReset(device_);
    for (WAVEHDR& header : headers_) waveOutUnprepareHeader(device_, &header, sizeof(WAVEHDR));
    waveOutClose(device_);
  }
  std::free(blocks_[0]);
  std::free(blocks_[1]);
}

}  // namespace tonvarel
