// Memory the engine owns: a tone table's samples, a loaded file image, the take.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace tonvarel {

// Where every Storage gets its memory: std::malloc, unless a test stands in for it to see what
// the program does when memory runs out. What it hands out is released with std::free.
using StorageAllocator = void* (*)(size_t bytes);
inline constinit StorageAllocator storageAllocator = [](size_t bytes) {
  return std::malloc(bytes);
};

// One buffer with a single owner. It is never resized in place: a new size means the old buffer
// is released first and then allocated anew, so at most one of the two is alive at a time.
// Constant-initialisable, so the process-wide engine record stays constinit.
template <class T>
class Storage {
 public:
  constexpr Storage() = default;
  ~Storage() { std::free(data_); }
  Storage(const Storage&) = delete;
  Storage& operator=(const Storage&) = delete;

  T* get() const { return data_; }

  // Releases the buffer, then allocates `count` elements (at least one, so that even an empty
  // table points at live storage). Null when the memory cannot be had.
  T* renew(size_t count) {
    release();
    // A count whose bytes do not fit a size_t (a large 8-bit file widened on a 32-bit build)
    // is as much memory as cannot be had, not a short buffer.
    if (count > SIZE_MAX / sizeof(T)) return nullptr;
    data_ = static_cast<T*>(storageAllocator((count == 0 ? 1 : count) * sizeof(T)));
    return data_;
  }

  void release() {
    std::free(data_);
    data_ = nullptr;
  }

  // Trades buffers with `other`: a table filled beside the active one takes its place whole.
  void swap(Storage& other) {
    T* mine = data_;
    data_ = other.data_;
    other.data_ = mine;
  }

 private:
  T* data_ = nullptr;
};

}  // namespace tonvarel
