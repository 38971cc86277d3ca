#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "core/Parallel.h"
#include "core/Progress.h"

namespace lumivex::test {

/// A fixture for tests that touch the global progress and thread state: each test leaves it as
/// it found it.
class TProgressTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        ProgressAborted = false;
        OnProgress = {};
        SetProgressClock({});
        ProgressDelay = 12;
        ProgressInterval = 3;
        SetThreadCount(0);
    }

    /// Every step call that changes the percentage reaches OnProgress: no delay, no interval,
    /// and a clock that moves a second per reading.
    void ReportEveryStep()
    {
        SetProgressClock([this] { return std::chrono::seconds(++m_ticks); });
        ProgressDelay = 0;
        ProgressInterval = 0;
    }

    /// Records the percentage of every step call in m_steps; the step that reaches abortAfter
    /// sets ProgressAborted, so the next step call refuses.
    void RecordSteps(int abortAfter = -1)
    {
        ReportEveryStep();
        m_steps.clear();
        OnProgress = [this, abortAfter](int stage, int percentage, int) {
            if (stage == psStep) {
                m_steps.push_back(percentage);
                if (percentage == abortAfter)
                    ProgressAborted = true;
            }
        };
    }

    /// What the operation protocol does after a refused operation.
    static void EndAbort()
    {
        ProgressAborted = false;
        if (IsProgressBusy())
            FilterProgress(psEnd, 0);
    }

    std::vector<int> m_steps;

private:
    std::int64_t m_ticks = 0;
};

}  // namespace lumivex::test
