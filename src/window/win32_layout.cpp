#include "window/win32_layout.h"

#include <string>

#include "win32/system_library.h"
#include "window/form1_table.h"

namespace perlwick::win32 {
namespace {

constexpr int kTwipsPerInch = 1440;
constexpr UINT kDefaultDpi = 96;

// The name box's list drops below it; its height counts in the combo box's window height.
constexpr int kNameListHeight = 2400;

// Functions of newer versions of Windows, looked up at run time so that the program also
// starts on older ones.
using GetDpiForWindowFunction = UINT WINAPI(HWND);
using AdjustWindowRectExForDpiFunction = BOOL WINAPI(RECT*, DWORD, BOOL, DWORD, UINT);

Font make_font(UINT dpi, int weight) {
  const int height = -MulDiv(825, static_cast<int>(dpi), 72 * 100);
  return Font(CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, ANSI_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif"));
}

// The window class and styles of each kind of control.
struct Kind {
  const wchar_t* window_class;
  DWORD style;
  DWORD ex_style;
};

Kind kind_of(const ControlRow& control) {
  constexpr DWORD child = WS_CHILD | WS_VISIBLE;
  switch (control.kind) {
    case ControlKind::label:
      return {L"Static", child | SS_LEFT | SS_NOPREFIX, 0};
    case ControlKind::hidden_label:
      return {L"Static", WS_CHILD | SS_LEFT | SS_NOPREFIX, 0};
    case ControlKind::name_box:
      return {L"ComboBox", child | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, 0};
    case ControlKind::text_box:
      return {L"Edit", child | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case ControlKind::notes_box:
      return {
          L"Edit",
          child | WS_TABSTOP | WS_VSCROLL | ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
          WS_EX_CLIENTEDGE};
    case ControlKind::button:
      return {L"Button",
              child | WS_TABSTOP | BS_PUSHBUTTON | (control.starts_disabled ? WS_DISABLED : 0u), 0};
  }
  return {L"Static", child, 0};
}

}  // namespace

UINT dpi_of(HWND window) {
  static const auto get_dpi_for_window =
      system_function<GetDpiForWindowFunction>(L"user32.dll", "GetDpiForWindow");
  if (get_dpi_for_window != nullptr && window != nullptr) {
    const UINT dpi = get_dpi_for_window(window);
    if (dpi != 0) return dpi;
  }
  const HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kDefaultDpi;
}

Status create_controls(HWND window, HINSTANCE instance) {
  for (const ControlRow& control : kForm1Controls) {
    const Kind kind = kind_of(control);
    const std::wstring caption(caption_of(control));
    const HWND created = CreateWindowExW(
        kind.ex_style, kind.window_class, caption.c_str(), kind.style, 0, 0, 0, 0, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), instance, nullptr);
    if (created == nullptr) return Status::failure(Message{Says::controls_not_created});
    // No box has a length limit of its own.
    if (control.kind == ControlKind::name_box) SendMessageW(created, CB_LIMITTEXT, 0, 0);
    if (control.kind == ControlKind::text_box || control.kind == ControlKind::notes_box) {
      SendMessageW(created, EM_SETLIMITTEXT, 0, 0);
    }
  }
  return {};
}

WindowLayout::WindowLayout(UINT dpi)
    : dpi_(dpi), font_(make_font(dpi, FW_NORMAL)), bold_font_(make_font(dpi, FW_BOLD)) {}

int WindowLayout::px(int twips) const {
  return MulDiv(twips, static_cast<int>(dpi_), kTwipsPerInch);
}

SIZE WindowLayout::outer_size() const {
  RECT rect{0, 0, px(kClientWidth), px(kClientHeight)};
  static const auto adjust_for_dpi =
      system_function<AdjustWindowRectExForDpiFunction>(L"user32.dll", "AdjustWindowRectExForDpi");
  if (adjust_for_dpi != nullptr) {
    adjust_for_dpi(&rect, kWindowStyle, FALSE, kWindowExStyle, dpi_);
  } else {
    AdjustWindowRectEx(&rect, kWindowStyle, FALSE, kWindowExStyle);
  }
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

void WindowLayout::apply(HWND window) const {
  for (const ControlRow& control : kForm1Controls) {
    const HWND hwnd = GetDlgItem(window, control.id);
    if (hwnd == nullptr) continue;
    const bool bold = is_label(control.kind) || control.kind == ControlKind::button;
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(bold ? bold_font_.get() : font_.get()),
                 TRUE);
    const int height =
        control.kind == ControlKind::name_box ? control.height + kNameListHeight : control.height;
    SetWindowPos(hwnd, nullptr, px(control.left), px(control.top), px(control.width), px(height),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  fit_name_box_height(GetDlgItem(window, ids::Combo1));
}

// A drop-down combo box takes its height from its font; make its edit field as tall as the
// name box's height in the table.
void WindowLayout::fit_name_box_height(HWND combo) const {
  const int wanted = px(row_of(ids::Combo1).height);
  for (int attempt = 0; attempt < 2; ++attempt) {
    RECT rect{};
    GetWindowRect(combo, &rect);
    const int difference = wanted - (rect.bottom - rect.top);
    if (difference == 0) return;
    const LRESULT item_height = SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
    if (item_height == CB_ERR || item_height + difference <= 0) return;
    SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), item_height + difference);
  }
}

}  // namespace perlwick::win32
