#pragma once

// The file operations the record store needs, behind one interface so that tests can
// make any step fail. Every failure carries the operating system's reason as text, and
// its kind: what the store acts on (a file that is missing, a folder that refuses new
// files, a name that is taken, a protection that cannot be given, a lock that another
// copy holds, a file that another program holds) and what the user is told.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"

namespace perlwick {

// A file being written from its start; it is closed (if still open) when destroyed.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  virtual const std::filesystem::path& path() const = 0;
  virtual Status write(std::string_view bytes) = 0;
  // Ends the file where writing has got to: whatever it held beyond that is cut off.
  virtual Status cut() = 0;
  // Pushes everything written so far through to the disk, and, for a file that
  // create_new or create_or_empty made, its name in its folder too: a power cut after this
  // leaves the file as it is now.
  virtual Status flush() = 0;
  virtual Status close() = 0;
};

// What a file's entry says of it: enough to tell, cheaply, whether it has changed.
// Times count 100-nanosecond ticks of the file system's clock.
struct FileStamp {
  bool exists = false;
  std::uint64_t size = 0;
  std::int64_t modified = 0;
  std::int64_t taken = 0;  // when the stamp was taken
  // Which file it is on its volume: a file moved into its place is another one.
  std::uint64_t id = 0;
  // The file system keeps times to a few milliseconds (not to two seconds, as FAT does).
  bool fine_times = false;

  // The same file content as far as the entry tells.
  bool same_as(const FileStamp& other) const {
    return exists == other.exists && size == other.size && modified == other.modified &&
           id == other.id;
  }
};

// What a path names on the disk: the path that every symbolic link and junction on the way
// leads to, and how many names (hard links) the file has.
struct FileIdentity {
  std::filesystem::path final_path;
  std::uint32_t links = 1;
};

// Held while one copy of the program edits a records file; the system frees it when the
// copy ends, however it ends.
class EditLock {
 public:
  virtual ~EditLock() = default;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Reads a file from its start to its end, handing each chunk to take; take returns false
  // to stop early. Fails as missing when there is no such file.
  virtual Status read_each(const std::filesystem::path& path,
                           const std::function<bool(std::string_view)>& take) = 0;
  // Reads a whole file into bytes, with room to grow by a little.
  Status read_all(const std::filesystem::path& path, std::string& bytes);
  // Creates a new file, where none of that name exists (else it fails as taken; as refused
  // where the folder does not let this account create files, as the top of drive C: for
  // a program that is not run as administrator). When like_file exists, the new file has
  // its protection from the start: its owner, its access rights and its attributes. Where
  // that cannot be given, there is no new file (unprotected).
  virtual Status create_new(const std::filesystem::path& path,
                            const std::filesystem::path& like_file,
                            std::unique_ptr<WritableFile>& file) = 0;
  // Creates path, or empties it when it exists.
  virtual Status create_or_empty(const std::filesystem::path& path,
                                 std::unique_ptr<WritableFile>& file) = 0;
  // Opens an existing file to write it anew from its start. The file stays the same file,
  // with its access rights and attributes.
  virtual Status open_in_place(const std::filesystem::path& path,
                               std::unique_ptr<WritableFile>& file) = 0;
  // Moves replacement to target's name in one step, replacing target where it exists: at
  // every moment target's name holds either the old file or the new one. The file keeps
  // its own protection. The move is on the disk when this returns.
  virtual Status replace(const std::filesystem::path& replacement,
                         const std::filesystem::path& target) = 0;
  // Follows path through links to the file it names. Fails as missing when there is none.
  virtual Status identify(const std::filesystem::path& path, FileIdentity& identity) = 0;
  // Removes a file, ignoring failure.
  virtual void remove(const std::filesystem::path& path) = 0;
  // The file's entry; exists is false when there is none (or it cannot be looked at).
  virtual FileStamp stamp(const std::filesystem::path& path) = 0;
  // The files in folder whose names start with prefix. Fails as missing when there is no
  // such folder.
  virtual Status files_starting_with(const std::filesystem::path& folder, std::wstring_view prefix,
                                     std::vector<std::filesystem::path>& found) = 0;
  // Takes the lock that one copy of the program holds while it edits the records file
  // that key names (records_file_key), waiting up to wait while another copy holds it
  // (then it fails as busy). The lock may need a file in private_folder.
  virtual Status lock(std::wstring_view key, const std::filesystem::path& private_folder,
                      std::chrono::milliseconds wait, std::unique_ptr<EditLock>& lock) = 0;
  // Whether the file is marked read-only (false when it does not exist).
  virtual bool is_read_only(const std::filesystem::path& path) = 0;
  // Creates a folder and the folders above it that are missing; they are on the disk when
  // this returns.
  virtual Status make_folder(const std::filesystem::path& path) = 0;
  // The folder that belongs to this account alone where the program keeps what it needs
  // besides the records file: "Perlwick" in the account's local application data.
  virtual std::filesystem::path private_folder() = 0;
};

// The platform's file system.
FileSystem& native_file_system();

}  // namespace perlwick
