#include "dialogs/DlgManager.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <algorithm>
#include <filesystem>

#include "app/DialogSettings.h"
#include "app/Settings.h"
#include "widgets/ColorPicker.h"
#include "widgets/DropDownEdit.h"
#include "widgets/Slider.h"
#include "widgets/SpinEdit.h"

namespace lumivex {

namespace {

struct TModeState {
    TMainDialogForm* Active = nullptr;
    std::uint8_t ActiveKind = 0;
    TMainDialogForm* Saved = nullptr;
    std::uint8_t SavedKind = 0;
};

TModeState& Mode()
{
    static TModeState state;
    return state;
}

std::vector<TMainDialogForm*>& Dialogs()
{
    static std::vector<TMainDialogForm*> all;
    return all;
}

void Deactivate()
{
    TModeState& m = Mode();
    if (!m.Active)
        return;
    const std::uint8_t kind = m.ActiveKind;
    m.Active = nullptr;
    m.ActiveKind = 0;
    if (OnDialogMode)
        OnDialogMode(kind, nullptr);
}

void Activate(TMainDialogForm* dialog, std::uint8_t kind)
{
    TModeState& m = Mode();
    m.Active = dialog;
    m.ActiveKind = dialog ? kind : 0;
    if (dialog && OnDialogMode)
        OnDialogMode(kind, dialog);
}

// The protected receivers() of any object, for "has the button a click handler".
struct TReceivers : QObject {
    static int Of(const QObject* object, const char* signal)
    {
        return (object->*(&TReceivers::receivers))(signal);
    }
};

bool HasClickHandler(const QPushButton* button)
{
    return button && TReceivers::Of(button, SIGNAL(clicked(bool))) > 0;
}

bool Usable(const QWidget* w) { return w && !w->isHidden() && w->isEnabled(); }

bool StorableKind(const QWidget* w)
{
    // Number edits and drop-down edits are line edits too.
    return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QCheckBox*>(w) ||
           qobject_cast<const QRadioButton*>(w) || qobject_cast<const QComboBox*>(w) ||
           dynamic_cast<const TSlider*>(w) || dynamic_cast<const TColorPicker*>(w);
}

std::string ValueText(QWidget* w)
{
    if (auto* s = dynamic_cast<TSlider*>(w)) {
        std::vector<std::int32_t> values;
        for (int i = 0; i < s->CursorCount(); ++i)
            values.push_back(s->CursorValue(i));
        return SliderText(values);
    }
    if (auto* n = dynamic_cast<TNumberEdit*>(w))
        return std::to_string(n->Value());
    if (auto* f = dynamic_cast<TFloatEdit*>(w))
        return FloatText(f->Value());
    if (auto* d = dynamic_cast<TDropDownEdit*>(w))
        return d->DropDownMenu() ? std::to_string(d->ItemIndex()) : d->text().toStdString();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return QuotedText(e->text().toStdString());
    if (auto* k = qobject_cast<QCheckBox*>(w))
        return CheckText(k->isChecked());
    if (auto* r = qobject_cast<QRadioButton*>(w))
        return CheckText(r->isChecked());
    if (auto* p = dynamic_cast<TColorPicker*>(w))
        return ColorText(p->Color());
    if (auto* c = qobject_cast<QComboBox*>(w)) {
        if (!c->isEditable() && ControlTag(c) != TagStoreItemText)
            return std::to_string(c->currentIndex());
        return c->currentText().toStdString();
    }
    return {};
}

void RestoreValue(QWidget* w, const std::string& value, std::uint8_t options)
{
    const bool quiet = (options & SoQuiet) != 0;
    if (auto* s = dynamic_cast<TSlider*>(w)) {
        // Sliders fire their change event unless asked otherwise: it updates their labels.
        TSlider::TChangeEvent saved;
        if (options & SoQuietSliders)
            saved = std::exchange(s->OnChange, nullptr);
        s->SetCursorValue(0, SliderFirstCursor(value));
        if (options & SoQuietSliders)
            s->OnChange = std::move(saved);
        return;
    }
    if (auto* n = dynamic_cast<TNumberEdit*>(w)) {
        quiet ? n->SetValueQuiet(TextToInt(value)) : n->SetValue(TextToInt(value));
        return;
    }
    if (auto* f = dynamic_cast<TFloatEdit*>(w)) {
        quiet ? f->SetValueQuiet(TextToFloat(value)) : f->SetValue(TextToFloat(value));
        return;
    }
    if (auto* p = dynamic_cast<TColorPicker*>(w)) {
        quiet ? p->SetColorQuiet(TextToColor(value)) : p->SetColor(TextToColor(value));
        return;
    }
    const QSignalBlocker blocker(quiet ? w : nullptr);
    if (auto* d = dynamic_cast<TDropDownEdit*>(w)) {
        if (d->DropDownMenu())
            d->SetItemIndex(TextToInt(value));  // an index out of range keeps the item
        else
            d->setText(QString::fromStdString(value));
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        e->setText(QString::fromStdString(value));
    } else if (auto* k = qobject_cast<QCheckBox*>(w)) {
        k->setChecked(TextToCheck(value));
    } else if (auto* r = qobject_cast<QRadioButton*>(w)) {
        r->setChecked(TextToCheck(value));
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        const QString text = QString::fromStdString(value);
        if (c->isEditable()) {
            c->setEditText(text);
        } else if (ControlTag(c) == TagStoreItemText) {
            const int index = c->findText(text, Qt::MatchExactly);
            if (index >= 0)
                c->setCurrentIndex(index);
        } else {
            // Only an index in range is applied; anything else keeps the present item.
            bool ok = false;
            const int index = text.trimmed().toInt(&ok);
            if (ok && index >= 0 && index < c->count())
                c->setCurrentIndex(index);
        }
    }
}

}  // namespace

int ControlTag(const QWidget* control) { return control->property("Tag").toInt(); }

void SetControlTag(QWidget* control, int tag) { control->setProperty("Tag", tag); }

TMainDialogForm* ActiveDialog() { return Mode().Active; }

std::uint8_t ActiveKind() { return Mode().ActiveKind; }

TMainDialogForm::TMainDialogForm(QWidget* parent) : TDialogFormEx(parent)
{
    Dialogs().push_back(this);
}

TMainDialogForm::~TMainDialogForm()
{
    std::erase(Dialogs(), this);
    TModeState& m = Mode();
    if (m.Active == this)
        Deactivate();
    if (m.Saved == this)
        m.Saved = nullptr;
}

void FreeDialogs()
{
    while (!Dialogs().empty())
        delete Dialogs().back();
}

void CloseByOk(TMainDialogForm& dialog)
{
    dialog.ClosedByOk = true;
    dialog.close();
}

std::vector<QWidget*> TMainDialogForm::StoredControls()
{
    std::vector<QWidget*> result;
    for (QWidget* w : findChildren<QWidget*>()) {
        if (w->objectName().isEmpty() || w->objectName().startsWith(u'_'))
            continue;
        if (w->parentWidget() && w->parentWidget()->objectName().startsWith(u'_'))
            continue;
        if ((StorageOptions & SoSkipHidden) && w->isHidden())
            continue;
        if ((StorageOptions & SoSkipDisabled) && !w->isEnabled())
            continue;
        bool store = StorableKind(w);
        FilterStoredControl(w, store);
        if (store)
            result.push_back(w);
    }
    return result;
}

void TMainDialogForm::FilterStoredControl(QWidget*, bool&) {}

std::string TMainDialogForm::GetVar(int) { return {}; }

void TMainDialogForm::SetVar(int, const std::string&) {}

void TMainDialogForm::PrepareFirstShow()
{
    FirstShow = false;
    const QList<TSpinEdit*> edits = findChildren<TSpinEdit*>();
    HasNumberEdits = !edits.isEmpty();
    for (TSpinEdit* e : edits) {
        if (ControlTag(e) != 0)
            continue;
        if (auto* n = dynamic_cast<TNumberEdit*>(e))
            SetControlTag(n, n->Value());
        else if (auto* f = dynamic_cast<TFloatEdit*>(e))
            SetControlTag(f, static_cast<int>(std::nearbyint(f->Value() * 1000.0)));
    }
    if (!KeyHandling && (OkButton || CancelButton))
        KeyHandling = true;
    if (CancelButton && !HasClickHandler(CancelButton))
        connect(CancelButton, &QPushButton::clicked, this, &QWidget::close);
    if (!FocusControl && OkButton)
        FocusControl = OkButton.data();
    if (StorageOptions & SoPosition) {
        if (QWidget* main = MainForm(); main && main != this) {
            const QRect m = main->frameGeometry();
            move(m.left() + std::max(0, (m.width() - width()) / 2),
                 m.top() + std::max(0, (m.height() - height()) / 2));
        }
    }
}

void TMainDialogForm::showEvent(QShowEvent* event)
{
    TDialogFormEx::showEvent(event);
    if (Unmanaged || event->spontaneous())
        return;
    if (FirstShow)
        PrepareFirstShow();
    ClosedByOk = false;
    if (Usable(FocusControl))
        FocusControl->setFocus();
    InShow = true;
    FormShow();
    if (ModeKind != 0) {
        TModeState& m = Mode();
        m.Saved = m.Active;
        m.SavedKind = m.ActiveKind;
        Deactivate();
        Activate(this, ModeKind);
    }
    if (DialogSettingsEnabled && KeepSettings)
        LoadSettings(*this);
    AfterShow();
    InShow = false;
}

void TMainDialogForm::hideEvent(QHideEvent* event)
{
    TDialogFormEx::hideEvent(event);
    if (Unmanaged || event->spontaneous())
        return;
    if (ModeKind != 0) {
        TModeState& m = Mode();
        if (m.Active == this) {
            Deactivate();
            // A dialog opened from another one hands the mode back.
            if (m.Saved && m.Saved != this)
                Activate(m.Saved, m.SavedKind);
            m.Saved = nullptr;
            m.SavedKind = 0;
        }
    }
    if (SaveOnlyOnOk)
        SaveOnHide = KeepSettings && ClosedByOk;
    FormHide();
    if (HasNumberEdits && !ValuesLoaded) {
        for (TSpinEdit* e : findChildren<TSpinEdit*>()) {
            const bool empty = e->text().isEmpty();
            if (auto* n = dynamic_cast<TNumberEdit*>(e))
                n->SetValueQuiet(empty ? ControlTag(n) : n->Value());
            else if (auto* f = dynamic_cast<TFloatEdit*>(e))
                f->SetValueQuiet(empty ? ControlTag(f) / 1000.0 : f->Value());
        }
    }
    if (DialogSettingsEnabled && SaveOnHide)
        SaveSettings(*this);
}

void TMainDialogForm::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (!KeyHandling || (key != Qt::Key_Escape && !enter)) {
        TDialogFormEx::keyPressEvent(event);
        return;
    }
    if (key == Qt::Key_Escape) {
        event->accept();
        if (Usable(CancelButton))
            CancelButton->click();
        return;
    }
    auto* edit = dynamic_cast<TSpinEdit*>(focusWidget());
    if (HasNumberEdits && edit && isAncestorOf(edit)) {
        const bool empty = edit->text().isEmpty();
        if (auto* n = dynamic_cast<TNumberEdit*>(edit))
            n->SetValue(empty ? ControlTag(n) : n->Value());
        else if (auto* f = dynamic_cast<TFloatEdit*>(edit))
            f->SetValue(empty ? ControlTag(f) / 1000.0 : f->Value());
        event->accept();
        if (Usable(FocusControl))
            FocusControl->setFocus();
        else
            edit->clearFocus();
        return;
    }
    if (Usable(OkButton) && HasClickHandler(OkButton)) {
        event->accept();
        OkButton->click();
        return;
    }
    TDialogFormEx::keyPressEvent(event);
}

