#pragma once

// The one owner of what the system hands out and must be given back: a Windows handle, a
// POSIX file descriptor, an open folder listing. An Owned frees what it holds when it
// goes, so that nothing is freed by hand, on any way out of a scope.

#include <utility>

namespace perlwick {

// Kind says what is held and how it is freed:
//   using Handle = ...;                      // the system's type
//   static constexpr Handle none = ...;      // what stands for nothing held
//   static bool holds(Handle);               // whether a value is something to free
//   static void free(Handle);
template <typename Kind>
class Owned {
 public:
  using Handle = typename Kind::Handle;

  Owned() = default;
  explicit Owned(Handle handle) : handle_(handle) {}
  ~Owned() {
    if (*this) Kind::free(handle_);
  }
  Owned(Owned&& other) noexcept : handle_(std::exchange(other.handle_, Kind::none)) {}
  Owned& operator=(Owned&& other) noexcept {
    Owned gone(std::move(*this));
    handle_ = std::exchange(other.handle_, Kind::none);
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  Handle get() const { return handle_; }
  // Whether something is held.
  explicit operator bool() const { return Kind::holds(handle_); }
  // Gives it up without freeing it.
  Handle release() { return std::exchange(handle_, Kind::none); }

 private:
  Handle handle_ = Kind::none;
};

}  // namespace perlwick
