#include "ui/CardEditorDialog.h"

#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "cards/Marks.h"
#include "common/AtomicFile.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/FileNames.h"
#include "common/Files.h"
#include "ui/CardTableModel.h"
#include "ui/Platform.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTreeWidget>
#include <QUndoStack>
#include <QVBoxLayout>
#include <QValidator>

#include <algorithm>
#include <map>

namespace morvane {

namespace {

QString byteCountText(int bytes) {
    return bytes < 0 ? QObject::tr("書けない文字") : QObject::tr("%1/%2 バイト").arg(bytes).arg(MaxNameBytes);
}

// A name the file can hold in at most MaxNameBytes bytes of code page 932.
class NameValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        const int bytes = nameBytes(input);
        return bytes >= 0 && bytes <= MaxNameBytes ? Acceptable : Invalid;
    }
};

// The name's editor: the text and, beside it, the bytes it takes of what a name may.
class NameEditor : public QWidget {
public:
    explicit NameEditor(QWidget* parent) : QWidget(parent), edit(new QLineEdit(this)), count(new QLabel(this)) {
        setObjectName(QStringLiteral("NameEditor"));
        edit->setObjectName(QStringLiteral("NameEdit"));
        edit->setValidator(new NameValidator(edit));
        edit->setFrame(false);
        // Room for the longest name the editor makes: 16 full-width characters.
        edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QString(MaxNameBytes / 2, QChar(0x3042))) + 8);
        count->setObjectName(QStringLiteral("NameBytes"));
        // As wide as its widest text from the start: the editor is laid out before the
        // name is put in, and a counter that grew after it would take the name's room.
        for (const int bytes : {MaxNameBytes, -1})
            count->setMinimumWidth(
                std::max(count->minimumWidth(), count->fontMetrics().horizontalAdvance(byteCountText(bytes))));
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 0, 2, 0);
        layout->setSpacing(4);
        layout->addWidget(edit, 1);
        layout->addWidget(count);
        setAutoFillBackground(true);
        setFocusProxy(edit);
        QObject::connect(edit, &QLineEdit::textChanged, this, [this] { count->setText(byteCountText(bytes())); });
    }
    int bytes() const { return nameBytes(edit->text()); }

    QLineEdit* edit;
    QLabel* count;
};

const CardField& fieldAt(const QModelIndex& index) {
    return static_cast<const CardTableModel*>(index.model())->fieldOf(index.column());
}

char kindAt(const QModelIndex& index) {
    return static_cast<const CardTableModel*>(index.model())->kind();
}

// A button of the row above the tables. None is a default button: Enter belongs to the
// tables.
QPushButton* rowButton(QWidget* parent, const QString& text, const char* name) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

// Enter works the table as in a spreadsheet: on a cell it opens the cell's editor, in
// an editor it keeps the value and goes down a row. The dialog never sees the key, so
// no button is pressed by it.
class CardTableView : public QTableView {
public:
    using QTableView::QTableView;

    // Every column as wide as it now stands, and a screen of rows: the editor opens
    // that large where the screen has room.
    QSize sizeHint() const override {
        const int frame = 2 * frameWidth();
        return {horizontalHeader()->length() + frame + verticalScrollBar()->sizeHint().width(),
                horizontalHeader()->height() + ScreenRows * verticalHeader()->defaultSectionSize() + frame +
                    horizontalScrollBar()->sizeHint().height()};
    }
    static constexpr int ScreenRows = 20;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter && state() != EditingState && currentIndex().isValid()) {
            edit(currentIndex());
            event->accept();
            return;
        }
        QTableView::keyPressEvent(event);
    }

    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override {
        QTableView::closeEditor(editor, hint);
        // The delegate ends an edit with this hint for Enter alone.
        if (hint != QAbstractItemDelegate::SubmitModelCache)
            return;
        const QModelIndex below = model()->index(currentIndex().row() + 1, currentIndex().column());
        if (below.isValid())
            setCurrentIndex(below);
    }
};

} // namespace

