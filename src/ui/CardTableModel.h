#pragma once
// The catalogue editor's tables. A CardSheet holds the catalogue being edited (the
// core's document, every byte of card.dat), its problems, and the undo stack through
// which every change goes; a CardTableModel shows the characters or the vehicles of a
// sheet, one row a card and one column a field.
//
// The models only adapt the core: which columns a field has, what it may hold and
// how it is written back are the core's CardFields, and the problems are the core's
// checker's. The view knows no byte columns.

#include "cards/CatalogueCheck.h"
#include "cards/CatalogueDocument.h"

#include <QAbstractTableModel>
#include <QUndoCommand>

#include <vector>

class QUndoStack;

namespace morvane {

class CardSheet : public QObject {
    Q_OBJECT
public:
    explicit CardSheet(CatalogueDocument document, QObject* parent = nullptr);

    const CatalogueDocument& document() const { return document_; }
    QUndoStack* undoStack() const { return undoStack_; }
    const std::vector<CatalogueProblem>& problems() const { return problems_; }
    // The problem of a line's field, or nothing.
    const CatalogueProblem* problemAt(size_t line, const CardField* field) const;

    // Makes an edit of the document as one step of the undo stack, named text; field
    // is the one field it changes, where it changes one.
    void edit(const LineEdit& edit, const QString& text, const CardField* field = nullptr);
    // Several edits of the document as one step (a paste, a fill), named text.
    void editAll(const std::vector<LineEdit>& edits, const QString& text, const CardField* field = nullptr);
    // Applies an edit now, outside the undo stack; returns the edit that undoes it.
    LineEdit apply(const LineEdit& edit);
    // Puts another document in place of this one, as read afresh: no step to undo.
    void reset(CatalogueDocument document);

Q_SIGNALS:
    // Around every change of the document; an edit that keeps the number and kinds of
    // lines keeps the tables' rows.
    void aboutToChange(bool rowsKept);
    void changed(bool rowsKept);
    // After a step was undone or redone: where it changed the document, so that the
    // user sees what came back or went again. line is where the step's card stands, or
    // stood when the step took it away; field is null for a whole card.
    void stepReplayed(char kind, size_t line, const CardField* field);

private:
    CatalogueDocument document_;
    std::vector<CatalogueProblem> problems_;
    QUndoStack* undoStack_;
};

// One change of a sheet on its undo stack.
class SheetEditCommand : public QUndoCommand {
public:
    SheetEditCommand(CardSheet& sheet, LineEdit edit, const QString& text, const CardField* field = nullptr);
    void redo() override;
    void undo() override;

private:
    CardSheet& sheet_;
    LineEdit edit_;
    LineEdit undo_;
    const CardField* field_;
    // The first redo is the edit itself, made where the user is already looking.
    bool done_ = false;
};

class CardTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The cards of kind 'C' or 'V' in file order.
    CardTableModel(CardSheet& sheet, char kind, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Writes a value into its field as one undoable step. Refuses (false) what the
    // field cannot hold: a number out of its range, a mark that is no two-byte
    // character, a name with a character code page 932 lacks or past MaxNameBytes.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    // Orders the rows by a column's values (numbers as numbers, "＿" below them), or
    // by the file again for a column of -1. The file keeps its order: only the view's
    // rows move. Cards that come and go take their sorted places; a changed value
    // leaves its row where the user is looking until the next sort, as in a
    // spreadsheet.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    char kind() const { return kind_; }
    const CardField& fieldOf(int column) const { return *columns_[static_cast<size_t>(column)]; }
    int columnOf(const CardField* field) const;
    // The document line of a row, and the row of a line (-1 for a line not shown here).
    size_t lineOf(int row) const { return lines_[static_cast<size_t>(row)]; }
    int rowOf(size_t line) const;
    // The value an optional number's editor stands for the none mark: one below its range.
    static int noneValue(char kind, const CardField& field);

private:
    void readRows();
    void sortRows();
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;

    CardSheet& sheet_;
    char kind_;
    std::vector<const CardField*> columns_;
    std::vector<size_t> lines_;
};

// The bytes a name takes in code page 932, or -1 for a name the file cannot hold (a
// character code page 932 lacks, a line break).
int nameBytes(const QString& name);

} // namespace morvane
