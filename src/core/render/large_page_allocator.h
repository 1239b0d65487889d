// An allocator for the large accumulation buffers that the splat loops reach at random: their
// memory is asked for in 2 MiB pages where the system offers them (Linux's transparent huge
// pages, on request), so that the processor's address translation covers a whole buffer
// instead of missing on most splats. Requests under a large page go to the ordinary allocator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace qm {

inline constexpr std::size_t kLargePage = std::size_t{2} << 20;

// The bytes LargePageAllocator takes for a request of `bytes`.
constexpr std::uint64_t largePageBytes(std::uint64_t bytes) {
    return bytes < kLargePage ? bytes : (bytes + kLargePage - 1) / kLargePage * kLargePage;
}

template <class T>
struct LargePageAllocator {
    using value_type = T;

    LargePageAllocator() = default;
    template <class U>
    LargePageAllocator(const LargePageAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T) - kLargePage)
            throw std::bad_array_new_length();
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kLargePage) return std::allocator<T>{}.allocate(n);
        const std::size_t rounded = (bytes + kLargePage - 1) / kLargePage * kLargePage;
        void* p = std::aligned_alloc(kLargePage, rounded);
        if (!p) throw std::bad_alloc();
#if defined(MADV_HUGEPAGE)
        // Only advice: without large pages the buffer works as any other.
        madvise(p, rounded, MADV_HUGEPAGE);
#endif
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (n * sizeof(T) < kLargePage)
            std::allocator<T>{}.deallocate(p, n);
        else
            std::free(p);
    }

    template <class U>
    bool operator==(const LargePageAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace qm
