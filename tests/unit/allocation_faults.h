// Allocations that fail as they do when memory runs out. The test program
// replaces the global operator new and delete (allocation_faults.cpp); while
// an AllocationFault is alive, allocations of at least minimumBytes throw
// std::bad_alloc: only the first of them, or every one.
#pragma once

#include <cstddef>

namespace fixture {

class AllocationFault {
 public:
  enum class Times { Once, Always };
  explicit AllocationFault(std::size_t minimumBytes, Times times = Times::Once);
  ~AllocationFault();
  AllocationFault(const AllocationFault&) = delete;
  AllocationFault& operator=(const AllocationFault&) = delete;

  // How many allocations have failed so far.
  std::size_t failures() const;
};

}  // namespace fixture
