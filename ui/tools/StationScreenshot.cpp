// veltrad-station-screenshot OUTPUT.png: renders Veltrad Station off screen
// after a run of eight simulated terminals (one refuses the image, one falls
// silent), for the README. Job, records and settings live in a temporary folder.

#include "settings/Profile.h"
#include "sim/Simulator.h"
#include "station/StationJob.h"
#include "ui/station/StationWindow.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kTerminals = 8;
constexpr int kSampleSize = 40 * 128;  // bytes, every block sent
constexpr int kRunsMs = 30000;         // the silent terminal takes 5 s of it

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: veltrad-station-screenshot OUTPUT.png\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir folder;
    const std::string base = QFile::encodeName(folder.path()).toStdString();
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
    for (int i = 0; i < kTerminals; ++i) {
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
    }

    veltrad::StationServices services;
    services.recordsFolder = base + "/records";
    veltrad::CStationWindow window(ports, services);
    veltrad::CStationLogic& logic = window.Logic();
    logic.OnJobName("KV-9090 main board, line 3");
    logic.SetImage(base + "/kv9090-app.bin");
    logic.OnPortsText("COM33 COM34 COM35 COM36 COM37 COM38 COM39 COM40");
    logic.SaveJob(base + "/line3.ini");
    logic.OpenJob(base + "/line3.ini");
    window.resize(1100, 760);
    window.show();

    QEventLoop loop;
    int ended = 0;
    QObject::connect(&window, &veltrad::CStationWindow::RunEnded, [&] {
        if (++ended == kTerminals)
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
    return ended == kTerminals ? 0 : 1;
}
