#pragma once
// The card designer's editor of card.dat: characters and vehicles in two tables, each
// field with an editor that fits it, every problem in its cell with the message the
// program would show, add, copy and delete, undo and redo, and a save that writes the
// exact file through a temporary file and a rename.
//
// It takes only what it needs of the window: the catalogue's path, the deck lines of
// both sides (to say which decks a deleted card leaves without it) and what to do
// after a save. Questions go through ask, so tests answer them without a box.

#include "cards/CardFields.h"
#include "cards/CatalogueDocument.h"
#include "common/StoredFile.h"

#include <QDialog>
#include <QMessageBox>
#include <QStyledItemDelegate>

#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;
class QTableView;

namespace morvane {

class CardSheet;
class CardTableModel;

// Gives each field of a card table the editor that fits it: a number box within what
// the field can hold (with "＿" below it where the field may be left out), a list of
// marks, a name field that counts its bytes in code page 932.
class CardFieldDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    // An editor wider than its column (a list of marks in a two-character column)
    // spreads over the columns beside it rather than hiding its text.
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;
};

class CardEditorDialog;

struct CardEditorInputs {
    std::filesystem::path catalogue;
    // The deck lines of side 0 and side 1, as the window holds them now.
    std::function<std::array<std::vector<std::string>, 2>()> deckLines;
    // Called after every save.
    std::function<void()> saved;
    // Called after the catalogue is read again from the file (another writer's
    // changes taken over the edits): the window should play with it too.
    std::function<void()> readAgain;
    // Opens the balance analysis of the catalogue as the editor holds it; the editor
    // offers a button for it when given one.
    std::function<void(CardEditorDialog& editor)> balance;
    // Opens the proposals of changes for the catalogue as the editor holds it; the
    // editor offers a button for it when given one.
    std::function<void(CardEditorDialog& editor)> suggest;
};

class CardEditorDialog : public QDialog {
    Q_OBJECT
public:
    // Reads the catalogue. A missing file gives an empty catalogue that a save creates;
    // one that cannot be read is shown as the reason, and nothing can be saved over it.
    explicit CardEditorDialog(CardEditorInputs inputs, QWidget* parent = nullptr);
    ~CardEditorDialog() override;

    // A question with the given buttons; returns the button chosen. A box that offers
    // OK alone tells of a failure.
    using Ask = std::function<QMessageBox::StandardButton(const QString& text, QMessageBox::StandardButtons buttons)>;
    Ask ask;

    // A choice among buttons named choices; returns the index of the one chosen, -1
    // for キャンセル.
    using Choose = std::function<int(const QString& text, const QStringList& choices)>;
    Choose choose;
    // A card's line replaced by another as one step, for a proposed change: false with
    // why when the card's line is no longer before (edited or gone since).
    bool replaceCardLine(char kind, int32_t id, const std::string& before, const std::string& after, QString& why);

    // The file a copy of the catalogue goes to, chosen by the user; empty for none.
    std::function<QString()> askSavePath;

    CardSheet& sheet() const { return *sheet_; }
    CardTableModel* model(char kind) const { return kind == 'V' ? vehicles_ : characters_; }
    // The table shown now: 'C' or 'V'.
    char currentKind() const;
    void showKind(char kind);
    bool modified() const;

    // The buttons' work, on the current table's current row.
    void addCard();
    void copyCard();
    void deleteCard();
    // Writes the catalogue; false when it was not written (a question answered no, a
    // file that cannot be written: the stored file then stays as it was).
    bool save();
    // What a save refused over another writer's change offers. reload reads the
    // catalogue again, dropping every change made here once the user agrees; saveAs
    // writes the catalogue as edited to another file and leaves card.dat alone;
    // showChanges lists the cards in which the file as stored now and this editor
    // differ from what was read, by id and name (null when the file cannot be read).
    bool reload();
    bool saveAs();
    QDialog* showChanges();

