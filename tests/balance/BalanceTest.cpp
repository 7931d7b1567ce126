// The balance analysis on a card set whose answer is known: the card far stronger than
// its size must be named as deciding too much, the card no team would take as unplayed,
// and every figure must come out the same on any thread count and replay alone.

#include "BalanceCards.h"

#include "balance/Balance.h"
#include "balance/BalancePage.h"
#include "cards/CardCatalogue.h"
#include "common/Errors.h"
#include "optimize/Optimization.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

CardCatalogue lopsided(const std::string& strongName = "強すぎる剣士") {
    CardCatalogue catalogue;
    catalogue.loadBytes(test::lopsidedCatalogue(strongName));
    return catalogue;
}

BalanceRequest smallRun(const CardCatalogue& catalogue, unsigned threads) {
    BalanceRequest request;
    std::vector<DeckSource> field;
    for (const char* line : {test::LopsidedDeck0, test::LopsidedDeck1})
        field.push_back({line, "field"});
    request.field.decks = fieldDecks(field, catalogue);
    request.searches = 3;
    request.maxSearches = 8; // the useless card stays open, so all eight are played
    request.budget = 100000;
    request.threads = threads;
    request.seed = 42;
    request.finalBattles = 60;
    request.leagueBattles = 40;
    return request;
}

const CardBalance& character(const BalanceReport& r, int32_t id) {
    return r.characters.at(static_cast<size_t>(id - 1));
}

TEST(Balance, NamesTheDominantAndTheUselessCardAndMeasuresWhatTheDominantOneIsWorth) {
    const CardCatalogue catalogue = lopsided();
    const BalanceReport r = analyseBalance(catalogue, smallRun(catalogue, 2));
    ASSERT_EQ(r.searches.size(), 8u);
    EXPECT_EQ(r.extraSearches(), 5u);
    EXPECT_FALSE(r.interrupted);

    // Eight of eight teams settle that the strong card is in most; eight that pass the
    // useless one over cannot yet show that fewer than one in six would take it.
    const CardBalance& strong = character(r, 1);
    const CardBalance& useless = character(r, 2);
    EXPECT_EQ(strong.teams(), 8);
    EXPECT_GE(strong.mostCopies(), 3);
    EXPECT_LE(useless.teams(), 1);
    const auto decisive = r.decisive();
    const auto uncertain = r.uncertain();
    EXPECT_NE(std::find(decisive.begin(), decisive.end(), &strong), decisive.end());
    EXPECT_EQ(std::find(decisive.begin(), decisive.end(), &useless), decisive.end());
    EXPECT_NE(std::find(uncertain.begin(), uncertain.end(), &useless), uncertain.end());
    EXPECT_EQ(useless.verdict().question, CardVerdict::Rare);
    EXPECT_TRUE(r.unplayed().empty());

    // Every copy replaced by the best other card costs the teams clearly, and the
    // interval says so; a card the teams do not use has nothing measured.
    ASSERT_TRUE(strong.measured());
    EXPECT_GT(strong.loss(), 0.2);
    EXPECT_GT(strong.lossInterval().low, 0.0);
    EXPECT_LT(strong.lossInterval().low, strong.loss());
    EXPECT_GT(strong.lossInterval().high, strong.loss());
    // Only the teams of the three searches asked for are taken apart.
    EXPECT_EQ(strong.kept.battles, 3u * 60 * 4);
    EXPECT_EQ(strong.kept.battles, strong.replaced.battles);
    for (size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(strong.replacements[k] != 0, k < 3);
        EXPECT_NE(strong.replacements[k], 1);
    }
    EXPECT_FALSE(useless.measured());

    // Each best team's score is that of its search's fresh battles; the diversity
    // counts the cards of the teams.
    for (const BalanceSearch& s : r.searches) {
        EXPECT_EQ(s.score.total().battles, 60u * 4);
        EXPECT_GT(s.score.total().winRate(), 0.8);
    }
    EXPECT_GE(r.distinctCharacters(), 1);
    EXPECT_LE(r.distinctCharacters(), 5);
    EXPECT_GE(r.distinctVehicles(), 1);
    double strongest = 0;
    for (const BalanceSearch& s : r.searches)
        strongest = std::max(strongest, s.score.total().winRate());
    EXPECT_EQ(r.strongest(), strongest);

    // The league plays the distinct best teams, every ordered pair once.
    const size_t teams = r.league.teams.size();
    ASSERT_EQ(r.league.teamOf.size(), 8u);
    for (size_t k = 0; k < 8; ++k)
        EXPECT_EQ(r.league.teams.at(r.league.teamOf[k]), r.searches[k].result.best);
    EXPECT_EQ(r.league.pairings.size(), teams < 2 ? 0 : teams * (teams - 1));
    if (teams >= 2) {
        const Tally ab = r.league.against(0, 1);
        const Tally ba = r.league.against(1, 0);
        EXPECT_EQ(ab.battles, 80u);
        EXPECT_EQ(ab.wins, ba.losses);
    }
}

