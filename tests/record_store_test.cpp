// The record store against real files: the edits' exact results, and what happens when
// the file system fails, when the file holds damage, and when another copy of the
// program changes the file meanwhile.

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <random>
#include <stdexcept>
#include <thread>

#include "allocation_failure.h"
#include "store/pending_save.h"
#include "store/record_store.h"
#include "test_files.h"
#include "window/messages.h"

namespace perlwick {
namespace {

using testing::FaultyFileSystem;
using testing::read_file;
using testing::Step;
using testing::TempDir;
using testing::write_file;

Record make(std::wstring name, std::wstring notes = L"") {
  return {std::move(name), L"http://u", L"http://l",   L"user",
          L"pw",           L"10",       L"2024-01-15", std::move(notes)};
}

std::string line(const std::string& name, const std::string& notes = "") {
  return name + "~~http://u~~http://l~~user~~pw~~10~~2024-01-15~~" + notes + "\r\n";
}

class RecordStoreTest : public ::testing::Test {
 protected:
  std::filesystem::path path() const { return dir_.file("records.txt"); }
  std::string contents() const { return read_file(path()); }
  // A store whose private folder is the test's own.
  RecordStore open(FileSystem& files = native_file_system()) const {
    return RecordStore(path(), files, private_.path());
  }
  // A store over the file as it is now, in a folder that refuses new files.
  RecordStore loaded_refusing_new_files(FaultyFileSystem& files) const {
    files.refuse_new_files();
    RecordStore store = open(files);
    EXPECT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
    return store;
  }
  // Copies of new content kept in the private folder for a rewrite in place.
  std::size_t pending_copies() const {
    return native_file_system().files_starting_with(private_.path(), L"pending-save").size();
  }

  TempDir dir_;
  TempDir private_;
};

TEST_F(RecordStoreTest, MissingFileLoadsNothingAndAddCreatesIt) {
  RecordStore store = open();
  EXPECT_EQ(store.recrefresh().outcome, LoadOutcome::missing);
  EXPECT_EQ(store.count(), 0u);
  ASSERT_TRUE(store.add(make(L"Acme")).ok());
  EXPECT_EQ(contents(), line("Acme"));
  EXPECT_EQ(store.count(), 1u);
  EXPECT_EQ(store.table().record(0), make(L"Acme"));
}

TEST_F(RecordStoreTest, EditsRewriteTheFileAndReloadIt) {
  write_file(path(), line("ALPHA") + line("Delta"));
  RecordStore store = open();
  ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);

  ASSERT_TRUE(store.add(make(L"beta")).ok());
  EXPECT_EQ(contents(), line("ALPHA") + line("beta") + line("Delta"));

  Record changed = make(L"Beta", L"first\nsecond");
  changed[4] = L"secret";
  ASSERT_TRUE(store.update(changed).ok());
  EXPECT_EQ(contents(),
            line("ALPHA") +
                "Beta~~http://u~~http://l~~user~~secret~~10~~2024-01-15~~first\nsecond\r\n" +
                line("Delta"));
  EXPECT_EQ(store.table().record(1), changed);

