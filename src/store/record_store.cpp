#include "store/record_store.h"

#include <algorithm>
#include <new>
#include <span>
#include <utility>

#include "store/pending_save.h"
#include "store/step_times.h"

namespace perlwick {
namespace {

constexpr std::wstring_view kUnchanged = L"\n\nThe records file was not changed.";
constexpr std::wstring_view kNothingSaved = L"\n\nNothing was saved.";

// The new content is written beside the records file under a name with the first part,
// and given the second once it is complete and on the disk; it then takes the records
// file's place in one step.
constexpr std::wstring_view kBeingWritten = L".tmp-";
constexpr std::wstring_view kWritten = L".new-";

// File systems that keep times to the second or two (FAT keeps two) may show the same
// time for a file written twice in a row: within this of a stamp, the bytes must tell.
constexpr std::int64_t kCoarsestTicks = 2 * 10'000'000;

// Adds a paragraph to what the user is told.
void add_notice(std::wstring& notice, const std::wstring& paragraph) {
  if (!notice.empty()) notice += L"\n\n";
  notice += paragraph;
}

// Writes parts to file from its start, ends the file there, flushes it to the disk and
// closes it. A failure names the step and the file.
Status fill(WritableFile& file, std::span<const std::string_view> parts) {
  const auto failed = [&](std::wstring_view step, const Status& failure) {
    return Status::failure(std::wstring(step) + L" " + file.path().wstring() + L" failed: " +
                           failure.message());
  };
  for (const std::string_view part : parts) {
    if (Status s = file.write(part); !s.ok()) return failed(L"writing", s);
  }
  PERLWICK_STEP("write");
  if (Status s = file.cut(); !s.ok()) return failed(L"ending", s);
  PERLWICK_STEP("end the file");
  if (Status s = file.flush(); !s.ok()) return failed(L"flushing", s);
  PERLWICK_STEP("flush");
  if (Status s = file.close(); !s.ok()) return failed(L"closing", s);
  PERLWICK_STEP("close");
  return Status();
}

}  // namespace

RecordStore::RecordStore(std::filesystem::path path, FileSystem& files,
                         std::filesystem::path private_folder)
    : path_(std::move(path)),
      files_(files),
      private_folder_(private_folder.empty() ? files.private_folder() : std::move(private_folder)),
      file_key_(records_file_key(path_)) {}

std::wstring RecordStore::display_path() const {
  return path_.wstring();
}

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

LoadResult RecordStore::load(bool only_if_changed) {
  try {
    LockResult lock;
    // Catching up does not wait: the other copy's change is read at the next chance.
    if (Status locked =
            take_lock(lock, only_if_changed ? std::chrono::milliseconds(0) : lock_wait_);
        !locked.ok()) {
      if (only_if_changed && lock.busy) return {LoadOutcome::loaded, {}};
      return {LoadOutcome::failed, locked.message()};
    }
    // What an interrupted edit left is taken care of before the records file is read:
    // until then it may hold neither its old nor its new content, or be missing. Catching
    // up only finishes what can be finished; the next start or edit sets the rest aside
    // and says so.
    std::wstring notice;
    if (!only_if_changed) {
      if (Status recovered = recover_written_files(notice); !recovered.ok()) {
        return {LoadOutcome::failed, recovered.message()};
      }
    }
    if (Status finished = finish_pending_save(only_if_changed ? nullptr : &notice);
        !finished.ok()) {
      return {LoadOutcome::failed, finished.message()};
    }
    if (!only_if_changed) seen_.reset();
    bool file_exists = false;
    if (Status read = read_if_changed(file_exists); !read.ok()) {
      return {LoadOutcome::failed, read.message()};
    }
    return {file_exists ? LoadOutcome::loaded : LoadOutcome::missing, notice};
  } catch (const std::bad_alloc&) {
    return {LoadOutcome::failed,
            L"There was not enough memory to read the records file " + display_path() + L"."};
  }
}

Status RecordStore::add(const Record& record) {
  return edit(&record, [&](const RecordTable& table) {
    return table.with_added(name_key(record[0]), encode_record_line(record));
  });
}

Status RecordStore::update(const Record& record) {
  return edit(&record, [&](const RecordTable& table) {
    return table.with_replaced(name_key(record[0]), encode_record_line(record));
  });
}

Status RecordStore::remove(std::wstring_view name) {
  return edit(nullptr, [&](const RecordTable& table) { return table.without(name_key(name)); });
}

template <typename MakeChange>
Status RecordStore::edit(const Record* record, MakeChange make_change) {
  try {
    PERLWICK_STEPS_BEGIN();
    if (record != nullptr) {
      if (Status check = check_record_text(*record); !check.ok()) return check;
    }
    LockResult lock;
    if (Status locked = take_lock(lock, lock_wait_); !locked.ok()) {
      return Status::failure(locked.message() + std::wstring(kNothingSaved) +
                             (lock.busy ? L" Try again in a moment." : L""));
    }
    PERLWICK_STEP("check and lock");
    // Windows refuses to replace a read-only file only with a vague error, and some file
    // systems do not refuse at all: the attribute is the user's wish, and it is kept.
    if (files_.is_read_only(path_)) {
      return Status::failure(L"The records file " + display_path() +
                             L" is marked read-only, so Perlwick does not change it.\n\nTo save "
                             L"changes, clear its read-only attribute (in the file's "
                             L"Properties) and try again." +
                             std::wstring(kNothingSaved));
    }
    std::wstring notice;
    if (Status recovered = recover_written_files(notice); !recovered.ok()) {
      return Status::failure(recovered.message() + std::wstring(kNothingSaved));
    }
    if (Status finished = finish_pending_save(&notice); !finished.ok()) {
      return Status::failure(finished.message() + std::wstring(kNothingSaved));
    }
    // What was set aside is said before anything else is saved.
    if (!notice.empty()) return Status::failure(notice + std::wstring(kNothingSaved));
    PERLWICK_STEP("read-only, unfinished save, leftovers");
    bool file_exists = false;
    if (Status fresh = read_if_changed(file_exists); !fresh.ok()) {
      return Status::failure(fresh.message() + std::wstring(kNothingSaved));
    }
    PERLWICK_STEP("catch up with the file");
    // All the memory the change needs is taken before the file is written: once it is,
    // nothing is left that could fail.
    RecordTable::Change change = make_change(table_);
    PERLWICK_STEP("make the change");
    table_.make_room(change);
    Edit made{generation_, change.kind(), change.rows()};
    PERLWICK_STEP("make room");
    if (Status written = write_whole_file(table_.pieces(change), file_exists); !written.ok()) {
      return written;
    }
    table_.apply(change);
    PERLWICK_STEP("apply");
    last_edit_ = std::move(made);
    ++generation_;
    seen_ = files_.stamp(path_);
    PERLWICK_STEP("stamp");
    return Status();
  } catch (const std::bad_alloc&) {
    return Status::failure(L"There was not enough memory to save the change." +
                           std::wstring(kUnchanged));
  }
}

Status RecordStore::take_lock(LockResult& lock, std::chrono::milliseconds wait) {
  lock = files_.lock(file_key_, private_folder_, wait);
  if (lock.lock) return Status();
  if (lock.busy) {
    return Status::failure(L"Another copy of Perlwick is saving to the records file " +
                           display_path() + L" and has not finished within " +
                           std::to_wstring((wait.count() + 999) / 1000) + L" seconds.");
  }
  return Status::failure(L"Could not make sure that no other copy of Perlwick is saving: " +
                         lock.reason + L".");
}

// Finishes a rewrite in place that was interrupted, from the complete copy of its content
// before and after, provided the records file holds what that rewrite can have left. A
// copy that was itself cut short was written before the records file was touched: it is
// discarded, the records file untouched. Anything else is set aside for the user, and
// notice says where, when it is given; without it, such a copy is left for later.
Status RecordStore::finish_pending_save(std::wstring* notice) {
  const std::filesystem::path copy_path = pending_copy_path(private_folder_, path_);
  if (!files_.stamp(copy_path).exists) return Status();
  std::string bytes;
  const ReadResult read = files_.read_all(copy_path, bytes);
  if (read.outcome == ReadOutcome::missing) return Status();
  if (read.outcome == ReadOutcome::failed) {
    return Status::failure(L"Could not read " + copy_path.wstring() +
                           L", which holds a change to the records file that was not finished: " +
                           read.reason + L".");
  }
  const PendingCopy copy = read_pending_copy(bytes);
  if (copy.state == PendingCopy::State::damaged) {
    files_.remove(copy_path);
    return Status();
  }
  const std::span<const std::string_view> after(&copy.after, 1);
  if (copy.state == PendingCopy::State::complete) {
    bool fits = true;
    std::uint64_t size = 0;
    const ReadResult records = files_.read_each(path_, [&](std::string_view chunk) {
      fits = copy.could_leave(size, chunk);
      size += chunk.size();
      return fits;
    });
    if (records.outcome == ReadOutcome::failed) return unreadable(records);
    if (records.outcome == ReadOutcome::missing || (fits && copy.could_leave_size(size))) {
      const Status rewritten = records.outcome == ReadOutcome::read
                                   ? rewrite_in_place(after)
                                   : write_whole_file(after, false);  // deleted meanwhile
      if (!rewritten.ok()) {
        return Status::failure(L"Could not finish saving an earlier change to the records file " +
                               display_path() + L": " + rewritten.message());
      }
      files_.remove(copy_path);
      seen_.reset();
      return Status();
    }
  }
  if (notice == nullptr) return Status();
  // The records file was changed by something else since the save was interrupted (a
  // backup put back, another account's copy of Perlwick): it stays as it is, and the
  // change's records are kept where the user finds them.
  const std::filesystem::path aside = unused_name(private_folder_, L"unfinished change");
  if (copy.state == PendingCopy::State::complete) {
    CreateResult created = files_.create_new(aside, {});
    Status kept = created.file ? fill(*created.file, after) : Status::failure(created.reason);
    created.file.reset();
    if (!kept.ok()) {
      files_.remove(aside);
      return Status::failure(L"Could not keep an interrupted change to the records file in " +
                             aside.wstring() + L": " + kept.message() + L".");
    }
    files_.remove(copy_path);
    add_notice(*notice,
               L"A change to the records file " + display_path() +
                   L" was interrupted, and the file has been changed by something else since (a "
                   L"backup put back, or another account's Perlwick). Perlwick left the records "
                   L"file as it is and kept the records of the interrupted change in " +
                   aside.wstring() + L".");
    return Status();
  }
  if (Status moved = files_.replace(copy_path, aside); !moved.ok()) {
    return Status::failure(L"Could not move " + copy_path.wstring() + L" aside: " +
                           moved.message() + L".");
  }
  add_notice(
      *notice,
      L"Perlwick found " + copy_path.wstring() +
          L", which it does not recognise as one of its own unfinished changes, and moved it "
          L"to " +
          aside.wstring() + L". The records file " + display_path() + L" was not changed.");
  return Status();
}

// An edit that was ended from outside may have left its new file beside the records file:
// while being written, or complete. No other copy is writing one now: this one holds the
// edit lock. While the records file exists, such a file is an edit that did not happen
// and goes. Without the records file (the new file was not moved in, and the records file
// was taken away), the newest complete one becomes the records file; one that may be
// incomplete is kept under a name the user sees, and notice says so.
Status RecordStore::recover_written_files(std::wstring& notice) {
  const std::filesystem::path folder = path_.has_parent_path() ? path_.parent_path() : ".";
  const std::wstring name = path_.filename().wstring();
  std::vector<std::filesystem::path> written =
      files_.files_starting_with(folder, name + std::wstring(kWritten));
  std::vector<std::filesystem::path> being_written =
      files_.files_starting_with(folder, name + std::wstring(kBeingWritten));
  if (written.empty() && being_written.empty()) return Status();
  if (!files_.stamp(path_).exists && !written.empty()) {
    const auto newest =
        std::max_element(written.begin(), written.end(), [this](const auto& a, const auto& b) {
          return files_.stamp(a).modified < files_.stamp(b).modified;
        });
    if (Status moved = files_.replace(*newest, path_); !moved.ok()) {
      return Status::failure(L"Could not put " + newest->wstring() +
                             L", the records file as an interrupted save left it, in place of "
                             L"the missing " +
                             display_path() + L": " + moved.message() + L".");
    }
    written.erase(newest);
    seen_.reset();
  }
  written.insert(written.end(), being_written.begin(), being_written.end());
  if (files_.stamp(path_).exists) {
    for (const std::filesystem::path& leftover : written) files_.remove(leftover);
    return Status();
  }
  for (const std::filesystem::path& leftover : written) {
    const std::filesystem::path aside = unused_name(folder, L"unfinished save");
    if (Status moved = files_.replace(leftover, aside); !moved.ok()) {
      return Status::failure(L"Could not move " + leftover.wstring() + L" aside: " +
                             moved.message() + L".");
    }
    add_notice(notice,
               L"The records file " + display_path() +
                   L" is missing. A save that was interrupted left " + aside.wstring() +
                   L", which may be incomplete: Perlwick kept it. If it holds all your records, "
                   L"rename it to " +
                   name + L".");
  }
  return Status();
}

// A name in folder, after the records file's, that no file has yet.
std::filesystem::path RecordStore::unused_name(const std::filesystem::path& folder,
                                               std::wstring_view what) {
  std::filesystem::path name;
  for (int n = 1; n < 100000; ++n) {
    name = folder / (path_.stem().wstring() + L" (" + std::wstring(what) + L" " +
                     std::to_wstring(n) + L")" + path_.extension().wstring());
    if (!files_.stamp(name).exists) break;
  }
  return name;
}

Status RecordStore::unreadable(const ReadResult& read) const {
  return Status::failure(L"Could not read the records file " + display_path() + L": " +
                         read.reason + L".");
}

// Brings the table up to date with the file when the file changed since it was last read
// or written: its entry tells, and when the entry is too coarse to tell, the bytes do. A
// file that cannot be read is never overwritten; a missing one is written anew from the
// table.
Status RecordStore::read_if_changed(bool& file_exists) {
  // Taken before the read: a change after it shows in the next stamp.
  const FileStamp now = files_.stamp(path_);
  if (seen_ && seen_->same_as(now) && seen_->taken - seen_->modified >= kCoarsestTicks) {
    file_exists = now.exists;
    return Status();
  }
  // What this store knows of the file may still be all there is: compared as it is read,
  // the file takes no memory of its own.
  if (seen_) {
    const std::string_view known = table_.bytes();
    std::size_t compared = 0;
    bool same = true;
    const ReadResult read = files_.read_each(path_, [&](std::string_view chunk) {
      same = known.substr(compared, chunk.size()) == chunk;
      compared += chunk.size();
      return same;
    });
    if (read.outcome == ReadOutcome::failed) return unreadable(read);
    file_exists = read.outcome == ReadOutcome::read;
    if (!file_exists || (same && compared == known.size())) {
      seen_ = now;
      return Status();
    }
  }
  std::string bytes;
  const ReadResult read = files_.read_all(path_, bytes);
  if (read.outcome == ReadOutcome::failed) return unreadable(read);
  file_exists = read.outcome == ReadOutcome::read;
  if (file_exists) adopt(RecordTable::parse(std::move(bytes)));
  seen_ = now;
  return Status();
}

// A new file beside the records file, under a name of its own (temp), and the name it
// takes once it is complete (written).
CreateResult RecordStore::create_beside(std::filesystem::path& temp,
                                        std::filesystem::path& written) {
  CreateResult created;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring id = std::to_wstring(random_()) + L"-" + std::to_wstring(attempt);
    temp = path_;
    temp += std::wstring(kBeingWritten) + id;
    written = path_;
    written += std::wstring(kWritten) + id;
    created = files_.create_new(temp, path_);
    if (!created.taken) break;
  }
  return created;
}

