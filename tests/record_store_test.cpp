// The record store against real files: the edits' exact results, what happens when the
// file system fails or memory runs out, and when the file holds damage.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>

#include "allocation_failure.h"
#include "record_store_fixture.h"

namespace perlwick::testing {
namespace {

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
      EXPECT_NE(text_of(status).find(L"Nothing was saved"), std::wstring::npos);
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
  // The edit's own read of the records file succeeds; any read of it after that fails.
  files.fail(Step::read, -1, 1, path());
  ASSERT_TRUE(store.add(make(L"Beta")).ok());
  EXPECT_EQ(contents(), line("Acme") + line("Beta"));
  EXPECT_EQ(store.count(), 2u);
}

// Where the folder refuses new files, the records file itself is rewritten: the same
// file with its permissions, and nothing left behind in either folder.
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
}  // namespace perlwick::testing
