#include "platform/SysColors.h"

#include <array>
#include <atomic>

namespace lumivex {
namespace {

constexpr int TableSize = 32;

// Defaults are the classic light desktop scheme, so a program without a GUI still draws sensibly.
// -1 marks an index the program does not use.
struct TSysColorTable {
    std::array<std::atomic<TColor>, TableSize> Colors;

    TSysColorTable()
    {
        for (auto& c : Colors)
            c.store(-1);
        Colors[ColorWindow].store(0xFFFFFF);
        Colors[ColorWindowText].store(0x000000);
        Colors[ColorHighlight].store(0xD77800);
        Colors[ColorHighlightText].store(0xFFFFFF);
        Colors[ColorBtnFace].store(0xF0F0F0);
        Colors[ColorBtnShadow].store(0xA0A0A0);
        Colors[ColorGrayText].store(0x6D6D6D);
        Colors[ColorBtnText].store(0x000000);
        Colors[ColorBtnHighlight].store(0xFFFFFF);
        Colors[Color3DDkShadow].store(0x696969);
        Colors[Color3DLight].store(0xE3E3E3);
    }
};

std::array<std::atomic<TColor>, TableSize>& Table()
{
    static TSysColorTable table;
    return table.Colors;
}

}  // namespace

TColor GetSysColor(int index)
{
    if (index < 0 || index >= TableSize)
        return 0;
    const TColor c = Table()[static_cast<std::size_t>(index)].load();
    return c < 0 ? 0 : c;
}

void SetSysColor(int index, TColor color)
{
    if (index < 0 || index >= TableSize || color < 0 ||
        Table()[static_cast<std::size_t>(index)].load() < 0)
        return;
    Table()[static_cast<std::size_t>(index)].store(color & 0xFFFFFF);
}

}  // namespace lumivex
