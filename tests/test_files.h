#pragma once

// Helpers for tests that work on real files: a private folder that is removed afterwards,
// whole-file reads and writes, and a file system that fails one chosen step.

#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "files/file_system.h"

namespace perlwick::testing {

// The reason a file system under test gives for a failure it makes up, as a system's own
// words.
inline SystemReason made_up_reason(const std::string& words) {
  return SystemReason::of(std::runtime_error(words));
}

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
// The files in folder whose names start with prefix.
std::vector<std::filesystem::path> files_starting_with(const std::filesystem::path& folder,
                                                       std::wstring_view prefix);
std::string read_file(const std::filesystem::path& path);

// The steps a file system takes; create covers every new file, open a file rewritten in
// place.
enum class Step { read, create, open, write, cut, flush, close, replace, remove, count };

// What a FaultyFileSystem throws where it is told to crash: the program stops there, as if
// it had been ended from outside, and nothing of it runs on.
struct SimulatedCrash {};

// The native file system, except that the chosen step fails: every time, or `times`
// times after letting `spared` calls through; the writing steps only for the file
// in_file, when it is given. It can also refuse new files beside a file, as a folder that
// the account may not create files in, and crash at a step.
class FaultyFileSystem final : public FileSystem {
 public:
  void fail(Step step, int times = -1, int spared = 0, std::filesystem::path in_file = {}) {
    failing_ = step;
    times_ = times;
    spared_ = spared;
    failing_file_ = std::move(in_file);
  }
  // The failures are of this kind (by default other).
  void fail_as(Failure kind) { failing_kind_ = kind; }
  Status injected(std::string_view what) const;
  void heal() {
    failing_.reset();
    crashing_.reset();
    refuse_new_files_ = false;
  }
  // The step's next call throws exception, as the standard library can anywhere.
  void throw_at(Step step, std::exception_ptr exception) {
    throwing_ = step;
    exception_ = std::move(exception);
  }
  // create_new is refused with "access denied", or fails as kind says.
  void refuse_new_files(Failure kind = Failure::refused) {
    refuse_new_files_ = true;
    refusal_ = kind;
  }
  // The step's call after `spared` more (in in_file, when it is given) throws
  // SimulatedCrash; a write writes half first.
  void crash(Step step, int spared = 0, std::filesystem::path in_file = {}) {
    crashing_ = step;
    crash_spared_ = spared;
    crashing_file_ = std::move(in_file);
  }
  int calls(Step step) const { return calls_[static_cast<int>(step)]; }

  Status read_each(const std::filesystem::path& path,
                   const std::function<bool(std::string_view)>& take) override;
  Status create_new(const std::filesystem::path& path, const std::filesystem::path& like_file,
                    std::unique_ptr<WritableFile>& file) override;
  Status create_or_empty(const std::filesystem::path& path,
                         std::unique_ptr<WritableFile>& file) override;
  Status open_in_place(const std::filesystem::path& path,
                       std::unique_ptr<WritableFile>& file) override;
  Status replace(const std::filesystem::path& replacement,
                 const std::filesystem::path& target) override;
  Status identify(const std::filesystem::path& path, FileIdentity& identity) override;
  void remove(const std::filesystem::path& path) override;
  FileStamp stamp(const std::filesystem::path& path) override;
  Status files_starting_with(const std::filesystem::path& folder, std::wstring_view prefix,
                             std::vector<std::filesystem::path>& found) override;
  Status lock(std::wstring_view key, const std::filesystem::path& private_folder,
              std::chrono::milliseconds wait, std::unique_ptr<EditLock>& lock) override;
  bool is_read_only(const std::filesystem::path& path) override;
  Status make_folder(const std::filesystem::path& path) override;
  std::filesystem::path private_folder() override;

  // Counts a call of the step (on file), crashes if told to, and says whether it is to
  // fail.
  bool strikes(Step step, const std::filesystem::path& file = {});
  // Whether the next call of the step on file crashes, without counting it.
  bool crashes_next(Step step, const std::filesystem::path& file) const {
    return crashing_ == step && crash_spared_ == 0 &&
           (crashing_file_.empty() || crashing_file_ == file);
  }

 private:
  Status wrap(Status created, std::unique_ptr<WritableFile>& file);

  std::optional<Step> failing_;
  int times_ = -1;
  int spared_ = 0;
  std::filesystem::path failing_file_;
  Failure failing_kind_ = Failure::other;
  std::optional<Step> crashing_;
  int crash_spared_ = 0;
  std::optional<Step> throwing_;
  std::exception_ptr exception_;
  std::filesystem::path crashing_file_;
  bool refuse_new_files_ = false;
  Failure refusal_ = Failure::refused;
  int calls_[static_cast<int>(Step::count)] = {};
};

}  // namespace perlwick::testing
