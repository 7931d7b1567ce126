// The card editor as a sheet: sorting and filtering move only the view, blocks go to
// and from a spreadsheet as tab-separated text with every cell checked and the whole
// paste one step, fill down, and the table files the window writes and reads are
// those of 'morvane-cli cards'.

#include "UiTestSupport.h"

#include "cards/CardBlock.h"
#include "common/AtomicFile.h"
#include "support/Process.h"
#include "ui/CardEditorDialog.h"
#include "ui/CardTableModel.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QUndoStack>

using namespace morvane;
using namespace morvane::uitest;

namespace {

struct Sheet {
    explicit Sheet(const ProgramFolder& folder) {
        CardEditorInputs inputs;
        inputs.catalogue = folder / "card.dat";
        inputs.deckLines = [] { return std::array<std::vector<std::string>, 2>{}; };
        inputs.saved = [] {};
        dialog = std::make_unique<CardEditorDialog>(std::move(inputs));
        dialog->ask = [this](const QString& text, QMessageBox::StandardButtons) {
            told.push_back(text);
            return QMessageBox::Yes;
        };
        view = dialog->CharacterTable;
    }
    CardTableModel& m() const { return *dialog->model('C'); }
    int column(std::string_view field) const { return m().columnOf(findCardField('C', field)); }
    std::string cell(int row, std::string_view field) const {
        return sheetCellText(dialog->sheet().document().lines()[m().lineOf(row)].text, *findCardField('C', field));
    }
    // Selects the rectangle of rows top..bottom and columns of the two fields.
    void select(int top, int bottom, std::string_view left, std::string_view right) const {
        view->clearSelection();
        view->setCurrentIndex(m().index(top, column(left)));
        view->selectionModel()->select(QItemSelection(m().index(top, column(left)), m().index(bottom, column(right))),
                                       QItemSelectionModel::Select);
    }

    std::unique_ptr<CardEditorDialog> dialog;
    QTableView* view = nullptr;
    std::vector<QString> told;
};

} // namespace

TEST(CardSheet, SortingMovesOnlyTheViewAndTheFileKeepsItsOrder) {
    ProgramFolder folder;
    folder.writeStandard();
    const std::string bytes = readFile(folder / "card.dat");
    Sheet s(folder);
    auto order = [&] {
        std::vector<size_t> lines;
        for (int r = 0; r < s.m().rowCount(); ++r)
            lines.push_back(s.m().lineOf(r));
        return lines;
    };
    const std::vector<size_t> file = order();
    // A click on the name heading: by name, whatever the file's order.
    s.view->sortByColumn(s.column("name"), Qt::AscendingOrder);
    for (int r = 1; r < s.m().rowCount(); ++r)
        EXPECT_LE(s.m().index(r - 1, s.column("name")).data().toString(),
                  s.m().index(r, s.column("name")).data().toString());
    s.view->sortByColumn(s.column("id"), Qt::DescendingOrder);
    for (int r = 1; r < s.m().rowCount(); ++r)
        EXPECT_GT(std::stoi(s.cell(r - 1, "id")), std::stoi(s.cell(r, "id")));
    if (order() == file)
        s.view->sortByColumn(s.column("id"), Qt::AscendingOrder);
    ASSERT_NE(order(), file);
    const size_t firstLine = file.front();
    // A change in the sorted view changes that card and saves in the file's order.
    const std::string before = s.dialog->sheet().document().lines()[s.m().lineOf(0)].text;
    ASSERT_TRUE(s.m().setData(s.m().index(0, s.column("sp")), 9, Qt::EditRole));
    const std::string after = s.dialog->sheet().document().lines()[s.m().lineOf(0)].text;
    ASSERT_TRUE(s.dialog->save());
    std::string expected = bytes;
    expected.replace(expected.find(before), before.size(), after);
    EXPECT_EQ(readFile(folder / "card.dat"), expected);
    // Back to the file's order.
    s.m().sort(-1);
    EXPECT_EQ(s.m().lineOf(0), firstLine);
}

