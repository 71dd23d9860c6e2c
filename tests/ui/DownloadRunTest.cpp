// Downloads from the Qt main window to the simulated terminal over a pty:
// one whole run and ending the window during a run. Every outcome is the
// window logic's (WindowLogicTest); which dialog shows each notice is
// MainDialogTest's.

#include "UiTestSupport.h"

#include "sim/Simulator.h"
#include "ui/VeltradDlg.h"

#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace veltrad;
using namespace veltrad::test;

Q_DECLARE_METATYPE(veltrad::RunOutcome)

namespace {

// How many of the three inputs a run takes away are enabled.
int EnabledInputs(QWidget& dialog)
{
    int enabled = 0;
    for (const char* name : {"comboPort1007", "openFile1004", "download1015"})
        enabled += Child<QWidget>(dialog, name)->isEnabled() ? 1 : 0;
    return enabled;
}

}  // namespace

class DownloadRunTest : public QObject {
    Q_OBJECT

private:
    CTestSettings m_settings;

    // The simulated terminal on COM3, which is the saved port, and on COM4.
    std::unique_ptr<sim::CSimulator> MakeTerminal(const sim::SimOptions& options)
    {
        std::string error;
        auto terminal = sim::CSimulator::CreateOnPty(options, error);
        if (!terminal)
            qFatal("no pty: %s", error.c_str());
        if (!terminal->Start())
            qFatal("the simulator did not start");
        const QByteArray device = QFile::encodeName(QString::fromStdString(terminal->DevicePath()));
        m_settings.WriteIni("[Ports]\nCOM3=" + device + "\nCOM4=" + device + "\n[ComPort]\nPort Num=2\n");
        return terminal;
    }

    // A window as at start-up with `file` chosen through the file dialog.
    std::unique_ptr<CVeltradDlg> OpenWindow(CModalDriver& driver, const QString& file)
    {
        auto dialog = std::make_unique<CVeltradDlg>(m_settings.Profile());
        driver.Ignore(dialog.get());
        dialog->ShowModal();
        driver.SetHandler(ChooseFile(file));
        QTest::mouseClick(Child<QPushButton>(*dialog, "openFile1004"), Qt::LeftButton);
        driver.SetHandler({});
        if (driver.Names() != QStringList{"QFileDialog"})
            qFatal("start-up showed %s", qPrintable(driver.Names().join(", ")));
        driver.Clear();
        return dialog;
    }

