#include "filters/LocalToneHdr.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "adjust/PowerLanes.h"
#include "adjust/ToneCurve.h"
#include "core/Parallel.h"
#include "core/Progress.h"
#include "filters/RowWindow.h"

namespace lumivex {

float SimilarityThreshold = 0.05f;
float MicroDetailsAmount = 0.0f;

namespace {

// Pixels per block of the vector kernels, two 8-lane vectors per channel. Each pixel keeps its
// own accumulators and adds its taps in the order of the definition, so vectors run across
// pixels, never across one sum.
constexpr int Lanes = 16;
constexpr std::size_t LineFloats = 16;  // a 64-byte cache line

// The bits a |difference| may have to pass |difference| <= threshold: for a threshold that is not
// negative (-0 counts as +0) its own bits; for a negative or NaN threshold, which nothing passes,
// -1.
std::int32_t LimitBits(float threshold)
{
    if (threshold >= 0.0f)
        return std::bit_cast<std::int32_t>(threshold + 0.0f);
    return -1;
}

// Ends a progress walk that started, however the routine leaves.
struct TProgressEnd {
    TProgressEnd() = default;
    TProgressEnd(const TProgressEnd&) = delete;
    TProgressEnd& operator=(const TProgressEnd&) = delete;
    ~TProgressEnd() { FilterProgress(psEnd, 0); }
};

// Same as ClampHdr, inlined into the per-pixel loop.
inline float Clamp01(float v) { return v > 0.0f ? (v >= 1.0f ? 1.0f : v) : 0.0f; }

// An infinite value (a sun in a float file) fails the similarity test even with itself, so its
// average and every operator give NaN, which would clamp to black; it saturates to white, as under
// the global curves.
inline float ToneChannel(TLocalToneFunc func, float value, float average)
{
    return value == std::numeric_limits<float>::infinity() ? 1.0f : Clamp01(func(value, average));
}

std::size_t RoundUp(std::size_t n, std::size_t step) { return (n + step - 1) / step * step; }

// Zero-filled floats starting on a 64-byte boundary.
class TLineBuffer {
public:
    explicit TLineBuffer(std::size_t floats) : m_data(floats + LineFloats, 0.0f)
    {
        const auto address = reinterpret_cast<std::uintptr_t>(m_data.data());
        const std::uintptr_t line = LineFloats * sizeof(float);
        m_base = m_data.data() + (RoundUp(address, line) - address) / sizeof(float);
    }
    TLineBuffer(const TLineBuffer&) = delete;
    TLineBuffer& operator=(const TLineBuffer&) = delete;
    float* Data() { return m_base; }
    const float* Data() const { return m_base; }

private:
    std::vector<float> m_data;
    float* m_base;
};

// The rows of the vertical arm, cut into tiles of Lanes columns. The tile of a block holds the
// B, G and R lanes (a cache line each) of every ring slot together, so a block reads its 2h + 1
// rows from consecutive lines rather than from 3 (2h + 1) rows far apart, which measured about
// twice as fast for wide images and large radii. Columns past the region's right edge stay 0
// (their lanes are computed and dropped).
class TTileRing {
public:
    TTileRing(TRect region, int h)
        : m_top(region.Top),
          m_bottom(region.Bottom),
          m_width(region.Width()),
          m_slots(std::min(2 * h + 1, region.Height())),
          m_chunks((region.Width() + Lanes - 1) / Lanes),
          m_buffer(static_cast<std::size_t>(m_slots) * static_cast<std::size_t>(m_chunks) * 3 *
                   Lanes)
    {
    }

    /// row: row k of the region from its left column.
    void Load(std::int32_t k, const TColorHdr* row)
    {
        float* tile = m_buffer.Data() + Slot(k);
        for (std::int32_t c = 0; c < m_chunks; ++c, tile += ChunkStride()) {
            const std::int32_t x0 = c * Lanes;
            const int n = std::min(Lanes, m_width - x0);
            for (int i = 0; i < n; ++i) {
                tile[i] = row[x0 + i].B;
                tile[Lanes + i] = row[x0 + i].G;
                tile[2 * Lanes + i] = row[x0 + i].R;
            }
        }
    }

