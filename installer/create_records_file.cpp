// Run by the installer, as administrator: creates the records file when there is none,
// empty, so that the account that installs Perlwick may read and change it from Perlwick
// run without administrator rights, and no other ordinary account may open it, since it
// holds passwords as plain text. Administrators and the system keep full control. An
// existing records file is never touched.
//
// Exit code: 0 when the records file is there (made now or before), 1 otherwise.

#include <windows.h>

#include <sddl.h>

#include <memory>
#include <string>

#include "store/record_store.h"
#include "win32/owned.h"

namespace {

// The string form of the user account this process runs as.
std::wstring account_sid() {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return {};
  const perlwick::win32::Handle token(opened);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[size > 0 ? size : 1]);
  std::wstring text;
  if (GetTokenInformation(token.get(), TokenUser, buffer.get(), size, &size)) {
    wchar_t* sid = nullptr;
    if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &sid)) {
      const perlwick::win32::LocalMemory owned(sid);
      text = sid;
    }
  }
  return text;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::wstring sid = account_sid();
  if (sid.empty()) return 1;
  // Protected from the folder's inherited entries (C:\ lets every signed-in user change
  // the files in it): the system and administrators have full control, the installing
  // account may read, write and delete (0x1301bf, "Modify").
  const std::wstring sddl = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1301bf;;;" + sid + L")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return 1;
  }
  const perlwick::win32::LocalMemory owned(descriptor);
  SECURITY_ATTRIBUTES security{sizeof(security), descriptor, FALSE};
  const std::wstring path(perlwick::kRecordsPath);
  const perlwick::win32::Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, &security,
                                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file || GetLastError() == ERROR_FILE_EXISTS ? 0 : 1;
}
