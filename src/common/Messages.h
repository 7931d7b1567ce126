#pragma once
// Message texts of the program, code page 932 bytes (the readable text stands beside
// each one; scripts/cp932lit.py turns a text into its literal).

#include <string_view>

namespace morvane::msg {

// "は整数ではありません" (after the quoted column text and a blank)
inline constexpr std::string_view NotAnInteger = "\x82\xcd\x90\xae\x90\x94\x82\xc5\x82\xcd\x82\xa0\x82\xe8\x82\xdc"
                                                 "\x82\xb9\x82\xf1";
// "ﾌｧｲﾙが見つかりません"
inline constexpr std::string_view FileNotFound =
    "\xcc\xa7\xb2\xd9\x82\xaa\x8c\xa9\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
// "ﾌｧｲﾙを作成できません"
inline constexpr std::string_view FileNotCreated =
    "\xcc\xa7\xb2\xd9\x82\xf0\x8d\xec\x90\xac\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1";
// "ﾌｧｲﾙに書き込めません"
inline constexpr std::string_view FileNotWritten =
    "\xcc\xa7\xb2\xd9\x82\xc9\x8f\x91\x82\xab\x8d\x9e\x82\xdf\x82\xdc\x82\xb9\x82\xf1";
// "ﾌｧｲﾙを読み込めません"
inline constexpr std::string_view FileNotRead =
    "\xcc\xa7\xb2\xd9\x82\xf0\x93\xc7\x82\xdd\x8d\x9e\x82\xdf\x82\xdc\x82\xb9\x82\xf1";
// "読み込んでいないﾌｧｲﾙには記録できません" (a deck list that start-up did not read
// from its existing file would be written over it)
inline constexpr std::string_view ListNotRead =
    "\x93\xc7\x82\xdd\x8d\x9e\x82\xf1\x82\xc5\x82\xa2\x82\xc8\x82\xa2\xcc\xa7"
    "\xb2\xd9\x82\xc9\x82\xcd\x8bL\x98^\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1";
// "ﾃﾞｨﾚｸﾄﾘを作成することができません"
inline constexpr std::string_view FolderNotCreated = "\xc3\xde\xa8\xda\xb8\xc4\xd8\x82\xf0\x8d\xec\x90\xac\x82\xb7"
                                                     "\x82\xe9\x82\xb1\x82\xc6\x82\xaa\x82\xc5\x82\xab\x82\xdc\x82"
                                                     "\xb9\x82\xf1";
// "カード番号が範囲外です" (an id column outside the catalogue's tables)
inline constexpr std::string_view CardIdOutOfRange =
    "\x83J\x81[\x83h\x94\xd4\x8d\x86\x82\xaa\x94\xcd\x88\xcd\x8aO\x82\xc5\x82\xb7";
// "のカードが選ばれていません" (after a selector name such as C03)
inline constexpr std::string_view NoCardSelected =
    "\x82\xcc\x83J\x81[\x83h\x82\xaa\x91I\x82\xce\x82\xea\x82\xc4\x82\xa2\x82\xdc\x82\xb9\x82\xf1";

// "サイズ合計がデッキサイズを超えています" (a team the optimizer may not start from)
inline constexpr std::string_view OverDeckSize = "\x83T\x83"
                                                 "C\x83Y\x8d\x87\x8cv\x82\xaa\x83"
                                                 "f\x83"
                                                 "b\x83L\x83T\x83"
                                                 "C\x83Y\x82\xf0\x92\xb4\x82\xa6\x82\xc4\x82\xa2\x82\xdc\x82\xb7";
// "が重複しています" (after a quoted card such as 'C012')
inline constexpr std::string_view CardRepeated = "\x82\xaa\x8f"
                                                 "d\x95\xa1\x82\xb5\x82\xc4\x82\xa2\x82\xdc\x82\xb7";
// "の所持数を超えています" (after a quoted card such as 'C012')
inline constexpr std::string_view OverOwned =
    "\x82\xcc\x8f\x8a\x8e\x9d\x90\x94\x82\xf0\x92\xb4\x82\xa6\x82\xc4\x82\xa2\x82\xdc\x82\xb7";
// "は所持カードの行ではありません" (after the quoted line of an owned-cards file)
inline constexpr std::string_view NotAnOwnedLine = "\x82\xcd\x8f\x8a\x8e\x9d\x83J\x81[\x83h\x82\xcc\x8ds\x82\xc5"
                                                   "\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";

// Messages of the runs of many battles and their shards, which the program speaks
// only on the command line: English, UTF-8.
inline constexpr std::string_view NoFieldDeck = "no field deck";
inline constexpr std::string_view NoLegalTeam = "the catalogue offers no team whose characters fit a vehicle's deck size";
inline constexpr std::string_view NotAPartial = "not a partial result of morvane-cli stats, league or optimize --shard";
inline constexpr std::string_view PartialOfOtherFormat = "a partial result of another format";
inline constexpr std::string_view PartialUnreadable = "not a readable partial result";
inline constexpr std::string_view PartialMakesNoSense = "a partial result whose run makes no sense";
inline constexpr std::string_view PartialOutOfRange = "a figure no run can hold";
inline constexpr std::string_view PartialDoesNotAddUp = "the counts of this partial result do not add up";
inline constexpr std::string_view NoPartials = "no partial results to merge";
inline constexpr std::string_view NotTheSameRun = "not a shard of the same run as";

} // namespace morvane::msg
