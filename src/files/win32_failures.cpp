// How a Windows error becomes a failure: its kind, and the system's reason.

#include "files/file_system_win32.h"

namespace perlwick {
namespace {

// Windows' own value; not every SDK's headers name it.
constexpr DWORD kDiskQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED

}  // namespace

Failure kind_of(DWORD error) {
  switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return Failure::held;
    case ERROR_ACCESS_DENIED:
      return Failure::denied;
    case ERROR_WRITE_PROTECT:
      return Failure::write_protected;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kDiskQuotaExceeded:
      return Failure::full;
    case ERROR_FILE_NOT_FOUND:
      return Failure::missing;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_NETNAME_DELETED:
    case ERROR_UNEXP_NET_ERR:
      return Failure::gone;
    case ERROR_FILE_TOO_LARGE:
      return Failure::too_large;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return Failure::taken;
    default:
      return Failure::other;
  }
}

Status failure_of(DWORD error) {
  return Status::failure(kind_of(error), SystemReason::of_windows_error(error));
}

Status last_failure() {
  return failure_of(GetLastError());
}

Status not_opened(DWORD error, bool creating, bool with_security) {
  Failure kind = kind_of(error);
  if (creating && (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT)) {
    kind = Failure::refused;
  }
  // The system would not give the new file that owner or those access rights.
  if (with_security && (error == ERROR_INVALID_OWNER || error == ERROR_INVALID_PRIMARY_GROUP ||
                        error == ERROR_PRIVILEGE_NOT_HELD || error == ERROR_INVALID_ACL ||
                        error == ERROR_INVALID_SECURITY_DESCR)) {
    kind = Failure::unprotected;
  }
  return Status::failure(kind, SystemReason::of_windows_error(error));
}

}  // namespace perlwick
