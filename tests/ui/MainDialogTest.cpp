// The Qt main window without a download worker: what its form gives an
// operator, and its wiring to the window logic (port list, messages, file
// dialog, keys that end it, the About entry). The logic is tested without Qt.

#include "UiTestSupport.h"

#include "ui/DialogUnits.h"
#include "ui/VeltradDlg.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

using namespace veltrad;
using namespace veltrad::test;

class MainDialogTest : public QObject {
    Q_OBJECT

private:
    CTestSettings m_settings;
    std::unique_ptr<sim::CSimulator> m_pty;  // an openable port; never started here
    QString m_ptyPath;

    // COM1, COM2 and COM11 on the pty, COM12 on a device that does not exist.
    QByteArray PortsSection() const
    {
        const QByteArray pty = QFile::encodeName(m_ptyPath);
        return "[Ports]\nCOM1=" + pty + "\nCOM2=" + pty + "\nCOM11=" + pty + "\nCOM12=/nonexistent/veltrad-port\n";
    }

    std::unique_ptr<CVeltradDlg> StartDialog(CModalDriver& driver)
    {
        auto dialog = std::make_unique<CVeltradDlg>(m_settings.Profile());
        driver.Ignore(dialog.get());
        dialog->ShowModal();
        return dialog;
    }

