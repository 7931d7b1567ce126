#include "tournament/TournamentPage.h"

#include "cards/CardCatalogue.h"
#include "common/Codec.h"
#include "common/Html.h"
#include "stats/ResultText.h"

#include <cstdio>

namespace morvane {

namespace {

constexpr const char* Style =
    "body{font-family:sans-serif;margin:0 auto;max-width:64em;padding:0 .8em;line-height:1.5;color:#222}"
    "h1{font-size:1.5em}h2{font-size:1.2em;border-bottom:1px solid #ccc;margin-top:1.6em}"
    ".scroll{overflow-x:auto}table{border-collapse:collapse;font-size:.9em}"
    "th,td{border:1px solid #ccc;padding:.2em .45em;text-align:left;vertical-align:top}"
    "th{white-space:nowrap}td.n{text-align:right;white-space:nowrap}td.team{min-width:16em}"
    "code{font-size:.9em;word-break:break-all}tr.champion td{background:#fff4c2}"
    ".bracket{display:flex;gap:1em;overflow-x:auto;align-items:stretch}"
    ".bracket ol{list-style:none;margin:0;padding:0;display:flex;flex-direction:column;justify-content:space-around;"
    "min-width:11em}.bracket li{border:1px solid #bbb;border-radius:4px;margin:.3em 0;padding:.2em .4em}"
    ".bracket .won{font-weight:bold}.bracket .score{float:right;color:#555}";

std::string deckName(size_t entrant) {
    // Appended, not "#" + text: GCC 12 at -O3 takes that for an overlapping copy.
    return std::string("#").append(std::to_string(entrant + 1));
}

// The team's cards by name with their size, the vehicle first: what a player reads a
// team by.
std::string teamText(const CardCatalogue& catalogue, const SideSelection& team) {
    const cardRecordType& vehicle = catalogue.vehicle(team.vehicle);
    std::string text = escapeHtml(cp932ToUtf8(vehicle.name)) + "（" + std::to_string(vehicle.size) + "）:";
    for (const int32_t id : team.characters) {
        const cardRecordType& c = catalogue.character(id);
        text.append(" ").append(escapeHtml(cp932ToUtf8(c.name))).append("(").append(std::to_string(c.size)).append(")");
    }
    return text;
}

std::string pointsText(double points) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", points);
    return text;
}

std::string scoreText(const Match& m) {
    std::string text = std::to_string(m.winsA) + "-" + std::to_string(m.winsB);
    if (m.undecided)
        text += "（引き分け " + std::to_string(m.undecided) + "）";
    return text;
}

void standings(std::string& page, const TournamentResult& r, const std::vector<SideSelection>& entrants,
               const CardCatalogue& catalogue) {
    const bool knockout = r.format == TournamentFormat::Knockout;
    page += "<h2>順位</h2><div class=\"scroll\"><table><tr><th>順位</th><th>デッキ</th><th>チーム</th>";
    page += knockout
                ? "<th>到達ラウンド</th><th>勝</th>"
                : "<th>勝点</th><th>ブッフホルツ</th><th>ゾンネボーン・ベルガー</th><th>勝</th><th>分</th><th>負</th>";
    page += "<th>対戦の勝-負</th></tr>";
    for (size_t i = 0; i < r.standings.size(); ++i) {
        const Standing& s = r.standings[i];
        page += s.entrant == r.champion && !r.interrupted ? "<tr class=\"champion\">" : "<tr>";
        page += "<td class=\"n\">" + std::to_string(i + 1) + "</td><td>" + deckName(s.entrant) +
                "</td><td class=\"team\">" + teamText(catalogue, entrants[s.entrant]) + "<br><code>" +
                escapeHtml(cp932ToUtf8(formatDeckLine(entrants[s.entrant], 0))) + "</code></td>";
        if (knockout)
            page += "<td class=\"n\">" + std::to_string(s.roundsReached) + "</td><td class=\"n\">" +
                    std::to_string(s.won) + "</td>";
        else
            page += "<td class=\"n\">" + pointsText(s.points) + "</td><td class=\"n\">" + pointsText(s.buchholz) +
                    "</td><td class=\"n\">" + pointsText(s.sonnebornBerger) + "</td><td class=\"n\">" +
                    std::to_string(s.won) + "</td><td class=\"n\">" + std::to_string(s.drawn) +
                    "</td><td class=\"n\">" + std::to_string(s.lost) + "</td>";
        page += "<td class=\"n\">" + std::to_string(s.battlesWon) + "-" + std::to_string(s.battlesLost) + "</td></tr>";
    }
    page += "</table></div>";
}

void rounds(std::string& page, const TournamentResult& r) {
    page += "<h2>各ラウンドの対戦</h2>";
    for (size_t i = 0; i < r.rounds.size(); ++i) {
        page += "<h3>ラウンド " + std::to_string(i + 1) +
                "</h3><div class=\"scroll\"><table><tr><th>デッキ</th>"
                "<th>相手</th><th>結果</th><th>勝者</th><th>対戦の種</th></tr>";
        for (const Match& m : r.rounds[i].matches) {
            page += "<tr><td>" + deckName(m.a) + "</td>";
            if (m.bye()) {
                page += "<td>不戦勝</td><td></td><td>" + deckName(m.a) + "</td><td></td></tr>";
                continue;
            }
            page += "<td>" + deckName(m.b) + "</td><td class=\"n\">" + scoreText(m) + "</td><td>" +
                    (m.winner == -1 ? std::string("引き分け") : deckName(m.winnerEntrant())) +
                    (m.bySeed ? "（シード順）" : "") + "</td><td class=\"n\">" + std::to_string(m.seed) + "</td></tr>";
        }
        page += "</table></div>";
    }
}

void bracket(std::string& page, const TournamentResult& r) {
    page += "<h2>トーナメント表</h2><div class=\"bracket\">";
    for (const TournamentRound& round : r.rounds) {
        page += "<ol>";
        for (const Match& m : round.matches) {
            auto side = [&](size_t entrant, bool won, unsigned wins) {
                return std::string("<div") + (won ? " class=\"won\"" : "") + ">" +
                       (entrant == Bye ? std::string("不戦勝") : deckName(entrant)) +
                       (m.bye() ? std::string() : "<span class=\"score\">" + std::to_string(wins) + "</span>") +
                       "</div>";
            };
            page += "<li>" + side(m.a, m.winner == 0, m.winsA) + side(m.b, m.winner == 1, m.winsB) + "</li>";
        }
        page += "</ol>";
    }
    if (!r.interrupted)
        page += "<ol><li><div class=\"won\">優勝 " + deckName(r.champion) + "</div></li></ol>";
    page += "</div>";
}

} // namespace

