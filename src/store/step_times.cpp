#include "store/step_times.h"

#ifdef PERLWICK_STEP_TIMES

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace perlwick::step_times {
namespace {

struct Moment {
  double wall_ms = 0;
  double cpu_ms = 0;
};

Moment now() {
#ifdef _WIN32
  LARGE_INTEGER counter{};
  LARGE_INTEGER frequency{};
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  FILETIME created{};
  FILETIME ended{};
  FILETIME kernel{};
  FILETIME user{};
  GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
  const auto ticks = [](const FILETIME& t) {
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                               t.dwLowDateTime);
  };
  return {static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart),
          (ticks(kernel) + ticks(user)) / 10'000.0};
#else
  timespec wall{};
  timespec cpu{};
  clock_gettime(CLOCK_MONOTONIC, &wall);
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
  const auto ms = [](const timespec& t) {
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
  };
  return {ms(wall), ms(cpu)};
#endif
}

Moment last;

}  // namespace

void begin() {
  last = now();
}

void step(const char* name) {
  const Moment at = now();
  if (const char* path = std::getenv("PERLWICK_STEP_TIMES")) {
    if (std::FILE* out = std::fopen(path, "a")) {
      std::fprintf(out, "%s,%.3f,%.3f\n", name, at.wall_ms - last.wall_ms, at.cpu_ms - last.cpu_ms);
      std::fclose(out);
    }
  }
  // The time taken to write the line counts for no step.
  last = now();
}

}  // namespace perlwick::step_times

#endif
