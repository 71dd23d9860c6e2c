#include "ui/station/StationWindow.h"

#include "station/TileLook.h"
#include "station/ViewTexts.h"

#include "ui/DialogLook.h"
#include "ui/QuietKeys.h"
#include "ui/station/DesktopSound.h"
#include "ui/station/StationQt.h"
#include "ui/station/TileWidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <optional>

namespace veltrad {
namespace {

namespace text = station_text;

constexpr int kFontPoints = 10;
constexpr int kDevicesPollMs = 2000;  // how often unplugged adapters and kept records are looked at
constexpr int kMinTileWidth = 160;    // pixels; the grid takes as many columns as fit
// What a window manager's frame may take before the window is shown and
// its frame is known, in pixels.
constexpr int kUnknownFrame = 40;

using station_qt::kOwnDialog;
using station_qt::ToPath;

// "작업 파일 (*.ini);;모든 파일 (*)": "*.*" would hide files without a dot here.
QString Filter(const char* kind, const char* pattern)
{
    return QStringLiteral("%1 (%2);;%3 (*)")
        .arg(QString::fromUtf8(kind), QLatin1String(pattern), QString::fromUtf8(text::kAllFiles));
}

// A key that may be part of a scan: no Ctrl, Alt or Meta with it.
std::optional<ScanKey> ScanKeyOf(const QKeyEvent& key)
{
    if ((key.modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) != Qt::NoModifier)
        return std::nullopt;
    switch (key.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return ScanKey::Enter;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return ScanKey::Tab;
    default: break;
    }
    const QString typed = key.text();
    if (typed.isEmpty() || !typed.front().isPrint())
        return std::nullopt;
    return typed == QStringLiteral(" ") ? ScanKey::Space : ScanKey::Character;
}

}  // namespace

CStationWindow::CStationWindow(CPortMap ports, StationServices services, QWidget* parent)
    : QWidget(parent),
      m_logic(std::make_unique<CStationLogic>(static_cast<IStationView&>(*this), std::move(ports), std::move(services)))
{
    setObjectName(QStringLiteral("station"));
    setWindowTitle(QString::fromUtf8(text::kTitle));
    setWindowIcon(ApplicationIcon());
    setFont(DialogFont(kFontPoints));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuildJobPanel());
    m_tileArea = new QWidget(this);
    m_tileGrid = new QGridLayout(m_tileArea);
    layout->addWidget(m_tileArea, 1);
    layout->addWidget(BuildBottomBar());

    // F5 anywhere; Enter, Tab and characters as the scan rule says (eventFilter).
    qApp->installEventFilter(this);
    auto* f5 = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(f5, &QShortcut::activated, this, [this] { m_logic->OnStartAllIdle(); });
    m_devicesTimer = new QTimer(this);
    connect(m_devicesTimer, &QTimer::timeout, this, [this] {
        m_logic->OnDevicesChanged();
        m_logic->OnTick();
    });
    m_devicesTimer->start(kDevicesPollMs);
    // As large as a small job asks, within the screen's work area.
    const QSize work = screen() ? screen()->availableGeometry().size() - QSize(0, kUnknownFrame) : QSize(1000, 720);
    resize(QSize(1000, 720).boundedTo(work));
    m_logic->OnInit();
    m_serialEntry->setFocus(Qt::OtherFocusReason);
}

CStationWindow::~CStationWindow() = default;  // the logic joins every worker first

bool CStationWindow::Begin(const CProfile& settings, const std::optional<std::filesystem::path>& job)
{
    show();
    return m_logic->Begin(settings, job);
}

void CStationWindow::OnEndRequested()
{
    // Each modal box returns to its caller, which then finds the station ending.
    const QList<QWidget*> windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        auto* dialog = qobject_cast<QDialog*>(window);
        if (dialog && dialog->isVisible() && dialog->isModal())
            dialog->reject();
    }
    m_logic->OnEndRequested();
}

