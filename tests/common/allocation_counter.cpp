#include "common/allocation_counter.h"

#include <cstdlib>
#include <new>

namespace velmoravad::testing {
namespace {

struct ThreadCount {
  bool counting = false;
  std::size_t count = 0;
  std::size_t failAt = 0;  // 0: none fails
  int paused = 0;          // NotCounted objects alive
};
thread_local ThreadCount threadCount;

// Counts one allocation; false when it is the one that must fail.
bool CountAllocation() {
  ThreadCount& state = threadCount;
  if (!state.counting || state.paused > 0) return true;
  return ++state.count != state.failAt;
}

void* Allocate(std::size_t size) {
  if (!CountAllocation()) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
  if (!CountAllocation()) return nullptr;
  const auto align = static_cast<std::size_t>(alignment);
  const std::size_t rounded = (size + align - 1) / align * align;
#ifdef _WIN32
  return _aligned_malloc(rounded == 0 ? align : rounded, align);
#else
  return std::aligned_alloc(align, rounded == 0 ? align : rounded);
#endif
}

void FreeAligned(void* block) {
#ifdef _WIN32
  _aligned_free(block);
#else
  std::free(block);
#endif
}

}  // namespace

AllocationCounter::AllocationCounter(std::optional<std::size_t> failAt) {
  threadCount.counting = true;
  threadCount.count = 0;
  threadCount.failAt = failAt.value_or(0);
}

AllocationCounter::~AllocationCounter() {
  threadCount.counting = false;
  threadCount.failAt = 0;
}

std::size_t AllocationCounter::Count() const { return threadCount.count; }

std::size_t AllocationsCountedSoFar() { return threadCount.count; }

NotCounted::NotCounted() { ++threadCount.paused; }

NotCounted::~NotCounted() { --threadCount.paused; }

}  // namespace velmoravad::testing

using velmoravad::testing::Allocate;
using velmoravad::testing::AllocateAligned;
using velmoravad::testing::FreeAligned;

void* operator new(std::size_t size) {
  void* block = Allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new(std::size_t size, std::align_val_t alignment) {
  void* block = AllocateAligned(size, alignment);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return operator new(size, alignment);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t) noexcept { FreeAligned(block); }
void operator delete[](void* block, std::align_val_t) noexcept { FreeAligned(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { FreeAligned(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { FreeAligned(block); }
