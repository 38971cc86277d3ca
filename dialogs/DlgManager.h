#pragma once

// The managed dialog: created on first use and reused, Enter and Escape with remembered
// defaults for number edits, registration as the active modeless dialog, and its position and
// control values kept in the dialog settings file.

#include <QPointer>
#include <QPushButton>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dialogs/DlgEx.h"
#include "platform/SysColors.h"

namespace lumivex {

// StorageOptions bits.
inline constexpr std::uint8_t SoPosition = 1;
inline constexpr std::uint8_t SoValues = 2;
inline constexpr std::uint8_t SoState = 4;  ///< prefix values with "1"/"0" visible and enabled
inline constexpr std::uint8_t SoSkipHidden = 8;
inline constexpr std::uint8_t SoSkipDisabled = 16;
inline constexpr std::uint8_t SoQuiet = 32;  ///< restore without change events, sliders aside
inline constexpr std::uint8_t SoQuietSliders = 64;

/// A combo box list with this tag stores the text of its item rather than its index.
inline constexpr int TagStoreItemText = -771;
/// The tag of a control (dynamic property "Tag", 0 when unset): number edits keep their default
/// there, combo boxes TagStoreItemText.
int ControlTag(const QWidget* control);
void SetControlTag(QWidget* control, int tag);

class TMainDialogForm;

/// The dialog settings file; DialogSettingsEnabled stays false until the main window sets it.
inline std::string DialogsFile;
inline bool DialogSettingsEnabled = false;
/// Called as (kind, dialog) whenever the active dialog changes; no dialog: (kind, nullptr).
inline std::function<void(std::uint8_t kind, TMainDialogForm* dialog)> OnDialogMode;
TMainDialogForm* ActiveDialog();
std::uint8_t ActiveKind();

class TMainDialogForm : public TDialogFormEx {
public:
    explicit TMainDialogForm(QWidget* parent = nullptr);
    ~TMainDialogForm() override;

    bool HasNumberEdits = false;
    bool FirstShow = true;
    bool ValuesLoaded = false;
    bool Unmanaged = false;
    /// 0 none, 1 exclusive, 2 filter, 3 filter with a colour control.
    std::uint8_t ModeKind = 0;
    bool KeepSettings = true;
    std::uint8_t StorageOptions = SoPosition | SoValues | SoQuiet;
    bool SaveOnHide = false;
    bool SaveOnlyOnOk = true;
    /// Not empty: the settings go to this file name in the folder of DialogsFile.
    std::string SettingsFileName;
    bool KeyHandling = false;
    QPointer<QPushButton> OkButton;
    QPointer<QPushButton> CancelButton;
    QPointer<QWidget> FocusControl;
    bool ClosedByOk = false;
    bool InShow = false;
    int VarCount = 0;

    /// The controls whose values are stored, in creation order, after the store filter.
    std::vector<QWidget*> StoredControls();

protected:
    virtual void FormShow() {}
    virtual void FormHide() {}
    virtual void AfterShow() {}
    virtual void FilterStoredControl(QWidget* control, bool& store);
    virtual std::string GetVar(int index);
    virtual void SetVar(int index, const std::string& value);

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void PrepareFirstShow();
    friend void LoadSettings(TMainDialogForm& dialog);
    friend void SaveSettings(TMainDialogForm& dialog);
};

/// A dialog that takes colours picked from the image with the pipette cursor.
class TPipetteForm : public TMainDialogForm {
public:
    using TMainDialogForm::TMainDialogForm;
    /// A colour picked in the view while this dialog is active (0x00BBGGRR).
    virtual void SetPipetteColor(TColor color) = 0;
};

/// Creates the dialog on first use (owned by the main form, else kept until FreeDialogs) and
/// answers the same one afterwards.
template <class T>
T* CreateDialog(QPointer<T>& instance)
{
    if (!instance)
        instance = new T(MainForm());
    return instance.data();
}

/// Destroys every managed dialog still alive (the program's end, tests).
void FreeDialogs();
/// ClosedByOk, then close.
void CloseByOk(TMainDialogForm& dialog);
/// The file of a dialog: its SettingsFileName beside DialogsFile, else DialogsFile.
std::string DialogFileOf(const TMainDialogForm& dialog);
void LoadSettings(TMainDialogForm& dialog);
void SaveSettings(TMainDialogForm& dialog);

}  // namespace lumivex
