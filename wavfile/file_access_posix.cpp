// The POSIX half of FileAccess, for the headless renderer and the native tests. Files behave as
// the Win32 backend's do: reads and writes move the whole buffer (or stop at the end of the
// file), only regular files open for reading. There is no chooser to show: without a hook it is
// cancelled. Without a hook a message box becomes one line on stderr.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "wavfile/file_access.h"

namespace tonvarel {
namespace {

constexpr int kNoFile = -1;

bool validSlot(int slot) {
  return slot >= 0 && slot < kFileSlots;
}

}  // namespace

FileAccess::FileAccess() {
  for (int& handle : handles_) handle = kNoFile;
}

bool FileAccess::openForRead(const char* path, int slot) {
  if (!validSlot(slot)) return false;
  close(slot);
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // Only a file holds a sound: a directory or a device is refused, as CreateFileA refuses them.
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  handles_[slot] = fd;
  return true;
}

bool FileAccess::createForWrite(const char* path, int slot) {
  if (!validSlot(slot)) return false;
  close(slot);
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  handles_[slot] = fd;
  return true;
}

bool FileAccess::write(const void* bytes, uint32_t count, int slot) {
  lastTransferred_ = 0;
  if (!validSlot(slot) || handles_[slot] == kNoFile) return false;
  const auto* from = static_cast<const uint8_t*>(bytes);
  while (lastTransferred_ < count) {
    const ssize_t moved =
        ::write(handles_[slot], from + lastTransferred_, count - lastTransferred_);
    if (moved < 0 && errno == EINTR) continue;
    if (moved <= 0) return false;
    lastTransferred_ += static_cast<uint32_t>(moved);
  }
  return lastTransferred_ != 0;
}

bool FileAccess::read(void* buffer, uint32_t count, int slot) {
  lastTransferred_ = 0;
  if (!validSlot(slot) || handles_[slot] == kNoFile) return false;
  auto* to = static_cast<uint8_t*>(buffer);
  while (lastTransferred_ < count) {
    const ssize_t moved = ::read(handles_[slot], to + lastTransferred_, count - lastTransferred_);
    if (moved < 0 && errno == EINTR) continue;
    if (moved < 0) return false;
    if (moved == 0) break;  // end of file: a short read, as ReadFile gives
    lastTransferred_ += static_cast<uint32_t>(moved);
  }
  return lastTransferred_ != 0;
}

uint32_t FileAccess::size(int slot) {
  if (!validSlot(slot) || handles_[slot] == kNoFile) return 0;
  struct stat info {};
  if (::fstat(handles_[slot], &info) != 0) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(info.st_size));
}

void FileAccess::close(int slot) {
  if (!validSlot(slot) || handles_[slot] == kNoFile) return;
  ::close(handles_[slot]);
  handles_[slot] = kNoFile;
}

FileAccess::DirectoryResult FileAccess::makeDirectory(const char* path) {
  if (::mkdir(path, 0755) == 0) return DirectoryResult::kCreated;
  return errno == EEXIST ? DirectoryResult::kAlreadyThere : DirectoryResult::kFailed;
}

bool FileAccess::showChooser(bool /*save*/) {
  return false;
}

void FileAccess::showMessageBox(const char* text, const char* caption) {
  // One line per box, as the headless renderer's output is read line by line: the box's line
  // break (CR LF) becomes a space.
  std::string line = caption != nullptr ? caption : "Error";
  line += ": ";
  for (const char* c = text; *c != '\0'; ++c) {
    if (c[0] == '\r' && c[1] == '\n') ++c;
    line += (*c == '\r' || *c == '\n') ? ' ' : *c;
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace tonvarel
