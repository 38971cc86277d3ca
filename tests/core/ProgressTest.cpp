#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "core/Progress.h"

using namespace lumivex;

namespace {

struct TReport {
    int Stage;
    int Percentage;
    int Tag;
    std::int64_t Ms;  // fake time of the call
    friend bool operator==(const TReport& a, const TReport& b)
    {
        return a.Stage == b.Stage && a.Percentage == b.Percentage && a.Tag == b.Tag && a.Ms == b.Ms;
    }
};

std::ostream& operator<<(std::ostream& out, const TReport& r)
{
    return out << "(" << r.Stage << ", " << r.Percentage << ", " << r.Tag << " at " << r.Ms
               << " ms)";
}

// A fake clock in milliseconds and a recording callback; the globals go back to their defaults
// afterwards, so no test leaks its setup into another.
class ProgressTest : public testing::Test {
protected:
    void SetUp() override
    {
        SetProgressClock([this] { return std::chrono::milliseconds(m_ms); });
        OnProgress = [this](int stage, int percentage, int tag) {
            m_reports.push_back(TReport{stage, percentage, tag, m_ms});
        };
    }

    void TearDown() override
    {
        OnProgress = {};
        ProgressAborted = false;
        if (IsProgressBusy())
            FilterProgress(psEnd, 0);
        SetProgressClock({});
        ProgressInterval = 3;
        ProgressDelay = 12;
        ProgressTag = 0;
        ProgressTotal = 1;
    }

    bool At(std::int64_t ms, std::uint8_t stage, std::int32_t value)
    {
        m_ms = ms;
        return FilterProgress(stage, value);
    }

    std::int64_t m_ms = 0;
    std::vector<TReport> m_reports;
};

}  // namespace

TEST_F(ProgressTest, AFastOperationReportsOnlyItsStartAndEnd)
{
    ProgressTag = 42;
    EXPECT_TRUE(At(0, psStart, 1000));
    EXPECT_EQ(ProgressTotal, 1000);
    EXPECT_TRUE(IsProgressBusy());
    for (int i = 0; i < 1000; ++i)
        EXPECT_TRUE(At(i, psStep, i));  // 1 s, under the 1.2 s delay
    EXPECT_TRUE(At(1000, psEnd, 0));
    EXPECT_FALSE(IsProgressBusy());
    // Still waiting at the end, so no 100 either.
    const std::vector<TReport> expected{{0, 0, 42, 0}, {2, 0, 42, 1000}};
    EXPECT_EQ(m_reports, expected);
}

TEST_F(ProgressTest, ALongOperationReportsAfterTheDelayAtIntervals)
{
    // 1250 steps of 4 ms: 5 s. Elapsed tenths are rounded, so the delay of 12 tenths ends at
    // 1152 ms (11.52 -> 12; 1148 ms gives 11), and a report follows the previous one once
    // 0.252 s have passed (2.52 -> 3; 0.248 s gives 2). Reports at 1152 + 252 k ms, the
    // percentage t / 4 / 1250 x 100 = t / 50 rounded.
    EXPECT_TRUE(At(0, psStart, 1250));
    for (int i = 0; i < 1250; ++i)
        EXPECT_TRUE(At(4 * i, psStep, i));
    EXPECT_TRUE(At(5000, psEnd, 0));

    const int percentages[] = {23, 28, 33, 38, 43, 48, 53, 58, 63, 68, 73, 78, 84, 89, 94, 99};
    std::vector<TReport> expected{{0, 0, 0, 0}};
    std::int64_t t = 1152;
    for (const int p : percentages) {
        expected.push_back(TReport{1, p, 0, t});
        t += 252;
    }
    expected.push_back(TReport{1, 100, 0, 5000});
    expected.push_back(TReport{2, 0, 0, 5000});
    ASSERT_EQ(m_reports, expected);

    // The properties behind the numbers.
    EXPECT_GE(m_reports[1].Ms, 1150);  // not before the delay less the half tenth of rounding
    for (std::size_t i = 2; i + 2 < m_reports.size(); ++i) {
        EXPECT_GT(m_reports[i].Ms - m_reports[i - 1].Ms, 250) << i;
        EXPECT_GT(m_reports[i].Percentage, m_reports[i - 1].Percentage) << i;
    }
}

