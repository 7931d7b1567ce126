#include "ladder/LadderWork.h"

#include "batch/BatchClaim.h"
#include "battle/Battle.h"
#include "cards/CardCatalogue.h"
#include "cards/Team.h"
#include "common/AtomicFile.h"
#include "common/Errors.h"
#include "common/Files.h"
#include "common/Random.h"
#include "report/ReportSink.h"
#include "stats/BattlePool.h"
#include "stats/ResultText.h"
#include "stats/Statistics.h"
#include "tournament/EventWork.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace morvane {

namespace {

constexpr std::string_view MatchesWord = "matches";
constexpr std::string_view EventWord = "event";
constexpr std::string_view ErrorWord = "error";
// Battles handed to the pool at a time, so that a unit of many long matches never
// holds them all in memory at once.
constexpr size_t SliceBattles = 65536;

// The lines of a text that must be read whole: every line ends with "\n", and a text
// that stops inside a line was cut short.
class StrictLines {
public:
    explicit StrictLines(std::string_view text) : text_(text) {}

    std::string_view next() {
        const size_t end = text_.find('\n', at_);
        if (end == std::string_view::npos)
            throw InputError("cut short", "line " + std::to_string(number_ + 1));
        const std::string_view line = text_.substr(at_, end - at_);
        at_ = end + 1;
        ++number_;
        return line;
    }
    bool atEnd() const { return at_ == text_.size(); }
    // Where the last line read came from, for messages.
    std::string where() const { return "line " + std::to_string(number_); }

private:
    std::string_view text_;
    size_t at_ = 0;
    size_t number_ = 0;
};

// The words of a line split at single blanks; anything else (a tab, two blanks, a
// carriage return) makes some word fail to read.
std::vector<std::string_view> wordsOf(std::string_view line) {
    std::vector<std::string_view> words;
    for (size_t at = 0;;) {
        const size_t blank = line.find(' ', at);
        words.push_back(line.substr(at, blank == std::string_view::npos ? std::string_view::npos : blank - at));
        if (blank == std::string_view::npos)
            return words;
        at = blank + 1;
    }
}

// A number in decimal digits as formatted: no sign, no leading zero, at most max.
uint64_t numberOf(std::string_view word, uint64_t max, const StrictLines& lines) {
    if (word.empty() || word.size() > 10 || (word.size() > 1 && word.front() == '0'))
        throw InputError("'" + std::string(word) + "' is no number from 0 to " + std::to_string(max), lines.where());
    uint64_t value = 0;
    for (const char c : word) {
        if (c < '0' || c > '9')
            throw InputError("'" + std::string(word) + "' is no number from 0 to " + std::to_string(max),
                             lines.where());
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > max)
        throw InputError("'" + std::string(word) + "' is no number from 0 to " + std::to_string(max), lines.where());
    return value;
}

// "WORD N": the head line of a list, with its length.
size_t headOf(StrictLines& lines, std::string_view word, size_t max) {
    const std::vector<std::string_view> words = wordsOf(lines.next());
    if (words.size() != 2 || words[0] != word)
        throw InputError("expected '" + std::string(word) + " N'", lines.where());
    return static_cast<size_t>(numberOf(words[1], max, lines));
}

void endOf(StrictLines& lines) {
    if (lines.next() != "end" || !lines.atEnd())
        throw InputError("expected 'end' as the last line", lines.where());
}

void checkTextSize(std::string_view text) {
    if (text.size() > MaxWorkFileBytes)
        throw InputError("longer than " + std::to_string(MaxWorkFileBytes) + " bytes");
}

// A deck line as formatDeckLine writes it, and nothing else: the one spelling of a team.
SideSelection deckOf(std::string_view word, const StrictLines& lines) {
    const SideSelection team = deckLineIds(word);
    if (formatDeckLine(team, 0) != word)
        throw InputError("'" + std::string(word) + "' is no deck line", lines.where());
    return team;
}

void checkOrder(const MatchOrder& match, size_t index) {
    if (match.battles < 1 || match.battles > MaxBattlesPerMatch)
        throw InputError("a match is 1 to " + std::to_string(MaxBattlesPerMatch) + " battles",
                         "match " + std::to_string(index + 1));
}

// Keeps a claim fresh from a thread of its own while a unit plays, so that no runner
// takes it for abandoned however long the unit takes.
class ClaimKeeper {
public:
    ClaimKeeper(BatchClaim& claim, std::chrono::seconds staleAfter)
        : thread_([this, &claim,
                   every = std::max<std::chrono::milliseconds>(
                       std::chrono::milliseconds(100),
                       std::chrono::duration_cast<std::chrono::milliseconds>(staleAfter) / 4)] {
              std::unique_lock lock(mutex_);
              while (!wake_.wait_for(lock, every, [this] { return done_; }))
                  claim.refresh();
          }) {}
    ~ClaimKeeper() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    ClaimKeeper(const ClaimKeeper&) = delete;
    ClaimKeeper& operator=(const ClaimKeeper&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

std::string folderOfUnit(const fs::path& root, std::string_view id) {
    return (ladderWorkFolder(root) / std::string(id)).string() + "/";
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// Removes the temporary files that killed writers of a unit's files left; a live
// writer's are locked and stay.
void sweepWorkTemporaries(const std::string& folder) {
    for (const std::string_view own : {WorkUnitFile, WorkAnswerFile, BatchClaim::FileName})
        removeAbandonedTemporaries(std::string(folder).append(own));
}

// A unit waiting: its folder has unit.dat and no answer.
struct Waiting {
    std::string id;
    std::string folder;
    long long placedNs = 0; // unit.dat's time
    bool claimed = false;   // a claim file is there
};

// The units of the work folder that wait, oldest first; folders retired half way
// (".retired-...") are removed on the way.
std::vector<Waiting> waitingUnits(const fs::path& root) {
    std::vector<Waiting> units;
    std::error_code ec;
    const fs::path work = ladderWorkFolder(root);
    for (fs::directory_iterator it(work, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(".retired-", 0) == 0) {
            std::error_code ignored;
            fs::remove_all(it->path(), ignored);
            continue;
        }
        if (!validWorkId(name))
            continue;
        Waiting unit{name, folderOfUnit(root, name)};
        struct stat info {};
        if (::lstat((unit.folder + std::string(WorkUnitFile)).c_str(), &info) != 0)
            continue; // still being made, or not a unit at all
        const bool answered = exists(unit.folder + std::string(WorkAnswerFile));
        unit.claimed = exists(unit.folder + std::string(BatchClaim::FileName));
        if (answered) {
            if (unit.claimed)
                units.push_back(std::move(unit)); // its claim may be left: cleared by the caller
            continue;
        }
        unit.placedNs = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
        units.push_back(std::move(unit));
    }
    std::sort(units.begin(), units.end(), [](const Waiting& a, const Waiting& b) {
        return a.placedNs != b.placedNs ? a.placedNs < b.placedNs : a.id < b.id;
    });
    return units;
}

uint64_t battlesOf(const std::vector<MatchOrder>& matches) {
    uint64_t battles = 0;
    for (const MatchOrder& m : matches)
        battles += m.battles;
    return battles;
}

} // namespace

fs::path ladderWorkFolder(const fs::path& root) {
    return root / "ladder" / "work";
}

bool validWorkId(std::string_view id) {
    if (id.empty() || id.size() > 32)
        return false;
    return std::all_of(id.begin(), id.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '-'; });
}

std::string formatWorkUnit(const WorkUnit& unit) {
    return std::string(unit.kind == WorkKind::Matches ? MatchesWord : EventWord).append("\n").append(unit.body);
}

WorkUnit parseWorkUnit(std::string id, std::string_view text) {
    checkTextSize(text);
    StrictLines lines(text);
    const std::string_view kind = lines.next();
    WorkUnit unit;
    unit.id = std::move(id);
    if (kind == MatchesWord)
        unit.kind = WorkKind::Matches;
    else if (kind == EventWord)
        unit.kind = WorkKind::Event;
    else
        throw InputError("unknown kind of work '" + std::string(kind) + "'", "line 1");
    unit.body = std::string(text.substr(kind.size() + 1));
    return unit;
}

std::string formatMatchOrders(const std::vector<MatchOrder>& matches) {
    if (matches.size() > MaxMatchesPerUnit)
        throw InputError("a unit holds at most " + std::to_string(MaxMatchesPerUnit) + " matches");
    std::string text = "orders " + std::to_string(matches.size()) + "\n";
    for (size_t i = 0; i < matches.size(); ++i) {
        const MatchOrder& m = matches[i];
        checkOrder(m, i);
        text.append(formatDeckLine(m.a, 0))
            .append(" ")
            .append(formatDeckLine(m.b, 0))
            .append(" ")
            .append(std::to_string(m.battles))
            .append(" ")
            .append(std::to_string(m.seed))
            .append("\n");
    }
    return text.append("end\n");
}

std::vector<MatchOrder> parseMatchOrders(std::string_view text) {
    checkTextSize(text);
    StrictLines lines(text);
    const size_t count = headOf(lines, "orders", MaxMatchesPerUnit);
    std::vector<MatchOrder> matches;
    matches.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const std::vector<std::string_view> words = wordsOf(lines.next());
        if (words.size() != 4)
            throw InputError("expected 'DECKLINE DECKLINE BATTLES SEED'", lines.where());
        MatchOrder m;
        m.a = deckOf(words[0], lines);
        m.b = deckOf(words[1], lines);
        m.battles = static_cast<unsigned>(numberOf(words[2], MaxBattlesPerMatch, lines));
        m.seed = static_cast<uint32_t>(numberOf(words[3], UINT32_MAX, lines));
        if (m.battles == 0)
            throw InputError("a match is 1 to " + std::to_string(MaxBattlesPerMatch) + " battles", lines.where());
        matches.push_back(m);
    }
    endOf(lines);
    return matches;
}

std::string formatMatchCounts(const std::vector<MatchCount>& counts) {
    std::string text = "counts " + std::to_string(counts.size()) + "\n";
    for (const MatchCount& c : counts)
        text.append(std::to_string(c.winsA))
            .append(" ")
            .append(std::to_string(c.winsB))
            .append(" ")
            .append(std::to_string(c.undecided))
            .append("\n");
    return text.append("end\n");
}

std::vector<MatchCount> parseMatchCounts(std::string_view text) {
    checkTextSize(text);
    StrictLines lines(text);
    const size_t count = headOf(lines, "counts", MaxMatchesPerUnit);
    std::vector<MatchCount> counts;
    counts.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const std::vector<std::string_view> words = wordsOf(lines.next());
        if (words.size() != 3)
            throw InputError("expected 'WINS_A WINS_B UNDECIDED'", lines.where());
        MatchCount c;
        c.winsA = static_cast<unsigned>(numberOf(words[0], MaxBattlesPerMatch, lines));
        c.winsB = static_cast<unsigned>(numberOf(words[1], MaxBattlesPerMatch, lines));
        c.undecided = static_cast<unsigned>(numberOf(words[2], MaxBattlesPerMatch, lines));
        if (c.winsA + c.winsB + c.undecided > MaxBattlesPerMatch)
            throw InputError("a match is 1 to " + std::to_string(MaxBattlesPerMatch) + " battles", lines.where());
        counts.push_back(c);
    }
    endOf(lines);
    return counts;
}

