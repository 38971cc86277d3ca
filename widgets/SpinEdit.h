#pragma once

// Edit fields for an integer or a floating-point value with limits, with up and down buttons.

#include <QLineEdit>
#include <QString>
#include <functional>

class QToolButton;

namespace lumivex {

/// The common base: an edit created with the text "0" and width 65, up and down buttons at its
/// right and an optional drop button. Digits, Backspace and the clipboard keys are always
/// accepted; other characters are asked of IsValidChar and refused with a beep.
class TSpinEdit : public QLineEdit {
public:
    using TNotifyEvent = std::function<void(TSpinEdit& sender)>;

    explicit TSpinEdit(QWidget* parent = nullptr);

    /// Runs on every change of the text, typed or assigned.
    TNotifyEvent OnChange;
    /// Runs when the drop button is pressed.
    TNotifyEvent OnDropButton;

    bool ShowUpDown() const { return m_showUpDown; }
    void SetShowUpDown(bool value);
    bool ShowDropButton() const { return m_showDropButton; }
    void SetShowDropButton(bool value);
    /// Width of the up and down buttons: the themed size of the original.
    static constexpr int UpDownWidth = 15;

    virtual bool IsValidChar(QChar key);
    virtual void StepUp() {}
    virtual void StepDown() {}
    /// The value written back in its own format; the base answers the text.
    virtual QString ValueText() const { return text(); }

    /// Replaces a non-empty text that differs from ValueText by it (what leaving the field does).
    void Normalize();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

    /// Runs an assignment with OnChange detached.
    template <class F>
    void Quietly(F&& assign)
    {
        TNotifyEvent saved = std::move(OnChange);
        OnChange = nullptr;
        assign();
        OnChange = std::move(saved);
    }

private:
    void Step(bool up);
    void LayoutButtons();

    QToolButton* m_up = nullptr;
    QToolButton* m_down = nullptr;
    QToolButton* m_drop = nullptr;
    bool m_showUpDown = true;
    bool m_showDropButton = false;
};

/// Integer edit. Equal limits mean no limits.
class TNumberEdit : public TSpinEdit {
public:
    explicit TNumberEdit(QWidget* parent = nullptr);

    int MinValue() const { return m_minValue; }
    int MaxValue() const { return m_maxValue; }
    void SetMinValue(int value) { m_minValue = value; }
    void SetMaxValue(int value) { m_maxValue = value; }
    int Increment = 1;

    /// The text as an integer (MinValue when it is not one), limited to the limits.
    int Value() const;
    /// Limited like Value, written in decimal.
    void SetValue(int value);
    /// SetValue with OnChange detached.
    void SetValueQuiet(int value);

    bool IsValidChar(QChar key) override;
    void StepUp() override { SetValue(Value() + Increment); }
    void StepDown() override { SetValue(Value() - Increment); }
    QString ValueText() const override { return QString::number(Value()); }

private:
    int Limit(int value) const;

    int m_minValue = 0;
    int m_maxValue = 0;
};

/// Floating-point edit showing the locale's decimal separator. Equal limits mean no limits.
class TFloatEdit : public TSpinEdit {
public:
    explicit TFloatEdit(QWidget* parent = nullptr);

    double MinValue() const { return m_minValue; }
    double MaxValue() const { return m_maxValue; }
    void SetMinValue(double value) { m_minValue = value; }
    void SetMaxValue(double value) { m_maxValue = value; }
    double Increment = 1.0;

    /// A number format of "0" and "#" digits ("0.00", "0.0##"); empty becomes "0.00".
    const QString& Format() const { return m_format; }
    void SetFormat(const QString& value);

    /// The text read with the locale's separator and limited; a text that is not a number ("-"
    /// while typing "-0.2", pasted words) answers the last valid value instead.
    double Value() const;
    void SetValue(double value);
    void SetValueQuiet(double value);
    /// Whether the text is a number now; previews treat a text that is not like an empty one.
    bool IsNumber() const;

    bool IsValidChar(QChar key) override;
    void StepUp() override { SetValue(Value() + Increment); }
    void StepDown() override { SetValue(Value() - Increment); }
    QString ValueText() const override { return FormatValue(Value()); }
    /// A value written with Format and the locale's separator.
    QString FormatValue(double value) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    double Limit(double value) const;
    void TextEdited();

    double m_minValue = 0.0;
    double m_maxValue = 0.0;
    QString m_format = QStringLiteral("0.00");
    double m_lastValid = 0.0;
};

/// The locale's decimal separator.
QChar DecimalSeparator();
/// Reads a decimal number written with `separator` as the whole text (blanks around allowed);
/// false when the text is not one.
bool ParseDecimal(const QString& text, QChar separator, double& value);
/// Writes a value in a number format of "0" and "#" digits: one decimal per digit after the
/// point, the "#" ones dropped when they are trailing zeros, rounded to nearest.
QString FormatFloat(const QString& format, double value, QChar separator);

}  // namespace lumivex
