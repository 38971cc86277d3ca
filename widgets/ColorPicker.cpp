#include "widgets/ColorPicker.h"

#include <QColorDialog>
#include <QGridLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>
#include <algorithm>

#include "widgets/Slider.h"

namespace lumivex {

namespace {

constexpr TColor Rgb(int r, int g, int b) { return r | (g << 8) | (b << 16); }

constexpr int PaletteColumns = 8;
constexpr int SwatchSize = 18;

TColor FromQColor(const QColor& c) { return Rgb(c.red(), c.green(), c.blue()); }

QIcon SwatchIcon(TColor color)
{
    QPixmap pixmap(SwatchSize - 6, SwatchSize - 6);
    pixmap.fill(ToQColor(color));
    QPainter painter(&pixmap);
    painter.setPen(Qt::gray);
    painter.drawRect(0, 0, pixmap.width() - 1, pixmap.height() - 1);
    return QIcon(pixmap);
}

}  // namespace

// The classic office palette: greys, then full, dark, light and pale hues.
const std::array<TColor, 40> ColorPickerPalette{
    Rgb(0, 0, 0),       Rgb(153, 51, 0),    Rgb(51, 51, 0),     Rgb(0, 51, 0),
    Rgb(0, 51, 102),    Rgb(0, 0, 128),     Rgb(51, 51, 153),   Rgb(51, 51, 51),
    Rgb(128, 0, 0),     Rgb(255, 102, 0),   Rgb(128, 128, 0),   Rgb(0, 128, 0),
    Rgb(0, 128, 128),   Rgb(0, 0, 255),     Rgb(102, 102, 153), Rgb(128, 128, 128),
    Rgb(255, 0, 0),     Rgb(255, 153, 0),   Rgb(153, 204, 0),   Rgb(51, 153, 102),
    Rgb(51, 204, 204),  Rgb(51, 102, 255),  Rgb(128, 0, 128),   Rgb(153, 153, 153),
    Rgb(255, 0, 255),   Rgb(255, 204, 0),   Rgb(255, 255, 0),   Rgb(0, 255, 0),
    Rgb(0, 255, 255),   Rgb(0, 204, 255),   Rgb(153, 51, 102),  Rgb(192, 192, 192),
    Rgb(255, 153, 204), Rgb(255, 204, 153), Rgb(255, 255, 153), Rgb(204, 255, 204),
    Rgb(204, 255, 255), Rgb(153, 204, 255), Rgb(204, 153, 255), Rgb(255, 255, 255),
};

// --- TColorPopup ---

TColorPopup::TColorPopup(TColorPicker& picker) : QFrame(&picker, Qt::Popup), m_picker(picker)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameShape(QFrame::StyledPanel);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 4, 4, 4);
    column->setSpacing(4);
    auto entry = [this, column](const QString& text) {
        auto* b = new QToolButton(this);
        b->setText(text);
        b->setAutoRaise(true);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        column->addWidget(b);
        return b;
    };
    if (!picker.DefaultText.isEmpty() &&
        picker.DefaultText != QLatin1String(ColorPickerNoDefault)) {
        m_default = entry(picker.DefaultText);
        connect(m_default, &QToolButton::clicked, this, [this] { Choose(m_picker.DefaultColor); });
    }
    auto* grid = new QGridLayout;
    grid->setSpacing(1);
    for (std::size_t i = 0; i < ColorPickerPalette.size(); ++i) {
        const TColor color = ColorPickerPalette[i];
        auto* b = new QToolButton(this);
        b->setAutoRaise(true);
        b->setCheckable(true);
        b->setChecked(color == picker.Color());
        b->setFixedSize(SwatchSize, SwatchSize);
        b->setIcon(SwatchIcon(color));
        b->setToolTip(ToQColor(color).name(QColor::HexRgb).toUpper());
        connect(b, &QToolButton::clicked, this, [this, color] { Choose(color); });
        const int index = static_cast<int>(i);
        grid->addWidget(b, index / PaletteColumns, index % PaletteColumns);
        m_swatches.push_back(b);
    }
    column->addLayout(grid);
    if (!picker.CustomText.isEmpty() && picker.ColorDialog) {
        m_custom = entry(picker.CustomText);
        connect(m_custom, &QToolButton::clicked, this, [this] {
            TColorPicker& owner = m_picker;
            close();  // the dialog is modal: the popup must not hold the mouse meanwhile
            owner.ChooseCustomColor();
        });
    }
}

