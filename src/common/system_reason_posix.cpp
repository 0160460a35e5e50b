// A system's reasons on POSIX systems: the C library's own words for an errno, and an
// exception's own text, byte for byte.

#include <cstring>
#include <string_view>

#include "common/status.h"

namespace perlwick {
namespace {

std::wstring widened(std::string_view text) {
  std::wstring words;
  for (const char c : text) words += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return words;
}

}  // namespace

SystemReason SystemReason::of_errno(int error) {
  return SystemReason(widened(std::strerror(error)));
}

SystemReason SystemReason::of(const std::exception& failure) {
  return SystemReason(widened(failure.what()));
}

}  // namespace perlwick
