#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "TestImages.h"
#include "core/BmpHdr.h"
#include "core/Parallel.h"
#include "core/Progress.h"
#include "platform/Bitmap.h"

using namespace lumivex;
using lumivex::test::Copy;

namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr int ThreadCounts[] = {1, 2, 7};

// Every test changes the global thread count; this puts it back.
class ParallelTest : public testing::Test {
protected:
    void SetUp() override { m_saved = ThreadCount(); }
    void TearDown() override { SetThreadCount(m_saved); }

private:
    int m_saved = 1;
};

using ThreadCountTest = ParallelTest;
using BandCountTest = ParallelTest;
using ParallelBandsTest = ParallelTest;
using ParallelRowsTest = ParallelTest;
using BandedImageOperations = ParallelTest;

// Values -2..30 with NaN, -0.0 and 0.0 sprinkled in. mt19937 output is fixed by the standard,
// and the value mapping is ours, so the image is the same on every run.
TBmpHdr RandomImage(int width, int height, std::uint32_t seed)
{
    std::mt19937 gen(seed);
    auto value = [&]() {
        const std::uint32_t r = gen();
        switch (r % 50) {
            case 0:
                return NaN;
            case 1:
                return -0.0f;
            case 2:
                return 0.0f;
            default:
                return -2.0f + 32.0f * static_cast<float>(gen() >> 8) / 16777216.0f;
        }
    };
    TBmpHdr image;
    image.SetSize(width, height, clNoneHdr);
    for (TRawHdr& row : image.Pixels)
        for (TColorHdr& p : row)
            p = TColorHdr{value(), value(), value(), value()};
    return image;
}

// Every float as its bits, so a changed sign of zero or NaN payload counts.
void AppendBits(std::vector<std::uint32_t>& out, const TBmpHdr& image)
{
    out.push_back(image.Width());
    out.push_back(image.Height());
    for (const TRawHdr& row : image.Pixels)
        for (const TColorHdr& p : row)
            for (const float v : {p.B, p.G, p.R, p.A})
                out.push_back(std::bit_cast<std::uint32_t>(v));
}

void AppendBits(std::vector<std::uint32_t>& out, std::initializer_list<float> values)
{
    for (const float v : values)
        out.push_back(std::bit_cast<std::uint32_t>(v));
}

// Everything the banded routines produce from one source image, as bits.
std::vector<std::uint32_t> BandedResults(const TBmpHdr& source)
{
    std::vector<std::uint32_t> out;
    const TRect inner{3, 5, std::max(4, source.Width() - 2), std::max(6, source.Height() - 1)};
    for (const TRect& rect : {MaxRectHdr, inner}) {
        float minimum, maximum, minB, maxB, minG, maxG, minR, maxR;
        source.GetMinMax(minimum, maximum, rect);
        source.GetChannelMinMax(minB, maxB, minG, maxG, minR, maxR, rect);
        AppendBits(out, {minimum, maximum, minB, maxB, minG, maxG, minR, maxR});

        TBmpHdr image = Copy(source);
        image.Normalize(rect);
        AppendBits(out, image);
        image = Copy(source);
        image.ShiftToPositive(rect);
        AppendBits(out, image);
        image = Copy(source);
        image.NormalizeChannels(rect);
        AppendBits(out, image);
    }
    TBmpHdr filled;
    filled.SetSize(source.Width(), source.Height(), TColorHdr{0.5f, -0.0f, NaN, 3.0f});
    AppendBits(out, filled);
    AppendBits(out, Copy(source));

    // A history record's region copy and its exchange back, between two images.
    TBmpHdr region;
    region.SetSize(std::max(1, source.Width() - 4), std::max(1, source.Height() - 2), clNoneHdr);
    CopyRectHdr(&source, MaxRectHdr, &region, -3, -1, MaxRectHdr);
    AppendBits(out, region);
    TBmpHdr swapped = Copy(source);
    ExchangeRectHdr(&region, region.GetBounds(), &swapped, 1, 0);
    AppendBits(out, region);
    AppendBits(out, swapped);

    TBitmap bitmap(source.Width(), source.Height(), TPixelFormat::pf24bit);
    DrawHdrToBitmap(&source, MaxRectHdr, &bitmap, 0, 0, MaxRectHdr, 0.75f);
    for (int y = 0; y < bitmap.Height(); ++y)
        out.insert(out.end(), bitmap.ScanLine(y), bitmap.ScanLine(y) + bitmap.BytesPerLine());
    return out;
}

