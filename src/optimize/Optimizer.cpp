#include "optimize/Optimizer.h"
#include "cards/Team.h"

#include "common/Errors.h"
#include "common/Messages.h"
#include "common/Random.h"
#include "stats/Statistics.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <string>

namespace morvane {

namespace {

using Clock = std::chrono::steady_clock;

// The sequential probability ratio test on the discordant pairs of a race: the pairs
// of battles (same pairing, same seed) that exactly one of the two teams won. If the
// teams are equally strong, the candidate wins each such pair with probability 1/2,
// whatever the pairing; the alternative is that it wins betterShare of them.
struct PairTest {
    explicit PairTest(const SearchTuning& t)
        : plusStep(std::log(t.betterShare / 0.5)), minusStep(std::log((1.0 - t.betterShare) / 0.5)),
          acceptAt(std::log((1.0 - t.falseReject) / t.falseAccept)),
          rejectAt(std::log(t.falseReject / (1.0 - t.falseAccept))) {}
    // The other way round: equal (1/2) against worse (worseShare), so that accepting
    // says "not worse". A race takes the first of its candidates to pass, so each is
    // held to falseAccept / candidates: a stack must not go for a team that is worse
    // just because one of many such teams had a lucky start.
    static PairTest notWorse(const SearchTuning& t, size_t candidates) {
        PairTest test(t);
        const double falseAccept = t.falseAccept / static_cast<double>(std::max<size_t>(1, candidates));
        test.plusStep = std::log(0.5 / t.worseShare);
        test.minusStep = std::log(0.5 / (1.0 - t.worseShare));
        test.acceptAt = std::log((1.0 - t.falseReject) / falseAccept);
        test.rejectAt = std::log(t.falseReject / (1.0 - falseAccept));
        test.tieAccepted = true;
        return test;
    }
    double plusStep;
    double minusStep;
    double acceptAt;
    double rejectAt;
    // Whether a candidate still undecided when the race runs out of rounds passes: two
    // teams that play alike leave no evidence either way, and are a tie.
    bool tieAccepted = false;
};

struct Contender {
    enum State : uint8_t { Alive, Accepted, Rejected };
    State state = Alive;
    uint64_t plus = 0;  // pairs the candidate won and the incumbent lost
    uint64_t minus = 0; // the other way round
    uint64_t rounds = 0;
    double evidence = 0; // log likelihood ratio
};

struct RaceResult {
    std::optional<size_t> winner;
    bool stop = false; // out of battles, or cancelled
};

class Search {
public:
    Search(const CardCatalogue& catalogue, const OptimizeRequest& request, const OptimizeControl& control)
        : request_(request), control_(control), tuning_(request.tuning), test_(request.tuning),
          space_(catalogue, request.rules, request.start),
          pool_(catalogue, request.field, request.threads, request.maxTurns, control.cancel),
          rng_(battleSeed(request.seed, 0xFFFFFFFFu)), budget_(std::min(request.budget, FreshBase)),
          pairings_(request.field.pairings()), start_(Clock::now()), reportedAt_(start_) {
        for (size_t p = 0; p < pairings_; ++p)
            teamSides_.push_back(request.field.teamSideOf(p));
        // Kept back for the end: the climb under way when the budget runs out may have
        // passed the best local optimum so far, and a duel decides.
        if (request.method == SearchMethod::Kick || request.method == SearchMethod::Restart)
            reserve_ = std::min(budget_ / 20, 2 * tuning_.testBattles);
    }

    OptimizeResult run();

private:
    bool cancelled() const { return control_.cancel && control_.cancel->load(std::memory_order_relaxed); }
    uint64_t remaining() const { return budget_ - std::min(budget_, pool_.played()); }
    void visit(const SideSelection& team) {
        if (control_.visited)
            control_.visited(team);
    }
    void newSweep();
    std::vector<SideSelection> nextCandidates();
    // At a local optimum: keep it if it beats the best so far, and start again.
    void escape();
    RaceResult race(const std::vector<SideSelection>& candidates, const SideSelection& incumbent, Tally& incumbentTally,
                    const PairTest& test);
    RaceResult race(const std::vector<SideSelection>& candidates, const SideSelection& incumbent,
                    Tally& incumbentTally) {
        return race(candidates, incumbent, incumbentTally, test_);
    }
    // At a local optimum: one copy fewer of a stacked character, where that is not
    // worse. True when the incumbent changed.
    bool unstack();
    // A candidate that passed its race becomes the incumbent, and the climb goes on from it.
    void adopt(const SideSelection& team) {
        incumbent_ = team;
        incumbentTally_ = {};
        ++accepted_;
        newSweep();
    }
    void report(bool force);

