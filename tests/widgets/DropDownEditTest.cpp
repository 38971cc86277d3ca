#include <QAction>
#include <QMenu>
#include <QTest>
#include <QToolButton>

#include "widgets/DropDownEdit.h"

using namespace lumivex;

class DropDownEditTest : public QObject {
    Q_OBJECT

private slots:
    void ItemsSkipSeparatorsAndChoosingReportsTheIndex()
    {
        TDropDownEdit edit;
        QMenu menu;
        int ran = 0;
        menu.addAction(QStringLiteral("<Auto>"));
        menu.addSeparator();
        menu.addAction(QStringLiteral("&10%  (1:10)"));
        menu.addAction(QStringLiteral("25%  (1:4)"), [&ran] { ++ran; });
        edit.SetDropDownMenu(&menu);
        QCOMPARE(edit.ItemCount(), 3);
        QCOMPARE(edit.ItemIndex(), -1);
        edit.SetItemIndex(1);
        QCOMPARE(edit.text(), QStringLiteral("10%  (1:10)"));  // caption without "&"
        edit.SetItemIndex(3);                                  // out of range: kept
        edit.SetItemIndex(-1);
        QCOMPARE(edit.ItemIndex(), 1);
        std::vector<int> chosen;
        edit.OnSelect = [&chosen](TDropDownEdit&, int index) { chosen.push_back(index); };
        edit.Item(2)->trigger();  // as a click in the list does
        QCOMPARE(chosen, std::vector<int>{2});
        QCOMPARE(edit.ItemIndex(), 2);
        QCOMPARE(ran, 1);  // the item's own action ran as well
        edit.SetItemIndex(0);
        QVERIFY(chosen.size() == 1);  // assignments are no choice
    }

    void ButtonAndKeysDropTheListDownUnlessDisabled()
    {
        TDropDownEdit edit;
        QMenu menu;
        menu.addAction(QStringLiteral("a"));
        edit.SetDropDownMenu(&menu);
        edit.resize(80, 21);
        edit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edit));
        QCOMPARE(edit.DropButton()->geometry(),
                 QRect(80 - TDropDownEdit::ButtonWidth, 0, TDropDownEdit::ButtonWidth, 21));
        edit.DropButton()->click();
        QTRY_VERIFY(menu.isVisible());
        menu.hide();
        QTest::keyClick(&edit, Qt::Key_Down, Qt::AltModifier);
        QTRY_VERIFY(menu.isVisible());
        menu.hide();
        edit.setEnabled(false);
        edit.DropDown();
        QVERIFY(!menu.isVisible());
    }
};

QTEST_MAIN(DropDownEditTest)
#include "DropDownEditTest.moc"
