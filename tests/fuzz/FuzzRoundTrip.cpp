// Load then save through the path without FreeImage, on arbitrary bytes written to a file: what
// loads saves, a BMP saved from it loads back with the same size and the same bytes, a JPEG
// with the same size. Files go to a private temporary folder.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>

#include "FuzzFiles.h"
#include "core/BmpHdr.h"
#include "io/FileStatus.h"
#include "io/FreeHdr.h"
#include "io/PlatformHdr.h"
#include "platform/BmpFile.h"
#include "platform/JpegFile.h"

namespace {

// The decoded size, or false when the header alone is refused or the canvas would take long.
bool SmallEnough(std::span<const std::uint8_t> input, bool jpeg)
{
    std::string error;
    std::int32_t width = 0;
    std::int32_t height = 0;
    if (jpeg) {
        lumivex::TJpegInfo info;
        if (!lumivex::ReadJpegHeader(input, info, error))
            return true;  // refused early: the load must fail cleanly
        width = info.Width;
        height = info.Height;
    } else {
        int bitsPerPixel = 0;
        if (!lumivex::ReadBmpHeader(input, width, height, bitsPerPixel, error))
            return true;
    }
    return static_cast<std::int64_t>(width) * height <= (1 << 20);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::MakeFolder("lumivex-fuzzsave-");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2 || size > (1u << 20))
        return 0;
    // The name decides the decoder on this path: BMP for the BMP signature, else JPEG.
    const bool jpeg = !(data[0] == 'B' && data[1] == 'M');
    const std::span<const std::uint8_t> input(data, size);
    if (!SmallEnough(input, jpeg))
        return 0;
    const std::string source = fuzz::Folder() + (jpeg ? "/in.jpg" : "/in.bmp");
    if (!fuzz::WriteFile(source, data, size))
        std::abort();
    lumivex::TBmpHdr image;
    lumivex::TImageInfo info;
    if (!lumivex::LoadPlatformHdr(source, &image, info)) {
        if (!image.IsEmpty() || lumivex::LastFileStatus().Message.empty())
            __builtin_trap();
        return 0;
    }
    const std::string bmp = fuzz::Folder() + "/out.bmp";
    const std::string jpg = fuzz::Folder() + "/out.jpg";
    info.JpegFlags = 75;
    if (!lumivex::SaveAsBmp(bmp, &image, info) || !lumivex::SaveAsJpegPlatform(jpg, &image, info))
        __builtin_trap();
    lumivex::TBmpHdr again;
    lumivex::TImageInfo againInfo;
    if (!lumivex::LoadPlatformHdr(bmp, &again, againInfo) || again.Width() != image.Width() ||
        again.Height() != image.Height())
        __builtin_trap();
    // Loaded bytes / 255 become the same bytes again: the BMP round trip is exact.
    for (std::size_t y = 0; y < image.Pixels.size(); ++y)
        for (std::size_t x = 0; x < image.Pixels[y].size(); ++x) {
            const lumivex::TColorHdr& a = image.Pixels[y][x];
            const lumivex::TColorHdr& b = again.Pixels[y][x];
            if (a.B != b.B || a.G != b.G || a.R != b.R || b.A != 1.0f)
                __builtin_trap();
        }
    if (!lumivex::LoadPlatformHdr(jpg, &again, againInfo) || again.Width() != image.Width() ||
        again.Height() != image.Height())
        __builtin_trap();
    return 0;
}
