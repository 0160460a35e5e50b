#pragma once

// What the Linux kernel counts of a Windows program that runs under Wine, read through
// Wine's drive Z:, for the measurements (the step-timed build, the benchmark): Wine's own
// count of page faults stays at 0. On Windows there is nothing to read, and callers take
// Windows' own counts instead.

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cwchar>
#include <cwctype>
#include <sstream>
#include <string>

namespace perlwick::win32 {

// A small file read whole, as the kernel's files about a process are; empty where there
// is none.
inline std::string read_small(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

// The Linux process id of the program named name (the kernel keeps 15 characters of it)
// that runs in this Wine prefix, the newest should there be several; it is told to nobody.
// (Z:\proc\self is the Wine server, which opens files for its programs.) 0 where there is
// none, as on Windows.
inline long linux_pid(std::wstring name) {
  name = name.substr(0, 15);
  std::transform(name.begin(), name.end(), name.begin(), towlower);
  const std::string wanted(name.begin(), name.end());
  wchar_t prefix[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH)) return 0;
  std::string environment_entry = std::string(1, '\0') + "WINEPREFIX=";
  for (const wchar_t* c = prefix; *c != 0; ++c) environment_entry += static_cast<char>(*c);
  environment_entry += '\0';

  long found = 0;
  unsigned long long found_start = 0;
  WIN32_FIND_DATAW entry{};
  const HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &entry);
  if (search == INVALID_HANDLE_VALUE) return 0;
  do {
    const std::wstring pid = entry.cFileName;
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), iswdigit)) continue;
    const std::wstring folder = L"Z:\\proc\\" + pid + L"\\";
    std::string comm = read_small(folder + L"comm");
    while (!comm.empty() && comm.back() == '\n') comm.pop_back();
    std::transform(comm.begin(), comm.end(), comm.begin(),
                   [](char c) { return static_cast<char>(std::tolower(c)); });
    if (comm != wanted) continue;
    if (('\0' + read_small(folder + L"environ")).find(environment_entry) == std::string::npos) {
      continue;
    }
    // The process's start is the 22nd field of its stat, after the parenthesised name.
    const std::string stat = read_small(folder + L"stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 1));
    std::string skipped;
    for (int field = 3; field <= 21; ++field) fields >> skipped;
    unsigned long long start = 0;
    fields >> start;
    if (found == 0 || start >= found_start) {
      found = std::wcstol(pid.c_str(), nullptr, 10);
      found_start = start;
    }
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  return found;
}

// A process's page faults (minor and major) and its user and kernel time, as the kernel
// counts them from its start (the times in its ticks of 10 ms).
struct LinuxCounts {
  double page_faults = 0;
  double user_ms = 0;
  double kernel_ms = 0;
};

// The counts of the Linux process pid; false where they cannot be read.
inline bool linux_counts(long pid, LinuxCounts& counts) {
  const std::string stat = read_small(L"Z:\\proc\\" + std::to_wstring(pid) + L"\\stat");
  const std::size_t name_end = stat.rfind(')');
  if (name_end == std::string::npos) return false;
  // Minor and major page faults are the 10th and 12th fields, user and kernel time the
  // 14th and 15th.
  std::istringstream fields(stat.substr(name_end + 1));
  std::string state;
  double values[16] = {};
  fields >> state;
  for (int field = 4; field <= 15; ++field) fields >> values[field];
  if (!fields) return false;
  counts = {values[10] + values[12], values[14] * 10, values[15] * 10};
  return true;
}

}  // namespace perlwick::win32