TEST(CardSheet, APastedBlockIsCheckedCellByCellAndUndoneInOneStep) {
    ProgramFolder folder;
    folder.writeStandard();
    Sheet s(folder);
    const std::string hp1 = s.cell(1, "hp");
    // Copy a block of two cards' size and HP: tab-separated, as a spreadsheet takes it.
    s.select(0, 1, "size", "hp");
    s.dialog->copyCells();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
              s.cell(0, "size") + "\t" + s.cell(0, "hp") + "\n" + s.cell(1, "size") + "\t" + hp1 + "\n");

    // A block from a spreadsheet with one HP no card can have.
    QGuiApplication::clipboard()->setText(QStringLiteral("3\t12\r\n4\t100\r\n"));
    s.select(0, 0, "size", "size");
    const int steps = s.dialog->sheet().undoStack()->count();
    s.dialog->pasteCells();
    EXPECT_EQ(s.cell(0, "size"), "3");
    EXPECT_EQ(s.cell(0, "hp"), "12");
    EXPECT_EQ(s.cell(1, "size"), "4");
    EXPECT_EQ(s.cell(1, "hp"), hp1); // refused, kept
    ASSERT_EQ(s.told.size(), 1u);
    EXPECT_TRUE(s.told[0].contains(utf8("1 個のセルは貼り付けませんでした"))) << s.told[0].toStdString();
    EXPECT_TRUE(s.told[0].contains(QString::fromStdString("C" + s.cell(1, "id")))) << s.told[0].toStdString();
    EXPECT_TRUE(s.told[0].contains(utf8("「100」"))) << s.told[0].toStdString();
    EXPECT_EQ(s.dialog->sheet().undoStack()->count(), steps + 1);
    s.dialog->sheet().undoStack()->undo();
    EXPECT_FALSE(s.dialog->modified());

    // Fill down: the top row's cells into the rows under it, one step.
    s.select(0, 2, "hp", "sp");
    s.dialog->fillDown();
    for (int r = 1; r <= 2; ++r) {
        EXPECT_EQ(s.cell(r, "hp"), s.cell(0, "hp"));
        EXPECT_EQ(s.cell(r, "sp"), s.cell(0, "sp"));
    }
    s.dialog->sheet().undoStack()->undo();
    EXPECT_EQ(s.cell(1, "hp"), hp1);
    // The keys are the table's own, so that an open cell editor keeps Ctrl+C and Ctrl+V.
    const auto* paste = s.view->findChild<QAction*>("PasteCells");
    ASSERT_NE(paste, nullptr);
    EXPECT_EQ(paste->shortcutContext(), Qt::WidgetShortcut);
}

TEST(CardSheet, TheFilterShowsTheRowsThatHoldItsText) {
    ProgramFolder folder;
    folder.writeStandard();
    Sheet s(folder);
    const QString name = s.m().index(2, s.column("name")).data().toString();
    s.dialog->FilterBox->setText(name);
    int shown = 0;
    for (int r = 0; r < s.m().rowCount(); ++r)
        shown += s.view->isRowHidden(r) ? 0 : 1;
    EXPECT_GE(shown, 1);
    EXPECT_FALSE(s.view->isRowHidden(2));
    EXPECT_LT(shown, s.m().rowCount());
    s.dialog->FilterBox->clear();
    for (int r = 0; r < s.m().rowCount(); ++r)
        EXPECT_FALSE(s.view->isRowHidden(r));
}

TEST(CardSheet, TheFilterBoxCanBeReadAsTheWindowOpensItAndCtrlFGoesToIt) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    // From the window, with every button of the row, at the size it opens at: among
    // the buttons the box was squeezed to a sliver nobody could read or find.
    auto* editor = openEditor(p);
    ASSERT_NE(editor, nullptr);
    ASSERT_NE(editor->findChild<QPushButton*>("SuggestBtn"), nullptr);
    editor->show();
    editor->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(editor));
    const QLineEdit* box = editor->FilterBox;
    EXPECT_TRUE(box->isVisible());
    EXPECT_GE(box->width(), box->fontMetrics().horizontalAdvance(box->placeholderText()));
    EXPECT_LE(box->mapTo(editor, QPoint(box->width(), 0)).x(), editor->width());

    editor->CharacterTable->setFocus();
    QTest::keyClick(editor->CharacterTable, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(box->hasFocus());
}