  ASSERT_TRUE(store.remove(L"alpha").ok());
  EXPECT_EQ(store.count(), 2u);
  ASSERT_TRUE(store.remove(L"BETA").ok());
  ASSERT_TRUE(store.remove(L"delta").ok());
  EXPECT_EQ(contents(), "");
  EXPECT_EQ(store.count(), 0u);
}

TEST_F(RecordStoreTest, UpdateAndDeleteMatchEveryCaseOfTheName) {
  write_file(path(), line("ACME", "1") + line("Other") + line("Acme", "2"));
  RecordStore store = open();
  ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
  ASSERT_TRUE(store.update(make(L"Acme", L"same")).ok());
  EXPECT_EQ(contents(), line("Acme", "same") + line("Other") + line("Acme", "same"));
  ASSERT_TRUE(store.remove(L"aCmE").ok());
  EXPECT_EQ(contents(), line("Other"));
}

TEST_F(RecordStoreTest, ARecordThatCannotBeStoredIsRefusedAndNothingIsWritten) {
  write_file(path(), line("Acme"));
  RecordStore store = open();
  ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
  const Record refused[] = {make(L"A~~B"), make(L"Acme", L"x\r\ny"), make(L"\u6F22")};
  for (const Record& record : refused) {
    EXPECT_FALSE(store.add(record).ok());
    EXPECT_FALSE(store.update(record).ok());
  }
  Record trailing = make(L"Acme");
  trailing[2] = L"http://x/~";
  const Status status = store.update(trailing);
  ASSERT_FALSE(status.ok());
  EXPECT_NE(text_of(status).find(L"Affiliate Link"), std::wstring::npos);
  EXPECT_EQ(contents(), line("Acme"));
  EXPECT_EQ(dir_.file_count(), 1u);
}

// Every step of a rewrite can fail; each time the records file, the table and the folder
// stay exactly as they were, and the message says what failed and why.
TEST_F(RecordStoreTest, AFailedRewriteChangesNothing) {
  struct Case {
    Step step;
    std::wstring_view says;
  };
  const Case cases[] = {
      {Step::create, L"could not be created beside"},
      {Step::write, L"writing"},
      {Step::flush, L"flushing"},
      {Step::close, L"closing"},
      {Step::replace, L"could not be replaced"},
  };
  const std::string before = line("Acme") + line("Beta");
  for (const Case& c : cases) {
    write_file(path(), before);
    FaultyFileSystem files;
    RecordStore store = open(files);
    ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
    files.fail(c.step);
    for (const Status& status :
         {store.add(make(L"New")), store.update(make(L"acme")), store.remove(L"Beta")}) {
      ASSERT_FALSE(status.ok());
      EXPECT_NE(text_of(status).find(c.says), std::wstring::npos) << text_of(status).size();
      EXPECT_NE(text_of(status).find(L"injected"), std::wstring::npos);
      EXPECT_NE(text_of(status).find(L"not changed"), std::wstring::npos);
    }
    EXPECT_EQ(contents(), before);
    EXPECT_EQ(dir_.file_count(), 1u) << "a temporary file was left behind";
    ASSERT_EQ(store.count(), 2u);
    EXPECT_EQ(store.table().name(1), L"Beta");

    files.heal();
    ASSERT_TRUE(store.add(make(L"New")).ok());
    EXPECT_EQ(contents(), line("Acme") + line("Beta") + line("New"));
  }
}

TEST_F(RecordStoreTest, AFailedFirstWriteLeavesNoFile) {
  FaultyFileSystem files;
  RecordStore store = open(files);
  files.fail(Step::replace);
  EXPECT_FALSE(store.add(make(L"Acme")).ok());
  EXPECT_FALSE(std::filesystem::exists(path()));
  EXPECT_EQ(dir_.file_count(), 0u);
}

TEST_F(RecordStoreTest, AnUnreadableFileIsNeverOverwritten) {
  write_file(path(), line("Acme"));
  FaultyFileSystem files;
  RecordStore store = open(files);
  files.fail(Step::read);
  const LoadResult load = store.recrefresh();
  EXPECT_EQ(load.outcome, LoadOutcome::failed);
  EXPECT_NE(text_of(load.message).find(L"injected read failure"), std::wstring::npos);

  const Status status = store.add(make(L"Beta"));
  ASSERT_FALSE(status.ok());
  EXPECT_NE(text_of(status).find(L"Nothing was saved"), std::wstring::npos);
  EXPECT_EQ(files.calls(Step::create), 0);
  EXPECT_EQ(contents(), line("Acme"));

  // Once the file can be read again, the edit goes onto its records.
  files.heal();
  ASSERT_TRUE(store.add(make(L"Beta")).ok());
  EXPECT_EQ(contents(), line("Acme") + line("Beta"));
}

// An exception the store does not expect ends a load or an edit with a message: the
// records file and the table stay as they were, and the next edit saves.
TEST_F(RecordStoreTest, AnExceptionEndsALoadOrAnEditWithAMessage) {
  struct Case {
    Step step;
    std::exception_ptr exception;
    const wchar_t* says;
  };
  const Case cases[] = {
      {Step::read, std::make_exception_ptr(std::length_error("long")), L"too large"},
      {Step::read, std::make_exception_ptr(std::runtime_error("odd")), L"odd"},
      {Step::create, std::make_exception_ptr(std::length_error("long")), L"not changed"},
      {Step::create, std::make_exception_ptr(std::runtime_error("odd")), L"odd"},
  };
  for (const Case& c : cases) {
    write_file(path(), line("Acme"));
    FaultyFileSystem files;
    RecordStore store = open(files);
    ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
    files.throw_at(c.step, c.exception);
    const Status status =
        c.step == Step::read ? Status::failure(store.recrefresh().message) : store.add(make(L"B"));
    EXPECT_NE(text_of(status).find(c.says), std::wstring::npos) << text_of(status);
    EXPECT_EQ(store.count(), 1u);
    EXPECT_EQ(contents(), line("Acme"));
    ASSERT_TRUE(store.add(make(L"Beta")).ok());
  }
}

// An edit knows the content it wrote: it does not read the file back.
TEST_F(RecordStoreTest, TheTableTakesTheWrittenContentWithoutReadingItBack) {
  write_file(path(), line("Acme"));
  FaultyFileSystem files;
  RecordStore store = open(files);
  ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
  // The edit's own read of the records file succeeds; any read after it would fail.
  files.fail(Step::read, -1, 1);
  ASSERT_TRUE(store.add(make(L"Beta")).ok());
  EXPECT_EQ(contents(), line("Acme") + line("Beta"));
  EXPECT_EQ(store.count(), 2u);
  EXPECT_EQ(files.calls(Step::read), 2);  // one by the load, one by the edit
}

// Where the folder refuses new files, the records file itself is rewritten: the same
// file with its permissions, and nothing left behind in either folder.
TEST_F(RecordStoreTest, AFolderThatRefusesNewFilesGetsTheFileRewrittenInPlace) {
  write_file(path(), line("ALPHA") + line("Delta"));
  std::filesystem::permissions(path(), std::filesystem::perms(0640));
  const auto identity = std::filesystem::status(path()).permissions();
  FaultyFileSystem files;
  files.refuse_new_files();
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
      EXPECT_NE(text_of(status).find(L"not changed"), std::wstring::npos);
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
// file. One that was cut short or damaged goes (it was written before the records file
// was touched); over anything else, the records file stays as it is and the change is
// kept where the user finds it.
TEST_F(RecordStoreTest, APendingCopyIsFinishedOnlyOverWhatItsSaveLeft) {
  const std::string before = line("Acme") + line("Delta");
  const std::string after = line("Aardvark") + line("Acme") + line("Delta");
  const std::string other = line("Zulu") + line("Yankee") + line("X");
  const std::string good =
      pending_copy_header(before.size(), after.size(), checksum(after, checksum(before))) + before +
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
      {"a wrong checksum", good.substr(0, good.size() - 1) + "?", before, before, false},
      {"cut short", good.substr(0, good.size() - 3), before, before, false},
      {"a wrong length",
       pending_copy_header(before.size(), after.size() - 1, checksum(after, checksum(before))) +
           before + after,
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
TEST_F(RecordStoreTest, TheNewRecordsFileKeepsTheOldOnesPermissions) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows keeps access lists, not modes (and Wine makes them up from modes)";
#endif
  // 0660 is more than the usual umask lets a new file have.
  for (const auto mode : {std::filesystem::perms(0600), std::filesystem::perms(0660)}) {
    write_file(path(), line("Acme"));
    std::filesystem::permissions(path(), mode);
    RecordStore store = open();
    ASSERT_TRUE(store.add(make(L"Beta")).ok());
    EXPECT_EQ(std::filesystem::status(path()).permissions(), mode);
    EXPECT_EQ(dir_.file_count(), 1u);
  }
}

// Memory can run out at any allocation of a load or an edit: each time the store says so,
// and the records file and the table stay as they were.
TEST_F(RecordStoreTest, RunningOutOfMemoryAnywhereChangesNothing) {
  using Operation = std::function<bool(RecordStore&)>;
  const Record beta = make(L"Beta");
  const Record acme = make(L"acme", L"new");
  const std::pair<const char*, Operation> operations[] = {
      {"load", [](RecordStore& s) { return s.recrefresh().outcome == LoadOutcome::loaded; }},
      {"add", [&](RecordStore& s) { return s.add(beta).ok(); }},
      {"update", [&](RecordStore& s) { return s.update(acme).ok(); }},
      {"delete", [](RecordStore& s) { return s.remove(L"Acme").ok(); }},
  };
  const std::string before = line("Acme") + line("Delta");
  for (const auto& [what, operation] : operations) {
    SCOPED_TRACE(what);
    bool completed = false;
    for (long spared = 0; !completed && spared < 5000; ++spared) {
      write_file(path(), before);
      RecordStore store = open();
      ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
      testing::fail_allocation(spared);
      const bool ok = operation(store);
      const bool failed = testing::stop_failing_allocations();
      completed = !failed;
      if (ok) continue;
      ASSERT_TRUE(failed) << "failed without running out of memory, at " << spared;
      EXPECT_EQ(contents(), before) << spared;
      EXPECT_EQ(store.table().bytes(), before) << spared;
      EXPECT_EQ(dir_.file_count(), 1u) << spared;
    }
    EXPECT_TRUE(completed);
  }
}

TEST_F(RecordStoreTest, AFileDeletedBehindTheProgramsBackIsWrittenAgainWithEveryRecord) {
  write_file(path(), line("Acme"));
  RecordStore store = open();
  ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
  std::filesystem::remove(path());
  ASSERT_TRUE(store.add(make(L"Beta")).ok());
  EXPECT_EQ(contents(), line("Acme") + line("Beta"));
}

TEST_F(RecordStoreTest, DamagedLinesSurviveEveryEdit) {
  const std::string damaged =
      "short~~only\r\n"
      "\r\n"
      "more~~a~~b~~c~~d~~e~~f~~g~~h~~i\r"
      "tilde~~x~\r\n"
      "lf~~in\nthe~~middle~~~~~~~~~~~~";
  write_file(path(), damaged);
  RecordStore store = open();
  ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
  ASSERT_EQ(store.count(), 4u);
  EXPECT_EQ(store.table().record(1)[7], L"g~~h~~i");
  EXPECT_EQ(store.table().record(3)[1], L"in\nthe");

  ASSERT_TRUE(store.update(make(L"nothing matches")).ok());
  EXPECT_EQ(contents(),
            "short~~only\r\n"
            "more~~a~~b~~c~~d~~e~~f~~g~~h~~i\r\n"
            "tilde~~x~\r\n"
            "lf~~in\nthe~~middle~~~~~~~~~~~~\r\n");
}

TEST_F(RecordStoreTest, NoRecordCountLimit) {
  std::string bytes;
  for (int i = 0; i < 33000; ++i) bytes += line("n" + std::to_string(100000 + i));
  write_file(path(), bytes);
  RecordStore store = open();
  ASSERT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
  EXPECT_EQ(store.count(), 33000u);
  ASSERT_TRUE(store.add(make(L"zzz")).ok());
  EXPECT_EQ(store.count(), 33001u);
  EXPECT_EQ(contents(), bytes + line("zzz"));
}

// Random records that the file can hold come back exactly as they went in, and every
// line of a random file is written back as it was read.
TEST_F(RecordStoreTest, RoundTrips) {
  std::mt19937 random(20261207);
  const std::wstring alphabet = L"aAbBz~ \n\u00E9\u00C9\u20AC~~10";
  const auto random_text = [&](std::size_t max) {
    std::wstring text(random() % (max + 1), L' ');
    for (auto& c : text) c = alphabet[random() % alphabet.size()];
    return text;
  };

  RecordStore store = open();
  std::vector<Record> added;
  while (added.size() < 200) {
    Record record;
    for (auto& field : record) field = random_text(6);
    if (!check_record_text(record).ok()) continue;
    ASSERT_TRUE(store.add(record).ok());
    added.push_back(record);
  }
  RecordStore fresh = open();
  ASSERT_EQ(fresh.recrefresh().outcome, LoadOutcome::loaded);
  ASSERT_EQ(fresh.count(), added.size());
  std::vector<Record> loaded;
  for (std::size_t row = 0; row < fresh.count(); ++row) {
    loaded.push_back(fresh.table().record(row));
    if (row > 0) {
      EXPECT_LE(name_key(fresh.table().name(row - 1)), name_key(fresh.table().name(row)));
    }
  }
  std::sort(added.begin(), added.end());
  std::sort(loaded.begin(), loaded.end());
  EXPECT_EQ(loaded, added);

  // Any bytes at all: the rewrite keeps every non-empty line and ends each with CR LF.
  const std::string bytes_alphabet = "ab~\r\n\xE9\x81 ";
  for (int round = 0; round < 200; ++round) {
    std::string bytes(random() % 60, ' ');
    for (auto& b : bytes) b = bytes_alphabet[random() % bytes_alphabet.size()];
    write_file(path(), bytes);
    RecordStore again = open();
    ASSERT_EQ(again.recrefresh().outcome, LoadOutcome::loaded);
    ASSERT_TRUE(again.update(make(L"no such name")).ok());

    std::string expected, current;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] != '\r') {
        current += bytes[i];
        continue;
      }
      if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      if (!current.empty()) expected += current + "\r\n";
      current.clear();
    }
    if (!current.empty()) expected += current + "\r\n";
    EXPECT_EQ(contents(), expected);
  }
}

}  // namespace
}  // namespace perlwick
