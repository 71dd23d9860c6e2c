#include "ui/DialogUnits.h"

#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLatin1StringView>
#include <QtMath>

namespace veltrad {
namespace {

constexpr int kDluPerCharX = 4;
constexpr int kDluPerCharY = 8;

// a * b / c rounded half away from zero; the operands here are never negative.
int MulDiv(int a, int b, int c) { return (a * b + c / 2) / c; }

void ConvertChild(QWidget& child, DialogBaseUnits units)
{
    const QRect px = MapDialogRect(child.geometry(), units);
    if (auto* combo = qobject_cast<QComboBox*>(&child)) {
        const int closed = combo->sizeHint().height();
        // The rest of the template height is the dropped list.
        const int itemHeight = QFontMetrics(combo->font()).height();
        if (itemHeight > 0)
            combo->setMaxVisibleItems(qMax(1, (px.height() - closed) / itemHeight));
        child.setGeometry(px.x(), px.y(), px.width(), closed);
        return;
    }
    if (auto* label = qobject_cast<QLabel*>(&child)) {
        const QPixmap icon = label->pixmap();
        if (!icon.isNull()) {
            child.setGeometry(QRect(px.topLeft(), icon.deviceIndependentSize().toSize()));
            return;
        }
    }
    child.setGeometry(px);
    if (qobject_cast<QGroupBox*>(&child)) {
        child.lower();
        child.setAttribute(Qt::WA_TransparentForMouseEvents);
        // The frame's top line runs through the middle of the title, titled
        // or not, so the frame starts where the template puts it.
        const int half = QFontMetrics(child.font()).height() / 2;
        child.setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid palette(mid); border-radius: 2px;"
                                           " margin-top: %1px; }"
                                           "QGroupBox::title { subcontrol-origin: margin;"
                                           " subcontrol-position: top left; left: %2px; padding: 0px; }")
                                .arg(half)
                                .arg(units.cx));
    }
}

}  // namespace

DialogBaseUnits BaseUnitsFor(const QFont& font)
{
    const QFontMetrics fm(font);
    const int width52 = fm.horizontalAdvance(QLatin1StringView("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // The cell height rounded up, not to the nearest pixel: a line of text
    // must fit in 8 units whole, descenders included.
    return {(width52 / 26 + 1) / 2, qCeil(QFontMetricsF(font).height())};
}

QRect MapDialogRect(const QRect& dlu, DialogBaseUnits units)
{
    const int left = MulDiv(dlu.x(), units.cx, kDluPerCharX);
    const int top = MulDiv(dlu.y(), units.cy, kDluPerCharY);
    const int right = MulDiv(dlu.x() + dlu.width(), units.cx, kDluPerCharX);
    const int bottom = MulDiv(dlu.y() + dlu.height(), units.cy, kDluPerCharY);
    return {left, top, right - left, bottom - top};
}

QSize MapDialogSize(const QSize& dlu, DialogBaseUnits units)
{
    return MapDialogRect(QRect(QPoint(0, 0), dlu), units).size();
}

void ApplyDialogUnits(QDialog& dialog)
{
    const DialogBaseUnits units = BaseUnitsFor(dialog.font());
    const QSize size = MapDialogSize(dialog.size(), units);
    const QList<QWidget*> children = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        if (!child->isWindow())
            ConvertChild(*child, units);
    }
    dialog.setFixedSize(size);
}

}  // namespace veltrad
