#include "bench/heap_count.h"

#include <malloc.h>

#include <cstdlib>
#include <new>

namespace heap_count {

std::atomic<std::size_t> inUse{0};
std::atomic<std::size_t> peak{0};
std::atomic<std::size_t> allocations{0};

namespace {

void* Allocate(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  ++allocations;
  const std::size_t now = inUse += malloc_usable_size(p);
  std::size_t high = peak.load(std::memory_order_relaxed);
  while (now > high && !peak.compare_exchange_weak(high, now)) {
  }
  return p;
}

void Release(void* p) {
  if (p == nullptr) return;
  inUse -= malloc_usable_size(p);
  std::free(p);
}

}  // namespace
}  // namespace heap_count

void* operator new(std::size_t size) { return heap_count::Allocate(size); }
void* operator new[](std::size_t size) { return heap_count::Allocate(size); }
void operator delete(void* p) noexcept { heap_count::Release(p); }
void operator delete[](void* p) noexcept { heap_count::Release(p); }
void operator delete(void* p, std::size_t) noexcept { heap_count::Release(p); }
void operator delete[](void* p, std::size_t) noexcept { heap_count::Release(p); }
