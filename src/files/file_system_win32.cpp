// The file system on Windows: the new content is written to a file beside the records
// file, created with the records file's owner, access rights and attributes, flushed to
// the disk, and then moved over the records file in one step with MoveFileExW.
// (ReplaceFileW would keep the records file's protection by itself, but it takes several
// steps, and an interruption between them leaves no records file at all.)

#include <windows.h>

#include <aclapi.h>
#include <shlobj.h>

#include <algorithm>
#include <climits>
#include <map>

#include "common/fnv1a.h"
#include "files/file_system.h"
#include "files/file_system_win32.h"
#include "win32/owned.h"
#include "win32/system_library.h"

namespace perlwick {
namespace {

class Win32File final : public WritableFile {
 public:
  explicit Win32File(std::filesystem::path path) : path_(std::move(path)) {}

  // Opens the file for writing, sharing it with nobody; ERROR_SUCCESS or the system's
  // error. A new file gets security and attributes.
  DWORD open(DWORD disposition, SECURITY_ATTRIBUTES* security = nullptr,
             DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    handle_ = win32::Handle(
        CreateFileW(path_.c_str(), GENERIC_WRITE, 0, security, disposition, attributes, nullptr));
    return handle_ ? ERROR_SUCCESS : GetLastError();
  }

  const std::filesystem::path& path() const override { return path_; }

  Status write(std::string_view bytes) override {
    while (!bytes.empty()) {
      // A megabyte a call: larger writes take the system's memory in blocks of 2 MiB, which
      // a virtual machine may have handed back to its host, and then cost several times as
      // much.
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
      DWORD written = 0;
      if (!WriteFile(handle_.get(), bytes.data(), chunk, &written, nullptr)) {
        return last_failure();
      }
      if (written == 0) return failure_of(ERROR_WRITE_FAULT);
      bytes.remove_prefix(written);
    }
    return Status();
  }

  Status cut() override { return SetEndOfFile(handle_.get()) ? Status() : last_failure(); }

  Status flush() override { return FlushFileBuffers(handle_.get()) ? Status() : last_failure(); }

  Status close() override { return CloseHandle(handle_.release()) ? Status() : last_failure(); }

 private:
  std::filesystem::path path_;
  win32::Handle handle_;
};

// Opens a file for writing; nobody else reads it while it is being written.
Status open_file(const std::filesystem::path& path, std::unique_ptr<WritableFile>& opened,
                 DWORD disposition, SECURITY_ATTRIBUTES* security = nullptr,
                 DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  // Made before the file is opened: once the file exists, nothing can fail.
  auto file = std::make_unique<Win32File>(path);
  if (const DWORD error = file->open(disposition, security, attributes); error != ERROR_SUCCESS) {
    return not_opened(error, disposition != OPEN_EXISTING, security != nullptr);
  }
  opened = std::move(file);
  return Status();
}

// The attributes a file passes on to the file that replaces it.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

std::int64_t ticks(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime);
}

class Win32FileSystem final : public FileSystem {
 private:
  std::map<DWORD, bool> fine_times_;

 public:
  Status read_each(const std::filesystem::path& path,
                   const std::function<bool(std::string_view)>& take) override {
    // Closed however the read ends, running out of memory included.
    const win32::Handle file(CreateFileW(path.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
      const DWORD error = GetLastError();
      const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
      return Status::failure(missing ? Failure::missing : kind_of(error),
                             SystemReason::of_windows_error(error));
    }
    constexpr DWORD kChunk = 1 << 20;
    const auto buffer = std::make_unique<char[]>(kChunk);
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(file.get(), buffer.get(), kChunk, &got, nullptr)) return last_failure();
      if (got == 0 || !take(std::string_view(buffer.get(), got))) return Status();
    }
  }

