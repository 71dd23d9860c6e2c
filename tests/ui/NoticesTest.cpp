// The About box and the four notices: their forms against the templates,
// and every way of closing them.

#include "UiTestSupport.h"

#include "ui/DialogUnits.h"
#include "ui/NoticeDialogs.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <memory>

using namespace veltrad;
using namespace veltrad::test;

namespace {

struct Control {
    QString name;
    QString kind;
    QString text;
    QRect dlu;
};

struct Template {
    std::function<std::unique_ptr<QDialog>()> make;
    QString objectName;
    QString caption;
    QSize dlu;
    int points;
    QList<Control> controls;
};

const QString kHeading = QStringLiteral("단말기와의 통신오류 발생\n\n아래의 항목들을 점검 후 다운로드를 재실행 바랍니다.");

QList<Template> Templates() {
    return {
        {[] { return std::make_unique<CAboutDlg>(); }, "Dialog100", "About Veltrad", {235, 67}, 9,
         {{"iconRow01", "QLabel", "", {11, 22, 20, 20}},
          {"labelRow02", "QLabel", "Veltrad Ver 2.0", {40, 15, 119, 8}},
          {"labelRow03", "QLabel", "Veltrad", {40, 29, 149, 8}},
          {"ok1", "QPushButton", "O  K", {178, 7, 50, 14}},
          {"labelRow05", "QLabel", "KV-9090 프로그램 다운로드 도구", {40, 43, 149, 8}}}},
        {[] { return std::make_unique<CCompleteDlg>(); }, "Dialog130", "다운로드 완료", {126, 74}, 12,
         {{"ok1", "QPushButton", "확  인", {38, 48, 50, 19}},
          {"labelRow02", "QLabel", "프로그램 다운로드 완료", {10, 11, 109, 30}}}},
        {[] { return std::make_unique<CCommErrorDlg>(); }, "Dialog132", "통신 오류", {215, 163}, 10,
         {{"ok1", "QPushButton", "확  인", {79, 136, 50, 20}},
          {"labelRow02", "QLabel", kHeading, {7, 10, 201, 27}},
          {"labelRow03", "QLabel",
           "1. 단말기가 다운로드 모드인지 확인.\n\n2. 단말기가 정상적으로 동작하는지 확인.\n\n"
           "3. 단말기와 PC간에 케이블 연결이 정상적인지 확인.\n\n4. COM 포트 설정이 맞는지 확인.\n\n"
           "5. PC의 COM 포트가 정상적으로 동작하는지 확인.",
           {14, 48, 188, 75}}}},
        {[] { return std::make_unique<CCommErrorRetryDlg>(); }, "Dialog133",
         "Communication error with terminal", {183, 113}, 10,
         {{"ok1", "QPushButton", "O K", {66, 87, 50, 19}},
          {"labelRow02", "QLabel", kHeading, {10, 10, 166, 27}},
          {"labelRow03", "QLabel",
           "1. 단말기가 다운로드 모드인지 확인.\n\n2. 단말기와 PC간에 케이블 연결이 정상적인지 확인.",
           {13, 48, 159, 27}}}},
        {[] { return std::make_unique<CFailDlg>(); }, "Dialog134", "다운로드 실패", {163, 78}, 10,
         {{"ok1", "QPushButton", "확  인", {57, 51, 50, 20}},
          {"labelRow02", "QLabel", "프로그램 다운로드 실패\n\n다운로드를 재실행 바랍니다.", {7, 11, 149, 27}}}},
    };
}

}  // namespace

class NoticesTest : public QObject {
    Q_OBJECT

private slots:
    void formsFollowTheirTemplates() {
        for (const Template& t : Templates()) {
            auto dialog = t.make();
            QCOMPARE(dialog->objectName(), t.objectName);
            QCOMPARE(dialog->windowTitle(), t.caption);
            QCOMPARE(dialog->font().pointSize(), t.points);
            const DialogBaseUnits units = BaseUnitsFor(dialog->font());
            QCOMPARE(dialog->size(), MapDialogSize(t.dlu, units));
            QVERIFY(!(dialog->windowFlags() & Qt::WindowMinimizeButtonHint));
            QVERIFY(dialog->windowFlags() & Qt::WindowCloseButtonHint);

            const QList<QWidget*> children = dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
            QCOMPARE(children.size(), t.controls.size());
            for (int i = 0; i < t.controls.size(); ++i) {
                const Control& c = t.controls[i];
                // In template order.
                QWidget* w = children[i];
                QCOMPARE(w->objectName(), c.name);
                QCOMPARE(QString::fromLatin1(w->metaObject()->className()), c.kind);
                if (auto* button = qobject_cast<QPushButton*>(w)) {
                    QCOMPARE(button->text(), c.text);
                    QVERIFY(button->isDefault());
                    QCOMPARE(w->geometry(), MapDialogRect(c.dlu, units));
                } else if (auto* label = qobject_cast<QLabel*>(w)) {
                    QCOMPARE(label->text(), c.text);
                    if (c.text.isEmpty()) {  // the icon, at its own size
                        QCOMPARE(w->geometry(),
                                 QRect(MapDialogRect(c.dlu, units).topLeft(), QSize(32, 32)));
                        QVERIFY(!label->pixmap().isNull());
                        continue;
                    }
                    QCOMPARE(w->geometry(), MapDialogRect(c.dlu, units));
                    const QRect needed = QFontMetrics(label->font())
                                             .boundingRect(QRect(0, 0, label->width(), 10000),
                                                           int(label->alignment()) | Qt::TextWordWrap,
                                                           label->text());
                    QVERIFY2(needed.height() <= label->height() && needed.width() <= label->width(),
                             qPrintable(t.objectName + "/" + c.name + QString(" %1x%2 in %3x%4").arg(needed.width()).arg(needed.height()).arg(label->width()).arg(label->height())));
                }
            }
        }
    }

    // OK, Enter, Escape and the close box all end a notice, and the caller goes on.
    void everyWayOfClosingEndsIt_data() {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("how");
        const QList<Template> templates = Templates();
        for (int i = 0; i < templates.size(); ++i) {
            for (const char* how : {"ok", "enter", "escape", "closebox"})
                QTest::addRow("%s %s", qPrintable(templates[i].objectName), how) << i << QString::fromLatin1(how);
        }
    }
    void everyWayOfClosingEndsIt() {
        QFETCH(int, which);
        QFETCH(QString, how);
        auto dialog = Templates()[which].make();
        CModalDriver driver([how](QWidget* window) {
            if (how == "ok")
                QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("ok1")), Qt::LeftButton);
            else if (how == "enter")
                QTest::keyClick(window, Qt::Key_Return);
            else if (how == "escape")
                QTest::keyClick(window, Qt::Key_Escape);
            else
                window->close();
        });
        dialog->exec();
        QCOMPARE(driver.Names(), QStringList{Templates()[which].objectName});
        QVERIFY(!dialog->isVisible());
    }

    void screenshots() {
        for (const Template& t : Templates()) {
            auto dialog = t.make();
            dialog->show();
            SaveScreenshot(dialog.get(), t.objectName);
        }
    }
};

QTEST_MAIN(NoticesTest)
#include "NoticesTest.moc"