    // The sheet's work on the current table. copyCells puts the selected block on the
    // clipboard as tab-separated text; pasteCells puts the clipboard's block at the
    // selection's first cell, each cell checked, as one step, and names the cells it
    // refused; fillDown copies the top row of the selection into the rows under it.
    void copyCells();
    void pasteCells();
    void fillDown();
    // Shows only the rows with a cell that holds the filter text.
    void applyFilter();
    // ファイル > 書き出し... and 読み込み...: the catalogue as edited to a CSV or JSON
    // table, and a table read back as one step, both as 'morvane-cli cards' does it.
    bool exportTable();
    bool importTable();
    // The table file to write (save) or read; empty for none.
    std::function<QString(bool save)> askTablePath;

    QTabWidget* Tabs = nullptr;
    QTableView* CharacterTable = nullptr;
    QTableView* VehicleTable = nullptr;
    QPushButton* AddBtn = nullptr;
    QPushButton* CopyBtn = nullptr;
    QPushButton* DeleteBtn = nullptr;
    QPushButton* UndoBtn = nullptr;
    QPushButton* RedoBtn = nullptr;
    QPushButton* SaveBtn = nullptr;
    QPushButton* BalanceBtn = nullptr; // only with a balance input
    QPushButton* SuggestBtn = nullptr; // only with a suggest input
    QListWidget* ProblemList = nullptr;
    QLabel* StatusLabel = nullptr;
    QLineEdit* FilterBox = nullptr;
    // The row of buttons above the tables; later tools that work on the catalogue
    // being edited go here.
    QHBoxLayout* ButtonRow = nullptr;

protected:
    // Closing with unsaved changes asks whether to save them.
    void reject() override;

protected:
    // The size and column widths the user left are kept for the next opening.
    void hideEvent(QHideEvent* event) override;

private:
    // The parts of the dialog, made in this order by the constructor. readCatalogue
    // returns why there is nothing to edit, or empty.
    QString readCatalogue();
    void makeTables();
    void makeButtons();
    void layOutDialog(const QString& readError);
    void makeBalanceButton();
    void restoreLayout();
    void saveLayout() const;
    void connectButtons();
    void makeSheetActions();
    // The selection of the current table as view rows that are shown, and columns.
    std::vector<int> selectedRows() const;
    std::vector<int> selectedColumns() const;
    // Puts a block at a view row and column of the current table as one step.
    void pasteAt(int row, int column, const std::string& text, const QString& stepName);
    // After an undo or a redo: the cell the step changed, in view and selected.
    void showStep(char kind, size_t line, const CardField* field);

    QTableView* table(char kind) const { return kind == 'V' ? VehicleTable : CharacterTable; }
    // The line shown in the current row of the current table, or -1.
    long long currentLine() const;
    void selectLine(size_t line);
    void showProblems();
    // The decks that use a card, one line each naming the deck as its list shows it and
    // its cards, for a question; empty when none.
    QString decksUsing(char kind, int32_t id) const;
    // "C003 兵士3": the card as edited, or as read where the edit took it away.
    QString cardLabel(char kind, int32_t id) const;
    // A deck line's cards by id and name, the vehicle first.
    QString teamText(std::string_view line) const;
    QString cardTitle(size_t line) const;
    // Adds the line lineWithId makes for the next free id as one step, and shows it.
    void insertCard(char kind, const std::function<std::string(int32_t)>& lineWithId, const QString& step);
    bool askToKeepChanges();
    // After another writer stored the catalogue since it was read: asks what to do.
    void resolveConflict();
    QString catalogueName() const;

    CardEditorInputs inputs_;
    CardSheet* sheet_ = nullptr;
    CardTableModel* characters_ = nullptr;
    CardTableModel* vehicles_ = nullptr;
    // The file as read or last saved: a save refuses when it is no longer that.
    StoredFile stored_;
    CatalogueDocument storedDocument_;
    bool readable_ = true;
};

} // namespace morvane
