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

// A new file being written; it is closed (if still open) when destroyed.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  virtual const std::filesystem::path& path() const = 0;
  virtual Status write(std::string_view bytes) = 0;
  // Pushes everything written so far through to the disk.
  virtual Status flush() = 0;
  virtual Status close() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Reads a whole file into bytes.
  virtual ReadResult read_all(const std::filesystem::path& path, std::string& bytes) = 0;
  // Creates a new, uniquely named file in the folder of target.
  virtual std::unique_ptr<WritableFile> create_beside(const std::filesystem::path& target,
                                                      std::wstring& reason) = 0;
  // Puts replacement in the place of target in one step, keeping target's attributes
  // and permissions where it exists.
  virtual Status replace(const std::filesystem::path& replacement,
                         const std::filesystem::path& target) = 0;
  // Removes a file, ignoring failure.
  virtual void remove(const std::filesystem::path& path) noexcept = 0;
};

// The platform's file system.
FileSystem& native_file_system();

}  // namespace perlwick
