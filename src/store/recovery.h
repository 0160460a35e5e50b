#pragma once

// Recovery: what interrupted edits left, taken care of before the records file is read or
// written. An edit ended from outside (a kill, a power cut) may have left its new file
// beside the records file, or a rewrite in place half done with its pending copy in the
// private folder. What can be finished is finished; what may be the only copy of records
// and cannot be finished is set aside under a name the user sees, and said; nothing that
// could be the only copy of the records is deleted.
//
// Recovery runs while the store holds the edit lock: no other copy of the program is
// writing meanwhile.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"
#include "files/file_system.h"
#include "store/records_file.h"
#include "store/saving.h"

namespace perlwick {

class Recovery {
 public:
  // What recovery finishes it writes through saving.
  Recovery(FileSystem& files, const RecordsFile& records, Saving& saving)
      : files_(files), records_(records), saving_(saving) {}

  // The new files of interrupted edits beside the records file: they go while the records
  // file exists; without it, the newest complete one becomes the records file, and the
  // others are set aside, which notices says. changed is set when the records file was.
  Status recover_written_files(std::vector<Message>& notices, bool& changed);
  // Finishes an interrupted rewrite in place from its pending copy, where the records file
  // holds what that rewrite can have left. Anything else is set aside for the user, and
  // notices says where, when it is given; without it, such a copy is left for later.
  // changed is set when the records file was.
  Status finish_pending_save(std::vector<Message>* notices, bool& changed);
  // While the records file is missing: names what interrupted saves left beside it, which
  // may hold the records, unless notices names it already.
  void name_saves_kept_aside(std::vector<Message>& notices);

 private:
  // How the names of what is set aside begin: the records file's name, then what it is.
  std::wstring aside_prefix(std::wstring_view what) const;
  // A name in folder, after the records file's, that no file has yet.
  std::filesystem::path unused_name(const std::filesystem::path& folder, std::wstring_view what);

  FileSystem& files_;
  const RecordsFile& records_;
  Saving& saving_;
};

}  // namespace perlwick
