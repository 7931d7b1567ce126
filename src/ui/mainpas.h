#pragma once
// Tmain: the program's working window. Its upper part edits the two teams (nine card
// selectors a side, their stat labels, the side's stored decks); the battle button
// starts a battle that the 20 ms Timer1 plays one turn per tick through the core
// engine. The window also carries the menus, the tray icon and the batch controls.
//
// The window holds no game rules of its own: the catalogue, the deck lists and the
// battle are the core's, and the selectors only say which card ids are chosen. Every
// handler runs through runHandler, so a failure shows its message and leaves the
// state as far as the handler got.

#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/Random.h"
#include "ui/Platform.h"

#include <QMainWindow>

#include <array>
#include <memory>
#include <optional>
#include <string_view>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace morvane {

class Battle;
class BatchRunner;
class FileReportSink;
class FolderUse;
class TIconTray;
class ToolMenu;
struct ToolInputs;
class Tstartup;

class Tmain : public QMainWindow {
    Q_OBJECT
public:
    // Lays the window out, adds the tray icon (which may throw EIconTrayError: then
    // the program cannot start) and runs FormCreate.
    Tmain(const Environment& env, const Tstartup& startup, QWidget* parent = nullptr);
    ~Tmain() override;

    // Creation: seeds the generator, loads the catalogue and both deck files, applies
    // the first deck of each side and computes the labels.
    void FormCreate();

    // Recomputes the size totals and the twenty stat labels from the selections.
    void DataAdd();
    // Apply a deck line to a side's selectors. They raise no change event and leave
    // the labels alone. Throw ConversionError for a column that is not a number,
    // after applying the columns before it.
    void Deck0Set(std::string_view line);
    void Deck1Set(std::string_view line);
    // The teams as the selectors show them (card id 0 where nothing is selected).
    Teams currentTeams() const;
    // Puts a team into a side's selectors and recomputes the labels, as picking a
    // stored deck does; the deck list is left alone.
    void TeamSet(int side, const SideSelection& team);
    // A side's stored deck lines, as its list shows them.
    const DeckList& deckList(int side) const { return decks_[side]; }
    // The program folder's card.dat.
    std::filesystem::path cataloguePath() const;
    // Reads card.dat again, after the card editor saved it: the selectors are filled
    // from the new catalogue, each side's team kept where its cards still exist, and
    // the labels recomputed. A battle under way plays on with the cards it started
    // with; the next one takes the new. A catalogue that cannot be loaded is shown as
    // the reason and the window keeps the one it has.
    void CatalogueReload();

    // Handlers of the user's actions.
    void C01Change() { CardChange(); }
    void C02Change() { CardChange(); }
    void C03Change() { CardChange(); }
    void C04Change() { CardChange(); }
    void C05Change() { CardChange(); }
    void C06Change() { CardChange(); }
    void C07Change() { CardChange(); }
    void C08Change() { CardChange(); }
    void C11Change() { CardChange(); }
    void C12Change() { CardChange(); }
    void C13Change() { CardChange(); }
    void C14Change() { CardChange(); }
    void C15Change() { CardChange(); }
    void C16Change() { CardChange(); }
    void C17Change() { CardChange(); }
    void C18Change() { CardChange(); }
    void V00Change() { CardChange(); }
    void V10Change() { CardChange(); }
    void D0Change();
    void D1Change();
    void AddBtn0Click();
    void AddBtn1Click();
    void SaveBtn0Click();
    void SaveBtn1Click();
    void BattleBtnClick();
    void Timer1Timer();
    void Exit1Click();
    void About1Click();
    void exit2Click();
    void AppEnd();

    // The batch runner. A click points SaverDir at the default root and switches the
    // runner on; each tick of SaverTimer takes the core's runner one step further:
    // a ready folder's deck pair is set in the selectors, its battle started through
    // the battle button's engine and played by Timer1, its report stored in the folder
    // once the battle has ended. A failure shows its message and stops the runner until
    // the next click.
    void SaverBtnClick();
    void SaverTimerTimer();
    // The root folder a click sets: the user's desktop folder, then "ＭＯＲＶＡＮＥ/".
    // Throws FolderError when the desktop has no folder.
    QString defaultBatchRoot() const;

