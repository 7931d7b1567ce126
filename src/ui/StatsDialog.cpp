#include "ui/StatsDialog.h"

#include "common/Clock.h"
#include "common/Codec.h"
#include "stats/BattlePool.h"
#include "stats/ResultText.h"
#include "ui/Platform.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace morvane {

namespace {

QString percent(double share) {
    return QString::fromStdString(percentText(share));
}

QString ciText(const Interval& i) {
    return QStringLiteral("95% 信頼区間 %1 〜 %2").arg(percent(i.low), percent(i.high));
}

// Drawn in the report's side colours, so the picture reads like the report.
const QColor TopColour(40, 70, 220);
const QColor BottomColour(210, 40, 40);
const QColor UndecidedColour(160, 160, 160);

} // namespace

StatsChart::StatsChart(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Chart"));
    setMinimumSize(360, 180);
}

void StatsChart::setResult(const StatsResult& result) {
    result_ = result;
    update();
}

void StatsChart::clear() {
    result_.reset();
    update();
}

void StatsChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    if (!result_ || result_->battles() == 0)
        return;
    const StatsResult& r = *result_;
    const int margin = 8;
    const int width = std::max(1, this->width() - 2 * margin);

    // Win shares: top, undecided, bottom from left to right.
    const QRect bar(margin, margin, width, 24);
    const auto n = double(r.battles());
    const int topWidth = int(std::lround(bar.width() * double(r.topWins()) / n));
    const int bottomWidth = int(std::lround(bar.width() * double(r.bottomWins()) / n));
    painter.fillRect(bar, UndecidedColour);
    painter.fillRect(QRect(bar.left(), bar.top(), topWidth, bar.height()), TopColour);
    painter.fillRect(QRect(bar.right() + 1 - bottomWidth, bar.top(), bottomWidth, bar.height()), BottomColour);
    painter.setPen(Qt::white);
    painter.drawText(bar.adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter, percent(r.topWinRate()));
    painter.drawText(bar.adjusted(4, 0, -4, 0), Qt::AlignRight | Qt::AlignVCenter, percent(r.bottomWinRate()));

    // Battle lengths, a whole number of turns per column so that no column stays
    // empty by rounding. The rare very long battles would squeeze the rest into a
    // corner: beyond 99.5% of the battles they all go into the last column.
    std::vector<std::pair<int32_t, uint64_t>> lengths;
    r.lengths().forEach([&](int32_t turns, uint64_t count) { lengths.emplace_back(turns, count); });
    if (lengths.empty())
        return;
    const int32_t first = lengths.front().first;
    int32_t shownLast = lengths.back().first;
    uint64_t seen = 0;
    for (const auto& [turns, count] : lengths) {
        seen += count;
        if (seen * 1000 >= r.lengths().count() * 995) {
            shownLast = turns;
            break;
        }
    }
    const bool clipped = shownLast < lengths.back().first;
    const int64_t range = int64_t{shownLast} - first + 1;
    const int64_t maxColumns = std::max(1, width / 4);
    const int64_t perColumn = (range + maxColumns - 1) / maxColumns;
    const int columns = int((range + perColumn - 1) / perColumn);
    std::vector<uint64_t> heights(static_cast<size_t>(columns), 0);
    for (const auto& [turns, count] : lengths)
        heights[static_cast<size_t>(std::min<int64_t>((int64_t{turns} - first) / perColumn, columns - 1))] += count;
    const uint64_t highest = *std::max_element(heights.begin(), heights.end());

    const int textHeight = fontMetrics().height();
    const QRect area(margin, bar.bottom() + 12, width, this->height() - bar.bottom() - 12 - margin - textHeight);
    if (area.height() <= 0)
        return;
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().text());
    for (int c = 0; c < columns; ++c) {
        const int left = area.left() + int(double(area.width()) * c / columns);
        const int right = area.left() + int(double(area.width()) * (c + 1) / columns);
        const int h =
            int(std::lround(double(area.height()) * double(heights[static_cast<size_t>(c)]) / double(highest)));
        painter.drawRect(left, area.bottom() + 1 - h, std::max(1, right - left - 1), h);
    }
    painter.setPen(palette().text().color());
    const QRect labels(area.left(), area.bottom() + 2, area.width(), textHeight);
    painter.drawText(labels, Qt::AlignLeft, QString::number(first));
    painter.drawText(labels, Qt::AlignHCenter, tr("対戦の長さ (ターン)"));
    painter.drawText(labels, Qt::AlignRight,
                     clipped ? QStringLiteral("%1+").arg(first + (columns - 1) * perColumn)
                             : QString::number(lengths.back().first));
}

