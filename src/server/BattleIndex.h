#pragma once
// The battle service's index of a batch root: a cache of what the numbered folders
// hold (each battle's deck lines, whether it waits or is done, its result), so that
// the history and the API answer without reading every folder. The folders stay the
// record. At start the index is brought up to date from them: a folder that is new,
// gone, or changed since the index read it (its modification time tells) is read
// again; an index file that is missing, unreadable, of another version or of another
// root is rebuilt from the folders. While the service runs, its own runners and its
// look at the waiting folders keep it current, whoever plays the battles.
//
// One connection, used by one thread at a time under the index's own lock; SQLite in
// WAL mode with the file held for this process alone (a second service on the same
// root keeps its index in memory). Whatever goes wrong with the file while the
// service runs (overwritten, removed, damaged), the index makes it anew from the
// folders and answers from that; nothing done to the file can end the process.

#include "battle/BattleOutcome.h"
#include "common/Clock.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace morvane {

struct BattleEntry {
    enum State { Waiting = 0, Done = 1, Failed = 2 };

    int number = 0;
    std::string top; // deck lines as deck.dat holds them (code page 932)
    std::string bottom;
    State state = Waiting;
    BattleOutcome outcome;   // Done: Ended or Capped
    std::string problem;     // Failed: why, UTF-8, as the command line tool says it
    int64_t submittedMs = 0; // milliseconds since the epoch: deck.dat stored
    int64_t finishedMs = 0;  // the report stored
};

class BattleIndex {
public:
    // Opens (or creates, or rebuilds) the index file of root (a path ending with "/").
    // Throws IoError naming the file when it cannot be created at all.
    BattleIndex(const std::filesystem::path& file, std::string root, const Clock& clock = systemClock());
    ~BattleIndex();
    BattleIndex(const BattleIndex&) = delete;
    BattleIndex& operator=(const BattleIndex&) = delete;

    // Reads every folder the index does not know as it is now (all of them with
    // everyFolder, else only numbers it has no entry for); returns the numbers of the
    // battles that wait, in rising order.
    std::vector<int> refresh(bool everyFolder);
    // Reads one folder again, for a battle another runner may have played; nothing
    // when the folder holds no deck pair.
    std::optional<BattleEntry> reread(int number);

    void add(const BattleEntry& entry);
    void finish(int number, const BattleOutcome& outcome, int64_t finishedMs);
    void fail(int number, const std::string& problem);

    std::optional<BattleEntry> find(int number);
    // Newest submission first (a later battle may have a lower number), then the
    // higher number.
    std::vector<BattleEntry> newest(int64_t offset, int count);
    std::vector<int> waitingNumbers();
    int64_t count();
    int64_t waiting();
    // Battles that wait ahead of this one (runners take the lowest number first).
    int64_t waitingBefore(int number);

    // Whether the last open, or a failure since, found nothing to keep and read every
    // folder afresh.
    bool rebuilt() const { return rebuilt_; }

private:
    // Opens the file, or, when it cannot be used, removes it and starts a new one.
    void openOrRemake();
    // Closes the database and removes its file with the -wal and -shm beside it.
    void discardFile();
    void open();
    // Runs work under the lock; when the file fails it, makes the file anew from the
    // folders and runs it once more.
    template <class Work> auto guarded(Work work) -> decltype(work());
    void rebuildLocked();
    std::vector<int> refreshLocked(const std::vector<int>& numbers, bool everyFolder);
    std::vector<int> folderNumbers() const;
    void exec(const char* sql);
    void store(const BattleEntry& entry, int64_t stamp);
    void erase(int number);
    // The folder as it stands, or nothing without a deck pair.
    std::optional<BattleEntry> readFolder(int number, int64_t* stamp);
    std::optional<BattleEntry> findLocked(int number);
    std::vector<int> waitingLocked();

    std::string root_;
    std::filesystem::path file_;
    std::string where_;
    const Clock& clock_;
    sqlite3* db_ = nullptr;
    std::mutex mutex_;
    bool rebuilt_ = false;
    int64_t rootStamp_ = 0; // the root's modification time at the last refresh
};

} // namespace morvane
