#include "merge/MergeHdr.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <utility>

#include "adjust/PowerLanes.h"
#include "core/Parallel.h"
#include "core/Progress.h"

namespace lumivex {
namespace {

using TByteTable = std::array<double, 256>;

struct TProgressEnd {
    TProgressEnd() = default;
    TProgressEnd(const TProgressEnd&) = delete;
    TProgressEnd& operator=(const TProgressEnd&) = delete;
    ~TProgressEnd() { FilterProgress(psEnd, 0); }
};

// ln(byte / 255 + LogOffset) for every byte, in double.
const TByteTable& LogTable()
{
    static const TByteTable table = [] {
        TByteTable t{};
        for (std::size_t b = 0; b < t.size(); ++b)
            t[b] = std::log(static_cast<double>(b) / 255.0 + static_cast<double>(LogOffset));
        return t;
    }();
    return table;
}

// Sums in double: over a 24-megapixel photograph a float sum of about -1.7e7 has a spacing of 2,
// so most terms would be rounded away and the mean would be far off.
float MeanOf(const TBitmap& bitmap)
{
    const TByteTable& ln = LogTable();
    double sumB = 0.0;
    double sumG = 0.0;
    double sumR = 0.0;
    const auto width = static_cast<std::size_t>(bitmap.Width());
    for (std::int32_t y = 0; y < bitmap.Height(); ++y) {
        const std::uint8_t* p = bitmap.ScanLine(y);
        for (std::size_t x = 0; x < width; ++x, p += 3) {
            sumB += ln[p[0]];
            sumG += ln[p[1]];
            sumR += ln[p[2]];
        }
    }
    const double count = static_cast<double>(width) * static_cast<double>(bitmap.Height());
    const double meanB = std::exp(sumB / count);
    const double meanG = std::exp(sumG / count);
    const double meanR = std::exp(sumR / count);
    return static_cast<float>((meanR + meanG + meanB) / 3.0);
}

// Per entry, the terms each byte adds to the float sums, in the double arithmetic the
// formulas use before each sum rounds to float.
struct TEntryTables {
    TByteTable Term;    // average: w v; logarithmic: w ln(v + LogOffset); weighted: u ln(...)
    TByteTable Weight;  // weighted only: u = w exp(0.5 - |0.5 - v|)
};

std::vector<TEntryTables> MakeTables(TMergeMode mode, const std::vector<float>& weights)
{
    const TByteTable& ln = LogTable();
    std::vector<TEntryTables> tables(weights.size());
    for (std::size_t i = 0; i < weights.size(); ++i) {
        const double w = weights[i];
        for (std::size_t b = 0; b < 256; ++b) {
            const double v = static_cast<double>(b) / 255.0;
            switch (mode) {
                case TMergeMode::mmAverage:
                    tables[i].Term[b] = w * v;
                    break;
                case TMergeMode::mmLogaritmic:
                    tables[i].Term[b] = w * ln[b];
                    break;
                case TMergeMode::mmWeighted: {
                    const double u = w * std::exp(0.5 - std::fabs(0.5 - v));
                    tables[i].Weight[b] = u;
                    tables[i].Term[b] = u * ln[b];
                    break;
                }
            }
        }
    }
    return tables;
}

inline float AddTerm(float sum, double term)
{
    return static_cast<float>(static_cast<double>(sum) + term);
}

#pragma GCC diagnostic ignored "-Wpsabi"

// (float) std::exp(t[i]) for each argument: sixteen at a time in vector lanes where the lane's
// rounding to float is certain, through std::exp where it is not (adjust/PowerLanes.h says
// why the two agree; the series there are of the same accuracy for an exact argument). The
// merge's exponents are its only costly arithmetic.
template <detail::TLaneKind Kind>
[[gnu::always_inline]] inline void ExpToFloatsOf(const double* t, float* out, std::size_t count)
{
    using namespace detail;
    using D = TDoubleLanes<Kind>;
    using F = TFloatLanes<Kind>;
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        D v;
        std::memcpy(&v, t + i, sizeof v);
        // Arguments out of the polynomial's range (NaN included) become 0 there and are then
        // taken from std::exp.
        const TMaskLanes<D> inRange = (v < 87.0) & (v > -87.0);
        const D x = Select(inRange, v, SplatD<D>(0.0));
        D y;
        if constexpr (Kind != TLaneKind::lkPlain)
            y = ExpLanesFma(x);
        else
            y = ExpLanes(x);
        F f = NarrowTo<F>(y);
        const TMaskLanes<D> slow = ~SafeLanes(v, y);
        if (AnyLane(slow)) [[unlikely]] {
            for (int c = 0; c < 16; ++c)
                if (slow[c] != 0)
                    f.Set(c, static_cast<float>(std::exp(t[i + static_cast<std::size_t>(c)])));
        }
        std::memcpy(out + i, &f, sizeof f);
    }
    for (; i < count; ++i)
        out[i] = static_cast<float>(std::exp(t[i]));
}

__attribute__((target("avx512f,avx512vl,avx512dq,avx2,fma"))) void ExpToFloatsAvx512(
    const double* t, float* out, std::size_t count)
{
    ExpToFloatsOf<detail::TLaneKind::lkAvx512>(t, out, count);
}

__attribute__((target("avx2,fma"))) void ExpToFloatsFma(const double* t, float* out,
                                                        std::size_t count)
{
    ExpToFloatsOf<detail::TLaneKind::lkFma>(t, out, count);
}

void ExpToFloatsPlain(const double* t, float* out, std::size_t count)
{
    ExpToFloatsOf<detail::TLaneKind::lkPlain>(t, out, count);
}

void ExpToFloats(const double* t, float* out, std::size_t count)
{
    detail::RunLanes(ExpToFloatsAvx512, ExpToFloatsFma, ExpToFloatsPlain, t, out, count);
}

// Scratch of one band: the exponents of a row's B, G, R values and their results.
struct TRowScratch {
    std::vector<double> Exponents;
    std::vector<float> Values;
};

// One output row; the sums of a pixel are taken over the entries in list order.
void MergeRow(TMergeMode mode, const std::vector<const std::uint8_t*>& rows,
              const std::vector<TEntryTables>& tables, float total, TColorHdr* out,
              std::size_t width, TRowScratch& scratch)
{
    const std::size_t n = rows.size();
    const double divisor = total;
    scratch.Exponents.resize(3 * width);
    scratch.Values.resize(3 * width);
    double* exponent = scratch.Exponents.data();
    for (std::size_t x = 0; x < width; ++x) {
        const std::size_t at = 3 * x;
        float sumB = 0.0f;
        float sumG = 0.0f;
        float sumR = 0.0f;
        if (mode == TMergeMode::mmWeighted) {
            float weightB = 0.0f;
            float weightG = 0.0f;
            float weightR = 0.0f;
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint8_t* p = rows[i] + at;
                const TEntryTables& t = tables[i];
                sumB = AddTerm(sumB, t.Term[p[0]]);
                weightB = AddTerm(weightB, t.Weight[p[0]]);
                sumG = AddTerm(sumG, t.Term[p[1]]);
                weightG = AddTerm(weightG, t.Weight[p[1]]);
                sumR = AddTerm(sumR, t.Term[p[2]]);
                weightR = AddTerm(weightR, t.Weight[p[2]]);
            }
            exponent[at] = static_cast<double>(sumB) / weightB;
            exponent[at + 1] = static_cast<double>(sumG) / weightG;
            exponent[at + 2] = static_cast<double>(sumR) / weightR;
            continue;
        }
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t* p = rows[i] + at;
            const TByteTable& t = tables[i].Term;
            sumB = AddTerm(sumB, t[p[0]]);
            sumG = AddTerm(sumG, t[p[1]]);
            sumR = AddTerm(sumR, t[p[2]]);
        }
        if (mode == TMergeMode::mmAverage) {
            out[x] =
                TColorHdr{static_cast<float>(sumB / divisor), static_cast<float>(sumG / divisor),
                          static_cast<float>(sumR / divisor), 1.0f};
        } else {
            exponent[at] = sumB / divisor;
            exponent[at + 1] = sumG / divisor;
            exponent[at + 2] = sumR / divisor;
        }
    }
    if (mode == TMergeMode::mmAverage)
        return;
    const float* v = scratch.Values.data();
    ExpToFloats(exponent, scratch.Values.data(), 3 * width);
    for (std::size_t x = 0; x < width; ++x, v += 3)
        out[x] = TColorHdr{v[0], v[1], v[2], 1.0f};
}

