// The BMP reader on arbitrary bytes: it must refuse or decode without reading or writing past a
// buffer, and whatever it accepts must respect the size limits. No size filter here: the reader's
// own checks are what keep the allocation bounded (at most 2^28 RLE pixels from a 1 MiB input).
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/BmpFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 20))
        return 0;
    const std::span<const std::uint8_t> input(data, size);
    std::string error;
    std::int32_t width = 0;
    std::int32_t height = 0;
    int bitsPerPixel = 0;
    const bool headerOk = lumivex::ReadBmpHeader(input, width, height, bitsPerPixel, error);

    lumivex::TBitmap bitmap;
    if (lumivex::LoadBmpFromMemory(input, bitmap, error)) {
        // A file that loads has a valid header of the same size.
        if (!headerOk || bitmap.Width() != width || bitmap.Height() != height || width <= 0 ||
            height <= 0 || width > lumivex::MaxBmpSide || height > lumivex::MaxBmpSide)
            __builtin_trap();
    } else if (error.empty()) {
        __builtin_trap();
    }
    return 0;
}
