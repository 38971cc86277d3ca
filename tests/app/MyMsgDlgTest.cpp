#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/GlbStrings.h"
#include "app/MyMsgDlg.h"

using namespace lumivex;

namespace {

struct TButtonCase {
    int Buttons;
    std::vector<QPushButton*> Visible;
};

// Presses a key in the modal box as soon as it shows.
void PressInNextBox(Qt::Key key)
{
    QTimer::singleShot(0, [key] {
        QWidget* box = QApplication::activeModalWidget();
        QVERIFY(box);
        QTest::keyClick(box, key);
    });
}

}  // namespace

class MyMsgDlgTest : public QObject {
    Q_OBJECT

private slots:
    void OkOnlyIsOneButtonAtTheRightAndIgnoresEscape()
    {
        TMsgDlgForm box;
        box.Prepare(QStringLiteral("Short"), TMsgKind::mkWarning, MbOk, QString());
        QCOMPARE(box.width(), 377);  // MinWidth holds for a short message
        QVERIFY(!box.BtnOk->isHidden());
        QVERIFY(box.BtnYes->isHidden() && box.BtnNo->isHidden() && box.BtnCancel->isHidden());
        QCOMPARE(box.BtnOk->x() + box.BtnOk->width(), box.width() - 15);
        QCOMPARE(box.DefaultButton(), box.BtnOk);
        QVERIFY(box.CancelButton() == nullptr);  // the role falls to the hidden No
        QCOMPARE(box.LblCaption->text(), QStringLiteral("Warning"));
        QVERIFY(!box.ResIcon->pixmap().isNull());
        box.show();
        QTest::keyClick(&box, Qt::Key_Escape);
        QVERIFY(box.isVisible());
        QTest::keyClick(&box, Qt::Key_Return);
        QVERIFY(!box.isVisible());
        QCOMPARE(box.result(), MrOk);
    }

    void ButtonSetsKeepOrderSpacingAndRoles()
    {
        TMsgDlgForm box;
        QCOMPARE(box.ButtonWidth, 75);
        QCOMPARE(box.ButtonSpacing, 5);
        QCOMPARE(box.PnlButtons->height(), 56);
        QCOMPARE(box.BtnOk->y(), 17);
        const std::vector<TButtonCase> cases{
            {MbYes | MbNo | MbCancel, {box.BtnYes, box.BtnNo, box.BtnCancel}},
            {MbYes | MbNo, {box.BtnYes, box.BtnNo}},
            {MbOk | MbCancel, {box.BtnOk, box.BtnCancel}},
            {MbYes | MbNo | MbOk | MbCancel, {box.BtnYes, box.BtnNo, box.BtnOk, box.BtnCancel}},
        };
        for (const TButtonCase& c : cases) {
            box.Prepare(QStringLiteral("Message"), TMsgKind::mkConfirmation, c.Buttons, {});
            const int n = static_cast<int>(c.Visible.size());
            int left = box.width() - ((n - 1) * 5 + n * 75) - 15;
            for (QPushButton* b : c.Visible) {
                QVERIFY(!b->isHidden());
                QCOMPARE(b->x(), left);
                left += 80;
            }
        }
        box.Prepare(QStringLiteral("m"), TMsgKind::mkConfirmation, MbYes | MbNo | MbCancel, {});
        QCOMPARE(box.DefaultButton(), box.BtnYes);
        QCOMPARE(box.CancelButton(), box.BtnCancel);
        box.Prepare(QStringLiteral("m"), TMsgKind::mkConfirmation, MbYes | MbNo, {});
        QCOMPARE(box.CancelButton(), box.BtnNo);
        ButtonAlign = 0;
        box.Prepare(QStringLiteral("m"), TMsgKind::mkConfirmation, MbYes | MbNo, {});
        QCOMPARE(box.BtnYes->x(), 16);
        ButtonAlign = 2;
        box.Prepare(QStringLiteral("m"), TMsgKind::mkConfirmation, MbYes | MbNo, {});
        QCOMPARE(box.BtnYes->x(), (box.width() - 155) / 2);
        ButtonAlign = 1;
    }

