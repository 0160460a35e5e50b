#include "store/record_store.h"

#include <exception>
#include <new>
#include <stdexcept>
#include <utility>

#include "store/step_times.h"

namespace perlwick {
namespace {

// File systems that keep times to the second or two (FAT keeps two) may show the same
// time for a file written twice in a row: within this of a stamp, the bytes must tell.
// Those that keep them finely (NTFS, ext4) do so to a tick of the system's clock, some
// milliseconds.
constexpr std::int64_t kCoarsestTicks = 2 * 10'000'000;
constexpr std::int64_t kFineTicks = 50 * 10'000;

}  // namespace

// The message an edit gives when it stops before it writes anything, after what it set
// aside on the way, if anything.
Status RecordStore::nothing_saved(const Status& why, std::vector<Message> notices) const {
  const bool busy = why.kind() == Failure::busy;
  notices.push_back(why.message());
  return Status::failure(Message{busy ? Says::nothing_saved_try_again : Says::nothing_saved,
                                 {records_.shown()},
                                 std::move(notices)},
                         why.kind());
}

RecordStore::RecordStore(std::filesystem::path path, FileSystem& files,
                         std::filesystem::path private_folder)
    : files_(files),
      records_(std::move(path),
               private_folder.empty() ? files.private_folder() : std::move(private_folder)) {}

void RecordStore::adopt(RecordTable table) {
  table_ = std::move(table);
  ++generation_;
}

LoadResult RecordStore::recrefresh() {
  return load(false);
}

LoadResult RecordStore::catch_up() {
  return load(true);
}

// The store's edge for loads: whatever fails, running out of memory included, is said,
// and the table stays as it was.
LoadResult RecordStore::load(bool only_if_changed) {
  // What was set aside on the way is said, whatever fails after.
  std::vector<Message> notices;
  const auto failed = [&](const Status& why) {
    notices.push_back(why.message());
    return LoadResult{LoadOutcome::failed,
                      Message{Says::not_read, {records_.shown()}, std::move(notices)}};
  };
  try {
    PERLWICK_STEPS_BEGIN();
    std::unique_ptr<EditLock> lock;
    // Catching up does not wait: the other copy's change is read at the next chance.
    if (Status locked =
            take_lock(lock, only_if_changed ? std::chrono::milliseconds(0) : lock_wait_);
        !locked.ok()) {
      if (only_if_changed && locked.kind() == Failure::busy) return {LoadOutcome::loaded, {}};
      return failed(locked);
    }
    records_.find(files_);
    // What an interrupted edit left is taken care of before the records file is read:
    // until then it may hold neither its old nor its new content, or be missing. Catching
    // up only finishes what can be finished; the next start or edit sets the rest aside
    // and says so.
    if (Status recovered = recover(only_if_changed ? nullptr : &notices); !recovered.ok()) {
      return failed(recovered);
    }
    if (!only_if_changed) seen_.reset();
    bool file_exists = false;
    if (Status read = read_if_changed(file_exists); !read.ok()) return failed(read);
    if (!only_if_changed && !file_exists) recovery_.name_saves_kept_aside(notices);
    Message notice;
    if (!notices.empty()) notice = Message{Says::paragraphs, {}, std::move(notices)};
    return {file_exists ? LoadOutcome::loaded : LoadOutcome::missing, std::move(notice)};
  } catch (const std::bad_alloc&) {
    return failed(Status::failure(Message{Says::not_enough_memory_to_read, {records_.shown()}}));
  } catch (const std::length_error&) {
    return failed(Status::failure(Message{Says::too_large_to_read, {records_.shown()}}));
  } catch (const std::exception& e) {
    return failed(unreadable(records_, Status::failure(SystemReason::of(e))));
  }
}

// Without notices (catching up), only the pending copy is finished where it can be: new
// files beside the records file may be another copy's edit in progress.
Status RecordStore::recover(std::vector<Message>* notices) {
  bool changed = false;
  if (notices != nullptr) {
    if (Status recovered = recovery_.recover_written_files(*notices, changed); !recovered.ok()) {
      return recovered;
    }
  }
  const Status finished = recovery_.finish_pending_save(notices, changed);
  if (changed) seen_.reset();
  return finished;
}

Status RecordStore::add(const Record& record) {
  return edit(&record, record[0], nullptr, [&](const RecordTable& table) {
    return table.with_added(name_key(record[0]), encode_record_line(record));
  });
}

Status RecordStore::update(const Record& record, const Record* shown) {
  return edit(&record, record[0], shown, [&](const RecordTable& table) {
    return table.with_replaced(name_key(record[0]), encode_record_line(record));
  });
}

Status RecordStore::remove(std::wstring_view name, const Record* shown) {
  return edit(nullptr, name, shown,
              [&](const RecordTable& table) { return table.without(name_key(name)); });
}

// The store's edge for edits: whatever fails, running out of memory included, is said,
// and the records file and the table stay as they were.
template <typename MakeChange>
Status RecordStore::edit(const Record* record, std::wstring_view name, const Record* shown,
                         MakeChange make_change) {
  try {
    PERLWICK_STEPS_BEGIN();
    if (record != nullptr) {
      if (Status check = check_record_text(*record); !check.ok()) return check;
    }
    std::unique_ptr<EditLock> lock;
    if (Status locked = take_lock(lock, lock_wait_); !locked.ok()) return nothing_saved(locked);
    records_.find(files_);
    PERLWICK_STEP("check and lock");
    // Windows refuses to replace a read-only file only with a vague error, and some file
    // systems do not refuse at all: the attribute is the user's wish, and it is kept.
    if (files_.is_read_only(records_.file)) {
      return nothing_saved(Status::failure(Message{Says::read_only, {records_.shown()}}));
    }
    std::vector<Message> notices;
    if (Status recovered = recover(&notices); !recovered.ok()) {
      return nothing_saved(recovered, std::move(notices));
    }
    // What was set aside is said before anything else is saved.
    if (!notices.empty()) {
      return Status::failure(Message{Says::nothing_saved, {}, std::move(notices)});
    }
    PERLWICK_STEP("read-only, unfinished save, leftovers");
    bool file_exists = false;
    if (Status fresh = read_if_changed(file_exists); !fresh.ok()) return nothing_saved(fresh);
    // The record the user saw may have been changed or removed since, by another program
    // or copy, or by line ends turned into ones the format does not read: nothing is saved
    // over a change the user has not seen.
    if (shown != nullptr) {
      const std::size_t row = table_.last_match(name_key(name));
      if (row == table_.count() || table_.record(row) != *shown) {
        return Status::failure(
            Message{Says::changed_since_shown, {std::wstring(name), records_.shown()}},
            Failure::changed);
      }
    }
    PERLWICK_STEP("catch up with the file");
    // All the memory the change needs is taken before the file is written: once it is,
    // nothing is left that could fail.
    RecordTable::Change change = make_change(table_);
    PERLWICK_STEP("make the change");
    table_.make_room(change);
    Edit made{generation_, change.kind(), change.rows()};
    PERLWICK_STEP("make room");
    if (Status written = saving_.save(table_.pieces(change), table_.bytes(), file_exists);
        !written.ok()) {
      return written;
    }
    table_.apply(change);
    PERLWICK_STEP("apply");
    last_edit_ = std::move(made);
    ++generation_;
    seen_ = files_.stamp(records_.file);
    PERLWICK_STEP("stamp");
    return Status();
  } catch (const std::bad_alloc&) {
    return Status::failure(Message{Says::not_enough_memory_to_save});
  } catch (const std::length_error&) {
    return Status::failure(Message{Says::too_large_to_save});
  } catch (const std::exception& e) {
    return Status::failure(Message{
        Says::not_saved, {records_.shown()}, {Status::failure(SystemReason::of(e)).message()}});
  }
}

Status RecordStore::take_lock(std::unique_ptr<EditLock>& lock, std::chrono::milliseconds wait) {
  const Status taken = files_.lock(records_.key, records_.private_folder, wait, lock);
  if (taken.ok()) return taken;
  if (taken.kind() == Failure::busy) {
    return Status::failure(
        Message{Says::another_copy_saving,
                {records_.shown(), std::to_wstring((wait.count() + 999) / 1000)}},
        Failure::busy);
  }
  return Status::failure(Message{Says::lock_failed, {}, {taken.message()}});
}

// Brings the table up to date with the file when the file changed since it was last read
// or written: its entry tells, and when the entry is too coarse to tell, the bytes do. A
// file that cannot be read is never overwritten; a missing one is written anew from the
// table.
Status RecordStore::read_if_changed(bool& file_exists) {
  // Taken before the read: a change after it shows in the next stamp.
  const FileStamp now = files_.stamp(records_.file);
  const std::int64_t coarseness = now.fine_times ? kFineTicks : kCoarsestTicks;
  if (seen_ && seen_->same_as(now) && seen_->taken - seen_->modified >= coarseness) {
    file_exists = now.exists;
    return Status();
  }
  // What this store knows of the file may still be all there is: compared as it is read,
  // the file takes no memory of its own.
  if (seen_) {
    const std::string_view known = table_.bytes();
    std::size_t compared = 0;
    bool same = true;
    const Status read = files_.read_each(records_.file, [&](std::string_view chunk) {
      same = known.substr(compared, chunk.size()) == chunk;
      compared += chunk.size();
      return same;
    });
    if (!read.ok() && read.kind() != Failure::missing) return unreadable(records_, read);
    file_exists = read.ok();
    if (!file_exists || (same && compared == known.size())) {
      seen_ = now;
      return Status();
    }
  }
  std::string bytes;
  const Status read = files_.read_all(records_.file, bytes);
  PERLWICK_STEP("read the whole file");
  if (!read.ok() && read.kind() != Failure::missing) return unreadable(records_, read);
  file_exists = read.ok();
  if (file_exists) adopt(RecordTable::parse(std::move(bytes)));
  PERLWICK_STEP("parse and index it");
  seen_ = now;
  return Status();
}

}  // namespace perlwick
