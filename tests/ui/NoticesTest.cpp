// The About box and the four notices: readable forms with OK as their
// default button, every way of closing one, no key in a box's first half
// second; the toolkit's own buttons in Korean.

#include "UiTestSupport.h"

#include "ui/DialogLook.h"
#include "ui/NoticeDialogs.h"
#include "ui/QuietKeys.h"

#include <QPushButton>
#include <QTest>

#include <functional>
#include <memory>

using namespace veltrad;
using namespace veltrad::test;

namespace {

const std::pair<const char*, std::function<std::unique_ptr<QDialog>()>> kNotices[] = {
    {"Dialog100", [] { return std::make_unique<CAboutDlg>(); }},
    {"Dialog130", [] { return std::make_unique<CCompleteDlg>(); }},
    {"Dialog132", [] { return std::make_unique<CCommErrorDlg>(); }},
    {"Dialog133", [] { return std::make_unique<CCommErrorRetryDlg>(); }},
    {"Dialog134", [] { return std::make_unique<CFailDlg>(); }},
};

class CStoppedClock final : public IClock {
public:
    std::uint32_t TickCount() override { return now; }
    std::uint32_t now = 0;
};

}  // namespace

class NoticesTest : public QObject {
    Q_OBJECT

private slots:
    void formsAreReadable()
    {
        for (const auto& [name, make] : kNotices) {
            auto dialog = make();
            QCOMPARE(dialog->objectName(), QString::fromLatin1(name));
            QVERIFY(!dialog->windowTitle().isEmpty());
            QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
            QVERIFY(!(dialog->windowFlags() & Qt::WindowMinimizeButtonHint));
            QVERIFY(Child<QPushButton>(dialog.get(), "ok1")->isDefault());
            CheckFormIsReadable(*dialog);
        }
        CAboutDlg about;
        QVERIFY(!Child<QLabel>(about, "iconRow01")->pixmap().isNull());
    }

    // OK on each; Enter, Escape and the close box on one: each ends it and
    // the caller goes on.
    void everyWayOfClosingEndsIt_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("how");
        for (int i = 0; i < int(std::size(kNotices)); ++i)
            QTest::addRow("%s ok", kNotices[i].first) << i << QStringLiteral("ok");
        for (const char* how : {"enter", "escape", "closebox"})
            QTest::addRow("Dialog132 %s", how) << 2 << QString::fromLatin1(how);
    }
    void everyWayOfClosingEndsIt()
    {
        QFETCH(int, which);
        QFETCH(QString, how);
        auto dialog = kNotices[which].second();
        CModalDriver driver([how](QWidget* window) {
            if (how == "ok")
                QTest::mouseClick(Child<QPushButton>(window, "ok1"), Qt::LeftButton);
            else if (how == "enter")
                QTest::keyClick(window, Qt::Key_Return);
            else if (how == "escape")
                QTest::keyClick(window, Qt::Key_Escape);
            else
                window->close();
        });
        dialog->exec();
        QCOMPARE(driver.Names(), QStringList{QString::fromLatin1(kNotices[which].first)});
        QVERIFY(!dialog->isVisible());
    }

    // The Enter that started a run, pressed again, meets the notice that
    // ended it: for half a second, and while the keyboard repeats, no key
    // closes it; the mouse always does.
    void aBoxTakesNoKeyInItsFirstHalfSecond()
    {
        CStoppedClock clock;
        CFailDlg dialog;
        const CQuietKeys quiet(dialog, &clock);
        dialog.open();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* ok = Child<QPushButton>(dialog, "ok1");
        for (const int key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Space})
            QTest::keyClick(ok, Qt::Key(key));
        clock.now = kBoxQuietMs - 1;
        QTest::keyClick(ok, Qt::Key_Return);
        QVERIFY(dialog.isVisible());
        clock.now = kBoxQuietMs;
        QKeyEvent repeated(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), /*autorep=*/true);
        QApplication::sendEvent(ok, &repeated);
        QVERIFY(dialog.isVisible());
        QTest::keyClick(ok, Qt::Key_Return);
        QVERIFY(!dialog.isVisible());

        dialog.open();  // shown again: quiet again
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::keyClick(ok, Qt::Key_Return);
        QVERIFY(dialog.isVisible());
        QTest::mouseClick(ok, Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
    }

    // The toolkit's own texts in Korean, whatever the system's language
    // (the test runs under LANG=C).
    void theToolkitSpeaksKorean()
    {
        UseKoreanToolkitTexts(*QCoreApplication::instance());
        QMessageBox box(QMessageBox::Question, QStringLiteral("Veltrad"), QStringLiteral("?"),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        QCOMPARE(box.button(QMessageBox::Yes)->text(), QStringLiteral("예(&Y)"));
        QCOMPARE(box.button(QMessageBox::No)->text(), QStringLiteral("아니요(&N)"));
        QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("취소"));
        QFileDialog files(nullptr, QString(), QString(), QStringLiteral("*"));
        files.setOption(QFileDialog::DontUseNativeDialog);
        QCOMPARE(files.labelText(QFileDialog::Accept), QStringLiteral("열기(&O)"));
        QCOMPARE(files.labelText(QFileDialog::Reject), QStringLiteral("취소"));
    }
};

QTEST_MAIN(NoticesTest)
#include "NoticesTest.moc"
