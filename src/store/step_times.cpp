#include "store/step_times.h"

#ifdef PERLWICK_STEP_TIMES

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cctype>
#include <cwctype>
#include <sstream>
#else
#include <sys/resource.h>
#endif

namespace perlwick::step_times {
namespace {

struct Moment {
  double wall_ms = 0;
  double cpu_ms = 0;
  double user_ms = 0;
  double kernel_ms = 0;
  double page_faults = 0;
};

double wall_now() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

#ifdef _WIN32

double ms_of(const FILETIME& t) {
  return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                             t.dwLowDateTime) /
         10'000.0;
}

// A small file read whole: one of the Linux kernel's files about a process, through Wine's
// drive Z:. Empty where there is none (not under Wine).
std::string read_small(const std::wstring& path) {
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

// Under Wine this program is a Linux process, whose page faults and processor time the
// kernel counts (Wine's own counters of page faults stay at 0). Its Linux process id is
// not told to it: it is the process named as this program is (the kernel keeps 15
// characters of the name) that runs in the same Wine prefix; the newest, should there be
// several. Z:\proc\self names the Wine server, which opens files for its programs.
long linux_pid() {
  wchar_t module[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring name(module);
  name = name.substr(name.find_last_of(L"\\/") + 1).substr(0, 15);
  std::transform(name.begin(), name.end(), name.begin(), towlower);
  wchar_t prefix[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH)) return 0;
  std::string wanted_prefix = "WINEPREFIX=";
  for (const wchar_t* c = prefix; *c != 0; ++c) wanted_prefix += static_cast<char>(*c);
  wanted_prefix += '\0';

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
    if (comm != std::string(name.begin(), name.end())) continue;
    if (("\0" + read_small(folder + L"environ")).find('\0' + wanted_prefix) == std::string::npos) {
      continue;
    }
    // The process's start, the 22nd field of its stat, after the parenthesised name.
    const std::string stat = read_small(folder + L"stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 1));
    std::string field;
    for (int i = 3; i <= 21 && fields >> field;) ++i;
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

// The kernel's counts for the process: minor and major page faults, user and kernel
// time (in its ticks of 10 ms); and the main thread's time on a processor to the
// nanosecond. False where they cannot be read.
bool linux_counts(long pid, Moment& at) {
  const std::wstring folder = L"Z:\\proc\\" + std::to_wstring(pid) + L"\\";
  const std::string stat = read_small(folder + L"stat");
  const std::size_t name_end = stat.rfind(')');
  if (name_end == std::string::npos) return false;
  std::istringstream fields(stat.substr(name_end + 1));
  double values[16] = {};
  std::string state;
  fields >> state;  // field 3
  for (int field = 4; field <= 15; ++field) fields >> values[field];
  if (!fields) return false;
  constexpr double kTickMs = 10;
  at.page_faults = values[10] + values[12];
  at.user_ms = values[14] * kTickMs;
  at.kernel_ms = values[15] * kTickMs;
  at.cpu_ms = at.user_ms + at.kernel_ms;
  double on_cpu_ns = 0;
  if (std::istringstream(read_small(folder + L"schedstat")) >> on_cpu_ns) {
    at.cpu_ms = on_cpu_ns / 1e6;
  }
  return true;
}

Moment now() {
  static const long pid = linux_pid();
  Moment at;
  at.wall_ms = wall_now();
  if (pid != 0 && linux_counts(pid, at)) return at;
  // On Windows: the thread's times and the process's page faults.
  FILETIME created{};
  FILETIME ended{};
  FILETIME kernel{};
  FILETIME user{};
  GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  at.user_ms = ms_of(user);
  at.kernel_ms = ms_of(kernel);
  at.cpu_ms = at.user_ms + at.kernel_ms;
  at.page_faults = static_cast<double>(memory.PageFaultCount);
  return at;
}

#else

Moment now() {
  // The program has one thread: its processor time is the process's.
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  Moment at;
  at.wall_ms = wall_now();
  at.user_ms = ms(usage.ru_utime);
  at.kernel_ms = ms(usage.ru_stime);
  at.cpu_ms = at.user_ms + at.kernel_ms;
  at.page_faults = static_cast<double>(usage.ru_minflt + usage.ru_majflt);
  return at;
}

#endif

Moment last;

}  // namespace

void begin() {
  if (const char* path = std::getenv("PERLWICK_STEP_TIMES")) {
    if (std::FILE* out = std::fopen(path, "a")) {
      std::fprintf(out, "begin\n");
      std::fclose(out);
    }
  }
  last = now();
}

void step(const char* name) {
  const Moment at = now();
  if (const char* path = std::getenv("PERLWICK_STEP_TIMES")) {
    if (std::FILE* out = std::fopen(path, "a")) {
      std::fprintf(out, "%s,%.3f,%.3f,%.0f,%.0f,%.0f\n", name, at.wall_ms - last.wall_ms,
                   at.cpu_ms - last.cpu_ms, at.user_ms - last.user_ms,
                   at.kernel_ms - last.kernel_ms, at.page_faults - last.page_faults);
      std::fclose(out);
    }
  }
  // The time taken to write the line counts for no step.
  last = now();
}

}  // namespace perlwick::step_times

#endif
