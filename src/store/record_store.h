#pragma once

// The record store: the records file, the record table read from it, and the three edits.
// Every edit brings the table up to date with the file, writes the complete new content
// to a file beside the records file, puts it in place in one step and reads it back. A
// failed edit leaves the records file and the table as they were and says why.
//
// Where the records file's folder refuses new files (the top of drive C: for a program
// that is not run as administrator), an edit rewrites the records file itself, after
// keeping the complete new content in the account's private folder; an interrupted
// rewrite is finished from that copy at the next load or edit.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "store/file_system.h"
#include "store/record_table.h"
#include "store/records_format.h"
#include "store/status.h"

namespace perlwick {

// Where the program keeps its records.
inline constexpr std::wstring_view kRecordsPath = L"c:\\perlwickrecords.txt";

enum class LoadOutcome { loaded, missing, failed };

struct LoadResult {
  LoadOutcome outcome = LoadOutcome::failed;
  std::wstring message;  // for a failed load
};

class RecordStore {
 public:
  // private_folder is where the store keeps what it needs besides the records file; by
  // default the file system's folder of this account.
  explicit RecordStore(std::filesystem::path path, FileSystem& files = native_file_system(),
                       std::filesystem::path private_folder = {});

  // Reloads the table from the records file, after finishing a rewrite that was
  // interrupted. When the file is missing or cannot be read, the table stays as it was.
  LoadResult recrefresh();

  const RecordTable& table() const { return table_; }
  std::size_t count() const { return table_.count(); }
  const std::filesystem::path& path() const { return path_; }
  // Changes whenever the table is rebuilt.
  std::uint64_t generation() const { return generation_; }

  // Add inserts record (field 0 is the name) before the first row whose name key sorts
  // after the new one.
  Status add(const Record& record);
  // Update overwrites every row whose name matches record's name with record.
  Status update(const Record& record);
  // Remove drops every row whose name matches name, and every row with an empty name.
  Status remove(std::wstring_view name);

 private:
  template <typename MakeContent>
  Status edit(MakeContent make_content);
  Status finish_pending_save();
  Status catch_up_with_file(bool& file_exists);
  Status write_whole_file(std::string_view content, bool file_exists);
  Status write_in_place(std::string_view content);
  Status rewrite_in_place(std::string_view content);
  Status read_back();
  std::wstring display_path() const;
  void adopt(std::string bytes);

  std::filesystem::path path_;
  FileSystem& files_;
  std::filesystem::path private_folder_;
  RecordTable table_;
  std::uint64_t generation_ = 0;
};

}  // namespace perlwick
