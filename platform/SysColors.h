#pragma once

#include <cstdint>

namespace lumivex {

/// A colour value as the original stored it: $00BBGGRR, or a negative value whose low byte is
/// the index of a system colour.
using TColor = std::int32_t;

constexpr TColor SystemColorFlag = static_cast<TColor>(0xFF000000u);

// The system colours the program uses (indices of the original platform).
constexpr int ColorWindow = 5;
constexpr int ColorWindowText = 8;
constexpr int ColorHighlight = 13;
constexpr int ColorHighlightText = 14;
constexpr int ColorBtnFace = 15;
constexpr int ColorBtnShadow = 16;
constexpr int ColorGrayText = 17;
constexpr int ColorBtnText = 18;
constexpr int ColorBtnHighlight = 20;
constexpr int Color3DDkShadow = 21;
constexpr int Color3DLight = 22;

/// The colour of a system-colour index: fixed defaults until the GUI sets them from its palette;
/// unknown indices give black.
TColor GetSysColor(int index);
/// Lets the GUI feed the table from its palette; unknown indices are ignored.
void SetSysColor(int index, TColor color);

}  // namespace lumivex
