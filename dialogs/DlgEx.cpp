#include "dialogs/DlgEx.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QPointer>
#include <optional>

namespace lumivex {

namespace {

QPointer<QWidget>& MainFormPointer()
{
    static QPointer<QWidget> form;
    return form;
}

std::optional<bool>& TranslucentSetting()
{
    static std::optional<bool> value;
    return value;
}

}  // namespace

QString UIFontName() { return UIFont().family(); }

int UIFontSize() { return UIFont().pointSize(); }

QFont UIFont()
{
    static const QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    return font;
}

bool TranslucentDialogs()
{
    std::optional<bool>& value = TranslucentSetting();
    if (!value) {
        const QString platform = QGuiApplication::platformName();
        value = platform == u"xcb" || platform == u"windows" || platform == u"cocoa";
    }
    return *value;
}

void SetTranslucentDialogs(bool value) { TranslucentSetting() = value; }

QWidget* MainForm() { return MainFormPointer().data(); }

void SetMainForm(QWidget* form) { MainFormPointer() = form; }

TDialogFormEx::TDialogFormEx(QWidget* parent) : QDialog(parent ? parent : MainForm())
{
    SetUseUIFont(true);
    SetTranslucent(TranslucentDialogs());
}

void TDialogFormEx::SetUseUIFont(bool value)
{
    m_useUIFont = value;
    setFont(value ? UIFont() : QFont());
}

void TDialogFormEx::SetTranslucent(bool value)
{
    m_translucent = value;
    setWindowOpacity(value ? TranslucentAlpha / 255.0 : 1.0);
}

}  // namespace lumivex
