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
// the float result is always glibc's. The AVX-512 kernels run the FMA kernels' operations in the
// same order on vectors of eight doubles, so every lane holds the same bits as there.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "core/BmpHdr.h"

namespace lumivex::detail {

inline constexpr std::size_t BlockPixels = 4;

// The helpers are inlined into the target_clones kernels of each unit, so the AVX argument
// convention they would have without AVX never crosses a call. (Only the per-pixel kernel units
// of adjust and the local tone mapping include this header, so the ignored warning stays theirs.)
#pragma GCC diagnostic ignored "-Wpsabi"

using TPix = float __attribute__((vector_size(16)));
using TPixMask = std::int32_t __attribute__((vector_size(16)));
using TPixD = double __attribute__((vector_size(32)));
using TPixMaskD = std::int64_t __attribute__((vector_size(32)));

/// N machine vectors used as one (by default four, one per pixel of a block). Every operation
/// runs on the N back to back (GCC lowers wider vector types element by element where they
/// select).
template <typename TNative, std::size_t N = BlockPixels>
struct TWide {
    static constexpr std::size_t Count = N;
    static constexpr int Width = static_cast<int>(sizeof(TNative) / sizeof(TNative{}[0]));
    TNative P[N];

    // A setter rather than a reference: clang does not bind references to vector elements.
    template <typename T>
    [[gnu::always_inline]] void Set(int lane, T v)
    {
        P[lane / Width][lane % Width] = v;
    }
    [[gnu::always_inline]] auto operator[](int lane) const { return P[lane / Width][lane % Width]; }
};

template <typename TNative>
using TLaneOf = std::remove_cvref_t<decltype(std::declval<TNative>()[0])>;

// Eight floats to a machine vector, for float-only kernels that use all of AVX.
using TPix8 = float __attribute__((vector_size(32)));
using TPixMask8 = std::int32_t __attribute__((vector_size(32)));
// For the AVX-512 kernels: sixteen floats, or eight doubles, to a machine vector.
using TPix16 = float __attribute__((vector_size(64)));
using TPixMask16 = std::int32_t __attribute__((vector_size(64)));
using TPixD8 = double __attribute__((vector_size(64)));
using TPixMaskD8 = std::int64_t __attribute__((vector_size(64)));

/// The signed integer vector a compare of TNative gives, of its lane width and size (clang and
/// GCC disagree on its spelling).
template <typename TNative>
struct TMaskFor {
    using TInt = std::conditional_t<sizeof(TLaneOf<TNative>) == 8, std::int64_t, std::int32_t>;
    // typedef: GCC drops the attribute from a dependent alias declaration.
    typedef TInt Type __attribute__((vector_size(sizeof(TNative))));
};
template <typename TNative>
using TMaskOf = typename TMaskFor<TNative>::Type;

/// What a lane-wise operation of vectors of A gives: arithmetic keeps the vector type its
/// expression has, compares give the one mask type of A's lane width.
template <typename A, typename TExpr>
struct TArithmeticResult {
    using Type = TExpr;
    [[gnu::always_inline]] static Type Make(TExpr v) { return v; }
};
template <typename A, typename TExpr>
struct TCompareResult {
    using Type = TMaskOf<A>;
    [[gnu::always_inline]] static Type Make(TExpr v)
    {
        Type mask = Type(v);
#if defined(__GNUC__) && !defined(__clang__)
        // GCC 12 folds ANDs and ORs of AVX-512 compares into a form it can only expand lane by
        // lane (scalar code); the empty asm keeps each compare's mask a plain vector.
        if constexpr (sizeof(Type) == 64)
            asm("" : "+v"(mask));
#endif
        return mask;
    }
};

#define LUMIVEX_WIDE_OP(op, Result)                                                            \
    template <typename A, typename B, std::size_t N>                                           \
    [[gnu::always_inline]] inline auto operator op(const TWide<A, N>& a, const TWide<B, N>& b) \
    {                                                                                          \
        using TR = Result<A, decltype(a.P[0] op b.P[0])>;                                      \
        TWide<typename TR::Type, N> r;                                                         \
        for (std::size_t i = 0; i < N; ++i)                                                    \
            r.P[i] = TR::Make(a.P[i] op b.P[i]);                                               \
        return r;                                                                              \
    }                                                                                          \
    template <typename A, std::size_t N, typename S>                                           \
    requires std::is_arithmetic_v<S>                                                           \
    [[gnu::always_inline]] inline auto operator op(const TWide<A, N>& a, S b)                  \
    {                                                                                          \
        const auto s = static_cast<TLaneOf<A>>(b);                                             \
        using TR = Result<A, decltype(a.P[0] op s)>;                                           \
        TWide<typename TR::Type, N> r;                                                         \
        for (std::size_t i = 0; i < N; ++i)                                                    \
            r.P[i] = TR::Make(a.P[i] op s);                                                    \
        return r;                                                                              \
    }                                                                                          \
    template <typename A, std::size_t N, typename S>                                           \
    requires std::is_arithmetic_v<S>                                                           \
    [[gnu::always_inline]] inline auto operator op(S a, const TWide<A, N>& b)                  \
    {                                                                                          \
        const auto s = static_cast<TLaneOf<A>>(a);                                             \
        using TR = Result<A, decltype(s op b.P[0])>;                                           \
        TWide<typename TR::Type, N> r;                                                         \
        for (std::size_t i = 0; i < N; ++i)                                                    \
            r.P[i] = TR::Make(s op b.P[i]);                                                    \
        return r;                                                                              \
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

template <typename A, std::size_t N>
[[gnu::always_inline]] inline TWide<A, N> operator~(const TWide<A, N>& a)
{
    TWide<A, N> r;
    for (std::size_t i = 0; i < N; ++i)
        r.P[i] = ~a.P[i];
    return r;
}

using TVec = TWide<TPix>;
using TMask = TWide<TPixMask>;
using TVecD = TWide<TPixD>;
using TMaskD = TWide<TPixMaskD>;

using TVec8 = TWide<TPix8>;
using TMask8 = TWide<TPixMask8>;

// The AVX-512 kernels' sixteen lanes: one vector of floats, two of doubles.
using TVec16 = TWide<TPix16, 1>;
using TMask16 = TWide<TPixMask16, 1>;
using TVecD8 = TWide<TPixD8, 2>;
using TMaskD8 = TWide<TPixMaskD8, 2>;

/// The mask type of a compare of W's lanes.
template <typename W>
using TMaskLanes = TWide<TMaskOf<std::remove_cvref_t<decltype(W{}.P[0])>>, W::Count>;

/// Which version of the exp and log kernels runs: the plain one, the AVX2 + FMA one, or the
/// AVX-512 one, which is the FMA one's arithmetic on vectors of sixteen floats and eight doubles
/// (the same lanes, the same bits).
enum class TLaneKind : std::uint8_t { lkPlain, lkFma, lkAvx512 };

/// The sixteen float and double lanes of a kernel version.
template <TLaneKind Kind>
using TFloatLanes = std::conditional_t<Kind == TLaneKind::lkAvx512, TVec16, TVec>;
template <TLaneKind Kind>
using TDoubleLanes = std::conditional_t<Kind == TLaneKind::lkAvx512, TVecD8, TVecD>;

/// mask ? a : b lane by lane.
template <typename M, typename V, std::size_t N>
[[gnu::always_inline]] inline TWide<V, N> Select(const TWide<M, N>& mask, const TWide<V, N>& a,
                                                 const TWide<V, N>& b)
{
    TWide<V, N> r;
    for (std::size_t i = 0; i < N; ++i)
        r.P[i] = mask.P[i] ? a.P[i] : b.P[i];
    return r;
}

template <typename To, typename From, std::size_t N>
[[gnu::always_inline]] inline TWide<To, N> Convert(const TWide<From, N>& a)
{
    TWide<To, N> r;
    for (std::size_t i = 0; i < N; ++i)
        r.P[i] = __builtin_convertvector(a.P[i], To);
    return r;
}

/// B, G, R lanes set, alpha clear.
inline constexpr TMask ColourLanes = {
    {{-1, -1, -1, 0}, {-1, -1, -1, 0}, {-1, -1, -1, 0}, {-1, -1, -1, 0}}};

/// Every lane of W set to v.
template <typename W, typename T>
[[gnu::always_inline]] inline W Fill(T v)
{
    W r;
    for (auto& native : r.P)
        native = std::remove_cvref_t<decltype(native)>{} + v;
    return r;
}

/// Every lane of W's mask set.
template <typename W>
[[gnu::always_inline]] inline TMaskLanes<W> EveryLane()
{
    return Fill<TMaskLanes<W>>(-1);
}

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

/// chunk(pixels) on every whole run of N pixels of the row, then on a copy of the last, partial
/// run padded with zero pixels.
template <std::size_t N, typename TChunk>
[[gnu::always_inline]] inline void ForEachChunk(TColorHdr* row, std::size_t count, TChunk chunk)
{
    std::size_t x = 0;
    for (; x + N <= count; x += N)
        chunk(row + x);
    if (x < count) {
        TColorHdr tail[N];
        std::copy(row + x, row + count, tail);
        chunk(tail);
        std::copy(tail, tail + (count - x), row + x);
    }
}

/// Replaces B, G, R of every pixel by map(block) of its block of four.
template <typename TMap>
[[gnu::always_inline]] inline void MapBlocks(TColorHdr* row, std::size_t count, TMap map)
{
    ForEachChunk<BlockPixels>(
        row, count, [&](TColorHdr * pixels) __attribute__((always_inline)) {
            const TVec v = LoadBlock(pixels);
            StoreColour(pixels, map(v), v);
        });
}

/// Pixels per chunk of MapColourValues: three vectors of B, G, R values and no alpha.
inline constexpr std::size_t ColourChunkPixels = 16;

/// MapColourValues on sixteen whole pixels with vectors of sixteen floats: the values are
/// gathered and put back by shuffles, not through memory, which would stall on forwarding
/// narrow stores to wide loads.
template <typename TMap>
[[gnu::always_inline]] inline void MapColourChunk16(TColorHdr* pixels, TMap map)
{
    TPix16 v[4];
    std::memcpy(v, pixels, sizeof v);
    TVec16 part[3];
    part[0].P[0] =
        __builtin_shufflevector(v[0], v[1], 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 16, 17, 18, 20);
    part[1].P[0] = __builtin_shufflevector(v[1], v[2], 5, 6, 8, 9, 10, 12, 13, 14, 16, 17, 18, 20,
                                           21, 22, 24, 25);
    part[2].P[0] = __builtin_shufflevector(v[2], v[3], 10, 12, 13, 14, 16, 17, 18, 20, 21, 22, 24,
                                           25, 26, 28, 29, 30);
    for (int k = 0; k < 3; ++k)
        part[k] = map(part[k], k);
    const TPix16& p0 = part[0].P[0];
    const TPix16& p1 = part[1].P[0];
    const TPix16& p2 = part[2].P[0];
    // Pixels 4..7 and 8..11 straddle two vectors of values: gather their B, G, R first, then
    // take alpha from the pixels.
    const TPix16 t1 =
        __builtin_shufflevector(p0, p1, 12, 13, 14, 0, 15, 16, 17, 0, 18, 19, 20, 0, 21, 22, 23, 0);
    const TPix16 t2 =
        __builtin_shufflevector(p1, p2, 8, 9, 10, 0, 11, 12, 13, 0, 14, 15, 16, 0, 17, 18, 19, 0);
    TPix16 out[4];
    out[0] =
        __builtin_shufflevector(p0, v[0], 0, 1, 2, 19, 3, 4, 5, 23, 6, 7, 8, 27, 9, 10, 11, 31);
    out[1] =
        __builtin_shufflevector(t1, v[1], 0, 1, 2, 19, 4, 5, 6, 23, 8, 9, 10, 27, 12, 13, 14, 31);
    out[2] =
        __builtin_shufflevector(t2, v[2], 0, 1, 2, 19, 4, 5, 6, 23, 8, 9, 10, 27, 12, 13, 14, 31);
    out[3] =
        __builtin_shufflevector(p2, v[3], 4, 5, 6, 19, 7, 8, 9, 23, 10, 11, 12, 27, 13, 14, 15, 31);
    std::memcpy(static_cast<void*>(pixels), out, sizeof out);
}

/// Replaces B, G, R of every pixel by map(values, phase), the values packed 16 to a vector F
/// (TVec or TVec16) in pixel order without alpha, so the long exp and log chains spend no lanes
/// on alpha. Lane c of a vector holds channel (phase + c) % 3 (0 B, 1 G, 2 R). A last, partial
/// chunk is padded with zeros.
template <typename F = TVec, typename TMap>
[[gnu::always_inline]] inline void MapColourValues(TColorHdr* row, std::size_t count, TMap map)
{
    if constexpr (std::is_same_v<F, TVec16>) {
        ForEachChunk<ColourChunkPixels>(
            row, count, [&](TColorHdr * pixels) __attribute__((always_inline)) {
                MapColourChunk16(pixels, map);
            });
    } else {
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

    /// Phase p as the float lanes F.
    template <typename F>
    [[gnu::always_inline]] F PhaseAs(int p) const
    {
        static_assert(sizeof(F) == sizeof(TVec));
        F v;
        std::memcpy(&v, &Phase[p], sizeof v);
        return v;
    }
};

template <typename F = TVec>
[[gnu::always_inline]] inline F Splat(float v)
{
    return Fill<F>(v);
}

template <typename D = TVecD>
[[gnu::always_inline]] inline D SplatD(double v)
{
    return Fill<D>(v);
}

[[gnu::always_inline]] inline TVecD Widen(const TVec& v) { return Convert<TPixD>(v); }

[[gnu::always_inline]] inline TVec Narrow(const TVecD& v) { return Convert<TPix>(v); }

/// Two vectors of four lanes as one of eight.
template <typename T>
[[gnu::always_inline]] inline auto Join(T low, T high)
{
    return __builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7);
}

/// Lanes 0..7 and 8..15 of a vector of sixteen.
template <typename T>
[[gnu::always_inline]] inline auto LowHalf(T v)
{
    return __builtin_shufflevector(v, v, 0, 1, 2, 3, 4, 5, 6, 7);
}
template <typename T>
[[gnu::always_inline]] inline auto HighHalf(T v)
{
    return __builtin_shufflevector(v, v, 8, 9, 10, 11, 12, 13, 14, 15);
}

/// The sixteen lanes of W (floats or float masks, TVec or TVec16 shaped) widened to the doubles
/// or double masks of D (TVecD or TVecD8, or their masks), lane for lane: exactly, and set masks
/// stay set.
template <typename D, typename W>
[[gnu::always_inline]] inline D WidenTo(const W& v)
{
    using TTo = std::remove_cvref_t<decltype(D{}.P[0])>;
    if constexpr (std::is_same_v<TTo, TPixD> || std::is_same_v<TTo, TPixMaskD>) {
        static_assert(W::Count == BlockPixels);
        return Convert<TTo>(v);
    } else if constexpr (W::Count == BlockPixels) {
        TWide<TTo, 2> r;
        for (std::size_t i = 0; i < 2; ++i)
            r.P[i] = __builtin_convertvector(Join(v.P[2 * i], v.P[2 * i + 1]), TTo);
        return r;
    } else {
        TWide<TTo, 2> r;
        r.P[0] = __builtin_convertvector(LowHalf(v.P[0]), TTo);
        r.P[1] = __builtin_convertvector(HighHalf(v.P[0]), TTo);
        return r;
    }
}

/// m's lanes, each set or clear, as the masks of the double lanes D.
template <typename D, typename M>
[[gnu::always_inline]] inline TMaskLanes<D> WidenMask(const M& m)
{
    return WidenTo<TMaskLanes<D>>(m);
}

/// The double lanes d rounded to the float lanes F, lane for lane.
template <typename F, typename D>
[[gnu::always_inline]] inline F NarrowTo(const D& d)
{
    if constexpr (D::Count == BlockPixels) {
        static_assert(std::is_same_v<F, TVec>);
        return Convert<TPix>(d);
    } else if constexpr (std::is_same_v<F, TVec>) {
        F r;
        for (std::size_t i = 0; i < 2; ++i) {
            const TPix8 n = __builtin_convertvector(d.P[i], TPix8);
            r.P[2 * i] = __builtin_shufflevector(n, n, 0, 1, 2, 3);
            r.P[2 * i + 1] = __builtin_shufflevector(n, n, 4, 5, 6, 7);
        }
        return r;
    } else {
        const TPix8 low = __builtin_convertvector(d.P[0], TPix8);
        const TPix8 high = __builtin_convertvector(d.P[1], TPix8);
        F r;
        r.P[0] = __builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13,
                                         14, 15);
        return r;
    }
}

/// Whether any lane of m is set.
template <typename M>
[[gnu::always_inline]] inline bool AnyLane(const M& m)
{
    auto all = m.P[0];
    for (std::size_t i = 1; i < M::Count; ++i)
        all |= m.P[i];
    if constexpr (M::Width == 8) {
        const auto half = __builtin_shufflevector(all, all, 0, 1, 2, 3) |
                          __builtin_shufflevector(all, all, 4, 5, 6, 7);
        return ((half[0] | half[1]) | (half[2] | half[3])) != 0;
    } else {
        TLaneOf<decltype(all)> any = 0;
        for (int c = 0; c < M::Width; ++c)
            any |= all[c];
        return any != 0;
    }
}

/// ClampHdr lane by lane: 0 when not above 0 (NaN included), 1 from 1 up.
template <typename F>
[[gnu::always_inline]] inline F ClampLanes(const F& v)
{
    const F top = Select(v >= 1.0f, Splat<F>(1.0f), v);
    return Select(v > 0.0f, top, Splat<F>(0.0f));
}

/// Integers below 2^51 in magnitude between int64 and double lanes: AVX2 has no conversion.
inline constexpr double IntShifter = 0x1.8p52;

template <typename D>
[[gnu::always_inline]] inline D IntToDouble(const TMaskLanes<D>& k)
{
    return std::bit_cast<D>(k + std::bit_cast<std::int64_t>(IntShifter)) - IntShifter;
}

// ln 2 split so that k ln2Hi is exact for |k| < 2^11.
inline constexpr double Ln2Hi = 6.93147180369123816490e-01;
inline constexpr double Ln2Lo = 1.90821492927058770002e-10;

/// The reduction of ln x for positive normal x: x = 2^k m with m in [sqrt(1/2), sqrt(2)], and
/// s = (m - 1) / (m + 1), so that ln x = k ln 2 + 2 atanh(s).
template <typename D>
[[gnu::always_inline]] inline void ReduceLog(const D& x, D& s, D& kd)
{
    using M = TMaskLanes<D>;
    const M bits = std::bit_cast<M>(x);
    M k = ((bits >> 52) & 0x7FF) - 1023;
    D m = std::bit_cast<D>((bits & 0x000FFFFFFFFFFFFFLL) | 0x3FF0000000000000LL);
    const M big = m > 1.4142135623730951;
    m = Select(big, m * 0.5, m);
    k = k - big;          // big is -1 where set
    const D f = m - 1.0;  // exact: m lies within a factor of 2 of 1
    s = f / (2.0 + f);
    kd = IntToDouble<D>(k);
}

/// ln x for positive normal x: |s| <= 0.1716, ten terms of the series leave less than 2^-55.
template <typename D>
[[gnu::always_inline]] inline D LogLanes(const D& x)
{
    D s;
    D kd;
    ReduceLog(x, s, kd);
    const D z = s * s;
    D p = SplatD<D>(1.0 / 19.0);
    p = p * z + 1.0 / 17.0;
    p = p * z + 1.0 / 15.0;
    p = p * z + 1.0 / 13.0;
    p = p * z + 1.0 / 11.0;
    p = p * z + 1.0 / 9.0;
    p = p * z + 1.0 / 7.0;
    p = p * z + 1.0 / 5.0;
    p = p * z + 1.0 / 3.0;
    p = p * z + 1.0;
    return kd * Ln2Hi + (2.0 * s * p + kd * Ln2Lo);
}

/// e^t for |t| < 87: t = k ln 2 + r, |r| <= 0.347, fourteen Taylor terms leave less than 2^-57.
template <typename D>
[[gnu::always_inline]] inline D ExpLanes(const D& t)
{
    using M = TMaskLanes<D>;
    const D shifted = t * 1.4426950408889634 + IntShifter;
    const M k = std::bit_cast<M>(shifted) - std::bit_cast<std::int64_t>(IntShifter);
    const D kd = shifted - IntShifter;
    const D r = (t - kd * Ln2Hi) - kd * Ln2Lo;
    D p = SplatD<D>(1.0 / 6227020800.0);  // 1/13!
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
    return p * std::bit_cast<D>((k + 1023) << 52);
}

/// fma(a, b, c) lane by lane: one rounding, the same result wherever it runs.
template <typename V, std::size_t N>
[[gnu::always_inline]] inline TWide<V, N> Fma(const TWide<V, N>& a, const TWide<V, N>& b,
                                              const TWide<V, N>& c)
{
    TWide<V, N> r;
    for (std::size_t i = 0; i < N; ++i)
        for (int j = 0; j < TWide<V, N>::Width; ++j)
            r.P[i][j] = __builtin_fma(a.P[i][j], b.P[i][j], c.P[i][j]);
    return r;
}

template <typename V, std::size_t N>
[[gnu::always_inline]] inline TWide<V, N> Fma(const TWide<V, N>& a, double b, double c)
{
    return Fma(a, SplatD<TWide<V, N>>(b), SplatD<TWide<V, N>>(c));
}

/// Lowered by tests to run the lesser kernels on a processor that has more.
inline TLaneKind LaneLimit = TLaneKind::lkAvx512;

/// The best version the processor runs, within LaneLimit. target_clones cannot pick them: their
/// code differs from the plain clones', not only its instructions, and an "arch=x86-64-v3" clone
/// would not say so inside the function.
inline TLaneKind LaneKind()
{
    static const TLaneKind has = [] {
        if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma"))
            return TLaneKind::lkPlain;
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
            __builtin_cpu_supports("avx512dq"))
            return TLaneKind::lkAvx512;
        return TLaneKind::lkFma;
    }();
    return std::min(has, LaneLimit);
}

