// A DLL named like one that Windows' own DLLs load (shcore.dll), for the test that places
// it beside a copy of perlwick.exe. Should anything load it, it leaves the file
// "planted-dll-ran" beside itself.

#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID /*reserved*/) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 16] = {};
  const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
  DWORD end = length;
  while (end > 0 && path[end - 1] != L'\\') --end;
  const wchar_t name[] = L"planted-dll-ran";
  for (DWORD i = 0; i < sizeof name / sizeof name[0]; ++i) path[end + i] = name[i];
  const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return TRUE;
}
