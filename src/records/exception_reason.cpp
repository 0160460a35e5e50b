// An exception's reason: its own text, in the system's code page.

#include "common/status.h"
#include "records/ansi_text.h"

namespace perlwick {

SystemReason SystemReason::of(const std::exception& failure) {
  std::wstring words;
  decode_ansi(failure.what(), words);
  return SystemReason(std::move(words));
}

}  // namespace perlwick
