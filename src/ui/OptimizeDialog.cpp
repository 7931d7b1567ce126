#include "ui/OptimizeDialog.h"

#include "common/Clock.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/TextLines.h"
#include "stats/ResultText.h"
#include "ui/Platform.h"
#include "ui/StatsDialog.h"
#include "ui/mainpas.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
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

QString scoreText(const ScoreTally& t) {
    const Interval i = t.interval();
    return QStringLiteral("%1 (95% 信頼区間 %2 〜 %3)").arg(percent(t.winRate()), percent(i.low), percent(i.high));
}

// Failures carry the program's own message in code page 932 and a UTF-8 location.
QString errorText(const MorvaneError& e) {
    return e.where().empty() ? fromCp932(e.message())
                             : QString::fromStdString(e.where()) + QStringLiteral(": ") + fromCp932(e.message());
}

} // namespace

OptimizeDialog::OptimizeDialog(Tmain& window) : QDialog(&window), window_(window) {
    setObjectName(QStringLiteral("OptimizeDialog"));
    setWindowTitle(tr("チームの最適化"));
    setModal(false);

    auto named = [](QWidget* w, const char* name) {
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };
    TeamSide = new QComboBox(this);
    named(TeamSide, "TeamSide");
    TeamSide->addItems({tr("上のチーム"), tr("下のチーム")});
    PlaySideBox = new QComboBox(this);
    named(PlaySideBox, "PlaySideBox");
    PlaySideBox->addItems({tr("上と下の両方"), tr("上だけ"), tr("下だけ")});
    FieldChoice = new QComboBox(this);
    named(FieldChoice, "FieldChoice");
    FieldChoice->addItems({tr("相手側のデッキリスト"), tr("デッキファイル")});
    FieldFile = new QLineEdit(this);
    named(FieldFile, "FieldFile");
    FieldBrowseBtn = new QPushButton(tr("参照..."), this);
    named(FieldBrowseBtn, "FieldBrowseBtn");
    Budget = new QSpinBox(this);
    named(Budget, "Budget");
    Budget->setRange(1, 2000000000);
    Budget->setSingleStep(100000);
    Budget->setValue(1000000);
    Budget->setGroupSeparatorShown(true);
    UniqueBox = new QCheckBox(tr("同じキャラクターを2枚使わない"), this);
    named(UniqueBox, "UniqueBox");
    SizeRuleBox = new QCheckBox(tr("サイズ合計をデッキサイズ以内にする"), this);
    named(SizeRuleBox, "SizeRuleBox");
    SizeRuleBox->setChecked(true);
    OwnedFile = new QLineEdit(this);
    named(OwnedFile, "OwnedFile");
    OwnedFile->setPlaceholderText(tr("なし (制限しない)"));
    OwnedBrowseBtn = new QPushButton(tr("参照..."), this);
    named(OwnedBrowseBtn, "OwnedBrowseBtn");
    StartBtn = new QPushButton(tr("開始"), this);
    named(StartBtn, "StartBtn");
    CancelBtn = new QPushButton(tr("中止"), this);
    named(CancelBtn, "CancelBtn");
    ApplyBtn = new QPushButton(tr("適用"), this);
    named(ApplyBtn, "ApplyBtn");
    ApplyBtn->setToolTip(tr("見つかったチームをそのチームの選択欄に入れます"));
    Progress = new QProgressBar(this);
    named(Progress, "Progress");
    Progress->setRange(0, 1000);
    BestLabel = new QLabel(this);
    named(BestLabel, "BestLabel");
    BestLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    BestLabel->setMinimumHeight(BestLabel->fontMetrics().lineSpacing() * 2);
    ResultText = new QPlainTextEdit(this);
    named(ResultText, "ResultText");
    ResultText->setReadOnly(true);
    ResultText->setLineWrapMode(QPlainTextEdit::NoWrap);
    ResultText->setMinimumSize(520, ResultText->fontMetrics().lineSpacing() * 16);

    auto* keep = new QHBoxLayout;
    for (int i = 0; i < 9; ++i) {
        KeepBox[static_cast<size_t>(i)] = new QCheckBox(i == 8 ? tr("車両") : QString::number(i + 1), this);
        KeepBox[static_cast<size_t>(i)]->setObjectName(QStringLiteral("KeepBox%1").arg(i));
    }
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
    layout->addWidget(BestLabel);
    layout->addWidget(ResultText, 1);

    connect(StartBtn, &QPushButton::clicked, this, &OptimizeDialog::start);
    connect(CancelBtn, &QPushButton::clicked, this, &OptimizeDialog::cancel);
    connect(ApplyBtn, &QPushButton::clicked, this, &OptimizeDialog::apply);
    connect(FieldChoice, &QComboBox::currentIndexChanged, this, [this](int index) {
        FieldFile->setEnabled(index == 1);
        FieldBrowseBtn->setEnabled(index == 1);
    });
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
    FieldFile->setEnabled(false);
    FieldBrowseBtn->setEnabled(false);
    setRunning(false);
}

