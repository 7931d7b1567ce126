#pragma once
// The report page of a battle: opening it with its head and roster table, the turn
// heading and front table of every turn, the line writer and the closing. The lines
// of actions, attacks and results belong to the battle; they all pass through
// WriteReportLine here.

#include "state/BattleState.h"

#include <functional>
#include <string>
#include <string_view>

namespace morvane {

class CardCatalogue;
class Clock;
class ReportSink;

// A card's name in bold in its side's colour, the font element left open for the
// cell to close: <font color="Blue"><b>name</b>. Kind "C" or "V"; anything else
// gives the empty text, as does an id without a card.
std::string CardHTML(const CardCatalogue& catalogue, std::string_view kind, int32_t id, std::string_view colour);
// The same, appended to out, for lines built in one piece.
void appendCardHTML(std::string& out, const CardCatalogue& catalogue, std::string_view kind, int32_t id,
                    std::string_view colour);

class BattleReport {
public:
    using ShowReport = std::function<void()>;

    // sink may be null: the battle then runs with the same state changes and draws
    // but builds and writes no text.
    BattleReport(const CardCatalogue& catalogue, ReportSink* sink);

    void setSink(ReportSink* sink) { sink_ = sink; }
    ReportSink* sink() const { return sink_; }
    // Gives the text between "make time[" and "]": its time of day. The system clock
    // by default; the clock must outlive the report.
    void setClock(const Clock& clock) { clock_ = &clock; }
    // Called when a finished report is closed, to show it to the user.
    void setShowReport(ShowReport show) { show_ = std::move(show); }

    void OpenReport(BattleState& state);
    void WriteReportLine(std::string_view text);
    void WriteTurnSection(const BattleState& state);
    void CloseReport(BattleState& state);
    // Ends an unfinished report as it stands: no result lines, nothing shown.
    void AbandonReport(BattleState& state);
    // A turn failed and the battle halted: the report stays open as far as it got,
    // unless a failed write lost it, when the next turn opens a new one.
    void HaltReport(BattleState& state) noexcept;

    std::string headerLine() const;
    std::string rosterLine(const BattleState& state) const;

private:
    void appendCardCell(std::string& out, const BattleState& state, int32_t slot) const;
    void appendFrontCell(std::string& out, const BattleState& state, int position) const;

    const CardCatalogue& catalogue_;
    ReportSink* sink_;
    const Clock* clock_;
    ShowReport show_;
};

} // namespace morvane