/// Calls the version of a kernel that LaneKind() picks.
template <typename... TParams, typename... TArgs>
inline void RunLanes(void (*avx512)(TParams...), void (*fma)(TParams...), void (*plain)(TParams...),
                     TArgs&&... args)
{
    switch (LaneKind()) {
        case TLaneKind::lkAvx512:
            avx512(std::forward<TArgs>(args)...);
            break;
        case TLaneKind::lkFma:
            fma(std::forward<TArgs>(args)...);
            break;
        default:
            plain(std::forward<TArgs>(args)...);
            break;
    }
}

/// LogLanes with nine of its terms, summed with fused multiply-adds in Estrin's order (a third of
/// the chain).
template <typename D>
[[gnu::always_inline]] inline D LogLanesFma(const D& x)
{
    D s;
    D kd;
    ReduceLog(x, s, kd);
    const D z = s * s;
    const D z2 = z * z;
    const D z4 = z2 * z2;
    const D z8 = z4 * z4;
    const D a0 = Fma(z, 1.0 / 3.0, 1.0);
    const D a1 = Fma(z, 1.0 / 7.0, 1.0 / 5.0);
    const D a2 = Fma(z, 1.0 / 11.0, 1.0 / 9.0);
    const D a3 = Fma(z, 1.0 / 15.0, 1.0 / 13.0);
    const D p = Fma(z8, SplatD<D>(1.0 / 17.0), Fma(Fma(a3, z2, a2), z4, Fma(a1, z2, a0)));
    return Fma(kd, SplatD<D>(Ln2Hi), Fma(2.0 * s, p, kd * Ln2Lo));
}

