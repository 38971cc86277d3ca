// Row conversion from every FreeImage layout: the first byte picks the layout, the rest is one
// scan line. The conversion must never read past the line it is given.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "io/FreeHdr.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1 || size > (1u << 20))
        return 0;
    using lumivex::TFreeLayout;
    static constexpr struct {
        TFreeLayout Layout;
        std::size_t Bytes;
    } Layouts[] = {{TFreeLayout::flBitmap24, 3}, {TFreeLayout::flBitmap32, 4},
                   {TFreeLayout::flFloat, 4},    {TFreeLayout::flRGB16, 6},
                   {TFreeLayout::flRGBA16, 8},   {TFreeLayout::flRGBF, 12},
                   {TFreeLayout::flRGBAF, 16},   {TFreeLayout::flNone, 1}};
    const auto& pick = Layouts[data[0] % (sizeof Layouts / sizeof Layouts[0])];
    // An exact-size copy, so the sanitizer sees any read past the line.
    const std::vector<std::uint8_t> line(data + 1, data + size);
    const std::size_t width = line.size() / pick.Bytes;
    std::vector<lumivex::TColorHdr> row(width);
    lumivex::ConvertFreeRow(pick.Layout, line.data(), row.data(), width);
    return 0;
}
