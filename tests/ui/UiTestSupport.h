#pragma once
// Helpers for the GUI tests: a settings folder of the test's own, a driver
// that finds each modal window (message box, notice, file dialog) as it comes
// up, notes what it showed and closes it, a check of a form's layout, and
// lookups of controls, threads and ports.

#include "settings/Profile.h"
#include "download/PortRun.h"
#include "serial/CommThread.h"
#include "sim/Simulator.h"
#include "window/KeyQuiet.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>
#include <thread>

#include <pthread.h>

namespace veltrad::test {

constexpr int kLongWaitMs = 60000;  // generous for the sanitizer builds

// The control `name` of a window; a missing one ends the test program.
template <class T>
T* Child(QWidget* parent, const char* name)
{
    T* w = parent->findChild<T*>(QString::fromLatin1(name));
    if (!w)
        qFatal("no control %s", name);
    return w;
}
template <class T>
T* Child(QWidget& parent, const char* name)
{
    return Child<T>(&parent, name);
}

// The run's worker, told apart from the toolkit's own threads (which start
// and end on their own schedule) by the name the tests give it.
inline constexpr char kWorkerThreadName[] = "veltrad-worker";

inline void NameRunWorkers(CPortRun& run)
{
    run.SetThreadLauncher([](std::function<void()> body) {
        return std::thread([body = std::move(body)] {
            pthread_setname_np(pthread_self(), kWorkerThreadName);
            body();
        });
    });
}

// Run workers alive in this process: one shows up until it is joined.
inline int WorkerThreadCount()
{
    int count = 0;
    QDirIterator it(QStringLiteral("/proc/self/task"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        QFile comm(it.next() + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == kWorkerThreadName)
            ++count;
    }
    return count;
}

// Whether another port object can open `device`: false while a run holds it.
inline bool PortOpens(const std::string& device)
{
    CCommThread other;
    const bool opened = other.OpenDevice(device, kDownloadBaudRate, kDownloadDataBits, kNoParity, kOneStopBit);
    other.ClosePort();
    return opened;
}

// One settings folder for the whole test program, made XDG_CONFIG_HOME
// before any thread exists: the port lookup reads it, and changing the
// environment later would race with readers. Never the user's own file.
class CTestSettings {
public:
    CTestSettings() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_folder.path())); }
    bool IsValid() const { return m_folder.isValid(); }
    QString Folder() const { return m_folder.path(); }
    QString IniQPath() const { return m_folder.filePath(QStringLiteral("Veltrad.INI")); }
    CProfile Profile() const { return CProfile(QFile::encodeName(IniQPath()).toStdString()); }

    // Replaces the file; an empty text removes it.
    void WriteIni(const QByteArray& text) const
    {
        QFile::remove(IniQPath());
        if (text.isEmpty())
            return;
        QFile file(IniQPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(text), text.size());
    }
    QByteArray ReadIni() const
    {
        QFile file(IniQPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_folder;
};

// What a modal window showed when the driver found it.
struct SeenWindow {
    QString name;  // "Dialog130" and so on for the forms, else the class: "QMessageBox"
    QString title;
    QString text;         // a message box's main text
    QString informative;  // a message box's informative text
};

// Polls for the active modal window on the GUI thread (the timer also runs
// inside nested modal loops), notes it, and hands it to the handler, which
// by default presses Escape on it. Popup menus are offered too. A box of
// ours (a notice, a message) takes no key in its first half second, so it is
// handed over only once that is past. A handler must not open a modal window
// itself: the timer cannot fire again until the handler returns.
class CModalDriver : public QObject {
public:
    using Handler = std::function<void(QWidget*)>;

    explicit CModalDriver(Handler handler = {}) : m_handler(std::move(handler))
    {
        connect(&m_timer, &QTimer::timeout, this, &CModalDriver::Poll);
        m_timer.start(5);
    }

    // A window the driver leaves alone (the main window when it runs modally).
    void Ignore(QWidget* window) { m_ignored = window; }
    void SetHandler(Handler handler) { m_handler = std::move(handler); }

    const QList<SeenWindow>& Seen() const { return m_seen; }
    int Count() const { return static_cast<int>(m_seen.size()); }
    QStringList Names() const
    {
        QStringList names;
        for (const SeenWindow& w : m_seen)
            names << w.name;
        return names;
    }
    void Clear() { m_seen.clear(); }

    static void PressEscape(QWidget* window) { QTest::keyClick(window, Qt::Key_Escape); }

private:
    void Poll()
    {
        QWidget* window = QApplication::activePopupWidget();
        if (!window)
            window = QApplication::activeModalWidget();
        if (!window || window == m_ignored || !window->isVisible())
            return;
        // Input reaches a window only once it is on screen.
        if (!window->windowHandle() || !window->windowHandle()->isExposed())
            return;
        // Each window is handled once in its life, also when it becomes the
        // active one again after a window on top of it closed.
        m_handled.removeAll(nullptr);
        if (m_handled.contains(window))
            return;
        if (!qobject_cast<QFileDialog*>(window) && !qobject_cast<QMenu*>(window)) {
            if (m_waiting != window) {
                m_waiting = window;
                m_seenAt.start();
            }
            if (m_seenAt.elapsed() <= kBoxQuietMs)
                return;
        }
        m_handled.append(window);
        SeenWindow seen;
        seen.name = window->objectName().isEmpty() ? QString::fromLatin1(window->metaObject()->className())
                                                   : window->objectName();
        seen.title = window->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(window)) {
            seen.text = box->text();
            seen.informative = box->informativeText();
        }
        m_seen.append(seen);
        if (m_handler)
            m_handler(window);
        else
            PressEscape(window);
    }

    Handler m_handler;
    QTimer m_timer;
    QPointer<QWidget> m_ignored;
    QPointer<QWidget> m_waiting;  // a box seen, waiting out its quiet
    QElapsedTimer m_seenAt;
    QList<QPointer<QWidget>> m_handled;
    QList<SeenWindow> m_seen;
};

