#include "ui/station/StationWindow.h"

#include "station/TileLook.h"
#include "station/ViewTexts.h"

#include "ui/DialogLook.h"
#include "ui/QuietKeys.h"
#include "ui/station/DesktopSound.h"
#include "ui/station/TileWidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
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

namespace veltrad {
namespace {

namespace text = station_text;

constexpr int kFontPoints = 10;
constexpr int kDevicesPollMs = 2000;  // how often unplugged adapters and kept records are looked at
constexpr int kMinTileWidth = 160;    // pixels; the grid takes as many columns as fit
// What a window manager's frame may take before the window is shown and
// its frame is known, in pixels.
constexpr int kUnknownFrame = 40;

QString FromUtf8(const std::string& s) { return QString::fromUtf8(s); }

std::filesystem::path ToPath(const QString& file)
{
    return std::filesystem::path(QFile::encodeName(file).toStdString());
}

// "작업 파일 (*.ini);;모든 파일 (*)": "*.*" would hide files without a dot here.
QString Filter(const char* kind, const char* pattern)
{
    return QStringLiteral("%1 (%2);;%3 (*)")
        .arg(QString::fromUtf8(kind), QLatin1String(pattern), QString::fromUtf8(text::kAllFiles));
}

// Qt's own dialogs, which speak the toolkit's Korean whatever the desktop's language.
constexpr QFileDialog::Options kOwnDialog = QFileDialog::DontUseNativeDialog;

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