    const OptimizeRequest& request_;
    const OptimizeControl& control_;
    const SearchTuning& tuning_;
    PairTest test_;
    TeamSpace space_;
    BattlePool pool_;
    Random rng_;
    uint64_t budget_;
    uint64_t reserve_ = 0;
    size_t pairings_;
    std::vector<int> teamSides_; // by pairing: where the team plays
    uint64_t nextRound_ = 0;

    SideSelection incumbent_;
    Tally incumbentTally_; // its battles since it became the incumbent, all on fresh rounds
    std::optional<SideSelection> best_;
    Tally bestTally_;
    std::vector<TeamMove> sweep_;
    size_t sweepNext_ = 0;
    // This climb's tries at breaking a stack: a character is not tried again at the
    // count it had then or more. One whose stack stayed has shown that the team needs
    // it; one whose stack came back after a copy went would go round and round.
    std::map<int32_t, int> unstackBar_;
    bool stop_ = false;

    uint64_t candidates_ = 0;
    uint64_t accepted_ = 0;
    uint64_t restarts_ = 0;
    Clock::time_point start_;
    Clock::time_point reportedAt_;
};

void Search::newSweep() {
    sweep_ = space_.moves(incumbent_);
    for (size_t i = sweep_.size(); i > 1; --i)
        std::swap(sweep_[i - 1], sweep_[rng_(static_cast<uint32_t>(i))]);
    sweepNext_ = 0;
}

std::vector<SideSelection> Search::nextCandidates() {
    std::vector<SideSelection> candidates;
    if (request_.method == SearchMethod::Random) {
        for (unsigned i = 0; i < tuning_.raceSize; ++i) {
            std::optional<SideSelection> team = space_.randomTeam(rng_);
            if (team && *team != incumbent_)
                candidates.push_back(*team);
        }
    } else {
        if (sweep_.empty())
            return candidates; // no legal neighbour at all: nothing to search
        if (sweepNext_ == sweep_.size()) {
            if (!unstack() && !stop_)
                escape();
            if (stop_ || sweep_.empty())
                return candidates;
        }
        while (candidates.size() < tuning_.raceSize && sweepNext_ < sweep_.size())
            candidates.push_back(applyMove(incumbent_, sweep_[sweepNext_++]));
    }
    for (const SideSelection& team : candidates)
        visit(team);
    return candidates;
}

void Search::escape() {
    if (request_.method == SearchMethod::Climb) {
        newSweep();
        return;
    }
    if (!best_) {
        best_ = incumbent_;
        bestTally_ = incumbentTally_;
    } else if (incumbent_ != *best_) {
        const RaceResult duel = race({incumbent_}, *best_, bestTally_);
        if (duel.winner) {
            best_ = incumbent_;
            bestTally_ = incumbentTally_;
        }
        if (duel.stop) {
            stop_ = true;
            return;
        }
    }
    ++restarts_;
    SideSelection next = *best_;
    if (request_.method == SearchMethod::Kick) {
        for (unsigned i = 0; i < tuning_.kickMoves; ++i) {
            const std::vector<TeamMove> moves = space_.moves(next);
            if (moves.empty())
                break;
            next = applyMove(next, moves[rng_(static_cast<uint32_t>(moves.size()))]);
        }
    } else if (std::optional<SideSelection> team = space_.randomTeam(rng_)) {
        next = *team;
    }
    incumbent_ = next;
    incumbentTally_ = {};
    unstackBar_.clear();
    visit(incumbent_);
    newSweep();
}

bool Search::unstack() {
    if (!tuning_.preferVariety || stop_)
        return false;
    std::map<int32_t, int> copies;
    for (const int32_t id : incumbent_.characters)
        ++copies[id];
    for (const auto& [id, count] : copies) {
        const auto bar = unstackBar_.find(id);
        if (count < 3 || (bar != unstackBar_.end() && count >= bar->second))
            continue;
        unstackBar_[id] = count;
        std::vector<TeamMove> moves;
        for (const TeamMove& m : space_.moves(incumbent_)) {
            // Another character in a slot of the stacked one, without making a new stack.
            const auto found = copies.find(m.id);
            if (m.kind == TeamMove::Character && incumbent_.characters[static_cast<size_t>(m.slot)] == id &&
                (found == copies.end() || found->second < 2))
                moves.push_back(m);
        }
        for (size_t i = moves.size(); i > 1; --i)
            std::swap(moves[i - 1], moves[rng_(static_cast<uint32_t>(i))]);
        moves.resize(std::min<size_t>(moves.size(), tuning_.varietyTries));
        if (moves.empty())
            continue;
        std::vector<SideSelection> candidates;
        for (const TeamMove& m : moves) {
            candidates.push_back(applyMove(incumbent_, m));
            visit(candidates.back());
        }
        const RaceResult r =
            race(candidates, incumbent_, incumbentTally_, PairTest::notWorse(tuning_, candidates.size()));
        if (r.stop) {
            stop_ = true;
            return false;
        }
        if (r.winner) {
            adopt(candidates[*r.winner]);
            return true;
        }
    }
    return false;
}

RaceResult Search::race(const std::vector<SideSelection>& candidates, const SideSelection& incumbent,
                        Tally& incumbentTally, const PairTest& test) {
    RaceResult result;
    const uint64_t maxRounds = std::max<uint64_t>(1, (tuning_.testBattles + pairings_ - 1) / pairings_);
    std::vector<Contender> contenders(candidates.size());
    candidates_ += candidates.size();
    std::vector<FieldBattle> battles;
    std::vector<BattleOutcome> outcomes;
    uint64_t rounds = 0;
    bool decided = false;
    while (rounds < maxRounds && !decided) {
        std::vector<size_t> alive;
        for (size_t i = 0; i < contenders.size(); ++i)
            if (contenders[i].state == Contender::Alive)
                alive.push_back(i);
        if (alive.empty())
            break;
        // Few contenders left: play several rounds between looks, so that a stage
        // still gives every thread enough to do.
        const uint64_t perRound = (alive.size() + 1) * pairings_;
        uint64_t stage = std::clamp<uint64_t>((tuning_.stageBattles + perRound - 1) / perRound, 1, maxRounds - rounds);
        stage = std::min(stage, remaining() / perRound);
        if (stage == 0 || cancelled()) {
            result.stop = true;
            break;
        }
        // Listed by field deck and side first: the teams of a race differ in a card or
        // two, so battles in a row against the same deck find most of the engine's
        // plans of the front still good and its branches as they were. The seeds, and
        // so the outcomes, do not depend on the order.
        battles.clear();
        std::vector<const SideSelection*> teams = {&incumbent};
        for (const size_t i : alive)
            teams.push_back(&candidates[i]);
        for (size_t p = 0; p < pairings_; ++p)
            for (const SideSelection* team : teams)
                for (uint64_t r = rounds; r < rounds + stage; ++r)
                    battles.push_back(
                        {team, static_cast<uint32_t>(p), battleSeed(request_.seed, (nextRound_ + r) * pairings_ + p)});
        if (!pool_.play(battles, outcomes)) {
            result.stop = true;
            break;
        }
        // Team t's battle of round r (from the stage's first) against pairing p.
        const auto outcome = [&](size_t t, uint64_t r, size_t p) -> const BattleOutcome& {
            return outcomes[(p * teams.size() + t) * stage + r];
        };

        for (uint64_t r = 0; r < stage; ++r)
            for (size_t p = 0; p < pairings_; ++p)
                incumbentTally.add(outcome(0, r, p), teamSides_[p]);
        for (size_t a = 0; a < alive.size(); ++a) {
            Contender& c = contenders[alive[a]];
            for (uint64_t r = 0; r < stage && c.state == Contender::Alive; ++r) {
                for (size_t p = 0; p < pairings_; ++p) {
                    const bool won = outcome(a + 1, r, p).wonBy(teamSides_[p]);
                    const bool theirs = outcome(0, r, p).wonBy(teamSides_[p]);
                    c.plus += won && !theirs ? 1 : 0;
                    c.minus += theirs && !won ? 1 : 0;
                }
                ++c.rounds;
                c.evidence = double(c.plus) * test.plusStep + double(c.minus) * test.minusStep;
                if (c.evidence >= test.acceptAt) {
                    c.state = Contender::Accepted;
                    decided = true;
                } else if (c.evidence <= test.rejectAt) {
                    c.state = Contender::Rejected;
                }
            }
        }
        rounds += stage;
        report(false);
    }
    nextRound_ += rounds;
    if (test.tieAccepted && !decided && !result.stop)
        for (Contender& c : contenders)
            if (c.state == Contender::Alive)
                c.state = Contender::Accepted;

    // Of several accepted at once, the one that gained most per round.
    double gain = 0;
    for (size_t i = 0; i < contenders.size(); ++i) {
        const Contender& c = contenders[i];
        if (c.state != Contender::Accepted)
            continue;
        const double g = (double(c.plus) - double(c.minus)) / double(c.rounds);
        if (!result.winner || g > gain) {
            result.winner = i;
            gain = g;
        }
    }
    return result;
}

void Search::report(bool force) {
    if (!control_.progress)
        return;
    const Clock::time_point now = Clock::now();
    if (!force && now - reportedAt_ < control_.progressInterval)
        return;
    reportedAt_ = now;
    OptimizeProgress p;
    p.battles = pool_.played();
    p.budget = budget_;
    p.best = best_ ? *best_ : incumbent_;
    p.bestTally = best_ ? bestTally_ : incumbentTally_;
    p.candidates = candidates_;
    p.accepted = accepted_;
    p.restarts = restarts_;
    p.seconds = std::chrono::duration<double>(now - start_).count();
    control_.progress(p);
}

OptimizeResult Search::run() {
    incumbent_ = request_.start;
    visit(incumbent_);
    newSweep();
    while (!stop_ && !cancelled() && remaining() > (best_ ? reserve_ : 0)) {
        const std::vector<SideSelection> candidates = nextCandidates();
        if (candidates.empty())
            break;
        const RaceResult r = race(candidates, incumbent_, incumbentTally_);
        if (r.winner)
            adopt(candidates[*r.winner]);
        stop_ = stop_ || r.stop;
    }
    if (best_ && incumbent_ != *best_ && !cancelled()) {
        const RaceResult duel = race({incumbent_}, *best_, bestTally_);
        if (duel.winner) {
            best_ = incumbent_;
            bestTally_ = incumbentTally_;
        }
    }
    report(true);

    OptimizeResult result;
    result.best = best_ ? *best_ : incumbent_;
    result.bestTally = best_ ? bestTally_ : incumbentTally_;
    result.battles = pool_.played();
    result.turns = pool_.turns();
    result.candidates = candidates_;
    result.accepted = accepted_;
    result.restarts = restarts_;
    result.threads = pool_.threads();
    result.seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    result.cancelled = cancelled();
    return result;
}

} // namespace

OptimizeResult optimizeTeam(const CardCatalogue& catalogue, const OptimizeRequest& request,
                            const OptimizeControl& control) {
    if (request.field.decks.empty())
        throw InputError(std::string(msg::NoFieldDeck));
    TeamSpace(catalogue, request.rules, request.start).check(request.start);
    for (size_t d = 0; d < request.field.decks.size(); ++d) {
        try {
            checkPlayable(catalogue, request.field.decks[d]);
        } catch (MorvaneError& e) {
            e.setWhere(std::string("field deck ").append(std::to_string(d + 1)));
            throw;
        }
    }
    Search search(catalogue, request, control);
    return search.run();
}

} // namespace morvane
