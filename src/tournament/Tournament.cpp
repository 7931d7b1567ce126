#include "tournament/Tournament.h"

#include "cards/CardCatalogue.h"
#include "cards/Team.h"
#include "common/Errors.h"
#include "stats/BattlePool.h"
#include "stats/Statistics.h"

#include <algorithm>
#include <bit>
#include <string>

namespace morvane {

namespace {

// Backtracking steps before a Swiss round is given up: the search is complete for the
// rounds events play (about log2 n), and bounded for the rare late round of a long one.
constexpr uint64_t SwissSearchSteps = 2000000;

// Pairs entrants in ranking order, each with the best ranked partner still free that it
// has not met; where that strands someone, the last choice is taken back.
class SwissPairer {
public:
    SwissPairer(const std::vector<size_t>& order, const std::vector<std::vector<bool>>& met)
        : order_(order), met_(met), used_(order.size(), false) {}

    bool pair(size_t from = 0) {
        while (from < order_.size() && used_[from])
            ++from;
        if (from == order_.size())
            return true;
        used_[from] = true;
        for (size_t j = from + 1; j < order_.size() && steps_ < SwissSearchSteps; ++j) {
            if (used_[j] || met_[order_[from]][order_[j]])
                continue;
            ++steps_;
            used_[j] = true;
            pairs_.emplace_back(order_[from], order_[j]);
            if (pair(from + 1))
                return true;
            pairs_.pop_back();
            used_[j] = false;
        }
        used_[from] = false;
        return false;
    }

    std::vector<std::pair<size_t, size_t>>& pairs() { return pairs_; }

private:
    const std::vector<size_t>& order_;
    const std::vector<std::vector<bool>>& met_;
    std::vector<bool> used_;
    std::vector<std::pair<size_t, size_t>> pairs_;
    uint64_t steps_ = 0;
};

// Plays the matches of a round on one pool: every entrant is a deck of the pool's field
// and a battle is entrant a against field deck b on the side the battle puts a.
class MatchPlayer {
public:
    MatchPlayer(const CardCatalogue& catalogue, const TournamentRequest& request)
        : request_(request), field_{request.entrants, PlaySide::Both},
          pool_(catalogue, field_, request.threads, request.maxTurns) {}

    // Plays battles 0 to N-1 of every match; with mustDecide, a match still level plays
    // on from battle N until a battle is won, up to battle 2N-1.
    void play(std::vector<Match>& matches, bool mustDecide) {
        std::vector<Match*> level;
        for (Match& m : matches)
            if (!m.bye())
                level.push_back(&m);
        const unsigned n = request_.battles;
        playBattles(level, 0, n, [n](Match& m) { return 2 * m.winsA > n || 2 * m.winsB > n; });
        for (Match* m : level)
            m->winner = m->winsA > m->winsB ? 0 : m->winsB > m->winsA ? 1 : -1;
        for (Match& m : matches)
            if (m.bye())
                m.winner = 0;
        if (!mustDecide)
            return;
        std::erase_if(level, [](const Match* m) { return m->winner != -1; });
        playBattles(level, n, 2 * n, [](Match& m) { return m.winsA != m.winsB; });
        for (Match* m : level) {
            m->winner = m->winsA > m->winsB ? 0 : m->winsB > m->winsA ? 1 : -1;
            if (m->winner == -1) {
                // The higher seed is the entrant listed first.
                m->winner = m->a < m->b ? 0 : 1;
                m->bySeed = true;
            }
        }
    }

