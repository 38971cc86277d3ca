#include "app/About.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadialGradient>
#include <QUrl>
#include <QVBoxLayout>

#include "app/GlbStrings.h"

namespace lumivex {

namespace {

// A sunrise over water: the kind of scene whose range the program exists to compress.
QPixmap AboutPicture()
{
    constexpr int size = 96;
    QPixmap pixmap(size, size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, size * 0.62);
    sky.setColorAt(0.0, QColor(24, 38, 92));
    sky.setColorAt(0.7, QColor(226, 110, 72));
    sky.setColorAt(1.0, QColor(255, 214, 140));
    p.fillRect(QRectF(0, 0, size, size * 0.62), sky);
    QRadialGradient sun(size * 0.5, size * 0.62, size * 0.3);
    sun.setColorAt(0.0, QColor(255, 255, 240));
    sun.setColorAt(0.35, QColor(255, 236, 170, 220));
    sun.setColorAt(1.0, QColor(255, 200, 120, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(sun);
    p.drawRect(QRectF(0, 0, size, size * 0.62));
    QLinearGradient sea(0, size * 0.62, 0, size);
    sea.setColorAt(0.0, QColor(120, 86, 90));
    sea.setColorAt(1.0, QColor(12, 20, 48));
    p.fillRect(QRectF(0, size * 0.62, size, size * 0.38), sea);
    p.setBrush(QColor(255, 230, 170, 160));
    for (int i = 0; i < 5; ++i)  // the sun's path on the water
        p.drawRect(QRectF(size * 0.5 - 14 + 2 * i, size * 0.66 + 6 * i, 28 - 4 * i, 2));
    return pixmap;
}

}  // namespace

TFrmAbout::TFrmAbout(QWidget* parent, const QString& version, const QString& freeImageVersion,
                     const QString& webSite)
    : TDialogFormEx(parent)
{
    setObjectName(QStringLiteral("FrmAbout"));
    setWindowTitle(QString::fromUtf8(SAboutCaption));
    setModal(true);
    ImgPicture = new QLabel(this);
    ImgPicture->setPixmap(AboutPicture());
    LblName = new QLabel(QStringLiteral("Lumivex HD"), this);
    QFont big = LblName->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    LblName->setFont(big);
    LblVersion = new QLabel(QString::asprintf(SAboutVersion, qPrintable(version)), this);
    LblFreeImage =
        new QLabel(freeImageVersion.isEmpty()
                       ? QString::fromUtf8(SAboutNoFreeImage)
                       : QString::asprintf(SAboutFreeImageVersion, qPrintable(freeImageVersion)),
                   this);
    LblWeb = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(webSite.toHtmlEscaped()), this);
    LblWeb->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(LblWeb, &QLabel::linkActivated, this,
            [](const QString& link) { QDesktopServices::openUrl(QUrl(link)); });
    BtnOk = new QPushButton(QString::fromUtf8(SBtnOk), this);
    BtnOk->setDefault(true);
    connect(BtnOk, &QPushButton::clicked, this, &QDialog::accept);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    for (QLabel* label : {LblName, LblVersion, LblFreeImage, LblWeb})
        texts->addWidget(label);
    texts->addStretch(1);
    auto* top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(ImgPicture, 0, Qt::AlignTop);
    top->addLayout(texts, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BtnOk);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 12);
    column->setSpacing(12);
    column->addLayout(top);
    column->addLayout(buttons);
    setFixedSize(sizeHint());
}

}  // namespace lumivex
