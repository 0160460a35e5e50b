// The edit lock on Windows: a named mutex that every copy of the program takes while it
// edits the records file.

#include "files/file_system_win32.h"

#include <sddl.h>

#include <string>

#include "win32/owned.h"

namespace perlwick {
namespace {

// A named mutex: Windows lets go of it when the program ends, however it ends (the next
// owner then learns that it was abandoned).
class MutexLock final : public EditLock {
 public:
  explicit MutexLock(win32::Handle mutex) : mutex_(std::move(mutex)) {}
  ~MutexLock() override {
    if (held_) ReleaseMutex(mutex_.get());
  }

  // Waits up to wait for the mutex; WaitForSingleObject's answer.
  DWORD take(std::chrono::milliseconds wait) {
    const DWORD waited = WaitForSingleObject(mutex_.get(), static_cast<DWORD>(wait.count()));
    held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    return waited;
  }

 private:
  win32::Handle mutex_;
  bool held_ = false;
};

// The mutex that every copy of the program takes while it edits the records file that key
// names. It is in the global namespace, so that copies in other Windows sessions (another
// account switched to, a remote desktop) take the same one, and any account that signs in
// may wait for it and take it; where that is not allowed, this session's own.
win32::Handle edit_mutex(std::wstring_view key) {
  // Authenticated users may wait for it and release it; nobody may do more.
  constexpr DWORD kUse = SYNCHRONIZE | MUTEX_MODIFY_STATE;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;0x00100001;;;AU)",
                                                           SDDL_REVISION_1, &descriptor, nullptr)) {
    const win32::LocalMemory owned(descriptor);
    SECURITY_ATTRIBUTES security{sizeof(security), descriptor, FALSE};
    const std::wstring global = L"Global\\Perlwick-edit-" + std::wstring(key);
    win32::Handle mutex(CreateMutexExW(&security, global.c_str(), 0, kUse));
    if (mutex) return mutex;
  }
  const std::wstring local = L"Local\\Perlwick-edit-" + std::wstring(key);
  return win32::Handle(CreateMutexExW(nullptr, local.c_str(), 0, kUse));
}

}  // namespace

Status take_edit_lock(std::wstring_view key, std::chrono::milliseconds wait,
                      std::unique_ptr<EditLock>& lock) {
  win32::Handle mutex = edit_mutex(key);
  if (!mutex) return last_failure();
  // Owned before it is waited for: nothing can fail once the mutex is held.
  auto held = std::make_unique<MutexLock>(std::move(mutex));
  const DWORD waited = held->take(wait);
  if (waited == WAIT_TIMEOUT) return Status::failure(Failure::busy, {});
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return last_failure();
  lock = std::move(held);
  return Status();
}

}  // namespace perlwick
