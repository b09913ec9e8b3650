// File access for the load and save commands: whole-buffer reads and writes, directory making,
// the open and save choosers (sharing one chooser record) and ownerless message boxes.
//
// One portable interface, two backends chosen at build time: Win32 (the real program) and POSIX
// (the headless renderer and the native tests). The choosers and message boxes can be answered
// through hooks, so both backends can be driven without a person.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#include <commdlg.h>
#endif

namespace tonvarel {

inline constexpr int kPathChars = 260;  // chooser buffers and the shared path, terminator included
inline constexpr int kFileSlots = 8;

class FileAccess {
 public:
  // Answers a chooser instead of showing it: fills `path` (kPathChars) and returns true to
  // confirm, false to cancel.
  using ChooserHook = bool (*)(void* context, bool save, char* path);
  // Receives a message box instead of showing it; `caption` is null for the platform's default.
  using MessageHook = void (*)(void* context, const char* text, const char* caption);

  FileAccess();
  ~FileAccess() = default;  // releases nothing: handles are closed by their users
  FileAccess(const FileAccess&) = delete;
  FileAccess& operator=(const FileAccess&) = delete;

  bool openForRead(const char* path, int slot);
  bool createForWrite(const char* path, int slot);
  // createForWrite, making missing directories of `path` one level per attempt.
  bool createForWriteMakingDirs(const char* path, int slot);
  // One transfer of `count` bytes; true only if it succeeded and moved at least one byte.
  bool write(const void* bytes, uint32_t count, int slot);
  bool read(void* buffer, uint32_t count, int slot);
  uint32_t size(int slot);
  void close(int slot);
  uint32_t lastTransferred() const { return lastTransferred_; }

  // Show the open / save chooser, starting from the last chosen path. On confirmation the
  // chosen path is copied into `path` (kPathChars). Cancel or failure: false, nothing shown.
  bool chooseOpen(char* path);
  bool chooseSave(char* path);

  // An ownerless box with an OK button; waits until it is closed.
  void showMessage(const char* text, const char* caption);

  void setChooserHook(ChooserHook hook, void* context);
  void setMessageHook(MessageHook hook, void* context);

#ifdef _WIN32
  const OPENFILENAMEA& chooserRecord() const { return chooser_; }
#endif

 private:
  enum class DirectoryResult { kCreated, kAlreadyThere, kFailed };
  DirectoryResult makeDirectory(const char* path);
  bool choose(bool save, char* path);

#ifdef _WIN32
  HANDLE handles_[kFileSlots];
#else
  int handles_[kFileSlots];
#endif
  uint32_t lastTransferred_ = 0;
  char pathBuffer_[kPathChars] = {};
  char fileTitleBuffer_[kPathChars] = {};
#ifdef _WIN32
  OPENFILENAMEA chooser_{};
#endif
  ChooserHook chooserHook_ = nullptr;
  void* chooserContext_ = nullptr;
  MessageHook messageHook_ = nullptr;
  void* messageContext_ = nullptr;
};

// The process-lifetime instance, and the path buffer the load and save commands share.
extern FileAccess fileAccess;
extern char chosenPath[kPathChars];

}  // namespace tonvarel
