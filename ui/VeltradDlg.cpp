#include "ui/VeltradDlg.h"

#include "ui/DialogLook.h"
#include "ui/NoticeDialogs.h"
#include "ui/QuietKeys.h"
#include "ui_VeltradDlg.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>

namespace veltrad {
namespace {

bool IsEnter(const QKeyEvent& key) { return key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter; }

}  // namespace

CVeltradDlg::CVeltradDlg(CProfile profile, QWidget* parent, IClock* clock, ISerialPort* port)
    : QDialog(parent),
      m_logic(std::make_unique<CWindowLogic>(static_cast<IWindowView&>(*this), std::move(profile), clock, port)),
      m_hIcon(ApplicationIcon())
{
    Ui::VeltradDlg form;
    form.setupUi(this);
    PrepareTemplateDialog(*this, DialogFrame::Main);
    setWindowIcon(m_hIcon);

    m_btnOpenFile = form.openFile1004;
    m_btnStop = form.stop1016;
    m_btnDownload = form.download1015;
    m_btnClose = form.close1013;
    m_comboPort = form.comboPort1007;
    m_editFileName = form.fileName1000;
    m_editFileSize = form.fileSize1001;
    m_progress = form.progress1006;

    // The window has no default button: Enter acts on the focused button only.
    // An Enter a button takes is asked of the logic first (eventFilter).
    for (QPushButton* button : {m_btnOpenFile, m_btnStop, m_btnDownload, m_btnClose}) {
        button->setDefault(false);
        button->installEventFilter(this);
    }

    // The drop-down is about to show: the logic marks the devices present now.
    m_portPopup = m_comboPort->view()->window();
    m_portPopup->installEventFilter(this);

    CWindowLogic* logic = m_logic.get();
    connect(m_comboPort, &QComboBox::activated, this, [this, logic](int index) {
        m_comboPort->setToolTip(m_comboPort->itemData(index, Qt::ToolTipRole).toString());
        logic->OnSelChangePort(index);
    });
    connect(m_btnClose, &QPushButton::clicked, this, [logic] { logic->OnCloseDialog(); });
    connect(m_btnOpenFile, &QPushButton::clicked, this, [logic] { logic->OnOpenFile(); });
    connect(m_btnDownload, &QPushButton::clicked, this, [logic] { logic->OnDownload(); });
    connect(m_btnStop, &QPushButton::clicked, this, [logic] { logic->OnStop(); });
}

CVeltradDlg::~CVeltradDlg() = default;  // the logic joins the worker first

void CVeltradDlg::Initialise()
{
    if (m_bInitialised)
        return;
    m_bInitialised = true;
    m_logic->OnInitDialog();
    m_btnOpenFile->setFocus(Qt::OtherFocusReason);
}

bool CVeltradDlg::ShowModal()
{
    Initialise();
    // A request to end can come while the port message of the start-up is
    // still up; the window then never shows.
    if (m_logic->EndRequested())
        return false;
    setWindowModality(Qt::ApplicationModal);
    show();
    return true;
}

int CVeltradDlg::exec()
{
    Initialise();
    if (m_logic->EndRequested())
        return QDialog::Rejected;
    return QDialog::exec();
}

void CVeltradDlg::accept() { m_logic->OnOK(); }

void CVeltradDlg::reject() { m_logic->OnCancel(); }

void CVeltradDlg::OnEndRequested()
{
    // Notices, the file dialog, message boxes: each returns to its caller,
    // which then finds the window ending.
    const QList<QWidget*> windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        auto* dialog = qobject_cast<QDialog*>(window);
        if (dialog && dialog != this && dialog->isVisible() && dialog->isModal())
            dialog->reject();
    }
    m_logic->OnEndRequested();
}

void CVeltradDlg::OnSessionEnding() { m_logic->OnSessionEnding(); }

