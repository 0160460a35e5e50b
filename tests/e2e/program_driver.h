#pragma once

// Drives the real perlwick.exe from outside, as a user would: starts it with a prepared
// records file, finds its window and controls, types, clicks, presses keys, and reads back
// what the controls and the records file hold. Every wait is bounded: a wait that runs
// out throws, which fails the test instead of hanging it.

#include <windows.h>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace perlwick::e2e {

using namespace std::chrono_literals;

inline constexpr std::chrono::milliseconds kStartTimeout = 30s;
inline constexpr std::chrono::milliseconds kStepTimeout = 5s;

// The Windows path of a file given by its Linux path (through Wine's Z: drive), or by
// its Windows path.
std::wstring windows_path(std::wstring path);
// The program under test, given on the command line.
void set_program_path(std::wstring path);
const std::wstring& program_under_test();

// Polls until done() holds; false when the time runs out first.
bool wait_until(const std::function<bool()>& done,
                std::chrono::milliseconds timeout = kStepTimeout);

// One line of the records file: the fields joined by "~~", then CR LF.
std::string line(std::initializer_list<std::string_view> fields);

// The records file's path, where the program keeps it.
std::wstring records_path();
// The records file, byte for byte.
void write_records(std::string_view bytes);
std::optional<std::string> read_records();  // nothing when there is no file
std::optional<std::string> read_bytes(const std::wstring& path);
void remove_records();

// The names of the files that match a pattern such as L"C:\\perlwickrecords.txt?*".
std::vector<std::wstring> files_matching(std::wstring_view pattern);
// Perlwick's folder in the account's local application data.
std::wstring private_folder();

// Holds the records file open without sharing it, so that nothing else can read, write
// or replace it while this lives.
class RecordsFileLock {
 public:
  RecordsFileLock();
  ~RecordsFileLock();
  RecordsFileLock(const RecordsFileLock&) = delete;
  RecordsFileLock& operator=(const RecordsFileLock&) = delete;

 private:
  HANDLE file_;
};

// The screen's DPI, and pixels for a length in twips at that DPI.
int screen_dpi();
int px(int twips);

struct Rect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};
std::ostream& operator<<(std::ostream& out, const Rect& rect);

struct MessageBoxInfo {
  HWND hwnd = nullptr;
  std::wstring title;
  std::wstring text;
  // The captions of its buttons, in the order the box holds them.
  std::vector<std::wstring> buttons;
  // Whether it shows an icon (a picture control that holds one).
  bool icon = false;
};

// The icons in Wine's notification area: the child windows of its "Wine System Tray"
// window, one for each icon, while any is shown. Wine puts that window on the screen when
// the display has no notification area of its own, as the tests' private display has not.
std::vector<HWND> tray_icons();

// Presses and releases a mouse button with the pointer at a point on the screen.
void mouse_click(POINT at, bool right_button = false);

class Program {
 public:
  // Starts the program (or a copy of it at path) and waits until its window is shown with
  // the focus in the name box and the handlers of that first focus have run.
  explicit Program(const std::wstring& path = program_under_test());
  // Ends the program: closes its window, and terminates it if it does not end in time.
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  HWND window() const { return window_; }
  HANDLE process() const { return process_.hProcess; }
  HWND control(int id) const;
  // The name box's edit field, where the user types.
  HWND name_edit() const;

  std::wstring text(int id) const;
  // Puts text into a control from outside (not typing: no change is reported).
  void set_text(int id, std::wstring_view text) const;
  bool enabled(int id) const;
  LONG_PTR style(int id) const;
  // The items of the name box's list, as the user sees them when it drops down: the list
  // is opened and closed again.
  std::vector<std::wstring> list() const;
  // The caret and selection in the name box's edit field: first and one past the last
  // selected character.
  std::pair<int, int> name_selection() const;
  // Id of the control with the keyboard focus; the name box for its edit field; 0 for
  // none of the window's controls.
  int focus() const;

  // Types text into the name box's edit field, one character message at a time, as the
  // keyboard would deliver it; each character is handled before the next is sent.
  void type(std::wstring_view text) const;
  // The same, into a text box.
  void type(int id, std::wstring_view text) const;
  // Presses a key on the keyboard, with Shift or Alt held down if asked, once the window
  // is in the foreground.
  void press_key(WORD key, bool shift = false, bool alt = false) const;
  // Presses Tab (or Shift+Tab) and returns the id of the control that takes the focus;
  // throws when the focus does not move.
  int press_tab(bool shift = false) const;
  // Moves the keyboard focus to a control without the keyboard or the mouse, as the
  // program's own SetFocus would; the control has it when this returns.
  void set_focus(int id) const;
  // Clicks a control with the mouse, in its middle, once the window is in the foreground.
  void click_with_mouse(int id) const;
  // Chooses an item from the name box's list with the keyboard, as the user does with the
  // arrow keys in the closed drop-down box; returns once the program has handled the choice.
  void choose_from_list(int index) const;
  // Presses a button and waits until the program has handled the press.
  void click(int id) const;
  // Presses a button without waiting: use it when the press may open a modal box.
  void click_later(int id) const;
  // Waits until the window's thread has answered a message sent now: everything sent to
  // it before has been handled. Posted messages may still wait in its queue.
  void settle() const;
  // Waits until the window's thread has handled every message posted to it before now,
  // those it posted itself included.
  void settle_posted() const;
  // Waits until the display has carried out what the program asked of it so far (a window
  // shown or hidden, the keyboard focus given) and the program has handled what the display
  // told it back. Wine hears of a change of the focus from the display only afterwards: a
  // focus change it hears of late, after the program has moved the focus again, takes the
  // activation away from the program.
  void settle_display() const;

  // The message box the program shows, if one is open.
  std::optional<MessageBoxInfo> message_box() const;
  // Waits until the program shows a message box and the display has caught up with it.
  MessageBoxInfo wait_for_message_box() const;
  // Presses the box's OK button and waits until the box is gone and the display has caught
  // up with that.
  void press_ok(const MessageBoxInfo& box) const;

  // The window's outer rectangle on the screen, frame included.
  Rect window_rect() const;
  // The client area's size.
  Rect client_rect() const;
  // A control's rectangle relative to the window's client area.
  Rect control_rect(int id) const;

  bool visible() const;
  bool minimized() const;
  // Posts the tray icon's mouse callback to the window as the shell does: the callback
  // message (WM_MOUSEMOVE) with the icon's id and the mouse message in lParam, once the
  // display has caught up with the program, as it has long before a user's press; waits
  // until the program has handled it and the display has caught up again.
  void post_tray_callback(LPARAM mouse_message) const;

  bool running() const;
  // Asks the window to close, as its close box does; true when the program ended in time.
  bool close(std::chrono::milliseconds timeout = kStepTimeout);

 private:
  DWORD thread_id() const;
  HWND focus_window() const;
  void bring_to_foreground() const;

  PROCESS_INFORMATION process_{};
  HWND window_ = nullptr;
};

// The texts of the field boxes after the name box, from the URL down to the notes.
using Fields = std::vector<std::wstring>;
Fields fields(const Program& program);
// Puts texts into the field boxes from outside, from the URL down.
void fill_fields(const Program& program, const Fields& texts);

// Text for messages: narrow form of a wide text.
std::string narrow(std::wstring_view text);

}  // namespace perlwick::e2e
