#include "dialogs/FilterDialogs.h"

#include <QCoreApplication>
#include <QPainter>
#include <QSignalBlocker>
#include <algorithm>
#include <cmath>

#include "adjust/ToneCurve.h"
#include "app/Labels.h"
#include "app/Main.h"
#include "core/Progress.h"
#include "filters/ConvolutionHdr.h"
#include "filters/LocalToneHdr.h"
#include "history/UndoCommands.h"
#include "history/UndoHdr.h"
#include "io/ImageLib.h"
#include "widgets/Slider.h"
#include "widgets/SpinEdit.h"

namespace lumivex {

namespace {

QPointer<TFrmToneMap> g_toneMap;
QPointer<TFrmToneMapLocal> g_toneMapLocal;

QString U(const char* s) { return QString::fromUtf8(s); }
QString Label(const std::string& s) { return QString::fromStdString(s); }
QString ValueLabel(const char* caption, int kind, int value)
{
    return QString::asprintf(MakeValueFormat(caption, kind).c_str(), value);
}

// The exposure and offset pair both tone-mapping dialogs share; the offset stands beside the
// exposure, 1.37 edit widths from its left.
void AddExposureAndOffset(TFrmCommonFilter& dialog, int labelGap, TNumberEdit*& exposure,
                          TFloatEdit*& offset)
{
    const int width = dialog.Scaled(64);
    QLabel* exposureLabel = dialog.AddLabel(Label(MakeLabel("Exposure", 2)), labelGap);
    exposure = dialog.AddSpinEdit(-8, 8, 4, 0);
    exposure->resize(width, exposure->height());
    exposure->setMaxLength(2);
    QLabel* offsetLabel = dialog.AddLabel(Label(MakeLabel("Offset", 2)), 0);
    const int offsetLeft =
        exposure->x() + static_cast<int>(std::nearbyint(exposure->width() * 1.37));
    offsetLabel->move(offsetLeft, exposureLabel->y());
    offsetLabel->resize(dialog.width() - TFrmCommonFilter::Margin - offsetLeft,
                        offsetLabel->height());
    offset = dialog.AddFloatEdit(0, -0.5, 0.5, 0.0);
    offset->SetFormat(QStringLiteral("0.00"));
    offset->Increment = 0.01;
    offset->setMaxLength(5);
    offset->SetValueQuiet(0.0);
    offset->setGeometry(offsetLeft, exposure->y(), width, exposure->height());
}

void OpenRecordOfLocalToneMap(const QString& caption)
{
    BeginUndo(umFadable, caption.toStdString());
    // On a high-range document the record holds unmapped values: fading to them would paste
    // them into a document marked standard after OK, as for the global tone map.
    if (IsHighDynamic())
        if (TUndoItem* item = GetUndoList() ? GetUndoList()->CurrentItem() : nullptr)
            item->SetTag(TagFade, -1);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Curves

TFrmCustomCurves::TFrmCustomCurves(QWidget* parent) : TFrmCommonFilter(parent)
{
    resize(400, height());
    ShowReserved(139, 139);
}

void TFrmCustomCurves::Execute() { ApplyToImage(GetImage(), GetWorkRect()); }

void TFrmCustomCurves::ParamChanged(QObject*) { RedrawCurve(); }

void TFrmCustomCurves::FormShow()
{
    const int w = PnlReserved->width() - 2;
    const int h = PnlReserved->height() - 2;
    m_ramp.SetSize(w, 1, GrayHdr(0.0f, 1.0f));
    m_picture = QImage(w, h, QImage::Format_RGB888);
    m_picture.fill(Qt::white);
}

void TFrmCustomCurves::FormHide()
{
    m_curveReady = false;
    m_ramp.SetSize(0, 0, clNoneHdr);
    m_picture = QImage();
}

void TFrmCustomCurves::AfterShow()
{
    m_curveReady = true;
    RedrawCurve();
}

void TFrmCustomCurves::RedrawCurve()
{
    if (!m_curveReady || m_ramp.IsEmpty() || m_picture.isNull())
        return;
    const int w = m_ramp.Width();
    for (int x = 0; x < w; ++x) {
        const float v = w > 1 ? static_cast<float>(x) / static_cast<float>(w - 1) : 0.0f;
        m_ramp.Pixels[0][x] = GrayHdr(v, 1.0f);
    }
    ApplyToImage(&m_ramp, MaxRectHdr);
    struct TCurve {
        int Bit;
        TColor Color;
    };
    static constexpr TCurve Curves[] = {{8, 0xFF0000}, {4, 0x008000}, {2, 0x0000FF}, {1, 0x000000}};
    if (!(CurveMask & 15))
        return;
    // The first curve drawn starts from a white picture with the quarter grid.
    m_picture.fill(Qt::white);
    QPainter painter(&m_picture);
    painter.setPen(ToQColor(0xDECDCD));
    for (int i = 1; i < 4; ++i) {
        const int x = m_picture.width() * i / 4;
        const int y = m_picture.height() * i / 4;
        painter.drawLine(x, 0, x, m_picture.height() - 1);
        painter.drawLine(0, y, m_picture.width() - 1, y);
    }
    const int size = m_picture.height();
    for (const TCurve& curve : Curves) {
        if (!(CurveMask & curve.Bit))
            continue;
        painter.setPen(ToQColor(curve.Color));
        QPoint last;
        for (int x = 0; x < w; ++x) {
            const TColorHdr& p = m_ramp.Pixels[0][x];
            const double value = curve.Bit == 8   ? p.B
                                 : curve.Bit == 4 ? p.G
                                 : curve.Bit == 2 ? p.R
                                                  : 0.11 * p.B + 0.59 * p.G + 0.3 * p.R;
            const double y = (size - 1) - (size - 1) * std::clamp(value, -1.0, 2.0);
            const QPoint point(x, static_cast<int>(std::nearbyint(y)));
            if (x > 0)
                painter.drawLine(last, point);
            last = point;
        }
    }
    painter.end();
    PnlReserved->update();
}

void TFrmCustomCurves::PaintReserved(QPainter& painter)
{
    if (!m_picture.isNull())
        painter.drawImage(1, 1, m_picture);
}

// ---------------------------------------------------------------------------------------------
// Tone mapping

TFrmToneMap::TFrmToneMap(QWidget* parent) : TFrmCustomCurves(parent)
{
    setObjectName(QStringLiteral("TFrmToneMap"));
    RepeatMode = 1;
    CmbMethod = AddComboBox(2, 16);
    CmbMethod->resize(170, CmbMethod->height());
    CmbMethod->addItems({U("Linear"), U("Gamma 2.2"), U("Reinhard"), U("Jim & Richard")});
    CmbMethod->setCurrentIndex(1);
    AddExposureAndOffset(*this, 24, EdiExposure, EdiOffset);
    BtnLocal = AddButton(U("Local tone mapping"), 8);
    BtnLocal->resize(PnlReserved->width(), BtnLocal->height());
    connect(BtnLocal, &QPushButton::clicked, this, [this] { BtnLocalClick(); });
    FinishLayout();
    AddResetButton();
}

void TFrmToneMap::ApplyToImage(TBmpHdr* image, TRect rect)
{
    if (!image)
        return;
    image->ShiftToPositive(rect);
    ToneMapHdr(image, static_cast<std::uint8_t>(std::max(0, CmbMethod->currentIndex())),
               static_cast<std::int8_t>(EdiExposure->Value()), rect);
    OffsetHdr(image, rect, static_cast<float>(EdiOffset->Value()));
}

void TFrmToneMap::ResetParams()
{
    CmbMethod->setCurrentIndex(0);
    EdiExposure->SetValue(0);
    EdiOffset->SetValue(0.0);
}

void TFrmToneMap::AfterOk() { ClearHighDynamic(); }

void TFrmToneMap::BtnLocalClick()
{
    const QString caption = QString::fromStdString(CleanCaption(BtnLocal->text().toStdString()));
    close();  // the cancel path: image and history as before this dialog
    QCoreApplication::processEvents();
    if (!IsDocumentOpen())
        return;
    OpenRecordOfLocalToneMap(caption);
    CreateDialog(g_toneMapLocal)->show();
}

// ---------------------------------------------------------------------------------------------
// Local tone mapping

TFrmToneMapLocal::TFrmToneMapLocal(QWidget* parent) : TFrmCommonFilter(parent)
{
    setObjectName(QStringLiteral("TFrmToneMapLocal"));
    RepeatMode = 1;
    CmbOperator = AddComboBox(2, 16);
    CmbOperator->resize(width() - 2 * Margin, CmbOperator->height());
    CmbOperator->addItems({U("Logaritmic"), U("Reinhard"), U("Jim & Richard")});
    CmbOperator->setCurrentIndex(0);
    LblRadius = AddLabel(ValueLabel("Radius", 0, 3), 14);
    SldRadius = AddSlider(1, 30, 4, 3, 1);
    SldRadius->SetBarStyle(TBarStyle::bsProgress);
    SldRadius->SetBarColor(SliderShadeColor);
    SldRadius->SetBarColor2(0x000000);
    AddExposureAndOffset(*this, 14, EdiExposure, EdiOffset);
    FinishLayout();
    AddResetButton();
}

void TFrmToneMapLocal::ParamChanged(QObject* sender)
{
    if (sender == SldRadius)
        LblRadius->setText(ValueLabel("Radius", 0, SldRadius->Value()));
}

void TFrmToneMapLocal::ResetParams()
{
    CmbOperator->setCurrentIndex(0);
    EdiExposure->SetValue(0);
    EdiOffset->SetValue(0.0);
    SldRadius->SetValue(3);
}

void TFrmToneMapLocal::Execute()
{
    TBmpHdr* image = GetImage();
    if (!image)
        return;
    const TRect rect = GetWorkRect();
    image->ShiftToPositive(rect);
    SimilarityThreshold = 0.05f;
    TLocalToneFunc op = LocalLogaritmic;
    if (CmbOperator->currentIndex() == 1)
        op = LocalReinhard;
    else if (CmbOperator->currentIndex() == 2)
        op = LocalJimRichard;
    {
        const auto kernel =
            MakeGaussMatrix(static_cast<float>(SldRadius->Value()), 0.0f, GaussExponent, 1.0f);
        LocalToneMapHdr(image, kernel.get(), rect, op,
                        static_cast<std::int8_t>(EdiExposure->Value()));
    }
    if (ProgressAborted)
        return;  // the preview puts the saved pixels back
    OffsetHdr(image, rect, static_cast<float>(EdiOffset->Value()));
}

void TFrmToneMapLocal::AfterOk() { ClearHighDynamic(); }

// ---------------------------------------------------------------------------------------------

TFrmToneMap* ToneMapDialog() { return g_toneMap.data(); }

TFrmToneMapLocal* ToneMapLocalDialog() { return g_toneMapLocal.data(); }

void RegisterFilterDialogs(TFrmMain& main)
{
    main.SetDialogCommand(main.MenuAdjustToneMap, [] { CreateDialog(g_toneMap)->show(); });
}

}  // namespace lumivex
