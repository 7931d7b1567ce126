#include "ui/BalanceDialog.h"

#include "balance/BalancePage.h"
#include "common/AtomicFile.h"
#include "common/Clock.h"
#include "common/Codec.h"
#include "optimize/Optimization.h"
#include "stats/ResultText.h"
#include "ui/Platform.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace morvane {

BalanceDialog::BalanceDialog(BalanceInputs inputs, QWidget* parent) : QDialog(parent), inputs_(std::move(inputs)) {
    setObjectName(QStringLiteral("BalanceDialog"));
    setWindowTitle(tr("カードのバランス"));
    setModal(false);

    const BalanceRequest defaults;
    Searches = new QSpinBox(this);
    Searches->setObjectName(QStringLiteral("Searches"));
    Searches->setRange(1, static_cast<int>(morvane::MaxSearches));
    Searches->setValue(static_cast<int>(defaults.searches));
    MaxSearches = new QSpinBox(this);
    MaxSearches->setObjectName(QStringLiteral("MaxSearches"));
    MaxSearches->setRange(0, static_cast<int>(morvane::MaxSearches));
    MaxSearches->setValue(static_cast<int>(defaults.maxSearches));
    MaxSearches->setToolTip(tr("判定が決まらないカードがある間、4回ずつ探索を足す上限"));
    Budget = new QSpinBox(this);
    Budget->setObjectName(QStringLiteral("Budget"));
    Budget->setRange(1000, static_cast<int>(MaxSearchBudget));
    Budget->setSingleStep(100000);
    Budget->setValue(static_cast<int>(defaults.budget));
    Budget->setGroupSeparatorShown(true);
    StartBtn = new QPushButton(tr("開始"), this);
    StartBtn->setObjectName(QStringLiteral("StartBtn"));
    StopBtn = new QPushButton(tr("探索を終えて分析"), this);
    StopBtn->setObjectName(QStringLiteral("StopBtn"));
    CancelBtn = new QPushButton(tr("中止"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    OpenBtn = new QPushButton(tr("ページを開く"), this);
    OpenBtn->setObjectName(QStringLiteral("OpenBtn"));
    Progress = new QProgressBar(this);
    Progress->setObjectName(QStringLiteral("Progress"));
    Progress->setRange(0, 1000);
    Status = new QLabel(this);
    Status->setObjectName(QStringLiteral("Status"));
    Status->setWordWrap(true);
    Status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Status->setMinimumHeight(Status->fontMetrics().lineSpacing() * 6);
    Status->setAlignment(Qt::AlignTop | Qt::AlignLeft);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(tr("探索の回数:"), this), 0, 0);
    grid->addWidget(Searches, 0, 1);
    grid->addWidget(new QLabel(tr("判定が決まるまでの最大回数:"), this), 1, 0);
    grid->addWidget(MaxSearches, 1, 1);
    grid->addWidget(new QLabel(tr("1回の探索の対戦数:"), this), 2, 0);
    grid->addWidget(Budget, 2, 1);
    auto* buttons = new QGridLayout;
    buttons->addWidget(StartBtn, 0, 0);
    buttons->addWidget(StopBtn, 0, 1);
    buttons->addWidget(CancelBtn, 0, 2);
    buttons->addWidget(OpenBtn, 0, 3);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(tr("最強チームを何度も探して、各カードがどれだけ使われ、どれだけ勝敗を決めるかを調べます。"
                      "相手はデッキリストの全デッキです。"),
                   this));
    layout->addLayout(grid);
    layout->addLayout(buttons);
    layout->addWidget(Progress);
    layout->addWidget(Status, 1);

    connect(StartBtn, &QPushButton::clicked, this, &BalanceDialog::start);
    connect(StopBtn, &QPushButton::clicked, this, &BalanceDialog::stopSearches);
    connect(CancelBtn, &QPushButton::clicked, this, &BalanceDialog::cancel);
    connect(OpenBtn, &QPushButton::clicked, this, &BalanceDialog::openPage);
    // A box that holds no number it can take (empty, 0) would silently keep its last
    // one. The spin boxes say nothing of text they cannot take, so their editors are
    // watched.
    for (QSpinBox* box : {Searches, Budget})
        connect(box->findChild<QLineEdit*>(), &QLineEdit::textChanged, this, &BalanceDialog::updateButtons);
    updateButtons();
}

QString BalanceDialog::refusal() const {
    auto range = [](const QSpinBox* box) {
        return std::pair(QLocale().toString(box->minimum()), QLocale().toString(box->maximum()));
    };
    if (!Searches->hasAcceptableInput()) {
        const auto [low, high] = range(Searches);
        return tr("探索の回数は %1 から %2 までの数で入れてください").arg(low, high);
    }
    if (!Budget->hasAcceptableInput()) {
        const auto [low, high] = range(Budget);
        return tr("1回の探索の対戦数は %1 から %2 までの数で入れてください").arg(low, high);
    }
    return {};
}

