#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace lumivex {

// Progress of long operations. One operation runs at a time, so the state is global; every call
// is made from the thread that started the operation, never from worker bands.

enum TProgressStage : std::uint8_t { psStart = 0, psStep = 1, psEnd = 2 };

/// stage 0 start, 1 step, 2 end; percentage 0..100; tag as set in ProgressTag.
using TProgressEvent = std::function<void(int stage, int percentage, int tag)>;
/// A monotonic clock, so a change of the wall clock can neither stall nor spray reports.
using TProgressClock = std::function<std::chrono::nanoseconds()>;

/// When true, every progress call answers false at once (the operation stops).
extern bool ProgressAborted;
/// Minimum time between two reports, in tenths of a second.
extern std::int32_t ProgressInterval;
/// Time after the start before the first report, in tenths of a second.
extern std::int32_t ProgressDelay;
extern std::int32_t ProgressTotal;
extern std::int32_t ProgressTag;
extern TProgressEvent OnProgress;

/// Start (value = number of steps), step (value = 0-based index of the step about to run) or
/// end. Answers whether the operation may go on.
bool FilterProgress(std::uint8_t stage, std::int32_t value);
bool IsProgressBusy();

/// Replaces the clock (tests); an empty function restores the steady clock.
void SetProgressClock(TProgressClock clock);

}  // namespace lumivex
