#pragma once
// The team optimizer in the window: searches, on worker threads while the window stays
// in use, for a better team than the one a side's selectors show, against the other
// side's deck list or a deck file, and puts the result into that side's selectors on
// request. The dialog takes the catalogue, the start team and the field once, when a
// run starts, so later edits never reach a running search.
//
// It holds no search of its own: optimizeTeam and measureTeam in the core do the work,
// exactly as morvane-cli optimize does for the same seed and settings.

#include "cards/CardCatalogue.h"
#include "optimize/Optimizer.h"

#include <QDialog>

#include <array>
#include <atomic>
#include <optional>
#include <thread>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace morvane {

class Tmain;

// What a finished run found: the search, and the found and the start team measured on
// fresh seeds.
struct OptimizeRun {
    int side = 0; // the editor's side whose team was the start
    OptimizeResult search;
    FieldScore best;
    FieldScore start;
};

class OptimizeDialog : public QDialog {
    Q_OBJECT
public:
    // Battles per field deck and side of the measurement after a search.
    static constexpr uint64_t FinalBattles = 1000;

    explicit OptimizeDialog(Tmain& window);
    // Cancels a running search and waits for its threads.
    ~OptimizeDialog() override;

    // Starts a search with a fresh seed from the clock, or shows why it cannot start.
    // Does nothing while one runs.
    void start();
    void cancel();
    // Puts the found team into the selectors of the side it was found for.
    void apply();
    bool running() const { return worker_.joinable(); }

    // The last run: its seed and request, and what it found (empty before a run ended
    // or when it failed).
    uint32_t seed() const { return request_.seed; }
    const OptimizeRequest& request() const { return request_; }
    const std::optional<OptimizeRun>& outcome() const { return outcome_; }

    QComboBox* TeamSide = nullptr;    // 上 / 下: the team to improve
    QComboBox* PlaySideBox = nullptr; // 両方 / 上 / 下: where it plays
    QComboBox* FieldChoice = nullptr; // the other side's deck list, or a deck file
    QLineEdit* FieldFile = nullptr;
    QPushButton* FieldBrowseBtn = nullptr;
    QSpinBox* Budget = nullptr;
    std::array<QCheckBox*, 9> KeepBox{}; // slots 1 to 8, then the vehicle
    QCheckBox* UniqueBox = nullptr;
    QCheckBox* SizeRuleBox = nullptr;
    QLineEdit* OwnedFile = nullptr;
    QPushButton* OwnedBrowseBtn = nullptr;
    QPushButton* StartBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    QPushButton* ApplyBtn = nullptr;
    QProgressBar* Progress = nullptr;
    QLabel* BestLabel = nullptr;
    QPlainTextEdit* ResultText = nullptr;

Q_SIGNALS:
    // Emitted on the window's thread when a run has ended: finished, cancelled or failed.
    void runEnded();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    OptimizeRequest makeRequest() const;
    void showProgress(const OptimizeProgress& progress);
    void finish(std::optional<OptimizeRun> run, const QString& error);
    void setRunning(bool running);
    QString teamText(const SideSelection& team) const;

    Tmain& window_;
    // What a running search reads; set at its start and left alone until it ends.
    CardCatalogue runCatalogue_;
    OptimizeRequest request_;
    int runSide_ = 0;
    std::atomic<bool> cancel_{false};  // ends the search (the measurement still runs)
    std::atomic<bool> closing_{false}; // ends everything
    std::thread worker_;
    std::optional<OptimizeRun> outcome_;
};

// Adds the Tools menu command that opens the window's team optimizer (one per window,
// made on first use).
void addTeamOptimizerCommand(Tmain& window);

} // namespace morvane
