#include "dialogs/CommonFilter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPainter>
#include <QShowEvent>
#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>
#include <string>

#include "app/GlbStrings.h"
#include "app/Main.h"
#include "app/MyMsgDlg.h"
#include "core/Progress.h"
#include "history/UndoCommands.h"
#include "history/UndoHdr.h"
#include "io/ImageLib.h"
#include "widgets/ColorPicker.h"
#include "widgets/Slider.h"
#include "widgets/SpinEdit.h"

namespace lumivex {

namespace {

TFrmMain* Main() { return dynamic_cast<TFrmMain*>(MainForm()); }

QString U(const char* s) { return QString::fromUtf8(s); }

// The caption of the newest history record: the menu command opened it with its label.
QString NewestRecordCaption()
{
    const TUndoList* list = GetUndoList();
    const TUndoItem* item = list ? list->CurrentItem() : nullptr;
    return item ? QString::fromStdString(item->Caption) : QString();
}

}  // namespace

TReservedPanel::TReservedPanel(TFrmCommonFilter& owner, QWidget* parent)
    : QFrame(parent), m_owner(owner)
{
}

void TReservedPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    m_owner.PaintReserved(painter);
    painter.setPen(ToQColor(SystemColorFlag | ColorBtnShadow));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

TFrmCommonFilter::TFrmCommonFilter(QWidget* parent) : TPipetteForm(parent), Scale(DialogScale())
{
    resize(298, 203);
    auto button = [this](const char* name, const char* caption, int left) {
        auto* b = new QPushButton(U(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);  // Enter is the dialog's own key handling
        b->setGeometry(left, 160, 75, 25);
        return b;
    };
    // The form's own components come first, so that their settings keys precede the factory's.
    BtnCancel = button("BtnCancel", "Cancel", 208);
    BtnOk = button("BtnOk", "Ok", 128);
    BtnPreview = button("BtnPreview", "Preview", 16);
    ChkRealTime = new QCheckBox(U("Direct preview"), this);
    ChkRealTime->setObjectName(QStringLiteral("ChkRealTime"));
    ChkRealTime->setGeometry(16, 128, 200, 17);
    PnlReserved = new TReservedPanel(*this, this);
    PnlReserved->setObjectName(QStringLiteral("PnlReserved"));
    PnlReserved->setGeometry(16, 16, 113, 89);
    PnlReserved->hide();

    setWindowTitle(NewestRecordCaption());
    setObjectName(
        QStringLiteral("TFrmCommonFilter"));  // each dialog renames itself after its class
    RepeatMode = 0;
    OkButton = BtnOk;
    CancelButton = BtnCancel;

    connect(BtnPreview, &QPushButton::clicked, this, [this] { Preview(); });
    connect(BtnOk, &QPushButton::clicked, this, [this] { Ok(); });
    connect(ChkRealTime, &QCheckBox::clicked, this, [this] { RealTimeClick(); });
    // Real-time changes wait for the event loop, so a burst of them runs one preview with the
    // latest settings instead of a queue of stale ones.
    m_previewTimer.setSingleShot(true);
    m_previewTimer.setInterval(0);
    connect(&m_previewTimer, &QTimer::timeout, this, [this] { Preview(); });
    UpdateTabOrder();
}

// ---------------------------------------------------------------------------------------------
// Factory and layout

int TFrmCommonFilter::Scaled(int value) const
{
    return Scale > 1.0 ? static_cast<int>(std::nearbyint(value * Scale)) : value;
}

bool TFrmCommonFilter::IsStandard(const QWidget* w) const
{
    return w == BtnCancel || w == BtnOk || w == BtnPreview || w == ChkRealTime || w == PnlReserved;
}

int TFrmCommonFilter::ContentBottom(const QWidget* except) const
{
    int bottom = 0;
    for (const QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w == except || IsStandard(w) || w->isWindow())
            continue;
        bottom = std::max(bottom, w->y() + w->height());
    }
    return bottom;
}

int TFrmCommonFilter::ReservedBottom() const
{
    return PnlReserved->isHidden() ? Margin : PnlReserved->y() + PnlReserved->height();
}

int TFrmCommonFilter::IndentAt(int y) const
{
    if (!PnlReserved->isHidden() && y <= ReservedBottom())
        return PnlReserved->x() + PnlReserved->width();
    return 0;
}

void TFrmCommonFilter::Place(QWidget* control, int gap, const char* baseName)
{
    const int top = ContentBottom(control) + Scaled(gap);
    control->move(IndentAt(top) + Margin, top);
    if (baseName)
        control->setObjectName(
            QStringLiteral("%1%2").arg(QLatin1String(baseName)).arg(++ControlCounter));
    ++NextTabOrder;
    m_tabControls.push_back(control);
    UpdateTabOrder();
}

void TFrmCommonFilter::UpdateTabOrder()
{
    std::vector<QWidget*> chain = m_tabControls;
    chain.push_back(ChkRealTime);
    chain.push_back(BtnPreview);
    chain.insert(chain.end(), m_extraButtons.begin(), m_extraButtons.end());
    chain.push_back(BtnOk);
    chain.push_back(BtnCancel);
    for (std::size_t i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);
}

QLabel* TFrmCommonFilter::AddLabel(const QString& caption, int gap)
{
    auto* label = new QLabel(caption, this);
    label->resize(label->sizeHint());
    Place(label, gap, nullptr);
    label->resize(std::max(label->width(), width() - Margin - label->x()), label->height());
    return label;
}

TSlider* TFrmCommonFilter::AddSlider(int min, int max, int gap, int value, int pageStep)
{
    auto* slider = new TSlider(this);
    slider->SetBarHeight(9);
    slider->SetMax(max);
    slider->SetMin(min);
    slider->SetMax(max);
    slider->AddCursor(value, SystemColorFlag | ColorBtnShadow, 0x00FFFFFF);
    slider->PageSize = pageStep;
    slider->resize(slider->sizeHint());
    Place(slider, gap, "Slider");
    // The cursor's margin: the bar itself lines up with the labels.
    slider->move(slider->x() - 8, slider->y());
    slider->resize(width() - Margin + 8 - slider->x(), slider->height());
    slider->OnChange = [this](TSlider& sender, int, TChangeSource) { Changed(&sender, false); };
    slider->installEventFilter(this);
    return slider;
}

bool TFrmCommonFilter::eventFilter(QObject* watched, QEvent* event)
{
    // A slider previews when it is let go, not during the drag.
    if ((event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::KeyRelease) &&
        dynamic_cast<TSlider*>(watched) && ChkRealTime->isChecked() && Dirty && !InShow)
        RequestPreview();
    return TPipetteForm::eventFilter(watched, event);
}

QRadioButton* TFrmCommonFilter::AddRadioButton(const QString& caption, bool checked, int gap)
{
    auto* radio = new QRadioButton(caption, this);
    radio->setChecked(checked);
    radio->resize(150, radio->sizeHint().height());
    Place(radio, gap, "RadioButton");
    connect(radio, &QRadioButton::clicked, this, [this, radio] { Changed(radio, true); });
    return radio;
}

TNumberEdit* TFrmCommonFilter::AddSpinEdit(int min, int max, int gap, int value)
{
    auto* edit = new TNumberEdit(this);
    edit->SetMinValue(min);
    edit->SetMaxValue(max);
    edit->SetValueQuiet(value);
    edit->setMaxLength(static_cast<int>(std::to_string(max).size()) + (min < 0 ? 1 : 0));
    edit->resize(Scaled(81), 21);
    Place(edit, gap, "SpinEdit");
    edit->OnChange = [this](TSpinEdit& sender) { Changed(&sender, true); };
    return edit;
}

TColorPicker* TFrmCommonFilter::AddColorEdit(TColor color, int gap)
{
    auto* picker = new TColorPicker(this);
    picker->SetColorQuiet(color);
    picker->resize(Scaled(81), 21);
    Place(picker, gap, "ColorEdit");
    picker->OnChange = [this](TColorPicker& sender) { Changed(&sender, true); };
    HasColorEdit = true;
    ColorEdit = picker;
    return picker;
}

TFloatEdit* TFrmCommonFilter::AddFloatEdit(int gap, double min, double max, double value)
{
    auto* edit = new TFloatEdit(this);
    edit->SetMinValue(min);
    edit->SetMaxValue(max);
    edit->SetValueQuiet(value);
    edit->resize(Scaled(81), 21);
    Place(edit, gap, "SpinEdit");
    edit->OnChange = [this](TSpinEdit& sender) { Changed(&sender, true); };
    return edit;
}

QComboBox* TFrmCommonFilter::AddComboBox(int style, int gap)
{
    auto* combo = new QComboBox(this);
    combo->setEditable(style != 2);
    combo->resize(Scaled(107), 21);
    Place(combo, gap, "ComboBox");
    connect(combo, &QComboBox::currentIndexChanged, this, [this, combo] { Changed(combo, true); });
    if (combo->isEditable())
        connect(combo, &QComboBox::editTextChanged, this, [this, combo] { Changed(combo, true); });
    return combo;
}

QFrame* TFrmCommonFilter::AddSeparator(int gap)
{
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    line->resize(1, 1);
    Place(line, gap, nullptr);
    line->resize(width() - Margin - line->x(), 1);
    return line;
}

QPushButton* TFrmCommonFilter::AddButton(const QString& caption, int gap)
{
    auto* button = new QPushButton(caption, this);
    button->setAutoDefault(false);
    button->resize(BtnPreview->size());
    const int top = std::max(ContentBottom(button), ReservedBottom()) + Scaled(gap);
    button->move(Margin, top);
    m_extraButtons.push_back(button);
    UpdateTabOrder();
    return button;
}

void TFrmCommonFilter::AddResetButton()
{
    ResetButton = AddButton(U("Reset"), 16);
    ResetButton->resize(88, ResetButton->height());
    connect(ResetButton, &QPushButton::clicked, this, [this] { Reset(); });
    PlaceResetButton();
}

void TFrmCommonFilter::PlaceResetButton()
{
    int x = Margin;
    if (!BtnPreview->isHidden())
        x += BtnPreview->width() + Margin / 2;
    if (x + ResetButton->width() + Margin / 2 > BtnOk->x()) {
        ResetButton->move(Margin, std::max(ContentBottom(ResetButton), ReservedBottom()) + Margin);
        FinishLayout();
    } else {
        ResetButton->move(x, BtnPreview->y());
    }
}

void TFrmCommonFilter::ShowReserved(int w, int h)
{
    PnlReserved->resize(w, h);
    PnlReserved->show();
}

void TFrmCommonFilter::AlignControls(QWidget* anchor)
{
    for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w == anchor || IsStandard(w) || w->isWindow() || w == ResetButton ||
            std::find(m_extraButtons.begin(), m_extraButtons.end(), w) != m_extraButtons.end())
            continue;
        if (dynamic_cast<TSlider*>(w)) {
            w->move(anchor->x() - 8, w->y());
            w->resize(width() - Margin + 8 - w->x(), w->height());
        } else if (auto* f = qobject_cast<QFrame*>(w); f && f->frameShape() == QFrame::HLine) {
            w->move(anchor->x(), w->y());
            w->resize(width() - Margin - w->x(), w->height());
        } else {
            w->move(anchor->x(), w->y());
        }
    }
}

