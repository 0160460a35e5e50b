#include "window/win32_main_window.h"

#include <commctrl.h>

#include <exception>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "store/record_store.h"
#include "window/control_ids.h"
#include "window/date_check.h"

namespace perlwick::win32 {

namespace {

constexpr int kTwipsPerInch = 1440;
constexpr UINT kDefaultDpi = 96;
constexpr UINT kDpiChangedMessage = 0x02E0;  // WM_DPICHANGED, Windows 8.1 and later

// Posted when the user chooses an item of the name box's list. The combo box writes the
// item into its edit field only after it has sent the selection notification, so the
// choice is looked up once that has happened.
constexpr UINT kListChoiceMessage = WM_APP + 1;

// Posted when the Date Joined box has lost the focus: the date is checked once the focus
// has settled, not inside the focus change.
constexpr UINT kDateCheckMessage = WM_APP + 2;

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;

// The window's client area, in twips.
constexpr int kClientWidth = 9870;
constexpr int kClientHeight = 1965;

// The name box's list drops below it; its height counts in the combo box's window height.
constexpr int kNameListHeight = 2400;

enum class Kind { label, hidden_label, name_box, text_box, notes_box, button };

struct ControlSpec {
  int id;
  Kind kind;
  const wchar_t* caption;
  int left, top, width, height;  // twips, in the window's client area
};

// The controls in creation order. The focusable ones come in tab order; each label comes
// just before the box it names, so that screen readers name the box after it.
constexpr ControlSpec kControls[] = {
    {ids::Label1, Kind::label, L"Product Name", 120, 120, 1300, 300},
    {ids::Combo1, Kind::name_box, L"", 1440, 120, 4455, 315},
    {ids::Label1 + 1, Kind::label, L"URL", 120, 480, 1300, 300},
    {ids::Text2, Kind::text_box, L"", 1440, 480, 4455, 285},
    {ids::Label1 + 2, Kind::label, L"Affiliate Link", 120, 840, 1300, 300},
    {ids::Text3, Kind::text_box, L"", 1440, 840, 4455, 285},
    {ids::Label1 + 3, Kind::label, L"Username", 120, 1200, 1300, 300},
    {ids::Text4, Kind::text_box, L"", 1440, 1200, 1455, 285},
    {ids::Label1 + 5, Kind::label, L"Password", 3120, 1200, 1305, 300},
    {ids::Text5, Kind::text_box, L"", 4440, 1200, 1455, 285},
    {ids::Label1 + 4, Kind::label, L"Commision %", 120, 1560, 1300, 300},
    {ids::Text6, Kind::text_box, L"", 1440, 1560, 1455, 285},
    {ids::Label7, Kind::label, L"Date Joined", 3120, 1560, 1305, 300},
    {ids::Text7, Kind::text_box, L"", 4440, 1560, 1455, 285},
    {ids::NotesLabel, Kind::hidden_label, L"Notes", 6000, 120, 3735, 300},
    {ids::Text8, Kind::notes_box, L"", 6000, 120, 3735, 1335},
    {ids::Command1, Kind::button, L"Add", 6000, 1560, 855, 300},
    {ids::Command2, Kind::button, L"Update", 6960, 1560, 855, 300},
    {ids::Command3, Kind::button, L"Delete", 7920, 1560, 855, 300},
    {ids::Command4, Kind::button, L"Hide", 8880, 1560, 855, 300},
};

// Functions of newer versions of Windows, looked up at run time so that the program also
// starts on older ones.
template <typename Function>
Function user32_function(const char* name) {
  const HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (user32 == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(user32, name)));
}

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);

UINT dpi_of(HWND hwnd) {
  static const auto get_dpi_for_window =
      user32_function<GetDpiForWindowFunction>("GetDpiForWindow");
  if (get_dpi_for_window != nullptr && hwnd != nullptr) {
    const UINT dpi = get_dpi_for_window(hwnd);
    if (dpi != 0) return dpi;
  }
  const HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kDefaultDpi;
}

// The notes box takes Tab as a move to the next control, not as a character; Enter still
// starts a new line in it.
LRESULT CALLBACK notes_box_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                                UINT_PTR /*subclass_id*/, DWORD_PTR /*data*/) {
  if (message == WM_GETDLGCODE) {
    LRESULT code = DefSubclassProc(hwnd, message, wparam, lparam);
    const MSG* key = reinterpret_cast<const MSG*>(lparam);
    if (key != nullptr && key->message == WM_KEYDOWN && key->wParam == VK_TAB) {
      code &= ~static_cast<LRESULT>(DLGC_WANTALLKEYS | DLGC_WANTMESSAGE);
    }
    return code & ~static_cast<LRESULT>(DLGC_WANTTAB);
  }
  return DefSubclassProc(hwnd, message, wparam, lparam);
}

