// Downloads from the Qt main window to the simulated terminal over a pty:
// one whole run, each notice's dialog, ending the window during a run.

#include "UiTestSupport.h"

#include "sim/Simulator.h"
#include "ui/VeltradDlg.h"

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace veltrad;
using namespace veltrad::test;

Q_DECLARE_METATYPE(veltrad::RunOutcome)

namespace {

bool InputsEnabled(QWidget& dialog) {
    return Child<QWidget>(dialog, "comboPort1007")->isEnabled() &&
           Child<QWidget>(dialog, "openFile1004")->isEnabled() &&
           Child<QWidget>(dialog, "download1015")->isEnabled();
}

bool InputsDisabled(QWidget& dialog) {
    return !Child<QWidget>(dialog, "comboPort1007")->isEnabled() &&
           !Child<QWidget>(dialog, "openFile1004")->isEnabled() &&
           !Child<QWidget>(dialog, "download1015")->isEnabled();
}

}  // namespace

class DownloadRunTest : public QObject {
    Q_OBJECT

private:
    CTestSettings m_settings;

    // The simulated terminal on COM3, which is the saved port, and on COM4.
    std::unique_ptr<sim::CSimulator> MakeTerminal(const sim::SimOptions& options, bool start) {
        std::string error;
        auto terminal = sim::CSimulator::CreateOnPty(options, error);
        if (!terminal)
            qFatal("no pty: %s", error.c_str());
        if (start && !terminal->Start())
            qFatal("the simulator did not start");
        const QByteArray device = QFile::encodeName(QString::fromStdString(terminal->DevicePath()));
        m_settings.WriteIni("[Ports]\nCOM3=" + device + "\nCOM4=" + device + "\n[ComPort]\nPort Num=2\n");
        return terminal;
    }

    // A window as at start-up with `file` chosen through the file dialog.
    std::unique_ptr<CVeltradDlg> OpenWindow(CModalDriver& driver, const QString& file, IClock* clock = nullptr) {
        auto dialog = std::make_unique<CVeltradDlg>(m_settings.Profile(), nullptr, clock);
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

    QString ImageFile(int frames) {
        return WriteImageFile(m_settings.Folder(), QStringLiteral("image.bin"), qint64(frames) * 128);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_settings.IsValid());
        QApplication::setApplicationName(QStringLiteral("Veltrad"));
        qRegisterMetaType<veltrad::RunOutcome>();
    }

