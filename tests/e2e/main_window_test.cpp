// The real program under Wine, driven from outside: its window at start-up, the look-up
// in the name box, the edits with the records file's exact bytes afterwards, the
// keyboard and closing.

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "kill_during_edits.h"
#include "program_driver.h"
#include "window/control_ids.h"
#include "window/form1_table.h"

namespace perlwick::e2e {
namespace {

const std::string kAcme = line({"Acme", "https://acme.example", "https://acme.example/?ref=pw",
                                "ann", "s3cret", "10%", "2021-03-04", "first line\nsecond line"});
const std::string kAlpha = line({"ALPHA", "https://alpha.example", "", "", "", "", "", ""});
const std::string kBeta = line({"beta", "https://beta.example", "", "bea", "", "", "", ""});
const std::string kDelta = line(
    {"Delta", "https://delta.example", "d-link", "dee", "pw", "7%", "2020-02-02", "old notes"});
const std::string kZeta = line({"Zeta", "https://zeta.example", "", "", "", "", "", ""});
const std::string kZulu = line({"Zulu", "", "", "", "", "", "", ""});

const Fields kNoFields(kFieldCount - 1);
const Fields kAcmeFields = {
    L"https://acme.example", L"https://acme.example/?ref=pw", L"ann", L"s3cret", L"10%",
    L"2021-03-04",           L"first line\r\nsecond line"};

// Length in pixels that stands for a length in twips at the screen's DPI. A length that
// is no whole number of pixels may be rounded either way.
::testing::AssertionResult same_length(int pixels, int twips) {
  if (std::abs(pixels * 1440 - twips * screen_dpi()) < 1440) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << pixels << " px is not " << twips << " twips at " << screen_dpi() << " DPI";
}

// ---- Start-up ---------------------------------------------------------------------------

TEST(StartUp, OpensAtTheBottomLeftWithTheRecordsListedInFileOrder) {
  const std::string records = kZeta + kAcme + kBeta;
  write_records(records);
  Program program;

  // The outer corner, frame included, sits 3000 twips above the screen's bottom edge.
  EXPECT_EQ(program.window_rect().left, 0);
  EXPECT_EQ(program.window_rect().top, GetSystemMetrics(SM_CYSCREEN) - px(3000));
  EXPECT_EQ(program.client_rect(), (Rect{0, 0, px(9870), px(1965)}));
  wchar_t title[32] = {};
  GetWindowTextW(program.window(), title, 32);
  EXPECT_STREQ(title, L"Perlwick");

  EXPECT_EQ(program.focus(), ids::Combo1);
  EXPECT_EQ(program.list(), (std::vector<std::wstring>{L"Zeta", L"Acme", L"beta"}));
  EXPECT_EQ(program.text(ids::Combo1), L"");
  EXPECT_EQ(fields(program), kNoFields);
  EXPECT_FALSE(program.enabled(ids::Command1));
  EXPECT_TRUE(program.enabled(ids::Command2));
  EXPECT_TRUE(program.enabled(ids::Command3));
  EXPECT_TRUE(program.enabled(ids::Command4));
  EXPECT_FALSE(program.message_box());
  EXPECT_EQ(read_records(), records);
}

TEST(StartUp, OpensEmptyAndQuietWithoutARecordsFile) {
  remove_records();
  Program program;

  EXPECT_EQ(program.list(), std::vector<std::wstring>{});
  EXPECT_EQ(program.text(ids::Combo1), L"");
  EXPECT_EQ(fields(program), kNoFields);
  EXPECT_FALSE(program.enabled(ids::Command1));
  EXPECT_FALSE(program.message_box());
  EXPECT_EQ(read_records(), std::nullopt);
}

TEST(StartUp, ADllPlantedBesideTheProgramNeverRuns) {
  // As in a downloads folder the portable zip was unpacked into: a copy of the program with
  // a DLL beside it named like one that Windows' own DLLs load.
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder =
      std::wstring(temp) + L"perlwick-planted-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring copy = folder + L"\\perlwick.exe";
  const std::wstring dll = folder + L"\\shcore.dll";
  const std::wstring ran = folder + L"\\planted-dll-ran";
  struct Cleanup {
    const std::wstring& folder;
    std::vector<std::wstring> files;
    ~Cleanup() {
      for (const std::wstring& file : files) DeleteFileW(file.c_str());
      RemoveDirectoryW(folder.c_str());
    }
  } cleanup{folder, {copy, dll, ran}};
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  ASSERT_TRUE(CopyFileW(program_under_test().c_str(), copy.c_str(), TRUE));
  ASSERT_TRUE(CopyFileW(windows_path(PERLWICK_PLANTED_DLL).c_str(), dll.c_str(), TRUE));
  write_records(kAcme);
  {
    // What loads Windows' DLLs: the tray icon, the date check and an edit.
    Program program(copy);
    program.type(L"Acme");
    program.set_focus(ids::Text7);
    program.set_focus(ids::Text2);
    program.click(ids::Command2);
    program.click(ids::Command4);
    program.post_tray_callback(WM_LBUTTONDOWN);
    EXPECT_FALSE(program.message_box());
  }
  EXPECT_EQ(GetFileAttributesW(ran.c_str()), INVALID_FILE_ATTRIBUTES) << "the planted DLL ran";

  // The DLL does run where it is loaded: the check above can fail.
  const HMODULE loaded = LoadLibraryW(dll.c_str());
  ASSERT_NE(loaded, nullptr);
  FreeLibrary(loaded);
  EXPECT_NE(GetFileAttributesW(ran.c_str()), INVALID_FILE_ATTRIBUTES);
}

// ---- Kills ------------------------------------------------------------------------------

TEST(Kills, AnEditEndedAtAnyMomentLosesNoRecord) {
  kill_during_edits(std::chrono::seconds(60));
}

// ---- Layout -----------------------------------------------------------------------------

TEST(Layout, ControlsStandWhereTheirTwipsSay) {
  remove_records();
  Program program;

  for (const ControlRow& control : kForm1Controls) {
    if (control.kind == ControlKind::hidden_label) continue;
    SCOPED_TRACE("control " + std::to_string(control.id));
    const Rect rect = program.control_rect(control.id);
    EXPECT_TRUE(same_length(rect.left, control.left));
    EXPECT_TRUE(same_length(rect.top, control.top));
    EXPECT_TRUE(same_length(rect.width, control.width));
    EXPECT_TRUE(same_length(rect.height, control.height));
    // Labels and buttons show their captions; the boxes' texts are checked elsewhere.
    if (const std::wstring_view caption = caption_of(control); !caption.empty()) {
      EXPECT_EQ(program.text(control.id), caption);
    }
  }
}

TEST(Layout, WindowAndControlsHaveTheirKinds) {
  remove_records();
  Program program;

  // A fixed border with a close box only: no resizing, maximizing or minimizing.
  const auto window_style = GetWindowLongPtrW(program.window(), GWL_STYLE);
  EXPECT_TRUE(window_style & WS_SYSMENU);
  EXPECT_FALSE(window_style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX));

