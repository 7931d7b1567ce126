#include "ui/OptimizeDialog.h"

#include "cards/Team.h"
#include "common/Clock.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "stats/ResultText.h"
#include "ui/Platform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace morvane {

namespace {

QString percent(double share) {
    return QString::fromStdString(percentText(share));
}

QString scoreText(const Tally& t) {
    const Interval i = t.winInterval();
    return QStringLiteral("%1 (95% 信頼区間 %2 〜 %3)").arg(percent(t.winRate()), percent(i.low), percent(i.high));
}

} // namespace

OptimizeDialog::OptimizeDialog(OptimizeInputs inputs, QWidget* parent) : QDialog(parent), inputs_(std::move(inputs)) {
    setObjectName(QStringLiteral("OptimizeDialog"));
    setWindowTitle(tr("チームの最適化"));
    setModal(false);
    makeControls();
    layOutControls();
    connectControls();
    updateButtons();
}

void OptimizeDialog::makeControls() {
    auto named = [](auto* w, const char* name) {
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };
    // The settings as the command line tool has them when given no options.
    const OptimizeRequest defaults;
    TeamSide = named(new QComboBox(this), "TeamSide");
    TeamSide->addItems({tr("上のチーム"), tr("下のチーム")});
    PlaySideBox = named(new QComboBox(this), "PlaySideBox");
    PlaySideBox->addItems({tr("上と下の両方"), tr("上だけ"), tr("下だけ")});
    PlaySideBox->setCurrentIndex(defaults.field.side == PlaySide::Top      ? 1
                                 : defaults.field.side == PlaySide::Bottom ? 2
                                                                           : 0);
    FieldChoice = named(new QComboBox(this), "FieldChoice");
    FieldChoice->addItems({tr("相手側のデッキリスト"), tr("デッキファイル")});
    FieldFile = named(new QLineEdit(this), "FieldFile");
    FieldBrowseBtn = named(new QPushButton(tr("参照..."), this), "FieldBrowseBtn");
    Budget = named(new QSpinBox(this), "Budget");
    Budget->setRange(1, static_cast<int>(MaxSearchBudget));
    Budget->setSingleStep(100000);
    Budget->setValue(static_cast<int>(defaults.budget));
    Budget->setGroupSeparatorShown(true);
    UniqueBox = named(new QCheckBox(tr("同じキャラクターを2枚使わない"), this), "UniqueBox");
    UniqueBox->setChecked(defaults.rules.unique);
    SizeRuleBox = named(new QCheckBox(tr("サイズ合計をデッキサイズ以内にする"), this), "SizeRuleBox");
    SizeRuleBox->setChecked(defaults.rules.sizeRule);
    OwnedFile = named(new QLineEdit(this), "OwnedFile");
    OwnedFile->setPlaceholderText(tr("なし (制限しない)"));
    OwnedBrowseBtn = named(new QPushButton(tr("参照..."), this), "OwnedBrowseBtn");
    StartBtn = named(new QPushButton(tr("開始"), this), "StartBtn");
    CancelBtn = named(new QPushButton(tr("中止"), this), "CancelBtn");
    ApplyBtn = named(new QPushButton(tr("適用"), this), "ApplyBtn");
    ApplyBtn->setToolTip(tr("見つかったチームをそのチームの選択欄に入れます"));
    Progress = named(new QProgressBar(this), "Progress");
    Progress->setRange(0, 1000);
    StatusLabel = named(new QLabel(this), "StatusLabel");
    StatusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    StatusLabel->setWordWrap(true);
    BestLabel = named(new QLabel(this), "BestLabel");
    BestLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The team's names grow and shrink as the search goes: they wrap in the width the
    // rest of the dialog gives, and their height is kept from the start, so the dialog
    // never jumps.
    BestLabel->setWordWrap(true);
    BestLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    BestLabel->setMinimumHeight(BestLabel->fontMetrics().lineSpacing() * 4);
    BestLabel->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    ResultText = named(new QPlainTextEdit(this), "ResultText");
    ResultText->setReadOnly(true);
    ResultText->setLineWrapMode(QPlainTextEdit::NoWrap);
    ResultText->setMinimumSize(420, ResultText->fontMetrics().lineSpacing() * 10);
    // Made last, as the keyboard order has always had them.
    for (int i = 0; i < 9; ++i) {
        QCheckBox*& box = KeepBox[static_cast<size_t>(i)];
        box = new QCheckBox(i == 8 ? tr("車両") : QString::number(i + 1), this);
        box->setObjectName(QStringLiteral("KeepBox%1").arg(i));
        box->setChecked(defaults.rules.kept[static_cast<size_t>(i)]);
    }
}

