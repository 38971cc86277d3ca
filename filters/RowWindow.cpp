#include "filters/RowWindow.h"

#include <algorithm>
#include <cstring>

namespace lumivex {
namespace {

void CopyPadded(const TColorHdr* source, std::int32_t width, std::int32_t pad, TColorHdr* target)
{
    std::fill(target, target + pad, source[0]);
    std::memcpy(target + pad, source, static_cast<std::size_t>(width) * sizeof(TColorHdr));
    std::fill(target + pad + width, target + pad + width + pad, source[width - 1]);
}

}  // namespace

TRowWindow::TRowWindow(const TBmpHdr& image, TRect region, std::int32_t first, std::int32_t last,
                       std::int32_t reach, std::int32_t pad, std::int32_t group)
    : m_image(image),
      m_region(region),
      m_first(first),
      m_last(last),
      m_reach(reach),
      m_pad(pad),
      m_group(std::max(group, 1)),
      m_width(region.Width()),
      m_loadedTo(first - 1)
{
    const std::int32_t slots = std::min(2 * reach + m_group, region.Height());
    m_ring.resize(static_cast<std::size_t>(slots));
    for (std::vector<TColorHdr>& row : m_ring)
        row.resize(static_cast<std::size_t>(m_width + 2 * pad));
    // Rows above the band belong to the band before it: copy them now, into their ring slots.
    for (std::int32_t k = std::max(region.Top, first - reach); k < first; ++k)
        CopyPadded(m_image.Pixels[static_cast<std::size_t>(k)].data() + region.Left, m_width, pad,
                   Slot(k).data());
    const std::int32_t belowEnd = std::min(region.Bottom, last + reach + m_group - 1);
    for (std::int32_t k = last; k < belowEnd; ++k) {
        const TColorHdr* source = m_image.Pixels[static_cast<std::size_t>(k)].data() + region.Left;
        m_below.emplace_back(source, source + m_width);
    }
}

std::vector<TColorHdr>& TRowWindow::Slot(std::int32_t k)
{
    const auto slots = static_cast<std::int32_t>(m_ring.size());
    return m_ring[static_cast<std::size_t>((k - m_region.Top) % slots)];
}

void TRowWindow::Load(std::int32_t k)
{
    const TColorHdr* source =
        k < m_last ? m_image.Pixels[static_cast<std::size_t>(k)].data() + m_region.Left
                   : m_below[static_cast<std::size_t>(k - m_last)].data();
    CopyPadded(source, m_width, m_pad, Slot(k).data());
}

void TRowWindow::Advance(std::int32_t y)
{
    const std::int32_t need = std::min(m_region.Bottom - 1, y + m_group - 1 + m_reach);
    for (std::int32_t k = std::max(m_loadedTo + 1, y); k <= need; ++k)
        Load(k);
    m_loadedTo = std::max(m_loadedTo, need);
}

const TColorHdr* TRowWindow::Row(std::int32_t k) const
{
    k = std::clamp(k, m_region.Top, m_region.Bottom - 1);
    const auto slots = static_cast<std::int32_t>(m_ring.size());
    return m_ring[static_cast<std::size_t>((k - m_region.Top) % slots)].data() + m_pad;
}

std::int64_t TRowWindow::HeldBytes() const
{
    std::int64_t bytes = 0;
    for (const std::vector<TColorHdr>& row : m_ring)
        bytes += static_cast<std::int64_t>(row.size() * sizeof(TColorHdr));
    for (const std::vector<TColorHdr>& row : m_below)
        bytes += static_cast<std::int64_t>(row.size() * sizeof(TColorHdr));
    return bytes;
}

}  // namespace lumivex
