#include <QTest>
#include <QToolButton>

#include "widgets/ImageButtons.h"

using namespace lumivex;

class ImageButtonsTest : public QObject {
    Q_OBJECT

private slots:
    void SeparatorsTakeAnIndexAndTheirWidth()
    {
        TImageButtonGroup group(nullptr, 19, 2);
        QPixmap glyph(19, 19);
        glyph.fill(Qt::red);
        group.Images = {QIcon(glyph), QIcon(glyph)};
        QCOMPARE(group.AddButton(0, QStringLiteral("Open")), 0);
        QCOMPARE(group.AddSeparator(7), 1);
        QCOMPARE(group.AddButton(1, QStringLiteral("Undo")), 2);
        QCOMPARE(group.AddButton(5), 3);  // no such glyph: a button without one
        QCOMPARE(group.Count(), 4);
        QVERIFY(!group.Button(1));
        QVERIFY(!group.Button(4));
        const int size = group.ButtonSize();  // 19 + 2 x 2 margin + the button's own frame
        QCOMPARE(group.Button(2)->geometry(), QRect(size + 7, 0, size, size));
        QCOMPARE(group.size(), QSize(3 * size + 7, size));
        QVERIFY(!group.Button(0)->icon().isNull());
        QVERIFY(group.Button(3)->icon().isNull());

        std::vector<int> clicked;
        group.OnClick = [&clicked](TImageButtonGroup&, int index) { clicked.push_back(index); };
        group.show();
        QVERIFY(QTest::qWaitForWindowExposed(&group));
        QTest::mouseClick(group.Button(2), Qt::LeftButton);
        group.Button(0)->click();
        QCOMPARE(clicked, (std::vector<int>{2, 0}));

        group.SetButtonEnabled(2, false);
        group.SetButtonEnabled(1, false);  // a separator: nothing happens
        QVERIFY(!group.ButtonEnabled(2));
        QVERIFY(group.ButtonEnabled(0));
        QTest::mouseClick(group.Button(2), Qt::LeftButton);
        QCOMPARE(clicked.size(), std::size_t{2});
        group.setEnabled(false);  // the whole group, as in dialog mode
        QVERIFY(!group.ButtonEnabled(0));
        group.SetHint(2, QStringLiteral("Undo Negative"));
        QCOMPARE(group.Hint(2), QStringLiteral("Undo Negative"));
        QCOMPARE(group.Hint(0), QStringLiteral("Open"));
        QCOMPARE(group.Hint(1), QString());
    }
};

QTEST_MAIN(ImageButtonsTest)
#include "ImageButtonsTest.moc"
