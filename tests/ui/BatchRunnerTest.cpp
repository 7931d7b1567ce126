// The batch runner of the main window, its timers' ticks played by hand in the order
// they would come; each folder's report is compared with the engine's battles played
// from the same generator stream.

#include "UiTestSupport.h"

#include "battle/Battle.h"
#include "report/ReportSink.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace morvane;
using namespace morvane::uitest;
namespace fs = std::filesystem;

namespace {

using Pair = std::pair<std::string, std::string>;
const Pair First{"V001C001C002C003C004C005C006C007C008:000", "V003C002C002C002C002C002C002C002C002:000"};
const Pair Second{"V002C010C009C008C007C006C005C004C003:001", "V001C005C005C006C006C007C007C008C008:002"};

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// The time of day is the only part of a report that the seed does not fix.
std::string withoutTime(std::string report) {
    const size_t start = report.find("make time[");
    if (start != std::string::npos)
        report.erase(start, report.find(']', start) - start);
    return report;
}

std::string folderReport(const fs::path& folder) {
    return withoutTime(readFile(folder / "battle.html"));
}

// The last of the engine's reports for the pairs played in turn from the window's seed.
std::string engineReport(const fs::path& cards, const std::vector<Pair>& pairs) {
    CardCatalogue catalogue;
    catalogue.load(cards);
    Random random(12345);
    MemoryReportSink sink;
    Battle battle(catalogue, random, &sink);
    for (const auto& [top, bottom] : pairs) {
        Teams teams;
        Deck0Set(top, teams, catalogue);
        Deck1Set(bottom, teams, catalogue);
        battle.play(teams, 0);
    }
    return withoutTime(sink.text());
}

std::vector<QString> labelTexts(const Tmain& main) {
    std::vector<QString> texts{main.AllData[0]->text(), main.AllData[1]->text()};
    for (const auto& side : main.StatLabel)
        for (const QLabel* label : side)
            texts.push_back(label->text());
    return texts;
}

bool idle(const Program& p) {
    return drive(p, [&] { return !p.main->Timer1->isActive() && !p.main->SaverTimer->isActive(); });
}

} // namespace

TEST(BatchRunner, ScansTheDesktopFolderAndPlaysReadyFoldersInOrderEachWithItsOwnReport) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    const std::vector<QString> labels = labelTexts(*p.main);
    const fs::path root = fs::path(p.desktop.path().toStdString()) / "ＭＯＲＶＡＮＥ";

    p.find<QPushButton>("SaverBtn")->click();
    EXPECT_EQ(p.main->SaverDir->text(), QString::fromStdString(root.string()) + "/");
    ASSERT_TRUE(drive(p, [&] { return fs::is_directory(root / "0001"); }));
    EXPECT_TRUE(fs::is_directory(root / "0000"));
    EXPECT_FALSE(fs::exists(root / "0002"));

    // Dropped out of order, played in order; done folders are left alone.
    writeFile(root / "0001/deck.dat", crlf({Second.first, Second.second}));
    writeFile(root / "0000/deck.dat", crlf({First.first, First.second}));
    writeFile(root / "0003/deck.dat", crlf({First.first, First.second}));
    writeFile(root / "0003/battle.html", "kept");
    p.main->SvrDirMax->setCurrentIndex(1);
    ASSERT_TRUE(drive(p, [&] { return fs::exists(root / "0001/battle.html") && fs::is_directory(root / "0005"); }));

    EXPECT_EQ(folderReport(root / "0000"), engineReport(folder / "card.dat", {First}));
    EXPECT_EQ(folderReport(root / "0001"), engineReport(folder / "card.dat", {First, Second}));
    EXPECT_EQ(readFile(root / "0003/battle.html"), "kept");
    EXPECT_EQ(p.opener.opened.size(), 2u);
    EXPECT_TRUE(p.messages.errors.empty());
    EXPECT_EQ(p.main->Selector[0][0]->currentData().toInt(), 10) << "the last pair stays selected";
    // The labels follow: the sizes and stats of the last pair, not of the teams before.
    EXPECT_NE(labelTexts(*p.main), labels);
    EXPECT_EQ(p.main->AllData[0]->text(), "Size 52(30)");
    EXPECT_EQ(p.main->AllData[1]->text(), "Size 52(50)");
    EXPECT_EQ(p.main->StatLabel[0][0]->text(), "HP:20 AP: 3 SP: 5");
    EXPECT_EQ(p.main->StatLabel[1][8]->text(), "HP:40 AP: 0 SP: 0");
    EXPECT_TRUE(p.main->SaverTimer->isActive());
}

