#pragma once

// Helpers for tests that work on real files: a private folder that is removed afterwards,
// whole-file reads and writes, and a file system that fails one chosen step.

#include <filesystem>
#include <optional>
#include <string>

#include "store/file_system.h"

namespace perlwick::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path file(const std::string& name) const { return path_ / name; }
  // Names of the files in the folder.
  std::size_t file_count() const;

 private:
  std::filesystem::path path_;
};

void write_file(const std::filesystem::path& path, const std::string& bytes);
std::string read_file(const std::filesystem::path& path);

enum class Step { read, create, write, flush, close, replace };

// The native file system, except that the chosen step fails: every time, or `times`
// times after letting `spared` calls through.
class FaultyFileSystem final : public FileSystem {
 public:
  void fail(Step step, int times = -1, int spared = 0) {
    failing_ = step;
    times_ = times;
    spared_ = spared;
  }
  void heal() { failing_.reset(); }
  int calls(Step step) const { return calls_[static_cast<int>(step)]; }

  ReadResult read_all(const std::filesystem::path& path, std::string& bytes) override;
  std::unique_ptr<WritableFile> create_beside(const std::filesystem::path& target,
                                              std::wstring& reason) override;
  Status replace(const std::filesystem::path& replacement,
                 const std::filesystem::path& target) override;
  void remove(const std::filesystem::path& path) noexcept override;

  // Counts a call of the step and says whether it is to fail.
  bool strikes(Step step);

 private:
  std::optional<Step> failing_;
  int times_ = -1;
  int spared_ = 0;
  int calls_[6] = {};
};

}  // namespace perlwick::testing
