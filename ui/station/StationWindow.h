#pragma once
// Veltrad Station on Linux: a thin Qt view over the station logic. It draws
// the job, the tiles and the counters, forwards the operator's actions and
// posts the workers' events to its own thread; it decides nothing itself.

#include "station/StationLogic.h"
#include "station/StationView.h"

#include <QWidget>

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace veltrad {

class CTileWidget;

class CStationWindow final : public QWidget, public IStationView {
    Q_OBJECT

public:
    // `ports` maps COM numbers to devices; `services` as the logic takes them
    // (tests give their own).
    explicit CStationWindow(CPortMap ports, StationServices services = {}, QWidget* parent = nullptr);
    ~CStationWindow() override;

    CStationLogic& Logic() { return *m_logic; }
    // Shows the window, then the logic's Begin: false when the station has
    // ended meanwhile, and the application's loop is not to run.
    bool Begin(const CProfile& settings, const std::optional<std::filesystem::path>& job);
    // A signal, the application quitting: close what is open on top of the
    // window (a question, a message, a file dialog), then end without asking.
    void OnEndRequested();
    CTileWidget* Tile(std::size_t index) const { return m_tiles.at(index); }

signals:
    void RunEnded(int index);
    void SoundPlayed(int sound);
    void Ended();

protected:
    void closeEvent(QCloseEvent* event) override;
    // Every key for this window: characters, Tab and Enter go the way the
    // logic's scan rule says, wherever the focus is.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // IStationView
    void ShowJob(const JobView& job) override;
    void ShowTiles(const std::vector<TileView>& tiles) override;
    void ShowTile(std::size_t index, const TileView& tile) override;
    void ShowCounters(const StationCounters& counters) override;
    void ShowScanStatus(const std::string& status) override;
    void ShowMessage(const StationMessage& message) override;
    bool AskEnd(const std::string& question) override;
    std::optional<std::filesystem::path> ChooseImage() override;
    std::optional<std::filesystem::path> ChooseJobToOpen() override;
    std::optional<std::filesystem::path> ChooseJobToSave() override;
    void PlaySound(StationSound sound) override;
    void OpenFolder(const std::filesystem::path& folder) override;
    void EndWindow() override;
    void PostEvents() override;
    void OnRunEnded(std::size_t index) override { emit RunEnded(static_cast<int>(index)); }

    Q_INVOKABLE void DeliverEvents();
    QWidget* BuildJobPanel();
    QWidget* BuildBottomBar();
    void LayOutTiles();
    void LayOutTiles(int windowWidth);
    // A new count of tiles: the window grows to show every tile whole where
    // the screen's work area has room, and stays on it.
    void FitToJob();

    std::unique_ptr<CStationLogic> m_logic;
    std::vector<CTileWidget*> m_tiles;
    QWidget* m_tileArea = nullptr;
    QGridLayout* m_tileGrid = nullptr;
    int m_columns = 0;
    QLineEdit* m_name = nullptr;
    QLabel* m_image = nullptr;
    QLabel* m_sha = nullptr;
    QLineEdit* m_ports = nullptr;
    QCheckBox* m_serialNumbers = nullptr;
    QCheckBox* m_sounds = nullptr;
    QLabel* m_records = nullptr;
    QLabel* m_recordsWaiting = nullptr;  // records kept until they can be written
    QLabel* m_locked = nullptr;
    QPushButton* m_newJob = nullptr;
    QPushButton* m_copySha = nullptr;
    QPushButton* m_editJob = nullptr;
    QPushButton* m_chooseImage = nullptr;
    QPushButton* m_chooseRecords = nullptr;
    QLineEdit* m_serialEntry = nullptr;
    QLabel* m_scanStatus = nullptr;  // a refused scan and why
    QLabel* m_counters = nullptr;
    QTimer* m_devicesTimer = nullptr;
    bool m_bEnded = false;
    bool m_bInCloseEvent = false;
};

}  // namespace veltrad
