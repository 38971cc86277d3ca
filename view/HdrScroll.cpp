#include "view/HdrScroll.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "app/GlbStrings.h"
#include "view/DisplayHdr.h"

namespace lumivex {

namespace {

std::int32_t RoundToInt(double value) { return static_cast<std::int32_t>(std::nearbyint(value)); }

std::int32_t Thousandths(float zoom) { return RoundToInt(static_cast<double>(zoom) * 1000.0); }

// Index of the highest level not above c, -1 when c is below the first.
int FloorLevel(std::int32_t c)
{
    int index = -1;
    for (std::size_t i = 0; i < ZoomLevels.size(); ++i)
        if (ZoomLevels[i] <= c)
            index = static_cast<int>(i);
    return index;
}

TRect ToRect(const QRect& r) { return TRect{r.left(), r.top(), r.right() + 1, r.bottom() + 1}; }

void FillBuffer(TBitmap& bitmap, const QRect& r, const QColor& color)
{
    const QRect all(0, 0, bitmap.Width(), bitmap.Height());
    const QRect cut = r & all;
    for (int y = cut.top(); y <= cut.bottom(); ++y) {
        std::uint8_t* p = bitmap.ScanLine(y) + static_cast<std::ptrdiff_t>(cut.left()) * 3;
        for (int x = cut.left(); x <= cut.right(); ++x, p += 3) {
            p[0] = static_cast<std::uint8_t>(color.blue());
            p[1] = static_cast<std::uint8_t>(color.green());
            p[2] = static_cast<std::uint8_t>(color.red());
        }
    }
}

}  // namespace

void ZoomFraction(double zoom, std::int32_t& numerator, std::int32_t& denominator)
{
    constexpr double tolerance = 0.01;
    numerator = 1;
    denominator = 1;
    if (!(zoom >= tolerance) || zoom > 1.0e6)
        return;  // nothing sensible to show, and the search would not end
    std::int32_t n = static_cast<std::int32_t>(std::ceil(zoom - tolerance));
    for (;;) {
        std::int32_t d = 1;
        while (n / static_cast<double>(d) - tolerance > zoom)
            ++d;
        if (std::abs(n / static_cast<double>(d) - zoom) < tolerance) {
            numerator = n;
            denominator = d;
            return;
        }
        ++n;
    }
}

QString ZoomLevelCaption(std::int32_t level)
{
    std::int32_t n = 1;
    std::int32_t d = 1;
    ZoomFraction(level / 1000.0, n, d);
    return QString::asprintf(SZoomLevelFormat, RoundToInt(level / 10.0), n, d);
}

QString ZoomBoxText(std::int32_t level, float zoom)
{
    if (level == 0)
        return QString::number(RoundToInt(static_cast<double>(zoom) * 100.0)) + u'%';
    const QString caption = ZoomLevelCaption(level);
    return caption.left(caption.indexOf(u' '));
}

std::int32_t ZoomInLevel(float zoom)
{
    const int i = FloorLevel(Thousandths(zoom));
    const auto next = static_cast<std::size_t>(i + 1);
    return next < ZoomLevels.size() ? ZoomLevels[next] : 0;
}

std::int32_t ZoomOutLevel(float zoom)
{
    const std::int32_t c = Thousandths(zoom);
    int i = FloorLevel(c);
    if (i >= 0 && ZoomLevels[static_cast<std::size_t>(i)] == c)
        --i;
    return i >= 0 ? ZoomLevels[static_cast<std::size_t>(i)] : 0;
}

std::int32_t ZoomLevelOf(float zoom)
{
    const std::int32_t c = Thousandths(zoom);
    return std::find(ZoomLevels.begin(), ZoomLevels.end(), c) != ZoomLevels.end() ? c : 0;
}

// --- TScrollBoxHdr ---

TScrollBoxHdr::TScrollBoxHdr(QWidget* parent, TBmpHdr image)
    : QAbstractScrollArea(parent), m_image(std::move(image))
{
    m_color = palette().color(QPalette::Window);
    setFrameShape(QFrame::NoFrame);
    horizontalScrollBar()->setTracking(true);
    verticalScrollBar()->setTracking(true);
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    m_image.OnChange = [this](TBmpHdr&) {
        // Also when the image became empty, so that no stale range lets one scroll over nothing.
        m_sizeChanged = true;
        viewport()->update();
    };
    UpdateScrollRanges();
}

TScrollBoxHdr::~TScrollBoxHdr() { m_image.OnChange = nullptr; }

void TScrollBoxHdr::SetZoom(float value)
{
    const QSize client = viewport()->size();
    SetZoomAt(value, QPointF(client.width() / 2.0, client.height() / 2.0));
}

void TScrollBoxHdr::SetZoomAt(float value, QPointF anchor)
{
    if (std::isnan(value))
        return;
    value = std::clamp(value, MinZoom, MaxZoom);
    if (value == m_zoom)
        return;
    const double cx = (horizontalScrollBar()->value() + anchor.x() - m_margin) / m_zoom;
    const double cy = (verticalScrollBar()->value() + anchor.y() - m_margin) / m_zoom;
    m_zoom = value;
    UpdateScrollRanges();
    horizontalScrollBar()->setValue(RoundToInt(cx * m_zoom + m_margin - anchor.x()));
    verticalScrollBar()->setValue(RoundToInt(cy * m_zoom + m_margin - anchor.y()));
    UpdateCursor();
    viewport()->update();
}

void TScrollBoxHdr::ZoomToFit(bool noEnlarge)
{
    if (m_image.IsEmpty())
        return;
    // The viewport as it would be without scroll bars: they disappear once the image fits.
    const QSize client = maximumViewportSize();
    const float width = static_cast<float>(client.width() - 2 * m_margin);
    const float height = static_cast<float>(client.height() - 2 * m_margin);
    float z = std::min(width / static_cast<float>(m_image.Width()),
                       height / static_cast<float>(m_image.Height()));
    if (noEnlarge && z > 1.0f)
        z = 1.0f;
    SetZoom(z);
}

void TScrollBoxHdr::SetMargin(std::int32_t value)
{
    m_margin = std::max(value, 0);
    UpdateScrollRanges();
    viewport()->update();
}

void TScrollBoxHdr::SetFrameColor(const QColor& value)
{
    m_frameColor = value;
    viewport()->update();
}

void TScrollBoxHdr::SetColor(const QColor& value)
{
    m_color = value;
    FillBuffer(m_buffer, QRect(0, 0, m_buffer.Width(), m_buffer.Height()), m_color);
    viewport()->update();
}

void TScrollBoxHdr::SetTransparent(bool value)
{
    m_transparent = value;
    viewport()->update();
}

void TScrollBoxHdr::SetDpiX(float value) { m_dpiX = value > 0.0f ? value : 72.0f; }

void TScrollBoxHdr::SetDpiY(float value) { m_dpiY = value > 0.0f ? value : 72.0f; }

void TScrollBoxHdr::SetImageCursor(const QCursor& value)
{
    m_imageCursor = value;
    UpdateCursor();
}

void TScrollBoxHdr::SetOutsideCursor(const QCursor& value)
{
    m_outsideCursor = value;
    UpdateCursor();
}

std::int32_t TScrollBoxHdr::ScaledWidth() const
{
    return m_image.IsEmpty() ? 0 : std::max(ScaledExtent(m_image.Width(), m_zoom), 1);
}

std::int32_t TScrollBoxHdr::ScaledHeight() const
{
    return m_image.IsEmpty() ? 0 : std::max(ScaledExtent(m_image.Height(), m_zoom), 1);
}

QRect TScrollBoxHdr::GetImageRect() const
{
    return QRect(m_margin - horizontalScrollBar()->value(), m_margin - verticalScrollBar()->value(),
                 ScaledWidth(), ScaledHeight());
}

QRect TScrollBoxHdr::VisibleImageRect() const
{
    return GetImageRect() & QRect(QPoint(0, 0), viewport()->size());
}

void TScrollBoxHdr::UpdateScrollRanges()
{
    const int width = ScaledWidth() + 2 * m_margin;
    const int height = ScaledHeight() + 2 * m_margin;
    // Ranges against the viewport as it will be: the bars the content needs, and no bar kept
    // alive only by the space the other one takes.
    QSize client = maximumViewportSize();
    const int barWidth = verticalScrollBar()->sizeHint().width();
    const int barHeight = horizontalScrollBar()->sizeHint().height();
    bool needH = width > client.width();
    bool needV = height > client.height();
    if (needH && !needV)
        needV = height > client.height() - barHeight;
    if (needV && !needH)
        needH = width > client.width() - barWidth;
    if (needV)
        client.rwidth() -= barWidth;
    if (needH)
        client.rheight() -= barHeight;
    horizontalScrollBar()->setPageStep(std::max(client.width(), 1));
    verticalScrollBar()->setPageStep(std::max(client.height(), 1));
    horizontalScrollBar()->setSingleStep(16);
    verticalScrollBar()->setSingleStep(16);
    horizontalScrollBar()->setRange(0, std::max(width - client.width(), 0));
    verticalScrollBar()->setRange(0, std::max(height - client.height(), 0));
}

void TScrollBoxHdr::UpdateCursor()
{
    const QPoint mouse = viewport()->mapFromGlobal(QCursor::pos());
    if (!viewport()->rect().contains(mouse))
        return;
    viewport()->setCursor(GetImageRect().contains(mouse) ? m_imageCursor : m_outsideCursor);
}

void TScrollBoxHdr::UpdateBuffer()
{
    if (m_image.IsEmpty()) {
        m_buffer = TBitmap();
        return;
    }
    const QRect visible = VisibleImageRect();
    const int w = std::max(visible.width(), 0);
    const int h = std::max(visible.height(), 0);
    if (m_buffer.Width() == w && m_buffer.Height() == h &&
        m_buffer.PixelFormat() == TPixelFormat::pf24bit)
        return;
    m_buffer = TBitmap(w, h, TPixelFormat::pf24bit);
    FillBuffer(m_buffer, QRect(0, 0, w, h), m_color);
}

void TScrollBoxHdr::PaintImage(QPainter& painter, const QRect& clip)
{
    if (clip.isEmpty())
        return;
    const QRect client(QPoint(0, 0), viewport()->size());
    if (m_image.IsEmpty()) {
        painter.fillRect(clip, m_color);
        return;
    }
    const QRect image = GetImageRect();
    const QRect framed = image.adjusted(-1, -1, 1, 1);
    // Without a frame its ring takes the control's colour, so that nothing stale shows there.
    painter.fillRect(framed, m_frameColor.isValid() ? m_frameColor : m_color);
    painter.fillRect(QRect(0, 0, client.width(), framed.top()), m_color);
    painter.fillRect(
        QRect(0, framed.bottom() + 1, client.width(), client.height() - framed.bottom() - 1),
        m_color);
    painter.fillRect(QRect(0, framed.top(), framed.left(), framed.height()), m_color);
    painter.fillRect(QRect(framed.right() + 1, framed.top(), client.width() - framed.right() - 1,
                           framed.height()),
                     m_color);

    const QRect r = clip & VisibleImageRect();
    if (r.isEmpty() || m_buffer.IsEmpty())
        return;
    const QPoint origin(std::max(image.left(), 0), std::max(image.top(), 0));
    const QRect inBuffer = r.translated(-origin);
    const QRect imageInBuffer = image.translated(-origin);
    if (m_transparent) {
        DrawCheckerboard(&m_buffer, -imageInBuffer.left(), -imageInBuffer.top(), ToRect(inBuffer),
                         CheckerCellSize, CheckerCellSize, CheckerColor1, CheckerColor2);
    } else {
        // Translucent pixels blend over the control's colour at every paint, never over what
        // an earlier paint left in the buffer.
        FillBuffer(m_buffer, inBuffer, m_color);
    }
    StretchDrawHdrToBitmap(&m_image, MaxRectHdr, &m_buffer, ToRect(imageInBuffer), ToRect(inBuffer),
                           1.0f);
    const QImage wrapped(m_buffer.ScanLine(0), m_buffer.Width(), m_buffer.Height(),
                         static_cast<qsizetype>(m_buffer.BytesPerLine()), QImage::Format_BGR888);
    painter.drawImage(r.topLeft(), wrapped, inBuffer);
}

void TScrollBoxHdr::ScrollImage(int, int) {}

void TScrollBoxHdr::paintEvent(QPaintEvent* event)
{
    if (m_sizeChanged) {
        m_sizeChanged = false;
        UpdateScrollRanges();
        UpdateCursor();
    }
    UpdateBuffer();
    QPainter painter(viewport());
    PaintImage(painter, event->rect());
}

void TScrollBoxHdr::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRanges();
}

