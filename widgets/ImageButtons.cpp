#include "widgets/ImageButtons.h"

#include <QToolButton>
#include <algorithm>

namespace lumivex {

TImageButtonGroup::TImageButtonGroup(QWidget* parent, int glyphSize, int margin)
    : QWidget(parent), m_glyphSize(glyphSize), m_margin(margin)
{
}

int TImageButtonGroup::AddButton(int glyph, const QString& hint)
{
    const int index = Count();
    auto* b = new QToolButton(this);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);  // toolbars never take the keyboard from the view
    b->setIconSize(QSize(m_glyphSize, m_glyphSize));
    b->setFixedSize(ButtonSize(), ButtonSize());
    if (glyph >= 0 && glyph < static_cast<int>(Images.size()))
        b->setIcon(Images[static_cast<std::size_t>(glyph)]);
    b->setToolTip(hint);
    connect(b, &QToolButton::clicked, this, [this, index] {
        if (OnClick)
            OnClick(*this, index);
    });
    m_buttons.push_back(b);
    m_widths.push_back(ButtonSize());
    Relayout();
    b->show();
    return index;
}

int TImageButtonGroup::AddSeparator(int width)
{
    m_buttons.push_back(nullptr);
    m_widths.push_back(std::max(width, 0));
    Relayout();
    return Count() - 1;
}

QToolButton* TImageButtonGroup::Button(int index) const
{
    return index >= 0 && index < Count() ? m_buttons[static_cast<std::size_t>(index)] : nullptr;
}

bool TImageButtonGroup::ButtonEnabled(int index) const
{
    const QToolButton* b = Button(index);
    return b && b->isEnabled();
}

void TImageButtonGroup::SetButtonEnabled(int index, bool enabled)
{
    if (QToolButton* b = Button(index))
        b->setEnabled(enabled);
}

QString TImageButtonGroup::Hint(int index) const
{
    const QToolButton* b = Button(index);
    return b ? b->toolTip() : QString();
}

void TImageButtonGroup::SetHint(int index, const QString& hint)
{
    if (QToolButton* b = Button(index))
        b->setToolTip(hint);
}

void TImageButtonGroup::Relayout()
{
    int x = 0;
    for (std::size_t i = 0; i < m_buttons.size(); ++i) {
        if (m_buttons[i])
            m_buttons[i]->move(x, 0);
        x += m_widths[i];
    }
    setFixedSize(x, ButtonSize());
}

}  // namespace lumivex