    void SizeFollowsTheMessage()
    {
        TMsgDlgForm box;
        box.Prepare(QStringLiteral("m"), TMsgKind::mkInformation, MbOk, {});
        // heading top 20 + icon top 56 + icon 32 above the 56-pixel panel
        QCOMPARE(box.height(), 56 + 108);
        const QString longText(200, QChar(u'W'));
        box.Prepare(longText + QStringLiteral("\nsecond\nthird\nfourth"), TMsgKind::mkError, MbOk,
                    {});
        QCOMPARE(box.width(), 60 + box.LblMsg->width() + 16);
        QCOMPARE(box.height(), 56 + 56 + box.LblMsg->height() + 20);
        QCOMPARE(box.HeadingLine->width(), box.width() - 32);
        QCOMPARE(box.LblCaption->text(), QStringLiteral("Error"));
        QVERIFY(box.EdiInput->isHidden());
    }

    void HeadingsByKindAndCaption()
    {
        TMsgDlgForm box;
        const char* words[] = {"Warning", "Error", "Information", "Confirmation"};
        for (int k = 0; k < 4; ++k) {
            box.Prepare(QStringLiteral("m"), static_cast<TMsgKind>(k), MbOk, {});
            QCOMPARE(box.LblCaption->text(), QString::fromUtf8(words[k]));
        }
        box.Prepare(QStringLiteral("m"), TMsgKind::mkPlain, MbOk, {});
        QCOMPARE(box.LblCaption->text(), QStringLiteral("MyMsgDlgTest"));
        box.Prepare(QStringLiteral("m"), TMsgKind::mkError, MbOk, QStringLiteral("Merge"));
        QCOMPARE(box.LblCaption->text(), QStringLiteral("Merge"));
    }

    void MessageBoxAnswersTheKeyPressed()
    {
        int before = 0;
        int after = 0;
        OnBeforeMessage = [&] { ++before; };
        OnAfterMessage = [&] { ++after; };
        PressInNextBox(Qt::Key_Return);
        QCOMPARE(MessageBox(QString::fromUtf8(SSaveChanges), TMsgKind::mkConfirmation,
                            MbYes | MbNo | MbCancel),
                 MrYes);
        PressInNextBox(Qt::Key_Escape);
        QCOMPARE(MessageBox(QString::fromUtf8(SSaveChanges), TMsgKind::mkConfirmation,
                            MbYes | MbNo | MbCancel),
                 MrCancel);
        PressInNextBox(Qt::Key_N);
        QCOMPARE(MessageBox(QString::fromUtf8(STransparencyUnsupported), TMsgKind::mkConfirmation,
                            MbYes | MbNo),
                 MrNo);
        PressInNextBox(Qt::Key_Escape);  // the cancel role is No here
        QCOMPARE(MessageBox(QString::fromUtf8(STransparencyUnsupported), TMsgKind::mkConfirmation,
                            MbYes | MbNo),
                 MrNo);
        PressInNextBox(Qt::Key_Y);
        QCOMPARE(MessageBox(QStringLiteral("m"), TMsgKind::mkConfirmation, MbYes | MbNo), MrYes);
        QCOMPARE(before, 5);
        QCOMPARE(after, 5);
        OnBeforeMessage = nullptr;
        OnAfterMessage = nullptr;
    }

    void CloseBoxAnswersCancel()
    {
        QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
        QCOMPARE(MessageBox(QString::fromUtf8(SSaveChanges), TMsgKind::mkConfirmation,
                            MbYes | MbNo | MbCancel),
                 MrCancel);
    }

    void TextsAreTheProgramsOwn()
    {
        QCOMPARE(QString::asprintf(SUnableToLoad, "a.exr"),
                 QStringLiteral("Unable to load image in file \"a.exr\" !"));
        QCOMPARE(QString::asprintf(SZoomLevelFormat, 25, 1, 4), QStringLiteral("25%  (1:4)"));
        QCOMPARE(QString::fromUtf8(MessageKindCaption(4)), QString());
    }
};

QTEST_MAIN(MyMsgDlgTest)
#include "MyMsgDlgTest.moc"
