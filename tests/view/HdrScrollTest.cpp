#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <cmath>

#include "view/DisplayHdr.h"
#include "view/HdrScroll.h"

using namespace lumivex;

namespace {

// A pattern whose every pixel differs from its neighbours, with values above 1 and below 0.
TBmpHdr Pattern(int width, int height, float alpha = 1.0f)
{
    TBmpHdr image;
    image.SetSize(width, height, TColorHdr{});
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.Pixels[y][x] = TColorHdr{static_cast<float>((x * 7) % 13) / 10.0f,
                                           static_cast<float>((y * 5) % 11) / 9.0f - 0.1f,
                                           static_cast<float>((x + y) % 17) / 16.0f, alpha};
    return image;
}

// Shown on the offscreen screen with a viewport of exactly the given size (no frame, no bars).
void ShowSized(TScrollBoxHdr& view, int width, int height)
{
    view.resize(width, height);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
}

// The scroll area shows or hides its bars through queued calls.
void Settle() { QCoreApplication::processEvents(); }

void Wheel(TScrollBoxHdr& view, QPoint at, QPoint angle, Qt::KeyboardModifiers modifiers = {})
{
    QWheelEvent event(at, view.viewport()->mapToGlobal(at), QPoint(), angle, Qt::NoButton,
                      modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &event);
}

QImage Shot(TScrollBoxHdr& view)
{
    Settle();
    return view.viewport()->grab().toImage();
}

QColor Bgr(const TBitmap& b, int x, int y)
{
    const std::uint8_t* p = b.ScanLine(y) + x * 3;
    return QColor(p[2], p[1], p[0]);
}

}  // namespace

class HdrScrollTest : public QObject {
    Q_OBJECT

private slots:
    void ZoomCaptionsAndFractions()
    {
        const char* captions[] = {"10%  (1:10)", "25%  (1:4)",    "33%  (1:3)",   "50%  (1:2)",
                                  "67%  (2:3)",  "75%  (3:4)",    "100%  (1:1)",  "200%  (2:1)",
                                  "300%  (3:1)", "400%  (4:1)",   "500%  (5:1)",  "600%  (6:1)",
                                  "800%  (8:1)", "1200%  (12:1)", "1600%  (16:1)"};
        for (std::size_t i = 0; i < ZoomLevels.size(); ++i)
            QCOMPARE(ZoomLevelCaption(ZoomLevels[i]), QString::fromUtf8(captions[i]));
        QCOMPARE(ZoomBoxText(250, 0.25f), QStringLiteral("25%"));
        QCOMPARE(ZoomBoxText(0, 0.198f), QStringLiteral("20%"));
        std::int32_t n = 0;
        std::int32_t d = 0;
        ZoomFraction(0.0, n, d);  // no endless search
        QCOMPARE(n, 1);
    }

    void ZoomInAndOutSteps()
    {
        QCOMPARE(ZoomInLevel(0.198f), 250);
        QCOMPARE(ZoomOutLevel(0.198f), 100);
        QCOMPARE(ZoomInLevel(0.333f), 500);
        QCOMPARE(ZoomOutLevel(0.333f), 250);
        QCOMPARE(ZoomInLevel(1.0f), 2000);
        QCOMPARE(ZoomOutLevel(1.0f), 750);
        QCOMPARE(ZoomInLevel(16.0f), 0);
        QCOMPARE(ZoomOutLevel(0.1f), 0);
        QCOMPARE(ZoomInLevel(0.05f), 100);  // below the first level
        QCOMPARE(ZoomLevelOf(0.666f), 666);
        QCOMPARE(ZoomLevelOf(0.198f), 0);
    }

    void SetZoomIsLimited()
    {
        TScrollBoxHdr view(nullptr, Pattern(10, 10));
        QCOMPARE(view.Zoom(), 1.0f);
        view.SetZoom(20.0f);
        QCOMPARE(view.Zoom(), 16.0f);
        view.SetZoom(0.05f);
        QCOMPARE(view.Zoom(), 0.1f);
        view.SetZoom(std::nanf(""));
        QCOMPARE(view.Zoom(), 0.1f);
        QCOMPARE(view.ScaledWidth(), 1);  // 10 x 0.1
        view.SetDpiX(-3.0f);
        view.SetDpiY(std::nanf(""));
        QCOMPARE(view.DpiX(), 72.0f);
        QCOMPARE(view.DpiY(), 72.0f);
        view.SetDpiX(300.0f);
        QCOMPARE(view.DpiX(), 300.0f);
    }

