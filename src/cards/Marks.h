#pragma once
// The two-byte marks of card lines, code page 932.

#include <string_view>

namespace morvane::mark {

inline constexpr std::string_view None = "\x81Q";        // ＿ (full-width low line)
inline constexpr std::string_view Physical = "\x95\xa8"; // 物
inline constexpr std::string_view Magic = "\x96\x82";    // 魔
inline constexpr std::string_view Third = "\x83u";       // ブ
inline constexpr std::string_view Air = "\x8b\xf3";      // 空
inline constexpr std::string_view Seal = "\x83T";        // サ
inline constexpr std::string_view Enemy = "\x93G";       // 敵
inline constexpr std::string_view Own = "\x8e\xa9";      // 自
inline constexpr std::string_view Random = "\x83\x89";   // ラ
inline constexpr std::string_view AllFront = "\x82"
                                             "b";               // Ｃ (full-width C)
inline constexpr std::string_view AllFrontAndVehicle = "\x82`"; // Ａ (full-width A)
inline constexpr std::string_view Pierce = "\x8a\xd1";          // 貫

} // namespace morvane::mark
