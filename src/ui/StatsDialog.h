#pragma once
// Deck strength in the window: the win rates of the two teams that the editor shows,
// over many battles played on worker threads while the window stays in use. The
// dialog takes the teams and the catalogue once, when a run starts, so later changes
// in the editor never reach a running computation; cancelling keeps what was counted
// so far.
//
// It holds no statistics of its own: playStatistics in the core plays and counts,
// exactly as morvane-cli stats does for the same seed.

#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "stats/Statistics.h"

#include <QDialog>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace morvane {

class Clock;
class Tmain;

// The picture of a result: the win shares of both sides as one bar, and a histogram
// of battle lengths below it.
class StatsChart : public QWidget {
    Q_OBJECT
public:
    explicit StatsChart(QWidget* parent = nullptr);
    void setResult(const StatsResult& result);
    void clear();
    QSize sizeHint() const override { return {420, 200}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<StatsResult> result_;
};

class StatsDialog : public QDialog {
    Q_OBJECT
public:
    // teams is asked for at every start: the selections as they stand then.
    StatsDialog(const CardCatalogue& catalogue, std::function<Teams()> teams, const Clock& clock,
                QWidget* parent = nullptr);
    // Cancels a running computation and waits for its threads.
    ~StatsDialog() override;

    // Starts a run of BattleCount battles with a fresh seed from the clock. Does
    // nothing while one runs.
    void start();
    void cancel();
    bool running() const { return worker_.joinable(); }

    // The last run: its seed, teams and result (empty before the first run ends).
    uint32_t seed() const { return seed_; }
    const Teams& teams() const { return runTeams_; }
    const std::optional<StatsResult>& result() const { return result_; }

    QSpinBox* BattleCount = nullptr;
    QPushButton* StartBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    QProgressBar* Progress = nullptr;
    QLabel* ResultLabel = nullptr;
    StatsChart* Chart = nullptr;

Q_SIGNALS:
    // Emitted on the window's thread when a run has ended, finished or cancelled.
    void runEnded();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void showProgress(uint64_t done, uint64_t total);
    void finish(std::optional<StatsResult> result, const QString& error);
    void setRunning(bool running);

    const CardCatalogue& catalogue_;
    std::function<Teams()> teams_;
    const Clock& clock_;
    // What a running computation reads; copied at its start and left alone until it ends.
    CardCatalogue runCatalogue_;
    Teams runTeams_;
    uint32_t seed_ = 0;
    std::atomic<bool> cancel_{false};
    std::thread worker_;
    std::optional<StatsResult> result_;
};

// Adds the menu command that opens the deck strength dialog of the window (one per
// window, made on first use).
void addDeckStrengthCommand(Tmain& window);

} // namespace morvane
