#pragma once

// Unfiltered copies of the rows that one band of an in-place neighbourhood pass reads.
//
// A pass that writes row y in place still needs rows y - reach .. y + reach as they were. Rows of
// the band itself are copied just before the pass overwrites them; rows of the neighbouring bands
// (which other threads overwrite) are copied when the window is made, which must happen for every
// band before any band writes. Row indices outside the region repeat its first or last row, and
// every copy is padded with `pad` repeated edge pixels on both sides, so kernels never clamp.

#include <cstdint>
#include <vector>

#include "core/BmpHdr.h"

namespace lumivex {

class TRowWindow {
public:
    /// region: the clipped rectangle; [first, last): the rows this band writes; group: how many
    /// consecutive rows Advance makes available at once.
    TRowWindow(const TBmpHdr& image, TRect region, std::int32_t first, std::int32_t last,
               std::int32_t reach, std::int32_t pad, std::int32_t group = 1);

    /// Makes rows y - reach .. y + group - 1 + reach readable. Call with increasing y, starting at
    /// the band's first row, before any of rows y .. y + group - 1 is written.
    void Advance(std::int32_t y);

    /// Row k (clamped into the region) as it was before the pass; index 0 is the region's left
    /// column and indices -pad .. width - 1 + pad are valid.
    const TColorHdr* Row(std::int32_t k) const;

    std::int32_t Width() const { return m_width; }
    /// Bytes held, for the memory figures of the benchmarks.
    std::int64_t HeldBytes() const;

private:
    void Load(std::int32_t k);
    std::vector<TColorHdr>& Slot(std::int32_t k);

    const TBmpHdr& m_image;
    TRect m_region;
    std::int32_t m_first;
    std::int32_t m_last;
    std::int32_t m_reach;
    std::int32_t m_pad;
    std::int32_t m_group;
    std::int32_t m_width;
    std::int32_t m_loadedTo;  // last row copied into the ring
    std::vector<std::vector<TColorHdr>> m_ring;
    std::vector<std::vector<TColorHdr>> m_below;  // rows last .. last + reach - 1, other bands'
};

}  // namespace lumivex
