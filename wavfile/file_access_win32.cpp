// The Win32 half of FileAccess: CreateFileA and friends, CreateDirectoryA, the common file
// dialogs on the one shared chooser record, and MessageBoxA. Texts are code page 932.
#include "wavfile/file_access.h"
#include "wavfile/messages.h"

namespace tonvarel {
namespace {

bool validSlot(int slot) {
  return slot >= 0 && slot < kFileSlots;
}

// One pair, description then pattern; the literal's own terminator closes the list.
constexpr char kFilter[] = "wav file\0*.wav\0";

}  // namespace

FileAccess::FileAccess() {
  for (HANDLE& handle : handles_) handle = INVALID_HANDLE_VALUE;
  // Both choosers use this record as it is left here (all other members zero). The structure
  // size is the full OPENFILENAMEA of the build: 88 bytes on 32-bit Windows, 152 on x64.
  chooser_.lStructSize = sizeof(OPENFILENAMEA);
  chooser_.hwndOwner = nullptr;
  chooser_.lpstrFilter = kFilter;
  chooser_.lpstrFile = pathBuffer_;
  chooser_.nMaxFile = kPathChars;
  chooser_.lpstrFileTitle = fileTitleBuffer_;
  chooser_.nMaxFileTitle = kFileTitleChars;
  chooser_.lpstrTitle = text::kChooserTitle;
  chooser_.Flags = OFN_FILEMUSTEXIST;
  chooser_.lpstrDefExt = "wav";
}

// Opens `path` into a slot's handle, without sharing.
static bool openInto(HANDLE& handle, const char* path, DWORD access, DWORD disposition) {
  handle = CreateFileA(path, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return handle != INVALID_HANDLE_VALUE;
}

bool FileAccess::openForRead(const char* path, int slot) {
  if (!validSlot(slot)) return false;
  close(slot);
  return openInto(handles_[slot], path, GENERIC_READ, OPEN_EXISTING);
}

bool FileAccess::createForWrite(const char* path, int slot) {
  if (!validSlot(slot)) return false;
  close(slot);
  return openInto(handles_[slot], path, GENERIC_WRITE, CREATE_ALWAYS);
}

bool FileAccess::write(const void* bytes, uint32_t count, int slot) {
  lastTransferred_ = 0;
  if (!validSlot(slot) || handles_[slot] == INVALID_HANDLE_VALUE) return false;
  DWORD moved = 0;
  const BOOL ok = WriteFile(handles_[slot], bytes, count, &moved, nullptr);
  lastTransferred_ = moved;
  return ok && lastTransferred_ != 0;
}

bool FileAccess::read(void* buffer, uint32_t count, int slot) {
  lastTransferred_ = 0;
  if (!validSlot(slot) || handles_[slot] == INVALID_HANDLE_VALUE) return false;
  DWORD moved = 0;
  const BOOL ok = ReadFile(handles_[slot], buffer, count, &moved, nullptr);
  lastTransferred_ = moved;
  return ok && lastTransferred_ != 0;
}

uint32_t FileAccess::size(int slot) {
  if (!validSlot(slot) || handles_[slot] == INVALID_HANDLE_VALUE) return 0;
  const DWORD low = GetFileSize(handles_[slot], nullptr);
  return low == INVALID_FILE_SIZE ? 0 : low;
}

void FileAccess::close(int slot) {
  if (!validSlot(slot) || handles_[slot] == INVALID_HANDLE_VALUE) return;
  CloseHandle(handles_[slot]);
  handles_[slot] = INVALID_HANDLE_VALUE;
}

FileAccess::DirectoryResult FileAccess::makeDirectory(const char* path) {
  if (CreateDirectoryA(path, nullptr)) return DirectoryResult::kCreated;
  const DWORD error = GetLastError();
  return error == 0 || error == ERROR_ALREADY_EXISTS ? DirectoryResult::kAlreadyThere
                                                     : DirectoryResult::kFailed;
}

bool FileAccess::showChooser(bool save) {
  chooser_.lpstrFile = pathBuffer_;
  return (save ? GetSaveFileNameA(&chooser_) : GetOpenFileNameA(&chooser_)) != FALSE;
}

void FileAccess::showMessageBox(const char* text, const char* caption) {
  MessageBoxA(nullptr, text, caption, MB_OK);
}

}  // namespace tonvarel
