// Proposed changes are measured, not guessed: the figures given for a change are what
// the analysis gives for the changed set, the ranking follows the objective, and a
// chain starts each round from the change the last one applied.

#include "BalanceCards.h"

#include "balance/Suggest.h"
#include "cards/CardCatalogue.h"
#include "common/Errors.h"
#include "optimize/Optimization.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <tuple>

namespace morvane {
namespace {

SuggestRequest smallSuggest(const std::string& bytes) {
    CardCatalogue catalogue;
    catalogue.loadBytes(bytes);
    SuggestRequest request;
    std::vector<DeckSource> field;
    for (const char* line : {test::LopsidedDeck0, test::LopsidedDeck1})
        field.push_back({line, "field"});
    request.analysis.field.decks = fieldDecks(field, catalogue);
    request.analysis.searches = 3;
    request.analysis.maxSearches = 3;
    request.analysis.budget = 20000;
    request.analysis.threads = 2;
    request.analysis.seed = 5;
    request.analysis.finalBattles = 40;
    request.analysis.leagueBattles = 20;
    request.proposals = 2;
    request.candidates = 3;
    return request;
}

TEST(Suggest, AProposalsFiguresAreThoseOfTheAnalysisOfTheChangedSet) {
    const std::string bytes = test::lopsidedCatalogue();
    SuggestRequest request = smallSuggest(bytes);
    request.rounds = 2;
    const std::vector<SuggestRound> rounds = suggestChanges(bytes, request);
    ASSERT_FALSE(rounds.empty());
    const SuggestRound& first = rounds.front();
    ASSERT_EQ(first.proposals.size(), 2u);
    EXPECT_LE(first.proposals[0].figures.objective, first.proposals[1].figures.objective);

    // The dominant card is the one pressed on, one field by one step, and the changed
    // set differs from the old one in that card's line only.
    const Proposal& best = first.proposals.front();
    EXPECT_EQ(best.change.kind, 'C');
    EXPECT_EQ(best.change.id, 1);
    EXPECT_EQ(std::abs(best.change.to - best.change.from), best.change.field == "hp" ? 2 : 1);
    std::string expected = bytes;
    expected.replace(expected.find(best.change.before), best.change.before.size(), best.change.after);
    EXPECT_EQ(best.catalogue, expected);

    // Measured: the analysis of the changed set with the same settings gives the same.
    CardCatalogue changed;
    changed.loadBytes(best.catalogue);
    const BalanceFigures again = balanceFigures(analyseBalance(changed, request.analysis));
    EXPECT_EQ(again.objective, best.figures.objective);
    EXPECT_EQ(again.strongest, best.figures.strongest);
    EXPECT_EQ(again.stackingTeams, best.figures.stackingTeams);

    // A chain goes on from the applied change when it did better than the set before.
    if (best.figures.objective < first.before.objective && rounds.size() > 1) {
        EXPECT_EQ(rounds[1].before.objective, best.figures.objective);
        EXPECT_EQ(rounds[1].before.strongest, best.figures.strongest);
    }
}

TEST(Suggest, ChangesStayWithinWhatACardCanHoldAndBadSettingsAreRefused) {
    const std::string bytes = test::lopsidedCatalogue();
    SuggestRequest request = smallSuggest(bytes);
    CardCatalogue catalogue;
    catalogue.loadBytes(bytes);
    const BalanceReport report = analyseBalance(catalogue, request.analysis);
    for (const FieldChange& c : candidateChanges(bytes, report, 64)) {
        EXPECT_GE(c.to, c.field == "power" ? 0 : 1) << c.field;
        EXPECT_EQ(c.before.size(), c.after.size()); // one fixed field rewritten in place
        EXPECT_NE(c.before, c.after);
    }
    EXPECT_EQ(candidateChanges(bytes, report, 2).size(), 2u);
    request.rounds = 0;
    EXPECT_THROW(suggestChanges(bytes, request), InputError);
}

// A report drawn by hand: search 0 found the strongest team, built on C005, and two
// other searches stacked C001.
BalanceReport drawnReport(double strongestRate) {
    BalanceReport report;
    auto tally = [](double rate) {
        Tally t;
        t.battles = 1000;
        t.wins = static_cast<uint64_t>(rate * 1000);
        t.losses = t.battles - t.wins;
        return t;
    };
    const std::array<SideSelection, 3> teams{
        SideSelection{1, {4, 4, 5, 5, 6, 6, 3, 3}},
        SideSelection{1, {1, 1, 1, 3, 4, 5, 6, 3}},
        SideSelection{2, {1, 1, 1, 4, 4, 5, 6, 6}},
    };
    for (size_t k = 0; k < teams.size(); ++k) {
        BalanceSearch search;
        search.result.best = teams[k];
        search.score.pairings = {tally(k == 0 ? strongestRate : 0.70)};
        report.searches.push_back(search);
    }
    for (int32_t id = 1; id <= 6; ++id) {
        CardBalance card;
        card.id = id;
        for (const SideSelection& team : teams)
            card.copies.push_back(static_cast<int>(std::count(team.characters.begin(), team.characters.end(), id)));
        // C005 carries its teams: they lose most without it.
        card.kept = tally(0.8);
        card.replaced = tally(id == 5 ? 0.4 : 0.75);
        report.characters.push_back(card);
    }
    return report;
}

TEST(Suggest, TheStrongestTeamsCarriersLeadOnlyWhereItsMarginWeighsMost) {
    const std::string bytes = test::lopsidedCatalogue();
    // 19 points above the line against two stacks (10): the card that carries the
    // strongest team is weakened first, and the stacked one after it.
    std::vector<FieldChange> changes = candidateChanges(bytes, drawnReport(0.99), 64);
    ASSERT_GE(changes.size(), 4u);
    EXPECT_EQ(changes[0].id, 5);
    EXPECT_EQ(changes[0].field, "power");
    const auto stacked = std::find_if(changes.begin(), changes.end(), [](const FieldChange& c) { return c.id == 1; });
    ASSERT_NE(stacked, changes.end());
    // The stacked card is not in the strongest team: all of that team's come first.
    for (int32_t id : {3, 4, 6})
        EXPECT_LT(std::find_if(changes.begin(), changes.end(), [id](const FieldChange& c) { return c.id == id; }),
                  stacked)
            << id;

    // 2 points above it: the stacks weigh more, and the stacked card leads.
    changes = candidateChanges(bytes, drawnReport(0.82), 64);
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes[0].id, 1);
}

SideSelection team(int32_t vehicle, std::array<int32_t, 8> characters) {
    return SideSelection{vehicle, characters};
}

BalanceReport reportOfTeams(const std::vector<SideSelection>& teams, const BalanceRequest& request) {
    BalanceReport report;
    report.request = request;
    for (const SideSelection& t : teams) {
        BalanceSearch search;
        search.result.best = t;
        report.searches.push_back(search);
    }
    return report;
}

TEST(Suggest, ARenewedFieldTakesTheStrongestDecksButNoStackAndAtMostTwoAVehicle) {
    const std::string bytes = test::lopsidedCatalogue();
    CardCatalogue catalogue;
    catalogue.loadBytes(bytes);
    const BalanceRequest request = smallSuggest(bytes).analysis;
    // Two weak decks of the second vehicle (useless cards in most slots) and one strong
    // deck of the first; the best teams add two more strong ones of the first and one
    // that stacks the strong card, which would top any league.
    const SideSelection weakA = team(2, {2, 2, 2, 3, 2, 2, 2, 2});
    const SideSelection weakB = team(2, {2, 2, 3, 4, 2, 2, 2, 2});
    const SideSelection strong0 = team(1, {1, 4, 5, 6, 3, 1, 5, 6});
    const SideSelection strongA = team(1, {1, 1, 4, 5, 6, 3, 4, 5});
    const SideSelection strongB = team(1, {1, 3, 4, 5, 6, 1, 3, 6});
    const SideSelection stack = team(1, {1, 1, 1, 3, 4, 5, 6, 3});
    const std::vector<SideSelection> field{weakA, weakB, strong0};
    const BalanceReport report = reportOfTeams({strongA, stack, strongB, strongA}, request);

    const std::vector<SideSelection> next = renewedField(catalogue, field, report, 60);
    ASSERT_EQ(next.size(), field.size());
    EXPECT_EQ(std::count(next.begin(), next.end(), stack), 0);
    // Three strong decks of vehicle 1 outrank both weak ones, but only two may stay;
    // the third place goes to the better deck of the other vehicle.
    const auto firstVehicle =
        std::count_if(next.begin(), next.end(), [](const SideSelection& d) { return d.vehicle == 1; });
    EXPECT_EQ(firstVehicle, 2);
    EXPECT_EQ(std::count(next.begin(), next.end(), weakA) + std::count(next.begin(), next.end(), weakB), 1);
    EXPECT_EQ(renewedField(catalogue, field, report, 60), next); // seeded: the same again

    // Nothing new to add (only the stack, or teams already in the field): the field stays.
    EXPECT_EQ(renewedField(catalogue, field, reportOfTeams({stack, strong0}, request), 60), field);
}

TEST(Suggest, ARenewedFieldKeepsEveryAttackKindWhileItHasDecksOfThem) {
    // Two strong physical cards, plain magic and breath ones, four vehicles so that
    // the vehicle rule stays out of the way.
    std::vector<std::string> lines{"; strong physical attackers"};
    lines.push_back(test::Card{.id = 1, .size = " 2", .hp = "30", .power = " 9", .sp = "10", .name = "剣士"}.line());
    lines.push_back(test::Card{.id = 2, .size = " 2", .hp = "30", .power = " 8", .sp = " 9", .name = "槍兵"}.line());
    lines.push_back(test::Card{.id = 3, .kind = "魔", .size = " 2", .hp = "10", .power = " 3", .name = "術師"}.line());
    lines.push_back(test::Card{.id = 4, .kind = "魔", .size = " 2", .hp = "10", .power = " 3", .name = "巫女"}.line());
    lines.push_back(test::Card{.id = 5, .kind = "ブ", .size = " 2", .hp = "10", .power = " 3", .name = "竜"}.line());
    lines.push_back(test::Card{.id = 6, .kind = "ブ", .size = " 2", .hp = "10", .power = " 3", .name = "蜥蜴"}.line());
    for (int id = 1; id <= 4; ++id)
        lines.push_back(test::Vehicle{.id = id, .size = "20", .hp = "30", .name = "荷車"}.line());
    const std::string bytes = test::cardFile(lines);
    CardCatalogue catalogue;
    catalogue.loadBytes(bytes);
    const BalanceRequest request = smallSuggest(test::lopsidedCatalogue()).analysis;

    const SideSelection magic = team(1, {3, 4, 3, 4, 5, 3, 4, 6});
    const SideSelection breath = team(2, {5, 6, 5, 6, 3, 5, 6, 4});
    const SideSelection physicalA = team(3, {1, 2, 1, 2, 3, 4, 5, 6});
    const SideSelection physicalB = team(4, {2, 1, 3, 1, 2, 4, 5, 6});
    const SideSelection physicalC = team(1, {1, 2, 5, 2, 1, 6, 3, 4});
    const std::vector<SideSelection> field{magic, breath, physicalA};

    // The physical teams top the league, but a field of three holds one of them while
    // a magic and a breath deck are left.
    const std::vector<SideSelection> next = renewedField(catalogue, field, reportOfTeams({physicalB}, request), 60);
    ASSERT_EQ(next.size(), 3U);
    EXPECT_EQ(std::count(next.begin(), next.end(), magic), 1);
    EXPECT_EQ(std::count(next.begin(), next.end(), breath), 1);

    // Where no deck of another kind is left, the strongest of one kind fill the field.
    // (With one kind only, the vehicle rule still holds: the test above.)
    const std::vector<SideSelection> allPhysical{physicalA, physicalB, magic};
    const std::vector<SideSelection> filled =
        renewedField(catalogue, allPhysical, reportOfTeams({physicalC}, request), 60);
    ASSERT_EQ(filled.size(), 3U);
    EXPECT_EQ(std::count(filled.begin(), filled.end(), magic), 1);
    EXPECT_EQ(std::count(filled.begin(), filled.end(), physicalA) +
                  std::count(filled.begin(), filled.end(), physicalB) +
                  std::count(filled.begin(), filled.end(), physicalC),
              2);
}

TEST(Suggest, ARoundOnARenewedFieldIsWhatTheAnalysisGivesOnThatField) {
    // The strong card at size 5: three of it no longer fit a deck, so the searches find
    // teams the field may take (it takes no stack), and the twins among the plain cards
    // leave the searches no reason to stack those.
    std::vector<std::string> lines{"; the lopsided set, its strong card dearer"};
    lines.push_back(test::Card{.id = 1, .size = " 5", .hp = "30", .power = " 9", .sp = "10", .name = "剣士"}.line());
    lines.push_back(test::Card{.id = 2, .size = " 4", .hp = " 1", .power = " 0", .sp = " 1", .name = "見習い"}.line());
    for (int id = 3; id <= 6; ++id)
        lines.push_back(
            test::Card{.id = id, .size = " 2", .hp = "10", .power = " 3", .sp = " 5", .name = "兵士"}.line());
    lines.push_back(test::Vehicle{.id = 1, .size = "20", .hp = "30", .name = "荷車"}.line());
    lines.push_back(test::Vehicle{.id = 2, .size = "22", .hp = "24", .name = "小舟"}.line());
    const std::string bytes = test::cardFile(lines);
    SuggestRequest request = smallSuggest(bytes);
    request.renewField = true;
    request.renewalBattles = 40;
    request.rounds = 3;
    request.analysis.preferVariety = true;
    // A field without the strong card, which the searches' teams outgrow.
    request.analysis.field.decks = {team(1, {3, 4, 5, 6, 3, 4, 5, 6}), team(2, {6, 5, 4, 3, 6, 5, 4, 2})};
    request.candidates = 1;
    const std::vector<SuggestRound> rounds = suggestChanges(bytes, request);
    ASSERT_FALSE(rounds.empty());

    CardCatalogue catalogue;
    catalogue.loadBytes(bytes);
    const BalanceReport first = analyseBalance(catalogue, request.analysis);
    const std::vector<SideSelection> expected =
        renewedField(catalogue, request.analysis.field.decks, first, request.renewalBattles);
    ASSERT_NE(expected, request.analysis.field.decks); // the searches found teams to add
    EXPECT_TRUE(rounds[0].fieldRenewed);
    EXPECT_EQ(rounds[0].field, expected);

    BalanceRequest again = request.analysis;
    again.field.decks = expected;
    const BalanceFigures figures = balanceFigures(analyseBalance(catalogue, again));
    EXPECT_EQ(rounds[0].before.objective, figures.objective);
    EXPECT_EQ(rounds[0].before.strongest, figures.strongest);
    if (!rounds[0].proposals.empty()) {
        CardCatalogue changed;
        changed.loadBytes(rounds[0].proposals[0].catalogue);
        EXPECT_EQ(balanceFigures(analyseBalance(changed, again)).objective, rounds[0].proposals[0].figures.objective);
    }
    // A round is marked applied exactly when its best change did better than the set
    // before it; one that changed nothing goes on only because the field moved.
    for (size_t k = 0; k < rounds.size(); ++k) {
        const SuggestRound& r = rounds[k];
        EXPECT_EQ(r.applied, !r.proposals.empty() && r.proposals[0].figures.objective < r.before.objective) << k;
        if (k > 0 && !rounds[k - 1].applied) {
            EXPECT_TRUE(r.fieldRenewed) << k;
        }
    }
}

TEST(Suggest, WhereTheCheckOnFreshSeedsMissesTheChainGoesOnFromItsTeams) {
    const std::string bytes = test::evenCatalogue();
    CardCatalogue catalogue;
    catalogue.loadBytes(bytes);
    SuggestRequest request = smallSuggest(bytes);
    request.analysis.searches = 8;
    request.analysis.maxSearches = 8;
    request.analysis.budget = 100;
    request.analysis.preferVariety = true;
    std::vector<DeckSource> field;
    for (const char* line : test::EvenField)
        field.push_back({line, "field"});
    request.analysis.field.decks = fieldDecks(field, catalogue);
    request.candidates = 1;
    request.rounds = 4;
    const BalanceFigures chainSees = balanceFigures(analyseBalance(catalogue, request.analysis));
    ASSERT_EQ(chainSees.objective, 0); // the premise: the chain believes the set at once

    // Three searches can meet no more than three vehicles: every check misses. Without
    // a renewed field the chain has nothing to go on with.
    BalanceRequest check = request.analysis;
    check.searches = 3;
    check.maxSearches = 3;
    check.budget = 20000; // long enough to leave the frail cards: stronger teams
    request.check = check;
    std::vector<SuggestRound> rounds = suggestChanges(bytes, request);
    ASSERT_EQ(rounds.size(), 1u);
    ASSERT_TRUE(rounds[0].check);
    EXPECT_FALSE(rounds[0].check->holds());
    EXPECT_GE(rounds[0].check->figures.objective, 5);

    // With one, the round after a miss is measured on a field that took in the check's
    // teams, and every check plays seeds of its own.
    request.renewField = true;
    request.renewalBattles = 20;
    rounds = suggestChanges(bytes, request);
    ASSERT_FALSE(rounds.empty());
    std::vector<uint32_t> seeds;
    for (size_t k = 0; k < rounds.size(); ++k) {
        ASSERT_TRUE(rounds[k].check) << k; // every round met the chain's targets
        seeds.push_back(rounds[k].check->seed);
        for (unsigned n = 0; n < 64; ++n)
            EXPECT_NE(seeds.back(), searchSeed(request.analysis.seed, n)); // no battle of the chain's again
        if (k > 0) {
            EXPECT_TRUE(rounds[k].fieldRenewed) << k;
        }
    }
    std::sort(seeds.begin(), seeds.end());
    EXPECT_EQ(std::unique(seeds.begin(), seeds.end()), seeds.end());
    ASSERT_GT(rounds.size(), 1u); // the miss sent it on

    // Stopped as the first check starts: the chain ends with no check it did not finish.
    std::atomic<bool> stop{false};
    const std::vector<SuggestRound> stopped = suggestChanges(bytes, request, &stop, [&](const SuggestProgress& p) {
        if (p.checking)
            stop = true;
    });
    ASSERT_EQ(stopped.size(), 1u);
    EXPECT_FALSE(stopped[0].check);
    check.seed = checkSeed(request.analysis.seed, 0);
    check.field.decks = rounds[0].field;
    const BalanceReport checked = analyseBalance(catalogue, check);
    EXPECT_EQ(rounds[1].field, renewedField(catalogue, rounds[0].field, checked, request.renewalBattles));
    // ... and changes what the check's searches pressed on, not what the chain's own
    // (fewer, shorter) searches on the new field saw.
    const std::string afterFirst = rounds[0].applied ? rounds[0].proposals[0].catalogue : bytes;
    const std::vector<FieldChange> expected = candidateChanges(afterFirst, checked, request.candidates);
    ASSERT_FALSE(expected.empty());
    ASSERT_FALSE(rounds[1].proposals.empty());
    const FieldChange& tried = rounds[1].proposals[0].change;
    EXPECT_EQ(std::tie(tried.kind, tried.id, tried.field, tried.to),
              std::tie(expected[0].kind, expected[0].id, expected[0].field, expected[0].to));
}

} // namespace
} // namespace morvane