// The defined search: every pixel of the region in row order, B, G, R, strict comparisons.
void ReferenceMinMax(const TBmpHdr& image, float& minimum, float& maximum)
{
    minimum = 100000.0f;
    maximum = -100000.0f;
    for (const TRawHdr& row : image.Pixels) {
        for (const TColorHdr& p : row) {
            for (const float v : {p.B, p.G, p.R}) {
                if (v > maximum)
                    maximum = v;
                if (v < minimum)
                    minimum = v;
            }
        }
    }
}

}  // namespace

TEST_F(ThreadCountTest, IsSetBetweenOneAndSixtyFour)
{
    SetThreadCount(3);
    EXPECT_EQ(ThreadCount(), 3);
    SetThreadCount(1);
    EXPECT_EQ(ThreadCount(), 1);
    SetThreadCount(100);
    EXPECT_EQ(ThreadCount(), 64);
    SetThreadCount(0);  // all cores
    EXPECT_GE(ThreadCount(), 1);
    EXPECT_LE(ThreadCount(), 64);
    const int all = ThreadCount();
    SetThreadCount(-5);
    EXPECT_EQ(ThreadCount(), all);
}

TEST_F(BandCountTest, IsLimitedByThreadsAndByWork)
{
    SetThreadCount(4);
    EXPECT_EQ(BandCount(0, 16), 0);
    EXPECT_EQ(BandCount(-5, 16), 0);
    EXPECT_EQ(BandCount(10, 16), 1);   // less than one band of work still runs
    EXPECT_EQ(BandCount(40, 16), 2);   // 40 / 16
    EXPECT_EQ(BandCount(100, 16), 4);  // 6 by work, 4 threads
    EXPECT_EQ(BandCount(3, 0), 3);     // a minimum below 1 counts as 1
    SetThreadCount(1);
    EXPECT_EQ(BandCount(100000, 1), 1);
}

TEST_F(ParallelBandsTest, CoversTheRangeInContiguousBandsWithBandZeroOnTheCaller)
{
    for (const int threads : ThreadCounts) {
        SetThreadCount(threads);
        struct TBand {
            std::int64_t First = -1;
            std::int64_t Last = -1;
            std::thread::id Thread;
            int Calls = 0;
        };
        std::vector<TBand> seen(7);
        std::mutex mutex;
        ParallelBands(7, 10, 23, [&](int band, std::int64_t first, std::int64_t last) {
            const std::lock_guard<std::mutex> lock(mutex);
            TBand& b = seen[static_cast<std::size_t>(band)];
            b.First = first;
            b.Last = last;
            b.Thread = std::this_thread::get_id();
            ++b.Calls;
        });
        EXPECT_EQ(seen[0].Thread, std::this_thread::get_id()) << threads;
        EXPECT_EQ(seen[0].First, 10);
        EXPECT_EQ(seen[6].Last, 23);
        for (std::size_t i = 0; i < seen.size(); ++i) {
            EXPECT_EQ(seen[i].Calls, 1) << i;
            const std::int64_t size = seen[i].Last - seen[i].First;
            EXPECT_TRUE(size == 1 || size == 2) << i;  // 13 items in 7 bands
            if (i > 0) {
                EXPECT_EQ(seen[i].First, seen[i - 1].Last) << i;
                EXPECT_NE(seen[i].Thread, std::this_thread::get_id()) << i;
            }
        }
    }

    // More bands than items: one item each. Nothing to do: no call.
    std::atomic<int> calls{0};
    ParallelBands(10, 0, 3, [&](int, std::int64_t first, std::int64_t last) {
        EXPECT_EQ(last - first, 1);
        ++calls;
    });
    EXPECT_EQ(calls.load(), 3);
    calls = 0;
    ParallelBands(4, 5, 5, [&](int, std::int64_t, std::int64_t) { ++calls; });
    ParallelBands(4, 6, 5, [&](int, std::int64_t, std::int64_t) { ++calls; });
    ParallelBands(0, 0, 10, [&](int, std::int64_t, std::int64_t) { ++calls; });
    EXPECT_EQ(calls.load(), 0);
}

