#pragma once

// Owners of Windows handles: each frees its handle when it goes, so that nothing is freed
// by hand. The store and the window alike hold their files, searches, mutexes, fonts and
// icons in these.

#include <windows.h>

#include <type_traits>
#include <utility>

namespace perlwick::win32 {

// Holds a handle that Free releases. A handle of the kernel's kind (a file, a search)
// may be null or INVALID_HANDLE_VALUE when there is none; neither is ever freed.
template <typename Handle, auto Free>
class Owned {
 public:
  Owned() = default;
  explicit Owned(Handle handle) : handle_(handle) {}
  ~Owned() {
    if (*this) Free(handle_);
  }
  Owned(Owned&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Owned& operator=(Owned&& other) noexcept {
    Owned gone(std::move(*this));
    handle_ = std::exchange(other.handle_, nullptr);
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  Handle get() const { return handle_; }
  // Whether there is a handle.
  explicit operator bool() const {
    if constexpr (std::is_same_v<Handle, HANDLE>) {
      return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE;
    } else {
      return handle_ != nullptr;
    }
  }
  // Gives the handle up without freeing it.
  Handle release() { return std::exchange(handle_, nullptr); }

 private:
  Handle handle_ = nullptr;
};

inline void close_handle(HANDLE handle) {
  CloseHandle(handle);
}
inline void close_search(HANDLE search) {
  FindClose(search);
}
inline void free_font(HFONT font) {
  DeleteObject(font);
}
inline void free_icon(HICON icon) {
  DestroyIcon(icon);
}
inline void free_local(HLOCAL memory) {
  LocalFree(memory);
}

// An open file, mutex or other kernel object.
using Handle = Owned<HANDLE, close_handle>;
// A search of a folder (FindFirstFileW).
using Search = Owned<HANDLE, close_search>;
using Font = Owned<HFONT, free_font>;
using Icon = Owned<HICON, free_icon>;
// Memory the system handed over with LocalAlloc (a security descriptor, a message text).
using LocalMemory = Owned<HLOCAL, free_local>;

}  // namespace perlwick::win32