    void FitsImagesOfSeveralShapes()
    {
        // 1000 x 750 in 214 x 166: 198 / 1000 = 0.198 against 150 / 750 = 0.2 (the proportions
        // of 4000 x 3000 in 808 x 616)
        TScrollBoxHdr wide(nullptr, Pattern(1000, 750));
        ShowSized(wide, 214, 166);
        wide.ZoomToFit(true);
        QCOMPARE(wide.Zoom(), 198.0f / 1000.0f);
        QCOMPARE(ZoomBoxText(0, wide.Zoom()), QStringLiteral("20%"));
        QCOMPARE(ZoomInLevel(wide.Zoom()), 250);
        QCOMPARE(ZoomOutLevel(wide.Zoom()), 100);
        // the bars a 1:1 view needed are gone once it fits
        wide.SetZoom(1.0f);
        Settle();
        QVERIFY(wide.horizontalScrollBar()->maximum() > 0);
        wide.ZoomToFit(true);
        Settle();
        QCOMPARE(wide.Zoom(), 198.0f / 1000.0f);
        QCOMPARE(wide.horizontalScrollBar()->maximum(), 0);
        QCOMPARE(wide.verticalScrollBar()->maximum(), 0);

        TScrollBoxHdr tall(nullptr, Pattern(20, 400));
        ShowSized(tall, 216, 216);
        tall.ZoomToFit(true);
        QCOMPARE(tall.Zoom(), 200.0f / 400.0f);

        TScrollBoxHdr small(nullptr, Pattern(100, 100));
        ShowSized(small, 816, 616);
        small.ZoomToFit(true);
        QCOMPARE(small.Zoom(), 1.0f);  // not enlarged
        small.ZoomToFit(false);
        QCOMPARE(small.Zoom(), 6.0f);  // 600 / 100

        TScrollBoxHdr empty;
        ShowSized(empty, 100, 100);
        empty.SetZoom(2.0f);
        empty.ZoomToFit(true);
        QCOMPARE(empty.Zoom(), 2.0f);  // nothing to fit
    }

    void ScrollRangesFollowASizeChange()
    {
        TScrollBoxHdr view(nullptr, Pattern(100, 80));
        ShowSized(view, 200, 150);
        QCOMPARE(view.horizontalScrollBar()->maximum(), 0);  // 116 fits in 200
        QCOMPARE(view.GetImageRect(), QRect(8, 8, 100, 80));
        view.Image().SetSize(600, 300, TColorHdr{0.5f, 0.5f, 0.5f, 1.0f});
        QVERIFY(view.SizeChanged());
        Shot(view);  // the paint takes the change
        QVERIFY(!view.SizeChanged());
        Settle();
        const int vw = view.viewport()->width();
        const int vh = view.viewport()->height();
        QVERIFY(vw < 200 && vh < 150);  // both bars are shown now
        QCOMPARE(view.horizontalScrollBar()->maximum(), 616 - vw);
        QCOMPARE(view.verticalScrollBar()->maximum(), 316 - vh);
        view.SetZoom(0.5f);
        Settle();
        QCOMPARE(view.horizontalScrollBar()->maximum(),
                 std::max(316 - view.viewport()->width(), 0));
    }

    void PaintsWhatTheDisplayRenderingDraws()
    {
        for (float zoom : {1.0f, 2.0f, 0.5f, 0.333f}) {
            TScrollBoxHdr view(nullptr, Pattern(60, 40));
            view.SetColor(QColor(10, 20, 30));
            ShowSized(view, 300, 200);
            view.SetZoom(zoom);
            TBitmap expected;
            RenderImageToBitmap(&view.Image(), zoom, false, expected);
            const QImage shot = Shot(view);
            QCOMPARE(view.GetImageRect().size(), QSize(expected.Width(), expected.Height()));
            for (int y = 0; y < expected.Height(); ++y)
                for (int x = 0; x < expected.Width(); ++x)
                    QCOMPARE(shot.pixelColor(8 + x, 8 + y), Bgr(expected, x, y));
            QCOMPARE(shot.pixelColor(7, 7), QColor(Qt::black));  // the frame
            QCOMPARE(shot.pixelColor(8 + expected.Width(), 10), QColor(Qt::black));
            QCOMPARE(shot.pixelColor(3, 3), QColor(10, 20, 30));  // the margin
            QCOMPARE(shot.pixelColor(290, 190), QColor(10, 20, 30));
            QCOMPARE(view.Buffer().Width(), expected.Width());  // only the visible part
        }
    }

    void FrameCanBeSwitchedOffAndEmptyImagesShowTheColour()
    {
        TScrollBoxHdr view(nullptr, Pattern(20, 20));
        view.SetColor(QColor(1, 2, 3));
        view.SetFrameColor(QColor());
        ShowSized(view, 100, 100);
        QCOMPARE(Shot(view).pixelColor(7, 7), QColor(1, 2, 3));
        view.Image().Clear();
        view.Image().Changed();
        const QImage shot = Shot(view);
        QCOMPARE(shot.pixelColor(10, 10), QColor(1, 2, 3));
        QVERIFY(view.Buffer().IsEmpty());
    }

