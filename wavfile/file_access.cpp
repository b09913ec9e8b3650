// The platform-independent half of FileAccess: directory making, chooser and message dispatch.
// The backends supply files, one directory level, the chooser and the box.
#include "wavfile/file_access.h"

#include <cstring>

#include "wavfile/messages.h"

namespace tonvarel {

namespace {

#ifdef _WIN32
// Byte-wise, like the rest of the path handling: in a code page 932 path a double-byte
// character whose second byte is 0x5C counts as a separator too.
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

}  // namespace

bool FileAccess::createForWriteMakingDirs(const char* path, int slot) {
  // Every attempt climbs from the full path towards the root until one directory can be made or
  // is found present, then tries the file again. An attempt that makes nothing new would be
  // repeated unchanged for ever (the directory is there but the file cannot be created), so it
  // ends the retries; each other attempt adds a level, so a path has at most as many attempts as
  // separators. The bound only guards against directories vanishing under us.
  for (int attempt = 0; attempt < kPathChars; ++attempt) {
    if (createForWrite(path, slot)) return true;

    char work[kPathChars];
    std::strncpy(work, path, kPathChars - 1);
    work[kPathChars - 1] = '\0';
    bool madeOne = false;
    for (auto n = static_cast<int>(std::strlen(work)) - 1; n >= 0; --n) {
      if (work[n] != kSeparator) continue;
      work[n] = '\0';
      const DirectoryResult made = makeDirectory(work);
      if (made == DirectoryResult::kFailed) continue;  // try the next shorter prefix
      madeOne = made == DirectoryResult::kCreated;
      break;
    }
    if (!madeOne) break;
  }
  showMessage(text::kDeath, nullptr);
  return false;
}

bool FileAccess::chooseOpen(char* path) {
  return choose(false, path);
}
bool FileAccess::chooseSave(char* path) {
  return choose(true, path);
}

bool FileAccess::choose(bool save, char* path) {
  const bool confirmed = chooserHook_ != nullptr ? chooserHook_(chooserContext_, save, pathBuffer_)
                                                 : showChooser(save);
  if (!confirmed) return false;
  pathBuffer_[kPathChars - 1] = '\0';
  std::memcpy(path, pathBuffer_, std::strlen(pathBuffer_) + 1);
  return true;
}

void FileAccess::showMessage(const char* text, const char* caption) {
  if (messageHook_ != nullptr) {
    messageHook_(messageContext_, text, caption);
  } else {
    showMessageBox(text, caption);
  }
}

void FileAccess::setChooserHook(ChooserHook hook, void* context) {
  chooserHook_ = hook;
  chooserContext_ = context;
}

void FileAccess::setMessageHook(MessageHook hook, void* context) {
  messageHook_ = hook;
  messageContext_ = context;
}

bool FileAccess::beginCommand() {
  if (commandRunning_) return false;
  commandRunning_ = true;
  return true;
}

}  // namespace tonvarel