TEST(Balance, GivesTheSameReportOnAnyThreadCountAndEachSearchReplaysAlone) {
    const CardCatalogue catalogue = lopsided();
    const BalanceRequest request = smallRun(catalogue, 1);
    const BalanceReport one = analyseBalance(catalogue, request);
    BalanceRequest two = request;
    two.threads = 2;
    const BalanceReport other = analyseBalance(catalogue, two);
    ASSERT_EQ(one.searches.size(), other.searches.size());
    for (size_t k = 0; k < one.searches.size(); ++k) {
        EXPECT_EQ(one.searches[k].start, other.searches[k].start);
        EXPECT_EQ(one.searches[k].result.best, other.searches[k].result.best);
        EXPECT_EQ(one.searches[k].score.total().wins, other.searches[k].score.total().wins);
    }
    for (size_t c = 0; c < one.characters.size(); ++c) {
        EXPECT_EQ(one.characters[c].copies, other.characters[c].copies);
        EXPECT_EQ(one.characters[c].replacements, other.characters[c].replacements);
        EXPECT_EQ(one.characters[c].replaced.wins, other.characters[c].replaced.wins);
    }

    // Search k is the optimizer run from its start team with its own seed, and its
    // team's score the measurement of 'optimize --measure' with that seed.
    const BalanceSearch& second = one.searches[1];
    EXPECT_EQ(second.seed, searchSeed(request.seed, 1));
    EXPECT_NE(second.seed, one.searches[0].seed);
    OptimizeRequest alone;
    alone.start = second.start;
    alone.field = request.field;
    alone.budget = request.budget;
    alone.seed = second.seed;
    const Optimization replay = optimizeAndMeasure(catalogue, alone, request.finalBattles);
    EXPECT_EQ(replay.search.best, second.result.best);
    EXPECT_EQ(replay.best.total().wins, second.score.total().wins);
    EXPECT_EQ(replay.best.total().battles, second.score.total().battles);
}

// The replacements' races, like the searches, follow from the seed alone: the figures
// below were those of the analysis before its races listed their battles by field
// deck first. A race that counts one candidate's battle for another picks another
// card or another loss.
TEST(Balance, ReplacementsAreFixedByTheSeedWhateverOrderTheirBattlesArePlayedIn) {
    const CardCatalogue catalogue = lopsided();
    const BalanceReport r = analyseBalance(catalogue, smallRun(catalogue, 2));
    std::string replacements;
    uint64_t keptWins = 0;
    uint64_t replacedWins = 0;
    for (const CardBalance& c : r.characters) {
        for (int32_t id : c.replacements)
            replacements += std::to_string(id) + ",";
        replacements += ";";
        keptWins += c.kept.wins;
        replacedWins += c.replaced.wins;
    }
    EXPECT_EQ(replacements,
              "3,3,3,0,0,0,0,0,;0,0,0,0,0,0,0,0,;1,0,1,0,0,0,0,0,;1,0,0,0,0,0,0,0,;1,1,1,0,0,0,0,0,;0,1,0,0,0,0,0,0,;");
    EXPECT_EQ(keptWins, 2396u);
    EXPECT_EQ(replacedWins, 1677u);
}

