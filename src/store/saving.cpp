#include "store/saving.h"

#include <utility>

#include "common/scope_exit.h"
#include "store/pending_save.h"
#include "store/step_times.h"

namespace perlwick {

// Saving failed, and the records file was not changed: why is within.
Status Saving::not_saved(const Status& why) const {
  return Status::failure(Message{Says::not_saved, {records_.shown()}, {why.message()}}, why.kind());
}

// The same, where the step how, on file, failed.
Status Saving::not_saved(Says how, std::wstring file, const Status& why) const {
  return not_saved(Status::failure(Message{how, {std::move(file)}, {why.message()}}, why.kind()));
}

// A new file beside the records file, under a name of its own (temp), and the name it
// takes once it is complete (written).
Status Saving::create_beside(std::filesystem::path& temp, std::filesystem::path& written,
                             std::unique_ptr<WritableFile>& file) {
  Status created;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring id = std::to_wstring(random_()) + L"-" + std::to_wstring(attempt);
    temp = records_.file;
    temp += std::wstring(kBeingWritten) + id;
    written = records_.file;
    written += std::wstring(kWritten) + id;
    created = files_.create_new(temp, records_.file, file);
    if (created.kind() != Failure::taken) break;
  }
  return created;
}

Status Saving::save(std::span<const std::string_view> content, std::string_view before,
                    bool file_exists) {
  // A file of several names is written in place: a new file would take the place of one
  // of them only.
  if (records_.links > 1 && file_exists) return write_in_place(content, before);
  std::filesystem::path temp;
  std::filesystem::path written;
  std::unique_ptr<WritableFile> file;
  const Status created = create_beside(temp, written, file);
  // Where no new file can be made beside the records file with its protection, the file
  // itself is rewritten, which keeps its protection as it is.
  const bool refused = created.kind() == Failure::refused;
  if ((refused || created.kind() == Failure::unprotected) && file_exists) {
    return write_in_place(content, before);
  }
  if (refused) {
    return Status::failure(Message{Says::nothing_saved,
                                   {records_.shown()},
                                   {Message{Says::no_records_file_refused, {records_.shown()}}}});
  }
  if (!created.ok()) return not_saved(Says::new_file_not_created, records_.file.wstring(), created);
  // However this ends short of the swap, the new file goes: the records file is as it was
  // (or, when there was none, the boxes still hold what was to be saved).
  const std::filesystem::path* current = &temp;
  const ScopeExit remove_unless_swapped([&] {
    if (current == nullptr) return;
    file.reset();
    files_.remove(*current);
  });
  PERLWICK_STEP("create the new file");
  if (Status s = fill(*file, content); !s.ok()) return not_saved(s);
  // Complete and on the disk: from now on its name says so. Then it takes the records
  // file's place.
  using Move = std::pair<const std::filesystem::path*, const std::filesystem::path*>;
  for (const auto& [from, to] : {Move{&temp, &written}, Move{&written, &records_.file}}) {
    if (Status s = files_.replace(*from, *to); !s.ok()) {
      return not_saved(Says::not_replaced, records_.file.wstring(), s);
    }
    current = to == &records_.file ? nullptr : to;
  }
  PERLWICK_STEP("replace");
  return Status();
}

// The records file's folder refuses new files: the file itself is rewritten. Its new
// content is first made durable in the private folder, so that an interruption at any
// moment leaves either the old content or a copy that finishes the new one.
Status Saving::write_in_place(std::span<const std::string_view> content, std::string_view before) {
  const std::filesystem::path& copy_path = records_.pending_copy;
  if (Status s = files_.make_folder(records_.private_folder); !s.ok()) {
    return not_saved(Says::folder_not_created, records_.private_folder.wstring(), s);
  }
  std::unique_ptr<WritableFile> copy;
  if (Status s = files_.create_or_empty(copy_path, copy); !s.ok()) {
    return not_saved(Says::file_not_created, copy_path.wstring(), s);
  }
  // The copy keeps what it takes to rebuild the content from before the change too, so
  // that the next start can tell what an interrupted rewrite left from anything else.
  const PendingCopyPieces pending = pending_copy(before, content);
  std::vector<std::string_view> copy_pieces = {pending.header};
  copy_pieces.insert(copy_pieces.end(), pending.content.begin(), pending.content.end());
  if (Status s = fill(*copy, copy_pieces); !s.ok()) {
    copy.reset();
    files_.remove(copy_path);
    return not_saved(s);
  }

  bool opened = false;
  if (Status s = rewrite_in_place(content, opened); !s.ok()) {
    // Put back what the file held before, where it may have changed; where it could not
    // even be opened, the change goes with the copy: it is not applied later.
    if (!opened || rewrite_in_place({&before, 1}, opened).ok()) {
      files_.remove(copy_path);
      return not_saved(s);
    }
    return Status::failure(
        Message{Says::not_saved_completely, {copy_path.wstring()}, {s.message()}}, s.kind());
  }
  files_.remove(copy_path);
  return Status();
}

Status Saving::rewrite_in_place(std::span<const std::string_view> content, bool& opened) {
  std::unique_ptr<WritableFile> file;
  opened = false;
  if (Status s = files_.open_in_place(records_.file, file); !s.ok()) {
    return Status::failure(Message{Says::opening_failed, {records_.file.wstring()}, {s.message()}},
                           s.kind());
  }
  opened = true;
  return fill(*file, content);
}

}  // namespace perlwick
