// The card editor: its field editors against what the columns hold and the loader
// reads, undo and redo, saves that write the exact file or leave the old one, the
// questions about cards the deck lists use, and the window that takes the new
// catalogue after a save.

#include "UiTestSupport.h"

#include "battle/Battle.h"
#include "cards/CardExchange.h"
#include "ui/BalanceDialog.h"
#include "ui/CardEditorDialog.h"
#include "ui/CardTableModel.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUndoStack>

#include <sys/stat.h>

using namespace morvane;
using namespace morvane::uitest;

namespace {

const std::string DeckA = "V001C001C002C003C004C005C006C007C008:000";
const std::string DeckB = "V003C002C002C002C002C002C002C002C002:000";

// An editor of a card.dat in folder, with deck lines of its own and answers that a
// test sets; every question it asks is kept.
struct Editor {
    explicit Editor(const ProgramFolder& folder) {
        CardEditorInputs inputs;
        inputs.catalogue = folder / "card.dat";
        inputs.deckLines = [] { return std::array<std::vector<std::string>, 2>{{{DeckA}, {DeckB}}}; };
        inputs.saved = [this] { ++saves; };
        inputs.readAgain = [this] { ++readsAgain; };
        dialog = std::make_unique<CardEditorDialog>(std::move(inputs));
        dialog->ask = [this](const QString& text, QMessageBox::StandardButtons) {
            questions.push_back(text);
            return answer;
        };
        dialog->choose = [this](const QString& text, const QStringList& offered) {
            choices.push_back(text);
            EXPECT_EQ(offered.size(), 3);
            return choice;
        };
        dialog->askSavePath = [this] { return savePath; };
    }
    CardTableModel& model(char kind) const { return *dialog->model(kind); }
    QModelIndex cell(char kind, int row, std::string_view field) const {
        return model(kind).index(row, model(kind).columnOf(findCardField(kind, field)));
    }
    bool set(char kind, int row, std::string_view field, const QVariant& value) const {
        return model(kind).setData(cell(kind, row, field), value, Qt::EditRole);
    }
    std::string line(char kind, int row) const {
        return dialog->sheet().document().lines()[model(kind).lineOf(row)].text;
    }
    void select(char kind, int row) const {
        dialog->showKind(kind);
        auto* view = dialog->findChild<QTableView*>(kind == 'C' ? "CharacterTable" : "VehicleTable");
        view->setCurrentIndex(model(kind).index(row, 0));
    }

    std::unique_ptr<CardEditorDialog> dialog;
    std::vector<QString> questions;
    QMessageBox::StandardButton answer = QMessageBox::Yes;
    // What a save refused over another writer's change is answered: -1 キャンセル, 0
    // reload, 1 save as (to savePath), 2 show the cards that differ.
    std::vector<QString> choices;
    int choice = -1;
    QString savePath;
    int saves = 0;
    int readsAgain = 0;
};

std::string sjis(const std::string& utf8) {
    return utf8ToCp932(utf8);
}

std::string withColumns(std::string line, int column, const std::string& bytes) {
    return line.replace(static_cast<size_t>(column - 1), bytes.size(), bytes);
}

} // namespace

