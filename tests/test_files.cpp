#include "test_files.h"

#include <fstream>
#include <random>
#include <sstream>

namespace perlwick::testing {

TempDir::TempDir() {
  std::random_device random;
  path_ = std::filesystem::temp_directory_path() /
          ("perlwick-test-" + std::to_string(random()) + std::to_string(random()));
  std::filesystem::create_directories(path_);
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
    if (owner_.strikes(Step::write)) {
      // Half the content reaches the file before the failure, as with a full disk.
      (void)inner_->write(bytes.substr(0, bytes.size() / 2));
      return Status::failure(L"injected write failure");
    }
    return inner_->write(bytes);
  }
  Status flush() override {
    return owner_.strikes(Step::flush) ? Status::failure(L"injected flush failure")
                                       : inner_->flush();
  }
  Status close() override {
    if (owner_.strikes(Step::close)) {
      (void)inner_->close();
      return Status::failure(L"injected close failure");
    }
    return inner_->close();
  }

 private:
  std::unique_ptr<WritableFile> inner_;
  FaultyFileSystem& owner_;
};

}  // namespace

bool FaultyFileSystem::strikes(Step step) {
  ++calls_[static_cast<int>(step)];
  if (failing_ != step || times_ == 0) return false;
  if (spared_ > 0) {
    --spared_;
    return false;
  }
  if (times_ > 0) --times_;
  return true;
}

ReadResult FaultyFileSystem::read_all(const std::filesystem::path& path, std::string& bytes) {
  if (strikes(Step::read)) return {ReadOutcome::failed, L"injected read failure"};
  return native_file_system().read_all(path, bytes);
}

std::unique_ptr<WritableFile> FaultyFileSystem::create_beside(const std::filesystem::path& target,
                                                              std::wstring& reason) {
  if (strikes(Step::create)) {
    reason = L"injected create failure";
    return nullptr;
  }
  auto inner = native_file_system().create_beside(target, reason);
  if (!inner) return nullptr;
  return std::make_unique<FaultyFile>(std::move(inner), *this);
}

Status FaultyFileSystem::replace(const std::filesystem::path& replacement,
                                 const std::filesystem::path& target) {
  if (strikes(Step::replace)) return Status::failure(L"injected replace failure");
  return native_file_system().replace(replacement, target);
}

void FaultyFileSystem::remove(const std::filesystem::path& path) noexcept {
  native_file_system().remove(path);
}

}  // namespace perlwick::testing
