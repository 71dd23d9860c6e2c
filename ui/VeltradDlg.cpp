#include "ui/VeltradDlg.h"

#include "serial/PortMap.h"
#include "ui/DialogLook.h"
#include "ui/NoticeDialogs.h"
#include "ui/RunEventBridge.h"
#include "ui_VeltradDlg.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace veltrad {
namespace {

constexpr char kComPortSection[] = "ComPort";
constexpr char kPortNumKey[] = "Port Num";
constexpr int kDefaultPortIndex = 0;

QString FromNative(const std::string& text) {
    return QFile::decodeName(QByteArray::fromStdString(text));
}

std::filesystem::path ToNativePath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

QString OpenFileFilter() {
#ifdef Q_OS_WIN
    return QStringLiteral("Binary Files (*.bin);;All Files (*.*)");
#else
    // "*.*" would hide files without a dot here; "*" means what it means on Windows.
    return QStringLiteral("Binary Files (*.bin);;All Files (*)");
#endif
}

}  // namespace

QString AboutMenuText() { return QStringLiteral("Veltrad 정보(&A)..."); }

CVeltradDlg::CVeltradDlg(CProfile profile, QWidget* parent, IClock* clock)
    : QDialog(parent),
      m_profile(std::move(profile)),
      m_bridge(std::make_unique<CRunEventBridge>(*this)),
      m_session(std::make_unique<CDownloadSession>(*m_bridge, clock)),
      m_hIcon(ApplicationIcon()) {
    Ui::VeltradDlg form;
    form.setupUi(this);
    PrepareTemplateDialog(*this, DialogFrame::Main);

    m_btnOpenFile = form.openFile1004;
    m_btnStop = form.stop1016;
    m_btnDownload = form.download1015;
    m_btnClose = form.close1013;
    m_comboPort = form.comboPort1007;
    m_editFileName = form.fileName1000;
    m_editFileSize = form.fileSize1001;
    m_progress = form.progress1006;

    // The window has no default button: Enter acts on the focused button only.
    for (QPushButton* button : {m_btnOpenFile, m_btnStop, m_btnDownload, m_btnClose})
        button->setDefault(false);

    connect(m_comboPort, &QComboBox::activated, this, &CVeltradDlg::OnSelChangePort);
    connect(m_btnClose, &QPushButton::clicked, this, &CVeltradDlg::OnCloseDialog);
    connect(m_btnOpenFile, &QPushButton::clicked, this, &CVeltradDlg::OnOpenFile);
    connect(m_btnDownload, &QPushButton::clicked, this, &CVeltradDlg::OnDownload);
    connect(m_btnStop, &QPushButton::clicked, this, &CVeltradDlg::OnStop);
}

CVeltradDlg::~CVeltradDlg() {
    // The worker uses the session and posts to this object: it must be gone
    // before either is.
    EndRun();
}

bool CVeltradDlg::ShowModal() {
    if (!m_bInitialised)
        OnInitDialog();
    // A request to end can come while the port message of the start-up is
    // still up; the window then never shows.
    if (m_bEndRequested)
        return false;
    setWindowModality(Qt::ApplicationModal);
    show();
    return true;
}

int CVeltradDlg::exec() {
    if (!m_bInitialised)
        OnInitDialog();
    if (m_bEndRequested)
        return QDialog::Rejected;
    return QDialog::exec();
}

void CVeltradDlg::done(int result) {
    EndRun();
    QDialog::done(result);
}

bool CVeltradDlg::OnInitDialog() {
    m_bInitialised = true;
    AppendSystemMenuEntry();
    setWindowIcon(m_hIcon);
    LoadPortSetting();
    InitControls();
    TestSelectedPort();
    m_btnOpenFile->setFocus(Qt::OtherFocusReason);
    return true;
}

void CVeltradDlg::LoadPortSetting() {
    UpdateData(true);
    m_nSavedPortIndex = m_profile.GetProfileInt(kComPortSection, kPortNumKey, kDefaultPortIndex);
    UpdateData(false);
}

void CVeltradDlg::InitControls() {
    UpdateData(true);
    for (int index = 0; index < m_comboPort->count(); ++index) {
        const auto port = static_cast<std::uint16_t>(index + 1);
        const auto device = ResolvePortDevice(port, m_profile.Path());
        m_comboPort->setItemData(index, device ? FromNative(*device) : QString(), Qt::ToolTipRole);
    }
    // An index outside the list selects nothing.
    const bool inList = m_nSavedPortIndex >= 0 && m_nSavedPortIndex < m_comboPort->count();
    m_comboPort->setCurrentIndex(inList ? m_nSavedPortIndex : -1);
    ShowSelectedDevice();
    m_progress->setValue(m_progress->minimum());
    UpdateData(false);
}

