#include "store/step_times.h"

#ifdef PERLWICK_STEP_TIMES

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#ifdef _WIN32
#include <windows.h>

#include <psapi.h>
#else
#include <sys/resource.h>
#endif

namespace perlwick::step_times {
namespace {

struct Moment {
  double wall_ms = 0;
  double cpu_ms = 0;
  double page_faults = 0;
};

Moment now() {
  const double wall_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
          .count();
#ifdef _WIN32
  FILETIME created{};
  FILETIME ended{};
  FILETIME kernel{};
  FILETIME user{};
  GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
  const auto ticks = [](const FILETIME& t) {
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                               t.dwLowDateTime);
  };
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  return {wall_ms, (ticks(kernel) + ticks(user)) / 10'000.0,
          static_cast<double>(memory.PageFaultCount)};
#else
  // The program has one thread: its processor time is the process's.
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return {wall_ms, static_cast<double>(std::clock()) * 1000.0 / CLOCKS_PER_SEC,
          static_cast<double>(usage.ru_minflt + usage.ru_majflt)};
#endif
}

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
      std::fprintf(out, "%s,%.3f,%.3f,%.0f\n", name, at.wall_ms - last.wall_ms,
                   at.cpu_ms - last.cpu_ms, at.page_faults - last.page_faults);
      std::fclose(out);
    }
  }
  // The time taken to write the line counts for no step.
  last = now();
}

}  // namespace perlwick::step_times

#endif
