#pragma once
// One tile of the station: draws a TileView and forwards its two buttons
// and a click (which selects it for the next serial number). Its parts are
// placed by hand: a tile short of room leaves out the least needed ones
// (station/TileLook.h), never drawing one over another.

#include "station/StationView.h"

#include <QFrame>

class QLabel;
class QProgressBar;
class QPushButton;

namespace veltrad {

class CTileWidget final : public QFrame {
    Q_OBJECT

public:
    explicit CTileWidget(QWidget* parent = nullptr);

    void Show(const TileView& tile);
    const TileView& Shown() const { return m_tile; }

    // Room for every part of a failed tile; at least the state, the port,
    // the reason's first line and the buttons.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void StartClicked();
    void StopClicked();
    void Selected();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void LayOutParts();

    TileView m_tile;
    QLabel* m_name = nullptr;
    QLabel* m_adapter = nullptr;
    QLabel* m_word = nullptr;
    QLabel* m_detail = nullptr;
    QLabel* m_hint = nullptr;
    QLabel* m_serial = nullptr;
    QLabel* m_counters = nullptr;
    QProgressBar* m_bar = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_stop = nullptr;
};

}  // namespace veltrad
