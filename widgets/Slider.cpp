#include "widgets/Slider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace lumivex {

namespace {

// Vertical sliders draw and hit-test the horizontal design with x and y exchanged.
QPoint Design(QPoint point, TSliderOrientation orientation)
{
    return orientation == TSliderOrientation::soVertical ? QPoint(point.y(), point.x()) : point;
}

}  // namespace

QColor ToQColor(TColor color)
{
    if (color < 0)
        color = GetSysColor(color & 0xFF);
    const auto value = static_cast<std::uint32_t>(color);
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

TSlider::TSlider(QWidget* parent) : QWidget(parent), m_barColor2(SystemColorFlag | ColorBtnFace)
{
    setFocusPolicy(Qt::StrongFocus);
    resize(150, m_barHeight + 9);
}

void TSlider::SetMin(int value)
{
    if (value >= m_max)
        return;
    m_min = value;
    for (TSliderCursor& c : m_cursors)
        c.Value = ClampToRange(c.Value);
    update();
}

void TSlider::SetMax(int value)
{
    if (value <= m_min)
        return;
    m_max = value;
    for (TSliderCursor& c : m_cursors)
        c.Value = ClampToRange(c.Value);
    update();
}

int TSlider::AddCursor(int value, TColor penColor, TColor fillColor)
{
    m_cursors.push_back(TSliderCursor{ClampToRange(value), penColor, fillColor});
    update();
    return CursorCount() - 1;
}

void TSlider::ClearCursors()
{
    m_cursors.clear();
    m_currentCursor = -1;
    m_dragCursor = -1;
    update();
}

int TSlider::CursorValue(int index) const
{
    if (index < 0 || index >= CursorCount())
        return 0;
    return m_cursors[static_cast<std::size_t>(index)].Value;
}

void TSlider::SetCursorValue(int index, int value, TChangeSource source)
{
    if (index < 0 || index >= CursorCount())
        return;
    if (OnBeforeChange)
        OnBeforeChange(*this, index, value);
    if (OrderedCursors) {
        if (index > 0)
            value = std::max(value, CursorValue(index - 1));
        if (index + 1 < CursorCount())
            value = std::min(value, CursorValue(index + 1));
    }
    value = ClampToRange(value);
    TSliderCursor& cursor = m_cursors[static_cast<std::size_t>(index)];
    if (value == cursor.Value)
        return;
    cursor.Value = value;
    m_currentCursor = index;
    update();
    if (OnChange)
        OnChange(*this, index, source);
}

void TSlider::SetCurrentCursor(int index)
{
    m_currentCursor = (index >= 0 && index < CursorCount()) ? index : -1;
}

void TSlider::SetCursorSize(int value)
{
    m_cursorSize = std::clamp(value, 4, 20);
    GrowToFit();
    update();
}

void TSlider::SetBarHeight(int value)
{
    m_barHeight = std::max(value, 1);
    GrowToFit();
    update();
}

void TSlider::SetDrawBar(bool value)
{
    m_drawBar = value;
    update();
}

void TSlider::SetBarPosition(TBarPosition value)
{
    m_barPosition = value;
    update();
}

void TSlider::SetBarStyle(TBarStyle value)
{
    m_barStyle = value;
    update();
}

void TSlider::SetBarColor(TColor value)
{
    m_barColor = value;
    update();
}

void TSlider::SetBarColor2(TColor value)
{
    m_barColor2 = value;
    update();
}

void TSlider::SetBarFrameStyle(TBarFrameStyle value)
{
    m_barFrameStyle = value;
    update();
}

void TSlider::SetOrientation(TSliderOrientation value)
{
    if (value == m_orientation)
        return;
    m_orientation = value;
    resize(height(), width());
    updateGeometry();
    update();
}

int TSlider::Length() const
{
    return m_orientation == TSliderOrientation::soVertical ? height() : width();
}

int TSlider::Thickness() const
{
    return m_orientation == TSliderOrientation::soVertical ? width() : height();
}

int TSlider::MinThickness() const { return m_barHeight + m_cursorSize + 1; }

void TSlider::GrowToFit()
{
    if (Thickness() >= MinThickness())
        return;
    if (m_orientation == TSliderOrientation::soVertical)
        resize(MinThickness(), height());
    else
        resize(width(), MinThickness());
    updateGeometry();
}

int TSlider::ClampToRange(int value) const { return std::clamp(value, m_min, m_max); }

int TSlider::ValueToPosition(int value) const
{
    const double track = Length() - 2 * m_cursorSize - 1;
    const double step = track / static_cast<double>(m_max - m_min);
    return m_cursorSize + static_cast<int>(std::nearbyint(step * (value - m_min)));
}

int TSlider::PositionToValue(int position) const
{
    const double track = Length() - 2 * m_cursorSize - 1;
    if (track <= 0.0)
        return m_min;
    const double v = (position - m_cursorSize) / track * static_cast<double>(m_max - m_min);
    return ClampToRange(static_cast<int>(std::nearbyint(v)) + m_min);
}

QRect TSlider::BarRect() const
{
    const int top = m_barPosition == TBarPosition::bpTopLeft ? 0 : m_cursorSize + 1;
    const QRect r(m_cursorSize, top, Length() - 2 * m_cursorSize, m_barHeight);
    if (m_orientation == TSliderOrientation::soVertical)
        return QRect(r.top(), r.left(), r.height(), r.width());
    return r;
}

std::vector<QPoint> TSlider::CursorTriangle(int index) const
{
    const int x = ValueToPosition(CursorValue(index));
    const int c = m_cursorSize;
    std::vector<QPoint> points;
    if (m_barPosition == TBarPosition::bpTopLeft) {
        const int y = m_drawBar ? m_barHeight : 0;
        points = {QPoint(x, y), QPoint(x - c, y + c), QPoint(x + c, y + c)};
    } else {
        points = {QPoint(x, c), QPoint(x - c, 0), QPoint(x + c, 0)};
    }
    for (QPoint& p : points)
        p = Design(p, m_orientation);
    return points;
}

int TSlider::CursorAt(QPoint point, bool backward) const
{
    const QPoint p = Design(point, m_orientation);
    const int c = m_cursorSize;
    const auto hit = [&](int index) {
        const int x = ValueToPosition(CursorValue(index));
        const int dx = std::abs(p.x() - x);
        if (m_barPosition == TBarPosition::bpTopLeft) {
            const int y = m_drawBar ? m_barHeight : 0;
            return p.y() >= y && p.y() <= y + c && dx <= p.y() - y;
        }
        return p.y() >= 0 && p.y() <= c && dx <= c - p.y();
    };
    const int n = CursorCount();
    for (int k = 0; k < n; ++k) {
        const int index = backward ? n - 1 - k : k;
        if (hit(index))
            return index;
    }
    return -1;
}

QSize TSlider::sizeHint() const
{
    const QSize s(150, std::max(m_barHeight + 9, MinThickness()));
    return m_orientation == TSliderOrientation::soVertical ? s.transposed() : s;
}

QSize TSlider::minimumSizeHint() const
{
    const QSize s(2 * m_cursorSize + 2, MinThickness());
    return m_orientation == TSliderOrientation::soVertical ? s.transposed() : s;
}

void TSlider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (m_orientation == TSliderOrientation::soVertical)
        painter.setTransform(QTransform(0, 1, 1, 0, 0, 0));  // exchange x and y
    if (m_drawBar)
        PaintBar(painter);
    PaintCursors(painter);
}

