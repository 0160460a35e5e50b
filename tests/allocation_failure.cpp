#include "allocation_failure.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace perlwick::testing {
namespace {

std::atomic<long> countdown{-1};
std::atomic<bool> failed{false};

}  // namespace

void fail_allocation(long spared) {
  failed = false;
  countdown = spared;
}

bool stop_failing_allocations() {
  countdown = -1;
  return failed;
}

}  // namespace perlwick::testing

// The program's own allocation functions, over malloc and free.
void* operator new(std::size_t size) {
  using namespace perlwick::testing;
  if (countdown.load() >= 0 && countdown.fetch_sub(1) == 0) {
    failed = true;
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size > 0 ? size : 1)) return memory;
  throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
  std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}