bool CStationWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return QWidget::eventFilter(watched, event);
    // Once per key, where it lands first: the focus, or the window itself.
    auto* widget = static_cast<QWidget*>(watched);
    QWidget* focus = focusWidget();
    if (widget->window() != this || widget != (focus ? focus : this))
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const std::optional<ScanKey> kind = ScanKeyOf(*key);
    if (!kind)
        return false;
    const auto* edit = qobject_cast<QLineEdit*>(widget);
    const KeyFocus where = widget == m_serialEntry       ? KeyFocus::SerialField
                           : edit && !edit->isReadOnly() ? KeyFocus::TextField
                                                         : KeyFocus::Elsewhere;
    // The system's key time: that of the key, not of its handling here.
    const auto ms = static_cast<std::uint32_t>(key->timestamp());
    switch (m_logic->OnKey(*kind, where, m_serialEntry->text().toStdString(), ms)) {
    case KeyRoute::AsUsual: return false;
    case KeyRoute::IntoField:
        // From elsewhere at the end of what the field holds; else at the cursor.
        if (widget != m_serialEntry) {
            m_serialEntry->setFocus(Qt::OtherFocusReason);
            m_serialEntry->end(false);
        }
        m_serialEntry->insert(*kind == ScanKey::Tab ? QStringLiteral("\t") : key->text());
        return true;
    case KeyRoute::Number: m_serialEntry->clear(); return true;
    case KeyRoute::Dropped:
    case KeyRoute::StartAll: return true;
    }
    return true;
}

void CStationWindow::closeEvent(QCloseEvent* event)
{
    if (m_bEnded) {
        event->accept();
        return;
    }
    // The logic asks, stops and joins, then ends the window through EndWindow,
    // which cannot close it again from in here.
    m_bInCloseEvent = true;
    m_logic->OnCloseRequested();
    m_bInCloseEvent = false;
    event->setAccepted(m_bEnded);
}

void CStationWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    LayOutTiles();
}

void CStationWindow::LayOutTiles() { LayOutTiles(width()); }

void CStationWindow::LayOutTiles(int windowWidth)
{
    const int count = static_cast<int>(m_tiles.size());
    // The window's width, not the area's: before the first show the area has none yet.
    const int columns = TileGridColumns(count, windowWidth / kMinTileWidth);
    if (columns == m_columns && m_tileGrid->count() == count)
        return;
    m_columns = columns;
    for (int i = 0; i < count; ++i)
        m_tileGrid->addWidget(m_tiles[static_cast<std::size_t>(i)], i / columns, i % columns);
}

void CStationWindow::ShowJob(const JobView& job)
{
    const bool editable = !job.locked;
    if (!m_name->hasFocus() || !editable)
        m_name->setText(FromUtf8(job.name));
    if (!m_ports->hasFocus() || !editable)
        m_ports->setText(FromUtf8(job.ports));
    m_name->setReadOnly(!editable);
    m_ports->setReadOnly(!editable);
    m_image->setText(FromUtf8(JobImageText(job)));
    m_image->setToolTip(FromUtf8(job.imagePath));
    m_sha->setText(FromUtf8(JobShaText(job)));
    m_sha->setToolTip(FromUtf8(job.sha));
    m_copySha->setEnabled(!job.sha.empty());
    m_serialNumbers->setChecked(job.serialNumbers);
    m_sounds->setChecked(job.sounds);
    m_records->setText(FromUtf8(job.records));
    m_locked->setText(job.locked ? FromUtf8(text::kLocked) : QString());
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_newJob, m_chooseImage, m_chooseRecords, m_serialNumbers, m_sounds})
        w->setEnabled(editable);
    m_editJob->setEnabled(job.locked);
    setWindowTitle(FromUtf8(StationTitle(job)));
}

void CStationWindow::ShowTiles(const std::vector<TileView>& tiles)
{
    while (m_tiles.size() > tiles.size()) {
        delete m_tiles.back();
        m_tiles.pop_back();
    }
    while (m_tiles.size() < tiles.size()) {
        const std::size_t index = m_tiles.size();
        auto* tile = new CTileWidget(m_tileArea);
        connect(tile, &CTileWidget::StartClicked, this, [this, index] { m_logic->OnStartTile(index); });
        connect(tile, &CTileWidget::StopClicked, this, [this, index] { m_logic->OnStopTile(index); });
        connect(tile, &CTileWidget::Selected, this, [this, index] {
            m_logic->OnSelectTile(index);
            m_serialEntry->setFocus(Qt::MouseFocusReason);
        });
        tile->show();  // counted by the layout at once, not only once shown later
        m_tiles.push_back(tile);
    }
    const bool newCount = m_columns == 0 || m_tileGrid->count() != static_cast<int>(tiles.size());
    m_columns = 0;
    LayOutTiles();
    for (std::size_t i = 0; i < tiles.size(); ++i)
        m_tiles[i]->Show(tiles[i]);
    if (newCount)
        FitToJob();
}

