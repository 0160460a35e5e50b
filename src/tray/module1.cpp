#include "tray/module1.h"

#include <cstring>

namespace perlwick {

bool is_left_button_press(std::uintptr_t lparam) {
  return (lparam & 0xFFFF) == shell::kWmLButtonDown;
}

void Module1::add(std::uintptr_t window, std::uintptr_t icon) {
  std::memset(&nid_, 0, sizeof nid_);  // padding included: the shell gets no stray bytes
  nid_.cbSize = kNotifyIconRecordSize;
  nid_.hWnd = window;
  nid_.uID = kTrayIconId;
  nid_.uFlags = kTrayFlags;
  nid_.uCallbackMessage = kTrayCallbackMessage;
  nid_.hIcon = icon;
  // "Perlwick", one NUL, then spaces to the end of the 64-byte tip.
  std::memset(nid_.szTip, ' ', sizeof nid_.szTip);
  std::memcpy(nid_.szTip, "Perlwick", 9);
  filled_ = true;

  in_place_ = shell_.notify(TrayCall::add, nid_);
  const bool modified = shell_.notify(TrayCall::modify, nid_);
  in_place_ = in_place_ || modified;
}

void Module1::add_again() {
  if (!filled_) return;
  in_place_ = shell_.notify(TrayCall::add, nid_) || shell_.notify(TrayCall::modify, nid_);
}

bool Module1::ensure_in_place() {
  if (!in_place_) add_again();
  return in_place_;
}

void Module1::remove() {
  if (!filled_) return;
  (void)shell_.notify(TrayCall::remove, nid_);
  in_place_ = false;
}

}  // namespace perlwick
