// The file system for builds without the Windows API: POSIX calls, with fsync before the
// atomic rename.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

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
    }
    return Status();
  }

  Status flush() override { return ::fsync(fd_) == 0 ? Status() : os_failure(errno); }

  Status close() override {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? Status() : os_failure(errno);
  }

 private:
  std::filesystem::path path_;
  int fd_;
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

  std::unique_ptr<WritableFile> create_beside(const std::filesystem::path& target,
                                              std::wstring& reason) override {
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
        return std::make_unique<PosixFile>(std::move(temp), fd);
      }
      if (errno != EEXIST) {
        reason = reason_of(errno);
        return nullptr;
      }
    }
    reason = reason_of(EEXIST);
    return nullptr;
  }

  Status replace(const std::filesystem::path& replacement,
                 const std::filesystem::path& target) override {
    return ::rename(replacement.c_str(), target.c_str()) == 0 ? Status() : os_failure(errno);
  }

  void remove(const std::filesystem::path& path) noexcept override { ::unlink(path.c_str()); }
};

}  // namespace

FileSystem& native_file_system() {
  static PosixFileSystem file_system;
  return file_system;
}

}  // namespace perlwick
