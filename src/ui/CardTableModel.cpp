#include "ui/CardTableModel.h"

#include "cards/Marks.h"
#include "common/Codec.h"
#include "ui/Platform.h"

#include <QColor>
#include <QUndoStack>

#include <algorithm>
#include <climits>

#include <utility>

namespace morvane {

namespace {

struct Heading {
    std::string_view field;
    const char* character; // UTF-8
    const char* vehicle;
};

// The editor's column titles; the tool tip adds what each field does.
constexpr Heading Headings[] = {
    {"id", "ID", "ID"},
    {"name", "名前", "名前"},
    {"kindMark", "種別", ""},
    {"airMark", "空", "空"},
    {"size", "サイズ", "デッキサイズ"},
    {"hp", "HP", "HP"},
    {"power", "AP", "AP"},
    {"sp", "SP", "SP"},
    {"blockMarks1", "防御 物", ""},
    {"blockMarks2", "防御 魔", ""},
    {"blockMarks3", "防御 ブ", ""},
    {"absorbMarks1", "吸収 物", ""},
    {"absorbMarks2", "吸収 魔", ""},
    {"absorbMarks3", "吸収 ブ", ""},
    {"sealMark", "封印", ""},
    {"healAmount", "回復", ""},
    {"vehicleHealAmount", "車両回復", ""},
    {"lockMark", "固定", ""},
    {"killChance", "即死%", ""},
    {"randomMark", "乱", ""},
    {"spreadMark", "範囲", ""},
    {"pierceMark", "貫通", ""},
    {"attackCount", "回数", ""},
    {"reachLetter", "射程", ""},
    {"vehicleReachLetter", "対車両", ""},
};

constexpr const char* Hints[][2] = {
    {"kindMark", "攻撃の種類: 物 (物理)、魔 (魔法)、ブ"},
    {"airMark", "空 = 飛んでいる、それ以外 = 地上"},
    {"blockMarks1", "物理攻撃を防ぐ"},
    {"blockMarks2", "魔法攻撃を防ぐ"},
    {"blockMarks3", "ブ攻撃を防ぐ"},
    {"absorbMarks1", "物理攻撃を吸収する"},
    {"absorbMarks2", "魔法攻撃を吸収する"},
    {"absorbMarks3", "ブ攻撃を吸収する"},
    {"sealMark", "サ = 敵の魔法を封じる"},
    {"healAmount", "行動ごとの自己回復量 (＿ = なし)"},
    {"vehicleHealAmount", "行動ごとの自車両の回復量 (＿ = なし)"},
    {"lockMark", "次のターンの隊列を固定する: 敵 / 自"},
    {"killChance", "即死の確率 % (＿ = なし)"},
    {"randomMark", "ラ = 狙いがランダム"},
    {"spreadMark", "Ｃ = 敵の前列 3 体、Ａ = 前列と車両"},
    {"pierceMark", "貫 = 倒した相手を越えたダメージが車両に届く"},
    {"attackCount", "1 回の行動の攻撃回数 (＿ = 1 回)"},
    {"reachLetter", "e = 飛んでいる相手に届かない、a = 地上の相手に届かない"},
    {"vehicleReachLetter", "敵の車両に対して: e = 飛んでいる車両に届かない、a = 地上の車両に届かない"},
    {"name", "名前 (コード ページ 932 で 32 バイトまで)"},
};

const Heading* headingOf(std::string_view field) {
    for (const Heading& h : Headings)
        if (h.field == field)
            return &h;
    return nullptr;
}

QString hintOf(std::string_view field) {
    for (const auto& hint : Hints)
        if (field == hint[0])
            return QString::fromUtf8(hint[1]);
    return {};
}

} // namespace

int nameBytes(const QString& name) {
    const std::optional<std::string> bytes = utf8ToCp932Exact(name.toStdString());
    if (!bytes || endsCardLine(*bytes))
        return -1;
    return static_cast<int>(bytes->size());
}

CardSheet::CardSheet(CatalogueDocument document, QObject* parent)
    : QObject(parent), document_(std::move(document)), problems_(checkCatalogue(document_)),
      undoStack_(new QUndoStack(this)) {}

const CatalogueProblem* CardSheet::problemAt(size_t line, const CardField* field) const {
    for (const CatalogueProblem& p : problems_)
        if (p.line == line && p.field == field)
            return &p;
    return nullptr;
}

void CardSheet::edit(const LineEdit& edit, const QString& text, const CardField* field) {
    undoStack_->push(new SheetEditCommand(*this, edit, text, field));
}

LineEdit CardSheet::apply(const LineEdit& edit) {
    bool rowsKept = edit.removed == edit.inserted.size();
    for (size_t i = 0; rowsKept && i < edit.inserted.size(); ++i) {
        const size_t line = edit.index + i;
        rowsKept = line < document_.lines().size() &&
                   lineKind(document_.lines()[line].text) == lineKind(edit.inserted[i].text);
    }
    Q_EMIT aboutToChange(rowsKept);
    LineEdit undo = document_.apply(edit);
    problems_ = checkCatalogue(document_);
    Q_EMIT changed(rowsKept);
    return undo;
}

void CardSheet::reset(CatalogueDocument document) {
    Q_EMIT aboutToChange(false);
    document_ = std::move(document);
    problems_ = checkCatalogue(document_);
    undoStack_->clear();
    Q_EMIT changed(false);
}

void CardSheet::editAll(const std::vector<LineEdit>& edits, const QString& text, const CardField* field) {
    if (edits.empty())
        return;
    undoStack_->beginMacro(text);
    for (const LineEdit& e : edits)
        undoStack_->push(new SheetEditCommand(*this, e, text, field));
    undoStack_->endMacro();
}

SheetEditCommand::SheetEditCommand(CardSheet& sheet, LineEdit edit, const QString& text, const CardField* field)
    : QUndoCommand(text), sheet_(sheet), edit_(std::move(edit)), field_(field) {}

namespace {

// The kind of card a step adds, changes or takes away: of the lines either way of it.
char stepKind(const LineEdit& edit, const LineEdit& undo) {
    for (const LineEdit* side : {&edit, &undo})
        for (const DocumentLine& line : side->inserted)
            if (const char kind = lineKind(line.text))
                return kind;
    return 0;
}

} // namespace

void SheetEditCommand::redo() {
    undo_ = sheet_.apply(edit_);
    if (done_)
        Q_EMIT sheet_.stepReplayed(stepKind(edit_, undo_), edit_.index, field_);
    done_ = true;
}

void SheetEditCommand::undo() {
    sheet_.apply(undo_);
    Q_EMIT sheet_.stepReplayed(stepKind(edit_, undo_), undo_.index, field_);
}

CardTableModel::CardTableModel(CardSheet& sheet, char kind, QObject* parent)
    : QAbstractTableModel(parent), sheet_(sheet), kind_(kind) {
    // The id and the name first, then the fields in the order of their columns; the
    // columns nobody reads are kept, not shown.
    for (const std::string_view first : {"id", "name"})
        columns_.push_back(findCardField(kind, first));
    for (const CardField& field : cardFields(kind))
        if (field.type != FieldType::Unread && field.name != "id" && field.name != "name")
            columns_.push_back(&field);
    readRows();
    connect(&sheet_, &CardSheet::aboutToChange, this, [this](bool rowsKept) {
        if (!rowsKept)
            beginResetModel();
    });
    connect(&sheet_, &CardSheet::changed, this, [this](bool rowsKept) {
        if (!rowsKept) {
            readRows();
            endResetModel();
        } else if (!lines_.empty()) {
            // A changed id can bring or clear a problem in other rows too.
            Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
        }
    });
}

void CardTableModel::readRows() {
    lines_ = sheet_.document().cardLines(kind_);
    sortRows();
}

void CardTableModel::sortRows() {
    if (sortColumn_ < 0 || sortColumn_ >= columnCount())
        return;
    const CardField& field = fieldOf(sortColumn_);
    const auto& lines = sheet_.document().lines();
    // Numbers by value with the none mark (and anything unreadable) first; text by
    // its Unicode order, so that kana sort as a Japanese reader expects.
    auto less = [&](size_t a, size_t b) {
        if (isNumeric(field)) {
            const auto x = fieldNumber(lines[a].text, field);
            const auto y = fieldNumber(lines[b].text, field);
            return x.value_or(INT32_MIN) < y.value_or(INT32_MIN);
        }
        return fromCp932(fieldBytes(lines[a].text, field)) < fromCp932(fieldBytes(lines[b].text, field));
    };
    std::stable_sort(lines_.begin(), lines_.end(),
                     [&](size_t a, size_t b) { return sortOrder_ == Qt::AscendingOrder ? less(a, b) : less(b, a); });
}

void CardTableModel::sort(int column, Qt::SortOrder order) {
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Where each line's row was, so that the selection and the current cell follow it.
    const QModelIndexList before = persistentIndexList();
    std::vector<size_t> lineAt;
    for (const QModelIndex& index : before)
        lineAt.push_back(lineOf(index.row()));
    sortColumn_ = column;
    sortOrder_ = order;
    lines_ = sheet_.document().cardLines(kind_);
    sortRows();
    QModelIndexList after;
    for (size_t i = 0; i < lineAt.size(); ++i)
        after.push_back(index(rowOf(lineAt[i]), before[static_cast<int>(i)].column()));
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int CardTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

int CardTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

int CardTableModel::columnOf(const CardField* field) const {
    for (size_t c = 0; c < columns_.size(); ++c)
        if (columns_[c] == field)
            return static_cast<int>(c);
    return -1;
}

int CardTableModel::rowOf(size_t line) const {
    for (size_t r = 0; r < lines_.size(); ++r)
        if (lines_[r] == line)
            return static_cast<int>(r);
    return -1;
}

int CardTableModel::noneValue(char kind, const CardField& field) {
    return numberRange(kind, field).min - 1;
}

QVariant CardTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return {};
    const size_t line = lineOf(index.row());
    const std::string& text = sheet_.document().lines()[line].text;
    const CardField& field = fieldOf(index.column());
    const std::string_view bytes = fieldBytes(text, field);
    const CatalogueProblem* problem = sheet_.problemAt(line, &field);
    switch (role) {
    case Qt::DisplayRole: {
        // Numbers as they read, without the blanks that align them in the file.
        std::string_view shown = bytes;
        if (isNumeric(field))
            while (!shown.empty() && shown.front() == ' ')
                shown.remove_prefix(1);
        return fromCp932(shown);
    }
    case Qt::EditRole:
        if (isNumeric(field)) {
            if (field.type == FieldType::OptionalNumber && bytes == mark::None)
                return noneValue(kind_, field);
            return fieldNumber(text, field).value_or(numberRange(kind_, field).min);
        }
        return fromCp932(bytes);
    case Qt::ToolTipRole:
        return problem ? fromCp932(problem->message) : hintOf(field.name);
    case Qt::BackgroundRole:
        return problem ? QVariant(QColor(255, 200, 200)) : QVariant();
    case Qt::TextAlignmentRole:
        return isNumeric(field) ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    default:
        return {};
    }
}

QVariant CardTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Vertical || section < 0 || section >= columnCount())
        return QAbstractTableModel::headerData(section, orientation, role);
    const CardField& field = fieldOf(section);
    if (role == Qt::DisplayRole) {
        const Heading* heading = headingOf(field.name);
        return heading ? QString::fromUtf8(kind_ == 'V' ? heading->vehicle : heading->character)
                       : QString::fromLatin1(field.name.data(), static_cast<int>(field.name.size()));
    }
    if (role == Qt::ToolTipRole)
        return hintOf(field.name);
    return {};
}