void TFrmCommonFilter::FinishLayout()
{
    const int y = std::max(ContentBottom(), ReservedBottom());
    int bottom = 0;
    if (!ChkRealTime->isHidden()) {
        ChkRealTime->move(ChkRealTime->x(), y + Margin);
        bottom = ChkRealTime->y() + ChkRealTime->height();
    } else {
        bottom = y + Margin / 2;
    }
    const int top = bottom + Margin / 2;
    BtnPreview->move(BtnPreview->x(), top);
    BtnCancel->move(width() - Margin - BtnCancel->width(), top);
    BtnOk->move(BtnCancel->x() - Margin / 2 - BtnOk->width(), top);
    if (ResetButton && ChkRealTime->isHidden())
        ResetButton->move(ResetButton->x(), top);
    setFixedSize(width(), BtnPreview->y() + BtnPreview->height() + Margin);
}

// ---------------------------------------------------------------------------------------------
// Preview, OK, cancel

bool TFrmCommonFilter::HasEmptyNumberEdit() const
{
    for (const TSpinEdit* e : findChildren<TSpinEdit*>()) {
        if (e->text().isEmpty())
            return true;
        if (auto* f = dynamic_cast<const TFloatEdit*>(e); f && !f->IsNumber())
            return true;
    }
    return false;
}

