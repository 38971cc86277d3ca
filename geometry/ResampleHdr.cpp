#include "geometry/ResampleHdr.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>

#include "core/Parallel.h"
#include "core/Progress.h"
#include "geometry/GeometryHdr.h"
#include "geometry/PixelVec.h"

namespace lumivex {
namespace {

using namespace geometry;

struct TProgressEnd {
    ~TProgressEnd() { FilterProgress(psEnd, 0); }
};

// Kernels are evaluated in double from their float argument and rounded once on return; the
// constants 2/3, 16/3, -7/3 and 32/3 are double.
constexpr double TwoThirds = 2.0 / 3.0;
constexpr double SixteenThirds = 16.0 / 3.0;
constexpr double MinusSevenThirds = -7.0 / 3.0;
constexpr double ThirtyTwoThirds = 32.0 / 3.0;

// sin(pi x) / (pi x) with the product and the quotient rounded to float.
float Sinc(float x)
{
    if (x == 0.0f)
        return 1.0f;
    const auto px = static_cast<float>(std::numbers::pi * double{x});
    return static_cast<float>(std::sin(double{px}) / double{px});
}

// Widest support accepted: far beyond every kernel's reach, yet it keeps the contributor range
// of a 65535-fold shrink inside 32-bit indices.
constexpr float MaxSupport = 100.0f;

// sum / total per channel, then clamped to 0..1 with NaN to 0.
TVec4 NormalisedVec(TVec4 sum, float total) { return ClampLanes(sum / total); }

TColorHdr Normalised(TVec4 sum, float total) { return ToColorHdr(NormalisedVec(sum, total)); }

float ScaleOf(std::int32_t srcSize, std::int32_t dstSize)
{
    // The first and last pixels of a line map onto each other.
    if (srcSize == 1 || dstSize == 1)
        return static_cast<float>(static_cast<double>(dstSize) / static_cast<double>(srcSize));
    return static_cast<float>(static_cast<double>(dstSize - 1) / static_cast<double>(srcSize - 1));
}

std::int32_t SourceIndex(std::int64_t j, std::int32_t srcSize)
{
    // Reflected at the borders; a source narrower than the kernel's reach can still reflect
    // outside it, hence the clamp.
    if (j < 0)
        j = -j;
    else if (j >= srcSize)
        j = 2 * std::int64_t{srcSize} - j - 1;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(j, 0, srcSize - 1));
}

// All contributor lists of one direction, flat: list i is [First[i], First[i + 1]).
struct TContributorTable {
    std::vector<std::size_t> First{0};
    std::vector<std::int32_t> Index;
    std::vector<float> Weight;  // the integer weights as floats (exact)
    std::vector<float> Total;   // their integer total as a float (exact, never 0)
    std::size_t Longest = 0;

