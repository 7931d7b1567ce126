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
// "読み込んだ後に変更されたﾌｧｲﾙには記録できません" (another writer stored it since it
// was read: saving over it would lose what that writer stored)
inline constexpr std::string_view FileChanged = "\x93\xc7\x82\xdd\x8d\x9e\x82\xf1\x82\xbe\x8c\xe3\x82\xc9\x95\xcf"
                                                "\x8dX\x82\xb3\x82\xea\x82\xbd\xcc\xa7\xb2\xd9\x82\xc9\x82\xcd"
                                                "\x8bL\x98^\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1";
// "ﾌｧｲﾙは使用中です" (another writer holds the file's lock and does not let go)
inline constexpr std::string_view FileBusy = "\xcc\xa7\xb2\xd9\x82\xcd\x8eg\x97p\x92\x86\x82\xc5\x82\xb7";
// "ﾃﾞｨﾚｸﾄﾘを作成することができません"
inline constexpr std::string_view FolderNotCreated = "\xc3\xde\xa8\xda\xb8\xc4\xd8\x82\xf0\x8d\xec\x90\xac\x82\xb7"
                                                     "\x82\xe9\x82\xb1\x82\xc6\x82\xaa\x82\xc5\x82\xab\x82\xdc\x82"
                                                     "\xb9\x82\xf1";
// "カード番号が範囲外です" (an id column outside the catalogue's tables)
inline constexpr std::string_view CardIdOutOfRange =
    "\x83J\x81[\x83h\x94\xd4\x8d\x86\x82\xaa\x94\xcd\x88\xcd\x8aO\x82\xc5\x82\xb7";
// "はカード番号の桁が足りません" (after a quoted id of a deck line, such as 'C01', that
// ends before its three digits: read as it stands it would pick a card nobody chose)
inline constexpr std::string_view DeckIdTooShort = "\x82\xcd\x83J\x81[\x83h\x94\xd4\x8d\x86\x82\xcc\x8c\x85\x82\xaa"
                                                   "\x91\xab\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
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
// A card value the load accepts but the battle or the team editor cannot use, as
// "'25' は範囲外です (1-20): " and one of the reasons after it.
// "は範囲外です"
inline constexpr std::string_view OutsidePlayRange = "\x82\xcd\x94\xcd\x88\xcd\x8aO\x82\xc5\x82\xb7";
// "この速さのキャラクターは行動しません" (the turn loop gives turns to speeds 1 to 20 only)
inline constexpr std::string_view SpeedNeverActs =
    "\x82\xb1\x82\xcc\x91\xac\x82\xb3\x82\xcc\x83L\x83\x83\x83\x89"
    "\x83N\x83^\x81[\x82\xcd\x8ds\x93\xae\x82\xb5\x82\xdc\x82\xb9\x82\xf1";
// "HPが0以下のキャラクターは倒れたまま戦闘を始めます"
inline constexpr std::string_view CharacterStartsDown =
    "HP\x82\xaa"
    "0\x88\xc8\x89\xba\x82\xcc\x83L\x83\x83\x83\x89\x83N\x83^\x81[\x82\xcd\x93|\x82\xea\x82\xbd\x82\xdc"
    "\x82\xdc\x90\xed\x93\xac\x82\xf0\x8en\x82\xdf\x82\xdc\x82\xb7";
// "HPが0以下の車両は最初の攻撃で負けます"
inline constexpr std::string_view VehicleLosesAtOnce =
    "HP\x82\xaa"
    "0\x88\xc8\x89\xba\x82\xcc\x8e\xd4\x97\xbc\x82\xcd\x8d\xc5\x8f\x89\x82\xcc\x8dU\x8c\x82\x82\xc5\x95"
    "\x89\x82\xaf\x82\xdc\x82\xb7";
// "即死の確率は百分率です"
inline constexpr std::string_view KillChanceIsPercent =
    "\x91\xa6\x8e\x80\x82\xcc\x8am\x97\xa6\x82\xcd\x95S\x95\xaa\x97\xa6\x82\xc5\x82\xb7";
// "選択欄に出ないカード番号です" (a row the tables have but no selector offers)
inline constexpr std::string_view IdNotOffered =
    "\x91I\x91\xf0\x97\x93\x82\xc9\x8fo\x82\xc8\x82\xa2\x83J\x81[\x83h\x94\xd4\x8d\x86\x82\xc5\x82\xb7";