std::string tournamentPage(const TournamentResult& r, const std::vector<SideSelection>& entrants,
                           const CardCatalogue& catalogue, const TournamentSources& sources) {
    std::string page = "<!DOCTYPE html><html lang=\"ja\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                       "<title>トーナメント</title><style>";
    page += Style;
    page += "</style></head><body><h1>トーナメント：" + std::string(formatTitle(r.format)) + "</h1><ul>";
    page += "<li>デッキ: " + std::to_string(entrants.size()) + "（" + escapeHtml(sources.decks) + "）</li>";
    page += "<li>1対戦 " + std::to_string(sources.battles) + " 戦（先に過半数を勝った側の勝ち、上下を交互に）</li>";
    page += "<li>ラウンド: " + std::to_string(r.rounds.size()) + "、戦闘 " + std::to_string(r.battles) + " 回</li>";
    if (r.interrupted)
        page += "<li>途中で止められました: ここまでのラウンドの結果です。</li>";
    else
        page += "<li>優勝: " + deckName(r.champion) + " " + teamText(catalogue, entrants[r.champion]) + "</li>";
    page += "</ul>";
    standings(page, r, entrants, catalogue);
    if (r.format == TournamentFormat::Knockout)
        bracket(page, r);
    rounds(page, r);
    page += "<h2>再現</h2><p>同じ大会: <code>" + escapeHtml(sources.command) +
            "</code></p><p>対戦の戦闘 k（0から）は種 <code>morvane-cli stats --seed 対戦の種 --seed-of k</code> "
            "が示す種で、"
            "k が偶数なら左のデッキが上側、奇数なら下側: <code>morvane-cli battle --seed 種 --top 上側 --bottom "
            "下側</code> で見られます。</p></body></html>\n";
    return page;
}

} // namespace morvane