std::vector<MatchCount> playMatches(const CardCatalogue& catalogue, const std::vector<MatchOrder>& matches,
                                    unsigned threads, long long maxTurns, const std::atomic<bool>* cancel) {
    Field field;
    field.side = PlaySide::Both;
    field.decks.reserve(matches.size());
    for (size_t i = 0; i < matches.size(); ++i) {
        checkOrder(matches[i], i);
        for (const SideSelection* deck : {&matches[i].a, &matches[i].b}) {
            try {
                checkPlayable(catalogue, *deck);
            } catch (MorvaneError& e) {
                e.setWhere("match " + std::to_string(i + 1) + (deck == &matches[i].a ? " deck a" : " deck b"));
                throw;
            }
        }
        field.decks.push_back(matches[i].b);
    }
    std::vector<MatchCount> counts(matches.size());
    const uint64_t total = battlesOf(matches);
    if (total == 0)
        return counts;
    threads = threads == 0 ? defaultThreadCount() : threads;
    threads = static_cast<unsigned>(std::max<uint64_t>(1, std::min<uint64_t>(threads, total)));
    BattlePool pool(catalogue, field, threads, maxTurns, cancel);

    // Pairing 2i + k % 2 is match i's b below a for even k and above it for odd k.
    struct Ref {
        uint32_t match;
        uint32_t k;
    };
    std::vector<FieldBattle> battles;
    std::vector<Ref> refs;
    std::vector<BattleOutcome> outcomes;
    const BattlePool::Describe describe = [&](const FieldBattle& b, size_t index) {
        return "battle " + std::to_string(refs[index].k) + " of match " + std::to_string(refs[index].match + 1) +
               " (seed " + std::to_string(b.seed) + ")";
    };
    for (size_t first = 0; first < matches.size();) {
        battles.clear();
        refs.clear();
        size_t last = first;
        for (; last < matches.size() && (last == first || battles.size() + matches[last].battles <= SliceBattles);
             ++last) {
            for (unsigned k = 0; k < matches[last].battles; ++k) {
                battles.push_back(
                    {&matches[last].a, static_cast<uint32_t>(2 * last + k % 2), battleSeed(matches[last].seed, k)});
                refs.push_back({static_cast<uint32_t>(last), k});
            }
        }
        if (!pool.play(battles, outcomes, describe))
            return {};
        for (size_t i = 0; i < battles.size(); ++i) {
            MatchCount& c = counts[refs[i].match];
            const int aSide = static_cast<int>(refs[i].k % 2);
            if (outcomes[i].wonBy(aSide))
                ++c.winsA;
            else if (outcomes[i].lostBy(aSide))
                ++c.winsB;
            else
                ++c.undecided;
        }
        first = last;
    }
    return counts;
}

