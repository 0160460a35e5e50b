// A system's reasons on Windows: its own words for an error code, and an exception's own
// text, in the system's code page.

#include <windows.h>

#include <algorithm>
#include <string_view>

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

SystemReason SystemReason::of(const std::exception& failure) {
  const std::string_view text = failure.what();
  std::wstring words;
  const auto size = static_cast<int>(std::min<std::size_t>(text.size(), 1 << 20));
  if (const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
      needed > 0) {
    words.resize(static_cast<std::size_t>(needed));
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, words.data(), needed);
  }
  return SystemReason(std::move(words));
}

}  // namespace perlwick
