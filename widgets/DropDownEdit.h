#pragma once

// An edit with a button that drops a menu of items down below it: the zoom box of the toolbar.

#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <functional>

class QAction;
class QToolButton;

namespace lumivex {

class TDropDownEdit : public QLineEdit {
public:
    using TSelectEvent = std::function<void(TDropDownEdit& sender, int index)>;

    explicit TDropDownEdit(QWidget* parent = nullptr);

    /// The list (not owned). Its items are its actions without the separators, in order.
    QMenu* DropDownMenu() const { return m_menu; }
    void SetDropDownMenu(QMenu* menu);
    QAction* Item(int index) const;
    int ItemCount() const;

    /// The item last chosen, -1 for none.
    int ItemIndex() const { return m_itemIndex; }
    /// An index in range selects that item and shows its caption (without "&"); others are
    /// ignored.
    void SetItemIndex(int index);

    /// Runs after the user chose an item from the list (the item's own action runs too).
    TSelectEvent OnSelect;

    /// Shows the list below the edit (nothing without a list or while disabled).
    void DropDown();
    QToolButton* DropButton() const { return m_button; }
    static constexpr int ButtonWidth = 17;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Chosen(QAction* action);

    QPointer<QMenu> m_menu;
    QToolButton* m_button = nullptr;
    int m_itemIndex = -1;
};

}  // namespace lumivex
