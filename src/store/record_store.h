#pragma once

// The record store: the records file, the record table read from it, and the three edits.
//
// An edit holds the records file's edit lock, which every copy of the program takes
// before it changes the file, so that no two edits interleave. It takes care of what
// interrupted edits left (recovery.h), brings the table up to date with the file, makes
// the change and takes all the memory it needs, then saves the new content (saving.h) and
// only then applies the change to the table. A failed edit, running out of memory
// included, leaves the records file and the table as they were and says why.
//
// A records file that is a link is read and written at its target, so that the link
// stays (records_file.h). A file another program holds for a moment is waited for
// (patient_file_system.h).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"
#include "files/file_system.h"
#include "files/patient_file_system.h"
#include "records/record_table.h"
#include "records/records_format.h"
#include "store/records_file.h"
#include "store/recovery.h"
#include "store/saving.h"

namespace perlwick {

// Where the program keeps its records.
inline constexpr std::wstring_view kRecordsPath = L"c:\\perlwickrecords.txt";

enum class LoadOutcome { loaded, missing, failed };

struct LoadResult {
  LoadOutcome outcome = LoadOutcome::failed;
  // Why a load failed; after a load that did not, what the user is to be told (what was
  // set aside of an interrupted save), if anything.
  Message message;
};

class RecordStore {
 public:
  // private_folder is where the store keeps what it needs besides the records file; by
  // default the file system's folder of this account.
  explicit RecordStore(std::filesystem::path path, FileSystem& files = native_file_system(),
                       std::filesystem::path private_folder = {});

  // Reloads the table from the records file, after finishing a rewrite that was
  // interrupted and taking care of what interrupted edits left beside the records file.
  // When the file is missing or cannot be read, the table stays as it was.
  LoadResult recrefresh();
  // Reloads the table when the records file changed since this store last read or wrote
  // it: another copy of the program may have saved meanwhile. Cheap when nothing changed.
  // Does nothing while another copy is saving.
  LoadResult catch_up();

  const RecordTable& table() const { return table_; }
  std::size_t count() const { return table_.count(); }
  // Changes whenever the table is rebuilt or edited.
  std::uint64_t generation() const { return generation_; }

  // What the last edit did to the table's rows: the change made on the table of
  // generation made_on, whose rows it counts.
  struct Edit {
    std::uint64_t made_on = 0;
    RecordTable::Change::Kind kind = RecordTable::Change::Kind::add;
    std::vector<std::size_t> rows;
  };
  const Edit& last_edit() const { return last_edit_; }

  // Add inserts record (field 0 is the name) before the first row whose name key sorts
  // after the new one.
  Status add(const Record& record);
  // Update overwrites every row whose name matches record's name with record.
  // Given shown, the record of that name the user saw, it saves nothing where the records
  // file no longer holds it so (another program or copy changed it since): the failure is
  // of kind changed.
  Status update(const Record& record, const Record* shown = nullptr);
  // Remove drops every row whose name matches name, and every row with an empty name;
  // shown as for update.
  Status remove(std::wstring_view name, const Record* shown = nullptr);

  // How long an edit waits for another copy of the program that is saving.
  void set_lock_wait(std::chrono::milliseconds wait) { lock_wait_ = wait; }
  // How long a step waits for a file that another program holds, and how it pauses.
  void set_patience(std::chrono::milliseconds patience, PatientFileSystem::Pause pause = {}) {
    files_.set_patience(patience, std::move(pause));
  }
  // Called as the store begins to wait for a file that another program holds.
  void on_waiting(std::function<void()> waiting) { files_.on_waiting(std::move(waiting)); }

 private:
  // An edit of the records file: record, when given, is checked first; shown, when given,
  // must still be the last record of name.
  template <typename MakeChange>
  Status edit(const Record* record, std::wstring_view name, const Record* shown,
              MakeChange make_change);
  Status take_lock(std::unique_ptr<EditLock>& lock, std::chrono::milliseconds wait);
  // Takes care of what interrupted edits left (recovery.h): where notices is given, what
  // is set aside is said there; without it, what cannot be finished is left for later.
  Status recover(std::vector<Message>* notices);
  Status nothing_saved(const Status& why, std::vector<Message> notices = {}) const;
  Status read_if_changed(bool& file_exists);
  LoadResult load(bool only_if_changed);
  void adopt(RecordTable table);

  PatientFileSystem files_;
  RecordsFile records_;
  Saving saving_{files_, records_};
  Recovery recovery_{files_, records_, saving_};
  std::chrono::milliseconds lock_wait_{5000};
  RecordTable table_;
  std::uint64_t generation_ = 0;
  Edit last_edit_;
  // The records file's entry when this store last read or wrote it.
  std::optional<FileStamp> seen_;
};

}  // namespace perlwick