QWidget* CardFieldDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const {
    const CardField& field = fieldAt(index);
    const char kind = kindAt(index);
    if (isNumeric(field)) {
        auto* box = new QSpinBox(parent);
        const NumberRange range = numberRange(kind, field);
        box->setRange(range.min, range.max);
        if (field.type == FieldType::OptionalNumber) {
            // One below the range stands for the none mark: the card lacks the property.
            box->setMinimum(CardTableModel::noneValue(kind, field));
            box->setSpecialValueText(fromCp932(mark::None));
        }
        box->setFrame(false);
        return box;
    }
    if (field.type == FieldType::Name)
        return new NameEditor(parent);
    auto* list = new QComboBox(parent);
    for (const std::string_view choice : field.choices)
        list->addItem(fromCp932(choice));
    list->setFrame(false);
    return list;
}

void CardFieldDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    const QVariant value = index.data(Qt::EditRole);
    // What the editor opened with: leaving it unchanged leaves the card alone, even
    // where the field holds what the editor cannot show (a column that is no number).
    editor->setProperty("opened", value);
    if (auto* box = qobject_cast<QSpinBox*>(editor)) {
        box->setValue(value.toInt());
    } else if (auto* list = qobject_cast<QComboBox*>(editor)) {
        // A mark the program gives no meaning stays offered, so that opening the
        // editor does not change the card.
        if (list->findText(value.toString()) < 0)
            list->addItem(value.toString());
        list->setCurrentIndex(list->findText(value.toString()));
    } else if (auto* name = dynamic_cast<NameEditor*>(editor)) {
        name->edit->setText(value.toString());
        name->count->setText(byteCountText(name->bytes()));
    }
}

void CardFieldDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const {
    QVariant value;
    if (auto* box = qobject_cast<QSpinBox*>(editor)) {
        box->interpretText();
        value = box->value();
    } else if (auto* list = qobject_cast<QComboBox*>(editor)) {
        value = list->currentText();
    } else if (auto* name = dynamic_cast<NameEditor*>(editor)) {
        value = name->edit->text();
    }
    if (value.isValid() && value != editor->property("opened"))
        model->setData(index, value, Qt::EditRole);
}

void CardFieldDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                             const QModelIndex&) const {
    QRect rect = option.rect;
    rect.setWidth(std::max(rect.width(), editor->sizeHint().width()));
    editor->setGeometry(rect);
}

CardEditorDialog::CardEditorDialog(CardEditorInputs inputs, QWidget* parent)
    : QDialog(parent), inputs_(std::move(inputs)) {
    setObjectName(QStringLiteral("CardEditorDialog"));
    setModal(false);
    ask = [this](const QString& text, QMessageBox::StandardButtons buttons) {
        // A box that can only be acknowledged reports a failure, not a question.
        QMessageBox box(buttons == QMessageBox::Ok ? QMessageBox::Critical : QMessageBox::Question, windowTitle(), text,
                        buttons, this);
        return static_cast<QMessageBox::StandardButton>(box.exec());
    };

    choose = [this](const QString& text, const QStringList& choices) {
        QMessageBox box(QMessageBox::Warning, windowTitle(), text, QMessageBox::Cancel, this);
        std::vector<QAbstractButton*> buttons;
        for (const QString& choice : choices)
            buttons.push_back(box.addButton(choice, QMessageBox::AcceptRole));
        box.exec();
        const auto chosen = std::find(buttons.begin(), buttons.end(), box.clickedButton());
        return chosen == buttons.end() ? -1 : static_cast<int>(chosen - buttons.begin());
    };
    askSavePath = [this] {
        return QFileDialog::getSaveFileName(this, tr("別の名前で保存"),
                                            QFile::decodeName(inputs_.catalogue.parent_path().c_str()),
                                            tr("カード (*.dat);;すべてのファイル (*)"));
    };

    const QString readError = readCatalogue();
    makeTables();
    makeButtons();
    layOutDialog(readError);
    makeBalanceButton();
    connectButtons();
    makeSheetActions();
    setWindowTitle(tr("カードの編集 - %1[*]").arg(QFile::decodeName(inputs_.catalogue.filename().c_str())));
    showProblems();
    restoreLayout();
}

namespace {

// The user's own settings file (~/.config/Morvane/morvane.ini): layouts only, never data.
std::unique_ptr<QSettings> layoutSettings() {
    auto settings = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Morvane"),
                                                QStringLiteral("morvane"));
    settings->beginGroup(QStringLiteral("CardEditor"));
    return settings;
}

} // namespace

