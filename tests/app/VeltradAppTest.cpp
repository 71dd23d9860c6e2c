// The application as it starts and ends: the start-up setting, the settings
// file in good and bad shape, the port index across starts, ending by a
// signal or by quitting during a run, and arguments that change nothing.

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
    QStringList RunProgram(const std::function<void(QWidget*)>& onWindow, const QString& file = {}) {
        CModalDriver driver;
        driver.SetHandler([&](QWidget* window) {
            if (window->objectName() == QStringLiteral("Dialog102")) {
                QMetaObject::invokeMethod(window, [window, onWindow] { onWindow(window); }, Qt::QueuedConnection);
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

    static void PressEscape(QWidget* window) { QTest::keyClick(window, Qt::Key_Escape); }
    static void PressClose(QWidget* window) {
        QTest::mouseClick(Child<QPushButton>(window, "close1013"), Qt::LeftButton);
    }

    QByteArray PortsOn(const sim::CSimulator& terminal) const {
        const QByteArray device = QFile::encodeName(QString::fromStdString(terminal.DevicePath()));
        return "[Ports]\nCOM1=" + device + "\nCOM5=" + device + "\nCOM6=" + device + "\n";
    }

private slots:
    void initTestCase() {
        QVERIFY(m_settings.IsValid());
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Veltrad"));
        QVERIFY(!QApplication::windowIcon().isNull());
    }

    void firstStartWritesTheDefaultAddress() {
        m_settings.WriteIni({});
        const QStringList seen = RunProgram(PressEscape);
        QCOMPARE(seen.back(), QStringLiteral("Dialog102"));
        const CProfile profile = m_settings.Profile();
        QCOMPARE(profile.GetProfileInt("Font", "Address", -1), 274432);
        // Escape saves no port index.
        QCOMPARE(profile.GetProfileInt("ComPort", "Port Num", -7), -7);
    }

    void anotherAddressSurvivesStarts() {
        const QByteArray before =
            "; set by hand\r\n[Font]\r\nAddress=12345\r\n\r\n[Ports]\r\nCOM1=/nonexistent/tty\r\n"
            "[Elsewhere]\r\nKey With Blanks=1\r\n";
        m_settings.WriteIni(before);
        for (int start = 0; start < 2; ++start) {
            RunProgram(PressEscape);
            QCOMPARE(m_settings.ReadIni(), before);
        }
    }

    // The close button stores the port index; Escape and the close box do
    // not, and the next start shows the index stored before.
    void thePortIndexAcrossStarts() {
        std::string error;
        auto terminal = sim::CSimulator::CreateOnPty({}, error);
        QVERIFY2(terminal, error.c_str());
        m_settings.WriteIni(PortsOn(*terminal));

        const auto pick = [](int index, std::function<void(QWidget*)> end) {
            return [index, end](QWidget* window) {
                auto* combo = Child<QComboBox>(window, "comboPort1007");
                combo->setCurrentIndex(index);
                emit combo->activated(index);
                end(window);
            };
        };
        int shown = -2;
        const auto note = [&shown](QWidget* window) {
            shown = Child<QComboBox>(window, "comboPort1007")->currentIndex();
        };

        RunProgram(pick(4, PressClose));  // COM5, stored
        RunProgram([&](QWidget* w) { note(w); pick(5, PressEscape)(w); });  // COM6, not stored
        QCOMPARE(shown, 4);
        RunProgram([&](QWidget* w) { note(w); pick(5, [](QWidget* x) { x->close(); })(w); });
        QCOMPARE(shown, 4);
        RunProgram([&](QWidget* w) { note(w); PressEscape(w); });
        QCOMPARE(shown, 4);
        QCOMPARE(m_settings.Profile().GetProfileInt("ComPort", "Port Num", -7), 4);
    }

    // A settings file that cannot be written, or is not one, changes nothing
    // and stops nothing: the window still comes up and the file stays as it was.
    void aBadSettingsFileChangesNothing_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a folder in its place") << "folder";
        QTest::newRow("binary") << "binary";
        QTest::newRow("larger than a settings file") << "huge";
        QTest::newRow("read-only file") << "readonly";
        QTest::newRow("read-only folder") << "readonlyfolder";
    }
    void aBadSettingsFileChangesNothing() {
        QFETCH(QString, kind);
        const bool root = ::geteuid() == 0;
        if ((kind == "readonly" || kind == "readonlyfolder") && root)
            QSKIP("root writes read-only files; the folder and binary rows cover a failing write");

        QByteArray content;
        m_settings.WriteIni({});
        if (kind == "folder") {
            QVERIFY(QDir().mkdir(m_settings.IniQPath()));
        } else if (kind == "binary") {
            for (int i = 0; i < 4096; ++i)
                content.append(char((i * 7919) & 0xFF));
            content.replace(100, 20, "\n[Font]\nAddress=9\n");
        } else if (kind == "huge") {
            content = "[Font]\nAddress=5\n" + QByteArray(2 * 1024 * 1024, 'x');
        } else {
            content = "[Font]\nAddress=5\n[ComPort]\nPort Num=3\n";
        }
        if (!content.isEmpty())
            m_settings.WriteIni(content);
        const QFile::Permissions before = QFile::permissions(m_settings.Folder());
        if (kind == "readonly")
            QVERIFY(QFile::setPermissions(m_settings.IniQPath(), QFile::ReadOwner));
        if (kind == "readonlyfolder")
            QVERIFY(QFile::setPermissions(m_settings.Folder(), QFile::ReadOwner | QFile::ExeOwner));

        // The close button tries to store the port index too.
        const QStringList seen = RunProgram(PressClose);

        QFile::setPermissions(m_settings.Folder(), before);
        QFile::setPermissions(m_settings.IniQPath(), QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(seen.back(), QStringLiteral("Dialog102"));
        if (kind == "folder") {
            QVERIFY(QFileInfo(m_settings.IniQPath()).isDir());
            QVERIFY(QDir().rmdir(m_settings.IniQPath()));
        } else {
            QCOMPARE(m_settings.ReadIni(), content);
        }
    }

    // Ending the program during a run: the port is closed and the worker
    // joined before the window goes.
    void endingDuringARun_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("SIGTERM") << "SIGTERM";
        QTest::newRow("SIGINT") << "SIGINT";
        QTest::newRow("quit") << "quit";
    }
    void endingDuringARun() {
        QFETCH(QString, how);
        sim::SimOptions slow;
        slow.replyDelay = std::chrono::milliseconds(5);
        std::string error;
        auto terminal = sim::CSimulator::CreateOnPty(slow, error);
        QVERIFY2(terminal && terminal->Start(), error.c_str());
        m_settings.WriteIni(PortsOn(*terminal));
        const QString file =
            WriteImageFile(m_settings.Folder(), QStringLiteral("image.bin"), 2000 * 128, true);

        int workersBefore = -1;
        int workersDuring = -1;
        QTimer watch;
        const QStringList seen = RunProgram(
            [&](QWidget* window) {
                QTest::mouseClick(Child<QPushButton>(window, "openFile1004"), Qt::LeftButton);
                NameRunWorkers(qobject_cast<CVeltradDlg*>(window)->Logic().Session());
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
        QCOMPARE(WorkerThreadCount(), 0);  // the worker was joined
        QVERIFY(PortOpens(terminal->DevicePath()));  // and the port let go
        QVERIFY(terminal->Counters().framesReceived < 2000);
    }

    // The program itself, started with and without arguments, does the same:
    // writes the start-up setting, prints nothing, and ends on SIGTERM.
    void argumentsChangeNothing_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("none") << QStringList{};
        QTest::newRow("help") << QStringList{"--help"};
        QTest::newRow("a file and options") << QStringList{"-v", "--port", "COM3", "image.bin"};
    }
    void argumentsChangeNothing() {
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

int main(int argc, char** argv) {
    // The settings folder becomes XDG_CONFIG_HOME before any thread starts.
    CTestSettings settings;
    CVeltradApp app(argc, argv);
    VeltradAppTest test(app, settings);
    return QTest::qExec(&test, argc, argv);
}

#include "VeltradAppTest.moc"
