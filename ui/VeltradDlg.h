#pragma once
// The program's window on Linux: a thin Qt view over the shared window
// logic. It draws what the logic shows, forwards the operator's actions and
// posts the run's events to its own thread; it decides nothing itself.

#include "settings/Profile.h"
#include "window/WindowLogic.h"
#include "window/WindowView.h"

#include <QDialog>
#include <QIcon>

#include <cstdint>
#include <memory>

class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace veltrad {

class CVeltradDlg final : public QDialog, public IWindowView {
    Q_OBJECT

public:
    // `profile` holds the port index and the [Ports] map. `clock` and `port`
    // may be null for the system's (tests inject their own).
    explicit CVeltradDlg(CProfile profile, QWidget* parent = nullptr, IClock* clock = nullptr,
                         ISerialPort* port = nullptr);
    ~CVeltradDlg() override;

    // Initialises the window once (which may report the saved port before it
    // shows), then shows it application-modal and returns; the caller's
    // event loop runs it. False when it was ended meanwhile.
    bool ShowModal();
    int exec() override;
    // Escape, the close box, Alt+F4 (reject) and Enter off a button (accept)
    // end the window through the logic, which ends the run first.
    void accept() override;
    void reject() override;

    // A signal or the application quitting: close what is open on top of the
    // window, then end as the close box would (the port index is not saved).
    void OnEndRequested();
    // The desktop session is about to end: port closed, worker joined.
    void OnSessionEnding();

    CWindowLogic& Logic() { return *m_logic; }

signals:
    // After the last event of the current run was shown.
    void RunEnded(std::uint64_t runId, veltrad::RunOutcome outcome);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // IWindowView
    void ShowPorts(const std::vector<PortEntry>& ports, int selected) override;
    void ShowFile(const std::string& name, const std::string& sizeText) override;
    void SetProgressRange(std::uint32_t maximum) override;
    void SetProgressPos(std::uint32_t position) override;
    void EnableControls(bool enable) override;
    void ShowNotice(Notice notice) override;
    void ShowMessage(const WindowMessage& message) override;
    void ShowAbout() override;
    std::optional<std::filesystem::path> ChooseFile() override;
    void EndDialog(bool ok) override;
    void PostRunEvents() override;
    void OnRunEnded(std::uint64_t runId, RunOutcome outcome) override;

    // On the window's thread, queued by PostRunEvents.
    Q_INVOKABLE void DeliverRunEvents();
    void Initialise();

    std::unique_ptr<CWindowLogic> m_logic;
    QIcon m_hIcon;
    QPushButton* m_btnOpenFile = nullptr;
    QPushButton* m_btnStop = nullptr;
    QPushButton* m_btnDownload = nullptr;
    QPushButton* m_btnClose = nullptr;
    QComboBox* m_comboPort = nullptr;
    QWidget* m_portPopup = nullptr;  // the port list's drop-down, watched for its opening
    QLineEdit* m_editFileName = nullptr;
    QLineEdit* m_editFileSize = nullptr;
    QProgressBar* m_progress = nullptr;
    bool m_bInitialised = false;
};

}  // namespace veltrad
