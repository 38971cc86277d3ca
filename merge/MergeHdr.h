#pragma once

// The exposure merge: several 8-bit photographs of one scene become one floating-point image.
// No camera response is calibrated and no exposure time is read: every source gets a
// brightness estimate of its own (Mean), an exposure factor from it and a weight from the
// factor, and each output channel is a weighted mean of the sources' values of that channel,
// taken directly or in the logarithmic domain. Results are not clamped; alpha is 1.0.

#include <cstdint>
#include <vector>

#include "core/BmpHdr.h"
#include "platform/Bitmap.h"

namespace lumivex {

/// Added to every normalised value before a logarithm, so black never gives ln 0.
inline constexpr float LogOffset = 1.0E-5f;

/// The merge modes, in the order the merge dialog lists them.
enum class TMergeMode : std::uint8_t { mmAverage = 0, mmLogaritmic = 1, mmWeighted = 2 };

struct TBmpEntry {
    /// A private 24-bit copy of the source.
    TBitmap Bitmap;
    /// Mean of the three per-channel geometric means of byte / 255 + LogOffset, in 0..1.
    float Mean = 0.0f;
    /// 1.0 unless ComputeAutoExposure set it.
    float Exposure = 1.0f;
};

class TBmpList {
public:
    TMergeMode Mode = TMergeMode::mmAverage;

    const std::vector<TBmpEntry>& Entries() const { return m_entries; }
    std::int32_t Count() const { return static_cast<std::int32_t>(m_entries.size()); }

    /// Appends a copy with the given exposure factor. Silently ignored when the bitmap is absent,
    /// empty or not 24-bit, when its size differs from the first entry's, or when the exposure
    /// is not a finite value above 0 (it would make the weights meaningless); callers detect an
    /// ignored image by comparing Count().
    void Add(const TBitmap* bitmap, float exposure);
    /// The same, taking the bitmap over instead of copying it (it is left empty when taken).
    void Add(TBitmap&& bitmap, float exposure);
    /// Every Exposure := Mean / (mean of all Means); 1.0 with a single entry.
    void ComputeAutoExposure();
    /// Exposure when it is at most 1, else 1 / Exposure; 0 for an index outside the list.
    float GetWeight(std::int32_t index) const;
    /// Clears dest, sizes it to the first entry and fills it by Mode, reporting one progress step
    /// per row. Nothing happens for an empty list, an absent dest, a Mode outside the table or
    /// a refused progress start. After an abort dest keeps its size, and the rows not reached
    /// stay zero.
    void Merge(TBmpHdr* dest) const;
    void Clear() { m_entries.clear(); }

private:
    bool Accepts(const TBitmap& bitmap, float exposure) const;
    void Append(TBitmap bitmap, float exposure);

    std::vector<TBmpEntry> m_entries;
};

}  // namespace lumivex
