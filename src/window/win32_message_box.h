#pragma once

// The program's one message box: every message the user reads in a box of its own is
// shown by message_box, under the window's title.

#include <windows.h>

namespace perlwick::win32 {

enum class BoxIcon { none, warning };

// Shows text with an OK button and waits for the user; owner, when given, is disabled
// meanwhile.
void message_box(HWND owner, const wchar_t* text, BoxIcon icon = BoxIcon::warning) noexcept;

}  // namespace perlwick::win32