    uint64_t played() const { return played_; }

private:
    // Battles from to to-1 of each match, counted in order until decided(match).
    template <class Decided>
    void playBattles(const std::vector<Match*>& matches, unsigned from, unsigned to, Decided decided) {
        if (matches.empty() || from >= to)
            return;
        std::vector<FieldBattle> battles;
        battles.reserve(matches.size() * (to - from));
        for (const Match* m : matches)
            for (unsigned k = from; k < to; ++k)
                battles.push_back(
                    {&field_.decks[m->a], static_cast<uint32_t>(2 * m->b + (k % 2)), battleSeed(m->seed, k)});
        std::vector<BattleOutcome> outcomes;
        pool_.play(battles, outcomes);
        size_t i = 0;
        for (Match* m : matches) {
            for (unsigned k = from; k < to; ++k, ++i) {
                if (decided(*m))
                    continue;
                // Battle k puts a on top for even k.
                const int aSide = static_cast<int>(k % 2);
                const BattleOutcome& o = outcomes[i];
                if (o.wonBy(aSide))
                    ++m->winsA;
                else if (o.lostBy(aSide))
                    ++m->winsB;
                else
                    ++m->undecided;
                ++m->played;
                ++played_;
            }
        }
    }

    const TournamentRequest& request_;
    Field field_;
    BattlePool pool_;
    uint64_t played_ = 0;
};

void checkRequest(const CardCatalogue& catalogue, const TournamentRequest& request) {
    const size_t n = request.entrants.size();
    if (n < 2)
        throw InputError("a tournament needs at least two decks");
    if (n > MaxEntrants)
        throw InputError("a tournament takes at most " + std::to_string(MaxEntrants) + " decks");
    if (request.battles < 1 || request.battles > MaxMatchBattles)
        throw InputError("a match is 1 to " + std::to_string(MaxMatchBattles) + " battles");
    if (request.format == TournamentFormat::Swiss && request.rounds > roundRobinRounds(n))
        throw InputError("a Swiss event of " + std::to_string(n) + " decks has at most " +
                         std::to_string(roundRobinRounds(n)) + " rounds without a repeat");
    for (size_t i = 0; i < n; ++i) {
        try {
            checkPlayable(catalogue, request.entrants[i]);
        } catch (MorvaneError& e) {
            e.setWhere("deck #" + std::to_string(i + 1));
            throw;
        }
    }
}

std::vector<Match> matchesOf(const std::vector<std::pair<size_t, size_t>>& pairs, uint32_t seed, unsigned round) {
    std::vector<Match> matches;
    for (const auto& [a, b] : pairs) {
        Match m;
        m.a = a;
        m.b = b;
        m.seed = matchSeed(seed, round, matches.size());
        matches.push_back(m);
    }
    return matches;
}

// Points and tie-breaks from the matches played.
std::vector<Standing> tally(size_t entrants, const std::vector<TournamentRound>& rounds) {
    std::vector<Standing> s(entrants);
    for (size_t i = 0; i < entrants; ++i)
        s[i].entrant = i;
    for (unsigned r = 0; r < rounds.size(); ++r) {
        for (const Match& m : rounds[r].matches) {
            Standing& a = s[m.a];
            a.roundsReached = r + 1;
            if (m.bye()) {
                a.points += 1;
                ++a.won;
                continue;
            }
            Standing& b = s[m.b];
            b.roundsReached = r + 1;
            a.battlesWon += m.winsA;
            a.battlesLost += m.winsB;
            b.battlesWon += m.winsB;
            b.battlesLost += m.winsA;
            if (m.winner == -1) {
                a.points += 0.5;
                b.points += 0.5;
                ++a.drawn;
                ++b.drawn;
            } else {
                Standing& w = m.winner == 0 ? a : b;
                Standing& l = m.winner == 0 ? b : a;
                w.points += 1;
                ++w.won;
                ++l.lost;
            }
        }
    }
    // Tie-breaks on the final points of the opponents; a bye brings none.
    for (const TournamentRound& round : rounds) {
        for (const Match& m : round.matches) {
            if (m.bye())
                continue;
            const double pa = s[m.a].points;
            const double pb = s[m.b].points;
            s[m.a].buchholz += pb;
            s[m.b].buchholz += pa;
            const double shareA = m.winner == 0 ? 1 : m.winner == -1 ? 0.5 : 0;
            s[m.a].sonnebornBerger += shareA * pb;
            s[m.b].sonnebornBerger += (1 - shareA) * pa;
        }
    }
    return s;
}

void rank(std::vector<Standing>& s, TournamentFormat format) {
    std::stable_sort(s.begin(), s.end(), [format](const Standing& x, const Standing& y) {
        if (format == TournamentFormat::Knockout) {
            if (x.roundsReached != y.roundsReached)
                return x.roundsReached > y.roundsReached;
            if (x.won != y.won)
                return x.won > y.won;
            return x.entrant < y.entrant;
        }
        if (x.points != y.points)
            return x.points > y.points;
        // In a round robin everyone meets everyone, so Buchholz only mirrors the points:
        // Sonneborn-Berger decides there, Buchholz first in a Swiss event.
        if (format == TournamentFormat::Swiss && x.buchholz != y.buchholz)
            return x.buchholz > y.buchholz;
        if (x.sonnebornBerger != y.sonnebornBerger)
            return x.sonnebornBerger > y.sonnebornBerger;
        return x.entrant < y.entrant;
    });
}

bool cancelled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed);
}