    QString ImageFile(int frames)
    {
        return WriteImageFile(m_settings.Folder(), QStringLiteral("image.bin"), qint64(frames) * 128);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_settings.IsValid());
        QApplication::setApplicationName(QStringLiteral("Veltrad"));
        qRegisterMetaType<veltrad::RunOutcome>();
    }

    // A run started with Enter disables the inputs, hands the focus to the
    // stop button and moves the bar; Enter pressed on (held, then again and
    // again, as the hand does) stops nothing and ends nothing. At the run's
    // end the notice shows once the window has its controls back, and the
    // image reached the terminal whole.
    void aWholeDownloadReachesTheTerminal()
    {
        sim::SimOptions paced;
        paced.replyDelay = std::chrono::milliseconds(2);  // the presses come long before the end
        auto terminal = MakeTerminal(paced);
        CModalDriver driver;
        const QString file = ImageFile(200);
        auto dialog = OpenWindow(driver, file);
        auto* progress = Child<QProgressBar>(*dialog, "progress1006");
        int highest = 0;
        connect(progress, &QProgressBar::valueChanged, this, [&](int v) { highest = qMax(highest, v); });
        bool enabledWhenShown = false;
        driver.SetHandler([&](QWidget* window) {
            enabledWhenShown = EnabledInputs(*dialog) == 3;
            QTest::mouseClick(Child<QPushButton>(window, "ok1"), Qt::LeftButton);
        });
        QSignalSpy ended(dialog.get(), &CVeltradDlg::RunEnded);
        auto* download = Child<QPushButton>(*dialog, "download1015");
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        download->setFocus();
        QTest::keyClick(download, Qt::Key_Return);
        QCOMPARE(EnabledInputs(*dialog), 0);
        QCOMPARE(QApplication::focusWidget(), Child<QWidget>(*dialog, "stop1016"));
        QKeyEvent held(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), /*autorep=*/true);
        QApplication::sendEvent(QApplication::focusWidget(), &held);
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(dialog->isVisible());
        QVERIFY(dialog->Logic().Run().IsRunning());
        QCOMPARE(EnabledInputs(*dialog), 0);
        QVERIFY(Child<QWidget>(*dialog, "close1013")->isEnabled());
        QCOMPARE(progress->maximum(), 200);

        QTRY_COMPARE_WITH_TIMEOUT(driver.Names(), QStringList{"Dialog130"}, kLongWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, kLongWaitMs);
        QTRY_VERIFY(QApplication::activeModalWidget() == dialog.get());  // no notice left
        QCOMPARE(ended.front().at(1).value<RunOutcome>(), RunOutcome::Completed);
        QVERIFY(enabledWhenShown);
        QCOMPARE(highest, 200);
        QCOMPARE(progress->value(), 0);
        QVERIFY(!dialog->Logic().Run().Comm().IsConnected());

        QVERIFY(terminal->WaitForEnd(std::chrono::milliseconds(kLongWaitMs)));
        QFile original(file);
        QVERIFY(original.open(QIODevice::ReadOnly));
        const sim::ReceivedImage received = terminal->Image();
        QCOMPARE(received.baseAddress, 0u);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(received.bytes.data()), qsizetype(received.bytes.size())),
                 original.readAll());
    }

    // However the window ends during a run, the port is closed and the worker
    // joined by the time it has gone; only the close button saves the port.
    // A termination signal is the application's (tests/app).
    void endingTheWindowDuringARun_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<bool>("windowStays");
        QTest::newRow("close button") << "button" << true << false;
        QTest::newRow("session ending") << "session" << false << true;
        QTest::newRow("destroyed") << "destroy" << false << false;
    }
    void endingTheWindowDuringARun()
    {
        QFETCH(QString, how);
        QFETCH(bool, saved);
        QFETCH(bool, windowStays);
        sim::SimOptions slow;
        slow.replyDelay = std::chrono::milliseconds(5);
        auto terminal = MakeTerminal(slow);
        const QByteArray iniBefore = m_settings.ReadIni();
        CModalDriver driver;
        auto dialog = OpenWindow(driver, ImageFile(2000));
        NameRunWorkers(dialog->Logic().Run());
        // COM4, on the same terminal: the run's port differs from the saved one.
        auto* combo = Child<QComboBox>(*dialog, "comboPort1007");
        combo->setCurrentIndex(3);
        emit combo->activated(3);
        QCOMPARE(driver.Count(), 0);
        QCOMPARE(WorkerThreadCount(), 0);
        QTest::mouseClick(Child<QPushButton>(*dialog, "download1015"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Child<QProgressBar>(*dialog, "progress1006")->value() >= 2, kLongWaitMs);
        QCOMPARE(WorkerThreadCount(), 1);

        if (how == "button")
            QTest::mouseClick(Child<QPushButton>(*dialog, "close1013"), Qt::LeftButton);
        else if (how == "session")
            dialog->OnSessionEnding();
        else
            dialog.reset();

        // Joined: no thread of the run is left.
        QCOMPARE(WorkerThreadCount(), 0);
        if (dialog) {
            QVERIFY(!dialog->Logic().Run().IsRunning());
            QVERIFY(!dialog->Logic().Run().Comm().IsConnected());
            QCOMPARE(dialog->isVisible(), windowStays);
            if (windowStays)
                QCOMPARE(EnabledInputs(*dialog), 3);
        }
        // Released: the device opens again.
        QVERIFY(PortOpens(terminal->DevicePath()));
        QByteArray expected = iniBefore;
        if (saved)
            expected.replace("Port Num=2", "Port Num=3");
        QCOMPARE(m_settings.ReadIni(), expected);
        // Nothing of the ended run shows up afterwards.
        QTest::qWait(0);
        QCOMPARE(driver.Count(), 0);
    }
};

QTEST_MAIN(DownloadRunTest)
#include "DownloadRunTest.moc"
