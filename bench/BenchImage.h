#pragma once

#include <cmath>
#include <cstdint>

#include "core/BmpHdr.h"

namespace lumivex::bench {

/// A deterministic HDR-like picture: smooth gradients with a bright spot, values 0..~40.
inline void MakeBenchImage(TBmpHdr& image, std::int64_t width, std::int64_t height)
{
    image.SetSize(width, height, clNoneHdr);
    for (std::int64_t y = 0; y < height; ++y) {
        TRawHdr& row = image.Pixels[static_cast<std::size_t>(y)];
        for (std::int64_t x = 0; x < width; ++x) {
            const float u = static_cast<float>(x) / static_cast<float>(width);
            const float v = static_cast<float>(y) / static_cast<float>(height);
            const float d = (u - 0.7f) * (u - 0.7f) + (v - 0.3f) * (v - 0.3f);
            const float spot = 40.0f * std::exp(-d * 200.0f);
            row[static_cast<std::size_t>(x)] =
                ColorHdr(u + spot, 0.5f * v + spot, 0.25f + 0.5f * u * v + spot, 1.0f);
        }
    }
}

}  // namespace lumivex::bench
