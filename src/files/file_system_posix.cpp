// The file system for builds without the Windows API: POSIX calls, with fsync before the
// atomic rename.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <system_error>
#include <thread>

#include "common/fnv1a.h"
#include "common/owned.h"
#include "common/scope_exit.h"
#include "files/file_system.h"

namespace perlwick {
namespace {

// What kind of failure a system error is.
Failure kind_of(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return Failure::denied;
    case EBUSY:
    case ETXTBSY:
      return Failure::held;
    case EROFS:
      return Failure::write_protected;
    case ENOSPC:
    case EDQUOT:
      return Failure::full;
    case ENOENT:
      return Failure::missing;
    case ENOTDIR:
    case ENODEV:
    case ENXIO:
    case ESTALE:
      return Failure::gone;
    case EFBIG:
      return Failure::too_large;
    case EEXIST:
      return Failure::taken;
    default:
      return Failure::other;
  }
}

Status os_failure(int error) {
  return Status::failure(kind_of(error), SystemReason::of_errno(error));
}

// Why a file could not be opened for writing; creating is refused where the folder does
// not let this account create files.
Status not_opened(int error, bool creating) {
  Failure kind = kind_of(error);
  if (creating && (error == EACCES || error == EPERM || error == EROFS)) kind = Failure::refused;
  return Status::failure(kind, SystemReason::of_errno(error));
}

// An open file descriptor, and an open folder listing.
struct DescriptorKind {
  using Handle = int;
  static constexpr int none = -1;
  static bool holds(int fd) { return fd >= 0; }
  static void free(int fd) { ::close(fd); }
};
using Descriptor = Owned<DescriptorKind>;

struct ListingKind {
  using Handle = DIR*;
  [[maybe_unused]] static constexpr DIR* none = nullptr;  // a listing is never given up
  static bool holds(DIR* listing) { return listing != nullptr; }
  static void free(DIR* listing) { ::closedir(listing); }
};
using Listing = Owned<ListingKind>;

// Opens a folder, to make its entries durable.
Descriptor open_folder(const std::filesystem::path& folder) {
  return Descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Makes the entries of a folder durable: the names of the files created, moved into or
// removed from it.
Status sync_folder(const std::filesystem::path& file) {
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
  const Descriptor fd = open_folder(folder);
  if (!fd) return os_failure(errno);
  return ::fsync(fd.get()) == 0 ? Status() : os_failure(errno);
}

class PosixFile final : public WritableFile {
 public:
  // created: the file is new, and its name is made durable with its content.
  PosixFile(std::filesystem::path path, bool created) : path_(std::move(path)), created_(created) {}

  // Opens the file; 0, or the system's error.
  int open(int flags, mode_t mode) {
    fd_ = Descriptor(::open(path_.c_str(), flags, mode));
    return fd_ ? 0 : errno;
  }

  const std::filesystem::path& path() const override { return path_; }
  int descriptor() const { return fd_.get(); }

  Status write(std::string_view bytes) override {
    while (!bytes.empty()) {
      const ssize_t written = ::write(fd_.get(), bytes.data(), bytes.size());
      if (written < 0) {
        if (errno == EINTR) continue;
        return os_failure(errno);
      }
      bytes.remove_prefix(static_cast<std::size_t>(written));
      offset_ += written;
    }
    return Status();
  }

  Status cut() override {
    return ::ftruncate(fd_.get(), offset_) == 0 ? Status() : os_failure(errno);
  }

  Status flush() override {
    if (::fsync(fd_.get()) != 0) return os_failure(errno);
    return created_ ? sync_folder(path_) : Status();
  }

  Status close() override { return ::close(fd_.release()) == 0 ? Status() : os_failure(errno); }

 private:
  std::filesystem::path path_;
  bool created_;
  Descriptor fd_;
  off_t offset_ = 0;
};

constexpr std::size_t kChunk = 1 << 20;

// A time as 100-nanosecond ticks since 1970.
using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;

std::int64_t ticks(std::int64_t seconds, std::int64_t nanoseconds) {
  return seconds * 10'000'000 + nanoseconds / 100;
}

// An flock on a file of the private folder: the kernel lets go of it when the process
// ends, however it ends.
class PosixLock final : public EditLock {
 public:
  explicit PosixLock(Descriptor fd) : fd_(std::move(fd)) {}
  int descriptor() const { return fd_.get(); }

 private:
  Descriptor fd_;
};

class PosixFileSystem final : public FileSystem {
 private:
  std::map<dev_t, bool> fine_times_;

 public:
  Status read_each(const std::filesystem::path& path,
                   const std::function<bool(std::string_view)>& take) override {
    // Closed however the read ends, running out of memory included.
    const Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return os_failure(errno);
    const auto buffer = std::make_unique<char[]>(kChunk);
    for (;;) {
      const ssize_t got = ::read(fd.get(), buffer.get(), kChunk);
      if (got < 0) {
        if (errno == EINTR) continue;
        return os_failure(errno);
      }
      if (got == 0 || !take(std::string_view(buffer.get(), static_cast<std::size_t>(got)))) {
        return Status();
      }
    }
  }

  Status create_new(const std::filesystem::path& path, const std::filesystem::path& like_file,
                    std::unique_ptr<WritableFile>& file) override {
    struct stat like {};
    if (::stat(like_file.c_str(), &like) != 0) {
      return open_file(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666, true, file);
    }
    // The new file has the owner and the permissions of the file it will replace. It is
    // created with no more than those permissions (the umask can only take some away) and
    // given that owner and exactly those permissions before anything is written to it.
    const mode_t mode = like.st_mode & 07777;
    std::unique_ptr<WritableFile> created;
    if (Status s = open_file(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode, true, created);
        !s.ok()) {
      return s;
    }
    const int fd = static_cast<PosixFile&>(*created).descriptor();
    struct stat made {};
    const bool owned =
        ::fstat(fd, &made) == 0 && ((made.st_uid == like.st_uid && made.st_gid == like.st_gid) ||
                                    ::fchown(fd, like.st_uid, like.st_gid) == 0);
    if (!owned || ::fchmod(fd, mode) != 0) {
      const int error = errno;
      created.reset();
      ::unlink(path.c_str());
      return Status::failure(Failure::unprotected, SystemReason::of_errno(error));
    }
    file = std::move(created);
    return Status();
  }

  Status create_or_empty(const std::filesystem::path& path,
                         std::unique_ptr<WritableFile>& file) override {
    return open_file(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600, true, file);
  }

  Status open_in_place(const std::filesystem::path& path,
                       std::unique_ptr<WritableFile>& file) override {
    return open_file(path, O_WRONLY | O_CLOEXEC, 0, false, file);
  }

  Status replace(const std::filesystem::path& replacement,
                 const std::filesystem::path& target) override {
    // The folder is opened first: once the file has moved, nothing is left that can fail.
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    const Descriptor fd = open_folder(folder);
    if (!fd) return os_failure(errno);
    if (::rename(replacement.c_str(), target.c_str()) != 0) return os_failure(errno);
    // The new name is on the disk once the folder is. Should that fail, the move has
    // happened all the same, and an interruption now leaves either file whole.
    (void)::fsync(fd.get());
    return Status();
  }

  Status identify(const std::filesystem::path& path, FileIdentity& identity) override {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return os_failure(errno);
    char* const resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return os_failure(errno);
    const ScopeExit freed([resolved] { std::free(resolved); });
    identity.final_path = resolved;
    identity.links = static_cast<std::uint32_t>(info.st_nlink);
    return Status();
  }

  void remove(const std::filesystem::path& path) override { ::unlink(path.c_str()); }

  FileStamp stamp(const std::filesystem::path& path) override {
    FileStamp stamp;
    stamp.taken =
        std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
      stamp.exists = true;
      stamp.size = static_cast<std::uint64_t>(info.st_size);
      stamp.modified = ticks(info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
      stamp.id = fnv1a_step(fnv1a_step(kFnv1aStart, static_cast<std::uint64_t>(info.st_ino)),
                            static_cast<std::uint64_t>(info.st_dev));
      stamp.fine_times = fine_times(path, info.st_dev);
    }
    return stamp;
  }

  // Whether the file system keeps times finely: all but FAT and exFAT, which keep them to
  // two seconds or ten milliseconds. Asked once a device.
  bool fine_times(const std::filesystem::path& path, dev_t device) {
    if (const auto known = fine_times_.find(device); known != fine_times_.end()) {
      return known->second;
    }
    constexpr unsigned long kFat = 0x4d44;
    constexpr unsigned long kExFat = 0x2011BAB0;
    struct statfs volume {};
    const bool fine = ::statfs(path.c_str(), &volume) == 0 &&
                      static_cast<unsigned long>(volume.f_type) != kFat &&
                      static_cast<unsigned long>(volume.f_type) != kExFat;
    fine_times_[device] = fine;
    return fine;
  }

  Status files_starting_with(const std::filesystem::path& folder, std::wstring_view prefix,
                             std::vector<std::filesystem::path>& found) override {
    // Not std::filesystem::directory_iterator: it ends the program when memory runs out.
    found.clear();
    const std::string start = std::filesystem::path(prefix).string();
    // Closed however the listing ends, running out of memory included.
    const Listing listing(::opendir(folder.c_str()));
    if (!listing) return os_failure(errno);
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(listing.get());
      if (entry == nullptr) return errno == 0 ? Status() : os_failure(errno);
      if (std::string_view(entry->d_name).starts_with(start)) {
        found.push_back(folder / entry->d_name);
      }
    }
  }

  Status lock(std::wstring_view key, const std::filesystem::path& private_folder,
              std::chrono::milliseconds wait, std::unique_ptr<EditLock>& lock) override {
    if (Status made = make_folder(private_folder); !made.ok()) return made;
    const std::filesystem::path path = private_folder / (L"edit-lock-" + std::wstring(key));
    // Closed however this ends short of the lock being handed over.
    Descriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd) return os_failure(errno);
    auto held = std::make_unique<PosixLock>(std::move(fd));
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
      if (::flock(held->descriptor(), LOCK_EX | LOCK_NB) == 0) {
        lock = std::move(held);
        return Status();
      }
      const int error = errno;
      if (error != EWOULDBLOCK && error != EINTR) return os_failure(error);
      if (std::chrono::steady_clock::now() >= deadline) return Status::failure(Failure::busy, {});
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  // Windows' read-only attribute stands for a file that nobody may write.
  bool is_read_only(const std::filesystem::path& path) override {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & 0222) == 0;
  }

  Status make_folder(const std::filesystem::path& path) override {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0)
      return S_ISDIR(info.st_mode) ? Status() : os_failure(ENOTDIR);
    if (path.has_parent_path() && path.parent_path() != path) {
      if (Status parent = make_folder(path.parent_path()); !parent.ok()) return parent;
    }
    if (::mkdir(path.c_str(), 0777) != 0) {
      const int error = errno;
      if (error != EEXIST) return os_failure(error);
    }
    // The new folder's name is on the disk before anything is written in it.
    return sync_folder(path);
  }

  std::filesystem::path private_folder() override {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
      return std::filesystem::path(state) / "perlwick";
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : "/tmp") / ".local/state/perlwick";
  }

 private:
  static Status open_file(const std::filesystem::path& path, int flags, mode_t mode, bool created,
                          std::unique_ptr<WritableFile>& opened) {
    // Made before the file is opened: once the file exists, nothing can fail.
    auto file = std::make_unique<PosixFile>(path, created);
    if (const int error = file->open(flags, mode); error != 0) return not_opened(error, created);
    opened = std::move(file);
    return Status();
  }
};

}  // namespace

FileSystem& native_file_system() {
  static PosixFileSystem file_system;
  return file_system;
}

}  // namespace perlwick
