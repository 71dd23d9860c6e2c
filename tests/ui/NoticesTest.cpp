// The About box and the four notices: readable forms with OK as their
// default button, and every way of closing one.

#include "UiTestSupport.h"

#include "ui/NoticeDialogs.h"

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
};

QTEST_MAIN(NoticesTest)
#include "NoticesTest.moc"
