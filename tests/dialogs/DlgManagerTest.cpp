#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <sstream>

#include "dialogs/DlgManager.h"
#include "platform/IniFile.h"
#include "widgets/ColorPicker.h"
#include "widgets/DropDownEdit.h"
#include "widgets/Slider.h"
#include "widgets/SpinEdit.h"

using namespace lumivex;

namespace {

class TFrmProbe : public TMainDialogForm {
public:
    explicit TFrmProbe(QWidget* parent = nullptr) : TMainDialogForm(parent)
    {
        setObjectName(QStringLiteral("TFrmProbe"));
        resize(300, 200);
        Slider = new TSlider(this);
        Slider->setObjectName(QStringLiteral("Slider1"));
        Slider->AddCursor(10);
        Number = new TNumberEdit(this);
        Number->setObjectName(QStringLiteral("EdiNumber"));
        Number->SetMinValue(0);
        Number->SetMaxValue(100);
        Number->SetValue(25);
        Number->move(0, 30);
        Float = new TFloatEdit(this);
        Float->setObjectName(QStringLiteral("EdiFloat"));
        Float->SetValue(0.5);
        Float->move(0, 60);
        Check = new QCheckBox(this);
        Check->setObjectName(QStringLiteral("ChkRealTime"));
        Combo = new QComboBox(this);
        Combo->setObjectName(QStringLiteral("CmbMethod"));
        Combo->addItems({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
        Text = new QLineEdit(this);
        Text->setObjectName(QStringLiteral("EdiText"));
        Color = new TColorPicker(this);
        Color->setObjectName(QStringLiteral("ColorEdit"));
        List = new TDropDownEdit(this);
        List->setObjectName(QStringLiteral("EdiList"));
        auto* menu = new QMenu(List);
        menu->addAction(QStringLiteral("one"));
        menu->addSeparator();
        menu->addAction(QStringLiteral("two"));
        List->SetDropDownMenu(menu);
        Free = new TDropDownEdit(this);
        Free->setObjectName(QStringLiteral("EdiFree"));
        Skipped = new QLineEdit(this);
        Skipped->setObjectName(QStringLiteral("_EdiSkipped"));
        auto* panel = new QWidget(this);
        panel->setObjectName(QStringLiteral("_PnlHidden"));
        InPanel = new QLineEdit(panel);
        InPanel->setObjectName(QStringLiteral("EdiInPanel"));
        BtnOk = new QPushButton(QStringLiteral("OK"), this);
        BtnOk->move(100, 150);
        BtnCancel = new QPushButton(QStringLiteral("Cancel"), this);
        BtnCancel->move(200, 150);
        connect(BtnOk, &QPushButton::clicked, this, [this] {
            ++OkRuns;
            CloseByOk(*this);
        });
        OkButton = BtnOk;
        CancelButton = BtnCancel;
        VarCount = 1;
    }

    TSlider* Slider;
    TNumberEdit* Number;
    TFloatEdit* Float;
    QCheckBox* Check;
    QComboBox* Combo;
    QLineEdit* Text;
    TColorPicker* Color;
    TDropDownEdit* List;  ///< with a list: stores its item index
    TDropDownEdit* Free;  ///< without: stores its text
    QLineEdit* Skipped;
    QLineEdit* InPanel;
    QPushButton* BtnOk;
    QPushButton* BtnCancel;
    int OkRuns = 0;
    std::string Var = "none";

protected:
    std::string GetVar(int) override { return Var; }
    void SetVar(int, const std::string& value) override { Var = value; }
};

std::string ReadAll(const std::string& name)
{
    std::ifstream in(name);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

class DlgManagerTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void init()
    {
        DialogsFile = (m_dir.path() + QStringLiteral("/LumivexHD_Dialogs.ini")).toStdString();
        std::remove(DialogsFile.c_str());
        DialogSettingsEnabled = true;
        SetTranslucentDialogs(false);
    }

    void cleanup() { FreeDialogs(); }

    void CreatedOnFirstUseAndReused()
    {
        QPointer<TFrmProbe> instance;
        TFrmProbe* first = CreateDialog(instance);
        QVERIFY(first);
        QCOMPARE(CreateDialog(instance), first);
        QVERIFY(first->UseUIFont());
        QCOMPARE(first->font().family(), UIFont().family());
    }

    void SavedOnOkNotOnCancelAndRestoredAtTheNextShow()
    {
        QPointer<TFrmProbe> instance;
        TFrmProbe* d = CreateDialog(instance);
        d->show();
        d->Slider->SetValue(35);
        d->Number->SetValue(60);
        d->Float->SetValue(-1.25);
        d->Check->setChecked(true);
        d->Combo->setCurrentIndex(2);
        d->Text->setText(QStringLiteral("  blanks kept "));
        d->Skipped->setText(QStringLiteral("never"));
        d->InPanel->setText(QStringLiteral("never"));
        d->Var = "extra";
        d->BtnOk->click();
        QVERIFY(!d->isVisible());
        const std::string text = ReadAll(DialogsFile);
        QVERIFY(text.find("[TFrmProbe]") != std::string::npos);
        QVERIFY(text.find("Slider1=35") != std::string::npos);
        QVERIFY(text.find("EdiNumber=60") != std::string::npos);
        QVERIFY(text.find("ChkRealTime=1") != std::string::npos);
        QVERIFY(text.find("CmbMethod=2") != std::string::npos);
        QVERIFY(text.find("EdiText=\"  blanks kept \"") != std::string::npos);
        QVERIFY(text.find("$Var0=extra") != std::string::npos);
        QVERIFY(text.find("$Left=") != std::string::npos);
        QVERIFY(text.find("never") == std::string::npos);  // "_" names and "_" panels

        d->show();  // changed, then cancelled: nothing is saved
        d->Slider->SetValue(80);
        d->Number->SetValue(5);
        d->Check->setChecked(false);
        d->BtnCancel->click();
        QVERIFY(!d->isVisible());
        QCOMPARE(ReadAll(DialogsFile), text);
        QCOMPARE(d->Slider->Value(), 80);  // the controls keep their edits until the next show

        d->show();
        QCOMPARE(d->Slider->Value(), 35);
        QCOMPARE(d->Number->Value(), 60);
        QCOMPARE(d->Float->Value(), -1.25);
        QVERIFY(d->Check->isChecked());
        QCOMPARE(d->Combo->currentIndex(), 2);
        QCOMPARE(d->Text->text(), QStringLiteral("  blanks kept "));
        QCOMPARE(d->Var, std::string("extra"));
        QVERIFY(d->ValuesLoaded);
        d->close();
    }

    void RestoreIsQuietExceptForSlidersAndKeepsOutOfRangeIndexes()
    {
        {
            TIniFile ini(DialogsFile);
            ini.WriteString("TFrmProbe", "CmbMethod", "7");
            ini.WriteString("TFrmProbe", "EdiNumber", "ERR!");  // the missing marker
            ini.WriteString("TFrmProbe", "Slider1", "44");
            ini.WriteString("TFrmProbe", "ChkRealTime", "1");
            ini.Flush();
        }
        QPointer<TFrmProbe> instance;
        TFrmProbe* d = CreateDialog(instance);
        d->Combo->setCurrentIndex(1);
        int sliderEvents = 0;
        int checkEvents = 0;
        d->Slider->OnChange = [&](TSlider&, int, TChangeSource) { ++sliderEvents; };
        connect(d->Check, &QCheckBox::toggled, this, [&] { ++checkEvents; });
        d->show();
        QCOMPARE(d->Combo->currentIndex(), 1);  // 7 is no item: kept
        QCOMPARE(d->Number->Value(), 25);
        QCOMPARE(d->Slider->Value(), 44);
        QCOMPARE(sliderEvents, 1);
        QVERIFY(d->Check->isChecked());
        QCOMPARE(checkEvents, 0);
        d->close();
    }

    void ColourPickersAndDropDownEditsStoreTheirText()
    {
        QPointer<TFrmProbe> instance;
        TFrmProbe* d = CreateDialog(instance);
        int changes = 0;
        d->Color->OnChange = [&changes](TColorPicker&) { ++changes; };
        d->show();
        d->Color->SetColor(0x00336699);  // $00BBGGRR
        d->List->SetItemIndex(1);
        d->Free->setText(QStringLiteral("typed"));
        d->BtnOk->click();
        const std::string text = ReadAll(DialogsFile);
        QVERIFY(text.find("ColorEdit=#996633") != std::string::npos);
        QVERIFY(text.find("EdiList=1") != std::string::npos);
        QVERIFY(text.find("EdiFree=typed") != std::string::npos);
        d->Color->SetColor(0);
        d->List->SetItemIndex(0);
        d->Free->clear();
        d->show();
        QCOMPARE(d->Color->Color(), 0x00336699);
        QCOMPARE(d->List->ItemIndex(), 1);
        QCOMPARE(d->List->text(), QStringLiteral("two"));
        QCOMPARE(d->Free->text(), QStringLiteral("typed"));
        QCOMPARE(changes, 2);  // the two assignments, not the restore
        d->close();
        const std::pair<const char*, TColor> stored[] = {
            {"clRed", 0x000000FF}, {"$00FF00", 0x0000FF00}, {"0000FF", 0x00FF0000}, {"red", 0}};
        for (const auto& [value, color] : stored) {
            {
                TIniFile ini(DialogsFile);
                ini.WriteString("TFrmProbe", "ColorEdit", value);
                ini.Flush();
            }
            d->Color->SetColorQuiet(0x00123456);
            d->show();
            QCOMPARE(d->Color->Color(), color);
            d->close();
        }
    }

    void EnterNormalisesANumberEditAndRunsOkElsewhere()
    {
        QPointer<TFrmProbe> instance;
        TFrmProbe* d = CreateDialog(instance);
        d->show();
        d->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(d));
        QCOMPARE(ControlTag(d->Number), 25);  // the default remembered at the first show
        QCOMPARE(ControlTag(d->Float), 500);
        d->Number->setFocus();
        d->Number->setText(QStringLiteral("300"));
        QTest::keyClick(d->Number, Qt::Key_Return);
        QCOMPARE(d->Number->text(), QStringLiteral("100"));
        QCOMPARE(d->OkRuns, 0);
        QVERIFY(d->isVisible());
        QCOMPARE(QApplication::focusWidget(), d->BtnOk);
        d->Number->setFocus();
        d->Number->clear();
        QTest::keyClick(d->Number, Qt::Key_Enter);
        QCOMPARE(d->Number->text(), QStringLiteral("25"));
        d->Check->setFocus();
        QTest::keyClick(d->Check, Qt::Key_Return);
        QCOMPARE(d->OkRuns, 1);
        QVERIFY(!d->isVisible());
    }

    void EscapeCancelsAndAnEmptiedEditGetsItsDefaultBack()
    {
        QPointer<TFrmProbe> instance;
        TFrmProbe* d = CreateDialog(instance);
        d->show();
        d->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(d));
        d->Number->setFocus();
        d->Number->clear();
        QTest::keyClick(d->Number, Qt::Key_Escape);
        QVERIFY(!d->isVisible());
        QCOMPARE(d->Number->text(), QStringLiteral("25"));
        QVERIFY(ReadAll(DialogsFile).empty());
    }