  // An editable drop-down list that keeps its items in the order they are added.
  EXPECT_EQ(program.style(ids::Combo1) & 0x3, CBS_DROPDOWN);
  EXPECT_FALSE(program.style(ids::Combo1) & CBS_SORT);

  // The password shows as typed; the notes box wraps and scrolls vertically only.
  EXPECT_EQ(SendMessageW(program.control(ids::Text5), EM_GETPASSWORDCHAR, 0, 0), 0);
  EXPECT_FALSE(program.style(ids::Text5) & ES_PASSWORD);
  EXPECT_TRUE(program.style(ids::Text8) & ES_MULTILINE);
  EXPECT_TRUE(program.style(ids::Text8) & WS_VSCROLL);
  EXPECT_FALSE(program.style(ids::Text8) & (WS_HSCROLL | ES_AUTOHSCROLL));

  // No box stops at the standard controls' default length.
  for (const HWND box :
       {program.name_edit(), program.control(ids::Text2), program.control(ids::Text8)}) {
    EXPECT_GT(SendMessageW(box, EM_GETLIMITTEXT, 0, 0), 30000);
  }
}

// ---- The look-up ------------------------------------------------------------------------

TEST(LookUp, TypingLooksUpTheWholeNameInAnyCase) {
  struct Step {
    const wchar_t* typed;
    const wchar_t* name;  // the name box's text afterwards
    const Fields& shown;
    bool add_enabled;
  };
  const Step steps[] = {
      {L"Ac", L"Ac", kNoFields, true},       // a prefix is no match
      {L"mE", L"Acme", kAcmeFields, false},  // the stored spelling replaces the typed one
      {L"x", L"Acmex", kNoFields, true},     // one character more is no match again
      {L"\b", L"Acme", kAcmeFields, false},  // backspace
  };
  write_records(kZeta + kAcme);
  Program program;

  for (const Step& step : steps) {
    SCOPED_TRACE("after typing " + narrow(step.typed));
    program.type(step.typed);
    EXPECT_EQ(program.text(ids::Combo1), step.name);
    EXPECT_EQ(fields(program), step.shown);
    EXPECT_EQ(program.enabled(ids::Command1), step.add_enabled);
    // The caret stays at the end of the name, so typing goes on where it was.
    const int end = static_cast<int>(std::wstring_view(step.name).size());
    EXPECT_EQ(program.name_selection(), std::make_pair(end, end));
  }
}

TEST(LookUp, LeadingSpaceMeansNoMatch) {
  write_records(kAcme);
  Program program;
  program.set_text(ids::Text2, L"stale");

  program.type(L" acme");

  EXPECT_EQ(program.text(ids::Combo1), L" acme");
  EXPECT_EQ(fields(program), kNoFields);
  EXPECT_TRUE(program.enabled(ids::Command1));
}

TEST(LookUp, NamesThatDifferOnlyInCaseShowTheLaterRow) {
  const std::string first = line({"Acme", "first", "", "", "", "", "", ""});
  const std::string second = line({"ACME", "second", "", "", "", "", "", ""});
  write_records(first + second);
  Program program;

  // Each row's spelling matches the other's; the look-up must settle on the later row.
  program.type(L"acme");

  EXPECT_EQ(program.text(ids::Combo1), L"ACME");
  EXPECT_EQ(program.text(ids::Text2), L"second");
  EXPECT_FALSE(program.enabled(ids::Command1));
  EXPECT_TRUE(program.running());

  // Choosing the earlier spelling from the list shows the later row all the same.
  program.choose_from_list(0);
  EXPECT_EQ(program.text(ids::Combo1), L"ACME");
  EXPECT_EQ(program.text(ids::Text2), L"second");
  EXPECT_FALSE(program.enabled(ids::Command1));
}

TEST(LookUp, ChoosingFromTheListShowsTheRecordAndDisablesAdd) {
  write_records(kZeta + kAcme + kBeta);
  Program program;
  program.type(L"q");
  ASSERT_TRUE(program.enabled(ids::Command1));

  program.choose_from_list(1);

  EXPECT_EQ(program.text(ids::Combo1), L"Acme");
  EXPECT_EQ(fields(program), kAcmeFields);
  EXPECT_FALSE(program.enabled(ids::Command1));

  program.choose_from_list(2);

  EXPECT_EQ(program.text(ids::Combo1), L"beta");
  EXPECT_EQ(fields(program), (Fields{L"https://beta.example", L"", L"bea", L"", L"", L"", L""}));
  EXPECT_FALSE(program.enabled(ids::Command1));
}

// The list is filled once it can be seen or walked, whichever way that happens.
TEST(LookUp, TheListHoldsEveryNameWhenOpenedOrWalkedFromTheKeyboard) {
  struct Way {
    const char* what;
    WORD key;
    bool alt;
    bool drops_down;
  };
  const Way ways[] = {
      {"F4", VK_F4, false, true},
      {"Alt+Down", VK_DOWN, true, true},
      {"Down", VK_DOWN, false, false},
      {"Page Down", VK_NEXT, false, false},
  };
  write_records(kZeta + kAcme + kZeta);
  for (const Way& way : ways) {
    SCOPED_TRACE(way.what);
    Program program;
    const HWND combo = program.control(ids::Combo1);
    program.press_key(way.key, false, way.alt);
    EXPECT_TRUE(wait_until([&] { return SendMessageW(combo, CB_GETCOUNT, 0, 0) == 3; }));
    EXPECT_EQ(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0) != FALSE, way.drops_down);
    if (!way.drops_down) {
      // Walked from nothing chosen, the first item is chosen and shown.
      EXPECT_TRUE(wait_until([&] { return program.text(ids::Combo1) == L"Zeta"; }));
    }
  }
}

