// Veltrad Station's Qt window against eight simulated terminals on ptys,
// pacing a real line: one Enter starts every tile, each ends in its state,
// and the records hold a line per run. A scanner's keys reach the serial
// number field wherever the focus is. And a box up when the station is to
// end: every worker joined all the same. What each outcome shows, the gate,
// the scan rule and the binding are the station logic's (tests/station);
// here only the wiring.

#include "UiTestSupport.h"

#include "sim/Simulator.h"
#include "station/StationPlatform.h"
#include "ui/station/StationWindow.h"
#include "ui/station/TileWidget.h"

#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <vector>

using namespace veltrad;
using namespace veltrad::test;

namespace {

constexpr int kTerminals = 8;
constexpr int kFrames = 24;
constexpr std::size_t kRefusing = 2;  // answers every frame with garbage
constexpr std::size_t kSilent = 5;    // falls silent after its fourth frame

QString Text(QWidget* parent, const char* name) { return Child<QLabel>(parent, name)->text(); }

// Keys as the system delivers them, to the focus, one millisecond apart from
// `ms` on (QTest's keys carry no time, and the station goes by the keys' times).
void Type(const QString& keys, ulong ms)
{
    for (const QChar c : keys) {
        const int code = c == u'\t' ? int(Qt::Key_Tab) : c == u'\r' ? int(Qt::Key_Return) : int(c.toUpper().unicode());
        const QString text = c == u'\t' || c == u'\r' ? QString() : QString(c);
        for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent key(type, code, Qt::NoModifier, text);
            key.setTimestamp(ms);
            QApplication::sendEvent(QApplication::focusWidget(), &key);
        }
        ++ms;
    }
}

}  // namespace

class StationWindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    std::vector<std::unique_ptr<sim::CSimulator>> m_terminals;

    // The terminals on COM1.. and a window with a job over them, opened from its file.
    std::unique_ptr<CStationWindow> OpenStation(const std::vector<sim::SimOptions>& terminals)
    {
        m_terminals.clear();
        CPortMap ports;
        QString names;
        for (std::size_t i = 0; i < terminals.size(); ++i) {
            sim::SimOptions options = terminals[i];
            options.pace = true;
            std::string error;
            auto terminal = sim::CSimulator::CreateOnPty(options, error);
            if (!terminal || !terminal->Start())
                qFatal("no simulated terminal: %s", error.c_str());
            ports.Override(static_cast<std::uint16_t>(i + 1), terminal->DevicePath());
            names += QStringLiteral("COM%1 ").arg(i + 1);
            m_terminals.push_back(std::move(terminal));
        }
        StationServices services;
        services.recordsFolder = QFile::encodeName(m_folder.filePath(QStringLiteral("records"))).toStdString();
        services.launcher = [](std::function<void()> body) {
            return std::thread([body = std::move(body)] {
                pthread_setname_np(pthread_self(), kWorkerThreadName);
                body();
            });
        };
        auto window = std::make_unique<CStationWindow>(ports, services);
        window->show();
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window.get()))
            qFatal("the window did not become active");
        // The job as an engineer makes it in the window, saved, then opened for the line.
        auto* name = Child<QLineEdit>(*window, "jobName");
        name->setFocus();
        QTest::keyClicks(name, QStringLiteral("main board"));
        auto* portsEdit = Child<QLineEdit>(*window, "ports");
        portsEdit->setFocus();
        QTest::keyClicks(portsEdit, names);
        Child<QLineEdit>(*window, "serialEntry")->setFocus();
        const QString image = WriteImageFile(m_folder.path(), QStringLiteral("image.bin"), kFrames * 128);
        if (!window->Logic().SetImage(QFile::encodeName(image).toStdString()))
            qFatal("the image was refused");
        const std::string job = QFile::encodeName(m_folder.filePath(QStringLiteral("line.ini"))).toStdString();
        if (!window->Logic().SaveJob(job) || !window->Logic().OpenJob(job))
            qFatal("the job did not go round");
        return window;
    }

