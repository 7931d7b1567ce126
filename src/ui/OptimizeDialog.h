#pragma once
// The team optimizer in the window: searches, on worker threads while the window stays
// in use, for a better team than the one a side's selectors show, against the other
// side's deck list or a deck file, and puts the result into that side's selectors on
// request. The dialog takes the catalogue, the start team and the field once, when a
// run starts, so later edits never reach a running search.
//
// It holds no search of its own: optimizeAndMeasure in the core does the work, exactly
// as morvane-cli optimize does for the same seed and settings.

#include "cards/CardCatalogue.h"
#include "optimize/Optimization.h"
#include "ui/BackgroundRun.h"

#include <QDialog>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace morvane {

class Clock;

// What a finished run found: the search, and the found and the start team measured on
// fresh seeds.
struct OptimizeRun {
    int side = 0; // the editor's side whose team was the start
    Optimization run;
};

// What the dialog takes from the window.
struct OptimizeInputs {
    const CardCatalogue* catalogue = nullptr;
    std::function<Teams()> teams;                                   // the selections as they stand
    std::function<std::vector<std::string>(int side)> deckLines;    // a side's stored deck lines
    std::function<void(int side, const SideSelection& team)> apply; // into that side's selectors
    const Clock* clock = nullptr;
};

class OptimizeDialog : public QDialog {
    Q_OBJECT
public:
    // Battles per field deck and side of the measurement after a search.
    static constexpr uint64_t FinalBattles = DefaultFinalBattles;

    OptimizeDialog(OptimizeInputs inputs, QWidget* parent = nullptr);

    // Starts a search with a fresh seed from the clock, or says on the status line why
    // it cannot start (the last result stays). Does nothing while one runs.
    void start();
    // Stops the search and the measurement after it.
    void cancel() { run_.stop(); }
    // Puts the found team into the selectors of the side it was found for.
    void apply();
    bool running() const { return run_.running(); }

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
    QLabel* StatusLabel = nullptr; // the phase under way, or why a run could not start
    QLabel* BestLabel = nullptr;
    QPlainTextEdit* ResultText = nullptr;

Q_SIGNALS:
    // Emitted on the window's thread when a run has ended: finished, cancelled or failed,
    // or could not start.
    void runEnded();

private:
    // The parts of the dialog, made in this order by the constructor.
    void makeControls();
    void layOutControls();
    void connectControls();
    OptimizeRequest makeRequest() const;
    void showSearch(const OptimizeProgress& progress);
    void showMeasurement(uint64_t done, uint64_t total);
    void finish();
    void updateButtons();
    QString teamText(const SideSelection& team) const;

    OptimizeInputs inputs_;
    // What a running search reads; set at its start and left alone until it ends.
    CardCatalogue runCatalogue_;
    OptimizeRequest request_;
    int runSide_ = 0;
    std::optional<Optimization> found_; // written by the run, read once it has ended
    std::optional<OptimizeRun> outcome_;
    BackgroundRun run_{this};
};

} // namespace morvane
