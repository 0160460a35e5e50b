// The main window's handlers against in-memory controls: the edits with their failures,
// the tray icon and hiding, the date check and the notes' line breaks.

#include <gtest/gtest.h>

#include "form1_fixture.h"

namespace perlwick::testing {
namespace {

TEST_F(Form1Test, AddStoresTheBoxesAndChangesNothingInTheWindow) {
  start(line("ALPHA", "a") + line("Delta", "d"));
  type(L"beta");
  fill_boxes(L"beta", L"b");
  box(ids::Text8).type(L"line one\r\nline two");
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
  EXPECT_EQ(box(ids::Text8).text(), L"line one\r\nline two");
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
  EXPECT_EQ(box(ids::Text3).text(), L"n 2");

  fill_boxes(L"Acme", L"n");
  box(ids::Text7).type(L"2024-01-15~");
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
    EXPECT_EQ(box(ids::Text8).text(), L"f 7");
  }
  ASSERT_EQ(services.errors.size(), 3u);
  for (const auto& error : services.errors) {
    EXPECT_NE(error.find(L"injected replace failure"), std::wstring::npos);
  }
  EXPECT_EQ(read_file(path()), before);
  EXPECT_EQ(form->store().count(), 1u);
}

// A record changed outside since the window showed it: nothing is saved over it, the
// window shows it as it is now, and the next press saves.
TEST_F(Form1Test, ARecordChangedOutsideIsShownAgainNotOverwritten) {
  start(line("Acme", "a") + line("Beta", "b"));
  type(L"Beta");
  const std::string changed = line("Acme", "a") + line("Beta", "changed");
  write_file(path(), changed);
  box(ids::Text2).type(L"typed");
  form->Command2_Click();
  ASSERT_EQ(services.errors.size(), 1u);
  EXPECT_NE(services.errors[0].find(L"was changed by another program"), std::wstring::npos);
  EXPECT_EQ(fields(), fields_of("changed"));
  EXPECT_EQ(read_file(path()), changed);
  box(ids::Text2).type(L"typed");
  form->Command2_Click();
  EXPECT_EQ(services.errors.size(), 1u);
  EXPECT_NE(read_file(path()).find("Beta~~typed~~"), std::string::npos);
  // What it saved is what the window shows: the next press saves again.
  box(ids::Text3).type(L"again");
  form->Command2_Click();
  EXPECT_EQ(services.errors.size(), 1u);
  EXPECT_NE(read_file(path()).find("Beta~~typed~~again~~"), std::string::npos);
}

// A records file that could not be read at the start is read when the user comes back to
// the window, and what the name box holds is looked up in it.
TEST_F(Form1Test, ARecordsFileUnreadableAtTheStartIsReadWhenTheUserComesBack) {
  files.fail(Step::read);
  start(line("Acme", "a"));
  ASSERT_EQ(services.errors.size(), 1u);
  type(L"Acme");
  form->Form_Activate();
  EXPECT_EQ(form->store().count(), 0u);
  files.heal();
  form->Form_Activate();
  EXPECT_EQ(form->store().count(), 1u);
  EXPECT_EQ(fields(), fields_of("a"));
  EXPECT_EQ(services.errors.size(), 1u);
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
  box(ids::Text3).type(L"typed");
  form->Command4_Click();
  EXPECT_FALSE(services.shown);
  for (const std::uintptr_t other : {0x0200u, 0x0202u, 0x0203u, 0x0204u, 0x0207u}) {
    form->Form_MouseMove(other);
    EXPECT_FALSE(services.shown) << other;
  }
  form->Form_MouseMove(0x0201);  // WM_LBUTTONDOWN
  EXPECT_TRUE(services.shown);
  EXPECT_EQ(combo.text(), L"New");
  EXPECT_EQ(box(ids::Text3).text(), L"typed");
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
    box(ids::Text7).type(c.text);
    form->Text7_LostFocus();
    EXPECT_EQ(box(ids::Text7).text(), c.text);
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

// The Win32 side runs a control's handlers as its row in the window's table names them.
TEST_F(Form1Test, EachRowRunsItsOwnControlsHandlers) {
  start(line("Acme", "a"));
  type(L"Beta");
  form->handle(row_of(ids::Command1).on.click);  // Add
  EXPECT_EQ(form->store().count(), 2u);
  box(ids::Text2).type(L"url b");
  form->handle(row_of(ids::Command2).on.click);  // Update
  EXPECT_EQ(form->store().table().record(1)[1], L"url b");
  form->handle(row_of(ids::Command3).on.click);  // Delete
  EXPECT_EQ(form->store().count(), 1u);
  box(ids::Text7).type(L"hello");
  form->handle(row_of(ids::Text7).on.lost_focus);  // the date check
  EXPECT_EQ(services.messages, std::vector<std::wstring>{L"Invalid date"});

  const ControlEvents& name_box = row_of(ids::Combo1).on;
  RecordStore other(path(), native_file_system(), private_dir.path());
  ASSERT_TRUE(other.add({L"Delta", L"url d", L"", L"", L"", L"", L"", L""}).ok());
  form->handle(name_box.got_focus);  // catches up with the file
  EXPECT_EQ(form->store().count(), 2u);
  form->handle(name_box.drop_down);  // fills the list
  EXPECT_EQ(combo.list, (std::vector<std::wstring>{L"Acme", L"Delta"}));
  combo.type(L"delta");
  form->handle(name_box.change);  // the look-up
  EXPECT_EQ(box(ids::Text2).text(), L"url d");
  combo.type(L"x");
  form->handle(name_box.click, L"Acme");  // the choice from the list
  EXPECT_EQ(combo.text(), L"Acme");
  EXPECT_EQ(box(ids::Text2).text(), L"url a");

  form->handle(row_of(ids::Command4).on.click);  // Hide
  EXPECT_FALSE(services.shown);
  EXPECT_TRUE(services.errors.empty());
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
}  // namespace perlwick::testing
