#pragma once
// What the Qt station's files share: paths and file dialogs.

#include "ui/DialogLook.h"

#include <QFile>
#include <QFileDialog>
#include <QString>

#include <filesystem>
#include <string>

namespace veltrad::station_qt {

inline std::filesystem::path ToPath(const QString& file)
{
    return std::filesystem::path(QFile::encodeName(file).toStdString());
}

// Qt's own dialogs, which speak the toolkit's Korean whatever the desktop's language.
inline constexpr QFileDialog::Options kOwnDialog = QFileDialog::DontUseNativeDialog;

}  // namespace veltrad::station_qt
