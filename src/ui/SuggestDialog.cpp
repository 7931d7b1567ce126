#include "ui/SuggestDialog.h"

#include "cards/CardCatalogue.h"
#include "common/Clock.h"
#include "common/Codec.h"
#include "stats/ResultText.h"
#include "ui/Platform.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace morvane {

namespace {

QSpinBox* spin(QWidget* parent, const char* name, int low, int high, int value) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(low, high);
    box->setValue(value);
    box->setGroupSeparatorShown(true);
    return box;
}

} // namespace

SuggestDialog::SuggestDialog(SuggestInputs inputs, QWidget* parent) : QDialog(parent), inputs_(std::move(inputs)) {
    setObjectName(QStringLiteral("SuggestDialog"));
    setWindowTitle(tr("変更の提案"));
    // Each change is measured by a whole analysis: fewer battles than the balance
    // tool's default keep a round to minutes.
    Searches = spin(this, "Searches", 1, static_cast<int>(MaxSearches), 8);
    Budget = spin(this, "Budget", 1000, static_cast<int>(MaxSearchBudget), 200000);
    Budget->setSingleStep(100000);
    Candidates = spin(this, "Candidates", 1, 64, 12);
    StartBtn = new QPushButton(tr("開始"), this);
    StartBtn->setObjectName(QStringLiteral("StartBtn"));
    ApplyBtn = new QPushButton(tr("選んだ提案を当てる"), this);
    ApplyBtn->setObjectName(QStringLiteral("ApplyBtn"));
    ApplyBtn->setEnabled(false);
    List = new QTreeWidget(this);
    List->setObjectName(QStringLiteral("List"));
    List->setRootIsDecorated(false);
    List->setHeaderLabels({tr("変更"), tr("目的値"), tr("最強チームの勝率"), tr("95%区間"), tr("3枚以上"),
                           tr("キャラクター"), tr("車両")});
    List->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    Status = new QLabel(this);
    Status->setObjectName(QStringLiteral("Status"));
    Status->setWordWrap(true);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(tr("探索の回数:"), this), 0, 0);
    grid->addWidget(Searches, 0, 1);
    grid->addWidget(new QLabel(tr("1回の探索の対戦数:"), this), 1, 0);
    grid->addWidget(Budget, 1, 1);
    grid->addWidget(new QLabel(tr("計る変更の数:"), this), 2, 0);
    grid->addWidget(Candidates, 2, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("カード1枚の1項目を1段階変えた案を、変えたカードでバランスの分析をやり直して計り、"
                                    "目的値（すべての目標を満たすと0）の小さい順に並べます。"),
                                 this));
    layout->addLayout(grid);
    layout->addWidget(StartBtn);
    layout->addWidget(List, 1);
    layout->addWidget(ApplyBtn);
    layout->addWidget(Status);
    connect(StartBtn, &QPushButton::clicked, this, &SuggestDialog::start);
    connect(ApplyBtn, &QPushButton::clicked, this, &SuggestDialog::applySelected);
    connect(List, &QTreeWidget::itemSelectionChanged, this,
            [this] { ApplyBtn->setEnabled(!running() && !List->selectedItems().isEmpty()); });
}

void SuggestDialog::start() {
    if (running())
        return;
    SuggestRequest request;
    std::string bytes;
    try {
        bytes = inputs_.catalogue();
        CardCatalogue catalogue;
        catalogue.loadBytes(bytes);
        request.analysis.field.decks = fieldDecks(inputs_.field(), catalogue);
    } catch (const std::exception& e) {
        Status->setText(errorText(e));
        return;
    }
    request.analysis.searches = static_cast<unsigned>(Searches->value());
    request.analysis.maxSearches = request.analysis.searches;
    request.analysis.budget = static_cast<uint64_t>(Budget->value());
    request.analysis.threads = defaultThreadCount();
    request.analysis.seed = inputs_.clock->timeSeed();
    request.proposals = 5;
    request.candidates = static_cast<unsigned>(Candidates->value());
    List->clear();
    proposals_.clear();
    outcome_.reset();
    StartBtn->setEnabled(false);
    ApplyBtn->setEnabled(false);
    Status->setText(tr("計測中..."));
    run_.start(
        [this, request, bytes] {
            auto rounds = suggestChanges(bytes, request, &run_.stopFlag(), [this](const SuggestProgress& p) {
                run_.post([this, p] {
                    Status->setText(tr("変更 %1 / %2 を計測中...").arg(p.candidate + 1).arg(p.candidates));
                });
            });
            run_.post([this, rounds = std::move(rounds)]() mutable { outcome_ = std::move(rounds); });
        },
        [this] { finish(); });
}

void SuggestDialog::finish() {
    StartBtn->setEnabled(true);
    if (!outcome_ || outcome_->empty()) {
        Status->setText(run_.failure() ? errorText(run_.failure()) : tr("中止しました。"));
        return;
    }
    const SuggestRound& round = outcome_->front();
    proposals_ = round.proposals;
    auto row = [this](const QString& name, const BalanceFigures& f) {
        auto* item = new QTreeWidgetItem(
            List, {name, QString::number(f.objective, 'f', 1), QString::fromStdString(percentText(f.strongest)),
                   QString::fromStdString(intervalText(f.strongestInterval)), QString::number(f.stackingTeams),
                   QString::number(f.distinctCharacters), QString::number(f.distinctVehicles)});
        return item;
    };
    row(tr("いまのカード"), round.before)->setFlags(Qt::ItemIsEnabled);
    for (const Proposal& p : proposals_) {
        const FieldChange& c = p.change;
        row(QStringLiteral("%1 %2 %3 → %4")
                .arg(QString::fromStdString(cardCode(c.kind == 'V', c.id)), QString::fromStdString(c.field))
                .arg(c.from)
                .arg(c.to),
            p.figures);
    }
    Status->setText(
        proposals_.empty()
            ? tr("計れる変更がありませんでした。")
            : tr("%1 件の提案。選んで「選んだ提案を当てる」で編集に入ります（元に戻せます）。").arg(proposals_.size()));
}

bool SuggestDialog::applySelected() {
    const QList<QTreeWidgetItem*> chosen = List->selectedItems();
    if (chosen.isEmpty())
        return false;
    const int index = List->indexOfTopLevelItem(chosen.front()) - 1; // the first row is the catalogue as it is
    if (index < 0 || index >= static_cast<int>(proposals_.size()))
        return false;
    QString why;
    if (!inputs_.apply(proposals_[static_cast<size_t>(index)].change, why)) {
        Status->setText(why);
        return false;
    }
    Status->setText(tr("当てました。編集の「元に戻す」で戻せます。"));
    return true;
}

} // namespace morvane
