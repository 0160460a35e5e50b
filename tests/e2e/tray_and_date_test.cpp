// The real program under Wine, driven from outside: "Hide" and the tray icon that brings
// the window back, and the check of the Date Joined box as the focus leaves it.

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <chrono>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "program_driver.h"
#include "window/control_ids.h"

namespace perlwick::e2e {
namespace {

const std::string kRecords =
    "Acme~~https://acme.example~~https://acme.example/?ref=pw~~ann~~s3cret~~10%~~2021-03-04~~"
    "first\nsecond\r\n"
    "beta~~https://beta.example~~~~bea~~~~~~~~\r\n";

constexpr int kBoxes[] = {ids::Combo1, ids::Text2, ids::Text3, ids::Text4,
                          ids::Text5,  ids::Text6, ids::Text7, ids::Text8};

constexpr LPARAM kLeftButtonDown = WM_LBUTTONDOWN;

// What the user sees of the window: the texts of the name box and the field boxes, the
// name box's list, whether "Add" is enabled, and where the window stands.
struct WindowContents {
  std::vector<std::wstring> texts;
  std::vector<std::wstring> list;
  bool add_enabled = false;
  Rect rect;
};

WindowContents contents(const Program& program) {
  WindowContents seen;
  for (const int id : kBoxes) seen.texts.push_back(program.text(id));
  seen.list = program.list();
  seen.add_enabled = program.enabled(ids::Command1);
  seen.rect = program.window_rect();
  return seen;
}

void expect_same(const WindowContents& now, const WindowContents& before) {
  EXPECT_EQ(now.texts, before.texts);
  EXPECT_EQ(now.list, before.list);
  EXPECT_EQ(now.add_enabled, before.add_enabled);
  EXPECT_EQ(now.rect, before.rect);
}

// Shown, in the normal state, within the time a step may take.
::testing::AssertionResult comes_back(const Program& program) {
  if (!wait_until([&] { return program.visible(); })) {
    return ::testing::AssertionFailure() << "the window stayed hidden";
  }
  program.settle();
  if (program.minimized()) return ::testing::AssertionFailure() << "the window is minimized";
  return ::testing::AssertionSuccess();
}

// Clicks the program's one icon in Wine's tray with the mouse, as a user does: once the
// display has caught up with the tray's layout, and where the icon has come to rest (an
// icon just added again is placed while the tray lays itself out).
void click_tray_icon(const Program& program) {
  RECT place{};
  const bool at_rest = wait_until([&] {
    program.settle_display();
    const std::vector<HWND> icons = tray_icons();
    RECT now{};
    if (icons.size() != 1 || !GetWindowRect(icons[0], &now) || IsRectEmpty(&now)) return false;
    const bool still = EqualRect(&now, &place) != FALSE;
    place = now;
    return still;
  });
  ASSERT_TRUE(at_rest) << "the program's icon does not come to rest in Wine's tray";
  mouse_click({(place.left + place.right) / 2, (place.top + place.bottom) / 2});
}

// True when a message box shows up once the program has handled what it was asked to do,
// and what it then posted to itself (as the date check).
bool box_appears(const Program& program) {
  program.settle_posted();
  return program.message_box().has_value();
}

// ---- Hiding and the tray icon -----------------------------------------------------------

TEST(Tray, HideThenAPressOnTheIconBringsTheWindowBackAsItWas) {
  struct Case {
    const char* state;
    void (*prepare)(const Program&);
  };
  const Case cases[] = {
      {"a new name typed, Add enabled",
       [](const Program& program) {
         program.type(L"Gamma");
         program.set_text(ids::Text2, L"https://gamma.example");
         program.set_text(ids::Text8, L"one\r\ntwo");
       }},
      {"a stored record chosen, Add disabled",
       [](const Program& program) {
         program.set_focus(ids::Combo1);
         program.choose_from_list(0);
       }},
  };
  write_records(kRecords);
  Program program;

  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    c.prepare(program);
    const WindowContents before = contents(program);

    program.click(ids::Command4);
    EXPECT_FALSE(program.visible());
    EXPECT_TRUE(program.running());

    program.post_tray_callback(kLeftButtonDown);
    EXPECT_TRUE(comes_back(program));
    expect_same(contents(program), before);
  }
  EXPECT_FALSE(program.message_box());
  EXPECT_EQ(read_records(), kRecords);
}

TEST(Tray, OnlyALeftButtonPressBringsTheHiddenWindowBack) {
  struct Case {
    LPARAM mouse_message;
    const char* what;
  };
  const Case nothing[] = {
      {WM_MOUSEMOVE, "move"},
      {WM_LBUTTONUP, "left release"},
      {WM_LBUTTONDBLCLK, "left double-click"},
      {WM_RBUTTONDOWN, "right press"},
      {WM_RBUTTONUP, "right release"},
      {WM_RBUTTONDBLCLK, "right double-click"},
      {WM_MBUTTONDOWN, "middle press"},
      {WM_MBUTTONUP, "middle release"},
      {7695, "the press's position in twips at 96 DPI"},
      {MAKELPARAM(WM_LBUTTONUP, WM_LBUTTONDOWN), "a press in the high word only"},
  };
  remove_records();
  Program program;
  program.click(ids::Command4);
  ASSERT_FALSE(program.visible());

  for (const Case& c : nothing) {
    SCOPED_TRACE(c.what);
    program.post_tray_callback(c.mouse_message);
    EXPECT_FALSE(program.visible());
  }

  // Newer shells put the icon's id in the high word; the press is still in the low word.
  program.post_tray_callback(MAKELPARAM(WM_LBUTTONDOWN, 1));
  EXPECT_TRUE(comes_back(program));
}

TEST(Tray, APressLeavesAShownWindowAsItIsAndRestoresAMinimizedOne) {
  remove_records();
  Program program;
  program.set_focus(ids::Text3);
  const Rect rect = program.window_rect();

  program.post_tray_callback(kLeftButtonDown);
  EXPECT_TRUE(program.visible());
  EXPECT_FALSE(program.minimized());
  EXPECT_EQ(program.window_rect(), rect);
  EXPECT_EQ(program.focus(), ids::Text3);

  ShowWindow(program.window(), SW_MINIMIZE);
  ASSERT_TRUE(wait_until([&] { return program.minimized(); }));
  program.post_tray_callback(kLeftButtonDown);
  EXPECT_TRUE(wait_until([&] { return !program.minimized(); })) << "still minimized";
  EXPECT_TRUE(program.visible());
  EXPECT_EQ(program.window_rect(), rect);
}

TEST(Tray, TheIconIsInWinesTrayUntilTheProgramEndsAndAClickOnItBringsTheWindowBack) {
  remove_records();
  Program program;
  std::vector<HWND> icons;
  ASSERT_TRUE(wait_until([&] { return (icons = tray_icons()).size() == 1; }))
      << tray_icons().size() << " icons in Wine's tray instead of the program's one";

  program.click(ids::Command4);
  ASSERT_FALSE(program.visible());
  EXPECT_EQ(tray_icons(), icons) << "hiding the window changed the tray";

  // The user clicks the icon: the shell reports the press to the window.
  click_tray_icon(program);
  EXPECT_TRUE(comes_back(program));

  ASSERT_TRUE(program.close());
  EXPECT_TRUE(wait_until([] { return tray_icons().empty(); }))
      << "the icon stayed in the tray after the program ended";
}

TEST(Tray, AnIconTheShellLostComesBackWhenTheShellRestarts) {
  remove_records();
  Program program;
  ASSERT_TRUE(wait_until([] { return tray_icons().size() == 1; }));

  // The shell forgets the icon, as a restarted shell has forgotten every icon.
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = program.window();
  icon.uID = 1;
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon));
  ASSERT_TRUE(wait_until([] { return tray_icons().empty(); }));

  // The restarted shell tells every top-level window that it is there again.
  PostMessageW(program.window(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  std::vector<HWND> icons;
  ASSERT_TRUE(wait_until([&] { return (icons = tray_icons()).size() == 1; }))
      << "the icon was not added again";

  program.click(ids::Command4);
  ASSERT_FALSE(program.visible());
  click_tray_icon(program);
  EXPECT_TRUE(comes_back(program));
}

// ---- The Date Joined check --------------------------------------------------------------

// The ways the focus leaves the Date Joined box for another control of the window.
struct Route {
  const char* name;
  int goes_to;
  void (*leave)(const Program&);
};

const Route kRoutes[] = {
    {"Tab", ids::Text8, [](const Program& program) { program.press_key(VK_TAB); }},
    {"Shift+Tab", ids::Text6, [](const Program& program) { program.press_key(VK_TAB, true); }},
    {"SetFocus", ids::Text2, [](const Program& program) { program.set_focus(ids::Text2); }},
    {"a mouse click", ids::Text3,
     [](const Program& program) { program.click_with_mouse(ids::Text3); }},
};

// Puts the focus into the Date Joined box and types text into it.
void type_date(const Program& program, std::wstring_view text) {
  program.set_focus(ids::Text7);
  program.set_text(ids::Text7, L"");
  program.type(ids::Text7, text);
  ASSERT_EQ(program.text(ids::Text7), text);
}

TEST(DateJoined, TextThatIsNotADateIsRefusedAndTheFocusComesBack) {
  const std::wstring_view refused[] = {L"hello", L"   "};
  remove_records();
  Program program;

  for (const Route& route : kRoutes) {
    for (const std::wstring_view text : refused) {
      SCOPED_TRACE(std::string(route.name) + " from \"" + narrow(text) + "\"");
      type_date(program, text);
      route.leave(program);
      const MessageBoxInfo box = program.wait_for_message_box();
      EXPECT_EQ(box.title, L"Perlwick");
      EXPECT_EQ(box.text, L"Invalid date");
      EXPECT_EQ(box.buttons, std::vector<std::wstring>{L"OK"});
      EXPECT_FALSE(box.icon) << "the box shows an icon";
      EXPECT_FALSE(IsWindowEnabled(program.window())) << "the box is not modal";

      program.press_ok(box);
      EXPECT_TRUE(wait_until([&] { return program.focus() == ids::Text7; }))
          << "the focus is in the control with id " << program.focus();
      EXPECT_EQ(program.text(ids::Text7), text);
      EXPECT_FALSE(program.message_box());
    }
  }

  // The same text is refused again each time the focus leaves; a date lets it go.
  program.press_key(VK_TAB);
  program.press_ok(program.wait_for_message_box());
  program.set_text(ids::Text7, L"2024-01-15");
  EXPECT_EQ(program.press_tab(), ids::Text8);
  EXPECT_FALSE(box_appears(program));
  EXPECT_EQ(program.text(ids::Text8), L"");
}

TEST(DateJoined, AnEmptyBoxAndADatePassQuietly) {
  const std::wstring_view accepted[] = {L"", L"2024-01-15"};
  remove_records();
  Program program;

  for (std::size_t i = 0; i < std::size(kRoutes); ++i) {
    // Each route once, the texts in turn.
    const Route& route = kRoutes[i];
    const std::wstring_view text = accepted[i % std::size(accepted)];
    SCOPED_TRACE(std::string(route.name) + " from \"" + narrow(text) + "\"");
    type_date(program, text);

    route.leave(program);
    EXPECT_TRUE(wait_until([&] { return program.focus() == route.goes_to; }));
    EXPECT_FALSE(box_appears(program));
    EXPECT_EQ(program.focus(), route.goes_to);
    EXPECT_EQ(program.text(ids::Text7), text);
  }
}

TEST(DateJoined, HidingTheWindowOrSwitchingToAnotherProgramChecksNothing) {
  remove_records();
  Program program;

  // "Hide" pressed as the keyboard's Space or Enter does, with the focus left in the box:
  // hiding the window takes it away.
  type_date(program, L"hello");
  PostMessageW(program.window(), WM_COMMAND, MAKEWPARAM(ids::Command4, BN_CLICKED),
               reinterpret_cast<LPARAM>(program.control(ids::Command4)));
  ASSERT_TRUE(wait_until([&] { return !program.visible(); }));
  program.post_tray_callback(kLeftButtonDown);
  ASSERT_TRUE(comes_back(program));
  EXPECT_FALSE(box_appears(program));
  EXPECT_TRUE(wait_until([&] { return program.focus() == ids::Text7; }));

  // "Hide" clicked: the button takes the focus as it is pressed, and the window hides as
  // it is released.
  type_date(program, L"hello");
  program.click(ids::Command4);
  ASSERT_FALSE(program.visible());
  program.post_tray_callback(kLeftButtonDown);
  ASSERT_TRUE(comes_back(program));
  EXPECT_FALSE(box_appears(program));
  EXPECT_EQ(program.text(ids::Text7), L"hello");

  // Another program's window becomes the active one, then the user comes back. The focus
  // the program has just given the box reaches the display first, as it has long before a
  // user switches.
  type_date(program, L"hello");
  program.settle_display();
  const HWND other =
      CreateWindowExW(0, L"Static", L"Another program", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 300, 100,
                      300, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(other, nullptr);
  const auto pump = [] {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  };
  SetForegroundWindow(other);
  EXPECT_TRUE(wait_until([&] {
    pump();
    return GetForegroundWindow() == other && program.focus() == 0;
  })) << "the other window did not take the focus";
  pump();
  EXPECT_FALSE(box_appears(program));

  SetForegroundWindow(program.window());
  EXPECT_TRUE(wait_until([&] {
    pump();
    return program.focus() == ids::Text7;
  })) << "the focus did not come back to the Date Joined box";
  EXPECT_FALSE(box_appears(program));
  DestroyWindow(other);
}

TEST(DateJoined, ClosingTheWindowWithTextThatIsNotADateEndsTheProgramQuietly) {
  remove_records();
  Program program;
  type_date(program, L"hello");

  PostMessageW(program.window(), WM_CLOSE, 0, 0);
  bool box_seen = false;
  EXPECT_TRUE(wait_until([&] {
    box_seen = box_seen || program.message_box().has_value();
    return !program.running();
  })) << "the program did not end";
  EXPECT_FALSE(box_seen);
}

}  // namespace
}  // namespace perlwick::e2e
