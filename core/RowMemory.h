#pragma once

// Memory of image rows. A row normally comes from ::operator new; while a TRowBlock is alive on a
// thread, rows allocated there are carved from one large block instead, whose pages were first
// touched by all cores. A new image's rows are reserved on one thread, and with rows of their own
// each page of a large image was faulted in (cleared by the kernel) by that thread alone.

#include <cstddef>
#include <new>

namespace lumivex {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LUMIVEX_SANITIZED_ROWS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define LUMIVEX_SANITIZED_ROWS 1
#endif
#endif

/// Whether TRowBlock carves rows at all: sanitizers should see each row on its own.
#if defined(LUMIVEX_SANITIZED_ROWS)
inline constexpr bool RowBlocksEnabled = false;
#else
inline constexpr bool RowBlocksEnabled = true;
#endif

/// At least `bytes` bytes for a row, 16-byte aligned. Throws std::bad_alloc.
void* AllocateRowMemory(std::size_t bytes);
/// Gives back memory of AllocateRowMemory (null: nothing).
void FreeRowMemory(void* p) noexcept;

/// Frees the block that the last freed large image left for the next one, and answers its bytes
/// (0: none was kept). For callers that want the memory back at once, such as measurements of
/// what an operation takes.
std::size_t ReleaseKeptRowBlock() noexcept;

/// When this process has not yet measured whether fresh huge or small pages cost less here,
/// faults in, times and frees up to `bytes` (at least some 40 MB, at most 128 MB) of fresh
/// memory, so that the large buffers allocated next, even a library's, get the cheaper kind.
/// Little of it is lost: the kernel hands the freed pages to the next allocations.
void MeasureFreshPages(std::size_t bytes);

/// While alive, rows allocated on the constructing thread are carved from one block of at least
/// `bytes` (their sizes as AllocateRowMemory takes them, plus RowOverhead each); the block is
/// freed with its last row. Small requests, and builds without RowBlocksEnabled, take no block.
/// Throws std::bad_alloc when the block cannot be had.
class TRowBlock {
public:
    explicit TRowBlock(std::size_t bytes);
    ~TRowBlock();
    TRowBlock(const TRowBlock&) = delete;
    TRowBlock& operator=(const TRowBlock&) = delete;

    /// What a row costs in a block beyond its own bytes, at most.
    static constexpr std::size_t RowOverhead = 64;

private:
    // Carves from this block from now on (its only reference: the scope's).
    void Open(struct TBlock* block);

    struct TBlock* m_block = nullptr;
    struct TBlock* m_outer = nullptr;  // the block carved from before this one
};

/// The allocator of image rows (TRawHdr).
template <typename T>
struct TRowAllocator {
    using value_type = T;

    TRowAllocator() noexcept = default;
    template <typename U>
    TRowAllocator(const TRowAllocator<U>&) noexcept
    {
    }

    T* allocate(std::size_t n)
    {
        if (n > static_cast<std::size_t>(-1) / 2 / sizeof(T))
            throw std::bad_array_new_length();
        return static_cast<T*>(AllocateRowMemory(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t) noexcept { FreeRowMemory(p); }

    friend bool operator==(const TRowAllocator&, const TRowAllocator&) noexcept { return true; }
};

}  // namespace lumivex
