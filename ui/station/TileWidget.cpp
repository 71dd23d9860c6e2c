#include "ui/station/TileWidget.h"

#include "station/TileLook.h"
#include "station/ViewTexts.h"

#include "ui/DialogLook.h"

#include <QColor>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>

namespace veltrad {
namespace {

namespace text = station_text;

// Pixels.
constexpr int kMarginX = 8;
constexpr int kMarginY = 6;
constexpr int kGap = 3;
constexpr int kBarHeight = 8;
constexpr int kPreferredWidth = 230;
constexpr int kLeastWidth = 150;
// A reason takes three lines at most, what to check two.
constexpr int kDetailLines = 3;
constexpr int kHintLines = 2;

QString Colour(std::uint32_t rgb) { return QColor(static_cast<QRgb>(rgb)).name(); }

// The lines `text` takes wrapped at `width`, at most `most`; 0 when empty.
int WrappedLines(const QLabel& label, const QString& text, int width, int most)
{
    if (text.isEmpty())
        return 0;
    const QFontMetrics metrics(label.font());
    const QRect needed = metrics.boundingRect(QRect(0, 0, width, 1 << 20), Qt::TextWordWrap, text);
    return std::clamp((needed.height() + metrics.lineSpacing() - 1) / metrics.lineSpacing(), 1, most);
}

int LineOf(const QLabel& label) { return QFontMetrics(label.font()).lineSpacing(); }

}  // namespace

CTileWidget::CTileWidget(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("tile"));
    setFrameShape(QFrame::StyledPanel);
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
    m_adapter->setObjectName(QStringLiteral("adapter"));
    m_word->setObjectName(QStringLiteral("word"));
    m_detail->setObjectName(QStringLiteral("detail"));
    m_hint->setObjectName(QStringLiteral("hint"));
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
    for (QLabel* label : {m_detail, m_hint}) {
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    // Buttons start a run; the keyboard belongs to the serial number field.
    m_start->setFocusPolicy(Qt::NoFocus);
    m_stop->setFocusPolicy(Qt::NoFocus);
    m_bar->setTextVisible(false);
    m_counters->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    connect(m_start, &QPushButton::clicked, this, &CTileWidget::StartClicked);
    connect(m_stop, &QPushButton::clicked, this, &CTileWidget::StopClicked);
}

QSize CTileWidget::sizeHint() const
{
    const int line = LineOf(*m_detail);
    const int height = LineOf(*m_word) + LineOf(*m_name) + m_start->sizeHint().height() + kBarHeight +
                       (kDetailLines + kHintLines + 2) * line + static_cast<int>(kTilePartCount - 1) * kGap +
                       2 * kMarginY + 2 * frameWidth();
    return {kPreferredWidth, height};
}

QSize CTileWidget::minimumSizeHint() const
{
    // The state, the port, the reason's first line and the buttons.
    const int height = LineOf(*m_word) + LineOf(*m_name) + LineOf(*m_detail) + m_start->sizeHint().height() + 3 * kGap +
                       2 * kMarginY + 2 * frameWidth();
    return {kLeastWidth, height};
}

void CTileWidget::Show(const TileView& tile)
{
    m_tile = tile;
    const TileLook look = LookOf(tile.state);
    setStyleSheet(QStringLiteral("#tile { background: %1; border: %2 solid %3; border-radius: 6px; }")
                      .arg(Colour(look.background), tile.selected ? QStringLiteral("3px") : QStringLiteral("1px"),
                           Colour(tile.selected ? kTileSelectedBorder : kTileBorder)));
    m_word->setStyleSheet(QStringLiteral("color: %1;").arg(Colour(look.word)));
    m_name->setToolTip(FromUtf8(TileNameText(tile)));
    m_adapter->setToolTip(FromUtf8(tile.adapter));
    m_detail->setText(FromUtf8(tile.detail));
    m_detail->setToolTip(FromUtf8(tile.detail));
    m_hint->setText(FromUtf8(tile.hint));
    m_hint->setToolTip(FromUtf8(tile.hint));
    m_counters->setText(FromUtf8(TileCountersText(tile)));
    m_bar->setRange(0, static_cast<int>(tile.frames > 0 ? tile.frames : 1));
    m_bar->setValue(static_cast<int>(tile.acknowledged));
    m_start->setEnabled(tile.canStart);
    m_stop->setEnabled(tile.canStop);
    // Unplugged: every text pale, so the tiles that can work stand out.
    for (QLabel* label : {m_name, m_adapter, m_detail, m_hint, m_serial, m_counters})
        label->setEnabled(tile.state != TileState::NotPresent);
    LayOutParts();
}

void CTileWidget::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    LayOutParts();
}

