#pragma once
// The main window's Tools menu: deck strength, the team optimizer, the card editor and
// the card balance, each a dialog put beside the window. The menu makes the dialogs on
// first use (the editor afresh whenever none is open) and wires them to the window
// through ToolInputs alone: what they read of it (the catalogue, the teams, the deck
// lists) and what they hand back (a found team, a saved catalogue). It holds no team or
// catalogue of its own.

#include "cards/Deck.h"

#include <QObject>
#include <QPointer>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

class QDialog;
class QMenu;
class QWidget;

namespace morvane {

class BalanceDialog;
struct BalanceInputs;
class CardCatalogue;
class CardEditorDialog;
class Clock;
class DocumentOpener;
class OptimizeDialog;
class StatsDialog;

// What the tools take from the window.
struct ToolInputs {
    const CardCatalogue* catalogue = nullptr; // the window's, as it stands
    std::function<Teams()> teams;             // the selections as they stand
    std::function<std::vector<std::string>(int side)> deckLines;
    std::function<void(int side, const SideSelection& team)> apply; // into that side's selectors
    std::function<std::filesystem::path()> cataloguePath;           // the card.dat the editor edits
    std::function<void()> catalogueSaved;                           // after every save of the editor and reread
    std::filesystem::path balancePage;                              // where the balance page is written
    std::filesystem::path editedBalancePage;                        // the same for the editor's catalogue
    DocumentOpener* opener = nullptr;
    const Clock* clock = nullptr;
};

class ToolMenu : public QObject {
    Q_OBJECT
public:
    // Adds the four commands to menu; the dialogs are children of window.
    ToolMenu(QWidget& window, QMenu& menu, ToolInputs inputs);

    StatsDialog* deckStrengthDialog();
    OptimizeDialog* teamOptimizerDialog();
    // The balance of the window's catalogue.
    BalanceDialog* cardBalanceDialog();
    // A new editor each time none is open: it reads card.dat afresh, and what a closed
    // one left unsaved goes with it.
    CardEditorDialog* cardEditorDialog();

    // Closes an open card editor as its close box does, asking about unsaved changes
    // first; false when the user keeps it open.
    bool closeCardEditor();

    // Puts a dialog beside the window where the screen has room, so the teams stay in
    // sight, and brings it to the front.
    void showTool(QDialog* dialog);

private:
    // Against both deck lists; the caller says which catalogue.
    BalanceInputs balanceInputs() const;
    // The balance of the catalogue as the editor holds it, saved or not: a dialog of
    // the editor's own, which goes (and stops its run) when the editor closes.
    void showEditedBalance(CardEditorDialog& editor);
    // The editor's proposals of changes, measured on the catalogue as it is edited.
    void showSuggestions(CardEditorDialog& editor);

    QWidget& window_;
    ToolInputs inputs_;
    StatsDialog* statsDialog_ = nullptr;
    OptimizeDialog* optimizeDialog_ = nullptr;
    BalanceDialog* balanceDialog_ = nullptr;
    QPointer<CardEditorDialog> cardEditor_;
};

} // namespace morvane