void TSlider::PaintBar(QPainter& painter)
{
    const int top = m_barPosition == TBarPosition::bpTopLeft ? 0 : m_cursorSize + 1;
    QRect bar(m_cursorSize, top, Length() - 2 * m_cursorSize, m_barHeight);
    if (bar.isEmpty())
        return;
    if (m_barFrameStyle != TBarFrameStyle::bfNone) {
        const bool raised = m_barFrameStyle == TBarFrameStyle::bfRaised;
        const QColor light = ToQColor(SystemColorFlag | ColorBtnHighlight);
        const QColor dark = ToQColor(SystemColorFlag | ColorBtnShadow);
        const QColor topLeft = raised ? light : dark;
        const QColor bottomRight = raised ? dark : light;
        painter.fillRect(QRect(bar.left(), bar.top(), bar.width(), 1), topLeft);
        painter.fillRect(QRect(bar.left(), bar.top(), 1, bar.height()), topLeft);
        painter.fillRect(QRect(bar.left(), bar.bottom(), bar.width(), 1), bottomRight);
        painter.fillRect(QRect(bar.right(), bar.top(), 1, bar.height()), bottomRight);
        bar.adjust(1, 1, -1, -1);
        if (bar.isEmpty())
            return;
    }
    switch (m_barStyle) {
        case TBarStyle::bsBox:
            if (m_barColor2 != NoColor)
                painter.fillRect(bar, ToQColor(m_barColor2));
            if (m_barColor != NoColor) {
                painter.setPen(ToQColor(m_barColor));
                painter.setBrush(Qt::NoBrush);
                painter.drawRect(bar.adjusted(0, 0, -1, -1));
            }
            break;
        case TBarStyle::bsGradient: {
            QLinearGradient gradient(bar.left(), 0, bar.right(), 0);
            gradient.setColorAt(0.0, ToQColor(m_barColor));
            gradient.setColorAt(1.0, ToQColor(m_barColor2));
            painter.fillRect(bar, gradient);
            break;
        }
        case TBarStyle::bsProgress: {
            const int x = m_cursors.empty() ? bar.left() : ValueToPosition(CursorValue(0));
            int split = std::clamp(x, bar.left(), bar.right() + 1);
            if (!m_cursors.empty() && CursorValue(0) >= m_max)
                split = bar.right() + 1;
            if (!m_cursors.empty() && CursorValue(0) <= m_min)
                split = bar.left();
            painter.fillRect(QRect(bar.left(), bar.top(), split - bar.left(), bar.height()),
                             ToQColor(m_barColor2));
            painter.fillRect(QRect(split, bar.top(), bar.right() + 1 - split, bar.height()),
                             ToQColor(m_barColor));
            break;
        }
        case TBarStyle::bsCustom:
            if (OnCustomDrawBar)
                OnCustomDrawBar(*this, painter, bar);
            break;
    }
}