/// ExpLanes with twelve of its terms, summed as in LogLanesFma.
template <typename D>
[[gnu::always_inline]] inline D ExpLanesFma(const D& t)
{
    using M = TMaskLanes<D>;
    const D shifted = Fma(t, 1.4426950408889634, IntShifter);
    const M k = std::bit_cast<M>(shifted) - std::bit_cast<std::int64_t>(IntShifter);
    const D kd = shifted - IntShifter;
    const D r = Fma(kd, SplatD<D>(-Ln2Lo), Fma(kd, SplatD<D>(-Ln2Hi), t));
    const D r2 = r * r;
    const D r4 = r2 * r2;
    const D r8 = r4 * r4;
    const D a0 = r + 1.0;
    const D a1 = Fma(r, 1.0 / 6.0, 0.5);
    const D a2 = Fma(r, 1.0 / 120.0, 1.0 / 24.0);
    const D a3 = Fma(r, 1.0 / 5040.0, 1.0 / 720.0);
    const D a4 = Fma(r, 1.0 / 362880.0, 1.0 / 40320.0);
    const D a5 = Fma(r, 1.0 / 39916800.0, 1.0 / 3628800.0);
    const D b0 = Fma(a1, r2, a0);
    const D b1 = Fma(a3, r2, a2);
    const D b2 = Fma(a5, r2, a4);
    const D p = Fma(b2, r8, Fma(b1, r4, b0));
    return p * std::bit_cast<D>((k + 1023) << 52);
}

