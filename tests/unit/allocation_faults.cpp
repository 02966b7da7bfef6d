// The test program's global allocation functions: malloc and free, with the
// failure switch of AllocationFault. Every plain and nothrow form of new and
// delete is replaced together, so that a sanitizer, which brings its own,
// never sees memory from one allocator handed to the other. (The aligned
// forms stay the sanitizer's or the library's, in pairs of their own.)
#include "allocation_faults.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::size_t> failFrom{0};  // 0: no allocation fails
std::atomic<bool> failAlways{false};
std::atomic<std::size_t> failed{0};

void* Allocate(std::size_t size) {
  std::size_t minimum = failFrom.load();
  if (minimum != 0 && size >= minimum) {
    if (!failAlways.load()) failFrom.store(0);
    ++failed;
    throw std::bad_alloc();
  }
  void* p = std::malloc(size != 0 ? size : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

namespace fixture {

AllocationFault::AllocationFault(std::size_t minimumBytes, Times times) {
  failed.store(0);
  failAlways.store(times == Times::Always);
  failFrom.store(minimumBytes != 0 ? minimumBytes : 1);
}

AllocationFault::~AllocationFault() { failFrom.store(0); }

std::size_t AllocationFault::failures() const { return failed.load(); }

}  // namespace fixture

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
