// Proposed changes are measured, not guessed: the figures given for a change are what
// the analysis gives for the changed set, the ranking follows the objective, and a
// chain starts each round from the change the last one applied.

#include "BalanceCards.h"

#include "balance/Suggest.h"
#include "cards/CardCatalogue.h"
#include "common/Errors.h"
#include "optimize/Optimization.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace morvane
