// The baseline for Perlwick's start: a bare Win32 window with one drop-down combo box and
// nothing else, which the benchmark starts and waits for as it does for Perlwick.

#include <windows.h>

#include "window/control_ids.h"

namespace {

LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = window_proc;
  window_class.hInstance = instance;
  window_class.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  // The class the benchmark's driver looks for.
  window_class.lpszClassName = perlwick::ids::kWindowClass;
  RegisterClassExW(&window_class);
  const HWND window = CreateWindowExW(0, perlwick::ids::kWindowClass, L"Bare window",
                                      WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 0, 0, 660, 160,
                                      nullptr, nullptr, instance, nullptr);
  const HWND combo = CreateWindowExW(
      0, L"ComboBox", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN, 96, 8,
      297, 160, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(perlwick::ids::Combo1)),
      instance, nullptr);
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  SetFocus(combo);
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