TEST(BatchRunner, StopsOnAnUnusableRootOrDeckPairWithTheErrorShown) {
    ProgramFolder folder;
    folder.writeStandard();
    QTemporaryDir batch;
    const fs::path root = batch.path().toStdString();
    Program p(folder.path());
    const std::vector<QString> labels = labelTexts(*p.main);
    auto tickStops = [&](const QString& rootText, const char* error) {
        p.main->SaverDir->setText(rootText);
        p.main->SaverTimer->start();
        EXPECT_TRUE(idle(p)) << "the runner stops";
        ASSERT_FALSE(p.messages.errors.empty());
        EXPECT_EQ(p.messages.errors.back(), utf8(error));
    };

    tickStops(QString(), "ﾃﾞｨﾚｸﾄﾘを作成することができません");

    writeFile(root / "0000/deck.dat", Second.first + "\r\n");
    tickStops(batch.path() + "/", "'' は整数ではありません");
    EXPECT_EQ(p.main->Selector[0][0]->currentData().toInt(), 10) << "the top side was set";
    EXPECT_EQ(p.main->Selector[1][8]->currentData().toInt(), 3);
    // The labels show the selectors as far as the pair got.
    EXPECT_EQ(p.main->AllData[0]->text(), "Size 52(30)");
    EXPECT_EQ(p.main->AllData[1]->text(), labels[1]);
    EXPECT_EQ(p.main->StatLabel[0][0]->text(), "HP:20 AP: 3 SP: 5");

    // An empty slot: the battle cannot start, so there is no end to wait for.
    writeFile(root / "0000/deck.dat", crlf({"V001C000C002C003C004C005C006C007C008:000", First.second}));
    tickStops(batch.path() + "/", "C01のカードが選ばれていません");
    EXPECT_EQ(p.messages.errors.size(), 3u);
}

TEST(BatchRunner, NeverMixesAnotherBattleIntoAFoldersReport) {
    QTemporaryDir batch;
    const fs::path root = batch.path().toStdString();
    {
        // A card whose attack power is no number halts the battle as its report opens.
        ProgramFolder folder;
        folder.writeStandard();
        folder.write("card.dat", smallCatalogue() + crlf({characterLine(11, "11", "21", "ab", " 5", "壊兵")}));
        Program p(folder.path());
        writeFile(root / "0000/deck.dat", crlf({"V001C011C011C011C011C011C011C011C011:000", First.second}));
        p.main->SaverDir->setText(batch.path() + "/");
        p.main->SaverTimer->start();
        ASSERT_TRUE(drive(p, [&] { return !p.main->SaverTimer->isActive(); }));
        EXPECT_EQ(p.messages.errors.size(), 1u) << "only the failing battle tick says why";
        EXPECT_FALSE(fs::exists(root / "0000/battle.html"));

        // Started again, the runner drops the halted battle's open report.
        writeFile(root / "0000/deck.dat", crlf({First.first, First.second}));
        p.main->SaverTimer->start();
        ASSERT_TRUE(drive(p, [&] { return fs::exists(root / "0000/battle.html"); }));
        EXPECT_EQ(folderReport(root / "0000"), engineReport(folder / "card.dat", {First}));
    }

    // A battle the user started runs to its end before the folder's battle starts.
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path());
    writeFile(root / "0001/deck.dat", crlf({Second.first, Second.second}));
    p.find<QPushButton>("BattleBtn")->click();
    p.main->SaverDir->setText(batch.path() + "/");
    p.main->SaverTimerTimer();
    EXPECT_TRUE(p.main->SaverTimer->isActive());
    EXPECT_EQ(p.main->battle()->state().TurnNo, 0) << "the user's battle is not cut short";
    ASSERT_TRUE(drive(p, [&] { return fs::exists(root / "0001/battle.html"); }));
    EXPECT_EQ(folderReport(root / "0001"), engineReport(folder / "card.dat", {First, Second}));
    EXPECT_TRUE(p.messages.errors.empty());
}

TEST(BatchRunner, AReportThatCannotBeStoredIsShownOnceAndStopsTheRunner) {
    ProgramFolder folder;
    folder.writeStandard();
    QTemporaryDir batch;
    const fs::path root = batch.path().toStdString();
    writeFile(root / "0000/deck.dat", crlf({First.first, First.second}));
    Program p(folder.path());
    p.main->SaverDir->setText(batch.path() + "/");
    p.main->SaverTimer->start();
    ASSERT_TRUE(drive(p, [&] { return p.opener.opened.size() == 1; }));

    // The battle ended; its report goes before the runner can copy it.
    fs::remove(folder / "battle.html");
    ASSERT_TRUE(idle(p));
    ASSERT_EQ(p.messages.errors.size(), 1u);
    EXPECT_EQ(p.messages.errors[0], utf8("ﾌｧｲﾙが見つかりません"));
    EXPECT_FALSE(p.main->SaverTimer->isActive()) << "stopped, not replaying the folder on every scan";
    EXPECT_FALSE(fs::exists(root / "0000/battle.html"));
    EXPECT_FALSE(fs::exists(root / "0000/.morvane-claim"));
    EXPECT_EQ(p.opener.opened.size(), 1u);
}

