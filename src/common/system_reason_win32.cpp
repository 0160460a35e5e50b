// A Windows error's reason: the system's own words for its code.

#include <windows.h>

#include "common/status.h"
#include "win32/owned.h"

namespace perlwick {

SystemReason SystemReason::of_windows_error(unsigned long code) {
  wchar_t* text = nullptr;
  const DWORD size = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  const win32::LocalMemory owned(text);
  std::wstring words = size > 0 && text != nullptr ? std::wstring(text, size) : std::wstring();
  // The message ends a sentence of its own; the code follows it in the same sentence.
  while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' ||
                            words.back() == L' ' || words.back() == L'.')) {
    words.pop_back();
  }
  return SystemReason(std::move(words), code);
}

}  // namespace perlwick