bool CVeltradDlg::eventFilter(QObject* watched, QEvent* event)
{
    // Show comes before the drop-down is first painted.
    if (watched == m_portPopup && event->type() == QEvent::Show)
        m_logic->OnPortListOpening();
    // Right after a start, an Enter on a button (the stop button has the
    // focus then) is the hand going on, not a decision: it does nothing.
    if (event->type() == QEvent::KeyPress && qobject_cast<QPushButton*>(watched)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (IsEnter(*key) && !m_logic->TakesEnter(key->isAutoRepeat()))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CVeltradDlg::keyPressEvent(QKeyEvent* event)
{
    if (IsEnter(*event) && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
        !qobject_cast<QPushButton*>(focusWidget())) {
        // With no default button, Enter outside a button ends the window the
        // way OK does: no port index saved; not as the hand goes on after a start.
        if (m_logic->TakesEnter(event->isAutoRepeat()))
            accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CVeltradDlg::contextMenuEvent(QContextMenuEvent* event)
{
    // The window manager owns the window menu here, so the About entry lives
    // in the window's own context menu.
    QMenu menu(this);
    QAction* about = menu.addAction(FromUtf8(kAboutMenuText));
    connect(about, &QAction::triggered, this, [this] { m_logic->OnSysCommand(kIdmAboutBox); });
    menu.exec(event->globalPos());
}

void CVeltradDlg::ShowPorts(const std::vector<PortEntry>& ports, int selected)
{
    // The same names again (the list is opening): only tooltips and marks
    // change, so the open drop-down keeps its entries, selection and width.
    bool sameNames = m_comboPort->count() == static_cast<int>(ports.size());
    for (int i = 0; sameNames && i < m_comboPort->count(); ++i)
        sameNames = m_comboPort->itemText(i) == FromUtf8(ports[static_cast<std::size_t>(i)].name);
    if (!sameNames) {
        m_comboPort->clear();
        for (const PortEntry& port : ports)
            m_comboPort->addItem(FromUtf8(port.name));
    }
    // A present device's entry is bold: the same text, a glance tells it.
    QFont presentFont = m_comboPort->font();
    presentFont.setBold(true);
    for (int i = 0; i < m_comboPort->count(); ++i) {
        const PortEntry& port = ports[static_cast<std::size_t>(i)];
        m_comboPort->setItemData(i, FromUtf8(PortToolTip(port)), Qt::ToolTipRole);
        m_comboPort->setItemData(i, port.present ? QVariant(presentFont) : QVariant(), Qt::FontRole);
    }
    if (m_comboPort->currentIndex() != selected)
        m_comboPort->setCurrentIndex(selected);
    m_comboPort->setToolTip(m_comboPort->currentData(Qt::ToolTipRole).toString());
}

void CVeltradDlg::ShowFile(const std::string& name, const std::string& sizeText)
{
    m_editFileName->setText(FromUtf8(name));
    m_editFileSize->setText(FromUtf8(sizeText));
}

void CVeltradDlg::SetProgressRange(std::uint32_t maximum) { m_progress->setRange(0, static_cast<int>(maximum)); }

void CVeltradDlg::SetProgressPos(std::uint32_t position) { m_progress->setValue(static_cast<int>(position)); }

void CVeltradDlg::EnableControls(bool enable)
{
    // A control disabled under the focus would hand it on to the close
    // button, where the next Enter ends the window and the run: the stop
    // button takes it, as on Windows.
    if (!enable && (m_comboPort->hasFocus() || m_btnOpenFile->hasFocus() || m_btnDownload->hasFocus()))
        m_btnStop->setFocus(Qt::OtherFocusReason);
    m_comboPort->setEnabled(enable);
    m_btnOpenFile->setEnabled(enable);
    m_btnDownload->setEnabled(enable);
}

void CVeltradDlg::ShowNotice(Notice notice)
{
    switch (notice) {
    case Notice::Complete: {
        CCompleteDlg dialog(this);
        ExecQuietly(dialog);
        break;
    }
    case Notice::CommError: {
        CCommErrorDlg dialog(this);
        ExecQuietly(dialog);
        break;
    }
    case Notice::CommErrorRetry: {
        CCommErrorRetryDlg dialog(this);
        ExecQuietly(dialog);
        break;
    }
    case Notice::Fail: {
        CFailDlg dialog(this);
        ExecQuietly(dialog);
        break;
    }
    }
}

void CVeltradDlg::ShowMessage(const WindowMessage& message)
{
    QMessageBox box(QMessageBox::Warning, QApplication::applicationName(), FromUtf8(message.text), QMessageBox::Ok,
                    this);
    if (!message.detail.empty())
        box.setInformativeText(FromUtf8(message.detail));
    ExecQuietly(box);
}

void CVeltradDlg::ShowAbout()
{
    CAboutDlg about(this);
    about.exec();
}

std::optional<std::filesystem::path> CVeltradDlg::ChooseFile()
{
    // "*.*" would hide files without a dot here; "*" means what it means on Windows.
    // Qt's own dialog, which speaks the toolkit's Korean whatever the desktop's language.
    const QString chosen =
        QFileDialog::getOpenFileName(this, QString(), QString(), QStringLiteral("Binary Files (*.bin);;All Files (*)"),
                                     nullptr, QFileDialog::DontUseNativeDialog);
    if (chosen.isEmpty())
        return std::nullopt;
    return std::filesystem::path(QFile::encodeName(chosen).toStdString());
}

void CVeltradDlg::EndDialog(bool ok) { QDialog::done(ok ? QDialog::Accepted : QDialog::Rejected); }

void CVeltradDlg::PostRunEvents()
{
    // By name, so nothing but the logic's own locked queue crosses threads.
    QMetaObject::invokeMethod(this, "DeliverRunEvents", Qt::QueuedConnection);
}

void CVeltradDlg::DeliverRunEvents() { m_logic->DeliverRunEvents(); }

void CVeltradDlg::OnRunEnded(std::uint64_t runId, RunOutcome outcome) { emit RunEnded(runId, outcome); }

}  // namespace veltrad
