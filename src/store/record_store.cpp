#include "store/record_store.h"

#include <initializer_list>
#include <utility>

#include "store/pending_save.h"

namespace perlwick {
namespace {

constexpr std::wstring_view kUnchanged = L"\n\nThe records file was not changed.";
constexpr std::wstring_view kNothingSaved = L"\n\nNothing was saved.";

// Writes parts to file from its start, ends the file there, flushes it to the disk and
// closes it. A failure names the step and the file.
Status fill(WritableFile& file, std::initializer_list<std::string_view> parts) {
  const auto failed = [&](std::wstring_view step, const Status& failure) {
    return Status::failure(std::wstring(step) + L" " + file.path().wstring() + L" failed: " +
                           failure.message());
  };
  for (const std::string_view part : parts) {
    if (Status s = file.write(part); !s.ok()) return failed(L"writing", s);
  }
  if (Status s = file.cut(); !s.ok()) return failed(L"ending", s);
  if (Status s = file.flush(); !s.ok()) return failed(L"flushing", s);
  if (Status s = file.close(); !s.ok()) return failed(L"closing", s);
  return Status();
}

}  // namespace

RecordStore::RecordStore(std::filesystem::path path, FileSystem& files,
                         std::filesystem::path private_folder)
    : path_(std::move(path)),
      files_(files),
      private_folder_(private_folder.empty() ? files.private_folder() : std::move(private_folder)) {
}

std::wstring RecordStore::display_path() const {
  return path_.wstring();
}

void RecordStore::adopt(std::string bytes) {
  table_ = RecordTable::parse(std::move(bytes));
  ++generation_;
}

LoadResult RecordStore::recrefresh() {
  // A records file whose rewrite was interrupted holds neither its old nor its new
  // content until the rewrite is finished: it is not loaded before.
  if (Status finished = finish_pending_save(); !finished.ok()) {
    return {LoadOutcome::failed, finished.message()};
  }
  std::string bytes;
  const ReadResult read = files_.read_all(path_, bytes);
  switch (read.outcome) {
    case ReadOutcome::read:
      adopt(std::move(bytes));
      return {LoadOutcome::loaded, {}};
    case ReadOutcome::missing:
      return {LoadOutcome::missing, {}};
    case ReadOutcome::failed:
      break;
  }
  return {LoadOutcome::failed,
          L"Could not read the records file " + display_path() + L": " + read.reason + L"."};
}

Status RecordStore::add(const Record& record) {
  if (Status check = check_record_text(record); !check.ok()) return check;
  const std::wstring key = name_key(record[0]);
  const std::string line = encode_record_line(record);
  return edit([&](const RecordTable& table) { return table.content_with_added(key, line); });
}

Status RecordStore::update(const Record& record) {
  if (Status check = check_record_text(record); !check.ok()) return check;
  const std::wstring key = name_key(record[0]);
  const std::string line = encode_record_line(record);
  return edit([&](const RecordTable& table) { return table.content_with_replaced(key, line); });
}

Status RecordStore::remove(std::wstring_view name) {
  const std::wstring key = name_key(name);
  return edit([&](const RecordTable& table) { return table.content_without(key); });
}

template <typename MakeContent>
Status RecordStore::edit(MakeContent make_content) {
  // Windows refuses to replace a read-only file only with a vague error, and some file
  // systems do not refuse at all: the attribute is the user's wish, and it is kept.
  if (files_.is_read_only(path_)) {
    return Status::failure(L"The records file " + display_path() +
                           L" is marked read-only, so Perlwick does not change it.\n\nTo save "
                           L"changes, clear its read-only attribute (in the file's Properties) "
                           L"and try again." +
                           std::wstring(kNothingSaved));
  }
  if (Status finished = finish_pending_save(); !finished.ok()) return finished;
  bool file_exists = false;
  if (Status fresh = catch_up_with_file(file_exists); !fresh.ok()) return fresh;
  if (Status written = write_whole_file(make_content(table_), file_exists); !written.ok()) {
    return written;
  }
  return read_back();
}

// Finishes a rewrite in place that was interrupted, from the complete copy of its new
// content; a copy that was itself cut short is discarded, the records file untouched.
Status RecordStore::finish_pending_save() {
  const std::filesystem::path copy_path = pending_copy_path(private_folder_, path_);
  std::string copy;
  const ReadResult read = files_.read_all(copy_path, copy);
  if (read.outcome == ReadOutcome::missing) return Status();
  if (read.outcome == ReadOutcome::failed) {
    return Status::failure(L"Could not read " + copy_path.wstring() +
                           L", which holds a change to the records file that was not finished: " +
                           read.reason + L"." + std::wstring(kNothingSaved));
  }
  if (const std::optional<std::string_view> content = pending_copy_content(copy)) {
    if (Status rewritten = rewrite_in_place(*content); !rewritten.ok()) {
      return Status::failure(L"Could not finish saving an earlier change to the records file " +
                             display_path() + L": " + rewritten.message() + L"." +
                             std::wstring(kNothingSaved));
    }
  }
  files_.remove(copy_path);
  return Status();
}

// The change goes onto what the file holds now: another copy of the program or another
// tool may have changed it since it was last read. A file that cannot be read is never
// overwritten; a missing one is written anew from the table.
Status RecordStore::catch_up_with_file(bool& file_exists) {
  std::string bytes;
  const ReadResult read = files_.read_all(path_, bytes);
  if (read.outcome == ReadOutcome::failed) {
    return Status::failure(L"Could not read the records file " + display_path() + L": " +
                           read.reason + L"." + std::wstring(kNothingSaved));
  }
  file_exists = read.outcome == ReadOutcome::read;
  if (file_exists && bytes != table_.bytes()) adopt(std::move(bytes));
  return Status();
}

Status RecordStore::write_whole_file(std::string_view content, bool file_exists) {
  CreateResult created = files_.create_beside(path_);
  if (!created.file && created.refused) {
    if (file_exists) return write_in_place(content);
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
  const std::filesystem::path temp = created.file->path();
  if (Status s = fill(*created.file, {content}); !s.ok()) {
    created.file.reset();
    files_.remove(temp);
    return Status::failure(L"Could not save the change: " + s.message() + L"." +
                           std::wstring(kUnchanged));
  }
  if (Status s = files_.replace(temp, path_); !s.ok()) {
    files_.remove(temp);
    return Status::failure(L"Could not save the change: the records file " + display_path() +
                           L" could not be replaced: " + s.message() + L"." +
                           std::wstring(kUnchanged));
  }
  return Status();
}

// The records file's folder refuses new files: the file itself is rewritten. Its new
// content is first made durable in the private folder, so that an interruption at any
// moment leaves either the old content or a copy that finishes the new one.
Status RecordStore::write_in_place(std::string_view content) {
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
  const std::string header = pending_copy_header(content.size(), checksum(content));
  if (Status s = fill(*copy.file, {header, content}); !s.ok()) {
    copy.file.reset();
    files_.remove(copy_path);
    return Status::failure(L"Could not save the change: " + s.message() + L"." +
                           std::wstring(kUnchanged));
  }

  if (Status s = rewrite_in_place(content); !s.ok()) {
    // The table holds the file's content from before the change: put it back.
    if (rewrite_in_place(table_.bytes()).ok()) {
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

Status RecordStore::rewrite_in_place(std::string_view content) {
  CreateResult opened = files_.open_in_place(path_);
  if (!opened.file) {
    return Status::failure(L"opening the records file " + display_path() +
                           L" for writing failed: " + opened.reason);
  }
  return fill(*opened.file, {content});
}

Status RecordStore::read_back() {
  std::string bytes;
  const ReadResult read = files_.read_all(path_, bytes);
  if (read.outcome == ReadOutcome::read) {
    adopt(std::move(bytes));
    return Status();
  }
  const std::wstring why = read.outcome == ReadOutcome::missing
                               ? std::wstring(L"the file has disappeared")
                               : read.reason;
  return Status::failure(
      L"The change was saved, but the records file " + display_path() +
      L" could not be read back: " + why +
      L".\n\nThe program still shows the records as they were before the change.");
}

}  // namespace perlwick
