#include "ui/DialogLook.h"

#include "ui/DialogUnits.h"

#include <QCoreApplication>
#include <QDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QStringList>
#include <QTranslator>

namespace veltrad {

void UseKoreanToolkitTexts(QCoreApplication& application)
{
    const QLocale korean(QLocale::Korean, QLocale::SouthKorea);
    QLocale::setDefault(korean);
    auto* translator = new QTranslator(&application);
    // Without the package the toolkit's texts stay as Qt has them.
    if (translator->load(korean, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

QFont DialogFont(int pointSize)
{
    QFont font;
    // The first one present wins; each of them carries Hangul.
    font.setFamilies({QStringLiteral("Noto Sans CJK KR"), QStringLiteral("Noto Sans KR"),
                      QStringLiteral("Malgun Gothic"), QStringLiteral("NanumGothic"), QStringLiteral("Gulim")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(pointSize);
    return font;
}

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128})
        icon.addFile(QStringLiteral(":/veltrad/icons/veltrad-%1.png").arg(size), QSize(size, size));
    return icon;
}

void PrepareTemplateDialog(QDialog& dialog, DialogFrame frame)
{
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowCloseButtonHint;
    if (frame == DialogFrame::Main)
        flags |= Qt::WindowMinimizeButtonHint;
    dialog.setWindowFlags(flags);
    dialog.setFont(DialogFont(dialog.font().pointSize()));
    ApplyDialogUnits(dialog);
}

}  // namespace veltrad
