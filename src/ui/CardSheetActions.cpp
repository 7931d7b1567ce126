// The card editor as a sheet: sorting and filtering the view, blocks of cells to and
// from a spreadsheet, fill down, and the catalogue as a table file. The cells are cut
// and checked by the core (CardBlock, CardExchange), as 'morvane-cli cards' does.

#include "ui/CardEditorDialog.h"

#include "cards/CardBlock.h"
#include "cards/CardExchange.h"
#include "common/AtomicFile.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/Files.h"
#include "ui/CardTableModel.h"
#include "ui/Platform.h"

#include <QAction>
#include <QBoxLayout>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QTabWidget>
#include <QTableView>

#include <algorithm>
#include <set>

namespace morvane {

namespace {

// The column's heading, as the table shows it.
QString heading(const CardTableModel& model, const CardField* field) {
    return model.headerData(model.columnOf(field), Qt::Horizontal, Qt::DisplayRole).toString();
}

} // namespace

void CardEditorDialog::makeSheetActions() {
    for (QTableView* view : {CharacterTable, VehicleTable}) {
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        // The file's order until a heading is clicked.
        view->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
        view->setSortingEnabled(true);
        // Only while the table itself has the focus: in an open cell editor the same
        // keys copy and paste its text.
        auto action = [&](const char* name, const QList<QKeySequence>& keys, void (CardEditorDialog::*work)()) {
            auto* a = new QAction(view);
            a->setObjectName(QString::fromLatin1(name));
            a->setShortcuts(keys);
            a->setShortcutContext(Qt::WidgetShortcut);
            view->addAction(a);
            connect(a, &QAction::triggered, this, work);
        };
        action("CopyCells", QKeySequence::keyBindings(QKeySequence::Copy), &CardEditorDialog::copyCells);
        action("PasteCells", QKeySequence::keyBindings(QKeySequence::Paste), &CardEditorDialog::pasteCells);
        action("FillDown", {QKeySequence(Qt::CTRL | Qt::Key_D)}, &CardEditorDialog::fillDown);
    }
    FilterBox = new QLineEdit(this);
    FilterBox->setObjectName(QStringLiteral("FilterBox"));
    FilterBox->setPlaceholderText(tr("絞り込み: 名前、種類、どの値でも"));
    FilterBox->setClearButtonEnabled(true);
    connect(FilterBox, &QLineEdit::textChanged, this, &CardEditorDialog::applyFilter);
    for (CardTableModel* m : {model('C'), model('V')}) {
        connect(m, &QAbstractItemModel::modelReset, this, &CardEditorDialog::applyFilter);
        connect(m, &QAbstractItemModel::layoutChanged, this, &CardEditorDialog::applyFilter);
    }
    // Beside the menu, which has the row to spare: a row of its own would cost the
    // tables a row of cards, and among the buttons it was squeezed to nothing. Wide
    // enough for its hint, so that an empty box says what it is for.
    FilterBox->setMinimumWidth(FilterBox->fontMetrics().horizontalAdvance(FilterBox->placeholderText()) +
                               FilterBox->fontMetrics().horizontalAdvance(QStringLiteral("MMMM")));
    auto* find = new QAction(this);
    find->setObjectName(QStringLiteral("FindKeys"));
    find->setShortcuts(QKeySequence::keyBindings(QKeySequence::Find));
    addAction(find);
    connect(find, &QAction::triggered, this, [this] {
        FilterBox->setFocus(Qt::ShortcutFocusReason);
        FilterBox->selectAll();
    });
    auto* box = static_cast<QBoxLayout*>(layout());

    auto* menus = new QMenuBar(this);
    menus->setObjectName(QStringLiteral("MenuBar"));
    QMenu* file = menus->addMenu(tr("ファイル"));
    QAction* exporting = file->addAction(tr("書き出し..."), this, &CardEditorDialog::exportTable);
    exporting->setObjectName(QStringLiteral("ExportTable"));
    QAction* importing = file->addAction(tr("読み込み..."), this, &CardEditorDialog::importTable);
    importing->setObjectName(QStringLiteral("ImportTable"));
    importing->setEnabled(readable_);
    auto* top = new QWidget(this);
    auto* row = new QHBoxLayout(top);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(menus, 1);
    row->addWidget(FilterBox);
    box->setMenuBar(top);

    askTablePath = [this](bool save) {
        const QString folder = QFile::decodeName(inputs_.catalogue.parent_path().c_str());
        const QString filter = tr("表 (*.csv *.json);;すべてのファイル (*)");
        return save ? QFileDialog::getSaveFileName(this, tr("書き出し"), folder, filter)
                    : QFileDialog::getOpenFileName(this, tr("読み込み"), folder, filter);
    };
}

std::vector<int> CardEditorDialog::selectedRows() const {
    const QTableView* view = table(currentKind());
    std::set<int> rows;
    for (const QModelIndex& index : view->selectionModel()->selectedIndexes())
        if (!view->isRowHidden(index.row()))
            rows.insert(index.row());
    if (rows.empty() && view->currentIndex().isValid())
        rows.insert(view->currentIndex().row());
    return {rows.begin(), rows.end()};
}

std::vector<int> CardEditorDialog::selectedColumns() const {
    const QTableView* view = table(currentKind());
    std::set<int> columns;
    for (const QModelIndex& index : view->selectionModel()->selectedIndexes())
        columns.insert(index.column());
    if (columns.empty() && view->currentIndex().isValid())
        columns.insert(view->currentIndex().column());
    if (columns.empty())
        return {};
    // A block is a rectangle: the columns between the first and the last selected.
    std::vector<int> all;
    for (int c = *columns.begin(); c <= *columns.rbegin(); ++c)
        all.push_back(c);
    return all;
}

void CardEditorDialog::copyCells() {
    const CardTableModel& m = *model(currentKind());
    std::vector<size_t> lines;
    for (const int row : selectedRows())
        lines.push_back(m.lineOf(row));
    std::vector<const CardField*> fields;
    for (const int column : selectedColumns())
        fields.push_back(&m.fieldOf(column));
    if (lines.empty() || fields.empty())
        return;
    QGuiApplication::clipboard()->setText(QString::fromStdString(copyBlock(sheet_->document(), lines, fields)));
}

void CardEditorDialog::pasteAt(int row, int column, const std::string& text, const QString& stepName) {
    const char kind = currentKind();
    const CardTableModel& m = *model(kind);
    const QTableView* view = table(kind);
    // Down the rows as they are shown, sorted or filtered.
    std::vector<size_t> rows;
    size_t first = 0;
    for (int r = 0; r < m.rowCount(); ++r) {
        if (view->isRowHidden(r))
            continue;
        if (r == row)
            first = rows.size();
        rows.push_back(m.lineOf(r));
    }
    std::vector<const CardField*> columns;
    for (int c = 0; c < m.columnCount(); ++c)
        columns.push_back(&m.fieldOf(c));
    const BlockPaste paste =
        pasteBlock(sheet_->document(), kind, rows, first, columns, static_cast<size_t>(column), text);
    sheet_->editAll(paste.edits, stepName);
    if (paste.refused.empty())
        return;
    QStringList named;
    for (const RefusedCell& cell : paste.refused)
        named << (cell.field
                      ? QStringLiteral("%1 %2: %3")
                            .arg(cardTitle(cell.line), heading(m, cell.field), QString::fromStdString(cell.reason))
                      : QString::fromStdString(cell.reason));
    const QString message =
        tr("%1 個のセルは貼り付けませんでした:\n%2").arg(paste.refused.size()).arg(named.join('\n'));
    StatusLabel->setText(message);
    ask(message, QMessageBox::Ok);
}

void CardEditorDialog::pasteCells() {
    if (!readable_)
        return;
    const std::vector<int> rows = selectedRows();
    const std::vector<int> columns = selectedColumns();
    if (rows.empty() || columns.empty())
        return;
    pasteAt(rows.front(), columns.front(), QGuiApplication::clipboard()->text().toStdString(), tr("貼り付け"));
}

void CardEditorDialog::fillDown() {
    const std::vector<int> rows = selectedRows();
    const std::vector<int> columns = selectedColumns();
    if (!readable_ || rows.size() < 2 || columns.empty())
        return;
    const CardTableModel& m = *model(currentKind());
    std::vector<const CardField*> fields;
    fields.reserve(columns.size());
    for (const int column : columns)
        fields.push_back(&m.fieldOf(column));
    const std::string top = copyBlock(sheet_->document(), {m.lineOf(rows.front())}, fields);
    std::string block;
    for (size_t k = 1; k < rows.size(); ++k)
        block += top;
    // The rows under the top one as the view shows them; a row hidden between two
    // selected ones is passed over, as it is in the paste.
    pasteAt(rows[1], columns.front(), block, tr("下へコピー"));
}

void CardEditorDialog::applyFilter() {
    if (!FilterBox)
        return;
    const QString wanted = FilterBox->text().trimmed();
    for (char kind : {'C', 'V'}) {
        const CardTableModel& m = *model(kind);
        QTableView* view = table(kind);
        for (int r = 0; r < m.rowCount(); ++r) {
            bool shown = wanted.isEmpty();
            for (int c = 0; c < m.columnCount() && !shown; ++c)
                shown = m.index(r, c).data(Qt::DisplayRole).toString().contains(wanted, Qt::CaseInsensitive);
            view->setRowHidden(r, !shown);
        }
    }
}

bool CardEditorDialog::replaceCardLine(char kind, int32_t id, const std::string& before, const std::string& after,
                                       QString& why) {
    const CardField& idField = *findCardField(kind, "id");
    for (const size_t line : sheet_->document().cardLines(kind)) {
        const std::string& text = sheet_->document().lines()[line].text;
        if (fieldNumber(text, idField) != id)
            continue;
        if (text != before) {
            why = tr("%1 は提案の後に変わっています。もう一度提案を見てください。").arg(cardTitle(line));
            return false;
        }
        sheet_->edit(sheet_->document().replaceText(line, after), tr("提案の変更"));
        selectLine(line);
        return true;
    }
    why = tr("%1%2 のカードがもうありません。").arg(QLatin1Char(kind)).arg(id, 3, 10, QLatin1Char('0'));
    return false;
}

bool CardEditorDialog::exportTable() {
    const QString path = askTablePath(true);
    if (path.isEmpty())
        return false;
    const TableFormat format =
        path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive) ? TableFormat::Json : TableFormat::Csv;
    try {
        writeFileAtomic(QFile::encodeName(path).toStdString(), exportCardTable(sheet_->document(), format));
    } catch (const std::exception& e) {
        ask(errorText(e), QMessageBox::Ok);
        return false;
    }
    StatusLabel->setText(tr("%1 に書き出しました。").arg(path));
    return true;
}