void CardEditorDialog::restoreLayout() {
    const std::unique_ptr<QSettings> stored = layoutSettings();
    QSettings& settings = *stored;
    if (const QByteArray geometry = settings.value(QStringLiteral("geometry")).toByteArray(); !geometry.isEmpty())
        restoreGeometry(geometry);
    for (QTableView* view : {CharacterTable, VehicleTable}) {
        QHeaderView* header = view->horizontalHeader();
        const QString key = view->objectName();
        // Widths saved for another set of columns would land on the wrong ones.
        if (settings.value(key + QStringLiteral("/columns")).toInt() != header->count())
            continue;
        const QByteArray state = settings.value(key + QStringLiteral("/header")).toByteArray();
        if (!state.isEmpty())
            header->restoreState(state);
        // The file keeps its order: a sort is never brought back from an earlier session.
        header->setSortIndicator(-1, Qt::AscendingOrder);
    }
}

void CardEditorDialog::saveLayout() const {
    const std::unique_ptr<QSettings> stored = layoutSettings();
    QSettings& settings = *stored;
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
    for (const QTableView* view : {CharacterTable, VehicleTable}) {
        settings.setValue(view->objectName() + QStringLiteral("/columns"), view->horizontalHeader()->count());
        settings.setValue(view->objectName() + QStringLiteral("/header"), view->horizontalHeader()->saveState());
    }
}

void CardEditorDialog::hideEvent(QHideEvent* event) {
    saveLayout();
    QDialog::hideEvent(event);
}

QString CardEditorDialog::readCatalogue() {
    QString readError;
    try {
        stored_ = StoredFile::readIfThere(inputs_.catalogue, CardCatalogue::MaxFileBytes);
        if (!stored_.exists())
            readError =
                tr("%1 はまだありません。保存すると作られます。").arg(QFile::decodeName(inputs_.catalogue.c_str()));
    } catch (const MorvaneError& e) {
        // Whatever is there must not be written over with an empty catalogue: the
        // stored file stays unread, and a save refuses to touch it.
        readable_ = false;
        readError = errorText(e);
    }
    storedDocument_ = CatalogueDocument::parse(stored_.bytes());
    sheet_ = new CardSheet(storedDocument_, this);
    characters_ = new CardTableModel(*sheet_, 'C', this);
    vehicles_ = new CardTableModel(*sheet_, 'V', this);
    return readError;
}

void CardEditorDialog::makeTables() {
    Tabs = new QTabWidget(this);
    Tabs->setObjectName(QStringLiteral("Tabs"));
    auto* delegate = new CardFieldDelegate(this);
    for (CardTableModel* model : {characters_, vehicles_}) {
        auto* view = new CardTableView(Tabs);
        view->setObjectName(model->kind() == 'C' ? QStringLiteral("CharacterTable") : QStringLiteral("VehicleTable"));
        view->setModel(model);
        view->setItemDelegate(delegate);
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::AnyKeyPressed);
        view->verticalHeader()->setVisible(false);
        // Fitted to what the columns hold when the editor opens; the user sizes them after.
        view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
        view->resizeColumnsToContents();
        view->setEnabled(readable_);
        (model->kind() == 'C' ? CharacterTable : VehicleTable) = view;
        Tabs->addTab(view, model->kind() == 'C' ? tr("キャラクター") : tr("車両"));
    }
}

void CardEditorDialog::makeButtons() {
    auto button = [this](const QString& text, const char* name) { return rowButton(this, text, name); };
    AddBtn = button(tr("追加"), "AddBtn");
    CopyBtn = button(tr("複製"), "CopyBtn");
    DeleteBtn = button(tr("削除"), "DeleteBtn");
    UndoBtn = button(tr("元に戻す"), "UndoBtn");
    RedoBtn = button(tr("やり直し"), "RedoBtn");
    SaveBtn = button(tr("保存"), "SaveBtn");
    UndoBtn->setShortcut(QKeySequence::Undo);
    SaveBtn->setShortcut(QKeySequence::Save);
    ButtonRow = new QHBoxLayout;
    for (QPushButton* b : {AddBtn, CopyBtn, DeleteBtn, UndoBtn, RedoBtn})
        ButtonRow->addWidget(b);
    ButtonRow->addStretch();
    ButtonRow->addWidget(SaveBtn);
    for (QPushButton* b : {AddBtn, CopyBtn, DeleteBtn, SaveBtn})
        b->setEnabled(readable_);
    UndoBtn->setEnabled(false);
    RedoBtn->setEnabled(false);
}

