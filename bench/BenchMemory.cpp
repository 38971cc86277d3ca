#include "bench/BenchMemory.h"

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>

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

namespace {

// A "Name:   123 kB" line of /proc/self/status, in bytes.
std::int64_t StatusBytes(const std::string& name)
{
    std::ifstream status("/proc/self/status");
    std::string key;
    std::int64_t kilobytes = 0;
    std::string unit;
    while (status >> key) {
        if (key == name + ":" && status >> kilobytes >> unit)
            return kilobytes * 1024;
        status.ignore(1 << 20, '\n');
    }
    return 0;
}

}  // namespace

std::int64_t StartResidentPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";  // VmHWM back to VmRSS
    return StatusBytes("VmRSS");
}

std::int64_t ResidentPeakSince(std::int64_t baseline)
{
    const std::int64_t peak = StatusBytes("VmHWM");
    return peak > baseline ? peak - baseline : 0;
}

}  // namespace lumivex::bench