    /// Row k clamped into the region: the B, G, R lanes of its first tile. The lanes of column x
    /// are ChunkStride() * (x / Lanes) + x % Lanes further.
    const float* Row(std::int32_t k) const
    {
        return m_buffer.Data() + Slot(std::clamp(k, m_top, m_bottom - 1));
    }

    std::ptrdiff_t ChunkStride() const { return static_cast<std::ptrdiff_t>(m_slots) * 3 * Lanes; }

private:
    std::size_t Slot(std::int32_t k) const
    {
        return static_cast<std::size_t>((k - m_top) % m_slots) * 3 * Lanes;
    }

    std::int32_t m_top;
    std::int32_t m_bottom;
    std::int32_t m_width;
    std::int32_t m_slots;
    std::int32_t m_chunks;
    TLineBuffer m_buffer;
};

// The row being written, channel by channel: planes B, G and R, each padded with h edge values
// on the left and h + Lanes on the right, for the horizontal arm and the centre.
class TRowPlanes {
public:
    TRowPlanes(TRect region, int h)
        : m_width(region.Width()),
          m_h(h),
          m_left(RoundUp(static_cast<std::size_t>(h), LineFloats)),
          m_stride(
              RoundUp(m_left + static_cast<std::size_t>(region.Width() + h + Lanes), LineFloats)),
          m_buffer(3 * m_stride)
    {
    }

    /// row: the padded copy of a row, indices -h .. width - 1 + h valid.
    void Load(const TColorHdr* row)
    {
        float* b = m_buffer.Data() + m_left - static_cast<std::size_t>(m_h);
        float* g = b + m_stride;
        float* r = g + m_stride;
        const std::ptrdiff_t count = m_width + 2 * m_h;
        const TColorHdr* p = row - m_h;
        for (std::ptrdiff_t i = 0; i < count; ++i) {
            b[i] = p[i].B;
            g[i] = p[i].G;
            r[i] = p[i].R;
        }
    }

    /// The B plane, index 0 at the left column; G and R follow at Stride() and 2 Stride().
    const float* Row() const { return m_buffer.Data() + m_left; }
    std::ptrdiff_t Stride() const { return static_cast<std::ptrdiff_t>(m_stride); }

private:
    std::int32_t m_width;
    int m_h;
    std::size_t m_left;    // floats before the region's left column
    std::size_t m_stride;  // floats from one plane to the next
    TLineBuffer m_buffer;
};

// What one band reads: the row window snapshots the rows other bands overwrite; the tiles and
// the planes hold the same values arranged for the vector kernels.
class TBandRows {
public:
    TBandRows(const TBmpHdr& image, TRect region, std::int32_t first, std::int32_t last, int h)
        : m_window(image, region, first, last, h, h),
          m_tiles(region, h),
          m_planes(region, h),
          m_bottom(region.Bottom),
          m_h(h),
          m_next(std::max(region.Top, first - h))
    {
    }

    /// Makes row y ready to be written: its planes and the tiles of rows y - h .. y + h.
    void Advance(std::int32_t y)
    {
        m_window.Advance(y);
        for (const std::int32_t need = std::min(m_bottom - 1, y + m_h); m_next <= need; ++m_next)
            m_tiles.Load(m_next, m_window.Row(m_next));
        m_planes.Load(m_window.Row(y));
    }