// ---- The edits --------------------------------------------------------------------------

TEST(Edits, AddStoresTheBoxesBeforeTheFirstGreaterName) {
  write_records(kAlpha + kDelta);
  Program program;
  program.type(L"beta");
  ASSERT_TRUE(program.enabled(ids::Command1));
  const Fields typed = {L"https://b.example", L"https://b.example/ref", L"José", L"pw", L"5%",
                        L"2024-01-15",        L"line one\r\nline two"};
  fill_fields(program, typed);

  program.click(ids::Command1);

  // The notes' line break is stored as LF; "é" in the ANSI code page.
  EXPECT_EQ(read_records(), kAlpha +
                                line({"beta", "https://b.example", "https://b.example/ref",
                                      "Jos\xE9", "pw", "5%", "2024-01-15", "line one\nline two"}) +
                                kDelta);
  // "Add" changes nothing in the window.
  EXPECT_EQ(program.text(ids::Combo1), L"beta");
  EXPECT_EQ(fields(program), typed);
  EXPECT_TRUE(program.enabled(ids::Command1));

  // The stored record comes back from the reloaded table, notes with CR LF.
  program.type(L"\b");
  EXPECT_EQ(fields(program), kNoFields);
  program.type(L"a");
  EXPECT_EQ(fields(program), typed);
}

