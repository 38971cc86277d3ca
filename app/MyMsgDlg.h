#pragma once

// The program's own modal message box: a coloured heading, a system icon, the message and up to
// four buttons in the fixed order Yes, No, Ok, Cancel.

#include <QDialog>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace lumivex {

enum class TMsgKind : std::uint8_t { mkWarning, mkError, mkInformation, mkConfirmation, mkPlain };

// Button sets (bits) and the modal results of the buttons.
inline constexpr int MbYes = 1;
inline constexpr int MbNo = 2;
inline constexpr int MbOk = 4;
inline constexpr int MbCancel = 8;
inline constexpr int MrOk = 1;
inline constexpr int MrCancel = 2;
inline constexpr int MrYes = 6;
inline constexpr int MrNo = 7;

/// Where the button row goes: 1 right, 2 centre, anything else left.
inline int ButtonAlign = 1;
/// The client width a box does not go below.
inline int MinWidth = 377;
/// A form to centre the box on instead of the main form; not owned.
inline QPointer<QWidget> CenterOn;
/// Run before a box shows and after it closed (the main window refreshes its view there).
inline std::function<void()> OnBeforeMessage;
inline std::function<void()> OnAfterMessage;

class TMsgDlgForm : public QDialog {
public:
    explicit TMsgDlgForm(QWidget* parent = nullptr);

    QLabel* ResIcon;
    QLabel* LblMsg;
    QLineEdit* EdiInput;  ///< kept hidden
    QLabel* LblCaption;
    QWidget* PnlButtons;
    QFrame* PnlSepButtons;
    QPushButton* BtnYes;
    QPushButton* BtnNo;
    QPushButton* BtnOk;
    QPushButton* BtnCancel;
    QFrame* HeadingLine;
    int ButtonSpacing = 0;
    int ButtonWidth = 0;

    /// Lays the box out for a message: size, heading, icon, visible buttons and their roles.
    void Prepare(const QString& text, TMsgKind kind, int buttons, const QString& caption);
    /// Run by Enter: Ok when visible, else Yes (none when neither is).
    QPushButton* DefaultButton() const;
    /// Run by Escape: Cancel when visible, else No (none when neither is).
    QPushButton* CancelButton() const;

    /// The close box answers Cancel.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

/// Shows a modal box and answers the modal result of the button pressed (MrCancel for the close
/// box). An empty caption gives the kind's word, or the executable's name for mkPlain.
int MessageBox(const QString& text, TMsgKind kind, int buttons, const QString& caption = {});

}  // namespace lumivex
