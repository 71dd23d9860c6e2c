#pragma once
// A box that has just opened takes no key: an Enter pressed for what came
// before it (the hand that pressed 다 운 로 드 goes on) must not dismiss a
// notice unread. For its first kBoxQuietMs, and for any key the keyboard
// repeats, the box's keys go nowhere; the mouse is not held back.

#include "download/Clock.h"
#include "window/KeyQuiet.h"

#include <QObject>

class QDialog;
class QWidget;

namespace veltrad {

class CQuietKeys final : public QObject {
public:
    // Quiet from now and again from each showing of `box`; `clock` (null:
    // the system's) must outlive this.
    explicit CQuietKeys(QWidget& box, IClock* clock = nullptr);
    ~CQuietKeys() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& m_box;
    CSystemClock m_systemClock;
    CKeyQuiet m_quiet;
};

// Runs `box` modally with its keys held back as above; its result.
int ExecQuietly(QDialog& box);

}  // namespace veltrad
