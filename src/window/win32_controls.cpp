#include "window/win32_controls.h"

#include <new>
#include <stdexcept>

namespace perlwick::win32 {

namespace {

// Puts the caret after the last character of an edit field.
void caret_to_end(HWND edit) {
  const LRESULT length = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
  SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(length), length);
  SendMessageW(edit, EM_SCROLLCARET, 0, 0);
}

// Turns a window's drawing off for as long as it lives.
class RedrawOff {
 public:
  explicit RedrawOff(HWND hwnd) : hwnd_(hwnd) { SendMessageW(hwnd_, WM_SETREDRAW, FALSE, 0); }
  ~RedrawOff() {
    SendMessageW(hwnd_, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
  }
  RedrawOff(const RedrawOff&) = delete;
  RedrawOff& operator=(const RedrawOff&) = delete;

 private:
  HWND hwnd_;
};

}  // namespace

std::wstring window_text(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SetLastError(ERROR_SUCCESS);
  const int copied = GetWindowTextW(hwnd, text.data(), length + 1);
  // Reading a box must never quietly give an empty text: an edit would store it.
  if (copied <= 0 && GetLastError() != ERROR_SUCCESS) {
    throw std::runtime_error("Windows could not read the text of a box.");
  }
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return text;
}

// ---- EditBox ------------------------------------------------------------------------------

void EditBox::set_text(std::wstring_view text) {
  const std::wstring copy(text);
  ProgramWrites::Scope program_write(writes_);
  SetWindowTextW(hwnd_, copy.c_str());
  caret_to_end(hwnd_);
}

void EditBox::set_focus() {
  SetFocus(hwnd_);
}

// ---- NameBox ------------------------------------------------------------------------------

NameBox::NameBox(HWND combo, ProgramWrites& writes) : combo_(combo), writes_(writes) {
  COMBOBOXINFO info{};
  info.cbSize = sizeof(info);
  if (GetComboBoxInfo(combo_, &info)) {
    edit_ = info.hwndItem;
    list_ = info.hwndList;
  }
  if (edit_ == nullptr) edit_ = FindWindowExW(combo_, nullptr, L"Edit", nullptr);
  watch(combo_, combo_proc, combo_control_proc_);
  watch(edit_, edit_proc, edit_control_proc_);
  watch(list_, list_proc, list_control_proc_);
}

NameBox::~NameBox() {
  unwatch(combo_, combo_control_proc_);
  unwatch(edit_, edit_control_proc_);
  unwatch(list_, list_control_proc_);
}

void NameBox::watch(HWND hwnd, WNDPROC proc, WNDPROC& control_proc) {
  if (hwnd == nullptr) return;
  // The user data of a window is the program's own: it leads back to this name box.
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  control_proc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc)));
}

void NameBox::unwatch(HWND hwnd, WNDPROC control_proc) {
  if (hwnd == nullptr || control_proc == nullptr || !IsWindow(hwnd)) return;
  SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(control_proc));
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
}

bool NameBox::dropped() const {
  return SendMessageW(combo_, CB_GETDROPPEDSTATE, 0, 0) != FALSE;
}

void NameBox::list_needed() {
  if (on_list_needed) on_list_needed();
  if (!search_put_off_ || list_ == nullptr) return;
  search_put_off_ = false;
  // What the combo box does after a change of its text while its list is closed: no item
  // is chosen, and the list is scrolled to the first item that starts with the text.
  const std::wstring text = window_text(combo_);
  const LRESULT found = text.empty() ? LB_ERR
                                     : SendMessageW(list_, LB_FINDSTRING, static_cast<WPARAM>(-1),
                                                    reinterpret_cast<LPARAM>(text.c_str()));
  const WPARAM item = found < 0 ? 0 : static_cast<WPARAM>(found);
  SendMessageW(list_, LB_SETCARETINDEX, item, 0);
  SendMessageW(list_, LB_SETTOPINDEX, item, 0);
}

LRESULT CALLBACK NameBox::combo_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto& box = *reinterpret_cast<NameBox*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_COMMAND && HIWORD(wparam) == EN_CHANGE &&
      reinterpret_cast<HWND>(lparam) == box.edit_ && !box.dropped()) {
    box.putting_off_search_ = true;
    const LRESULT result = CallWindowProcW(box.combo_control_proc_, hwnd, message, wparam, lparam);
    box.putting_off_search_ = false;
    return result;
  }
  if (message == WM_MOUSEWHEEL && !box.dropped()) box.list_needed();
  return CallWindowProcW(box.combo_control_proc_, hwnd, message, wparam, lparam);
}

