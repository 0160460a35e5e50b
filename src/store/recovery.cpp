#include "store/recovery.h"

#include <algorithm>

#include "store/pending_save.h"

namespace perlwick {
namespace {

// What is set aside is named after the records file and this.
constexpr std::wstring_view kUnfinishedSave = L"unfinished save";
constexpr std::wstring_view kUnfinishedChange = L"unfinished change";

}  // namespace

// Finishes a rewrite in place that was interrupted, from the complete copy of its content
// before and after, provided the records file holds what that rewrite can have left. A
// copy that was itself cut short was written before the records file was touched: it is
// discarded, the records file untouched. Anything else is set aside for the user, and
// notices says where, when it is given; without it, such a copy is left for later.
Status Recovery::finish_pending_save(std::vector<Message>* notices, bool& changed) {
  const std::filesystem::path& copy_path = records_.pending_copy;
  // Read, not looked up: a copy that cannot be looked at is never taken for none.
  std::string bytes;
  const Status read = files_.read_all(copy_path, bytes);
  if (read.kind() == Failure::missing) return Status();
  if (!read.ok()) {
    return Status::failure(
        Message{Says::pending_copy_unreadable, {copy_path.wstring()}, {read.message()}},
        read.kind());
  }
  std::string rebuilt;
  const PendingCopy copy = read_pending_copy(bytes, rebuilt);
  if (copy.state == PendingCopy::State::damaged) {
    files_.remove(copy_path);
    return Status();
  }
  const std::span<const std::string_view> after(&copy.after, 1);
  if (copy.state == PendingCopy::State::complete) {
    bool fits = true;
    std::uint64_t size = 0;
    const Status records = files_.read_each(records_.file, [&](std::string_view chunk) {
      fits = copy.could_leave(size, chunk);
      size += chunk.size();
      return fits;
    });
    const bool missing = records.kind() == Failure::missing;
    if (!records.ok() && !missing) return unreadable(records_, records);
    if (missing || (fits && copy.could_leave_size(size))) {
      bool opened = false;
      const Status rewritten = missing ? saving_.save(after, {}, false)  // deleted meanwhile
                                       : saving_.rewrite_in_place(after, opened);
      if (!rewritten.ok()) {
        return Status::failure(
            Message{Says::earlier_change_not_finished, {records_.shown()}, {rewritten.message()}},
            rewritten.kind());
      }
      files_.remove(copy_path);
      changed = true;
      return Status();
    }
  }
  if (notices == nullptr) return Status();
  // The records file was changed by something else since the save was interrupted (a
  // backup put back, another account's copy of Perlwick): it stays as it is, and the
  // change's records are kept where the user finds them.
  if (copy.state == PendingCopy::State::complete) {
    // Kept already, by a start that then could not remove the copy: only the copy goes.
    std::vector<std::filesystem::path> kept_before;
    (void)files_.files_starting_with(records_.private_folder, aside_prefix(kUnfinishedChange),
                                     kept_before);
    for (const std::filesystem::path& earlier : kept_before) {
      std::string held;
      if (files_.read_all(earlier, held).ok() && held == copy.after) {
        files_.remove(copy_path);
        return Status();
      }
    }
  }
  const std::filesystem::path aside = unused_name(records_.private_folder, kUnfinishedChange);
  if (copy.state == PendingCopy::State::complete) {
    std::unique_ptr<WritableFile> file;
    Status kept = files_.create_new(aside, {}, file);
    if (kept.ok()) kept = fill(*file, after);
    file.reset();
    if (!kept.ok()) {
      files_.remove(aside);
      return Status::failure(Message{Says::change_not_kept, {aside.wstring()}, {kept.message()}});
    }
    files_.remove(copy_path);
    notices->push_back(Message{Says::change_kept_aside, {records_.shown(), aside.wstring()}});
    return Status();
  }
  if (Status moved = files_.replace(copy_path, aside); !moved.ok()) {
    return Status::failure(
        Message{Says::not_moved_aside, {copy_path.wstring()}, {moved.message()}});
  }
  notices->push_back(Message{Says::unknown_copy_moved_aside,
                             {copy_path.wstring(), aside.wstring(), records_.shown()}});
  return Status();
}

// An edit that was ended from outside may have left its new file beside the records file:
// while being written, or complete. No other copy is writing one now: this one holds the
// edit lock. While the records file exists, such a file is an edit that did not happen
// and goes. Without the records file (the new file was not moved in, and the records file
// was taken away), the newest complete one becomes the records file; one that may be
// incomplete is kept under a name the user sees, and notices says so.
Status Recovery::recover_written_files(std::vector<Message>& notices, bool& changed) {
  const std::filesystem::path folder = records_.folder();
  const std::wstring name = records_.file.filename().wstring();
  std::vector<std::filesystem::path> written;
  std::vector<std::filesystem::path> being_written;
  Status listed = files_.files_starting_with(folder, name + std::wstring(kWritten), written);
  if (listed.ok()) {
    listed = files_.files_starting_with(folder, name + std::wstring(kBeingWritten), being_written);
  }
  // What a listing that failed did not find matters only where it may be the only copy of
  // the records: without the records file.
  if (!listed.ok() && listed.kind() != Failure::missing && !files_.stamp(records_.file).exists) {
    return Status::failure(
        Message{Says::folder_unreadable, {folder.wstring()}, {listed.message()}});
  }
  if (written.empty() && being_written.empty()) return Status();
  if (!files_.stamp(records_.file).exists && !written.empty()) {
    // The newest complete save becomes the records file: the others are older.
    auto newest = written.end();
    std::int64_t newest_time = 0;
    for (auto file = written.begin(); file != written.end(); ++file) {
      const FileStamp entry = files_.stamp(*file);
      if (!entry.exists) {
        return Status::failure(Message{Says::save_not_put_back,
                                       {file->wstring(), records_.shown()},
                                       {Message{Says::entry_unreadable}}});
      }
      if (newest == written.end() || entry.modified > newest_time) {
        newest = file;
        newest_time = entry.modified;
      }
    }
    if (Status moved = files_.replace(*newest, records_.file); !moved.ok()) {
      return Status::failure(Message{
          Says::save_not_put_back, {newest->wstring(), records_.shown()}, {moved.message()}});
    }
    written.erase(newest);
    changed = true;
  }
  written.insert(written.end(), being_written.begin(), being_written.end());
  if (files_.stamp(records_.file).exists) {
    for (const std::filesystem::path& leftover : written) files_.remove(leftover);
    return Status();
  }
  for (const std::filesystem::path& leftover : written) {
    const std::filesystem::path aside = unused_name(folder, kUnfinishedSave);
    if (Status moved = files_.replace(leftover, aside); !moved.ok()) {
      return Status::failure(
          Message{Says::not_moved_aside, {leftover.wstring()}, {moved.message()}});
    }
    notices.push_back(Message{Says::save_kept_aside, {records_.shown(), aside.wstring(), name}});
  }
  return Status();
}

// While the records file is missing, every start names what interrupted saves left beside
// it, which may hold the records: a notice that a power cut kept from the user is given
// again.
void Recovery::name_saves_kept_aside(std::vector<Message>& notices) {
  const std::filesystem::path folder = records_.folder();
  std::vector<std::filesystem::path> kept_aside;
  // Only a reminder: a listing that fails leaves it for the next start.
  (void)files_.files_starting_with(folder, aside_prefix(kUnfinishedSave), kept_aside);
  for (const std::filesystem::path& kept : kept_aside) {
    const bool named = std::any_of(notices.begin(), notices.end(), [&](const Message& notice) {
      return notice.names.size() > 1 && notice.names[1] == kept.wstring();
    });
    if (!named) {
      notices.push_back(
          Message{Says::save_kept_aside,
                  {records_.shown(), kept.wstring(), records_.file.filename().wstring()}});
    }
  }
}

std::wstring Recovery::aside_prefix(std::wstring_view what) const {
  return records_.file.stem().wstring() + L" (" + std::wstring(what) + L" ";
}

std::filesystem::path Recovery::unused_name(const std::filesystem::path& folder,
                                            std::wstring_view what) {
  std::filesystem::path name;
  for (int n = 1; n < 100000; ++n) {
    name = folder /
           (aside_prefix(what) + std::to_wstring(n) + L")" + records_.file.extension().wstring());
    if (!files_.stamp(name).exists) break;
  }
  return name;
}

}  // namespace perlwick
