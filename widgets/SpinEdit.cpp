#include "widgets/SpinEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QToolButton>
#include <QWheelEvent>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace lumivex {

namespace {

bool IsSign(QChar c) { return c == u'+' || c == u'-'; }

// A sign goes only in front, and only once: the caret at 0 and no sign there already unless the
// selection replaces it.
bool SignAllowedAt(const QLineEdit& edit)
{
    const int start = edit.hasSelectedText() ? edit.selectionStart() : edit.cursorPosition();
    if (start != 0)
        return false;
    const QString& t = edit.text();
    return t.isEmpty() || !IsSign(t[0]) || edit.selectedText().startsWith(t[0]);
}

struct TFormatDigits {
    int Required = 0;  // "0" after the point
    int Optional = 0;  // "#" after the point
};

TFormatDigits DecimalsOf(const QString& format)
{
    TFormatDigits d;
    const auto point = format.indexOf(u'.');
    if (point < 0)
        return d;
    for (auto i = point + 1; i < format.size(); ++i) {
        if (format[i] == u'0')
            ++d.Required;
        else if (format[i] == u'#')
            ++d.Optional;
        else
            break;
    }
    return d;
}

}  // namespace

QChar DecimalSeparator()
{
    const QString point = QLocale().decimalPoint();
    return point.isEmpty() ? QChar(u'.') : point[0];
}

bool ParseDecimal(const QString& text, QChar separator, double& value)
{
    QString t = text.trimmed();
    if (separator != u'.') {
        if (t.contains(u'.'))
            return false;
        t.replace(separator, u'.');
    }
    std::string s = t.toStdString();
    if (!s.empty() && s[0] == '+')
        s.erase(0, 1);
    if (s.empty() || s[0] == '+')
        return false;
    double v = 0.0;
    const char* end = s.data() + s.size();
    const auto [ptr, ec] = std::from_chars(s.data(), end, v, std::chars_format::fixed);
    if (ec != std::errc() || ptr != end || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

QString FormatFloat(const QString& format, double value, QChar separator)
{
    const TFormatDigits d = DecimalsOf(format.isEmpty() ? QStringLiteral("0.00") : format);
    const int decimals = d.Required + d.Optional;
    // to_chars rounds the exact binary value, ties to even, whatever the locale
    char buffer[400];
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    QString s = QString::fromLatin1(buffer, static_cast<int>(written.ptr - buffer));
    if (d.Optional > 0) {
        int drop = 0;
        while (drop < d.Optional && s.endsWith(u'0')) {
            s.chop(1);
            ++drop;
        }
        if (s.endsWith(u'.'))
            s.chop(1);
    }
    if (s.startsWith(u'-')) {
        // -0.00 reads as a negative zero; write it as zero
        bool allZero = true;
        for (QChar c : s)
            allZero = allZero && (c == u'-' || c == u'0' || c == u'.');
        if (allZero)
            s.remove(0, 1);
    }
    s.replace(u'.', separator);
    return s;
}

// --- TSpinEdit ---

TSpinEdit::TSpinEdit(QWidget* parent) : QLineEdit(QStringLiteral("0"), parent)
{
    resize(65, sizeHint().height());
    m_up = new QToolButton(this);
    m_down = new QToolButton(this);
    m_drop = new QToolButton(this);
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    m_drop->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {m_up, m_down, m_drop}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setCursor(Qt::ArrowCursor);
        b->setAutoRaise(true);
    }
    m_up->setAutoRepeat(true);
    m_down->setAutoRepeat(true);
    m_drop->hide();
    QObject::connect(m_up, &QToolButton::clicked, this, [this] { Step(true); });
    QObject::connect(m_down, &QToolButton::clicked, this, [this] { Step(false); });
    QObject::connect(m_drop, &QToolButton::clicked, this, [this] {
        if (OnDropButton)
            OnDropButton(*this);
    });
    QObject::connect(this, &QLineEdit::textChanged, this, [this] {
        if (OnChange)
            OnChange(*this);
    });
    LayoutButtons();
}

void TSpinEdit::SetShowUpDown(bool value)
{
    m_showUpDown = value;
    LayoutButtons();
}

void TSpinEdit::SetShowDropButton(bool value)
{
    m_showDropButton = value;
    LayoutButtons();
}

bool TSpinEdit::IsValidChar(QChar) { return false; }

void TSpinEdit::Normalize()
{
    const QString value = ValueText();
    if (!text().isEmpty() && text() != value)
        setText(value);
}

void TSpinEdit::Step(bool up)
{
    if (isReadOnly()) {
        QApplication::beep();
        return;
    }
    if (up)
        StepUp();
    else
        StepDown();
}

void TSpinEdit::LayoutButtons()
{
    const int w = UpDownWidth;
    const int h = height();
    int right = width();
    m_drop->setVisible(m_showDropButton);
    if (m_showDropButton) {
        right -= w;
        m_drop->setGeometry(right, 0, w, h);
    }
    m_up->setVisible(m_showUpDown);
    m_down->setVisible(m_showUpDown);
    if (m_showUpDown) {
        right -= w;
        m_up->setGeometry(right, 0, w, h / 2);
        m_down->setGeometry(right, h / 2, w, h - h / 2);
    }
    setTextMargins(0, 0, width() - right, 0);
}

void TSpinEdit::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    LayoutButtons();
}

