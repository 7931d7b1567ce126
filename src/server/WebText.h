#pragma once
// The words of the service's own pages and refusals, in UTF-8 as web pages are (the
// reports stay code page 932 as the runner wrote them). The page files under web/
// hold the rest.

#include <string_view>

namespace morvane::web {

inline constexpr std::string_view NotFound = "ページが見つかりません";
inline constexpr std::string_view TooLarge = "送信された内容が大きすぎます";
inline constexpr std::string_view TooMany = "送信が多すぎます。しばらくしてから送ってください";
inline constexpr std::string_view QueueFull = "対戦の順番待ちがいっぱいです。しばらくしてから送ってください";
inline constexpr std::string_view NotTaken = "対戦を受け付けられませんでした。しばらくしてから送ってください";
inline constexpr std::string_view TooManyConnections =
    "このアドレスからの接続が多すぎます。ほかの接続が終わってから試してください";
inline constexpr std::string_view HeadTooLarge = "要求のヘッダーが大きすぎます";
inline constexpr std::string_view BadRequest = "要求を読み取れませんでした";
// A JSON request whose body is not the object the call takes; the English detail
// names the fields.
inline constexpr std::string_view BadBody = "送信された内容の形式が正しくありません";
inline constexpr std::string_view NoDeckLine = "デッキ行を入力してください";
inline constexpr std::string_view NotAllowed = "このアドレスではその方法は使えません";
inline constexpr std::string_view ServerFault = "サーバーで問題が起きました。しばらくしてから試してください";

inline constexpr std::string_view TopWins = "上の勝ち";
inline constexpr std::string_view BottomWins = "下の勝ち";
inline constexpr std::string_view NoWinner = "勝者なし（ターン上限）";
// "（18ターン）" after the result
inline constexpr std::string_view TurnsOpen = "（";
inline constexpr std::string_view TurnsClose = "ターン）";
// "順番待ち（3番目）"
inline constexpr std::string_view Waiting = "順番待ち";
inline constexpr std::string_view PlaceOpen = "（";
inline constexpr std::string_view PlaceClose = "番目）";
inline constexpr std::string_view Playing = "対戦中";
inline constexpr std::string_view Failed = "対戦できませんでした";

// A deck line's problem, on the pages: "上チームのデッキ行: 'C099' はカード一覧にありません"
inline constexpr std::string_view SideLine[2] = {"上チームのデッキ行: ", "下チームのデッキ行: "};
inline constexpr std::string_view NotInCatalogue = " はカード一覧にありません";
inline constexpr std::string_view NoCard = "（なし）";
// "デッキサイズ47を4超えています" beside a team's size over its vehicle's deck size
inline constexpr std::string_view OverOpen = "デッキサイズ";
inline constexpr std::string_view OverMiddle = "を";
inline constexpr std::string_view OverClose = "超えています";

// Tournaments.
inline constexpr std::string_view EventWaiting = "対戦待ち";
inline constexpr std::string_view EventPlayed = "終了";
inline constexpr std::string_view EventFailed = "行えませんでした";
inline constexpr std::string_view EventCancelled = "取り消されました";
inline constexpr std::string_view Bye = "不戦勝";
inline constexpr std::string_view Drawn = "引き分け";
inline constexpr std::string_view BySeed = "（シード順）";
// "ラウンド 2"
inline constexpr std::string_view RoundWord = "ラウンド ";
inline constexpr std::string_view FinalRound = "決勝";
inline constexpr std::string_view EventBadName = "大会名: ";
inline constexpr std::string_view EventNameRule = "名前は1〜60バイト（全角20文字）で、改行や制御文字は使えません";
// "参加チーム 3 行目: ..."
inline constexpr std::string_view EntrantOpen = "参加チーム ";
inline constexpr std::string_view EntrantClose = " 行目: ";
inline constexpr std::string_view EntrantNotALine = "デッキ行でもラダーの登録番号でもありません";
inline constexpr std::string_view NoLadderEntry = "そのラダー登録はありません";
inline constexpr std::string_view EntrantCount = "参加チームは2〜256にしてください";
inline constexpr std::string_view EventBattles = "1対戦の戦闘数は1〜99にしてください";
inline constexpr std::string_view EventRounds =
    "スイス式のラウンド数が多すぎます（同じ組み合わせを繰り返さずに組める数まで）";
inline constexpr std::string_view EventFormat = "形式は round-robin、swiss、knockout のいずれかです";
inline constexpr std::string_view EventSeed = "種は0〜4294967295の整数です";
inline constexpr std::string_view NoEvent = "その大会はありません";
inline constexpr std::string_view WrongKey = "主催者キーが違います";
inline constexpr std::string_view EventAlreadyPlayed = "大会はもう行われたので取り消せません";
inline constexpr std::string_view EventAlreadyCancelled = "大会はもう取り消されています";
inline constexpr std::string_view EventsBusy = "対戦待ちの大会が多すぎます。しばらくしてから作ってください";
inline constexpr std::string_view EventNotTaken = "大会を受け付けられませんでした。しばらくしてから作ってください";
inline constexpr std::string_view WatchSeed = "見る戦闘の種（seed）を0〜4294967295の整数で指定してください";
inline constexpr std::string_view WatchTurns = "ターン上限（turns）は1からこのサービスの上限までの整数です";

} // namespace morvane::web