Status RecordStore::write_whole_file(std::span<const std::string_view> content, bool file_exists) {
  std::filesystem::path temp;
  std::filesystem::path written;
  CreateResult created = create_beside(temp, written);
  // Where no new file can be made beside the records file with its protection, the file
  // itself is rewritten, which keeps its protection as it is.
  if (!created.file && (created.refused || created.unprotected) && file_exists) {
    return write_in_place(content);
  }
  if (!created.file && created.refused) {
    return Status::failure(
        L"The records file " + display_path() +
        L" does not exist, and Windows lets only administrators create files at the top of "
        L"drive C:.\n\nInstall Perlwick with its installer, which creates the records file for "
        L"you, or create the file once as administrator (an empty file will do) and give your "
        L"account the right to change it." +
        std::wstring(kNothingSaved));
  }
  if (!created.file) {
    return Status::failure(L"Could not save the change: a new file could not be created beside " +
                           display_path() + L": " + created.reason + L"." +
                           std::wstring(kUnchanged));
  }
  // However this ends short of the swap, the new file goes: the records file is as it was
  // (or, when there was none, the boxes still hold what was to be saved).
  struct RemoveUnlessSwapped {
    FileSystem& files;
    std::unique_ptr<WritableFile>& file;
    const std::filesystem::path* current;
    ~RemoveUnlessSwapped() {
      if (current == nullptr) return;
      file.reset();
      files.remove(*current);
    }
  } cleanup{files_, created.file, &temp};
  PERLWICK_STEP("create the new file");
  if (Status s = fill(*created.file, content); !s.ok()) {
    return Status::failure(L"Could not save the change: " + s.message() + L"." +
                           std::wstring(kUnchanged));
  }
  // Complete and on the disk: from now on its name says so. Then it takes the records
  // file's place.
  for (const auto& [from, to] : {std::pair{&temp, &written}, std::pair{&written, &path_}}) {
    if (Status s = files_.replace(*from, *to); !s.ok()) {
      return Status::failure(L"Could not save the change: the records file " + display_path() +
                             L" could not be replaced: " + s.message() + L"." +
                             std::wstring(kUnchanged));
    }
    cleanup.current = to == &path_ ? nullptr : to;
  }
  PERLWICK_STEP("replace");
  return Status();
}

