#pragma once

// The file operations the record store needs, behind one interface so that tests can
// make any step fail. Every failure carries the operating system's reason as text.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "store/status.h"

namespace perlwick {

enum class ReadOutcome { read, missing, failed };

struct ReadResult {
  ReadOutcome outcome = ReadOutcome::failed;
  std::wstring reason;  // the system's reason when the outcome is failed
};

// A file being written from its start; it is closed (if still open) when destroyed.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  virtual const std::filesystem::path& path() const = 0;
  virtual Status write(std::string_view bytes) = 0;
  // Ends the file where writing has got to: whatever it held beyond that is cut off.
  virtual Status cut() = 0;
  // Pushes everything written so far through to the disk.
  virtual Status flush() = 0;
  virtual Status close() = 0;
};

// A new file, or why there is none. Refused means the folder does not let this account
// create files in it (as the top of drive C: for a program that is not run as
// administrator); every other reason is a failure.
struct CreateResult {
  std::unique_ptr<WritableFile> file;
  bool refused = false;
  std::wstring reason;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Reads a whole file into bytes.
  virtual ReadResult read_all(const std::filesystem::path& path, std::string& bytes) = 0;
  // Creates a new, uniquely named file in the folder of target.
  virtual CreateResult create_beside(const std::filesystem::path& target) = 0;
  // Creates path, or empties it when it exists.
  virtual CreateResult create_or_empty(const std::filesystem::path& path) = 0;
  // Opens an existing file to write it anew from its start. The file stays the same file,
  // with its access rights and attributes.
  virtual CreateResult open_in_place(const std::filesystem::path& path) = 0;
  // Puts replacement in the place of target in one step, keeping target's attributes
  // and permissions where it exists.
  virtual Status replace(const std::filesystem::path& replacement,
                         const std::filesystem::path& target) = 0;
  // Removes a file, ignoring failure.
  virtual void remove(const std::filesystem::path& path) = 0;
  // Whether the file is marked read-only (false when it does not exist).
  virtual bool is_read_only(const std::filesystem::path& path) = 0;
  // Creates a folder and the folders above it that are missing.
  virtual Status make_folder(const std::filesystem::path& path) = 0;
  // The folder that belongs to this account alone where the program keeps what it needs
  // besides the records file: "Perlwick" in the account's local application data.
  virtual std::filesystem::path private_folder() = 0;
};

// The platform's file system.
FileSystem& native_file_system();

}  // namespace perlwick
