#pragma once

// Peak heap use of a stretch of a benchmark. Linking BenchMemory.cpp replaces every form of
// operator new and delete of the executable with counting ones, so the figures include the
// library's scratch images, row copies and the thread pool's tasks.

#include <cstdint>

#include "core/RowMemory.h"

namespace lumivex::bench {

/// Starts a measurement: the peak is brought down to what is live now, which is returned.
std::int64_t StartPeak();
/// The most bytes held beyond baseline since StartPeak answered it.
std::int64_t PeakSince(std::int64_t baseline);

/// The same for the resident memory of the whole process, which also sees what libraries take
/// with malloc or mmap (FreeImage's buffers, the codecs'): resets the kernel's high-water mark
/// and answers the bytes resident now. 0 where the kernel offers neither.
std::int64_t StartResidentPeak();
/// The most bytes resident beyond baseline since StartResidentPeak answered it.
std::int64_t ResidentPeakSince(std::int64_t baseline);

/// The most heap one run of op holds beyond what was live before it (resident: the process's
/// resident memory instead). The block kept for the next large image is freed first, so that op's
/// new images count whether or not they would have reused it; so call it outside the timed runs,
/// which should see the memory as the editor does.
template <typename TOp>
std::int64_t PeakOf(TOp op, bool resident = false)
{
    ReleaseKeptRowBlock();
    const std::int64_t baseline = resident ? StartResidentPeak() : StartPeak();
    op();
    return resident ? ResidentPeakSince(baseline) : PeakSince(baseline);
}

}  // namespace lumivex::bench
