#include "balance/BalancePage.h"

#include "balance/Suggest.h"
#include "cards/CardCatalogue.h"
#include "common/Codec.h"
#include "common/Html.h"
#include "stats/ResultText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace morvane {

namespace {

// The page's own texts.
constexpr const char* Title = "カードのバランス";
constexpr const char* Style =
    "body{font-family:sans-serif;margin:0 auto;max-width:60em;padding:0 .8em;line-height:1.5;color:#222}"
    "h1{font-size:1.5em}h2{font-size:1.2em;border-bottom:1px solid #ccc;margin-top:1.6em}"
    ".scroll{overflow-x:auto}table{border-collapse:collapse;font-size:.9em}"
    "th,td{border:1px solid #ccc;padding:.2em .45em;text-align:left;vertical-align:top}"
    "td.n{text-align:right;white-space:nowrap}code{font-size:.95em;word-break:break-all}"
    // On a phone a wide table scrolls sideways rather than squeezing a deck line or a
    // team's names into a column one character wide.
    "th{white-space:nowrap}td code{white-space:nowrap;word-break:normal}td{min-width:2.5em}td.names{min-width:14em}"
    "tr.decisive td{background:#fde2e2}tr.unplayed td{color:#888}"
    "svg{width:100%;max-width:44em;height:auto;display:block;margin:.6em 0}"
    "svg text{font-size:11px;font-family:sans-serif}pre{white-space:pre-wrap;word-break:break-all}";

// "C005 双剣の渡り鳥", escaped.
std::string cardLabel(const CardCatalogue& catalogue, bool vehicle, int32_t id) {
    return cardCode(vehicle, id) + " " + escapeHtml(cardNameText(catalogue, vehicle, id));
}

std::string deckText(const SideSelection& team) {
    return escapeHtml(cp932ToUtf8(formatDeckLine(team, 0)));
}

// The team's cards by name: the vehicle, then slots 1 to 8.
std::string teamNames(const CardCatalogue& catalogue, const SideSelection& team) {
    std::string names = escapeHtml(cardNameText(catalogue, true, team.vehicle));
    for (const int32_t id : team.characters)
        names += " / " + escapeHtml(cardNameText(catalogue, false, id));
    return names;
}

// A horizontal bar chart: one row a bar with its label on the left and its value on
// the right, an optional interval drawn as a whisker, and guide lines.
struct Bar {
    std::string label; // escaped
    double value = 0;
    std::optional<Interval> interval;
    std::string text; // escaped, right of the bar
    bool marked = false;
};

std::string barChart(const std::vector<Bar>& bars, double low, double high, const std::vector<double>& guides) {
    constexpr int LabelWidth = 150;
    constexpr int BarWidth = 190;
    constexpr int Width = 420;
    constexpr int Row = 18;
    const int height = static_cast<int>(bars.size()) * Row + 8;
    auto at = [&](double v) {
        const double share = high > low ? (std::clamp(v, low, high) - low) / (high - low) : 0.0;
        return LabelWidth + share * BarWidth;
    };
    auto x = [&](double v) { return fixedText(at(v), 1); };
    std::string svg = "<svg viewBox=\"0 0 " + std::to_string(Width) + " " + std::to_string(height) +
                      "\" role=\"img\" xmlns=\"http://www.w3.org/2000/svg\">";
    for (const double g : guides)
        svg += "<line x1=\"" + x(g) + "\" x2=\"" + x(g) + "\" y1=\"0\" y2=\"" + std::to_string(height) +
               "\" stroke=\"#999\" stroke-dasharray=\"3 3\"/>";
    // Bars grow from zero, or from the left end of a scale that starts above it.
    const double zero = std::clamp(0.0, low, high);
    for (size_t i = 0; i < bars.size(); ++i) {
        const Bar& b = bars[i];
        const int y = static_cast<int>(i) * Row + 4;
        const double left = std::min(at(zero), at(b.value));
        svg += "<text x=\"" + std::to_string(LabelWidth - 4) + "\" y=\"" + std::to_string(y + 12) +
               "\" text-anchor=\"end\">" + b.label + "</text>";
        svg += "<rect x=\"" + fixedText(left, 1) + "\" y=\"" + std::to_string(y + 2) + "\" width=\"" +
               fixedText(std::abs(at(b.value) - at(zero)), 1) + "\" height=\"" + std::to_string(Row - 6) +
               "\" fill=\"" + (b.marked ? "#d9534f" : "#4a7fb5") + "\"/>";
        if (b.interval)
            svg += "<line x1=\"" + x(b.interval->low) + "\" x2=\"" + x(b.interval->high) + "\" y1=\"" +
                   std::to_string(y + Row / 2) + "\" y2=\"" + std::to_string(y + Row / 2) +
                   "\" stroke=\"#222\" stroke-width=\"1.5\"/>";
        svg += "<text x=\"" + std::to_string(LabelWidth + BarWidth + 4) + "\" y=\"" + std::to_string(y + 12) + "\">" +
               b.text + "</text>";
    }
    return svg + "</svg>";
}

// A card's verdict in the table, with what would settle an open one.
std::string verdictLabel(const CardBalance& c) {
    const CardVerdict v = c.verdict();
    switch (v.verdict) {
    case Verdict::DecidesTooMuch:
        return "決めすぎ";
    case Verdict::Unplayed:
        return "誰も使わない";
    case Verdict::Fine:
        return "-";
    case Verdict::Uncertain:
        break;
    }
    std::string text = v.question == CardVerdict::Use     ? "未定: 過半数が使うか"
                       : v.question == CardVerdict::Stack ? "未定: 4分の1を超えるチームが3枚以上か"
                                                          : "未定: 6分の1未満か";
    return text.append(v.searchesToSettle ? "（約 " + std::to_string(v.searchesToSettle) + " 回で決まる）"
                                          : "（割合が線上）");
}

// A share of best teams as whole percents: "51% 〜 85%".
std::string sharesText(const Interval& i) {
    return fixedText(i.low * 100.0, 0).append("% 〜 ").append(fixedText(i.high * 100.0, 0)).append("%");
}

void summary(std::string& page, const BalanceReport& r, const CardCatalogue& catalogue) {
    auto list = [&](const std::vector<const CardBalance*>& cards) {
        if (cards.empty())
            return std::string("なし");
        std::string text;
        for (const CardBalance* c : cards)
            text += (text.empty() ? "" : "、") + cardLabel(catalogue, c->vehicle, c->id);
        return text;
    };
    const size_t searches = r.searches.size();
    int mostCopies = 0;
    for (const CardBalance& c : r.characters)
        mostCopies = std::max(mostCopies, c.mostCopies());
    page += "<h2>まとめ</h2><ul>";
    page += "<li>最強チームの対フィールド勝率（新しい種で計測）: 最高 " + percentText(r.strongest()) + "</li>";
    page += "<li>最強チームが使うカード: キャラクター " + std::to_string(r.distinctCharacters()) + " 種類（全 " +
            std::to_string(r.characters.size()) + "）、車両 " + std::to_string(r.distinctVehicles()) + " 種類（全 " +
            std::to_string(r.vehicles.size()) + "）</li>";
    page += "<li>1チームで同じキャラクターを使う最多枚数: " + std::to_string(mostCopies) + "</li>";
    page += "<li>決めすぎるカード（99%の確信で、すべての最強チームの過半数が使う、または4分の1を超えるチームが3枚以上"
            "持つ）: " +
            list(r.decisive()) + "</li>";
    page += "<li>誰も使わないカード（99%の確信で、使う最強チームが6分の1未満）: " + list(r.unplayed()) + "</li>";
    page += "<li>まだ決まらないカード（区間が線をまたぐ。下の表に、割合がこのままなら決まる探索の回数）: " +
            list(r.uncertain()) + "</li></ul>";
    page += "<p>判定は " + std::to_string(searches) + " 回の探索から";
    if (r.extraSearches() > 0)
        page += "（うち " + std::to_string(r.extraSearches()) + " 回は判定を決めるために追加）";
    page += "。探索はそれぞれ独立に最強チームを1つ選ぶので、カードを使うチームの割合には区間があります。判定を決めるた"
            "めに探索を足すたびに見直すので、偶然に線を越えないよう99%区間で判定します。"
            "区間が線の片側にあるときだけ判定し、線をまたぐカードは「まだ決まらない」とします。</p>";
    if (r.interrupted)
        page += "<p>探索は途中で止められました: " + std::to_string(searches) + " / " +
                std::to_string(r.request.searches) + " 回の探索の結果です。</p>";
}

void bestTeams(std::string& page, const BalanceReport& r, const CardCatalogue& catalogue) {
    page += "<h2>最強チーム</h2><p>探索ごとに見つかった最強チームの、フィールドの各デッキ・各側 " +
            std::to_string(r.request.finalBattles) +
            " 戦ずつでの勝率と95%区間（探索が使わなかった種）。破線は50%と80%。</p>";
    std::vector<Bar> bars;
    for (size_t k = 0; k < r.searches.size(); ++k) {
        const Tally t = r.searches[k].score.total();
        bars.push_back({"探索 " + std::to_string(k + 1), t.winRate(), t.winInterval(), percentText(t.winRate()),
                        t.winRate() > 0.8});
    }
    page += barChart(bars, 0, 1, {0.5, 0.8});
    page += "<div class=\"scroll\"><table><tr><th>探索</th><th>デッキ行</th><th>カード</th><th>勝率</th>"
            "<th>95%区間</th><th>探索の種</th><th>開始チーム</th></tr>";
    for (size_t k = 0; k < r.searches.size(); ++k) {
        const BalanceSearch& s = r.searches[k];
        const Tally t = s.score.total();
        page += "<tr><td class=\"n\">" + std::to_string(k + 1) + "</td><td><code>" + deckText(s.result.best) +
                "</code></td><td class=\"names\">" + teamNames(catalogue, s.result.best) + "</td><td class=\"n\">" +
                percentText(t.winRate()) + "</td><td class=\"n\">" + percentText(t.winInterval().low) + " 〜 " +
                percentText(t.winInterval().high) + "</td><td class=\"n\">" + std::to_string(s.seed) +
                "</td><td><code>" + deckText(s.start) + "</code></td></tr>";
    }
    page += "</table></div>";
}

void cards(std::string& page, const BalanceReport& r, const CardCatalogue& catalogue) {
    const size_t searches = r.searches.size();
    const std::vector<const CardBalance*> decisive = r.decisive();
    auto isDecisive = [&](const CardBalance& c) {
        return std::find(decisive.begin(), decisive.end(), &c) != decisive.end();
    };
    std::vector<const CardBalance*> used;
    for (const auto* table : {&r.characters, &r.vehicles})
        for (const CardBalance& c : *table)
            if (c.teams() > 0)
                used.push_back(&c);
    std::stable_sort(used.begin(), used.end(), [](const CardBalance* a, const CardBalance* b) {
        return a->teams() != b->teams() ? a->teams() > b->teams() : a->mostCopies() > b->mostCopies();
    });

    page += "<h2>カード</h2><p>そのカードを使う最強チームの割合と99%区間（赤は決めすぎるカード）。破線は判定の線の"
            "6分の1と50%。</p>";
    std::vector<Bar> bars;
    bars.reserve(used.size());
    const double n = double(std::max<size_t>(searches, 1));
    for (const CardBalance* c : used)
        bars.push_back({cardLabel(catalogue, c->vehicle, c->id), c->teams() / n, c->useInterval(),
                        std::to_string(c->teams()) + " / " + std::to_string(searches) + "（最多 " +
                            std::to_string(c->mostCopies()) + " 枚）",
                        isDecisive(*c)});
    page += barChart(bars, 0, 1, {UnplayedUse, DecisiveUse});

    page += "<p>そのカードを使う最強チームから、すべての枚数を最良の別のカードに置き換えたときに失う勝率"
            "（ポイント）と95%区間。置き換え先は計測とは別の新しい種で選びました。判定を決めるために追加した探索の"
            "チームは置き換えていません。</p>";
    bars.clear();
    double extent = 0.05;
    for (const CardBalance* c : used)
        if (c->measured()) {
            const Interval i = c->lossInterval();
            extent = std::max({extent, std::abs(i.low), std::abs(i.high)});
        }
    for (const CardBalance* c : used)
        if (c->measured())
            bars.push_back({cardLabel(catalogue, c->vehicle, c->id), c->loss(), c->lossInterval(),
                            pointsText(c->loss()), isDecisive(*c)});
    page += barChart(bars, -extent, extent, {0});

    page += "<div class=\"scroll\"><table><tr><th>カード</th><th>判定</th><th>使うチーム</th><th>99%区間</th>"
            "<th>3枚以上</th><th>99%区間</th><th>枚数（探索ごと）</th><th>置き換えで失う勝率</th><th>95%区間</th>"
            "<th>最良の代わり</th></tr>";
    for (const auto* table : {&r.characters, &r.vehicles}) {
        for (const CardBalance& c : *table) {
            std::string copies;
            std::string others;
            for (size_t k = 0; k < c.copies.size(); ++k) {
                if (k)
                    copies += ' ';
                copies += std::to_string(c.copies[k]);
                if (c.replacements[k] != 0)
                    others.append(others.empty() ? "" : "、")
                        .append(cardLabel(catalogue, c.vehicle, c.replacements[k]));
            }
            const Verdict verdict = c.verdict().verdict;
            const char* row = verdict == Verdict::DecidesTooMuch ? " class=\"decisive\""
                              : verdict == Verdict::Unplayed     ? " class=\"unplayed\""
                                                                 : "";
            page += std::string("<tr") + row + "><td>" + cardLabel(catalogue, c.vehicle, c.id) + "</td><td>" +
                    verdictLabel(c) + "</td><td class=\"n\">" + std::to_string(c.teams()) + " / " +
                    std::to_string(searches) + "</td><td class=\"n\">" + sharesText(c.useInterval()) +
                    "</td><td class=\"n\">" + (c.vehicle ? "-" : std::to_string(c.stacked())) +
                    "</td><td class=\"n\">" + (c.vehicle ? "-" : sharesText(c.stackInterval())) +
                    "</td><td class=\"n\">" + copies + "</td>";
            if (c.measured()) {
                const Interval i = c.lossInterval();
                page += "<td class=\"n\">" + pointsText(c.loss()) + "</td><td class=\"n\">" + pointsText(i.low) +
                        " 〜 " + pointsText(i.high) + "</td><td>" + others + "</td></tr>";
            } else {
                page += std::string("<td class=\"n\">-</td><td class=\"n\">-</td><td>") +
                        (c.teams() > 0 ? "規則に合う別のカードなし" : "") + "</td></tr>";
            }
        }
    }
    page += "</table></div>";
}

void league(std::string& page, const BalanceReport& r, const CardCatalogue& catalogue) {
    const BalanceLeague& l = r.league;
    page += "<h2>最強チーム同士のリーグ</h2>";
    if (l.pairings.empty()) {
        page += "<p>異なる最強チームが2つ未満なので、リーグはありません。</p>";
        return;
    }
    const size_t n = l.teams.size();
    page += "<p>異なる最強チーム " + std::to_string(n) + " 組の総当たり、順序つきの組ごとに " +
            std::to_string(r.league.battles) + " 戦（上下を入れ替えて両方）。</p>";
    std::vector<Bar> bars;
    for (size_t a = 0; a < n; ++a) {
        const Tally t = l.record(a);
        bars.push_back({"#" + std::to_string(a + 1), t.winRate(), l.winInterval(a), percentText(t.winRate()), false});
    }
    page += barChart(bars, 0, 1, {0.5});
    page += "<div class=\"scroll\"><table><tr><th>チーム</th><th>デッキ行</th><th>カード</th><th>探索</th></tr>";
    for (size_t a = 0; a < n; ++a) {
        std::string found;
        for (size_t k = 0; k < l.teamOf.size(); ++k)
            if (l.teamOf[k] == a)
                found.append(found.empty() ? "" : " ").append(std::to_string(k + 1));
        page += "<tr><td>#" + std::to_string(a + 1) + "</td><td><code>" + deckText(l.teams[a]) +
                "</code></td><td class=\"names\">" + teamNames(catalogue, l.teams[a]) + "</td><td>" + found +
                "</td></tr>";
    }
    page += "</table></div><p>行のチームが列のチームに勝つ割合:</p><div class=\"scroll\"><table><tr><th></th>";
    for (size_t b = 0; b < n; ++b)
        page += "<th>#" + std::to_string(b + 1) + "</th>";
    page += "</tr>";
    for (size_t a = 0; a < n; ++a) {
        page += "<tr><th>#" + std::to_string(a + 1) + "</th>";
        for (size_t b = 0; b < n; ++b) {
            if (a == b) {
                page += "<td class=\"n\">-</td>";
                continue;
            }
            const double w = l.against(a, b).winRate();
            // Red for rows that win, blue for rows that lose, pale near even.
            const int strength = static_cast<int>(std::min(1.0, std::abs(w - 0.5) * 2) * 120);
            char colour[48];
            std::snprintf(colour, sizeof colour, "rgb(%d,%d,%d)", w >= 0.5 ? 255 : 255 - strength, 255 - strength,
                          w >= 0.5 ? 255 - strength : 255);
            page += std::string("<td class=\"n\" style=\"background:") + colour + "\">" + percentText(w) + "</td>";
        }
        page += "</tr>";
    }
    page += "</table></div>";
}

void sourcesPart(std::string& page, const BalanceReport& r, const BalanceSources& sources) {
    const BalanceRequest& q = r.request;
    page += "<h2>条件と再現</h2><ul>";
    page += "<li>カード: <code>" + escapeHtml(sources.cards) + "</code></li>";
    page += "<li>探索: " + std::to_string(q.searches) + " 回（判定が決まらなければ最大 " +
            std::to_string(std::max(q.searches, q.maxSearches)) + " 回）、各 " + std::to_string(q.budget) +
            " 戦、乱数の種 " + std::to_string(q.seed) + "、" + std::to_string(r.threads) + " スレッド、" +
            fixedText(r.seconds, 1) + " 秒</li>";
    page += "<li>フィールド（" +
            std::string(q.field.side == PlaySide::Both  ? "上下両方"
                        : q.field.side == PlaySide::Top ? "上"
                                                        : "下") +
            "で対戦）:<ul>";
    for (size_t d = 0; d < q.field.decks.size(); ++d)
        page += "<li><code>" + deckText(q.field.decks[d]) + "</code> " +
                (d < sources.fieldSources.size() ? escapeHtml(sources.fieldSources[d]) : std::string()) + "</li>";
    page += "</ul></li></ul>";
    if (!sources.command.empty())
        page +=
            "<p>同じ結果を出すコマンド（スレッド数によらず同じ）:</p><pre>" + escapeHtml(sources.command) + "</pre>";
}

std::string head() {
    return std::string("<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"utf-8\">") +
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">" + "<title>" + Title +
           "</title><style>" + Style + "</style></head><body>\n<h1>" + Title + "</h1>\n";
}

// A round's figures as table cells: objective, strongest with its interval, stacking
// teams, characters and vehicles used.
std::string figureCells(const BalanceFigures& f) {
    return "<td class=\"n\">" + fixedText(f.objective, 1) + "</td><td class=\"n\">" + percentText(f.strongest) +
           "</td><td class=\"n\">" + percentText(f.strongestInterval.low) + " 〜 " +
           percentText(f.strongestInterval.high) + "</td><td class=\"n\">" + std::to_string(f.stackingTeams) +
           "</td><td class=\"n\">" + std::to_string(f.distinctCharacters) + "</td><td class=\"n\">" +
           std::to_string(f.distinctVehicles) + "</td>";
}

constexpr const char* FigureHeads = "<th>目的値</th><th>最強チームの勝率</th><th>95%区間</th><th>3枚以上のチーム</th>"
                                    "<th>キャラクター</th><th>車両</th>";

} // namespace

