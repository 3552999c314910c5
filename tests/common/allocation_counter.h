// Counting of heap allocations in a test program. Linking allocation_counter.cpp
// replaces the global operator new and delete: while a thread counts, each of its
// allocations is counted, and the one numbered `failAt` throws std::bad_alloc
// (or returns null, for the nothrow forms) as exhausted memory would.
#pragma once

#include <cstddef>
#include <optional>

namespace velmoravad::testing {

class AllocationCounter {
 public:
  // Counts this thread's allocations from 1 while the object lives; the one
  // numbered `failAt`, if given, fails.
  explicit AllocationCounter(std::optional<std::size_t> failAt = std::nullopt);
  AllocationCounter(const AllocationCounter&) = delete;
  AllocationCounter& operator=(const AllocationCounter&) = delete;
  ~AllocationCounter();

  // Allocations counted so far, the failed one included.
  std::size_t Count() const;
};

// The allocations this thread's counter has counted so far.
std::size_t AllocationsCountedSoFar();

// While one lives, this thread's allocations are not counted: for the test's own
// bookkeeping inside a counted stretch.
class NotCounted {
 public:
  NotCounted();
  NotCounted(const NotCounted&) = delete;
  NotCounted& operator=(const NotCounted&) = delete;
  ~NotCounted();
};

}  // namespace velmoravad::testing
