#pragma once

// The kinds of Windows handles the program holds (common/owned.h): the file system and
// the window alike hold their files, searches, mutexes, fonts and icons in these.

#include <windows.h>

#include <type_traits>

#include "common/owned.h"

namespace perlwick::win32 {

// A handle of Windows that Free releases. A handle of the kernel's kind (a file, a search)
// may be null or INVALID_HANDLE_VALUE when there is none; neither is ever freed.
template <typename H, auto Free>
struct HandleKind {
  using Handle = H;
  static constexpr H none = nullptr;
  static bool holds(H handle) {
    if constexpr (std::is_same_v<H, HANDLE>) {
      return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    } else {
      return handle != nullptr;
    }
  }
  static void free(H handle) { Free(handle); }
};

template <typename Handle, auto Free>
using Owned = perlwick::Owned<HandleKind<Handle, Free>>;

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
