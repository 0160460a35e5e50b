// The record store beside other programs: one that holds the records file for a moment
// or for long, a records file that is a link or has several names, a record changed
// outside since the user saw it, and what each kind of failure tells the user.

#include <gtest/gtest.h>

#include <stdexcept>

#include "record_store_fixture.h"

namespace perlwick::testing {
namespace {

// A store that counts its pauses instead of taking them.
struct Patience {
  std::chrono::milliseconds waited{0};
  int waits = 0;

  void give(RecordStore& store) {
    store.set_patience(std::chrono::milliseconds(2000),
                       [this](std::chrono::milliseconds pause) { waited += pause; });
    store.on_waiting([this] { ++waits; });
  }
};

// Another program holds the records file: a moment is waited out, in about two seconds
// in all; a longer hold is said in plain words, with nothing saved.
TEST_F(RecordStoreTest, AHoldIsWaitedOutForAMomentAndSaidAfter) {
  struct Case {
    Step step;
    int tries;  // the step's calls that the hold refuses (-1: all)
    bool saved;
  };
  const Case cases[] = {
      {Step::read, 3, true},   {Step::replace, 5, true},  {Step::replace, -1, false},
      {Step::read, -1, false}, {Step::create, -1, false},  // creating beside it: not the file
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.step) * 10 + c.tries);
    write_file(path(), line("Acme"));
    FaultyFileSystem files;
    RecordStore store = open(files);
    ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
    Patience patience;
    patience.give(store);
    files.fail_as(Failure::held);
    files.fail(c.step, c.tries, 0, c.step == Step::read ? path() : std::filesystem::path());
    const Status status = store.add(make(L"Beta"));
    EXPECT_EQ(status.ok(), c.saved) << text_of(status);
    EXPECT_EQ(contents(), c.saved ? line("Acme") + line("Beta") : line("Acme"));
    EXPECT_EQ(patience.waits, 1);
    EXPECT_LE(patience.waited, std::chrono::milliseconds(2000));
    if (!c.saved) {
      EXPECT_EQ(patience.waited, std::chrono::milliseconds(2000));
      EXPECT_NE(text_of(status).find(L"another program has the records file open"),
                std::wstring::npos);
      EXPECT_EQ(dir_.file_count(), 1u);
    }
  }
}

