#pragma once

// Saving: makes given content the records file's content, in a way that an interruption at
// any moment leaves either the old content or the new (recovery.h finishes what it left).
//
// The new content is written to a new file beside the records file, with the records
// file's protection, and moved over the records file in one step. Where the records file's
// folder refuses new files (the top of drive C: for a program that is not run as
// administrator), or the file has several names (hard links), the records file itself is
// rewritten, after the complete new content is kept in the account's private folder: the
// pending copy (pending_save.h).

#include <filesystem>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <string_view>

#include "common/status.h"
#include "files/file_system.h"
#include "store/records_file.h"

namespace perlwick {

class Saving {
 public:
  Saving(FileSystem& files, const RecordsFile& records) : files_(files), records_(records) {}

  // Makes content, which comes in pieces, the records file's content. before is what the
  // file holds now, and file_exists whether there is one. A failure leaves the records
  // file as it was, unless it says that the pending copy finishes the change later.
  Status save(std::span<const std::string_view> content, std::string_view before, bool file_exists);

  // Writes content over the records file itself, as a rewrite in place does. opened says
  // whether the records file was opened, and so may have changed.
  Status rewrite_in_place(std::span<const std::string_view> content, bool& opened);

 private:
  // A new file beside the records file, under a name of its own (temp), and the name it
  // takes once it is complete (written).
  Status create_beside(std::filesystem::path& temp, std::filesystem::path& written,
                       std::unique_ptr<WritableFile>& file);
  Status write_in_place(std::span<const std::string_view> content, std::string_view before);
  // Saving failed, and the records file was not changed: why says why; or the step how,
  // on file, failed.
  Status not_saved(const Status& why) const;
  Status not_saved(Says how, std::wstring file, const Status& why) const;

  FileSystem& files_;
  const RecordsFile& records_;
  // Names the files written beside the records file.
  std::mt19937_64 random_{std::random_device{}()};
};

}  // namespace perlwick
