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

} // namespace morvane::web
