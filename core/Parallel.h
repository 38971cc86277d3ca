#pragma once

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

}  // namespace lumivex