void TSpinEdit::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) && m_showUpDown &&
        !isReadOnly()) {
        Step(event->key() == Qt::Key_Up);
        event->accept();
        return;
    }
    const bool command = (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) != 0;
    const QString t = event->text();
    if (!command && t.size() == 1 && t[0].isPrint() && !t[0].isDigit() && !IsValidChar(t[0])) {
        QApplication::beep();
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TSpinEdit::focusOutEvent(QFocusEvent* event)
{
    Normalize();
    QLineEdit::focusOutEvent(event);
}

void TSpinEdit::wheelEvent(QWheelEvent* event)
{
    // Only a focused field follows the wheel, so scrolling a dialog never changes values.
    const int delta = event->angleDelta().y();
    if (!hasFocus() || isReadOnly() || delta == 0) {
        QLineEdit::wheelEvent(event);
        return;
    }
    Step(delta > 0);
    event->accept();
}

// --- TNumberEdit ---

TNumberEdit::TNumberEdit(QWidget* parent) : TSpinEdit(parent) {}

int TNumberEdit::Limit(int value) const
{
    if (m_minValue == m_maxValue)
        return value;
    return std::clamp(value, std::min(m_minValue, m_maxValue), std::max(m_minValue, m_maxValue));
}

int TNumberEdit::Value() const
{
    bool ok = false;
    const int v = text().trimmed().toInt(&ok);
    return Limit(ok ? v : m_minValue);
}

void TNumberEdit::SetValue(int value) { setText(QString::number(Limit(value))); }

void TNumberEdit::SetValueQuiet(int value)
{
    Quietly([&] { SetValue(value); });
}

bool TNumberEdit::IsValidChar(QChar key)
{
    if (IsSign(key))
        return (m_minValue < 0 || m_minValue == m_maxValue) && SignAllowedAt(*this);
    return false;
}

// --- TFloatEdit ---

TFloatEdit::TFloatEdit(QWidget* parent) : TSpinEdit(parent)
{
    setText(FormatValue(0.0));
    QObject::connect(this, &QLineEdit::textChanged, this, [this] { TextEdited(); });
}

void TFloatEdit::SetFormat(const QString& value)
{
    m_format = value.isEmpty() ? QStringLiteral("0.00") : value;
}

double TFloatEdit::Limit(double value) const
{
    if (m_minValue == m_maxValue)
        return value;
    return std::clamp(value, std::min(m_minValue, m_maxValue), std::max(m_minValue, m_maxValue));
}

bool TFloatEdit::IsNumber() const
{
    double v = 0.0;
    return ParseDecimal(text(), DecimalSeparator(), v);
}

void TFloatEdit::TextEdited()
{
    double v = 0.0;
    if (ParseDecimal(text(), DecimalSeparator(), v))
        m_lastValid = v;
}

double TFloatEdit::Value() const
{
    double v = 0.0;
    if (!ParseDecimal(text(), DecimalSeparator(), v))
        v = m_lastValid;
    return Limit(v);
}

QString TFloatEdit::FormatValue(double value) const
{
    return FormatFloat(m_format, value, DecimalSeparator());
}

void TFloatEdit::SetValue(double value)
{
    const double v = Limit(value);
    m_lastValid = v;
    setText(FormatValue(v));
}

void TFloatEdit::SetValueQuiet(double value)
{
    Quietly([&] { SetValue(value); });
}

bool TFloatEdit::IsValidChar(QChar key)
{
    if (IsSign(key))
        return (m_minValue < 0.0 || m_minValue == m_maxValue) && SignAllowedAt(*this);
    const QChar separator = DecimalSeparator();
    if (key != separator)
        return false;
    const TFormatDigits d = DecimalsOf(m_format);
    QString rest = text();
    if (hasSelectedText())
        rest.remove(selectionStart(), selectedText().size());
    return d.Required + d.Optional > 0 && !rest.contains(separator);
}

void TFloatEdit::keyPressEvent(QKeyEvent* event)
{
    // A typed point stands for the locale's separator.
    const QChar separator = DecimalSeparator();
    if (event->text() == QStringLiteral(".") && separator != u'.' &&
        (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) == 0) {
        if (IsValidChar(separator))
            insert(QString(separator));
        else
            QApplication::beep();
        event->accept();
        return;
    }
    TSpinEdit::keyPressEvent(event);
}

}  // namespace lumivex
