#pragma once

// Lane-wise helpers of the per-pixel kernels: a block of four pixels is one vector of 16 lanes
// (B, G, R, A of each), floats widened to double exactly, so every lane rounds like the scalar
// definition. GCC vector types rather than plain loops: with trapping math it will not vectorise
// a compare and select itself. The vectors are wider than the machine's, so GCC issues each
// operation for the four pixels back to back and the long exp and log chains overlap.
//
// PowerLanes is e^(exponent ln base) without a call per value, in one of two ways. The plain one
// (series of 10 and 14 terms, no FMA) has log and exp accurate to far better than 2^-43 relative.
// The one of the AVX2 + FMA kernels (LogFma, ExpFma: 128-cell tables, six and five polynomial
// terms) has a log within 2^-48.5 relative (series cut 2^-49.8, five roundings of terms no larger
// than 3 |ln x|) and an exp within 2^-49 (series cut 2^-49.5, table and last rounding 2^-52);
// measured against glibc on 160 M values, 2^-50.4 and 2^-49.3. With the product's rounding the
// lane result is e^t (1 + d), |d| < |t| 2^-48.4 + 2^-49, and glibc's own log, product and exp
// leave |t| 2^-51.9 + 2^-52.9; for |t| < 87 the two doubles are fewer than 2^11.3 units in the
// last place apart (2^10 for the plain way). Only a double within 2^13 units of a point halfway
// between two floats could round to a different float; those lanes (about 3 in 100000), and
// every lane outside that range, go through std::exp and std::log, so the float result is
// always glibc's.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "core/BmpHdr.h"

namespace lumivex::detail {

inline constexpr std::size_t BlockPixels = 4;

// The helpers are inlined into the target_clones kernels of each unit, so the AVX argument
// convention they would have without AVX never crosses a call. (Only the adjust units include
// this header, so the ignored warning stays theirs.)
#pragma GCC diagnostic ignored "-Wpsabi"

using TPix = float __attribute__((vector_size(16)));
using TPixMask = std::int32_t __attribute__((vector_size(16)));
using TPixD = double __attribute__((vector_size(32)));
using TPixMaskD = std::int64_t __attribute__((vector_size(32)));

/// Four machine vectors, one per pixel of a block, used as one. Every operation runs on the four
/// back to back (GCC lowers wider vector types element by element where they select).
template <typename TNative>
struct TWide {
    TNative P[BlockPixels];

