#pragma once

#include <cstring>

#include "core/BmpHdr.h"

namespace lumivex::test {

/// Byte-wise equality of two images, so NaN payloads and the sign of zero count.
inline bool SameBits(const TBmpHdr& a, const TBmpHdr& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.Pixels.size() != b.Pixels.size())
        return false;
    for (std::size_t y = 0; y < a.Pixels.size(); ++y) {
        if (a.Pixels[y].size() != b.Pixels[y].size() ||
            std::memcmp(a.Pixels[y].data(), b.Pixels[y].data(),
                        a.Pixels[y].size() * sizeof(TColorHdr)) != 0)
            return false;
    }
    return true;
}

/// Byte-wise equality of two floats.
inline bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace lumivex::test
