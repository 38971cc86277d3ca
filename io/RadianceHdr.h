#pragma once

// Radiance RGBE pictures read and written on our own: FreeImage's codec reads and writes them a
// byte at a time through stdio on one thread, which took most of the time of opening or saving a
// large .hdr file. Both sides give exactly what FreeImage's codec gives: the same pixels from
// the same file, and the same scan line bytes for the same image, so files written before and
// after are interchangeable. Headers this reader does not take for certain (another orientation,
// a missing format line, odd sizes) are left to FreeImage.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/BmpHdr.h"

namespace lumivex {

/// A Radiance file opened for reading, header parsed.
class TRadianceReader {
public:
    TRadianceReader();
    ~TRadianceReader();
    TRadianceReader(const TRadianceReader&) = delete;
    TRadianceReader& operator=(const TRadianceReader&) = delete;

    /// True when the file is a Radiance picture whose header this reader takes: "#?" first,
    /// the RLE RGBE format line, scan lines top to bottom ("-Y height +X width"). False, with
    /// no status set, for anything else.
    bool Open(const std::string& fileName);
    std::int32_t Width() const { return m_width; }
    std::int32_t Height() const { return m_height; }

    /// Decodes the scan lines, top first, into `rgbe`: R, G, B and exponent bytes per pixel,
    /// `Width() * 4` bytes per line. Calls onLine(y) after line y. False with the file status
    /// set when the data is broken or cut short; lines before the fault are filled.
    template <typename TOnLine>
    bool ReadLines(std::uint8_t* rgbe, TOnLine onLine)
    {
        for (std::int32_t y = 0; y < m_height; ++y) {
            if (!ReadLine(rgbe + static_cast<std::size_t>(y) * LineBytes()))
                return false;
            onLine(y);
        }
        return true;
    }

    std::size_t LineBytes() const { return static_cast<std::size_t>(m_width) * 4; }

private:
    struct TInput;
    bool ReadLine(std::uint8_t* line);
    bool ReadFlat(std::uint8_t* line, std::int32_t pixels);

    std::unique_ptr<TInput> m_in;
    std::int32_t m_width = 0;
    std::int32_t m_height = 0;
    std::unique_ptr<std::uint8_t[]> m_planes;  // one encoded line, channel after channel
};

/// The pixels of `width` RGBE quadruples as FreeImage decodes them: mantissa * 2^(e - 136),
/// 0 for a zero exponent, opaque.
void RgbeRowToHdr(const std::uint8_t* rgbe, TColorHdr* row, std::size_t width);

/// One pixel's RGBE bytes from non-negative components, with FreeImage's arithmetic.
void FloatToRgbe(float red, float green, float blue, std::uint8_t rgbe[4]);

/// Writes the image as an RLE Radiance file through a temporary file beside it. Values are
/// raised to `gamma` first (PowerHdr), then negatives and NaN become 0; alpha is dropped.
/// False with the file status set on failure, the target untouched.
bool SaveRadiance(const std::string& fileName, const TBmpHdr* image, float gamma);

}  // namespace lumivex
