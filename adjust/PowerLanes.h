#pragma once

// Lane-wise helpers of the per-pixel kernels: a block of four pixels is one vector of 16 lanes
// (B, G, R, A of each), floats widened to double exactly, so every lane rounds like the scalar
// definition. GCC vector types rather than plain loops: with trapping math it will not vectorise
// a compare and select itself. The vectors are wider than the machine's, so GCC issues each
// operation for the four pixels back to back and the long exp and log chains overlap.
//
// PowerLanes is e^(exponent ln base) without a call per value. The plain kernels' LogLanes and
// ExpLanes sum series of 10 and 14 terms, accurate to far better than 2^-43 relative. The
// AVX2 + FMA kernels' LogLanesFma and ExpLanesFma sum 9 and 12 of the same terms with fused
// multiply-adds in Estrin's order: log within 2^-49 relative (the series cut 2^-49.9, the division
// and a few roundings of 2^-53 on terms no larger than the result), exp within 2^-46.5 (cut
// 2^-46.6 of e^r >= 0.707); measured against glibc on 160 M values, 2^-49.3 and 2^-46.7. With the
// product's rounding a lane is e^t (1 + d), |d| < |t| 2^-48.9 + 2^-46.5, and glibc's own log,
// product and exp leave |t| 2^-51.9 + 2^-52.9, so for |t| < 87 the two doubles are fewer than 2^11
// units in the last place apart (2^10 for the plain kernels). Only a double that lies within 2^13
// units of a point halfway between two floats could round to a different float; those lanes
// (about 3 in 100000), and every lane outside that range, go through std::exp and std::log, so
// the float result is always glibc's.

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

/// fma(a, b, c) lane by lane: one rounding, the same result wherever it runs.
[[gnu::always_inline]] inline TPixD Fma(TPixD a, TPixD b, TPixD c)
{
    TPixD r;
    for (int j = 0; j < 4; ++j)
        r[j] = __builtin_fma(a[j], b[j], c[j]);
    return r;
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

[[gnu::always_inline]] inline TVecD Fma(const TVecD& a, const TVecD& b, const TVecD& c)
{
    TVecD r;
    for (std::size_t i = 0; i < BlockPixels; ++i)
        r.P[i] = Fma(a.P[i], b.P[i], c.P[i]);
    return r;
}

[[gnu::always_inline]] inline TVecD Fma(const TVecD& a, double b, double c)
{
    return Fma(a, SplatD(b), SplatD(c));
}

/// LogLanes with nine of its terms, summed with fused multiply-adds in Estrin's order (a third of
/// the chain).
[[gnu::always_inline]] inline TVecD LogLanesFma(const TVecD& x)
{
    const TMaskD bits = std::bit_cast<TMaskD>(x);
    TMaskD k = ((bits >> 52) & 0x7FF) - 1023;
    TVecD m = std::bit_cast<TVecD>((bits & 0x000FFFFFFFFFFFFFLL) | 0x3FF0000000000000LL);
    const TMaskD big = m > 1.4142135623730951;
    m = Select(big, m * 0.5, m);
    k = k - big;
    const TVecD f = m - 1.0;
    const TVecD s = f / (2.0 + f);
    const TVecD z = s * s;
    const TVecD z2 = z * z;
    const TVecD z4 = z2 * z2;
    const TVecD z8 = z4 * z4;
    const TVecD a0 = Fma(z, 1.0 / 3.0, 1.0);
    const TVecD a1 = Fma(z, 1.0 / 7.0, 1.0 / 5.0);
    const TVecD a2 = Fma(z, 1.0 / 11.0, 1.0 / 9.0);
    const TVecD a3 = Fma(z, 1.0 / 15.0, 1.0 / 13.0);
    const TVecD p = Fma(z8, SplatD(1.0 / 17.0), Fma(Fma(a3, z2, a2), z4, Fma(a1, z2, a0)));
    const TVecD kd = IntToDouble(k);
    return Fma(kd, SplatD(Ln2Hi), Fma(2.0 * s, p, kd * Ln2Lo));
}

/// ExpLanes with twelve of its terms, summed as in LogLanesFma.
[[gnu::always_inline]] inline TVecD ExpLanesFma(const TVecD& t)
{
    const TVecD shifted = Fma(t, 1.4426950408889634, IntShifter);
    const TMaskD k = std::bit_cast<TMaskD>(shifted) - std::bit_cast<std::int64_t>(IntShifter);
    const TVecD kd = shifted - IntShifter;
    const TVecD r = Fma(kd, SplatD(-Ln2Lo), Fma(kd, SplatD(-Ln2Hi), t));
    const TVecD r2 = r * r;
    const TVecD r4 = r2 * r2;
    const TVecD r8 = r4 * r4;
    const TVecD a0 = r + 1.0;
    const TVecD a1 = Fma(r, 1.0 / 6.0, 0.5);
    const TVecD a2 = Fma(r, 1.0 / 120.0, 1.0 / 24.0);
    const TVecD a3 = Fma(r, 1.0 / 5040.0, 1.0 / 720.0);
    const TVecD a4 = Fma(r, 1.0 / 362880.0, 1.0 / 40320.0);
    const TVecD a5 = Fma(r, 1.0 / 39916800.0, 1.0 / 3628800.0);
    const TVecD b0 = Fma(a1, r2, a0);
    const TVecD b1 = Fma(a3, r2, a2);
    const TVecD b2 = Fma(a5, r2, a4);
    const TVecD p = Fma(b2, r8, Fma(b1, r4, b0));
    return p * std::bit_cast<TVecD>((k + 1023) << 52);
}

/// Lanes whose float rounding PowerLanes can vouch for (see the top of this file).
[[gnu::always_inline]] inline TMaskD SafeLanes(const TVecD& t, const TVecD& y)
{
    const TMaskD fraction =
        (std::bit_cast<TMaskD>(y) & ((std::int64_t{1} << 29) - 1)) - (std::int64_t{1} << 28);
    const TMaskD far = (fraction > std::int64_t{1} << 13) | (fraction < -(std::int64_t{1} << 13));
    return far & (t < 87.0) & (t > -87.0);
}

/// The lanes of PowerLanes set in slow, through std::exp and std::log; out of line, so the
/// kernels' loops hold no calls.
[[gnu::noinline, gnu::cold]] inline void PowerSlowLanes(TVec& out, const TVecD& x, const TVecD& e,
                                                        const TMaskD& slow)
{
    for (int c = 0; c < 16; ++c)
        if (slow[c] != 0)
            out.Set(c, static_cast<float>(std::exp(e[c] * std::log(x[c]))));
}

/// (float) e^(e ln x) for x > 0 (infinity included) lane by lane, as glibc's std::exp and std::log
/// give it. Lanes not set in `wanted` are not computed exactly (they hold whatever the polynomials
/// gave).
/// Fma picks LogLanesFma and ExpLanesFma, for code compiled with FMA.
template <bool Fma = false>
[[gnu::always_inline]] inline TVec PowerLanes(const TVecD& x, const TVecD& e, const TMaskD& wanted)
{
    TVecD t;
    TVecD y;
    if constexpr (Fma) {
        t = e * LogLanesFma(x);
        y = ExpLanesFma(t);
    } else {
        t = e * LogLanes(x);
        y = ExpLanes(t);
    }
    TVec out = Narrow(y);
    // An infinite base reads as 2^1024 to LogLanes, which a small exponent would turn into a
    // plausible finite t.
    const TMaskD slow = wanted & ~(SafeLanes(t, y) & (x < __builtin_huge_val()));
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