bool CardEditorDialog::importTable() {
    const QString path = readable_ ? askTablePath(false) : QString();
    if (path.isEmpty())
        return false;
    TableImport imported;
    try {
        imported = importCardTable(readFileBytes(QFile::encodeName(path).toStdString()));
    } catch (const std::exception& e) {
        ask(errorText(e), QMessageBox::Ok);
        return false;
    }
    if (!imported.problems.empty()) {
        QStringList named;
        for (const TableProblem& p : imported.problems) {
            QString where = p.row > 0 ? tr("%1 行目").arg(p.row) : QString();
            if (!p.column.empty())
                where += QStringLiteral(" %1").arg(QString::fromStdString(p.column));
            named << (where.isEmpty() ? fromCp932(p.message)
                                      : where.trimmed() + QStringLiteral(": ") + fromCp932(p.message));
        }
        ask(tr("%1 は読み込めません (%2 件):\n%3").arg(path).arg(named.size()).arg(named.join('\n')), QMessageBox::Ok);
        return false;
    }
    // The whole catalogue as one step, so that one undo brings back what was there.
    const auto& now = sheet_->document().lines();
    sheet_->edit(LineEdit{0, now.size(), imported.document.lines()}, tr("読み込み"));
    StatusLabel->setText(tr("%1 を読み込みました。").arg(path));
    return true;
}

} // namespace morvane
