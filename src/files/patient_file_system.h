#pragma once

// A file system that waits out brief holds: where another program has a file open (a
// program that scans or backs up files holds it for a moment), opening, reading, creating
// or moving it is tried again, with growing pauses, for about two seconds before the
// failure stands. Only steps that did nothing when they failed are tried again: nothing
// is written twice, and the steps keep their order.

#include <chrono>
#include <functional>

#include "files/file_system.h"

namespace perlwick {

class PatientFileSystem final : public FileSystem {
 public:
  using Pause = std::function<void(std::chrono::milliseconds)>;

  explicit PatientFileSystem(FileSystem& files) : files_(files) {}

  // How long a step is tried again in all, and how a pause is taken (the tests take none).
  void set_patience(std::chrono::milliseconds patience, Pause pause);
  // Called once as a step begins to wait: the window shows that it is busy.
  void on_waiting(std::function<void()> waiting) { waiting_ = std::move(waiting); }

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
  Status identify(const std::filesystem::path& path, FileIdentity& identity) override {
    return files_.identify(path, identity);
  }
  void remove(const std::filesystem::path& path) override { files_.remove(path); }
  FileStamp stamp(const std::filesystem::path& path) override { return files_.stamp(path); }
  Status files_starting_with(const std::filesystem::path& folder, std::wstring_view prefix,
                             std::vector<std::filesystem::path>& found) override {
    return files_.files_starting_with(folder, prefix, found);
  }
  Status lock(std::wstring_view key, const std::filesystem::path& private_folder,
              std::chrono::milliseconds wait, std::unique_ptr<EditLock>& lock) override {
    return files_.lock(key, private_folder, wait, lock);
  }
  bool is_read_only(const std::filesystem::path& path) override {
    return files_.is_read_only(path);
  }
  Status make_folder(const std::filesystem::path& path) override {
    return files_.make_folder(path);
  }
  std::filesystem::path private_folder() override { return files_.private_folder(); }

 private:
  // Runs step until it succeeds, fails otherwise than by a hold, or patience runs out;
  // while did_nothing, when given, says that the failed step changed nothing.
  Status patiently(const std::function<Status()>& step,
                   const std::function<bool()>& did_nothing = {});

  FileSystem& files_;
  std::chrono::milliseconds patience_{2000};
  Pause pause_;
  std::function<void()> waiting_;
};

}  // namespace perlwick
