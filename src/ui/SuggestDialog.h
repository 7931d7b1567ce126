#pragma once
// The card editor's 「提案を見る...」: the changes 'morvane-cli balance --suggest' would
// propose for the catalogue as edited, each measured on a worker thread, listed with
// their figures; a chosen one goes into the editor as one step that undo takes back.

#include "balance/Suggest.h"
#include "optimize/Optimization.h"
#include "ui/BackgroundRun.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace morvane {

class Clock;

struct SuggestInputs {
    std::function<std::string()> catalogue;         // the catalogue's bytes as edited
    std::function<std::vector<DeckSource>()> field; // the field's deck lines and places
    // Puts a change into the editor; false (with why) where the card has changed since.
    std::function<bool(const FieldChange& change, QString& why)> apply;
    const Clock* clock = nullptr;
};

class SuggestDialog : public QDialog {
    Q_OBJECT
public:
    explicit SuggestDialog(SuggestInputs inputs, QWidget* parent = nullptr);

    void start();
    bool running() const { return run_.running(); }
    // The proposals of the last finished run, best first.
    const std::vector<Proposal>& proposals() const { return proposals_; }
    // Applies the proposal selected in the list.
    bool applySelected();

    QSpinBox* Searches = nullptr;
    QSpinBox* Budget = nullptr;
    QSpinBox* Candidates = nullptr;
    QPushButton* StartBtn = nullptr;
    QPushButton* ApplyBtn = nullptr;
    QTreeWidget* List = nullptr;
    QLabel* Status = nullptr;

private:
    void finish();

    SuggestInputs inputs_;
    std::optional<std::vector<SuggestRound>> outcome_;
    std::vector<Proposal> proposals_;
    BackgroundRun run_{this};
};

} // namespace morvane
