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

} // namespace
} // namespace morvane