bool IsMergeMode(TMergeMode mode)
{
    return mode == TMergeMode::mmAverage || mode == TMergeMode::mmLogaritmic ||
           mode == TMergeMode::mmWeighted;
}

}  // namespace

bool TBmpList::Accepts(const TBitmap& bitmap, float exposure) const
{
    if (bitmap.IsEmpty() || bitmap.PixelFormat() != TPixelFormat::pf24bit)
        return false;
    if (!std::isfinite(exposure) || !(exposure > 0.0f))
        return false;
    if (!m_entries.empty()) {
        const TBitmap& first = m_entries.front().Bitmap;
        if (bitmap.Width() != first.Width() || bitmap.Height() != first.Height())
            return false;
    }
    return true;
}

void TBmpList::Append(TBitmap bitmap, float exposure)
{
    TBmpEntry entry;
    entry.Mean = MeanOf(bitmap);
    entry.Exposure = exposure;
    entry.Bitmap = std::move(bitmap);
    m_entries.push_back(std::move(entry));
}

void TBmpList::Add(const TBitmap* bitmap, float exposure)
{
    if (bitmap != nullptr && Accepts(*bitmap, exposure))
        Append(*bitmap, exposure);
}

void TBmpList::Add(TBitmap&& bitmap, float exposure)
{
    if (Accepts(bitmap, exposure))
        Append(std::exchange(bitmap, TBitmap()), exposure);
}