void OptimizeDialog::layOutControls() {
    auto* keep = new QHBoxLayout;
    keep->addWidget(KeepBox[8]);
    for (int i = 0; i < 8; ++i)
        keep->addWidget(KeepBox[static_cast<size_t>(i)]);
    keep->addStretch();
    auto* field = new QHBoxLayout;
    field->addWidget(FieldChoice);
    field->addWidget(FieldFile, 1);
    field->addWidget(FieldBrowseBtn);
    auto* owned = new QHBoxLayout;
    owned->addWidget(OwnedFile, 1);
    owned->addWidget(OwnedBrowseBtn);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(StartBtn);
    buttons->addWidget(CancelBtn);
    buttons->addWidget(ApplyBtn);

    auto* grid = new QGridLayout;
    int row = 0;
    grid->addWidget(new QLabel(tr("チーム:"), this), row, 0);
    grid->addWidget(TeamSide, row++, 1);
    grid->addWidget(new QLabel(tr("戦う位置:"), this), row, 0);
    grid->addWidget(PlaySideBox, row++, 1);
    grid->addWidget(new QLabel(tr("相手:"), this), row, 0);
    grid->addLayout(field, row++, 1);
    grid->addWidget(new QLabel(tr("対戦数の上限:"), this), row, 0);
    grid->addWidget(Budget, row++, 1);
    grid->addWidget(new QLabel(tr("固定するスロット:"), this), row, 0);
    grid->addLayout(keep, row++, 1);
    grid->addWidget(new QLabel(tr("所持カード:"), this), row, 0);
    grid->addLayout(owned, row++, 1);
    grid->addWidget(UniqueBox, row++, 1);
    grid->addWidget(SizeRuleBox, row++, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    layout->addWidget(Progress);
    layout->addWidget(StatusLabel);
    layout->addWidget(BestLabel);
    layout->addWidget(ResultText, 1);
}

void OptimizeDialog::connectControls() {
    connect(StartBtn, &QPushButton::clicked, this, &OptimizeDialog::start);
    connect(CancelBtn, &QPushButton::clicked, this, &OptimizeDialog::cancel);
    connect(ApplyBtn, &QPushButton::clicked, this, &OptimizeDialog::apply);
    connect(FieldChoice, &QComboBox::currentIndexChanged, this, &OptimizeDialog::updateButtons);
    connect(FieldBrowseBtn, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("相手のデッキファイル"), FieldFile->text());
        if (!path.isEmpty())
            FieldFile->setText(path);
    });
    connect(OwnedBrowseBtn, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("所持カードのファイル"), OwnedFile->text());
        if (!path.isEmpty())
            OwnedFile->setText(path);
    });
    // A budget the box cannot take (empty, 0) would silently keep its last value.
    // The spin box says nothing of text it cannot take, so its editor is watched.
    connect(Budget->findChild<QLineEdit*>(), &QLineEdit::textChanged, this, &OptimizeDialog::updateButtons);
}

void OptimizeDialog::updateButtons() {
    const bool busy = running();
    for (QWidget* w : std::initializer_list<QWidget*>{TeamSide, PlaySideBox, FieldChoice, Budget, UniqueBox,
                                                      SizeRuleBox, OwnedFile, OwnedBrowseBtn})
        w->setEnabled(!busy);
    for (QCheckBox* box : KeepBox)
        box->setEnabled(!busy);
    FieldFile->setEnabled(!busy && FieldChoice->currentIndex() == 1);
    FieldBrowseBtn->setEnabled(!busy && FieldChoice->currentIndex() == 1);
    const bool budgetTaken = Budget->hasAcceptableInput();
    StartBtn->setEnabled(!busy && budgetTaken);
    const QString budgetReason = tr("対戦数の上限は %1 から %2 までの数で入れてください")
                                     .arg(QLocale().toString(Budget->minimum()), QLocale().toString(Budget->maximum()));
    if (!busy && !budgetTaken)
        StatusLabel->setText(budgetReason);
    else if (StatusLabel->text() == budgetReason)
        // A budget it takes again: the reason no longer holds.
        StatusLabel->clear();
    CancelBtn->setEnabled(busy);
    ApplyBtn->setEnabled(!busy && outcome_.has_value());
}

