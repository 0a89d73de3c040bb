// The heap as the benchmarks see it: heap_count.cpp replaces the program's operator new and
// delete, so every C++ allocation of the program and of the libraries it calls is counted.
#pragma once

#include <atomic>
#include <cstddef>

namespace heap_count {

/// Bytes in use now (the allocator's usable sizes).
extern std::atomic<std::size_t> inUse;
/// The high-water mark of inUse; a benchmark sets it to inUse before what it measures.
extern std::atomic<std::size_t> peak;
/// Allocations so far.
extern std::atomic<std::size_t> allocations;

}  // namespace heap_count
