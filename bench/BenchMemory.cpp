#include "bench/BenchMemory.h"

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

// Blocks count with their usable size, which also answers for the unsized forms of delete.
namespace {

std::atomic<std::int64_t> liveBytes{0};
std::atomic<std::int64_t> peakBytes{0};

void* Allocate(std::size_t size, std::size_t alignment, bool nothrow)
{
    void* p = nullptr;
    if (alignment <= alignof(std::max_align_t))
        p = std::malloc(size == 0 ? 1 : size);
    else if (posix_memalign(&p, alignment, size == 0 ? 1 : size) != 0)
        p = nullptr;
    if (p == nullptr) {
        if (nothrow)
            return nullptr;
        throw std::bad_alloc();
    }
    const auto bytes = static_cast<std::int64_t>(malloc_usable_size(p));
    const std::int64_t now = liveBytes.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    std::int64_t peak = peakBytes.load(std::memory_order_relaxed);
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
    return p;
}

void Release(void* p) noexcept
{
    if (p == nullptr)
        return;
    liveBytes.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)),
                        std::memory_order_relaxed);
    std::free(p);
}

constexpr std::size_t Plain = alignof(std::max_align_t);

}  // namespace

void* operator new(std::size_t n) { return Allocate(n, Plain, false); }
void* operator new[](std::size_t n) { return Allocate(n, Plain, false); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
    return Allocate(n, Plain, true);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept
{
    return Allocate(n, Plain, true);
}
void* operator new(std::size_t n, std::align_val_t a)
{
    return Allocate(n, static_cast<std::size_t>(a), false);
}
void* operator new[](std::size_t n, std::align_val_t a)
{
    return Allocate(n, static_cast<std::size_t>(a), false);
}
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return Allocate(n, static_cast<std::size_t>(a), true);
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return Allocate(n, static_cast<std::size_t>(a), true);
}
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { Release(p); }

namespace lumivex::bench {

std::int64_t StartPeak()
{
    const std::int64_t baseline = liveBytes.load();
    peakBytes.store(baseline);
    return baseline;
}

std::int64_t PeakSince(std::int64_t baseline) { return peakBytes.load() - baseline; }

}  // namespace lumivex::bench