TEST(Edits, UpdateOverwritesTheRecordOfTheName) {
  write_records(kAlpha + kDelta + kZulu);
  Program program;
  program.type(L"delta");
  ASSERT_EQ(program.text(ids::Combo1), L"Delta");
  program.set_text(ids::Text3, L"new-link");
  program.set_text(ids::Text8, L"new\r\nnotes");

  program.click(ids::Command2);

  EXPECT_EQ(read_records(), kAlpha +
                                line({"Delta", "https://delta.example", "new-link", "dee", "pw",
                                      "7%", "2020-02-02", "new\nnotes"}) +
                                kZulu);
  EXPECT_EQ(program.text(ids::Text8), L"new\r\nnotes");
  EXPECT_FALSE(program.enabled(ids::Command1));
}

TEST(Edits, DeleteRemovesTheRecordAndEmptiesTheBoxes) {
  write_records(kAlpha + kDelta + kZulu);
  Program program;
  program.type(L"DELTA");
  ASSERT_EQ(program.text(ids::Text4), L"dee");

  program.click(ids::Command3);

  EXPECT_EQ(read_records(), kAlpha + kZulu);
  EXPECT_EQ(program.text(ids::Combo1), L"");
  EXPECT_EQ(fields(program), kNoFields);
  // Emptying the name box looked the empty name up: no match.
  EXPECT_TRUE(program.enabled(ids::Command1));
}

// Once filled, the list follows each edit; after another program's change it is filled anew.
TEST(Edits, TheListShowsTheChangeWhenTheNameBoxNextTakesTheFocus) {
  write_records(kAlpha + kDelta);
  Program program;
  const auto focus_name_box = [&program] {
    for (int presses = 0; program.focus() != ids::Combo1; ++presses) {
      ASSERT_LT(presses, 13) << "Tab never brought the focus back to the name box";
      program.press_tab();
    }
  };
  ASSERT_EQ(program.list(), (std::vector<std::wstring>{L"ALPHA", L"Delta"}));
  program.type(L"Beta");
  program.click(ids::Command1);
  ASSERT_EQ(read_records(), kAlpha + line({"Beta", "", "", "", "", "", "", ""}) + kDelta);
  focus_name_box();
  EXPECT_EQ(program.list(), (std::vector<std::wstring>{L"ALPHA", L"Beta", L"Delta"}));
  // Changing the list leaves the typed name in place.
  EXPECT_EQ(program.text(ids::Combo1), L"Beta");

  program.set_text(ids::Combo1, L"BETA");  // not typed: no look-up
  program.click(ids::Command2);
  EXPECT_EQ(program.list(), (std::vector<std::wstring>{L"ALPHA", L"BETA", L"Delta"}));
  program.set_text(ids::Combo1, L"delta");
  program.click(ids::Command3);
  EXPECT_EQ(program.list(), (std::vector<std::wstring>{L"ALPHA", L"BETA"}));

  write_records(kAlpha + kZulu);
  focus_name_box();
  EXPECT_EQ(program.list(), (std::vector<std::wstring>{L"ALPHA", L"Zulu"}));
}

