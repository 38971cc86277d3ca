// The tone-mapping dialogs driven through the real main window on the offscreen platform:
// previews and OK against the engine routines run directly, cancel paths, reset, persisted
// values, the hand-over to local tone mapping and Escape during a long local run.

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <random>

#include "TestDataQt.h"
#include "TestImages.h"
#include "adjust/ToneCurve.h"
#include "app/DialogSettings.h"
#include "app/Main.h"
#include "app/MyMsgDlg.h"
#include "core/Progress.h"
#include "dialogs/FilterDialogs.h"
#include "filters/ConvolutionHdr.h"
#include "filters/LocalToneHdr.h"
#include "history/UndoCommands.h"
#include "history/UndoHdr.h"
#include "io/ImageLib.h"
#include "widgets/ColorPicker.h"
#include "widgets/Slider.h"
#include "widgets/SpinEdit.h"

using namespace lumivex;

namespace {

using test::Copy;
using test::DataFile;
using test::SameBits;

// The global tone map as the engine runs it without any dialog.
TBmpHdr GlobalDirect(const TBmpHdr& original, int method, int exposure, double offset)
{
    TBmpHdr image = Copy(original);
    const TRect r = image.GetBounds();
    image.ShiftToPositive(r);
    ToneMapHdr(&image, static_cast<std::uint8_t>(method), static_cast<std::int8_t>(exposure), r);
    OffsetHdr(&image, r, static_cast<float>(offset));
    return image;
}

TBmpHdr LocalDirect(const TBmpHdr& original, TLocalToneFunc op, int radius, int exposure,
                    double offset)
{
    TBmpHdr image = Copy(original);
    const TRect r = image.GetBounds();
    image.ShiftToPositive(r);
    SimilarityThreshold = 0.05f;
    const auto kernel = MakeGaussMatrix(static_cast<float>(radius), 0, GaussExponent, 1.0f);
    LocalToneMapHdr(&image, kernel.get(), r, op, static_cast<std::int8_t>(exposure));
    OffsetHdr(&image, r, static_cast<float>(offset));
    return image;
}

// Presses Ok on every message box as it shows and keeps its text.
class TBoxes {
public:
    TBoxes()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* box = dynamic_cast<TMsgDlgForm*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            Texts << box->LblMsg->text();
            (box->BtnOk->isVisible() ? box->BtnOk : box->BtnCancel)->click();
        });
        m_timer.start();
    }
    QStringList Texts;

private:
    QTimer m_timer;
};

// A repeatable dialog of the framework: an offset of slider / 100, neutral at 0.
class TFrmProbeFilter : public TFrmCommonFilter {
public:
    explicit TFrmProbeFilter(QWidget* parent = nullptr) : TFrmCommonFilter(parent)
    {
        setObjectName(QStringLiteral("TFrmProbeFilter"));
        Label = AddLabel(QStringLiteral("Amount"), 14);
        Amount = AddSlider(0, 50, 4, 0, 5);
        FinishLayout();
        AddResetButton();
    }
    bool IsEffective() override { return Amount->Value() != 0; }
    void Execute() override { OffsetHdr(GetImage(), GetWorkRect(), Amount->Value() / 100.0f); }
    void ResetParams() override { Amount->SetValue(0); }

    QLabel* Label;
    TSlider* Amount;
};

// A colour dialog: the red of its picker, over 2550, is added to every channel.
class TFrmProbeColor : public TFrmCommonFilter {
public:
    explicit TFrmProbeColor(QWidget* parent = nullptr) : TFrmCommonFilter(parent)
    {
        setObjectName(QStringLiteral("TFrmProbeColor"));
        AddLabel(QStringLiteral("Color :"), 14);
        Picker = AddColorEdit(0x00FFFFFF, 4);
        FinishLayout();
    }
    bool IsEffective() override { return Picker->Color() != 0x00FFFFFF; }
    void Execute() override { OffsetHdr(GetImage(), GetWorkRect(), Amount(Picker->Color())); }
    static float Amount(TColor color) { return static_cast<float>(color & 0xFF) / 2550.0f; }

    TColorPicker* Picker;
};

}  // namespace

class FilterDialogsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TFrmMain> m_window;
    std::unique_ptr<TBoxes> m_boxes;

    TFrmMain& W() { return *m_window; }

    void Open(const char* relative)
    {
        QVERIFY(W().OpenFile(DataFile(relative)));
        QVERIFY(IsDocumentOpen());
    }

    TFrmToneMap& ShowToneMap()
    {
        W().MenuAdjustToneMap->trigger();
        TFrmToneMap* d = ToneMapDialog();
        if (!d || !d->isVisible())
            qFatal("the tone-mapping dialog did not show");
        return *d;
    }

    static void Settle() { QCoreApplication::processEvents(); }