TEST_F(ParallelBandsTest, CutsTheSameBandsForAnyThreadCount)
{
    std::vector<std::vector<std::int64_t>> cuts;
    for (const int threads : ThreadCounts) {
        SetThreadCount(threads);
        std::vector<std::int64_t> starts(5, -1);
        ParallelBands(5, 0, 101, [&](int band, std::int64_t first, std::int64_t) {
            starts[static_cast<std::size_t>(band)] = first;
        });
        cuts.push_back(starts);
    }
    EXPECT_EQ(cuts[0], cuts[1]);
    EXPECT_EQ(cuts[0], cuts[2]);
}

TEST_F(ParallelBandsTest, RethrowsABandsExceptionOnTheCallerAfterAllBandsFinished)
{
    for (const int failing : {0, 2}) {
        std::atomic<int> finished{0};
        bool caught = false;
        try {
            ParallelBands(4, 0, 400, [&](int band, std::int64_t, std::int64_t) {
                if (band == failing)
                    throw std::runtime_error("band failed");
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                ++finished;
            });
        } catch (const std::runtime_error& e) {
            caught = true;
            EXPECT_STREQ(e.what(), "band failed");
            EXPECT_EQ(finished.load(), 3) << failing;  // the others were joined first
        }
        EXPECT_TRUE(caught) << failing;
    }
}

TEST_F(ParallelRowsTest, VisitsEveryRowOnce)
{
    for (const int threads : ThreadCounts) {
        SetThreadCount(threads);
        std::vector<std::atomic<int>> visits(129);
        ParallelRows(0, 129, [&](std::int64_t first, std::int64_t last) {
            for (std::int64_t y = first; y < last; ++y)
                ++visits[static_cast<std::size_t>(y)];
        });
        for (std::size_t y = 0; y < visits.size(); ++y)
            EXPECT_EQ(visits[y].load(), 1) << threads << " threads, row " << y;
    }
    bool called = false;
    ParallelRows(4, 4, [&](std::int64_t, std::int64_t) { called = true; });
    EXPECT_FALSE(called);
}

TEST_F(BandedImageOperations, GiveTheSameBitsForAnyThreadCount)
{
    struct TSize {
        int Width, Height;
    };
    const TSize sizes[] = {{257, 129}, {300, 1}, {1, 300}, {31, 97}};
    std::uint32_t seed = 2024;
    for (const TSize& size : sizes) {
        const TBmpHdr source = RandomImage(size.Width, size.Height, seed++);
        std::vector<std::vector<std::uint32_t>> results;
        for (const int threads : ThreadCounts) {
            SetThreadCount(threads);
            results.push_back(BandedResults(source));
            // And against the plain search, on all three channels at once.
            float minimum, maximum, refMin, refMax;
            source.GetMinMax(minimum, maximum, MaxRectHdr);
            ReferenceMinMax(source, refMin, refMax);
            EXPECT_EQ(std::bit_cast<std::uint32_t>(minimum), std::bit_cast<std::uint32_t>(refMin))
                << size.Width << "x" << size.Height << ", " << threads << " threads";
            EXPECT_EQ(std::bit_cast<std::uint32_t>(maximum), std::bit_cast<std::uint32_t>(refMax))
                << size.Width << "x" << size.Height << ", " << threads << " threads";
        }
        ASSERT_FALSE(results[0].empty());
        for (std::size_t i = 1; i < results.size(); ++i) {
            ASSERT_EQ(results[i].size(), results[0].size());
            EXPECT_EQ(std::memcmp(results[i].data(), results[0].data(),
                                  results[0].size() * sizeof(std::uint32_t)),
                      0)
                << size.Width << "x" << size.Height << ", " << ThreadCounts[i] << " threads";
        }
    }
}

