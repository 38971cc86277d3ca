#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace lumivex {

enum class TPixelFormat : std::uint8_t { pf24bit, pf32bit };

/// A vector allocator that leaves new elements default-initialised (bytes: not written) where
/// std::allocator would clear them.
template <typename T>
struct TNoClearAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = TNoClearAllocator<U>;
    };
    TNoClearAllocator() = default;
    template <typename U>
    TNoClearAllocator(const TNoClearAllocator<U>&) noexcept
    {
    }
    template <typename U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>)
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... TArgs>
    void construct(U* p, TArgs&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<TArgs>(args)...);
    }
};

/// The platform bitmap: rows of bytes B, G, R (, A), row 0 on top, rows packed without padding.
/// It stands where the original used GDI device-independent bitmaps.
class TBitmap {
public:
    TBitmap() = default;
    /// All bytes zero (black, alpha 0). Throws std::bad_alloc when the rows cannot be held.
    TBitmap(std::int32_t width, std::int32_t height, TPixelFormat format);
    /// The same size with bytes that nothing wrote, for a caller that writes every byte: a large
    /// bitmap's pages are then first touched by the threads that fill it.
    static TBitmap Uncleared(std::int32_t width, std::int32_t height, TPixelFormat format);
    /// A bitmap on bytes it did not allocate (a shared mapping, say), packed rows as above:
    /// release(bytes) runs once, when the bitmap lets go of them. A copy takes bytes of its own.
    static TBitmap OnBytes(std::int32_t width, std::int32_t height, TPixelFormat format,
                           std::uint8_t* bytes, std::function<void(std::uint8_t*)> release);

    TBitmap(const TBitmap& other);
    TBitmap& operator=(const TBitmap& other);
    TBitmap(TBitmap&&) noexcept = default;
    TBitmap& operator=(TBitmap&&) noexcept = default;

    std::int32_t Width() const { return m_width; }
    std::int32_t Height() const { return m_height; }
    TPixelFormat PixelFormat() const { return m_format; }
    bool IsEmpty() const { return m_width <= 0 || m_height <= 0; }
    int BytesPerPixel() const { return m_format == TPixelFormat::pf32bit ? 4 : 3; }
    std::size_t BytesPerLine() const
    {
        return static_cast<std::size_t>(m_width) * static_cast<std::size_t>(BytesPerPixel());
    }

    /// Resizes to a black bitmap (the old contents are dropped). Negative sizes count as 0.
    void SetSize(std::int32_t width, std::int32_t height);
    /// Converts in place: 32 to 24 drops alpha, 24 to 32 sets alpha 255.
    void SetPixelFormat(TPixelFormat format);

    /// Row y, BytesPerLine() bytes; y must lie in 0..Height()-1.
    std::uint8_t* ScanLine(std::int32_t y) { return Bytes() + Offset(y); }
    const std::uint8_t* ScanLine(std::int32_t y) const { return Bytes() + Offset(y); }

private:
    std::uint8_t* Bytes() { return m_foreign ? m_foreign.get() : m_data.data(); }
    const std::uint8_t* Bytes() const { return m_foreign ? m_foreign.get() : m_data.data(); }
    std::size_t Offset(std::int32_t y) const
    {
        return static_cast<std::size_t>(y) * BytesPerLine();
    }

    std::int32_t m_width = 0;
    std::int32_t m_height = 0;
    TPixelFormat m_format = TPixelFormat::pf24bit;
    // The bytes: m_foreign when set, else m_data.
    std::vector<std::uint8_t, TNoClearAllocator<std::uint8_t>> m_data;
    std::unique_ptr<std::uint8_t, std::function<void(std::uint8_t*)>> m_foreign;
};

}  // namespace lumivex