TEST(CardEditor, FieldEditorsHoldWhatTheColumnsHoldAndUndoEveryStep) {
    ProgramFolder folder;
    folder.writeStandard();
    Editor e(folder);
    const std::string before = e.dialog->sheet().document().bytes();
    ASSERT_EQ(e.model('C').rowCount(), 10);
    EXPECT_EQ(e.cell('C', 0, "id").data().toString(), "010"); // file order, ids as the file has them
    EXPECT_EQ(e.cell('C', 0, "size").data().toString(), "10");

    // Numbers within what the columns hold and the tables have rows for.
    EXPECT_FALSE(e.set('C', 0, "size", 100));
    EXPECT_FALSE(e.set('C', 0, "size", -10));
    EXPECT_TRUE(e.set('C', 0, "size", -9));
    EXPECT_TRUE(e.set('C', 1, "size", 7));
    EXPECT_EQ(e.line('C', 1).substr(8, 2), " 7");
    EXPECT_FALSE(e.set('C', 0, "id", 127));
    EXPECT_FALSE(e.set('V', 0, "id", 27));
    EXPECT_TRUE(e.set('V', 0, "id", 26));
    // Below an optional number's range stands the none mark.
    EXPECT_TRUE(e.set('C', 2, "healAmount", 4));
    EXPECT_EQ(e.line('C', 2).substr(42, 2), " 4");
    EXPECT_TRUE(e.set('C', 2, "healAmount", CardTableModel::noneValue('C', *findCardField('C', "healAmount"))));
    EXPECT_EQ(e.line('C', 2).substr(42, 2), sjis("＿"));
    // Marks are one two-byte character; a reach is one letter.
    EXPECT_TRUE(e.set('C', 3, "kindMark", utf8("魔")));
    EXPECT_FALSE(e.set('C', 3, "kindMark", "x"));
    EXPECT_FALSE(e.set('C', 3, "reachLetter", "ea"));
    // A name is counted in code page 932 bytes, 32 at most.
    const QString full = QString(16, QChar(0x3042)); // 16 x "あ": 32 bytes
    EXPECT_TRUE(e.set('C', 4, "name", full));
    EXPECT_EQ(e.line('C', 4).substr(66), sjis(full.toStdString()));
    EXPECT_FALSE(e.set('C', 4, "name", full + "a"));
    EXPECT_FALSE(e.set('C', 4, "name", QString(31, 'a') + QChar(0x3042)));
    EXPECT_FALSE(e.set('C', 4, "name", QString::fromUtf8("😀")));

    // The delegate gives each field its editor with the same limits.
    CardFieldDelegate delegate;
    QWidget parent;
    std::unique_ptr<QWidget> editor(delegate.createEditor(&parent, {}, e.cell('C', 5, "healAmount")));
    auto* box = qobject_cast<QSpinBox*>(editor.get());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->minimum(), -10);
    EXPECT_EQ(box->maximum(), 99);
    delegate.setEditorData(box, e.cell('C', 5, "healAmount"));
    EXPECT_EQ(box->text(), utf8("＿"));
    box->setValue(12);
    delegate.setModelData(box, &e.model('C'), e.cell('C', 5, "healAmount"));
    EXPECT_EQ(e.line('C', 5).substr(42, 2), "12");
    std::unique_ptr<QWidget> name(delegate.createEditor(&parent, {}, e.cell('C', 5, "name")));
    auto* text = name->findChild<QLineEdit*>("NameEdit");
    ASSERT_NE(text, nullptr);
    delegate.setEditorData(name.get(), e.cell('C', 5, "name"));
    EXPECT_EQ(name->findChild<QLabel*>("NameBytes")->text(), utf8("5/32 バイト"));
    QString tooLong = full + "a";
    int position = 0;
    EXPECT_EQ(text->validator()->validate(tooLong, position), QValidator::Invalid);

    QUndoStack* stack = e.dialog->sheet().undoStack();
    EXPECT_TRUE(e.dialog->modified());
    while (stack->canUndo())
        stack->undo();
    EXPECT_EQ(e.dialog->sheet().document().bytes(), before);
    EXPECT_FALSE(e.dialog->modified());
    stack->redo();
    EXPECT_EQ(e.line('C', 0).substr(8, 2), "-9");
}

