// The file system for builds without the Windows API: POSIX calls, with fsync before the
// atomic rename.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "store/file_system.h"

namespace perlwick {
namespace {

std::wstring reason_of(int error) {
  const char* text = std::strerror(error);
  std::wstring wide;
  for (const char* p = text; *p != '\0'; ++p)
    wide += static_cast<wchar_t>(static_cast<unsigned char>(*p));
  return wide;
}

Status os_failure(int error) {
  return Status::failure(reason_of(error));
}

// The folder does not let this account create files in it.
bool is_refusal(int error) {
  return error == EACCES || error == EPERM || error == EROFS;
}

CreateResult no_file(int error) {
  return {nullptr, is_refusal(error), reason_of(error)};
}

class PosixFile final : public WritableFile {
 public:
  PosixFile(std::filesystem::path path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  const std::filesystem::path& path() const override { return path_; }

  Status write(std::string_view bytes) override {
    while (!bytes.empty()) {
      const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
      if (written < 0) {
        if (errno == EINTR) continue;
        return os_failure(errno);
      }
      bytes.remove_prefix(static_cast<std::size_t>(written));
      offset_ += written;
    }
    return Status();
  }

  Status cut() override { return ::ftruncate(fd_, offset_) == 0 ? Status() : os_failure(errno); }

  Status flush() override { return ::fsync(fd_) == 0 ? Status() : os_failure(errno); }

  Status close() override {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? Status() : os_failure(errno);
  }

 private:
  std::filesystem::path path_;
  int fd_;
  off_t offset_ = 0;
};

class PosixFileSystem final : public FileSystem {
 public:
  ReadResult read_all(const std::filesystem::path& path, std::string& bytes) override {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      const int error = errno;
      if (error == ENOENT) return {ReadOutcome::missing, {}};
      return {ReadOutcome::failed, reason_of(error)};
    }
    ReadResult result{ReadOutcome::read, {}};
    struct stat info {};
    bytes.clear();
    if (::fstat(fd, &info) == 0 && info.st_size > 0)
      bytes.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[1 << 16];
    for (;;) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0) {
        if (errno == EINTR) continue;
        result = {ReadOutcome::failed, reason_of(errno)};
        break;
      }
      if (got == 0) break;
      bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return result;
  }

  CreateResult create_beside(const std::filesystem::path& target) override {
    static std::atomic<unsigned> counter{0};
    // A new file keeps the permissions of the file it will replace.
    mode_t mode = 0666;
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) mode = info.st_mode & 07777;
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::filesystem::path temp = target;
      temp += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
      const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
      if (fd >= 0) {
        (void)::fchmod(fd, mode);
        return {std::make_unique<PosixFile>(std::move(temp), fd), false, {}};
      }
      if (errno != EEXIST) return no_file(errno);
    }
    return no_file(EEXIST);
  }

  CreateResult create_or_empty(const std::filesystem::path& path) override {
    return open_file(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC);
  }

  CreateResult open_in_place(const std::filesystem::path& path) override {
    return open_file(path, O_WRONLY | O_CLOEXEC);
  }

  Status replace(const std::filesystem::path& replacement,
                 const std::filesystem::path& target) override {
    return ::rename(replacement.c_str(), target.c_str()) == 0 ? Status() : os_failure(errno);
  }

  void remove(const std::filesystem::path& path) override { ::unlink(path.c_str()); }

  // Windows' read-only attribute stands for a file that nobody may write.
  bool is_read_only(const std::filesystem::path& path) override {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & 0222) == 0;
  }

  Status make_folder(const std::filesystem::path& path) override {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return error ? os_failure(error.value()) : Status();
  }

  std::filesystem::path private_folder() override {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
      return std::filesystem::path(state) / "perlwick";
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : "/tmp") / ".local/state/perlwick";
  }

 private:
  static CreateResult open_file(const std::filesystem::path& path, int flags) {
    const int fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0) return no_file(errno);
    return {std::make_unique<PosixFile>(path, fd), false, {}};
  }
};

}  // namespace

FileSystem& native_file_system() {
  static PosixFileSystem file_system;
  return file_system;
}

}  // namespace perlwick
