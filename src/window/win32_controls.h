#pragma once

// The window's controls over real Win32 windows: edit boxes, the name box (a drop-down
// combo box) and push buttons. Text the program puts into a control is never reported back
// as typing: while a control is being written, the window ignores the change notifications
// it may cause.

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "window/controls.h"

namespace perlwick::win32 {

// Counts the program's own writes into the controls. While one is under way, a change
// notification comes from the program, not from the user.
class ProgramWrites {
 public:
  bool active() const { return depth_ > 0; }

  class Scope {
   public:
    explicit Scope(ProgramWrites& writes) : writes_(writes) { ++writes_.depth_; }
    ~Scope() { --writes_.depth_; }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    ProgramWrites& writes_;
  };

 private:
  int depth_ = 0;
};

// The whole text of a window (an edit box, or a combo box's edit field).
std::wstring window_text(HWND hwnd);

class EditBox final : public TextControl {
 public:
  EditBox(HWND hwnd, ProgramWrites& writes) : hwnd_(hwnd), writes_(writes) {}

  std::wstring text() const override { return window_text(hwnd_); }
  void set_text(std::wstring_view text) override;
  void set_focus() override;

  HWND hwnd() const { return hwnd_; }

 private:
  HWND hwnd_;
  ProgramWrites& writes_;
};

// The name box: a drop-down combo box. Its list is filled only when it is needed
// (on_list_needed): when it drops down, and before the keys and the mouse wheel that walk
// it while it is closed. While it is closed, the combo box's own search of its list for
// the typed text, which it makes on every change and which takes long in a long list, is
// put off until the list is walked.
class NameBox final : public ComboControl {
 public:
  NameBox(HWND combo, ProgramWrites& writes);
  ~NameBox() override;
  NameBox(const NameBox&) = delete;
  NameBox& operator=(const NameBox&) = delete;

  std::wstring text() const override { return window_text(combo_); }
  void set_text(std::wstring_view text) override;
  void set_focus() override;
  void replace_list(std::size_t count,
                    const std::function<void(std::size_t, std::wstring&)>& item) override;

  HWND hwnd() const { return combo_; }
  // The text of the list item that is chosen, if one is.
  std::optional<std::wstring> chosen_item() const;

  // Runs before the list is seen or walked; it may fill the list.
  std::function<void()> on_list_needed;
  // The list is about to be seen or walked: fills it if need be, and makes the search
  // that was put off.
  void list_needed();

 private:
  // Writes text into the edit field without it counting as typing.
  void write_text(const std::wstring& text);
  bool dropped() const;
  // The combo box's three windows, each watched through a window procedure of its own
  // put before the control's. (Not SetWindowSubclass, which under Wine costs so much a
  // message that filling a long list takes minutes.)
  static LRESULT CALLBACK combo_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK edit_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK list_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void watch(HWND hwnd, WNDPROC proc, WNDPROC& control_proc);
  void unwatch(HWND hwnd, WNDPROC control_proc);

  HWND combo_;
  HWND edit_ = nullptr;
  HWND list_ = nullptr;
  WNDPROC combo_control_proc_ = nullptr;
  WNDPROC edit_control_proc_ = nullptr;
  WNDPROC list_control_proc_ = nullptr;
  ProgramWrites& writes_;
  // While the combo box handles a change of its text with its list closed: its search
  // of the list is put off.
  bool putting_off_search_ = false;
  bool search_put_off_ = false;
};

class PushButton final : public ButtonControl {
 public:
  explicit PushButton(HWND hwnd) : hwnd_(hwnd) {}

  void set_enabled(bool enabled) override { EnableWindow(hwnd_, enabled ? TRUE : FALSE); }
  bool enabled() const override { return IsWindowEnabled(hwnd_) != FALSE; }

  HWND hwnd() const { return hwnd_; }

 private:
  HWND hwnd_;
};

}  // namespace perlwick::win32
