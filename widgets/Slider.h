#pragma once

// A horizontal bar with one or more triangular cursors, each an integer value; the parameter
// control of the filter dialogs.

#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/SysColors.h"

namespace lumivex {

/// The platform's "no colour": a bar colour of this value leaves that part undrawn.
inline constexpr TColor NoColor = 0x1FFFFFFF;

/// A platform colour value ($00BBGGRR, or a system colour when negative) as a Qt colour.
QColor ToQColor(TColor color);

enum class TBarPosition : std::uint8_t { bpTopLeft, bpBottomRight };
enum class TBarStyle : std::uint8_t { bsBox, bsGradient, bsProgress, bsCustom };
enum class TBarFrameStyle : std::uint8_t { bfNone, bfRaised, bfLowered };
enum class TSliderOrientation : std::uint8_t { soHorizontal, soVertical };

/// Who changed a cursor, as OnChange reports it.
enum class TChangeSource : std::uint8_t { csProgram = 0, csMouse = 1, csKeyboard = 2 };

struct TSliderCursor {
    std::int32_t Value = 0;
    TColor PenColor = SystemColorFlag | ColorBtnShadow;
    TColor FillColor = 0x00FFFFFF;
};

class TSlider : public QWidget {
public:
    using TChangeEvent = std::function<void(TSlider& sender, int index, TChangeSource source)>;
    using TBeforeChangeEvent = std::function<void(TSlider& sender, int index, int& value)>;
    using TCustomDrawBarEvent =
        std::function<void(TSlider& sender, QPainter& painter, const QRect& rect)>;

    explicit TSlider(QWidget* parent = nullptr);

    TChangeEvent OnChange;
    TBeforeChangeEvent OnBeforeChange;
    TCustomDrawBarEvent OnCustomDrawBar;

    int Min() const { return m_min; }
    int Max() const { return m_max; }
    /// Accepted only when below Max.
    void SetMin(int value);
    /// Accepted only when above Min.
    void SetMax(int value);

    /// Adds a cursor (its value limited to the range, not to its neighbours) and answers its
    /// index.
    int AddCursor(int value, TColor penColor = SystemColorFlag | ColorBtnShadow,
                  TColor fillColor = 0x00FFFFFF);
    void ClearCursors();
    int CursorCount() const { return static_cast<int>(m_cursors.size()); }
    const TSliderCursor& Cursor(int index) const { return m_cursors.at(index); }
    /// The value of a cursor; 0 for an index outside the cursors.
    int CursorValue(int index) const;
    /// Sets a cursor through OnBeforeChange, the neighbours (OrderedCursors) and the range;
    /// OnChange runs only when the stored value changes. An index outside the cursors is ignored.
    void SetCursorValue(int index, int value, TChangeSource source = TChangeSource::csProgram);
    /// The value of the first cursor (0 without cursors), the usual single-cursor case.
    int Value() const { return CursorValue(0); }
    void SetValue(int value) { SetCursorValue(0, value); }

    int CurrentCursor() const { return m_currentCursor; }
    void SetCurrentCursor(int index);
    int DragCursor() const { return m_dragCursor; }

    int PageSize = 8;
    bool OrderedCursors = true;
    bool JumpToClick = false;

    int CursorSize() const { return m_cursorSize; }
    /// Kept within 4..20.
    void SetCursorSize(int value);
    int BarHeight() const { return m_barHeight; }
    /// At least 1; the control grows when bar and cursor no longer fit.
    void SetBarHeight(int value);
    bool DrawBar() const { return m_drawBar; }
    void SetDrawBar(bool value);
    TBarPosition BarPosition() const { return m_barPosition; }
    void SetBarPosition(TBarPosition value);
    TBarStyle BarStyle() const { return m_barStyle; }
    void SetBarStyle(TBarStyle value);
    TColor BarColor() const { return m_barColor; }
    void SetBarColor(TColor value);
    /// Defaults to the control's colour (the window colour of its palette).
    TColor BarColor2() const { return m_barColor2; }
    void SetBarColor2(TColor value);
    TBarFrameStyle BarFrameStyle() const { return m_barFrameStyle; }
    void SetBarFrameStyle(TBarFrameStyle value);
    /// Vertical sliders lay the horizontal design along the height: Min at the top.
    TSliderOrientation Orientation() const { return m_orientation; }
    void SetOrientation(TSliderOrientation value);

    /// Position along the bar of a value: C + Round(T / (Max - Min) x (v - Min)), with
    /// C = CursorSize and T the bar length minus 2 C + 1.
    int ValueToPosition(int value) const;
    /// The value under a position along the bar, limited to Min..Max.
    int PositionToValue(int position) const;
    /// The bar rectangle in control coordinates.
    QRect BarRect() const;
    /// The triangle of a cursor, tip first, in control coordinates.
    std::vector<QPoint> CursorTriangle(int index) const;
    /// The first cursor whose triangle holds the point, searching forward or backward; -1 when
    /// none does.
    int CursorAt(QPoint point, bool backward) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int Length() const;
    int Thickness() const;
    int MinThickness() const;
    void GrowToFit();
    int ClampToRange(int value) const;
    void PaintBar(QPainter& painter);
    void PaintCursors(QPainter& painter);

    int m_min = 0;
    int m_max = 100;
    std::vector<TSliderCursor> m_cursors;
    int m_currentCursor = -1;
    int m_dragCursor = -1;
    bool m_searchBackward = false;  // alternates per press so that stacked cursors can be caught
    int m_cursorSize = 8;
    int m_barHeight = 3;
    bool m_drawBar = true;
    TBarPosition m_barPosition = TBarPosition::bpTopLeft;
    TBarStyle m_barStyle = TBarStyle::bsBox;
    TColor m_barColor = SystemColorFlag | ColorBtnShadow;
    TColor m_barColor2;
    TBarFrameStyle m_barFrameStyle = TBarFrameStyle::bfLowered;
    TSliderOrientation m_orientation = TSliderOrientation::soHorizontal;
};

}  // namespace lumivex