TEST(BatchRunner, TheTurnCapEndsABattleAsTheToolDoesAndSaysSoOnlyForTheUsersOwn) {
    ProgramFolder folder;
    folder.writeStandard();
    QTemporaryDir batch;
    const fs::path root = batch.path().toStdString();
    Program p(folder.path(), true, false);
    p.env.maxTurns = 2;
    p.start();

    p.find<QPushButton>("BattleBtn")->click();
    ASSERT_TRUE(idle(p));
    const BattleState& state = p.main->battle()->state();
    EXPECT_FALSE(state.BattleRunning);
    EXPECT_FALSE(state.ReportOpen);
    EXPECT_EQ(state.TurnNo, 2);
    ASSERT_EQ(p.messages.infos.size(), 1u);
    EXPECT_TRUE(p.messages.infos[0].text.startsWith(QStringLiteral("2ターン")))
        << p.messages.infos[0].text.toStdString();
    EXPECT_EQ(readFile(folder / "battle.html").find("<a name=\"end\">"), std::string::npos);
    EXPECT_TRUE(p.opener.opened.empty()) << "an unfinished report is not shown as a result";

    writeFile(root / "0000/deck.dat", crlf({First.first, First.second}));
    writeFile(root / "0001/deck.dat", crlf({Second.first, Second.second}));
    p.main->SaverDir->setText(batch.path() + "/");
    p.main->SaverTimer->start();
    ASSERT_TRUE(drive(p, [&] { return fs::exists(root / "0001/battle.html"); }));
    EXPECT_EQ(readFile(root / "0000/battle.html").find("<a name=\"end\">"), std::string::npos);
    EXPECT_EQ(p.messages.infos.size(), 1u) << "a batch does not stop at a box";
    EXPECT_TRUE(p.messages.errors.empty());
    EXPECT_TRUE(p.main->SaverTimer->isActive());
}

TEST(BatchRunner, WithoutADesktopFolderTheButtonRefusesRatherThanUseTheFileSystemRoot) {
    ProgramFolder folder;
    folder.writeStandard();
    Program p(folder.path(), true, false);
    p.env.desktopFolder.clear();
    p.start();
    p.find<QPushButton>("SaverBtn")->click();
    ASSERT_EQ(p.messages.errors.size(), 1u);
    EXPECT_EQ(p.messages.errors[0], utf8("ﾃﾞｨﾚｸﾄﾘを作成することができません"));
    EXPECT_FALSE(p.main->SaverTimer->isActive());
    EXPECT_EQ(p.main->SaverDir->text(), QStringLiteral("SaverDir"));
}

TEST(BatchRunner, PassesLadderWorkOverAndNeverTakesTheLadderFolderForABattleFolder) {
    ProgramFolder folder;
    folder.writeStandard();
    QTemporaryDir batch;
    const fs::path root = batch.path().toStdString();
    // A unit of ladder work, as the service puts it there, beside a battle folder.
    const std::string unit = "matches\norders 1\n" + First.first + " " + First.second + " 3 7\nend\n";
    writeFile(root / "ladder/work/u1/unit.dat", unit);
    writeFile(root / "0000/deck.dat", crlf({First.first, First.second}));
    Program p(folder.path());
    p.main->SaverDir->setText(batch.path() + "/");
    p.main->SaverTimer->start();
    ASSERT_TRUE(drive(p, [&] { return fs::exists(root / "0000/battle.html") && fs::is_directory(root / "0001"); }));
    ASSERT_TRUE(drive(p, [&] { return !p.main->Timer1->isActive(); }));

    EXPECT_TRUE(p.messages.errors.empty());
    std::vector<std::string> inUnit;
    for (const auto& entry : fs::directory_iterator(root / "ladder/work/u1"))
        inUnit.push_back(entry.path().filename().string());
    EXPECT_EQ(inUnit, std::vector<std::string>{"unit.dat"}) << "neither claimed nor answered";
    EXPECT_EQ(readFile(root / "ladder/work/u1/unit.dat"), unit);
    EXPECT_FALSE(fs::exists(root / "ladder/battle.html"));
    EXPECT_FALSE(fs::exists(root / "ladder/deck.dat"));
    EXPECT_TRUE(p.main->SaverTimer->isActive()) << "the runner goes on scanning";
}