void playRoundRobin(const TournamentRequest& request, MatchPlayer& player, TournamentResult& result,
                    const std::atomic<bool>* cancel) {
    const size_t n = request.entrants.size();
    for (unsigned r = 0; r < roundRobinRounds(n) && !cancelled(cancel); ++r) {
        std::vector<Match> matches = matchesOf(roundRobinRound(n, r), request.seed, r);
        player.play(matches, false);
        result.rounds.push_back({std::move(matches)});
    }
}

void playSwiss(const TournamentRequest& request, MatchPlayer& player, TournamentResult& result,
               const std::atomic<bool>* cancel) {
    const size_t n = request.entrants.size();
    const unsigned rounds = request.rounds ? request.rounds : defaultSwissRounds(n);
    std::vector<std::vector<bool>> met(n, std::vector<bool>(n, false));
    std::vector<bool> hadBye(n, false);
    for (unsigned r = 0; r < rounds && !cancelled(cancel); ++r) {
        std::vector<Standing> standings = tally(n, result.rounds);
        rank(standings, TournamentFormat::Swiss);
        std::vector<size_t> ranking;
        ranking.reserve(standings.size());
        for (const Standing& s : standings)
            ranking.push_back(s.entrant);
        const auto pairs = swissPairings(ranking, met, hadBye);
        if (!pairs)
            throw InputError("round " + std::to_string(r + 1) + " of the Swiss event cannot be paired without " +
                             "a repeat: ask for fewer rounds");
        std::vector<Match> matches = matchesOf(*pairs, request.seed, r);
        for (const Match& m : matches) {
            if (m.bye())
                hadBye[m.a] = true;
            else
                met[m.a][m.b] = met[m.b][m.a] = true;
        }
        player.play(matches, false);
        result.rounds.push_back({std::move(matches)});
    }
}

void playKnockout(const TournamentRequest& request, MatchPlayer& player, TournamentResult& result,
                  const std::atomic<bool>* cancel) {
    const size_t n = request.entrants.size();
    const std::vector<size_t> slots = bracketSeeds(std::bit_ceil(n));
    std::vector<size_t> alive;
    alive.reserve(slots.size());
    for (const size_t seed : slots)
        alive.push_back(seed < n ? seed : Bye);
    for (unsigned r = 0; alive.size() > 1 && !cancelled(cancel); ++r) {
        std::vector<std::pair<size_t, size_t>> pairs;
        for (size_t i = 0; i + 1 < alive.size(); i += 2) {
            // Byes stand only in the first round, each beside a top seed.
            if (alive[i] == Bye)
                pairs.emplace_back(alive[i + 1], Bye);
            else
                pairs.emplace_back(alive[i], alive[i + 1]);
        }
        std::vector<Match> matches = matchesOf(pairs, request.seed, r);
        player.play(matches, true);
        alive.clear();
        for (const Match& m : matches)
            alive.push_back(m.winnerEntrant());
        result.rounds.push_back({std::move(matches)});
    }
}

} // namespace

namespace {

// By format: the command line's word and the pages' name.
struct FormatNames {
    std::string_view word;
    std::string_view title;
};
constexpr FormatNames Formats[] = {
    {"round-robin", "総当たり"}, {"swiss", "スイス式"}, {"knockout", "勝ち抜き（シード順）"}};

} // namespace

