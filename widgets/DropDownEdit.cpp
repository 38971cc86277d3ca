#include "widgets/DropDownEdit.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QToolButton>
#include <algorithm>
#include <vector>

namespace lumivex {

namespace {

std::vector<QAction*> Items(const QMenu* menu)
{
    std::vector<QAction*> items;
    if (menu)
        for (QAction* a : menu->actions())
            if (!a->isSeparator())
                items.push_back(a);
    return items;
}

}  // namespace

TDropDownEdit::TDropDownEdit(QWidget* parent) : QLineEdit(parent)
{
    m_button = new QToolButton(this);
    m_button->setArrowType(Qt::DownArrow);
    m_button->setFocusPolicy(Qt::NoFocus);
    m_button->setCursor(Qt::ArrowCursor);
    connect(m_button, &QToolButton::clicked, this, [this] { DropDown(); });
}

void TDropDownEdit::SetDropDownMenu(QMenu* menu)
{
    if (m_menu)
        disconnect(m_menu, nullptr, this, nullptr);
    m_menu = menu;
    m_itemIndex = -1;
    if (m_menu)
        connect(m_menu, &QMenu::triggered, this, [this](QAction* a) { Chosen(a); });
}

QAction* TDropDownEdit::Item(int index) const
{
    const std::vector<QAction*> items = Items(m_menu);
    return index >= 0 && index < static_cast<int>(items.size())
               ? items[static_cast<std::size_t>(index)]
               : nullptr;
}

int TDropDownEdit::ItemCount() const { return static_cast<int>(Items(m_menu).size()); }

void TDropDownEdit::SetItemIndex(int index)
{
    const QAction* item = Item(index);
    if (!item)
        return;
    m_itemIndex = index;
    setText(item->text().remove(QLatin1Char('&')));
}

void TDropDownEdit::DropDown()
{
    if (!m_menu || !isEnabled())
        return;
    QAction* current = Item(m_itemIndex);
    m_menu->setActiveAction(current);
    m_menu->popup(mapToGlobal(QPoint(0, height())));
}

void TDropDownEdit::Chosen(QAction* action)
{
    const std::vector<QAction*> items = Items(m_menu);
    const auto found = std::find(items.begin(), items.end(), action);
    if (found == items.end())
        return;
    const int index = static_cast<int>(found - items.begin());
    m_itemIndex = index;
    if (OnSelect)
        OnSelect(*this, index);
}

void TDropDownEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F4 ||
        (event->key() == Qt::Key_Down && (event->modifiers() & Qt::AltModifier))) {
        DropDown();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TDropDownEdit::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    m_button->setGeometry(width() - ButtonWidth, 0, ButtonWidth, height());
    setTextMargins(0, 0, ButtonWidth, 0);
}

}  // namespace lumivex