private slots:
    void initTestCase()
    {
        static QTemporaryDir config;  // settings into a private folder, never the user's
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    }

    void init()
    {
        m_boxes = std::make_unique<TBoxes>();
        m_window = std::make_unique<TFrmMain>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        std::filesystem::remove(DialogsFile);  // every test starts from the designed defaults
    }

    void cleanup()
    {
        CloseDocument();
        m_window.reset();
        m_boxes.reset();
        ProgressDelay = 12;
        ProgressInterval = 3;
    }

    void ToneMapPreviewThenOkEqualsTheEngineAndLiftsTheRestriction()
    {
        Open("hdr/courtyard_256x128_float_zip.exr");
        QCOMPARE(GetDocumentKind(), TImageKind::ikHighRange);
        const TBmpHdr original = Copy(*GetImage());
        const std::int32_t records = GetUndoList()->Count();
        TFrmToneMap& d = ShowToneMap();
        QCOMPARE(d.windowTitle(), QStringLiteral("Tone mapping"));
        QCOMPARE(d.objectName(), QStringLiteral("TFrmToneMap"));
        QCOMPARE(d.CmbMethod->currentIndex(), 1);  // "Gamma 2.2"
        QCOMPARE(d.CmbMethod->itemText(3), QStringLiteral("Jim & Richard"));
        QVERIFY(!W().MenuAdjust->menuAction()->isEnabled());  // the dialog holds the record
        QVERIFY(SameBits(*GetImage(), original));             // nothing before a preview

        // Manual previews: each runs on the saved pixels, not on the previous preview.
        d.CmbMethod->setCurrentIndex(2);
        d.EdiExposure->SetValue(3);
        QVERIFY(SameBits(*GetImage(), original));
        d.BtnPreview->click();
        QVERIFY(SameBits(*GetImage(), GlobalDirect(original, 2, 3, 0.0)));
        d.EdiOffset->SetValue(0.1);
        d.BtnPreview->click();
        QVERIFY(SameBits(*GetImage(), GlobalDirect(original, 2, 3, 0.1)));

        // Direct preview: a burst of changes runs once, with the latest settings.
        d.ChkRealTime->click();
        QVERIFY(!d.BtnPreview->isEnabled());
        const int runs = d.ExecuteCount();
        d.CmbMethod->setCurrentIndex(3);
        d.EdiExposure->SetValue(-2);
        d.EdiOffset->SetValue(-0.05);
        QVERIFY(d.PreviewPending());
        Settle();
        QCOMPARE(d.ExecuteCount(), runs + 1);
        QVERIFY(SameBits(*GetImage(), GlobalDirect(original, 3, -2, -0.05)));

        // The transfer curve comes from the same routine: Linear at exposure 0 and offset 0 is
        // the diagonal, drawn in black (luminance 0.11 + 0.59 + 0.3 = 1 of a grey).
        d.CmbMethod->setCurrentIndex(0);
        d.EdiExposure->SetValue(0);
        d.EdiOffset->SetValue(0.0);
        Settle();
        const QImage& curve = d.CurvePicture();
        QCOMPARE(curve.size(), QSize(137, 137));
        for (int x : {0, 40, 68, 136})
            QCOMPARE(curve.pixelColor(x, 136 - x), QColor(Qt::black));
        d.CmbMethod->setCurrentIndex(2);
        Settle();

        d.BtnOk->click();
        QVERIFY(!d.isVisible());
        QVERIFY(SameBits(*GetImage(), GlobalDirect(original, 2, 0, 0.0)));
        QCOMPARE(GetUndoList()->Count(), records + 1);
        QCOMPARE(GetUndoList()->CurrentItem()->Caption, std::string("Tone mapping"));
        QCOMPARE(GetDocumentKind(), TImageKind::ikStandard);
        W().UpdateMenus();
        QVERIFY(W().MenuAdjust->menuAction()->isEnabled());
        QVERIFY(W().MenuAdjustNegative->isEnabled());  // no longer restricted
        QVERIFY(!CanFade());                           // it held unmapped values
        QVERIFY(!CanRepeat());                         // not repeatable
        QCOMPARE(W().WaitCount(), 0);

        // Undo brings back the high range and its restriction.
        W().MenuEditUndo->trigger();
        QVERIFY(SameBits(*GetImage(), original));
        QCOMPARE(GetDocumentKind(), TImageKind::ikHighRange);
        QVERIFY(!W().MenuAdjustNegative->isEnabled());
    }

    void FactoryLaysOutAndNamesTheControls()
    {
        Open("hdr/sunset_sun_crop_96x64.hdr");
        TFrmToneMap& d = ShowToneMap();
        QCOMPARE(d.width(), 400);
        QCOMPARE(d.PnlReserved->geometry(), QRect(16, 16, 139, 139));
        // Beside the panel the controls start at its right edge plus the margin.
        QCOMPARE(d.CmbMethod->geometry(), QRect(171, 16, 170, 21));
        QCOMPARE(d.EdiExposure->x(), 171);
        QCOMPARE(d.EdiExposure->width(), 64);
        QCOMPARE(d.EdiOffset->x(), 171 + 88);  // 64 x 1.37 = 87.68
        QCOMPARE(d.EdiOffset->y(), d.EdiExposure->y());
        QCOMPARE(d.EdiExposure->maxLength(), 2);
        QCOMPARE(d.EdiOffset->maxLength(), 5);
        QCOMPARE(d.EdiOffset->text(), QStringLiteral("0.00"));
        // The button goes below the panel; the reset button fits on the button row.
        QCOMPARE(d.BtnLocal->geometry(), QRect(16, 155 + 8, 139, 25));
        const int bottom = std::max(d.BtnLocal->y() + 25, d.EdiOffset->y() + 21);
        QCOMPARE(d.ChkRealTime->y(), bottom + 16);
        QCOMPARE(d.BtnPreview->y(), d.ChkRealTime->y() + d.ChkRealTime->height() + 8);
        QCOMPARE(d.ResetButton->geometry(), QRect(16 + 75 + 8, d.BtnPreview->y(), 88, 25));
        QCOMPARE(d.BtnCancel->x() + 75, 400 - 16);
        QCOMPARE(d.BtnOk->x() + 75 + 8, d.BtnCancel->x());
        QCOMPARE(d.height(), d.BtnPreview->y() + 25 + 16);
        QCOMPARE(d.CmbMethod->objectName(), QStringLiteral("ComboBox1"));
        QCOMPARE(d.EdiExposure->objectName(), QStringLiteral("SpinEdit2"));
        QCOMPARE(d.EdiOffset->objectName(), QStringLiteral("SpinEdit3"));
        d.BtnLocal->click();
        TFrmToneMapLocal& local = *ToneMapLocalDialog();
        QCOMPARE(local.width(), 298);
        QCOMPARE(local.CmbOperator->geometry(), QRect(16, 16, 298 - 32, 21));
        QCOMPARE(local.SldRadius->x(), 16 - 8);  // the cursor's margin
        QCOMPARE(local.SldRadius->x() + local.SldRadius->width(), 298 - 16 + 8);
        QCOMPARE(local.SldRadius->objectName(), QStringLiteral("Slider2"));
        QCOMPARE(local.EdiOffset->objectName(), QStringLiteral("SpinEdit4"));
        local.BtnCancel->click();
    }

    void ThePipettesColourGoesToTheColourControlAndPreviews()
    {
        QPointer<TFrmProbeColor> probe;
        W().SetDialogCommand(W().MenuFilterColoredLayer, [&probe] { CreateDialog(probe)->show(); });
        Open("ldr/png_rgb8_257x129.png");
        const TBmpHdr original = Copy(*GetImage());
        W().MenuFilterColoredLayer->trigger();
        QVERIFY(probe && probe->isVisible());
        QVERIFY(probe->HasColorEdit);
        QCOMPARE(probe->ColorEdit, probe->Picker);
        QCOMPARE(probe->Picker->objectName(), QStringLiteral("ColorEdit1"));
        QCOMPARE(probe->Picker->size(), QSize(81, 21));
        QCOMPARE(probe->ModeKind, std::uint8_t{3});  // the view offers the pipette
        probe->ChkRealTime->click();
        probe->SetPipetteColor(0x00336699);
        QCOMPARE(probe->Picker->Color(), TColor{0x00336699});
        QCoreApplication::processEvents();  // the coalesced preview
        TBmpHdr expected = Copy(original);
        OffsetHdr(&expected, expected.GetBounds(), TFrmProbeColor::Amount(0x00336699));
        QVERIFY(SameBits(*GetImage(), expected));
        probe->BtnCancel->click();
        QVERIFY(SameBits(*GetImage(), original));
    }

    void NeutralOkLeavesNoRecordAndRepeatRunsTheDialogAgain()
    {
        QPointer<TFrmProbeFilter> probe;
        W().SetDialogCommand(W().MenuAdjustLuminosity, [&probe] { CreateDialog(probe)->show(); });
        Open("ldr/png_rgb8_257x129.png");
        const TBmpHdr original = Copy(*GetImage());
        const std::int32_t records = GetUndoList()->Count();
        W().MenuAdjustLuminosity->trigger();
        QVERIFY(probe && probe->isVisible());
        QCOMPARE(probe->windowTitle(), QStringLiteral("Brightness / Color balance"));
        // The reset button does not fit between Preview and Ok: it gets a row of its own.
        QCOMPARE(probe->ResetButton->x(), 16);
        QCOMPARE(probe->ChkRealTime->y(), probe->ResetButton->y() + 25 + 16);
        probe->BtnOk->click();  // neutral: no change, no record
        QVERIFY(!probe->isVisible());
        QCOMPARE(GetUndoList()->Count(), records);
        QVERIFY(SameBits(*GetImage(), original));

        W().MenuAdjustLuminosity->trigger();
        probe->Amount->SetValue(20);
        probe->BtnOk->click();  // the final preview runs on OK
        TBmpHdr once = Copy(original);
        OffsetHdr(&once, once.GetBounds(), 0.2f);
        QVERIFY(SameBits(*GetImage(), once));
        QCOMPARE(GetUndoList()->Count(), records + 1);
        W().UpdateMenus();
        QCOMPARE(W().MenuEditRepeat->text(), QStringLiteral("Repeat Brightness / Color balance"));
        QVERIFY(CanFade());
        W().MenuEditRepeat->trigger();
        TBmpHdr twice = Copy(once);
        OffsetHdr(&twice, twice.GetBounds(), 0.2f);
        QVERIFY(SameBits(*GetImage(), twice));
        QCOMPARE(GetUndoList()->Count(), records + 2);
        QCOMPARE(GetUndoList()->CurrentItem()->Caption, std::string("Brightness / Color balance"));
        W().MenuEditUndo->trigger();
        QVERIFY(SameBits(*GetImage(), once));
    }

    void EveryWayOfCancellingLeavesImageAndHistoryAsBefore()
    {
        Open("hdr/courtyard_256x128_float_zip.exr");
        W().MenuImageFlipHorz->trigger();  // a record to keep
        const TBmpHdr before = Copy(*GetImage());
        const std::int32_t records = GetUndoList()->Count();
        const std::string undo = UndoCaption();
        for (int way = 0; way < 3; ++way) {
            TFrmToneMap& d = ShowToneMap();
            QCOMPARE(GetUndoList()->Count(), records + 1);  // opened by the menu command
            d.CmbMethod->setCurrentIndex(3);
            d.BtnPreview->click();
            d.ChkRealTime->click();
            d.EdiExposure->SetValue(way + 1);
            Settle();
            QVERIFY(!SameBits(*GetImage(), before));
            if (way == 0)
                d.BtnCancel->click();
            else if (way == 1)
                QTest::keyClick(&d, Qt::Key_Escape);
            else
                d.close();  // the close box
            QVERIFY(!d.isVisible());
            QVERIFY(SameBits(*GetImage(), before));
            QCOMPARE(GetUndoList()->Count(), records);
            QCOMPARE(UndoCaption(), undo);
            QCOMPARE(GetDocumentKind(), TImageKind::ikHighRange);
            QVERIFY(W().MenuAdjust->menuAction()->isEnabled());
        }
        // An empty number field stops a preview and OK; only a manual preview says so.
        TFrmToneMap& d = ShowToneMap();
        d.EdiExposure->setText(QString());
        d.BtnPreview->click();
        d.BtnOk->click();
        QCOMPARE(
            m_boxes->Texts.count(QStringLiteral("Complete all the fields before continuing !")), 2);
        QVERIFY(d.isVisible());
        QVERIFY(SameBits(*GetImage(), before));
        d.EdiExposure->SetValue(3);
        // Unchecking direct preview takes the preview back; OK still applies the settings.
        QVERIFY(!d.ChkRealTime->isChecked());  // never restored from a cancelled show
        d.ChkRealTime->click();
        d.EdiExposure->SetValue(4);
        Settle();
        d.ChkRealTime->click();
        QVERIFY(SameBits(*GetImage(), before));
        QVERIFY(d.Dirty);
        d.BtnOk->click();
        QVERIFY(SameBits(*GetImage(), GlobalDirect(before, 3, 4, 0.0)));
    }

    void ResetAndValuesPersistFromTheLastOk()
    {
        Open("hdr/sunset_sun_crop_96x64.hdr");
        const TBmpHdr original = Copy(*GetImage());
        {
            TFrmToneMap& d = ShowToneMap();
            d.CmbMethod->setCurrentIndex(3);
            d.EdiExposure->SetValue(2);
            d.EdiOffset->SetValue(0.2);
            d.BtnOk->click();
        }
        const TDialogSettings file(DialogsFile, "TFrmToneMap");
        QCOMPARE(file.Read("ComboBox1").value_or(""), std::string("3"));
        QCOMPARE(file.Read("SpinEdit2").value_or(""), std::string("2"));
        QCOMPARE(TextToFloat(file.Read("SpinEdit3").value_or("")), 0.2);
        QCOMPARE(file.Read("ChkRealTime").value_or(""), std::string("0"));
        W().MenuEditUndo->trigger();

        // Changes left with Cancel are forgotten: the next show has the values of the last OK.
        TFrmToneMap* d = &ShowToneMap();
        d->CmbMethod->setCurrentIndex(1);
        d->EdiExposure->SetValue(-5);
        d->BtnCancel->click();
        d = &ShowToneMap();
        QCOMPARE(d->CmbMethod->currentIndex(), 3);
        QCOMPARE(d->EdiExposure->Value(), 2);
        QCOMPARE(d->EdiOffset->Value(), 0.2);

        // Reset takes the preview back and sets the defaults; in real time it previews them.
        d->BtnPreview->click();
        QVERIFY(d->PreviewApplied);
        d->ResetButton->click();
        QVERIFY(!d->PreviewApplied);
        QVERIFY(SameBits(*GetImage(), original));
        QCOMPARE(d->CmbMethod->currentIndex(), 0);
        QCOMPARE(d->EdiExposure->Value(), 0);
        QCOMPARE(d->EdiOffset->Value(), 0.0);
        d->ChkRealTime->click();
        QVERIFY(SameBits(*GetImage(), GlobalDirect(original, 0, 0, 0.0)));
        d->EdiExposure->SetValue(1);
        Settle();
        const int runs = d->ExecuteCount();
        d->ResetButton->click();
        QCOMPARE(d->ExecuteCount(), runs + 1);  // one preview for the whole reset
        QVERIFY(SameBits(*GetImage(), GlobalDirect(original, 0, 0, 0.0)));
        d->BtnCancel->click();
        QVERIFY(SameBits(*GetImage(), original));
    }

    void LocalToneMappingTakesOverAsItsOwnStep()
    {
        Open("hdr/courtyard_256x128_float_zip.exr");
        const TBmpHdr original = Copy(*GetImage());
        const std::int32_t records = GetUndoList()->Count();
        TFrmToneMap& global = ShowToneMap();
        global.EdiExposure->SetValue(2);
        global.BtnPreview->click();
        global.BtnLocal->click();
        QVERIFY(!global.isVisible());
        TFrmToneMapLocal* local = ToneMapLocalDialog();
        QVERIFY(local && local->isVisible());
        QVERIFY(SameBits(*GetImage(), original));  // the global preview was taken back
        QCOMPARE(GetUndoList()->Count(), records + 1);
        QCOMPARE(GetUndoList()->CurrentItem()->Caption, std::string("Local tone mapping"));
        QCOMPARE(local->windowTitle(), QStringLiteral("Local tone mapping"));
        QCOMPARE(local->CmbOperator->itemText(0), QStringLiteral("Logaritmic"));
        QCOMPARE(local->LblRadius->text(), QStringLiteral("Radius : 3"));
        QVERIFY(!W().MenuAdjust->menuAction()->isEnabled());

        local->CmbOperator->setCurrentIndex(1);
        local->SldRadius->SetValue(5);
        QCOMPARE(local->LblRadius->text(), QStringLiteral("Radius : 5"));
        local->EdiExposure->SetValue(1);
        local->EdiOffset->SetValue(-0.1);
        local->BtnPreview->click();
        const TBmpHdr expected = LocalDirect(original, LocalReinhard, 5, 1, -0.1);
        QVERIFY(SameBits(*GetImage(), expected));
        local->BtnOk->click();
        QVERIFY(!local->isVisible());
        QVERIFY(SameBits(*GetImage(), expected));
        QCOMPARE(GetUndoList()->Count(), records + 1);
        QCOMPARE(GetDocumentKind(), TImageKind::ikStandard);
        QVERIFY(!CanFade());  // fading would paste unmapped values into a standard document
        QVERIFY(!CanRepeat());
        W().UpdateMenus();
        QVERIFY(W().MenuAdjustNegative->isEnabled());
        W().MenuEditUndo->trigger();
        QVERIFY(SameBits(*GetImage(), original));
        QCOMPARE(GetDocumentKind(), TImageKind::ikHighRange);

        // Reset of the local dialog.
        TFrmToneMap& again = ShowToneMap();
        again.BtnLocal->click();
        local = ToneMapLocalDialog();
        QCOMPARE(local->CmbOperator->currentIndex(), 1);  // the last OK
        QCOMPARE(local->SldRadius->Value(), 5);
        local->ResetButton->click();
        QCOMPARE(local->CmbOperator->currentIndex(), 0);
        QCOMPARE(local->SldRadius->Value(), 3);
        QCOMPARE(local->EdiExposure->Value(), 0);
        QCOMPARE(local->EdiOffset->Value(), 0.0);
        QCOMPARE(local->LblRadius->text(), QStringLiteral("Radius : 3"));
        // In real time a slider previews when it is let go, not while it moves.
        local->ChkRealTime->click();
        local->SldRadius->SetValue(4);
        QCOMPARE(local->LblRadius->text(), QStringLiteral("Radius : 4"));
        QVERIFY(!local->PreviewPending());
        QTest::mouseRelease(local->SldRadius, Qt::LeftButton);
        QVERIFY(local->PreviewPending());
        Settle();
        QVERIFY(SameBits(*GetImage(), LocalDirect(original, LocalLogaritmic, 4, 0, 0.0)));
        local->BtnCancel->click();
        QCOMPARE(GetUndoList()->Count(), records + 1);  // only the undone step is left
        QVERIFY(SameBits(*GetImage(), original));
    }

    void EscapeStopsALongLocalRunAndRestoresTheImage()
    {
        // A document large enough that the widest kernel runs for a while.
        TBmpHdr big;
        big.SetSize(1600, 1200, GrayHdr(0.0f, 1.0f));
        std::mt19937 random(7);
        std::uniform_real_distribution<float> value(0.0f, 6.0f);
        for (auto& row : big.Pixels)
            for (TColorHdr& p : row)
                p = ColorHdr(value(random), value(random), value(random), 1.0f);
        const TBmpHdr original = Copy(big);
        TImageInfo info;
        info.Kind = TImageKind::ikHighRange;
        CreateDocument("big.exr", std::move(big), W().PnlClient, info);
        QVERIFY(IsDocumentOpen());
        W().UpdateMenus();
        const std::int32_t records = GetUndoList()->Count();
        ShowToneMap().BtnLocal->click();
        TFrmToneMapLocal* local = ToneMapLocalDialog();
        QVERIFY(local);
        local->SldRadius->SetValue(30);
        ProgressDelay = 0;
        ProgressInterval = 0;
        // Escape is pressed while the run reports its first steps, through the main window's
        // input filter, as a user would.
        QString status;
        bool press = true;
        const TProgressEvent hook = OnProgress;
        OnProgress = [&](int stage, int percent, int tag) {
            hook(stage, percent, tag);
            if (stage == psStep && press) {
                press = false;
                status = W().StatusText(0);
                QTest::keyClick(m_window.get(), Qt::Key_Escape);
            }
        };
        local->BtnPreview->click();
        QVERIFY2(status.startsWith(QStringLiteral("Processing : ")), qPrintable(status));
        QVERIFY(local->isVisible());  // Escape stopped the run, not the dialog
        QVERIFY(!local->PreviewApplied);
        QVERIFY(SameBits(*GetImage(), original));
        QVERIFY(!ProgressAborted);
        QCOMPARE(W().WaitCount(), 0);
        QCOMPARE(W().StatusText(0), QStringLiteral("Ready"));
        // OK whose final run is stopped applies nothing and keeps no record.
        press = true;
        local->BtnOk->click();
        QVERIFY(!press);
        QVERIFY(!local->isVisible());
        QVERIFY(SameBits(*GetImage(), original));
        QCOMPARE(GetUndoList()->Count(), records);
        QCOMPARE(GetDocumentKind(), TImageKind::ikHighRange);
        OnProgress = hook;
    }
};

QTEST_MAIN(FilterDialogsTest)
#include "FilterDialogsTest.moc"
