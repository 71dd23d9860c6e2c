// The Qt main window without a download worker: its form against the
// template and its wiring to the window logic (port list, messages, file
// dialog, keys and boxes that end it). The logic itself is tested without Qt.

#include "UiTestSupport.h"

#include "sim/Simulator.h"
#include "ui/DialogUnits.h"
#include "ui/VeltradDlg.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <system_error>
#include <thread>

using namespace veltrad;
using namespace veltrad::test;

namespace {

constexpr char kMissingDevice[] = "/nonexistent/veltrad-port";

struct TemplateControl {
    const char* name;
    const char* kind;
    const char* text;
    QRect dlu;
};

// Template 102, in template order.
const TemplateControl kMainTemplate[] = {
    {"openFile1004", "QPushButton", "파일 열기", {211, 23, 53, 31}},
    {"stop1016", "QPushButton", "중  지", {212, 76, 51, 19}},
    {"comboPort1007", "QComboBox", "", {15, 119, 50, 81}},
    {"download1015", "QPushButton", "다 운 로 드", {79, 105, 123, 33}},
    {"close1013", "QPushButton", "닫  기", {212, 105, 60, 33}},
    {"groupRow06", "QGroupBox", "파일정보", {7, 7, 265, 59}},
    {"labelRow07", "QLabel", "파 일 명", {12, 23, 32, 13}},
    {"labelRow08", "QLabel", "파일크기", {12, 42, 32, 13}},
    {"fileName1000", "QLineEdit", "", {47, 23, 153, 13}},
    {"fileSize1001", "QLineEdit", "", {47, 42, 153, 13}},
    {"groupRow11", "QGroupBox", "", {7, 67, 265, 33}},
    {"progress1006", "QProgressBar", "", {14, 78, 188, 16}},
    {"groupRow13", "QGroupBox", " << 프로그램 다운로드 절차 >> ", {7, 147, 265, 139}},
    {"groupRow14", "QGroupBox", " COM 포트 설정 ", {7, 105, 64, 33}},
    {"labelRow15", "QLabel", "① 단말기 전원을 OFF 한다.", {16, 162, 248, 8}},
    {"labelRow16", "QLabel", "② PC와 단말기간을 케이블로 연결한다.", {16, 175, 248, 8}},
    {"labelRow17", "QLabel", "③ 단말기의 [메뉴]또는[마감] 버튼을 누른 상태에서 단말기 전원을 켠다.",
     {16, 188, 248, 8}},
    {"labelRow18", "QLabel", "④ 단말기와 케이블이 연결된 PC의 COM 포트를  선택한다.", {16, 201, 248, 8}},
    {"labelRow19", "QLabel", "⑤ 다운로드 할 파일을 [파일열기]버튼을 눌러 OPEN 합니다.", {16, 214, 248, 8}},
    {"labelRow20", "QLabel", "⑥ [다운로드] 버튼을 누릅니다. 그러면 다운로드가 시작됩니다.",
     {16, 227, 248, 8}},
    {"labelRow21", "QLabel", "※ 주의사항 ※", {16, 246, 248, 8}},
    {"labelRow22", "QLabel",
     "① 다운로드중 [중지]버튼을 누르면 단말기가 정상적으로 동작하지 않을 수 있습니다.",
     {16, 259, 248, 8}},
    {"labelRow23", "QLabel", "② 다운로드가 중단되면 <<프로그램 다운로드 절차>>를 다시 시행한다.",
     {16, 271, 248, 8}},
    {"labelRow24", "QLabel", "Veltrad", {7, 293, 265, 8}},
};

QString ShownText(QWidget* w) {
    if (auto* button = qobject_cast<QPushButton*>(w))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* group = qobject_cast<QGroupBox*>(w))
        return group->title();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    return {};
}

}  // namespace

class MainDialogTest : public QObject {
    Q_OBJECT

private:
    CTestSettings m_settings;
    std::unique_ptr<sim::CSimulator> m_pty;  // an openable port; never started here
    QString m_ptyPath;

