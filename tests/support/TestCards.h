#pragma once
// Hand-made card lines for tests. Fields are written as readable UTF-8 and turned
// into the code page 932 columns of card.dat, so a test says "魔" where the file
// holds 96 82. Numbers are column texts, so a test can also write "5 " or "$A".

#include "common/Codec.h"

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace morvane::test {

inline std::string num2(int value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%2d", value);
    return buffer;
}

struct Card {
    int id = 1;
    std::string kind = "物";
    std::string air = "地";
    std::string size = " 1";
    std::string hp = "10";
    std::string power = " 3";
    std::string sp = " 5";
    std::array<std::string, 3> block{"＿", "＿", "＿"};
    std::array<std::string, 3> absorb{"＿", "＿", "＿"};
    std::string seal = "＿";
    std::string heal = "＿";
    std::string vehicleHeal = "＿";
    std::string lock = "＿";
    std::string kill = "＿";
    std::string random = "＿";
    std::string spread = "＿";
    std::string pierce = "＿";
    std::string count = " 1";
    char reach = ' ';
    char vehicleReach = ' ';
    std::string name = "キャラ";

    std::string line() const {
        char id3[8];
        std::snprintf(id3, sizeof id3, "%03d", id);
        std::string s = std::string("C") + id3 + kind + air + size + hp + power + sp + "＿＿＿＿＿＿";
        for (const auto& b : block)
            s += b;
        for (const auto& a : absorb)
            s += a;
        s += seal + heal + vehicleHeal + "＿＿＿" + lock + kill + random + spread + pierce + count;
        s += reach;
        s += vehicleReach;
        s += name;
        return utf8ToCp932(s);
    }
};

struct Vehicle {
    int id = 1;
    std::string air = "地";
    std::string size = "50";
    std::string hp = "30";
    std::string power = " 0";
    std::string sp = " 0";
    std::string name = "車";

    std::string line() const {
        char id3[8];
        std::snprintf(id3, sizeof id3, "%03d", id);
        std::string s = std::string("V") + id3 + "＿" + air + size + hp + power + sp;
        s += std::string(50, '-');
        s += name;
        return utf8ToCp932(s);
    }
};

inline std::string cardFile(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const auto& l : lines)
        bytes += l + "\r\n";
    return bytes;
}

// Code page 932 of a UTF-8 literal, for comparing with report bytes.
inline std::string sjis(const std::string& utf8) {
    return utf8ToCp932(utf8);
}

} // namespace morvane::test
