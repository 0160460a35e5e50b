// The main window's handlers against in-memory controls: start-up, the name box look-up,
// the state of "Add", and the edits with their failures.

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "memory_controls.h"
#include "test_files.h"
#include "window/form1.h"

namespace perlwick {
namespace {

// Form1 with what only the tests look at in view.
class TestedForm1 final : public Form1 {
 public:
  using Form1::Form1;
  using Form1::store;
};

using testing::FaultyFileSystem;
using testing::Log;
using testing::MemoryButton;
using testing::MemoryCombo;
using testing::MemoryServices;
using testing::MemoryText;
using testing::read_file;
using testing::Step;
using testing::TempDir;
using testing::write_file;

// A record line whose fields after the name say which line it was.
std::string line(const std::string& name, const std::string& tag) {
  return name + "~~url " + tag + "~~link " + tag + "~~user " + tag + "~~pw " + tag + "~~" + tag +
         "%~~date " + tag + "~~notes " + tag + "\r\n";
}

std::wstring wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

class Form1Test : public ::testing::Test {
 protected:
  // Starts the window on a records file holding bytes (none: no file).
  void start(const std::string* bytes) {
    if (bytes != nullptr) write_file(path(), *bytes);
    controls.name_boxes = {{ids::Combo1, &combo}};
    controls.text_boxes = {{ids::Text2, &text2}, {ids::Text3, &text3}, {ids::Text4, &text4},
                           {ids::Text5, &text5}, {ids::Text6, &text6}, {ids::Text7, &text7},
                           {ids::Text8, &text8}};
    controls.buttons = {{ids::Command1, &add}};
    form =
        std::make_unique<TestedForm1>(controls, services, tray, path(), files, private_dir.path());
    form->Form_Load();
    form->Form_Initialize(0x1000, 0x2000);
    form->Combo1_GotFocus();
    form->Form_Shown();
    log.clear();
  }
  void start(const std::string& bytes) { start(&bytes); }

  std::filesystem::path path() const { return dir.file("records.txt"); }

  // The name box's list as the user sees it when it drops down.
  const std::vector<std::wstring>& open_list() {
    form->Combo1_DropDown();
    return combo.list;
  }

  void type(const std::wstring& text) {
    combo.type(text);
    form->Combo1_Change();
  }

  // The texts of Text2 to Text8.
  std::vector<std::wstring> fields() const {
    return {text2.text(), text3.text(), text4.text(), text5.text(),
            text6.text(), text7.text(), text8.text()};
  }
  std::vector<std::wstring> fields_of(const std::string& tag) const {
    const std::wstring t = wide(tag);
    return {L"url " + t, L"link " + t, L"user " + t, L"pw " + t,
            t + L"%",    L"date " + t, L"notes " + t};
  }
  void fill_boxes(const std::wstring& name, const std::wstring& tag) {
    combo.type(name);
    MemoryText* boxes[] = {&text2, &text3, &text4, &text5, &text6, &text7, &text8};
    for (std::size_t i = 0; i < 7; ++i) boxes[i]->type(tag + L" " + std::to_wstring(i + 1));
  }