TEST(Edits, TextTheFileCannotHoldIsRefusedNamingTheField) {
  struct Case {
    int box;
    const wchar_t* text;
    const wchar_t* field;  // as the message names it
  };
  const Case cases[] = {
      {ids::Text2, L"a~~b", L"URL"},
      {ids::Text8, L"one~~two", L"Notes"},
  };
  write_records(kAlpha);
  Program program;
  program.type(L"Gamma");

  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.field));
    program.set_text(c.box, c.text);
    program.click_later(ids::Command1);
    const MessageBoxInfo box = program.wait_for_message_box();
    EXPECT_EQ(box.title, L"Perlwick");
    EXPECT_NE(box.text.find(c.field), std::wstring::npos) << narrow(box.text);
    program.press_ok(box);

    EXPECT_EQ(read_records(), kAlpha);
    EXPECT_EQ(program.text(c.box), c.text);
    program.set_text(c.box, L"");
  }
}

// ---- The keyboard -----------------------------------------------------------------------

TEST(Keyboard, TabVisitsTheControlsInOrderAndSkipsAddWhileItIsDisabled) {
  write_records(kAcme);
  Program program;
  // The boxes and the buttons in the table's order, from the one after the name box round
  // to the name box again.
  std::vector<int> with_add;
  for (const ControlRow& control : kForm1Controls) {
    if (!is_label(control.kind) && control.id != ids::Combo1) with_add.push_back(control.id);
  }
  with_add.push_back(ids::Combo1);
  std::vector<int> without_add = with_add;
  std::erase(without_add, ids::Command1);

  std::vector<int> visited;
  for (std::size_t i = 0; i < without_add.size(); ++i) visited.push_back(program.press_tab());
  EXPECT_EQ(visited, without_add);

  program.type(L"New");
  ASSERT_TRUE(program.enabled(ids::Command1));
  visited.clear();
  for (std::size_t i = 0; i < with_add.size(); ++i) visited.push_back(program.press_tab());
  EXPECT_EQ(visited, with_add);

  // Shift+Tab goes the same way back.
  visited.clear();
  for (std::size_t i = 0; i < with_add.size(); ++i) visited.push_back(program.press_tab(true));
  std::vector<int> backwards(with_add.rbegin() + 1, with_add.rend());
  backwards.push_back(ids::Combo1);
  EXPECT_EQ(visited, backwards);

  // Tab moved on from the notes box without typing into it.
  EXPECT_EQ(program.text(ids::Text8), L"");
}

TEST(Keyboard, EnterInTheNotesBoxStartsANewLine) {
  remove_records();
  Program program;
  while (program.focus() != ids::Text8) program.press_tab();
  program.set_text(ids::Text8, L"one");
  SendMessageW(program.control(ids::Text8), EM_SETSEL, 3, 3);

  program.press_key(VK_RETURN);

  EXPECT_TRUE(wait_until([&] { return program.text(ids::Text8) == L"one\r\n"; }))
      << narrow(program.text(ids::Text8));
  EXPECT_EQ(program.focus(), ids::Text8);
  EXPECT_FALSE(program.message_box());
}

// ---- Closing ----------------------------------------------------------------------------

TEST(Closing, EndsTheProgramAndWritesNothing) {
  write_records(kAlpha);
  Program program;
  program.type(L"Unsaved");
  program.set_text(ids::Text2, L"typed but not stored");

  EXPECT_TRUE(program.close()) << "the program did not end after its window was closed";
  EXPECT_EQ(read_records(), kAlpha);
}

}  // namespace
}  // namespace perlwick::e2e