void CardEditorDialog::makeBalanceButton() {
    if (!inputs_.balance)
        return;
    BalanceBtn = rowButton(this, tr("バランスを調べる..."), "BalanceBtn");
    // After the editing buttons, before the gap that keeps 保存 apart.
    ButtonRow->insertWidget(ButtonRow->count() - 2, BalanceBtn);
    if (inputs_.suggest) {
        SuggestBtn = rowButton(this, tr("提案を見る..."), "SuggestBtn");
        ButtonRow->insertWidget(ButtonRow->count() - 2, SuggestBtn);
        connect(SuggestBtn, &QPushButton::clicked, this, [this] { inputs_.suggest(*this); });
    }
}

void CardEditorDialog::layOutDialog(const QString& readError) {
    ProblemList = new QListWidget(this);
    ProblemList->setObjectName(QStringLiteral("ProblemList"));
    ProblemList->setMaximumHeight(ProblemList->fontMetrics().lineSpacing() * 6);
    StatusLabel = new QLabel(readError, this);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    StatusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    StatusLabel->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(ButtonRow);
    layout->addWidget(Tabs, 1);
    layout->addWidget(new QLabel(tr("問題 (起動時や戦闘中に出るメッセージ):"), this));
    layout->addWidget(ProblemList);
    layout->addWidget(StatusLabel);
}

void CardEditorDialog::connectButtons() {
    QUndoStack* stack = sheet_->undoStack();
    connect(AddBtn, &QPushButton::clicked, this, &CardEditorDialog::addCard);
    connect(CopyBtn, &QPushButton::clicked, this, &CardEditorDialog::copyCard);
    connect(DeleteBtn, &QPushButton::clicked, this, &CardEditorDialog::deleteCard);
    connect(SaveBtn, &QPushButton::clicked, this, &CardEditorDialog::save);
    connect(UndoBtn, &QPushButton::clicked, stack, &QUndoStack::undo);
    connect(RedoBtn, &QPushButton::clicked, stack, &QUndoStack::redo);
    // Ctrl+Y and Ctrl+Shift+Z on every desktop, and the desktop's own redo keys beside it: a button takes
    // only the first of those, which on many desktops is not Ctrl+Y.
    QList<QKeySequence> redoKeys{QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)};
    for (const QKeySequence& key : QKeySequence::keyBindings(QKeySequence::Redo))
        if (!redoKeys.contains(key))
            redoKeys.append(key);
    auto* redo = new QAction(this);
    redo->setObjectName(QStringLiteral("RedoKeys"));
    redo->setShortcuts(redoKeys);
    addAction(redo);
    connect(redo, &QAction::triggered, stack, &QUndoStack::redo);
    if (BalanceBtn)
        connect(BalanceBtn, &QPushButton::clicked, this, [this] { inputs_.balance(*this); });
    connect(stack, &QUndoStack::canUndoChanged, UndoBtn, &QPushButton::setEnabled);
    connect(stack, &QUndoStack::canRedoChanged, RedoBtn, &QPushButton::setEnabled);
    connect(stack, &QUndoStack::cleanChanged, this, [this](bool clean) { setWindowModified(!clean); });
    connect(sheet_, &CardSheet::changed, this, &CardEditorDialog::showProblems);
    connect(sheet_, &CardSheet::stepReplayed, this, &CardEditorDialog::showStep);
    connect(ProblemList, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        const auto& problem = sheet_->problems()[static_cast<size_t>(item->data(Qt::UserRole).toInt())];
        selectLine(problem.line);
        QTableView* view = table(currentKind());
        view->setCurrentIndex(
            view->model()->index(view->currentIndex().row(), model(currentKind())->columnOf(problem.field)));
    });
}

CardEditorDialog::~CardEditorDialog() = default;

char CardEditorDialog::currentKind() const {
    return Tabs->currentIndex() == 1 ? 'V' : 'C';
}

void CardEditorDialog::showKind(char kind) {
    Tabs->setCurrentIndex(kind == 'V' ? 1 : 0);
}

