#pragma once

// Where the program spends its time, step by step. Built with PERLWICK_STEP_TIMES defined
// (cmake -DPERLWICK_STEP_TIMES=ON), every step appends one line "step,wall ms,CPU ms,user
// ms,kernel ms,page faults" to the file that the environment variable PERLWICK_STEP_TIMES
// names, each since the previous step or since PERLWICK_STEPS_BEGIN. Under Wine the
// counts are the Linux kernel's for the process: page faults minor and major, user and
// kernel time in ticks of 10 ms, and the main thread's time on a processor to the
// nanosecond as the CPU time. On Windows: the thread's times and the process's page
// faults. In any other build the steps compile to nothing.

#ifdef PERLWICK_STEP_TIMES

namespace perlwick::step_times {
void begin();
void step(const char* name);
}  // namespace perlwick::step_times

#define PERLWICK_STEPS_BEGIN() ::perlwick::step_times::begin()
#define PERLWICK_STEP(name) ::perlwick::step_times::step(name)

#else

#define PERLWICK_STEPS_BEGIN() ((void)0)
#define PERLWICK_STEP(name) ((void)0)

#endif