LRESULT CALLBACK NameBox::edit_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto& box = *reinterpret_cast<NameBox*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  // The keys and the wheel that walk the closed list.
  const bool walks = (message == WM_KEYDOWN && (wparam == VK_UP || wparam == VK_DOWN ||
                                                wparam == VK_PRIOR || wparam == VK_NEXT)) ||
                     message == WM_MOUSEWHEEL;
  if (walks && !box.dropped()) box.list_needed();
  return CallWindowProcW(box.edit_control_proc_, hwnd, message, wparam, lparam);
}

LRESULT CALLBACK NameBox::list_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto& box = *reinterpret_cast<NameBox*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == LB_FINDSTRING && box.putting_off_search_) {
    box.search_put_off_ = true;
    return LB_ERR;
  }
  return CallWindowProcW(box.list_control_proc_, hwnd, message, wparam, lparam);
}

void NameBox::write_text(const std::wstring& text) {
  ProgramWrites::Scope program_write(writes_);
  SetWindowTextW(combo_, text.c_str());
}

void NameBox::set_text(std::wstring_view text) {
  write_text(std::wstring(text));
  if (edit_ != nullptr) caret_to_end(edit_);
}

void NameBox::set_focus() {
  SetFocus(combo_);
}

void NameBox::replace_list(std::size_t count,
                           const std::function<void(std::size_t, std::wstring&)>& item) {
  // Emptying a drop-down combo box's list also empties its edit field: keep what the user
  // has typed there, with its caret and selection.
  const std::wstring text = window_text(combo_);
  DWORD selection_start = 0;
  DWORD selection_end = 0;
  if (edit_ != nullptr) {
    SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&selection_start),
                 reinterpret_cast<LPARAM>(&selection_end));
  }
  // Room for names of a usual length; the list grows past it if need be.
  constexpr std::size_t kUsualNameBytes = 32 * sizeof(wchar_t);

  bool filled = true;
  ProgramWrites::Scope program_write(writes_);
  RedrawOff redraw_off(combo_);
  {
    SendMessageW(combo_, CB_RESETCONTENT, 0, 0);
    SendMessageW(combo_, CB_INITSTORAGE, count, static_cast<LPARAM>(count * kUsualNameBytes));
    // The names go in as fast as into a bare combo box: nothing of the name box's own
    // watches the messages meanwhile.
    struct Unwatched {
      NameBox& box;
      explicit Unwatched(NameBox& b) : box(b) {
        box.unwatch(box.combo_, box.combo_control_proc_);
        box.unwatch(box.list_, box.list_control_proc_);
      }
      ~Unwatched() {
        box.watch(box.combo_, combo_proc, box.combo_control_proc_);
        box.watch(box.list_, list_proc, box.list_control_proc_);
      }
    } unwatched(*this);
    try {
      std::wstring entry;
      for (std::size_t i = 0; i < count; ++i) {
        item(i, entry);
        const LRESULT added =
            SendMessageW(combo_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
        if (added == CB_ERR || added == CB_ERRSPACE) {
          filled = false;
          break;
        }
      }
    } catch (const std::bad_alloc&) {
      filled = false;
    }
  }
  if (window_text(combo_) != text) SetWindowTextW(combo_, text.c_str());
  if (edit_ != nullptr) {
    SendMessageW(edit_, EM_SETSEL, selection_start, static_cast<LPARAM>(selection_end));
  }
  // The list now follows the text as the combo box's own search would have set it.
  search_put_off_ = true;
  if (!filled) throw std::runtime_error("Windows could not fill the product name list.");
}

std::optional<std::wstring> NameBox::chosen_item() const {
  const LRESULT index = SendMessageW(combo_, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return std::nullopt;
  const LRESULT length = SendMessageW(combo_, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) return std::nullopt;
  std::wstring item(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT copied = SendMessageW(combo_, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                      reinterpret_cast<LPARAM>(item.data()));
  if (copied == CB_ERR) return std::nullopt;
  item.resize(static_cast<std::size_t>(copied));
  return item;
}

}  // namespace perlwick::win32