void TFrmCommonFilter::Changed(QObject* sender, bool allowPreview)
{
    if (m_building)
        return;
    Dirty = true;
    ParamChanged(sender);
    if (!InShow && allowPreview && ChkRealTime->isChecked())
        RequestPreview();
}

void TFrmCommonFilter::RequestPreview()
{
    if (m_inPreview)
        m_changedInPreview = true;
    else
        m_previewTimer.start();
}

void TFrmCommonFilter::Preview()
{
    if (m_inPreview) {
        // A timer that fired while a long run lets events through: run again afterwards.
        m_changedInPreview = true;
        return;
    }
    m_previewTimer.stop();
    m_runFailed = false;
    if (PreviewApplied && !Dirty)
        return;
    if (HasNumberEdits && HasEmptyNumberEdit()) {
        if (!ChkRealTime->isChecked())
            MessageBox(U(SCompleteFields), TMsgKind::mkWarning, MbOk);
        m_runFailed = true;
        return;
    }
    if (!CanPreview() || !IsDocumentOpen())
        return;
    TFrmMain* main = Main();
    m_inPreview = true;
    m_changedInPreview = false;
    if (main)
        main->BeginWait();
    if (PreviewApplied)
        RestoreCurrent(false);
    QString failure;
    ProgressAborted = false;
    try {
        if (IsEffective()) {
            ++m_executeCount;
            Execute();
        }
    } catch (const std::bad_alloc&) {
        failure = U(SOutOfMemory);
    } catch (const std::exception& e) {
        failure = QString::asprintf(SOperationFailed, e.what());
    }
    if (!failure.isEmpty() || ProgressAborted) {
        // Stopped or failed half-way: the image goes back to the saved state, so it never shows
        // a partial result.
        RestoreCurrent(false);
        PreviewApplied = false;
        Dirty = true;
        m_runFailed = true;
    } else {
        Dirty = false;
        PreviewApplied = true;
    }
    RefreshView(false);
    if (main)
        main->EndOperation();
    else
        ProgressAborted = false;
    m_inPreview = false;
    if (!failure.isEmpty())
        MessageBox(failure, TMsgKind::mkError, MbOk);
    else if (m_changedInPreview && Dirty && ChkRealTime->isChecked() && isVisible())
        m_previewTimer.start();
}

