// An errno's reason: the C library's own words for it.

#include <cstring>

#include "common/status.h"

namespace perlwick {

SystemReason SystemReason::of_errno(int error) {
  std::wstring words;
  for (const char* c = std::strerror(error); *c != '\0'; ++c) {
    words += static_cast<wchar_t>(static_cast<unsigned char>(*c));
  }
  return SystemReason(std::move(words));
}

}  // namespace perlwick
