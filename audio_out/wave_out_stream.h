// The output stream: keeps the waveform-audio device fed from start-up to exit.
#pragma once

#include <windows.h>
// After windows.h, which it builds on.
#include <mmsystem.h>

#include <atomic>
#include <cstdint>

#include "engine/engine_state.h"

namespace tonvarel {

class WaveOutStream {
 public:
  // Opens the device, prepares the two blocks, starts the streaming thread and allocates the
  // take buffer. Never fails: without a device the program runs silently.
  explicit WaveOutStream(EngineState& state);
  // Stops and joins the streaming thread, then releases the take, the device and the event.
  ~WaveOutStream();
  WaveOutStream(const WaveOutStream&) = delete;
  WaveOutStream& operator=(const WaveOutStream&) = delete;

  // Whether a device was opened; one that failed later still counts.
  bool hasDevice() const { return device_ != nullptr; }
  bool isStreaming() const { return thread_ != nullptr; }

 private:
  // The Windows tests take the device away from a running stream.
  friend struct WaveOutStreamTestAccess;

  static DWORD WINAPI streamLoop(LPVOID self);
  void stopThread();

  EngineState& state_;
  HANDLE thread_ = nullptr;
  WAVEFORMATEX format_{};
  HWAVEOUT device_ = nullptr;
  HANDLE wakeEvent_ = nullptr;
  WAVEHDR headers_[2]{};
  uint8_t blocks_[2][kBlockBytes]{};
  std::atomic<bool> stopStreaming_{false};
};

}  // namespace tonvarel
