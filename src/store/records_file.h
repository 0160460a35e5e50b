#pragma once

// Where the records file is, as every part of the store sees it, and what those parts
// share: the names of the files an edit writes beside the records file, and the one way
// a file is written.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "common/status.h"
#include "files/file_system.h"

namespace perlwick {

// The new content is written beside the records file under a name with the first part,
// and given the second once it is complete and on the disk; it then takes the records
// file's place in one step.
inline constexpr std::wstring_view kBeingWritten = L".tmp-";
inline constexpr std::wstring_view kWritten = L".new-";

struct RecordsFile {
  // private_folder is where the store keeps what it needs besides the records file.
  RecordsFile(std::filesystem::path named, std::filesystem::path private_folder);

  // Follows the path to the file it leads to: a link to its target, which is read and
  // written in the link's stead. Where that cannot be found (there is no file yet), the
  // path is taken as it is.
  void find(FileSystem& files);

  // The records file as the program names it, for messages.
  std::wstring shown() const { return path.wstring(); }
  // The folder of the file the path leads to, where an edit writes its new file.
  std::filesystem::path folder() const { return file.has_parent_path() ? file.parent_path() : "."; }

  std::filesystem::path path;
  // The file path leads to, and how many names it has.
  std::filesystem::path file;
  std::uint32_t links = 1;
  std::filesystem::path private_folder;
  // Where a rewrite in place keeps its copy (pending_save.h).
  std::filesystem::path pending_copy;
  // Names the records file's edit lock.
  std::wstring key;
};

// Writes parts to file from its start, ends the file there, flushes it to the disk and
// closes it. A failure names the step and the file.
Status fill(WritableFile& file, std::span<const std::string_view> parts);

// The records file could not be read: read says why.
Status unreadable(const RecordsFile& records, const Status& read);

}  // namespace perlwick