std::optional<TournamentFormat> tournamentFormat(std::string_view name) {
    for (size_t f = 0; f < std::size(Formats); ++f)
        if (Formats[f].word == name)
            return static_cast<TournamentFormat>(f);
    return std::nullopt;
}

std::string_view formatName(TournamentFormat format) {
    return Formats[static_cast<size_t>(format)].word;
}

std::string_view formatTitle(TournamentFormat format) {
    return Formats[static_cast<size_t>(format)].title;
}

unsigned roundRobinRounds(size_t entrants) {
    return static_cast<unsigned>(entrants % 2 == 0 ? entrants - 1 : entrants);
}

std::vector<std::pair<size_t, size_t>> roundRobinRound(size_t entrants, unsigned round) {
    // Entrant 0 stays put and the others turn one place a round; with an odd number a
    // placeholder makes it even, and whoever meets it has the bye.
    const size_t m = entrants % 2 == 0 ? entrants : entrants + 1;
    auto at = [&](size_t position) -> size_t {
        if (position == 0)
            return 0;
        const size_t e = 1 + (position - 1 + round) % (m - 1);
        return e < entrants ? e : Bye;
    };
    std::vector<std::pair<size_t, size_t>> pairs;
    for (size_t i = 0; i < m / 2; ++i) {
        size_t a = at(i);
        size_t b = at(m - 1 - i);
        // The fixed entrant would otherwise always be listed first, on top in battle 0.
        if (i == 0 && round % 2 == 1)
            std::swap(a, b);
        if (a == Bye)
            std::swap(a, b);
        pairs.emplace_back(a, b);
    }
    return pairs;
}

unsigned defaultSwissRounds(size_t entrants) {
    return static_cast<unsigned>(std::bit_width(entrants - 1));
}

std::optional<std::vector<std::pair<size_t, size_t>>> swissPairings(const std::vector<size_t>& ranking,
                                                                    const std::vector<std::vector<bool>>& met,
                                                                    const std::vector<bool>& hadBye) {
    if (ranking.size() % 2 == 0) {
        SwissPairer pairer(ranking, met);
        if (!pairer.pair())
            return std::nullopt;
        return std::move(pairer.pairs());
    }
    // The bye goes to the lowest ranked entrant that has had none and leaves the rest
    // pairable.
    for (size_t i = ranking.size(); i-- > 0;) {
        if (hadBye[ranking[i]])
            continue;
        std::vector<size_t> rest = ranking;
        rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(i));
        SwissPairer pairer(rest, met);
        if (pairer.pair()) {
            pairer.pairs().emplace_back(ranking[i], Bye);
            return std::move(pairer.pairs());
        }
    }
    return std::nullopt;
}

std::vector<size_t> bracketSeeds(size_t size) {
    std::vector<size_t> order{0};
    while (order.size() < size) {
        const size_t next = 2 * order.size();
        std::vector<size_t> doubled;
        for (const size_t seed : order) {
            doubled.push_back(seed);
            doubled.push_back(next - 1 - seed);
        }
        order = std::move(doubled);
    }
    return order;
}

uint32_t matchSeed(uint32_t runSeed, unsigned round, size_t match) {
    return battleSeed(runSeed, (static_cast<uint64_t>(round) << 16) | match);
}

TournamentResult playTournament(const CardCatalogue& catalogue, const TournamentRequest& request,
                                const std::atomic<bool>* cancel) {
    checkRequest(catalogue, request);
    TournamentResult result;
    result.format = request.format;
    MatchPlayer player(catalogue, request);
    switch (request.format) {
    case TournamentFormat::RoundRobin:
        playRoundRobin(request, player, result, cancel);
        break;
    case TournamentFormat::Swiss:
        playSwiss(request, player, result, cancel);
        break;
    case TournamentFormat::Knockout:
        playKnockout(request, player, result, cancel);
        break;
    }
    result.interrupted = cancelled(cancel);
    result.standings = tally(request.entrants.size(), result.rounds);
    rank(result.standings, request.format);
    result.champion = result.standings.front().entrant;
    result.battles = player.played();
    return result;
}

} // namespace morvane
