#include <QPainter>
#include <QTest>
#include <vector>

#include "widgets/Slider.h"

using namespace lumivex;

namespace {

struct TChange {
    int Index;
    TChangeSource Source;
    int Value;
};

// Records every OnChange with the value the cursor had then.
std::vector<TChange>* Record(TSlider& slider)
{
    auto* changes = new std::vector<TChange>;
    slider.OnChange = [changes](TSlider& s, int index, TChangeSource source) {
        changes->push_back({index, source, s.CursorValue(index)});
    };
    return changes;
}

QPoint TipOf(const TSlider& slider, int index)
{
    // one pixel inside the triangle, below the tip
    const QPoint tip = slider.CursorTriangle(index).front();
    return tip + QPoint(0, 2);
}

}  // namespace

class SliderTest : public QObject {
    Q_OBJECT

private slots:
    void DefaultsAndCreationSize()
    {
        TSlider s;
        QCOMPARE(s.Min(), 0);
        QCOMPARE(s.Max(), 100);
        QCOMPARE(s.CurrentCursor(), -1);
        QCOMPARE(s.DragCursor(), -1);
        QCOMPARE(s.PageSize, 8);
        QVERIFY(s.OrderedCursors);
        QVERIFY(!s.JumpToClick);
        QCOMPARE(s.CursorSize(), 8);
        QCOMPARE(s.BarHeight(), 3);
        QCOMPARE(s.width(), 150);
        QCOMPARE(s.height(), 12);  // BarHeight + 9
        QVERIFY(s.BarStyle() == TBarStyle::bsBox);
        QVERIFY(s.BarFrameStyle() == TBarFrameStyle::bfLowered);
        QVERIFY(s.focusPolicy() & Qt::TabFocus);
    }

    void RangeAcceptsOnlyOrderedLimitsAndSizesAreKept()
    {
        TSlider s;
        s.SetMin(100);  // not below Max: refused
        QCOMPARE(s.Min(), 0);
        s.SetMax(0);
        QCOMPARE(s.Max(), 100);
        s.SetMax(500);
        s.SetMin(1);
        QCOMPARE(s.Min(), 1);
        QCOMPARE(s.Max(), 500);
        s.SetCursorSize(2);
        QCOMPARE(s.CursorSize(), 4);
        s.SetCursorSize(50);
        QCOMPARE(s.CursorSize(), 20);
        QVERIFY(s.height() >= s.BarHeight() + 20 + 1);  // grown to hold bar and cursor
        s.SetBarHeight(0);
        QCOMPARE(s.BarHeight(), 1);
    }

    void GeometryMapsValuesToPositionsAndBack()
    {
        TSlider s;
        s.resize(117, 12);  // T = 117 - 16 - 1 = 100: one pixel per value
        QCOMPARE(s.ValueToPosition(0), 8);
        QCOMPARE(s.ValueToPosition(100), 108);
        QCOMPARE(s.ValueToPosition(37), 45);
        QCOMPARE(s.PositionToValue(45), 37);
        QCOMPARE(s.PositionToValue(-50), 0);  // limited to the range
        QCOMPARE(s.PositionToValue(500), 100);
        QCOMPARE(s.BarRect(), QRect(8, 0, 101, 3));
        s.SetMax(200);  // two values per pixel: 8 + Round(0.5 x 5) = 8 + 2 (ties to even)
        QCOMPARE(s.ValueToPosition(5), 10);
        s.SetBarPosition(TBarPosition::bpBottomRight);
        QCOMPARE(s.BarRect(), QRect(8, 9, 101, 3));
        const std::vector<QPoint> t = s.CursorTriangle(s.AddCursor(0));
        QCOMPARE(t[0], QPoint(8, 8));  // tip down, base on top
        QCOMPARE(t[1], QPoint(0, 0));
    }