void CVeltradDlg::TakeSelectedPort() {
    UpdateData(true);
    // -1 with nothing selected, so port 0, which names no device.
    m_nPort = static_cast<std::uint16_t>(m_comboPort->currentIndex() + 1);
    m_session->SelectPort(m_nPort);
}

void CVeltradDlg::TestSelectedPort() {
    TakeSelectedPort();
    // The session closes a port that a timed-out or refused run left open
    // before it tries the new one.
    if (!m_session->TestSelectedPort())
        ReportPortOpenFail();
    UpdateData(false);
}

bool CVeltradDlg::OpenSelectedPort() {
    TakeSelectedPort();
    if (m_session->OpenSelectedPort())
        return true;
    ReportPortOpenFail();
    return false;
}

void CVeltradDlg::OnSelChangePort() {
    UpdateData(true);
    ShowSelectedDevice();
    TestSelectedPort();
    UpdateData(false);
}

void CVeltradDlg::SavePortSetting() {
    UpdateData(true);
    // -1 when nothing is selected; the next start then selects nothing again.
    m_profile.WriteProfileInt(kComPortSection, kPortNumKey, m_comboPort->currentIndex());
}

void CVeltradDlg::EnableControls(bool enable) {
    m_comboPort->setEnabled(enable);
    m_btnOpenFile->setEnabled(enable);
    m_btnDownload->setEnabled(enable);
}

void CVeltradDlg::OnOpenFile() {
    UpdateData(true);
    const QString chosen =
        QFileDialog::getOpenFileName(this, QString(), QString(), OpenFileFilter());
    if (chosen.isEmpty())
        return;

    ImageError error;
    const bool readable = m_session->OpenFile(ToNativePath(chosen), &error);
    const CDownloadImage& image = m_session->Image();
    m_strFileName = FromNative(image.m_strFileName);
    // The size of an earlier file beside this file's name would be a lie.
    m_strFileSize = readable ? FromNative(image.m_strFileSize) : QString();
    UpdateData(false);
    if (!readable)
        ReportFileError(error);
}

void CVeltradDlg::OnCloseDialog() {
    // Closes the port if it is open and waits for a worker, which must be
    // done with the frames before they go.
    EndRun();
    if (!m_strFileName.isEmpty()) {
        m_session->Image().ResetFileInfo();
        m_strFileName.clear();
        m_strFileSize.clear();
        UpdateData(false);
    }
    SavePortSetting();
    reject();
}

void CVeltradDlg::OnDownload() {
    UpdateData(true);
    TakeSelectedPort();
    ImageError fileError;
    const StartResult result = m_session->OnDownload(&fileError);
    switch (result) {
    case StartResult::Started:
        m_nShownRunId = m_session->CurrentRunId();
        m_bShownRunStopped = false;
        m_progress->setRange(0, static_cast<int>(m_session->FrameCount()));
        m_progress->setValue(0);
        EnableControls(false);
        break;
    case StartResult::FileError:
        ReportFileError(fileError);
        break;
    case StartResult::NothingToSend:
        ReportMessage(QStringLiteral("Nothing to send: every byte of %1 is zero.")
                          .arg(m_strFileName.isEmpty() ? QStringLiteral("the file") : m_strFileName),
                      QStringLiteral("No port was opened."));
        break;
    case StartResult::PortOpenFailed:
        m_progress->setRange(0, static_cast<int>(m_session->FrameCount()));
        m_progress->setValue(0);
        ReportPortOpenFail();
        break;
    case StartResult::ThreadFailed:
        ReportMessage(QStringLiteral("The download could not be started."),
                      QStringLiteral("The system could not start one more thread. "
                                     "The port was closed again."));
        break;
    }
}

void CVeltradDlg::OnStop() {
    m_bShownRunStopped = true;
    m_session->OnStop();
    EnableControls(true);
    m_progress->setValue(0);
}

void CVeltradDlg::OnSysCommand(unsigned id, std::intptr_t param) {
    Q_UNUSED(param);
    if ((id & 0xFFF0u) == kIdmAboutBox) {
        CAboutDlg about(this);
        about.exec();
        return;
    }
    switch (id & 0xFFF0u) {
    case kScClose:
        close();
        break;
    case kScMinimize:
        showMinimized();
        break;
    case kScRestore:
        showNormal();
        break;
    default:
        break;
    }
}

void CVeltradDlg::OnEndRequested() {
    m_bEndRequested = true;
    EndRun();
    // Notices, the file dialog, message boxes: each returns to its caller,
    // which then finds the window ending.
    const QList<QWidget*> windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        auto* dialog = qobject_cast<QDialog*>(window);
        if (dialog && dialog != this && dialog->isVisible() && dialog->isModal())
            dialog->reject();
    }
    if (isVisible())
        done(QDialog::Rejected);
}

void CVeltradDlg::OnSessionEnding() {
    // As the stop button would, so the window is usable should the logout
    // be cancelled; then the worker is joined.
    OnStop();
    EndRun();
}