    void Append(const std::vector<TContributor>& list)
    {
        std::int32_t total = 0;
        for (const TContributor& c : list) {
            Index.push_back(c.Index);
            Weight.push_back(static_cast<float>(c.Weight));
            total += c.Weight;
        }
        First.push_back(Index.size());
        Total.push_back(static_cast<float>(total));
        Longest = std::max(Longest, list.size());
    }
};

// Builds the lists of one direction, one progress step each; false when a step refused.
bool BuildTable(TContributorTable& table, std::int32_t srcSize, std::int32_t dstSize,
                TResampleFilter filter, float support, std::int32_t firstStep)
{
    for (std::int32_t i = 0; i < dstSize; ++i) {
        if (!FilterProgress(psStep, firstStep + i))
            return false;
        table.Append(ResampleContributors(i, srcSize, dstSize, filter, support));
    }
    return true;
}

// Output pixels of a pass per band of work: enough that a band outweighs starting a thread.
std::int64_t MinItemsPerBand(std::int64_t itemPixels, std::size_t taps)
{
    return std::max<std::int64_t>(
        1, 262144 / std::max<std::int64_t>(1, itemPixels * static_cast<std::int64_t>(taps)));
}

constexpr std::int64_t RowGroup = 4;

// One row of the horizontal pass.
void HorizontalRow(const TColorHdr* in, const TContributorTable& columns, std::int32_t dw,
                   TVec4* out)
{
    for (std::size_t i = 0; i < static_cast<std::size_t>(dw); ++i) {
        TVec4 sum{0.0f, 0.0f, 0.0f, 0.0f};
        for (std::size_t p = columns.First[i]; p < columns.First[i + 1]; ++p)
            sum += columns.Weight[p] * Load(in[static_cast<std::size_t>(columns.Index[p])]);
        out[i] = NormalisedVec(sum, columns.Total[i]);
    }
}

// Four rows k0..k0 + 3 of the horizontal pass at once, each exactly as HorizontalRow.
void HorizontalGroup(const TBmpHdr& src, const TContributorTable& columns, std::int64_t k0,
                     std::int32_t dw, TVec4* out0, TVec4* out1, TVec4* out2, TVec4* out3)
{
    const TColorHdr* in0 = src.Pixels[static_cast<std::size_t>(k0)].data();
    const TColorHdr* in1 = src.Pixels[static_cast<std::size_t>(k0 + 1)].data();
    const TColorHdr* in2 = src.Pixels[static_cast<std::size_t>(k0 + 2)].data();
    const TColorHdr* in3 = src.Pixels[static_cast<std::size_t>(k0 + 3)].data();
    for (std::size_t i = 0; i < static_cast<std::size_t>(dw); ++i) {
        TVec4 s0{0.0f, 0.0f, 0.0f, 0.0f};
        TVec4 s1 = s0;
        TVec4 s2 = s0;
        TVec4 s3 = s0;
        for (std::size_t p = columns.First[i]; p < columns.First[i + 1]; ++p) {
            const float w = columns.Weight[p];
            const auto j = static_cast<std::size_t>(columns.Index[p]);
            s0 += w * Load(in0[j]);
            s1 += w * Load(in1[j]);
            s2 += w * Load(in2[j]);
            s3 += w * Load(in3[j]);
        }
        const float total = columns.Total[i];
        out0[i] = NormalisedVec(s0, total);
        out1[i] = NormalisedVec(s1, total);
        out2[i] = NormalisedVec(s2, total);
        out3[i] = NormalisedVec(s3, total);
    }
}

// Output row i of the vertical pass for `count` columns starting at `in` (the intermediate
// image's top row, shifted to the strip); eight columns at a time stay in registers.
void VerticalRow(const TVec4* in, std::size_t stride, const TContributorTable& rows, std::int32_t i,
                 std::int32_t count, TColorHdr* out)
{
    constexpr std::int32_t Block = 8;
    const std::size_t firstPair = rows.First[static_cast<std::size_t>(i)];
    const std::size_t endPair = rows.First[static_cast<std::size_t>(i) + 1];
    const float total = rows.Total[static_cast<std::size_t>(i)];
    std::int32_t c0 = 0;
    for (; c0 + Block <= count; c0 += Block) {
        TVec4 sum[Block];
        for (TVec4& v : sum)
            v = TVec4{0.0f, 0.0f, 0.0f, 0.0f};
        for (std::size_t p = firstPair; p < endPair; ++p) {
            const float w = rows.Weight[p];
            const TVec4* line = in + static_cast<std::size_t>(rows.Index[p]) * stride + c0;
            for (std::int32_t c = 0; c < Block; ++c)
                sum[c] += w * line[c];
        }
        for (std::int32_t c = 0; c < Block; ++c)
            out[c0 + c] = Normalised(sum[c], total);
    }
    for (; c0 < count; ++c0) {
        TVec4 sum{0.0f, 0.0f, 0.0f, 0.0f};
        for (std::size_t p = firstPair; p < endPair; ++p)
            sum += rows.Weight[p] * in[static_cast<std::size_t>(rows.Index[p]) * stride + c0];
        out[c0] = Normalised(sum, total);
    }
}

}  // namespace

float BoxFilter(float x) { return (x > -0.5f && x <= 0.5f) ? 1.0f : 0.0f; }

float TriangleFilter(float x)
{
    const double a = std::fabs(double{x});
    return a < 1.0 ? static_cast<float>(1.0 - a) : 0.0f;
}

float HermiteFilter(float x)
{
    const double a = std::fabs(double{x});
    const double x2 = double{x} * double{x};
    return a < 1.0 ? static_cast<float>((2.0 * a - 3.0) * x2 + 1.0) : 0.0f;
}

float BellFilter(float x)
{
    const double a = std::fabs(double{x});
    if (a < 0.5)
        return static_cast<float>(0.75 - double{x} * double{x});
    if (a < 1.5)
        return static_cast<float>(0.5 * (a - 1.5) * (a - 1.5));
    return 0.0f;
}