    // A run disables the inputs, moves the bar, and each outcome shows its
    // notice once the window has its controls back; the completed run's
    // image reaches the terminal whole.
    void eachOutcomeShowsItsNotice_data() {
        QTest::addColumn<QString>("terminal");
        QTest::addColumn<QString>("notice");
        QTest::addColumn<int>("barAfter");
        QTest::addColumn<bool>("portLeftOpen");
        QTest::addColumn<RunOutcome>("outcome");
        QTest::newRow("completed") << "answers" << "Dialog130" << 0 << false << RunOutcome::Completed;
        QTest::newRow("silent from the first frame") << "silent" << "Dialog132" << 0 << true
                                                     << RunOutcome::TimedOut;
        QTest::newRow("silent after three frames") << "silent after 3" << "Dialog133" << 3 << true
                                                   << RunOutcome::TimedOutAfterAck;
        QTest::newRow("fourth frame refused five times") << "refuses frame 3" << "Dialog134" << 3 << true
                                                         << RunOutcome::Refused;
    }
    void eachOutcomeShowsItsNotice() {
        QFETCH(QString, terminal);
        QFETCH(QString, notice);
        QFETCH(int, barAfter);
        QFETCH(bool, portLeftOpen);
        QFETCH(RunOutcome, outcome);

        sim::SimOptions options;
        std::size_t acksBeforeSilence = 0;
        bool silence = false;
        if (terminal == "silent after 3") {
            options.silentAfter = 2;  // frames 0, 1, 2 answered
            acksBeforeSilence = 3;
            silence = true;
        } else if (terminal == "silent") {
            silence = true;
        } else if (terminal == "refuses frame 3") {
            options.refuseFrame = 3;
            options.refuseTimes = 5;
        }
        // A terminal silent from the start is one that never runs.
        auto sim = MakeTerminal(options, terminal != "silent");
        std::unique_ptr<CSilenceClock> clock;
        if (silence)
            clock = std::make_unique<CSilenceClock>(CSilenceClock::AfterAcks(*sim, acksBeforeSilence));

        CModalDriver driver;
        const QString file = ImageFile(10);
        auto dialog = OpenWindow(driver, file, clock.get());
        auto* progress = Child<QProgressBar>(*dialog, "progress1006");
        int highest = 0;
        connect(progress, &QProgressBar::valueChanged, this, [&](int v) { highest = qMax(highest, v); });
        bool enabledWhenShown = false;
        driver.SetHandler([&](QWidget* window) {
            enabledWhenShown = InputsEnabled(*dialog);
            QTest::mouseClick(Child<QPushButton>(window, "ok1"), Qt::LeftButton);
        });
        QSignalSpy ended(dialog.get(), &CVeltradDlg::RunEnded);
        QTest::mouseClick(Child<QPushButton>(*dialog, "download1015"), Qt::LeftButton);
        QVERIFY(InputsDisabled(*dialog));
        QVERIFY(Child<QWidget>(*dialog, "stop1016")->isEnabled());
        QVERIFY(Child<QWidget>(*dialog, "close1013")->isEnabled());
        QCOMPARE(progress->maximum(), 10);

        QTRY_COMPARE_WITH_TIMEOUT(driver.Names(), QStringList{notice}, kLongWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, kLongWaitMs);
        QTRY_VERIFY(QApplication::activeModalWidget() == dialog.get());  // no notice left
        QCOMPARE(ended.front().at(1).value<RunOutcome>(), outcome);
        QVERIFY(enabledWhenShown);
        QCOMPARE(progress->value(), barAfter);
        QCOMPARE(bool(dialog->Logic().Session().Comm().IsConnected()), portLeftOpen);
        if (outcome == RunOutcome::Completed) {
            QCOMPARE(highest, 10);
            QVERIFY(sim->WaitForEnd(std::chrono::milliseconds(kLongWaitMs)));
            QFile original(file);
            QVERIFY(original.open(QIODevice::ReadOnly));
            const sim::ReceivedImage received = sim->Image();
            QCOMPARE(received.baseAddress, 0u);
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(received.bytes.data()), qsizetype(received.bytes.size())),
                     original.readAll());
        }

        // The stop button closes what the run left open and clears the bar.
        QTest::mouseClick(Child<QPushButton>(*dialog, "stop1016"), Qt::LeftButton);
        QVERIFY(!dialog->Logic().Session().Comm().IsConnected());
        QCOMPARE(Child<QProgressBar>(*dialog, "progress1006")->value(), 0);
    }

    // However the window ends during a run, the port is closed and the worker
    // joined by the time it has gone; only the close button saves the port.
    void endingTheWindowDuringARun_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<bool>("windowStays");
        QTest::newRow("close button") << "button" << true << false;
        QTest::newRow("termination signal") << "signal" << false << false;
        QTest::newRow("session ending") << "session" << false << true;
        QTest::newRow("destroyed") << "destroy" << false << false;
    }
    void endingTheWindowDuringARun() {
        QFETCH(QString, how);
        QFETCH(bool, saved);
        QFETCH(bool, windowStays);
        sim::SimOptions slow;
        slow.replyDelay = std::chrono::milliseconds(5);
        auto terminal = MakeTerminal(slow, true);
        const QByteArray iniBefore = m_settings.ReadIni();
        CModalDriver driver;
        auto dialog = OpenWindow(driver, ImageFile(2000));
        NameRunWorkers(dialog->Logic().Session());
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
        else if (how == "signal")
            dialog->OnEndRequested();
        else if (how == "session")
            dialog->OnSessionEnding();
        else
            dialog.reset();

        // Joined: no thread of the run is left.
        QCOMPARE(WorkerThreadCount(), 0);
        if (dialog) {
            QVERIFY(!dialog->Logic().Session().IsRunning());
            QVERIFY(!dialog->Logic().Session().Comm().IsConnected());
            QCOMPARE(dialog->isVisible(), windowStays);
            if (windowStays)
                QVERIFY(InputsEnabled(*dialog));
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
