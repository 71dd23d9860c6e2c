// The station's panels: the job above the tiles, the serial-number field
// and the buttons that start and stop below them.

#include "ui/station/StationWindow.h"

#include "station/TileLook.h"
#include "ui/station/StationQt.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QColor>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace veltrad {

namespace text = station_text;
using station_qt::kOwnDialog;
using station_qt::ToPath;

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
    // A refused scan is said here, in the failure's colour: no box to take the next scan's keys.
    m_scanStatus = new QLabel(bar);
    m_scanStatus->setObjectName(QStringLiteral("scanStatus"));
    m_scanStatus->setStyleSheet(
        QStringLiteral("color: %1; font-weight: bold;").arg(QColor(LookOf(TileState::Failed).word).name()));
    m_scanStatus->setMinimumWidth(0);
    m_scanStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row->addWidget(new QLabel(QString::fromUtf8(text::kSerialNumber), bar));
    row->addWidget(m_serialEntry, 1);
    row->addWidget(m_scanStatus, 2);
    row->addWidget(startAll);
    row->addWidget(stopAll);
    row->addSpacing(20);
    row->addWidget(m_counters);
    CStationLogic* logic = m_logic.get();
    // Enter, in the field or elsewhere, is the window's key filter's.
    connect(startAll, &QPushButton::clicked, this, [logic] { logic->OnStartAllIdle(); });
    connect(stopAll, &QPushButton::clicked, this, [logic] { logic->OnStopAll(); });
    return bar;
}

}  // namespace veltrad
