#include "ui/mainpas.h"

#include "batch/BatchRunner.h"
#include "battle/Battle.h"
#include "cards/CardFields.h"
#include "cards/Team.h"
#include "common/Clock.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/FileNames.h"
#include "common/Files.h"
#include "common/Paths.h"
#include "report/ReportSink.h"
#include "ui/SysCtrls.h"
#include "ui/ToolMenu.h"
#include "ui/title.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

namespace morvane {

namespace {

// The visible client area is 462 x 323; it is made taller so that the batch row at
// top 328 shows. The three text boxes lie right of it and are never seen.
constexpr int ClientWidth = 462;
constexpr int ClientHeight = 356;
constexpr int SideOffset = 144;

// The batch runner scans once a second. While a batch battle runs it looks for the
// end ten times as often: a battle of a few dozen 20 ms turns would otherwise spend
// most of its time waiting for the next look, and a long batch would crawl.
constexpr int BatchScanInterval = 1000;
constexpr int BatchBattleCheckInterval = 100;

// Left and top (side 0) of slots 1 to 8 and the vehicle: a three-by-three grid with
// the vehicle in the middle.
constexpr int SelectorPlace[9][2] = {{8, 40},   {8, 72},   {8, 104},   {160, 40}, {160, 104},
                                     {312, 40}, {312, 72}, {312, 104}, {160, 72}};

// The controls of the client area, each at its fixed place.
QComboBox* makeCombo(QWidget* client, const QString& name, int left, int top, int width) {
    auto* box = new QComboBox(client);
    box->setObjectName(name);
    box->setGeometry(left, top, width, 20);
    box->setEditable(false);
    return box;
}

QLabel* makeLabel(QWidget* client, const QString& name, const QString& text, int left, int top, int width, int height) {
    auto* label = new QLabel(text, client);
    label->setObjectName(name);
    label->setGeometry(left, top, width, height);
    return label;
}

QPushButton* makeButton(QWidget* client, const QString& name, const QString& text, int left, int top, int width,
                        int height) {
    auto* button = new QPushButton(text, client);
    button->setObjectName(name);
    button->setGeometry(left, top, width, height);
    button->setAutoDefault(false);
    return button;
}

// One of the stores beside the visible area that mirror the program's lists.
QPlainTextEdit* makeStore(QWidget* client, const QString& name, int left, int top, int width, int height) {
    auto* store = new QPlainTextEdit(client);
    store->setObjectName(name);
    store->setGeometry(left, top, width, height);
    store->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Typing into a box nobody can see must not change what is saved.
    store->setReadOnly(true);
    return store;
}

// Selector index 0-7 feeds slots 1-8 of its side, index 8 the vehicle.
QString selectorName(int side, int index) {
    return QString::fromStdString(morvane::selectorName(selectorSlot(side, index)));
}

int32_t selectedId(const QComboBox* selector) {
    return selector->currentIndex() < 0 ? 0 : selector->currentData().toInt();
}

void selectId(QComboBox* selector, int32_t id) {
    // An id that no entry offers (0 among them) leaves the selector without a selection.
    selector->setCurrentIndex(id == 0 ? -1 : selector->findData(id));
}

// Appends an entry without changing the selection, which a combo box would otherwise
// move to a first entry.
void appendEntry(QComboBox* list, const QString& text, const QVariant& data = {}) {
    const int selected = list->currentIndex();
    list->addItem(text, data);
    list->setCurrentIndex(selected);
}

QString statText(const cardRecordType& row) {
    return fromCp932(cardStatText(row.line));
}

} // namespace

// The core's batch runner as this window plays it: the deck pair goes into the
// selectors as a picked deck does (without touching the labels), the battle starts as
// the battle button starts it, Timer1 plays its turns, and the report is read back
// from the program folder.
class Tmain::BatchFront : public BatchHost {
public:
    explicit BatchFront(Tmain& window) : w_(window) {}

    std::string root() override { return QFile::encodeName(w_.SaverDir->text()).toStdString(); }

    int lastFolder() override {
        const QString text = w_.SvrDirMax->currentText();
        bool ok = false;
        const int last = text.toInt(&ok);
        if (!ok)
            throw ConversionError(utf8ToCp932(text.toStdString()));
        return last;
    }