    // A setter rather than a reference: clang does not bind references to vector elements.
    template <typename T>
    [[gnu::always_inline]] void Set(int lane, T v)
    {
        P[lane / 4][lane % 4] = v;
    }
    [[gnu::always_inline]] auto operator[](int lane) const { return P[lane / 4][lane % 4]; }
};

template <typename TNative>
using TLaneOf = std::remove_cvref_t<decltype(std::declval<TNative>()[0])>;

/// The signed integer vector a compare of TNative gives (clang and GCC disagree on its spelling).
template <typename TNative>
struct TMaskFor;
template <>
struct TMaskFor<TPix> {
    using Type = TPixMask;
};
template <>
struct TMaskFor<TPixMask> {
    using Type = TPixMask;
};
template <>
struct TMaskFor<TPixD> {
    using Type = TPixMaskD;
};
template <>
struct TMaskFor<TPixMaskD> {
    using Type = TPixMaskD;
};
// Eight floats to a machine vector, for float-only kernels that use all of AVX.
using TPix8 = float __attribute__((vector_size(32)));
using TPixMask8 = std::int32_t __attribute__((vector_size(32)));
template <>
struct TMaskFor<TPix8> {
    using Type = TPixMask8;
};
template <>
struct TMaskFor<TPixMask8> {
    using Type = TPixMask8;
};
template <typename TNative>
using TMaskOf = typename TMaskFor<TNative>::Type;

/// What a lane-wise operation of vectors of A gives: arithmetic keeps the vector type its
/// expression has, compares give the one mask type of A's lane width.
template <typename A, typename TExpr>
using TArithmeticResult = TExpr;
template <typename A, typename TExpr>
using TCompareResult = TMaskOf<A>;

#define LUMIVEX_WIDE_OP(op, Result)                                                      \
    template <typename A, typename B>                                                    \
    [[gnu::always_inline]] inline auto operator op(const TWide<A>& a, const TWide<B>& b) \
    {                                                                                    \
        using R = Result<A, decltype(a.P[0] op b.P[0])>;                                 \
        TWide<R> r;                                                                      \
        for (std::size_t i = 0; i < BlockPixels; ++i)                                    \
            r.P[i] = R(a.P[i] op b.P[i]);                                                \
        return r;                                                                        \
    }                                                                                    \
    template <typename A, typename S>                                                    \
    requires std::is_arithmetic_v<S>                                                     \
    [[gnu::always_inline]] inline auto operator op(const TWide<A>& a, S b)               \
    {                                                                                    \
        const auto s = static_cast<TLaneOf<A>>(b);                                       \
        using R = Result<A, decltype(a.P[0] op s)>;                                      \
        TWide<R> r;                                                                      \
        for (std::size_t i = 0; i < BlockPixels; ++i)                                    \
            r.P[i] = R(a.P[i] op s);                                                     \
        return r;                                                                        \
    }                                                                                    \
    template <typename A, typename S>                                                    \
    requires std::is_arithmetic_v<S>                                                     \
    [[gnu::always_inline]] inline auto operator op(S a, const TWide<A>& b)               \
    {                                                                                    \
        const auto s = static_cast<TLaneOf<A>>(a);                                       \
        using R = Result<A, decltype(s op b.P[0])>;                                      \
        TWide<R> r;                                                                      \
        for (std::size_t i = 0; i < BlockPixels; ++i)                                    \
            r.P[i] = R(s op b.P[i]);                                                     \
        return r;                                                                        \
    }
LUMIVEX_WIDE_OP(+, TArithmeticResult)
LUMIVEX_WIDE_OP(-, TArithmeticResult)
LUMIVEX_WIDE_OP(*, TArithmeticResult)
LUMIVEX_WIDE_OP(/, TArithmeticResult)
LUMIVEX_WIDE_OP(&, TArithmeticResult)
LUMIVEX_WIDE_OP(|, TArithmeticResult)
LUMIVEX_WIDE_OP(<<, TArithmeticResult)
LUMIVEX_WIDE_OP(>>, TArithmeticResult)
LUMIVEX_WIDE_OP(<, TCompareResult)
LUMIVEX_WIDE_OP(>, TCompareResult)
LUMIVEX_WIDE_OP(<=, TCompareResult)
LUMIVEX_WIDE_OP(>=, TCompareResult)
LUMIVEX_WIDE_OP(==, TCompareResult)
#undef LUMIVEX_WIDE_OP

template <typename A>
[[gnu::always_inline]] inline TWide<A> operator~(const TWide<A>& a)
{
    TWide<A> r;
    for (std::size_t i = 0; i < BlockPixels; ++i)
        r.P[i] = ~a.P[i];
    return r;
}

using TVec = TWide<TPix>;
using TMask = TWide<TPixMask>;
using TVecD = TWide<TPixD>;
using TMaskD = TWide<TPixMaskD>;

using TVec8 = TWide<TPix8>;
using TMask8 = TWide<TPixMask8>;

/// mask ? a : b lane by lane.
template <typename M, typename V>
[[gnu::always_inline]] inline TWide<V> Select(const TWide<M>& mask, const TWide<V>& a,
                                              const TWide<V>& b)
{
    TWide<V> r;
    for (std::size_t i = 0; i < BlockPixels; ++i)
        r.P[i] = mask.P[i] ? a.P[i] : b.P[i];
    return r;
}

template <typename To, typename From>
[[gnu::always_inline]] inline TWide<To> Convert(const TWide<From>& a)
{
    TWide<To> r;
    for (std::size_t i = 0; i < BlockPixels; ++i)
        r.P[i] = __builtin_convertvector(a.P[i], To);
    return r;
}

/// B, G, R lanes set, alpha clear.
inline constexpr TMask ColourLanes = {
    {{-1, -1, -1, 0}, {-1, -1, -1, 0}, {-1, -1, -1, 0}, {-1, -1, -1, 0}}};

/// Every lane set.
inline constexpr TMask AllLanes = {
    {{-1, -1, -1, -1}, {-1, -1, -1, -1}, {-1, -1, -1, -1}, {-1, -1, -1, -1}}};

[[gnu::always_inline]] inline TVec LoadBlock(const TColorHdr* p)
{
    TVec v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

/// Writes B, G, R of v and keeps the pixels' alpha bits.
[[gnu::always_inline]] inline void StoreColour(TColorHdr* p, const TVec& v, const TVec& old)
{
    const TVec out = Select(ColourLanes, v, old);
    std::memcpy(static_cast<void*>(p), &out, sizeof out);
}

/// Replaces B, G, R of every pixel by map(block) of its block of four; the last, partial block
/// is computed on a copy padded with zero pixels.
template <typename TMap>
[[gnu::always_inline]] inline void MapBlocks(TColorHdr* row, std::size_t count, TMap map)
{
    std::size_t x = 0;
    for (; x + BlockPixels <= count; x += BlockPixels) {
        const TVec v = LoadBlock(row + x);
        StoreColour(row + x, map(v), v);
    }
    if (x < count) {
        TColorHdr tail[BlockPixels];
        std::copy(row + x, row + count, tail);
        const TVec v = LoadBlock(tail);
        StoreColour(tail, map(v), v);
        std::copy(tail, tail + (count - x), row + x);
    }
}

/// Pixels per chunk of MapColourValues: three vectors of B, G, R values and no alpha.
inline constexpr std::size_t ColourChunkPixels = 16;

/// Replaces B, G, R of every pixel by map(values, phase), the values packed 16 to a vector in
/// pixel order without alpha, so the long exp and log chains spend no lanes on alpha. Lane c of
/// a vector holds channel (phase + c) % 3 (0 B, 1 G, 2 R). A last, partial chunk is padded with
/// zeros.
template <typename TMap>
[[gnu::always_inline]] inline void MapColourValues(TColorHdr* row, std::size_t count, TMap map)
{
    constexpr std::size_t Values = 3 * ColourChunkPixels;
    for (std::size_t x = 0; x < count; x += ColourChunkPixels) {
        const std::size_t n = std::min(ColourChunkPixels, count - x);
        float values[Values];
        for (std::size_t i = 0; i < n; ++i) {
            values[3 * i] = row[x + i].B;
            values[3 * i + 1] = row[x + i].G;
            values[3 * i + 2] = row[x + i].R;
        }
        for (std::size_t i = 3 * n; i < Values; ++i)
            values[i] = 0.0f;
        for (int part = 0; part < 3; ++part) {
            TVec v;
            std::memcpy(&v, values + 16 * part, sizeof v);
            v = map(v, part);  // 16 = 1 mod 3: part k starts at channel k
            std::memcpy(values + 16 * part, &v, sizeof v);
        }
        for (std::size_t i = 0; i < n; ++i) {
            row[x + i].B = values[3 * i];
            row[x + i].G = values[3 * i + 1];
            row[x + i].R = values[3 * i + 2];
        }
    }
}

/// Per-channel values in the lane order of MapColourValues' vectors, one vector per phase.
struct TChannelValues {
    TVec Phase[3];

    TChannelValues(float b, float g, float r)
    {
        const float channel[3] = {b, g, r};
        for (int p = 0; p < 3; ++p)
            for (int c = 0; c < 16; ++c)
                Phase[p].Set(c, channel[(p + c) % 3]);
    }
};

[[gnu::always_inline]] inline TVecD Widen(const TVec& v) { return Convert<TPixD>(v); }

[[gnu::always_inline]] inline TVec Narrow(const TVecD& v) { return Convert<TPix>(v); }

[[gnu::always_inline]] inline TVec Splat(float v)
{
    TVec r;
    for (int i = 0; i < 16; ++i)
        r.Set(i, v);
    return r;
}

[[gnu::always_inline]] inline TVec8 Splat8(float v)
{
    TVec8 r;
    for (std::size_t i = 0; i < BlockPixels; ++i)
        r.P[i] = TPix8{} + v;
    return r;
}

[[gnu::always_inline]] inline TVecD SplatD(double v)
{
    TVecD r;
    for (int i = 0; i < 16; ++i)
        r.Set(i, v);
    return r;
}

/// ClampHdr lane by lane: 0 when not above 0 (NaN included), 1 from 1 up.
[[gnu::always_inline]] inline TVec ClampLanes(const TVec& v)
{
    const TVec top = Select(v >= 1.0f, Splat(1.0f), v);
    return Select(v > 0.0f, top, Splat(0.0f));
}

/// Integers below 2^51 in magnitude between int64 and double lanes: AVX2 has no conversion.
inline constexpr double IntShifter = 0x1.8p52;

[[gnu::always_inline]] inline TVecD IntToDouble(const TMaskD& k)
{
    return std::bit_cast<TVecD>(k + std::bit_cast<std::int64_t>(IntShifter)) - IntShifter;
}

// ln 2 split so that k ln2Hi is exact for |k| < 2^11.
inline constexpr double Ln2Hi = 6.93147180369123816490e-01;
inline constexpr double Ln2Lo = 1.90821492927058770002e-10;

/// ln x for positive normal x: x = 2^k m with m in [sqrt(1/2), sqrt(2)], ln m = 2 atanh(s),
/// s = (m - 1) / (m + 1), |s| <= 0.1716, ten terms of the series leave less than 2^-55.
[[gnu::always_inline]] inline TVecD LogLanes(const TVecD& x)
{
    const TMaskD bits = std::bit_cast<TMaskD>(x);
    TMaskD k = ((bits >> 52) & 0x7FF) - 1023;
    TVecD m = std::bit_cast<TVecD>((bits & 0x000FFFFFFFFFFFFFLL) | 0x3FF0000000000000LL);
    const TMaskD big = m > 1.4142135623730951;
    m = Select(big, m * 0.5, m);
    k = k - big;              // big is -1 where set
    const TVecD f = m - 1.0;  // exact: m lies within a factor of 2 of 1
    const TVecD s = f / (2.0 + f);
    const TVecD z = s * s;
    TVecD p = SplatD(1.0 / 19.0);
    p = p * z + 1.0 / 17.0;
    p = p * z + 1.0 / 15.0;
    p = p * z + 1.0 / 13.0;
    p = p * z + 1.0 / 11.0;
    p = p * z + 1.0 / 9.0;
    p = p * z + 1.0 / 7.0;
    p = p * z + 1.0 / 5.0;
    p = p * z + 1.0 / 3.0;
    p = p * z + 1.0;
    const TVecD kd = IntToDouble(k);
    return kd * Ln2Hi + (2.0 * s * p + kd * Ln2Lo);
}

/// e^t for |t| < 87: t = k ln 2 + r, |r| <= 0.347, fourteen Taylor terms leave less than 2^-57.
[[gnu::always_inline]] inline TVecD ExpLanes(const TVecD& t)
{
    const TVecD shifted = t * 1.4426950408889634 + IntShifter;
    const TMaskD k = std::bit_cast<TMaskD>(shifted) - std::bit_cast<std::int64_t>(IntShifter);
    const TVecD kd = shifted - IntShifter;
    const TVecD r = (t - kd * Ln2Hi) - kd * Ln2Lo;
    TVecD p = SplatD(1.0 / 6227020800.0);  // 1/13!
    p = p * r + 1.0 / 479001600.0;
    p = p * r + 1.0 / 39916800.0;
    p = p * r + 1.0 / 3628800.0;
    p = p * r + 1.0 / 362880.0;
    p = p * r + 1.0 / 40320.0;
    p = p * r + 1.0 / 5040.0;
    p = p * r + 1.0 / 720.0;
    p = p * r + 1.0 / 120.0;
    p = p * r + 1.0 / 24.0;
    p = p * r + 1.0 / 6.0;
    p = p * r + 0.5;
    p = p * r + 1.0;
    p = p * r + 1.0;
    return p * std::bit_cast<TVecD>((k + 1023) << 52);
}

// The same power with fused multiply-adds and small tables, for the kernels' AVX2 + FMA versions
// (FmaLanes()). Its bound and threshold are stated at the top of this file.

/// fma(a, b, c) lane by lane: one rounding, the same result wherever it runs.
[[gnu::always_inline]] inline TPixD Fma(TPixD a, TPixD b, TPixD c)
{
    TPixD r;
    for (int j = 0; j < 4; ++j)
        r[j] = __builtin_fma(a[j], b[j], c[j]);
    return r;
}

/// 1 / c and -ln(1 / c) (rounded from a 60-digit logarithm) for the 128 cells of [0.6855, 1.3711)
/// that the top mantissa bits of x - LogCellOffset pick; c is the middle of its cell, and the cell
/// around 1 has c = 1 exactly, so ln x near 1 keeps its relative accuracy.
struct TLogCell {
    double InvC;
    double LogC;
};
inline constexpr int LogCellBits = 7;
inline constexpr std::int64_t LogCellOffset = 0x3fe5f00000000000;  // 0.6855: 1 is mid-cell
alignas(64) inline constexpr TLogCell LogCells[1 << LogCellBits] = {
    {0x1.745d1745d1746p+0, -0x1.7fafa3bd8151cp-2},
    {0x1.724287f46debcp+0, -0x1.79e26687cfb3dp-2},
    {0x1.702e05c0b8170p+0, -0x1.741d876c67bb1p-2},
    {0x1.6e1f76b4337c7p+0, -0x1.6e60ee6af1973p-2},
    {0x1.6c16c16c16c17p+0, -0x1.68ac83e9c6a15p-2},
    {0x1.6a13cd1537290p+0, -0x1.630030b3aac48p-2},
    {0x1.6816816816817p+0, -0x1.5d5bddf595f31p-2},
    {0x1.661ec6a5122f9p+0, -0x1.57bf753c8d1fbp-2},
    {0x1.642c8590b2164p+0, -0x1.522ae0738a3d7p-2},
    {0x1.623fa77016240p+0, -0x1.4c9e09e172c3dp-2},
    {0x1.6058160581606p+0, -0x1.4718dc271c41cp-2},
    {0x1.5e75bb8d015e7p+0, -0x1.419b423d5e8c6p-2},
    {0x1.5c9882b931057p+0, -0x1.3c25277333183p-2},
    {0x1.5ac056b015ac0p+0, -0x1.36b6776be1116p-2},
    {0x1.58ed2308158edp+0, -0x1.314f1e1d35ce3p-2},
    {0x1.571ed3c506b3ap+0, -0x1.2bef07cdc9355p-2},
    {0x1.5555555555555p+0, -0x1.269621134db91p-2},
    {0x1.5390948f40febp+0, -0x1.214456d0eb8d5p-2},
    {0x1.51d07eae2f815p+0, -0x1.1bf99635a6b95p-2},
    {0x1.5015015015015p+0, -0x1.16b5ccbacfb73p-2},
    {0x1.4e5e0a72f0539p+0, -0x1.1178e8227e47ap-2},
    {0x1.4cab88725af6ep+0, -0x1.0c42d676162e2p-2},
    {0x1.4afd6a052bf5bp+0, -0x1.07138604d5864p-2},
    {0x1.49539e3b2d067p+0, -0x1.01eae5626c691p-2},
    {0x1.47ae147ae147bp+0, -0x1.f991c6cb3b37ap-3},
    {0x1.460cbc7f5cf9ap+0, -0x1.ef5ade4dcffe5p-3},
    {0x1.446f86562d9fbp+0, -0x1.e530effe71013p-3},
    {0x1.42d6625d51f87p+0, -0x1.db13db0d48941p-3},
    {0x1.4141414141414p+0, -0x1.d1037f2655e7bp-3},
    {0x1.3fb013fb013fbp+0, -0x1.c6ffbc6f00f71p-3},
    {0x1.3e22cbce4a902p+0, -0x1.bd087383bd8aap-3},
    {0x1.3c995a47babe7p+0, -0x1.b31d8575bce3bp-3},
    {0x1.3b13b13b13b14p+0, -0x1.a93ed3c8ad9e5p-3},
    {0x1.3991c2c187f63p+0, -0x1.9f6c407089663p-3},
    {0x1.3813813813814p+0, -0x1.95a5adcf70182p-3},
    {0x1.3698df3de0748p+0, -0x1.8beafeb38fe8fp-3},
    {0x1.3521cfb2b78c1p+0, -0x1.823c16551a3c0p-3},
    {0x1.33ae45b57bcb2p+0, -0x1.7898d85444c74p-3},
    {0x1.323e34a2b10bfp+0, -0x1.6f0128b756ab9p-3},
    {0x1.30d190130d190p+0, -0x1.6574ebe8c1339p-3},
    {0x1.2f684bda12f68p+0, -0x1.5bf406b543db0p-3},
    {0x1.2e025c04b8097p+0, -0x1.527e5e4a1b58dp-3},
    {0x1.2c9fb4d812ca0p+0, -0x1.4913d8333b563p-3},
    {0x1.2b404ad012b40p+0, -0x1.3fb45a59928cap-3},
    {0x1.29e4129e4129ep+0, -0x1.365fcb0159014p-3},
    {0x1.288b01288b013p+0, -0x1.2d1610c86813dp-3},
    {0x1.27350b8812735p+0, -0x1.23d712a49c201p-3},
    {0x1.25e22708092f1p+0, -0x1.1aa2b7e23f729p-3},
    {0x1.2492492492492p+0, -0x1.1178e8227e47ap-3},
    {0x1.23456789abcdfp+0, -0x1.08598b59e3a07p-3},
    {0x1.21fb78121fb78p+0, -0x1.fe89139dbd565p-4},
    {0x1.20b470c67c0d9p+0, -0x1.ec739830a1126p-4},
    {0x1.1f7047dc11f70p+0, -0x1.da7276384469ep-4},
    {0x1.1e2ef3b3fb874p+0, -0x1.c885801bc4b20p-4},
    {0x1.1cf06ada2811dp+0, -0x1.b6ac88dad5b1dp-4},
    {0x1.1bb4a4046ed29p+0, -0x1.a4e7640b1bc38p-4},
    {0x1.1a7b9611a7b96p+0, -0x1.9335e5d594988p-4},
    {0x1.19453808ca29cp+0, -0x1.8197e2f40e3f0p-4},
    {0x1.1811811811812p+0, -0x1.700d30aeac0e8p-4},
    {0x1.16e0689427379p+0, -0x1.5e95a4d9791cdp-4},
    {0x1.15b1e5f75270dp+0, -0x1.4d3115d207eacp-4},
    {0x1.1485f0e0acd3bp+0, -0x1.3bdf5a7d1ee5ep-4},
    {0x1.135c81135c811p+0, -0x1.2aa04a44717a1p-4},
    {0x1.12358e75d3033p+0, -0x1.1973bd1465561p-4},
    {0x1.1111111111111p+0, -0x1.08598b59e3a06p-4},
    {0x1.0fef010fef011p+0, -0x1.eea31c006b87cp-5},
    {0x1.0ecf56be69c90p+0, -0x1.ccb73cdddb2d0p-5},
    {0x1.0db20a88f4696p+0, -0x1.aaef2d0fb1108p-5},
    {0x1.0c9714fbcda3bp+0, -0x1.894aa149fb34bp-5},
    {0x1.0b7e6ec259dc8p+0, -0x1.67c94f2d4bb65p-5},
    {0x1.0a6810a6810a7p+0, -0x1.466aed42de3f9p-5},
    {0x1.0953f39010954p+0, -0x1.252f32f8d1840p-5},
    {0x1.0842108421084p+0, -0x1.0415d89e74440p-5},
    {0x1.073260a47f7c6p+0, -0x1.c63d2ec14aad7p-6},
    {0x1.0624dd2f1a9fcp+0, -0x1.8492528c8cac5p-6},
    {0x1.05197f7d73404p+0, -0x1.432a925980cbcp-6},
    {0x1.0410410410410p+0, -0x1.0205658935837p-6},
    {0x1.03091b51f5e1ap+0, -0x1.82448a388a283p-7},
    {0x1.0204081020408p+0, -0x1.010157588de69p-7},
    {0x1.0101010101010p+0, -0x1.0080559588b25p-8},
    {0x1.0000000000000p+0, 0x0.0p+0},
    {0x1.fc07f01fc07f0p-1, 0x1.fe02a6b106799p-8},
    {0x1.f81f81f81f820p-1, 0x1.fc0a8b0fc03c4p-7},
    {0x1.f44659e4a4271p-1, 0x1.7b91b07d5b126p-6},
    {0x1.f07c1f07c1f08p-1, 0x1.f829b0e7832f8p-6},
    {0x1.ecc07b301ecc0p-1, 0x1.39e87b9febd68p-5},
    {0x1.e9131abf0b767p-1, 0x1.77458f632dcffp-5},
    {0x1.e573ac901e574p-1, 0x1.b42dd711971b9p-5},
    {0x1.e1e1e1e1e1e1ep-1, 0x1.f0a30c01162a8p-5},
    {0x1.de5d6e3f8868ap-1, 0x1.16536eea37ae3p-4},
    {0x1.dae6076b981dbp-1, 0x1.341d7961bd1d0p-4},
    {0x1.d77b654b82c34p-1, 0x1.51b073f06183cp-4},
    {0x1.d41d41d41d41dp-1, 0x1.6f0d28ae56b4ep-4},
    {0x1.d0cb58f6ec074p-1, 0x1.8c345d6319b23p-4},
    {0x1.cd85689039b0bp-1, 0x1.a926d3a4ad562p-4},
    {0x1.ca4b3055ee191p-1, 0x1.c5e548f5bc743p-4},
    {0x1.c71c71c71c71cp-1, 0x1.e27076e2af2eap-4},
    {0x1.c3f8f01c3f8f0p-1, 0x1.fec9131dbeabcp-4},
    {0x1.c0e070381c0e0p-1, 0x1.0d77e7cd08e5bp-3},
    {0x1.bdd2b899406f7p-1, 0x1.1b72ad52f67a2p-3},
    {0x1.bacf914c1bad0p-1, 0x1.29552f81ff521p-3},
    {0x1.b7d6c3dda338bp-1, 0x1.371fc201e8f75p-3},
    {0x1.b4e81b4e81b4fp-1, 0x1.44d2b6ccb7d1cp-3},
    {0x1.b2036406c80d9p-1, 0x1.526e5e3a1b438p-3},
    {0x1.af286bca1af28p-1, 0x1.5ff3070a793d6p-3},
    {0x1.ac5701ac5701bp-1, 0x1.6d60fe719d21bp-3},
    {0x1.a98ef606a63bep-1, 0x1.7ab890210d907p-3},
    {0x1.a6d01a6d01a6dp-1, 0x1.87fa06520c911p-3},
    {0x1.a41a41a41a41ap-1, 0x1.9525a9cf456b6p-3},
    {0x1.a16d3f97a4b02p-1, 0x1.a23bc1fe2b561p-3},
    {0x1.9ec8e951033d9p-1, 0x1.af3c94e80bff3p-3},
    {0x1.9c2d14ee4a102p-1, 0x1.bc286742d8cd4p-3},
    {0x1.999999999999ap-1, 0x1.c8ff7c79a9a20p-3},
    {0x1.970e4f80cb872p-1, 0x1.d5c216b4fbb94p-3},
    {0x1.948b0fcd6e9e0p-1, 0x1.e27076e2af2e8p-3},
    {0x1.920fb49d0e229p-1, 0x1.ef0adcbdc5935p-3},
    {0x1.8f9c18f9c18fap-1, 0x1.fb9186d5e3e29p-3},
    {0x1.8d3018d3018d3p-1, 0x1.0402594b4d041p-2},
    {0x1.8acb90f6bf3aap-1, 0x1.0a324e27390e2p-2},
    {0x1.886e5f0abb04ap-1, 0x1.1058bf9ae4ad4p-2},
    {0x1.8618618618618p-1, 0x1.1675cababa60fp-2},
    {0x1.83c977ab2beddp-1, 0x1.1c898c16999fbp-2},
    {0x1.8181818181818p-1, 0x1.22941fbcf7966p-2},
    {0x1.7f405fd017f40p-1, 0x1.2895a13de86a4p-2},
    {0x1.7d05f417d05f4p-1, 0x1.2e8e2bae11d31p-2},
    {0x1.7ad2208e0ecc3p-1, 0x1.347dd9a987d56p-2},
    {0x1.78a4c8178a4c8p-1, 0x1.3a64c556945eap-2},
    {0x1.767dce434a9b1p-1, 0x1.404308686a7e4p-2}};

/// 2^(j / 128), rounded from 60 digits.
inline constexpr int ExpCellBits = 7;
alignas(64) inline constexpr double ExpCells[1 << ExpCellBits] = {
    0x1.0000000000000p+0, 0x1.0163da9fb3335p+0, 0x1.02c9a3e778061p+0, 0x1.04315e86e7f85p+0,
    0x1.059b0d3158574p+0, 0x1.0706b29ddf6dep+0, 0x1.0874518759bc8p+0, 0x1.09e3ecac6f383p+0,
    0x1.0b5586cf9890fp+0, 0x1.0cc922b7247f7p+0, 0x1.0e3ec32d3d1a2p+0, 0x1.0fb66affed31bp+0,
    0x1.11301d0125b51p+0, 0x1.12abdc06c31ccp+0, 0x1.1429aaea92de0p+0, 0x1.15a98c8a58e51p+0,
    0x1.172b83c7d517bp+0, 0x1.18af9388c8deap+0, 0x1.1a35beb6fcb75p+0, 0x1.1bbe084045cd4p+0,
    0x1.1d4873168b9aap+0, 0x1.1ed5022fcd91dp+0, 0x1.2063b88628cd6p+0, 0x1.21f49917ddc96p+0,
    0x1.2387a6e756238p+0, 0x1.251ce4fb2a63fp+0, 0x1.26b4565e27cddp+0, 0x1.284dfe1f56381p+0,
    0x1.29e9df51fdee1p+0, 0x1.2b87fd0dad990p+0, 0x1.2d285a6e4030bp+0, 0x1.2ecafa93e2f56p+0,
    0x1.306fe0a31b715p+0, 0x1.32170fc4cd831p+0, 0x1.33c08b26416ffp+0, 0x1.356c55f929ff1p+0,
    0x1.371a7373aa9cbp+0, 0x1.38cae6d05d866p+0, 0x1.3a7db34e59ff7p+0, 0x1.3c32dc313a8e5p+0,
    0x1.3dea64c123422p+0, 0x1.3fa4504ac801cp+0, 0x1.4160a21f72e2ap+0, 0x1.431f5d950a897p+0,
    0x1.44e086061892dp+0, 0x1.46a41ed1d0057p+0, 0x1.486a2b5c13cd0p+0, 0x1.4a32af0d7d3dep+0,
    0x1.4bfdad5362a27p+0, 0x1.4dcb299fddd0dp+0, 0x1.4f9b2769d2ca7p+0, 0x1.516daa2cf6642p+0,
    0x1.5342b569d4f82p+0, 0x1.551a4ca5d920fp+0, 0x1.56f4736b527dap+0, 0x1.58d12d497c7fdp+0,
    0x1.5ab07dd485429p+0, 0x1.5c9268a5946b7p+0, 0x1.5e76f15ad2148p+0, 0x1.605e1b976dc09p+0,
    0x1.6247eb03a5585p+0, 0x1.6434634ccc320p+0, 0x1.6623882552225p+0, 0x1.68155d44ca973p+0,
    0x1.6a09e667f3bcdp+0, 0x1.6c012750bdabfp+0, 0x1.6dfb23c651a2fp+0, 0x1.6ff7df9519484p+0,
    0x1.71f75e8ec5f74p+0, 0x1.73f9a48a58174p+0, 0x1.75feb564267c9p+0, 0x1.780694fde5d3fp+0,
    0x1.7a11473eb0187p+0, 0x1.7c1ed0130c132p+0, 0x1.7e2f336cf4e62p+0, 0x1.80427543e1a12p+0,
    0x1.82589994cce13p+0, 0x1.8471a4623c7adp+0, 0x1.868d99b4492edp+0, 0x1.88ac7d98a6699p+0,
    0x1.8ace5422aa0dbp+0, 0x1.8cf3216b5448cp+0, 0x1.8f1ae99157736p+0, 0x1.9145b0b91ffc6p+0,
    0x1.93737b0cdc5e5p+0, 0x1.95a44cbc8520fp+0, 0x1.97d829fde4e50p+0, 0x1.9a0f170ca07bap+0,
    0x1.9c49182a3f090p+0, 0x1.9e86319e32323p+0, 0x1.a0c667b5de565p+0, 0x1.a309bec4a2d33p+0,
    0x1.a5503b23e255dp+0, 0x1.a799e1330b358p+0, 0x1.a9e6b5579fdbfp+0, 0x1.ac36bbfd3f37ap+0,
    0x1.ae89f995ad3adp+0, 0x1.b0e07298db666p+0, 0x1.b33a2b84f15fbp+0, 0x1.b59728de5593ap+0,
    0x1.b7f76f2fb5e47p+0, 0x1.ba5b030a1064ap+0, 0x1.bcc1e904bc1d2p+0, 0x1.bf2c25bd71e09p+0,
    0x1.c199bdd85529cp+0, 0x1.c40ab5fffd07ap+0, 0x1.c67f12e57d14bp+0, 0x1.c8f6d9406e7b5p+0,
    0x1.cb720dcef9069p+0, 0x1.cdf0b555dc3fap+0, 0x1.d072d4a07897cp+0, 0x1.d2f87080d89f2p+0,
    0x1.d5818dcfba487p+0, 0x1.d80e316c98398p+0, 0x1.da9e603db3285p+0, 0x1.dd321f301b460p+0,
    0x1.dfc97337b9b5fp+0, 0x1.e264614f5a129p+0, 0x1.e502ee78b3ff6p+0, 0x1.e7a51fbc74c83p+0,
    0x1.ea4afa2a490dap+0, 0x1.ecf482d8e67f1p+0, 0x1.efa1bee615a27p+0, 0x1.f252b376bba97p+0,
    0x1.f50765b6e4540p+0, 0x1.f7bfdad9cbe14p+0, 0x1.fa7c1819e90d8p+0, 0x1.fd3c22b8f71f1p+0};

inline constexpr double Ln2 = 0x1.62e42fefa39efp-1;
inline constexpr double ExpCellsPerLn2 = 0x1.71547652b82fep+7;  // 128 / ln 2
inline constexpr double Ln2PerCellHi = 0x1.62e42fef00000p-8;    // ln 2 / 128 = Hi + Lo
inline constexpr double Ln2PerCellLo = 0x1.473de6af278edp-41;

using TPixBitsD = std::uint64_t __attribute__((vector_size(32)));

/// ln x for positive normal x: x = 2^k z with z in [0.6855, 1.3711), ln x = k ln 2 + ln c +
/// log1p(z / c - 1) with c from LogCells, |z / c - 1| <= 2^-8 and six terms of log1p. N machine
/// vectors at once, step by step, so that the processor finds independent work next to each
/// dependent step.
template <std::size_t N>
[[gnu::always_inline]] inline void LogFma(const TPixD* x, TPixD* out)
{
    TPixBitsD cell[N];
    TPixBitsD biasedK[N];
    TPixD z[N];
    for (std::size_t i = 0; i < N; ++i) {
        const auto bits = std::bit_cast<TPixBitsD>(x[i]);
        const TPixBitsD offset = bits - LogCellOffset;
        // Unsigned shifts: AVX2 has no arithmetic 64-bit one. 2^63 + offset >> 52 is k + 2^11.
        cell[i] = (offset >> (52 - LogCellBits)) & ((1u << LogCellBits) - 1);
        biasedK[i] = (offset + (std::uint64_t{1} << 63)) >> 52;
        z[i] = std::bit_cast<TPixD>(bits - (offset & (std::uint64_t{0xFFF} << 52)));
    }
    TPixD invC[N];
    TPixD logC[N];
    for (std::size_t i = 0; i < N; ++i)
        for (int c = 0; c < 4; ++c) {
            const TLogCell& entry = LogCells[cell[i][c]];
            invC[i][c] = entry.InvC;
            logC[i][c] = entry.LogC;
        }
    TPixD r[N];
    TPixD r2[N];
    for (std::size_t i = 0; i < N; ++i) {
        r[i] = Fma(z[i], invC[i], TPixD{} - 1.0);  // within 2^-62 of z / c - 1
        r2[i] = r[i] * r[i];
    }
    for (std::size_t i = 0; i < N; ++i) {
        // log1p(r) = r + r^2 q, q = -1/2 + r/3 - r^2/4 + r^3/5 - r^4/6 (Estrin: shorter chains)
        const TPixD q01 = Fma(r[i], TPixD{} + 1.0 / 3.0, TPixD{} - 0.5);
        const TPixD q23 = Fma(r[i], TPixD{} + 1.0 / 5.0, TPixD{} - 0.25);
        const TPixD q = Fma(r2[i], Fma(r2[i], TPixD{} - 1.0 / 6.0, q23), q01);
        const TPixD kd =
            std::bit_cast<TPixD>(biasedK[i] + std::bit_cast<std::uint64_t>(IntShifter)) -
            (IntShifter + 2048.0);
        const TPixD w = Fma(kd, TPixD{} + Ln2, logC[i]);
        out[i] = w + Fma(r2[i], q, r[i]);
    }
}

/// e^t for |t| < 87: t = (128 a + j) ln 2 / 128 + r, |r| <= ln 2 / 256, e^t = 2^a 2^(j/128) e^r
/// with the table ExpCells and five terms of e^r; N machine vectors at once, as LogFma.
template <std::size_t N>
[[gnu::always_inline]] inline void ExpFma(const TPixD* t, TPixD* out)
{
    TPixBitsD n[N];
    TPixD r[N];
    for (std::size_t i = 0; i < N; ++i) {
        const TPixD shifted = Fma(t[i], TPixD{} + ExpCellsPerLn2, TPixD{} + IntShifter);
        n[i] = std::bit_cast<TPixBitsD>(shifted) - std::bit_cast<std::uint64_t>(IntShifter);
        const TPixD nd = shifted - IntShifter;
        r[i] = Fma(nd, TPixD{} - Ln2PerCellLo, Fma(nd, TPixD{} - Ln2PerCellHi, t[i]));
    }
    TPixD s[N];
    for (std::size_t i = 0; i < N; ++i) {
        const TPixBitsD cell = n[i] & ((1u << ExpCellBits) - 1);
        TPixBitsD scale;
        for (int c = 0; c < 4; ++c)
            scale[c] = std::bit_cast<std::uint64_t>(ExpCells[cell[c]]);
        // n - cell is 128 a: shifted to the exponent field it adds a.
        s[i] = std::bit_cast<TPixD>(scale + ((n[i] - cell) << (52 - ExpCellBits)));
    }
    for (std::size_t i = 0; i < N; ++i) {
        const TPixD r2 = r[i] * r[i];
        // e^r - 1 = r + r^2 (1/2 + r/6 + r^2/24)
        const TPixD q =
            Fma(r2, TPixD{} + 1.0 / 24.0, Fma(r[i], TPixD{} + 1.0 / 6.0, TPixD{} + 0.5));
        out[i] = Fma(s[i], Fma(r2, q, r[i]), s[i]);
    }
}

/// ~SafeLanes for one machine vector of PowerLanes<true>: the lanes whose double lies within
/// 2^13 units of a float rounding midpoint, or whose |t| is not below 87 (NaN included).
[[gnu::always_inline]] inline TPixMaskD UnsafeLanesFma(TPixD t, TPixD y)
{
    // Units past (midpoint - 2^13), modulo the 2^29 units of a float step.
    const TPixBitsD past =
        (std::bit_cast<TPixBitsD>(y) + ((std::uint64_t{1} << 13) - (std::uint64_t{1} << 28))) &
        ((std::uint64_t{1} << 29) - 1);
    const TPixMaskD nearMidpoint = std::bit_cast<TPixMaskD>(past) <= (std::int64_t{1} << 14);
    const TPixD magnitude =
        std::bit_cast<TPixD>(std::bit_cast<TPixBitsD>(t) & ~(std::uint64_t{1} << 63));
    return nearMidpoint | ~(magnitude < 87.0);
}

/// Cleared by tests to run the plain kernels on a processor that has FMA.
inline bool AllowFmaLanes = true;

/// Whether the processor runs the kernels' AVX2 + FMA versions, which take PowerLanes<true>.
/// target_clones cannot pick them: their code differs from the plain clones', not only its
/// instructions, and an "arch=x86-64-v3" clone would not say so inside the function.
inline bool FmaLanes()
{
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return has && AllowFmaLanes;
}

/// Lanes whose float rounding PowerLanes can vouch for (see the top of this file).
[[gnu::always_inline]] inline TMaskD SafeLanes(const TVecD& t, const TVecD& y)
{
    const TMaskD fraction =
        (std::bit_cast<TMaskD>(y) & ((std::int64_t{1} << 29) - 1)) - (std::int64_t{1} << 28);
    const TMaskD far = (fraction > std::int64_t{1} << 13) | (fraction < -(std::int64_t{1} << 13));
    return far & (t < 87.0) & (t > -87.0);
}

/// (float) e^(e ln x) for x > 0 (infinity included) lane by lane, as glibc's std::exp and std::log
/// give it. Lanes not set in `wanted` are not computed exactly (they hold whatever the polynomials
/// gave).
/// The lanes of PowerLanes set in slow, through std::exp and std::log; out of line, so the
/// kernels' loops hold no calls.
[[gnu::noinline, gnu::cold]] inline void PowerSlowLanes(TVec& out, const TVecD& x, const TVecD& e,
                                                        const TMaskD& slow)
{
    for (int c = 0; c < 16; ++c)
        if (slow[c] != 0)
            out.Set(c, static_cast<float>(std::exp(e[c] * std::log(x[c]))));
}

/// Machine vectors that LogFma and ExpFma take at once (1, 2 and 4 measure alike on Zen 3).
inline constexpr std::size_t FmaVectorsAtOnce = 2;

/// Fma picks LogFma and ExpFma, for code compiled with FMA.
template <bool Fma = false>
[[gnu::always_inline]] inline TVec PowerLanes(const TVecD& x, const TVecD& e, const TMaskD& wanted)
{
    TVec out;
    TMaskD slow;
    if constexpr (Fma) {
        constexpr std::size_t Step = FmaVectorsAtOnce;
        for (std::size_t i = 0; i < BlockPixels; i += Step) {
            TPixD t[Step];
            TPixD y[Step];
            LogFma<Step>(x.P + i, t);
            for (std::size_t j = 0; j < Step; ++j)
                t[j] *= e.P[i + j];
            ExpFma<Step>(t, y);
            for (std::size_t j = 0; j < Step; ++j) {
                out.P[i + j] = __builtin_convertvector(y[j], TPix);
                slow.P[i + j] = wanted.P[i + j] &
                                (UnsafeLanesFma(t[j], y[j]) | ~(x.P[i + j] < __builtin_huge_val()));
            }
        }
    } else {
        const TVecD t = e * LogLanes(x);
        const TVecD y = ExpLanes(t);
        out = Narrow(y);
        // An infinite base reads as 2^1024 to LogLanes, which a small exponent would turn into
        // a plausible finite t.
        slow = wanted & ~(SafeLanes(t, y) & (x < __builtin_huge_val()));
    }
    const TPixMaskD any = (slow.P[0] | slow.P[1]) | (slow.P[2] | slow.P[3]);
    if (((any[0] | any[1]) | (any[2] | any[3])) != 0) [[unlikely]]
        PowerSlowLanes(out, x, e, slow);
    return out;
}

/// PowerHdr lane by lane for float bases: 0 for bases not above 0, the base for exponent 1.
template <bool Fma = false>
[[gnu::always_inline]] inline TVec PowerHdrLanes(const TVec& base, const TVec& exponent,
                                                 const TMask& wanted)
{
    const TMask positive = base > 0.0f;
    const TMask one = exponent == 1.0f;
    const TMask compute = wanted & positive & ~one;
    // Bases that are not computed become 1, so no lane feeds NaN or infinity into the polynomial.
    const TVec safeBase = Select(compute, base, Splat(1.0f));
    const TVec p = PowerLanes<Fma>(Widen(safeBase), Widen(exponent), Convert<TPixMaskD>(compute));
    const TVec kept = Select(one, base, p);
    return Select(positive, kept, Splat(0.0f));
}

}  // namespace lumivex::detail
