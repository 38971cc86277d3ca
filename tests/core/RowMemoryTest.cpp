#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <utility>
#include <vector>

#include "core/BmpHdr.h"
#include "core/Parallel.h"
#include "core/RowMemory.h"
#include "platform/HugePages.h"

namespace lumivex {
namespace {

// The lowest and highest byte address of an image's rows.
std::pair<std::uintptr_t, std::uintptr_t> RowSpan(const TBmpHdr& image)
{
    std::uintptr_t low = UINTPTR_MAX;
    std::uintptr_t high = 0;
    for (const TRawHdr& row : image.Pixels) {
        const auto first = reinterpret_cast<std::uintptr_t>(row.data());
        low = std::min(low, first);
        high = std::max(high, first + row.size() * sizeof(TColorHdr));
    }
    return {low, high};
}

// A large image's rows share one block that is already faulted in; they are aligned, freed on
// any thread in any order, and the block then serves the next image of its size.
TEST(RowMemory, LargeImagesTakeTheirRowsFromOneReusedBlock)
{
    for (const int threads : {1, 2, 7}) {
        SetThreadCount(threads);
        std::uintptr_t firstBlock = 0;
        for (int round = 0; round < 2; ++round) {
            TBmpHdr image;
            image.SetSize(1501, 1200, TColorHdr{0.25f, 0.5f, 0.75f, 1.0f});
            for (const TRawHdr& row : image.Pixels) {
                ASSERT_EQ(row.size(), 1501u);
                ASSERT_EQ(reinterpret_cast<std::uintptr_t>(row.data()) % 16, 0u);
            }
            EXPECT_EQ(image.Pixels[1199][1500].A, 1.0f);
            const auto [low, high] = RowSpan(image);
            if (RowBlocksEnabled) {
                // Row bytes plus a header each, nothing else between them.
                EXPECT_LE(high - low, 1200u * (1501u * 16u + TRowBlock::RowOverhead));
                if (round == 0)
                    firstBlock = low;
                else
                    EXPECT_EQ(low, firstBlock) << threads << " threads";
            }
            // Rows leave on other threads and in no order.
            std::vector<TRawHdr> moved(image.Pixels.begin() + 600, image.Pixels.end());
            image.Pixels.resize(600);
            std::thread([rows = std::move(moved)]() mutable { rows.clear(); }).join();
        }
    }
    SetThreadCount(0);
}

// The block a freed image leaves for the next one can be given back at once, and only once.
TEST(RowMemory, TheKeptBlockIsReleasedOnRequest)
{
    ReleaseKeptRowBlock();
    {
        TBmpHdr image;
        image.SetSize(1501, 1200, TColorHdr{});
    }
    const std::size_t kept = ReleaseKeptRowBlock();
    if (RowBlocksEnabled)
        EXPECT_GE(kept, 1501u * 1200u * sizeof(TColorHdr));
    else
        EXPECT_EQ(kept, 0u);
    EXPECT_EQ(ReleaseKeptRowBlock(), 0u);
    TBmpHdr next;  // the next image takes a block of its own
    next.SetSize(1501, 1200, TColorHdr{0.5f, 0.5f, 0.5f, 1.0f});
    EXPECT_EQ(next.Pixels[1199][1500].R, 0.5f);
}

// A row that outlives its image, and every row made while no block is open, is ordinary memory.
// A forked child (a decoder) does not inherit the kept block: it forgets it and takes memory of
// its own for an image of the same size, while the parent still reuses the block afterwards.
TEST(RowMemory, TheKeptBlockStaysOutOfForkedChildren)
{
    if (!RowBlocksEnabled)
        GTEST_SKIP() << "rows are not carved from blocks in this build";
    ReleaseKeptRowBlock();
    std::uintptr_t kept = 0;
    {
        TBmpHdr image;
        image.SetSize(1501, 1200, TColorHdr{});
        kept = RowSpan(image).first;
    }
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The block's pages are not mapped here (mincore fails with ENOMEM on unmapped pages).
        unsigned char resident = 0;
        const auto page = reinterpret_cast<void*>((kept + 8191) & ~std::uintptr_t{4095});
        const bool absent = ::mincore(page, 4096, &resident) != 0 && errno == ENOMEM;
        TBmpHdr image;
        image.SetSize(1501, 1200, TColorHdr{0.5f, 0.5f, 0.5f, 1.0f});
        const bool own = RowSpan(image).first != kept && image.Pixels[1199][1500].R == 0.5f;
        ::_exit(absent && own ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "the child died";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    TBmpHdr image;
    image.SetSize(1501, 1200, TColorHdr{0.25f, 0.5f, 0.75f, 1.0f});
    EXPECT_EQ(RowSpan(image).first, kept);
    EXPECT_EQ(image.Pixels[1199][1500].G, 0.5f);
    // Freed for good, its pages go back to children: nothing else may lose them.
    image.Clear();
    ReleaseKeptRowBlock();
}

TEST(RowMemory, RowsOutliveTheirImageAndGrowOutsideTheBlock)
{
    TRawHdr kept;
    {
        TBmpHdr image;
        image.SetSize(2000, 1100, TColorHdr{1.0f, 2.0f, 3.0f, 4.0f});
        kept = std::move(image.Pixels[7]);
        image.Pixels[8].push_back(TColorHdr{5.0f, 6.0f, 7.0f, 8.0f});  // grows outside
        EXPECT_EQ(image.Pixels[8].back().R, 7.0f);
        EXPECT_EQ(image.Pixels[8][1999].A, 4.0f);
    }
    // Another image reuses the block; the kept row's memory is still its own.
    TBmpHdr other;
    other.SetSize(2000, 1100, clNoneHdr);
    ASSERT_EQ(kept.size(), 2000u);
    for (const TColorHdr& p : kept)
        ASSERT_EQ(p.G, 2.0f);
    if (RowBlocksEnabled) {
        // Outside the block of the new image (rows of their own may lie anywhere).
        const auto [low, high] = RowSpan(other);
        const auto keptAt = reinterpret_cast<std::uintptr_t>(kept.data());
        EXPECT_FALSE(keptAt >= low && keptAt < high);
    }
    kept.assign(3, TColorHdr{});
    EXPECT_EQ(kept.size(), 3u);
}

// A process that has faulted in nothing yet, such as a decoder child before its library's
// buffers, can find out which page kind is cheaper here before it needs to know.
TEST(RowMemory, FreshPagesAreMeasuredOnRequest)
{
    MeasureFreshPages(0);
    EXPECT_TRUE(PageCostsMeasured());
    MeasureFreshPages(std::size_t{1} << 40);  // measured already: nothing more to do
    EXPECT_TRUE(PageCostsMeasured());
}

}  // namespace
}  // namespace lumivex
