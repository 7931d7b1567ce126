#pragma once
// A temporary batch root beside a small hand-made card catalogue, so batch battles
// are short and their reports depend on nothing but the seed.

#include "common/Codec.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace morvane::test {

namespace fs = std::filesystem;

inline std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeAll(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// A full disk as this process sees it, for as long as it lives: a write that takes a
// file past bytes fails (EFBIG) instead of signalling.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &before_);
        signal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = before_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { lift(); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    // Space again.
    void lift() {
        if (lifted_)
            return;
        ::setrlimit(RLIMIT_FSIZE, &before_);
        std::signal(SIGXFSZ, signal_);
        lifted_ = true;
    }

private:
    rlimit before_{};
    void (*signal_)(int) = SIG_DFL;
    bool lifted_ = false;
};

// Characters 1-8 fight at speeds where two pairs tie, so initiative draws matter;
// character 9's attack power is no number, so a battle that fields it halts.
inline std::string cardCatalogueBytes() {
    const char* speeds[] = {" 9", " 7", " 7", " 5", " 4", " 4", " 3", " 2", " 1"};
    std::string text;
    for (int id = 1; id <= 9; ++id) {
        char power[8] = "ab";
        if (id != 9)
            std::snprintf(power, sizeof power, "%2d", id % 3 + 3);
        char head[64];
        std::snprintf(head, sizeof head, "C%03d物地 112%s%s", id, power, speeds[id - 1]);
        text += head;
        for (int i = 0; i < 23; ++i)
            text += "＿";
        text += " 1  兵" + std::to_string(id) + "\r\n";
    }
    text += "V001＿地5030 0 0" + std::string(50, '-') + "甲車\r\n";
    text += "V002＿地5030 0 0" + std::string(50, '-') + "乙車\r\n";
    return utf8ToCp932(text);
}

inline const std::string TopDeck = "V001C001C002C003C004C005C006C007C008:000";
inline const std::string BottomDeck = "V002C008C007C006C005C004C003C002C001:001";
inline const std::string OtherTopDeck = "V002C002C002C004C004C006C006C008C008:002";
inline const std::string OtherBottomDeck = "V001C001C001C003C003C005C005C007C007:003";
inline const std::string HaltingDeck = "V001C009C009C009C009C009C009C009C009:004";
inline const std::string EmptySlotDeck = "V001C000C002C003C004C005C006C007C008:005";

inline std::string firstLineOf(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// What a claim tells a process by: this machine's boot and PID namespace, and when
// the process started (field 22 of its stat line, in clock ticks after boot).
inline std::string thisBoot() {
    return firstLineOf("/proc/sys/kernel/random/boot_id");
}
inline std::string thisPidNamespace() {
    return fs::read_symlink("/proc/self/ns/pid").string();
}
inline std::string startTimeOf(pid_t pid) {
    const std::string stat = firstLineOf("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 1));
    std::string field;
    for (int i = 3; i <= 22; ++i)
        fields >> field;
    return field;
}
inline std::string thisHost() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

// A claim as runners write it, of process pid of this host.
inline std::string claimOf(pid_t pid, const std::string& start, const std::string& boot = thisBoot(),
                           const std::string& pidns = thisPidNamespace()) {
    return thisHost() + " " + std::to_string(pid) + " 1 boot=" + boot + " pidns=" + pidns + " start=" + start +
           " since=1699000000\n";
}

// A child that has ended and is not waited for yet: a zombie, whose pid still answers
// to kill(pid, 0).
inline pid_t zombieChild() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    for (int i = 0;
         i < 200 && firstLineOf("/proc/" + std::to_string(child) + "/stat").find(") Z ") == std::string::npos; ++i)
        ::usleep(5000);
    return child;
}

class BatchFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "morvane-batch-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        base = pattern;
        root = base / "runs";
        cards = base / "cards" / "card.dat";
        writeAll(cards, cardCatalogueBytes());
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(base, ec);
    }

    std::string rootText() const { return root.string() + "/"; }
    fs::path folder(int n) const { return root / batchName(n); }
    static std::string batchName(int n) {
        char name[16];
        std::snprintf(name, sizeof name, "%.4d", n);
        return name;
    }
    void dropDecks(int n, const std::string& top, const std::string& bottom) {
        writeAll(folder(n) / "deck.dat", top + "\r\n" + bottom + "\r\n");
    }
    std::string report(int n) const { return readAll(folder(n) / "battle.html"); }
    bool hasReport(int n) const { return fs::exists(folder(n) / "battle.html"); }
    size_t filesIn(int n) const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(folder(n)), fs::directory_iterator()));
    }

    fs::path base;
    fs::path root;
    fs::path cards;
};

} // namespace morvane::test
