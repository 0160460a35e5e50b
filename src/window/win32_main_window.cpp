#include "window/win32_main_window.h"

#include <exception>
#include <new>
#include <stdexcept>
#include <string>

#include "store/record_store.h"
#include "window/control_ids.h"
#include "window/form1_table.h"
#include "window/messages.h"
#include "window/win32_date_check.h"
#include "window/win32_message_box.h"
#include "window/win32_messages.h"

namespace perlwick::win32 {

namespace {

constexpr UINT kDpiChangedMessage = 0x02E0;  // WM_DPICHANGED, Windows 8.1 and later

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, WORD icon_id) : instance_(instance), icon_id_(icon_id) {}

MainWindow::~MainWindow() {
  form_.reset();
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

// ---- Start-up -----------------------------------------------------------------------------

Status MainWindow::create() {
  const Status no_window = Status::failure(Message{Says::window_not_created});
  const auto load_icon = [this](int size_x, int size_y) {
    return Icon(static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(icon_id_), IMAGE_ICON,
                                              GetSystemMetrics(size_x), GetSystemMetrics(size_y),
                                              LR_DEFAULTCOLOR)));
  };
  big_icon_ = load_icon(SM_CXICON, SM_CYICON);
  small_icon_ = load_icon(SM_CXSMICON, SM_CYSMICON);

  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = &MainWindow::window_proc;
  window_class.hInstance = instance_;
  window_class.hIcon = big_icon_.get();
  window_class.hIconSm = small_icon_.get();
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  window_class.lpszClassName = ids::kWindowClass;
  if (RegisterClassExW(&window_class) == 0) return no_window;

  // Created at the screen's origin, on the main screen, whose height places it; the load
  // step moves it before it is shown.
  if (CreateWindowExW(kWindowExStyle, ids::kWindowClass, ids::kWindowTitle, kWindowStyle, 0, 0, 0,
                      0, nullptr, nullptr, instance_, this) == nullptr) {
    return no_window;
  }
  layout_.emplace(dpi_of(hwnd_));
  const SIZE size = layout_->outer_size();
  SetWindowPos(hwnd_, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon_.get()));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_.get()));

  // Said as any other failure to start is.
  if (!create_controls(hwnd_, instance_).ok()) return Status::failure(Message{Says::not_started});
  make_controls();
  layout_->apply(hwnd_);

  taskbar_created_ = RegisterWindowMessageW(L"TaskbarCreated");
  form_ = std::make_unique<Form1>(*this, *this, module1_, std::filesystem::path(kRecordsPath));
  run([this] { form_->Form_Load(); });
  return {};
}

void MainWindow::make_controls() {
  for (const ControlRow& row : kForm1Controls) {
    const HWND hwnd = GetDlgItem(hwnd_, row.id);
    switch (row.kind) {
      case ControlKind::name_box:
        controls_.push_back(make_name_box(hwnd, row));
        break;
      case ControlKind::text_box:
      case ControlKind::notes_box:
        controls_.push_back(make_box(hwnd, row));
        break;
      case ControlKind::button:
        controls_.push_back(make_button(hwnd, row));
        break;
      case ControlKind::label:
      case ControlKind::hidden_label:
        break;  // labels tell of nothing
    }
  }
}

std::function<void()> MainWindow::runs(Handler handler) {
  if (handler == Handler::none) return {};
  return [this, handler] { run([this, handler] { form_->handle(handler); }); };
}

std::unique_ptr<Win32Control> MainWindow::make_name_box(HWND hwnd, const ControlRow& row) {
  auto box = std::make_unique<NameBox>(hwnd, writes_);
  box->on_change = runs(row.on.change);
  box->on_got_focus = runs(row.on.got_focus);
  box->on_list_needed = runs(row.on.drop_down);
  if (row.on.click != Handler::none) {
    box->on_choice = [this, handler = row.on.click](std::wstring_view item) {
      run([this, handler, item] { form_->handle(handler, item); });
    };
  }
  return box;
}

std::unique_ptr<Win32Control> MainWindow::make_box(HWND hwnd, const ControlRow& row) {
  auto box = std::make_unique<EditBox>(hwnd, writes_);
  // A box's handler runs when it has lost the focus, once the focus has settled.
  if (row.on.lost_focus != Handler::none) {
    box->on_lost_focus = [this, id = row.id] {
      if (!closing_) PostMessageW(hwnd_, kLostFocusMessage, static_cast<WPARAM>(id), 0);
    };
  }
  if (row.kind == ControlKind::notes_box) box->let_tab_move_on();
  return box;
}

