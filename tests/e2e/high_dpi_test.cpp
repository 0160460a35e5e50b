// The real program under Wine on a screen set to 120 DPI (Windows' 125 % scale): the
// window keeps its size in twips, and the tray icon still brings it back after "Hide".

#include <gtest/gtest.h>

#include "program_driver.h"
#include "window/control_ids.h"

namespace perlwick::e2e {
namespace {

TEST(HighDpi, TheWindowScalesAndAPressOnTheIconBringsItBack) {
  ASSERT_EQ(screen_dpi(), 120) << "this test needs a session whose screen is set to 120 DPI";
  remove_records();
  Program program;
  program.type(L"Gamma");
  program.set_text(ids::Text7, L"2024-01-15");

  // 9870 x 1965 twips at 120 DPI: 822.5 x 163.75 pixels.
  const Rect client = program.client_rect();
  EXPECT_NEAR(client.width, 822, 1);
  EXPECT_NEAR(client.height, 164, 1);
  EXPECT_EQ(program.window_rect().top, GetSystemMetrics(SM_CYSCREEN) - px(3000));
  const Rect rect = program.window_rect();

  // The press is the same message at every scale: the posted callback, then a real click.
  program.click(ids::Command4);
  ASSERT_FALSE(program.visible());
  program.post_tray_callback(WM_LBUTTONDOWN);
  EXPECT_TRUE(wait_until([&] { return program.visible() && !program.minimized(); }));

  std::vector<HWND> icons;
  ASSERT_TRUE(wait_until([&] { return (icons = tray_icons()).size() == 1; }));
  program.click(ids::Command4);
  ASSERT_FALSE(program.visible());
  RECT r{};
  GetWindowRect(icons[0], &r);
  mouse_click({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
  EXPECT_TRUE(wait_until([&] { return program.visible() && !program.minimized(); }));

  program.settle();
  EXPECT_EQ(program.window_rect(), rect);
  EXPECT_EQ(program.text(ids::Combo1), L"Gamma");
  EXPECT_EQ(program.text(ids::Text7), L"2024-01-15");
  EXPECT_TRUE(program.enabled(ids::Command1));
}

}  // namespace
}  // namespace perlwick::e2e
