#pragma once

// The Windows codes the tray icon uses, named once for the code that is free of Win32.
// shell_tray_win32.cpp checks each against the system's own.

#include <cstdint>

namespace perlwick::shell {

// Shell_NotifyIcon's calls.
inline constexpr std::uint32_t kNimAdd = 0;     // NIM_ADD
inline constexpr std::uint32_t kNimModify = 1;  // NIM_MODIFY
inline constexpr std::uint32_t kNimDelete = 2;  // NIM_DELETE

// Which of the record's fields count.
inline constexpr std::uint32_t kNifMessage = 0x1;  // NIF_MESSAGE
inline constexpr std::uint32_t kNifIcon = 0x2;     // NIF_ICON
inline constexpr std::uint32_t kNifTip = 0x4;      // NIF_TIP

// Window messages.
inline constexpr std::uint32_t kWmMouseMove = 0x0200;    // WM_MOUSEMOVE
inline constexpr std::uint32_t kWmLButtonDown = 0x0201;  // WM_LBUTTONDOWN

}  // namespace perlwick::shell
