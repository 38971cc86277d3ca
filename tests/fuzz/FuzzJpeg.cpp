// The JPEG reader on arbitrary bytes: libjpeg errors must come back as false with a message,
// never as an exit or a jump into freed frames.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/JpegFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 20))
        return 0;
    const std::span<const std::uint8_t> input(data, size);
    std::string error;
    lumivex::TJpegInfo header;
    if (!lumivex::ReadJpegHeader(input, header, error)) {
        if (error.empty())
            __builtin_trap();
        return 0;
    }
    // A few header bytes can claim 65500 x 65500 and libjpeg would pad the missing data with
    // warnings; decoding such canvases only measures memset speed, so they are skipped here.
    if (static_cast<std::uint64_t>(header.Width) * static_cast<std::uint64_t>(header.Height) >
        (std::uint64_t{1} << 22))
        return 0;
    lumivex::TBitmap bitmap;
    lumivex::TJpegInfo info;
    if (lumivex::LoadJpegFromMemory(input, bitmap, &info, error)) {
        if (bitmap.Width() != header.Width || bitmap.Height() != header.Height)
            __builtin_trap();
    } else if (error.empty()) {
        __builtin_trap();
    }
    return 0;
}
