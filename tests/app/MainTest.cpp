// The editor driven through its real main window on the offscreen platform: files, direct
// commands, history, repeat, the close query, saving, drops, menu enabling and a screenshot.

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QWheelEvent>
#include <cmath>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <new>
#include <stdexcept>

#include "TestDataQt.h"
#include "TestImages.h"
#include "adjust/ColorAdjust.h"
#include "app/About.h"
#include "app/GlbStrings.h"
#include "app/Main.h"
#include "app/MyMsgDlg.h"
#include "core/Progress.h"
#include "dialogs/DlgManager.h"
#include "geometry/GeometryHdr.h"
#include "history/UndoCommands.h"
#include "history/UndoHdr.h"
#include "io/ImageLib.h"
#include "io/IsolatedLoad.h"
#include "view/DisplayHdr.h"
#include "view/HdrScroll.h"
#include "widgets/DropDownEdit.h"
#include "widgets/ImageButtons.h"

using namespace lumivex;

namespace {

using test::Copy;
using test::DataFile;
using test::SameBits;

// Answers every message box as it shows: records its text and presses the queued button
// (Ok, else Cancel, when nothing is queued).
class TBoxes {
public:
    TBoxes()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Answer(); });
        m_timer.start();
    }

    void Queue(int result) { m_answers.push_back(result); }
    QStringList Texts;

private:
    void Answer()
    {
        auto* box = dynamic_cast<TMsgDlgForm*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        Texts << box->LblMsg->text();
        int result = MrOk;
        if (!m_answers.empty()) {
            result = m_answers.front();
            m_answers.pop_front();
        }
        QPushButton* button = result == MrYes  ? box->BtnYes
                              : result == MrNo ? box->BtnNo
                              : result == MrOk ? box->BtnOk
                                               : box->BtnCancel;
        if (!button->isVisible())
            button = box->BtnOk->isVisible() ? box->BtnOk : box->BtnCancel;
        button->click();
    }

    QTimer m_timer;
    std::deque<int> m_answers;
};

}  // namespace

class MainTest : public QObject {
    Q_OBJECT

public slots:
    void OpenUrl(const QUrl& url) { m_openedUrl = url; }

private:
    std::unique_ptr<TFrmMain> m_window;
    std::unique_ptr<TBoxes> m_boxes;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::vector<std::pair<std::string, int>> m_proposed;  // what the save dialog was offered
    std::deque<TSaveAnswer> m_saveAnswers;
    QUrl m_openedUrl;

    TFrmMain& W() { return *m_window; }
    std::string Temp(const char* name) const { return m_dir->filePath(name).toStdString(); }

    void Open(const char* relative)
    {
        QVERIFY(W().OpenFile(DataFile(relative)));
        QVERIFY(IsDocumentOpen());
    }

