#pragma once

// A button that shows one colour and drops down a palette to choose another, with an entry
// that opens the program's shared colour dialog.

#include <QFrame>
#include <QPointer>
#include <QString>
#include <QToolButton>
#include <array>
#include <functional>
#include <vector>

#include "platform/SysColors.h"

class QColorDialog;

namespace lumivex {

/// A DefaultText of this value (or an empty one) leaves the default entry out of the palette.
inline constexpr const char* ColorPickerNoDefault = "notused";

/// What every picker takes at construction; the main window sets them at start-up.
struct TColorPickerDefaults {
    QString CustomText;
    QString DefaultText;
    QPointer<QColorDialog> ColorDialog;  ///< not owned
};
inline TColorPickerDefaults ColorPickerDefaults;

/// The palette's colours, 8 columns by 5 rows, $00BBGGRR.
extern const std::array<TColor, 40> ColorPickerPalette;

class TColorPicker;

/// The drop-down palette of a TColorPicker: the optional default entry, the swatches and the
/// custom-colour entry. Choosing closes it.
class TColorPopup : public QFrame {
public:
    explicit TColorPopup(TColorPicker& picker);

    /// The swatch buttons in palette order, then the custom-colour button (when shown).
    const std::vector<QToolButton*>& Swatches() const { return m_swatches; }
    QToolButton* DefaultButton() const { return m_default; }
    QToolButton* CustomButton() const { return m_custom; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Choose(TColor color);

    TColorPicker& m_picker;
    std::vector<QToolButton*> m_swatches;
    QToolButton* m_default = nullptr;
    QToolButton* m_custom = nullptr;
};

class TColorPicker : public QToolButton {
public:
    using TNotifyEvent = std::function<void(TColorPicker& sender)>;
    /// Before a colour the user chose is taken; allow := false keeps the present one.
    using TChangingEvent = std::function<void(TColorPicker& sender, TColor color, bool& allow)>;

    explicit TColorPicker(QWidget* parent = nullptr);
    ~TColorPicker() override;

    /// $00BBGGRR, or a system colour when negative.
    TColor Color() const { return m_color; }
    /// Raises OnChange when the colour differs.
    void SetColor(TColor value);
    /// The same without OnChange (restoring stored values).
    void SetColorQuiet(TColor value);

    /// Caption of the entry that opens ColorDialog; empty: no such entry.
    QString CustomText;
    /// Caption of the entry that chooses DefaultColor; empty or ColorPickerNoDefault: none.
    QString DefaultText;
    TColor DefaultColor = 0;
    /// The shared colour dialog (not owned); none: the custom entry is left out.
    QPointer<QColorDialog> ColorDialog;
    /// Shows the colour but refuses every choice: the palette does not open.
    bool ReadOnly = false;

    TChangingEvent OnChanging;
    /// Runs for every new colour, chosen or assigned.
    TNotifyEvent OnChange;

    /// Drops the palette down below the button (nothing when ReadOnly).
    void ShowPopup();
    /// The open palette, or null (a closed one is only waiting for its deletion).
    TColorPopup* Popup() const { return m_popup && m_popup->isVisible() ? m_popup : nullptr; }
    /// What the palette and the colour dialog call: OnChanging, then SetColor.
    void ChooseColor(TColor value);
    /// Opens ColorDialog on the present colour and chooses its answer.
    void ChooseCustomColor();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    TColor m_color = 0;
    QPointer<TColorPopup> m_popup;
};

}  // namespace lumivex