// "の所持数を超えています" (after a quoted card such as 'C012')
inline constexpr std::string_view OverOwned =
    "\x82\xcc\x8f\x8a\x8e\x9d\x90\x94\x82\xf0\x92\xb4\x82\xa6\x82\xc4\x82\xa2\x82\xdc\x82\xb7";
// "は所持カードの行ではありません" (after the quoted line of an owned-cards file)
inline constexpr std::string_view NotAnOwnedLine = "\x82\xcd\x8f\x8a\x8e\x9d\x83J\x81[\x83h\x82\xcc\x8ds\x82\xc5"
                                                   "\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";

// Cells of a card table (morvane-cli cards import), each after the quoted cell text:
// "は桁に合いません" (more or fewer bytes than its card columns hold)
inline constexpr std::string_view CellDoesNotFit = "\x82\xcd\x8c\x85\x82\xc9\x8d\x87\x82\xa2\x82\xdc\x82\xb9\x82\xf1";
// "には改行を書けません" (a line break or a byte 26 would end the card's line)
inline constexpr std::string_view CellLineBreak =
    "\x82\xc9\x82\xcd\x89\xfc\x8ds\x82\xf0\x8f\x91\x82\xaf\x82\xdc\x82\xb9\x82\xf1";
// "はカードに書けない文字を含んでいます" (no code page 932 character for it)
inline constexpr std::string_view CellNotCp932 =
    "\x82\xcd\x83J\x81[\x83h\x82\xc9\x8f\x91\x82\xaf\x82\xc8\x82\xa2\x95\xb6"
    "\x8e\x9a\x82\xf0\x8a\xdc\x82\xf1\x82\xc5\x82\xa2\x82\xdc\x82\xb7";
// "という列はありません" (after a quoted column name)
inline constexpr std::string_view UnknownColumn =
    "\x82\xc6\x82\xa2\x82\xa4\x97\xf1\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
// "は行の種類ではありません" (after a quoted kind cell)
inline constexpr std::string_view UnknownRowKind =
    "\x82\xcd\x8ds\x82\xcc\x8e\xed\x97\xde\x82\xc5\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
// "はこの行では使えません" (a cell of a column that this kind of row does not have)
inline constexpr std::string_view CellNotUsed =
    "\x82\xcd\x82\xb1\x82\xcc\x8ds\x82\xc5\x82\xcd\x8eg\x82\xa6\x82\xdc\x82\xb9\x82\xf1";
// "はコメントになりません" (a comment that would start with C or V and so be a card)
inline constexpr std::string_view NotAComment =
    "\x82\xcd\x83R\x83\x81\x83\x93\x83g\x82\xc9\x82\xc8\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
// "は表の最後の行にしか置けません" (the end of the file, or a line without a line end)
inline constexpr std::string_view OnlyOnLastRow =
    "\x82\xcd\x95\x5c\x82\xcc\x8d\xc5\x8c\xe3\x82\xcc\x8ds\x82\xc9\x82\xb5"
    "\x82\xa9\x92u\x82\xaf\x82\xdc\x82\xb9\x82\xf1";
// "表を読み込めません" (a table that is no CSV or JSON table of cards)
inline constexpr std::string_view TableNotRead =
    "\x95\x5c\x82\xf0\x93\xc7\x82\xdd\x8d\x9e\x82\xdf\x82\xdc\x82\xb9\x82\xf1";

// "は行末ではありません" (an "end" cell other than LF, CR or none)
inline constexpr std::string_view NotALineEnd =
    "\x82\xcd\x8ds\x96\x96\x82\xc5\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";

// Messages of the runs of many battles and their shards, which the program speaks
// only on the command line: English, UTF-8.
inline constexpr std::string_view NoFieldDeck = "no field deck";
inline constexpr std::string_view NoLegalTeam =
    "the catalogue offers no team whose characters fit a vehicle's deck size";
inline constexpr std::string_view NotAPartial = "not a partial result of morvane-cli stats, league or optimize --shard";
inline constexpr std::string_view PartialOfOtherFormat = "a partial result of another format";
inline constexpr std::string_view PartialUnreadable = "not a readable partial result";
inline constexpr std::string_view PartialMakesNoSense = "a partial result whose run makes no sense";
inline constexpr std::string_view PartialOutOfRange = "a figure no run can hold";
inline constexpr std::string_view PartialDoesNotAddUp = "the counts of this partial result do not add up";
inline constexpr std::string_view NoPartials = "no partial results to merge";
inline constexpr std::string_view NotTheSameRun = "not a shard of the same run as";

} // namespace morvane::msg
