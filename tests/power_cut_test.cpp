// The record store when the power goes, and when the file system fails, at every step.
//
// What a power cut may leave, as PowerCutFileSystem draws it. A program's writes go to the
// operating system's cache first and reach the disk later, in an order of the system's
// choosing; a cut loses what had not reached it. So, since the last flush of a file or
// sync of a folder:
// - Each write to a file is kept, lost, or kept in part, 512-byte sector by sector, each
//   independently of the others: the cache writes pages back in any order, and a sector is
//   what a disk writes whole.
// - A file's length is the one it had at its last flush or any one it has taken since,
//   and bytes that did not reach the disk within it read as zeros. NTFS logs a file's
//   length in its journal apart from the data, and a file that grew can come back at its
//   new length with zeros where its data had not been written; ext4 and XFS in their
//   default modes order data before the length, which gives no state beyond these.
// - Each change of a folder's entries (a file created, moved in or removed, a folder
//   created) is kept or undone, each on its own, applied in order; a move whose file is not
//   there (its creation was undone) is undone with it. A journaling file system keeps a
//   beginning of its changes in order (NTFS replays its log up to the last record that
//   reached the disk; ext4 commits whole transactions in order), and every such beginning
//   is one of these choices, so this asks more than either does.
// What each step promises, as the store relies on it:
// - A flush puts a file's bytes and length on the disk, and, for a file the program
//   created, its name in its folder (on Linux the store syncs the folder; NTFS's flush of
//   a file writes its journal, which holds the name, up to that point).
// - A move is on the disk when it returns (MoveFileExW with MOVEFILE_WRITE_THROUGH; on
//   Linux rename, then a sync of the folder). It is two steps here, so that a cut can fall
//   between the move and its sync.
// - A folder the program creates is on the disk, in the folder above it, when it returns.
// - A removal is not synced: a cut can bring the removed file back.
// A write that reached the disk before the call that wrote it returned, or a lie of the
// disk about its own cache, cannot be drawn; DESIGN notes say what else this cannot show.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "power_cut_file_system.h"
#include "record_store_fixture.h"
#include "store/pending_save.h"

namespace perlwick::testing {
namespace {

const std::filesystem::path kRecordsFolder = "/c";
const std::filesystem::path kRecords = kRecordsFolder / "records.txt";
const std::filesystem::path kLocal = "/users/me/local";
const std::filesystem::path kPrivate = kLocal / "Perlwick";

enum class Edit { add, update, remove };

// A table of rows records, in order; each spans a sector or so.
std::string rows_of(std::size_t rows) {
  std::string content;
  for (std::size_t row = 0; row < rows; ++row) {
    const std::string n = std::to_string(1000 + row * 2);
    content += line("R" + n, std::string(300 + row % 7 * 50, static_cast<char>('a' + row % 26)));
  }
  return content;
}

// One edit of a table of rows records (in the middle of it), made in place where the
// folder refuses new files.
struct Scenario {
  std::size_t rows;
  Edit edit;
  bool in_place;
  bool file_exists = true;
};

std::string describe(const Scenario& s) {
  static const char* const kEdits[] = {"add", "update", "delete"};
  return std::string(kEdits[static_cast<int>(s.edit)]) + " with " + std::to_string(s.rows) +
         " rows" + (s.in_place ? ", in place" : ", new file moved in") +
         (s.file_exists ? "" : ", no records file");
}

Status run(RecordStore& store, const Scenario& s) {
  const std::string middle = "R" + std::to_string(1000 + s.rows / 2 * 2);
  switch (s.edit) {
    case Edit::add:
      return store.add(make(L"R" + std::to_wstring(1001 + s.rows / 2 * 2), L"added"));
    case Edit::update:
      return store.update(make(std::wstring(middle.begin(), middle.end()), L"updated"));
    case Edit::remove:
      return store.remove(std::wstring(middle.begin(), middle.end()));
  }
  return Status();
}

Disk start_of(const Scenario& s) {
  Disk disk;
  disk.folders = {kRecordsFolder, kLocal};
  if (s.file_exists) disk.files[kRecords] = rows_of(s.rows);
  return disk;
}

// A store on the disk that waits for held files without pausing.
RecordStore store_on(PowerCutFileSystem& files) {
  RecordStore store(kRecords, files, kPrivate);
  store.set_patience(std::chrono::milliseconds(2000), [](std::chrono::milliseconds) {});
  return store;
}

// The records files a start may find: those from before or after an edit (none: no
// records file).
using Outcomes = std::vector<std::optional<std::string>>;

bool one_of(const Outcomes& outcomes, const std::optional<std::string>& records) {
  return std::find(outcomes.begin(), outcomes.end(), records) != outcomes.end();
}

// The disk and the program on it, whose records folder may refuse new files.
class Machine {
 public:
  explicit Machine(bool refusing) : refusing_(refusing) {}