/// Lanes whose float rounding PowerLanes can vouch for (see the top of this file).
template <typename D>
[[gnu::always_inline]] inline TMaskLanes<D> SafeLanes(const D& t, const D& y)
{
    using M = TMaskLanes<D>;
    const M fraction =
        (std::bit_cast<M>(y) & ((std::int64_t{1} << 29) - 1)) - (std::int64_t{1} << 28);
    const M far = (fraction > std::int64_t{1} << 13) | (fraction < -(std::int64_t{1} << 13));
    return far & (t < 87.0) & (t > -87.0);
}

/// The lanes of PowerLanes set in slow, through std::exp and std::log; out of line, so the
/// kernels' loops hold no calls.
template <typename F, typename D>
[[gnu::noinline, gnu::cold]] void PowerSlowLanes(F& out, const D& x, const D& e,
                                                 const TMaskLanes<D>& slow)
{
    for (int c = 0; c < 16; ++c)
        if (slow[c] != 0)
            out.Set(c, static_cast<float>(std::exp(e[c] * std::log(x[c]))));
}

/// (float) e^(e ln x) for x > 0 (infinity included) lane by lane, as glibc's std::exp and std::log
/// give it, as the float lanes F. Lanes not set in `wanted` are not computed exactly (they hold
/// whatever the polynomials gave). Kind picks the series: LogLanesFma and ExpLanesFma for code
/// compiled with FMA.
template <TLaneKind Kind, typename F, typename D>
[[gnu::always_inline]] inline F PowerLanes(const D& x, const D& e, const TMaskLanes<D>& wanted)
{
    D t;
    D y;
    if constexpr (Kind != TLaneKind::lkPlain) {
        t = e * LogLanesFma(x);
        y = ExpLanesFma(t);
    } else {
        t = e * LogLanes(x);
        y = ExpLanes(t);
    }
    F out = NarrowTo<F>(y);
    // An infinite base reads as 2^1024 to LogLanes, which a small exponent would turn into a
    // plausible finite t.
    const TMaskLanes<D> slow = wanted & ~(SafeLanes(t, y) & (x < __builtin_huge_val()));
    if (AnyLane(slow)) [[unlikely]]
        PowerSlowLanes(out, x, e, slow);
    return out;
}

/// PowerHdr lane by lane for float bases: 0 for bases not above 0, the base for exponent 1.
template <TLaneKind Kind, typename F>
[[gnu::always_inline]] inline F PowerHdrLanes(const F& base, const F& exponent,
                                              const TMaskLanes<F>& wanted)
{
    using D = TDoubleLanes<Kind>;
    const TMaskLanes<F> positive = base > 0.0f;
    const TMaskLanes<F> one = exponent == 1.0f;
    const TMaskLanes<F> compute = wanted & positive & ~one;
    // Bases that are not computed become 1, so no lane feeds NaN or infinity into the polynomial.
    const F safeBase = Select(compute, base, Splat<F>(1.0f));
    const F p =
        PowerLanes<Kind, F>(WidenTo<D>(safeBase), WidenTo<D>(exponent), WidenMask<D>(compute));
    const F kept = Select(one, base, p);
    return Select(positive, kept, Splat<F>(0.0f));
}

}  // namespace lumivex::detail