Qt::ItemFlags CardTableModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable : Qt::NoItemFlags;
}

bool CardTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return false;
    const size_t line = lineOf(index.row());
    const std::string& text = sheet_.document().lines()[line].text;
    const CardField& field = fieldOf(index.column());
    std::string bytes;
    if (isNumeric(field)) {
        bool ok = false;
        const int number = value.toInt(&ok);
        const NumberRange range = numberRange(kind_, field);
        if (field.type == FieldType::OptionalNumber && ok && number == noneValue(kind_, field))
            bytes = mark::None;
        else if (!ok || number < range.min || number > range.max)
            return false;
        else if (fieldNumber(text, field) == number && fieldBytes(text, field) != mark::None)
            return true; // the same number: its text ("05", "$A") stays as the file has it
        else
            bytes = formatNumber(field, number);
    } else {
        const QString input = value.toString();
        if (field.type == FieldType::Name && nameBytes(input) > MaxNameBytes)
            return false;
        const std::optional<std::string> encoded = utf8ToCp932Exact(input.toStdString());
        if (!encoded || !fitsField(field, *encoded))
            return false;
        bytes = *encoded;
    }
    const std::string changed = withFieldBytes(text, field, bytes);
    if (changed != text)
        sheet_.edit(sheet_.document().replaceText(line, changed),
                    tr("%1 の変更").arg(headerData(index.column(), Qt::Horizontal, Qt::DisplayRole).toString()),
                    &field);
    return true;
}

} // namespace morvane