  std::unique_ptr<PowerCutFileSystem> boot(const Disk& disk) const {
    auto files = std::make_unique<PowerCutFileSystem>(disk, kPrivate);
    if (refusing_) files->refuse_new_files_in(kRecordsFolder);
    return files;
  }

  // The program starts on disk: it finds one of the records files it may, nothing beside
  // it or in its folder but what it says it set aside, and saves its next edit. Given
  // random, the start is first cut at every step, and the program started again.
  void start_again(const Disk& disk, const Outcomes& may_find, std::mt19937_64* random,
                   int* cuts) const {
    if (random != nullptr && leaves_something(disk)) {
      for (int at = 0;; ++at) {
        const auto files = boot(disk);
        RecordStore store = store_on(*files);
        files->cut_before(at);
        try {
          (void)store.recrefresh();
        } catch (const PowerCut&) {
        }
        if (!files->is_cut()) break;
        SCOPED_TRACE("and its start cut before step " + std::to_string(at));
        start_again(files->after_cut(*random), may_find, nullptr, nullptr);
        ++*cuts;
      }
    }
    const auto files = boot(disk);
    RecordStore store = store_on(*files);
    const LoadResult loaded = store.recrefresh();
    ASSERT_NE(loaded.outcome, LoadOutcome::failed) << text_of(loaded.message);
    check_found(*files, store, may_find, text_of(loaded.message));
  }

  // Fails every step of a start on disk in turn, with each kind of failure: the start
  // finds one of the records files it may, or says why it cannot and keeps no records; a
  // start after it finds one. Returns the number of failures.
  int fail_every_step_of_a_start(const Disk& disk, const Outcomes& may_find) const {
    const auto dry = boot(disk);
    RecordStore dry_store = store_on(*dry);
    (void)dry_store.recrefresh();
    int failures = 0;
    for (int at = 0; at < dry->steps(); ++at) {
      for (const Failure kind : kKinds) {
        SCOPED_TRACE("failure " + std::to_string(static_cast<int>(kind)) + " at step " +
                     std::to_string(at));
        ++failures;
        const auto files = boot(disk);
        files->fail_at(at, kind);
        RecordStore store = store_on(*files);
        const LoadResult first = store.recrefresh();
        std::wstring said = text_of(first.message);
        if (first.outcome == LoadOutcome::failed) {
          EXPECT_NE(said, L"");
          EXPECT_EQ(store.count(), 0u);
          const LoadResult second = store.recrefresh();
          EXPECT_NE(second.outcome, LoadOutcome::failed) << text_of(second.message);
          said += text_of(second.message);
        }
        check_found(*files, store, may_find, said, true);
        if (::testing::Test::HasFailure()) {
          std::printf("The steps:\n%s", dry->steps_taken().c_str());
          return failures;
        }
      }
    }
    return failures;
  }

  static constexpr Failure kKinds[] = {Failure::refused,        Failure::taken,  Failure::busy,
                                       Failure::held,           Failure::denied, Failure::full,
                                       Failure::gone,           Failure::other,  Failure::too_large,
                                       Failure::write_protected};

 private:
  // Whether a start has anything to finish or set aside.
  static bool leaves_something(const Disk& disk) {
    return disk.files_in(kRecordsFolder).size() != 1 || !disk.file(kRecords) ||
           !disk.files_in(kPrivate).empty();
  }

  // The store has started: its records file is one it may find, the table holds it, and
  // the next edit saves. What is beside it was said; after a failure that kept the start
  // from seeing it, it is gone once the next edit has run.
  static void check_found(PowerCutFileSystem& files, RecordStore& store, const Outcomes& may_find,
                          const std::wstring& said, bool after_a_failure = false) {
    const std::optional<std::string> records = files.as_written().file(kRecords);
    EXPECT_TRUE(one_of(may_find, records))
        << (records ? "\"" + *records + "\"" : "no records file");
    EXPECT_EQ(store.table().bytes(), records.value_or(""));
    const auto all_said = [&] {
      const Disk now = files.as_written();
      for (const auto& folder : {kRecordsFolder, kPrivate}) {
        for (const auto& name : now.files_in(folder)) {
          if (folder / name == kRecords) continue;
          EXPECT_NE(said.find(name.wstring()), std::wstring::npos)
              << name << " left without a word; said: " << std::string(said.begin(), said.end());
        }
      }
    };
    if (!after_a_failure) all_said();
    ASSERT_TRUE(store.add(make(L"Z next")).ok());
    const std::optional<std::string> then = files.as_written().file(kRecords);
    if (after_a_failure) {
      // What the start could not finish, the edit finishes first.
      EXPECT_TRUE(std::any_of(may_find.begin(), may_find.end(), [&](const auto& found) {
        return then == found.value_or("") + line("Z next");
      }));
      all_said();
    } else {
      EXPECT_EQ(then, records.value_or("") + line("Z next"));
    }
  }

