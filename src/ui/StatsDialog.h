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
#include "ui/BackgroundRun.h"

#include <QDialog>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace morvane {

class Clock;

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

    // Starts a run of BattleCount battles with a fresh seed from the clock. Does
    // nothing while one runs, or while the count box holds no count it can take.
    void start();
    void cancel() { run_.stop(); }
    bool running() const { return run_.running(); }

    // The last run: its seed, teams and result (empty before the first run ends).
    uint32_t seed() const { return seed_; }
    const Teams& teams() const { return runTeams_; }
    const std::optional<StatsResult>& result() const { return result_; }

    QSpinBox* BattleCount = nullptr;
    QLabel* CountNote = nullptr; // why 開始 is off: a count the box cannot take
    QPushButton* StartBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    QProgressBar* Progress = nullptr;
    QLabel* ResultLabel = nullptr;
    StatsChart* Chart = nullptr;

Q_SIGNALS:
    // Emitted on the window's thread when a run has ended, finished or cancelled.
    void runEnded();

private:
    void showProgress(uint64_t done, uint64_t total);
    void finish();
    void updateButtons();

    const CardCatalogue& catalogue_;
    std::function<Teams()> teams_;
    const Clock& clock_;
    // What a running computation reads; copied at its start and left alone until it ends.
    CardCatalogue runCatalogue_;
    Teams runTeams_;
    uint32_t seed_ = 0;
    std::optional<StatsResult> result_; // written by the run, read once it has ended
    std::optional<StatsResult> outcome_;
    BackgroundRun run_{this};
};

} // namespace morvane
