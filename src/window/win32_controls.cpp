#include "window/win32_controls.h"

#include <new>

#include "window/win32_messages.h"

namespace perlwick::win32 {

namespace {

// Puts the caret after the last character of an edit field.
void caret_to_end(HWND edit) {
  const LRESULT length = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
  SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(length), length);
  SendMessageW(edit, EM_SCROLLCARET, 0, 0);
}

// Turns a window's drawing off until the returned guard goes.
auto redraw_off(HWND hwnd) {
  SendMessageW(hwnd, WM_SETREDRAW, FALSE, 0);
  return ScopeExit([hwnd] {
    SendMessageW(hwnd, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
  });
}

// Keeps a combo box's edit field, its text, caret and selection, through changes of its
// list until the returned guard goes: emptying a drop-down combo box's list also empties
// its edit field.
auto keep_text(HWND combo, HWND edit) {
  DWORD start = 0;
  DWORD end = 0;
  if (edit != nullptr) {
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  }
  return ScopeExit([combo, edit, start, end, text = window_text(combo)] {
    bool same = false;
    try {
      same = window_text(combo) == text;
    } catch (...) {
      same = false;  // unreadable: written again all the same
    }
    if (!same) SetWindowTextW(combo, text.c_str());
    if (edit != nullptr) SendMessageW(edit, EM_SETSEL, start, static_cast<LPARAM>(end));
  });
}

}  // namespace

std::wstring window_text(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SetLastError(ERROR_SUCCESS);
  const int copied = GetWindowTextW(hwnd, text.data(), length + 1);
  // Reading a box must never quietly give an empty text: an edit would store it.
  if (copied <= 0 && GetLastError() != ERROR_SUCCESS) {
    throw BoxUnreadable();
  }
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return text;
}

// ---- Watch --------------------------------------------------------------------------------

void Watch::start(HWND hwnd, WNDPROC proc, void* owner) {
  if (hwnd == nullptr || hwnd_ != nullptr) return;
  hwnd_ = hwnd;
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
  control_proc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc)));
}

void Watch::stop() {
  if (hwnd_ != nullptr && IsWindow(hwnd_)) {
    SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(control_proc_));
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  }
  hwnd_ = nullptr;
}

// ---- EditBox ------------------------------------------------------------------------------

void EditBox::set_text(std::wstring_view text) {
  const std::wstring copy(text);
  const auto program_write = writes_.begin();
  SetWindowTextW(hwnd_, copy.c_str());
  caret_to_end(hwnd_);
}

void EditBox::set_focus() {
  SetFocus(hwnd_);
}

void EditBox::let_tab_move_on() {
  watch_.start(hwnd_, tab_proc, this);
}

LRESULT CALLBACK EditBox::tab_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  const EditBox& box = Watch::owner<EditBox>(hwnd);
  LRESULT result = box.watch_.pass_on(hwnd, message, wparam, lparam);
  if (message == WM_GETDLGCODE) {
    const MSG* key = reinterpret_cast<const MSG*>(lparam);
    if (key != nullptr && key->message == WM_KEYDOWN && key->wParam == VK_TAB) {
      result &= ~static_cast<LRESULT>(DLGC_WANTALLKEYS | DLGC_WANTMESSAGE);
    }
    result &= ~static_cast<LRESULT>(DLGC_WANTTAB);
  }
  return result;
}

void EditBox::notified(WORD code) {
  if (code == EN_KILLFOCUS && on_lost_focus) on_lost_focus();
}

// ---- NameBox ------------------------------------------------------------------------------

NameBox::NameBox(HWND combo, ProgramWrites& writes) : Win32Control(combo), writes_(writes) {
  COMBOBOXINFO info{};
  info.cbSize = sizeof(info);
  if (GetComboBoxInfo(hwnd_, &info)) {
    edit_ = info.hwndItem;
    list_ = info.hwndList;
  }
  if (edit_ == nullptr) edit_ = FindWindowExW(hwnd_, nullptr, L"Edit", nullptr);
  watch_all();
}

void NameBox::watch_all() {
  combo_watch_.start(hwnd_, combo_proc, this);
  edit_watch_.start(edit_, edit_proc, this);
  list_watch_.start(list_, list_proc, this);
}

void NameBox::write_text(const std::wstring& text) {
  const auto program_write = writes_.begin();
  SetWindowTextW(hwnd_, text.c_str());
}

void NameBox::set_text(std::wstring_view text) {
  write_text(std::wstring(text));
  if (edit_ != nullptr) caret_to_end(edit_);
}

void NameBox::set_focus() {
  SetFocus(hwnd_);
}

bool NameBox::dropped() const {
  return SendMessageW(hwnd_, CB_GETDROPPEDSTATE, 0, 0) != FALSE;
}

void NameBox::notified(WORD code) {
  switch (code) {
    case CBN_EDITCHANGE:
      // Text the program writes is not typing: Form1 looks it up itself.
      if (!writes_.active() && on_change) on_change();
      break;
    case CBN_SETFOCUS:
      if (on_got_focus) on_got_focus();
      break;
    case CBN_SELCHANGE:
      if (!writes_.active()) PostMessageW(hwnd_, kChoiceMessage, 0, 0);
      break;
    case CBN_DROPDOWN:
      list_needed();
      break;
    default:
      break;
  }
}