QString OptimizeDialog::teamText(const SideSelection& team) const {
    QString text = fromCp932(formatDeckLine(team, 0)) + QStringLiteral("  ") +
                   fromCp932(sizeText(runCatalogue_, team)) + QStringLiteral("\n") +
                   fromCp932(runCatalogue_.vehicle(team.vehicle).name);
    for (const int32_t id : team.characters)
        text += QStringLiteral(" / ") + fromCp932(runCatalogue_.character(id).name);
    return text;
}

OptimizeRequest OptimizeDialog::makeRequest() const {
    OptimizeRequest request;
    const int side = TeamSide->currentIndex();
    request.start = inputs_.teams().side[static_cast<size_t>(side)];
    request.field.side = PlaySideBox->currentIndex() == 1   ? PlaySide::Top
                         : PlaySideBox->currentIndex() == 2 ? PlaySide::Bottom
                                                            : PlaySide::Both;
    request.budget = static_cast<uint64_t>(Budget->value());
    request.threads = defaultThreadCount();
    for (size_t i = 0; i < 9; ++i)
        request.rules.kept[i] = KeepBox[i]->isChecked();
    request.rules.unique = UniqueBox->isChecked();
    request.rules.sizeRule = SizeRuleBox->isChecked();

    std::vector<DeckSource> field;
    if (FieldChoice->currentIndex() == 0) {
        const std::vector<std::string> lines = inputs_.deckLines(1 - side);
        if (lines.empty())
            throw InputError(utf8ToCp932(tr("相手側のデッキリストが空です").toStdString()));
        for (size_t i = 0; i < lines.size(); ++i)
            field.push_back({lines[i], tr("相手側のリスト %1 行目").arg(i + 1).toStdString()});
    } else {
        // An empty path would be looked up as a file named "" and missed without a name.
        if (FieldFile->text().trimmed().isEmpty())
            throw InputError(utf8ToCp932(tr("相手のデッキファイルを選んでください").toStdString()));
        const std::filesystem::path path = QFile::encodeName(FieldFile->text()).toStdString();
        field = readDeckSources(path);
        if (field.empty())
            throw InputError(utf8ToCp932(tr("デッキファイルにデッキがありません").toStdString()), path.string());
    }
    request.field.decks = fieldDecks(field, runCatalogue_);
    if (!OwnedFile->text().isEmpty())
        request.rules.owned = readOwnedCards(QFile::encodeName(OwnedFile->text()).toStdString(), runCatalogue_);
    try {
        checkPlayable(runCatalogue_, request.start);
        TeamSpace(runCatalogue_, request.rules, request.start).check(request.start);
    } catch (MorvaneError& e) {
        e.setWhere(tr("開始チーム").toStdString());
        throw;
    }
    return request;
}

void OptimizeDialog::start() {
    if (running() || !Budget->hasAcceptableInput())
        return;
    runCatalogue_ = *inputs_.catalogue;
    OptimizeRequest request;
    try {
        request = makeRequest();
    } catch (const std::exception& e) {
        // The last result stays: only the run that could not start is refused, and the
        // bar shows that nothing of it ran.
        Progress->setValue(0);
        StatusLabel->setText(errorText(e));
        Q_EMIT runEnded();
        return;
    }
    request_ = std::move(request);
    request_.seed = inputs_.clock->timeSeed();
    runSide_ = TeamSide->currentIndex();
    outcome_.reset();
    found_.reset();
    Progress->setValue(0);
    BestLabel->clear();
    ResultText->clear();
    StatusLabel->setText(tr("探索中..."));

    run_.start(
        [this] {
            OptimizationControl control;
            // 中止 and a closed dialog end the measurement too: nobody waits for it.
            control.stopSearch = &run_.stopFlag();
            control.stopMeasurement = &run_.stopFlag();
            control.progressInterval = std::chrono::milliseconds(200);
            control.searching = [this](const OptimizeProgress& p) { run_.post([this, p] { showSearch(p); }); };
            auto shownAt = std::chrono::steady_clock::now();
            control.measuring = [this, shownAt](uint64_t done, uint64_t total) mutable {
                const auto now = std::chrono::steady_clock::now();
                if (done < total && now - shownAt < std::chrono::milliseconds(200))
                    return;
                shownAt = now;
                run_.post([this, done, total] { showMeasurement(done, total); });
            };
            found_ = optimizeAndMeasure(runCatalogue_, request_, FinalBattles, control);
        },
        [this] { finish(); });
    updateButtons();
}