    void PageUpAndHomeMoveTheCurrentCursor()
    {
        TSlider s;
        s.SetMax(500);
        s.SetMin(1);
        s.PageSize = 10;
        s.AddCursor(1);
        std::unique_ptr<std::vector<TChange>> changes(Record(s));
        s.SetCursorValue(0, 30);
        QCOMPARE(s.CurrentCursor(), 0);
        QTest::keyClick(&s, Qt::Key_PageUp);
        QCOMPARE(s.Value(), 40);
        QTest::keyClick(&s, Qt::Key_Home);
        QCOMPARE(s.Value(), 1);
        QTest::keyClick(&s, Qt::Key_End);
        QCOMPARE(s.Value(), 500);
        QTest::keyClick(&s, Qt::Key_Left);
        QCOMPARE(s.Value(), 499);
        QTest::keyClick(&s, Qt::Key_Down);
        QCOMPARE(s.Value(), 500);
        QTest::keyClick(&s, Qt::Key_PageDown);
        QCOMPARE(s.Value(), 490);
        QTest::keyClick(&s, Qt::Key_Up);
        QCOMPARE(s.Value(), 489);
        QCOMPARE(changes->size(), std::size_t{8});
        QVERIFY(changes->front().Source == TChangeSource::csProgram);
        QVERIFY(changes->back().Source == TChangeSource::csKeyboard);
        QCOMPARE(changes->back().Value, 489);
        QTest::keyClick(&s, Qt::Key_Right);  // at 490
        QTest::keyClick(&s, Qt::Key_End);
        QTest::keyClick(&s, Qt::Key_End);  // already at Max: no event
        QCOMPARE(changes->size(), std::size_t{10});
    }

    void SettingThePresentValueCallsNobody()
    {
        TSlider s;
        s.AddCursor(30);
        std::unique_ptr<std::vector<TChange>> changes(Record(s));
        s.SetCursorValue(0, 30);
        s.SetCursorValue(5, 10);  // no such cursor
        s.SetCursorValue(-1, 10);
        QVERIFY(changes->empty());
        QCOMPARE(s.CurrentCursor(), -1);
        s.SetCursorValue(0, 150);  // limited to Max
        QCOMPARE(s.Value(), 100);
        QCOMPARE(changes->size(), std::size_t{1});
    }

    void BeforeChangeCorrectsTheValue()
    {
        TSlider s;
        s.AddCursor(0);
        s.OnBeforeChange = [](TSlider&, int, int& value) { value -= value % 10; };
        s.SetCursorValue(0, 37);
        QCOMPARE(s.Value(), 30);
    }

    void OrderedMiddleCursorCannotPassItsNeighbours()
    {
        TSlider s;
        s.resize(117, 12);
        s.AddCursor(10);
        s.AddCursor(50);
        s.AddCursor(90);
        std::unique_ptr<std::vector<TChange>> changes(Record(s));
        const QPoint grip = TipOf(s, 1);
        QTest::mousePress(&s, Qt::LeftButton, Qt::NoModifier, grip);
        QCOMPARE(s.DragCursor(), 1);
        QTest::mouseMove(&s, QPoint(s.ValueToPosition(99), grip.y()));
        QCOMPARE(s.CursorValue(1), 90);
        QTest::mouseMove(&s, QPoint(s.ValueToPosition(3), grip.y()));
        QCOMPARE(s.CursorValue(1), 10);
        QTest::mouseMove(&s, QPoint(s.ValueToPosition(60), grip.y()));
        QCOMPARE(s.CursorValue(1), 60);
        QTest::mouseRelease(&s, Qt::LeftButton, Qt::NoModifier,
                            QPoint(s.ValueToPosition(60), grip.y()));
        QCOMPARE(s.DragCursor(), -1);
        QVERIFY(!changes->empty());
        for (const TChange& c : *changes) {
            QCOMPARE(c.Index, 1);
            QVERIFY(c.Source == TChangeSource::csMouse);
        }
        QCOMPARE(s.CurrentCursor(), 1);
        s.OrderedCursors = false;
        s.SetCursorValue(1, 95);
        QCOMPARE(s.CursorValue(1), 95);
    }