    void CheckerboardStaysOnTheImageWhenScrolling()
    {
        TScrollBoxHdr view(nullptr, Pattern(400, 300, 0.0f));  // fully transparent
        view.SetTransparent(true);
        ShowSized(view, 200, 150);
        QImage shot = Shot(view);
        QCOMPARE(shot.pixelColor(8, 8), QColor(195, 195, 195));  // grey top-left cell
        QCOMPARE(shot.pixelColor(16, 8), QColor(255, 255, 255));
        QCOMPARE(shot.pixelColor(16, 16), QColor(195, 195, 195));
        view.horizontalScrollBar()->setValue(13);  // image left at 8 - 13 = -5
        view.verticalScrollBar()->setValue(3);
        shot = Shot(view);
        const QRect r = view.GetImageRect();
        QCOMPARE(r.topLeft(), QPoint(-5, 5));
        for (int x = 0; x < 60; ++x) {
            const int ix = x - r.left();  // image column under screen column x
            const bool grey = (ix / 8) % 2 == 0;
            QCOMPARE(shot.pixelColor(x, 10), grey ? QColor(195, 195, 195) : QColor(Qt::white));
        }
    }

    void TranslucentPixelsBlendOverTheColourAtEveryPaint()
    {
        TBmpHdr image;
        image.SetSize(10, 10, TColorHdr{1.0f, 1.0f, 1.0f, 0.5f});
        TScrollBoxHdr view(nullptr, std::move(image));
        view.SetColor(QColor(0, 0, 0));
        ShowSized(view, 100, 100);
        const QColor first = Shot(view).pixelColor(12, 12);
        view.viewport()->repaint();
        const QColor second = Shot(view).pixelColor(12, 12);
        QCOMPARE(first, QColor(128, 128, 128));  // 127.5 to the even 128
        QCOMPARE(second, first);
    }

    void ZoomKeepsTheMiddleOfTheWindow()
    {
        TScrollBoxHdr view(nullptr, Pattern(400, 400));
        ShowSized(view, 200, 200);
        view.horizontalScrollBar()->setValue(100);
        view.verticalScrollBar()->setValue(50);
        const int vw = view.viewport()->width();
        const double before = (100 + vw / 2.0 - 8) / 1.0;  // image column in the middle
        view.SetZoom(2.0f);
        const double after = (view.horizontalScrollBar()->value() + vw / 2.0 - 8) / 2.0;
        QVERIFY(std::abs(after - before) <= 0.5);
    }

    void WheelScrollsAndCtrlWheelZoomsAroundTheMouse()
    {
        TScrollBoxHdr view(nullptr, Pattern(400, 400));
        ShowSized(view, 200, 200);
        Settle();
        QScrollBar* h = view.horizontalScrollBar();
        QScrollBar* v = view.verticalScrollBar();
        const int notch = 16 * QApplication::wheelScrollLines();  // lines of 16 pixels
        Wheel(view, QPoint(50, 50), QPoint(0, -120));
        QCOMPARE(v->value(), notch);
        QCOMPARE(h->value(), 0);
        Wheel(view, QPoint(50, 50), QPoint(0, -120), Qt::ShiftModifier);
        QCOMPARE(h->value(), notch);
        Wheel(view, QPoint(50, 50), QPoint(0, 240));
        QCOMPARE(v->value(), 0);  // limited at the top
        // Ctrl: one level per notch, the image point under the mouse stays under it.
        const QPoint mouse(30, 70);
        const double column = (h->value() + mouse.x() - 8) / 1.0;
        const double row = (v->value() + mouse.y() - 8) / 1.0;
        Wheel(view, mouse, QPoint(0, 120), Qt::ControlModifier);
        QCOMPARE(view.Zoom(), 2.0f);
        QVERIFY(std::abs((h->value() + mouse.x() - 8) / 2.0 - column) <= 0.5);
        QVERIFY(std::abs((v->value() + mouse.y() - 8) / 2.0 - row) <= 0.5);
        // Touchpad fractions add up to one step down; the levels end at 10 %.
        Wheel(view, mouse, QPoint(0, -60), Qt::ControlModifier);
        QCOMPARE(view.Zoom(), 2.0f);
        Wheel(view, mouse, QPoint(0, -60), Qt::ControlModifier);
        QCOMPARE(view.Zoom(), 1.0f);
        view.SetZoom(0.1f);
        Wheel(view, mouse, QPoint(0, -120), Qt::ControlModifier);
        QCOMPARE(view.Zoom(), 0.1f);
        // With a hook the owner decides and the view does not zoom by itself.
        std::int32_t asked = 0;
        view.OnWheelZoom = [&asked](std::int32_t level, QPointF) { asked = level; };
        Wheel(view, mouse, QPoint(0, 120), Qt::ControlModifier);
        QCOMPARE(asked, 250);
        QCOMPARE(view.Zoom(), 0.1f);
    }

    void CrossHairOverTheImageOnly()
    {
        TScrollBoxHdr view(nullptr, Pattern(50, 50));
        ShowSized(view, 200, 200);
        QTest::mouseMove(view.viewport(), QPoint(20, 20));
        QCOMPARE(view.viewport()->cursor().shape(), Qt::CrossCursor);
        QTest::mouseMove(view.viewport(), QPoint(150, 150));
        QCOMPARE(view.viewport()->cursor().shape(), Qt::ArrowCursor);
    }
};

QTEST_MAIN(HdrScrollTest)
#include "HdrScrollTest.moc"
