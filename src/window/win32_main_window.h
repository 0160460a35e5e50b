#pragma once

// The program's one window, Form1, over Win32: it creates the window and its nineteen
// controls, lays them out from their sizes in twips at the screen's real DPI, and hands
// every notification the program listens to to Form1's handlers.

#include <windows.h>

#include <memory>
#include <string_view>

#include "tray/module1.h"
#include "tray/shell_tray_win32.h"
#include "window/form1.h"
#include "window/win32_controls.h"

namespace perlwick::win32 {

class MainWindow final : public FormServices {
 public:
  // icon_id names the program's icon among the executable's resources.
  MainWindow(HINSTANCE instance, WORD icon_id);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates the window, hidden, with its controls in their start-up state, and runs the
  // load step. False when Windows could not create the window.
  bool create();
  // Puts the program's icon in the notification area.
  void add_tray_icon();
  // Shows the window and gives the name box the focus.
  void show();
  // Runs until the window is closed; returns the program's exit code.
  int run_message_loop();

  HWND hwnd() const { return hwnd_; }
  HICON icon() const { return big_icon_; }

  // FormServices
  int screen_height_twips() const override;
  void move_to(int left_twips, int top_twips) override;
  void show_error(std::wstring_view message) override;
  void show_message(std::wstring_view message) override;
  bool is_date(std::wstring_view text) override;
  void hide() override;
  void show_normal() override;

 private:
  static LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
  void on_command(int id, int code);
  void check_date_after_focus_left();
  void on_dpi_changed(UINT dpi, const RECT& suggested);

  void create_controls();
  void create_fonts();
  void lay_out();
  void fit_name_box_height();
  void restore_focus();
  SIZE outer_size() const;
  int px(int twips) const;

  // Runs a handler; a failure inside it is shown in a message box and the program goes on.
  template <typename Handler>
  void run(Handler&& handler) noexcept;
  void message_box(const wchar_t* text) noexcept;

  HINSTANCE instance_;
  WORD icon_id_;
  HWND hwnd_ = nullptr;
  UINT dpi_ = 96;
  HFONT font_ = nullptr;
  HFONT bold_font_ = nullptr;
  HICON big_icon_ = nullptr;
  HICON small_icon_ = nullptr;
  HWND saved_focus_ = nullptr;
  // Set once the window is closing: no date check pops up then.
  bool closing_ = false;
  // The shell's message that it has restarted and lost every tray icon.
  UINT taskbar_created_ = 0;

  Win32ShellTray shell_;
  Module1 module1_{shell_};

  ProgramWrites writes_;
  std::unique_ptr<NameBox> combo1_;
  std::unique_ptr<EditBox> text_boxes_[7];  // Text2 to Text8
  std::unique_ptr<PushButton> buttons_[4];  // Command1 to Command4
  std::unique_ptr<Form1> form_;
};

}  // namespace perlwick::win32