bool CardEditorDialog::modified() const {
    return !sheet_->undoStack()->isClean();
}

long long CardEditorDialog::currentLine() const {
    const QModelIndex index = table(currentKind())->currentIndex();
    return index.isValid() ? static_cast<long long>(model(currentKind())->lineOf(index.row())) : -1;
}

void CardEditorDialog::selectLine(size_t line) {
    const char kind = lineKind(sheet_->document().lines()[line].text);
    showKind(kind);
    const int row = model(kind)->rowOf(line);
    if (row >= 0)
        table(kind)->setCurrentIndex(model(kind)->index(row, 0));
}

void CardEditorDialog::showStep(char kind, size_t line, const CardField* field) {
    if (kind != 'C' && kind != 'V')
        return;
    // The step's card, or, where the step took it away, the card now in its row.
    const std::vector<size_t> lines = sheet_->document().cardLines(kind);
    if (lines.empty())
        return;
    const auto row =
        std::min<size_t>(std::lower_bound(lines.begin(), lines.end(), line) - lines.begin(), lines.size() - 1);
    const int column = field ? std::max(0, model(kind)->columnOf(field)) : 0;
    showKind(kind);
    QTableView* view = table(kind);
    const QModelIndex index = model(kind)->index(static_cast<int>(row), column);
    view->setCurrentIndex(index);
    view->scrollTo(index);
}

QString CardEditorDialog::cardTitle(size_t line) const {
    const std::string& text = sheet_->document().lines()[line].text;
    const char kind = lineKind(text);
    return QStringLiteral("%1%2「%3」")
        .arg(QLatin1Char(kind))
        .arg(fromCp932(fieldBytes(text, *findCardField(kind, "id"))))
        .arg(fromCp932(fieldBytes(text, *findCardField(kind, "name"))));
}

void CardEditorDialog::showProblems() {
    ProblemList->clear();
    const std::vector<CatalogueProblem>& problems = sheet_->problems();
    for (size_t i = 0; i < problems.size(); ++i) {
        const CatalogueProblem& p = problems[i];
        const CardTableModel* m = model(lineKind(sheet_->document().lines()[p.line].text));
        auto* item = new QListWidgetItem(
            tr("%1 行目 %2 %3: %4")
                .arg(CatalogueDocument::lineNumber(p.line))
                .arg(cardTitle(p.line))
                .arg(m->headerData(m->columnOf(p.field), Qt::Horizontal, Qt::DisplayRole).toString())
                .arg(fromCp932(p.message)),
            ProblemList);
        item->setData(Qt::UserRole, static_cast<int>(i));
    }
    const CatalogueDocument& document = sheet_->document();
    StatusLabel->setText(readable_ ? tr("キャラクター %1 枚、車両 %2 枚、問題 %3 件")
                                         .arg(document.cardLines('C').size())
                                         .arg(document.cardLines('V').size())
                                         .arg(problems.size())
                                   : StatusLabel->text());
}

QString CardEditorDialog::cardLabel(char kind, int32_t id) const {
    QString code = QStringLiteral("%1%2").arg(QLatin1Char(kind)).arg(id, 3, 10, QLatin1Char('0'));
    const CardField& idField = *findCardField(kind, "id");
    const CardField& nameField = *findCardField(kind, "name");
    // The card as edited, or as read where the edit took it away.
    for (const CatalogueDocument* document : {&sheet_->document(), &storedDocument_})
        for (const size_t line : document->cardLines(kind))
            if (fieldNumber(document->lines()[line].text, idField) == id)
                return code + QLatin1Char(' ') + fromCp932(fieldBytes(document->lines()[line].text, nameField));
    return code;
}

QString CardEditorDialog::teamText(std::string_view line) const {
    const SideSelection team = deckLineIds(line);
    QStringList characters;
    std::vector<std::pair<int32_t, int>> counts; // each id once, in slot order
    for (const int32_t id : team.characters) {
        if (id == 0)
            continue;
        auto same = std::find_if(counts.begin(), counts.end(), [id](const auto& c) { return c.first == id; });
        if (same == counts.end())
            counts.emplace_back(id, 1);
        else
            ++same->second;
    }
    for (const auto& [id, count] : counts)
        characters << cardLabel('C', id) + (count > 1 ? tr(" ×%1").arg(count) : QString());
    const QString vehicle = team.vehicle != 0 ? cardLabel('V', team.vehicle) : tr("車両なし");
    return vehicle + QStringLiteral(" / ") + characters.join(QStringLiteral("、"));
}

