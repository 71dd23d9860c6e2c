#pragma once
// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the GUI thread: the
// handler only writes the signal number into a pipe, and a socket notifier
// reads it in the event loop, where the window can end a run properly.

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace veltrad {

class CTerminationNotifier final : public QObject {
    Q_OBJECT

public:
    // Installs the handlers; IsActive() says whether that worked. One
    // instance at a time: the handler reaches it through a process-wide pipe.
    explicit CTerminationNotifier(QObject* parent = nullptr);
    // Puts the previous handlers back and closes the pipe.
    ~CTerminationNotifier() override;
    CTerminationNotifier(const CTerminationNotifier&) = delete;
    CTerminationNotifier& operator=(const CTerminationNotifier&) = delete;

    bool IsActive() const { return m_notifier != nullptr; }

signals:
    void TerminationRequested(int signalNumber);

private:
    struct Impl;
    void OnPipeReadable();

    std::unique_ptr<Impl> m_impl;
    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace veltrad