StatsDialog::StatsDialog(const CardCatalogue& catalogue, std::function<Teams()> teams, const Clock& clock,
                         QWidget* parent)
    : QDialog(parent), catalogue_(catalogue), teams_(std::move(teams)), clock_(clock) {
    setObjectName(QStringLiteral("StatsDialog"));
    setWindowTitle(tr("デッキの強さ"));
    setModal(false);

    BattleCount = new QSpinBox(this);
    BattleCount->setObjectName(QStringLiteral("BattleCount"));
    BattleCount->setRange(1, 100000000);
    BattleCount->setSingleStep(1000);
    BattleCount->setValue(static_cast<int>(StatsRequest{}.battles));
    BattleCount->setGroupSeparatorShown(true);
    CountNote = new QLabel(this);
    CountNote->setObjectName(QStringLiteral("CountNote"));
    StartBtn = new QPushButton(tr("開始"), this);
    StartBtn->setObjectName(QStringLiteral("StartBtn"));
    CancelBtn = new QPushButton(tr("中止"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    Progress = new QProgressBar(this);
    Progress->setObjectName(QStringLiteral("Progress"));
    Progress->setRange(0, 1000);
    ResultLabel = new QLabel(this);
    ResultLabel->setObjectName(QStringLiteral("ResultLabel"));
    ResultLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ResultLabel->setWordWrap(true);
    ResultLabel->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    // Room for the whole result from the start, so the dialog does not jump when it comes.
    ResultLabel->setMinimumHeight(ResultLabel->fontMetrics().lineSpacing() * 8);
    Chart = new StatsChart(this);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(tr("編集中の2チームの対戦数:"), this), 0, 0);
    grid->addWidget(BattleCount, 0, 1);
    grid->addWidget(StartBtn, 0, 2);
    grid->addWidget(CancelBtn, 0, 3);
    grid->addWidget(CountNote, 1, 0, 1, 4);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(Progress);
    layout->addWidget(ResultLabel);
    layout->addWidget(Chart, 1);

    connect(StartBtn, &QPushButton::clicked, this, &StatsDialog::start);
    connect(CancelBtn, &QPushButton::clicked, this, &StatsDialog::cancel);
    // A box that holds no count it can take (empty, 0, too many) would silently keep
    // its last count: say so where it was typed, and 開始 waits for a count.
    // The spin box says nothing of text it cannot take, so its editor is watched.
    connect(BattleCount->findChild<QLineEdit*>(), &QLineEdit::textChanged, this, &StatsDialog::updateButtons);
    updateButtons();
}

void StatsDialog::updateButtons() {
    const bool countTaken = BattleCount->hasAcceptableInput();
    CountNote->setText(
        countTaken ? QString()
                   : tr("対戦数は %1 から %2 までの数で入れてください")
                         .arg(QLocale().toString(BattleCount->minimum()), QLocale().toString(BattleCount->maximum())));
    CountNote->setVisible(!countTaken);
    StartBtn->setEnabled(!running() && countTaken);
    BattleCount->setEnabled(!running());
    CancelBtn->setEnabled(running());
}

void StatsDialog::start() {
    if (running() || !BattleCount->hasAcceptableInput())
        return;
    runCatalogue_ = catalogue_;
    runTeams_ = teams_();
    seed_ = clock_.timeSeed();
    result_.reset();
    outcome_.reset();
    Chart->clear();
    Progress->setValue(0);
    ResultLabel->setText(tr("対戦中..."));

    StatsRequest request;
    request.teams = runTeams_;
    request.battles = static_cast<uint64_t>(BattleCount->value());
    request.threads = defaultThreadCount();
    request.seed = seed_;
    run_.start(
        [this, request] {
            StatsControl control;
            control.cancel = &run_.stopFlag();
            control.progress = [this](uint64_t done, uint64_t total) {
                run_.post([this, done, total] { showProgress(done, total); });
            };
            outcome_ = playStatistics(runCatalogue_, request, control);
        },
        [this] { finish(); });
    updateButtons();
}

void StatsDialog::showProgress(uint64_t done, uint64_t total) {
    if (running() && total > 0)
        Progress->setValue(int(1000.0 * double(done) / double(total)));
}

void StatsDialog::finish() {
    updateButtons();
    result_ = std::move(outcome_);
    outcome_.reset();
    if (!result_) {
        Progress->setValue(0);
        ResultLabel->setText(errorText(run_.failure()));
        Q_EMIT runEnded();
        return;
    }
    const StatsResult& r = *result_;
    Progress->setValue(r.cancelled ? Progress->value() : 1000);
    QString text;
    if (r.cancelled)
        text += tr("%1 戦で中止しました。").arg(r.battles()) + QLatin1Char('\n');
    text += tr("上の勝ち %1 (%2、%3)").arg(r.topWins()).arg(percent(r.topWinRate()), ciText(r.topWinInterval())) +
            QLatin1Char('\n');
    text +=
        tr("下の勝ち %1 (%2、%3)").arg(r.bottomWins()).arg(percent(r.bottomWinRate()), ciText(r.bottomWinInterval())) +
        QLatin1Char('\n');
    text += tr("決着なし %1 (全 %2 戦)").arg(r.undecided()).arg(r.battles()) + QLatin1Char('\n');
    text += tr("ターン数: 平均 %1、中央値 %2、最長 %3")
                .arg(QString::number(r.turnsMean(), 'f', 2), QString::number(r.lengths().median(), 'f', 1))
                .arg(r.lengths().max()) +
            QLatin1Char('\n');
    text += tr("%1 戦/秒、%2 ターン/秒 (%3 スレッド)")
                .arg(QString::number(r.battlesPerSecond(), 'f', 0), QString::number(r.turnsPerSecond(), 'f', 0))
                .arg(r.threads) +
            QLatin1Char('\n');
    ReplayOptions replay;
    replay.top = cp932ToUtf8(formatDeckLine(runTeams_.side[0], 0));
    replay.bottom = cp932ToUtf8(formatDeckLine(runTeams_.side[1], 0));
    // The battles counted are battles 0 to N-1 of the seed, cancelled or not: the
    // command plays exactly those.
    text += tr("再現: %1").arg(QString::fromStdString(statsReplayCommand(replay, seed_, r.battles())));
    ResultLabel->setText(text);
    Chart->setResult(r);
    Q_EMIT runEnded();
}

} // namespace morvane