void CStationWindow::FitToJob()
{
    if (m_tiles.empty() || isMaximized() || isFullScreen() || !screen())
        return;
    // The screen's work area less the frame: the most the window may take.
    const QRect work = screen()->availableGeometry();
    const QSize frame = isVisible() ? frameGeometry().size() - size() : QSize(0, kUnknownFrame);
    const QSize room = work.size() - frame;
    // The grid as it would be that wide, every tile at the size that shows all of it.
    m_columns = 0;
    LayOutTiles(room.width());
    m_tileArea->updateGeometry();  // the grid's new tiles count at once
    layout()->invalidate();
    const QSize wanted = sizeHint().expandedTo(size()).boundedTo(room);
    m_columns = 0;
    resize(wanted);
    LayOutTiles();
    // Kept on the work area, frame and all.
    QRect placed(pos(), wanted + frame);
    if (!work.contains(placed)) {
        placed.moveRight(std::min(placed.right(), work.right()));
        placed.moveBottom(std::min(placed.bottom(), work.bottom()));
        placed.moveLeft(std::max(placed.left(), work.left()));
        placed.moveTop(std::max(placed.top(), work.top()));
        move(placed.topLeft());
    }
}

void CStationWindow::ShowTile(std::size_t index, const TileView& tile)
{
    if (index < m_tiles.size())
        m_tiles[index]->Show(tile);
}

void CStationWindow::ShowCounters(const StationCounters& c)
{
    m_counters->setText(FromUtf8(StationCountersText(c)));
    m_recordsWaiting->setText(FromUtf8(RecordsWaitingText(c)));
}

void CStationWindow::ShowScanStatus(const std::string& status)
{
    m_scanStatus->setText(FromUtf8(status));
    m_scanStatus->setToolTip(FromUtf8(status));
}

void CStationWindow::ShowMessage(const StationMessage& message)
{
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(text::kTitle), FromUtf8(message.text), QMessageBox::Ok,
                    this);
    if (!message.detail.empty())
        box.setInformativeText(FromUtf8(message.detail));
    ExecQuietly(box);
}

bool CStationWindow::AskEnd(const std::string& question)
{
    // Buttons that say what they do; going on is the default, so an Enter
    // meant for the station does not end it.
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(text::kTitle), FromUtf8(question), QMessageBox::NoButton,
                    this);
    QPushButton* end = box.addButton(QString::fromUtf8(text::kEndAll), QMessageBox::AcceptRole);
    QPushButton* goOn = box.addButton(QString::fromUtf8(text::kGoOn), QMessageBox::RejectRole);
    box.setDefaultButton(goOn);
    box.setEscapeButton(goOn);
    ExecQuietly(box);
    return box.clickedButton() == end;
}

std::optional<std::filesystem::path> CStationWindow::ChooseImage()
{
    const QString file = QFileDialog::getOpenFileName(this, QString(), QString(), Filter(text::kImageFiles, "*.bin"),
                                                      nullptr, kOwnDialog);
    return file.isEmpty() ? std::nullopt : std::optional(ToPath(file));
}

std::optional<std::filesystem::path> CStationWindow::ChooseJobToOpen()
{
    const QString file =
        QFileDialog::getOpenFileName(this, QString(), QString(), Filter(text::kJobFiles, "*.ini"), nullptr, kOwnDialog);
    return file.isEmpty() ? std::nullopt : std::optional(ToPath(file));
}

std::optional<std::filesystem::path> CStationWindow::ChooseJobToSave()
{
    const QString file = QFileDialog::getSaveFileName(this, QString(), FromUtf8(m_logic->Job().file),
                                                      Filter(text::kJobFiles, "*.ini"), nullptr, kOwnDialog);
    return file.isEmpty() ? std::nullopt : std::optional(ToPath(file));
}

void CStationWindow::PlaySound(StationSound sound)
{
    PlayDesktopSound(sound);
    emit SoundPlayed(static_cast<int>(sound));
}

void CStationWindow::OpenFolder(const std::filesystem::path& folder)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(folder.string().c_str())));
}

void CStationWindow::EndWindow()
{
    m_bEnded = true;
    m_devicesTimer->stop();
    if (!m_bInCloseEvent)
        close();
    emit Ended();
}

void CStationWindow::PostEvents()
{
    // By name, so nothing but the logic's own locked queue crosses threads.
    QMetaObject::invokeMethod(this, "DeliverEvents", Qt::QueuedConnection);
}

void CStationWindow::DeliverEvents() { m_logic->DeliverEvents(); }

}  // namespace veltrad
