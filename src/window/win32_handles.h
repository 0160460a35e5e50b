#pragma once

// Owners of the window's GDI fonts and icons: each frees its handle when it goes, so that
// nothing is freed by hand.

#include <windows.h>

#include <utility>

namespace perlwick::win32 {

template <typename Handle, auto Free>
class Owned {
 public:
  Owned() = default;
  explicit Owned(Handle handle) : handle_(handle) {}
  ~Owned() {
    if (handle_ != nullptr) Free(handle_);
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

 private:
  Handle handle_ = nullptr;
};

inline void free_font(HFONT font) {
  DeleteObject(font);
}

inline void free_icon(HICON icon) {
  DestroyIcon(icon);
}

using Font = Owned<HFONT, free_font>;
using Icon = Owned<HICON, free_icon>;

}  // namespace perlwick::win32
