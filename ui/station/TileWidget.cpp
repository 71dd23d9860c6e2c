#include "ui/station/TileWidget.h"

#include "station/TileLook.h"
#include "station/ViewTexts.h"

#include <QColor>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>

namespace veltrad {
namespace {

namespace text = station_text;

QString FromUtf8(const std::string& s) { return QString::fromUtf8(s); }

QString Colour(std::uint32_t rgb) { return QColor(static_cast<QRgb>(rgb)).name(); }

}  // namespace

CTileWidget::CTileWidget(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("tile"));
    setFrameShape(QFrame::StyledPanel);
    setMinimumSize(220, 200);
    auto* grid = new QGridLayout(this);
    m_name = new QLabel(this);
    m_adapter = new QLabel(this);
    m_word = new QLabel(this);
    m_detail = new QLabel(this);
    m_hint = new QLabel(this);
    m_serial = new QLabel(this);
    m_counters = new QLabel(this);
    m_bar = new QProgressBar(this);
    m_start = new QPushButton(FromUtf8(text::kStart), this);
    m_stop = new QPushButton(FromUtf8(text::kStop), this);
    m_name->setObjectName(QStringLiteral("name"));
    m_word->setObjectName(QStringLiteral("word"));
    m_detail->setObjectName(QStringLiteral("detail"));
    m_serial->setObjectName(QStringLiteral("serial"));
    m_counters->setObjectName(QStringLiteral("counters"));
    m_start->setObjectName(QStringLiteral("start"));
    m_stop->setObjectName(QStringLiteral("stop"));
    QFont big = font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    m_word->setFont(big);
    QFont bold = font();
    bold.setBold(true);
    m_name->setFont(bold);
    // Wrapped texts get fixed room, so a long reason never pushes the rest
    // out of the tile: three lines for the reason, two for what to check.
    const int line = QFontMetrics(font()).lineSpacing();
    for (QLabel* label : {m_detail, m_hint}) {
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setFixedHeight((label == m_detail ? 3 : 2) * line + 2);
    }
    m_adapter->setFixedHeight(line);
    // Buttons start a run; the keyboard belongs to the serial number field.
    m_start->setFocusPolicy(Qt::NoFocus);
    m_stop->setFocusPolicy(Qt::NoFocus);
    m_bar->setTextVisible(false);
    m_bar->setFixedHeight(8);
    m_counters->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->setVerticalSpacing(3);
    grid->addWidget(m_name, 0, 0, 1, 2);
    grid->addWidget(m_adapter, 1, 0, 1, 2);
    grid->addWidget(m_word, 2, 0, 1, 2);
    grid->addWidget(m_bar, 3, 0, 1, 2);
    grid->addWidget(m_detail, 4, 0, 1, 2);
    grid->addWidget(m_hint, 5, 0, 1, 2);
    grid->addWidget(m_serial, 6, 0);
    grid->addWidget(m_counters, 6, 1);
    grid->setRowStretch(7, 1);
    grid->addWidget(m_start, 8, 0);
    grid->addWidget(m_stop, 8, 1);
    connect(m_start, &QPushButton::clicked, this, &CTileWidget::StartClicked);
    connect(m_stop, &QPushButton::clicked, this, &CTileWidget::StopClicked);
}

void CTileWidget::Show(const TileView& tile)
{
    m_tile = tile;
    const TileLook look = LookOf(tile.state);
    setStyleSheet(QStringLiteral("#tile { background: %1; border: %2 solid %3; border-radius: 6px; }")
                      .arg(Colour(look.background), tile.selected ? QStringLiteral("3px") : QStringLiteral("1px"),
                           Colour(tile.selected ? kTileSelectedBorder : kTileBorder)));
    m_word->setStyleSheet(QStringLiteral("color: %1;").arg(Colour(look.word)));
    m_name->setText(FromUtf8(TileNameText(tile)));
    m_adapter->setText(FromUtf8(tile.adapter));
    m_adapter->setToolTip(FromUtf8(tile.adapter));
    m_word->setText(FromUtf8(tile.word));
    m_detail->setText(FromUtf8(tile.detail));
    m_detail->setToolTip(FromUtf8(tile.detail));
    m_hint->setText(FromUtf8(tile.hint));
    m_serial->setText(FromUtf8(TileSerialText(tile)));
    m_counters->setText(FromUtf8(TileCountersText(tile)));
    m_bar->setRange(0, static_cast<int>(tile.frames > 0 ? tile.frames : 1));
    m_bar->setValue(static_cast<int>(tile.acknowledged));
    m_start->setEnabled(tile.canStart);
    m_stop->setEnabled(tile.canStop);
    // Unplugged: every text pale, so the tiles that can work stand out.
    for (QLabel* label : {m_name, m_adapter, m_detail, m_hint, m_serial, m_counters})
        label->setEnabled(tile.state != TileState::NotPresent);
}

void CTileWidget::mousePressEvent(QMouseEvent* event)
{
    emit Selected();
    QFrame::mousePressEvent(event);
}

}  // namespace veltrad
