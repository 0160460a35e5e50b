#pragma once

// A file system in memory that keeps apart what a program has written and what has reached
// the disk, so that a test can cut the power at any step and see the disk as it may then
// be. What it lets survive a cut, and why, is written at the top of power_cut_test.cpp.
// It can also fail any one step, with any kind of failure, as a real file system can.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "files/file_system.h"

namespace perlwick::testing {

// Thrown by the step at which the power goes: nothing of the program runs on.
struct PowerCut {};

// Files and folders as a disk holds them, by full path.
struct Disk {
  std::map<std::filesystem::path, std::string> files;
  std::set<std::filesystem::path> folders;
  // When files were last written, where it matters.
  std::map<std::filesystem::path, std::int64_t> modified;

  std::optional<std::string> file(const std::filesystem::path& path) const;
  // The names of the files directly in folder.
  std::vector<std::filesystem::path> files_in(const std::filesystem::path& folder) const;
};

class PowerCutFileSystem final : public FileSystem {
 public:
  // A disk that holds disk, after a start; its folders can never go. private_folder is
  // what private_folder() answers.
  PowerCutFileSystem(const Disk& disk, std::filesystem::path private_folder);
  ~PowerCutFileSystem() override;

  // Steps taken so far: every call that looks at or changes a file or a folder, and a
  // move twice (the move, then its folder's sync).
  int steps() const { return steps_; }
  // The power goes as step `at` begins: it throws PowerCut, and every later call does
  // nothing and fails.
  void cut_before(int at) { cut_at_ = at; }
  bool is_cut() const { return cut_; }
  // Step `at` fails with a failure of that kind; a write writes half its bytes first.
  void fail_at(int at, Failure kind) {
    fail_at_ = at;
    fail_kind_ = kind;
  }
  // Whether a removal failed: it cannot say so.
  bool failed_to_remove() const { return failed_to_remove_; }
  // Creating files in folder is refused, as at the top of drive C: for an ordinary account.
  void refuse_new_files_in(const std::filesystem::path& folder);

  // The disk as a cut now may leave it, one of many, drawn with random.
  Disk after_cut(std::mt19937_64& random) const;
  // The disk if everything done so far had reached it.
  Disk as_written() const;

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
  std::filesystem::path private_folder() override { return private_folder_; }

  // Takes one step: throws PowerCut at the cut, and says whether the step is to fail
  // (always, once the power is gone).
  bool step(const char* what, const std::filesystem::path& path = {});
  Status injected() const;
  // What each step was and on what, for the message of a test that fails.
  std::string steps_taken() const;
  // What step `at` was ("read", "create", "move", ...).
  std::string step_taken(int at) const {
    const std::string& taken = taken_.at(static_cast<std::size_t>(at));
    return taken.substr(0, taken.find(' '));
  }

 private:
  friend class SimulatedFile;
  struct File;
  struct Folder;
  struct Change;

  Folder* folder_of(const std::filesystem::path& path);
  File* file_at(const std::filesystem::path& path);
  Status create(const std::filesystem::path& path, bool may_exist,
                std::unique_ptr<WritableFile>& file);
  // Makes every change of folder's entries so far durable.
  void sync(Folder& folder);
  Disk disk(std::mt19937_64* random) const;

  std::map<std::filesystem::path, std::unique_ptr<Folder>> folders_;
  std::vector<std::unique_ptr<File>> files_;
  std::filesystem::path private_folder_;
  std::int64_t clock_ = 13'000'000'000'000'000;
  int steps_ = 0;
  std::vector<std::string> taken_;
  int cut_at_ = -1;
  bool cut_ = false;
  bool failed_to_remove_ = false;
  int fail_at_ = -1;
  Failure fail_kind_ = Failure::other;
};

}  // namespace perlwick::testing
