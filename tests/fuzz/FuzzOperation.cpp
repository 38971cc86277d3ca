// Operation words of the command line on arbitrary text: a word either parses into values inside
// the table's ranges or is refused with a message; a parsed operation runs on a small image
// holding NaN, infinities and values outside 0..1 without touching memory it does not own.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include "cli/Operations.h"
#include "core/Parallel.h"

namespace {

lumivex::TBmpHdr SmallImage()
{
    constexpr float Specials[] = {std::numeric_limits<float>::quiet_NaN(),
                                  std::numeric_limits<float>::infinity(),
                                  -2.5f,
                                  0.0f,
                                  0.5f,
                                  1.0f,
                                  7.0f};
    lumivex::TBmpHdr image;
    image.SetSize(9, 7, lumivex::clNoneHdr);
    int i = 0;
    for (auto& row : image.Pixels)
        for (lumivex::TColorHdr& p : row) {
            p = lumivex::TColorHdr{Specials[i % 7], Specials[(i + 2) % 7], Specials[(i + 5) % 7],
                                   Specials[(i + 3) % 7]};
            ++i;
        }
    return image;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    lumivex::SetThreadCount(2);  // bands meet at row borders even on a one-core machine
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 512)
        return 0;
    const std::string word(reinterpret_cast<const char*>(data), size);
    lumivex::TOperation op;
    try {
        op = lumivex::ParseOperation(word);
    } catch (const std::invalid_argument& e) {
        if (std::string(e.what()).empty())
            __builtin_trap();
        return 0;
    }
    if (op.Def == nullptr)
        __builtin_trap();
    for (const lumivex::TParamDef& p : op.Def->Params) {
        const auto found = op.Args.Values.find(p.Key);
        if (found == op.Args.Values.end() || found->second.size() != p.Default.size())
            __builtin_trap();
        for (const double v : found->second) {
            const bool none = p.Type == lumivex::TParamType::ptColorOrNone && v == -1.0;
            if (!none && (!(v >= p.Min) || !(v <= p.Max)))
                __builtin_trap();
        }
    }
    // A resize to 65535 x 65535 is legal and only measures the allocator.
    if (op.Def->Name == "resize" &&
        op.Args.I("newwidth") * static_cast<std::int64_t>(op.Args.I("newheight")) > (1 << 16))
        return 0;
    lumivex::TBmpHdr image = SmallImage();
    op.Def->Run(image, op.Args);
    if (image.Pixels.size() != image.Height())
        __builtin_trap();
    for (const auto& row : image.Pixels)
        if (row.size() != image.Width())
            __builtin_trap();
    return 0;
}