private slots:
    void initTestCase() { QVERIFY(m_folder.isValid()); }

    void oneEnterLoadsEightTerminalsAndRecordsEachRun()
    {
        std::vector<sim::SimOptions> terminals(kTerminals);
        terminals[kRefusing].garbage = true;
        terminals[kSilent].silentAfter = 3;
        auto window = OpenStation(terminals);
        QCOMPARE(Text(window.get(), "sha").left(24),
                 QStringLiteral("SHA-256 ") + QString::fromStdString(window->Logic().JobData().sha256.substr(0, 16)));
        QTest::mouseClick(Child<QPushButton>(*window, "copySha"), Qt::LeftButton);
        QCOMPARE(QApplication::clipboard()->text().toStdString(), window->Logic().JobData().sha256);
        QSignalSpy ended(window.get(), &CStationWindow::RunEnded);
        QSignalSpy sounds(window.get(), &CStationWindow::SoundPlayed);
        Type(QStringLiteral("\r"), 1000);
        QCOMPARE(window->Tile(0)->Shown().state, TileState::Loading);
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), kTerminals, kLongWaitMs);

        for (std::size_t i = 0; i < kTerminals; ++i) {
            CTileWidget* tile = window->Tile(i);
            const char* word = i == kRefusing ? "다운로드 실패" : i == kSilent ? "통신 오류" : "다운로드 완료";
            QCOMPARE(Text(tile, "word"), QString::fromUtf8(word));
            QCOMPARE(Text(tile, "name").section(QLatin1Char(' '), 0, 0), QStringLiteral("COM%1").arg(i + 1));
            QVERIFY(Child<QWidget>(tile, "start")->isEnabled());
            QVERIFY(!Child<QWidget>(tile, "stop")->isEnabled());
        }
        QVERIFY(Text(window->Tile(kSilent), "detail")
                    .contains(QString::fromUtf8("응답을 멈췄습니다 (확인된 프레임 4/24)")));
        QCOMPARE(Text(window.get(), "stationCounters"), QString::fromUtf8("스테이션  완료 6   실패 2"));
        // A failed tile short of room leaves parts out, never one over another.
        CTileWidget* failed = window->Tile(kRefusing);
        failed->setParent(nullptr);  // sized by the test, not the grid
        failed->show();
        for (const int height : {failed->sizeHint().height(), 150, failed->minimumSizeHint().height()}) {
            failed->resize(failed->sizeHint().width(), height);
            QList<QWidget*> shown;
            for (QWidget* part : failed->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                if (part->isVisibleTo(failed))
                    shown << part;
            }
            for (int a = 0; a < shown.size(); ++a) {
                QVERIFY2(failed->contentsRect().contains(shown[a]->geometry()), qPrintable(shown[a]->objectName()));
                for (int b = a + 1; b < shown.size(); ++b)
                    QVERIFY2(!shown[a]->geometry().intersects(shown[b]->geometry()),
                             qPrintable(shown[a]->objectName() + " over " + shown[b]->objectName()));
            }
            for (const char* part : {"word", "name", "detail", "start"})
                QVERIFY2(Child<QWidget>(failed, part)->isVisibleTo(failed), part);
            QCOMPARE(Child<QWidget>(failed, "hint")->isVisibleTo(failed), height == failed->sizeHint().height());
        }
        failed->setParent(window.get());
        failed->show();
        QCOMPARE(sounds.count(), kTerminals);

        QDir records(m_folder.filePath(QStringLiteral("records")));
        const QStringList files = records.entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QFile file(records.filePath(files.front()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QVERIFY(lines.front().endsWith("\tserial_number\tstation\tjob"));
        QStringList outcomes;
        for (const QByteArray& line : lines.mid(1)) {
            if (line.isEmpty())
                continue;
            const QList<QByteArray> fields = line.split('\t');
            QCOMPARE(fields.size(), 15);
            QCOMPARE(fields[6], QByteArray::fromStdString(window->Logic().JobData().sha256));
            QCOMPARE(fields[13], QByteArray::fromStdString(HostName()));
            QCOMPARE(fields[14], QByteArray("main board"));
            outcomes << QString::fromLatin1(fields[1] + ' ' + fields[7]);
        }
        outcomes.sort();
        QCOMPARE(outcomes,
                 (QStringList{"COM1 completed", "COM2 completed", "COM3 refused", "COM4 completed", "COM5 completed",
                              "COM6 timed-out-after-ack", "COM7 completed", "COM8 completed"}));
        for (std::size_t i = 0; i < kTerminals; ++i) {
            if (i != kRefusing && i != kSilent)
                QVERIFY(m_terminals[i]->WaitForEnd(std::chrono::milliseconds(kLongWaitMs)));
        }
    }

    // A scan reaches the field with the focus on a button, a Tab inside it
    // moves no focus, and its Enter (CR LF) starts nothing; a scan that no
    // tile waits for is said beside the field; Enter by hand then starts,
    // and each record names its unit.
    void aScanReachesTheFieldWhereverTheFocusIsAndItsEnterStartsNothing()
    {
        auto window = OpenStation({{}, {}});
        auto* field = Child<QLineEdit>(*window, "serialEntry");
        auto* stopAll = Child<QPushButton>(*window, "stopAll");
        QTest::mouseClick(stopAll, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), stopAll);
        Type(QStringLiteral("UNIT\tA1 B\r\r"), 5000);
        Type(QStringLiteral("UNIT-2\r"), 6000);
        Type(QStringLiteral("UNIT-3\r"), 7000);
        QCOMPARE(QApplication::focusWidget(), field);
        QCOMPARE(field->text(), QString());
        QCOMPARE(window->Tile(0)->Shown().serialNumber, "UNIT\tA1 B");
        QCOMPARE(window->Tile(1)->Shown().serialNumber, "UNIT-2");
        QVERIFY(Text(window.get(), "scanStatus").startsWith(QStringLiteral("UNIT-3: ")));
        for (std::size_t i = 0; i < 2; ++i)
            QCOMPARE(window->Tile(i)->Shown().state, TileState::Idle);

        QSignalSpy ended(window.get(), &CStationWindow::RunEnded);
        Type(QStringLiteral("\r"), 8000);
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 2, kLongWaitMs);
        QDir records(m_folder.filePath(QStringLiteral("records")));
        QFile file(records.filePath(records.entryList(QDir::Files).front()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        // Port, outcome and serial number; a number with a Tab is one field in quotes.
        QStringList units;
        const QByteArray withTab = "\t\"UNIT\tA1 B\"\t";
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split('\t');
            if (line.contains("UNIT"))
                units << QString::fromUtf8(fields[1] + ' ' + fields[7] + ' ' +
                                           (line.contains(withTab) ? withTab.mid(1, withTab.size() - 2) : fields[12]));
        }
        units.sort();  // in the order the runs ended
        QCOMPARE(units, (QStringList{"COM1 completed \"UNIT\tA1 B\"", "COM2 completed UNIT-2"}));
    }

    // The close box asks once; a termination signal while the question is
    // up ends the station all the same.
    void theCloseBoxDuringRunsAsksOnceThenEverythingStops_data()
    {
        QTest::addColumn<bool>("signalled");
        QTest::newRow("yes") << false;
        QTest::newRow("signal during the question") << true;
    }
    void theCloseBoxDuringRunsAsksOnceThenEverythingStops()
    {
        QFETCH(bool, signalled);
        sim::SimOptions silent;
        silent.silentAfter = 0;
        auto window = OpenStation({silent, silent});
        QSignalSpy ended(window.get(), &CStationWindow::Ended);
        QTest::keyClick(window.get(), Qt::Key_F5);
        QTRY_VERIFY_WITH_TIMEOUT(m_terminals[1]->Counters().framesReceived >= 2, kLongWaitMs);
        QCOMPARE(WorkerThreadCount(), 2);

        CStationWindow* station = window.get();
        QStringList buttons;
        QString byDefault;
        CModalDriver driver([&, signalled, station](QWidget* window) {
            auto* box = static_cast<QMessageBox*>(window);
            QAbstractButton* end = nullptr;
            for (QAbstractButton* button : box->buttons()) {
                buttons << button->text();
                if (box->buttonRole(button) == QMessageBox::AcceptRole)
                    end = button;
            }
            buttons.sort();
            byDefault = box->defaultButton()->text();
            if (signalled)
                station->OnEndRequested();
            else
                QTest::mouseClick(end, Qt::LeftButton);
        });
        driver.Ignore(window.get());
        window->close();
        QCOMPARE(driver.Names(), QStringList{"QMessageBox"});
        QCOMPARE(buttons, (QStringList{QString::fromUtf8("계속 다운로드"), QString::fromUtf8("모두 중지하고 끝내기")}));
        QCOMPARE(byDefault, QString::fromUtf8("계속 다운로드"));
        QCOMPARE(ended.count(), 1);
        QVERIFY(!window->isVisible());
        QCOMPARE(WorkerThreadCount(), 0);
        for (const auto& terminal : m_terminals)
            QVERIFY(PortOpens(terminal->DevicePath()));
    }
};

QTEST_MAIN(StationWindowTest)
#include "StationWindowTest.moc"
