#pragma once

// Module1: the tray icon. It holds the icon's record, laid out byte for byte as the
// shell's first, ANSI form of NOTIFYICONDATA (88 bytes in a 32-bit program, 104 in a
// 64-bit one), and hands it to the shell to add, modify and delete the icon.

#include <cstddef>
#include <cstdint>

#include "tray/shell_codes.h"

namespace perlwick {

struct NotifyIconRecord {
  std::uint32_t cbSize;
  std::uintptr_t hWnd;  // the main window
  std::uint32_t uID;
  std::uint32_t uFlags;
  std::uint32_t uCallbackMessage;
  std::uintptr_t hIcon;  // the main window's icon
  char szTip[64];
};

// The size of the record, as the shell's NOTIFYICONDATAA_V1_SIZE gives it.
inline constexpr std::uint32_t kNotifyIconRecordSize = sizeof(NotifyIconRecord);
static_assert(sizeof(void*) != 4 || sizeof(NotifyIconRecord) == 88);
static_assert(sizeof(void*) != 8 || sizeof(NotifyIconRecord) == 104);

inline constexpr std::uint32_t kTrayIconId = 1;
inline constexpr std::uint32_t kTrayFlags = shell::kNifMessage | shell::kNifIcon | shell::kNifTip;
inline constexpr std::uint32_t kTrayCallbackMessage = shell::kWmMouseMove;

// The shell's calls for the record, by their codes.
enum class TrayCall : std::uint32_t {
  add = shell::kNimAdd,
  modify = shell::kNimModify,
  remove = shell::kNimDelete
};

// Shell_NotifyIconA, or a stand-in in tests.
class ShellTray {
 public:
  virtual ~ShellTray() = default;
  virtual bool notify(TrayCall call, const NotifyIconRecord& record) = 0;
};

// The shell reports mouse actions on the icon as the callback message with the mouse
// message's code in the low word of lParam: a left-button press (WM_LBUTTONDOWN) brings
// the window back; moves, releases, double-clicks and the other buttons do nothing.
bool is_left_button_press(std::uintptr_t lparam);

class Module1 {
 public:
  explicit Module1(ShellTray& shell) : shell_(shell) {}

  // Fills the record for the window and its icon, then adds the icon and modifies it
  // with the same record.
  void add(std::uintptr_t window, std::uintptr_t icon);
  // Adds the icon again (the shell has restarted and lost it).
  void add_again();
  // Whether the icon is in place, trying to add it if it is not.
  bool ensure_in_place();
  // Deletes the icon as the window ends.
  void remove();

 protected:
  // For a view of the icon's state from outside the program (the tests).
  const NotifyIconRecord& record() const { return nid_; }
  bool in_place() const { return in_place_; }

 private:
  ShellTray& shell_;
  NotifyIconRecord nid_{};
  bool filled_ = false;
  bool in_place_ = false;
};

}  // namespace perlwick
