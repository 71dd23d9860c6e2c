#include "ui/station/DesktopSound.h"

#include <QApplication>
#include <QProcess>
#include <QStandardPaths>

namespace veltrad {

void PlayDesktopSound(StationSound sound)
{
    // The freedesktop sound theme's names for these two events.
    const QString id = sound == StationSound::Complete ? QStringLiteral("complete") : QStringLiteral("dialog-error");
    const QString player = QStandardPaths::findExecutable(QStringLiteral("canberra-gtk-play"));
    if (player.isEmpty() ||
        !QProcess::startDetached(
            player, {QStringLiteral("--id"), id, QStringLiteral("--description"), QStringLiteral("Veltrad Station")}))
        QApplication::beep();
}

}  // namespace veltrad
