// veltrad-screenshot OUTPUT.png: renders the main window off screen, with a
// sample file chosen, for the README. Touches no settings of the user: the
// window reads and writes a settings file in a temporary folder.

#include "settings/Profile.h"
#include "ui/VeltradDlg.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kSampleSize = 49152;  // bytes, all of them sent

bool WriteSample(const QString& path)
{
    QByteArray bytes(kSampleSize, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i % 251 + 1);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: veltrad-screenshot OUTPUT.png\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Veltrad"));

    QTemporaryDir folder;
    const QString sample = folder.filePath(QStringLiteral("kv9090-app.bin"));
    if (!folder.isValid() || !WriteSample(sample)) {
        std::fprintf(stderr, "veltrad-screenshot: cannot write a sample file in %s\n", qPrintable(QDir::tempPath()));
        return 1;
    }

    veltrad::CVeltradDlg dialog(
        veltrad::CProfile(QFile::encodeName(folder.filePath(QStringLiteral("Veltrad.INI"))).toStdString()));

    // Choose the sample in the open-file dialog as an operator would; this
    // machine's COM1 may not exist, so its message is dismissed.
    QTimer chooser;
    QObject::connect(&chooser, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* files = qobject_cast<QFileDialog*>(modal)) {
            files->selectFile(sample);
            static_cast<QDialog*>(files)->accept();  // public as a QDialog
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            box->accept();
        }
    });
    chooser.start(10);
    dialog.ShowModal();
    dialog.Logic().OnOpenFile();
    chooser.stop();

    QApplication::processEvents();
    const QString output = QString::fromLocal8Bit(argv[1]);
    if (!dialog.grab().save(output, "PNG")) {
        std::fprintf(stderr, "veltrad-screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