TEST(CardEditor, ShowsTheLoadersProblemsAndSavesTheExactFile) {
    ProgramFolder folder;
    // Line ends of every kind, a blank line, a comment and what follows a byte 26.
    const std::string bytes = "; cards\n\r\n" + characterLine(1, "5 ", "10", " 3", " 5", "壊") + "\r" +
                              characterLine(2, " 5", "10", "x3", " 5", "弱") + "\r\n" +
                              vehicleLine(1, "50", "40", "車") + "\x1a" + "tail";
    folder.write("card.dat", bytes);
    Editor e(folder);
    const QModelIndex size = e.cell('C', 0, "size");
    EXPECT_EQ(size.data(Qt::ToolTipRole).toString(), utf8("'5 ' は整数ではありません"));
    EXPECT_TRUE(size.data(Qt::BackgroundRole).isValid());
    EXPECT_FALSE(e.cell('C', 0, "hp").data(Qt::BackgroundRole).isValid());
    EXPECT_EQ(e.dialog->findChild<QListWidget*>("ProblemList")->count(), 2); // and AP of card 2
    EXPECT_TRUE(e.set('C', 0, "size", 5));
    EXPECT_EQ(e.dialog->findChild<QListWidget*>("ProblemList")->count(), 1);

    // A save with problems asks first; no keeps the file.
    e.answer = QMessageBox::No;
    EXPECT_FALSE(e.dialog->save());
    EXPECT_EQ(readFile(folder / "card.dat"), bytes);
    e.answer = QMessageBox::Yes;
    EXPECT_TRUE(e.dialog->save());
    EXPECT_EQ(readFile(folder / "card.dat"), withColumns(bytes, 19, " 5"));
    EXPECT_EQ(e.saves, 1);
    EXPECT_FALSE(e.dialog->modified());

    // Changed and changed back, the catalogue saves as the bytes it was.
    EXPECT_TRUE(e.set('C', 1, "name", "x"));
    e.dialog->sheet().undoStack()->undo();
    EXPECT_TRUE(e.dialog->save());
    EXPECT_EQ(readFile(folder / "card.dat"), withColumns(bytes, 19, " 5"));
}

TEST(CardEditor, SaysWhichDeckLinesUseACardBeforeItGoes) {
    ProgramFolder folder;
    folder.writeStandard();
    Editor e(folder);
    const int card2 = e.model('C').rowOf(e.dialog->sheet().document().cardLines('C')[8]);
    ASSERT_EQ(e.line('C', card2).substr(0, 4), "C002");

    e.select('C', card2);
    e.answer = QMessageBox::No;
    e.dialog->deleteCard();
    ASSERT_EQ(e.questions.size(), 1u);
    // The decks by what their lists show and their cards by id and name, not as lines.
    EXPECT_TRUE(e.questions[0].contains(
        utf8("上のデッキ「000」(deck0.dat の 1 行目): V001 戦車 / C001 兵士1、C002 兵士2、C003 兵士3、")))
        << e.questions[0].toStdString();
    EXPECT_TRUE(e.questions[0].contains(utf8("下のデッキ「000」(deck1.dat の 1 行目): V003 砦 / C002 兵士2 ×8")));
    EXPECT_FALSE(e.questions[0].contains(QString::fromStdString(DeckA)));
    EXPECT_EQ(e.model('C').rowCount(), 10);

    e.answer = QMessageBox::Yes;
    e.dialog->deleteCard();
    EXPECT_EQ(e.model('C').rowCount(), 9);
    // A card no deck uses goes without a question; so does a new one.
    e.select('V', 1);
    e.dialog->deleteCard();
    EXPECT_EQ(e.questions.size(), 2u);
    e.select('C', 0);
    e.dialog->copyCard();
    EXPECT_EQ(e.line('C', 9).substr(0, 4), "C011");
    // The copy is told from its card by its name too.
    EXPECT_EQ(e.line('C', 9).substr(66), sjis("兵士10のコピー"));

    // The save names the decks again, for the card it takes away.
    e.answer = QMessageBox::No;
    EXPECT_FALSE(e.dialog->save());
    ASSERT_EQ(e.questions.size(), 3u);
    // The card this save takes away is named as it was read.
    EXPECT_TRUE(e.questions[2].contains(utf8("使っています:\nC002 兵士2:\n  上のデッキ「000」")))
        << e.questions[2].toStdString();
    EXPECT_TRUE(e.questions[2].contains(utf8("V003 砦 / C002 兵士2 ×8")));
    EXPECT_FALSE(e.questions[2].contains(QStringLiteral("V002")));
    EXPECT_EQ(readFile(folder / "card.dat"), smallCatalogue());
}

