// Program entry: the editor's main window.
//
//     lumivex [FILE] [--screenshot PNG]
//
// FILE is opened as if it had been dropped on the window (file managers pass it so).
// --screenshot saves the window as PNG once it is shown and quits, with messages going to
// stderr instead of boxes (for machines without a display, with QT_QPA_PLATFORM=offscreen).

#include <QApplication>
#include <QTimer>

#include "app/Main.h"
#include "platform/HugePages.h"

namespace lumivex {
namespace {

int Run(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumivex HD"));
    QString fileName;
    QString screenshot;
    const QStringList args = QApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == u"--screenshot" && i + 1 < args.size())
            screenshot = args[++i];
        else
            fileName = args[i];
    }
    TFrmMain window;
    window.show();
    if (!screenshot.isEmpty()) {
        QTimer::singleShot(0, &window, [&window, fileName, screenshot] {
            if (!fileName.isEmpty() && !window.OpenFile(fileName.toStdString(), true)) {
                QApplication::exit(1);
                return;
            }
            QApplication::processEvents();
            const bool saved = window.grab().save(screenshot, "PNG");
            QApplication::exit(saved ? 0 : 1);
        });
    } else if (!fileName.isEmpty()) {
        QTimer::singleShot(0, &window,
                           [&window, fileName] { window.OpenDroppedFiles({fileName}); });
    }
    return QApplication::exec();
}

}  // namespace
}  // namespace lumivex

int main(int argc, char** argv)
{
    lumivex::UseHugePages(argv);
    return lumivex::Run(argc, argv);
}