std::string DialogFileOf(const TMainDialogForm& dialog)
{
    if (dialog.SettingsFileName.empty())
        return DialogsFile;
    return (std::filesystem::path(DialogsFile).parent_path() / dialog.SettingsFileName).string();
}

void LoadSettings(TMainDialogForm& dialog)
{
    const std::string name = dialog.objectName().toStdString();
    if (name.empty())
        return;
    const TDialogSettings settings(DialogFileOf(dialog), name);
    const std::uint8_t options = dialog.StorageOptions;
    if ((options & SoPosition) && dialog.isWindow()) {
        int left = dialog.x();
        int top = dialog.y();
        if (const auto v = settings.Read("$Left"))
            left = TextToIntDef(*v, left);
        if (const auto v = settings.Read("$Top"))
            top = TextToIntDef(*v, top);
        const int margin = TranslucentDialogs() ? 4 : 0;
        if (const QScreen* screen = dialog.screen()) {
            const QRect s = screen->geometry();
            const QSize size = dialog.frameGeometry().size();
            left = s.left() + ClampDialogEdge(left - s.left(), size.width(), s.width(), margin);
            top = s.top() + ClampDialogEdge(top - s.top(), size.height(), s.height(), margin);
        }
        dialog.move(left, top);
    }
    if (!(options & SoValues))
        return;
    for (QWidget* w : dialog.StoredControls()) {
        const auto stored = settings.Read(w->objectName().toStdString());
        if (!stored)
            continue;
        std::string value = *stored;
        if (options & SoState) {
            const TControlState state = SplitStateText(value);
            if (state.HasState) {
                w->setVisible(state.Visible);
                w->setEnabled(state.Enabled);
                value = state.Value;
            }
        }
        RestoreValue(w, value, options);
        dialog.ValuesLoaded = true;
    }
    for (int i = 0; i < dialog.VarCount; ++i)
        if (const auto v = settings.Read(TDialogSettings::VarKey(i)))
            dialog.SetVar(i, *v);
}

void SaveSettings(TMainDialogForm& dialog)
{
    const std::string name = dialog.objectName().toStdString();
    if (name.empty())
        return;
    TDialogSettings settings(DialogFileOf(dialog), name);
    const std::uint8_t options = dialog.StorageOptions;
    if ((options & SoPosition) && dialog.isWindow()) {
        settings.Write("$Left", std::to_string(dialog.x()));
        settings.Write("$Top", std::to_string(dialog.y()));
    }
    if (options & SoValues) {
        for (QWidget* w : dialog.StoredControls()) {
            std::string value = ValueText(w);
            if (options & SoState)
                value = StateText(!w->isHidden(), w->isEnabled(), value);
            settings.Write(w->objectName().toStdString(), value);
        }
        for (int i = 0; i < dialog.VarCount; ++i)
            settings.Write(TDialogSettings::VarKey(i), dialog.GetVar(i));
    }
    settings.Flush();  // a failed write is ignored: the next show keeps the controls' values
}

}  // namespace lumivex