TEST_F(BandedImageOperations, KeepTheFirstOfEqualZerosForAnyThreadCount)
{
    // The first zero in row 0, the other one in row 150, a different band for every count > 1;
    // and the first one in a later channel than the second.
    for (const bool negativeFirst : {true, false}) {
        const float first = negativeFirst ? -0.0f : 0.0f;
        const float later = negativeFirst ? 0.0f : -0.0f;
        TBmpHdr low;
        low.SetSize(3, 200, GrayHdr(1.0f, 1.0f));
        low.Pixels[0][0].R = first;
        low.Pixels[150][1].B = later;
        low.Pixels[199][2].R = later;
        TBmpHdr high;
        high.SetSize(3, 200, GrayHdr(-1.0f, 1.0f));
        high.Pixels[0][1].G = first;
        high.Pixels[150][0].B = later;
        TBmpHdr channel;
        channel.SetSize(3, 200, GrayHdr(1.0f, 1.0f));
        channel.Pixels[0][2].B = first;
        channel.Pixels[180][0].B = later;
        for (const int threads : ThreadCounts) {
            SetThreadCount(threads);
            float minimum, maximum;
            low.GetMinMax(minimum, maximum, MaxRectHdr);
            EXPECT_EQ(std::signbit(minimum), negativeFirst) << threads << " threads";
            high.GetMinMax(minimum, maximum, MaxRectHdr);
            EXPECT_EQ(std::signbit(maximum), negativeFirst) << threads << " threads";
            float minB, maxB, minG, maxG, minR, maxR;
            channel.GetChannelMinMax(minB, maxB, minG, maxG, minR, maxR, MaxRectHdr);
            EXPECT_EQ(minB, 0.0f);
            EXPECT_EQ(std::signbit(minB), negativeFirst) << threads << " threads";
            high.GetChannelMinMax(minB, maxB, minG, maxG, minR, maxR, MaxRectHdr);
            EXPECT_EQ(std::signbit(maxG), negativeFirst) << threads << " threads";
        }
    }
}

TEST_F(BandedImageOperations, IgnoreABandThatIsAllNaN)
{
    // Rows 0..47 hold 0.25, 0.5 and 0.75, rows 48..95 only NaN: with two or more threads the
    // NaN rows are a band of their own, which must not bring in the search's start values.
    TBmpHdr source;
    source.SetSize(5, 96, TColorHdr{NaN, NaN, NaN, 1.0f});
    for (int y = 0; y < 48; ++y)
        source.Pixels[y].assign(5, TColorHdr{0.25f, 0.5f, 0.75f, 1.0f});
    for (const int threads : ThreadCounts) {
        SetThreadCount(threads);
        float minimum, maximum;
        source.GetMinMax(minimum, maximum, MaxRectHdr);
        EXPECT_EQ(minimum, 0.25f) << threads << " threads";
        EXPECT_EQ(maximum, 0.75f) << threads << " threads";
        float minB, maxB, minG, maxG, minR, maxR;
        source.GetChannelMinMax(minB, maxB, minG, maxG, minR, maxR, MaxRectHdr);
        EXPECT_EQ(minB, 0.25f) << threads << " threads";
        EXPECT_EQ(maxB, 0.25f) << threads << " threads";
        EXPECT_EQ(maxR, 0.75f) << threads << " threads";

        TBmpHdr image = Copy(source);
        image.Normalize(MaxRectHdr);  // (v - 0.25) / 0.5
        const TColorHdr p = image.Pixels[10][2];
        EXPECT_EQ(p.B, 0.0f) << threads << " threads";
        EXPECT_EQ(p.G, 0.5f) << threads << " threads";
        EXPECT_EQ(p.R, 1.0f) << threads << " threads";

        image = Copy(source);
        image.ShiftToPositive(MaxRectHdr);  // minimum above 0: nothing
        EXPECT_EQ(image.Pixels[10][2].B, 0.25f) << threads << " threads";
    }
}