void NameBox::list_needed() {
  if (on_list_needed) on_list_needed();
  if (!search_put_off_ || list_ == nullptr) return;
  search_put_off_ = false;
  // What the combo box does after a change of its text while its list is closed: no item
  // is chosen, and the list is scrolled to the first item that starts with the text.
  const std::wstring text = window_text(hwnd_);
  const LRESULT found = text.empty() ? LB_ERR
                                     : SendMessageW(list_, LB_FINDSTRING, static_cast<WPARAM>(-1),
                                                    reinterpret_cast<LPARAM>(text.c_str()));
  const WPARAM item = found < 0 ? 0 : static_cast<WPARAM>(found);
  SendMessageW(list_, LB_SETCARETINDEX, item, 0);
  SendMessageW(list_, LB_SETTOPINDEX, item, 0);
}

LRESULT CALLBACK NameBox::combo_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  NameBox& box = Watch::owner<NameBox>(hwnd);
  if (message == kChoiceMessage) {
    if (const std::optional<std::wstring> item = box.chosen_item(); item && box.on_choice) {
      box.on_choice(*item);
    }
    return 0;
  }
  if (message == WM_COMMAND && HIWORD(wparam) == EN_CHANGE &&
      reinterpret_cast<HWND>(lparam) == box.edit_ && !box.dropped()) {
    box.putting_off_search_ = true;
    const LRESULT result = box.combo_watch_.pass_on(hwnd, message, wparam, lparam);
    box.putting_off_search_ = false;
    return result;
  }
  if (message == WM_MOUSEWHEEL && !box.dropped()) box.list_needed();
  return box.combo_watch_.pass_on(hwnd, message, wparam, lparam);
}

LRESULT CALLBACK NameBox::edit_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  NameBox& box = Watch::owner<NameBox>(hwnd);
  // The keys and the wheel that walk the closed list.
  const bool walks = (message == WM_KEYDOWN && (wparam == VK_UP || wparam == VK_DOWN ||
                                                wparam == VK_PRIOR || wparam == VK_NEXT)) ||
                     message == WM_MOUSEWHEEL;
  if (walks && !box.dropped()) box.list_needed();
  return box.edit_watch_.pass_on(hwnd, message, wparam, lparam);
}

LRESULT CALLBACK NameBox::list_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  NameBox& box = Watch::owner<NameBox>(hwnd);
  if (message == LB_FINDSTRING && box.putting_off_search_) {
    box.search_put_off_ = true;
    return LB_ERR;
  }
  return box.list_watch_.pass_on(hwnd, message, wparam, lparam);
}

Status NameBox::replace_list(std::size_t count,
                             const std::function<void(std::size_t, std::wstring&)>& item) {
  // Room for names of a usual length; the list grows past it if need be.
  constexpr std::size_t kUsualNameBytes = 32 * sizeof(wchar_t);

  bool filled = true;
  const auto program_write = writes_.begin();
  {
    const auto redraw = redraw_off(hwnd_);
    // What the user has typed stays, with its caret and selection.
    const auto kept = keep_text(hwnd_, edit_);
    SendMessageW(hwnd_, CB_RESETCONTENT, 0, 0);
    SendMessageW(hwnd_, CB_INITSTORAGE, count, static_cast<LPARAM>(count * kUsualNameBytes));
    // The names go in as fast as into a bare combo box: nothing of the name box's own
    // watches the messages meanwhile.
    combo_watch_.stop();
    list_watch_.stop();
    const ScopeExit watched_again([this] { watch_all(); });
    try {
      std::wstring entry;
      for (std::size_t i = 0; i < count; ++i) {
        item(i, entry);
        const LRESULT added =
            SendMessageW(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
        if (added == CB_ERR || added == CB_ERRSPACE) {
          filled = false;
          break;
        }
      }
    } catch (const std::bad_alloc&) {
      filled = false;
    }
  }
  // The list now follows the text as the combo box's own search would have set it.
  search_put_off_ = true;
  if (!filled) {
    return Status::failure(Message{Says::name_list_not_filled});
  }
  return {};
}

Status NameBox::change_item(UINT message, std::size_t index, const wchar_t* text) {
  LRESULT done = CB_ERR;
  {
    const auto program_write = writes_.begin();
    const auto kept = keep_text(hwnd_, edit_);
    done = SendMessageW(hwnd_, message, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
  }
  search_put_off_ = true;
  if (done == CB_ERR || done == CB_ERRSPACE) {
    return Status::failure(Message{Says::name_list_not_changed});
  }
  return {};
}

Status NameBox::insert_item(std::size_t index, std::wstring_view text) {
  const std::wstring item(text);
  return change_item(CB_INSERTSTRING, index, item.c_str());
}

Status NameBox::replace_item(std::size_t index, std::wstring_view text) {
  // Update changes a stored name in letter case at most: mostly it reads the same.
  if (item_text(static_cast<WPARAM>(index)) == text) return {};
  if (Status removed = remove_item(index); !removed.ok()) return removed;
  return insert_item(index, text);
}

Status NameBox::remove_item(std::size_t index) {
  return change_item(CB_DELETESTRING, index, nullptr);
}

std::optional<std::wstring> NameBox::chosen_item() const {
  const LRESULT index = SendMessageW(hwnd_, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return std::nullopt;
  return item_text(static_cast<WPARAM>(index));
}

std::optional<std::wstring> NameBox::item_text(WPARAM index) const {
  const LRESULT length = SendMessageW(hwnd_, CB_GETLBTEXTLEN, index, 0);
  if (length == CB_ERR) return std::nullopt;
  std::wstring item(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT copied =
      SendMessageW(hwnd_, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(item.data()));
  if (copied == CB_ERR) return std::nullopt;
  item.resize(static_cast<std::size_t>(copied));
  return item;
}

// ---- PushButton ---------------------------------------------------------------------------

void PushButton::notified(WORD code) {
  if (code == BN_CLICKED && enabled() && on_click) on_click();
}

}  // namespace perlwick::win32
