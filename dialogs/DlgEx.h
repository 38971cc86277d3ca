#pragma once

// The base of every dialog: the shared user-interface font, optional translucency and the owner
// window.

#include <QDialog>
#include <QFont>
#include <QString>

namespace lumivex {

/// The user-interface font: the platform's general font, chosen once.
QString UIFontName();
int UIFontSize();
QFont UIFont();

/// Whether dialogs are translucent: at first use, whether the window system can blend windows
/// (xcb, Windows, macOS); elsewhere (Wayland, offscreen) dialogs stay opaque.
bool TranslucentDialogs();
void SetTranslucentDialogs(bool value);
/// The alpha-blend value of a translucent dialog, of 255.
inline constexpr int TranslucentAlpha = 233;

/// Layout scale for gaps and widths. Qt's high-DPI scaling already works in device-independent
/// pixels, so layouts must not be scaled a second time.
inline constexpr double DialogScale() { return 1.0; }

/// The main window: dialogs without another owner are owned by it and centred on it. Not
/// owned; none until the main window registers itself.
QWidget* MainForm();
void SetMainForm(QWidget* form);

class TDialogFormEx : public QDialog {
public:
    /// Owned by parent, else by the main form, else top-level.
    explicit TDialogFormEx(QWidget* parent = nullptr);

    bool UseUIFont() const { return m_useUIFont; }
    /// True: the form takes the user-interface font (its controls inherit it).
    void SetUseUIFont(bool value);
    bool Translucent() const { return m_translucent; }
    /// True: the form is blended at TranslucentAlpha where the window system allows it.
    void SetTranslucent(bool value);

private:
    bool m_useUIFont = true;
    bool m_translucent = false;
};

}  // namespace lumivex