    // The battle of this window, once the battle button has made it; null before.
    const Battle* battle() const { return battle_.get(); }
    const CardCatalogue& catalogue() const { return catalogue_; }
    const Clock& clock() const;
    std::filesystem::path reportPath() const;

    // Components, by the names the tests and the batch runner know them.
    std::array<QComboBox*, 2> D{};
    std::array<QPushButton*, 2> AddBtn{};
    std::array<QPushButton*, 2> SaveBtn{};
    std::array<QLabel*, 2> AllData{};
    // Per side: slots 1 to 8, then the vehicle.
    std::array<std::array<QComboBox*, 9>, 2> Selector{};
    std::array<std::array<QLabel*, 9>, 2> StatLabel{};
    QPushButton* BattleBtn = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QPlainTextEdit* Memo3 = nullptr;
    QPushButton* SaverBtn = nullptr;
    QLineEdit* SaverDir = nullptr;
    QComboBox* SvrDirMax = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* SaverTimer = nullptr;
    QMenuBar* MainMenu1 = nullptr;
    QMenu* File1 = nullptr;
    QAction* Exit1 = nullptr;
    // The tools: deck strength, the team optimizer, the card editor, the card balance.
    QMenu* Tools1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* About1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* exit2 = nullptr;
    TIconTray* IconTray1 = nullptr;
    // The status line that says a finished report could not be shown; made on the
    // first such report.
    QLabel* ViewerNotice = nullptr;

protected:
    // FormClose: closing the main window ends the program, unless the user keeps a
    // tool's unsaved work open.
    void closeEvent(QCloseEvent* event) override;

private:
    void layOut();
    void layOutSide(QWidget* client, int side);
    void layOutBattleAndBatch(QWidget* client);
    void setKeyboardOrder();
    void makeTimers();
    void makeMenus();
    ToolInputs toolInputs();
    void makeTray();
    void makeStatusLine();
    void loadCatalogue();
    void storeCardLines();
    void fillSelectors();
    void loadDecks();
    // Fills a side's deck list and its store from decks_, selected the entry picked
    // (-1 for none).
    void showDeckList(int side, int selected);
    void CardChange();
    void DeckSet(int side, std::string_view line);
    void DeckChange(int side);
    void AddTeam(int side);
    void SaveList(int side);
    SideSelection sideSelection(int side) const;
    void showSelection(int side, const SideSelection& selection);
    QPlainTextEdit* deckStore(int side) const { return side == 0 ? Memo2 : Memo3; }
    Battle& battleEngine();
    void handle(const std::function<void()>& handler);
    void showViewerMissing(const std::filesystem::path& report);
    // Starts a battle of the selected teams, as the battle button does.
    void startBattle();
    // Throws InputError naming the card by its id when the first empty selector is one
    // a deck line filled with a card the catalogue lacks.
    void refuseMissingCards() const;

    const Environment& env_;
    const Tstartup& startup_;
    CardCatalogue catalogue_;
    Random random_;
    std::array<DeckList, 2> decks_;
    // The card ids each side's last deck line or applied team named, whether or not
    // the catalogue has them.
    std::array<SideSelection, 2> deckIds_{};
    std::unique_ptr<FileReportSink> reportSink_;
    // The battle plays on its own copy of the catalogue, so that a reload never
    // changes the cards under a battle under way.
    std::unique_ptr<CardCatalogue> battleCatalogue_;
    std::unique_ptr<Battle> battle_;
    // The catalogue was reloaded while battle_ was under way: the next start makes a
    // new battle on the new cards.
    bool battleCardsOld_ = false;
    // The battle under way was started by the batch runner.
    bool batchBattle_ = false;
    class BatchFront;
    std::unique_ptr<BatchFront> batchFront_;
    std::unique_ptr<BatchRunner> batchRunner_;
    // This copy's mark on the program folder, for a second copy started on it.
    std::unique_ptr<FolderUse> folderUse_;
    bool ending_ = false;
    ToolMenu* tools_ = nullptr;
};

} // namespace morvane
