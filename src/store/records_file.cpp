#include "store/records_file.h"

#include <utility>

#include "store/pending_save.h"
#include "store/step_times.h"

namespace perlwick {

RecordsFile::RecordsFile(std::filesystem::path named, std::filesystem::path private_folder_)
    : path(std::move(named)),
      file(path),
      private_folder(std::move(private_folder_)),
      pending_copy(pending_copy_path(private_folder, path)),
      key(records_file_key(path)) {}

void RecordsFile::find(FileSystem& files) {
  FileIdentity identity;
  if (files.identify(path, identity).ok() && !identity.final_path.empty()) {
    file = identity.final_path;
    links = identity.links;
  } else {
    file = path;
    links = 1;
  }
}

Status fill(WritableFile& file, std::span<const std::string_view> parts) {
  const auto failed = [&](Says step, const Status& failure) {
    return Status::failure(Message{step, {file.path().wstring()}, {failure.message()}},
                           failure.kind());
  };
  for (const std::string_view part : parts) {
    if (Status s = file.write(part); !s.ok()) return failed(Says::writing_failed, s);
  }
  PERLWICK_STEP("write");
  if (Status s = file.cut(); !s.ok()) return failed(Says::ending_failed, s);
  PERLWICK_STEP("end the file");
  if (Status s = file.flush(); !s.ok()) return failed(Says::flushing_failed, s);
  PERLWICK_STEP("flush");
  if (Status s = file.close(); !s.ok()) return failed(Says::closing_failed, s);
  PERLWICK_STEP("close");
  return Status();
}

Status unreadable(const RecordsFile& records, const Status& read) {
  return Status::failure(Message{Says::unreadable, {records.shown()}, {read.message()}},
                         read.kind());
}

}  // namespace perlwick
