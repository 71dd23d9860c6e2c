// The application as it starts and ends: the start-up setting in the
// default settings file, a bad settings file, ending by a signal or by
// quitting during a run, and arguments that change nothing.

#include "UiTestSupport.h"

#include "app/VeltradApp.h"
#include "sim/Simulator.h"
#include "ui/VeltradDlg.h"

#include <QComboBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <csignal>
#include <memory>
#include <unistd.h>

using namespace veltrad;
using namespace veltrad::test;

class VeltradAppTest : public QObject {
    Q_OBJECT

public:
    VeltradAppTest(CVeltradApp& app, CTestSettings& settings) : m_app(app), m_settings(settings) {}

private:
    CVeltradApp& m_app;
    CTestSettings& m_settings;

    // Runs the program once; `onWindow` acts on the main window when it is
    // up (queued, so it may open modal windows of its own), and anything
    // else modal is closed with Escape or, for the file dialog, given `file`.
    QStringList RunProgram(const std::function<void(QWidget*)>& onWindow, const QString& file = {})
    {
        CModalDriver driver;
        driver.SetHandler([&](QWidget* window) {
            if (window->objectName() == QStringLiteral("Dialog102")) {
                QMetaObject::invokeMethod(
                    window, [window, onWindow] { onWindow(window); }, Qt::QueuedConnection);
                return;
            }
            if (qobject_cast<QFileDialog*>(window)) {
                ChooseFile(file)(window);
                return;
            }
            CModalDriver::PressEscape(window);
        });
        const bool result = m_app.InitInstance();
        if (result)
            qFatal("InitInstance returned true");
        return driver.Names();
    }

    static void PressClose(QWidget* window)
    {
        QTest::mouseClick(Child<QPushButton>(window, "close1013"), Qt::LeftButton);
    }

    QByteArray PortsOn(const sim::CSimulator& terminal) const
    {
        const QByteArray device = QFile::encodeName(QString::fromStdString(terminal.DevicePath()));
        return "[Ports]\nCOM1=" + device + "\n";
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_settings.IsValid());
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Veltrad"));
        QVERIFY(!QApplication::windowIcon().isNull());
    }

    void firstStartWritesTheDefaultAddress()
    {
        m_settings.WriteIni({});
        const QStringList seen = RunProgram(CModalDriver::PressEscape);
        QCOMPARE(seen.back(), QStringLiteral("Dialog102"));
        const CProfile profile = m_settings.Profile();
        QCOMPARE(profile.GetProfileInt("Font", "Address", -1), 274432);
        // Escape saves no port index.
        QCOMPARE(profile.GetProfileInt("ComPort", "Port Num", -7), -7);
    }

    // A settings file that cannot be written, or is not one, changes nothing
    // and stops nothing: the window still comes up and the file stays as it was.
    void aBadSettingsFileChangesNothing_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a folder in its place") << "folder";
        QTest::newRow("binary") << "binary";
    }
    void aBadSettingsFileChangesNothing()
    {
        QFETCH(QString, kind);
        const QByteArray content = kind == "binary" ? "[Font]\nAddress=9\n\x1b[31m\n" : "";
        m_settings.WriteIni(content);
        if (kind == "folder")
            QVERIFY(QDir().mkdir(m_settings.IniQPath()));

        // The close button tries to store the port index too.
        QCOMPARE(RunProgram(PressClose).back(), QStringLiteral("Dialog102"));
        if (kind == "folder") {
            QVERIFY(QFileInfo(m_settings.IniQPath()).isDir());
            QVERIFY(QDir().rmdir(m_settings.IniQPath()));
        } else {
            QCOMPARE(m_settings.ReadIni(), content);
        }
    }

    // Ending the program during a run: the port is closed and the worker
    // joined before the window goes.
    void endingDuringARun_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("SIGTERM") << "SIGTERM";
        QTest::newRow("SIGINT") << "SIGINT";
        QTest::newRow("quit") << "quit";
    }
    void endingDuringARun()
    {
        QFETCH(QString, how);
        sim::SimOptions slow;
        slow.replyDelay = std::chrono::milliseconds(5);
        std::string error;
        auto terminal = sim::CSimulator::CreateOnPty(slow, error);
        QVERIFY2(terminal && terminal->Start(), error.c_str());
        m_settings.WriteIni(PortsOn(*terminal));
        const QString file = WriteImageFile(m_settings.Folder(), QStringLiteral("image.bin"), 2000 * 128);

        int workersBefore = -1;
        int workersDuring = -1;
        QTimer watch;
        const QStringList seen = RunProgram(
            [&](QWidget* window) {
                QTest::mouseClick(Child<QPushButton>(window, "openFile1004"), Qt::LeftButton);
                NameRunWorkers(qobject_cast<CVeltradDlg*>(window)->Logic().Run());
                workersBefore = WorkerThreadCount();
                QTest::mouseClick(Child<QPushButton>(window, "download1015"), Qt::LeftButton);
                auto* progress = Child<QProgressBar>(window, "progress1006");
                connect(&watch, &QTimer::timeout, this, [&, progress] {
                    if (progress->value() < 2)
                        return;
                    watch.stop();
                    workersDuring = WorkerThreadCount();
                    if (how == "quit")
                        QCoreApplication::quit();
                    else
                        ::kill(::getpid(), how == "SIGTERM" ? SIGTERM : SIGINT);
                });
                watch.start(5);
            },
            file);

        QCOMPARE(seen, (QStringList{"Dialog102", "QFileDialog"}));
        QCOMPARE(workersBefore, 0);
        QCOMPARE(workersDuring, 1);
        QCOMPARE(WorkerThreadCount(), 0);            // the worker was joined
        QVERIFY(PortOpens(terminal->DevicePath()));  // and the port let go
        QVERIFY(terminal->Counters().framesReceived < 2000);
    }

    // The program itself, started with and without arguments, does the same:
    // writes the start-up setting, prints nothing, and ends on SIGTERM.
    void argumentsChangeNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("none") << QStringList{};
        QTest::newRow("help") << QStringList{"--help"};
        QTest::newRow("a file and options") << QStringList{"-v", "--port", "COM3", "image.bin"};
    }
    void argumentsChangeNothing()
    {
        QTemporaryDir config;
        QVERIFY(config.isValid());
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(environment);
        QFETCH(QStringList, arguments);
        program.start(QStringLiteral(VELTRAD_EXECUTABLE), arguments);
        QVERIFY(program.waitForStarted());
        const QString ini = config.filePath(QStringLiteral("Veltrad.INI"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(ini).size() > 0, kLongWaitMs);
        QCOMPARE(program.state(), QProcess::Running);  // a window, not an answer to arguments
        program.terminate();
        QVERIFY(program.waitForFinished(kLongWaitMs));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(program.readAllStandardOutput(), QByteArray());
        QCOMPARE(CProfile(QFile::encodeName(ini).toStdString()).GetProfileInt("Font", "Address", -1), 274432);
    }
};

int main(int argc, char** argv)
{
    // The settings folder becomes XDG_CONFIG_HOME before any thread starts.
    CTestSettings settings;
    CVeltradApp app(argc, argv);
    VeltradAppTest test(app, settings);
    return QTest::qExec(&test, argc, argv);
}

#include "VeltradAppTest.moc"
