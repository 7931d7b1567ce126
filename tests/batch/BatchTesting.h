#pragma once
// A temporary batch root with a small hand-made card catalogue beside it, so batch
// battles are short and their reports depend on nothing but the seed.

#include "common/Text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

// Characters 1 to 8 are plain fighters of different speeds (two pairs share a speed,
// so initiative draws matter); character 9's attack power is not a number, so a battle
// that fields it halts on its first turn. Vehicles 1 and 2 have 30 HP.
inline std::string cardCatalogueBytes() {
    const char* names[] = {"一", "二", "三", "四", "五", "六", "七", "八", "九"};
    const char* speeds[] = {" 9", " 7", " 7", " 5", " 4", " 4", " 3", " 2", " 1"};
    std::string bytes;
    for (int id = 1; id <= 9; ++id) {
        char head[8];
        std::snprintf(head, sizeof head, "C%03d", id);
        std::string line = std::string(head) + "物地" + " 1" + "12" +
                           (id == 9 ? std::string("ab") : " " + std::to_string(id % 3 + 3)) + speeds[id - 1];
        for (int i = 0; i < 23; ++i)
            line += "＿";
        line += std::string(" 1") + "  " + "兵" + names[id - 1];
        bytes += utf8ToCp932(line) + "\r\n";
    }
    for (int id = 1; id <= 2; ++id) {
        char head[8];
        std::snprintf(head, sizeof head, "V%03d", id);
        std::string line =
            std::string(head) + "＿地" + "50" + "30" + " 0" + " 0" + std::string(50, '-') + (id == 1 ? "甲車" : "乙車");
        bytes += utf8ToCp932(line) + "\r\n";
    }
    return bytes;
}

// Deck lines of the test catalogue.
inline const std::string TopDeck = "V001C001C002C003C004C005C006C007C008:000";
inline const std::string BottomDeck = "V002C008C007C006C005C004C003C002C001:001";
inline const std::string OtherTopDeck = "V002C002C002C004C004C006C006C008C008:002";
inline const std::string OtherBottomDeck = "V001C001C001C003C003C005C005C007C007:003";
inline const std::string HaltingDeck = "V001C009C009C009C009C009C009C009C009:004";
inline const std::string EmptySlotDeck = "V001C000C002C003C004C005C006C007C008:005";

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

    // The root text, ending with a separator.
    std::string rootText() const { return root.string() + "/"; }
    fs::path folder(int n) const {
        char name[16];
        std::snprintf(name, sizeof name, "%.4d", n);
        return root / name;
    }
    void dropDecks(int n, const std::string& top, const std::string& bottom) {
        writeAll(folder(n) / "deck.dat", top + "\r\n" + bottom + "\r\n");
    }
    std::string report(int n) const { return readAll(folder(n) / "battle.html"); }
    bool hasReport(int n) const { return fs::exists(folder(n) / "battle.html"); }

    fs::path base;
    fs::path root;
    fs::path cards;
};

} // namespace morvane::test