std::optional<std::string> answerWork(const CardCatalogue& catalogue, const WorkUnit& unit, unsigned threads,
                                      const std::atomic<bool>* cancel) {
    if (unit.kind == WorkKind::Event)
        return answerEventWork(catalogue, unit.body, threads, cancel);
    const std::vector<MatchOrder> matches = parseMatchOrders(unit.body);
    const std::vector<MatchCount> counts = playMatches(catalogue, matches, threads, DefaultMaxTurns, cancel);
    if (counts.size() != matches.size())
        return std::nullopt;
    return formatMatchCounts(counts);
}

std::string errorAnswer(std::string_view why) {
    std::string line(why);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < ' ' || c == '\x7f')
            c = ' ';
    return std::string(ErrorWord).append("\n").append(line).append("\n");
}

std::optional<std::string> workError(std::string_view answer) {
    const std::string head = std::string(ErrorWord) + "\n";
    if (answer.substr(0, head.size()) != head)
        return std::nullopt;
    std::string_view why = answer.substr(head.size());
    if (!why.empty() && why.back() == '\n')
        why.remove_suffix(1);
    return std::string(why);
}

std::string matchBattleReport(const CardCatalogue& catalogue, const MatchOrder& match, unsigned k, const Clock& clock,
                              long long maxTurns) {
    if (k >= match.battles)
        throw InputError("a match of " + std::to_string(match.battles) + " battles has no battle " + std::to_string(k));
    Teams teams;
    teams.side[k % 2] = match.a;
    teams.side[1 - k % 2] = match.b;
    checkPlayable(catalogue, teams);
    Random random(battleSeed(match.seed, k));
    MemoryReportSink sink;
    Battle battle(catalogue, random, &sink);
    battle.report().setClock(clock);
    battle.play(teams, maxTurns);
    return sink.text();
}

