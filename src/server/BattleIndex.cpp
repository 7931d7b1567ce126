#include "server/BattleIndex.h"

#include "batch/BatchScan.h"
#include "batch/FolderState.h"
#include "batch/StoredReport.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/FileNames.h"
#include "common/Files.h"
#include "common/Messages.h"
#include "server/PublicText.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace morvane {

namespace {

// Raised when the layout changes: an index of another version is rebuilt.
constexpr int SchemaVersion = 1;

// The index file is held by another process (a second service on the same root).
class IndexHeldError : public IoError {
public:
    using IoError::IoError;
};

int64_t milliseconds(const timespec& t) {
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// The folder's modification time in nanoseconds (0 when it cannot be looked at):
// every file put into, renamed into or removed from it changes it.
int64_t folderStamp(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0)
        return 0;
    return static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

// A prepared statement, finalized however the caller leaves.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
            throw IoError(std::string(msg::FileNotRead), sqlite3_errmsg(db));
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int i, int64_t value) {
        sqlite3_bind_int64(stmt_, i, value);
        return *this;
    }
    Statement& bind(int i, const std::string& value) {
        sqlite3_bind_blob(stmt_, i, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // True while a row is there.
    bool step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            throw IoError(std::string(msg::FileNotWritten), sqlite3_errmsg(sqlite3_db_handle(stmt_)));
        return false;
    }
    int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::string text(int column) const {
        const void* bytes = sqlite3_column_blob(stmt_, column);
        return bytes ? std::string(static_cast<const char*>(bytes),
                                   static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
                     : std::string();
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

constexpr const char* EntryColumns = "number, top, bottom, state, status, winner, turns, problem, submitted, finished";

BattleEntry entryOf(const Statement& row) {
    BattleEntry e;
    e.number = static_cast<int>(row.integer(0));
    e.top = row.text(1);
    e.bottom = row.text(2);
    e.state = static_cast<BattleEntry::State>(row.integer(3));
    e.outcome.status = static_cast<BattleStatus>(row.integer(4));
    e.outcome.winner = static_cast<int8_t>(row.integer(5));
    e.outcome.turns = static_cast<int32_t>(row.integer(6));
    e.problem = row.text(7);
    e.submittedMs = row.integer(8);
    e.finishedMs = row.integer(9);
    return e;
}

} // namespace

BattleIndex::BattleIndex(const fs::path& file, std::string root, const Clock& clock)
    : root_(std::move(root)), file_(file), where_(file.string()), clock_(clock) {
    openOrRemake();
}

void BattleIndex::openOrRemake() {
    if (db_)
        sqlite3_close(db_);
    db_ = nullptr;
    try {
        open();
    } catch (const IndexHeldError&) {
        // Another service on the same root keeps its index there: this one keeps its
        // own in memory, made from the folders as any index is, and leaves the file be.
        if (db_)
            sqlite3_close(db_);
        db_ = nullptr;
        file_ = ":memory:";
        open();
    } catch (const MorvaneError&) {
        // Unreadable, of another version or of another root: the folders hold
        // everything it held, so it is made anew from them.
        discardFile();
        open();
    }
}

void BattleIndex::discardFile() {
    if (db_)
        sqlite3_close(db_);
    db_ = nullptr;
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(file_.string() + suffix, ec);
}

template <class Work> auto BattleIndex::guarded(Work work) -> decltype(work()) {
    std::lock_guard lock(mutex_);
    try {
        return work();
    } catch (const IoError&) {
        rebuildLocked();
        return work();
    }
}

void BattleIndex::rebuildLocked() {
    // A file that fails under a running service (overwritten, damaged, its disk
    // gone) is no longer trusted at all.
    discardFile();
    openOrRemake();
    rebuilt_ = true;
    refreshLocked(folderNumbers(), true);
}

BattleIndex::~BattleIndex() {
    if (db_)
        sqlite3_close(db_);
}

void BattleIndex::exec(const char* sql) {
    char* error = nullptr;
    if (const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &error); rc != SQLITE_OK) {
        const std::string why = error ? error : "sqlite";
        sqlite3_free(error);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
            throw IndexHeldError(std::string(msg::FileNotWritten), where_ + " (" + why + ")");
        throw IoError(std::string(msg::FileNotWritten), where_ + " (" + why + ")");
    }
}

void BattleIndex::open() {
    if (sqlite3_open_v2(file_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK)
        throw IoError(std::string(msg::FileNotCreated), where_);
    sqlite3_busy_timeout(db_, 1000);
    // The WAL's index is kept in this process's memory, not in a -shm file mapped
    // into it: a -shm file that anyone cut short (overwritten, truncated) ended the
    // process with SIGBUS at its next look, which no error code could report. The
    // file is this process's alone while it runs; sqlite3 reads it once the service
    // has stopped, or a copy of it. A cache: losing its last transactions to a power
    // cut costs a refresh, never a battle, so it is not synced on every change.
    exec("PRAGMA locking_mode=EXCLUSIVE; PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
    exec("CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value BLOB);"
         "CREATE TABLE IF NOT EXISTS battles (number INTEGER PRIMARY KEY, top BLOB, bottom BLOB,"
         " state INTEGER, status INTEGER, winner INTEGER, turns INTEGER, problem BLOB,"
         " submitted INTEGER, finished INTEGER, stamp INTEGER);"
         "CREATE INDEX IF NOT EXISTS battles_by_state ON battles (state, number);"
         "CREATE INDEX IF NOT EXISTS battles_by_time ON battles (submitted, number);");
    std::map<std::string, std::string> meta;
    {
        Statement read(db_, "SELECT key, value FROM meta");
        while (read.step())
            meta[read.text(0)] = read.text(1);
    }
    const std::string version = std::to_string(SchemaVersion);
    rebuilt_ = meta.empty();
    if (meta.empty()) {
        Statement(db_, "INSERT INTO meta VALUES ('version', ?1)").bind(1, version).step();
        Statement(db_, "INSERT INTO meta VALUES ('root', ?1)").bind(1, root_).step();
    } else if (meta["version"] != version || meta["root"] != root_) {
        throw IoError(std::string(msg::FileNotRead), where_);
    }
}

std::optional<BattleEntry> BattleIndex::readFolder(int number, int64_t* stamp) {
    const std::string folder = batchFolderName(root_, number);
    *stamp = folderStamp(folder);
    BattleEntry entry;
    entry.number = number;
    const FolderLook look = lookAtBatchFolder(folder);
    try {
        if (look.problem)
            std::rethrow_exception(look.problem);
        if (look.state == FolderState::Missing || look.state == FolderState::Empty)
            return std::nullopt;
        const fs::path decks = findFileNoCase(folder, file::BatchDecks);
        struct stat info {};
        if (::stat(decks.c_str(), &info) != 0)
            return std::nullopt;
        entry.submittedMs = milliseconds(info.st_mtim);
        // A pair still being written waits with what it holds so far; it is read
        // again when its folder changes.
        const DeckPair pair = readDeckPair({number, folder});
        entry.top = pair.top;
        entry.bottom = pair.bottom;
        if (look.state == FolderState::Done) {
            const fs::path report = findFileNoCase(folder, file::Report);
            entry.state = BattleEntry::Done;
            if (::stat(report.c_str(), &info) == 0)
                entry.finishedMs = milliseconds(info.st_mtim);
            entry.outcome = outcomeOfReportFile(report);
        }
    } catch (const MorvaneError& e) {
        entry.state = BattleEntry::Failed;
        entry.problem = publicText(e, root_);
    }
    return entry;
}

void BattleIndex::store(const BattleEntry& e, int64_t stamp) {
    Statement(db_, "INSERT OR REPLACE INTO battles VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)")
        .bind(1, e.number)
        .bind(2, e.top)
        .bind(3, e.bottom)
        .bind(4, static_cast<int64_t>(e.state))
        .bind(5, static_cast<int64_t>(e.outcome.status))
        .bind(6, static_cast<int64_t>(e.outcome.winner))
        .bind(7, static_cast<int64_t>(e.outcome.turns))
        .bind(8, e.problem)
        .bind(9, e.submittedMs)
        .bind(10, e.finishedMs)
        .bind(11, stamp)
        .step();
}

void BattleIndex::erase(int number) {
    Statement(db_, "DELETE FROM battles WHERE number = ?1").bind(1, number).step();
}

std::vector<int> BattleIndex::folderNumbers() const {
    std::vector<int> numbers;
    std::error_code ec;
    for (fs::directory_iterator it(root_, ec), end; !ec && it != end; it.increment(ec))
        if (const std::optional<int> number = batchFolderNumber(it->path().filename().string()))
            numbers.push_back(*number);
    return numbers;
}

std::vector<int> BattleIndex::refresh(bool everyFolder) {
    // The root's listing changes only when folders come or go: a quick look that
    // finds it as it was has nothing to read. The listing is taken outside the lock,
    // which pages and runners wait for.
    // A stamp is trusted once it is a second old: file times advance in ticks, so a
    // folder made in the tick of the last look may not have moved it.
    const int64_t rootStamp = folderStamp(root_);
    const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(clock_.now().time_since_epoch()).count();
    if (!everyFolder && rootStamp != 0 && rootStamp == rootStamp_ && now - rootStamp > 1000000000)
        return waitingNumbers();
    const std::vector<int> numbers = folderNumbers();
    return guarded([&] {
        rootStamp_ = rootStamp;
        return refreshLocked(numbers, everyFolder);
    });
}

std::vector<int> BattleIndex::refreshLocked(const std::vector<int>& numbers, bool everyFolder) {
    if (!everyFolder) {
        // Only numbers the index lacks are read. Four bytes a battle, so that a look
        // every few seconds costs little memory even after many battles.
        std::vector<int> indexed;
        {
            Statement rows(db_, "SELECT number FROM battles ORDER BY number");
            while (rows.step())
                indexed.push_back(static_cast<int>(rows.integer(0)));
        }
        exec("BEGIN");
        try {
            for (const int number : numbers) {
                int64_t stamp = 0;
                if (!std::binary_search(indexed.begin(), indexed.end(), number))
                    if (const std::optional<BattleEntry> read = readFolder(number, &stamp))
                        store(*read, stamp);
            }
            exec("COMMIT");
        } catch (...) {
            exec("ROLLBACK");
            throw;
        }
        return waitingLocked();
    }
    std::map<int, std::pair<int64_t, int64_t>> known; // number -> stamp, state
    {
        Statement rows(db_, "SELECT number, stamp, state FROM battles");
        while (rows.step())
            known[static_cast<int>(rows.integer(0))] = {rows.integer(1), rows.integer(2)};
    }
    exec("BEGIN");
    try {
        for (const int number : numbers) {
            const auto entry = known.find(number);
            const bool listed = entry != known.end();
            if (listed) {
                const auto [stamp, state] = entry->second;
                known.erase(entry);
                if (state != BattleEntry::Waiting && stamp == folderStamp(batchFolderName(root_, number)))
                    continue;
            }
            int64_t stamp = 0;
            if (const std::optional<BattleEntry> read = readFolder(number, &stamp))
                store(*read, stamp);
            else if (listed)
                erase(number);
        }
        // Folders that are gone take their battles with them.
        for (const auto& [number, unused] : known)
            erase(number);
        exec("COMMIT");
    } catch (...) {
        exec("ROLLBACK");
        throw;
    }
    return waitingLocked();
}

std::optional<BattleEntry> BattleIndex::reread(int number) {
    return guarded([&] {
        int64_t stamp = 0;
        std::optional<BattleEntry> read = readFolder(number, &stamp);
        if (read)
            store(*read, stamp);
        else
            erase(number);
        return read;
    });
}

void BattleIndex::add(const BattleEntry& entry) {
    guarded([&] { store(entry, folderStamp(batchFolderName(root_, entry.number))); });
}

void BattleIndex::finish(int number, const BattleOutcome& outcome, int64_t finishedMs) {
    guarded([&] {
        Statement(db_, "UPDATE battles SET state = 1, status = ?2, winner = ?3, turns = ?4, finished = ?5, stamp = ?6"
                       " WHERE number = ?1")
            .bind(1, number)
            .bind(2, static_cast<int64_t>(outcome.status))
            .bind(3, static_cast<int64_t>(outcome.winner))
            .bind(4, static_cast<int64_t>(outcome.turns))
            .bind(5, finishedMs)
            .bind(6, folderStamp(batchFolderName(root_, number)))
            .step();
    });
}

void BattleIndex::fail(int number, const std::string& problem) {
    guarded([&] {
        Statement(db_, "UPDATE battles SET state = 2, problem = ?2 WHERE number = ?1")
            .bind(1, number)
            .bind(2, problem)
            .step();
    });
}

std::optional<BattleEntry> BattleIndex::findLocked(int number) {
    const std::string sql = std::string("SELECT ") + EntryColumns + " FROM battles WHERE number = ?1";
    Statement row(db_, sql.c_str());
    row.bind(1, number);
    if (!row.step())
        return std::nullopt;
    return entryOf(row);
}

std::optional<BattleEntry> BattleIndex::find(int number) {
    return guarded([&] { return findLocked(number); });
}

std::vector<BattleEntry> BattleIndex::newest(int64_t offset, int count) {
    return guarded([&] {
        const std::string sql =
            // By when they came, not by number: a folder number freed (a folder removed,
            // a refusal taken back) goes to the next battle, which is still the newest.
            std::string("SELECT ") + EntryColumns +
            " FROM battles ORDER BY submitted DESC, number DESC LIMIT ?1 OFFSET ?2";
        Statement rows(db_, sql.c_str());
        rows.bind(1, count).bind(2, offset);
        std::vector<BattleEntry> entries;
        while (rows.step())
            entries.push_back(entryOf(rows));
        return entries;
    });
}

std::vector<int> BattleIndex::waitingNumbers() {
    return guarded([&] { return waitingLocked(); });
}

std::vector<int> BattleIndex::waitingLocked() {
    std::vector<int> numbers;
    Statement rows(db_, "SELECT number FROM battles WHERE state = 0 ORDER BY number");
    while (rows.step())
        numbers.push_back(static_cast<int>(rows.integer(0)));
    return numbers;
}

int64_t BattleIndex::count() {
    return guarded([&] {
        Statement row(db_, "SELECT COUNT(*) FROM battles");
        return row.step() ? row.integer(0) : int64_t{0};
    });
}

int64_t BattleIndex::waiting() {
    return guarded([&] {
        Statement row(db_, "SELECT COUNT(*) FROM battles WHERE state = 0");
        return row.step() ? row.integer(0) : int64_t{0};
    });
}

int64_t BattleIndex::waitingBefore(int number) {
    return guarded([&] {
        Statement row(db_, "SELECT COUNT(*) FROM battles WHERE state = 0 AND number < ?1");
        row.bind(1, number);
        return row.step() ? row.integer(0) : int64_t{0};
    });
}

} // namespace morvane
