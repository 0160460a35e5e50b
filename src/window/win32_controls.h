#pragma once

// The window's controls over real Win32 windows: edit boxes, the name box (a drop-down
// combo box) and push buttons. Each carries the handlers of its own notifications
// (on_click, on_change, ...), which the window sets and the control calls. Text the
// program puts into a control is never reported back as typing: while a control is being
// written, its change notifications are not passed on.

#include <windows.h>

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/scope_exit.h"
#include "window/controls.h"

namespace perlwick::win32 {

// Counts the program's own writes into the controls. While one is under way, a change
// notification comes from the program, not from the user.
class ProgramWrites {
 public:
  bool active() const { return depth_ > 0; }

  // A write begins; it ends when the returned guard goes.
  auto begin() {
    ++depth_;
    return ScopeExit([this] { --depth_; });
  }

 private:
  int depth_ = 0;
};

// The whole text of a window (an edit box, or a combo box's edit field). Throws
// BoxUnreadable where Windows could not read it: an edit must not go on with an empty text
// in its stead.
std::wstring window_text(HWND hwnd);

// What window_text throws; the handler that read the box stops, and the window says so.
class BoxUnreadable final : public std::exception {
 public:
  const char* what() const noexcept override { return "BoxUnreadable"; }
};

// A window procedure put in front of a control's own, which it passes messages on to. The
// window's user data, the program's own, leads back to the control's wrapper.
class Watch {
 public:
  Watch() = default;
  ~Watch() { stop(); }
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  void start(HWND hwnd, WNDPROC proc, void* owner);
  void stop();
  LRESULT pass_on(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) const {
    return CallWindowProcW(control_proc_, hwnd, message, wparam, lparam);
  }
  template <typename Owner>
  static Owner& owner(HWND hwnd) {
    return *reinterpret_cast<Owner*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }

 private:
  HWND hwnd_ = nullptr;
  WNDPROC control_proc_ = nullptr;
};

// A control of the window, told of the notifications it sends its window.
class Win32Control {
 public:
  explicit Win32Control(HWND hwnd) : hwnd_(hwnd) {}
  virtual ~Win32Control() = default;
  Win32Control(const Win32Control&) = delete;
  Win32Control& operator=(const Win32Control&) = delete;

  HWND hwnd() const { return hwnd_; }
  // A notification code from WM_COMMAND.
  virtual void notified(WORD code) = 0;

 protected:
  HWND hwnd_;
};

class EditBox final : public TextControl, public Win32Control {
 public:
  EditBox(HWND hwnd, ProgramWrites& writes) : Win32Control(hwnd), writes_(writes) {}

  std::wstring text() const override { return window_text(hwnd_); }
  void set_text(std::wstring_view text) override;
  void set_focus() override;

  // Tab moves on to the next control instead of going into the text: for the notes box,
  // which takes Enter as a new line.
  void let_tab_move_on();

  // The box has lost the keyboard focus.
  std::function<void()> on_lost_focus;
  void notified(WORD code) override;

 private:
  static LRESULT CALLBACK tab_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  ProgramWrites& writes_;
  Watch watch_;
};

// The name box: a drop-down combo box. Its list is filled only when it is needed
// (on_list_needed): when it drops down, and before the keys and the mouse wheel that walk
// it while it is closed. While it is closed, the combo box's own search of its list for
// the typed text, which it makes on every change and which takes long in a long list, is
// put off until the list is walked.
class NameBox final : public ComboControl, public Win32Control {
 public:
  NameBox(HWND combo, ProgramWrites& writes);

  std::wstring text() const override { return window_text(hwnd_); }
  void set_text(std::wstring_view text) override;
  void set_focus() override;
  Status replace_list(std::size_t count,
                      const std::function<void(std::size_t, std::wstring&)>& item) override;
  Status insert_item(std::size_t index, std::wstring_view text) override;
  Status replace_item(std::size_t index, std::wstring_view text) override;
  Status remove_item(std::size_t index) override;

  // The user has changed the text.
  std::function<void()> on_change;
  // The name box has taken the keyboard focus.
  std::function<void()> on_got_focus;
  // The user has chosen an item of the list, which the edit field now shows.
  std::function<void(std::wstring_view item)> on_choice;
  // The list is about to be seen or walked; it may be filled now.
  std::function<void()> on_list_needed;
  void notified(WORD code) override;

 private:
  // Writes text into the edit field without it counting as typing.
  void write_text(const std::wstring& text);
  bool dropped() const;
  // The list is about to be seen or walked: fills it if need be, and makes the search
  // that was put off.
  void list_needed();
  // The text of the list item that is chosen, if one is.
  std::optional<std::wstring> chosen_item() const;
  // The text of the index-th item of the list.
  std::optional<std::wstring> item_text(WPARAM index) const;
  // Changes the list by one item with message (CB_INSERTSTRING or CB_DELETESTRING), keeping
  // the edit field as it is.
  Status change_item(UINT message, std::size_t index, const wchar_t* text);
  void watch_all();

  static LRESULT CALLBACK combo_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK edit_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK list_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  HWND edit_ = nullptr;
  HWND list_ = nullptr;
  ProgramWrites& writes_;
  // The combo box's three windows, each watched through a window procedure of its own.
  // (Not SetWindowSubclass, which under Wine costs so much a message that filling a long
  // list takes minutes.)
  Watch combo_watch_;
  Watch edit_watch_;
  Watch list_watch_;
  // While the combo box handles a change of its text with its list closed: its search
  // of the list is put off.
  bool putting_off_search_ = false;
  bool search_put_off_ = false;
};

class PushButton final : public ButtonControl, public Win32Control {
 public:
  explicit PushButton(HWND hwnd) : Win32Control(hwnd) {}

  void set_enabled(bool enabled) override { EnableWindow(hwnd_, enabled ? TRUE : FALSE); }
  bool enabled() const override { return IsWindowEnabled(hwnd_) != FALSE; }

  // The button has been pressed (never while it is disabled, whatever sent the click).
  std::function<void()> on_click;
  void notified(WORD code) override;
};

}  // namespace perlwick::win32