void TFrmCommonFilter::Ok()
{
    if (HasNumberEdits && HasEmptyNumberEdit()) {
        MessageBox(U(SCompleteFields), TMsgKind::mkWarning, MbOk);
        return;
    }
    if (!IsEffective()) {
        if (Dirty)
            PreviewApplied = true;
        close();
        return;
    }
    CloseByOk(*this);
    if (!ClosedByOk)
        return;
    TFrmMain* main = Main();
    if (Dirty)
        Preview();
    if (m_runFailed) {
        // The final run was stopped (Escape) or failed: nothing is applied, nothing is kept.
        CancelLastUndo(PreviewApplied);
        PreviewApplied = false;
        if (main)
            main->UpdateMenus();
        return;
    }
    switch (RepeatMode) {
        case 0: {
            const QPointer<TFrmCommonFilter> self = this;
            SetRepeat(windowTitle().toStdString(), 0, [self] {
                if (self)
                    self->RepeatOperation();
            });
            break;
        }
        case 1:
            ClearRepeat();
            break;
        default:
            break;
    }
    AfterOk();
    if (main) {
        main->AfterImageChange(false);
        main->UpdateMenus();
    }
}

void TFrmCommonFilter::DoCancel()
{
    if (ClosedByOk)
        return;
    CancelLastUndo(PreviewApplied);
    PreviewApplied = false;
}

void TFrmCommonFilter::RealTimeClick()
{
    if (InShow)
        return;
    const bool checked = ChkRealTime->isChecked();
    BtnPreview->setEnabled(!checked);
    if (checked) {
        if (Dirty)
            Preview();
        return;
    }
    m_previewTimer.stop();
    if (PreviewApplied) {
        PreviewApplied = false;
        TFrmMain* main = Main();
        if (main)
            main->BeginWait();
        RestoreCurrent(true);
        if (main) {
            main->UpdateSidePanel(2);
            main->EndWait();
        }
        Dirty = IsEffective();
    }
}

void TFrmCommonFilter::Reset()
{
    const bool applied = PreviewApplied;
    if (applied)
        RestoreCurrent(true);
    m_previewTimer.stop();
    const bool inShow = InShow;
    InShow = true;  // the changes below preview once, at the end, not one by one
    ResetParams();
    InShow = inShow;
    PreviewApplied = false;
    Dirty = IsEffective();
    if (Dirty && ChkRealTime->isChecked()) {
        Preview();
    } else if (applied) {
        if (TFrmMain* main = Main())
            main->UpdateSidePanel(2);
    }
}

void TFrmCommonFilter::RepeatOperation()
{
    if (!IsDocumentOpen())
        return;
    BeginUndo(umFadable, windowTitle().toStdString());
    PreviewApplied = false;
    Preview();
    if (m_runFailed)
        CancelLastUndo(PreviewApplied);
    if (TFrmMain* main = Main()) {
        main->AfterImageChange(false);
        main->UpdateMenus();
    }
}

void TFrmCommonFilter::SetPipetteColor(TColor color)
{
    if (!HasColorEdit || !ColorEdit)
        return;
    ColorEdit->SetColor(color);
}

void TFrmCommonFilter::showEvent(QShowEvent* event)
{
    if (Unmanaged || event->spontaneous()) {
        TPipetteForm::showEvent(event);
        return;
    }
    m_building = false;
    if (TranslucentDialogs())
        UpdateView();
    ModeKind = HasColorEdit ? 3 : 2;
    PreviewApplied = false;
    ChkRealTime->setChecked(false);
    TPipetteForm::showEvent(event);
    Dirty = IsEffective();
    BtnPreview->setEnabled(!ChkRealTime->isChecked());
    if (Dirty && ChkRealTime->isChecked()) {
        Preview();
        RefreshView(false);
    }
}

void TFrmCommonFilter::hideEvent(QHideEvent* event)
{
    TPipetteForm::hideEvent(event);
    if (Unmanaged || event->spontaneous())
        return;
    m_previewTimer.stop();
    // The main window repaints under the dialog before the image is put back.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    DoCancel();
}

}  // namespace lumivex
