#pragma once

// What the Win32 file system's sources share: how a Windows error becomes a failure, and
// the edit lock.

#include <windows.h>

#include <chrono>
#include <memory>
#include <string_view>

#include "common/status.h"
#include "files/file_system.h"

namespace perlwick {

// What kind of failure a Windows error is.
Failure kind_of(DWORD error);
// The failure of a Windows error, with the system's reason; and of the last one.
Status failure_of(DWORD error);
Status last_failure();
// Why a file could not be opened for writing. Creating is refused where the folder does
// not let this account create files; a new file with security was to have the records
// file's protection.
Status not_opened(DWORD error, bool creating, bool with_security);

// Takes the edit lock of the records file that key names, waiting up to wait for another
// copy of the program that holds it (then it fails as busy).
Status take_edit_lock(std::wstring_view key, std::chrono::milliseconds wait,
                      std::unique_ptr<EditLock>& lock);

}  // namespace perlwick
