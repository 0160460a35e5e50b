#include "window/win32_message_box.h"

#include "window/control_ids.h"

namespace perlwick::win32 {

void message_box(HWND owner, const wchar_t* text, BoxIcon icon) noexcept {
  const UINT look = icon == BoxIcon::warning ? MB_ICONWARNING : 0u;
  MessageBoxW(owner, text, ids::kWindowTitle, MB_OK | look);
}

}  // namespace perlwick::win32
