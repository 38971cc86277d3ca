#include <QApplication>
#include <QLocale>
#include <QTest>

#include "widgets/SpinEdit.h"

using namespace lumivex;

class SpinEditTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QLocale::setDefault(QLocale::c()); }

    void CreatedWithZeroAndWidth65()
    {
        TNumberEdit n;
        QCOMPARE(n.text(), QStringLiteral("0"));
        QCOMPARE(n.width(), 65);
        QVERIFY(n.ShowUpDown());
        TFloatEdit f;
        QCOMPARE(f.text(), QStringLiteral("0.00"));
    }

    void NumberEditRefusesLateSignAndClampsOnRead()
    {
        TNumberEdit n;
        n.SetMinValue(-8);
        n.SetMaxValue(8);
        n.show();
        n.setFocus();
        n.clear();
        QTest::keyClicks(&n, "1-2");  // "-" after a digit is refused
        QCOMPARE(n.text(), QStringLiteral("12"));
        QCOMPARE(n.Value(), 8);
        n.clear();
        QTest::keyClicks(&n, "-5x");  // a letter is refused too
        QCOMPARE(n.text(), QStringLiteral("-5"));
        QCOMPARE(n.Value(), -5);
        n.home(false);
        QTest::keyClicks(&n, "-");  // a second sign in front is refused
        QCOMPARE(n.text(), QStringLiteral("-5"));
        n.SetValue(-100);
        QCOMPARE(n.text(), QStringLiteral("-8"));
        n.setText(QStringLiteral("abc"));  // pasted: not a number reads as MinValue
        QCOMPARE(n.Value(), -8);
    }

    void NumberEditWithoutNegativeRangeRefusesSigns()
    {
        TNumberEdit n;
        n.SetMinValue(0);
        n.SetMaxValue(255);
        n.clear();
        QTest::keyClicks(&n, "-3");
        QCOMPARE(n.text(), QStringLiteral("3"));
        TNumberEdit free;  // equal limits: no limits, signs allowed
        free.clear();
        QTest::keyClicks(&free, "-70000");
        QCOMPARE(free.Value(), -70000);
    }

    void StepsByIncrementWithKeysButtonsAndNotWhenReadOnly()
    {
        TNumberEdit n;
        n.SetMinValue(0);
        n.SetMaxValue(10);
        n.Increment = 3;
        int changes = 0;
        n.OnChange = [&](TSpinEdit&) { ++changes; };
        QTest::keyClick(&n, Qt::Key_Up);
        QCOMPARE(n.Value(), 3);
        QTest::keyClick(&n, Qt::Key_Up);
        QTest::keyClick(&n, Qt::Key_Up);
        QTest::keyClick(&n, Qt::Key_Up);
        QCOMPARE(n.Value(), 10);
        QTest::keyClick(&n, Qt::Key_Down);
        QCOMPARE(n.Value(), 7);
        QCOMPARE(changes, 5);
        n.SetValueQuiet(1);
        QCOMPARE(changes, 5);
        QCOMPARE(n.Value(), 1);
        n.setReadOnly(true);
        QTest::keyClick(&n, Qt::Key_Up);
        QCOMPARE(n.Value(), 1);
        n.setReadOnly(false);
        n.SetShowUpDown(false);
        QTest::keyClick(&n, Qt::Key_Up);  // the arrows step only with the buttons shown
        QCOMPARE(n.Value(), 1);
    }

    void FloatEditFormatsWithTheLocaleSeparatorWhenLeft()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QWidget form;
        auto* f = new TFloatEdit(&form);
        auto* other = new TNumberEdit(&form);
        other->move(0, 40);
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QCOMPARE(f->text(), QStringLiteral("0,00"));
        f->setFocus();
        f->clear();
        QTest::keyClicks(f, "0.5");  // the typed point becomes the comma
        QCOMPARE(f->text(), QStringLiteral("0,5"));
        QCOMPARE(f->Value(), 0.5);
        other->setFocus();
        QApplication::processEvents();
        QCOMPARE(f->text(), QStringLiteral("0,50"));
        f->setFocus();
        f->end(false);
        QTest::keyClicks(f, ",");  // a second separator is refused
        QCOMPARE(f->text(), QStringLiteral("0,50"));
    }

    void FloatEditKeepsTheLastValidValueForTextsThatAreNoNumbers()
    {
        TFloatEdit f;
        f.SetMinValue(-1.0);
        f.SetMaxValue(1.0);
        f.SetValue(0.25);
        f.clear();
        QVERIFY(!f.IsNumber());
        QCOMPARE(f.Value(), 0.25);
        QTest::keyClicks(&f, "-");  // on the way to "-0.2"
        QVERIFY(!f.IsNumber());
        QCOMPARE(f.Value(), 0.25);
        QTest::keyClicks(&f, "0.2");
        QVERIFY(f.IsNumber());
        QCOMPARE(f.Value(), -0.2);
        f.setText(QStringLiteral("pasted words"));
        QCOMPARE(f.Value(), -0.2);
        f.setText(QStringLiteral("7"));
        QCOMPARE(f.Value(), 1.0);  // limited
        f.setText(QStringLiteral("nan"));
        QVERIFY(!f.IsNumber());
    }

    void FloatEditFormatDecidesDecimalsAndSeparatorUse()
    {
        TFloatEdit f;
        f.SetFormat(QStringLiteral("0"));
        f.clear();
        QTest::keyClicks(&f, "2.5");  // no decimals in the format: the point is refused
        QCOMPARE(f.text(), QStringLiteral("25"));
        f.SetFormat(QString());
        QCOMPARE(f.Format(), QStringLiteral("0.00"));
        QCOMPARE(FormatFloat(QStringLiteral("0.0##"), 1.5, u'.'), QStringLiteral("1.5"));
        QCOMPARE(FormatFloat(QStringLiteral("0.0##"), 1.23456, u'.'), QStringLiteral("1.235"));
        QCOMPARE(FormatFloat(QStringLiteral("0.00"), -0.001, u','), QStringLiteral("0,00"));
        QCOMPARE(FormatFloat(QStringLiteral("0"), 2.5, u'.'), QStringLiteral("2"));  // even
        double v = 0.0;
        QVERIFY(ParseDecimal(QStringLiteral(" +1,25 "), u',', v));
        QCOMPARE(v, 1.25);
        QVERIFY(!ParseDecimal(QStringLiteral("1.25"), u',', v));
        QVERIFY(!ParseDecimal(QStringLiteral("1e5"), u'.', v));
        QVERIFY(!ParseDecimal(QStringLiteral("--1"), u'.', v));
    }
};

QTEST_MAIN(SpinEditTest)
#include "SpinEditTest.moc"