std::string matchBattleCommand(const MatchOrder& match, unsigned k, long long maxTurns) {
    ReplayOptions replay;
    replay.top = formatDeckLine(k % 2 == 0 ? match.a : match.b, 0);
    replay.bottom = formatDeckLine(k % 2 == 0 ? match.b : match.a, 0);
    replay.maxTurns = maxTurns;
    return battleReplayCommand(replay, battleSeed(match.seed, k));
}

void submitWork(const fs::path& root, const WorkUnit& unit) {
    if (!validWorkId(unit.id))
        throw InputError("a unit's id is 1 to 32 characters of 0-9, a-z and '-'", unit.id);
    const fs::path work = ladderWorkFolder(root);
    std::error_code ec;
    // A work folder made here is synced into its parents too, so that a unit placed
    // in it survives a power cut.
    if (fs::create_directories(work, ec) && !(syncFolder(work.parent_path()) && syncFolder(root)))
        throw FolderError(work.string());
    if (!fs::is_directory(work, ec))
        throw FolderError(work.string());
    const std::string folder = folderOfUnit(root, unit.id);
    bool made = false;
    if (::mkdir(folder.c_str(), 0755) == 0) {
        made = true;
        if (!syncFolder(work)) {
            ::rmdir(folder.c_str());
            throw FolderError(folder);
        }
    } else if (errno != EEXIST) {
        throw FolderError(folder);
    }
    try {
        // Placed, never renamed over: a unit once there is never replaced.
        if (!placeNewFile(folder + std::string(WorkUnitFile), formatWorkUnit(unit), 0644, Durability::Folder))
            throw IoError("a unit of this id is there already", folder + std::string(WorkUnitFile),
                          FileReason::ofErrno(EEXIST));
    } catch (...) {
        if (made)
            ::rmdir(folder.c_str());
        throw;
    }
}

