#pragma once
// The balance of a card set in the window: the analysis of morvane-cli balance, run on
// worker threads while the window stays in use, written as its page beside the
// catalogue and opened in the user's viewer. The card editor's button and the Tools
// menu both open it; each says which catalogue and which field to analyse, asked for
// when a run starts, so a catalogue edited later never reaches a running analysis.
//
// It holds no analysis of its own: analyseBalance in the core does the work, exactly as
// the command does for the same seed and settings.

#include "balance/Balance.h"
#include "cards/CardCatalogue.h"
#include "ui/BackgroundRun.h"

#include <QDialog>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace morvane {

class Clock;
class DocumentOpener;

// What the dialog takes from the window.
struct BalanceInputs {
    std::function<CardCatalogue()> catalogue;       // the catalogue to analyse, as it stands
    std::string cardsName;                          // how the page names it, UTF-8
    std::function<std::vector<DeckSource>()> field; // the field's deck lines (code page 932) and places
    std::filesystem::path page;                     // where the page is written
    DocumentOpener* opener = nullptr;
    const Clock* clock = nullptr;
};

class BalanceDialog : public QDialog {
    Q_OBJECT
public:
    BalanceDialog(BalanceInputs inputs, QWidget* parent = nullptr);

    // Starts an analysis with a fresh seed from the clock, or says on the status line
    // why it cannot start. Does nothing while one runs.
    void start();
    // Stops the searches: the teams found so far are still analysed.
    void stopSearches() { stopSearches_ = true; }
    // Stops the whole run; no page is written.
    void cancel() { run_.stop(); }
    bool running() const { return run_.running(); }

    // The last finished run (empty before, or when it failed or was cancelled).
    const std::optional<BalanceReport>& report() const { return report_; }
    uint32_t seed() const { return seed_; }

    QSpinBox* Searches = nullptr;
    QSpinBox* MaxSearches = nullptr;
    QSpinBox* Budget = nullptr;
    QPushButton* StartBtn = nullptr;
    QPushButton* StopBtn = nullptr;   // ends the searches, analyses what they found
    QPushButton* CancelBtn = nullptr; // ends everything
    QPushButton* OpenBtn = nullptr;   // opens the last page again
    QProgressBar* Progress = nullptr;
    QLabel* Status = nullptr;

Q_SIGNALS:
    // Emitted on the window's thread when a run has ended, however it ended.
    void runEnded();

private:
    void showProgress(const BalanceProgress& progress);
    void finish();
    void openPage();
    void updateButtons();
    // Why the numbers cannot start a run (a box that holds none it takes), or empty.
    QString refusal() const;

    BalanceInputs inputs_;
    QString shownRefusal_; // the refusal on the status line, if any
    uint32_t seed_ = 0;
    std::optional<CardCatalogue> runCatalogue_;
    std::vector<DeckSource> runField_;
    std::optional<BalanceReport> outcome_; // written by the worker
    std::optional<BalanceReport> report_;
    std::atomic<bool> stopSearches_{false};
    BackgroundRun run_{this}; // last: stopped before everything its work reads
};

} // namespace morvane