  bool refusing_;
};

class Sweep {
 public:
  explicit Sweep(const Scenario& s) : s_(s), machine_(s.in_place), start_(start_of(s)) {
    before_ = start_.file(kRecords);
    // A run to its end: the steps the edit takes, and what it leaves.
    const auto files = machine_.boot(start_);
    RecordStore store = store_on(*files);
    EXPECT_NE(store.recrefresh().outcome, LoadOutcome::failed);
    first_step_ = files->steps();
    EXPECT_TRUE(run(store, s).ok());
    last_step_ = files->steps();
    after_ = files->as_written().file(kRecords);
    steps_taken_ = files->steps_taken();
    for (int at = 0; at < last_step_; ++at) step_kinds_.push_back(files->step_taken(at));
  }

  // The disk as the power going before step `at` of the edit leaves it, were everything
  // written so far on it.
  Disk cut_before(int at) const {
    const auto files = machine_.boot(start_);
    RecordStore store = store_on(*files);
    (void)store.recrefresh();
    files->cut_before(first_step_ + at);
    try {
      (void)run(store, s_);
    } catch (const PowerCut&) {
    }
    return files->as_written();
  }
  Outcomes before_or_after() const { return {before_, after_}; }

  // The power goes at every step of the edit, several ways each, and the program starts
  // again. Returns the number of cuts.
  int cut_everywhere(int outcomes, std::mt19937_64& random) const {
    int cuts = 0;
    for (int at = first_step_; at <= last_step_; ++at) {
      const auto files = machine_.boot(start_);
      RecordStore store = store_on(*files);
      (void)store.recrefresh();
      files->cut_before(at);
      bool saved = false;
      try {
        saved = run(store, s_).ok();
      } catch (const PowerCut&) {
      }
      for (int outcome = 0; outcome < outcomes; ++outcome, ++cuts) {
        SCOPED_TRACE("cut before step " + std::to_string(at - first_step_) + ", outcome " +
                     std::to_string(outcome));
        const Disk disk = outcome == 0 ? files->as_written() : files->after_cut(random);
        // A save that said it was done is on the disk.
        machine_.start_again(disk, saved ? Outcomes{after_} : before_or_after(),
                             outcome < 2 ? &random : nullptr, &cuts);
        if (::testing::Test::HasFailure()) {
          std::printf("The steps, from %d:\n%s", first_step_, steps_taken_.c_str());
          return cuts;
        }
      }
    }
    return cuts;
  }

  // Fails every step of the edit in turn, with each kind of failure: the edit saves, or
  // says why and changes nothing; either way it leaves nothing behind, and the next edit
  // saves. Returns the number of failures.
  int fail_everywhere() const {
    int failures = 0;
    for (int at = first_step_; at < last_step_; ++at) {
      for (const Failure kind : Machine::kKinds) {
        SCOPED_TRACE("failure " + std::to_string(static_cast<int>(kind)) + " at step " +
                     std::to_string(at - first_step_));
        ++failures;
        const auto files = machine_.boot(start_);
        RecordStore store = store_on(*files);
        (void)store.recrefresh();
        files->fail_at(at, kind);
        const Status status = run(store, s_);
        const std::optional<std::string> expected = status.ok() ? after_ : before_;
        const auto left_alone = [&] {
          const Disk disk = files->as_written();
          EXPECT_EQ(disk.file(kRecords), expected);
          EXPECT_EQ(disk.files_in(kRecordsFolder).size(), expected ? 1u : 0u);
          EXPECT_EQ(disk.files_in(kPrivate).size(), 0u);
        };
        // A file that could not be removed is removed by the next edit.
        if (!files->failed_to_remove()) left_alone();
        EXPECT_EQ(store.table().bytes(), expected.value_or(""));
        if (!status.ok()) {
          EXPECT_NE(text_of(status), L"");
        }
        // A moment's hold of a file is waited out where the step did nothing.
        const std::string& step = step_kinds_[static_cast<std::size_t>(at)];
        if (kind == Failure::held &&
            (step == "read" || step == "create" || step == "open" || step == "move")) {
          EXPECT_TRUE(status.ok()) << text_of(status);
        }
        EXPECT_TRUE(store.add(make(L"Z next")).ok());
        EXPECT_EQ(files->as_written().file(kRecords), expected.value_or("") + line("Z next"));
        if (::testing::Test::HasFailure()) {
          std::printf("The steps, from %d:\n%s", first_step_, steps_taken_.c_str());
          return failures;
        }
      }
    }
    return failures;
  }