std::unique_ptr<Win32Control> MainWindow::make_button(HWND hwnd, const ControlRow& row) {
  auto button = std::make_unique<PushButton>(hwnd);
  button->on_click = runs(row.on.click);
  return button;
}

template <typename Control>
Control& MainWindow::control(int id) {
  const HWND hwnd = GetDlgItem(hwnd_, id);
  for (const std::unique_ptr<Win32Control>& made : controls_) {
    if (made->hwnd() != hwnd) continue;
    if (auto* typed = dynamic_cast<Control*>(made.get())) return *typed;
  }
  throw std::logic_error("Form1 has no control of that id and kind");
}

void MainWindow::add_tray_icon() {
  run([this] {
    form_->Form_Initialize(reinterpret_cast<std::uintptr_t>(hwnd_),
                           reinterpret_cast<std::uintptr_t>(big_icon_.get()));
  });
}

void MainWindow::show() {
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  UpdateWindow(hwnd_);
  // The name box is first in the tab order; taking the focus catches up with the file.
  SetFocus(GetDlgItem(hwnd_, ids::Combo1));
  run([this] { form_->Form_Shown(); });
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

int MainWindow::screen_height_twips() const {
  return MulDiv(GetSystemMetrics(SM_CYSCREEN), 1440, static_cast<int>(layout_->dpi()));
}

void MainWindow::move_to(int left_twips, int top_twips) {
  SetWindowPos(hwnd_, nullptr, layout_->px(left_twips), layout_->px(top_twips), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::show_error(std::wstring_view message) {
  message_box(hwnd_, std::wstring(message).c_str());
}

void MainWindow::show_message(std::wstring_view message) {
  message_box(hwnd_, std::wstring(message).c_str(), BoxIcon::none);
}

void MainWindow::show_wait_cursor() {
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
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

template <typename Work>
void MainWindow::run(Work&& work) noexcept {
  if (!form_) return;
  try {
    work();
  } catch (const BoxUnreadable&) {
    message_box(hwnd_, fixed_text_of(Says::box_not_read));
  } catch (const std::bad_alloc&) {
    message_box(hwnd_, fixed_text_of(Says::out_of_memory));
  } catch (const std::exception& failure) {
    try {
      const Status why = Status::failure(SystemReason::of(failure));
      message_box(hwnd_, text_of(Message{Says::not_finished_because, {}, {why.message()}}).c_str());
    } catch (...) {
      message_box(hwnd_, fixed_text_of(Says::not_finished));
    }
  } catch (...) {
    message_box(hwnd_, fixed_text_of(Says::not_finished));
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
      // A control tells of what happened to it; its own handlers take it from there.
      for (const std::unique_ptr<Win32Control>& control : controls_) {
        if (control->hwnd() == reinterpret_cast<HWND>(lparam)) {
          control->notified(HIWORD(wparam));
          break;
        }
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
        run([this] { form_->Form_Activate(); });
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

    case kLostFocusMessage:
      after_focus_left(static_cast<int>(wparam));
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

// A box's handler (the Date Joined box's date check) runs when the focus went from the box
// to another control of this window: not when the user switched to another program, nor
// when the window was hidden or is closing.
void MainWindow::after_focus_left(int id) {
  if (closing_ || hwnd_ == nullptr || !IsWindowVisible(hwnd_) || IsIconic(hwnd_)) return;
  const HWND focus = GetFocus();
  // Back in the box already (the window was hidden or left and has come back before this
  // ran): the focus has not moved on.
  if (focus == nullptr || !IsChild(hwnd_, focus) || focus == GetDlgItem(hwnd_, id)) return;
  run([this, id] { form_->handle(row_of(id).on.lost_focus); });
}

void MainWindow::restore_focus() {
  HWND target = saved_focus_;
  if (target == nullptr || !IsWindow(target) || !IsChild(hwnd_, target) ||
      !IsWindowEnabled(target)) {
    target = GetDlgItem(hwnd_, ids::Combo1);
  }
  if (target != nullptr) SetFocus(target);
}

void MainWindow::on_dpi_changed(UINT dpi, const RECT& suggested) {
  if (dpi == 0 || dpi == layout_->dpi()) return;
  // The controls take the new fonts before the old ones go.
  WindowLayout next(dpi);
  next.apply(hwnd_);
  layout_.emplace(std::move(next));
  const SIZE size = layout_->outer_size();
  SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, size.cx, size.cy,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace perlwick::win32
