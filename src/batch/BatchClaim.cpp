#include "batch/BatchClaim.h"

#include "common/AtomicFile.h"
#include "common/Errors.h"
#include "common/Messages.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace morvane {

namespace {

// A claim is one line of a few dozen bytes; anything longer is not one of ours and is
// read only that far.
constexpr size_t MaxClaimBytes = 512;

// The first line of a small file of the system, or "" when it cannot be read.
std::string firstLineOf(const char* path) {
    std::FILE* file = std::fopen(path, "re");
    if (!file)
        return {};
    char line[1024] = {};
    const bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    std::string text = read ? line : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// Which running kernel this is: a new one at every boot, and another on every machine.
const std::string& bootId() {
    static const std::string id = firstLineOf("/proc/sys/kernel/random/boot_id");
    return id;
}

// The PID namespace this process sees pids in ("pid:[4026531836]").
const std::string& pidNamespace() {
    static const std::string ns = [] {
        char link[64] = {};
        const ssize_t n = ::readlink("/proc/self/ns/pid", link, sizeof link - 1);
        return n > 0 ? std::string(link, static_cast<size_t>(n)) : std::string();
    }();
    return ns;
}

struct ProcessState {
    bool zombie = false;
    unsigned long long startTime = 0; // clock ticks after boot
};

// A process of this machine as /proc shows it; nothing when there is none.
std::optional<ProcessState> processState(long long pid) {
    const std::string stat = firstLineOf(std::string("/proc/").append(std::to_string(pid)).append("/stat").c_str());
    // The command name in parentheses may hold blanks and parentheses of its own.
    const size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos)
        return std::nullopt;
    std::istringstream fields(stat.substr(nameEnd + 1));
    ProcessState state;
    char status = 0;
    fields >> status;
    // After the state come 18 fields, then the start time (field 22 of the line).
    std::string skipped;
    for (int i = 0; i < 18; ++i)
        fields >> skipped;
    if (!(fields >> state.startTime))
        return std::nullopt;
    state.zombie = status == 'Z' || status == 'X' || status == 'x';
    return state;
}

// The host name as one word.
std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "unknown-host";
    std::string host = name;
    for (char& c : host)
        if (static_cast<unsigned char>(c) <= ' ' || c == '\x7f')
            c = '_';
    return host;
}

long long secondsOf(Clock::TimePoint time) {
    return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
}

