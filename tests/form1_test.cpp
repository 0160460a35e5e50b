// The main window's handlers against in-memory controls: start-up, the name box look-up,
// the state of "Add" and the name box's list.

#include <gtest/gtest.h>

#include "form1_fixture.h"

namespace perlwick::testing {
namespace {

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
  EXPECT_NE(services.errors[0].find(L"Perlwick could not read your records"), std::wstring::npos);
  EXPECT_NE(services.errors[0].find(L"injected read failure"), std::wstring::npos);
  EXPECT_NE(services.errors[0].find(L"shows no records"), std::wstring::npos);
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
    box(ids::Text2).type(L"left over");
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
  box(ids::Text2).type(L"kept");
  type(L"beta");
  box(ids::Text2).type(L"kept");
  add.set_enabled(true);
  form->Combo1_Click(L"gone");
  EXPECT_EQ(box(ids::Text2).text(), L"kept");
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
  // The list once many records share one name: ALPHA, ACME, Az, Beta, Beta, count rows of
  // name, then more, and Zed.
  const auto listed = [](const std::wstring& name, std::size_t count,
                         std::vector<std::wstring> more = {}) {
    std::vector<std::wstring> list = {L"ALPHA", L"ACME", L"Az", L"Beta", L"Beta"};
    list.insert(list.end(), count, name);
    list.insert(list.end(), more.begin(), more.end());
    list.push_back(L"Zed");
    return list;
  };
  Log replaced;  // the 64 items of that name, each replaced
  for (int item = 5; item < 5 + 64; ++item) {
    replaced.push_back(L"Combo1 item= " + std::to_wstring(item));
  }
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
      {"another copy's 64 records of one name",
       [&] {
         RecordStore other(path(), native_file_system(), private_dir.path());
         for (int i = 0; i < 64; ++i) {
           ASSERT_TRUE(other.add({L"Many", L"", L"", L"", L"", L"", L"", L""}).ok());
         }
         form->Combo1_GotFocus();
       },
       listed(L"Many", 64),
       {L"Combo1 list"}},
      // As many rows changed as the list follows one by one, and one more.
      {"an Update of 64 rows", [&] { update_name(L"MANY"); }, listed(L"MANY", 64), replaced},
      {"65 rows in two edits",
       [&] {
         update_name(L"many");
         add_name(L"Many");
       },
       listed(L"many", 64, {L"Many"}),
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
  EXPECT_EQ(combo.text(), L"Many");  // the typed text stays
}

// Another copy of the program saves; this one shows its records once the name box next
// takes the focus, and reads nothing when nothing changed.
// A list the window could not change holds nothing known: the failure is said, and the
// list is filled anew when it is next seen.
TEST_F(Form1Test, AListThatCouldNotBeChangedIsSaidAndFilledAnewWhenNextSeen) {
  start(line("Acme", "a"));
  combo.refuse = true;
  open_list();
  EXPECT_EQ(services.errors,
            std::vector<std::wstring>{
                L"Perlwick could not finish that: Windows could not fill the product name list."});
  combo.refuse = false;
  EXPECT_EQ(open_list(), std::vector<std::wstring>{L"Acme"});

  type(L"Beta");
  form->Command1_Click();
  combo.refuse = true;
  open_list();  // following the add fails
  EXPECT_EQ(services.errors.size(), 2u);
  combo.refuse = false;
  log.clear();
  EXPECT_EQ(open_list(), (std::vector<std::wstring>{L"Acme", L"Beta"}));
  EXPECT_EQ(log, Log{L"Combo1 list"});
}

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
  EXPECT_EQ(box(ids::Text2).text(), L"url d");
  EXPECT_FALSE(add.enabled());
}

}  // namespace
}  // namespace perlwick::testing
