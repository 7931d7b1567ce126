// Tournaments as the service keeps them: the texts a runner reads and answers, refused
// whole when cut anywhere; an event from the store that is the very event
// playTournament plays; organizer keys; and the store rebuilt from its folder after a
// stop at any step.

#include "tournament/EventStore.h"

#include "cards/CardCatalogue.h"
#include "common/Errors.h"
#include "common/TextLines.h"
#include "tournament/EventWork.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace morvane {
namespace {

namespace fs = std::filesystem;

const fs::path DataFolder = fs::path(MORVANE_SOURCE_DIR) / "data";

class EventTest : public ::testing::Test {
protected:
    void SetUp() override {
        catalogue.load(DataFolder / "card.dat");
        for (int side = 0; side < 2; ++side)
            for (const TextLine& line : readTextLines(deckFilePath(DataFolder, side))) {
                SideSelection team;
                applyDeckLine(line.text, team, catalogue);
                teams.push_back(team);
            }
        std::string pattern = (fs::temp_directory_path() / "morvane-event-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    EventPlan plan(TournamentFormat format, size_t entrants, unsigned battles = 3) const {
        EventPlan s;
        s.name = "春の大会";
        s.format = format;
        s.battles = battles;
        s.seed = 77;
        for (size_t i = 0; i < entrants; ++i)
            s.entrants.push_back({0, std::nullopt, teams[i % teams.size()], "チーム " + std::to_string(i + 1)});
        return s;
    }
    // What a runner does with the event's unit, without the runner.
    AnsweredWork answered(const EventStore& store, const std::string& id) const {
        const std::string body = formatEventOrder(store.event(id)->order);
        return {{EventStore::unitId(id), WorkKind::Event, body}, *answerEventWork(catalogue, body, 2)};
    }
    bool unitPlaced(const std::string& id) const { return fs::exists(ladderWorkFolder(root) / EventStore::unitId(id)); }

    CardCatalogue catalogue;
    std::vector<SideSelection> teams;
    fs::path root;
    FixedClock clock{"12:00:00", 0, Clock::TimePoint(std::chrono::seconds(1800000000))};
};

TEST_F(EventTest, OrderAndResultTextsReadBackAsWrittenAndAreRefusedWhenCutAnywhere) {
    EventOrder order;
    order.request.format = TournamentFormat::Swiss;
    order.request.rounds = 2;
    order.request.battles = 5;
    order.request.seed = 4000000000u;
    order.request.maxTurns = 300;
    order.request.entrants = {teams[0], teams[1], teams[2], teams[3], teams[4]};
    order.names = {"赤 の 軍", "", "#3", "  spaced  ", "last"};
    const std::string text = formatEventOrder(order);
    const EventOrder back = parseEventOrder(text);
    EXPECT_EQ(back.request.entrants, order.request.entrants);
    EXPECT_EQ(back.names, order.names);
    EXPECT_EQ(back.request.seed, order.request.seed);
    EXPECT_EQ(back.request.maxTurns, 300);
    EXPECT_EQ(formatEventOrder(back), text);

    order.request.threads = 2;
    const TournamentResult result = playTournament(catalogue, order.request);
    const std::string resultText = formatTournamentResult(result, 5);
    EXPECT_EQ(formatTournamentResult(parseTournamentResult(resultText, 5), 5), resultText);
    EXPECT_THROW(parseTournamentResult(resultText, 4), InputError) << "another event's result";

    for (const std::string* whole : {&text, &resultText})
        for (size_t cut = 0; cut < whole->size(); ++cut) {
            const std::string_view part = std::string_view(*whole).substr(0, cut);
            if (whole == &text)
                EXPECT_THROW(parseEventOrder(part), InputError) << cut;
            else
                EXPECT_THROW(parseTournamentResult(part, 5), InputError) << cut;
        }
    const auto replaced = [](std::string s, const std::string& from, const std::string& to) {
        return s.replace(s.find(from), from.size(), to);
    };
    for (const std::string& bad :
         {text + "x", replaced(text, "entrants 5", "entrants 6"), replaced(text, "team V", "team X"),
          replaced(text, "赤", "\x01"), replaced(text, "battles 5", "battles 5000"),
          replaced(text, "seed 4000000000", "seed 5000000000"), replaced(text, "max-turns 300", "max-turns 0")})
        EXPECT_THROW(parseEventOrder(bad), InputError) << bad;
    const std::string firstMatch = "match " + std::to_string(result.rounds[0].matches[0].a) + " ";
    EXPECT_THROW(parseTournamentResult(replaced(resultText, firstMatch, "match 9 "), 5), InputError);
    EXPECT_THROW(parseTournamentResult(replaced(resultText, "champion", "champion 1"), 5), InputError);
}

TEST_F(EventTest, AnEventFromTheStoreIsThePlayedTournamentOfTheSameRequest) {
    EventStore store(root, catalogue, clock);
    for (const TournamentFormat format :
         {TournamentFormat::RoundRobin, TournamentFormat::Swiss, TournamentFormat::Knockout}) {
        const EventPlan s = plan(format, 7);
        const EventStore::Created created = store.create(s, 500);
        EXPECT_TRUE(unitPlaced(created.id));
        EXPECT_EQ(store.event(created.id)->state, EventRecord::State::Waiting);
        EXPECT_EQ(store.absorb({answered(store, created.id)}),
                  std::vector<std::string>{EventStore::unitId(created.id)});

        TournamentRequest request;
        request.format = format;
        request.battles = 3;
        request.seed = 77;
        request.maxTurns = 500;
        for (const EntrantSource& e : s.entrants)
            request.entrants.push_back(e.team);
        const TournamentResult direct = playTournament(catalogue, request);
        const EventRecord event = *store.event(created.id);
        ASSERT_EQ(event.state, EventRecord::State::Played);
        EXPECT_EQ(event.result->champion, direct.champion);
        EXPECT_EQ(formatTournamentResult(*event.result, 7), formatTournamentResult(direct, 7));
        EXPECT_EQ(event.order.names[2], "チーム 3");
    }
    EXPECT_EQ(store.count(), 3u);
}

TEST_F(EventTest, OnlyTheOrganizerKeyCancelsAndOnlyBeforeThePlay) {
    EventStore store(root, catalogue, clock);
    const EventStore::Created a = store.create(plan(TournamentFormat::Knockout, 4));
    const EventStore::Created b = store.create(plan(TournamentFormat::Knockout, 4));
    EXPECT_EQ(a.key.size(), 32u);
    const auto refusal = [&](const std::string& id, const std::string& key) {
        try {
            store.cancel(id, key);
        } catch (const EventRefusal& e) {
            return e.kind();
        }
        return EventRefusal::Kind::BadName; // none
    };
    EXPECT_EQ(refusal(a.id, b.key), EventRefusal::Kind::WrongKey);
    EXPECT_EQ(refusal(a.id, ""), EventRefusal::Kind::WrongKey);
    EXPECT_EQ(refusal("000000000000", a.key), EventRefusal::Kind::NoEvent);
    store.cancel(a.id, a.key);
    EXPECT_EQ(store.event(a.id)->state, EventRecord::State::Cancelled);
    EXPECT_FALSE(unitPlaced(a.id)) << "no runner's time goes to a cancelled event";
    EXPECT_EQ(refusal(a.id, a.key), EventRefusal::Kind::Cancelled);

    // An answer that comes in after all is dropped, and its unit retired.
    AnsweredWork late{{EventStore::unitId(a.id), WorkKind::Event, ""}, "anything"};
    EXPECT_EQ(store.absorb({late}), std::vector<std::string>{EventStore::unitId(a.id)});
    EXPECT_EQ(store.event(a.id)->state, EventRecord::State::Cancelled);

    store.absorb({answered(store, b.id)});
    EXPECT_EQ(refusal(b.id, b.key), EventRefusal::Kind::Played);
}

TEST_F(EventTest, RefusesWhatNoEventShouldHoldAndNamesTheLineAtFault) {
    EventStore store(root, catalogue, clock, [&](uint32_t number) -> std::optional<EntrantSource> {
        if (number != 12)
            return std::nullopt;
        return EntrantSource{0, std::nullopt, teams[5], "ラダーの12"};
    });
    const auto kindOf = [&](const EventPlan& s) {
        try {
            store.create(s);
        } catch (const EventRefusal& e) {
            return std::optional<EventRefusal::Kind>(e.kind());
        }
        return std::optional<EventRefusal::Kind>();
    };
    using Kind = EventRefusal::Kind;
    EXPECT_EQ(kindOf(plan(TournamentFormat::RoundRobin, 1)), Kind::Entrants);
    EXPECT_EQ(kindOf(plan(TournamentFormat::RoundRobin, 257)), Kind::Entrants);
    EXPECT_EQ(kindOf(plan(TournamentFormat::RoundRobin, 4, 0)), Kind::Battles);
    EXPECT_EQ(kindOf(plan(TournamentFormat::RoundRobin, 4, 100)), Kind::Battles);
    EventPlan s = plan(TournamentFormat::Swiss, 4);
    s.rounds = 4; // three rounds meet everyone
    EXPECT_EQ(kindOf(s), Kind::Rounds);
    for (const std::string& name :
         std::vector<std::string>{"", "   ", std::string(61, 'a'), "a\nb", "\xff", "\xc0\xaf", "a\xc2\x85"}) {
        s = plan(TournamentFormat::RoundRobin, 3);
        s.name = name;
        EXPECT_EQ(kindOf(s), Kind::BadName) << name;
    }
    s = plan(TournamentFormat::RoundRobin, 3);
    s.entrants[1].team.characters[2] = 0;
    EXPECT_EQ(kindOf(s), Kind::BadEntrant);
    EXPECT_EQ(store.count(), 0u) << "a refusal stores nothing";

    const std::string line0 = formatDeckLine(teams[0], 0);
    const std::vector<EntrantSource> parsed =
        parseEntrantLines(catalogue, line0 + "  赤の軍 第2  \r\n\n#12\n  12 名前\n" + line0 + "\n");
    ASSERT_EQ(parsed.size(), 4u);
    EXPECT_EQ(parsed[0].name, "赤の軍 第2");
    EXPECT_EQ(parsed[0].team, teams[0]);
    EXPECT_EQ(parsed[1].ladderEntry, 12u);
    EXPECT_EQ(parsed[1].line, 3u);
    EXPECT_EQ(parsed[2].name, "名前");
    EXPECT_EQ(parsed[3].name, "");
    const auto lineOf = [&](const std::string& text) {
        try {
            parseEntrantLines(catalogue, text);
        } catch (const EventRefusal& e) {
            return e.entrant();
        }
        return size_t{0};
    };
    EXPECT_EQ(lineOf(line0 + "\n\nnonsense\n"), 3u);
    EXPECT_EQ(lineOf(line0 + "\nV001C003\n"), 2u);
    EXPECT_EQ(lineOf(line0 + " " + std::string(61, 'x') + "\n"), 1u);

    // A ladder entry brings its team and its name; an unknown one is refused by its line.
    EventPlan fromLadder = plan(TournamentFormat::RoundRobin, 0);
    fromLadder.entrants = parseEntrantLines(catalogue, "#12\n" + line0 + " 自前\n");
    const EventStore::Created created = store.create(fromLadder);
    EXPECT_EQ(store.event(created.id)->order.names, (std::vector<std::string>{"ラダーの12", "自前"}));
    EXPECT_EQ(store.event(created.id)->order.request.entrants[0], teams[5]);
    fromLadder.entrants = parseEntrantLines(catalogue, line0 + "\n\n#13\n");
    try {
        store.create(fromLadder);
        ADD_FAILURE();
    } catch (const EventRefusal& e) {
        EXPECT_EQ(e.kind(), Kind::NoEntry);
        EXPECT_EQ(e.entrant(), 3u);
    }
}

TEST_F(EventTest, TheStoreIsRebuiltFromItsFolderAndAStoredResultIsNeverReplaced) {
    std::string played, cancelled, waiting, lost;
    std::string playedResult;
    {
        EventStore store(root, catalogue, clock);
        played = store.create(plan(TournamentFormat::Swiss, 6)).id;
        const EventStore::Created c = store.create(plan(TournamentFormat::RoundRobin, 3));
        cancelled = c.id;
        store.cancel(c.id, c.key);
        waiting = store.create(plan(TournamentFormat::Knockout, 5)).id;
        lost = store.create(plan(TournamentFormat::Knockout, 3)).id;
        const AnsweredWork answer = answered(store, played);
        store.absorb({answer});
        playedResult = formatTournamentResult(*store.event(played)->result, 6);
        // Played again elsewhere, or a runner's faulty copy: the first result stands.
        AnsweredWork other = answer;
        other.answer = "error something else";
        EXPECT_EQ(store.absorb({other}).size(), 1u);
        EXPECT_EQ(store.event(played)->state, EventRecord::State::Played);
    }
    // The service stopped between an event's record and its unit.
    retireWork(root, EventStore::unitId(lost));
    // And a half-made event folder, and something that is no event at all.
    fs::create_directories(EventStore::folder(root) / "0123456789ab");
    fs::create_directories(EventStore::folder(root) / "notes");

    EventStore again(root, catalogue, clock);
    EXPECT_EQ(again.count(), 4u);
    EXPECT_EQ(formatTournamentResult(*again.event(played)->result, 6), playedResult);
    EXPECT_EQ(again.event(cancelled)->state, EventRecord::State::Cancelled);
    EXPECT_EQ(again.event(waiting)->state, EventRecord::State::Waiting);
    EXPECT_EQ(again.event(lost)->state, EventRecord::State::Waiting);
    EXPECT_TRUE(unitPlaced(lost)) << "an event without its unit would wait for ever";
    EXPECT_EQ(again.event(played)->created, clock.now());
    EXPECT_EQ(again.list(0, 10).size(), 4u);

    // A runner's refusal (a Swiss event that cannot be paired, say) fails the event
    // with its reason, once.
    AnsweredWork refused{{EventStore::unitId(waiting), WorkKind::Event, ""}, "error round 3 cannot be paired\n"};
    again.absorb({refused});
    EXPECT_EQ(again.event(waiting)->state, EventRecord::State::Failed);
    EXPECT_EQ(again.event(waiting)->problem, "round 3 cannot be paired");
    EventStore third(root, catalogue, clock);
    EXPECT_EQ(third.event(waiting)->state, EventRecord::State::Failed);
}

} // namespace
} // namespace morvane