QString CardEditorDialog::decksUsing(char kind, int32_t id) const {
    if (!inputs_.deckLines)
        return {};
    const std::array<std::vector<std::string>, 2> decks = inputs_.deckLines();
    QString text;
    for (size_t side = 0; side < 2; ++side)
        for (const size_t i : linesUsingCard(decks[side], kind, id))
            text += tr("  %1のデッキ「%2」(%3 の %4 行目): %5\n")
                        .arg(side == 0 ? tr("上") : tr("下"))
                        .arg(fromCp932(deckEntryText(decks[side][i])))
                        .arg(QString::fromLatin1(file::Decks[side].data(), static_cast<int>(file::Decks[side].size())))
                        .arg(i + 1)
                        .arg(teamText(decks[side][i]));
    return text;
}

void CardEditorDialog::insertCard(char kind, const std::function<std::string(int32_t)>& lineWithId,
                                  const QString& step) {
    const std::optional<int32_t> id = freeCardId(sheet_->document(), kind);
    if (!id) {
        StatusLabel->setText(tr("ID がすべて使われているので、これ以上追加できません。"));
        return;
    }
    const LineEdit edit = sheet_->document().insertCard(lineWithId(*id));
    sheet_->edit(edit, step);
    selectLine(edit.index + edit.inserted.size() - 1);
}

void CardEditorDialog::addCard() {
    const char kind = currentKind();
    const std::string name = utf8ToCp932(kind == 'C' ? "新しいキャラクター" : "新しい車両");
    insertCard(
        kind, [&](int32_t id) { return newCardLine(kind, id, name); }, tr("カードの追加"));
}

void CardEditorDialog::copyCard() {
    const long long line = currentLine();
    if (line < 0)
        return;
    const char kind = currentKind();
    const CardField& idField = *findCardField(kind, "id");
    const CardField& nameField = *findCardField(kind, "name");
    const std::string text = sheet_->document().lines()[static_cast<size_t>(line)].text;
    // A copy under the same name would be told from its card by the id alone, in the
    // selectors as in the tables.
    const std::string copy =
        withFieldBytes(text, nameField, copiedCardName(sheet_->document(), kind, fieldBytes(text, nameField)));
    insertCard(
        kind, [&](int32_t id) { return withFieldBytes(copy, idField, formatNumber(idField, id)); }, tr("カードの複製"));
}