    // A "Ports" section: COM1, COM5, COM8 and COM50 on the pty, COM12 on a
    // device that does not exist. Other ports keep their built-in devices,
    // which the tests never open.
    QByteArray PortsSection() const {
        const QByteArray pty = QFile::encodeName(m_ptyPath);
        return "[Ports]\nCOM1=" + pty + "\nCOM5=" + pty + "\nCOM8=" + pty + "\nCOM50=" + pty +
               "\nCOM12=" + kMissingDevice + "\n";
    }

    // A dialog initialised as at start-up; its test-open message, if any,
    // is noted by `driver`.
    std::unique_ptr<CVeltradDlg> StartDialog(CModalDriver& driver) {
        auto dialog = std::make_unique<CVeltradDlg>(m_settings.Profile());
        driver.Ignore(dialog.get());
        dialog->ShowModal();
        return dialog;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_settings.IsValid());
        QApplication::setApplicationName(QStringLiteral("Veltrad"));
        std::string error;
        m_pty = sim::CSimulator::CreateOnPty({}, error);
        QVERIFY2(m_pty, error.c_str());
        m_ptyPath = QString::fromStdString(m_pty->DevicePath());
    }

    void init() { m_settings.WriteIni(PortsSection()); }

    void formFollowsTemplate() {
        CVeltradDlg dialog(m_settings.Profile());
        const DialogBaseUnits units = BaseUnitsFor(dialog.font());
        QVERIFY(units.cx > 0 && units.cy > 0);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("KV-9090 Veltrad"));
        QCOMPARE(dialog.size(), MapDialogSize({279, 308}, units));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QVERIFY(dialog.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(dialog.windowFlags() & Qt::WindowMaximizeButtonHint));

        const QList<QWidget*> children = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        QCOMPARE(children.size(), static_cast<qsizetype>(std::size(kMainTemplate)));
        for (const TemplateControl& c : kMainTemplate) {
            QWidget* w = Child<QWidget>(dialog, c.name);
            QCOMPARE(QString::fromLatin1(w->metaObject()->className()), QString::fromLatin1(c.kind));
            QCOMPARE(ShownText(w), QString::fromUtf8(c.text));
            const QRect px = MapDialogRect(c.dlu, units);
            if (qobject_cast<QComboBox*>(w)) {
                // The template's height is the one with the list dropped.
                QCOMPARE(w->geometry().topLeft(), px.topLeft());
                QCOMPARE(w->width(), px.width());
                QVERIFY(w->height() < px.height());
            } else {
                QCOMPARE(w->geometry(), px);
            }
        }
        // Only the file edits show a frame of their own; both are read-only
        // and outside the tab order.
        for (const char* name : {"fileName1000", "fileSize1001"}) {
            auto* edit = Child<QLineEdit>(dialog, name);
            QVERIFY(edit->isReadOnly());
            QCOMPARE(edit->focusPolicy(), Qt::ClickFocus);
        }
        QVERIFY(!Child<QProgressBar>(dialog, "progress1006")->isTextVisible());
        for (QPushButton* button : dialog.findChildren<QPushButton*>())
            QVERIFY2(!button->isDefault(), qPrintable(button->objectName()));
    }

    void tabOrderFollowsTemplate() {
        CVeltradDlg dialog(m_settings.Profile());
        const QStringList expected = {"openFile1004", "stop1016", "comboPort1007", "download1015",
                                      "close1013"};
        QWidget* w = Child<QWidget>(dialog, "openFile1004");
        QStringList order;
        for (int i = 0; i < expected.size(); ++i) {
            order << w->objectName();
            do {
                w = w->nextInFocusChain();
            } while (w == &dialog || !(w->focusPolicy() & Qt::TabFocus));
        }
        QCOMPARE(order, expected);
        QCOMPARE(w->objectName(), QStringLiteral("openFile1004"));  // and round again
    }

    // With the dialog font every static text fits its box, as drawn.
    void textsFitTheirBoxes() {
        CVeltradDlg dialog(m_settings.Profile());
        for (QLabel* label : dialog.findChildren<QLabel*>()) {
            const QFontMetrics fm(label->font());
            const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
            const QRect needed =
                fm.boundingRect(QRect(0, 0, label->width(), 10000), flags, label->text());
            QVERIFY2(needed.width() <= label->width() && needed.height() <= label->height(),
                     qPrintable(label->objectName() + QStringLiteral(" needs %1x%2, has %3x%4")
                                                          .arg(needed.width())
                                                          .arg(needed.height())
                                                          .arg(label->width())
                                                          .arg(label->height())));
        }
        for (QPushButton* button : dialog.findChildren<QPushButton*>())
            QVERIFY(QFontMetrics(button->font()).horizontalAdvance(button->text()) < button->width());
    }

    void portListHoldsFiftyPortsWithTheirDevices() {
        CModalDriver driver;
        auto dialog = StartDialog(driver);
        auto* combo = Child<QComboBox>(*dialog, "comboPort1007");
        QCOMPARE(combo->count(), 50);
        for (int i = 0; i < combo->count(); ++i)
            QCOMPARE(combo->itemText(i), QStringLiteral("COM%1").arg(i + 1));
        const auto tip = [&](int port) { return combo->itemData(port - 1, Qt::ToolTipRole).toString(); };
        QCOMPARE(tip(1), m_ptyPath);
        QCOMPARE(tip(2), QStringLiteral("/dev/ttyS1"));
        QCOMPARE(tip(12), QString::fromLatin1(kMissingDevice));
        QCOMPARE(tip(32), QStringLiteral("/dev/ttyS31"));
        QCOMPARE(tip(33), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(tip(49), QStringLiteral("/dev/ttyUSB16"));
        QCOMPARE(combo->toolTip(), m_ptyPath);  // the selected entry's device
    }

    void presentDevicesAreBoldWithWhatTheyAreAndRefreshedWhenTheListOpens() {
        SerialDeviceInfo uart;
        uart.device = "/dev/ttyS1";
        uart.driver = "serial8250";
        std::vector<SerialDeviceInfo> present{uart};
        CModalDriver driver;
        auto dialog = std::make_unique<CVeltradDlg>(m_settings.Profile());
        driver.Ignore(dialog.get());
        dialog->Logic().SetPortSource([&present] { return present; });
        dialog->ShowModal();
        auto* combo = Child<QComboBox>(*dialog, "comboPort1007");
        const auto tip = [&](int port) { return combo->itemData(port - 1, Qt::ToolTipRole).toString(); };
        const auto bold = [&](int port) { return combo->itemData(port - 1, Qt::FontRole).value<QFont>().bold(); };
        QCOMPARE(tip(2), QStringLiteral("/dev/ttyS1: serial8250"));
        QVERIFY(bold(2));
        QVERIFY(!bold(3));
        QCOMPARE(combo->itemText(1), QStringLiteral("COM2"));
        const int width = combo->width();

        present[0].device = "/dev/ttyS2";
        combo->showPopup();
        QVERIFY(!bold(2));
        QVERIFY(bold(3));
        QCOMPARE(tip(2), QStringLiteral("/dev/ttyS1"));
        QCOMPARE(tip(3), QStringLiteral("/dev/ttyS2: serial8250"));
        QCOMPARE(combo->count(), 50);
        QCOMPARE(combo->itemText(2), QStringLiteral("COM3"));
        QCOMPARE(combo->currentIndex(), 0);
        QCOMPARE(combo->width(), width);
        combo->hidePopup();
        QCOMPARE(driver.Names(), QStringList{});  // no test-open, no message
    }

    void testOpenOfABusyPortFails() {
        CCommThread holder;
        QVERIFY(holder.OpenDevice(m_pty->DevicePath(), kDownloadBaudRate, kDownloadDataBits,
                                  kNoParity, kOneStopBit));
        CModalDriver driver;
        auto dialog = StartDialog(driver);
        QCOMPARE(driver.Names(), QStringList{"QMessageBox"});
        QCOMPARE(driver.Seen().front().text, QStringLiteral("Port open fail : COM1"));
        QVERIFY(driver.Seen().front().informative.contains(m_ptyPath));
        holder.ClosePort();
    }

    void changingTheSelectionTestsTheNewPort_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("port");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("down to COM12, missing")
            << 10 << int(Qt::Key_Down) << 12 << QStringList{"Port open fail : COM12"};
        QTest::newRow("home to COM1") << 30 << int(Qt::Key_Home) << 1 << QStringList{};
    }
    void changingTheSelectionTestsTheNewPort() {
        QFETCH(int, from);
        QFETCH(int, key);
        QFETCH(int, port);
        QFETCH(QStringList, messages);
        m_settings.WriteIni(PortsSection() + "[ComPort]\nPort Num=" + QByteArray::number(from) + "\n");
        CModalDriver driver;
        auto dialog = StartDialog(driver);
        driver.Clear();  // whatever the start-up reported

        QTest::keyClick(Child<QComboBox>(*dialog, "comboPort1007"), Qt::Key(key));
        QCOMPARE(int(dialog->Logic().PortNumber()), port);
        QStringList texts;
        for (const SeenWindow& w : driver.Seen())
            texts << w.text;
        QCOMPARE(texts, messages);
        QVERIFY(!dialog->Logic().Session().Comm().IsConnected());
        QCOMPARE(Child<QComboBox>(*dialog, "comboPort1007")->toolTip(),
                 Child<QComboBox>(*dialog, "comboPort1007")->itemData(port - 1, Qt::ToolTipRole).toString());
    }

    void choosingAFileShowsNameAndSize_data() {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("shown");
        QTest::newRow("a megabyte and some") << qint64(1048579) << QStringLiteral("1048579 Byte");
    }
    void choosingAFileShowsNameAndSize() {
        QFETCH(qint64, size);
        QFETCH(QString, shown);
        CModalDriver driver;
        auto dialog = StartDialog(driver);
        const QString file = WriteImageFile(m_settings.Folder(), QStringLiteral("파일 %1.bin").arg(size),
                                            size, true);
        QVERIFY(!file.isEmpty());
        driver.SetHandler(ChooseFile(file));
        QTest::mouseClick(Child<QPushButton>(*dialog, "openFile1004"), Qt::LeftButton);
        QCOMPARE(driver.Names(), QStringList{"QFileDialog"});
        QCOMPARE(Child<QLineEdit>(*dialog, "fileName1000")->text(), QFileInfo(file).fileName());
        QCOMPARE(Child<QLineEdit>(*dialog, "fileSize1001")->text(), shown);
    }

    void anUnreadableFileIsReportedAndShowsNoSize() {
        CModalDriver driver;
        auto dialog = StartDialog(driver);
        const QString good = WriteImageFile(m_settings.Folder(), QStringLiteral("good.bin"), 300, true);
        driver.SetHandler(ChooseFile(good));
        QTest::mouseClick(Child<QPushButton>(*dialog, "openFile1004"), Qt::LeftButton);

        // Frame addresses cannot reach past 4 GiB: such a file cannot be sent.
        const QString huge = m_settings.Folder() + QStringLiteral("/huge.bin");
        {
            QFile f(huge);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize(qint64(1) << 32));  // sparse
        }
        driver.Clear();
        driver.SetHandler(ChooseFile(huge));
        QTest::mouseClick(Child<QPushButton>(*dialog, "openFile1004"), Qt::LeftButton);
        QFile::remove(huge);
        QCOMPARE(driver.Names(), (QStringList{"QFileDialog", "QMessageBox"}));
        const SeenWindow& box = driver.Seen().back();
        QCOMPARE(box.title, QStringLiteral("Veltrad"));
        QVERIFY2(box.text.contains(huge), qPrintable(box.text));
        QVERIFY2(box.informative.contains(QStringLiteral("4 GiB")), qPrintable(box.informative));
        QCOMPARE(Child<QLineEdit>(*dialog, "fileName1000")->text(), QStringLiteral("huge.bin"));
        QCOMPARE(Child<QLineEdit>(*dialog, "fileSize1001")->text(), QString());
        QVERIFY(Child<QPushButton>(*dialog, "download1015")->isEnabled());
    }

    // Ending the window: only the close button stores the port index, and
    // every way keeps the rest of the file as it was.
    void onlyTheCloseButtonSavesThePort_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("saved");
        QTest::newRow("close button") << QStringLiteral("button") << true;
        QTest::newRow("enter on the close button") << QStringLiteral("enterbutton") << true;
        QTest::newRow("escape") << QStringLiteral("escape") << false;
        QTest::newRow("close box") << QStringLiteral("closebox") << false;
        QTest::newRow("enter in the port list") << QStringLiteral("enter") << false;
        QTest::newRow("keypad enter in the port list") << QStringLiteral("keypad") << false;
    }
    void onlyTheCloseButtonSavesThePort() {
        QFETCH(QString, how);
        QFETCH(bool, saved);
        const QByteArray before = "; kept as written\n[Font]\nAddress=99\n" + PortsSection() +
                                  "[ComPort]\nPort Num=0\n[Other]\nKey With Blanks = x\n";
        m_settings.WriteIni(before);
        CModalDriver driver;
        auto dialog = StartDialog(driver);
        auto* combo = Child<QComboBox>(*dialog, "comboPort1007");
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down);  // COM2
        QCOMPARE(combo->currentIndex(), 1);
        driver.Clear();

        if (how == "button")
            QTest::mouseClick(Child<QPushButton>(*dialog, "close1013"), Qt::LeftButton);
        else if (how == "escape")
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
        else if (how == "closebox")
            dialog->close();
        else if (how == "enter")
            QTest::keyClick(combo, Qt::Key_Return);
        else if (how == "enterbutton")
            QTest::keyClick(Child<QPushButton>(*dialog, "close1013"), Qt::Key_Return);
        else
            QTest::keyClick(combo, Qt::Key_Enter, Qt::KeypadModifier);

        QVERIFY(!dialog->isVisible());
        QCOMPARE(driver.Count(), 0);
        QByteArray expected = before;
        if (saved)
            expected.replace("Port Num=0", "Port Num=1");
        QCOMPARE(m_settings.ReadIni(), expected);
    }

    void enableControlsSparesStopAndClose() {
        CVeltradDlg dialog(m_settings.Profile());
        dialog.show();
        const auto enable = [&](bool on) {
            // As a run's start and end do it.
            static_cast<IWindowView&>(dialog).EnableControls(on);
        };
        enable(false);
        for (const char* name : {"comboPort1007", "openFile1004", "download1015"})
            QVERIFY2(!Child<QWidget>(dialog, name)->isEnabled(), name);
        for (const char* name : {"stop1016", "close1013"})
            QVERIFY2(Child<QWidget>(dialog, name)->isEnabled(), name);
        enable(true);
        for (const char* name : {"comboPort1007", "openFile1004", "download1015"})
            QVERIFY2(Child<QWidget>(dialog, name)->isEnabled(), name);
    }

    void contextMenuOffersTheAboutBox() {
        CModalDriver driver;
        auto dialog = StartDialog(driver);
        QStringList entries;
        driver.SetHandler([&](QWidget* window) {
            if (auto* menu = qobject_cast<QMenu*>(window)) {
                for (QAction* action : menu->actions())
                    entries << action->text();
                // Chosen with Enter, queued: the About box it opens is
                // modal, and the driver must be free to find it.
                menu->setActiveAction(menu->actions().front());
                QMetaObject::invokeMethod(
                    menu, [menu] { QTest::keyClick(menu, Qt::Key_Return); }, Qt::QueuedConnection);
                return;
            }
            CModalDriver::PressEscape(window);
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 20),
                                dialog->mapToGlobal(QPoint(20, 20)));
        QApplication::sendEvent(dialog.get(), &event);
        QCOMPARE(entries, QStringList{QString::fromUtf8(kAboutMenuText)});
        QTRY_COMPARE(driver.Names(), (QStringList{"QMenu", "Dialog100"}));
    }

    void windowIconIsTheApplicationIcon() {
        CModalDriver driver;
        auto dialog = StartDialog(driver);
        const QList<QSize> sizes = dialog->windowIcon().availableSizes();
        QVERIFY(sizes.contains(QSize(32, 32)));
        QVERIFY(!dialog->windowIcon().pixmap(32, 32).isNull());
    }

    void screenshot() {
        CModalDriver driver;
        auto dialog = StartDialog(driver);
        SaveScreenshot(dialog.get(), QStringLiteral("main-window"));
    }
};

QTEST_MAIN(MainDialogTest)
#include "MainDialogTest.moc"
