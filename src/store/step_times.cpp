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

#include "win32/linux_counts.h"

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

// Under Wine, the Linux kernel's counts for this program (win32/linux_counts.h), and the
// main thread's time on a processor to the nanosecond. False where they cannot be read.
bool linux_counts(long pid, Moment& at) {
  win32::LinuxCounts counts;
  if (!win32::linux_counts(pid, counts)) return false;
  at.page_faults = counts.page_faults;
  at.user_ms = counts.user_ms;
  at.kernel_ms = counts.kernel_ms;
  at.cpu_ms = at.user_ms + at.kernel_ms;
  double on_cpu_ns = 0;
  if (std::istringstream(
          win32::read_small(L"Z:\\proc\\" + std::to_wstring(pid) + L"\\schedstat")) >>
      on_cpu_ns) {
    at.cpu_ms = on_cpu_ns / 1e6;
  }
  return true;
}

long own_linux_pid() {
  wchar_t module[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  const std::wstring path(module);
  return win32::linux_pid(path.substr(path.find_last_of(L"\\/") + 1));
}

Moment now() {
  static const long pid = own_linux_pid();
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