void TSlider::PaintCursors(QPainter& painter)
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    const bool enabled = isEnabled();
    for (int i = 0; i < CursorCount(); ++i) {
        const TSliderCursor& c = m_cursors[static_cast<std::size_t>(i)];
        // The triangle in design coordinates: the painter exchanges axes for vertical sliders.
        std::vector<QPoint> points = CursorTriangle(i);
        for (QPoint& p : points)
            p = Design(p, m_orientation);
        painter.setPen(ToQColor(enabled ? c.PenColor : (SystemColorFlag | ColorBtnShadow)));
        painter.setBrush(ToQColor(enabled ? c.FillColor : (SystemColorFlag | ColorBtnFace)));
        painter.drawPolygon(points.data(), static_cast<int>(points.size()));
    }
}

void TSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPoint point = event->position().toPoint();
    const int index = CursorAt(point, m_searchBackward);
    m_searchBackward = !m_searchBackward;
    if (index >= 0) {
        m_dragCursor = index;
        m_currentCursor = index;
    } else if (JumpToClick && CursorCount() > 0) {
        if (m_currentCursor < 0)
            m_currentCursor = 0;
        SetCursorValue(m_currentCursor, PositionToValue(Design(point, m_orientation).x()),
                       TChangeSource::csMouse);
    }
    event->accept();
}

void TSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragCursor < 0) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const QPoint point = Design(event->position().toPoint(), m_orientation);
    SetCursorValue(m_dragCursor, PositionToValue(point.x()), TChangeSource::csMouse);
    event->accept();
}

void TSlider::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_dragCursor = -1;
    QWidget::mouseReleaseEvent(event);
}

void TSlider::keyPressEvent(QKeyEvent* event)
{
    // A slider nobody has touched yet still answers the keyboard with its first cursor.
    const int index = m_currentCursor >= 0 ? m_currentCursor : (CursorCount() > 0 ? 0 : -1);
    if (index < 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int value = CursorValue(index);
    int target = value;
    switch (event->key()) {
        case Qt::Key_PageUp:
            target = value + PageSize;
            break;
        case Qt::Key_PageDown:
            target = value - PageSize;
            break;
        case Qt::Key_End:
            target = m_max;
            break;
        case Qt::Key_Home:
            target = m_min;
            break;
        case Qt::Key_Left:
        case Qt::Key_Up:
            target = value - 1;
            break;
        case Qt::Key_Right:
        case Qt::Key_Down:
            target = value + 1;
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    SetCursorValue(index, target, TChangeSource::csKeyboard);
    event->accept();
}

}  // namespace lumivex
