#pragma once

// The scrolling, zooming view of the document's image: the image at a zoom with a margin round
// it, a one-pixel frame, a checkerboard under transparency and the control's colour outside.

#include <QAbstractScrollArea>
#include <QColor>
#include <QCursor>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>

#include "core/BmpHdr.h"
#include "platform/Bitmap.h"

namespace lumivex {

/// The zoom levels of the main window in thousandths; 0 stands for fitting the window.
inline constexpr std::array<std::int32_t, 15> ZoomLevels{
    100, 250, 333, 500, 666, 750, 1000, 2000, 3000, 4000, 5000, 6000, 8000, 12000, 16000};
inline constexpr float MinZoom = 0.1f;
inline constexpr float MaxZoom = 16.0f;

/// The fraction n:d of a zoom, within 0.01: n starts at Ceil(zoom - 0.01), d is the first
/// denominator with n / d - 0.01 not above the zoom; n grows until n / d lies within 0.01.
void ZoomFraction(double zoom, std::int32_t& numerator, std::int32_t& denominator);
/// The zoom box item of a level: "25%  (1:4)".
QString ZoomLevelCaption(std::int32_t level);
/// What the zoom box shows: a level's caption up to its first blank ("25%"), or for automatic
/// fitting (level 0) the actual zoom, Round(zoom x 100) followed by "%".
QString ZoomBoxText(std::int32_t level, float zoom);
/// The level Zoom in chooses from a zoom: the one above the highest level not above
/// Round(zoom x 1000); 0 when there is none (at 16000).
std::int32_t ZoomInLevel(float zoom);
/// The level Zoom out chooses: the highest level not above Round(zoom x 1000), or the one below
/// it when the zoom is exactly that level; 0 when there is none (at 100).
std::int32_t ZoomOutLevel(float zoom);
/// The level equal to Round(zoom x 1000), or 0 (automatic) when the zoom is not a level.
std::int32_t ZoomLevelOf(float zoom);

class TScrollBoxHdr : public QAbstractScrollArea {
public:
    /// Takes the given image (an empty one by default) and hooks its OnChange.
    explicit TScrollBoxHdr(QWidget* parent = nullptr, TBmpHdr image = {});
    ~TScrollBoxHdr() override;

    /// The image shown, owned by the view. Size changes reach the view through OnChange; after
    /// pixel writes call viewport()->update().
    TBmpHdr& Image() { return m_image; }
    const TBmpHdr& Image() const { return m_image; }

    float Zoom() const { return m_zoom; }
    /// Limited to 0.1..16 (NaN is ignored). A change keeps the image point at the middle of the
    /// window in place, updates the scroll ranges and the cursor and repaints.
    void SetZoom(float value);
    /// SetZoom that keeps the image point under the viewport point anchor in place instead.
    void SetZoomAt(float value, QPointF anchor);
    /// The zoom that shows the whole image in the window as if it had no scroll bars, limited to
    /// 1.0 with noEnlarge; nothing for an empty image.
    void ZoomToFit(bool noEnlarge);

    std::int32_t Margin() const { return m_margin; }
    void SetMargin(std::int32_t value);
    /// An invalid colour draws no frame.
    const QColor& FrameColor() const { return m_frameColor; }
    void SetFrameColor(const QColor& value);
    /// The control's colour, outside the image.
    const QColor& Color() const { return m_color; }
    void SetColor(const QColor& value);
    bool Transparent() const { return m_transparent; }
    /// True draws the checkerboard under the image.
    void SetTransparent(bool value);

    float DpiX() const { return m_dpiX; }
    float DpiY() const { return m_dpiY; }
    /// A value not above 0 (or NaN) is stored as 72.
    void SetDpiX(float value);
    void SetDpiY(float value);

    const QCursor& ImageCursor() const { return m_imageCursor; }
    void SetImageCursor(const QCursor& value);
    const QCursor& OutsideCursor() const { return m_outsideCursor; }
    void SetOutsideCursor(const QCursor& value);

    /// Round(Width x Zoom), ties to even, at least 1 for an image that is not empty.
    std::int32_t ScaledWidth() const;
    std::int32_t ScaledHeight() const;
    /// The image's rectangle in viewport coordinates.
    QRect GetImageRect() const;
    /// Set by a size change of the image until the next paint.
    bool SizeChanged() const { return m_sizeChanged; }
    /// The back buffer: the size of the visible part of the image, 24 bits.
    const TBitmap& Buffer() const { return m_buffer; }

    /// Ctrl+wheel asks for the next zoom level (ZoomInLevel or ZoomOutLevel) at a viewport
    /// point. Unset, the view zooms itself around that point; set, the owner decides, so that
    /// its zoom box and enabling rules stay in charge.
    std::function<void(std::int32_t level, QPointF at)> OnWheelZoom;

protected:
    /// Fits the back buffer to the visible image (released for an empty image).
    virtual void UpdateBuffer();
    /// Paints the clip rectangle of the viewport.
    virtual void PaintImage(QPainter& painter, const QRect& clip);
    /// Called with the change of both scroll positions after scrolling; nothing here.
    virtual void ScrollImage(int dx, int dy);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    /// The wheel scrolls (vertically; Shift or a sideways wheel horizontally) by the system's
    /// lines of 16 pixels; Ctrl+wheel zooms one level per notch.
    void wheelEvent(QWheelEvent* event) override;

private:
    void UpdateScrollRanges();
    void UpdateCursor();
    QRect VisibleImageRect() const;

    TBmpHdr m_image;
    TBitmap m_buffer;
    bool m_sizeChanged = false;
    int m_wheelZoom = 0;  // eighths of a degree not yet spent on a zoom step (touchpads)
    float m_zoom = 1.0f;
    std::int32_t m_margin = 8;
    QColor m_frameColor = Qt::black;
    QColor m_color;
    bool m_transparent = false;
    float m_dpiX = 72.0f;
    float m_dpiY = 72.0f;
    QCursor m_imageCursor = Qt::CrossCursor;
    QCursor m_outsideCursor = Qt::ArrowCursor;
};

}  // namespace lumivex
