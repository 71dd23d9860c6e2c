// veltrad-station: Veltrad Station, many terminals at once at a production
// line. An optional argument names a job file to open at the start.

#include "serial/PortMap.h"
#include "image/StandardStreams.h"
#include "settings/Profile.h"
#include "station/StationTexts.h"
#include "ui/DialogLook.h"
#include "ui/TerminationNotifier.h"
#include "ui/station/StationWindow.h"

#include <QApplication>
#include <QFile>
#include <QStringList>

#include <cstdio>
#include <filesystem>
#include <optional>

int main(int argc, char** argv)
{
    // Before anything is opened (the display's connection, a port, a file):
    // none of them may take a standard stream's number.
    if (!veltrad::OpenStandardStreams())
        return 1;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Veltrad Station"));
    QApplication::setApplicationVersion(QStringLiteral("2.0"));
    // Matches the installed desktop entry, so desktops show the right icon.
    QApplication::setDesktopFileName(QStringLiteral("veltrad-station"));
    QApplication::setWindowIcon(veltrad::ApplicationIcon());
    veltrad::UseKoreanToolkitTexts(app);

    // First, so that a signal from here on ends the station the orderly way.
    veltrad::CTerminationNotifier terminator;
    const veltrad::CProfile settings(veltrad::CProfile::DefaultPath());
    veltrad::CStationWindow window(veltrad::PortMapFromProfile(settings));
    QObject::connect(&terminator, &veltrad::CTerminationNotifier::TerminationRequested, &window,
                     &veltrad::CStationWindow::OnEndRequested);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, &veltrad::CStationWindow::OnEndRequested);
    QObject::connect(&window, &veltrad::CStationWindow::Ended, &app, &QCoreApplication::quit);
    const QStringList arguments = QApplication::arguments();
    std::optional<std::filesystem::path> job;
    if (arguments.size() > 1)
        job = QFile::encodeName(arguments.at(1)).toStdString();
    // quit() does nothing before the loop runs: a signal during a start-up
    // message has ended the station already, and the loop would never end.
    if (window.Begin(settings, job))
        QApplication::exec();
    // Ended: every run stopped and every worker joined; the destructor makes sure once more.
    // Where records that could not be written were kept, also after a signal.
    if (const auto& kept = window.Logic().KeptAtEnd()) {
        if (kept->file) {
            std::fprintf(stderr, "veltrad-station: %zu records could not be written; kept in %s\n", kept->lines,
                         kept->file->c_str());
        } else {
            std::fprintf(stderr, "veltrad-station: %zu records could not be written nor kept (%s):\n%s", kept->lines,
                         kept->error.Message().c_str(), kept->text.c_str());
        }
    }
    return 0;
}
