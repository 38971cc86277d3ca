#include "core/RowMemory.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <utility>

#include "core/Parallel.h"

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

void Destroy(TBlock* block) noexcept
{
    if (block != nullptr) {
        ::operator delete(block->Memory);
        delete block;
    }
}

void Release(TBlock* block) noexcept
{
    if (block->Refs.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    {
        const std::lock_guard lock(g_cacheMutex);
        std::swap(block, g_cached);
    }
    Destroy(block);
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
    if (cached != nullptr && cached->Size >= size && cached->Size / 2 <= size)
        return cached;
    Destroy(cached);
    return nullptr;
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
    Destroy(kept);
    return bytes;
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
    const auto address = reinterpret_cast<std::uintptr_t>(block->Memory);
    block->Size = bytes + slack;
    // Huge pages where the kernel gives them on request: a fault then clears 2 MB at once
    // instead of taking one (costly, under virtualisation) per 4 KB.
    constexpr std::uintptr_t Huge = std::uintptr_t{2} << 20;
    const std::uintptr_t hugeFirst = (address + Huge - 1) & ~(Huge - 1);
    const std::uintptr_t hugeLast = (address + block->Size) & ~(Huge - 1);
    if (hugeLast > hugeFirst)
        ::madvise(reinterpret_cast<void*>(hugeFirst), hugeLast - hugeFirst, MADV_HUGEPAGE);
    // One write per small page, in bands on all cores: each fault, and the kernel's clearing of
    // the page, happens on the core that touches it.
    constexpr std::int64_t Page = 4096;
    const auto pages = static_cast<std::int64_t>(block->Size / Page);
    unsigned char* memory = block->Memory;
    try {
        ParallelRows(
            0, pages,
            [memory](std::int64_t first, std::int64_t last) {
                for (std::int64_t i = first; i < last; ++i)
                    memory[i * Page] = 0;
            },
            512);
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
