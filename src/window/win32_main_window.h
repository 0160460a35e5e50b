#pragma once

// The program's one window, Form1, over Win32: it creates the window and its controls
// (laid out by win32_layout.h), wraps each control as its row of the window's table says
// with the handlers of Form1 it calls, and handles the window's own messages. A failure
// inside a handler is shown in a message box and the program goes on.

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "common/status.h"
#include "tray/module1.h"
#include "tray/shell_tray_win32.h"
#include "win32/owned.h"
#include "window/form1.h"
#include "window/win32_controls.h"
#include "window/win32_layout.h"

namespace perlwick::win32 {

class MainWindow final : public FormServices, public Form1Controls {
 public:
  // icon_id names the program's icon among the executable's resources.
  MainWindow(HINSTANCE instance, WORD icon_id);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates the window, hidden, with its controls in their start-up state, and runs the
  // load step. Fails when Windows could not create the window.
  Status create();
  // Puts the program's icon in the notification area.
  void add_tray_icon();
  // Shows the window and gives the name box the focus.
  void show();
  // Runs until the window is closed; returns the program's exit code.
  int run_message_loop();

  // FormServices
  int screen_height_twips() const override;
  void move_to(int left_twips, int top_twips) override;
  void show_error(std::wstring_view message) override;
  void show_message(std::wstring_view message) override;
  void show_wait_cursor() override;
  bool is_date(std::wstring_view text) override;
  void hide() override;
  void show_normal() override;

  // Form1Controls
  ComboControl& name_box(int id) override { return control<NameBox>(id); }
  TextControl& text_box(int id) override { return control<EditBox>(id); }
  ButtonControl& button(int id) override { return control<PushButton>(id); }

 private:
  static LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
  // Wraps each control the table lists, with the handlers of Form1 its events run.
  void make_controls();
  std::unique_ptr<Win32Control> make_name_box(HWND hwnd, const ControlRow& row);
  std::unique_ptr<Win32Control> make_box(HWND hwnd, const ControlRow& row);
  std::unique_ptr<Win32Control> make_button(HWND hwnd, const ControlRow& row);
  // What a control's event calls to run the handler (nothing for none).
  std::function<void()> runs(Handler handler);
  // The wrapper of the control of that id.
  template <typename Control>
  Control& control(int id);
  void after_focus_left(int id);
  void on_dpi_changed(UINT dpi, const RECT& suggested);
  void restore_focus();

  // Runs a handler; a failure inside it is shown in a message box and the program goes on.
  template <typename Work>
  void run(Work&& work) noexcept;

  HINSTANCE instance_;
  WORD icon_id_;
  HWND hwnd_ = nullptr;
  std::optional<WindowLayout> layout_;
  Icon big_icon_;
  Icon small_icon_;
  HWND saved_focus_ = nullptr;
  // Set once the window is closing: no date check pops up then.
  bool closing_ = false;
  // The shell's message that it has restarted and lost every tray icon.
  UINT taskbar_created_ = 0;

  Win32ShellTray shell_;
  Module1 module1_{shell_};

  ProgramWrites writes_;
  // Every control that tells its window of what happens to it, in the table's order.
  std::vector<std::unique_ptr<Win32Control>> controls_;
  std::unique_ptr<Form1> form_;
};

}  // namespace perlwick::win32