void CTileWidget::LayOutParts()
{
    const QRect area = contentsRect().adjusted(kMarginX, kMarginY, -kMarginX, -kMarginY);
    const int width = std::max(1, area.width());
    const int line = LineOf(*m_detail);
    const int buttonHeight = m_start->sizeHint().height();
    TilePartNeeds needs{};
    const int detailLines = WrappedLines(*m_detail, m_detail->text(), width, kDetailLines);
    NeedOf(needs, TilePart::Word) = {1, LineOf(*m_word)};
    NeedOf(needs, TilePart::Name) = {1, LineOf(*m_name)};
    NeedOf(needs, TilePart::Detail) = {std::min(detailLines, 1), line};
    NeedOf(needs, TilePart::Buttons) = {1, buttonHeight};
    NeedOf(needs, TilePart::Bar) = {1, kBarHeight};
    NeedOf(needs, TilePart::MoreDetail) = {detailLines - 1, line};
    NeedOf(needs, TilePart::Serial) = {1, line};
    NeedOf(needs, TilePart::Hint) = {WrappedLines(*m_hint, m_hint->text(), width, kHintLines), line};
    NeedOf(needs, TilePart::Adapter) = {m_tile.adapter.empty() ? 0 : 1, line};
    const TilePartLines lines = FitTileParts(needs, kGap, area.height());

    // One line of text cut short at the tile's width, with its whole text in the tooltip.
    const auto elided = [width](QLabel* label, const std::string& text) {
        label->setText(QFontMetrics(label->font()).elidedText(FromUtf8(text), Qt::ElideRight, width));
    };
    elided(m_name, TileNameText(m_tile));
    elided(m_adapter, m_tile.adapter);
    elided(m_word, m_tile.word);

    // From the top: name, adapter, state, bar, reason, what to check.
    int y = area.top();
    const auto down = [&](QWidget* widget, int height, int gaps = 1) {
        widget->setVisible(height > 0);
        if (height == 0)
            return;
        widget->setGeometry(area.left(), y, width, height);
        y += height + gaps * kGap;
    };
    const auto heightOf = [&](TilePart part) {
        return LinesOf(lines, part) * needs[static_cast<std::size_t>(part)].lineHeight;
    };
    down(m_name, heightOf(TilePart::Name));
    down(m_adapter, heightOf(TilePart::Adapter));
    down(m_word, heightOf(TilePart::Word));
    down(m_bar, heightOf(TilePart::Bar));
    // The reason's lines are one text: whole lines only, the gap between
    // its two parts below it.
    down(m_detail, heightOf(TilePart::Detail) + heightOf(TilePart::MoreDetail),
         heightOf(TilePart::MoreDetail) > 0 ? 2 : 1);
    down(m_hint, heightOf(TilePart::Hint));

    // From the bottom: the buttons, and above them the serial number and the counters.
    int bottom = area.bottom() + 1;
    const bool buttons = LinesOf(lines, TilePart::Buttons) > 0;
    m_start->setVisible(buttons);
    m_stop->setVisible(buttons);
    if (buttons) {
        bottom -= buttonHeight;
        const int half = (width - kGap) / 2;
        m_start->setGeometry(area.left(), bottom, half, buttonHeight);
        m_stop->setGeometry(area.left() + half + kGap, bottom, width - half - kGap, buttonHeight);
        bottom -= kGap;
    }
    const bool serialRow = LinesOf(lines, TilePart::Serial) > 0;
    m_serial->setVisible(serialRow);
    m_counters->setVisible(serialRow);
    if (serialRow) {
        const int counters = std::min(width, QFontMetrics(m_counters->font()).horizontalAdvance(m_counters->text()));
        m_counters->setGeometry(area.left() + width - counters, bottom - line, counters, line);
        const int serialWidth = std::max(0, width - counters - 2 * kGap);
        m_serial->setGeometry(area.left(), bottom - line, serialWidth, line);
        m_serial->setText(
            QFontMetrics(m_serial->font()).elidedText(FromUtf8(TileSerialText(m_tile)), Qt::ElideRight, serialWidth));
        m_serial->setToolTip(FromUtf8(TileSerialText(m_tile)));
    }
}

void CTileWidget::mousePressEvent(QMouseEvent* event)
{
    emit Selected();
    QFrame::mousePressEvent(event);
}

}  // namespace veltrad
