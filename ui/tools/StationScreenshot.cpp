// veltrad-station-screenshot OUTPUT.png [TILES]: renders Veltrad Station off
// screen, on a screen of 1024 x 768 pixels, after a run of eight simulated
// terminals (or 1 to 16; the third refuses the image, the sixth falls
// silent, the eleventh names no device), for the README. The window opens
// at the size its job asks. Job, records and settings live in a temporary folder.

#include "settings/Profile.h"
#include "sim/Simulator.h"
#include "station/StationJob.h"
#include "ui/DialogLook.h"
#include "ui/station/StationWindow.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int kDefaultTiles = 8;
constexpr int kNoDevice = 10;  // the tile whose port names nothing
constexpr char kScreen[] =
    R"({"screens":[{"name":"screen","x":0,"y":0,"width":1024,"height":768,"logicalDpi":96,"logicalBaseDpi":96}]})";
constexpr int kSampleSize = 40 * 128;  // bytes, every block sent
constexpr int kRunsMs = 30000;         // the silent terminal takes 5 s of it

}  // namespace

int main(int argc, char** argv)
{
    const int tiles = argc == 3 ? std::atoi(argv[2]) : kDefaultTiles;
    if (argc < 2 || argc > 3 || tiles < 1 || tiles > 16) {
        std::fprintf(stderr, "usage: veltrad-station-screenshot OUTPUT.png [TILES, 1 to 16]\n");
        return 2;
    }
    QTemporaryDir folder;
    const std::string base = QFile::encodeName(folder.path()).toStdString();
    {
        QFile screen(folder.filePath(QStringLiteral("screen.json")));
        if (!screen.open(QIODevice::WriteOnly) || screen.write(kScreen) < 0)
            return 1;
    }
    qputenv("QT_QPA_PLATFORM",
            "offscreen:configfile=" + QFile::encodeName(folder.filePath(QStringLiteral("screen.json"))));
    QApplication app(argc, argv);
    veltrad::UseKoreanToolkitTexts(app);
    {
        QFile sample(folder.filePath(QStringLiteral("kv9090-app.bin")));
        QByteArray bytes(kSampleSize, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i % 251 + 1);
        if (!sample.open(QIODevice::WriteOnly) || sample.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "veltrad-station-screenshot: cannot write a sample in %s\n", base.c_str());
            return 1;
        }
    }

    std::vector<std::unique_ptr<veltrad::sim::CSimulator>> terminals;
    veltrad::CPortMap ports;
    std::string names;
    int running = 0;
    for (int i = 0; i < tiles; ++i) {
        names += "COM" + std::to_string(33 + i) + " ";
        if (i == kNoDevice)
            continue;
        veltrad::sim::SimOptions options;
        options.pace = true;
        if (i == 2)
            options.garbage = true;
        if (i == 5)
            options.silentAfter = 19;
        std::string error;
        auto terminal = veltrad::sim::CSimulator::CreateOnPty(options, error);
        if (!terminal || !terminal->Start()) {
            std::fprintf(stderr, "veltrad-station-screenshot: no simulated terminal: %s\n", error.c_str());
            return 1;
        }
        ports.Override(static_cast<std::uint16_t>(33 + i), terminal->DevicePath());
        terminals.push_back(std::move(terminal));
        ++running;
    }

    veltrad::StationServices services;
    services.recordsFolder = base + "/records";
    veltrad::CStationWindow window(ports, services);
    veltrad::CStationLogic& logic = window.Logic();
    window.show();
    logic.OnJobName("KV-9090 main board, line 3");
    logic.SetImage(base + "/kv9090-app.bin");
    logic.OnPortsText(names);
    logic.SaveJob(base + "/line3.ini");
    logic.OpenJob(base + "/line3.ini");

    QEventLoop loop;
    int ended = 0;
    QObject::connect(&window, &veltrad::CStationWindow::RunEnded, [&] {
        if (++ended == running)
            loop.quit();
    });
    QTimer::singleShot(kRunsMs, &loop, &QEventLoop::quit);
    logic.OnStartAllIdle();
    loop.exec();
    QApplication::processEvents();

    const QString output = QString::fromLocal8Bit(argv[1]);
    if (!window.grab().save(output, "PNG")) {
        std::fprintf(stderr, "veltrad-station-screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return ended == running ? 0 : 1;
}