  TempDir dir;
  TempDir private_dir;
  FaultyFileSystem files;
  Log log;
  MemoryCombo combo{log};
  MemoryText text2{L"Text2", log}, text3{L"Text3", log}, text4{L"Text4", log}, text5{L"Text5", log},
      text6{L"Text6", log}, text7{L"Text7", log}, text8{L"Text8", log};
  MemoryButton add;
  testing::MemoryControls controls;
  MemoryServices services;
  testing::MemoryShell shell;
  testing::TestedModule1 tray{shell};
  std::unique_ptr<TestedForm1> form;
};

TEST_F(Form1Test, StartsAtTheBottomLeftWithTheRecordsListed) {
  services.screen_height = 11520;  // 768 pixels
  start(line("Zulu", "z") + line("alpha", "a") + line("", "e") + line("Zulu", "z2"));
  EXPECT_EQ(services.moved_left, 0);
  EXPECT_EQ(services.moved_top, 8520);
  EXPECT_EQ(open_list(), (std::vector<std::wstring>{L"Zulu", L"alpha", L"", L"Zulu"}));
  EXPECT_FALSE(add.enabled());
  EXPECT_TRUE(services.errors.empty());
}

TEST_F(Form1Test, StartsQuietlyWithoutARecordsFile) {
  start(nullptr);
  EXPECT_TRUE(open_list().empty());
  EXPECT_TRUE(services.errors.empty());
  type(L"New");
  EXPECT_TRUE(add.enabled());
}

// Opening with no records and no word would look as if every record were gone.
TEST_F(Form1Test, SaysOnceTheWindowIsShownThatTheRecordsFileCannotBeRead) {
  files.fail(Step::read);
  start(line("Acme", "a"));
  ASSERT_EQ(services.errors.size(), 1u);
  EXPECT_NE(services.errors[0].find(L"Could not read the records file"), std::wstring::npos);
  EXPECT_NE(services.errors[0].find(L"injected read failure"), std::wstring::npos);
  EXPECT_NE(services.errors[0].find(L"no records"), std::wstring::npos);
  EXPECT_EQ(form->store().count(), 0u);
}

TEST_F(Form1Test, TypingLooksTheNameUp) {
  struct Case {
    std::wstring typed;
    std::wstring name_after;
    std::string shown;  // tag of the record shown; empty: boxes emptied
  };
  const Case cases[] = {
      {L"Acme", L"Acme", "a"},
      {L"Ac", L"Ac", ""},  // a prefix is no match
      {L"Acme!", L"Acme!", ""},
      {L"acme", L"Acme", "a"},  // the stored spelling replaces the typed one
      {L"BETA", L"beta", "b"},
      {L" Acme", L" Acme", ""},  // spaces count
      {L"Acme ", L"Acme ", ""},
      {L"", L"", ""},
      {L"Twice", L"Twice", "t2"},  // the later row wins
      {L"\u00E9t\u00E9", L"\u00C9T\u00C9", "e"},
  };
  start(line("Acme", "a") + line("beta", "b") + line("Twice", "t1") + line("Twice", "t2") +
        line("\xC9T\xC9", "e"));
  for (const Case& c : cases) {
    type(L"previous");  // no match: empties the boxes, enables "Add"
    text2.type(L"left over");
    type(c.typed);
    EXPECT_EQ(combo.text(), c.name_after) << c.typed.size();
    if (c.shown.empty()) {
      EXPECT_EQ(fields(), std::vector<std::wstring>(7)) << c.typed.size();
      EXPECT_TRUE(add.enabled());
    } else {
      EXPECT_EQ(fields(), fields_of(c.shown)) << c.typed.size();
      EXPECT_FALSE(add.enabled());
    }
  }
}

TEST_F(Form1Test, NamesThatDifferOnlyInCaseEndInTheStateOfOnePass) {
  start(line("Acme", "first") + line("ACME", "second"));
  for (const std::wstring typed : {L"acme", L"Acme", L"ACME", L"aCmE"}) {
    type(typed);
    EXPECT_EQ(combo.text(), L"ACME");
    EXPECT_EQ(fields(), fields_of("second"));
    EXPECT_FALSE(add.enabled());
  }
  // The choice look-up too.
  form->Combo1_Click(L"Acme");
  EXPECT_EQ(combo.text(), L"ACME");
  EXPECT_EQ(fields(), fields_of("second"));
}

TEST_F(Form1Test, AnEmptyNameMatchesOnlyARecordWithAnEmptyName) {
  start(line("", "empty") + line("Acme", "a"));
  type(L"Acme");
  type(L"");
  EXPECT_EQ(fields(), fields_of("empty"));
  EXPECT_FALSE(add.enabled());
}

TEST_F(Form1Test, ChoosingFromTheListShowsTheRecordAndDisablesAdd) {
  start(line("Acme", "a") + line("beta", "b") + line("acme", "a2"));
  type(L"zzz");
  ASSERT_TRUE(add.enabled());
  form->Combo1_Click(L"Acme");
  EXPECT_EQ(combo.text(), L"acme");
  EXPECT_EQ(fields(), fields_of("a2"));
  EXPECT_FALSE(add.enabled());

  // A choice that matches nothing empties nothing, and "Add" still ends disabled.
  text2.type(L"kept");
  type(L"beta");
  text2.type(L"kept");
  add.set_enabled(true);
  form->Combo1_Click(L"gone");
  EXPECT_EQ(text2.text(), L"kept");
  EXPECT_FALSE(add.enabled());
}

// Once filled, the list follows each edit where it changed the table, when it is next
// opened; it is filled anew only when it was not up to date before an edit.
TEST_F(Form1Test, TheListFollowsTheEditsWhenItIsNextOpened) {
  start(line("ALPHA", "a") + line("acme", "c") + line("Delta", "d") + line("", "e"));
  EXPECT_TRUE(combo.list.empty());  // filled when it is first opened
  struct Edit {
    const char* what;
    std::function<void()> edit;
    std::vector<std::wstring> list;
    Log changes;  // what was done to the list
  };
  const auto add_name = [this](const std::wstring& name) {
    fill_boxes(name, L"n");
    form->Command1_Click();
  };
  const auto update_name = [this](const std::wstring& name) {
    fill_boxes(name, L"u");
    form->Command2_Click();
  };
  const Edit steps[] = {
      {"first opening", [] {}, {L"ALPHA", L"acme", L"Delta", L""}, {L"Combo1 list"}},
      {"opened again", [] {}, {L"ALPHA", L"acme", L"Delta", L""}, {}},
      {"Add",
       [&] { add_name(L"Beta"); },
       {L"ALPHA", L"acme", L"Beta", L"Delta", L""},
       {L"Combo1 item+ 2"}},
      {"Update, in capitals",
       [&] { update_name(L"ACME"); },
       {L"ALPHA", L"ACME", L"Beta", L"Delta", L""},
       {L"Combo1 item= 1"}},
      {"Update of no name",
       [&] { update_name(L"nobody"); },
       {L"ALPHA", L"ACME", L"Beta", L"Delta", L""},
       {}},
      {"Delete, with the empty name",
       [&] {
         type(L"delta");
         form->Command3_Click();
       },
       {L"ALPHA", L"ACME", L"Beta"},
       {L"Combo1 item- 4", L"Combo1 item- 3"}},
      {"two edits",
       [&] {
         add_name(L"Zed");
         add_name(L"Az");
       },
       {L"ALPHA", L"ACME", L"Az", L"Beta", L"Zed"},
       {L"Combo1 item+ 3", L"Combo1 item+ 2"}},
      {"another copy's change",
       [&] {
         RecordStore other(path(), native_file_system(), private_dir.path());
         ASSERT_TRUE(other.add({L"Omega", L"", L"", L"", L"", L"", L"", L""}).ok());
         form->Combo1_GotFocus();
       },
       {L"ALPHA", L"ACME", L"Az", L"Beta", L"Omega", L"Zed"},
       {L"Combo1 list"}},
      {"an edit after the other copy's change, unseen",
       [&] {
         RecordStore other(path(), native_file_system(), private_dir.path());
         ASSERT_TRUE(other.remove(L"omega").ok());
         add_name(L"Beta");
       },
       {L"ALPHA", L"ACME", L"Az", L"Beta", L"Beta", L"Zed"},
       {L"Combo1 list"}},
  };
  for (const Edit& step : steps) {
    SCOPED_TRACE(step.what);
    step.edit();
    ASSERT_TRUE(services.errors.empty());
    log.clear();
    EXPECT_EQ(open_list(), step.list);
    Log changes;
    for (const std::wstring& entry : log) {
      if (entry.starts_with(L"Combo1 list") || entry.starts_with(L"Combo1 item")) {
        changes.push_back(entry);
      }
    }
    EXPECT_EQ(changes, step.changes);
  }
  EXPECT_EQ(combo.text(), L"Beta");  // the typed text stays
}

// Another copy of the program saves; this one shows its records once the name box next
// takes the focus, and reads nothing when nothing changed.
TEST_F(Form1Test, TheNameBoxCatchesUpWithAnotherCopysChanges) {
  write_file(path(), line("Acme", "a"));
  // A file last written an hour ago: its entry alone tells that it is unchanged.
  std::filesystem::last_write_time(
      path(), std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
  start(nullptr);
  const int reads = files.calls(Step::read);
  form->Combo1_GotFocus();
  EXPECT_EQ(files.calls(Step::read), reads);

  RecordStore other(path(), native_file_system(), private_dir.path());
  ASSERT_TRUE(other.add({L"Delta", L"url d", L"", L"", L"", L"", L"", L""}).ok());
  form->Combo1_GotFocus();
  EXPECT_EQ(open_list(), (std::vector<std::wstring>{L"Acme", L"Delta"}));
  type(L"delta");
  EXPECT_EQ(combo.text(), L"Delta");
  EXPECT_EQ(text2.text(), L"url d");
  EXPECT_FALSE(add.enabled());
}

TEST_F(Form1Test, AddStoresTheBoxesAndChangesNothingInTheWindow) {
  start(line("ALPHA", "a") + line("Delta", "d"));
  type(L"beta");
  fill_boxes(L"beta", L"b");
  text8.type(L"line one\r\nline two");
  log.clear();
  form->Command1_Click();
  EXPECT_TRUE(services.errors.empty());
  EXPECT_EQ(read_file(path()), line("ALPHA", "a") +
                                   "beta~~b 1~~b 2~~b 3~~b 4~~b 5~~b 6~~line one\nline two\r\n" +
                                   line("Delta", "d"));
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(add.enabled());

  // Pressing it again stores a second identical record right after the first.
  form->Command1_Click();
  EXPECT_EQ(form->store().count(), 4u);
  EXPECT_EQ(form->store().table().name(2), L"beta");

  // Shown again, the notes have the box's line breaks.
  type(L"x");
  type(L"BETA");
  EXPECT_EQ(text8.text(), L"line one\r\nline two");
}

TEST_F(Form1Test, UpdateOverwritesEveryMatchingRecord) {
  start(line("ACME", "1") + line("Acme", "2") + line("Other", "o"));
  fill_boxes(L"Acme", L"u");
  form->Command2_Click();
  const std::string updated = "Acme~~u 1~~u 2~~u 3~~u 4~~u 5~~u 6~~u 7\r\n";
  EXPECT_EQ(read_file(path()), updated + updated + line("Other", "o"));
}

TEST_F(Form1Test, DeleteRemovesTheRecordThenEmptiesTheNameBoxAndTheFields) {
  start(line("Acme", "a") + line("ACME", "b") + line("Other", "o"));
  type(L"acme");
  log.clear();
  form->Command3_Click();
  EXPECT_EQ(read_file(path()), line("Other", "o"));
  EXPECT_EQ(combo.text(), L"");
  EXPECT_EQ(fields(), std::vector<std::wstring>(7));
  EXPECT_TRUE(add.enabled());
  // The name box is emptied first (its look-up then empties the fields), then the fields.
  ASSERT_GE(log.size(), 15u);
  EXPECT_EQ(log.front(), L"Combo1=");
  EXPECT_EQ(std::vector<std::wstring>(log.end() - 7, log.end()),
            (std::vector<std::wstring>{L"Text2=", L"Text3=", L"Text4=", L"Text5=", L"Text6=",
                                       L"Text7=", L"Text8="}));
}

TEST_F(Form1Test, RefusedTextIsReportedAndEveryBoxKeepsItsText) {
  start(line("Acme", "a"));
  const std::string before = read_file(path());
  fill_boxes(L"New~~Name", L"n");
  form->Command1_Click();
  ASSERT_EQ(services.errors.size(), 1u);
  EXPECT_NE(services.errors[0].find(L"Product Name"), std::wstring::npos);
  EXPECT_EQ(combo.text(), L"New~~Name");
  EXPECT_EQ(text3.text(), L"n 2");

  fill_boxes(L"Acme", L"n");
  text7.type(L"2024-01-15~");
  form->Command2_Click();
  ASSERT_EQ(services.errors.size(), 2u);
  EXPECT_NE(services.errors[1].find(L"Date Joined"), std::wstring::npos);
  EXPECT_EQ(read_file(path()), before);
}

TEST_F(Form1Test, AFailedEditIsReportedAndTheWindowKeepsEverything) {
  start(line("Acme", "a"));
  const std::string before = read_file(path());
  files.fail(Step::replace);
  for (const auto press :
       {&Form1::Command1_Click, &Form1::Command2_Click, &Form1::Command3_Click}) {
    fill_boxes(L"Acme", L"f");
    (form.get()->*press)();
    EXPECT_EQ(combo.text(), L"Acme");
    EXPECT_EQ(text8.text(), L"f 7");
  }
  ASSERT_EQ(services.errors.size(), 3u);
  for (const auto& error : services.errors) {
    EXPECT_NE(error.find(L"injected replace failure"), std::wstring::npos);
  }
  EXPECT_EQ(read_file(path()), before);
  EXPECT_EQ(form->store().count(), 1u);
}

TEST_F(Form1Test, TheTrayIconComesAfterTheLoadAndGoesAtTheEnd) {
  start(line("Acme", "a"));
  ASSERT_EQ(shell.calls.size(), 2u);
  EXPECT_EQ(shell.calls[0].call, TrayCall::add);
  EXPECT_EQ(shell.calls[1].call, TrayCall::modify);
  EXPECT_EQ(tray.record().hWnd, 0x1000u);
  EXPECT_EQ(tray.record().hIcon, 0x2000u);
  form->Form_Terminate();
  EXPECT_EQ(shell.calls.back().call, TrayCall::remove);
}

TEST_F(Form1Test, HideAndALeftButtonPressOnTheIconKeepEverything) {
  start(line("Acme", "a"));
  type(L"New");
  text3.type(L"typed");
  form->Command4_Click();
  EXPECT_FALSE(services.shown);
  for (const std::uintptr_t other : {0x0200u, 0x0202u, 0x0203u, 0x0204u, 0x0207u}) {
    form->Form_MouseMove(other);
    EXPECT_FALSE(services.shown) << other;
  }
  form->Form_MouseMove(0x0201);  // WM_LBUTTONDOWN
  EXPECT_TRUE(services.shown);
  EXPECT_EQ(combo.text(), L"New");
  EXPECT_EQ(text3.text(), L"typed");
  EXPECT_TRUE(add.enabled());
  // A press while the window is shown leaves it shown.
  form->Form_MouseMove(0x0201);
  EXPECT_TRUE(services.shown);
  EXPECT_EQ(services.restores, 2);
}

TEST_F(Form1Test, HideLeavesTheWindowShownWhenTheIconCannotBeInPlace) {
  shell.succeed = false;
  start(line("Acme", "a"));
  form->Command4_Click();
  EXPECT_TRUE(services.shown);
  ASSERT_EQ(services.errors.size(), 1u);

  // The shell restarts and takes the icon: hiding works again.
  shell.succeed = true;
  form->Form_TaskbarCreated();
  EXPECT_EQ(shell.calls.back().call, TrayCall::add);
  form->Command4_Click();
  EXPECT_FALSE(services.shown);
}

TEST_F(Form1Test, TheDateCheckRefusesOnlyTextThatIsNotADate) {
  struct Case {
    std::wstring text;
    bool refused;
    bool asked;  // whether the date test saw the text
  };
  const Case cases[] = {
      {L"", false, false},  // an empty box always passes, untested
      {L"2024-01-15", false, true}, {L"1/15/2024", false, true}, {L"hello", true, true},
      {L"   ", true, true},  // blanks are not empty: they go through the test
      {L"12", true, true},
  };
  start(line("Acme", "a"));
  for (const Case& c : cases) {
    services.messages.clear();
    services.dates_asked.clear();
    log.clear();
    text7.type(c.text);
    form->Text7_LostFocus();
    EXPECT_EQ(text7.text(), c.text);
    EXPECT_EQ(services.dates_asked.size(), c.asked ? 1u : 0u) << c.text.size();
    if (c.refused) {
      EXPECT_EQ(services.messages, std::vector<std::wstring>{L"Invalid date"});
      EXPECT_EQ(log, std::vector<std::wstring>{L"Text7 focus"});
    } else {
      EXPECT_TRUE(services.messages.empty());
      EXPECT_TRUE(log.empty());
    }
  }
}

TEST(Notes, LineBreaksBecomeLineFeedsAndBack) {
  struct Case {
    std::wstring box, stored;
  };
  const Case cases[] = {
      {L"", L""},         {L"one", L"one"}, {L"one\r\ntwo", L"one\ntwo"}, {L"\r\n\r\n", L"\n\n"},
      {L"a\rb", L"a\nb"},  // a lone CR is a line break too
  };
  for (const Case& c : cases) {
    EXPECT_EQ(notes_from_box(c.box), c.stored);
    if (c.box.find(L"\r\n") != std::wstring::npos || c.box.find(L'\r') == std::wstring::npos) {
      EXPECT_EQ(notes_to_box(c.stored), c.box);
    }
  }
}

}  // namespace
}  // namespace perlwick