    const TTileRing& Tiles() const { return m_tiles; }
    const TRowPlanes& Planes() const { return m_planes; }

private:
    TRowWindow m_window;
    TTileRing m_tiles;
    TRowPlanes m_planes;
    std::int32_t m_bottom;
    int m_h;
    std::int32_t m_next;  // next row to cut into tiles
};

// Vector code. Lane-wise float operations round exactly like scalar ones. GCC's vector types
// rather than plain loops: with trapping math it will not turn a compare and select in a loop
// into vector code by itself.
using TVec8 = float __attribute__((vector_size(32)));
using TMask8 = std::int32_t __attribute__((vector_size(32)));
using TVec4d = double __attribute__((vector_size(32)));
using TVec4 = float __attribute__((vector_size(16)));
// The vector helpers are forced inline and cast with the builtin: without optimisation a real call
// (std::bit_cast's too) would pass 32-byte vectors between the AVX2 clone and code built without
// AVX, whose conventions differ.
#pragma GCC diagnostic ignored "-Wpsabi"
[[gnu::always_inline]] inline TVec8 Load8(const float* p)
{
    TVec8 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

[[gnu::always_inline]] inline void Store8(float* p, const TVec8& v)
{
    std::memcpy(p, &v, sizeof v);
}

// v where mask is set, +0 elsewhere.
[[gnu::always_inline]] inline TVec8 Keep8(const TVec8& v, const TMask8& mask)
{
    return __builtin_bit_cast(TVec8, __builtin_bit_cast(TMask8, v) & mask);
}

// The bits of |v|. For values that are not NaN they order like the values themselves, and every
// NaN lies above +infinity.
[[gnu::always_inline]] inline TMask8 AbsBits8(const TVec8& v)
{
    return __builtin_bit_cast(TMask8, v) & 0x7FFFFFFF;
}

// The two arms of a block of Lanes pixels at column x. Horizontal: the row planes (B at Row,
// G and R at Stride and 2 Stride), tap t at column x + t - h. Vertical: the tiles of the 2h + 1
// rows, tap t at Column[t] + Tile (B, G, R lanes at 0, Lanes, 2 Lanes).
struct TBlockArms {
    const float* Row;
    std::ptrdiff_t Stride;
    const float* const* Column;
    std::ptrdiff_t Tile;
    int H;
    std::ptrdiff_t X;
};

// Edge-preserving averages of the block, channel after channel into average: a tap enters only
// when B, G and R each lie within the threshold of the centre. That is tested on the bits: the
// largest of the three |differences| must not lie above limit (LimitBits), which also turns NaN
// away. A skipped tap adds +0, which leaves a sum that started at +0 unchanged, so the select is
// the definition's "if".
__attribute__((target_clones("avx2", "default"))) void SimilarAverage(const TBlockArms& arms,
                                                                      const float* weights,
                                                                      std::int32_t limit,
                                                                      float bias, float* average)
{
    constexpr int V = Lanes / 8;
    const int taps = 2 * arms.H + 1;
    const float* row = arms.Row + arms.X;
    const std::ptrdiff_t stride = arms.Stride;
    TVec8 cB[V], cG[V], cR[V];
    TVec8 sB[V] = {}, sG[V] = {}, sR[V] = {}, sW[V] = {};
    for (int v = 0; v < V; ++v) {
        cB[v] = Load8(row + 8 * v);
        cG[v] = Load8(row + stride + 8 * v);
        cR[v] = Load8(row + 2 * stride + 8 * v);
    }
    auto add = [&](const float* b, const float* g, const float* r, float w)
        __attribute__((always_inline))
    {
        const TVec8 wv = {w, w, w, w, w, w, w, w};
        for (int v = 0; v < V; ++v) {
            const TVec8 pB = Load8(b + 8 * v);
            const TVec8 pG = Load8(g + 8 * v);
            const TVec8 pR = Load8(r + 8 * v);
            const TMask8 dB = AbsBits8(pB - cB[v]);
            const TMask8 dG = AbsBits8(pG - cG[v]);
            const TMask8 dR = AbsBits8(pR - cR[v]);
            const TMask8 dBG = dB > dG ? dB : dG;
            const TMask8 similar = (dBG > dR ? dBG : dR) <= limit;
            sB[v] += Keep8(wv * pB, similar);
            sG[v] += Keep8(wv * pG, similar);
            sR[v] += Keep8(wv * pR, similar);
            sW[v] += Keep8(wv, similar);
        }
    };
    for (int t = 0; t < taps; ++t) {
        const float* p = row + (t - arms.H);
        add(p, p + stride, p + 2 * stride, weights[t]);
    }
    for (int t = 0; t < taps; ++t) {
        const float* p = arms.Column[t] + arms.Tile;
        add(p, p + Lanes, p + 2 * Lanes, weights[t]);
    }
    for (int v = 0; v < V; ++v) {
        Store8(average + 8 * v, sB[v] / sW[v] + bias);
        Store8(average + Lanes + 8 * v, sG[v] / sW[v] + bias);
        Store8(average + 2 * Lanes + 8 * v, sR[v] / sW[v] + bias);
    }
}

// Plain weighted averages of the block: the sums over both arms divided by divisor2
// (Divisor * 2).
__attribute__((target_clones("avx2", "default"))) void PlainAverage(const TBlockArms& arms,
                                                                    const float* weights,
                                                                    float divisor2, float bias,
                                                                    float* average)
{
    constexpr int V = Lanes / 8;
    const int taps = 2 * arms.H + 1;
    const float* row = arms.Row + arms.X;
    const std::ptrdiff_t stride = arms.Stride;
    TVec8 sB[V] = {}, sG[V] = {}, sR[V] = {};
    auto add = [&](const float* b, const float* g, const float* r, float w)
        __attribute__((always_inline))
    {
        for (int v = 0; v < V; ++v) {
            sB[v] += w * Load8(b + 8 * v);
            sG[v] += w * Load8(g + 8 * v);
            sR[v] += w * Load8(r + 8 * v);
        }
    };
    for (int t = 0; t < taps; ++t) {
        const float* p = row + (t - arms.H);
        add(p, p + stride, p + 2 * stride, weights[t]);
    }
    for (int t = 0; t < taps; ++t) {
        const float* p = arms.Column[t] + arms.Tile;
        add(p, p + Lanes, p + 2 * Lanes, weights[t]);
    }
    for (int v = 0; v < V; ++v) {
        Store8(average + 8 * v, sB[v] / divisor2 + bias);
        Store8(average + Lanes + 8 * v, sG[v] / divisor2 + bias);
        Store8(average + 2 * Lanes + 8 * v, sR[v] / divisor2 + bias);
    }
}

// ClampHdr(MicroDetailsFunc(z, average)) for the block, in double as MicroDetailsFunc computes
// it; z from the row planes (B at row, G and R at stride and 2 stride).
__attribute__((target_clones("avx2", "default"))) void MicroDetailsLanes(
    const float* row, std::ptrdiff_t stride, const float* average, double amount, float* result)
{
    const TVec4 zero{};
    const TVec4 one = zero + 1.0f;
    for (int c = 0; c < 3; ++c) {
        for (int i = 0; i < Lanes; i += 4) {
            TVec4 z;
            TVec4 a;
            std::memcpy(&z, row + c * stride + i, sizeof z);
            std::memcpy(&a, average + c * Lanes + i, sizeof a);
            const TVec4d v = __builtin_convertvector(z, TVec4d);
            const TVec4d m = (v - __builtin_convertvector(a, TVec4d)) * amount + v;
            const TVec4 f = __builtin_convertvector(m, TVec4);
            const TVec4 clamped = f > zero ? (f >= one ? one : f) : zero;
            std::memcpy(result + c * Lanes + i, &clamped, sizeof clamped);
        }
    }
}

// ToneChannel(LocalReinhard or LocalLogaritmic, factor z, factor average) for the 16 lanes of a
// block, bit for bit. Both operators are float(exp(G L + t)) with t = float(ln v - ln a) and L =
// ln u or ln a, in glibc's double exp and log. The lanes run the FMA kernels' series instead:
// each log within 2^-49 of glibc's relative to the result, exp within 2^-46.5. A lane is kept only
// when every value that close rounds to the same float: t when t - M and t + M (M a bound on the
// difference from glibc's, with room) give one float, the result when y (1 - R) and y (1 + R)
// clamp to one float. v == a gives t = 0 in both. All other lanes, and those outside the series'
// domain (zero, negative, infinite or NaN inputs, |exponent| beyond 87), take the scalar call.
namespace lanes {

using namespace detail;

template <TLaneKind Kind, bool Reinhard>
[[gnu::always_inline]] inline void ToneBlockOf(TLocalToneFunc func, const float* z,
                                               const float* average, float factor, float* out)
{
    using F = TFloatLanes<Kind>;
    using D = TDoubleLanes<Kind>;
    F v;
    F a;
    std::memcpy(&v, z, sizeof v);
    std::memcpy(&a, average, sizeof a);
    v = v * factor;
    a = a * factor;
    constexpr float Inf = std::numeric_limits<float>::infinity();
    const TMaskLanes<F> usable = (v > 0.0f) & (v < Inf) & (a > 0.0f) & (a < Inf);
    // Lanes that are not computed see 1, so no NaN or infinity enters the series.
    const D vd = WidenTo<D>(Select(usable, v, Splat<F>(1.0f)));
    const D ad = WidenTo<D>(Select(usable, a, Splat<F>(1.0f)));
    const D lv = LogLanesFma(vd);
    const D la = LogLanesFma(ad);
    const D td = lv - la;
    const auto magnitude = [](const D& x) __attribute__((always_inline))
    {
        return Select(x < 0.0, 0.0 - x, x);
    };
    const D m = (magnitude(lv) + magnitude(la)) * 0x1p-48 + magnitude(td) * 0x1p-51;
    const F t = NarrowTo<F>(td);
    TMaskLanes<D> fast =
        WidenMask<D>(usable & ((NarrowTo<F>(td - m) == NarrowTo<F>(td + m)) | (v == a)));
    D l = la;
    if constexpr (Reinhard) {
        const F u = NarrowTo<F>(vd / (static_cast<double>(ReinhardKey) + ad));
        const TMaskLanes<F> positive = u > 0.0f;
        fast = fast & WidenMask<D>(positive);
        l = LogLanesFma(WidenTo<D>(Select(positive, u, Splat<F>(1.0f))));
    }
    const D gl = static_cast<double>(GammaExponent) * l;
    const D e = gl + WidenTo<D>(t);
    const D y = ExpLanesFma(e);
    const D r = magnitude(gl) * 0x1p-48 + magnitude(e) * 0x1p-51 + 0x1p-46;
    const F low = ClampLanes(NarrowTo<F>(y - y * r));
    const F high = ClampLanes(NarrowTo<F>(y + y * r));
    fast =
        fast & WidenMask<D>(low == high) & (e < 87.0) & (e > -87.0) & (gl < 700.0) & (gl > -700.0);
    std::memcpy(out, &low, sizeof low);
    if (AnyLane(~fast)) [[unlikely]] {
        for (int c = 0; c < 16; ++c)
            if (fast[c] == 0)
                out[c] = ToneChannel(func, v[c], a[c]);
    }
}

__attribute__((target("avx512f,avx512vl,avx512dq,avx2,fma"))) void ToneBlockAvx512(
    TLocalToneFunc func, bool reinhard, const float* z, const float* average, float factor,
    float* out)
{
    if (reinhard)
        ToneBlockOf<TLaneKind::lkAvx512, true>(func, z, average, factor, out);
    else
        ToneBlockOf<TLaneKind::lkAvx512, false>(func, z, average, factor, out);
}

__attribute__((target("avx2,fma"))) void ToneBlockFma(TLocalToneFunc func, bool reinhard,
                                                      const float* z, const float* average,
                                                      float factor, float* out)
{
    if (reinhard)
        ToneBlockOf<TLaneKind::lkFma, true>(func, z, average, factor, out);
    else
        ToneBlockOf<TLaneKind::lkFma, false>(func, z, average, factor, out);
}

// Without FMA: the scalar calls, as the definition makes them.
void ToneBlockPlain(TLocalToneFunc func, bool, const float* z, const float* average, float factor,
                    float* out)
{
    for (int c = 0; c < 16; ++c)
        out[c] = ToneChannel(func, factor * z[c], factor * average[c]);
}

}  // namespace lanes

// One walk for both routines: toneMap selects the edge-preserving average and the exposure.
void LocalWalk(TBmpHdr* image, const TFilterMatrix* kernel, TRect rect, TLocalToneFunc func,
               bool toneMap, std::int8_t exposure)
{
    if (kernel == nullptr || func == nullptr || kernel->Width == 0 || kernel->Height != 1 ||
        kernel->Values.size() != kernel->Width || !ClipRectHdr(image, rect))
        return;
    if (!FilterProgress(psStart, rect.Height()))
        return;
    TProgressEnd end;
    const float factor = toneMap ? ExposureFactor(exposure) : 1.0f;
    const int h = kernel->HalfWidth();
    const std::int32_t width = rect.Width();
    const std::int32_t limit = LimitBits(SimilarityThreshold);
    const float bias = kernel->Bias;
    const float divisor2 = kernel->Divisor * 2.0f;
    const double amount = MicroDetailsAmount;
    const bool vectorFunc = !toneMap && func == MicroDetailsFunc;
    const bool reinhard = func == LocalReinhard;
    const bool vectorTone = toneMap && (reinhard || func == LocalLogaritmic);
    const float* weights = kernel->Values.data();  // tap t of either arm: Values[t]

    std::vector<std::unique_ptr<TBandRows>> bands;
    ProgressBands(
        rect.Height(), BandCount(rect.Height(), 1),
        [&](int, std::int64_t first, std::int64_t last) {
            bands.push_back(std::make_unique<TBandRows>(
                *image, rect, rect.Top + static_cast<std::int32_t>(first),
                rect.Top + static_cast<std::int32_t>(last), h));
        },
        [&](int band, std::int64_t first, std::int64_t last, TStepGate& gate) {
            TBandRows& rows = *bands[static_cast<std::size_t>(band)];
            const TTileRing& tiles = rows.Tiles();
            const TRowPlanes& planes = rows.Planes();
            const std::ptrdiff_t stride = planes.Stride();
            std::vector<const float*> column(static_cast<std::size_t>(2 * h + 1));
            float average[3 * Lanes];
            float result[3 * Lanes];
            for (std::int64_t i = first; i < last; ++i) {
                if (!gate.Step())
                    return;
                const std::int32_t y = rect.Top + static_cast<std::int32_t>(i);
                rows.Advance(y);
                for (int t = 0; t <= 2 * h; ++t)
                    column[static_cast<std::size_t>(t)] = tiles.Row(y - h + t);
                TColorHdr* line = image->Pixels[static_cast<std::size_t>(y)].data() + rect.Left;
                for (std::int32_t x = 0; x < width; x += Lanes) {
                    const int n = std::min(Lanes, width - x);
                    const TBlockArms arms{planes.Row(),
                                          stride,
                                          column.data(),
                                          tiles.ChunkStride() * (x / Lanes),
                                          h,
                                          x};
                    TColorHdr* out = line + x;
                    const float* zB = planes.Row() + x;
                    if (toneMap)
                        SimilarAverage(arms, weights, limit, bias, average);
                    else
                        PlainAverage(arms, weights, divisor2, bias, average);
                    if (vectorFunc || vectorTone) {
                        if (vectorFunc)
                            MicroDetailsLanes(zB, stride, average, amount, result);
                        else
                            for (int c = 0; c < 3; ++c)
                                detail::RunLanes(lanes::ToneBlockAvx512, lanes::ToneBlockFma,
                                                 lanes::ToneBlockPlain, func, reinhard,
                                                 zB + c * stride, average + c * Lanes, factor,
                                                 result + c * Lanes);
                        for (int j = 0; j < n; ++j) {
                            out[j].B = result[j];
                            out[j].G = result[Lanes + j];
                            out[j].R = result[2 * Lanes + j];
                        }
                        continue;
                    }
                    // Other operators are called one value at a time.
                    const float* zG = zB + stride;
                    const float* zR = zG + stride;
                    const float* aB = average;
                    const float* aG = average + Lanes;
                    const float* aR = average + 2 * Lanes;
                    if (toneMap) {
                        for (int j = 0; j < n; ++j) {
                            out[j].B = ToneChannel(func, factor * zB[j], factor * aB[j]);
                            out[j].G = ToneChannel(func, factor * zG[j], factor * aG[j]);
                            out[j].R = ToneChannel(func, factor * zR[j], factor * aR[j]);
                        }
                    } else {
                        for (int j = 0; j < n; ++j) {
                            out[j].B = Clamp01(func(zB[j], aB[j]));
                            out[j].G = Clamp01(func(zG[j], aG[j]));
                            out[j].R = Clamp01(func(zR[j], aR[j]));
                        }
                    }
                }
            }
        });
}

}  // namespace

void LocalToneMapHdr(TBmpHdr* image, const TFilterMatrix* kernel, TRect rect, TLocalToneFunc func,
                     std::int8_t exposure)
{
    LocalWalk(image, kernel, rect, func, true, exposure);
}

void MicroDetailsHdr(TBmpHdr* image, const TFilterMatrix* kernel, TRect rect, TLocalToneFunc func)
{
    LocalWalk(image, kernel, rect, func, false, 0);
}

float LocalLogaritmic(float value, float average)
{
    if (value == 0.0f)
        return 0.0f;
    const double lnA = std::log(static_cast<double>(average));
    const auto t = static_cast<float>(std::log(static_cast<double>(value)) - lnA);
    return static_cast<float>(std::exp(static_cast<double>(GammaExponent) * lnA + t));
}

float LocalReinhard(float value, float average)
{
    if (value == 0.0f)
        return 0.0f;
    const auto v = static_cast<double>(value);
    const auto a = static_cast<double>(average);
    const auto t = static_cast<float>(std::log(v) - std::log(a));
    const auto u = static_cast<float>(v / (static_cast<double>(ReinhardKey) + a));
    return static_cast<float>(
        std::exp(static_cast<double>(GammaExponent) * std::log(static_cast<double>(u)) + t));
}

float LocalJimRichard(float value, float average)
{
    const auto v = static_cast<double>(value);
    if (v <= 0.004)
        return 0.0f;
    const double shiftedV = v - 0.004;
    const double shiftedA = static_cast<double>(average) - 0.004;
    const auto p = static_cast<double>(
        static_cast<float>(static_cast<double>(FilmicScale) * (0.0 > shiftedV ? 0.0 : shiftedV)));
    const auto q = static_cast<double>(
        static_cast<float>(static_cast<double>(FilmicScale) * (0.0 > shiftedA ? 0.0 : shiftedA)));
    return static_cast<float>(((6.2 * p + 0.5) * p) / ((6.2 * q + 1.7) * q + 0.06));
}

float MicroDetailsFunc(float value, float average)
{
    const auto v = static_cast<double>(value);
    return static_cast<float>(
        (v - static_cast<double>(average)) * static_cast<double>(MicroDetailsAmount) + v);
}

}  // namespace lumivex
