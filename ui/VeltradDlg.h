#pragma once
// The program's window: port list, file choice, progress bar, download and
// stop. It owns the download session; the session's worker reaches it only
// through queued calls, so every widget is touched on the GUI thread alone.

#include "settings/Profile.h"
#include "download/DownloadSession.h"
#include "download/RunObserver.h"

#include <QDialog>
#include <QIcon>
#include <QString>

#include <cstdint>
#include <memory>

class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace veltrad {

class CRunEventBridge;

// Command of the About entry; the low four bits are free, as in a system menu.
inline constexpr unsigned kIdmAboutBox = 0x0010;
// Standard window commands that OnSysCommand carries out itself.
inline constexpr unsigned kScMinimize = 0xF020;
inline constexpr unsigned kScClose = 0xF060;
inline constexpr unsigned kScRestore = 0xF120;

// Text of the About entry (string 101).
QString AboutMenuText();

class CVeltradDlg final : public QDialog {
    Q_OBJECT

public:
    // `profile` holds the port index and names the file whose "Ports" section
    // maps COM numbers to devices. `clock` (may be null) times the replies.
    explicit CVeltradDlg(CProfile profile, QWidget* parent = nullptr, IClock* clock = nullptr);
    ~CVeltradDlg() override;

    // Initialises the dialog once (which may report the saved port before
    // the window shows), then shows it application-modal and returns; the
    // caller's event loop runs it. False when it was ended meanwhile.
    bool ShowModal();
    // The same, then runs it in a loop of its own.
    int exec() override;
    // Every way of ending comes through here: a run in progress is stopped
    // and its worker joined before the window goes.
    void done(int result) override;

    bool OnInitDialog();
    void LoadPortSetting();
    void InitControls();
    void TestSelectedPort();
    bool OpenSelectedPort();
    void EnableControls(bool enable);
    void SavePortSetting();
    void OnSysCommand(unsigned id, std::intptr_t param);

    // Handlers of the controls.
    void OnSelChangePort();
    void OnOpenFile();
    void OnCloseDialog();
    void OnDownload();
    void OnStop();

    // A signal or the application quitting: close what is open on top of the
    // window, end a run and end the dialog as its close box would (the port
    // index is not saved).
    void OnEndRequested();
    // The desktop session is about to end and may kill the program: leave the
    // port closed and the worker joined now. The window stays, in case the
    // logout is cancelled.
    void OnSessionEnding();

    // The notices of a run's outcomes, modal on the GUI thread.
    void ShowCompleteNotice();
    void ShowCommErrorNotice();
    void ShowCommErrorRetryNotice();
    void ShowFailNotice();

    CDownloadSession& Session() { return *m_session; }
    std::uint16_t PortNumber() const { return m_nPort; }

signals:
    // After the last event of the current run.
    void RunEnded(std::uint64_t runId, veltrad::RunOutcome outcome);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif

private:
    friend class CRunEventBridge;

    // Run events, queued from the worker; each names its run.
    void OnRunProgressStep(std::uint64_t runId);
    void OnRunProgressReset(std::uint64_t runId);
    void OnRunEnableControls(std::uint64_t runId, bool enable);
    void OnRunNotice(std::uint64_t runId, Notice notice);
    void OnRunEnded(std::uint64_t runId, RunOutcome outcome);
    bool IsCurrentRun(std::uint64_t runId) const;

    // Between the edits and the strings shown in them: true reads the
    // controls, false writes them.
    void UpdateData(bool saveAndValidate);
    // Takes the port list's selection as the port number and hands it on.
    void TakeSelectedPort();
    void ReportPortOpenFail();
    void ReportFileError(const ImageError& error);
    void ReportMessage(const QString& text, const QString& detail = {});
    void ShowSelectedDevice();
    void EndRun();
    void AppendSystemMenuEntry();

    CProfile m_profile;
    std::unique_ptr<CRunEventBridge> m_bridge;
    std::unique_ptr<CDownloadSession> m_session;

    int m_nSavedPortIndex = 0;
    std::uint16_t m_nPort = 0;
    QString m_strFileName;
    QString m_strFileSize;
    QIcon m_hIcon;

    QPushButton* m_btnOpenFile = nullptr;
    QPushButton* m_btnStop = nullptr;
    QPushButton* m_btnDownload = nullptr;
    QPushButton* m_btnClose = nullptr;
    QComboBox* m_comboPort = nullptr;
    QLineEdit* m_editFileName = nullptr;
    QLineEdit* m_editFileSize = nullptr;
    QProgressBar* m_progress = nullptr;

    bool m_bInitialised = false;
    bool m_bEndRequested = false;
    // The run whose events are shown; 0 while none is. A stopped run may
    // still complete (its last frame was acknowledged) but moves the bar no more.
    std::uint64_t m_nShownRunId = 0;
    bool m_bShownRunStopped = false;
};

}  // namespace veltrad
