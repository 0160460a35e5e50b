#pragma once

// Makes one allocation of the test program fail, as when memory runs out: the program's
// operator new throws std::bad_alloc for the allocation after `spared` more.

namespace perlwick::testing {

void fail_allocation(long spared);
// Disarms it; true when the armed allocation did fail.
bool stop_failing_allocations();

}  // namespace perlwick::testing