    void StoredPositionIsKeptOnTheScreen()
    {
        SetTranslucentDialogs(true);  // margin 4
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        {
            TIniFile ini(DialogsFile);
            ini.WriteString("TFrmProbe", "$Left", std::to_string(screen.right() + 500));
            ini.WriteString("TFrmProbe", "$Top", "-30");
            ini.Flush();
        }
        QPointer<TFrmProbe> instance;
        TFrmProbe* d = CreateDialog(instance);
        d->show();
        QCOMPARE(d->frameGeometry().right() + 1, screen.left() + screen.width() - 4);
        QCOMPARE(d->y(), screen.top() + 4);
        d->close();
    }

    void DialogModeIsHandedBack()
    {
        std::vector<std::pair<int, TMainDialogForm*>> calls;
        OnDialogMode = [&](std::uint8_t kind, TMainDialogForm* dialog) {
            calls.emplace_back(kind, dialog);
        };
        QPointer<TFrmProbe> a;
        QPointer<TFrmProbe> b;
        CreateDialog(a)->ModeKind = 2;
        CreateDialog(b)->ModeKind = 1;
        b->setObjectName(QStringLiteral("TFrmOther"));
        a->show();
        QCOMPARE(ActiveDialog(), a.data());
        b->show();
        QCOMPARE(ActiveDialog(), b.data());
        QCOMPARE(ActiveKind(), std::uint8_t{1});
        b->close();
        QCOMPARE(ActiveDialog(), a.data());
        QCOMPARE(ActiveKind(), std::uint8_t{2});
        a->close();
        QVERIFY(ActiveDialog() == nullptr);
        const std::vector<std::pair<int, TMainDialogForm*>> expected{
            {2, a.data()}, {2, nullptr}, {1, b.data()}, {1, nullptr}, {2, a.data()}, {2, nullptr}};
        QVERIFY(calls == expected);
        OnDialogMode = nullptr;
    }
};

QTEST_MAIN(DlgManagerTest)
#include "DlgManagerTest.moc"
