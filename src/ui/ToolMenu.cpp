#include "ui/ToolMenu.h"

#include "cards/CardCatalogue.h"
#include "common/FileNames.h"
#include "ui/BalanceDialog.h"
#include "ui/CardEditorDialog.h"
#include "ui/CardTableModel.h"
#include "ui/OptimizeDialog.h"
#include "ui/StatsDialog.h"
#include "ui/SuggestDialog.h"

#include <QAction>
#include <QMenu>
#include <QScreen>

namespace morvane {

ToolMenu::ToolMenu(QWidget& window, QMenu& menu, ToolInputs inputs)
    : QObject(&window), window_(window), inputs_(std::move(inputs)) {
    setObjectName(QStringLiteral("ToolMenu"));
    auto command = [&](const QString& text, const char* name, auto open) {
        QAction* action = menu.addAction(text);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, [this, open] { showTool((this->*open)()); });
    };
    command(QStringLiteral("デッキの強さ..."), "DeckStrength1", &ToolMenu::deckStrengthDialog);
    command(QStringLiteral("チームの最適化..."), "TeamOptimizer1", &ToolMenu::teamOptimizerDialog);
    command(QStringLiteral("カードの編集..."), "CardEditor1", &ToolMenu::cardEditorDialog);
    command(QStringLiteral("カードのバランス..."), "CardBalance1", &ToolMenu::cardBalanceDialog);
}

StatsDialog* ToolMenu::deckStrengthDialog() {
    if (!statsDialog_)
        statsDialog_ = new StatsDialog(*inputs_.catalogue, inputs_.teams, *inputs_.clock, &window_);
    return statsDialog_;
}

OptimizeDialog* ToolMenu::teamOptimizerDialog() {
    if (!optimizeDialog_) {
        OptimizeInputs inputs;
        inputs.catalogue = inputs_.catalogue;
        inputs.teams = inputs_.teams;
        inputs.deckLines = inputs_.deckLines;
        inputs.apply = inputs_.apply;
        inputs.clock = inputs_.clock;
        optimizeDialog_ = new OptimizeDialog(std::move(inputs), &window_);
    }
    return optimizeDialog_;
}

BalanceInputs ToolMenu::balanceInputs() const {
    BalanceInputs inputs;
    // Every stored deck of both sides, as the command's default field.
    inputs.field = [deckLines = inputs_.deckLines] {
        std::vector<DeckSource> field;
        for (size_t side = 0; side < 2; ++side) {
            const std::vector<std::string> lines = deckLines(static_cast<int>(side));
            for (size_t i = 0; i < lines.size(); ++i)
                field.push_back({lines[i], std::string(file::Decks[side]) + ":" + std::to_string(i + 1)});
        }
        return field;
    };
    inputs.page = inputs_.balancePage;
    inputs.opener = inputs_.opener;
    inputs.clock = inputs_.clock;
    return inputs;
}

BalanceDialog* ToolMenu::cardBalanceDialog() {
    if (!balanceDialog_) {
        BalanceInputs inputs = balanceInputs();
        inputs.catalogue = [catalogue = inputs_.catalogue] { return *catalogue; };
        inputs.cardsName = inputs_.cataloguePath().string();
        balanceDialog_ = new BalanceDialog(std::move(inputs), &window_);
    }
    return balanceDialog_;
}

CardEditorDialog* ToolMenu::cardEditorDialog() {
    if (!cardEditor_) {
        CardEditorInputs inputs;
        inputs.catalogue = inputs_.cataloguePath();
        inputs.deckLines = [deckLines = inputs_.deckLines] {
            return std::array<std::vector<std::string>, 2>{deckLines(0), deckLines(1)};
        };
        inputs.saved = inputs_.catalogueSaved;
        inputs.readAgain = inputs_.catalogueSaved;
        inputs.balance = [this](CardEditorDialog& editor) { showEditedBalance(editor); };
        inputs.suggest = [this](CardEditorDialog& editor) { showSuggestions(editor); };
        cardEditor_ = new CardEditorDialog(std::move(inputs), &window_);
        cardEditor_->setAttribute(Qt::WA_DeleteOnClose);
    }
    return cardEditor_;
}

void ToolMenu::showEditedBalance(CardEditorDialog& editor) {
    auto* dialog = editor.findChild<BalanceDialog*>();
    if (!dialog) {
        BalanceInputs inputs = balanceInputs();
        inputs.cardsName = inputs_.cataloguePath().string() + " (" + tr("編集中").toStdString() + ")";
        inputs.page = inputs_.editedBalancePage;
        // The dialog is the editor's child: the editor is there whenever it runs.
        inputs.catalogue = [source = &editor, name = inputs.cardsName] {
            CardCatalogue catalogue;
            catalogue.loadBytes(source->sheet().document().bytes(), name);
            return catalogue;
        };
        dialog = new BalanceDialog(std::move(inputs), &editor);
        dialog->setWindowFlag(Qt::Window);
    }
    showTool(dialog);
}

void ToolMenu::showSuggestions(CardEditorDialog& editor) {
    auto* dialog = editor.findChild<SuggestDialog*>();
    if (!dialog) {
        SuggestInputs inputs;
        // The dialog is the editor's child: the editor is there whenever it runs.
        inputs.catalogue = [source = &editor] { return source->sheet().document().bytes(); };
        inputs.field = balanceInputs().field;
        inputs.apply = [source = &editor](const FieldChange& change, QString& why) {
            return source->replaceCardLine(change.kind, change.id, change.before, change.after, why);
        };
        inputs.clock = inputs_.clock;
        dialog = new SuggestDialog(std::move(inputs), &editor);
        dialog->setWindowFlag(Qt::Window);
    }
    showTool(dialog);
}

bool ToolMenu::closeCardEditor() {
    return !cardEditor_ || !cardEditor_->isVisible() || cardEditor_->close();
}

void ToolMenu::showTool(QDialog* dialog) {
    if (!dialog->isVisible()) {
        dialog->adjustSize();
        const QRect frame = window_.frameGeometry();
        const QScreen* screen = window_.screen();
        const QRect room = screen ? screen->availableGeometry() : QRect();
        // adjustSize keeps a window to two thirds of the screen; a dialog that wants
        // more (the card editor's screen of rows) gets it where the screen has room,
        // leaving some for the window's frame.
        if (!room.isNull())
            dialog->resize(dialog->size().expandedTo(dialog->sizeHint().boundedTo(room.size() * 9 / 10)));
        const QPoint beside(frame.right() + 8, frame.top());
        if (room.isNull() || beside.x() + dialog->width() <= room.right())
            dialog->move(beside);
    }
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

} // namespace morvane
