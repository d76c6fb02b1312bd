// An allocator for the large per-cell tables of the dynamic programmes:
// blocks of 2 MiB and more are aligned to 2 MiB and offered to the kernel as
// huge pages, so that first touching them costs one page fault per 2 MiB
// instead of one per 4 KiB.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <new>

namespace seqcorvane::detail {

template <class T>
struct LargeAllocator {
  using value_type = T;
  static constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;

  LargeAllocator() = default;
  template <class U>
  LargeAllocator(const LargeAllocator<U>&) {}

  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    const std::size_t bytes = n * sizeof(T);
    if (bytes < HUGE_PAGE) return static_cast<T*>(::operator new(bytes));
    const std::size_t rounded = (bytes + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
    void* p = std::aligned_alloc(HUGE_PAGE, rounded);
    if (p == nullptr) throw std::bad_alloc();
    ::madvise(p, rounded, MADV_HUGEPAGE);  // advice only: ignored where not supported
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t n) {
    if (n * sizeof(T) < HUGE_PAGE)
      ::operator delete(p);
    else
      std::free(p);
  }
};

template <class T, class U>
bool operator==(const LargeAllocator<T>&, const LargeAllocator<U>&) {
  return true;
}
template <class T, class U>
bool operator!=(const LargeAllocator<T>&, const LargeAllocator<U>&) {
  return false;
}

}  // namespace seqcorvane::detail