float SplineFilter(float x)
{
    const double a = std::fabs(double{x});
    if (a < 1.0)
        return static_cast<float>(0.5 * a * a * a - double{x} * double{x} + TwoThirds);
    if (a < 2.0)
        return static_cast<float>((2.0 - a) * (2.0 - a) * (2.0 - a) / 6.0);
    return 0.0f;
}

float LanczosFilter(float x)
{
    const double a = std::fabs(double{x});
    if (a < 3.0)
        return static_cast<float>(double{Sinc(x)} * double{Sinc(static_cast<float>(x / 3.0))});
    return 0.0f;
}

float MitchellFilter(float x)
{
    const double a = std::fabs(double{x});
    const double x2 = double{x} * double{x};
    const double a3 = a * a * a;
    if (a < 1.0)
        return static_cast<float>((7.0 * a3 - 12.0 * x2 + SixteenThirds) / 6.0);
    if (a < 2.0)
        return static_cast<float>((MinusSevenThirds * a3 + 12.0 * x2 - 20.0 * a + ThirtyTwoThirds) /
                                  6.0);
    return 0.0f;
}

const TResampleFilterDef ResampleFilters[ResampleFilterCount] = {
    {"Nearest", BoxFilter, 0.5f},       {"Bilinear", TriangleFilter, 1.0f},
    {"Hermite", HermiteFilter, 1.0f},   {"Bell", BellFilter, 1.5f},
    {"B-Spline", SplineFilter, 2.0f},   {"Lanczos", LanczosFilter, 3.0f},
    {"Mitchell", MitchellFilter, 2.0f},
};

std::vector<TContributor> ResampleContributors(std::int32_t i, std::int32_t srcSize,
                                               std::int32_t dstSize, TResampleFilter filter,
                                               float support)
{
    std::vector<TContributor> list;
    if (srcSize <= 0 || dstSize <= 0 || filter == nullptr)
        return list;
    const float scale = ScaleOf(srcSize, dstSize);
    const auto center = static_cast<float>(static_cast<double>(i) / double{scale});
    const bool shrinking = scale < 1.0f;
    // Shrinking widens the kernel by 1 / scale and lowers it by scale, so it averages.
    const float width = shrinking ? static_cast<float>(double{support} / double{scale}) : support;
    const auto left = static_cast<std::int64_t>(std::floor(double{center} - double{width}));
    const auto right = static_cast<std::int64_t>(std::ceil(double{center} + double{width}));
    std::int32_t total = 0;
    for (std::int64_t j = left; j <= right; ++j) {
        const double distance = double{center} - static_cast<double>(j);
        const double w =
            shrinking ? std::nearbyint(1000.0 * double{scale} *
                                       double{filter(static_cast<float>(distance * scale))})
                      : std::nearbyint(1000.0 * double{filter(static_cast<float>(distance))});
        if (w == 0.0 || std::isnan(w))
            continue;
        const auto weight = static_cast<std::int16_t>(std::clamp(w, -32768.0, 32767.0));
        list.push_back(TContributor{static_cast<std::uint16_t>(SourceIndex(j, srcSize)), weight});
        total += weight;
    }
    // A zero total would divide by nothing and leave raw sums; the nearest pixel is what such
    // extreme shrinking (or a cancelling kernel) means.
    if (total == 0) {
        const auto nearest = static_cast<std::int64_t>(std::nearbyint(center));
        list.assign(1, TContributor{static_cast<std::uint16_t>(SourceIndex(nearest, srcSize)), 1});
    }
    return list;
}

