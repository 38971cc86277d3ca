#pragma once

// The dialogs of the Adjust and Filter menus, each a common filter dialog that hands its
// control values to the engine routines on the document image and the work rectangle.

#include <QImage>
#include <QPointer>
#include <cstdint>

#include "core/BmpHdr.h"
#include "dialogs/CommonFilter.h"

namespace lumivex {

class TFrmMain;

/// The base of the curve dialogs: the reserved panel shows the transfer curve of the present
/// parameters, computed by the very ApplyToImage the document gets, on a grey ramp.
class TFrmCustomCurves : public TFrmCommonFilter {
public:
    explicit TFrmCustomCurves(QWidget* parent = nullptr);

    /// Bits 8 blue, 4 green, 2 red, 1 luminance.
    std::uint8_t CurveMask = 15;

    virtual void ApplyToImage(TBmpHdr* image, TRect rect) = 0;
    void Execute() override;
    void PaintReserved(QPainter& painter) override;
    void ParamChanged(QObject* sender) override;

    /// The picture of the curves (empty while the dialog is hidden).
    const QImage& CurvePicture() const { return m_picture; }

protected:
    void FormShow() override;
    void FormHide() override;
    void AfterShow() override;
    void RedrawCurve();

private:
    TBmpHdr m_ramp;
    QImage m_picture;
    bool m_curveReady = false;
};

/// Adjust > Tone mapping: a global curve with exposure and offset.
class TFrmToneMap : public TFrmCustomCurves {
public:
    explicit TFrmToneMap(QWidget* parent = nullptr);

    QComboBox* CmbMethod;
    TNumberEdit* EdiExposure;
    TFloatEdit* EdiOffset;
    QPushButton* BtnLocal;

    void ApplyToImage(TBmpHdr* image, TRect rect) override;
    void ResetParams() override;
    /// Cancels this dialog and opens the local one as a history step of its own.
    void BtnLocalClick();

protected:
    void AfterOk() override;
};

/// Local tone mapping, opened from the tone-mapping dialog.
class TFrmToneMapLocal : public TFrmCommonFilter {
public:
    explicit TFrmToneMapLocal(QWidget* parent = nullptr);

    QComboBox* CmbOperator;
    QLabel* LblRadius;
    TSlider* SldRadius;
    TNumberEdit* EdiExposure;
    TFloatEdit* EdiOffset;

    void Execute() override;
    void ResetParams() override;
    void ParamChanged(QObject* sender) override;

protected:
    void AfterOk() override;
};

/// The dialog instances, created on first use (null before).
TFrmToneMap* ToneMapDialog();
TFrmToneMapLocal* ToneMapLocalDialog();

/// Gives the main window's dialog commands their dialogs.
void RegisterFilterDialogs(TFrmMain& main);

}  // namespace lumivex
