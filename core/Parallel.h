#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace lumivex {

/// Number of threads whole-image work may use; 1 runs everything on the calling thread.
int ThreadCount();
/// Values below 1 select all cores.
void SetThreadCount(int count);

/// How many bands ParallelBands would cut `items` into, given a minimum band size.
int BandCount(std::int64_t items, std::int64_t minItemsPerBand);

/// Cuts [begin, end) into `bands` contiguous bands and runs body(band, bandBegin, bandEnd) for
/// each, band 0 on the calling thread. Bands are fixed by their count alone, so a reduction that
/// combines per-band results in band order gives the same answer for any thread count.
/// An exception thrown by a band is rethrown on the calling thread after all bands finished.
void ParallelBands(
    int bands, std::int64_t begin, std::int64_t end,
    const std::function<void(int band, std::int64_t first, std::int64_t last)>& body);

/// ParallelBands over rows with a band count chosen from ThreadCount().
void ParallelRows(std::int64_t begin, std::int64_t end,
                  const std::function<void(std::int64_t first, std::int64_t last)>& body,
                  std::int64_t minRowsPerBand = 16);

/// First item of `band` when [0, count) is cut into `bands` bands as ParallelBands cuts it.
std::int64_t BandBegin(std::int64_t count, int bands, int band);

struct TStepShared;

/// The step calls of one band of ProgressBands. The body calls Step() before each step of its
/// band, in order; after a true answer it must finish that step.
class TStepGate {
public:
    TStepGate(TStepShared& shared, bool reporter) : m_shared(shared), m_reporter(reporter) {}
    /// False when the walk must stop (a step call answered false); the step is then not started.
    bool Step();
    /// Makes the step calls that completed steps allow (calling thread only).
    bool CatchUp();
    /// Counts the step this band started last as done.
    void FinishLast();

private:
    TStepShared& m_shared;
    bool m_reporter;
    bool m_started = false;
};

/// Walks [0, count) in `bands` contiguous bands, band 0 on the calling thread. prepare(band,
/// first, last) runs for every band on the calling thread before any body starts (so a band can
/// copy what its neighbours will overwrite). The calling thread makes the FilterProgress step call
/// for step k once k steps are done, so with one band it comes right before step k, as in a plain
/// loop. A false answer stops every band before its next step. Returns false when stopped.
/// Step k is reported as firstStep + k, so one progress run can span several walks.
bool ProgressBands(
    std::int64_t count, int bands,
    const std::function<void(int band, std::int64_t first, std::int64_t last)>& prepare,
    const std::function<void(int band, std::int64_t first, std::int64_t last, TStepGate& gate)>&
        body,
    std::int64_t firstStep = 0);

}  // namespace lumivex
