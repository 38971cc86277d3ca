#include <QApplication>
#include <QColorDialog>
#include <QTest>
#include <QTimer>

#include "widgets/ColorPicker.h"

using namespace lumivex;

class ColorPickerTest : public QObject {
    Q_OBJECT

private slots:
    void TakesTheProgramsDefaultsAndAnnouncesNewColoursOnly()
    {
        QColorDialog dialog;
        ColorPickerDefaults = {QStringLiteral("Other color"), QStringLiteral("notused"), &dialog};
        TColorPicker picker;
        QCOMPARE(picker.CustomText, QStringLiteral("Other color"));
        QCOMPARE(picker.ColorDialog.data(), &dialog);
        int changes = 0;
        picker.OnChange = [&changes](TColorPicker&) { ++changes; };
        picker.SetColor(0x00336699);
        picker.SetColor(0x00336699);  // the same colour: no event
        picker.SetColorQuiet(0x00FFFFFF);
        QCOMPARE(changes, 1);
        QCOMPARE(picker.Color(), 0x00FFFFFF);
        ColorPickerDefaults = {};
    }

    void PaletteChoosesThroughOnChangingAndCloses()
    {
        TColorPicker picker;
        picker.DefaultText = QStringLiteral("notused");
        picker.show();
        QVERIFY(QTest::qWaitForWindowExposed(&picker));
        int changes = 0;
        picker.OnChange = [&changes](TColorPicker&) { ++changes; };
        QTest::mouseClick(&picker, Qt::LeftButton);
        TColorPopup* popup = picker.Popup();
        QVERIFY(popup && popup->isVisible());
        QVERIFY(!popup->DefaultButton());  // "notused" leaves the entry out
        QVERIFY(!popup->CustomButton());   // no colour dialog, no custom entry
        QCOMPARE(popup->Swatches().size(), ColorPickerPalette.size());
        popup->Swatches()[16]->click();  // pure red
        QCOMPARE(picker.Color(), 0x000000FF);
        QCOMPARE(changes, 1);
        QVERIFY(!picker.Popup());
        // Arrows walk from the present colour's swatch, Enter takes it.
        picker.ShowPopup();
        popup = picker.Popup();
        QTest::keyClick(popup, Qt::Key_Right);
        QTest::keyClick(popup, Qt::Key_Down);
        QTest::keyClick(popup, Qt::Key_Return);
        QCOMPARE(picker.Color(), ColorPickerPalette[25]);
        // A veto keeps the colour; read-only opens nothing.
        picker.OnChanging = [](TColorPicker&, TColor, bool& allow) { allow = false; };
        picker.ChooseColor(0x00123456);
        QCOMPARE(picker.Color(), ColorPickerPalette[25]);
        picker.OnChanging = nullptr;
        picker.ReadOnly = true;
        QTest::keyClick(&picker, Qt::Key_Space);
        QVERIFY(!picker.Popup());
        picker.ChooseColor(0x00123456);
        QCOMPARE(changes, 2);
    }

    void DefaultEntryAndTheSharedColourDialog()
    {
        QColorDialog dialog;
        dialog.setOption(QColorDialog::DontUseNativeDialog);
        TColorPicker picker;
        picker.DefaultText = QStringLiteral("Automatic");
        picker.DefaultColor = 0x00808080;
        picker.CustomText = QStringLiteral("Other color");
        picker.ColorDialog = &dialog;
        picker.SetColor(0x00000000);
        picker.show();
        picker.ShowPopup();
        QVERIFY(picker.Popup()->DefaultButton());
        picker.Popup()->DefaultButton()->click();
        QCOMPARE(picker.Color(), 0x00808080);
        // The dialog opens on the present colour; its answer is $00BBGGRR.
        QColor shown;
        QTimer::singleShot(0, &dialog, [&dialog, &shown] {
            shown = dialog.currentColor();
            dialog.setCurrentColor(QColor(0x12, 0x34, 0x56));
            dialog.accept();
        });
        picker.ShowPopup();
        QCOMPARE(picker.Popup()->CustomButton()->text(), QStringLiteral("Other color"));
        picker.Popup()->CustomButton()->click();
        QCOMPARE(shown, QColor(0x80, 0x80, 0x80));
        QCOMPARE(picker.Color(), 0x00563412);
        // Cancel keeps the colour.
        QTimer::singleShot(0, &dialog, [&dialog] { dialog.reject(); });
        picker.ChooseCustomColor();
        QCOMPARE(picker.Color(), 0x00563412);
    }
};

QTEST_MAIN(ColorPickerTest)
#include "ColorPickerTest.moc"