void BalanceDialog::updateButtons() {
    const QString reason = refusal();
    if (!running()) {
        if (!reason.isEmpty())
            Status->setText(reason);
        else if (Status->text() == shownRefusal_)
            // Numbers it takes again: the reason no longer holds.
            Status->clear();
        shownRefusal_ = reason;
    }
    StartBtn->setEnabled(!running() && reason.isEmpty());
    StopBtn->setEnabled(running());
    CancelBtn->setEnabled(running());
    OpenBtn->setEnabled(!running() && report_.has_value());
    Searches->setEnabled(!running());
    Budget->setEnabled(!running());
}

void BalanceDialog::start() {
    if (running() || !refusal().isEmpty())
        return;
    BalanceRequest request;
    try {
        runCatalogue_ = inputs_.catalogue();
        runField_ = inputs_.field();
        request.field.decks = fieldDecks(runField_, *runCatalogue_);
    } catch (const std::exception& e) {
        Status->setText(errorText(e));
        return;
    }
    request.searches = static_cast<unsigned>(Searches->value());
    request.maxSearches = static_cast<unsigned>(MaxSearches->value());
    request.budget = static_cast<uint64_t>(Budget->value());
    request.threads = defaultThreadCount();
    seed_ = inputs_.clock->timeSeed();
    request.seed = seed_;
    report_.reset();
    outcome_.reset();
    stopSearches_ = false;
    Progress->setValue(0);
    Status->setText(tr("探索中..."));
    BalanceSources sources;
    sources.cards = inputs_.cardsName;
    for (const DeckSource& deck : runField_)
        sources.fieldSources.push_back(deck.where);
    sources.command = "morvane-cli balance --searches " + std::to_string(request.searches) + " --max-searches " +
                      std::to_string(request.maxSearches) + " --budget " + std::to_string(request.budget) + " --seed " +
                      std::to_string(request.seed) + " --final-battles " + std::to_string(request.finalBattles);
    run_.start(
        [this, request, sources] {
            BalanceControl control;
            control.stopSearches = &stopSearches_;
            control.stop = &run_.stopFlag();
            control.progress = [this](const BalanceProgress& p) { run_.post([this, p] { showProgress(p); }); };
            BalanceReport report = analyseBalance(*runCatalogue_, request, control);
            if (run_.stopFlag())
                return;
            writeFileAtomic(inputs_.page, balancePage(report, *runCatalogue_, sources));
            outcome_ = std::move(report);
        },
        [this] { finish(); });
    updateButtons();
}

void BalanceDialog::showProgress(const BalanceProgress& p) {
    if (!running() || p.total == 0)
        return;
    // The searches fill the first half of the bar, the analysis after them the rest.
    const double share = double(p.done) / double(p.total);
    Progress->setValue(int(p.phase == BalanceProgress::Searching   ? 500 * share
                           : p.phase == BalanceProgress::Replacing ? 500 + 400 * share
                                                                   : 900 + 100 * share));
    Status->setText(p.phase == BalanceProgress::Searching ? tr("探索 %1 回目（最大 %2 回）...")
                                                                .arg(p.search + 1)
                                                                .arg(std::max(Searches->value(), MaxSearches->value()))
                    : p.phase == BalanceProgress::Replacing ? tr("カードを置き換えて計測中...")
                                                            : tr("最強チーム同士のリーグ..."));
}

void BalanceDialog::finish() {
    report_ = std::move(outcome_);
    outcome_.reset();
    updateButtons();
    if (!report_) {
        Status->setText(run_.failure() ? errorText(run_.failure()) : tr("中止しました。"));
        Progress->setValue(0);
        Q_EMIT runEnded();
        return;
    }
    Progress->setValue(1000);
    const BalanceReport& r = *report_;
    auto names = [&](const std::vector<const CardBalance*>& cards) {
        QStringList list;
        for (const CardBalance* c : cards)
            list << QString::fromStdString(cardCode(c->vehicle, c->id) + " " +
                                           cardNameText(*runCatalogue_, c->vehicle, c->id));
        return list.isEmpty() ? tr("なし") : list.join(QStringLiteral("、"));
    };
    QString text;
    if (r.interrupted)
        text += tr("探索を %1 回で終えました。").arg(r.searches.size()) + QLatin1Char('\n');
    text += tr("最強チームの勝率: 最高 %1").arg(QString::fromStdString(percentText(r.strongest()))) + QLatin1Char('\n');
    text +=
        tr("使われたカード: キャラクター %1 種類、車両 %2 種類").arg(r.distinctCharacters()).arg(r.distinctVehicles()) +
        QLatin1Char('\n');
    text += tr("決めすぎるカード: %1").arg(names(r.decisive())) + QLatin1Char('\n');
    text += tr("誰も使わないカード: %1").arg(names(r.unplayed())) + QLatin1Char('\n');
    // Open cards can be most of a set: their count here, each with its question on the page.
    text += tr("まだ決まらないカード: %1 枚（%2 回の探索から、99%の確信で判定）")
                .arg(r.uncertain().size())
                .arg(r.searches.size()) +
            QLatin1Char('\n');
    text += tr("ページ: %1").arg(QString::fromStdString(inputs_.page.string()));
    Status->setText(text);
    Q_EMIT runEnded();
    openPage();
}

void BalanceDialog::openPage() {
    if (!inputs_.opener->open(inputs_.page))
        Status->setText(Status->text() + QLatin1Char('\n') + tr("ページを開くプログラムが見つかりません"));
}

} // namespace morvane
