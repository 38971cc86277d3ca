#pragma once

// The base of every adjustment and filter dialog: modeless, its parameter controls made and laid
// out in code, each change previewed on the document image itself (the menu command has already
// opened the history record that saved the pixels), OK keeps the result and may register the
// dialog for Edit > Repeat, Cancel and every other way of closing put the saved pixels back and
// drop the record.

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <cstdint>
#include <vector>

#include "dialogs/DlgManager.h"

class QPainter;

namespace lumivex {

class TSlider;
class TNumberEdit;
class TFloatEdit;
class TColorPicker;
class TFrmCommonFilter;

/// The panel a dialog paints itself (curves, histograms), through PaintReserved.
class TReservedPanel : public QFrame {
public:
    TReservedPanel(TFrmCommonFilter& owner, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TFrmCommonFilter& m_owner;
};

class TFrmCommonFilter : public TPipetteForm {
public:
    explicit TFrmCommonFilter(QWidget* parent = nullptr);

    /// The left of BtnPreview: the margin of the whole layout.
    static constexpr int Margin = 16;

    QPushButton* BtnCancel;
    QPushButton* BtnOk;
    QPushButton* BtnPreview;
    QCheckBox* ChkRealTime;
    TReservedPanel* PnlReserved;

    std::int16_t NextTabOrder = 0;
    double Scale;
    int ControlCounter = 0;
    QPushButton* ResetButton = nullptr;
    /// The document image shows a preview of this dialog.
    bool PreviewApplied = false;
    /// The parameters changed since the last preview.
    bool Dirty = false;
    bool HasColorEdit = false;
    TColorPicker* ColorEdit = nullptr;
    /// On OK: 0 register for Repeat, 1 clear Repeat, 2 leave Repeat as it is.
    std::uint8_t RepeatMode = 0;

    /// Runs the operation again on the restored image when the parameters changed.
    void Preview();
    void Ok();
    void Reset();
    void RealTimeClick();
    /// What Edit > Repeat runs: a new record, then the present parameters on the current image.
    void RepeatOperation();

    /// How many times Execute ran (the coalescing of real-time previews is observable so).
    int ExecuteCount() const { return m_executeCount; }
    /// A real-time preview is waiting for the event loop.
    bool PreviewPending() const { return m_previewTimer.isActive(); }

    void SetPipetteColor(TColor color) override;

    virtual void DoCancel();
    virtual bool IsEffective() { return true; }
    virtual bool CanPreview() { return true; }
    /// The operation on the document image over the document rectangle.
    virtual void Execute() {}
    virtual void ResetParams() {}
    virtual void PaintReserved(QPainter&) {}
    /// A parameter control changed: rewrite its label.
    virtual void ParamChanged(QObject*) {}

    // The control factory: each control goes Gap (scaled) below the content, to the right of the
    // reserved panel while beside it.
    int Scaled(int value) const;
    int ContentBottom(const QWidget* except = nullptr) const;
    int ReservedBottom() const;
    int IndentAt(int y) const;

    QLabel* AddLabel(const QString& caption, int gap);
    TSlider* AddSlider(int min, int max, int gap, int value, int pageStep);
    QRadioButton* AddRadioButton(const QString& caption, bool checked, int gap);
    TNumberEdit* AddSpinEdit(int min, int max, int gap, int value);
    TFloatEdit* AddFloatEdit(int gap, double min, double max, double value);
    /// The dialog's colour control: the pipette's picks go to it.
    TColorPicker* AddColorEdit(TColor color, int gap);
    /// Style 2 is a drop-down list, anything else an editable combo box.
    QComboBox* AddComboBox(int style, int gap);
    QFrame* AddSeparator(int gap);
    QPushButton* AddButton(const QString& caption, int gap);
    void AddResetButton();
    void ShowReserved(int width, int height);
    void AlignControls(QWidget* anchor);
    void FinishLayout();
    void PlaceResetButton();

protected:
    /// Runs after an OK whose final preview completed (the image and its record are kept).
    virtual void AfterOk() {}

    /// A parameter changed: Dirty, the label, and in real time a preview when allowed.
    void Changed(QObject* sender, bool allowPreview);
    /// A number edit is empty or not a number.
    bool HasEmptyNumberEdit() const;

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool IsStandard(const QWidget* w) const;
    void Place(QWidget* control, int gap, const char* baseName);
    void RequestPreview();
    void UpdateTabOrder();

    std::vector<QWidget*> m_tabControls;
    std::vector<QWidget*> m_extraButtons;
    QTimer m_previewTimer;
    bool m_building = true;  // change events of the construction are no parameter changes
    bool m_runFailed = false;
    bool m_inPreview = false;
    bool m_changedInPreview = false;
    int m_executeCount = 0;
};

}  // namespace lumivex
