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
// commdlg.h needs the types windows.h declares.
#include <commdlg.h>
#endif

namespace tonvarel {

inline constexpr int kPathChars = 260;  // chooser buffers and the shared path, terminator included
inline constexpr int kFileSlots = 8;
inline constexpr int kFileTitleChars = 64;  // what the chooser is told of its title buffer

class FileAccess {
 public:
  // Answers a chooser instead of showing it. `path` (kPathChars) holds the last chosen path, as
  // the real chooser would start from it; the hook fills it and returns true to confirm, false
  // to cancel.
  using ChooserHook = bool (*)(void* context, bool save, char* path);
  // Receives a message box instead of showing it; `caption` is null for the platform's default.
  using MessageHook = void (*)(void* context, const char* text, const char* caption);

  FileAccess();
  ~FileAccess() = default;  // releases nothing: handles are closed by their users
  FileAccess(const FileAccess&) = delete;
  FileAccess& operator=(const FileAccess&) = delete;

  // A failed open leaves the slot empty; an open on a slot in use closes what it held first.
  // Slots outside 0 .. kFileSlots - 1 are refused.
  bool openForRead(const char* path, int slot);
  bool createForWrite(const char* path, int slot);
  // createForWrite, making missing directories of `path` one level per attempt. Gives up with
  // "death" when an attempt creates no directory or the scan finds no separator left.
  bool createForWriteMakingDirs(const char* path, int slot);
  // One transfer of `count` bytes; true only if it succeeded and moved at least one byte.
  bool write(const void* bytes, uint32_t count, int slot);
  bool read(void* buffer, uint32_t count, int slot);
  uint32_t size(int slot);  // low 32 bits; 0 for an empty slot
  void close(int slot);     // harmless on an empty slot
  uint32_t lastTransferred() const { return lastTransferred_; }

  // Show the open / save chooser, starting from the last chosen path. On confirmation the
  // chosen path is copied into `path` (kPathChars). Cancel or failure: false, nothing shown.
  bool chooseOpen(char* path);
  bool chooseSave(char* path);

  // An ownerless box with an OK button; waits until it is closed.
  void showMessage(const char* text, const char* caption);

  void setChooserHook(ChooserHook hook, void* context);
  void setMessageHook(MessageHook hook, void* context);

  // The load and save commands share the chooser record, the path buffer and slot 0, and the
  // choosers and boxes have no owner window, so the menu stays live while one is open: a command
  // that arrives while another runs must not start. True if the caller may go on.
  bool beginCommand();
  void endCommand() { commandRunning_ = false; }

#ifdef _WIN32
  const OPENFILENAMEA& chooserRecord() const {
    return chooser_;
  }
#endif

 private:
  enum class DirectoryResult { kCreated, kAlreadyThere, kFailed };
  // The platform's part: one directory level, the real chooser on pathBuffer_, the real box.
  DirectoryResult makeDirectory(const char* path);
  bool showChooser(bool save);
  void showMessageBox(const char* text, const char* caption);
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
  bool commandRunning_ = false;
};

// Holds the file commands' busy flag for the length of one load or save.
class FileCommand {
 public:
  explicit FileCommand(FileAccess& files) : files_(files), running_(files.beginCommand()) {}
  ~FileCommand() {
    if (running_) files_.endCommand();
  }
  FileCommand(const FileCommand&) = delete;
  FileCommand& operator=(const FileCommand&) = delete;
  bool running() const { return running_; }

 private:
  FileAccess& files_;
  bool running_;
};

}  // namespace tonvarel