void TScrollBoxHdr::scrollContentsBy(int dx, int dy)
{
    viewport()->scroll(dx, dy);  // moves what is shown; the uncovered strip is painted
    ScrollImage(dx, dy);
}

void TScrollBoxHdr::mouseMoveEvent(QMouseEvent* event)
{
    viewport()->setCursor(GetImageRect().contains(event->position().toPoint()) ? m_imageCursor
                                                                               : m_outsideCursor);
    QAbstractScrollArea::mouseMoveEvent(event);
}

void TScrollBoxHdr::wheelEvent(QWheelEvent* event)
{
    const QPoint angle = event->angleDelta();
    event->accept();
    if (event->modifiers() & Qt::ControlModifier) {
        // A notch is 120; touchpads send fractions, which add up to whole steps.
        m_wheelZoom += angle.y() != 0 ? angle.y() : angle.x();
        while (m_wheelZoom >= 120 || m_wheelZoom <= -120) {
            const bool in = m_wheelZoom > 0;
            m_wheelZoom += in ? -120 : 120;
            const std::int32_t level = in ? ZoomInLevel(m_zoom) : ZoomOutLevel(m_zoom);
            if (level == 0)
                continue;  // already at the end of the levels
            const QPointF at = event->position();
            if (OnWheelZoom)
                OnWheelZoom(level, at);
            else
                SetZoomAt(static_cast<float>(level) / 1000.0f, at);
        }
        return;
    }
    QPoint delta = event->pixelDelta();
    if (delta.isNull()) {
        const int line = verticalScrollBar()->singleStep() * QApplication::wheelScrollLines();
        delta = QPoint(angle.x() * line / 120, angle.y() * line / 120);
    }
    if ((event->modifiers() & Qt::ShiftModifier) && delta.x() == 0)
        delta = QPoint(delta.y(), 0);
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() - delta.x());
    verticalScrollBar()->setValue(verticalScrollBar()->value() - delta.y());
}

}  // namespace lumivex
