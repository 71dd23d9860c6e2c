#include "ui/QuietKeys.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QWidget>

namespace veltrad {

CQuietKeys::CQuietKeys(QWidget& box, IClock* clock)
    : m_box(box), m_quiet(clock ? *clock : static_cast<IClock&>(m_systemClock), kBoxQuietMs)
{
    m_quiet.Restart();
    // The keys go to the box's focused control first: the whole program is watched.
    QApplication::instance()->installEventFilter(this);
}

CQuietKeys::~CQuietKeys() { QApplication::instance()->removeEventFilter(this); }

bool CQuietKeys::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::Show && watched == &m_box) {
        m_quiet.Restart();
        return false;
    }
    // A shortcut (a button's mnemonic) is asked for before the key is delivered.
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != &m_box)
        return false;
    if (m_quiet.Takes(static_cast<QKeyEvent*>(event)->isAutoRepeat()))
        return false;
    event->accept();  // an accepted override lets no shortcut act on the key
    return true;
}

int ExecQuietly(QDialog& box)
{
    const CQuietKeys quiet(box);
    return box.exec();
}

}  // namespace veltrad
