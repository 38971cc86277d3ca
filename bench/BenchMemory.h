#pragma once

// Peak heap use of a stretch of a benchmark. Linking BenchMemory.cpp replaces every form of
// operator new and delete of the executable with counting ones, so the figures include the
// library's scratch images, row copies and the thread pool's tasks.

#include <cstdint>

namespace lumivex::bench {

/// Starts a measurement: the peak is brought down to what is live now, which is returned.
std::int64_t StartPeak();
/// The most bytes held beyond baseline since StartPeak answered it.
std::int64_t PeakSince(std::int64_t baseline);

}  // namespace lumivex::bench
