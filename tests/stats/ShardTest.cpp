// A run split into shards, each played by its own process as on other machines, and
// merged: it must give the whole run's result to the byte, and merge must refuse
// anything that is not all the shards of one run. Also the progress line, which
// shows on a terminal only.

#include "cards/Deck.h"
#include "common/Codec.h"
#include "common/Files.h"
#include "common/TextLines.h"
#include "stats/Statistics.h"
#include "support/Process.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pty.h>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>

namespace morvane {
namespace {

const std::string Program = std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli";

test::ProgramRun cli(const std::vector<std::string>& args) {
    return test::runProgram(Program, args);
}

// The figures that say how a run was played rather than what it found.
std::string withoutTiming(const std::string& json) {
    static const std::regex timing(R"re("(threads|seconds|battles_per_second|turns_per_second)": [^,}]*)re");
    return std::regex_replace(json, timing, "");
}

void write(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary);
    out << bytes;
}

class Shards : public ::testing::Test {
protected:
    // Plays shards 0 to n-1 of a command and returns their files.
    std::vector<std::string> shards(const std::vector<std::string>& command, int n, const std::string& name) {
        std::vector<std::string> files;
        for (int k = 0; k < n; ++k) {
            std::vector<std::string> args = command;
            args.insert(args.end(), {"--shard", std::to_string(k) + "/" + std::to_string(n)});
            const test::ProgramRun run = cli(args);
            EXPECT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(run.err, "") << "no progress line when stderr is no terminal";
            const std::string file = (folder / (name + "-" + std::to_string(k) + ".json")).string();
            write(file, run.out);
            files.push_back(file);
        }
        return files;
    }
    // merge --json of files, as its stdout, after checking it succeeded.
    std::string merged(std::vector<std::string> files) {
        files.insert(files.begin(), "merge");
        files.emplace_back("--json");
        const test::ProgramRun run = cli(files);
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    }
    // merge of files, which must be refused with one line naming the problem.
    void refused(std::vector<std::string> files, const std::string& says) {
        files.insert(files.begin(), "merge");
        const test::ProgramRun run = cli(files);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
    }

