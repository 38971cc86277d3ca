#include "core/Progress.h"

#include <algorithm>
#include <cmath>

namespace lumivex {

bool ProgressAborted = false;
std::int32_t ProgressInterval = 3;
std::int32_t ProgressDelay = 12;
std::int32_t ProgressTotal = 1;
std::int32_t ProgressTag = 0;
TProgressEvent OnProgress;

namespace {

bool g_busy = false;
bool g_waiting = false;
int g_lastPercentage = -1;
std::chrono::nanoseconds g_startTime{0};
std::chrono::nanoseconds g_lastReport{0};

TProgressClock& Clock()
{
    static TProgressClock clock;
    return clock;
}

std::chrono::nanoseconds Now()
{
    if (Clock())
        return Clock()();
    return std::chrono::steady_clock::now().time_since_epoch();
}

std::int64_t TenthsSince(std::chrono::nanoseconds then)
{
    const double seconds = std::chrono::duration<double>(Now() - then).count();
    return static_cast<std::int64_t>(std::nearbyint(seconds * 10.0));
}

void Notify(int stage, int percentage)
{
    if (OnProgress)
        OnProgress(stage, percentage, ProgressTag);
}

}  // namespace

void SetProgressClock(TProgressClock clock) { Clock() = std::move(clock); }

bool IsProgressBusy() { return g_busy; }

bool FilterProgress(std::uint8_t stage, std::int32_t value)
{
    if (ProgressAborted)
        return false;
    switch (stage) {
        case psStart:
            ProgressTotal = value;
            Notify(psStart, 0);
            g_startTime = g_lastReport = Now();
            g_waiting = true;
            g_lastPercentage = -1;
            g_busy = true;
            break;
        case psStep: {
            // A start with no steps would divide by zero: count it as one step.
            const double fraction =
                static_cast<double>(value) / static_cast<double>(std::max(ProgressTotal, 1));
            if (g_waiting) {
                if (TenthsSince(g_startTime) < ProgressDelay)
                    return true;
                g_waiting = false;
            }
            if (TenthsSince(g_lastReport) >= ProgressInterval) {
                if (OnProgress) {
                    const int percentage =
                        static_cast<int>(std::clamp(std::nearbyint(fraction * 100.0), 0.0, 100.0));
                    if (percentage != g_lastPercentage) {
                        g_lastPercentage = percentage;
                        Notify(psStep, percentage);
                    }
                }
                g_lastReport = Now();
            }
            break;
        }
        case psEnd:
            g_busy = false;
            if (OnProgress) {
                if (!g_waiting)
                    Notify(psStep, 100);
                Notify(psEnd, 0);
            }
            break;
        default:
            break;
    }
    return true;
}

}  // namespace lumivex