TEST(CardEditor, AFailedSaveKeepsTheOldFileAndTheChanges) {
    ProgramFolder folder;
    folder.writeStandard();
    Editor e(folder);
    ASSERT_TRUE(e.set('C', 0, "hp", 42));

    ::chmod((folder / "card.dat").c_str(), 0444);
    EXPECT_FALSE(e.dialog->save());
    EXPECT_EQ(readFile(folder / "card.dat"), smallCatalogue());
    EXPECT_TRUE(e.dialog->findChild<QLabel*>("StatusLabel")->text().contains(utf8("保存できませんでした")));
    EXPECT_TRUE(e.dialog->modified());
    EXPECT_EQ(e.saves, 0);

    // Someone else's change since the file was read is refused and kept, as a deck
    // list's is.
    ::chmod((folder / "card.dat").c_str(), 0644);
    folder.write("card.dat", smallCatalogue() + "; theirs\r\n");
    EXPECT_FALSE(e.dialog->save());
    EXPECT_TRUE(e.dialog->findChild<QLabel*>("StatusLabel")->text().contains(utf8("変更されたﾌｧｲﾙには記録できません")))
        << e.dialog->findChild<QLabel*>("StatusLabel")->text().toStdString();
    EXPECT_EQ(readFile(folder / "card.dat"), smallCatalogue() + "; theirs\r\n");
    EXPECT_TRUE(e.dialog->modified());

    // A file that cannot be read is never written over.
    ProgramFolder unreadable;
    std::filesystem::create_directory(unreadable / "card.dat");
    Editor none(unreadable);
    EXPECT_FALSE(none.dialog->save());
    EXPECT_TRUE(std::filesystem::is_directory(unreadable / "card.dat"));
}

TEST(CardEditorWindow, ASaveFillsTheSelectorsAgainKeepingWhatStillExists) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    auto* dialog = openEditor(p);
    ASSERT_NE(dialog, nullptr);
    dialog->ask = [](const QString&, QMessageBox::StandardButtons) { return QMessageBox::Yes; };

    // A battle under way when the catalogue changes plays on with the cards it has.
    p.main->BattleBtnClick();
    p.main->Timer1Timer();
    const Battle* running = p.main->battle();

    CardTableModel& characters = *dialog->model('C');
    const int card8 = characters.rowOf(dialog->sheet().document().cardLines('C')[2]);
    const int card1 = characters.rowOf(dialog->sheet().document().cardLines('C')[9]);
    ASSERT_TRUE(characters.setData(characters.index(card1, characters.columnOf(findCardField('C', "name"))),
                                   utf8("勇者"), Qt::EditRole));
    dialog->showKind('C');
    dialog->findChild<QTableView*>("CharacterTable")->setCurrentIndex(characters.index(card8, 0));
    dialog->deleteCard();
    ASSERT_TRUE(dialog->save());

    EXPECT_TRUE(p.messages.errors.empty());
    auto* c01 = p.find<QComboBox>("C01");
    EXPECT_EQ(c01->count(), 9);
    EXPECT_EQ(c01->currentText(), utf8("勇者(1)"));
    EXPECT_EQ(p.find<QComboBox>("C07")->currentData().toInt(), 7);
    EXPECT_EQ(p.find<QComboBox>("C08")->currentIndex(), -1); // card 8 is gone
    EXPECT_EQ(p.find<QLabel>("AllData0")->text(), "Size 28(50)");
    EXPECT_TRUE(p.find<QPlainTextEdit>("Memo1")->toPlainText().contains(utf8("勇者")));

    EXPECT_EQ(p.main->battle(), running);
    while (p.main->Timer1->isActive())
        p.main->Timer1Timer();
    EXPECT_TRUE(p.messages.errors.empty());
    // The next battle plays the new cards, once the empty slot is filled.
    SideSelection team = p.main->currentTeams().side[0];
    team.characters[7] = 7;
    p.main->TeamSet(0, team);
    p.main->BattleBtnClick();
    while (p.main->Timer1->isActive())
        p.main->Timer1Timer();
    EXPECT_NE(readFile(folder / "battle.html").find(sjis("勇者")), std::string::npos);
    EXPECT_TRUE(p.messages.errors.empty());
}