TEST_F(ParallelTest, ProgressBandsPreparesFirstAndReportsEveryStepInOrder)
{
    for (const int threads : ThreadCounts) {
        SetThreadCount(threads);
        std::atomic<int> prepared{0};
        std::atomic<bool> preparedBeforeWork{true};
        std::vector<int> reported;
        OnProgress = [&](int stage, int percentage, int) {
            if (stage == psStep)
                reported.push_back(percentage);
        };
        ProgressDelay = 0;
        ProgressInterval = 0;
        std::int64_t fakeTime = 0;
        SetProgressClock([&] { return std::chrono::seconds(++fakeTime); });
        ASSERT_TRUE(FilterProgress(psStart, 100));
        std::vector<std::atomic<int>> seen(100);
        const bool finished = ProgressBands(
            100, threads, [&](int, std::int64_t, std::int64_t) { ++prepared; },
            [&](int, std::int64_t first, std::int64_t last, TStepGate& gate) {
                if (prepared != std::min(threads, 100))
                    preparedBeforeWork = false;
                for (std::int64_t i = first; i < last && gate.Step(); ++i)
                    ++seen[static_cast<std::size_t>(i)];
            });
        FilterProgress(psEnd, 0);
        EXPECT_TRUE(finished);
        EXPECT_TRUE(preparedBeforeWork);
        for (const std::atomic<int>& s : seen)
            EXPECT_EQ(s.load(), 1);
        ASSERT_EQ(reported.size(), 101u) << threads;  // steps 0..99, then 100 at the end
        for (int i = 0; i < 101; ++i)
            EXPECT_EQ(reported[static_cast<std::size_t>(i)], i);
        OnProgress = {};
        SetProgressClock({});
        ProgressDelay = 12;
        ProgressInterval = 3;
    }
}

TEST_F(ParallelTest, ProgressBandsNumbersItsStepsFromTheFirstStepItIsGiven)
{
    // One progress run of 100 steps made of two walks: 90 steps, then 10 from step 90 on.
    for (const int threads : ThreadCounts) {
        SetThreadCount(threads);
        std::vector<int> reported;
        OnProgress = [&](int stage, int percentage, int) {
            if (stage == psStep)
                reported.push_back(percentage);
        };
        ProgressDelay = 0;
        ProgressInterval = 0;
        std::int64_t fakeTime = 0;
        SetProgressClock([&] { return std::chrono::seconds(++fakeTime); });
        ASSERT_TRUE(FilterProgress(psStart, 100));
        auto walk = [](int, std::int64_t first, std::int64_t last, TStepGate& gate) {
            for (std::int64_t i = first; i < last && gate.Step(); ++i) {
            }
        };
        EXPECT_TRUE(ProgressBands(
            90, threads, [](int, std::int64_t, std::int64_t) {}, walk));
        EXPECT_TRUE(ProgressBands(
            10, threads, [](int, std::int64_t, std::int64_t) {}, walk, 90));
        FilterProgress(psEnd, 0);
        ASSERT_EQ(reported.size(), 101u) << threads;
        for (int i = 0; i < 101; ++i)
            EXPECT_EQ(reported[static_cast<std::size_t>(i)], i) << threads;
        OnProgress = {};
        SetProgressClock({});
        ProgressDelay = 12;
        ProgressInterval = 3;
    }
}

TEST_F(ParallelTest, ProgressBandsStopsEveryBandAndSurvivesAThrowingBand)
{
    SetThreadCount(2);
    ProgressAborted = true;  // every step call answers false
    std::atomic<int> steps{0};
    EXPECT_FALSE(ProgressBands(
        1000, 2, [](int, std::int64_t, std::int64_t) {},
        [&](int, std::int64_t first, std::int64_t last, TStepGate& gate) {
            for (std::int64_t i = first; i < last && gate.Step(); ++i) {
                ++steps;
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        }));
    ProgressAborted = false;
    // Only the worker band may have started a few steps before it saw the stop.
    EXPECT_LT(steps.load(), 100);
    // A band that throws neither hangs the calling thread nor loses the exception.
    EXPECT_THROW(ProgressBands(
                     10, 2, [](int, std::int64_t, std::int64_t) {},
                     [](int band, std::int64_t, std::int64_t, TStepGate& gate) {
                         gate.Step();
                         if (band == 1)
                             throw std::runtime_error("band");
                     }),
                 std::runtime_error);
}