void StretchHdr(const TBmpHdr* src, TBmpHdr* dst, TResampleFilter filter, float support)
{
    if (src == nullptr || dst == nullptr || src->IsEmpty() || dst->IsEmpty() || filter == nullptr ||
        !(support >= 0.0f && support <= MaxSupport))
        return;
    const std::int32_t sw = src->Width();
    const std::int32_t sh = src->Height();
    const std::int32_t dw = dst->Width();
    const std::int32_t dh = dst->Height();
    if (!FilterProgress(psStart, 2 * dw + sh + dh))
        return;
    TProgressEnd end;
    // The intermediate image: dw x sh, row after row.
    // Every value is written before it is read, so the buffer is not cleared first.
    const auto middle = std::make_unique_for_overwrite<TVec4[]>(static_cast<std::size_t>(dw) *
                                                                static_cast<std::size_t>(sh));
    const auto midRow = [&](std::int64_t y) {
        return middle.get() + static_cast<std::size_t>(y) * static_cast<std::size_t>(dw);
    };
    // After a refused step every later stage makes its first step call and stops, since the
    // protocol keeps refusing; its lists would be incomplete anyway.
    TContributorTable columns;
    if (!BuildTable(columns, sw, dw, filter, support, 0)) {
        FilterProgress(psStep, dw);
        FilterProgress(psStep, dw + sh);
        FilterProgress(psStep, dw + sh + dh);
        return;
    }

    // Rows go in groups that share each column's weights, so the groups' sums are independent
    // chains (each still adds its pairs in list order); every row keeps its own step.
    const bool rowsDone = ProgressBands(
        sh, BandCount(sh, MinItemsPerBand(dw, columns.Longest)),
        [](int, std::int64_t, std::int64_t) {},
        [&](int, std::int64_t first, std::int64_t last, TStepGate& gate) {
            for (std::int64_t k0 = first; k0 < last; k0 += RowGroup) {
                const std::int64_t wanted = std::min<std::int64_t>(RowGroup, last - k0);
                std::int64_t count = 0;
                while (count < wanted && gate.Step())
                    ++count;
                if (count == RowGroup) {
                    HorizontalGroup(*src, columns, k0, dw, midRow(k0), midRow(k0 + 1),
                                    midRow(k0 + 2), midRow(k0 + 3));
                } else {
                    for (std::int64_t k = k0; k < k0 + count; ++k)
                        HorizontalRow(src->Pixels[static_cast<std::size_t>(k)].data(), columns, dw,
                                      midRow(k));
                }
                if (count < wanted)
                    return;
            }
        },
        dw);
    if (!rowsDone) {
        FilterProgress(psStep, dw + sh);
        FilterProgress(psStep, dw + sh + dh);
        return;
    }

    TContributorTable rows;
    if (!BuildTable(rows, sh, dh, filter, support, dw + sh)) {
        FilterProgress(psStep, dw + sh + dh);
        return;
    }
    // The vertical pass is defined column by column; strips of neighbouring columns walk down
    // the rows together instead, every output value summing its pairs in the same order, so the
    // bits and the step calls (one per column, in order) stay those of the column walk.
    constexpr std::int32_t Strip = 256;  // 4 KB of each intermediate row per strip
    ProgressBands(
        dw, BandCount(dw, std::max<std::int64_t>(Strip, MinItemsPerBand(dh, rows.Longest))),
        [](int, std::int64_t, std::int64_t) {},
        [&](int, std::int64_t first, std::int64_t last, TStepGate& gate) {
            for (std::int64_t x0 = first; x0 < last; x0 += Strip) {
                const std::int32_t wanted =
                    static_cast<std::int32_t>(std::min<std::int64_t>(Strip, last - x0));
                std::int32_t count = 0;
                while (count < wanted && gate.Step())
                    ++count;
                for (std::int32_t i = 0; i < dh && count > 0; ++i)
                    VerticalRow(middle.get() + x0, static_cast<std::size_t>(dw), rows, i, count,
                                dst->Pixels[static_cast<std::size_t>(i)].data() + x0);
                if (count < wanted)
                    return;
            }
        },
        dw + sh + dh);
}

void ResizeHdr(const TBmpHdr* src, TBmpHdr* dst, std::int64_t newWidth, float support,
               std::uint8_t filterIndex, std::int64_t newHeight)
{
    if (src == nullptr || dst == nullptr || src->IsEmpty() ||
        !IsValidImageSize(newWidth, newHeight) || filterIndex >= ResampleFilterCount ||
        !(support >= 0.0f && support <= MaxSupport))
        return;
    const TResampleFilterDef& def = ResampleFilters[filterIndex];
    const float radius = support == 0.0f ? def.Support : support;
    if (newWidth != dst->Width() || newHeight != dst->Height()) {
        // The new pixels are zero, as when dst itself is resized; dst (which may be src) changes
        // only at the end.
        TBmpHdr canvas;
        canvas.SetSize(newWidth, newHeight, clNoneHdr);
        StretchHdr(src, &canvas, def.Filter, radius);
        AdoptPixelsHdr(*dst, std::move(canvas));
        return;
    }
    StretchHdr(src, dst, def.Filter, radius);
}

}  // namespace lumivex