std::wstring from_ansi(const char* text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 1) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, WORD icon_id) : instance_(instance), icon_id_(icon_id) {}

MainWindow::~MainWindow() {
  form_.reset();
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  if (font_ != nullptr) DeleteObject(font_);
  if (bold_font_ != nullptr) DeleteObject(bold_font_);
  if (big_icon_ != nullptr) DestroyIcon(big_icon_);
  if (small_icon_ != nullptr) DestroyIcon(small_icon_);
}

// ---- Start-up -----------------------------------------------------------------------------

bool MainWindow::create() {
  big_icon_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(icon_id_), IMAGE_ICON,
                                            GetSystemMetrics(SM_CXICON),
                                            GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
  small_icon_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(icon_id_), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXSMICON),
                                              GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));

  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = &MainWindow::window_proc;
  window_class.hInstance = instance_;
  window_class.hIcon = big_icon_;
  window_class.hIconSm = small_icon_;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  window_class.lpszClassName = ids::kWindowClass;
  if (RegisterClassExW(&window_class) == 0) return false;

  // Created at the screen's origin, on the main screen, whose height places it; the load
  // step moves it before it is shown.
  if (CreateWindowExW(kWindowExStyle, ids::kWindowClass, ids::kWindowTitle, kWindowStyle, 0, 0, 0,
                      0, nullptr, nullptr, instance_, this) == nullptr) {
    return false;
  }
  dpi_ = dpi_of(hwnd_);
  const SIZE size = outer_size();
  SetWindowPos(hwnd_, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon_));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));

  create_fonts();
  create_controls();
  lay_out();

  taskbar_created_ = RegisterWindowMessageW(L"TaskbarCreated");
  form_ = std::make_unique<Form1>(
      Form1Controls{*combo1_, *text_boxes_[0], *text_boxes_[1], *text_boxes_[2], *text_boxes_[3],
                    *text_boxes_[4], *text_boxes_[5], *text_boxes_[6], *buttons_[0]},
      *this, module1_, std::filesystem::path(kRecordsPath));
  run([this] { form_->Form_Load(); });
  return true;
}

void MainWindow::create_controls() {
  for (const ControlSpec& entry : kControls) {
    const wchar_t* window_class = L"Static";
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD ex_style = 0;
    switch (entry.kind) {
      case Kind::label:
        style |= SS_LEFT | SS_NOPREFIX;
        break;
      case Kind::hidden_label:
        style = WS_CHILD | SS_LEFT | SS_NOPREFIX;
        break;
      case Kind::name_box:
        window_class = L"ComboBox";
        style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL;
        break;
      case Kind::text_box:
        window_class = L"Edit";
        style |= WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
        ex_style = WS_EX_CLIENTEDGE;
        break;
      case Kind::notes_box:
        window_class = L"Edit";
        style |= WS_TABSTOP | WS_VSCROLL | ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
        ex_style = WS_EX_CLIENTEDGE;
        break;
      case Kind::button:
        window_class = L"Button";
        style |= WS_TABSTOP | BS_PUSHBUTTON;
        if (entry.id == ids::Command1) style |= WS_DISABLED;  // "Add" starts disabled
        break;
    }
    const HWND control = CreateWindowExW(
        ex_style, window_class, entry.caption, style, 0, 0, 0, 0, hwnd_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(entry.id)), instance_, nullptr);
    if (control == nullptr) throw std::runtime_error("Windows could not create the controls.");

    switch (entry.kind) {
      case Kind::name_box:
        SendMessageW(control, CB_LIMITTEXT, 0, 0);  // no length limit of its own
        combo1_ = std::make_unique<NameBox>(control, writes_);
        combo1_->on_list_needed = [this] { run([this] { form_->Combo1_DropDown(); }); };
        break;
      case Kind::text_box:
      case Kind::notes_box:
        SendMessageW(control, EM_SETLIMITTEXT, 0, 0);  // no length limit of its own
        text_boxes_[entry.id - ids::Text2] = std::make_unique<EditBox>(control, writes_);
        if (entry.kind == Kind::notes_box) SetWindowSubclass(control, notes_box_proc, 1, 0);
        break;
      case Kind::button:
        buttons_[entry.id - ids::Command1] = std::make_unique<PushButton>(control);
        break;
      case Kind::label:
      case Kind::hidden_label:
        break;
    }
  }
}

void MainWindow::create_fonts() {
  // MS Sans Serif 8.25 point: the window's font, and its bold form for labels and buttons.
  const int height = -MulDiv(825, static_cast<int>(dpi_), 72 * 100);
  const auto make_font = [height](int weight) {
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, ANSI_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
  };
  const HFONT font = make_font(FW_NORMAL);
  const HFONT bold_font = make_font(FW_BOLD);
  if (font_ != nullptr) DeleteObject(font_);
  if (bold_font_ != nullptr) DeleteObject(bold_font_);
  font_ = font;
  bold_font_ = bold_font;
}