// Every kind of failure a user can meet is said in plain words, when saving and at the
// start, with the system's own words after them.
TEST_F(RecordStoreTest, EachKindOfFailureIsSaidInPlainWords) {
  struct Case {
    Failure kind;
    std::wstring_view what;
  };
  const Case cases[] = {
      {Failure::held, L"another program has the records file open"},
      {Failure::denied, L"Windows did not let Perlwick at the records file"},
      {Failure::write_protected, L"the disk that holds the records file is write-protected"},
      {Failure::full, L"the disk is full"},
      {Failure::gone, L"the drive or the folder that holds the records file cannot be reached"},
      {Failure::too_large, L"the records file would be larger than its disk allows"},
      {Failure::other, L"Windows reported an error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.what.begin(), c.what.end()));
    write_file(path(), line("Acme"));
    FaultyFileSystem files;
    RecordStore store = open(files);
    ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
    store.set_patience(std::chrono::milliseconds(0));
    files.fail_as(c.kind);
    files.fail(Step::replace);
    const std::wstring saving = text_of(store.add(make(L"Beta")));
    EXPECT_EQ(saving.find(L"Perlwick could not save the change: " + std::wstring(c.what) + L"."),
              0u)
        << std::string(saving.begin(), saving.end());
    // The records file on a line of its own, what to do, what was kept, the details.
    for (const std::wstring& says : {L"\n" + path().wstring() + L"\n", std::wstring(L"again."),
                                     std::wstring(L"Nothing was saved, and the boxes keep"),
                                     std::wstring(L"(" + path().wstring())}) {
      EXPECT_NE(saving.find(says), std::wstring::npos) << std::string(says.begin(), says.end());
    }
    EXPECT_NE(saving.find(L"injected replace failure)"), std::wstring::npos);

    files.fail(Step::read, -1, 0, path());
    RecordStore starting = open(files);
    starting.set_patience(std::chrono::milliseconds(0));
    const LoadResult start = starting.recrefresh();
    ASSERT_EQ(start.outcome, LoadOutcome::failed);
    const std::wstring reading = text_of(start.message);
    EXPECT_EQ(reading.find(L"Perlwick could not read your records: " + std::wstring(c.what)), 0u);
    EXPECT_NE(reading.find(L"when you come back to its window"), std::wstring::npos);
  }
}

// A system's reason reads as the system gave it: Windows' words and code ("system error"
// where Windows has no words), an exception's text after what it stopped. A Windows error
// behind a failed save is said in plain words too; a message read without memory is the
// same text, or none where it would need names.
TEST(MessagesTest, ASystemsReasonIsSaidInItsOwnWords) {
  const auto windows_error = [](std::wstring words, Failure kind = Failure::other) {
    Message reason(Says::windows_error, {std::move(words), L"32"});
    reason.kind = kind;
    return reason;
  };
  const Message not_finished(
      Says::not_finished_because, {},
      {Status::failure(SystemReason::of(std::runtime_error("bad cast"))).message()});
  struct Case {
    Message message;
    std::wstring_view text;
  };
  const Case cases[] = {
      {windows_error(L""), L"system error (error 32)"},
      {windows_error(L"The process cannot access the file"),
       L"The process cannot access the file (error 32)"},
      {not_finished, L"Perlwick could not finish that: bad cast"},
      {Message(Says::not_finished), fixed_text_of(Says::not_finished)},
      {Message(Says::out_of_memory), fixed_text_of(Says::out_of_memory)},
  };
  for (const Case& c : cases) EXPECT_EQ(text_of(c.message), c.text);
  EXPECT_EQ(std::wstring_view(fixed_text_of(Says::not_finished_because)), L"");

  const std::wstring saving = text_of(
      Message(Says::nothing_saved, {L"C:\\records.txt"},
              {Message(Says::writing_failed, {L"C:\\records.txt"},
                       {windows_error(L"The process cannot access the file", Failure::held)})}));
  EXPECT_EQ(saving.find(L"Perlwick could not save the change: another program has the records "
                        L"file open."),
            0u);
  EXPECT_TRUE(saving.ends_with(L"the file (error 32))"));
}

// A rewrite in place that could not even open the records file leaves no change behind to
// be made later: the file was never touched.
TEST_F(RecordStoreTest, ARewriteInPlaceThatCouldNotOpenTheFileLeavesNoChange) {
  write_file(path(), line("Acme"));
  FaultyFileSystem files;
  RecordStore store = loaded_refusing_new_files(files);
  store.set_patience(std::chrono::milliseconds(0));
  files.fail_as(Failure::held);
  files.fail(Step::open);
  EXPECT_NE(text_of(store.add(make(L"Beta"))).find(L"another program"), std::wstring::npos);
  EXPECT_EQ(pending_copies(), 0u);
  files.heal();
  RecordStore next = open();
  EXPECT_EQ(next.recrefresh().outcome, LoadOutcome::loaded);
  EXPECT_EQ(contents(), line("Acme"));
}

// The record the user saw was changed, removed, or made part of another by line ends
// turned into LF only: Update and Delete save nothing over it, and say so; a record
// unchanged, or one never shown, is saved as ever.
TEST_F(RecordStoreTest, NothingIsSavedOverARecordChangedSinceItWasShown) {
  const std::string acme = line("Acme", "a");
  const std::string beta = line("Beta", "b");
  const std::string lf_only =
      "Acme~~http://u~~http://l~~user~~pw~~10~~2024-01-15~~a\n" +
      std::string("Beta~~http://u~~http://l~~user~~pw~~10~~2024-01-15~~b\n");
  struct Case {
    const char* what;
    std::string now;
    const wchar_t* name;
    bool saved;
  };
  const Case cases[] = {
      {"unchanged", acme + beta, L"Beta", true},
      {"another record changed", line("Acme", "x") + beta, L"Beta", true},
      {"changed", acme + line("Beta", "changed"), L"Beta", false},
      {"removed", acme, L"Beta", false},
      {"line ends turned to LF only, the first name", lf_only, L"Acme", false},
      {"line ends turned to LF only, a later name", lf_only, L"Beta", false},
  };
  for (const Case& c : cases) {
    for (const bool deleting : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (deleting ? ", delete" : ", update"));
      write_file(path(), acme + beta);
      RecordStore store = open();
      ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
      const Record shown = store.table().record(store.table().last_match(name_key(c.name)));
      write_file(path(), c.now);
      const Status status =
          deleting ? store.remove(c.name, &shown) : store.update(make(c.name, L"typed"), &shown);
      EXPECT_EQ(status.ok(), c.saved) << text_of(status);
      if (!c.saved) {
        EXPECT_EQ(status.kind(), Failure::changed);
        EXPECT_NE(text_of(status).find(L"was changed by another program or another copy of "
                                       L"Perlwick since"),
                  std::wstring::npos);
        EXPECT_EQ(contents(), c.now);
        EXPECT_EQ(store.table().bytes(), c.now);
        // Saved as ever without what was shown.
        EXPECT_TRUE((deleting ? store.remove(c.name) : store.update(make(c.name))).ok());
      }
    }
  }
}

#ifndef _WIN32
// A records file that is a symbolic link is saved at its target, and stays a link; one
// with several names is rewritten in place, and every name keeps it. What an interrupted
// save left beside the target is found there.
TEST_F(RecordStoreTest, LinksToTheRecordsFileAreKept) {
  const std::filesystem::path target = private_.file("synced.txt");
  for (const bool symbolic : {true, false}) {
    SCOPED_TRACE(symbolic ? "symbolic" : "hard");
    std::filesystem::remove(path());
    write_file(target, line("Acme"));
    if (symbolic) {
      std::filesystem::create_symlink(target, path());
      write_file(private_.file("synced.txt.tmp-1-0"), "left by an interrupted save");
    } else {
      std::filesystem::create_hard_link(target, path());
    }
    RecordStore store = open();
    ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
    ASSERT_TRUE(store.add(make(L"Beta")).ok());
    EXPECT_EQ(std::filesystem::is_symlink(path()), symbolic);
    EXPECT_EQ(std::filesystem::hard_link_count(target), symbolic ? 1u : 2u);
    EXPECT_EQ(read_file(target), line("Acme") + line("Beta"));
    EXPECT_EQ(contents(), line("Acme") + line("Beta"));
    EXPECT_FALSE(std::filesystem::exists(private_.file("synced.txt.tmp-1-0")));
    EXPECT_EQ(pending_copies(), 0u);
  }
}
#endif

}  // namespace
}  // namespace perlwick::testing
