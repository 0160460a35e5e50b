#include "store/record_store.h"

#include <utility>

namespace perlwick {

RecordStore::RecordStore(std::filesystem::path path, FileSystem& files)
    : path_(std::move(path)), files_(files) {}

std::wstring RecordStore::display_path() const {
  return path_.wstring();
}

void RecordStore::adopt(std::string bytes) {
  table_ = RecordTable::parse(std::move(bytes));
  ++generation_;
}

LoadResult RecordStore::recrefresh() {
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
  if (Status fresh = catch_up_with_file(); !fresh.ok()) return fresh;
  if (Status written = write_whole_file(make_content(table_)); !written.ok()) return written;
  return read_back();
}

// The change goes onto what the file holds now: another copy of the program or another
// tool may have changed it since it was last read. A file that cannot be read is never
// overwritten; a missing one is written anew from the table.
Status RecordStore::catch_up_with_file() {
  std::string bytes;
  const ReadResult read = files_.read_all(path_, bytes);
  if (read.outcome == ReadOutcome::failed) {
    return Status::failure(L"Could not read the records file " + display_path() + L": " +
                           read.reason + L".\n\nNothing was saved.");
  }
  if (read.outcome == ReadOutcome::read && bytes != table_.bytes()) {
    adopt(std::move(bytes));
  }
  return Status();
}

Status RecordStore::write_whole_file(std::string_view content) {
  const std::wstring unchanged = L"\n\nThe records file was not changed.";
  std::wstring reason;
  std::unique_ptr<WritableFile> file = files_.create_beside(path_, reason);
  if (!file) {
    return Status::failure(L"Could not save the change: a new file could not be created beside " +
                           display_path() + L": " + reason + L"." + unchanged);
  }
  const std::filesystem::path temp = file->path();
  const auto give_up = [&](std::wstring_view step, const Status& failure) {
    file.reset();
    files_.remove(temp);
    return Status::failure(L"Could not save the change: " + std::wstring(step) + L" " +
                           temp.wstring() + L" failed: " + failure.message() + L"." + unchanged);
  };
  if (Status s = file->write(content); !s.ok()) return give_up(L"writing", s);
  if (Status s = file->flush(); !s.ok()) return give_up(L"flushing", s);
  if (Status s = file->close(); !s.ok()) return give_up(L"closing", s);
  if (Status s = files_.replace(temp, path_); !s.ok()) {
    files_.remove(temp);
    return Status::failure(L"Could not save the change: the records file " + display_path() +
                           L" could not be replaced: " + s.message() + L"." + unchanged);
  }
  return Status();
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
