#include "adjust/HistogramHdr.h"

#include <algorithm>
#include <cmath>

#include "adjust/ColorAdjust.h"
#include "adjust/PowerLanes.h"
#include "adjust/ToneCurve.h"
#include "core/Parallel.h"

namespace lumivex {

THistogram HistLuminosity;
THistogram HistRed;
THistogram HistGreen;
THistogram HistBlue;

namespace {

constexpr std::size_t StatEntries = 4;

THistogram* const AllHistograms[] = {&HistLuminosity, &HistRed, &HistGreen, &HistBlue};

TBmpHdr& Ramp()
{
    static TBmpHdr ramp;
    return ramp;
}

float ChannelValue(const TColorHdr& p, std::uint8_t channel)
{
    switch (channel) {
        case 1:
            return p.R;
        case 2:
            return p.G;
        case 3:
            return p.B;
        default:
            return LuminosityHdr(p);
    }
}

// One histogram during a walk: the statistics in registers rather than in the array, where each
// value's update would wait on the last one's store. The bins start at StatEntries (the
// position is at least 4), so the array's statistics are never read during the walk.
struct TRunning {
    float* Bins = nullptr;
    std::size_t Size = 0;
    float Min = 0.0f;
    float Max = 0.0f;
    float Sum = 0.0f;
};

[[gnu::always_inline]] inline TRunning Running(THistogram& histogram)
{
    return TRunning{histogram.data(), histogram.size(), histogram[0], histogram[1], histogram[2]};
}

[[gnu::always_inline]] inline void Store(const TRunning& r, THistogram& histogram)
{
    histogram[0] = r.Min;
    histogram[1] = r.Max;
    histogram[2] = r.Sum;
}

// One value: the clamped value (NaN as 0) into the statistics and split between the two nearest
// bins.
[[gnu::always_inline]] inline void AddRunning(TRunning& r, float value)
{
    const std::size_t bins = r.Size - StatEntries;
    // NaN would otherwise give an index far outside the array.
    const float v = std::isnan(value) ? 0.0f : std::max(std::min(value, 1.0f), 0.0f);
    if (v < r.Min)
        r.Min = v;
    if (v > r.Max)
        r.Max = v;
    r.Sum = r.Sum + v;
    const auto p = static_cast<float>(static_cast<double>(bins - 1) * v + 4.0);
    const auto k = std::min(static_cast<std::size_t>(p), r.Size - 1);
    const float f = p - static_cast<float>(static_cast<std::size_t>(p));
    r.Bins[k] = r.Bins[k] + (1.0f - f);
    if (f > 0.0f && k + 1 < r.Size)
        r.Bins[k + 1] = r.Bins[k + 1] + f;
}

// Adds the values of the histograms [first, last) of AllHistograms (its index is the
// ChannelValue channel) for every step of the region, in pixel order.
[[gnu::always_inline]] inline void WalkHistograms(const TBmpHdr& image, const TRect& rect,
                                                  std::int32_t sx, std::int32_t sy, int first,
                                                  int last)
{
    TRunning running[4];
    bool active[4] = {};
    for (int h = first; h < last; ++h) {
        THistogram& hist = *AllHistograms[h];
        active[h] = hist.size() > StatEntries;
        if (active[h])
            running[h] = Running(hist);
    }
    for (std::int32_t y = rect.Top; y < rect.Bottom; y += sy) {
        const TRawHdr& row = image.Pixels[static_cast<std::size_t>(y)];
        for (std::int32_t x = rect.Left; x < rect.Right; x += sx) {
            const TColorHdr& p = row[static_cast<std::size_t>(x)];
            for (int h = first; h < last; ++h)
                if (active[h])
                    AddRunning(running[h], ChannelValue(p, static_cast<std::uint8_t>(h)));
        }
    }
    for (int h = first; h < last; ++h)
        if (active[h])
            Store(running[h], *AllHistograms[h]);
}

// The same with the histograms known, so the channel choice folds away.
template <int First, int Last>
void WalkHistograms(const TBmpHdr& image, const TRect& rect, std::int32_t sx, std::int32_t sy)
{
    WalkHistograms(image, rect, sx, sy, First, Last);
}

}  // namespace

void SetHistogramBins(std::uint16_t bins)
{
    for (THistogram* h : AllHistograms) {
        if (bins == 0)
            THistogram().swap(*h);
        else if (h->size() != bins + StatEntries)
            h->assign(bins + StatEntries, 0.0f);
    }
}

std::uint16_t GetHistogramBins()
{
    return HistLuminosity.size() > StatEntries
               ? static_cast<std::uint16_t>(HistLuminosity.size() - StatEntries)
               : 0;
}

void ResetHistogram(THistogram& histogram)
{
    std::fill(histogram.begin(), histogram.end(), 0.0f);
    if (!histogram.empty())
        histogram[0] = 1.0f;
}

void AddHistogramValue(THistogram& histogram, float value)
{
    if (histogram.size() <= StatEntries)
        return;
    TRunning r = Running(histogram);
    AddRunning(r, value);
    Store(r, histogram);
}

void ComputeHistograms(const TBmpHdr* image, TRect rect, std::int32_t maxSize)
{
    if (image == nullptr || image->IsEmpty() || maxSize <= 0)
        return;
    const double width = image->Width();
    const double height = image->Height();
    const double r = std::max(width / maxSize, height / maxSize);
    const double w = std::clamp(std::nearbyint(width / r), 1.0, static_cast<double>(maxSize));
    const double h = std::clamp(std::nearbyint(height / r), 1.0, static_cast<double>(maxSize));
    const auto stepY = static_cast<std::uint16_t>(std::ceil(height / h));
    const auto stepX = static_cast<std::uint16_t>(std::ceil(width / w));
    AccumulateHistograms(image, rect, stepX, stepY);
}

void AccumulateHistograms(const TBmpHdr* image, TRect rect, std::uint16_t stepX,
                          std::uint16_t stepY)
{
    if (!ClipRectHdr(image, rect))
        return;
    for (THistogram* h : AllHistograms)
        ResetHistogram(*h);
    const std::int32_t sx = std::max<std::int32_t>(stepX, 1);
    const std::int32_t sy = std::max<std::int32_t>(stepY, 1);
    // Divided by the number of values actually counted: a quotient of the region's size by the
    // steps can exceed it, which would put a white image's average above its maximum.
    const std::int64_t count = ((std::int64_t{rect.Right} - rect.Left + sx - 1) / sx) *
                               ((std::int64_t{rect.Bottom} - rect.Top + sy - 1) / sy);
    // Each histogram's sums are float additions in pixel order, so one histogram cannot be
    // split; the four are independent, so threads take whole histograms, each walking every
    // pixel in order.
    constexpr std::int64_t MinValuesToSplit = 16384;
    const int bands = count >= MinValuesToSplit ? std::min(ThreadCount(), 4) : 1;
    ParallelBands(bands, 0, 4, [&](int, std::int64_t first, std::int64_t last) {
        if (first == 0 && last == 4)
            WalkHistograms<0, 4>(*image, rect, sx, sy);
        else if (first == 0 && last == 2)
            WalkHistograms<0, 2>(*image, rect, sx, sy);
        else if (first == 2 && last == 4)
            WalkHistograms<2, 4>(*image, rect, sx, sy);
        else
            WalkHistograms(*image, rect, sx, sy, static_cast<int>(first), static_cast<int>(last));
    });
    const auto n = static_cast<float>(count);
    for (THistogram* h : AllHistograms) {
        if (h->size() <= StatEntries)
            continue;
        THistogram& hist = *h;
        hist[2] = hist[2] / n;
        const std::size_t bins = hist.size() - StatEntries;
        const double half = static_cast<double>(n) / 2.0;
        double total = 0.0;
        for (std::size_t k = 0; k < bins; ++k) {
            total += hist[StatEntries + k];
            if (total >= half) {
                hist[3] = static_cast<float>(static_cast<double>(k) / static_cast<double>(bins));
                break;
            }
        }
    }
}

const THistogram& HistogramOf(std::uint8_t channel)
{
    switch (channel) {
        case 1:
            return HistRed;
        case 2:
            return HistGreen;
        case 3:
            return HistBlue;
        default:
            return HistLuminosity;
    }
}

void GetHistogramStats(std::uint8_t channel, float& minimum, float& maximum, float& average,
                       float& median)
{
    const THistogram& h = HistogramOf(channel);
    if (h.size() < StatEntries) {
        minimum = maximum = average = median = 0.0f;
        return;
    }
    minimum = h[0];
    maximum = h[1];
    average = h[2];
    median = h[3];
}

float LevelsValue(float x, float e, float inLow, float inHigh, float outLow, float outHigh)
{
    if (!(x > inLow))
        return outLow;
    if (x >= inHigh)
        return outHigh;
    const auto in = static_cast<float>(static_cast<double>(inHigh) - inLow);
    const auto out = static_cast<float>(static_cast<double>(outHigh) - outLow);
    return static_cast<float>(
        outLow + static_cast<double>(out) *
                     PowerHdr(static_cast<float>((static_cast<double>(x) - inLow) / in), e));
}

namespace {

bool IsNeutral(const TLevels& l)
{
    return l.Gamma == 1.0f && l.InLow <= 0.0f && l.InHigh >= 1.0f && l.OutLow <= 0.0f &&
           l.OutHigh >= 1.0f;
}

bool IsValid(const TLevels& l) { return l.InLow < l.InHigh && l.OutLow < l.OutHigh; }

using namespace detail;

#pragma GCC diagnostic ignored "-Wpsabi"

/// The settings of B, G, R as lanes of a block (alpha's lane repeats red's and is unused); the
/// two spans rounded to float as LevelsValue rounds them.
struct TLevelsLanes {
    TVec E, InLow, InHigh, OutLow, OutHigh, In, Out;
};

TLevelsLanes LevelsLanes(const TLevels (&l)[3])
{
    TLevelsLanes v;
    for (int lane = 0; lane < 16; ++lane) {
        const TLevels& c = l[std::min(lane % 4, 2)];
        v.E.Set(lane, c.Gamma);
        v.InLow.Set(lane, c.InLow);
        v.InHigh.Set(lane, c.InHigh);
        v.OutLow.Set(lane, c.OutLow);
        v.OutHigh.Set(lane, c.OutHigh);
        v.In.Set(lane, static_cast<float>(static_cast<double>(c.InHigh) - c.InLow));
        v.Out.Set(lane, static_cast<float>(static_cast<double>(c.OutHigh) - c.OutLow));
    }
    return v;
}

// LevelsValue lane by lane.
template <TLaneKind Kind>
[[gnu::always_inline]] inline void LevelsRowOf(TColorHdr* row, std::size_t count,
                                               const TLevelsLanes& l)
{
    const TVecD inLow = Widen(l.InLow);
    const TVecD outLow = Widen(l.OutLow);
    const TVecD in = Widen(l.In);
    const TVecD out = Widen(l.Out);
    MapBlocks(
        row, count, [&](TVec v) __attribute__((always_inline)) {
            const TMask below = ~(v > l.InLow);
            const TMask above = v >= l.InHigh;
            const TVec base = Narrow((Widen(v) - inLow) / in);
            const TVec p = PowerHdrLanes<Kind>(base, l.E, ColourLanes & ~below & ~above);
            const TVec mid = Narrow(outLow + out * Widen(p));
            return Select(below, l.OutLow, Select(above, l.OutHigh, mid));
        });
}

__attribute__((target("avx512f,avx512vl,avx512dq,avx2,fma"))) void LevelsRowAvx512(
    TColorHdr* row, std::size_t count, const TLevelsLanes& l)
{
    LevelsRowOf<TLaneKind::lkAvx512>(row, count, l);
}

__attribute__((target("avx2,fma"))) void LevelsRowFma(TColorHdr* row, std::size_t count,
                                                      const TLevelsLanes& l)
{
    LevelsRowOf<TLaneKind::lkFma>(row, count, l);
}

__attribute__((target_clones("avx2", "default"))) void LevelsRowPlain(TColorHdr* row,
                                                                      std::size_t count,
                                                                      const TLevelsLanes& l)
{
    LevelsRowOf<TLaneKind::lkPlain>(row, count, l);
}

void LevelsRow(TColorHdr* row, std::size_t count, const TLevelsLanes& l)
{
    RunLanes(LevelsRowAvx512, LevelsRowFma, LevelsRowPlain, row, count, l);
}

}  // namespace

void ChannelLevelsHdr(TBmpHdr* image, TRect rect, const TLevels& blue, const TLevels& green,
                      const TLevels& red)
{
    if (blue.Gamma == 0.0f || green.Gamma == 0.0f || red.Gamma == 0.0f)
        return;
    if (IsNeutral(blue) && IsNeutral(green) && IsNeutral(red))
        return;
    if (!IsValid(blue) || !IsValid(green) || !IsValid(red))
        return;
    TLevels l[3] = {blue, green, red};
    for (TLevels& c : l)
        c.Gamma = static_cast<float>(1.0 / c.Gamma);
    const TLevelsLanes lanes = LevelsLanes(l);
    ForEachRowHdr(image, rect,
                  [&](TColorHdr* row, std::size_t count) { LevelsRow(row, count, lanes); });
}

void LevelsHdr(TBmpHdr* image, TRect rect, const TLevels& levels)
{
    ChannelLevelsHdr(image, rect, levels, levels, levels);
}

TBmpHdr* TransferRamp(std::int32_t width)
{
    TBmpHdr& ramp = Ramp();
    if (width <= 0 || width > MaxImageSide) {
        ramp.Clear();
        return nullptr;
    }
    ramp.SetSize(width, 1, clNoneHdr);
    const double last = width > 1 ? width - 1 : 1;
    for (std::int32_t x = 0; x < width; ++x)
        ramp.Pixels[0][static_cast<std::size_t>(x)] = GrayHdr(static_cast<float>(x / last), 1.0f);
    return &ramp;
}

std::vector<float> TransferCurve(const TBmpHdr& ramp, std::uint8_t channel, std::int32_t top,
                                 std::int32_t height)
{
    std::vector<float> ys;
    if (ramp.IsEmpty())
        return ys;
    const double span = height - 1;
    for (const TColorHdr& p : ramp.Pixels[0])
        ys.push_back(static_cast<float>(top + span - span * ChannelValue(p, channel)));
    return ys;
}

}  // namespace lumivex