    // F5 anywhere; Enter where no field takes it (keyPressEvent).
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

QWidget* CStationWindow::BuildJobPanel()
{
    auto* box = new QGroupBox(this);
    auto* grid = new QGridLayout(box);
    auto button = [box](const char* label, const char* name) {
        auto* b = new QPushButton(QString::fromUtf8(label), box);
        b->setObjectName(QLatin1String(name));
        return b;
    };
    m_newJob = button(text::kNewJob, "newJob");
    QPushButton* newJob = m_newJob;
    auto* openJob = button(text::kOpenJob, "openJob");
    auto* saveJob = button(text::kSaveJob, "saveJob");
    m_editJob = button(text::kEditJob, "editJob");
    m_chooseImage = button(text::kChooseImage, "chooseImage");
    m_chooseRecords = button("...", "chooseRecords");
    auto* openRecords = button(text::kOpenRecords, "openRecords");
    m_name = new QLineEdit(box);
    m_name->setObjectName(QStringLiteral("jobName"));
    m_ports = new QLineEdit(box);
    m_ports->setObjectName(QStringLiteral("ports"));
    m_ports->setPlaceholderText(QStringLiteral("COM33 COM34 /dev/ttyACM0"));
    m_image = new QLabel(box);
    m_image->setObjectName(QStringLiteral("image"));
    m_sha = new QLabel(box);
    m_sha->setObjectName(QStringLiteral("sha"));
    m_sha->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_copySha = button(text::kCopy, "copySha");
    m_serialNumbers = new QCheckBox(QString::fromUtf8(text::kAskSerial), box);
    m_sounds = new QCheckBox(QString::fromUtf8(text::kSounds), box);
    m_records = new QLabel(box);
    m_records->setObjectName(QStringLiteral("records"));
    m_records->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_locked = new QLabel(box);
    auto label = [box](const char* t) { return new QLabel(QString::fromUtf8(t), box); };

    grid->addWidget(label(text::kJobName), 0, 0);
    grid->addWidget(m_name, 0, 1, 1, 3);
    grid->addWidget(m_locked, 0, 4);
    grid->addWidget(label(text::kImage), 1, 0);
    grid->addWidget(m_image, 1, 1);
    grid->addWidget(m_sha, 1, 2);
    grid->addWidget(m_copySha, 1, 3);
    grid->addWidget(m_chooseImage, 1, 4);
    grid->addWidget(label(text::kPorts), 2, 0);
    grid->addWidget(m_ports, 2, 1, 1, 3);
    grid->addWidget(m_serialNumbers, 2, 4);
    grid->addWidget(label(text::kRecords), 3, 0);
    grid->addWidget(m_records, 3, 1, 1, 2);
    grid->addWidget(m_chooseRecords, 3, 3);
    grid->addWidget(m_sounds, 3, 4);
    auto* row = new QHBoxLayout;
    for (QPushButton* b : {newJob, openJob, saveJob, m_editJob, openRecords})
        row->addWidget(b);
    m_recordsWaiting = new QLabel(box);
    m_recordsWaiting->setObjectName(QStringLiteral("recordsWaiting"));
    QFont bold = m_recordsWaiting->font();
    bold.setBold(true);
    m_recordsWaiting->setFont(bold);
    row->addWidget(m_recordsWaiting);
    row->addStretch(1);
    grid->addLayout(row, 4, 0, 1, 5);
    grid->setColumnStretch(1, 1);

    CStationLogic* logic = m_logic.get();
    connect(newJob, &QPushButton::clicked, this, [logic] { logic->OnNewJob(); });
    connect(openJob, &QPushButton::clicked, this, [logic] { logic->OnOpenJob(); });
    connect(saveJob, &QPushButton::clicked, this, [logic] { logic->OnSaveJob(); });
    connect(m_editJob, &QPushButton::clicked, this, [logic] { logic->OnEditJob(); });
    connect(m_chooseImage, &QPushButton::clicked, this, [logic] { logic->OnChooseImage(); });
    connect(openRecords, &QPushButton::clicked, this, [logic] { logic->OnOpenRecordsFolder(); });
    // The label has the first 16 digits; the clipboard gets all 64.
    connect(m_copySha, &QPushButton::clicked, this,
            [logic] { QApplication::clipboard()->setText(FromUtf8(logic->Job().sha)); });
    connect(m_chooseRecords, &QPushButton::clicked, this, [this, logic] {
        const QString folder = QFileDialog::getExistingDirectory(this, QString(), m_records->text(),
                                                                 kOwnDialog | QFileDialog::ShowDirsOnly);
        if (!folder.isEmpty())
            logic->OnRecordsFolder(ToPath(folder));
    });
    connect(m_name, &QLineEdit::editingFinished, this, [this, logic] {
        if (m_name->isModified())
            logic->OnJobName(m_name->text().toStdString());
        m_name->setModified(false);
    });
    connect(m_ports, &QLineEdit::editingFinished, this, [this, logic] {
        if (m_ports->isModified() && !logic->OnPortsText(m_ports->text().toStdString()))
            m_ports->setText(FromUtf8(logic->Job().ports));  // refused: back to what holds
        m_ports->setModified(false);
    });
    connect(m_serialNumbers, &QCheckBox::clicked, this, [logic](bool on) { logic->OnSerialNumbers(on); });
    connect(m_sounds, &QCheckBox::clicked, this, [logic](bool on) { logic->OnSounds(on); });
    return box;
}

QWidget* CStationWindow::BuildBottomBar()
{
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    m_serialEntry = new QLineEdit(bar);
    m_serialEntry->setObjectName(QStringLiteral("serialEntry"));
    m_serialEntry->setPlaceholderText(QString::fromUtf8(text::kAskSerial));
    auto* startAll = new QPushButton(QString::fromUtf8(text::kStartAll), bar);
    startAll->setObjectName(QStringLiteral("startAll"));
    auto* stopAll = new QPushButton(QString::fromUtf8(text::kStopAll), bar);
    stopAll->setObjectName(QStringLiteral("stopAll"));
    m_counters = new QLabel(bar);
    m_counters->setObjectName(QStringLiteral("stationCounters"));
    QFont big = m_counters->font();
    big.setPointSize(big.pointSize() + 3);
    big.setBold(true);
    m_counters->setFont(big);
    row->addWidget(new QLabel(QString::fromUtf8(text::kSerialNumber), bar));
    row->addWidget(m_serialEntry, 1);
    row->addWidget(startAll);
    row->addWidget(stopAll);
    row->addSpacing(20);
    row->addWidget(m_counters);
    CStationLogic* logic = m_logic.get();
    // A scanner types the number and Enter; Enter alone starts every idle tile.
    connect(m_serialEntry, &QLineEdit::returnPressed, this, [this, logic] {
        const std::string typed = m_serialEntry->text().toStdString();
        m_serialEntry->clear();
        logic->OnSerialEntered(typed);
    });
    connect(startAll, &QPushButton::clicked, this, [logic] { logic->OnStartAllIdle(); });
    connect(stopAll, &QPushButton::clicked, this, [logic] { logic->OnStopAll(); });
    return bar;
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

void CStationWindow::keyPressEvent(QKeyEvent* event)
{
    // Line edits hand Enter on after their own use of it; only elsewhere does it start.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && !qobject_cast<QLineEdit*>(focusWidget())) {
        m_logic->OnStartAllIdle();
        return;
    }
    QWidget::keyPressEvent(event);
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
