#include "tray/shell_tray_win32.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstddef>
#include <cstring>

#include "win32/system_library.h"

namespace perlwick {

// The record is the shell's first, ANSI NOTIFYICONDATA, field for field.
static_assert(kNotifyIconRecordSize == NOTIFYICONDATAA_V1_SIZE);
static_assert(sizeof(void*) != 4 || NOTIFYICONDATAA_V1_SIZE == 88);
static_assert(offsetof(NotifyIconRecord, hWnd) == offsetof(NOTIFYICONDATAA, hWnd));
static_assert(offsetof(NotifyIconRecord, uID) == offsetof(NOTIFYICONDATAA, uID));
static_assert(offsetof(NotifyIconRecord, uFlags) == offsetof(NOTIFYICONDATAA, uFlags));
static_assert(offsetof(NotifyIconRecord, uCallbackMessage) ==
              offsetof(NOTIFYICONDATAA, uCallbackMessage));
static_assert(offsetof(NotifyIconRecord, hIcon) == offsetof(NOTIFYICONDATAA, hIcon));
static_assert(offsetof(NotifyIconRecord, szTip) == offsetof(NOTIFYICONDATAA, szTip));
static_assert(sizeof(NotifyIconRecord::szTip) == 64);
static_assert(NIM_ADD == shell::kNimAdd && NIM_MODIFY == shell::kNimModify &&
              NIM_DELETE == shell::kNimDelete);
static_assert(NIF_MESSAGE == shell::kNifMessage && NIF_ICON == shell::kNifIcon &&
              NIF_TIP == shell::kNifTip);
static_assert(WM_MOUSEMOVE == shell::kWmMouseMove && WM_LBUTTONDOWN == shell::kWmLButtonDown);

bool Win32ShellTray::notify(TrayCall call, const NotifyIconRecord& record) {
  NOTIFYICONDATAA data;
  std::memset(&data, 0, sizeof data);
  std::memcpy(&data, &record, sizeof record);
  static const auto notify_icon =
      win32::system_function<decltype(Shell_NotifyIconA)>(L"shell32.dll", "Shell_NotifyIconA");
  return notify_icon != nullptr && notify_icon(static_cast<DWORD>(call), &data) != FALSE;
}

}  // namespace perlwick