TEST(CardEditor, UndoAndRedoShowTheCellTheyChangeAndCtrlYRedoes) {
    ProgramFolder folder;
    folder.writeStandard();
    Editor e(folder);
    QTableView* table = e.dialog->CharacterTable;
    const QModelIndex changed = e.cell('C', 9, "killChance");
    ASSERT_TRUE(e.set('C', 9, "killChance", 50));
    ASSERT_TRUE(e.set('V', 0, "hp", 77));
    e.dialog->show();
    e.dialog->resize(320, 240);
    e.select('C', 0);
    table->scrollToTop();
    table->horizontalScrollBar()->setValue(0);
    auto inView = [&](const QModelIndex& index) {
        return table->viewport()->rect().contains(table->visualRect(index));
    };
    ASSERT_FALSE(inView(changed)) << "the dialog is small enough to hide the cell";

    // Undone, each step shows its cell, on its own tab, selected and scrolled to.
    e.dialog->UndoBtn->click();
    EXPECT_EQ(e.dialog->currentKind(), 'V');
    EXPECT_EQ(e.dialog->VehicleTable->currentIndex(), e.cell('V', 0, "hp"));
    e.dialog->UndoBtn->click();
    EXPECT_EQ(e.dialog->currentKind(), 'C');
    EXPECT_EQ(table->currentIndex(), changed);
    EXPECT_TRUE(table->selectionModel()->isSelected(changed));
    EXPECT_TRUE(inView(changed));
    EXPECT_EQ(changed.data().toString(), utf8("＿"));

    // Ctrl+Y redoes, and so do the desktop's own redo keys; the cell shows again.
    e.dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(e.dialog.get()));
    e.select('C', 0);
    QTest::keyClick(table, Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(changed.data().toString(), "50");
    EXPECT_EQ(table->currentIndex(), changed);
    e.dialog->UndoBtn->click();
    e.select('C', 0);
    QTest::keyClick(table, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(changed.data().toString(), "50");
    EXPECT_EQ(table->currentIndex(), changed);

    // A step that takes a card away shows the row it left when undone and redone.
    e.select('C', 4);
    e.dialog->deleteCard();
    e.select('C', 0);
    e.dialog->UndoBtn->click();
    EXPECT_EQ(table->currentIndex(), e.cell('C', 4, "id"));
    EXPECT_EQ(e.line('C', 4).substr(0, 4), "C006");
}

TEST(CardEditor, AFailedSaveIsShownWithTheErrorIcon) {
    ProgramFolder folder;
    folder.writeStandard();
    CardEditorInputs inputs;
    inputs.catalogue = folder / "card.dat";
    CardEditorDialog dialog(std::move(inputs));
    CardTableModel& characters = *dialog.model('C');
    ASSERT_TRUE(
        characters.setData(characters.index(0, characters.columnOf(findCardField('C', "hp"))), 42, Qt::EditRole));
    ::chmod((folder / "card.dat").c_str(), 0444);
    std::optional<QMessageBox::Icon> icon;
    QTimer::singleShot(0, [&] {
        if (auto* box = dialog.findChild<QMessageBox*>()) {
            icon = box->icon();
            box->accept();
        }
    });
    EXPECT_FALSE(dialog.save());
    EXPECT_EQ(icon, QMessageBox::Critical);
}

TEST(CardEditorWindow, EnterEditsTheCellAndGoesDownWithoutPressingAButton) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    auto* dialog = openEditor(p);
    ASSERT_NE(dialog, nullptr);
    ASSERT_NE(dialog->BalanceBtn, nullptr);
    CardTableModel& characters = *dialog->model('C');
    const int hp = characters.columnOf(findCardField('C', "hp"));
    QTableView* table = dialog->CharacterTable;
    table->setCurrentIndex(characters.index(0, hp));

    QTest::keyClick(table, Qt::Key_Return);
    auto* box = table->findChild<QSpinBox*>();
    ASSERT_NE(box, nullptr) << "Enter opens the cell's editor";
    box->setValue(42);
    QTest::keyClick(box, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(characters.index(0, hp).data().toString(), "42");
    EXPECT_EQ(table->currentIndex(), characters.index(1, hp));
    EXPECT_EQ(dialog->findChild<BalanceDialog*>(), nullptr) << "Enter pressed the balance button";
    for (QPushButton* button : dialog->findChildren<QPushButton*>())
        EXPECT_FALSE(button->isDefault() || button->autoDefault()) << button->objectName().toStdString();
}

namespace {

// card.dat as another writer stored it: card 3 renamed, card 11 added.
std::string theirCatalogue() {
    std::string bytes = smallCatalogue();
    const std::string old = utf8ToCp932("兵士3\r\n");
    bytes.replace(bytes.find(old), old.size(), utf8ToCp932("戦士3\r\n"));
    return bytes + crlf({characterLine(11, " 1", "20", " 3", " 5", "新兵")});
}

QStringList rowOf(const QTreeWidget* list, int row) {
    QStringList cells;
    for (int c = 0; c < list->columnCount(); ++c)
        cells << list->topLevelItem(row)->text(c);
    return cells;
}

} // namespace

TEST(CardEditor, ASaveOverAnotherWritersChangeOffersTheChangesACopyOrAReload) {
    ProgramFolder folder;
    folder.writeStandard();
    Editor e(folder);
    ASSERT_TRUE(e.set('C', 0, "hp", 42)); // C010
    folder.write("card.dat", theirCatalogue());

    // What differs, by id and name, and on whose side.
    e.choice = 2;
    EXPECT_FALSE(e.dialog->save());
    ASSERT_EQ(e.choices.size(), 1u);
    EXPECT_TRUE(e.choices[0].contains(utf8("card.dat は、この編集で読み込んだ後に")));
    auto* list = e.dialog->findChild<QTreeWidget*>("ChangesList");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(rowOf(list, 0), QStringList({"C003", utf8("戦士3"), utf8("変更"), ""}));
    EXPECT_EQ(rowOf(list, 1), QStringList({"C010", utf8("兵士10"), "", utf8("変更")}));
    EXPECT_EQ(rowOf(list, 2), QStringList({"C011", utf8("新兵"), utf8("追加"), ""}));
    EXPECT_EQ(readFile(folder / "card.dat"), theirCatalogue());

    // A copy elsewhere; never over the catalogue itself.
    e.choice = 1;
    e.savePath = QString::fromStdString((folder / "mine.dat").string());
    EXPECT_FALSE(e.dialog->save());
    EXPECT_EQ(readFile(folder / "mine.dat"), e.dialog->sheet().document().bytes());
    EXPECT_EQ(readFile(folder / "card.dat"), theirCatalogue());
    EXPECT_TRUE(e.dialog->modified());
    e.savePath = QString::fromStdString((folder / "." / "card.dat").string());
    EXPECT_FALSE(e.dialog->saveAs());
    EXPECT_TRUE(e.questions.back().contains(utf8("編集中のファイルです")));
    EXPECT_EQ(readFile(folder / "card.dat"), theirCatalogue());
    EXPECT_EQ(e.saves, 0);

    // A reload drops the edits only once the user agrees.
    e.choice = 0;
    e.answer = QMessageBox::No;
    const size_t asked = e.questions.size();
    EXPECT_FALSE(e.dialog->save());
    EXPECT_EQ(e.questions.size(), asked + 1);
    EXPECT_TRUE(e.questions.back().contains(utf8("変更をすべて捨てて")));
    EXPECT_EQ(e.line('C', 0).substr(10, 2), "42");
    EXPECT_EQ(e.readsAgain, 0);
    e.answer = QMessageBox::Yes;
    EXPECT_FALSE(e.dialog->save()) << "the refused save itself stores nothing";
    EXPECT_FALSE(e.dialog->modified());
    EXPECT_EQ(e.readsAgain, 1) << "the window is told to take the catalogue read";
    EXPECT_EQ(e.model('C').rowCount(), 11);
    EXPECT_FALSE(e.dialog->findChild<QPushButton*>("UndoBtn")->isEnabled());
    // What was read now is what a save writes over.
    ASSERT_TRUE(e.set('C', 0, "hp", 43));
    EXPECT_TRUE(e.dialog->save());
    EXPECT_NE(readFile(folder / "card.dat").find(utf8ToCp932("戦士3")), std::string::npos);
}

TEST(CardEditor, TheConflictBoxOffersItsChoicesAsButtons) {
    ProgramFolder folder;
    folder.writeStandard();
    CardEditorInputs inputs;
    inputs.catalogue = folder / "card.dat";
    CardEditorDialog dialog(std::move(inputs));
    CardTableModel& characters = *dialog.model('C');
    ASSERT_TRUE(
        characters.setData(characters.index(0, characters.columnOf(findCardField('C', "hp"))), 42, Qt::EditRole));
    folder.write("card.dat", theirCatalogue());
    QStringList buttons;
    QTimer::singleShot(0, [&] {
        auto* box = dialog.findChild<QMessageBox*>();
        if (!box)
            return;
        for (QAbstractButton* button : box->buttons()) {
            buttons << button->text();
            if (button->text() == utf8("違いを見る"))
                button->click();
        }
    });
    EXPECT_FALSE(dialog.save());
    EXPECT_EQ(buttons.size(), 4) << buttons.join(QLatin1Char(',')).toStdString();
    auto* changes = dialog.findChild<QDialog*>("ChangesDialog");
    ASSERT_NE(changes, nullptr);
    EXPECT_TRUE(changes->isVisible());
    EXPECT_EQ(changes->findChild<QTreeWidget*>("ChangesList")->topLevelItemCount(), 3);
}

TEST(CardEditorWindow, OpensWithAScreenOfRowsColumnsToFitAndACounterBesideTheName) {
    ProgramFolder folder;
    // Thirty cards, one with the longest name the editor makes.
    std::vector<std::string> lines;
    for (int id = 1; id <= 30; ++id)
        lines.push_back(characterLine(id, " 5", "10", " 3", " 5", id == 1 ? "あいうえおかきくけこさしすせそた" : "兵"));
    folder.write("card.dat", crlf(lines));
    Program p(folder.path());
    auto* dialog = openEditor(p);
    ASSERT_NE(dialog, nullptr);
    QTableView* table = dialog->CharacterTable;
    QCoreApplication::processEvents();

    // A screen's worth of rows (20), or as many as the screen has room for: the
    // offscreen screen is 800 pixels high, and so a smaller one than most.
    const QRect room = dialog->screen()->availableGeometry();
    const int rows = table->viewport()->height() / table->rowHeight(0);
    EXPECT_TRUE(rows >= 20 || dialog->height() >= room.height() * 9 / 10 - 1) << rows << " rows";
    EXPECT_GE(rows, 15) << "room " << room.height() << ", dialog " << dialog->height();
    EXPECT_LE(dialog->frameGeometry().height(), room.height());
    EXPECT_TRUE(table->viewport()->width() >= table->horizontalHeader()->length() ||
                dialog->width() >= room.width() * 9 / 10 - 1)
        << "every column in sight, where the screen is wide enough";
    // The user sizes the columns; each starts as wide as what it holds.
    QHeaderView* header = table->horizontalHeader();
    const int name = dialog->model('C')->columnOf(findCardField('C', "name"));
    EXPECT_EQ(header->sectionResizeMode(name), QHeaderView::Interactive);
    const int longest = table->fontMetrics().horizontalAdvance(utf8("あいうえおかきくけこさしすせそた"));
    EXPECT_GE(header->sectionSize(name), longest);
    header->resizeSection(name, 300);
    EXPECT_EQ(header->sectionSize(name), 300);

    // The byte counter stands beside the name it counts, never on it, however narrow
    // the column.
    header->resizeSection(name, 40);
    table->edit(dialog->model('C')->index(0, name));
    // As the editor first stands, before anything lays the view out again.
    auto* edit = table->findChild<QLineEdit*>("NameEdit");
    auto* count = table->findChild<QLabel*>("NameBytes");
    ASSERT_TRUE(edit && count);
    edit->parentWidget()->layout()->activate();
    EXPECT_EQ(count->text(), utf8("32/32 バイト"));
    EXPECT_FALSE(edit->geometry().intersects(count->geometry()));
    EXPECT_GE(edit->width(), edit->fontMetrics().horizontalAdvance(edit->text()));
    EXPECT_GE(count->width(), count->fontMetrics().horizontalAdvance(count->text()));
}