 private:
  Scenario s_;
  Machine machine_;
  Disk start_;
  std::optional<std::string> before_;
  std::optional<std::string> after_;
  int first_step_ = 0;
  int last_step_ = 0;
  std::string steps_taken_;
  std::vector<std::string> step_kinds_;
};

std::vector<Scenario> scenarios(bool in_place) {
  std::vector<Scenario> all;
  for (const std::size_t rows : {0u, 1u, 4u, 300u}) {
    for (const Edit edit : {Edit::add, Edit::update, Edit::remove}) {
      all.push_back({rows, edit, in_place});
    }
  }
  if (!in_place) all.push_back({0, Edit::add, false, false});
  return all;
}

constexpr int kOutcomes = 12;

TEST(PowerCut, AtEveryStepOfASaveThatMovesANewFileIn) {
  std::mt19937_64 random(2201);
  int cuts = 0;
  for (const Scenario& s : scenarios(false)) {
    SCOPED_TRACE(describe(s));
    cuts += Sweep(s).cut_everywhere(kOutcomes, random);
    if (HasFailure()) break;
  }
  std::printf("%d cuts\n", cuts);
}

// Each cut that leaves a change to finish also cuts the start that finishes it.
TEST(PowerCut, AtEveryStepOfARewriteInPlace) {
  std::mt19937_64 random(2202);
  int cuts = 0;
  for (const Scenario& s : scenarios(true)) {
    SCOPED_TRACE(describe(s));
    cuts += Sweep(s).cut_everywhere(kOutcomes, random);
    if (HasFailure()) break;
  }
  std::printf("%d cuts\n", cuts);
}

// The records file is missing beside complete saves (the user moved it away after a save
// was interrupted): the newest takes its place, wherever it comes in the folder's list.
Disk without_records_file() {
  Disk disk;
  disk.folders = {kRecordsFolder, kLocal};
  const std::pair<const char*, std::size_t> saves[] = {{"1", 3}, {"5", 4}, {"9", 2}};
  for (const auto& [id, rows] : saves) {
    const std::filesystem::path save = kRecordsFolder / ("records.txt.new-" + std::string(id));
    disk.files[save] = rows_of(rows);
    disk.modified[save] = static_cast<std::int64_t>(rows) * 10'000'000;
  }
  disk.files[kRecordsFolder / "records.txt.tmp-5-0"] = rows_of(5);
  return disk;
}

TEST(PowerCut, AtEveryStepOfAStartThatPutsASaveInPlace) {
  std::mt19937_64 random(2203);
  int cuts = 0;
  for (int outcome = 0; outcome < 40 && !HasFailure(); ++outcome) {
    Machine(false).start_again(without_records_file(), {rows_of(4)}, &random, &cuts);
  }
  std::printf("%d cuts\n", cuts);
}

TEST(IoError, AtEveryStepOfAnEdit) {
  int failures = 0;
  for (const bool in_place : {false, true}) {
    for (const Scenario& s : scenarios(in_place)) {
      SCOPED_TRACE(describe(s));
      failures += Sweep(s).fail_everywhere();
      if (HasFailure()) return;
    }
  }
  std::printf("%d failures\n", failures);
}

TEST(IoError, AtEveryStepOfAStart) {
  int failures = 0;
  // A start with nothing to finish; one that finishes a rewrite in place cut short, at
  // every step it can be cut at; one that puts a save in place of a missing records file.
  const Sweep clean({300, Edit::add, false});
  failures += Machine(false).fail_every_step_of_a_start(clean.cut_before(0), {rows_of(300)});
  const Sweep in_place({4, Edit::update, true});
  for (int at = 0; at < 30 && !HasFailure(); at += 3) {
    SCOPED_TRACE("a rewrite in place cut before step " + std::to_string(at));
    failures += Machine(true).fail_every_step_of_a_start(in_place.cut_before(at),
                                                         in_place.before_or_after());
  }
  failures += Machine(false).fail_every_step_of_a_start(without_records_file(), {rows_of(4)});
  // A change kept for a rewrite in place over a records file that something else has
  // changed since: it is set aside, and said, whatever fails after.
  Disk changed = in_place.cut_before(25);
  changed.files[kRecords] = rows_of(1);
  failures += Machine(true).fail_every_step_of_a_start(changed, {rows_of(1)});
  std::printf("%d failures\n", failures);
}

}  // namespace
}  // namespace perlwick::testing