void CardEditorDialog::deleteCard() {
    const long long line = currentLine();
    if (line < 0)
        return;
    const std::vector<DocumentLine>& lines = sheet_->document().lines();
    const std::string& text = lines[static_cast<size_t>(line)].text;
    const char kind = lineKind(text);
    const CardField& idField = *findCardField(kind, "id");
    const std::optional<int32_t> id = fieldNumber(text, idField);
    // Another line with the same id keeps the card in the catalogue.
    bool idStays = false;
    for (const size_t other : sheet_->document().cardLines(kind))
        idStays = idStays || (other != static_cast<size_t>(line) && fieldNumber(lines[other].text, idField) == id);
    const QString users = id && !idStays ? decksUsing(kind, *id) : QString();
    if (!users.isEmpty() &&
        ask(tr("%1 は次のデッキで使われています:\n%2\n削除しますか?").arg(cardTitle(static_cast<size_t>(line)), users),
            QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    const int row = table(kind)->currentIndex().row();
    sheet_->edit(sheet_->document().removeLine(static_cast<size_t>(line)), tr("カードの削除"));
    if (model(kind)->rowCount() > 0)
        table(kind)->setCurrentIndex(model(kind)->index(std::min(row, model(kind)->rowCount() - 1), 0));
}

bool CardEditorDialog::save() {
    if (!readable_)
        return false;
    const CatalogueDocument& document = sheet_->document();
    if (!sheet_->problems().empty() &&
        ask(tr("問題が %1 件あります。このまま保存すると、起動時か戦闘中にそのメッセージが出ます。"
               "保存しますか?")
                .arg(sheet_->problems().size()),
            QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return false;

    // Cards this save takes away, and the deck lines that use them.
    QString users;
    for (const CardRef& card : cardsRemoved(storedDocument_, document)) {
        const QString lines = decksUsing(card.kind, card.id);
        if (!lines.isEmpty())
            users += tr("%1:\n%2").arg(cardLabel(card.kind, card.id), lines);
    }
    if (!users.isEmpty() &&
        ask(tr("この保存で無くなるカードを、次のデッキが使っています:\n%1\n保存しますか?").arg(users),
            QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return false;

    // Under the file's lock, like every writer of a deck list: a catalogue that another
    // copy or a text editor changed since it was read is refused and kept, not written
    // over with what this editor read.
    const std::string bytes = document.bytes();
    try {
        stored_.save(bytes);
    } catch (const FileChangedError& e) {
        StatusLabel->setText(tr("保存できませんでした (元のファイルはそのままです): ") + errorText(e));
        resolveConflict();
        return false;
    } catch (const MorvaneError& e) {
        StatusLabel->setText(tr("保存できませんでした (元のファイルはそのままです): ") + errorText(e));
        ask(StatusLabel->text(), QMessageBox::Ok);
        return false;
    }
    storedDocument_ = document;
    sheet_->undoStack()->setClean();
    showProblems();
    StatusLabel->setText(StatusLabel->text() + tr("。保存しました。"));
    if (inputs_.saved)
        inputs_.saved();
    return true;
}

QString CardEditorDialog::catalogueName() const {
    return QFile::decodeName(inputs_.catalogue.filename().c_str());
}

void CardEditorDialog::resolveConflict() {
    const QString text = tr("%1 は、この編集で読み込んだ後に、ほかのプログラムが保存しています。上書きするとその変更が"
                            "消えるので、保存しませんでした。\n\n"
                            "読み直す: この編集の変更を捨てて、保存されている内容を読み込みます。\n"
                            "別の名前で保存: この編集の内容を別のファイルに保存します (%1 はそのままです)。\n"
                            "違いを見る: どのカードが違うかを一覧にします。")
                             .arg(catalogueName());
    switch (choose(text, {tr("読み直す..."), tr("別の名前で保存..."), tr("違いを見る")})) {
    case 0:
        reload();
        break;
    case 1:
        saveAs();
        break;
    case 2:
        showChanges();
        break;
    default:
        break;
    }
}

bool CardEditorDialog::reload() {
    if (modified() && ask(tr("この編集での変更をすべて捨てて、%1 を読み直しますか?").arg(catalogueName()),
                          QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return false;
    StoredFile fresh;
    try {
        fresh = StoredFile::readIfThere(inputs_.catalogue, CardCatalogue::MaxFileBytes);
    } catch (const MorvaneError& e) {
        StatusLabel->setText(tr("読み直せませんでした (編集中の内容はそのままです): ") + errorText(e));
        ask(StatusLabel->text(), QMessageBox::Ok);
        return false;
    }
    stored_ = std::move(fresh);
    storedDocument_ = CatalogueDocument::parse(stored_.bytes());
    sheet_->reset(storedDocument_);
    // Fitted to the cards read, as when the editor opened.
    for (QTableView* view : {CharacterTable, VehicleTable})
        view->resizeColumnsToContents();
    showProblems();
    StatusLabel->setText(StatusLabel->text() + tr("。%1 を読み直しました。").arg(catalogueName()));
    if (inputs_.readAgain)
        inputs_.readAgain();
    return true;
}

bool CardEditorDialog::saveAs() {
    if (!readable_)
        return false;
    const QString chosen = askSavePath();
    if (chosen.isEmpty())
        return false;
    const std::filesystem::path path(QFile::encodeName(chosen).toStdString());
    std::error_code ec;
    try {
        // The copy is for keeping this editor's work beside the catalogue, never over it.
        if (std::filesystem::equivalent(path, inputs_.catalogue, ec))
            throw IoError(
                utf8ToCp932(
                    tr("%1 は編集中のファイルです。別のファイルを選んでください。").arg(catalogueName()).toStdString()),
                path.string());
        // The file dialog asked before replacing a file there.
        writeFileAtomic(path, sheet_->document().bytes());
    } catch (const MorvaneError& e) {
        StatusLabel->setText(tr("別の名前で保存できませんでした: ") + errorText(e));
        ask(StatusLabel->text(), QMessageBox::Ok);
        return false;
    }
    StatusLabel->setText(tr("%1 に保存しました。%2 は変えていません。").arg(chosen, catalogueName()));
    return true;
}

namespace {

QString changeText(CardChange change) {
    switch (change) {
    case CardChange::Added:
        return QObject::tr("追加");
    case CardChange::Removed:
        return QObject::tr("削除");
    case CardChange::Changed:
        break;
    }
    return QObject::tr("変更");
}

// One row a card: its id and name, and what the other writer's save and this editor
// each did to it since the catalogue was read.
void fillChanges(QTreeWidget* list, const CatalogueDocument& read, const CatalogueDocument& theirs,
                 const CatalogueDocument& mine) {
    struct Row {
        QString name, theirs, mine;
    };
    std::map<std::pair<char, int32_t>, Row> rows;
    for (const CardDifference& d : cardDifferences(read, theirs)) {
        Row& row = rows[{d.kind, d.id}];
        row.name = fromCp932(d.name);
        row.theirs = changeText(d.change);
    }
    for (const CardDifference& d : cardDifferences(read, mine)) {
        Row& row = rows[{d.kind, d.id}];
        if (row.name.isEmpty() || d.change != CardChange::Removed)
            row.name = fromCp932(d.name);
        row.mine = changeText(d.change);
    }
    for (const auto& [card, row] : rows)
        new QTreeWidgetItem(
            list, {QStringLiteral("%1%2").arg(QLatin1Char(card.first)).arg(card.second, 3, 10, QLatin1Char('0')),
                   row.name, row.theirs, row.mine});
}

} // namespace

QDialog* CardEditorDialog::showChanges() {
    CatalogueDocument theirs;
    try {
        theirs =
            CatalogueDocument::parse(StoredFile::readIfThere(inputs_.catalogue, CardCatalogue::MaxFileBytes).bytes());
    } catch (const MorvaneError& e) {
        StatusLabel->setText(tr("%1 を読み込めません: ").arg(catalogueName()) + errorText(e));
        return nullptr;
    }
    delete findChild<QDialog*>(QStringLiteral("ChangesDialog"));
    auto* dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("ChangesDialog"));
    dialog->setWindowTitle(tr("違うカード - %1").arg(catalogueName()));
    auto* list = new QTreeWidget(dialog);
    list->setObjectName(QStringLiteral("ChangesList"));
    list->setRootIsDecorated(false);
    list->setHeaderLabels({tr("ID"), tr("名前"), tr("ほかの保存"), tr("この編集")});
    fillChanges(list, storedDocument_, theirs, sheet_->document());
    for (int column = 0; column < list->columnCount(); ++column)
        list->resizeColumnToContents(column);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    QPushButton* reloadButton = buttons->addButton(tr("読み直す..."), QDialogButtonBox::ActionRole);
    reloadButton->setObjectName(QStringLiteral("ReloadBtn"));
    QPushButton* saveAsButton = buttons->addButton(tr("別の名前で保存..."), QDialogButtonBox::ActionRole);
    saveAsButton->setObjectName(QStringLiteral("SaveAsBtn"));
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    connect(reloadButton, &QPushButton::clicked, dialog, [this, dialog] {
        if (reload())
            dialog->close();
    });
    connect(saveAsButton, &QPushButton::clicked, this, &CardEditorDialog::saveAs);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(new QLabel(list->topLevelItemCount() > 0
                                     ? tr("読み込んだ後の %1 から違うカード:").arg(catalogueName())
                                     : tr("違うカードはありません (コメントなど、カード以外の行の違いです)。"),
                                 dialog));
    layout->addWidget(list, 1);
    layout->addWidget(buttons);
    dialog->resize(560, 360);
    dialog->show();
    return dialog;
}

bool CardEditorDialog::askToKeepChanges() {
    if (!modified())
        return true;
    switch (ask(tr("変更を保存しますか?"), QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel)) {
    case QMessageBox::Save:
        return save();
    case QMessageBox::Discard:
        return true;
    default:
        return false;
    }
}

void CardEditorDialog::reject() {
    if (askToKeepChanges())
        QDialog::reject();
}

} // namespace morvane
