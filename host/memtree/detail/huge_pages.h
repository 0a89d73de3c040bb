// Large buffers backed by 2 MiB pages where the system offers them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace memtree::detail {

/// Asks the kernel to back the whole 2 MiB pages inside [data, data + bytes) with huge pages
/// when they are first touched: a loaded model's buffers run to hundreds of megabytes, and
/// faulting them in 4 KiB at a time costs more than reading the file (on virtual machines
/// most of all). Only advice; nothing changes where it is not taken.
inline void AdviseHugePages(const void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kHuge - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

/// Reserves room for n items in v and advises huge pages for it, before any is written.
template <class T>
void ReserveHuge(std::vector<T>& v, std::size_t n) {
  v.reserve(n);
  AdviseHugePages(v.data(), v.capacity() * sizeof(T));
}

}  // namespace memtree::detail