void TColorPopup::keyPressEvent(QKeyEvent* event)
{
    // Arrows walk the swatches, Enter chooses the focused one, Escape closes.
    const auto focused = std::find(m_swatches.begin(), m_swatches.end(), focusWidget());
    const int count = static_cast<int>(m_swatches.size());
    int index = focused == m_swatches.end() ? -1 : static_cast<int>(focused - m_swatches.begin());
    int step = 0;
    switch (event->key()) {
        case Qt::Key_Left:
            step = -1;
            break;
        case Qt::Key_Right:
            step = 1;
            break;
        case Qt::Key_Up:
            step = -PaletteColumns;
            break;
        case Qt::Key_Down:
            step = PaletteColumns;
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (index >= 0) {
                m_swatches[static_cast<std::size_t>(index)]->click();
                return;
            }
            break;
        default:
            QFrame::keyPressEvent(event);
            return;
    }
    if (step != 0) {
        index = index < 0 ? 0 : std::clamp(index + step, 0, count - 1);
        m_swatches[static_cast<std::size_t>(index)]->setFocus();
        return;
    }
    QFrame::keyPressEvent(event);
}

void TColorPopup::Choose(TColor color)
{
    TColorPicker& owner = m_picker;
    close();
    owner.ChooseColor(color);
}

// --- TColorPicker ---

TColorPicker::TColorPicker(QWidget* parent)
    : QToolButton(parent),
      CustomText(ColorPickerDefaults.CustomText),
      DefaultText(ColorPickerDefaults.DefaultText),
      ColorDialog(ColorPickerDefaults.ColorDialog)
{
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QToolButton::clicked, this, [this] { ShowPopup(); });
}

TColorPicker::~TColorPicker() = default;

void TColorPicker::SetColor(TColor value)
{
    if (value == m_color)
        return;
    m_color = value;
    update();
    if (OnChange)
        OnChange(*this);
}

void TColorPicker::SetColorQuiet(TColor value)
{
    m_color = value;
    update();
}

void TColorPicker::ShowPopup()
{
    if (ReadOnly || !isEnabled())
        return;
    if (m_popup)
        m_popup->close();
    m_popup = new TColorPopup(*this);
    m_popup->adjustSize();
    m_popup->move(mapToGlobal(QPoint(0, height())));
    m_popup->show();
    const int selected =
        static_cast<int>(std::find(ColorPickerPalette.begin(), ColorPickerPalette.end(), m_color) -
                         ColorPickerPalette.begin());
    const auto& swatches = m_popup->Swatches();
    swatches[static_cast<std::size_t>(std::min(selected, 39))]->setFocus();
}

void TColorPicker::ChooseColor(TColor value)
{
    if (ReadOnly)
        return;
    bool allow = true;
    if (OnChanging)
        OnChanging(*this, value, allow);
    if (allow)
        SetColor(value);
}

void TColorPicker::ChooseCustomColor()
{
    if (ReadOnly || !ColorDialog)
        return;
    ColorDialog->setCurrentColor(ToQColor(m_color));
    if (ColorDialog->exec() == QDialog::Accepted)
        ChooseColor(FromQColor(ColorDialog->selectedColor()));
}

void TColorPicker::paintEvent(QPaintEvent* event)
{
    QToolButton::paintEvent(event);
    // The colour fills the button but for a margin and the drop arrow at the right.
    QPainter painter(this);
    const QRect r = rect().adjusted(4, 4, -16, -4);
    painter.fillRect(r, ToQColor(m_color));
    painter.setPen(palette().color(isEnabled() ? QPalette::WindowText : QPalette::Mid));
    painter.drawRect(r.adjusted(0, 0, -1, -1));
    const int x = width() - 12;
    const int y = height() / 2 - 1;
    const QPoint arrow[] = {QPoint(x, y), QPoint(x + 6, y), QPoint(x + 3, y + 3)};
    painter.setBrush(painter.pen().color());
    painter.drawPolygon(arrow, 3);
}

void TColorPicker::keyPressEvent(QKeyEvent* event)
{
    const bool open = event->key() == Qt::Key_Space || event->key() == Qt::Key_F4 ||
                      (event->key() == Qt::Key_Down && (event->modifiers() & Qt::AltModifier));
    if (open) {
        ShowPopup();
        return;
    }
    QToolButton::keyPressEvent(event);
}

}  // namespace lumivex