    void applyDecks(const DeckPair& decks) override {
        // The labels follow the selectors, also as far as a bad deck line got.
        try {
            applyDeckPair(decks, [this](int side, std::string_view line) { w_.DeckSet(side, line); });
        } catch (...) {
            w_.DataAdd();
            throw;
        }
        w_.DataAdd();
    }

    void startBattle() override {
        // A battle left halted by an earlier failure still holds its open report, and
        // the battle button would go on in it.
        if (w_.battle_ && w_.battle_->state().BattleRunning && !w_.Timer1->isActive())
            w_.battle_->Abandon();
        w_.startBattle();
        w_.batchBattle_ = true;
    }

    BattleOutcome advanceBattle() override {
        if (w_.Timer1->isActive())
            return {BattleStatus::Running, -1, w_.battle_->state().TurnNo};
        w_.batchBattle_ = false;
        // Stopped: ended, capped, or halted by a failing tick that showed why.
        return w_.battle_->outcome();
    }

    std::string finishedReport() override { return readFileBytes(w_.reportPath()); }

private:
    Tmain& w_;
};

Tmain::Tmain(const Environment& env, const Tstartup& startup, QWidget* parent)
    : QMainWindow(parent), env_(env), startup_(startup),
      reportSink_(std::make_unique<FileReportSink>(env.programFolder / file::Report)),
      batchFront_(std::make_unique<BatchFront>(*this)), folderUse_(std::make_unique<FolderUse>(env.programFolder)) {
    BatchOptions options;
    // The window passes over a root it cannot use folder by folder and keeps scanning:
    // the user may create the folder or fix the root while the runner is on.
    options.stopOnBadRoot = false;
    batchRunner_ = std::make_unique<BatchRunner>(*batchFront_, clock(), options);
    layOut();
    IconTray1->AfterLoad();
    FormCreate();
    // Said, not refused: the user may well mean to run both, and the saves keep each
    // other's lines safe.
    if (folderUse_->shared())
        env_.messages->information(
            QStringLiteral("Morvane"),
            QStringLiteral("このフォルダーは、別に起動している Morvane も使っています:\n%1\n"
                           "片方でリストを記録すると、もう片方ではそのリストを再起動するまで記録できません。")
                .arg(QFile::decodeName(env_.programFolder.c_str())));
}

Tmain::~Tmain() = default;

void Tmain::layOut() {
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("main"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(programFont());

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(ClientWidth, ClientHeight);
    setCentralWidget(client);

    for (int side = 0; side < 2; ++side)
        layOutSide(client, side);
    StatLabel[0][0]->setText(QStringLiteral("HP:00 AP:00 SP:00 Size:00"));
    layOutBattleAndBatch(client);
    setKeyboardOrder();
    makeTimers();
    makeMenus();
    makeTray();
    makeStatusLine();

    layout()->setSizeConstraint(QLayout::SetFixedSize);
    layout()->activate();
    move(234, 104);
}

void Tmain::layOutSide(QWidget* client, int side) {
    const int dy = side * SideOffset;
    D[side] = makeCombo(client, QStringLiteral("D%1").arg(side), 8, 8 + dy, 145);
    AddBtn[side] =
        makeButton(client, QStringLiteral("AddBtn%1").arg(side), QStringLiteral("リストに追加"), 160, 8 + dy, 75, 17);
    SaveBtn[side] =
        makeButton(client, QStringLiteral("SaveBtn%1").arg(side), QStringLiteral("リストを記録"), 240, 8 + dy, 75, 17);
    AllData[side] =
        makeLabel(client, QStringLiteral("AllData%1").arg(side), QStringLiteral("size00(00)"), 320, 8 + dy, 137, 17);
    for (int i = 0; i < 9; ++i) {
        const QString name = selectorName(side, i);
        const int left = SelectorPlace[i][0];
        const int top = SelectorPlace[i][1] + dy;
        Selector[side][i] = makeCombo(client, name, left, top, 145);
        StatLabel[side][i] =
            makeLabel(client, name + QStringLiteral("data"), name + QStringLiteral("data"), left, top + 20, 145, 12);
    }
    connect(D[side], &QComboBox::activated, this, side == 0 ? &Tmain::D0Change : &Tmain::D1Change);
    connect(AddBtn[side], &QPushButton::clicked, this, side == 0 ? &Tmain::AddBtn0Click : &Tmain::AddBtn1Click);
    connect(SaveBtn[side], &QPushButton::clicked, this, side == 0 ? &Tmain::SaveBtn0Click : &Tmain::SaveBtn1Click);

    using Handler = void (Tmain::*)();
    const Handler changes[2][9] = {
        {&Tmain::C01Change, &Tmain::C02Change, &Tmain::C03Change, &Tmain::C04Change, &Tmain::C05Change,
         &Tmain::C06Change, &Tmain::C07Change, &Tmain::C08Change, &Tmain::V00Change},
        {&Tmain::C11Change, &Tmain::C12Change, &Tmain::C13Change, &Tmain::C14Change, &Tmain::C15Change,
         &Tmain::C16Change, &Tmain::C17Change, &Tmain::C18Change, &Tmain::V10Change}};
    // Only the user's picks raise a change; selections made from code do not.
    for (int i = 0; i < 9; ++i)
        connect(Selector[side][i], &QComboBox::activated, this, changes[side][i]);
}

void Tmain::layOutBattleAndBatch(QWidget* client) {
    BattleBtn = makeButton(client, QStringLiteral("BattleBtn"), QStringLiteral("Let's Battle !!"), 16, 296, 417, 25);
    connect(BattleBtn, &QPushButton::clicked, this, &Tmain::BattleBtnClick);

    Memo2 = makeStore(client, QStringLiteral("Memo2"), 472, 0, 289, 121);
    Memo3 = makeStore(client, QStringLiteral("Memo3"), 472, 144, 289, 121);
    Memo1 = makeStore(client, QStringLiteral("Memo1"), 472, 280, 289, 65);

    SaverBtn = makeButton(client, QStringLiteral("SaverBtn"), QStringLiteral("SaverBtn"), 16, 328, 81, 20);
    SaverDir = new QLineEdit(QStringLiteral("SaverDir"), client);
    SaverDir->setObjectName(QStringLiteral("SaverDir"));
    SaverDir->setGeometry(104, 328, 249, 20);
    SvrDirMax = makeCombo(client, QStringLiteral("SvrDirMax"), 360, 328, 73);
    for (const char* count : {"1", "5", "10", "20", "30", "40", "50", "100", "150", "200", "300", "400", "500", "1000"})
        SvrDirMax->addItem(QString::fromLatin1(count));
    SvrDirMax->setCurrentIndex(-1);
    connect(SaverBtn, &QPushButton::clicked, this, &Tmain::SaverBtnClick);
}

void Tmain::setKeyboardOrder() {
    // The team grids, the battle button, then the lists and buttons.
    std::vector<QWidget*> order;
    for (int side = 0; side < 2; ++side)
        for (const int i : KeyboardOrder)
            order.push_back(Selector[side][i]);
    for (QWidget* w : std::initializer_list<QWidget*>{BattleBtn, Memo1, D[0], D[1], AddBtn[0], SaveBtn[0], AddBtn[1],
                                                      SaveBtn[1], Memo2, Memo3, SaverBtn, SaverDir, SvrDirMax})
        order.push_back(w);
    for (size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void Tmain::makeTimers() {
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(20);
    connect(Timer1, &QTimer::timeout, this, &Tmain::Timer1Timer);
    SaverTimer = new QTimer(this);
    SaverTimer->setObjectName(QStringLiteral("SaverTimer"));
    SaverTimer->setInterval(BatchScanInterval);
    connect(SaverTimer, &QTimer::timeout, this, &Tmain::SaverTimerTimer);
}

void Tmain::makeMenus() {
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    File1 = MainMenu1->addMenu(QStringLiteral("File"));
    File1->setObjectName(QStringLiteral("File1"));
    Exit1 = File1->addAction(QStringLiteral("Exit"));
    Exit1->setObjectName(QStringLiteral("Exit1"));
    connect(Exit1, &QAction::triggered, this, &Tmain::Exit1Click);
    Tools1 = MainMenu1->addMenu(QStringLiteral("ツール"));
    Tools1->setObjectName(QStringLiteral("Tools1"));
    Help1 = MainMenu1->addMenu(QStringLiteral("Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    About1 = Help1->addAction(QStringLiteral("About"));
    About1->setObjectName(QStringLiteral("About1"));
    connect(About1, &QAction::triggered, this, &Tmain::About1Click);
    tools_ = new ToolMenu(*this, *Tools1, toolInputs());
}

ToolInputs Tmain::toolInputs() {
    ToolInputs inputs;
    inputs.catalogue = &catalogue_;
    inputs.teams = [this] { return currentTeams(); };
    inputs.deckLines = [this](int side) { return decks_[static_cast<size_t>(side)].lines(); };
    inputs.apply = [this](int side, const SideSelection& team) { TeamSet(side, team); };
    inputs.cataloguePath = [this] { return cataloguePath(); };
    inputs.catalogueSaved = [this] { CatalogueReload(); };
    inputs.balancePage = env_.programFolder / file::BalancePage;
    inputs.editedBalancePage = env_.programFolder / file::EditedBalancePage;
    inputs.opener = env_.opener;
    inputs.clock = &clock();
    return inputs;
}

void Tmain::makeTray() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    exit2 = PopupMenu1->addAction(QStringLiteral("exit"));
    exit2->setObjectName(QStringLiteral("exit2"));
    connect(exit2, &QAction::triggered, this, &Tmain::exit2Click);

    IconTray1 = new TIconTray(this, *env_.trayShell);
    IconTray1->setObjectName(QStringLiteral("IconTray1"));
    IconTray1->setRBtnPopupMenu(PopupMenu1);
    IconTray1->setLBtnPopupMenu(PopupMenu1);
    IconTray1->setIcon(applicationIcon());
}

void Tmain::makeStatusLine() {
    // The status line is there from the start, empty until there is something to say:
    // a line that came and went would make the fixed window jump by its height.
    statusBar()->setSizeGripEnabled(false);
    ViewerNotice = new QLabel(statusBar());
    ViewerNotice->setObjectName(QStringLiteral("ViewerNotice"));
    ViewerNotice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long path must not widen the fixed window; the tool tip shows all of it.
    ViewerNotice->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusBar()->addWidget(ViewerNotice, 1);
}

void Tmain::handle(const std::function<void()>& handler) {
    runHandler(*env_.messages, handler);
}

void Tmain::FormCreate() {
    handle([this] {
        random_.setSeed(clock().timeSeed());
        loadCatalogue();
        loadDecks();
        SvrDirMax->setCurrentIndex(0);
        DataAdd();
    });
}

void Tmain::loadCatalogue() {
    try {
        catalogue_.load(cataloguePath());
    } catch (...) {
        storeCardLines();
        throw;
    }
    storeCardLines();
    fillSelectors();
    // The load selects nothing; the first deck of each side does.
    for (int side = 0; side < 2; ++side)
        for (QComboBox* selector : Selector[side])
            selector->setCurrentIndex(-1);
}

std::filesystem::path Tmain::cataloguePath() const {
    return findFileNoCase(env_.programFolder, file::Catalogue);
}

void Tmain::storeCardLines() {
    QStringList lines;
    for (const std::string& line : catalogue_.cardLines())
        lines.append(fromCp932(line));
    Memo1->setPlainText(lines.join(QLatin1Char('\n')));
}

void Tmain::fillSelectors() {
    for (int side = 0; side < 2; ++side)
        for (QComboBox* selector : Selector[side])
            selector->clear();
    for (const SelectorEntry& entry : catalogue_.vehicleEntries())
        for (int side = 0; side < 2; ++side)
            Selector[side][8]->addItem(fromCp932(entry.text), entry.id);
    for (const SelectorEntry& entry : catalogue_.characterEntries())
        for (int side = 0; side < 2; ++side)
            for (int i = 0; i < 8; ++i)
                Selector[side][i]->addItem(fromCp932(entry.text), entry.id);
}

void Tmain::CatalogueReload() {
    handle([this] {
        CardCatalogue fresh;
        fresh.load(cataloguePath());
        const Teams teams = currentTeams();
        catalogue_ = std::move(fresh);
        if (battle_ && battle_->state().BattleRunning) {
            battleCardsOld_ = true;
        } else {
            battle_.reset();
            battleCatalogue_.reset();
        }
        storeCardLines();
        fillSelectors();
        for (int side = 0; side < 2; ++side)
            showSelection(side, teams.side[static_cast<size_t>(side)]);
        DataAdd();
    });
}

void Tmain::showDeckList(int side, int selected) {
    QStringList lines;
    D[side]->clear();
    for (const std::string& line : decks_[side].lines()) {
        lines.append(fromCp932(line));
        D[side]->addItem(fromCp932(deckEntryText(line)));
    }
    deckStore(side)->setPlainText(lines.join(QLatin1Char('\n')));
    D[side]->setCurrentIndex(selected < D[side]->count() ? selected : -1);
}

void Tmain::loadDecks() {
    for (int side = 0; side < 2; ++side) {
        decks_[side] = DeckList::load(deckFilePath(env_.programFolder, side));
        showDeckList(side, -1);
    }
    for (int side = 0; side < 2; ++side) {
        D[side]->setCurrentIndex(0);
        DeckChange(side);
    }
}

SideSelection Tmain::sideSelection(int side) const {
    SideSelection selection;
    for (int i = 0; i < 8; ++i)
        selection.characters[static_cast<size_t>(i)] = selectedId(Selector[side][i]);
    selection.vehicle = selectedId(Selector[side][8]);
    return selection;
}

void Tmain::showSelection(int side, const SideSelection& selection) {
    selectId(Selector[side][8], selection.vehicle);
    for (int i = 0; i < 8; ++i)
        selectId(Selector[side][i], selection.characters[static_cast<size_t>(i)]);
}

Teams Tmain::currentTeams() const {
    return Teams{{sideSelection(0), sideSelection(1)}};
}

void Tmain::TeamSet(int side, const SideSelection& team) {
    handle([this, side, team] {
        deckIds_[static_cast<size_t>(side)] = team;
        showSelection(side, team);
        DataAdd();
    });
}

void Tmain::DeckSet(int side, std::string_view line) {
    deckIds_[static_cast<size_t>(side)] = deckLineIds(line);
    SideSelection selection = sideSelection(side);
    try {
        applyDeckLine(line, selection, catalogue_);
    } catch (...) {
        // The columns before the bad one stay applied.
        showSelection(side, selection);
        throw;
    }
    showSelection(side, selection);
}

void Tmain::Deck0Set(std::string_view line) {
    DeckSet(0, line);
}
void Tmain::Deck1Set(std::string_view line) {
    DeckSet(1, line);
}

void Tmain::DeckChange(int side) {
    // An empty list has no line to apply; reading its missing columns fails like any
    // column that holds no number.
    const int index = D[side]->currentIndex();
    const std::vector<std::string>& lines = decks_[side].lines();
    const std::string_view line =
        index >= 0 && static_cast<size_t>(index) < lines.size() ? std::string_view(lines[index]) : std::string_view();
    try {
        DeckSet(side, line);
    } catch (MorvaneError& e) {
        // Lines added here are well formed: a bad one came from the deck file.
        e.setWhere(deckFilePath(env_.programFolder, side).string());
        throw;
    }
}

void Tmain::DataAdd() {
    for (int side = 0; side < 2; ++side) {
        AllData[side]->setText(fromCp932(sizeText(catalogue_, sideSelection(side))));
    }
    for (int side = 0; side < 2; ++side) {
        for (int i = 0; i < 9; ++i) {
            const int32_t id = selectedId(Selector[side][i]);
            const cardRecordType& row = i == 8 ? catalogue_.vehicle(id) : catalogue_.character(id);
            StatLabel[side][i]->setText(row.defined() ? statText(row) : QString());
        }
    }
}

void Tmain::CardChange() {
    handle([this] { DataAdd(); });
}

void Tmain::D0Change() {
    handle([this] {
        DeckChange(0);
        DataAdd();
    });
}

void Tmain::D1Change() {
    handle([this] {
        DeckChange(1);
        DataAdd();
    });
}

void Tmain::AddTeam(int side) {
    // Nothing is checked first: not the size total, not an empty slot, not a duplicate.
    const std::string entry = decks_[side].add(sideSelection(side));
    appendEntry(D[side], fromCp932(entry));
    deckStore(side)->appendPlainText(fromCp932(decks_[side].lines().back()));
}

void Tmain::AddBtn0Click() {
    handle([this] { AddTeam(0); });
}

void Tmain::AddBtn1Click() {
    handle([this] { AddTeam(1); });
}

void Tmain::SaveList(int side) {
    const std::filesystem::path path = deckFilePath(env_.programFolder, side);
    const int selected = D[side]->currentIndex();
    const int firstNew = static_cast<int>(decks_[side].lines().size() - decks_[side].unsavedLines());
    const DeckSave outcome = decks_[side].save(path);
    if (!outcome.merged)
        return;
    // The list picked stays picked where it went: one added here moved behind the
    // other copy's lines. The selectors keep their cards either way.
    showDeckList(side, selected >= firstNew && static_cast<size_t>(selected - firstNew) < outcome.newNumbers.size()
                           ? outcome.newNumbers[static_cast<size_t>(selected - firstNew)]
                           : selected);
    QStringList numbers;
    for (const int n : outcome.newNumbers)
        numbers << fromCp932(listNumberText(n));
    const QString file = QString::fromStdString(path.filename().string());
    QString text =
        tr("%1 は読み込んだ後に別の Morvane などが変更していました。その変更はそのまま残しました。").arg(file);
    text += numbers.isEmpty() ? tr("このウィンドウで追加したデッキはありません。")
                              : tr("このウィンドウで追加したデッキ %1 件は、その後ろに %2 として保存しました。")
                                    .arg(numbers.size())
                                    .arg(numbers.join(QStringLiteral("、")));
    text += tr("一覧は保存したファイルの内容になっています。");
    env_.messages->information(tr("デッキの保存"), text);
}

void Tmain::SaveBtn0Click() {
    handle([this] { SaveList(0); });
}

void Tmain::SaveBtn1Click() {
    handle([this] { SaveList(1); });
}

const Clock& Tmain::clock() const {
    return env_.clock ? *env_.clock : systemClock();
}

std::filesystem::path Tmain::reportPath() const {
    std::error_code ec;
    const std::filesystem::path path = env_.programFolder / file::Report;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute;
}

Battle& Tmain::battleEngine() {
    // Made on first use: the battle takes its card names from the catalogue as it
    // stands, and the catalogue is complete once the window is created.
    if (battle_ && battleCardsOld_) {
        // Made before the catalogue was reloaded: its report is closed as it stands and
        // the new battle plays the new cards.
        if (battle_->state().BattleRunning)
            battle_->Abandon();
        battle_.reset();
    }
    battleCardsOld_ = false;
    if (!battle_) {
        battleCatalogue_ = std::make_unique<CardCatalogue>(catalogue_);
        battle_ = std::make_unique<Battle>(*battleCatalogue_, random_, reportSink_.get());
        battle_->report().setClock(clock());
        battle_->report().setShowReport([this] {
            // Not a box: a batch must go on, and one line says it for every report.
            if (!env_.opener->open(reportPath()))
                showViewerMissing(reportPath());
            else
                // A viewer works now: the note about an earlier report is stale.
                ViewerNotice->clear();
        });
    }
    return *battle_;
}

void Tmain::showViewerMissing(const std::filesystem::path& report) {
    const QString path = QFile::decodeName(report.c_str());
    ViewerNotice->setText(QStringLiteral("レポートを開くビューアを起動できませんでした: ") + path);
    ViewerNotice->setToolTip(path);
}

void Tmain::refuseMissingCards() const {
    // The selectors in the order the battle checks them: the first empty one decides
    // the message. Where a deck line named a card the catalogue lacks, that card is
    // what the user must look for, not the slot it left empty.
    for (int side = 0; side < 2; ++side)
        for (int index = 0; index < 9; ++index) {
            if (Selector[side][index]->currentIndex() >= 0)
                continue;
            const SideSelection& named = deckIds_[static_cast<size_t>(side)];
            const int32_t id = index == 8 ? named.vehicle : named.characters[static_cast<size_t>(index)];
            if (id == 0 || (index == 8 ? catalogue_.offersVehicle(id) : catalogue_.offersCharacter(id)))
                return;
            const QString card = QStringLiteral("%1%2").arg(index == 8 ? 'V' : 'C').arg(id, 3, 10, QLatin1Char('0'));
            throw InputError(utf8ToCp932(
                tr("%1 のカード %2 は %3 にありません")
                    .arg(QString::fromStdString(selectorName(selectorSlot(side, index))), card,
                         QString::fromLatin1(file::Catalogue.data(), static_cast<int>(file::Catalogue.size())))
                    .toStdString()));
        }
}

void Tmain::startBattle() {
    refuseMissingCards();
    // A running or halted battle restarts with full HP and goes on in its report.
    battleEngine().start(currentTeams());
    batchBattle_ = false;
    Timer1->start();
}

void Tmain::BattleBtnClick() {
    handle([this] { startBattle(); });
}

void Tmain::Timer1Timer() {
    handle([this] {
        // Off for the whole tick: a tick never overlaps another, and one that fails
        // leaves the battle halted until the battle button resumes it.
        Timer1->stop();
        if (!battle_)
            return;
        switch (battle_->playTurn(env_.maxTurns)) {
        case BattleStatus::Running:
            Timer1->start();
            break;
        case BattleStatus::Capped:
            // A batch battle is stored as it stands, like the command line tool's; the
            // runner must not wait on a box.
            if (!batchBattle_)
                env_.messages->information(
                    QStringLiteral("Morvane"),
                    QStringLiteral("%1ターンを過ぎても決着がつかないため、戦闘を打ち切りました。\n"
                                   "レポートはここまでの戦闘です: %2")
                        .arg(env_.maxTurns)
                        .arg(QFile::decodeName(reportPath().c_str())));
            break;
        case BattleStatus::Ended:
        case BattleStatus::Halted:
            break;
        }
    });
}

void Tmain::About1Click() {
    // Two lines: the title and the version. Qt breaks message lines at a line feed.
    handle([this] {
        env_.messages->information(QStringLiteral("バージョン情報"),
                                   startup_.TitleText() + QLatin1Char('\n') + startup_.VersionText());
    });
}

void Tmain::Exit1Click() {
    AppEnd();
}
void Tmain::exit2Click() {
    AppEnd();
}

void Tmain::closeEvent(QCloseEvent* event) {
    AppEnd();
    if (ending_)
        event->accept();
    else
        event->ignore();
}

void Tmain::AppEnd() {
    // Ending closes every window, this one included, which would call here again.
    if (ending_)
        return;
    // The editor asks about its unsaved changes first; キャンセル keeps the program,
    // its windows and its timers as they were.
    if (!tools_->closeCardEditor())
        return;
    ending_ = true;
    Timer1->stop();
    SaverTimer->stop();
    QCoreApplication::quit();
}

QString Tmain::defaultBatchRoot() const {
    // Without a desktop folder the root would be "/ＭＯＲＶＡＮＥ/", at the top of the
    // file system.
    if (env_.desktopFolder.isEmpty())
        throw FolderError("desktop folder");
    return env_.desktopFolder + QStringLiteral("/ＭＯＲＶＡＮＥ/");
}

void Tmain::SaverBtnClick() {
    handle([this] {
        SaverDir->setText(defaultBatchRoot());
        // Already on, it keeps its pace: a scan or a battle under way is not hurried.
        if (!SaverTimer->isActive())
            SaverTimer->start(BatchScanInterval);
    });
}

void Tmain::SaverTimerTimer() {
    handle([this] {
        // Off for the whole tick; a tick that stops the runner leaves it off, and the
        // next click starts a fresh scan.
        SaverTimer->stop();
        if (!batchRunner_->busy() && battle_ && battle_->state().BattleRunning && Timer1->isActive()) {
            // The user's own battle: the battle button would restart it in its open
            // report, so a folder would get a mix of two battles. Wait for its end.
            SaverTimer->start(BatchBattleCheckInterval);
            return;
        }
        const BatchEvent event = batchRunner_->step();
        switch (event.kind) {
        case BatchEvent::Stopped:
            if (event.error)
                std::rethrow_exception(event.error);
            return;
        case BatchEvent::ScanFinished:
            SaverTimer->start(BatchScanInterval);
            return;
        case BatchEvent::BattleStarted:
        case BatchEvent::TurnPlayed:
            SaverTimer->start(BatchBattleCheckInterval);
            return;
        default:
            // A folder that cannot be made or looked into, or that another runner holds,
            // is passed over quietly: the window has no line to say it on, and the
            // holder plays it.
            SaverTimer->start(0);
            return;
        }
    });
}

} // namespace morvane