void CVeltradDlg::ShowCompleteNotice() {
    CCompleteDlg notice(this);
    notice.exec();
}

void CVeltradDlg::ShowCommErrorNotice() {
    CCommErrorDlg notice(this);
    notice.exec();
}

void CVeltradDlg::ShowCommErrorRetryNotice() {
    CCommErrorRetryDlg notice(this);
    notice.exec();
}

void CVeltradDlg::ShowFailNotice() {
    CFailDlg notice(this);
    notice.exec();
}

void CVeltradDlg::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
        !qobject_cast<QPushButton*>(focusWidget())) {
        // With no default button, Enter outside a button ends the dialog the
        // way OK does: no port index saved.
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CVeltradDlg::contextMenuEvent(QContextMenuEvent* event) {
    // The window manager owns the window menu here, so the About entry lives
    // in the dialog's own context menu.
    QMenu menu(this);
    QAction* about = menu.addAction(AboutMenuText());
    connect(about, &QAction::triggered, this, [this] { OnSysCommand(kIdmAboutBox, 0); });
    menu.exec(event->globalPos());
}

void CVeltradDlg::AppendSystemMenuEntry() {
#ifdef Q_OS_WIN
    HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(winId()), FALSE);
    const QString text = AboutMenuText();
    if (menu && !text.isEmpty()) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, kIdmAboutBox, reinterpret_cast<LPCWSTR>(text.utf16()));
    }
#endif
}

#ifdef Q_OS_WIN
bool CVeltradDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message == WM_SYSCOMMAND && (msg->wParam & 0xFFF0u) == kIdmAboutBox) {
        OnSysCommand(static_cast<unsigned>(msg->wParam), msg->lParam);
        *result = 0;
        return true;
    }
    return QDialog::nativeEvent(eventType, message, result);
}
#endif

void CVeltradDlg::OnRunProgressStep(std::uint64_t runId) {
    if (IsCurrentRun(runId) && !m_bShownRunStopped)
        m_progress->setValue(m_progress->value() + 1);
}

void CVeltradDlg::OnRunProgressReset(std::uint64_t runId) {
    if (IsCurrentRun(runId))
        m_progress->setValue(0);
}

void CVeltradDlg::OnRunEnableControls(std::uint64_t runId, bool enable) {
    if (IsCurrentRun(runId))
        EnableControls(enable);
}

void CVeltradDlg::OnRunNotice(std::uint64_t runId, Notice notice) {
    if (!IsCurrentRun(runId))
        return;
    switch (notice) {
    case Notice::Complete:
        ShowCompleteNotice();
        break;
    case Notice::CommError:
        ShowCommErrorNotice();
        break;
    case Notice::CommErrorRetry:
        ShowCommErrorRetryNotice();
        break;
    case Notice::Fail:
        ShowFailNotice();
        break;
    }
}

void CVeltradDlg::OnRunEnded(std::uint64_t runId, RunOutcome outcome) {
    if (IsCurrentRun(runId))
        emit RunEnded(runId, outcome);
}

bool CVeltradDlg::IsCurrentRun(std::uint64_t runId) const {
    return runId != 0 && runId == m_nShownRunId;
}

void CVeltradDlg::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_strFileName = m_editFileName->text();
        m_strFileSize = m_editFileSize->text();
    } else {
        m_editFileName->setText(m_strFileName);
        m_editFileSize->setText(m_strFileSize);
    }
}

void CVeltradDlg::ReportPortOpenFail() {
    const std::string reason = m_session->Comm().LastOpenError();
    const auto device = ResolvePortDevice(m_nPort, m_profile.Path());
    QString detail;
    if (device)
        detail = FromNative(*device);
    if (!reason.empty())
        detail += (detail.isEmpty() ? QString() : QStringLiteral(": ")) + FromNative(reason);
    ReportMessage(QStringLiteral("Port open fail : COM%1").arg(m_nPort), detail);
}

void CVeltradDlg::ReportFileError(const ImageError& error) {
    const QString path = FromNative(error.path.string());
    ReportMessage(QStringLiteral("Cannot read the file %1").arg(path), FromNative(error.reason));
}

void CVeltradDlg::ReportMessage(const QString& text, const QString& detail) {
    QMessageBox box(QMessageBox::Warning, QApplication::applicationName(), text, QMessageBox::Ok,
                    this);
    if (!detail.isEmpty())
        box.setInformativeText(detail);
    box.exec();
}

void CVeltradDlg::ShowSelectedDevice() {
    m_comboPort->setToolTip(m_comboPort->currentData(Qt::ToolTipRole).toString());
}

void CVeltradDlg::EndRun() {
    m_nShownRunId = 0;
    if (m_session)
        m_session->StopAndJoin();
}

}  // namespace veltrad