void MainWindow::lay_out() {
  for (const ControlSpec& entry : kControls) {
    const HWND control = GetDlgItem(hwnd_, entry.id);
    if (control == nullptr) continue;
    const bool bold =
        entry.kind == Kind::label || entry.kind == Kind::hidden_label || entry.kind == Kind::button;
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(bold ? bold_font_ : font_), TRUE);
    const int height = entry.kind == Kind::name_box ? entry.height + kNameListHeight : entry.height;
    SetWindowPos(control, nullptr, px(entry.left), px(entry.top), px(entry.width), px(height),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  fit_name_box_height();
}

// A drop-down combo box takes its height from its font; make its edit field as tall as the
// name box's height in the window's table.
void MainWindow::fit_name_box_height() {
  const HWND combo = combo1_->hwnd();
  const int wanted = px(315);
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

void MainWindow::add_tray_icon() {
  run([this] {
    form_->Form_Initialize(reinterpret_cast<std::uintptr_t>(hwnd_),
                           reinterpret_cast<std::uintptr_t>(big_icon_));
  });
}

void MainWindow::show() {
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  UpdateWindow(hwnd_);
  // The name box is first in the tab order; taking the focus fills its list.
  combo1_->set_focus();
}

int MainWindow::run_message_loop() {
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    // The dialog manager moves the focus with Tab and Shift+Tab, in creation order.
    if (hwnd_ != nullptr && IsDialogMessageW(hwnd_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

// ---- Services for Form1 ---------------------------------------------------------------

int MainWindow::px(int twips) const {
  return MulDiv(twips, static_cast<int>(dpi_), kTwipsPerInch);
}

SIZE MainWindow::outer_size() const {
  RECT rect{0, 0, px(kClientWidth), px(kClientHeight)};
  static const auto adjust_for_dpi =
      user32_function<AdjustWindowRectExForDpiFunction>("AdjustWindowRectExForDpi");
  if (adjust_for_dpi != nullptr) {
    adjust_for_dpi(&rect, kWindowStyle, FALSE, kWindowExStyle, dpi_);
  } else {
    AdjustWindowRectEx(&rect, kWindowStyle, FALSE, kWindowExStyle);
  }
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

int MainWindow::screen_height_twips() const {
  return MulDiv(GetSystemMetrics(SM_CYSCREEN), kTwipsPerInch, static_cast<int>(dpi_));
}

void MainWindow::move_to(int left_twips, int top_twips) {
  SetWindowPos(hwnd_, nullptr, px(left_twips), px(top_twips), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::show_error(std::wstring_view message) {
  const std::wstring text(message);
  MessageBoxW(hwnd_, text.c_str(), ids::kWindowTitle, MB_OK | MB_ICONWARNING);
}

void MainWindow::show_message(std::wstring_view message) {
  const std::wstring text(message);
  MessageBoxW(hwnd_, text.c_str(), ids::kWindowTitle, MB_OK);
}

bool MainWindow::is_date(std::wstring_view text) {
  return text_is_date(text);
}

void MainWindow::hide() {
  ShowWindow(hwnd_, SW_HIDE);
}

void MainWindow::show_normal() {
  // Shown and normal already (a press on the icon, or the pointer passing over the window):
  // nothing to do, and the window does not take the focus from another program.
  if (IsWindowVisible(hwnd_) && !IsIconic(hwnd_)) return;
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  SetForegroundWindow(hwnd_);
}

void MainWindow::message_box(const wchar_t* text) noexcept {
  MessageBoxW(hwnd_, text, ids::kWindowTitle, MB_OK | MB_ICONWARNING);
}

template <typename Handler>
void MainWindow::run(Handler&& handler) noexcept {
  if (!form_) return;
  try {
    handler();
  } catch (const std::bad_alloc&) {
    message_box(L"Perlwick ran out of memory and could not finish that.");
  } catch (const std::exception& failure) {
    try {
      const std::wstring text = L"Perlwick could not finish that: " + from_ansi(failure.what());
      message_box(text.c_str());
    } catch (...) {
      message_box(L"Perlwick could not finish that.");
    }
  } catch (...) {
    message_box(L"Perlwick could not finish that.");
  }
}

// ---- Messages -----------------------------------------------------------------------------

LRESULT CALLBACK MainWindow::window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* window =
        static_cast<MainWindow*>(reinterpret_cast<const CREATESTRUCTW*>(lparam)->lpCreateParams);
    window->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
  }
  auto* window = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (window == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    window->hwnd_ = nullptr;
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }
  try {
    return window->handle(message, wparam, lparam);
  } catch (...) {
    // Handlers report their own failures; nothing may leave the window procedure.
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

LRESULT MainWindow::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (lparam != 0) on_command(LOWORD(wparam), HIWORD(wparam));
      return 0;

    case kListChoiceMessage:
      if (!combo1_) return 0;
      if (std::optional<std::wstring> item = combo1_->chosen_item()) {
        run([this, &item] { form_->Combo1_Click(*item); });
      }
      return 0;

    case WM_ACTIVATE:
      // Like a dialog box, the window remembers which control had the focus when another
      // window became active, and gives it back.
      if (LOWORD(wparam) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (focus != nullptr && IsChild(hwnd_, focus)) saved_focus_ = focus;
      } else if (HIWORD(wparam) == 0) {
        restore_focus();
      }
      return 0;

    case WM_SETFOCUS:
      restore_focus();
      return 0;

    case kDpiChangedMessage:
      on_dpi_changed(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      return 0;

    case WM_MOUSEMOVE:
      // The tray icon's callbacks arrive as mouse moves, with the mouse message in lParam.
      run([this, lparam] { form_->Form_MouseMove(static_cast<std::uintptr_t>(lparam)); });
      return 0;

    case kDateCheckMessage:
      check_date_after_focus_left();
      return 0;

    case WM_CLOSE:
      closing_ = true;
      return DefWindowProcW(hwnd_, message, wparam, lparam);

    case WM_DESTROY:
      // Nothing is written: every edit has already rewritten the records file.
      closing_ = true;
      run([this] { form_->Form_Terminate(); });
      PostQuitMessage(0);
      return 0;

    default:
      if (message != 0 && message == taskbar_created_) {
        run([this] { form_->Form_TaskbarCreated(); });
        return 0;
      }
      return DefWindowProcW(hwnd_, message, wparam, lparam);
  }
}

// The date is checked when the focus went from the Date Joined box to another control of
// this window: not when the user switched to another program, nor when the window was
// hidden or is closing.
void MainWindow::check_date_after_focus_left() {
  if (closing_ || hwnd_ == nullptr || !IsWindowVisible(hwnd_) || IsIconic(hwnd_)) return;
  const HWND focus = GetFocus();
  // Back in the Date Joined box already (the window was hidden or left and has come back
  // before this ran): the focus has not moved on.
  if (focus == nullptr || !IsChild(hwnd_, focus) || GetDlgCtrlID(focus) == ids::Text7) return;
  run([this] { form_->Text7_LostFocus(); });
}

void MainWindow::on_command(int id, int code) {
  switch (id) {
    case ids::Combo1:
      switch (code) {
        case CBN_EDITCHANGE:
          // Text the program writes is not typing: Form1 looks it up itself.
          if (!writes_.active()) run([this] { form_->Combo1_Change(); });
          break;
        case CBN_SETFOCUS:
          run([this] { form_->Combo1_GotFocus(); });
          break;
        case CBN_DROPDOWN:
          combo1_->list_needed();
          break;
        case CBN_SELCHANGE:
          if (!writes_.active()) PostMessageW(hwnd_, kListChoiceMessage, 0, 0);
          break;
        default:
          break;
      }
      break;

    case ids::Text7:
      if (code == EN_KILLFOCUS && !closing_) PostMessageW(hwnd_, kDateCheckMessage, 0, 0);
      break;

    case ids::Command1:
    case ids::Command2:
    case ids::Command3:
    case ids::Command4: {
      if (code != BN_CLICKED) break;
      // A disabled button is never pressed, whatever sent the click.
      if (!buttons_[id - ids::Command1]->enabled()) break;
      if (id == ids::Command1) run([this] { form_->Command1_Click(); });
      if (id == ids::Command2) run([this] { form_->Command2_Click(); });
      if (id == ids::Command3) run([this] { form_->Command3_Click(); });
      if (id == ids::Command4) run([this] { form_->Command4_Click(); });
      break;
    }

    default:
      break;
  }
}

void MainWindow::restore_focus() {
  HWND target = saved_focus_;
  if (target == nullptr || !IsWindow(target) || !IsChild(hwnd_, target) ||
      !IsWindowEnabled(target)) {
    target = combo1_ ? combo1_->hwnd() : nullptr;
  }
  if (target != nullptr) SetFocus(target);
}

void MainWindow::on_dpi_changed(UINT dpi, const RECT& suggested) {
  if (dpi == 0 || dpi == dpi_) return;
  dpi_ = dpi;
  create_fonts();
  lay_out();
  const SIZE size = outer_size();
  SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, size.cx, size.cy,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace perlwick::win32