    // The record's caption, the enabled state of the Edit items, as the menu shows them.
    QString Caption(QAction* item)
    {
        W().UpdateMenus();
        return item->text();
    }

private slots:
    void initTestCase()
    {
        // Settings into a private folder, never the user's.
        static QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "OpenUrl");
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_boxes = std::make_unique<TBoxes>();
        m_window = std::make_unique<TFrmMain>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_proposed.clear();
        m_saveAnswers.clear();
        OnSaveDialog = [this](const std::string& proposed, int index) {
            m_proposed.emplace_back(proposed, index);
            if (m_saveAnswers.empty())
                return TSaveAnswer{};
            TSaveAnswer a = m_saveAnswers.front();
            m_saveAnswers.pop_front();
            return a;
        };
        OnOpenDialog = [](const std::string&, bool) { return std::vector<std::string>{}; };
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }

    void cleanup()
    {
        CloseDocument();
        m_window.reset();
        m_boxes.reset();
        OnSaveDialog = nullptr;
        OnOpenDialog = nullptr;
    }

    void FileNamesUseSlashesAndSkipAHiddenFilesDot()
    {
        QCOMPARE(AddHdSuffix("/a/b.jpg"), std::string("/a/b_HD.jpg"));
        QCOMPARE(AddHdSuffix("/my.pics/a.b.tif"), std::string("/my.pics/a_HD.b.tif"));
        QCOMPARE(AddHdSuffix("Merge HDR"), std::string("Merge HDR"));
        QCOMPARE(AddHdSuffix("/home/u/.hidden.png"), std::string("/home/u/.hidden_HD.png"));
        QCOMPARE(AddHdSuffix("/home/u/.profile"), std::string("/home/u/.profile"));
        QCOMPARE(AddHdSuffix("C:\\x\\a.jpg"), std::string("C:\\x\\a_HD.jpg"));  // "\\" is a letter
        QCOMPARE(ExtractFileExt("/my.pics/name"), std::string());
        QCOMPARE(ChangeFileExt("/a/b_HD.JPG", ".exr"), std::string("/a/b_HD.exr"));
        QCOMPARE(FilterItemExt("PNG|*.png"), std::string(".png"));
        QCOMPARE(FilterItemExt("Images|*.tif;*.png"), std::string(".tif"));
        QCOMPARE(SaveFilterIndexOf("/a/b_HD.jpg"), 2);
        QCOMPARE(SaveFilterIndexOf("/a/B_HD.JPG"), 6);  // case-sensitive: OpenEXR
        QCOMPARE(SaneDpi(300.0f), 300.0f);
        QCOMPARE(SaneDpi(0.0f), 72.0f);
        QCOMPARE(SaneDpi(std::nanf("")), 72.0f);
        QCOMPARE(SaneDpi(1e9f), 72.0f);  // x 1000 would not fit the record's integer
    }

    void StandardFileOpensQuietlyWithEverythingEnabled()
    {
        Open("ldr/png_rgb8_257x129.png");
        QVERIFY(m_boxes->Texts.isEmpty());
        QCOMPARE(GetDocumentKind(), TImageKind::ikStandard);
        QCOMPARE(W().StatusText(1), QStringLiteral("257 x 129"));
        QCOMPARE(W().StatusText(2), QStringLiteral("518.02 Kb"));  // 257*129*16 / 1024
        QCOMPARE(W().StatusText(3), QStringLiteral("png_rgb8_257x129.png"));
        QCOMPARE(W().StatusText(0), QStringLiteral("Ready"));
        QCOMPARE(GetWorkRect(), (TRect{0, 0, 257, 129}));
        W().UpdateMenus();
        QVERIFY(!W().MenuFileOpen->isEnabled());
        QVERIFY(!W().MenuFileSave->isEnabled());  // nothing to save yet
        QVERIFY(W().MenuFileExport->isEnabled());
        QVERIFY(W().MenuAdjustNegative->isEnabled());
        QVERIFY(!W().MenuImageDisableAlpha->isEnabled());  // no transparency shown
        QVERIFY(!W().MenuEditUndo->isEnabled());
        QCOMPARE(W().MenuEditUndo->text(), QStringLiteral("Undo"));
    }

    void HighRangeWarnsAndRestrictsTheMenus()
    {
        // Dialog commands count as available here, so that only the rules decide.
        for (QAction* item : {W().MenuAdjustToneMap, W().MenuAdjustGamma, W().MenuFilterBlur,
                              W().MenuImageResize, W().MenuImageRotate})
            W().SetDialogCommand(item, [] {});
        Open("hdr/courtyard_256x128_float_zip.exr");
        QCOMPARE(
            m_boxes->Texts,
            QStringList{QStringLiteral("You should apply a \"Tone Mapping\" before continuing !")});
        QCOMPARE(GetDocumentKind(), TImageKind::ikHighRange);
        W().UpdateMenus();
        QVERIFY(W().MenuAdjustToneMap->isEnabled());
        QVERIFY(W().MenuAdjustEgalize->isEnabled());
        QVERIFY(W().MenuAdjustAutoWB->isEnabled());
        QVERIFY(!W().MenuAdjustGamma->isEnabled());
        QVERIFY(!W().MenuAdjustNegative->isEnabled());
        QVERIFY(!W().MenuFilterBlur->isEnabled());
        QVERIFY(!W().MenuImageResize->isEnabled());
        QVERIFY(!W().MenuImageRotate->isEnabled());
        QVERIFY(W().MenuImageFlipHorz->isEnabled());
        // Automatic equalization lifts the restriction and is not fadable on high range.
        W().MenuAdjustEgalize->trigger();
        QCOMPARE(GetDocumentKind(), TImageKind::ikStandard);
        QVERIFY(!CanFade());
        W().UpdateMenus();
        QVERIFY(W().MenuAdjustGamma->isEnabled());
        QVERIFY(W().MenuFilterBlur->isEnabled());
        QVERIFY(W().MenuImageResize->isEnabled());
        QVERIFY(!W().MenuEditRepeat->isEnabled());  // not repeatable
        // Undo brings the high range, and the restriction, back.
        W().MenuEditUndo->trigger();
        QCOMPARE(GetDocumentKind(), TImageKind::ikHighRange);
        QVERIFY(!W().MenuFilterBlur->isEnabled());
    }

    void HighPrecisionInformsOnceAndIsStandardAfterwards()
    {
        Open("hdr/courtyard_256x128_rgb16_linear.tif");
        QCOMPARE(m_boxes->Texts,
                 QStringList{QStringLiteral(
                     "It is better to apply a \"Tone Mapping\" before continuing !")});
        QCOMPARE(GetDocumentKind(), TImageKind::ikStandard);
        W().UpdateMenus();
        QVERIFY(W().MenuAdjustNegative->isEnabled());
    }

    void FailedLoadShowsItsMessageAndChangesNothing()
    {
        const std::string bad = DataFile("bad/truncated_half.png");
        QVERIFY(!W().OpenFile(bad));
        QVERIFY(!IsDocumentOpen());
        QCOMPARE(m_boxes->Texts, QStringList{QString::asprintf(
                                     "Unable to load image in file \"%s\" !", bad.c_str())});
        QVERIFY(W().MenuFileOpen->isEnabled());
        QCOMPARE(W().StatusText(1), QString());
        QCOMPARE(W().WaitCount(), 0);
        // Cancelling the open dialog says nothing.
        W().MenuFileOpen->trigger();
        QCOMPARE(m_boxes->Texts.size(), 1);
        QVERIFY(!IsDocumentOpen());
    }

    void DirectCommandsEqualTheEngineAndUndoRedoBitForBit()
    {
        Open("ldr/png_rgba8_partial_alpha_256x128.png");
        struct TCase {
            QAction* Item;
            std::function<void(TBmpHdr&)> Engine;
        };
        const std::vector<TCase> cases{
            {W().MenuAdjustNegative, [](TBmpHdr& i) { NegativeHdr(&i, MaxRectHdr); }},
            {W().MenuAdjustEgalize, [](TBmpHdr& i) { i.Normalize(MaxRectHdr); }},
            {W().MenuAdjustAutoWB, [](TBmpHdr& i) { i.NormalizeChannels(MaxRectHdr); }},
            {W().MenuImageFlipHorz, [](TBmpHdr& i) { FlipHorzHdr(&i, MaxRectHdr); }},
            {W().MenuImageFlipVert, [](TBmpHdr& i) { FlipVertHdr(&i, MaxRectHdr); }},
            {W().MenuImageFlip180, [](TBmpHdr& i) { Rotate180Hdr(&i, MaxRectHdr); }},
            {W().MenuImageRotate90c,
             [](TBmpHdr& i) {
                 const TBmpHdr src = Copy(i);
                 Rotate90CWHdr(&src, &i);
             }},
            {W().MenuImageRotate90a,
             [](TBmpHdr& i) {
                 const TBmpHdr src = Copy(i);
                 Rotate90CCWHdr(&src, &i);
             }},
            {W().MenuImageDisableAlpha, [](TBmpHdr& i) { SetAlphaHdr(&i, MaxRectHdr, 1.0f); }},
        };
        for (const TCase& c : cases) {
            const TBmpHdr before = Copy(*GetImage());
            TBmpHdr expected = Copy(before);
            c.Engine(expected);
            QVERIFY2(c.Item->isEnabled(), qPrintable(c.Item->objectName()));
            c.Item->trigger();
            QVERIFY2(SameBits(*GetImage(), expected), qPrintable(c.Item->objectName()));
            QCOMPARE(GetWorkRect(), GetImage()->GetBounds());  // follows the turns
            W().MenuEditUndo->trigger();
            QVERIFY2(SameBits(*GetImage(), before), qPrintable(c.Item->objectName()));
            QCOMPARE(GetWorkRect(), GetImage()->GetBounds());
            W().MenuEditRedo->trigger();
            QVERIFY2(SameBits(*GetImage(), expected), qPrintable(c.Item->objectName()));
            QCOMPARE(W().WaitCount(), 0);
        }
        // The quarter turn changed the size text; the alpha record's undo gives transparency back.
        QCOMPARE(W().StatusText(1), QStringLiteral("256 x 128"));
        QVERIFY(!GetView()->Transparent());
        W().MenuEditUndo->trigger();
        QVERIFY(GetView()->Transparent());
        QCOMPARE(W().StatusText(1), QStringLiteral("256 x 128 (Alpha)"));
        W().UpdateMenus();
        QVERIFY(W().MenuImageDisableAlpha->isEnabled());
    }

    void RepeatRunsTheLastRepeatableCommandWithItsCaption()
    {
        Open("ldr/png_rgb8_257x129.png");
        QCOMPARE(Caption(W().MenuEditRepeat), QStringLiteral("Repeat"));
        QVERIFY(!W().MenuEditRepeat->isEnabled());
        TBmpHdr twice = Copy(*GetImage());
        NegativeHdr(&twice, MaxRectHdr);
        NegativeHdr(&twice, MaxRectHdr);
        W().MenuAdjustNegative->trigger();
        QCOMPARE(Caption(W().MenuEditUndo), QStringLiteral("Undo Negative"));
        QCOMPARE(Caption(W().MenuEditRepeat), QStringLiteral("Repeat Negative"));
        QCOMPARE(Caption(W().MenuEditFade), QStringLiteral("Fade Negative..."));
        W().MenuEditRepeat->trigger();
        QVERIFY(SameBits(*GetImage(), twice));
        QCOMPARE(GetUndoList()->Count(), 2);
        W().MenuImageRotate90c->trigger();
        QCOMPARE(Caption(W().MenuEditRepeat), QStringLiteral("Repeat Rotate 90\u00B0 CW"));
        QVERIFY(!CanFade());  // whole-image records are not fadable
        W().MenuEditRepeat->trigger();
        QCOMPARE(GetImage()->Width(), 257);  // two quarter turns
        W().MenuAdjustEgalize->trigger();
        QVERIFY(!W().MenuEditRepeat->isEnabled());
        QCOMPARE(Caption(W().MenuEditRepeat), QStringLiteral("Repeat"));
        // A stored command belongs to its document.
        W().MenuAdjustNegative->trigger();
        QVERIFY(CanRepeat());
        CloseDocument();
        QVERIFY(!CanRepeat());
        Open("ldr/png_rgb8_257x129.png");
        QVERIFY(!CanRepeat());
    }

    void SevenStepHistoryAndTheModifiedStateThroughSaves()
    {
        Open("ldr/png_rgb8_257x129.png");
        QVERIFY(!IsDocumentModified());
        W().MenuAdjustNegative->trigger();
        QVERIFY(IsDocumentModified());
        QVERIFY(W().MenuFileSave->isEnabled());
        QVERIFY(W().FileButtons->ButtonEnabled(1));
        m_saveAnswers.push_back({Temp("a.png"), 3});
        W().MenuFileSave->trigger();
        QCOMPARE(m_proposed.back().first,
                 std::string(LUMIVEX_TEST_DATA_DIR) + "/ldr/png_rgb8_257x129_HD.png");
        QCOMPARE(m_proposed.back().second, 3);
        QVERIFY(!IsDocumentModified());
        QCOMPARE(W().StatusText(3), QStringLiteral("a.png"));
        QVERIFY(!W().MenuFileSave->isEnabled());
        W().MenuEditUndo->trigger();
        QVERIFY(IsDocumentModified());
        W().MenuEditRedo->trigger();
        QVERIFY(!IsDocumentModified());  // back at the saved record
        for (int i = 0; i < 7; ++i)
            W().MenuImageFlipHorz->trigger();
        QCOMPARE(GetUndoList()->Count(), 7);
        QVERIFY(GetUndoList()->OldestDropped());
        for (int i = 0; i < 7; ++i)
            W().MenuEditUndo->trigger();
        QVERIFY(!CanUndo());
        QVERIFY(IsDocumentModified());  // the saved step fell out of the history
        // Clear keeps a modified document modified until the next save.
        W().MenuEditClearUndo->trigger();
        QVERIFY(!HasUndo());
        QVERIFY(IsDocumentModified());
        m_saveAnswers.push_back({Temp("b"), 4});  // no extension: the selected type's
        W().MenuFileSave->trigger();
        QVERIFY(std::filesystem::exists(Temp("b.tif")));
        QVERIFY(!IsDocumentModified());
        W().MenuEditClearUndo->trigger();
        QVERIFY(!IsDocumentModified());
        // Export proposes OpenEXR.
        m_saveAnswers.push_back({});
        W().MenuFileExport->trigger();
        QCOMPARE(m_proposed.back().first, Temp("b_HD.exr"));
        QCOMPARE(m_proposed.back().second, 6);
    }

    void CloseQueryHasThreeAnswers()
    {
        Open("ldr/png_rgb8_257x129.png");
        W().MenuFileClose->trigger();  // unmodified: closes without asking
        QVERIFY(!IsDocumentOpen());
        QVERIFY(m_boxes->Texts.isEmpty());
        QVERIFY(W().MenuFileOpen->isEnabled());
        QCOMPARE(W().StatusText(1), QString());

        Open("ldr/png_rgb8_257x129.png");
        W().MenuAdjustNegative->trigger();
        m_boxes->Queue(MrCancel);
        W().MenuFileClose->trigger();
        QVERIFY(IsDocumentOpen());
        QCOMPARE(m_boxes->Texts.back(), QStringLiteral("Save changes before continuing ?"));
        m_boxes->Queue(MrYes);  // Yes, then the save dialog is cancelled: nothing closes
        W().MenuFileClose->trigger();
        QVERIFY(IsDocumentOpen());
        m_boxes->Queue(MrYes);
        m_saveAnswers.push_back({Temp("c.jpg"), 2});
        W().MenuFileClose->trigger();
        QVERIFY(!IsDocumentOpen());
        QVERIFY(std::filesystem::exists(Temp("c.jpg")));

        Open("ldr/png_rgb8_257x129.png");
        W().MenuAdjustNegative->trigger();
        m_boxes->Queue(MrNo);
        W().MenuFileClose->trigger();
        QVERIFY(!IsDocumentOpen());
        // Closing the window asks too, and Cancel keeps window and document.
        Open("ldr/png_rgb8_257x129.png");
        W().MenuAdjustNegative->trigger();
        m_boxes->Queue(MrCancel);
        QVERIFY(!W().close());
        QVERIFY(IsDocumentOpen());
        QVERIFY(W().isVisible());
    }

    void SavesEveryTypeAndAsksBeforeTheAlphaIsLost()
    {
        Open("ldr/png_rgba8_partial_alpha_256x128.png");
        QVERIFY(GetView()->Transparent());
        const TBmpHdr source = Copy(*GetImage());
        const char* names[] = {"s.bmp", "s.jpg", "s.png", "s.tif", "s.hdr", "s.exr"};
        const bool asks[] = {true, true, false, false, true, false};
        for (int i = 0; i < 6; ++i) {
            const int before = static_cast<int>(m_boxes->Texts.size());
            if (asks[i]) {
                m_boxes->Queue(MrNo);  // No: nothing written, no error
                QVERIFY(!SaveDocument(Temp(names[i]), {}));
                QVERIFY(!std::filesystem::exists(Temp(names[i])));
                QCOMPARE(LastFileError(), -2);
                QCOMPARE(m_boxes->Texts.size(), before + 1);
                m_boxes->Queue(MrYes);
            }
            QVERIFY2(SaveDocument(Temp(names[i]), {}), names[i]);
            QVERIFY(std::filesystem::exists(Temp(names[i])));
            QCOMPARE(LastFileError(), 0);
            QCOMPARE(static_cast<int>(m_boxes->Texts.size()), before + (asks[i] ? 2 : 0));
            if (asks[i])
                QVERIFY(m_boxes->Texts.back().startsWith(
                    QStringLiteral("The current format does not support the transparency !")));
        }
        // The lossless float types read back as the source.
        TBmpHdr back;
        TImageInfo info;
        QVERIFY(LoadImageFile(Temp("s.tif"), &back, info));
        QCOMPARE(back.Width(), source.Width());
        QCOMPARE(GetDocumentName(), std::string("s.exr"));
    }

    void OpenExrIsWrittenWithFullFloats()
    {
        // Full floats of every size and fine fractions; half floats would round these and make
        // anything above 65504 infinite.
        Open("hdr/courtyard_256x128_float_zip.exr");
        QCOMPARE(GetDocumentKind(), TImageKind::ikHighRange);  // so gamma 1.0 is written
        TBmpHdr& image = *GetImage();
        image.Pixels[0][0] = TColorHdr{0.1234567f, 100000.0f, 3.0e38f, 1.0f};
        image.Pixels[5][7] = TColorHdr{1.0f / 3.0f, 65504.5f, 6.5e-5f, 1.0f};
        const TBmpHdr source = Copy(image);
        QVERIFY(SaveDocument(Temp("f.exr"), {}));
        TBmpHdr back;
        TImageInfo info;
        QVERIFY(LoadImageFile(Temp("f.exr"), &back, info));
        QVERIFY(SameBits(back, source));
    }

    void ChangingTheFileTypeRetypesTheWholeName()
    {
        const std::string longName = std::string(200, 'n') + ".jpg";  // past any fixed buffer
        QCOMPARE(RetypedFileName("/a.b/photo.jpg", 3), std::string("/a.b/photo.png"));
        QCOMPARE(RetypedFileName("/a.b/photo", 4), std::string("/a.b/photo.tif"));
        QCOMPARE(RetypedFileName(longName, 6), std::string(200, 'n') + ".exr");
        QCOMPARE(RetypedFileName("", 2), std::string());
        QCOMPARE(RetypedFileName("x.jpg", 0), std::string("x.jpg"));
        QCOMPARE(RetypedFileName("x.jpg", 7), std::string("x.jpg"));
        // The real dialog: the proposed name, then the user's picks in the type box.
        OnSaveDialog = nullptr;
        QStringList seen;
        OnSaveDialogShown = [&](QFileDialog& dialog) {
            auto* box = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            QVERIFY(box && types);
            seen << box->text() << types->currentText();
            QTest::keyClick(types, Qt::Key_Up);  // JPEG -> BMP
            seen << box->text();
            box->setText(QStringLiteral("snapshot"));  // no extension: Qt itself adds none
            QTest::keyClick(types, Qt::Key_End);       // -> OpenEXR
            seen << box->text();
            QTimer::singleShot(0, &dialog, [&dialog] { dialog.reject(); });
        };
        std::string name = "unchanged";
        SaveImageDialog(Temp("photo_HD.jpg"), name);
        OnSaveDialogShown = nullptr;
        QVERIFY(name.empty());  // cancelled
        QCOMPARE(seen,
                 (QStringList{QStringLiteral("photo_HD.jpg"), QStringLiteral("JPEG (*.jpg)"),
                              QStringLiteral("photo_HD.bmp"), QStringLiteral("snapshot.exr")}));
    }

    void FailedSaveNamesTheFileAndChangesNothing()
    {
        Open("ldr/png_rgb8_257x129.png");
        W().MenuAdjustNegative->trigger();
        const std::string missing = Temp("no/such/folder/x.png");
        QVERIFY(!SaveDocument(missing, {}));
        QCOMPARE(m_boxes->Texts.back(),
                 QString::asprintf("Unable to save image in file \"%s\" !", missing.c_str()));
        QVERIFY(IsDocumentModified());
        QCOMPARE(GetDocumentName(), std::string("png_rgb8_257x129.png"));
        const std::string unknown = Temp("x.xyz");
        QVERIFY(!SaveDocument(unknown, {}));
        QCOMPARE(m_boxes->Texts.back(),
                 QString::asprintf("Unable to save image in file \"%s\" !", unknown.c_str()));
        QCOMPARE(W().WaitCount(), 0);
    }

    void DroppedFilesOpenOnlyTheFirstAndOnlyWithoutADocument()
    {
        auto drop = [this](const QList<QUrl>& urls) {
            QMimeData data;
            data.setUrls(urls);
            QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton,
                                  Qt::NoModifier);
            QApplication::sendEvent(m_window.get(), &enter);
            QDropEvent event(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton,
                             Qt::NoModifier);
            QApplication::sendEvent(m_window.get(), &event);
        };
        const QUrl first =
            QUrl::fromLocalFile(QString::fromStdString(DataFile("ldr/png_rgb8_3x5.png")));
        const QUrl second =
            QUrl::fromLocalFile(QString::fromStdString(DataFile("ldr/png_rgb8_257x129.png")));
        drop({first, second});
        QVERIFY(IsDocumentOpen());
        QCOMPARE(GetImage()->Width(), 3);
        QVERIFY(m_boxes->Texts.isEmpty());
        drop({second});  // ignored while a document is open
        QCOMPARE(GetImage()->Width(), 3);
    }

    void EnablingWithoutADocumentAndWhileADialogIsActive()
    {
        W().UpdateMenus();
        QVERIFY(W().MenuFileOpen->isEnabled());
        for (QAction* item :
             {W().MenuFileSave, W().MenuFileExport, W().MenuFileClose, W().MenuEditUndo,
              W().MenuEditRedo, W().MenuEditRepeat, W().MenuEditFade, W().MenuEditClearUndo,
              W().MenuImageFlipHorz, W().MenuImageRotate90c, W().MenuAdjustNegative,
              W().MenuAdjustEgalize, W().MenuFilterBlur, W().MenuViewZoomIn, W().MenuViewZoom100})
            QVERIFY2(!item->isEnabled(), qPrintable(item->objectName()));
        QVERIFY(W().MenuFileExit->isEnabled());
        QVERIFY(W().MenuHelpWeb->isEnabled());
        QVERIFY(W().FileButtons->ButtonEnabled(0));
        QVERIFY(!W().ZoomBox->isEnabled());

        Open("ldr/png_rgb8_257x129.png");
        W().MenuAdjustNegative->trigger();
        TMainDialogForm dialog;
        dialog.ModeKind = 2;  // a filter dialog: the view may still zoom
        dialog.show();
        QVERIFY(!W().MenuEdit->menuAction()->isEnabled());
        for (QAction* item : {W().MenuEditUndo, W().MenuAdjustNegative, W().MenuImageFlipHorz,
                              W().MenuFileSave, W().MenuFileClose, W().MenuEditRepeat})
            QVERIFY2(!item->isEnabled(), qPrintable(item->objectName()));
        QVERIFY(!W().FileButtons->ButtonEnabled(3));
        QVERIFY(!W().FileButtons->isEnabled());
        QVERIFY(W().ViewButtons->ButtonEnabled(2));
        QVERIFY(W().ZoomBox->isEnabled());
        QVERIFY(W().MenuViewZoom100->isEnabled());
        const TBmpHdr before = Copy(*GetImage());
        W().MenuEditUndo->trigger();  // the shortcut's path: refused
        QVERIFY(SameBits(*GetImage(), before));
        dialog.hide();
        QVERIFY(W().MenuEdit->menuAction()->isEnabled());
        QVERIFY(W().MenuEditUndo->isEnabled());
        dialog.ModeKind = 1;  // exclusive: no zooming either
        dialog.show();
        QVERIFY(!W().ZoomBox->isEnabled());
        QVERIFY(!W().MenuViewZoom100->isEnabled());
        dialog.hide();
        QVERIFY(W().ZoomBox->isEnabled());
    }

    void BusyStateNestsAndProgressShowsInTheStatusBar()
    {
        W().BeginWait();
        W().BeginWait();
        QCOMPARE(W().StatusText(0), QStringLiteral("Processing..."));
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        W().EndWait();
        QCOMPARE(W().StatusText(0), QStringLiteral("Processing..."));
        W().ProgressHook(0, 0);
        W().ProgressHook(1, 42);
        QCOMPARE(W().StatusText(0), QStringLiteral("Processing : 42%"));
        // Escape while the operation reports stops it; other input is held back.
        QTest::keyClick(m_window.get(), Qt::Key_Escape);
        QVERIFY(ProgressAborted);
        ProgressAborted = false;
        W().ProgressHook(2, 0);
        QCOMPARE(W().StatusText(0), QStringLiteral("Processing..."));
        W().EndWait();
        QCOMPARE(W().StatusText(0), QStringLiteral("Ready"));
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void OutOfMemoryAndAbortPutTheImageBack()
    {
        Open("ldr/png_rgb8_257x129.png");
        W().MenuAdjustNegative->trigger();
        const TBmpHdr before = Copy(*GetImage());
        const std::int32_t count = GetUndoList()->Count();
        // A turn that runs out of memory half-way.
        W().RunOperation(W().MenuImageRotate90c, umWholeImage, true, true, [](TBmpHdr& image) {
            image.SetSize(10, 10, clNoneHdr);
            throw std::bad_alloc();
        });
        QVERIFY(SameBits(*GetImage(), before));
        QCOMPARE(GetWorkRect(), before.GetBounds());
        QCOMPARE(GetUndoList()->Count(), count);
        QCOMPARE(m_boxes->Texts.back(), QString::fromUtf8(SOutOfMemory));
        QCOMPARE(W().WaitCount(), 0);
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QVERIFY(!CanRepeat());  // nothing registered
        // An aborted region operation.
        W().RunOperation(W().MenuAdjustNegative, umFadable, true, false, [](TBmpHdr& image) {
            NegativeHdr(&image, TRect{0, 0, 100, 50});
            ProgressAborted = true;
        });
        QVERIFY(SameBits(*GetImage(), before));
        QCOMPARE(GetUndoList()->Count(), count);
        QVERIFY(!ProgressAborted);
        QCOMPARE(W().WaitCount(), 0);
        // An exception anywhere in a command unwinds the busy state too.
        W().Guarded([this] {
            W().BeginWait();
            throw std::runtime_error("boom");
        });
        QCOMPARE(W().WaitCount(), 0);
        QVERIFY(m_boxes->Texts.back().contains(QStringLiteral("boom")));
    }

    void ResolutionAndKindTravelWithUndo()
    {
        Open("ldr/png_rgb8_300dpi_256x128.png");
        QCOMPARE(GetView()->DpiX(), 300.0f);
        BeginUndo(umStateOnly, "Image size...");
        QCOMPARE(GetUndoList()->CurrentItem()->Caption, std::string("Image size"));
        QCOMPARE(GetUndoList()->CurrentItem()->GetTag(TagDpi), 300000);
        GetView()->SetDpiX(150.0f);
        W().MenuEditUndo->trigger();
        QCOMPARE(GetView()->DpiX(), 300.0f);
        W().MenuEditRedo->trigger();
        QCOMPARE(GetView()->DpiX(), 150.0f);
        QCOMPARE(GetView()->DpiY(), 150.0f);
    }

    void ZoomAndHelpCommands()
    {
        Open("ldr/png_rgb8_257x129.png");
        W().MenuViewZoom100->trigger();
        QCOMPARE(GetView()->Zoom(), 1.0f);
        QCOMPARE(W().ZoomBox->text(), QStringLiteral("100%"));
        W().MenuViewZoomIn->trigger();
        QCOMPARE(GetView()->Zoom(), 2.0f);
        W().MenuViewZoomOut->trigger();
        W().MenuViewZoomOut->trigger();
        QCOMPARE(GetView()->Zoom(), 0.75f);
        // Ctrl+wheel over the view steps through the box's levels.
        QWheelEvent wheel(QPointF(20, 20), QPointF(20, 20), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(GetView()->viewport(), &wheel);
        QCOMPARE(GetView()->Zoom(), 1.0f);
        QCOMPARE(W().ZoomBox->text(), QStringLiteral("100%"));
        QCOMPARE(W().ZoomLevel(), 1000);
        // The box's list: "<Auto>", then the levels; choosing one zooms and shows its percent.
        QCOMPARE(W().ZoomBox->ItemIndex(), 7);
        QCOMPARE(W().ZoomBox->ItemCount(), 16);
        W().ZoomBox->Item(2)->trigger();
        QCOMPARE(GetView()->Zoom(), 0.25f);
        W().ViewButtons->Button(2)->click();  // original size
        QCOMPARE(GetView()->Zoom(), 1.0f);
        QCOMPARE(W().ViewButtons->Hint(2), QStringLiteral("Original size"));
        W().ZoomBox->Item(2)->trigger();
        QCOMPARE(W().ZoomBox->text(), QStringLiteral("25%"));
        QCOMPARE(W().ZoomBox->ItemIndex(), 2);
        W().MenuHelpWeb->trigger();
        QCOMPARE(m_openedUrl, QUrl(QString::fromUtf8(WebSiteUrl)));
        W().MenuHelpAboutFreeImage->trigger();
        QVERIFY(m_boxes->Texts.back().contains(QString::fromStdString(FreeImageVersion())));
        QVERIFY(m_boxes->Texts.back().startsWith(QStringLiteral("This program uses FreeImage")));
    }

    void AboutBoxIsModalWithBothVersionsAndTheWebLink()
    {
        QStringList texts;
        bool modal = false;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* about = dynamic_cast<TFrmAbout*>(QApplication::activeModalWidget());
            if (!about || !about->isVisible())
                return;
            poll.stop();
            modal = about->isModal();
            texts << about->windowTitle() << about->LblName->text() << about->LblVersion->text()
                  << about->LblFreeImage->text();
            QVERIFY(!about->ImgPicture->pixmap().isNull());
            emit about->LblWeb->linkActivated(QString::fromUtf8(WebSiteUrl));
            QTest::keyClick(about, Qt::Key_Return);  // Ok is the default button
        });
        poll.start();
        W().MenuHelpAboutLvx->trigger();
        QVERIFY(modal);
        QCOMPARE(texts.size(), 4);
        QCOMPARE(texts[0], QStringLiteral("About Lumivex HD"));
        QCOMPARE(texts[1], QStringLiteral("Lumivex HD"));
        QVERIFY(texts[2].startsWith(QStringLiteral("Version ")) && texts[2].size() > 8);
        QCOMPARE(texts[3], QStringLiteral("Images read and written with FreeImage ") +
                               QString::fromStdString(FreeImageVersion()));
        QCOMPARE(m_openedUrl, QUrl(QString::fromUtf8(WebSiteUrl)));
        // Without the library the box says so.
        const TFrmAbout bare(nullptr, QStringLiteral("1"), QString(),
                             QString::fromUtf8(WebSiteUrl));
        QCOMPARE(bare.LblFreeImage->text(),
                 QStringLiteral("FreeImage is not installed: BMP and JPEG only"));
    }

    void ScreenshotShowsTheRenderedViewAndSidePanel()
    {
        Open("ldr/png_rgb8_257x129.png");
        W().MenuViewZoom100->trigger();
        QApplication::processEvents();
        const QImage shot = m_window->grab().toImage().convertToFormat(QImage::Format_RGB32);
        // The view: the image at its zoom, placed at its rectangle.
        TScrollBoxHdr* view = GetView();
        TBitmap rendered;
        RenderImageToBitmap(GetImage(), view->Zoom(), view->Transparent(), rendered);
        const QRect imageRect =
            view->GetImageRect().translated(view->viewport()->mapTo(m_window.get(), QPoint(0, 0)));
        QCOMPARE(imageRect.width(), rendered.Width());
        int differences = 0;
        for (int y = 0; y < rendered.Height(); y += 3) {
            for (int x = 0; x < rendered.Width(); x += 3) {
                const std::uint8_t* p = rendered.ScanLine(y) + 3 * x;
                if (shot.pixel(imageRect.left() + x, imageRect.top() + y) != qRgb(p[2], p[1], p[0]))
                    ++differences;
            }
        }
        QCOMPARE(differences, 0);
        // The thumbnail: the image fitted into 215 x 144 and centred in the 221 x 150 picture.
        TBitmap thumb(221, 150, TPixelFormat::pf24bit);
        for (int y = 0; y < 150; ++y)
            std::fill_n(thumb.ScanLine(y), thumb.BytesPerLine(), std::uint8_t{255});
        // scale = min(215 / 257, 144 / 129) = 0.8366; 257 -> 215, 129 -> Round(107.92) = 108
        StretchDrawHdrToBitmap(GetImage(), MaxRectHdr, &thumb, TRect{3, 21, 218, 129},
                               TRect{0, 0, 221, 150}, 1.0f);
        const QPoint at = W().PnlSide->mapTo(m_window.get(), W().ThumbnailPos());
        differences = 0;
        for (int y = 0; y < 150; y += 2) {
            for (int x = 0; x < 221; x += 2) {
                const std::uint8_t* p = thumb.ScanLine(y) + 3 * x;
                if (shot.pixel(at.x() + x, at.y() + y) != qRgb(p[2], p[1], p[0]))
                    ++differences;
            }
        }
        QCOMPARE(differences, 0);
        // The histogram's lower part holds only its bars: white ground and black bars.
        const QPoint hist = W().PnlSide->mapTo(m_window.get(), W().HistogramPos());
        int black = 0;
        for (int x = 1; x < 220; ++x) {
            const QRgb p = shot.pixel(hist.x() + x, hist.y() + 147);
            if (p == qRgb(0, 0, 0))
                ++black;
        }
        QVERIFY(black > 0);
        const TColor shadow = GetSysColor(ColorBtnShadow);  // $00BBGGRR
        QCOMPARE(QColor(shot.pixel(hist.x() - 1, hist.y() + 10)),
                 QColor(shadow & 0xFF, (shadow >> 8) & 0xFF, (shadow >> 16) & 0xFF));
    }
};

QTEST_MAIN(MainTest)
#include "MainTest.moc"
