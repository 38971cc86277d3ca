#include "filters/ConvolutionHdr.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "core/Parallel.h"
#include "core/Progress.h"
#include "filters/RowWindow.h"

namespace lumivex {
namespace {

// The widest kernel the 16-bit sizes hold is 2 * 32767 + 1.
constexpr double MaxKernelRadius = 32767.0;

// Vector code: one accumulator lane per pixel channel, so each channel's sum keeps its own
// order; lane-wise float multiply and add round exactly like the scalar operations.
using TVec8 = float __attribute__((vector_size(32)));
// Load8 and Store8 are forced inline (also without optimisation), so the vector calling
// convention they would have without AVX never crosses a call.
#pragma GCC diagnostic ignored "-Wpsabi"
constexpr std::int64_t BlockFloats = 64;  // 16 pixels, eight 8-lane accumulators

[[gnu::always_inline]] inline TVec8 Load8(const float* p)
{
    TVec8 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

[[gnu::always_inline]] inline void Store8(float* p, TVec8 v) { std::memcpy(p, &v, sizeof v); }

// acc[k] += w[t] * src[t * tapStride + k] for t in order, k in [0, count).
__attribute__((target_clones("avx2", "default"))) void AccumulateTaps(float* acc, const float* src,
                                                                      std::ptrdiff_t tapStride,
                                                                      const float* w, int taps,
                                                                      std::int64_t count)
{
    std::int64_t k = 0;
    for (; k + BlockFloats <= count; k += BlockFloats) {
        TVec8 a0 = Load8(acc + k), a1 = Load8(acc + k + 8), a2 = Load8(acc + k + 16),
              a3 = Load8(acc + k + 24), a4 = Load8(acc + k + 32), a5 = Load8(acc + k + 40),
              a6 = Load8(acc + k + 48), a7 = Load8(acc + k + 56);
        const float* s = src + k;
        for (int t = 0; t < taps; ++t, s += tapStride) {
            const float wt = w[t];
            a0 += wt * Load8(s);
            a1 += wt * Load8(s + 8);
            a2 += wt * Load8(s + 16);
            a3 += wt * Load8(s + 24);
            a4 += wt * Load8(s + 32);
            a5 += wt * Load8(s + 40);
            a6 += wt * Load8(s + 48);
            a7 += wt * Load8(s + 56);
        }
        Store8(acc + k, a0);
        Store8(acc + k + 8, a1);
        Store8(acc + k + 16, a2);
        Store8(acc + k + 24, a3);
        Store8(acc + k + 32, a4);
        Store8(acc + k + 40, a5);
        Store8(acc + k + 48, a6);
        Store8(acc + k + 56, a7);
    }
    for (; k + 8 <= count; k += 8) {
        TVec8 a = Load8(acc + k);
        const float* s = src + k;
        for (int t = 0; t < taps; ++t, s += tapStride)
            a += w[t] * Load8(s);
        Store8(acc + k, a);
    }
    for (; k < count; ++k) {
        float a = acc[k];
        const float* s = src + k;
        for (int t = 0; t < taps; ++t, s += tapStride)
            a += w[t] * *s;
        acc[k] = a;
    }
}

// B, G, R := ClampHdr(acc / divisor + bias); alpha stays. Two pixels at a time: the alpha
// lanes are worked out too and then replaced by the target's alpha.
__attribute__((target_clones("avx2", "default"))) void StoreClamped(TColorHdr* target,
                                                                    const float* acc,
                                                                    std::int64_t pixels,
                                                                    float divisor, float bias)
{
    static_assert(sizeof(TColorHdr) == 4 * sizeof(float) && offsetof(TColorHdr, A) == 12);
    const TVec8 d = TVec8{} + divisor;
    const TVec8 b = TVec8{} + bias;
    const TVec8 zero{};
    const TVec8 one = zero + 1.0f;
    using TMask8 = std::int32_t __attribute__((vector_size(32)));
    const TMask8 alpha{0, 0, 0, -1, 0, 0, 0, -1};
    float* out = reinterpret_cast<float*>(target);
    std::int64_t x = 0;
    for (; x + 2 <= pixels; x += 2) {
        const TVec8 v = Load8(acc + 4 * x) / d + b;
        TVec8 c = v >= one ? one : v;
        c = v > zero ? c : zero;
        c = alpha != 0 ? Load8(out + 4 * x) : c;
        Store8(out + 4 * x, c);
    }
    for (; x < pixels; ++x) {
        const float* a = acc + 4 * x;
        target[x].B = ClampHdr(a[0] / divisor + bias);
        target[x].G = ClampHdr(a[1] / divisor + bias);
        target[x].R = ClampHdr(a[2] / divisor + bias);
    }
}

// Splits pixels into B, G and R planes of `stride` floats each, with `pad` repeated edge values
// on both sides: wide kernels then spend no work on alpha.
__attribute__((target_clones("avx2", "default"))) void SplitPlanes(const TColorHdr* source,
                                                                   std::int64_t pixels,
                                                                   std::int64_t pad,
                                                                   std::int64_t stride,
                                                                   float* planes)
{
    float* b = planes + pad;
    float* g = b + stride;
    float* r = g + stride;
    for (std::int64_t x = 0; x < pixels; ++x) {
        b[x] = source[x].B;
        g[x] = source[x].G;
        r[x] = source[x].R;
    }
    for (float* p : {b, g, r}) {
        std::fill(p - pad, p, p[0]);
        std::fill(p + pixels, p + pixels + pad, p[pixels - 1]);
    }
}

// B, G, R := ClampHdr(plane / divisor + bias) from planes `stride` floats apart.
__attribute__((target_clones("avx2", "default"))) void StorePlanes(TColorHdr* target,
                                                                   const float* acc,
                                                                   std::int64_t pixels,
                                                                   std::int64_t stride,
                                                                   float divisor, float bias)
{
    const auto clamp = [](float v) { return v > 0.0f ? (v >= 1.0f ? 1.0f : v) : 0.0f; };
    for (std::int64_t x = 0; x < pixels; ++x) {
        target[x].B = clamp(acc[x] / divisor + bias);
        target[x].G = clamp(acc[x + stride] / divisor + bias);
        target[x].R = clamp(acc[x + 2 * stride] / divisor + bias);
    }
}

const float* Floats(const TColorHdr* p) { return reinterpret_cast<const float*>(p); }

// Ends a progress walk that started, however the pass leaves.
struct TProgressEnd {
    ~TProgressEnd() { FilterProgress(psEnd, 0); }
};

bool IsRowKernel(const TFilterMatrix* kernel)
{
    return kernel != nullptr && kernel->Width > 0 && kernel->Height == 1 &&
           kernel->Values.size() == kernel->Width;
}

// Rows per band: enough work per band that starting threads pays.
std::int64_t MinRowsPerBand(std::int64_t rowPixels, std::int64_t taps)
{
    return std::max<std::int64_t>(1, 200000 / std::max<std::int64_t>(1, rowPixels * taps));
}

bool RegionIsFinite(const TBmpHdr& image, TRect rect)
{
    for (std::int32_t y = rect.Top; y < rect.Bottom; ++y) {
        const TColorHdr* row = image.Pixels[static_cast<std::size_t>(y)].data();
        for (std::int32_t x = rect.Left; x < rect.Right; ++x)
            if (!std::isfinite(row[x].B) || !std::isfinite(row[x].G) || !std::isfinite(row[x].R))
                return false;
    }
    return true;
}

// Nonzero span of each kernel row. A zero weight times a finite value adds +-0 to a sum that is
// never -0, so leaving it out changes nothing; with infinities or NaN every tap must stay.
struct TTapSpan {
    int First;
    int Count;
};

std::vector<TTapSpan> KernelSpans(const TFilterMatrix& kernel, bool trimZeros)
{
    std::vector<TTapSpan> spans;
    for (int j = 0; j < kernel.Height; ++j) {
        int first = 0;
        int last = kernel.Width - 1;
        if (trimZeros) {
            while (first <= last && kernel.GetValue(first, j) == 0.0f)
                ++first;
            while (last >= first && kernel.GetValue(last, j) == 0.0f)
                --last;
        }
        spans.push_back(TTapSpan{first, last - first + 1});
    }
    return spans;
}

// Powers of the profiles, in double: exponent 0 gives 1, a zero base 0.
double Power(double base, double exponent)
{
    if (exponent == 0.0)
        return 1.0;
    if (base == 0.0 && exponent > 0.0)
        return 0.0;
    return std::exp(exponent * std::log(base));
}

int CeilRadius(float radius)
{
    if (!(radius > 0.0f))
        return 0;
    return static_cast<int>(std::min(std::ceil(static_cast<double>(radius)), MaxKernelRadius));
}

std::unique_ptr<TFilterMatrix> SizedMatrix(float radiusX, float radiusY)
{
    return std::make_unique<TFilterMatrix>(static_cast<std::uint16_t>(2 * CeilRadius(radiusX) + 1),
                                           static_cast<std::uint16_t>(2 * CeilRadius(radiusY) + 1));
}

// Fills the taps within distance R = the larger rounded-up radius with profile(R - d); the rest
// stay 0.
template <typename TProfile>
void FillRadial(TFilterMatrix& m, float radiusX, float radiusY, TProfile profile)
{
    const int r = std::max(CeilRadius(radiusX), CeilRadius(radiusY));
    for (int j = 0; j < m.Height; ++j)
        for (int i = 0; i < m.Width; ++i) {
            const double dx = m.HalfWidth() - i;
            const double dy = m.HalfHeight() - j;
            const auto d = static_cast<float>(std::sqrt(dx * dx + dy * dy));
            if (d <= static_cast<float>(r))
                m.SetValue(i, j, static_cast<float>(profile(r - static_cast<double>(d))));
        }
}

float& Centre(TFilterMatrix& m) { return m.Values[m.Width / 2 + m.Width * (m.Height / 2)]; }

float ClampSensitivity(float s)
{
    s = s < 1.0f ? s : 1.0f;  // NaN becomes 1, as min(NaN, 1) picks the bound
    return s > 0.0f ? s : 0.0f;
}

float CentreWeightOf(float sensitivity)
{
    return static_cast<float>(12.0 * ClampSensitivity(sensitivity) + 1.0);
}

float AmountOf(float sensitivity)
{
    return static_cast<float>(1.23 + ClampSensitivity(sensitivity));
}

bool FastRadiusOk(float radius)
{
    return radius > 0.0f && static_cast<double>(radius) <= MaxKernelRadius;
}

bool FullRadiiOk(float radiusX, float radiusY)
{
    // NaN fails both comparisons, so it is refused like a negative radius.
    const auto ok = [](float r) { return r >= 0.0f && static_cast<double>(r) <= MaxKernelRadius; };
    return ok(radiusX) && ok(radiusY) && !(radiusX == 0.0f && radiusY == 0.0f);
}

bool HasRegion(const TBmpHdr* image, TRect rect) { return ClipRectHdr(image, rect); }

// The one-row kernel along rows, then along columns, each pass with its own progress walk.
void RunFast(TBmpHdr* image, TRect rect, const std::unique_ptr<TFilterMatrix>& kernel)
{
    ConvolveRows(image, kernel.get(), rect);
    ConvolveColumns(image, kernel.get(), rect);
}

}  // namespace

TFilterMatrix::TFilterMatrix(std::uint16_t width, std::uint16_t height)
    : Values(static_cast<std::size_t>(width) * height, 0.0f), Width(width), Height(height)
{
}

float TFilterMatrix::Sum() const
{
    float sum = 0.0f;
    for (const float v : Values)
        sum += v;
    return sum;
}

void TBufferList::FillBuffers(const void* source, std::uint16_t count)
{
    m_buffers.clear();
    const auto size = static_cast<std::size_t>(std::max(BufferSize, 0));
    for (int i = 0; i < count; ++i) {
        m_buffers.push_back(std::make_unique<std::byte[]>(size));
        if (i > 0)
            std::memcpy(m_buffers.back().get(), source, size);
    }
}

void TBufferList::PushBuffer(const void* source)
{
    if (m_buffers.empty())
        return;
    std::rotate(m_buffers.begin(), m_buffers.begin() + 1, m_buffers.end());
    std::memcpy(m_buffers.back().get(), source, static_cast<std::size_t>(std::max(BufferSize, 0)));
}

void ConvolveRows(TBmpHdr* image, const TFilterMatrix* kernel, TRect rect)
{
    if (!IsRowKernel(kernel) || !ClipRectHdr(image, rect))
        return;
    const std::int32_t width = rect.Width();
    const int h = kernel->HalfWidth();
    const int taps = 2 * h + 1;
    if (!FilterProgress(psStart, rect.Height()))
        return;
    TProgressEnd end;
    const TFilterMatrix& k = *kernel;
    ProgressBands(
        rect.Height(), BandCount(rect.Height(), MinRowsPerBand(width, taps)),
        [](int, std::int64_t, std::int64_t) {},
        [&](int, std::int64_t first, std::int64_t last, TStepGate& gate) {
            const std::int64_t stride = width + 2 * h;
            std::vector<float> planes(static_cast<std::size_t>(3 * stride));
            std::vector<float> acc(static_cast<std::size_t>(3 * width));
            for (std::int64_t i = first; i < last; ++i) {
                if (!gate.Step())
                    return;
                TColorHdr* row =
                    image->Pixels[static_cast<std::size_t>(rect.Top + i)].data() + rect.Left;
                SplitPlanes(row, width, h, stride, planes.data());
                std::fill(acc.begin(), acc.end(), 0.0f);
                for (int c = 0; c < 3; ++c)
                    AccumulateTaps(&acc[static_cast<std::size_t>(c * width)],
                                   &planes[static_cast<std::size_t>(c * stride)], 1,
                                   k.Values.data(), taps, width);
                StorePlanes(row, acc.data(), width, width, k.Divisor, k.Bias);
            }
        });
}

void ConvolveColumns(TBmpHdr* image, const TFilterMatrix* kernel, TRect rect)
{
    if (!IsRowKernel(kernel) || !ClipRectHdr(image, rect))
        return;
    const std::int32_t height = rect.Height();
    const int h = kernel->HalfWidth();
    const int taps = 2 * h + 1;
    if (!FilterProgress(psStart, rect.Width()))
        return;
    TProgressEnd end;
    const TFilterMatrix& k = *kernel;
    // Strips of columns walk down the image together, every load feeding 16 pixels. The
    // original rows of the window are kept in a ring of 2h + 1 strip rows, as wide as lets it
    // stay in the first-level cache. A row is copied in before the pass writes it: every window
    // row at or below the row written, and the top rows, were copied before.
    const std::int32_t Strip =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(16384 / (taps * 16 * 16) * 16, 16, 64));
    ProgressBands(
        rect.Width(),
        BandCount(rect.Width(), std::max<std::int64_t>(Strip, MinRowsPerBand(height, taps))),
        [](int, std::int64_t, std::int64_t) {},
        [&](int, std::int64_t first, std::int64_t last, TStepGate& gate) {
            const std::int64_t rowFloats = 4 * Strip;
            std::vector<float> ring(static_cast<std::size_t>(taps * rowFloats));
            std::vector<float> acc(static_cast<std::size_t>(rowFloats));
            for (std::int64_t x0 = first; x0 < last; x0 += Strip) {
                std::int32_t count = 0;
                while (count < std::min<std::int64_t>(Strip, last - x0) && gate.Step())
                    ++count;
                if (count == 0)
                    return;
                const std::size_t bytes = static_cast<std::size_t>(count) * sizeof(TColorHdr);
                const std::int32_t left = rect.Left + static_cast<std::int32_t>(x0);
                const auto slotAt = [&](std::int32_t slot) {
                    return &ring[static_cast<std::size_t>(slot) *
                                 static_cast<std::size_t>(rowFloats)];
                };
                // Window row j (from -h) goes to slot (j + h) mod taps.
                const auto copyIn = [&](std::int32_t j) {
                    const std::int32_t y = rect.Top + std::clamp(j, 0, height - 1);
                    std::memcpy(slotAt((j + h) % taps),
                                image->Pixels[static_cast<std::size_t>(y)].data() + left, bytes);
                };
                constexpr std::int32_t Ahead = 8;
                for (std::int32_t j = -h; j < h; ++j)
                    copyIn(j);
                for (std::int32_t y = 0; y < height; ++y) {
                    // Rows a few steps ahead are asked for now: one row's work is too short
                    // to hide a miss on its own.
                    if (y + h + Ahead < height) {
                        const char* ahead = reinterpret_cast<const char*>(
                            image->Pixels[static_cast<std::size_t>(rect.Top + y + h + Ahead)]
                                .data() +
                            left);
                        for (std::size_t at = 0; at < bytes; at += 64)
                            __builtin_prefetch(ahead + at);
                    }
                    copyIn(y + h);
                    // The window starts at slot y mod taps and wraps round: its taps are added
                    // in order all the same.
                    const std::int32_t top = y % taps;
                    std::fill(acc.begin(), acc.end(), 0.0f);
                    AccumulateTaps(acc.data(), slotAt(top), rowFloats, k.Values.data(), taps - top,
                                   4 * count);
                    AccumulateTaps(acc.data(), slotAt(0), rowFloats, k.Values.data() + (taps - top),
                                   top, 4 * count);
                    StoreClamped(
                        image->Pixels[static_cast<std::size_t>(rect.Top + y)].data() + left,
                        acc.data(), count, k.Divisor, k.Bias);
                }
                if (count < std::min<std::int64_t>(Strip, last - x0))
                    return;
            }
        });
}

void ConvolveMatrix(TBmpHdr* image, const TFilterMatrix* kernel, TRect rect)
{
    if (kernel == nullptr || kernel->Width == 0 || kernel->Height == 0 ||
        kernel->Values.size() != static_cast<std::size_t>(kernel->Width) * kernel->Height ||
        !ClipRectHdr(image, rect))
        return;
    const std::int32_t width = rect.Width();
    const int h = kernel->HalfWidth();
    const int v = kernel->HalfHeight();
    if (!FilterProgress(psStart, rect.Height()))
        return;
    TProgressEnd end;
    const TFilterMatrix& k = *kernel;
    const std::vector<TTapSpan> spans = KernelSpans(k, RegionIsFinite(*image, rect));
    std::vector<std::unique_ptr<TRowWindow>> windows;
    ProgressBands(
        rect.Height(),
        BandCount(rect.Height(), MinRowsPerBand(width, std::int64_t{k.Width} * k.Height)),
        [&](int, std::int64_t first, std::int64_t last) {
            windows.push_back(std::make_unique<TRowWindow>(
                *image, rect, rect.Top + static_cast<std::int32_t>(first),
                rect.Top + static_cast<std::int32_t>(last), v, h));
        },
        [&](int band, std::int64_t first, std::int64_t last, TStepGate& gate) {
            TRowWindow& window = *windows[static_cast<std::size_t>(band)];
            std::vector<float> acc(static_cast<std::size_t>(4 * width));
            for (std::int64_t i = first; i < last; ++i) {
                if (!gate.Step())
                    return;
                const std::int32_t y = rect.Top + static_cast<std::int32_t>(i);
                window.Advance(y);
                std::fill(acc.begin(), acc.end(), 0.0f);
                for (int j = 0; j < k.Height; ++j) {
                    const TTapSpan span = spans[static_cast<std::size_t>(j)];
                    if (span.Count <= 0)
                        continue;
                    AccumulateTaps(acc.data(), Floats(window.Row(y - v + j) + span.First - h), 4,
                                   &k.Values[static_cast<std::size_t>(j * k.Width + span.First)],
                                   span.Count, 4 * width);
                }
                StoreClamped(image->Pixels[static_cast<std::size_t>(y)].data() + rect.Left,
                             acc.data(), width, k.Divisor, k.Bias);
            }
        });
}

std::unique_ptr<TFilterMatrix> MakeBoxMatrix(float radiusX, float radiusY)
{
    std::unique_ptr<TFilterMatrix> m = SizedMatrix(radiusX, radiusY);
    std::fill(m->Values.begin(), m->Values.end(), 1.0f);
    m->Divisor = static_cast<float>(m->Width * m->Height);
    return m;
}

std::unique_ptr<TFilterMatrix> MakeGaussMatrix(float radiusX, float radiusY, float exponent,
                                               float centerWeight)
{
    std::unique_ptr<TFilterMatrix> m = SizedMatrix(radiusX, radiusY);
    FillRadial(*m, radiusX, radiusY,
               [&](double rd) { return Power(rd, static_cast<double>(exponent)) + 1.0; });
    Centre(*m) *= centerWeight;
    m->Divisor = m->Sum();
    return m;
}

std::unique_ptr<TFilterMatrix> MakeSharpenMatrix(float radiusX, float radiusY, float exponent,
                                                 float amount)
{
    std::unique_ptr<TFilterMatrix> m = SizedMatrix(radiusX, radiusY);
    FillRadial(*m, radiusX, radiusY,
               [&](double rd) { return -(Power(rd, static_cast<double>(exponent)) + 1.0); });
    const float sum = m->Sum();
    Centre(*m) =
        static_cast<float>(-static_cast<double>(amount) * (static_cast<double>(sum) + 1.0));
    m->Divisor = m->Sum();
    return m;
}

std::unique_ptr<TFilterMatrix> MakeSoftenMatrix(float radiusX, float radiusY, float base,
                                                float centerWeight)
{
    std::unique_ptr<TFilterMatrix> m = SizedMatrix(radiusX, radiusY);
    FillRadial(*m, radiusX, radiusY,
               [&](double rd) { return Power(static_cast<double>(base), rd); });
    Centre(*m) *= centerWeight;
    m->Divisor = m->Sum();
    return m;
}

void BlurFast(TBmpHdr* image, TRect rect, float radius)
{
    if (!FastRadiusOk(radius) || !HasRegion(image, rect))
        return;
    RunFast(image, rect, MakeBoxMatrix(radius, 0.0f));
}

void BlurFull(TBmpHdr* image, TRect rect, float radiusX, float radiusY)
{
    if (!FullRadiiOk(radiusX, radiusY) || !HasRegion(image, rect))
        return;
    ConvolveMatrix(image, MakeBoxMatrix(radiusX, radiusY).get(), rect);
}

void GaussBlurFast(TBmpHdr* image, TRect rect, float radius, float sensitivity)
{
    if (!FastRadiusOk(radius) || !HasRegion(image, rect))
        return;
    RunFast(image, rect, MakeGaussMatrix(radius, 0.0f, GaussExponent, CentreWeightOf(sensitivity)));
}

void GaussBlurFull(TBmpHdr* image, TRect rect, float radiusX, float radiusY, float sensitivity)
{
    if (!FullRadiiOk(radiusX, radiusY) || !HasRegion(image, rect))
        return;
    ConvolveMatrix(
        image, MakeGaussMatrix(radiusX, radiusY, GaussExponent, CentreWeightOf(sensitivity)).get(),
        rect);
}

void UnsharpMaskFast(TBmpHdr* image, TRect rect, float radius, float sensitivity)
{
    if (!FastRadiusOk(radius) || !HasRegion(image, rect))
        return;
    RunFast(image, rect, MakeSharpenMatrix(radius, 0.0f, GaussExponent, AmountOf(sensitivity)));
}

void UnsharpMaskFull(TBmpHdr* image, TRect rect, float radiusX, float radiusY, float sensitivity)
{
    if (!FullRadiiOk(radiusX, radiusY) || !HasRegion(image, rect))
        return;
    ConvolveMatrix(image,
                   MakeSharpenMatrix(radiusX, radiusY, GaussExponent, AmountOf(sensitivity)).get(),
                   rect);
}

void SoftenFast(TBmpHdr* image, TRect rect, float radius, float sensitivity)
{
    if (!FastRadiusOk(radius) || !HasRegion(image, rect))
        return;
    RunFast(image, rect,
            MakeSoftenMatrix(radius, 0.0f, GaussExponent, CentreWeightOf(sensitivity)));
}

void SoftenFull(TBmpHdr* image, TRect rect, float radiusX, float radiusY, float sensitivity)
{
    if (!FullRadiiOk(radiusX, radiusY) || !HasRegion(image, rect))
        return;
    ConvolveMatrix(
        image, MakeSoftenMatrix(radiusX, radiusY, GaussExponent, CentreWeightOf(sensitivity)).get(),
        rect);
}

}  // namespace lumivex
