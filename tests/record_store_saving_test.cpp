// The record store where the folder refuses new files, where the file is read-only,
// beside other copies of the program, and after edits that were interrupted.

#include <gtest/gtest.h>

#include <future>
#include <random>
#include <thread>

#include "record_store_fixture.h"
#include "store/pending_save.h"

namespace perlwick::testing {
namespace {

// So is a file where a new file cannot be given the records file's protection.
TEST_F(RecordStoreTest, AFolderThatRefusesNewFilesGetsTheFileRewrittenInPlace) {
  for (const Failure refusal : {Failure::refused, Failure::unprotected}) {
    write_file(path(), line("ALPHA") + line("Delta"));
    std::filesystem::permissions(path(), std::filesystem::perms(0640));
    const auto identity = std::filesystem::status(path()).permissions();
    FaultyFileSystem files;
    files.refuse_new_files(refusal);
    RecordStore store = open(files);
    ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);

    ASSERT_TRUE(store.add(make(L"beta")).ok());
    EXPECT_EQ(contents(), line("ALPHA") + line("beta") + line("Delta"));
    ASSERT_TRUE(store.update(make(L"BETA", L"n")).ok());
    EXPECT_EQ(contents(), line("ALPHA") + line("BETA", "n") + line("Delta"));
    ASSERT_TRUE(store.remove(L"alpha").ok());
    ASSERT_TRUE(store.remove(L"delta").ok());
    EXPECT_EQ(contents(), line("BETA", "n"));

    EXPECT_EQ(store.count(), 1u);
    EXPECT_EQ(std::filesystem::status(path()).permissions(), identity);
    EXPECT_EQ(dir_.file_count(), 1u);
    EXPECT_EQ(pending_copies(), 0u);
    EXPECT_GT(files.calls(Step::open), 0);
  }
}

// Whatever step of a rewrite in place fails, the records file keeps its content and no
// copy is left.
TEST_F(RecordStoreTest, AFailedRewriteInPlaceChangesNothing) {
  struct Case {
    Step step;
    bool in_records_file;  // or in the copy
  };
  const Case cases[] = {
      {Step::create, false},
      {Step::write, false},
      {Step::open, true},
      {Step::write, true},  // the old content is put back
  };
  const std::string before = line("Acme") + line("Beta");
  for (const Case& c : cases) {
    // The new name sorts first, in the middle and last: a write cut short leaves the old
    // content changed from there on, and only putting it back restores it.
    for (const wchar_t* name : {L"Aardvark", L"Alpha", L"New"}) {
      SCOPED_TRACE(static_cast<int>(c.step) * 10 + c.in_records_file);
      write_file(path(), before);
      FaultyFileSystem files;
      RecordStore store = loaded_refusing_new_files(files);
      files.fail(c.step, 1, 0, c.in_records_file ? path() : std::filesystem::path());
      const Status status = store.add(make(name));
      ASSERT_FALSE(status.ok());
      EXPECT_NE(text_of(status).find(L"Nothing was saved"), std::wstring::npos);
      EXPECT_EQ(contents(), before);
      EXPECT_EQ(pending_copies(), 0u);
      EXPECT_EQ(store.count(), 2u);
    }
  }
}

// The program can be ended at any moment of a rewrite in place. Started again, it finds
// the records file holding exactly the old or exactly the new content, and no copy.
TEST_F(RecordStoreTest, ARewriteInPlaceEndedAtAnyMomentIsFinishedOrUndoneAtTheNextStart) {
  struct Case {
    Step step;
    bool in_records_file;  // or anywhere
    bool finished;         // the new content, or else the old
  };
  const Case cases[] = {
      {Step::write, false, false},  // the copy is written in part
      {Step::open, false, true},    // the copy is complete, the records file untouched
      {Step::write, true, true},    // the records file is rewritten in part
      {Step::remove, false, true},  // the records file is rewritten, the copy not yet removed
  };
  const std::string before = line("Acme") + line("Delta");
  for (const Case& c : cases) {
    for (const std::string name : {"Aardvark", "Beta", "Zulu"}) {  // first, middle, last
      SCOPED_TRACE(static_cast<int>(c.step) * 10 + c.in_records_file);
      SCOPED_TRACE(name);
      std::vector<std::string> lines = {line("Acme"), line("Delta"), line(name)};
      std::sort(lines.begin(), lines.end());
      const std::string after = lines[0] + lines[1] + lines[2];
      write_file(path(), before);
      {
        FaultyFileSystem files;
        RecordStore store = loaded_refusing_new_files(files);
        files.crash(c.step, 0, c.in_records_file ? path() : std::filesystem::path());
        EXPECT_THROW((void)store.add(make(std::wstring(name.begin(), name.end()))),
                     testing::SimulatedCrash);
        // The copy is on the disk before the records file is touched.
        if (c.step == Step::open) {
          EXPECT_EQ(files.calls(Step::flush), 1);
        }
      }
      RecordStore restarted = open();
      const LoadResult loaded = restarted.recrefresh();
      ASSERT_EQ(loaded.outcome, LoadOutcome::loaded);
      EXPECT_EQ(text_of(loaded.message), L"");
      EXPECT_EQ(contents(), c.finished ? after : before);
      EXPECT_EQ(restarted.count(), c.finished ? 3u : 2u);
      EXPECT_EQ(pending_copies(), 0u);
    }
  }
}

// A pending copy is finished only over what its own save can have left in the records
// file (here copies as the version before wrote them, with both contents whole). One that was cut
// short or damaged goes (it was written before the records file was touched); over anything else,
// the records file stays as it is and the change is kept where the user finds it.
TEST_F(RecordStoreTest, APendingCopyIsFinishedOnlyOverWhatItsSaveLeft) {
  const std::string before = line("Acme") + line("Delta");
  const std::string after = line("Aardvark") + line("Acme") + line("Delta");
  const std::string other = line("Zulu") + line("Yankee") + line("X");
  const std::string good =
      pending_copy_header(before.size(), after.size(), fnv1a(after, fnv1a(before))) + before +
      after;
  struct Case {
    const char* what;
    std::string copy;
    std::string records;
    std::string then;  // the records file afterwards
    bool set_aside;    // the change is kept in the private folder and said
  };
  const Case cases[] = {
      {"old content", good, before, after, false},
      {"new content written over the old in part", good, after.substr(0, 20) + before.substr(20),
       after, false},
      {"new content", good, after, after, false},
      {"changed since", good, other, other, true},
      {"changed since, by one byte", good, "B" + before.substr(1), "B" + before.substr(1), true},
      {"the old content and bytes of neither, within the new size", good, before + "XYZ",
       before + "XYZ", true},
      {"the new size, with zeros where the new bytes did not reach the disk", good,
       before + std::string(after.size() - before.size(), '\0'), after, false},
      {"a wrong checksum", good.substr(0, good.size() - 1) + "?", before, before, false},
      {"cut short", good.substr(0, good.size() - 3), before, before, false},
      {"a wrong length",
       pending_copy_header(before.size(), after.size() - 1, fnv1a(after, fnv1a(before))) + before +
           after,
       before, before, false},
      {"not ours", "something else\r\n", before, before, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_file(path(), c.records);
    write_file(pending_copy_path(private_.path(), path()), c.copy);
    RecordStore store = open();
    const LoadResult loaded = store.recrefresh();
    ASSERT_EQ(loaded.outcome, LoadOutcome::loaded);
    EXPECT_EQ(contents(), c.then);
    EXPECT_EQ(store.table().bytes(), c.then);
    EXPECT_EQ(pending_copies(), 0u);
    const std::filesystem::path aside = private_.file("records (unfinished change 1).txt");
    EXPECT_EQ(std::filesystem::exists(aside), c.set_aside);
    EXPECT_EQ(text_of(loaded.message).find(aside.wstring()) != std::wstring::npos, c.set_aside);
    if (c.set_aside && c.copy == good) {
      EXPECT_EQ(read_file(aside), after);
    }
    std::filesystem::remove(aside);
  }
}

// A pending copy keeps the content after and what rebuilds the content before exactly,
// whatever the change kept of it; a copy with any byte changed, or cut short anywhere, is
// not taken for a complete one.
TEST(PendingCopy, RebuildsTheContentBeforeAndTellsADamagedCopy) {
  const std::string before = line("Acme") + line("Beta") + line("Delta");
  const std::string added = line("Aardvark");
  const std::string_view old = before;
  const std::size_t acme = line("Acme").size();
  const std::size_t beta = line("Beta").size();
  const std::vector<std::string_view> changes[] = {
      {added, old},                                           // a record added first
      {old.substr(0, acme), old.substr(acme + beta)},         // one deleted
      {old.substr(0, acme), added, old.substr(acme + beta)},  // one replaced
      {added},                                                // nothing kept: a whole new table
  };
  for (const std::vector<std::string_view>& after : changes) {
    const PendingCopyPieces pieces = pending_copy(before, after);
    std::string copy = pieces.header;
    for (const std::string_view piece : pieces.content) copy += piece;
    std::string joined;
    for (const std::string_view piece : after) joined += piece;
    std::string rebuilt;
    const PendingCopy read = read_pending_copy(copy, rebuilt);
    ASSERT_EQ(read.state, PendingCopy::State::complete);
    EXPECT_EQ(read.before, before);
    EXPECT_EQ(read.after, joined);
    for (std::size_t at = 0; at < copy.size(); at += 3) {
      std::string changed = copy;
      changed[at] = static_cast<char>(changed[at] ^ 1);
      std::string scratch;
      EXPECT_NE(read_pending_copy(changed, scratch).state, PendingCopy::State::complete) << at;
      EXPECT_NE(read_pending_copy(copy.substr(0, at), scratch).state, PendingCopy::State::complete)
          << at;
    }
  }
}

TEST_F(RecordStoreTest, NoRecordsFileInAFolderThatRefusesNewFilesIsExplained) {
  FaultyFileSystem files;
  files.refuse_new_files();
  RecordStore store = open(files);
  const Status status = store.add(make(L"Acme"));
  ASSERT_FALSE(status.ok());
  for (const wchar_t* says : {L"does not exist", L"only administrators", L"installer",
                              L"as administrator", L"Nothing was saved"}) {
    EXPECT_NE(text_of(status).find(says), std::wstring::npos) << says;
  }
  EXPECT_EQ(dir_.file_count(), 0u);
}

TEST_F(RecordStoreTest, AReadOnlyRecordsFileIsNeverChanged) {
  write_file(path(), line("Acme"));
  std::filesystem::permissions(path(), std::filesystem::perms(0444));
  RecordStore store = open();
  ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
  for (const Status& status :
       {store.add(make(L"New")), store.update(make(L"Acme", L"x")), store.remove(L"Acme")}) {
    ASSERT_FALSE(status.ok());
    EXPECT_NE(text_of(status).find(L"marked read-only"), std::wstring::npos);
  }
  std::filesystem::permissions(path(), std::filesystem::perms(0644));
  EXPECT_EQ(contents(), line("Acme"));
  EXPECT_EQ(dir_.file_count(), 1u);
}

// Another copy of the program, or another program, changed the file in whatever way: the
// next edit starts from what the file holds now.
TEST_F(RecordStoreTest, AnEditStartsFromWhatTheFileHoldsNow) {
  const std::string acme = line("Acme");
  const std::string beta = line("Beta");
  for (const std::string& now : {acme + beta + line("Gamma"), acme /* cut at its end */,
                                 acme + line("Bets"), std::string(), acme + beta}) {
    write_file(path(), acme + beta);
    RecordStore store = open();
    ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
    write_file(path(), now);
    ASSERT_TRUE(store.add(make(L"Zulu")).ok());
    EXPECT_EQ(contents(), now + line("Zulu"));
  }
  // A backup of the same size put back with its time kept, long after the file was read:
  // another file all the same.
  const auto long_ago = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
  write_file(path(), acme + beta);
  std::filesystem::last_write_time(path(), long_ago);
  RecordStore store = open();
  ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
  write_file(dir_.file("backup"), acme + line("Bets"));
  std::filesystem::last_write_time(dir_.file("backup"), long_ago);
  std::filesystem::rename(dir_.file("backup"), path());
  ASSERT_TRUE(store.add(make(L"Zulu")).ok());
  EXPECT_EQ(contents(), acme + line("Bets") + line("Zulu"));
}

TEST_F(RecordStoreTest, TwoCopiesOfTheProgramDoNotLoseEachOthersChanges) {
  write_file(path(), line("Acme"));
  RecordStore first = open();
  RecordStore second = open();
  ASSERT_EQ(first.recrefresh().outcome, LoadOutcome::loaded);
  ASSERT_EQ(second.recrefresh().outcome, LoadOutcome::loaded);

  ASSERT_TRUE(first.add(make(L"Beta")).ok());
  ASSERT_TRUE(second.add(make(L"Gamma")).ok());
  EXPECT_EQ(contents(), line("Acme") + line("Beta") + line("Gamma"));
  ASSERT_TRUE(first.update(make(L"GAMMA", L"edited")).ok());
  ASSERT_TRUE(second.remove(L"acme").ok());
  EXPECT_EQ(contents(), line("Beta") + line("GAMMA", "edited"));
  EXPECT_EQ(second.count(), 2u);
}

// Another copy of the program holding the edit lock, in a thread of its own.
class OtherCopySaving {
 public:
  OtherCopySaving(const std::filesystem::path& records, const std::filesystem::path& folder) {
    holder_ = std::thread([this, records, folder] {
      std::unique_ptr<EditLock> lock;
      (void)native_file_system().lock(records_file_key(records), folder,
                                      std::chrono::milliseconds(5000), lock);
      taken_.set_value(lock != nullptr);
      done_.get_future().wait();
    });
    EXPECT_TRUE(taken_.get_future().get());
  }
  ~OtherCopySaving() {
    done_.set_value();
    holder_.join();
  }

 private:
  std::promise<bool> taken_;
  std::promise<void> done_;
  std::thread holder_;
};

// Two copies adding at the same moment: every add that reports success is in the file.
TEST_F(RecordStoreTest, TwoCopiesSavingAtOnceLoseNothing) {
  write_file(path(), line("Acme"));
  const auto copy = [this](char tag) {
    RecordStore store = open();
    int saved = 0;
    for (int i = 0; i < 40; ++i) {
      saved +=
          store.add(make(std::wstring(1, static_cast<wchar_t>(tag)) + std::to_wstring(i))).ok();
    }
    return saved;
  };
  auto first = std::async(std::launch::async, copy, 'a');
  auto second = std::async(std::launch::async, copy, 'b');
  EXPECT_EQ(first.get() + second.get(), 80);

  RecordStore reader = open();
  ASSERT_EQ(reader.recrefresh().outcome, LoadOutcome::loaded);
  EXPECT_EQ(reader.count(), 81u);
  for (const char tag : {'a', 'b'}) {
    for (int i = 0; i < 40; ++i) {
      const std::wstring name = std::wstring(1, static_cast<wchar_t>(tag)) + std::to_wstring(i);
      EXPECT_LT(reader.table().last_match(name_key(name)), reader.count()) << i;
    }
  }
}

TEST_F(RecordStoreTest, AnEditWaitsABoundedTimeForAnotherCopyThatIsSaving) {
  write_file(path(), line("Acme"));
  RecordStore store = open();
  ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
  store.set_lock_wait(std::chrono::milliseconds(50));
  {
    OtherCopySaving other(path(), private_.path());
    const Status status = store.add(make(L"Beta"));
    ASSERT_FALSE(status.ok());
    EXPECT_NE(text_of(status).find(L"Another copy of Perlwick is saving"), std::wstring::npos);
    EXPECT_EQ(contents(), line("Acme"));
    // Catching up does not wait for it.
    EXPECT_EQ(store.catch_up().outcome, LoadOutcome::loaded);
  }
  ASSERT_TRUE(store.add(make(L"Beta")).ok());
  EXPECT_EQ(contents(), line("Acme") + line("Beta"));
}

// What an edit ended from outside left beside the records file goes at the next start,
// but not while another copy is saving (and may be writing it).
TEST_F(RecordStoreTest, LeftoversOfInterruptedEditsGoWhenNoOtherCopyIsSaving) {
  write_file(path(), line("Acme"));
  const std::filesystem::path leftover = dir_.file("records.txt.tmp-4242-7");
  write_file(leftover, line("Acme") + line("half"));
  RecordStore store = open();
  store.set_lock_wait(std::chrono::milliseconds(50));
  {
    OtherCopySaving other(path(), private_.path());
    EXPECT_EQ(store.recrefresh().outcome, LoadOutcome::failed);
    EXPECT_TRUE(std::filesystem::exists(leftover));
  }
  ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
  EXPECT_FALSE(std::filesystem::exists(leftover));
  EXPECT_EQ(dir_.file_count(), 1u);
}

// A new file is named complete only once it is on the disk. Without a records file, the
// newest complete one becomes the records file; one that may be incomplete is never
// deleted, but kept and said. With a records file, they are edits that did not happen.
TEST_F(RecordStoreTest, WhatAnInterruptedSwapLeftIsNeverDeletedAsTheOnlyCopy) {
  struct Case {
    const char* what;
    std::optional<std::string> records;
    std::vector<std::pair<const char*, std::string>> beside;
    std::optional<std::string> then;  // the records file afterwards
    const char* kept;                 // what is kept under a name of its own
  };
  const std::string acme = line("Acme");
  const std::string both = line("Acme") + line("Beta");
  const Case cases[] = {
      {"records file there",
       acme,
       {{"records.txt.tmp-1-0", both}, {"records.txt.new-2-0", both}},
       acme,
       nullptr},
      {"only a complete one", std::nullopt, {{"records.txt.new-1-0", both}}, both, nullptr},
      {"complete and incomplete",
       std::nullopt,
       {{"records.txt.new-1-0", both}, {"records.txt.tmp-2-0", acme}},
       both,
       nullptr},
      {"only an incomplete one",
       std::nullopt,
       {{"records.txt.tmp-1-0", both}},
       std::nullopt,
       "records (unfinished save 1).txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(path());
    if (c.records) write_file(path(), *c.records);
    for (const auto& [name, content] : c.beside) write_file(dir_.file(name), content);
    RecordStore store = open();
    const LoadResult loaded = store.recrefresh();
    EXPECT_EQ(loaded.outcome, c.then ? LoadOutcome::loaded : LoadOutcome::missing);
    EXPECT_EQ(std::filesystem::exists(path()) ? std::optional(contents()) : std::nullopt, c.then);
    EXPECT_EQ(dir_.file_count(), (c.then ? 1u : 0u) + (c.kept ? 1u : 0u));
    if (c.kept) {
      EXPECT_EQ(read_file(dir_.file(c.kept)), both);
      EXPECT_NE(text_of(loaded.message).find(dir_.file(c.kept).wstring()), std::wstring::npos);
      std::filesystem::remove(dir_.file(c.kept));
    } else {
      EXPECT_EQ(text_of(loaded.message), L"");
    }
  }
}

// The file that takes the records file's place has its owner and permissions: passwords
// are never open to more accounts than the records file lets in.

}  // namespace
}  // namespace perlwick::testing