OptimizeDialog::~OptimizeDialog() {
    cancel_ = true;
    closing_ = true;
    if (worker_.joinable())
        worker_.join();
}

void OptimizeDialog::setRunning(bool running) {
    for (QWidget* w : std::initializer_list<QWidget*>{TeamSide, PlaySideBox, FieldChoice, Budget, UniqueBox,
                                                      SizeRuleBox, OwnedFile, OwnedBrowseBtn, StartBtn})
        w->setEnabled(!running);
    for (QCheckBox* box : KeepBox)
        box->setEnabled(!running);
    FieldFile->setEnabled(!running && FieldChoice->currentIndex() == 1);
    FieldBrowseBtn->setEnabled(!running && FieldChoice->currentIndex() == 1);
    CancelBtn->setEnabled(running);
    ApplyBtn->setEnabled(!running && outcome_.has_value());
}

QString OptimizeDialog::teamText(const SideSelection& team) const {
    int64_t total = 0;
    for (const int32_t id : team.characters)
        total += runCatalogue_.character(id).size;
    QString text = fromCp932(formatDeckLine(team, 0)) +
                   QStringLiteral("  Size %1(%2)\n").arg(total).arg(runCatalogue_.vehicle(team.vehicle).size) +
                   fromCp932(runCatalogue_.vehicle(team.vehicle).name);
    for (const int32_t id : team.characters)
        text += QStringLiteral(" / ") + fromCp932(runCatalogue_.character(id).name);
    return text;
}

OptimizeRequest OptimizeDialog::makeRequest() const {
    OptimizeRequest request;
    const int side = TeamSide->currentIndex();
    request.start = window_.currentTeams().side[static_cast<size_t>(side)];
    request.field.side = PlaySideBox->currentIndex() == 1   ? PlaySide::Top
                         : PlaySideBox->currentIndex() == 2 ? PlaySide::Bottom
                                                            : PlaySide::Both;
    request.budget = static_cast<uint64_t>(Budget->value());
    request.threads = defaultThreadCount();
    for (size_t i = 0; i < 9; ++i)
        request.rules.kept[i] = KeepBox[i]->isChecked();
    request.rules.unique = UniqueBox->isChecked();
    request.rules.sizeRule = SizeRuleBox->isChecked();

    auto applyLine = [&](const std::string& line, const std::string& where) {
        SideSelection deck;
        try {
            applyDeckLine(line, deck, runCatalogue_);
            checkPlayable(runCatalogue_, deck);
        } catch (MorvaneError& e) {
            e.setWhere(where);
            throw;
        }
        request.field.decks.push_back(deck);
    };
    if (FieldChoice->currentIndex() == 0) {
        const std::vector<std::string>& lines = window_.deckList(1 - side).lines();
        for (size_t i = 0; i < lines.size(); ++i)
            applyLine(lines[i], tr("相手側のリスト %1 行目").arg(i + 1).toStdString());
        if (lines.empty())
            throw InputError(utf8ToCp932(tr("相手側のデッキリストが空です").toStdString()));
    } else {
        const std::filesystem::path path = QFile::encodeName(FieldFile->text()).toStdString();
        for (const TextLine& line : readDeckFile(path))
            applyLine(line.text, path.string() + ":" + std::to_string(line.number));
        if (request.field.decks.empty())
            throw InputError(utf8ToCp932(tr("デッキファイルにデッキがありません").toStdString()), path.string());
    }
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
    if (running())
        return;
    runCatalogue_ = window_.catalogue();
    outcome_.reset();
    Progress->setValue(0);
    BestLabel->clear();
    try {
        request_ = makeRequest();
    } catch (const MorvaneError& e) {
        ResultText->setPlainText(errorText(e));
        setRunning(false);
        Q_EMIT runEnded();
        return;
    }
    request_.seed = window_.clock().timeSeed();
    runSide_ = TeamSide->currentIndex();
    cancel_ = false;
    ResultText->setPlainText(tr("探索中..."));
    setRunning(true);

    // Progress and the result come back as queued calls, handled on the window's thread;
    // those still queued when the dialog goes are dropped with it.
    worker_ = std::thread([this] {
        OptimizeControl control;
        control.cancel = &cancel_;
        control.progressInterval = std::chrono::milliseconds(200);
        control.progress = [this](const OptimizeProgress& p) {
            QMetaObject::invokeMethod(
                this, [this, p] { showProgress(p); }, Qt::QueuedConnection);
        };
        std::optional<OptimizeRun> run;
        QString error;
        try {
            OptimizeRun r;
            r.side = runSide_;
            r.search = optimizeTeam(runCatalogue_, request_, control);
            // Measured even after a cancel: it is short, and says what the team so far is worth.
            BattleRunner runner(runCatalogue_, request_.field, request_.threads, request_.maxTurns, &closing_);
            const uint64_t battles = FinalBattles * request_.field.pairings();
            r.best = measureTeam(runner, r.search.best, request_.seed, 0, battles);
            r.start = measureTeam(runner, request_.start, request_.seed, 0, battles);
            run = std::move(r);
        } catch (const MorvaneError& e) {
            error = errorText(e);
        } catch (const std::exception& e) {
            error = QString::fromLocal8Bit(e.what());
        }
        QMetaObject::invokeMethod(
            this, [this, run, error] { finish(run, error); }, Qt::QueuedConnection);
    });
}

