// Our Radiance reader on arbitrary bytes, and the writer on arbitrary floats. The reader must
// refuse or decode without reading or writing past a buffer, and name the reason when it refuses
// data. The writer's file must read back as the RGBE bytes of every pixel, whatever runs the
// values make.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzFiles.h"
#include "core/BmpHdr.h"
#include "io/FileStatus.h"
#include "io/RadianceHdr.h"

namespace {

void Read(const std::string& name)
{
    lumivex::TRadianceReader reader;
    if (!reader.Open(name))
        return;
    // The reader takes any declared size; the loader's own checks bound the memory, so here a
    // size is simply not decoded past a few megapixels.
    const std::int64_t pixels = std::int64_t{reader.Width()} * reader.Height();
    if (reader.Width() <= 0 || reader.Height() <= 0)
        __builtin_trap();
    if (pixels > (std::int64_t{1} << 18))
        return;
    std::vector<std::uint8_t> rgbe(static_cast<std::size_t>(pixels) * 4);
    std::int32_t lines = 0;
    lumivex::ClearFileStatus();
    if (reader.ReadLines(rgbe.data(), [&](std::int32_t y) {
            if (y != lines++)
                __builtin_trap();
        })) {
        if (lines != reader.Height())
            __builtin_trap();
    } else if (lumivex::LastFileStatus().Code != lumivex::TFileErrorCode::feCorrupt) {
        __builtin_trap();
    }
}

// Width from the first byte (1..64, so both flat and run-length lines), the rest as floats. A
// save waits for the disk, so only inputs with bit 7 of that byte make one: the others keep the
// reader fast.
void RoundTrip(const std::uint8_t* data, std::size_t size)
{
    if (size < 1 + 4 * 3 || (data[0] & 0x80) == 0)
        return;
    const std::int32_t width = 1 + data[0] % 64;
    const std::size_t floats = (size - 1) / 4;
    const auto height = static_cast<std::int32_t>(floats / 3 / static_cast<std::size_t>(width));
    if (height == 0)
        return;
    lumivex::TBmpHdr image;
    image.SetSize(width, height, lumivex::clNoneHdr);
    const std::uint8_t* p = data + 1;
    for (auto& row : image.Pixels)
        for (auto& px : row) {
            std::memcpy(&px.R, p, 4);
            std::memcpy(&px.G, p + 4, 4);
            std::memcpy(&px.B, p + 8, 4);
            p += 12;
        }
    const std::string name = fuzz::Folder() + "/out.hdr";
    if (!lumivex::SaveRadiance(name, &image, 1.0f))
        __builtin_trap();
    lumivex::TRadianceReader reader;
    if (!reader.Open(name) || reader.Width() != width || reader.Height() != height)
        __builtin_trap();
    std::vector<std::uint8_t> rgbe(reader.LineBytes() * static_cast<std::size_t>(height));
    if (!reader.ReadLines(rgbe.data(), [](std::int32_t) {}))
        __builtin_trap();
    const auto positive = [](float v) { return v > 0.0f ? v : 0.0f; };
    const std::uint8_t* q = rgbe.data();
    for (const auto& row : image.Pixels)
        for (const auto& px : row) {
            std::uint8_t expected[4];
            lumivex::FloatToRgbe(positive(px.R), positive(px.G), positive(px.B), expected);
            if (std::memcmp(expected, q, 4) != 0)
                __builtin_trap();
            q += 4;
        }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (fuzz::Folder().empty())
        fuzz::MakeFolder("lumivex-radiance-");
    const std::string name = fuzz::Folder() + "/in.hdr";
    if (size > (1u << 20) || !fuzz::WriteFile(name, data, size))
        return 0;
    Read(name);
    RoundTrip(data, size);
    return 0;
}