void OptimizeDialog::showSearch(const OptimizeProgress& p) {
    if (!running())
        return;
    Progress->setValue(p.budget ? int(1000.0 * double(p.battles) / double(p.budget)) : 0);
    BestLabel->setText(tr("これまでの最良 (探索中の推定 %1、%2 戦): ")
                           .arg(p.bestTally.battles ? percent(p.bestTally.winRate()) : QStringLiteral("-"))
                           .arg(p.bestTally.battles) +
                       teamText(p.best));
}

void OptimizeDialog::showMeasurement(uint64_t done, uint64_t total) {
    if (!running() || total == 0)
        return;
    StatusLabel->setText(
        tr("測定中: 探索に使わなかったシードで最良と開始のチームを対戦させています (%1 / %2 戦)").arg(done).arg(total));
    Progress->setValue(int(1000.0 * double(done) / double(total)));
}

void OptimizeDialog::finish() {
    if (found_)
        outcome_ = OptimizeRun{runSide_, std::move(*found_)};
    found_.reset();
    updateButtons();
    if (!outcome_) {
        Progress->setValue(0);
        StatusLabel->setText(errorText(run_.failure()));
        Q_EMIT runEnded();
        return;
    }
    const Optimization& r = outcome_->run;
    BestLabel->setText(tr("最良のチーム: ") + teamText(r.search.best));
    QString text;
    if (r.search.cancelled || !r.measured()) {
        StatusLabel->setText(tr("中止しました。"));
        text += tr("中止しました。それまでの最良のチームです。") + QLatin1Char('\n');
    } else {
        Progress->setValue(1000);
        StatusLabel->setText(tr("終わりました。"));
    }
    if (r.measured()) {
        const Tally best = r.best.total();
        const Tally start = r.start.total();
        text += tr("探索に使わなかったシードでの勝率 (相手デッキと位置ごとに %1 戦):").arg(r.finalBattles) +
                QLatin1Char('\n');
        text += tr("  最良のチーム  ") + scoreText(best) + QLatin1Char('\n');
        text += tr("  開始のチーム  ") + scoreText(start) + QLatin1Char('\n');
        const Field& field = request_.field;
        for (size_t p = 0; p < field.pairings(); ++p) {
            text += tr("  相手 #%1 (%2)  最良 %3  開始 %4")
                        .arg(field.deckOf(p) + 1)
                        .arg(field.teamSideOf(p) == 0 ? tr("こちらが上") : tr("こちらが下"))
                        .arg(percent(r.best.pairings[p].winRate()), percent(r.start.pairings[p].winRate())) +
                    QLatin1Char('\n');
        }
        // The search keeps a change only when it is significantly better, but a short or
        // stopped search may still end on a team no better than where it began.
        if (best.winRate() < start.winRate())
            text +=
                tr("注意: 見つかったチームの勝率は開始のチームより低くなりました。適用するかどうかはお任せします。") +
                QLatin1Char('\n');
    } else {
        text += tr("探索に使わなかったシードでの測定はしていません。探索中の推定 %1 (%2 戦)。")
                    .arg(r.search.bestTally.battles ? percent(r.search.bestTally.winRate()) : QStringLiteral("-"))
                    .arg(r.search.bestTally.battles) +
                QLatin1Char('\n');
    }
    text += tr("探索: %1 / %2 戦、%3 チームを比較、%4 回採用、%5 回やり直し、%6 秒 (%7 スレッド)")
                .arg(r.search.battles)
                .arg(request_.budget)
                .arg(r.search.candidates)
                .arg(r.search.accepted)
                .arg(r.search.restarts)
                .arg(QString::number(r.search.seconds, 'f', 1))
                .arg(r.search.threads) +
            QLatin1Char('\n');
    text += tr("シード: %1").arg(request_.seed);
    ResultText->setPlainText(text);
    Q_EMIT runEnded();
}

void OptimizeDialog::apply() {
    if (!outcome_ || running())
        return;
    inputs_.apply(outcome_->side, outcome_->run.search.best);
}

} // namespace morvane
