#pragma once

// A pixel's four channels in one register, for the sampling loops of the geometry operations:
// lane by lane the same float operations as the scalar code.

#include <cstdint>
#include <cstring>

#include "core/BmpHdr.h"

namespace lumivex::geometry {

using TVec4 = float __attribute__((vector_size(16)));

using TVec4Bits = std::uint32_t __attribute__((vector_size(16)));

/// |v| lane by lane: the sign bit cleared, as std::fabs does.
inline TVec4 Abs(TVec4 v)
{
    return reinterpret_cast<TVec4>(reinterpret_cast<TVec4Bits>(v) & 0x7fffffffu);
}

inline TVec4 Load(const TColorHdr& p)
{
    TVec4 v;
    std::memcpy(&v, &p, sizeof v);
    return v;
}

/// ClampHdr lane by lane without leaving the register: 0 for values not above 0 (a compare
/// fails for NaN), 1 from 1 up.
inline TVec4 ClampLanes(TVec4 v)
{
    const TVec4 one{1.0f, 1.0f, 1.0f, 1.0f};
    const TVec4 zero{0.0f, 0.0f, 0.0f, 0.0f};
    const TVec4 top = v < one ? v : one;
    return v > zero ? top : zero;
}

inline TColorHdr ToColorHdr(TVec4 v) { return TColorHdr{v[0], v[1], v[2], v[3]}; }

inline TColorHdr Clamped(TVec4 v) { return ToColorHdr(ClampLanes(v)); }

}  // namespace lumivex::geometry