TEST(CardSheet, TablesFromTheWindowAreTheCommandLinesAndReadBackAsOneStep) {
    ProgramFolder folder;
    folder.writeStandard();
    Sheet s(folder);
    const std::string program = std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli";
    for (const char* format : {"csv", "json"}) {
        const std::filesystem::path path = folder.path() / (std::string("cards.") + format);
        s.dialog->askTablePath = [&](bool) { return QString::fromStdString(path.string()); };
        ASSERT_TRUE(s.dialog->exportTable());
        const test::ProgramRun cli =
            test::runProgram(program, {"cards", "export", (folder / "card.dat").string(), std::string("--") + format});
        ASSERT_EQ(cli.status, 0) << cli.err;
        EXPECT_EQ(readFile(path), cli.out) << format;
    }

    // A table read back replaces the catalogue as one step; one bad cell refuses it.
    const std::filesystem::path table = folder / "cards.csv";
    std::string csv = readFile(table);
    const std::string name = s.m().index(0, s.column("name")).data().toString().toStdString();
    csv.replace(csv.find(name), name.size(), "読み込んだ名前");
    writeFileAtomic(table, csv);
    s.dialog->askTablePath = [&](bool) { return QString::fromStdString(table.string()); };
    ASSERT_TRUE(s.dialog->importTable());
    EXPECT_EQ(s.m().index(0, s.column("name")).data().toString(), utf8("読み込んだ名前"));
    s.dialog->sheet().undoStack()->undo();
    EXPECT_EQ(s.m().index(0, s.column("name")).data().toString().toStdString(), name);
    writeFileAtomic(table, "kind,id\r\nC,abc\r\n");
    EXPECT_FALSE(s.dialog->importTable());
    EXPECT_FALSE(s.told.empty());
    EXPECT_FALSE(s.dialog->modified());
}

TEST(CardSheet, TheSizeAndColumnWidthsTheUserLeftComeBackAtTheNextOpening) {
    ProgramFolder folder;
    folder.writeStandard();
    int widened = 0;
    QSize size;
    {
        Sheet sheet(folder);
        sheet.dialog->show();
        sheet.dialog->resize(sheet.dialog->width() + 77, sheet.dialog->height() + 33);
        size = sheet.dialog->size();
        QHeaderView* header = sheet.view->horizontalHeader();
        widened = header->sectionSize(1) + 41;
        header->resizeSection(1, widened);
        sheet.view->sortByColumn(1, Qt::DescendingOrder);
        sheet.dialog->hide();
    }
    Sheet again(folder);
    again.dialog->show();
    EXPECT_EQ(again.dialog->size(), size);
    EXPECT_EQ(again.view->horizontalHeader()->sectionSize(1), widened);
    // The order of the file is what a new opening shows, whatever the last sort was.
    EXPECT_LT(again.m().lineOf(0), again.m().lineOf(1));
    EXPECT_EQ(again.view->horizontalHeader()->sortIndicatorSection(), -1);
}

// A set the size a designer's grows to: the sheet's operations stay whole and exact
// at five hundred characters (the ids' three digits leave room for 999).
TEST(CardSheet, FiveHundredCardsSortFilterAndTakeAWholeColumnAsOneStep) {
    ProgramFolder folder;
    folder.writeStandard();
    std::string bytes = readFile(folder / "card.dat");
    const size_t first = bytes.find("\r\nC") + 2;
    const std::string model = bytes.substr(first, bytes.find("\r\n", first) - first).substr(0, 66);
    std::string cards = bytes.substr(0, first);
    for (int id = 1; id <= 500; ++id) {
        char head[8];
        std::snprintf(head, sizeof head, "C%03d", id);
        cards += head + model.substr(4) + "Card" + std::to_string(id) + "\r\n";
    }
    cards += bytes.substr(bytes.find("\r\nV") + 2);
    folder.write("card.dat", cards);
    Sheet s(folder);
    ASSERT_EQ(s.m().rowCount(), 500);

    // A whole column pasted from a spreadsheet: every card's HP, one undo step.
    QString block;
    for (int r = 0; r < 500; ++r)
        block += QString::number(1 + r % 90) + QStringLiteral("\n");
    QGuiApplication::clipboard()->setText(block);
    s.select(0, 0, "hp", "hp");
    const int steps = s.dialog->sheet().undoStack()->count();
    s.dialog->pasteCells();
    EXPECT_EQ(s.dialog->sheet().undoStack()->count(), steps + 1);
    EXPECT_EQ(s.cell(499, "hp"), std::to_string(1 + 499 % 90));

    s.view->sortByColumn(s.column("hp"), Qt::DescendingOrder);
    EXPECT_EQ(s.m().index(0, s.column("hp")).data().toInt(), 90);
    EXPECT_EQ(s.m().index(499, s.column("hp")).data().toInt(), 1);

    s.dialog->FilterBox->setText(QStringLiteral("Card49"));
    int shown = 0;
    for (int r = 0; r < s.m().rowCount(); ++r)
        shown += s.view->isRowHidden(r) ? 0 : 1;
    EXPECT_EQ(shown, 11); // Card49 and Card490 to Card499

    s.dialog->sheet().undoStack()->undo();
    EXPECT_FALSE(s.dialog->modified());
}