Clock::TimePoint modifiedAt(const struct stat& info) {
    return Clock::TimePoint(std::chrono::duration_cast<Clock::TimePoint::duration>(
        std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
}

// "host pid number boot=... pidns=... start=... since=...": who holds the claim, a
// number that tells two claims of one process apart, and what tells this process from
// any other (older runners wrote the first three words only).
std::string newClaimText(const Clock& clock) {
    const std::optional<ProcessState> self = processState(::getpid());
    return hostName() + " " + std::to_string(::getpid()) + " " + std::to_string(std::random_device()()) +
           " boot=" + bootId() + " pidns=" + pidNamespace() + " start=" + std::to_string(self ? self->startTime : 0) +
           " since=" + std::to_string(secondsOf(clock.now())) + "\n";
}

struct ClaimFields {
    std::string host;
    long long pid = 0;
    std::string boot;
    std::string pidns;
    unsigned long long startTime = 0;
    std::optional<long long> since;
};

std::optional<ClaimFields> parseClaim(const std::string& text) {
    if (text.empty() || text.back() != '\n')
        return std::nullopt; // cut short
    std::istringstream in(text);
    ClaimFields fields;
    std::string number;
    if (!(in >> fields.host >> fields.pid >> number) || fields.pid <= 0)
        return std::nullopt;
    for (std::string word; in >> word;) {
        const size_t equals = word.find('=');
        const std::string key = word.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : word.substr(equals + 1);
        try {
            if (key == "boot")
                fields.boot = value;
            else if (key == "pidns")
                fields.pidns = value;
            else if (key == "start")
                fields.startTime = std::stoull(value);
            else if (key == "since")
                fields.since = std::stoll(value);
        } catch (const std::logic_error&) {
            return std::nullopt;
        }
    }
    return fields;
}

// Whether the claim's process is known to be gone: only a runner of the same boot and
// PID namespace can look it up. A pid given to a later process shows another start time.
bool processGone(const ClaimFields& claim) {
    if (claim.boot.empty() || claim.boot != bootId() || claim.pidns.empty() || claim.pidns != pidNamespace() ||
        claim.startTime == 0)
        return false;
    const std::optional<ProcessState> state = processState(claim.pid);
    return !state || state->zombie || state->startTime != claim.startTime;
}

// A claim file as found.
struct Found {
    struct stat info {};
    std::string text;
    bool regular = false; // a regular file that could be read
};

// The claim file, or nothing when it is not there.
std::optional<Found> look(const std::string& path) {
    Found found;
    if (::lstat(path.c_str(), &found.info) != 0)
        return errno == ENOENT ? std::nullopt : std::optional<Found>(found);
    if (!S_ISREG(found.info.st_mode))
        return found;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0)
        return errno == ENOENT ? std::nullopt : std::optional<Found>(found);
    char buffer[MaxClaimBytes];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    found.regular = n >= 0;
    found.text.assign(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    return found;
}

ClaimHolder holderOf(const Found& found) {
    ClaimHolder holder;
    holder.since = modifiedAt(found.info);
    if (const std::optional<ClaimFields> fields = parseClaim(found.text)) {
        holder.host = fields->host;
        holder.pid = fields->pid;
        if (fields->since)
            holder.since = Clock::TimePoint(std::chrono::seconds(*fields->since));
    }
    return holder;
}

// Whether a claim as found is left by a runner that is gone. Only a regular file is
// ever taken for one: anything else in its place is not ours to remove. unchangedSince
// receives the moment its age is counted from, which is what a runner shows of it.
bool abandoned(const std::string& path, const Found& found, const Clock& clock, std::chrono::seconds staleAfter,
               ClaimSightings& sightings, Clock::TimePoint& unchangedSince) {
    const Clock::TimePoint now = clock.now();
    const Clock::TimePoint touched = modifiedAt(found.info);
    unchangedSince = std::min(touched, now);
    if (!found.regular)
        return false;
    if (const std::optional<ClaimFields> fields = parseClaim(found.text); fields && processGone(*fields))
        return true;
    if (touched <= now && now - touched > staleAfter)
        return true;
    const std::string state = found.text + "\n" + std::to_string(found.info.st_ino) + " " +
                              std::to_string(found.info.st_mtim.tv_sec) + "." +
                              std::to_string(found.info.st_mtim.tv_nsec);
    if (touched > now) {
        // Dated in the future (a clock ahead, a hand-set time): dated now instead, so
        // that it ages for every runner from here. Where this runner may not set the
        // time, the sighting still ages it for this one.
        const timespec times[2] = {{secondsOf(now), 0}, {secondsOf(now), 0}};
        ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
    // The claim goes by whichever says it is older: its file time, or this runner's
    // own sighting of it unchanged.
    const Clock::TimePoint::duration seen = sightings.unchangedFor(path, state, now);
    unchangedSince = std::min(unchangedSince, now - seen);
    return seen > staleAfter;
}

// Removes a claim judged abandoned, if it is still the one judged. Only one runner can
// move a given file aside; the one that did checks that it moved the claim it judged,
// and puts back one that a quicker runner made in the meantime. True when it is gone.
bool removeJudged(const std::string& path, const std::string& judged) {
    // Named as a temporary file of the claim, so that a runner killed right here leaves
    // nothing that the next holder would not remove.
    const std::string aside = temporaryPath(path, std::random_device()()).string();
    if (::rename(path.c_str(), aside.c_str()) != 0)
        return false;
    const std::optional<Found> moved = look(aside);
    if (!moved || moved->text != judged) {
        // Should yet another runner have claimed the folder in the meantime, the moved
        // claim has lost the folder either way.
        ::link(aside.c_str(), path.c_str());
        ::unlink(aside.c_str());
        return false;
    }
    ::unlink(aside.c_str());
    return true;
}

} // namespace

Clock::TimePoint::duration ClaimSightings::unchangedFor(const std::string& path, const std::string& state,
                                                        Clock::TimePoint now) {
    const auto [seen, first] = seen_.try_emplace(path, Sighting{state, now});
    if (!first && seen->second.state != state)
        seen->second = Sighting{state, now};
    return now - seen->second.first;
}

ClaimAttempt BatchClaim::acquire(const std::string& folder, const Clock& clock, std::chrono::seconds staleAfter,
                                 ClaimSightings& sightings) {
    const std::string path = std::string(folder).append(FileName);
    const std::string text = newClaimText(clock);
    // A few rounds: a stale claim is moved aside, then the folder is claimed afresh,
    // and another runner may win that race.
    for (int round = 0; round < 3; ++round) {
        // Written in full beside it first: a runner killed at any point leaves no claim
        // that is empty or cut short, only a temporary file, which is locked while this
        // runner lives and swept by the next scan after its death. A claim lost to a
        // crash is no loss: its runner is gone with it, so it is not synced.
        if (placeNewFile(path, text, 0644, Durability::None)) {
            sightings.forget(path);
            removeAbandonedTemporaries(path);
            ClaimAttempt claimed;
            claimed.claim = BatchClaim(path, text);
            return claimed;
        }
        const std::optional<Found> found = look(path);
        if (!found) {
            sightings.forget(path);
            continue; // given up meanwhile: try again
        }
        Clock::TimePoint unchangedSince;
        if (!abandoned(path, *found, clock, staleAfter, sightings, unchangedSince)) {
            ClaimHolder holder = holderOf(*found);
            holder.unchangedSince = unchangedSince;
            return {std::nullopt, holder};
        }
        if (!removeJudged(path, found->text))
            return {};
    }
    return {};
}

void BatchClaim::clearAbandoned(const std::string& folder, const Clock& clock, std::chrono::seconds staleAfter,
                                ClaimSightings& sightings) {
    const std::string path = std::string(folder).append(FileName);
    const std::optional<Found> found = look(path);
    Clock::TimePoint unchangedSince;
    if (found && abandoned(path, *found, clock, staleAfter, sightings, unchangedSince) &&
        removeJudged(path, found->text)) {
        sightings.forget(path);
        removeAbandonedTemporaries(path);
    }
}

BatchClaim::BatchClaim(BatchClaim&& other) noexcept : path_(std::move(other.path_)), text_(std::move(other.text_)) {
    other.path_.clear();
}

BatchClaim& BatchClaim::operator=(BatchClaim&& other) noexcept {
    if (this != &other) {
        release();
        path_ = std::move(other.path_);
        text_ = std::move(other.text_);
        other.path_.clear();
    }
    return *this;
}

BatchClaim::~BatchClaim() {
    release();
}

bool BatchClaim::held() const {
    if (path_.empty())
        return false;
    const std::optional<Found> found = look(path_);
    return found && found->regular && found->text == text_;
}

void BatchClaim::refresh() {
    if (!path_.empty())
        ::utimensat(AT_FDCWD, path_.c_str(), nullptr, AT_SYMLINK_NOFOLLOW);
}

void BatchClaim::release() {
    if (path_.empty())
        return;
    if (held())
        ::unlink(path_.c_str());
    path_.clear();
}

} // namespace morvane