TEST_F(ProgressTest, RoundsElapsedTenthsHalfToEven)
{
    // Delay 13: 1.25 s is 12.5 tenths -> 12, still waiting (half up would say 13); 1.35 s is
    // 13.5 -> 14.
    ProgressDelay = 13;
    At(0, psStart, 100);
    At(1250, psStep, 10);
    EXPECT_EQ(m_reports.size(), 1u);
    At(1350, psStep, 20);
    ASSERT_EQ(m_reports.size(), 2u);
    EXPECT_EQ(m_reports[1], (TReport{1, 20, 0, 1350}));

    // Interval 3: 0.25 s after the last report is 2.5 -> 2, too soon; 0.3 s is enough.
    At(1600, psStep, 30);
    EXPECT_EQ(m_reports.size(), 2u);
    At(1650, psStep, 40);
    ASSERT_EQ(m_reports.size(), 3u);
    EXPECT_EQ(m_reports[2], (TReport{1, 40, 0, 1650}));
}

TEST_F(ProgressTest, NeverRepeatsAPercentageButRestartsTheIntervalAnyway)
{
    At(0, psStart, 1000);
    At(1300, psStep, 500);   // 50
    At(1500, psStep, 500);   // 0.2 s: too soon
    At(1700, psStep, 504);   // 0.4 s: due, but 50.4 rounds to 50 again; the interval restarts
    At(1900, psStep, 600);   // 0.2 s after 1700: too soon, though 0.6 s after the last report
    At(2000, psStep, 600);   // 60
    At(2300, psStep, 2500);  // 250 % is limited to 100
    At(2600, psStep, -30);   // -3 % to 0
    At(2700, psEnd, 0);
    const std::vector<TReport> expected{{0, 0, 0, 0},      {1, 50, 0, 1300}, {1, 60, 0, 2000},
                                        {1, 100, 0, 2300}, {1, 0, 0, 2600},  {1, 100, 0, 2700},
                                        {2, 0, 0, 2700}};
    EXPECT_EQ(m_reports, expected);
}

TEST_F(ProgressTest, AnAbortedOperationAnswersFalseAndReportsNothing)
{
    ProgressAborted = true;
    EXPECT_FALSE(At(0, psStart, 10));
    EXPECT_FALSE(IsProgressBusy());
    EXPECT_FALSE(At(2000, psStep, 5));
    EXPECT_FALSE(At(3000, psEnd, 0));
    EXPECT_TRUE(m_reports.empty());

    // Aborted midway: the next calls stop, without an end report.
    ProgressAborted = false;
    EXPECT_TRUE(At(0, psStart, 10));
    EXPECT_TRUE(At(1300, psStep, 5));
    ProgressAborted = true;
    EXPECT_FALSE(At(2000, psStep, 8));
    EXPECT_FALSE(At(2100, psEnd, 0));
    const std::vector<TReport> expected{{0, 0, 0, 0}, {1, 50, 0, 1300}};
    EXPECT_EQ(m_reports, expected);
}

TEST_F(ProgressTest, AStartWithoutStepsCountsAsOneStep)
{
    EXPECT_TRUE(At(0, psStart, 0));
    EXPECT_EQ(ProgressTotal, 0);
    EXPECT_TRUE(At(1300, psStep, 0));  // 0 / 1
    EXPECT_TRUE(At(1600, psStep, 1));  // 1 / 1
    EXPECT_TRUE(At(1700, psEnd, 0));
    const std::vector<TReport> expected{
        {0, 0, 0, 0}, {1, 0, 0, 1300}, {1, 100, 0, 1600}, {1, 100, 0, 1700}, {2, 0, 0, 1700}};
    EXPECT_EQ(m_reports, expected);
}

TEST_F(ProgressTest, RunsWithoutACallback)
{
    const TProgressEvent record = OnProgress;
    OnProgress = {};
    EXPECT_TRUE(At(0, psStart, 10));
    EXPECT_TRUE(IsProgressBusy());
    EXPECT_TRUE(At(1300, psStep, 5));  // due: the interval restarts though nobody listens
    EXPECT_TRUE(m_reports.empty());

    // A callback set midway hears nothing until an interval has passed since that step.
    OnProgress = record;
    EXPECT_TRUE(At(1450, psStep, 6));
    EXPECT_TRUE(m_reports.empty());
    EXPECT_TRUE(At(1600, psStep, 7));
    OnProgress = {};
    EXPECT_TRUE(At(2000, psEnd, 0));
    EXPECT_FALSE(IsProgressBusy());
    const std::vector<TReport> expected{{1, 70, 0, 1600}};
    EXPECT_EQ(m_reports, expected);
}
