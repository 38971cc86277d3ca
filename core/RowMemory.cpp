#include "core/RowMemory.h"

#include <pthread.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <utility>

#include "core/Parallel.h"
#include "platform/HugePages.h"

namespace lumivex {

// Every row starts with a header naming its block (null: its own ::operator new memory), so a
// row can be freed on any thread, in any order, after its block's scope has ended.
struct TBlock {
    std::atomic<std::int64_t> Refs{1};  // the scope's reference and one per row
    unsigned char* Memory = nullptr;
    std::size_t Used = 0;
    std::size_t Size = 0;
};

namespace {

constexpr std::size_t HeaderBytes = 16;
// Below this a block saves nothing worth its bookkeeping.
constexpr std::size_t MinBlockBytes = std::size_t{16} << 20;

// The block rows are carved from on this thread, if any.
thread_local TBlock* t_block = nullptr;

// The last block whose rows were all freed, kept with its pages faulted in: the next image of a
// similar size reuses it, as freed heap memory would have been reused.
std::mutex g_cacheMutex;
TBlock* g_cached = nullptr;

constexpr std::uintptr_t SmallPageBytes = 4096;

// A decoder child is forked while the kept block is unused memory. Copying it into the child
// would only make every page of it copy-on-write, and the next image written there would copy
// and flush each page once more; so the kept block's whole pages stay out of children. A child
// forgets the block (it is not there), and the lock is held across the fork so that the child's
// copy of it is never left locked.
const int g_forkGuard = ::pthread_atfork([] { g_cacheMutex.lock(); }, [] { g_cacheMutex.unlock(); },
                                         [] {
                                             g_cached = nullptr;
                                             g_cacheMutex.unlock();
                                         });

// Marks the whole pages of a block as kept out of forked children, or back in.
void KeepFromChildren(TBlock* block, bool keep) noexcept
{
    constexpr std::uintptr_t Page = SmallPageBytes;
    const auto first = (reinterpret_cast<std::uintptr_t>(block->Memory) + Page - 1) & ~(Page - 1);
    const auto last = (reinterpret_cast<std::uintptr_t>(block->Memory) + block->Size) & ~(Page - 1);
    if (first < last)
        ::madvise(reinterpret_cast<void*>(first), last - first, keep ? MADV_DONTFORK : MADV_DOFORK);
}

// Frees a block that is not the kept one.
void Destroy(TBlock* block) noexcept
{
    if (block != nullptr) {
        ::operator delete(block->Memory);
        delete block;
    }
}

// Frees the block that was kept; the heap may hand its pages out again, to anything.
void DestroyKept(TBlock* block) noexcept
{
    if (block != nullptr)
        KeepFromChildren(block, false);
    Destroy(block);
}

void Release(TBlock* block) noexcept
{
    if (block->Refs.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    KeepFromChildren(block, true);
    {
        const std::lock_guard lock(g_cacheMutex);
        std::swap(block, g_cached);
    }
    DestroyKept(block);
}

// The cached block when it holds `size` bytes without holding more than twice that; any other
// cached block is freed, so that it does not stand beside the new one.
TBlock* TakeCached(std::size_t size) noexcept
{
    TBlock* cached = nullptr;
    {
        const std::lock_guard lock(g_cacheMutex);
        std::swap(cached, g_cached);
    }
    if (cached != nullptr && cached->Size >= size && cached->Size / 2 <= size) {
        KeepFromChildren(cached, false);
        return cached;
    }
    DestroyKept(cached);
    return nullptr;
}

constexpr std::size_t HugePageBytes = std::size_t{2} << 20;

// Touches one byte of every small page of [first, last).
void Touch(unsigned char* first, unsigned char* last) noexcept
{
    for (unsigned char* p = first; p < last; p += SmallPageBytes)
        *p = 0;
}

// Faults in the pages of fresh memory on all cores, so that each fault, and the kernel's
// clearing of the page, happens on the core that touches it. The 2 MB-aligned middle goes in
// pieces of huge or small pages, as the process's page chooser says; each piece is timed for it.
void FaultIn(unsigned char* memory, std::size_t size)
{
    constexpr std::uintptr_t Huge = HugePageBytes;
    static constexpr std::size_t Piece = TPageChooser::PieceBytes;
    const auto address = reinterpret_cast<std::uintptr_t>(memory);
    unsigned char* const hugeFirst = memory + ((Huge - address % Huge) % Huge);
    unsigned char* const end = memory + size;
    if (hugeFirst >= end) {
        Touch(memory, end);
        return;
    }
    const auto hugeBytes = static_cast<std::size_t>(end - hugeFirst) & ~(Huge - 1);
    unsigned char* const hugeLast = hugeFirst + hugeBytes;
    Touch(memory, hugeFirst);
    Touch(hugeLast, end);
    const auto pieces = static_cast<std::int64_t>((hugeBytes + Piece - 1) / Piece);
    ParallelRows(
        0, pieces,
        [hugeFirst, hugeLast](std::int64_t first, std::int64_t last) {
            for (std::int64_t i = first; i < last; ++i) {
                unsigned char* const piece = hugeFirst + static_cast<std::size_t>(i) * Piece;
                const std::size_t bytes =
                    std::min(Piece, static_cast<std::size_t>(hugeLast - piece));
                const TPageKind kind = NextPageKind();
                ::madvise(piece, bytes,
                          kind == TPageKind::pkHuge ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
                const auto start = std::chrono::steady_clock::now();
                Touch(piece, piece + bytes);
                const std::chrono::duration<double, std::nano> took =
                    std::chrono::steady_clock::now() - start;
                RecordPageCost(kind, took.count(), bytes);
            }
        },
        1);
}

}  // namespace

void* AllocateRowMemory(std::size_t bytes)
{
    TBlock* block = t_block;
    const std::size_t need =
        (bytes + HeaderBytes + TRowBlock::RowOverhead - 1) & ~(TRowBlock::RowOverhead - 1);
    unsigned char* p = nullptr;
    if (block != nullptr && need >= bytes && need <= block->Size - block->Used) {
        p = block->Memory + block->Used;
        block->Used += need;
        block->Refs.fetch_add(1, std::memory_order_relaxed);
    } else {
        if (bytes > static_cast<std::size_t>(-1) - HeaderBytes)
            throw std::bad_alloc();
        p = static_cast<unsigned char*>(::operator new(bytes + HeaderBytes));
        block = nullptr;
    }
    std::memcpy(p, &block, sizeof block);
    return p + HeaderBytes;
}

void FreeRowMemory(void* row) noexcept
{
    if (row == nullptr)
        return;
    unsigned char* p = static_cast<unsigned char*>(row) - HeaderBytes;
    TBlock* block = nullptr;
    std::memcpy(&block, p, sizeof block);
    if (block != nullptr)
        Release(block);
    else
        ::operator delete(p);
}

std::size_t ReleaseKeptRowBlock() noexcept
{
    TBlock* kept = nullptr;
    {
        const std::lock_guard lock(g_cacheMutex);
        std::swap(kept, g_cached);
    }
    const std::size_t bytes = kept != nullptr ? kept->Size : 0;
    DestroyKept(kept);
    return bytes;
}

void MeasureFreshPages(std::size_t bytes)
{
    if (PageCostsMeasured())
        return;
    // More than the few megabytes of huge pages a kernel keeps warm even when idle, which make
    // huge pages look cheap at first, and than the first slow pieces of small pages.
    constexpr std::size_t Piece = TPageChooser::PieceBytes;
    // A huge page more, so that the aligned middle FaultIn measures holds them all.
    const std::size_t probeBytes =
        std::clamp(bytes / Piece, std::size_t{10}, std::size_t{32}) * Piece + HugePageBytes;
    void* const mapping =
        ::mmap(nullptr, probeBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED)
        return;
    try {
        FaultIn(static_cast<unsigned char*>(mapping), probeBytes);
    } catch (...) {
        // Unmeasured: the next block measures instead.
    }
    ::munmap(mapping, probeBytes);
}

TRowBlock::TRowBlock(std::size_t bytes)
{
    if (bytes < MinBlockBytes || !RowBlocksEnabled)
        return;
    // Room to align the first row.
    const std::size_t slack = RowOverhead;
    if (TBlock* cached = TakeCached(bytes + slack); cached != nullptr) {
        Open(cached);
        return;
    }
    auto* block = new TBlock;
    try {
        block->Memory = static_cast<unsigned char*>(::operator new(bytes + slack));
    } catch (...) {
        delete block;
        throw;
    }
    block->Size = bytes + slack;
    try {
        FaultIn(block->Memory, block->Size);
    } catch (...) {
        Destroy(block);
        throw;
    }
    Open(block);
}

void TRowBlock::Open(TBlock* block)
{
    // The first row starts aligned like the rows, whatever ::operator new gave.
    const auto address = reinterpret_cast<std::uintptr_t>(block->Memory);
    block->Used = static_cast<std::size_t>((RowOverhead - address % RowOverhead) % RowOverhead);
    block->Refs.store(1, std::memory_order_relaxed);
    m_block = block;
    m_outer = std::exchange(t_block, block);
}

TRowBlock::~TRowBlock()
{
    if (m_block == nullptr)
        return;
    t_block = m_outer;
    Release(m_block);
}

}  // namespace lumivex