// The records file's folder refuses new files: the file itself is rewritten. Its new
// content is first made durable in the private folder, so that an interruption at any
// moment leaves either the old content or a copy that finishes the new one.
Status RecordStore::write_in_place(std::span<const std::string_view> content) {
  const std::filesystem::path copy_path = pending_copy_path(private_folder_, path_);
  if (Status s = files_.make_folder(private_folder_); !s.ok()) {
    return Status::failure(L"Could not save the change: the folder " + private_folder_.wstring() +
                           L" could not be created: " + s.message() + L"." +
                           std::wstring(kUnchanged));
  }
  CreateResult copy = files_.create_or_empty(copy_path);
  if (!copy.file) {
    return Status::failure(L"Could not save the change: " + copy_path.wstring() +
                           L" could not be created: " + copy.reason + L"." +
                           std::wstring(kUnchanged));
  }
  // The table holds the file's content from before the change: the copy keeps both, so
  // that the next start can tell what an interrupted rewrite left from anything else.
  const std::string_view before = table_.bytes();
  std::uint64_t size = 0;
  std::uint64_t sum = checksum(before);
  for (const std::string_view piece : content) {
    size += piece.size();
    sum = checksum(piece, sum);
  }
  const std::string header = pending_copy_header(before.size(), size, sum);
  std::vector<std::string_view> copy_pieces = {header, before};
  copy_pieces.insert(copy_pieces.end(), content.begin(), content.end());
  if (Status s = fill(*copy.file, copy_pieces); !s.ok()) {
    copy.file.reset();
    files_.remove(copy_path);
    return Status::failure(L"Could not save the change: " + s.message() + L"." +
                           std::wstring(kUnchanged));
  }

  if (Status s = rewrite_in_place(content); !s.ok()) {
    // Put back what the file held before.
    if (rewrite_in_place({&before, 1}).ok()) {
      files_.remove(copy_path);
      return Status::failure(L"Could not save the change: " + s.message() + L"." +
                             std::wstring(kUnchanged));
    }
    return Status::failure(L"Could not save the change completely: " + s.message() +
                           L".\n\nThe change is kept in " + copy_path.wstring() +
                           L", and Perlwick finishes it the next time it starts or saves.");
  }
  files_.remove(copy_path);
  return Status();
}

Status RecordStore::rewrite_in_place(std::span<const std::string_view> content) {
  CreateResult opened = files_.open_in_place(path_);
  if (!opened.file) {
    return Status::failure(L"opening the records file " + display_path() +
                           L" for writing failed: " + opened.reason);
  }
  return fill(*opened.file, content);
}

}  // namespace perlwick