    void ChooseThrough(CModalDriver& driver, CVeltradDlg& dialog, const QString& file)
    {
        driver.Clear();
        driver.SetHandler(ChooseFile(file));
        QTest::mouseClick(Child<QPushButton>(dialog, "openFile1004"), Qt::LeftButton);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_settings.IsValid());
        QApplication::setApplicationName(QStringLiteral("Veltrad"));
        std::string error;
        m_pty = sim::CSimulator::CreateOnPty({}, error);
        QVERIFY2(m_pty, error.c_str());
        m_ptyPath = QString::fromStdString(m_pty->DevicePath());
    }

    void init() { m_settings.WriteIni(PortsSection()); }

    // Fixed size from the template, every control inside the window, none
    // over another, every text readable in its box, no default button.
    void formIsUsable()
    {
        CVeltradDlg dialog(m_settings.Profile());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("KV-9090 Veltrad"));
        QCOMPARE(dialog.size(), MapDialogSize({279, 308}, BaseUnitsFor(dialog.font())));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QVERIFY(!(dialog.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(!dialog.windowIcon().pixmap(32, 32).isNull());

        QCOMPARE(dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 24);
        CheckFormIsReadable(dialog);
        for (QPushButton* button : dialog.findChildren<QPushButton*>())
            QVERIFY2(!button->isDefault(), qPrintable(button->objectName()));
        for (const char* name : {"fileName1000", "fileSize1001"})
            QVERIFY(Child<QLineEdit>(dialog, name)->isReadOnly());
    }

    // Tab goes round the five controls an operator uses, in template order.
    void tabOrder()
    {
        CVeltradDlg dialog(m_settings.Profile());
        const QStringList expected = {"openFile1004", "stop1016",  "comboPort1007",
                                      "download1015", "close1013", "openFile1004"};
        QWidget* w = Child<QWidget>(dialog, "openFile1004");
        QStringList order{w->objectName()};
        while (order.size() < expected.size()) {
            do {
                w = w->nextInFocusChain();
            } while (w == &dialog || !(w->focusPolicy() & Qt::TabFocus));
            order << w->objectName();
        }
        QCOMPARE(order, expected);
    }

    // The logic's entries become the list: names, devices as tooltips,
    // present ones bold, refreshed in place when the list drops down.
    void portListShowsTheLogicsEntries()
    {
        SerialDeviceInfo uart;
        uart.device = "/dev/ttyS3";
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
        QCOMPARE(combo->count(), 50);
        QCOMPARE(combo->itemText(49), QStringLiteral("COM50"));
        QCOMPARE(tip(1), m_ptyPath);
        QCOMPARE(combo->toolTip(), m_ptyPath);  // the selected entry's device
        QCOMPARE(tip(4), QStringLiteral("/dev/ttyS3: serial8250"));
        QVERIFY(bold(4) && !bold(5));
        const int width = combo->width();

        present[0].device = "/dev/ttyS4";
        combo->showPopup();
        QVERIFY(!bold(4) && bold(5));
        QCOMPARE(tip(4), QStringLiteral("/dev/ttyS3"));
        QCOMPARE(combo->count(), 50);
        QCOMPARE(combo->currentIndex(), 0);
        QCOMPARE(combo->width(), width);
        combo->hidePopup();
        QCOMPARE(driver.Names(), QStringList{});  // no test-open failed, no message
    }

    // A key in the list selects and test-opens the next port; its failure
    // shows as a message box naming the device.
    void changingTheSelectionTestsTheNewPort()
    {
        m_settings.WriteIni(PortsSection() + "[ComPort]\nPort Num=10\n");
        CModalDriver driver;
        auto dialog = StartDialog(driver);
        QCOMPARE(driver.Count(), 0);
        auto* combo = Child<QComboBox>(*dialog, "comboPort1007");
        QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(int(dialog->Logic().PortNumber()), 12);
        QCOMPARE(driver.Names(), QStringList{"QMessageBox"});
        QCOMPARE(driver.Seen().front().title, QStringLiteral("Veltrad"));
        QCOMPARE(driver.Seen().front().text, QStringLiteral("Port open fail : COM12"));
        QVERIFY(driver.Seen().front().informative.contains(QStringLiteral("/nonexistent/veltrad-port")));
        QCOMPARE(combo->toolTip(), QStringLiteral("/nonexistent/veltrad-port"));

        driver.Clear();
        QTest::keyClick(combo, Qt::Key_Home);
        QCOMPARE(int(dialog->Logic().PortNumber()), 1);
        QCOMPARE(driver.Count(), 0);
        QVERIFY(!dialog->Logic().Run().Comm().IsConnected());
    }

    // The file dialog's choice shows its name and size; a file that cannot
    // be sent is reported and shows no size.
    void choosingAFile()
    {
        CModalDriver driver;
        auto dialog = StartDialog(driver);
        const QString good = WriteImageFile(m_settings.Folder(), QStringLiteral("파일 1.bin"), 1048579);
        ChooseThrough(driver, *dialog, good);
        QCOMPARE(driver.Names(), QStringList{"QFileDialog"});
        QCOMPARE(Child<QLineEdit>(*dialog, "fileName1000")->text(), QStringLiteral("파일 1.bin"));
        QCOMPARE(Child<QLineEdit>(*dialog, "fileSize1001")->text(), QStringLiteral("1048579 Byte"));

        const QString huge = m_settings.Folder() + QStringLiteral("/huge.bin");
        {
            QFile f(huge);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize((qint64(1) << 32) + 1));  // sparse, one byte past 4 GiB
        }
        ChooseThrough(driver, *dialog, huge);
        QFile::remove(huge);
        QCOMPARE(driver.Names(), (QStringList{"QFileDialog", "QMessageBox"}));
        QCOMPARE(driver.Seen().back().text, QStringLiteral("파일을 읽을 수 없습니다."));
        QVERIFY(driver.Seen().back().informative.startsWith(huge + QStringLiteral(": 4 GiB")));
        QCOMPARE(Child<QLineEdit>(*dialog, "fileName1000")->text(), QStringLiteral("huge.bin"));
        QCOMPARE(Child<QLineEdit>(*dialog, "fileSize1001")->text(), QString());
    }

    // Each way of ending the window reaches the logic as what it is: only
    // the close button stores the port index.
    void onlyTheCloseButtonSavesThePort_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("saved");
        QTest::newRow("close button") << QStringLiteral("button") << true;
        QTest::newRow("enter on the close button") << QStringLiteral("enterbutton") << true;
        QTest::newRow("escape") << QStringLiteral("escape") << false;
        QTest::newRow("close box") << QStringLiteral("closebox") << false;
        QTest::newRow("enter in the port list") << QStringLiteral("enter") << false;
        QTest::newRow("keypad enter in the port list") << QStringLiteral("keypad") << false;
    }
    void onlyTheCloseButtonSavesThePort()
    {
        QFETCH(QString, how);
        QFETCH(bool, saved);
        const QByteArray before = PortsSection() + "[ComPort]\nPort Num=0\n";
        m_settings.WriteIni(before);
        CModalDriver driver;
        auto dialog = StartDialog(driver);
        auto* combo = Child<QComboBox>(*dialog, "comboPort1007");
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down);  // COM2
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
        QCOMPARE(m_settings.ReadIni(), saved ? PortsSection() + "[ComPort]\nPort Num=1\n" : before);
    }

    // Each notice of the logic comes up as its own dialog.
    void eachNoticeShowsItsDialog()
    {
        CModalDriver driver;
        auto dialog = StartDialog(driver);
        for (const Notice notice : {Notice::Complete, Notice::CommError, Notice::CommErrorRetry, Notice::Fail})
            static_cast<IWindowView&>(*dialog).ShowNotice(notice);
        QCOMPARE(driver.Names(), (QStringList{"Dialog130", "Dialog132", "Dialog133", "Dialog134"}));
    }

    void contextMenuOffersTheAboutBox()
    {
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
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 20), dialog->mapToGlobal(QPoint(20, 20)));
        QApplication::sendEvent(dialog.get(), &event);
        QCOMPARE(entries, QStringList{QString::fromUtf8(kAboutMenuText)});
        QTRY_COMPARE(driver.Names(), (QStringList{"QMenu", "Dialog100"}));
    }
};

QTEST_MAIN(MainDialogTest)
#include "MainDialogTest.moc"