void TBmpList::ComputeAutoExposure()
{
    if (m_entries.empty())
        return;
    if (m_entries.size() == 1) {
        m_entries.front().Exposure = 1.0f;
        return;
    }
    double sum = 0.0;
    for (const TBmpEntry& e : m_entries)
        sum += e.Mean;
    const double average = sum / static_cast<double>(m_entries.size());
    for (TBmpEntry& e : m_entries)
        e.Exposure = static_cast<float>(e.Mean / average);
}

float TBmpList::GetWeight(std::int32_t index) const
{
    if (index < 0 || index >= Count())
        return 0.0f;
    const float exposure = m_entries[static_cast<std::size_t>(index)].Exposure;
    return exposure <= 1.0f ? exposure : 1.0f / exposure;
}

void TBmpList::Merge(TBmpHdr* dest) const
{
    if (m_entries.empty() || dest == nullptr || !IsMergeMode(Mode))
        return;
    const std::int32_t width = m_entries.front().Bitmap.Width();
    const std::int32_t height = m_entries.front().Bitmap.Height();
    if (!FilterProgress(psStart, height))
        return;
    TProgressEnd end;
    dest->Clear();
    dest->SetSize(width, height, clNoneHdr);
    if (dest->IsEmpty())
        return;
    std::vector<float> weights;
    float total = 0.0f;
    for (std::int32_t i = 0; i < Count(); ++i) {
        weights.push_back(GetWeight(i));
        total += weights.back();
    }
    const std::vector<TEntryTables> tables = MakeTables(Mode, weights);
    const auto w = static_cast<std::size_t>(width);
    // A band of 4096 pixels or more outweighs starting its thread.
    const std::int64_t minRows = std::max<std::int64_t>(1, 4096 / width);
    ProgressBands(
        height, BandCount(height, minRows), [](int, std::int64_t, std::int64_t) {},
        [&](int, std::int64_t first, std::int64_t last, TStepGate& gate) {
            std::vector<const std::uint8_t*> rows(m_entries.size());
            TRowScratch scratch;
            for (std::int64_t y = first; y < last; ++y) {
                if (!gate.Step())
                    return;
                const auto row = static_cast<std::int32_t>(y);
                for (std::size_t i = 0; i < m_entries.size(); ++i)
                    rows[i] = m_entries[i].Bitmap.ScanLine(row);
                MergeRow(Mode, rows, tables, total,
                         dest->Pixels[static_cast<std::size_t>(y)].data(), w, scratch);
            }
        });
}

}  // namespace lumivex