std::string suggestionsPage(const std::vector<SuggestRound>& rounds, const BalanceSources& sources) {
    std::string page = head();
    page += "<p>カード1枚の1項目を1段階変えた案を、変えたカードでバランスの分析をやり直して計った結果です。目的値は"
            "すべての目標を満たすと0: 最強チームの勝率が80%を超えるポイント、3枚以上を持つ最強チーム1つにつき5、"
            "使われるキャラクターが16種類に足りない1種類につき2、車両が4種類に足りない1種類につき5。"
            "各ラウンドは前のラウンドの最良の案を当てたカードから始めます。"
            "確認の行は、目標を満たしたカードを、案を計ったものとは別の乱数の種で分析し直した結果です。</p>";
    for (size_t k = 0; k < rounds.size(); ++k) {
        const SuggestRound& r = rounds[k];
        page += "<h2>ラウンド " + std::to_string(k + 1) + "</h2><div class=\"scroll\"><table><tr><th>案</th>" +
                FigureHeads + "</tr><tr><td>変更前</td>" + figureCells(r.before) + "</tr>";
        for (size_t i = 0; i < r.proposals.size(); ++i) {
            const Proposal& p = r.proposals[i];
            page += "<tr><td>" + std::to_string(i + 1) + ". " + cardCode(p.change.kind == 'V', p.change.id) + " " +
                    escapeHtml(p.change.field) + " " + std::to_string(p.change.from) + " → " +
                    std::to_string(p.change.to) + (i == 0 && r.applied ? "（適用）" : "") + "</td>" +
                    figureCells(p.figures) + "</tr>";
        }
        if (r.check)
            page += "<tr><td>確認: 乱数の種 " + std::to_string(r.check->seed) + " で分析し直し（探索 " +
                    std::to_string(r.check->searches) + " 回）、目標を" + (r.check->holds() ? "満たす" : "満たさない") +
                    "</td>" + figureCells(r.check->figures) + "</tr>";
        page += "</table></div><ul>";
        for (const Proposal& p : r.proposals)
            page += "<li><code>- " + escapeHtml(cp932ToUtf8(p.change.before)) + "</code><br><code>+ " +
                    escapeHtml(cp932ToUtf8(p.change.after)) + "</code></li>";
        page += "</ul>";
        if (r.fieldRenewed) {
            page += "<p>このラウンドの対戦相手（前のラウンドの最強チームと対戦相手のリーグで選び直したもの）:</p><ul>";
            for (const SideSelection& deck : r.field)
                page += "<li><code>" + deckText(deck) + "</code></li>";
            page += "</ul>";
        }
    }
    if (!sources.command.empty())
        page += "<p>同じ結果を出すコマンド:</p><pre>" + escapeHtml(sources.command) + "</pre>";
    return page + "\n</body></html>\n";
}

std::string balancePage(const BalanceReport& report, const CardCatalogue& catalogue, const BalanceSources& sources) {
    std::string page = head();
    summary(page, report, catalogue);
    bestTeams(page, report, catalogue);
    cards(page, report, catalogue);
    league(page, report, catalogue);
    sourcesPart(page, report, sources);
    return page + "\n</body></html>\n";
}

} // namespace morvane