TEST(Balance, StoppedSearchesStillAnalyseTheTeamsFoundAndBadSettingsAreRefused) {
    const CardCatalogue catalogue = lopsided();
    BalanceRequest request = smallRun(catalogue, 2);
    std::atomic<bool> stopSearches{false};
    BalanceControl control;
    control.stopSearches = &stopSearches;
    control.progressInterval = std::chrono::milliseconds(0);
    control.progress = [&](const BalanceProgress& p) {
        if (p.phase == BalanceProgress::Searching && p.search == 1)
            stopSearches = true;
    };
    const BalanceReport r = analyseBalance(catalogue, request, control);
    EXPECT_TRUE(r.interrupted);
    ASSERT_EQ(r.searches.size(), 2u); // the second one stopped with its best team so far
    EXPECT_LT(r.searches[1].result.battles, request.budget);
    EXPECT_EQ(character(r, 1).copies.size(), 2u);
    EXPECT_TRUE(character(r, 1).measured());

    std::atomic<bool> stop{true};
    control = {};
    control.stop = &stop;
    const BalanceReport none = analyseBalance(catalogue, request, control);
    EXPECT_TRUE(none.searches.empty());
    EXPECT_TRUE(none.decisive().empty());
    EXPECT_TRUE(none.unplayed().empty()); // no team says nothing about any card

    BalanceRequest bad = request;
    bad.field.decks.clear();
    EXPECT_THROW(analyseBalance(catalogue, bad), InputError);
    bad = request;
    bad.searches = 0;
    EXPECT_THROW(analyseBalance(catalogue, bad), InputError);
    bad = request;
    bad.maxSearches = MaxSearches + 1;
    EXPECT_THROW(analyseBalance(catalogue, bad), InputError);
    bad = request;
    bad.finalBattles = FreshBase; // would run into the seeds of the searches
    EXPECT_THROW(analyseBalance(catalogue, bad), InputError);
    bad = request;
    bad.field.decks[0].characters[3] = 0; // an empty slot cannot stand in a battle
    EXPECT_THROW(analyseBalance(catalogue, bad), InputError);

    // A catalogue whose every character is too big for every vehicle has no legal team.
    CardCatalogue tooBig;
    tooBig.loadBytes(test::cardFile({test::Card{.id = 1, .size = "30"}.line(), test::Vehicle{.id = 1}.line()}));
    BalanceRequest big;
    big.field.decks = {{1, {1, 1, 1, 1, 1, 1, 1, 1}}};
    EXPECT_THROW(analyseBalance(tooBig, big), InputError);
}

TEST(BalancePage, IsOneSelfContainedPageWithEveryTextEscaped) {
    const CardCatalogue catalogue = lopsided("<b>剣&\"士'</b>");
    const BalanceReport r = analyseBalance(catalogue, smallRun(catalogue, 2));
    BalanceSources sources;
    sources.cards = "cards/<odd>\xff.dat";
    sources.fieldSources = {"field.dat:1", "field.dat:2"};
    sources.command = "morvane-cli balance --seed 42";
    const std::string page = balancePage(r, catalogue, sources);

    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(page.find("name=\"viewport\""), std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("src="), std::string::npos);
    EXPECT_EQ(page.find("href="), std::string::npos);
    EXPECT_NE(page.find("<svg"), std::string::npos);
    // The name is text, never markup, wherever it stands: tables and charts.
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    const std::string escaped = "&lt;b&gt;剣&amp;&quot;士&#39;&lt;/b&gt;";
    EXPECT_NE(page.find("C001 " + escaped + "</td>"), std::string::npos);
    EXPECT_NE(page.find("C001 " + escaped + "</text>"), std::string::npos);
    EXPECT_NE(page.find("cards/&lt;odd&gt;\xEF\xBF\xBD.dat"), std::string::npos);
    EXPECT_NE(page.find(test::LopsidedDeck0), std::string::npos);
    EXPECT_NE(page.find("morvane-cli balance --seed 42"), std::string::npos);
    // The dominant card is named among those that decide too much, the useless one
    // among those still open, and the page says why it is open.
    const size_t decisive = page.find("決めすぎるカード");
    const size_t unplayed = page.find("誰も使わないカード");
    const size_t open = page.find("まだ決まらないカード");
    ASSERT_NE(decisive, std::string::npos);
    ASSERT_NE(unplayed, std::string::npos);
    ASSERT_NE(open, std::string::npos);
    EXPECT_NE(page.substr(decisive, unplayed - decisive).find("C001 "), std::string::npos);
    EXPECT_EQ(page.substr(unplayed, open - unplayed).find("C002 "), std::string::npos);
    EXPECT_NE(page.substr(open, page.find("</li>", open) - open).find("C002 "), std::string::npos);
    EXPECT_NE(page.find("未定: 6分の1未満か（約 "), std::string::npos);
}

} // namespace
} // namespace morvane