// A handler that picks `path` in the open-file dialog and closes anything else.
inline CModalDriver::Handler ChooseFile(const QString& path)
{
    return [path](QWidget* window) {
        if (auto* files = qobject_cast<QFileDialog*>(window)) {
            // Typed into the file name field, as an operator may.
            auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (!name)
                qFatal("the file dialog has no file name field");
            name->setText(path);
            QTest::keyClick(name, Qt::Key_Return);
            return;
        }
        CModalDriver::PressEscape(window);
    };
}

// What an operator needs of a form: every control inside the window, none
// over another (group boxes only frame), each text whole in its box.
inline void CheckFormIsReadable(QDialog& dialog)
{
    QList<QWidget*> controls;
    for (QWidget* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        QVERIFY2(dialog.rect().contains(w->geometry()), qPrintable(w->objectName()));
        if (!qobject_cast<QGroupBox*>(w))
            controls << w;
    }
    for (int i = 0; i < controls.size(); ++i)
        for (int j = i + 1; j < controls.size(); ++j)
            QVERIFY2(!controls[i]->geometry().intersects(controls[j]->geometry()),
                     qPrintable(controls[i]->objectName() + " over " + controls[j]->objectName()));
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
        const QRect needed =
            QFontMetrics(label->font()).boundingRect(QRect(0, 0, label->width(), 10000), flags, label->text());
        QVERIFY2(needed.width() <= label->width() && needed.height() <= label->height(),
                 qPrintable(label->objectName()));
    }
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        QVERIFY2(QFontMetrics(button->font()).horizontalAdvance(button->text()) < button->width(),
                 qPrintable(button->objectName()));
}

// A file of `size` bytes, none of them zero: every block is sent.
inline QString WriteImageFile(const QString& folder, const QString& name, qint64 size)
{
    const QString path = folder + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    QByteArray bytes(static_cast<qsizetype>(size), '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i % 253 + 1);
    if (file.write(bytes) != bytes.size())
        return {};
    return path;
}

}  // namespace veltrad::test
