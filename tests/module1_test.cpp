// The tray icon's record, byte for byte, what the shell is told and when, and which mouse
// actions on the icon bring the window back.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "memory_controls.h"
#include "tray/module1.h"

namespace perlwick {
namespace {

using RecordingShell = testing::MemoryShell;
using testing::TestedModule1;

void put(std::vector<unsigned char>& bytes, std::size_t offset, std::uint64_t value,
         std::size_t size) {
  for (std::size_t i = 0; i < size; ++i)
    bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

// The record as the shell reads it: little-endian fields at the offsets of the first
// NOTIFYICONDATAA, handles as wide as a pointer.
std::vector<unsigned char> expected_record(std::uint64_t window, std::uint64_t icon) {
  const std::size_t handle = sizeof(void*);
  const std::size_t hwnd_at = handle;  // after cbSize, aligned to a handle
  const std::size_t id_at = hwnd_at + handle;
  const std::size_t icon_at = (id_at + 12 + handle - 1) / handle * handle;
  const std::size_t tip_at = icon_at + handle;
  std::vector<unsigned char> bytes(tip_at + 64, 0);
  put(bytes, 0, bytes.size(), 4);
  put(bytes, hwnd_at, window, handle);
  put(bytes, id_at, 1, 4);
  put(bytes, id_at + 4, 7, 4);
  put(bytes, id_at + 8, 512, 4);
  put(bytes, icon_at, icon, handle);
  std::memcpy(&bytes[tip_at], "Perlwick", 8);
  bytes[tip_at + 8] = 0;
  std::memset(&bytes[tip_at + 9], ' ', 55);
  return bytes;
}

TEST(Module1, TheRecordIsTheShellsFirstAnsiNotifyIconData) {
  EXPECT_EQ(kNotifyIconRecordSize, sizeof(void*) == 4 ? 88u : 104u);
  RecordingShell shell;
  TestedModule1 tray(shell);
  tray.add(0x12345678, 0x0ABCDEF0);
  ASSERT_EQ(shell.calls.size(), 2u);
  EXPECT_EQ(shell.calls[0].call, TrayCall::add);
  EXPECT_EQ(shell.calls[1].call, TrayCall::modify);
  const auto expected = expected_record(0x12345678, 0x0ABCDEF0);
  EXPECT_EQ(shell.calls[0].bytes, expected);
  EXPECT_EQ(shell.calls[1].bytes, expected);
  EXPECT_STREQ(tray.record().szTip, "Perlwick");  // the tip the shell shows
  EXPECT_TRUE(tray.in_place());

  tray.remove();
  ASSERT_EQ(shell.calls.size(), 3u);
  EXPECT_EQ(shell.calls[2].call, TrayCall::remove);
  EXPECT_EQ(shell.calls[2].bytes, expected);
}

TEST(Module1, AnIconTheShellLostIsAddedAgain) {
  RecordingShell shell;
  TestedModule1 tray(shell);
  shell.succeed = false;
  tray.add(1, 2);
  EXPECT_FALSE(tray.in_place());
  EXPECT_FALSE(tray.ensure_in_place());  // the shell still refuses
  shell.succeed = true;
  EXPECT_TRUE(tray.ensure_in_place());
  EXPECT_EQ(shell.calls.back().call, TrayCall::add);

  const std::size_t before = shell.calls.size();
  EXPECT_TRUE(tray.ensure_in_place());  // in place: nothing more to do
  EXPECT_EQ(shell.calls.size(), before);
  tray.add_again();  // the shell restarted
  EXPECT_EQ(shell.calls.size(), before + 1);
  EXPECT_EQ(shell.calls.back().call, TrayCall::add);
}

TEST(Module1, NothingIsSentBeforeTheRecordIsFilled) {
  RecordingShell shell;
  TestedModule1 tray(shell);
  tray.add_again();
  tray.remove();
  EXPECT_TRUE(shell.calls.empty());
}

TEST(Module1, OnlyALeftButtonPressBringsTheWindowBack) {
  struct Case {
    std::uintptr_t lparam;
    bool restores;
  };
  const Case cases[] = {
      {0x0201, true},      // WM_LBUTTONDOWN
      {0x00050201, true},  // whatever the high word holds
      {0x0200, false},     // WM_MOUSEMOVE
      {0x0202, false},     // WM_LBUTTONUP
      {0x0203, false},     // WM_LBUTTONDBLCLK
      {0x0204, false},     // WM_RBUTTONDOWN
      {0x0205, false},     // WM_RBUTTONUP
      {0x0207, false},     // WM_MBUTTONDOWN
      {7695, false},       // a position in twips is not a press
      {0x02010000, false},
      // Other codes with the press's low byte.
      {0x0101, false},  // WM_KEYDOWN
      {0x0301, false},
      {0x0401, false},
      {0x1201, false},
      {0xFF01, false},
      {0x0001, false},
  };
  for (const Case& c : cases) EXPECT_EQ(is_left_button_press(c.lparam), c.restores) << c.lparam;
}

}  // namespace
}  // namespace perlwick
