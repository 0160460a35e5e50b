#include "test_files.h"

#include <fstream>
#include <random>
#include <sstream>

namespace perlwick::testing {

TempDir::TempDir() {
  // Tests run side by side: each makes a folder of its own, never one that is already there.
  std::random_device random;
  do {
    path_ = std::filesystem::temp_directory_path() /
            ("perlwick-test-" + std::to_string(random()) + std::to_string(random()));
  } while (!std::filesystem::create_directory(path_));
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::size_t TempDir::file_count() const {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(path_)) ++count;
  return count;
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::vector<std::filesystem::path> files_starting_with(const std::filesystem::path& folder,
                                                       std::wstring_view prefix) {
  std::vector<std::filesystem::path> found;
  (void)native_file_system().files_starting_with(folder, prefix, found);
  return found;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

namespace {

class FaultyFile final : public WritableFile {
 public:
  FaultyFile(std::unique_ptr<WritableFile> inner, FaultyFileSystem& owner)
      : inner_(std::move(inner)), owner_(owner) {}
  const std::filesystem::path& path() const override { return inner_->path(); }
  Status write(std::string_view bytes) override {
    // Half the content reaches the file before a failure or a crash, as with a full disk.
    if (owner_.crashes_next(Step::write, path())) {
      (void)inner_->write(bytes.substr(0, bytes.size() / 2));
    }
    if (owner_.strikes(Step::write, path())) {
      (void)inner_->write(bytes.substr(0, bytes.size() / 2));
      return owner_.injected("write");
    }
    return inner_->write(bytes);
  }
  Status cut() override {
    return owner_.strikes(Step::cut, path()) ? owner_.injected("cut") : inner_->cut();
  }
  Status flush() override {
    return owner_.strikes(Step::flush, path()) ? owner_.injected("flush") : inner_->flush();
  }
  Status close() override {
    if (owner_.strikes(Step::close, path())) {
      (void)inner_->close();
      return owner_.injected("close");
    }
    return inner_->close();
  }

 private:
  std::unique_ptr<WritableFile> inner_;
  FaultyFileSystem& owner_;
};

}  // namespace

Status FaultyFileSystem::injected(std::string_view what) const {
  return Status::failure(failing_kind_,
                         made_up_reason("injected " + std::string(what) + " failure"));
}

bool FaultyFileSystem::strikes(Step step, const std::filesystem::path& file) {
  ++calls_[static_cast<int>(step)];
  if (throwing_ == step) {
    throwing_.reset();
    std::rethrow_exception(exception_);
  }
  if (crashing_ == step && (crashing_file_.empty() || crashing_file_ == file) &&
      crash_spared_-- == 0) {
    crashing_.reset();
    throw SimulatedCrash{};
  }
  if (failing_ != step || times_ == 0) return false;
  if (!failing_file_.empty() && failing_file_ != file) return false;
  if (spared_ > 0) {
    --spared_;
    return false;
  }
  if (times_ > 0) --times_;
  return true;
}

Status FaultyFileSystem::wrap(Status created, std::unique_ptr<WritableFile>& file) {
  if (file) file = std::make_unique<FaultyFile>(std::move(file), *this);
  return created;
}

Status FaultyFileSystem::read_each(const std::filesystem::path& path,
                                   const std::function<bool(std::string_view)>& take) {
  // A file that is not there is simply missing.
  if (native_file_system().stamp(path).exists && strikes(Step::read, path)) {
    return injected("read");
  }
  return native_file_system().read_each(path, take);
}

Status FaultyFileSystem::create_new(const std::filesystem::path& path,
                                    const std::filesystem::path& like_file,
                                    std::unique_ptr<WritableFile>& file) {
  if (strikes(Step::create, path)) return injected("create");
  if (refuse_new_files_)
    return Status::failure(refusal_, made_up_reason("Access denied (injected)"));
  return wrap(native_file_system().create_new(path, like_file, file), file);
}

Status FaultyFileSystem::create_or_empty(const std::filesystem::path& path,
                                         std::unique_ptr<WritableFile>& file) {
  if (strikes(Step::create, path)) return injected("create");
  return wrap(native_file_system().create_or_empty(path, file), file);
}

Status FaultyFileSystem::open_in_place(const std::filesystem::path& path,
                                       std::unique_ptr<WritableFile>& file) {
  if (strikes(Step::open, path)) return injected("open");
  return wrap(native_file_system().open_in_place(path, file), file);
}

Status FaultyFileSystem::replace(const std::filesystem::path& replacement,
                                 const std::filesystem::path& target) {
  if (strikes(Step::replace)) return injected("replace");
  return native_file_system().replace(replacement, target);
}

Status FaultyFileSystem::identify(const std::filesystem::path& path, FileIdentity& identity) {
  return native_file_system().identify(path, identity);
}

void FaultyFileSystem::remove(const std::filesystem::path& path) {
  if (!strikes(Step::remove)) native_file_system().remove(path);
}

FileStamp FaultyFileSystem::stamp(const std::filesystem::path& path) {
  return native_file_system().stamp(path);
}

Status FaultyFileSystem::files_starting_with(const std::filesystem::path& folder,
                                             std::wstring_view prefix,
                                             std::vector<std::filesystem::path>& found) {
  return native_file_system().files_starting_with(folder, prefix, found);
}

Status FaultyFileSystem::lock(std::wstring_view key, const std::filesystem::path& private_folder,
                              std::chrono::milliseconds wait, std::unique_ptr<EditLock>& lock) {
  return native_file_system().lock(key, private_folder, wait, lock);
}

bool FaultyFileSystem::is_read_only(const std::filesystem::path& path) {
  return native_file_system().is_read_only(path);
}

Status FaultyFileSystem::make_folder(const std::filesystem::path& path) {
  return native_file_system().make_folder(path);
}

std::filesystem::path FaultyFileSystem::private_folder() {
  return native_file_system().private_folder();
}

}  // namespace perlwick::testing
