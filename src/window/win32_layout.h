#pragma once

// Form1's window at the screen's DPI: pixels for twips, the window's outer size, its two
// fonts, and its controls made and placed from their table (form1_table.h).

#include <windows.h>

#include "common/status.h"
#include "win32/owned.h"

namespace perlwick::win32 {

inline constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
inline constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;

// The DPI the window is shown at (the system's, on Windows older than 10).
UINT dpi_of(HWND window);

// Creates the window's controls from the table, in its order, each in its start-up
// state.
Status create_controls(HWND window, HINSTANCE instance);

class WindowLayout {
 public:
  explicit WindowLayout(UINT dpi);

  UINT dpi() const { return dpi_; }
  int px(int twips) const;
  // The window's outer size, frame included, for its client area.
  SIZE outer_size() const;
  // Gives every control of the window its font, its place and its size.
  void apply(HWND window) const;

 private:
  void fit_name_box_height(HWND combo) const;

  UINT dpi_;
  // MS Sans Serif 8.25 point: the window's font, and its bold form for labels and buttons.
  Font font_;
  Font bold_font_;
};

}  // namespace perlwick::win32