  Status create_new(const std::filesystem::path& path, const std::filesystem::path& like_file,
                    std::unique_ptr<WritableFile>& file) override {
    const DWORD like_attributes = GetFileAttributesW(like_file.c_str());
    if (like_attributes == INVALID_FILE_ATTRIBUTES) return open_file(path, file, CREATE_NEW);
    // The new file is the records file's equal from its first moment: the same owner,
    // group and access rights (whether inherited from the folder or its own), so that the
    // records are never open to more accounts than the records file lets in, and keep
    // that protection once the new file has taken the records file's place.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = GetNamedSecurityInfoW(
        like_file.c_str(), SE_FILE_OBJECT,
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
        nullptr, nullptr, nullptr, nullptr, &descriptor);
    if (error != ERROR_SUCCESS)
      return Status::failure(Failure::unprotected, SystemReason::of_windows_error(error));
    const win32::LocalMemory owned(descriptor);
    SECURITY_ATTRIBUTES security{sizeof(security), descriptor, FALSE};
    const DWORD attributes = like_attributes & kKeptAttributes;
    return open_file(path, file, CREATE_NEW, &security,
                     attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL);
  }

  Status create_or_empty(const std::filesystem::path& path,
                         std::unique_ptr<WritableFile>& file) override {
    return open_file(path, file, CREATE_ALWAYS);
  }

  Status open_in_place(const std::filesystem::path& path,
                       std::unique_ptr<WritableFile>& file) override {
    return open_file(path, file, OPEN_EXISTING);
  }

  Status replace(const std::filesystem::path& replacement,
                 const std::filesystem::path& target) override {
    if (MoveFileExW(replacement.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return Status();
    }
    const DWORD error = GetLastError();
    // Windows says only "access denied" where another program holds either file open
    // without letting it be removed: asking for what a move needs tells which it is.
    if (error == ERROR_ACCESS_DENIED) {
      for (const std::filesystem::path* file : {&target, &replacement}) {
        const win32::Handle probe(CreateFileW(
            file->c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, 0, nullptr));
        if (!probe && GetLastError() == ERROR_SHARING_VIOLATION) {
          return failure_of(ERROR_SHARING_VIOLATION);
        }
      }
    }
    return failure_of(error);
  }

  Status identify(const std::filesystem::path& path, FileIdentity& identity) override {
    // Opened to look at it only: another program's hold does not keep this out.
    const win32::Handle file(CreateFileW(path.c_str(), 0,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return last_failure();
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info)) return last_failure();
    identity.links = info.nNumberOfLinks;
    std::wstring final(MAX_PATH, L'\0');
    for (;;) {
      const DWORD size =
          GetFinalPathNameByHandleW(file.get(), final.data(), static_cast<DWORD>(final.size()),
                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
      if (size == 0) return last_failure();
      if (size < final.size()) {
        final.resize(size);
        break;
      }
      final.resize(size);
    }
    // The path as any other: \\?\C:\x is C:\x, and \\?\UNC\server\x is \\server\x.
    constexpr std::wstring_view kLong = L"\\\\?\\";
    constexpr std::wstring_view kLongUnc = L"\\\\?\\UNC\\";
    if (final.starts_with(kLongUnc)) {
      final = L"\\\\" + final.substr(kLongUnc.size());
    } else if (final.starts_with(kLong)) {
      final.erase(0, kLong.size());
    }
    identity.final_path = final;
    return Status();
  }

  void remove(const std::filesystem::path& path) override { DeleteFileW(path.c_str()); }

  FileStamp stamp(const std::filesystem::path& path) override {
    FileStamp stamp;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    stamp.taken = ticks(now);
    // Through links, to the file itself; opened to look at it only, which no other
    // program's hold keeps out.
    const win32::Handle file(CreateFileW(path.c_str(), 0,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !GetFileInformationByHandle(file.get(), &info)) return stamp;
    stamp.exists = true;
    stamp.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    stamp.modified = ticks(info.ftLastWriteTime);
    stamp.id =
        fnv1a_step(fnv1a_step(kFnv1aStart, (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) |
                                               info.nFileIndexLow),
                   info.dwVolumeSerialNumber);
    stamp.fine_times = fine_times(file.get(), info.dwVolumeSerialNumber);
    return stamp;
  }

  Status files_starting_with(const std::filesystem::path& folder, std::wstring_view prefix,
                             std::vector<std::filesystem::path>& found) override {
    found.clear();
    WIN32_FIND_DATAW entry;
    const std::filesystem::path pattern = folder / (std::wstring(prefix) + L"*");
    // Closed however the search ends, running out of memory included.
    const win32::Search search(FindFirstFileW(pattern.c_str(), &entry));
    if (!search) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) return Status();
      return Status::failure(error == ERROR_PATH_NOT_FOUND ? Failure::missing : kind_of(error),
                             SystemReason::of_windows_error(error));
    }
    do {
      // The pattern also matches short 8.3 names: check the long one.
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          std::wstring_view(entry.cFileName).starts_with(prefix)) {
        found.push_back(folder / entry.cFileName);
      }
    } while (FindNextFileW(search.get(), &entry));
    const DWORD error = GetLastError();
    return error == ERROR_NO_MORE_FILES ? Status() : failure_of(error);
  }

  Status lock(std::wstring_view key, const std::filesystem::path& /*private_folder*/,
              std::chrono::milliseconds wait, std::unique_ptr<EditLock>& lock) override {
    return take_edit_lock(key, wait, lock);
  }

  bool is_read_only(const std::filesystem::path& path) override {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  }

  Status make_folder(const std::filesystem::path& path) override {
    if (CreateDirectoryW(path.c_str(), nullptr)) return Status();
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) return Status();
    if (error == ERROR_PATH_NOT_FOUND && path.has_parent_path() && path.parent_path() != path) {
      if (Status parent = make_folder(path.parent_path()); !parent.ok()) return parent;
      if (CreateDirectoryW(path.c_str(), nullptr)) return Status();
      error = GetLastError();
      if (error == ERROR_ALREADY_EXISTS) return Status();
    }
    return failure_of(error);
  }

  // Whether the volume's file system keeps times finely: NTFS and ReFS do, FAT and exFAT
  // keep them to two seconds or ten milliseconds, others are not known. Asked once a volume.
  bool fine_times(HANDLE file, DWORD volume) {
    if (const auto known = fine_times_.find(volume); known != fine_times_.end()) {
      return known->second;
    }
    wchar_t name[MAX_PATH + 1] = {};
    const bool fine = GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, nullptr,
                                                    name, MAX_PATH + 1) &&
                      (std::wstring_view(name) == L"NTFS" || std::wstring_view(name) == L"ReFS");
    fine_times_[volume] = fine;
    return fine;
  }

  std::filesystem::path private_folder() override {
    std::filesystem::path folder;
    wchar_t* local = nullptr;
    static const auto known_folder = win32::system_function<decltype(SHGetKnownFolderPath)>(
        L"shell32.dll", "SHGetKnownFolderPath");
    static const auto free_memory =
        win32::system_function<decltype(CoTaskMemFree)>(L"ole32.dll", "CoTaskMemFree");
    if (known_folder != nullptr && free_memory != nullptr &&
        SUCCEEDED(known_folder(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &local))) {
      folder = local;
      free_memory(local);
    }
    if (folder.empty()) folder = L"C:\\";  // no profile: an unusual account
    return folder / L"Perlwick";
  }
};

}  // namespace

FileSystem& native_file_system() {
  static Win32FileSystem file_system;
  return file_system;
}

}  // namespace perlwick
