// Out of memory in the middle of an operation: every operation of the table is run with the
// allocator failing at its first, second, third... allocation until it completes. After each
// failure the editor puts the record's pixels back and cancels the record; the image must then be
// bit for bit what it was, and the history must go on working.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

#include "OperationSequence.h"
#include "TestImages.h"
#include "adjust/ColorAdjust.h"
#include "core/Parallel.h"
#include "history/UndoHdr.h"
#include "merge/MergeHdr.h"

namespace {

// Counting allocator of this test executable: once armed, allocation number `limit` and every
// later one throw, on any thread.
std::atomic<bool> Armed{false};
std::atomic<std::int64_t> Allocations{0};
std::atomic<std::int64_t> Limit{0};

[[maybe_unused]] void* Allocate(std::size_t size)
{
    if (Armed.load(std::memory_order_relaxed) &&
        Allocations.fetch_add(1, std::memory_order_relaxed) >= Limit.load())
        throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

class TFailingAllocations {
public:
    explicit TFailingAllocations(std::int64_t after)
    {
        Allocations.store(0);
        Limit.store(after);
        Armed.store(true);
    }
    ~TFailingAllocations() { Armed.store(false); }
    TFailingAllocations(const TFailingAllocations&) = delete;
    TFailingAllocations& operator=(const TFailingAllocations&) = delete;
};

}  // namespace

// Every form is replaced, so that each block is freed by the allocator that made it (libraries
// such as FreeImage allocate with the nothrow forms). The address sanitizer's own allocator
// reaches FreeImage, which is opened at run time, so with it the test does not replace anything.
#if !defined(__SANITIZE_ADDRESS__)
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept
{
    return operator new(size, tag);
}
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace lumivex {
namespace {

using test::SameBits;

// One operation of every entry of the table, with parameters that make each do real work on a
// region that overhangs the image.
std::vector<TOperation> EveryOperation(const TBmpHdr& image)
{
    std::vector<TOperation> ops;
    test::TOperationDrawer drawer(7);
    for (const TOperationDef& def : OperationTable()) {
        TOperation op;
        do {
            op = drawer.Draw(image);
        } while (op.Def != &def);
        op.Args.Rect = TRect{-3, 4, image.Width() - 5, image.Height() + 10};
        ops.push_back(op);
    }
    return ops;
}

TEST(FaultInjection, AFailedAllocationLeavesTheImageAsTheRecordSavedItAndTheHistoryWorking)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the counting allocator is left out under the address sanitizer";
#endif
    const TBmpHdr source = test::RealCrop("hdr/courtyard_256x128_float_zip.exr", 90, 40, 40, 36);
    std::int64_t totalFailures = 0;
    for (const int threads : {1, 3}) {
        SetThreadCount(threads);
        for (const TOperation& op : EveryOperation(source)) {
            SCOPED_TRACE(test::TOperationDrawer::Word(op) + ", " + std::to_string(threads) +
                         " threads");
            TBmpHdr image;
            image.Assign(&source);
            TUndoList history(7);
            // An earlier edit, so that the history has something to keep.
            history.Add(TUndoHdrItem::CreateRegion(&image, MaxRectHdr));
            history.Commit();
            NegativeHdr(&image, TRect{0, 0, 10, 10});
            TBmpHdr before;
            before.Assign(&image);
            bool completed = false;
            std::int64_t failures = 0;
            for (std::int64_t after = 0; !completed && after < 100000; ++after) {
                history.Add(test::OpenRecord(image, op));
                try {
                    const TFailingAllocations failing(after);
                    op.Def->Run(image, op.Args);
                    completed = true;
                } catch (const std::bad_alloc&) {
                    ++failures;
                    static_cast<TUndoHdrItem*>(history.CurrentItem())->Restore();
                    history.DeleteLast();
                    ASSERT_TRUE(SameBits(image, before)) << "failing allocation " << after;
                    ASSERT_EQ(history.Count(), 1);
                }
            }
            ASSERT_TRUE(completed);
            totalFailures += failures;
            history.Commit();
            TBmpHdr result;
            result.Assign(&image);
            // The history still works: undo both edits, redo both.
            history.Undo();
            ASSERT_TRUE(SameBits(image, before)) << failures << " failures before";
            history.Undo();
            ASSERT_TRUE(SameBits(image, source));
            history.Redo();
            history.Redo();
            ASSERT_TRUE(SameBits(image, result));
        }
    }
    SetThreadCount(0);
    // Every operation allocates at least its scratch rows or its threads.
    EXPECT_GT(totalFailures, 2 * static_cast<std::int64_t>(OperationTable().size()));
}

TBitmap Bracket(int k)
{
    TBitmap bitmap(37, 23, TPixelFormat::pf24bit);
    for (std::int32_t y = 0; y < bitmap.Height(); ++y) {
        std::uint8_t* line = bitmap.ScanLine(y);
        for (std::size_t i = 0; i < bitmap.BytesPerLine(); ++i)
            line[i] = static_cast<std::uint8_t>((7 * i + 3 * static_cast<std::size_t>(y)) % 200 +
                                                25 * static_cast<std::size_t>(k));
    }
    return bitmap;
}

// A merge that runs out of memory part way (copying a photograph into the list or making the
// result) throws, and the list it leaves behind still merges to exactly what an undisturbed run
// gives: the editor can tell the user and try again.
TEST(FaultInjection, AFailedAllocationDuringAMergeLeavesAListThatStillMerges)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the counting allocator is left out under the address sanitizer";
#endif
    const TBitmap sources[] = {Bracket(0), Bracket(1), Bracket(2)};
    for (const int threads : {1, 3}) {
        SetThreadCount(threads);
        for (const TMergeMode mode :
             {TMergeMode::mmAverage, TMergeMode::mmLogaritmic, TMergeMode::mmWeighted}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(mode)) + " mode, " +
                         std::to_string(threads) + " threads");
            TBmpList reference;
            reference.Mode = mode;
            for (const TBitmap& b : sources)
                reference.Add(&b, 1.0f);
            reference.ComputeAutoExposure();
            TBmpHdr expected;
            reference.Merge(&expected);
            ASSERT_FALSE(expected.IsEmpty());

            bool completed = false;
            std::int64_t failures = 0;
            for (std::int64_t after = 0; !completed && after < 100000; ++after) {
                TBmpList list;
                list.Mode = mode;
                TBmpHdr merged;
                std::int32_t added = 0;
                try {
                    const TFailingAllocations failing(after);
                    for (const TBitmap& b : sources) {
                        list.Add(&b, 1.0f);
                        ++added;
                    }
                    list.ComputeAutoExposure();
                    list.Merge(&merged);
                    completed = true;
                } catch (const std::bad_alloc&) {
                    ++failures;
                    // Every photograph added before the failure is whole, the failing one absent.
                    ASSERT_EQ(list.Count(), added) << "failing allocation " << after;
                    for (std::int32_t i = added; i < 3; ++i)
                        list.Add(&sources[i], 1.0f);
                    list.ComputeAutoExposure();
                    list.Merge(&merged);
                }
                ASSERT_TRUE(SameBits(merged, expected)) << "failing allocation " << after;
            }
            ASSERT_TRUE(completed);
            EXPECT_GE(failures, 4);  // three copies and the result at least
        }
    }
    SetThreadCount(0);
}

}  // namespace
}  // namespace lumivex