void OptimizeDialog::cancel() {
    cancel_ = true;
}

void OptimizeDialog::showProgress(const OptimizeProgress& p) {
    if (!running())
        return;
    Progress->setValue(p.budget ? int(1000.0 * double(p.battles) / double(p.budget)) : 0);
    BestLabel->setText(tr("これまでの最良 (探索中の推定 %1、%2 戦): ")
                           .arg(p.bestTally.battles ? percent(p.bestTally.winRate()) : QStringLiteral("-"))
                           .arg(p.bestTally.battles) +
                       teamText(p.best));
}

void OptimizeDialog::finish(std::optional<OptimizeRun> run, const QString& error) {
    if (worker_.joinable())
        worker_.join();
    outcome_ = std::move(run);
    setRunning(false);
    if (!outcome_) {
        Progress->setValue(0);
        ResultText->setPlainText(error);
        Q_EMIT runEnded();
        return;
    }
    const OptimizeRun& r = *outcome_;
    if (!r.search.cancelled)
        Progress->setValue(1000);
    BestLabel->setText(tr("最良のチーム: ") + teamText(r.search.best));
    QString text;
    if (r.search.cancelled)
        text += tr("中止しました。それまでの最良のチームです。") + QLatin1Char('\n');
    text +=
        tr("探索に使わなかったシードでの勝率 (相手デッキと位置ごとに %1 戦):").arg(FinalBattles) + QLatin1Char('\n');
    text += tr("  最良のチーム  ") + scoreText(r.best.total()) + QLatin1Char('\n');
    text += tr("  開始のチーム  ") + scoreText(r.start.total()) + QLatin1Char('\n');
    const Field& field = request_.field;
    for (size_t p = 0; p < field.pairings(); ++p) {
        text += tr("  相手 #%1 (%2)  最良 %3  開始 %4")
                    .arg(field.deckOf(p) + 1)
                    .arg(field.teamSideOf(p) == 0 ? tr("こちらが上") : tr("こちらが下"))
                    .arg(percent(r.best.pairings[p].winRate()), percent(r.start.pairings[p].winRate())) +
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
    window_.TeamSet(outcome_->side, outcome_->search.best);
}

void OptimizeDialog::hideEvent(QHideEvent* event) {
    // Closed by the user (not merely minimised with the window): nobody is watching
    // the search any more, so stop it rather than let it keep the cores busy.
    if (!event->spontaneous())
        cancel();
    QDialog::hideEvent(event);
}

void addTeamOptimizerCommand(Tmain& window) {
    QAction* optimizer = window.Tools1->addAction(QObject::tr("チームの最適化..."));
    optimizer->setObjectName(QStringLiteral("TeamOptimizer1"));
    QObject::connect(optimizer, &QAction::triggered, &window, [&window] {
        auto* dialog = window.findChild<OptimizeDialog*>(QStringLiteral("OptimizeDialog"));
        if (!dialog)
            dialog = new OptimizeDialog(window);
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
    });
}

} // namespace morvane
