#include "app/MyMsgDlg.h"

#include <QApplication>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <algorithm>
#include <array>

#include "app/GlbStrings.h"
#include "dialogs/DlgEx.h"
#include "platform/SysColors.h"
#include "widgets/Slider.h"

namespace lumivex {

namespace {

constexpr int HeadingColor = 0xDE3C12;  // $00BBGGRR: the blue of the heading and its line
constexpr int DesignedWidth = 354;
constexpr int DesignedHeight = 207;
constexpr int ButtonHeight = 25;

void SetBackground(QWidget* widget, const QColor& color)
{
    QPalette p = widget->palette();
    p.setColor(QPalette::Window, color);
    widget->setPalette(p);
    widget->setAutoFillBackground(true);
}

QPushButton* MakeButton(QWidget* parent, const char* caption, int left, int result, QDialog* box)
{
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setGeometry(left, 0, 75, ButtonHeight);
    QObject::connect(b, &QPushButton::clicked, box, [box, result] { box->done(result); });
    return b;
}

}  // namespace

TMsgDlgForm::TMsgDlgForm(QWidget* parent) : QDialog(parent ? parent : MainForm())
{
    setFont(UIFont());
    if (TranslucentDialogs())
        setWindowOpacity(TranslucentAlpha / 255.0);
    setWindowTitle(QGuiApplication::applicationDisplayName());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    SetBackground(this, ToQColor(SystemColorFlag | ColorWindow));
    resize(DesignedWidth, DesignedHeight);

    ResIcon = new QLabel(this);
    ResIcon->setGeometry(16, 56, 32, 32);
    LblMsg = new QLabel(this);
    LblMsg->move(60, 56);
    LblMsg->setTextFormat(Qt::PlainText);
    EdiInput = new QLineEdit(this);
    EdiInput->setGeometry(64, 78, 233, EdiInput->sizeHint().height());
    LblCaption = new QLabel(this);
    LblCaption->move(16, 20);
    LblCaption->setTextFormat(Qt::PlainText);

    PnlButtons = new QWidget(this);
    SetBackground(PnlButtons, ToQColor(SystemColorFlag | ColorBtnFace));
    PnlSepButtons = new QFrame(PnlButtons);
    SetBackground(PnlSepButtons, ToQColor(SystemColorFlag | ColorBtnShadow));
    PnlSepButtons->setGeometry(0, 0, DesignedWidth, 1);
    BtnYes = MakeButton(PnlButtons, SBtnYes, 24, MrYes, this);
    BtnNo = MakeButton(PnlButtons, SBtnNo, 104, MrNo, this);
    BtnOk = MakeButton(PnlButtons, SBtnOk, 184, MrOk, this);
    BtnCancel = MakeButton(PnlButtons, SBtnCancel, 264, MrCancel, this);
    ButtonWidth = BtnYes->width();
    ButtonSpacing = BtnNo->x() - BtnYes->x() - BtnYes->width();
    // Buttons sit 16 pixels below the separator and the panel leaves 16 below them.
    const int separator = PnlSepButtons->height();
    for (QPushButton* b : {BtnYes, BtnNo, BtnOk, BtnCancel})
        b->move(b->x(), separator + 16);
    const int panelHeight = ButtonHeight + 32 - separator;
    PnlButtons->setGeometry(0, DesignedHeight - panelHeight, DesignedWidth, panelHeight);

    HeadingLine = new QFrame(this);
    SetBackground(HeadingLine, ToQColor(HeadingColor));
    HeadingLine->setGeometry(LblCaption->x(), LblCaption->y() + 19, 1, 1);
    QFont heading = font();
    heading.setPointSizeF(heading.pointSizeF() + 2.0);
    LblCaption->setFont(heading);
    QPalette p = LblCaption->palette();
    p.setColor(QPalette::WindowText, ToQColor(HeadingColor));
    LblCaption->setPalette(p);
}

void TMsgDlgForm::Prepare(const QString& text, TMsgKind kind, int buttons, const QString& caption)
{
    EdiInput->hide();
    EdiInput->clear();

    LblMsg->setText(text);
    LblMsg->adjustSize();
    int width = std::max(LblMsg->x() + LblMsg->width() + ResIcon->x(), 4 * ButtonWidth);
    width = std::max(width, MinWidth);
    HeadingLine->resize(width - 2 * HeadingLine->x(), HeadingLine->height());
    const int body = std::max(LblCaption->y() + ResIcon->y() + ResIcon->height(),
                              LblMsg->y() + LblMsg->height() + LblCaption->y());
    const int height = PnlButtons->height() + body;
    setFixedSize(width, height);
    PnlButtons->setGeometry(0, height - PnlButtons->height(), width, PnlButtons->height());
    PnlSepButtons->resize(width, PnlSepButtons->height());

    QString heading = caption;
    if (heading.isEmpty()) {
        heading = kind == TMsgKind::mkPlain
                      ? QFileInfo(QCoreApplication::applicationFilePath()).fileName()
                      : QString::fromUtf8(MessageKindCaption(static_cast<std::uint8_t>(kind)));
    }
    LblCaption->setText(heading);
    LblCaption->adjustSize();

    QIcon icon;
    switch (kind) {
        case TMsgKind::mkWarning:
            icon = style()->standardIcon(QStyle::SP_MessageBoxWarning);
            break;
        case TMsgKind::mkError:
            icon = style()->standardIcon(QStyle::SP_MessageBoxCritical);
            break;
        case TMsgKind::mkInformation:
            icon = style()->standardIcon(QStyle::SP_MessageBoxInformation);
            break;
        case TMsgKind::mkConfirmation:
            icon = style()->standardIcon(QStyle::SP_MessageBoxQuestion);
            break;
        case TMsgKind::mkPlain:
            icon = QApplication::windowIcon();
            if (icon.isNull())
                icon = style()->standardIcon(QStyle::SP_DesktopIcon);
            break;
    }
    ResIcon->setPixmap(icon.pixmap(32, 32));

    const std::array<std::pair<QPushButton*, int>, 4> all{
        {{BtnYes, MbYes}, {BtnNo, MbNo}, {BtnOk, MbOk}, {BtnCancel, MbCancel}}};
    int n = 0;
    for (const auto& [button, bit] : all) {
        button->setVisible((buttons & bit) != 0);
        n += (buttons & bit) != 0 ? 1 : 0;
    }
    const int row = (n > 0 ? n - 1 : 0) * ButtonSpacing + n * ButtonWidth;
    int left = 16;
    if (ButtonAlign == 1)
        left = width - row - 15;
    else if (ButtonAlign == 2)
        left = (width - row) / 2;
    for (const auto& [button, bit] : all) {
        if ((buttons & bit) == 0)
            continue;
        button->move(left, button->y());
        left += ButtonWidth + ButtonSpacing;
    }
    for (const auto& [button, bit] : all)
        button->setDefault(false);
    if (QPushButton* d = DefaultButton()) {
        d->setDefault(true);
        d->setFocus();
    }
}

QPushButton* TMsgDlgForm::DefaultButton() const
{
    if (!BtnOk->isHidden())
        return BtnOk;
    return BtnYes->isHidden() ? nullptr : BtnYes;
}

QPushButton* TMsgDlgForm::CancelButton() const
{
    if (!BtnCancel->isHidden())
        return BtnCancel;
    return BtnNo->isHidden() ? nullptr : BtnNo;
}

void TMsgDlgForm::reject() { done(MrCancel); }

void TMsgDlgForm::keyPressEvent(QKeyEvent* event)
{
    QPushButton* target = nullptr;
    const bool plain = (event->modifiers() & ~(Qt::KeypadModifier | Qt::AltModifier)) == 0;
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            target = DefaultButton();
            break;
        case Qt::Key_Escape:
            // Without a cancel role Escape does nothing: only a button closes the box.
            event->accept();
            if (QPushButton* c = CancelButton())
                c->click();
            return;
        case Qt::Key_Y:
            target = plain && EdiInput->isHidden() && !BtnYes->isHidden() ? BtnYes : nullptr;
            break;
        case Qt::Key_N:
            target = plain && EdiInput->isHidden() && !BtnNo->isHidden() ? BtnNo : nullptr;
            break;
        default:
            break;
    }
    if (!target) {
        QDialog::keyPressEvent(event);
        return;
    }
    event->accept();
    target->click();
}

int MessageBox(const QString& text, TMsgKind kind, int buttons, const QString& caption)
{
    TMsgDlgForm box;
    box.Prepare(text, kind, buttons, caption);
    if (QWidget* on = CenterOn ? CenterOn.data() : MainForm()) {
        const QPoint centre = on->frameGeometry().center();
        box.move(centre.x() - box.width() / 2, centre.y() - box.height() / 2);
    }
    if (OnBeforeMessage)
        OnBeforeMessage();
    const int result = box.exec();
    if (OnAfterMessage)
        OnAfterMessage();
    return result;
}

}  // namespace lumivex
