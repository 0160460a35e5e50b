// The file system on Windows: the new content is written to a file beside the records
// file, flushed to the disk, and then put in place with ReplaceFileW (which keeps the
// records file's attributes and security) or, when there is no records file yet,
// MoveFileExW.

#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <climits>

#include "store/file_system.h"

namespace perlwick {
namespace {

std::wstring reason_of(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD size = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring reason = size > 0 && text != nullptr ? std::wstring(text, size) : std::wstring();
  if (text != nullptr) LocalFree(text);
  while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' ||
                             reason.back() == L' ' || reason.back() == L'.')) {
    reason.pop_back();
  }
  if (reason.empty()) reason = L"system error";
  return reason + L" (error " + std::to_wstring(error) + L")";
}

Status last_failure() {
  return Status::failure(reason_of(GetLastError()));
}

// The folder does not let this account create files in it.
bool is_refusal(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT;
}

CreateResult no_file(DWORD error) {
  return {nullptr, is_refusal(error), reason_of(error)};
}

class Win32File final : public WritableFile {
 public:
  Win32File(std::filesystem::path path, HANDLE handle) : path_(std::move(path)), handle_(handle) {}
  ~Win32File() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }

  const std::filesystem::path& path() const override { return path_; }

  Status write(std::string_view bytes) override {
    while (!bytes.empty()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 24));
      DWORD written = 0;
      if (!WriteFile(handle_, bytes.data(), chunk, &written, nullptr)) return last_failure();
      if (written == 0) return Status::failure(reason_of(ERROR_WRITE_FAULT));
      bytes.remove_prefix(written);
    }
    return Status();
  }

  Status cut() override { return SetEndOfFile(handle_) ? Status() : last_failure(); }

  Status flush() override { return FlushFileBuffers(handle_) ? Status() : last_failure(); }

  Status close() override {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) ? Status() : last_failure();
  }

 private:
  std::filesystem::path path_;
  HANDLE handle_;
};

// Opens a file for writing; on failure error holds the system's reason.
CreateResult open_file(const std::filesystem::path& path, DWORD disposition, DWORD& error) {
  // Nobody else reads the file while it is being written.
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  error = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  if (file == INVALID_HANDLE_VALUE) return no_file(error);
  return {std::make_unique<Win32File>(path, file), false, {}};
}

CreateResult open_file(const std::filesystem::path& path, DWORD disposition) {
  DWORD error = ERROR_SUCCESS;
  return open_file(path, disposition, error);
}

class Win32FileSystem final : public FileSystem {
 public:
  ReadResult read_all(const std::filesystem::path& path, std::string& bytes) override {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return {ReadOutcome::missing, {}};
      }
      return {ReadOutcome::failed, reason_of(error)};
    }
    ReadResult result{ReadOutcome::read, {}};
    bytes.clear();
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0) {
      bytes.reserve(static_cast<std::size_t>(size.QuadPart));
    }
    static char buffer[1 << 16];
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
        result = {ReadOutcome::failed, reason_of(GetLastError())};
        break;
      }
      if (got == 0) break;
      bytes.append(buffer, got);
    }
    CloseHandle(file);
    return result;
  }

  CreateResult create_beside(const std::filesystem::path& target) override {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::filesystem::path temp = target;
      temp += L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
      DWORD error = ERROR_SUCCESS;
      CreateResult created = open_file(temp, CREATE_NEW, error);
      if (created.file) return created;
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return created;
    }
    return no_file(ERROR_FILE_EXISTS);
  }

  CreateResult create_or_empty(const std::filesystem::path& path) override {
    return open_file(path, CREATE_ALWAYS);
  }

  CreateResult open_in_place(const std::filesystem::path& path) override {
    return open_file(path, OPEN_EXISTING);
  }

  Status replace(const std::filesystem::path& replacement,
                 const std::filesystem::path& target) override {
    if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
      if (ReplaceFileW(target.c_str(), replacement.c_str(), nullptr,
                       REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        return Status();
      }
      const DWORD error = GetLastError();
      // Only when the records file has vanished meanwhile (or was moved aside and the
      // replacement could not follow) does a plain move remain to be done.
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
        return Status::failure(reason_of(error));
      }
    }
    return MoveFileExW(replacement.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)
               ? Status()
               : last_failure();
  }

  void remove(const std::filesystem::path& path) override { DeleteFileW(path.c_str()); }

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
    return Status::failure(reason_of(error));
  }

  std::filesystem::path private_folder() override {
    std::filesystem::path folder;
    wchar_t* local = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &local))) {
      folder = local;
    }
    CoTaskMemFree(local);
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