    test::TempFolder folder;
};

TEST_F(Shards, MergedStatsAndLeaguesEqualTheWholeRunForOneTwoThreeAndSevenShards) {
    // 200 battles do not split evenly into 3 or 7; a turn cap of 25 makes undecided
    // battles; the league has three decks, so six ordered pairs.
    const std::vector<std::string> stats = {"stats", "--battles", "200", "--seed", "4242", "--max-turns", "25"};
    std::string decks;
    for (int side = 0; side < 2; ++side)
        for (const TextLine& line : readTextLines(deckFilePath(MORVANE_PROGRAM_DIR, side)))
            decks += line.text + "\r\n";
    write(folder / "decks.dat", decks.substr(0, 3 * 42));
    const std::vector<std::string> league = {"league", "--decks", (folder / "decks.dat").string(), "--battles", "30",
                                             "--seed", "77"};

    for (const auto& command : {stats, league}) {
        std::vector<std::string> whole = command;
        whole.insert(whole.end(), {"--json", "--threads", "2"});
        const test::ProgramRun run = cli(whole);
        ASSERT_EQ(run.status, 0) << run.err;
        ASSERT_NE(run.out.find("\"undecided\": "), std::string::npos);
        for (int n : {1, 2, 3, 7}) {
            const std::string result = merged(shards(command, n, command[0] + std::to_string(n)));
            EXPECT_EQ(withoutTiming(result), withoutTiming(run.out)) << command[0] << " in " << n << " shards";
        }
    }
    // Shard K of N plays battle K, K + N, ...: shard 3 of 7 of a run of 7 battles is
    // battle 3 alone, as the battle command replays it.
    const test::ProgramRun shard = cli({"stats", "--battles", "7", "--seed", "31", "--shard", "3/7"});
    const test::ProgramRun battle = cli({"battle", "--seed", std::to_string(battleSeed(31, 3)), "-o",
                                         (folder / "battle.html").string(), "--time", "x"});
    ASSERT_EQ(battle.status, 0);
    const std::string turns = battle.out.substr(battle.out.find("turns=") + 6);
    EXPECT_NE(shard.out.find("\"battles\":1,"), std::string::npos) << shard.out;
    EXPECT_NE(shard.out.find("\"turns_total\":" + turns.substr(0, turns.find(' ')) + ","), std::string::npos)
        << shard.out << battle.out;

    // The text result of a merge is the whole run's too, but for the speed and threads.
    const test::ProgramRun text = cli({"stats", "--battles", "200", "--seed", "4242", "--max-turns", "25"});
    const std::vector<std::string> three = shards(stats, 3, "text");
    const test::ProgramRun mergedText = cli({"merge", three[0], three[1], three[2]});
    auto figures = [](const std::string& out) {
        const size_t from = out.find("top wins:");
        return out.substr(from, out.find("speed:") - from);
    };
    EXPECT_EQ(figures(mergedText.out), figures(text.out));
    EXPECT_NE(mergedText.out.find("battle 0: morvane-cli battle --seed "), std::string::npos);
}

TEST_F(Shards, MergeRefusesOtherRunsAndMissingOrRepeatedShards) {
    const std::vector<std::string> run = {"stats", "--battles", "90", "--seed", "5"};
    const std::vector<std::string> three = shards(run, 3, "run");

    refused({three[0], three[2]}, "shard 1/3 of the run is missing");
    // All that is missing at once, so that one new array of those shards completes the run.
    const std::vector<std::string> five = shards(run, 5, "five");
    refused({five[1], five[3]}, "shards 0/5, 2/5, 4/5 of the run are missing");
    refused({three[0], three[1], three[1], three[2]}, "shard 1/3 is given twice");
    refused({three[0], three[1], three[2], shards(run, 2, "halves")[1]}, "split into 2 shards, not 3");

    auto other = [&](const std::vector<std::string>& args, const std::string& name) {
        return shards(args, 3, name)[1];
    };
    refused({three[0], other({"stats", "--battles", "90", "--seed", "6"}, "seed"), three[2]}, "seed 6, not 5");
    refused({three[0], other({"stats", "--battles", "91", "--seed", "5"}, "count"), three[2]}, "91 battles, not 90");
    refused({three[0], other({"stats", "--battles", "90", "--seed", "5", "--max-turns", "50"}, "cap"), three[2]},
            "turn cap");
    const std::string top = cp932ToUtf8(readTextLines(deckFilePath(MORVANE_PROGRAM_DIR, 0)).front().text);
    const std::string bottom = cp932ToUtf8(readTextLines(deckFilePath(MORVANE_PROGRAM_DIR, 1)).front().text);
    refused({three[0], other({"stats", "--battles", "90", "--seed", "5", "--top", bottom}, "decks"), three[2]},
            "other decks");
    // The same cards under another name are the same catalogue; one more comment line
    // is not.
    std::string cards = readFileBytes(std::filesystem::path(MORVANE_PROGRAM_DIR) / "card.dat");
    write(folder / "same.dat", cards);
    cards.insert(cards.find("\r\n") + 2, ";\r\n");
    write(folder / "changed.dat", cards);
    auto elsewhere = [&](const std::string& file, const std::string& name) {
        return other({"stats", "--battles", "90", "--seed", "5", "--cards", (folder / file).string(), "--top", top,
                      "--bottom", bottom},
                     name);
    };
    refused({three[0], elsewhere("changed.dat", "changed"), three[2]}, "another catalogue");
    EXPECT_NE(merged({three[0], elsewhere("same.dat", "same"), three[2]}), "");

    // A shard cannot be played without the run's seed, and a file whose figures were
    // edited is no partial result.
    EXPECT_EQ(cli({"stats", "--battles", "90", "--shard", "0/3"}).status, 2);
    EXPECT_EQ(cli({"stats", "--battles", "90", "--seed", "5", "--shard", "3/3"}).status, 2);
    std::string edited = readFileBytes(three[1]);
    edited.replace(edited.find("\"top_wins\":") + 11, 1, "9");
    write(folder / "edited.json", edited);
    refused({three[0], (folder / "edited.json").string(), three[2]}, "do not add up");
    refused({three[0], three[1], (folder / "missing.json").string()}, "missing.json");
}

TEST_F(Shards, FiguresNoRunCanHoldAreRefusedWithOneLine) {
    const std::vector<std::string> three = shards({"stats", "--battles", "90", "--seed", "5"}, 3, "run");
    const std::string shard = readFileBytes(three[1]);
    // Each edit is one attack on the merge; every one must be refused, not summed.
    auto edit = [&](const std::string& from, const std::string& to) {
        const size_t at = shard.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        std::string edited = shard;
        if (at != std::string::npos)
            edited.replace(at, from.size(), to);
        const std::string file = (folder / ("edited" + std::to_string(at) + ".json")).string();
        write(file, edited);
        return std::vector<std::string>{three[0], file, three[2]};
    };
    const size_t wins = std::stoull(shard.substr(shard.find("\"top_wins\":") + 11));
    const size_t losses = std::stoull(shard.substr(shard.find("\"bottom_wins\":") + 14));
    // Wins that wrap around 2^64 with the losses would seem to add up.
    refused(edit("\"top_wins\":" + std::to_string(wins) + ",\"bottom_wins\":" + std::to_string(losses),
                 "\"top_wins\":18446744073709551615,\"bottom_wins\":" + std::to_string(losses + wins + 1)),
            "do not add up");
    refused(edit("\"shard\":1,", "\"shard\":1.9,"), "a figure no run can hold");
    refused(edit("\"seed\":5,", "\"seed\":4294967301,"), "a figure no run can hold");
    refused(edit("\"turns_histogram\":[[", "\"turns_histogram\":[[-"), "a figure no run can hold");
    refused(edit("\"max_turns\":10000,", "\"max_turns\":5,"), "a figure no run can hold");
    refused(edit("\"battles\":90,", "\"battles\":8589934592,"), "a figure no run can hold");

    // The command line refuses runs whose battles the seeds cannot keep apart.
    const test::ProgramRun many = cli({"stats", "--battles", "4294967297", "--seed", "1", "--shard", "0/100000"});
    EXPECT_EQ(many.status, 2);
    EXPECT_NE(many.err.find("--battles"), std::string::npos) << many.err;
    EXPECT_EQ(cli({"stats", "--seed", "1", "--seed-of", "4294967296"}).status, 2);
    EXPECT_EQ(cli({"stats", "--seed", "1", "--seed-of", "4294967295"}).status, 0);
    const std::string field = (std::filesystem::path(MORVANE_PROGRAM_DIR) / "deck1.dat").string();
    const test::ProgramRun final =
        cli({"optimize", "--field", field, "--measure", "--seed", "1", "--final-battles", "2147483648"});
    EXPECT_EQ(final.status, 2);
    EXPECT_NE(final.err.find("--final-battles"), std::string::npos) << final.err;
}

TEST_F(Shards, ALeagueShardWithItsKeysInAnotherOrderMergesAlikeAndIsCheckedAlike) {
    // The program writes a shard's run figures before its results, and merge takes the
    // results as it reads them; a shard whose keys come in another order (here by
    // name, results before shard and max_turns) is read whole, to the same result.
    std::string decks;
    for (const TextLine& line : readTextLines(deckFilePath(MORVANE_PROGRAM_DIR, 0)))
        decks += line.text + "\r\n";
    write(folder / "decks.dat", decks);
    const std::vector<std::string> files =
        shards({"league", "--decks", (folder / "decks.dat").string(), "--battles", "12", "--seed", "9"}, 2, "league");
    const std::string inOrder = merged(files);
    const nlohmann::json byName = nlohmann::json::parse(readFileBytes(files[1]));
    const std::string sorted = byName.dump();
    ASSERT_LT(sorted.find("\"results\""), sorted.find("\"shards\""));
    const std::string file = (folder / "by-name.json").string();
    write(file, sorted);
    EXPECT_EQ(withoutTiming(merged({files[0], file})), withoutTiming(inOrder));

    // Wins that no longer add up to the battles are refused either way.
    for (const std::string& text : {readFileBytes(files[1]), sorted}) {
        std::string edited = text;
        const size_t at = edited.find("\"top_wins\":");
        ASSERT_NE(at, std::string::npos);
        edited.insert(at + 11, "9");
        write(file, edited);
        refused({files[0], file}, "do not add up");
    }
}

TEST_F(Shards, LeagueShardsWithoutSquaredWinsStillMergeAndBadSquaresAreRefused) {
    std::string decks;
    for (const TextLine& line : readTextLines(deckFilePath(MORVANE_PROGRAM_DIR, 0)))
        decks += line.text + "\r\n";
    write(folder / "decks.dat", decks);
    const std::vector<std::string> league = {"league", "--decks", (folder / "decks.dat").string(), "--battles", "40",
                                             "--seed", "8"};
    std::vector<std::string> whole = league;
    whole.emplace_back("--json");
    const std::string run = cli(whole).out;
    const std::vector<std::string> two = shards(league, 2, "league");
    const std::string shard = readFileBytes(two[1]);
    const size_t from = shard.find(",\"win_squares\":[");
    ASSERT_NE(from, std::string::npos) << shard;
    const size_t to = shard.find(']', from) + 1;

    // A shard written before the squares were counted: the merge still gives every
    // count, and intervals that take each seed as one trial, wider than the whole run's.
    write(folder / "earlier.json", shard.substr(0, from) + shard.substr(to));
    const std::string merged = this->merged({two[0], (folder / "earlier.json").string()});
    static const std::regex interval(R"re("win_rate_ci": \[([0-9.e-]+), ([0-9.e-]+)\])re");
    auto firstWidth = [](const std::string& json) {
        std::smatch m;
        return std::regex_search(json, m, interval) ? std::stod(m[2]) - std::stod(m[1]) : 0.0;
    };
    EXPECT_EQ(std::regex_replace(withoutTiming(merged), interval, ""),
              std::regex_replace(withoutTiming(run), interval, ""));
    EXPECT_GT(firstWidth(merged), 1.5 * firstWidth(run)) << merged << run;

    // Squares that no wins can give: more than every battle of a seed won each time,
    // fewer than the wins themselves, or not one a deck.
    const std::string squares = shard.substr(from, to - from);
    auto edited = [&](const std::string& replacement, const std::string& name) {
        const std::string file = (folder / name).string();
        write(file, shard.substr(0, from) + replacement + shard.substr(to));
        return std::vector<std::string>{two[0], file};
    };
    const std::string first = squares.substr(squares.find('[') + 1, squares.find(',', 16) - squares.find('[') - 1);
    refused(edited(",\"win_squares\":[999999999" + squares.substr(squares.find(',', 16)), "high.json"),
            "do not add up");
    refused(edited(",\"win_squares\":[0" + squares.substr(squares.find(',', 16)), "low.json"), "do not add up");
    refused(edited(",\"win_squares\":[" + first + "]", "short.json"), "makes no sense");
    refused(edited(",\"win_squares\":[-" + squares.substr(squares.find('[') + 1), "negative.json"),
            "a figure no run can hold");
}

// The JSON object that follows "key": in a result (tallies hold no nested objects).
std::string objectAfter(const std::string& json, const std::string& key) {
    const size_t from = json.find("\"" + key + "\": {");
    if (from == std::string::npos)
        return "no " + key + " in " + json;
    const size_t open = json.find('{', from);
    return json.substr(open, json.find('}', open) - open + 1);
}

TEST_F(Shards, AFoundTeamMeasuredAloneOrInShardsScoresWhatTheSearchGaveIt) {
    // 60 battles for each of 8 pairings split unevenly into 3 and 7; the turn cap of 25
    // leaves battles undecided, which count as not won.
    const std::string field = (std::filesystem::path(MORVANE_PROGRAM_DIR) / "deck1.dat").string();
    const std::vector<std::string> common = {"optimize",        "--field", field,         "--seed", "9",
                                             "--final-battles", "60",      "--max-turns", "25"};
    std::vector<std::string> search = common;
    search.insert(search.end(), {"--budget", "20000", "--threads", "2", "--json"});
    const test::ProgramRun found = cli(search);
    ASSERT_EQ(found.status, 0) << found.err;
    const size_t teamAt = found.out.find("{\"best\": \"") + 10;
    const std::string team = found.out.substr(teamAt, found.out.find('"', teamAt) - teamAt);
    ASSERT_NE(team, "V001C003C011C012C007C021C019C020C005:000") << "the search should have found a better team";

    std::vector<std::string> measure = common;
    measure.insert(measure.end(), {"--deck", team});
    std::vector<std::string> whole = measure;
    whole.insert(whole.end(), {"--measure", "--json"});
    const test::ProgramRun alone = cli(whole);
    ASSERT_EQ(alone.status, 0) << alone.err;
    EXPECT_EQ(objectAfter(alone.out, "score"), objectAfter(found.out, "best_score"));
    EXPECT_EQ(objectAfter(alone.out, "score").find("\"undecided\": 0,"), std::string::npos) << alone.out;

    std::vector<std::string> three;
    for (int n : {1, 2, 3, 7}) {
        const std::vector<std::string> files = shards(measure, n, "measure" + std::to_string(n));
        EXPECT_EQ(withoutTiming(merged(files)), withoutTiming(alone.out)) << n << " shards";
        if (n == 3)
            three = files;
    }
    ASSERT_EQ(three.size(), 3U);

    // Shards of another team, side or seed, and a missing, repeated or edited shard.
    refused({three[0], three[2]}, "shard 1/3 of the run is missing");
    refused({three[0], three[1], three[1], three[2]}, "shard 1/3 is given twice");
    auto other = [&](const std::vector<std::string>& extra, const std::string& name) {
        std::vector<std::string> args = measure;
        for (size_t i = 0; i + 1 < extra.size(); i += 2)
            for (size_t a = 0; a + 1 < args.size(); ++a)
                if (args[a] == extra[i])
                    args[a + 1] = extra[i + 1];
        if (std::find(args.begin(), args.end(), extra[0]) == args.end())
            args.insert(args.end(), extra.begin(), extra.end());
        return shards(args, 3, name)[1];
    };
    refused({three[0], other({"--deck", "V001C003C011C012C007C021C019C020C005:000"}, "team"), three[2]}, "team ");
    refused({three[0], other({"--side", "top"}, "side"), three[2]}, "side top, not both");
    refused({three[0], other({"--seed", "10"}, "seed"), three[2]}, "seed 10, not 9");
    std::string edited = readFileBytes(three[1]);
    edited.replace(edited.find("\"wins\":") + 7, 0, "1");
    write(folder / "edited.json", edited);
    refused({three[0], (folder / "edited.json").string(), three[2]}, "do not add up");

    // A measurement has no search to steer.
    std::vector<std::string> steered = whole;
    steered.insert(steered.end(), {"--budget", "1000"});
    EXPECT_EQ(cli(steered).status, 2);
}

// Runs the program with stderr on a terminal and returns what the terminal got.
std::string onTerminal(const std::vector<std::string>& args) {
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return "openpty failed";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(master);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(slave, 2);
        std::vector<char*> argv{const_cast<char*>(Program.c_str())};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(Program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(slave);
    std::string got;
    char buffer[4096];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
        got.append(buffer, static_cast<size_t>(n));
    ::close(master);
    ::waitpid(pid, nullptr, 0);
    return got;
}

TEST(ProgressLine, OnATerminalStatsAndLeagueShowBattlesDoneOfAllAndWipeTheLine) {
    const std::string stats = onTerminal({"stats", "--battles", "3000", "--seed", "1", "--threads", "2"});
    // How far the run is when the line is drawn depends on the machine's speed.
    EXPECT_NE(stats.find("\r\033[Kstats: "), std::string::npos) << stats;
    EXPECT_NE(stats.find(" of 3000 battles, "), std::string::npos) << stats;
    EXPECT_EQ(stats.substr(stats.size() - 4), "\r\033[K") << "the line is wiped before the result";

    test::TempFolder folder;
    std::string decks;
    for (int side = 0; side < 2; ++side)
        decks += readTextLines(deckFilePath(MORVANE_PROGRAM_DIR, side)).front().text + "\r\n";
    write(folder / "decks.dat", decks);
    const std::string league = onTerminal(
        {"league", "--decks", (folder / "decks.dat").string(), "--battles", "500", "--seed", "1", "--shard", "1/2"});
    // Two ordered pairs of 250 battles each in shard 1 of 2.
    EXPECT_NE(league.find("\r\033[Kleague: "), std::string::npos) << league;
    EXPECT_NE(league.find(" of 500 battles, "), std::string::npos) << league;
    EXPECT_EQ(league.find("of 1000"), std::string::npos);
}

} // namespace
} // namespace morvane
