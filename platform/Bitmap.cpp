#include "platform/Bitmap.h"

namespace lumivex {

TBitmap::TBitmap(std::int32_t width, std::int32_t height, TPixelFormat format) : m_format(format)
{
    SetSize(width, height);
}

TBitmap TBitmap::Uncleared(std::int32_t width, std::int32_t height, TPixelFormat format)
{
    TBitmap bitmap;
    bitmap.m_format = format;
    if (width > 0 && height > 0) {
        bitmap.m_data.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                             static_cast<std::size_t>(bitmap.BytesPerPixel()));
        bitmap.m_width = width;
        bitmap.m_height = height;
    }
    return bitmap;
}

TBitmap TBitmap::OnBytes(std::int32_t width, std::int32_t height, TPixelFormat format,
                         std::uint8_t* bytes, std::function<void(std::uint8_t*)> release)
{
    TBitmap bitmap;
    bitmap.m_format = format;
    bitmap.m_foreign = decltype(m_foreign)(bytes, std::move(release));
    if (bytes != nullptr && width > 0 && height > 0) {
        bitmap.m_width = width;
        bitmap.m_height = height;
    }
    return bitmap;
}

TBitmap::TBitmap(const TBitmap& other)
    : m_width(other.m_width), m_height(other.m_height), m_format(other.m_format)
{
    const std::uint8_t* bytes = other.Bytes();
    m_data.assign(bytes, bytes + other.BytesPerLine() * static_cast<std::size_t>(other.m_height));
}

TBitmap& TBitmap::operator=(const TBitmap& other)
{
    if (this != &other)
        *this = TBitmap(other);
    return *this;
}

void TBitmap::SetSize(std::int32_t width, std::int32_t height)
{
    if (width <= 0 || height <= 0)
        width = height = 0;
    decltype(m_data) data(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                              static_cast<std::size_t>(BytesPerPixel()),
                          0);
    m_data.swap(data);
    m_foreign.reset();
    m_width = width;
    m_height = height;
}

void TBitmap::SetPixelFormat(TPixelFormat format)
{
    if (format == m_format)
        return;
    TBitmap converted = Uncleared(m_width, m_height, format);
    for (std::int32_t y = 0; y < m_height; ++y) {
        const std::uint8_t* src = ScanLine(y);
        std::uint8_t* dst = converted.ScanLine(y);
        const int srcStep = BytesPerPixel();
        const int dstStep = converted.BytesPerPixel();
        for (std::int32_t x = 0; x < m_width; ++x, src += srcStep, dst += dstStep) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            if (dstStep == 4)
                dst[3] = 255;
        }
    }
    *this = std::move(converted);
}

}  // namespace lumivex
