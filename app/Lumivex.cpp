// Program entry: until the editor's main window exists, a window that shows one image in the
// scrolling view with the zoom commands, so that the view can be tried by hand.
//
//     lumivex [IMAGE] [--screenshot PNG]
//
// Without IMAGE it opens the sample image of the repository. --screenshot saves the window as
// PNG once it is shown and quits (for machines without a display, with QT_QPA_PLATFORM=offscreen).

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <cstdio>

#include "app/GlbStrings.h"
#include "app/MyMsgDlg.h"
#include "dialogs/DlgEx.h"
#include "io/IsolatedLoad.h"
#include "view/HdrScroll.h"

namespace lumivex {
namespace {

class TFrmViewer : public QMainWindow {
public:
    explicit TFrmViewer(TBmpHdr image, const TImageInfo& info, const QString& fileName)
    {
        setWindowTitle(QFileInfo(fileName).fileName() + QStringLiteral(" - Lumivex HD"));
        m_view = new TScrollBoxHdr(this, std::move(image));
        m_view->SetTransparent(info.Transparent);
        m_view->SetDpiX(info.DpiX);
        m_view->SetDpiY(info.DpiY);
        setCentralWidget(m_view);

        QToolBar* bar = addToolBar(QStringLiteral("View"));
        m_zoomBox = new QToolButton(bar);
        m_zoomBox->setPopupMode(QToolButton::InstantPopup);
        m_zoomBox->setMenu(BuildZoomMenu());
        bar->addWidget(m_zoomBox);
        bar->addAction(QStringLiteral("Zoom in"), this, [this] { Choose(ZoomInLevel(Zoom())); })
            ->setShortcut(QKeySequence::ZoomIn);
        bar->addAction(QStringLiteral("Zoom out"), this, [this] { Choose(ZoomOutLevel(Zoom())); })
            ->setShortcut(QKeySequence::ZoomOut);
        bar->addAction(QStringLiteral("100%"), this, [this] { Choose(1000); });
        bar->addAction(QString::fromUtf8(SZoomAuto), this, [this] { Choose(0); });
        resize(DesignedWidth, DesignedHeight);
    }

    /// Fits the image as a newly opened document does and shows the matching zoom item.
    void FitImage()
    {
        m_view->ZoomToFit(true);
        m_level = ZoomLevelOf(Zoom());
        UpdateZoomBox();
    }

private:
    static constexpr int DesignedWidth = 862;
    static constexpr int DesignedHeight = 591;

    float Zoom() const { return m_view->Zoom(); }

    QMenu* BuildZoomMenu()
    {
        auto* menu = new QMenu(this);
        menu->addAction(QString::fromUtf8(SZoomAuto), this, [this] { Choose(0); });
        menu->addSeparator();
        for (const std::int32_t level : ZoomLevels) {
            if (level == 1000)
                menu->addSeparator();
            QAction* item =
                menu->addAction(ZoomLevelCaption(level), this, [this, level] { Choose(level); });
            if (level == 1000) {
                menu->setDefaultAction(item);
                menu->addSeparator();
            }
        }
        return menu;
    }

    // Level 0 fits without enlarging; levels at the ends have no step (0 from the zoom rules).
    void Choose(std::int32_t level)
    {
        if (level == 0)
            m_view->ZoomToFit(true);
        else
            m_view->SetZoom(static_cast<float>(level) / 1000.0f);
        m_level = level;
        UpdateZoomBox();
    }

    void UpdateZoomBox()
    {
        m_zoomBox->setText(ZoomBoxText(m_level, Zoom()));
        const TBmpHdr& image = m_view->Image();
        statusBar()->showMessage(QStringLiteral("%1 x %2   %3")
                                     .arg(image.Width())
                                     .arg(image.Height())
                                     .arg(ZoomBoxText(0, Zoom())));
    }

    TScrollBoxHdr* m_view = nullptr;
    QToolButton* m_zoomBox = nullptr;
    std::int32_t m_level = 0;
};

int Run(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Lumivex HD"));
    QString fileName = QStringLiteral(LUMIVEX_SAMPLE_IMAGE);
    QString screenshot;
    const QStringList args = QApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == u"--screenshot" && i + 1 < args.size())
            screenshot = args[++i];
        else
            fileName = args[i];
    }

    TBmpHdr image;
    TImageInfo info;
    if (!LoadImageFile(fileName.toStdString(), &image, info)) {
        const QString text = QString::asprintf(SUnableToLoad, qPrintable(fileName));
        std::fprintf(stderr, "%s\n", qPrintable(text));
        if (screenshot.isEmpty())
            MessageBox(text, TMsgKind::mkError, MbOk);
        return 1;
    }
    TFrmViewer window(std::move(image), info, fileName);
    SetMainForm(&window);
    window.show();
    window.FitImage();
    if (!screenshot.isEmpty()) {
        QTimer::singleShot(0, &window, [&window, screenshot] {
            const bool saved = window.grab().save(screenshot, "PNG");
            QApplication::exit(saved ? 0 : 1);
        });
    }
    return QApplication::exec();
}

}  // namespace
}  // namespace lumivex

int main(int argc, char** argv) { return lumivex::Run(argc, argv); }