    void StackedCursorsAreCaughtOnAlternatePresses()
    {
        TSlider s;
        s.resize(117, 12);
        s.AddCursor(40);
        s.AddCursor(40);
        const QPoint grip = TipOf(s, 0);
        QTest::mousePress(&s, Qt::LeftButton, Qt::NoModifier, grip);
        const int first = s.DragCursor();
        QTest::mouseRelease(&s, Qt::LeftButton, Qt::NoModifier, grip);
        QTest::mousePress(&s, Qt::LeftButton, Qt::NoModifier, grip);
        const int second = s.DragCursor();
        QTest::mouseRelease(&s, Qt::LeftButton, Qt::NoModifier, grip);
        QCOMPARE(first + second, 1);  // one press each
    }

    void ClickOutsideCursorsJumpsOnlyWhenAsked()
    {
        TSlider s;
        s.resize(117, 12);
        s.AddCursor(10);
        const QPoint far(s.ValueToPosition(80), 10);
        QTest::mouseClick(&s, Qt::LeftButton, Qt::NoModifier, far);
        QCOMPARE(s.Value(), 10);
        QCOMPARE(s.DragCursor(), -1);
        s.JumpToClick = true;
        QTest::mouseClick(&s, Qt::LeftButton, Qt::NoModifier, far);
        QCOMPARE(s.Value(), 80);
    }

    void BarStylesPaint()
    {
        TSlider s;
        s.resize(117, 12);
        s.AddCursor(50);
        s.SetBarFrameStyle(TBarFrameStyle::bfNone);
        s.SetBarStyle(TBarStyle::bsProgress);
        s.SetBarColor(0x000000FF);   // red, right of the cursor
        s.SetBarColor2(0x00FF0000);  // blue, left of it
        QImage img = s.grab().toImage();
        QCOMPARE(img.pixelColor(20, 1), QColor(0, 0, 255));
        QCOMPARE(img.pixelColor(100, 1), QColor(255, 0, 0));
        s.SetCursorValue(0, 100);  // at Max: all BarColor2
        img = s.grab().toImage();
        QCOMPARE(img.pixelColor(107, 1), QColor(0, 0, 255));
        s.SetBarStyle(TBarStyle::bsBox);
        s.SetBarColor(NoColor);
        s.SetBarColor2(0x0000FF00);
        img = s.grab().toImage();
        QCOMPARE(img.pixelColor(8, 0), QColor(0, 255, 0));  // no frame drawn: fill reaches the edge
        bool customCalled = false;
        s.SetBarStyle(TBarStyle::bsCustom);
        s.OnCustomDrawBar = [&](TSlider&, QPainter& p, const QRect& r) {
            customCalled = true;
            p.fillRect(r, Qt::yellow);
        };
        img = s.grab().toImage();
        QVERIFY(customCalled);
        QCOMPARE(img.pixelColor(20, 1), QColor(Qt::yellow));
        // the cursor: white fill inside the triangle below the bar
        QCOMPARE(img.pixelColor(s.ValueToPosition(100), 8), QColor(255, 255, 255));
    }

    void VerticalSliderTakesTheSameDesignAlongItsHeight()
    {
        TSlider s;
        s.SetOrientation(TSliderOrientation::soVertical);
        s.resize(12, 117);
        s.AddCursor(20);
        s.SetCurrentCursor(0);
        QCOMPARE(s.BarRect(), QRect(0, 8, 3, 101));
        QTest::keyClick(&s, Qt::Key_Down);
        QCOMPARE(s.Value(), 21);
        const QPoint tip = s.CursorTriangle(0).front();
        QCOMPARE(tip, QPoint(3, 29));  // 8 + 21, axes exchanged
        QTest::mousePress(&s, Qt::LeftButton, Qt::NoModifier, tip + QPoint(2, 0));
        QCOMPARE(s.DragCursor(), 0);
        QTest::mouseRelease(&s, Qt::LeftButton, Qt::NoModifier, tip);
    }
};

QTEST_MAIN(SliderTest)
#include "SliderTest.moc"