std::optional<PlayedWork> playNextWorkUnit(const fs::path& root, const CardCatalogue& catalogue, const Clock& clock,
                                           ClaimSightings& sightings, unsigned threads, std::chrono::seconds staleAfter,
                                           const std::atomic<bool>* cancel) {
    for (const Waiting& waiting : waitingUnits(root)) {
        if (cancel && cancel->load())
            return std::nullopt;
        const std::string answerPath = waiting.folder + std::string(WorkAnswerFile);
        if (exists(answerPath)) {
            // Only a runner that stopped between its answer and giving up its claim
            // leaves one in an answered unit.
            BatchClaim::clearAbandoned(waiting.folder, clock, staleAfter, sightings);
            continue;
        }
        if (!waiting.claimed)
            sweepWorkTemporaries(waiting.folder);
        ClaimAttempt attempt;
        try {
            attempt = BatchClaim::acquire(waiting.folder, clock, staleAfter, sightings);
        } catch (const IoError&) {
            if (!fs::exists(waiting.folder))
                continue; // retired under the runner
            throw;
        }
        if (!attempt.claim)
            continue; // held by a live runner, or won by another just now
        BatchClaim& claim = *attempt.claim;
        // Another runner may have answered it between the look and the claim.
        if (exists(answerPath))
            continue;
        sweepWorkTemporaries(waiting.folder);

        PlayedWork played;
        played.id = waiting.id;
        std::optional<std::string> answer;
        try {
            std::string text;
            try {
                text = readFileBytes(waiting.folder + std::string(WorkUnitFile), MaxWorkFileBytes);
            } catch (const FileNotFoundError&) {
                continue; // retired under the runner
            } catch (const IoError& e) {
                // A unit.dat too large or no regular file is the unit's own fault; a
                // disk that refuses is not, and the unit waits for a later try.
                if (e.reason().kind == FileReason::System)
                    throw;
                throw InputError(e);
            }
            const WorkUnit unit = parseWorkUnit(waiting.id, text);
            played.kind = unit.kind;
            if (unit.kind == WorkKind::Matches)
                played.battles = battlesOf(parseMatchOrders(unit.body));
            const ClaimKeeper keeper(claim, staleAfter);
            answer = answerWork(catalogue, unit, threads, cancel);
            if (!answer)
                return std::nullopt; // cancelled: the claim goes and the unit waits
        } catch (const IoError&) {
            throw;
        } catch (const MorvaneError& e) {
            // Played again it would fail the same way: answered, so it is not tried
            // for ever.
            played.error = utf8Text(e);
            answer = errorAnswer(*played.error);
        }
        // Its seed decides the answer, so a runner that lost its claim meanwhile
        // places the same bytes; placeNewFile never replaces the answer in place.
        try {
            played.placed = placeNewFile(answerPath, *answer, 0644, Durability::Folder);
        } catch (const IoError&) {
            if (!fs::exists(waiting.folder))
                continue; // retired under the runner
            throw;
        }
        claim.release();
        return played;
    }
    return std::nullopt;
}

bool playOneWorkUnit(const fs::path& root, const CardCatalogue& catalogue, const Clock& clock,
                     ClaimSightings& sightings, unsigned threads, std::chrono::seconds staleAfter,
                     const std::atomic<bool>* cancel) {
    return playNextWorkUnit(root, catalogue, clock, sightings, threads, staleAfter, cancel).has_value();
}

std::vector<AnsweredWork> answeredWork(const fs::path& root) {
    std::vector<AnsweredWork> answered;
    std::error_code ec;
    for (fs::directory_iterator it(ladderWorkFolder(root), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string id = it->path().filename().string();
        if (!validWorkId(id))
            continue;
        const std::string folder = folderOfUnit(root, id);
        AnsweredWork work;
        try {
            work.answer = readFileBytes(folder + std::string(WorkAnswerFile), MaxWorkFileBytes);
        } catch (const MorvaneError&) {
            continue; // not answered yet
        }
        std::string text;
        try {
            text = readFileBytes(folder + std::string(WorkUnitFile), MaxWorkFileBytes);
            work.unit = parseWorkUnit(id, text);
        } catch (const MorvaneError&) {
            // Answered with an error all the same: the unit as it stands.
            work.unit = WorkUnit{id, WorkKind::Matches, text};
        }
        answered.push_back(std::move(work));
    }
    std::sort(answered.begin(), answered.end(),
              [](const AnsweredWork& a, const AnsweredWork& b) { return a.unit.id < b.unit.id; });
    return answered;
}

void retireWork(const fs::path& root, const std::string& id) {
    if (!validWorkId(id))
        return;
    // Moved aside in one step first, so that no runner ever sees half a unit; what a
    // crash leaves aside is removed by the next runner's look.
    const fs::path folder = ladderWorkFolder(root) / id;
    const fs::path aside = ladderWorkFolder(root) / (".retired-" + id + "-" + std::to_string(std::random_device()()));
    std::error_code ec;
    fs::rename(folder, aside, ec);
    fs::remove_all(ec ? folder : aside, ec);
}

} // namespace morvane
