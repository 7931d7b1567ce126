#include "report/BattleReport.h"

#include "cards/CardCatalogue.h"
#include "common/Clock.h"
#include "report/ReportSink.h"
#include "report/ReportText.h"

#include <charconv>

namespace morvane {

void appendCardHTML(std::string& out, const CardCatalogue& catalogue, std::string_view kind, int32_t id,
                    std::string_view colour) {
    const cardRecordType* row = nullptr;
    if (kind == "C")
        row = &catalogue.character(id);
    else if (kind == "V")
        row = &catalogue.vehicle(id);
    else
        return;
    out.append(text::FontOpen).append(colour).append(text::FontBold).append(row->name).append(text::BoldClose);
}

std::string CardHTML(const CardCatalogue& catalogue, std::string_view kind, int32_t id, std::string_view colour) {
    std::string out;
    appendCardHTML(out, catalogue, kind, id, colour);
    return out;
}

BattleReport::BattleReport(const CardCatalogue& catalogue, ReportSink* sink)
    : catalogue_(catalogue), sink_(sink), clock_(&systemClock()) {}

void BattleReport::WriteReportLine(std::string_view line) {
    if (sink_)
        sink_->writeLine(line);
}

std::string BattleReport::headerLine() const {
    std::string out;
    out.append(text::HeaderTitle)
        .append(text::CreditOpen)
        .append(text::Credit)
        .append(text::CreditClose)
        .append(text::HomePageOpen)
        .append(text::HomePage)
        .append(text::HomePageClose)
        .append(text::HeaderResultLink)
        .append(clock_->timeOfDayText())
        .append(text::HeaderEnd);
    return out;
}

// Ten cells a turn: GCC at -O2 may leave std::string::append out of line here, which
// cost the report path a fifth of its speed; flatten keeps every append inlined.
[[gnu::flatten]] void BattleReport::appendCardCell(std::string& out, const BattleState& state, int32_t slot) const {
    const bool vehicle = slot % 10 == 9;
    const int32_t id = state.slots[static_cast<size_t>(slot)].cardId;
    const char kind = vehicle ? 'V' : 'C';
    const cardRecordType& row = vehicle ? catalogue_.vehicle(id) : catalogue_.character(id);
    const CardTraits& traits = vehicle ? catalogue_.vehicleTraits(id) : catalogue_.characterTraits(id);
    const int32_t power = traits.power.get(kind, id);
    // Ten cells a turn: the card markup and the numbers go straight into the line,
    // without temporary strings (the same bytes).
    auto number = [&out](int32_t value) {
        char buffer[16];
        out.append(buffer, static_cast<size_t>(std::to_chars(buffer, buffer + sizeof buffer, value).ptr - buffer));
    };
    out.append(text::CellOpen);
    appendCardHTML(out, catalogue_, vehicle ? "V" : "C", id, slot < 10 ? text::Blue : text::Red);
    out.append(text::CellHp);
    number(state.slots[static_cast<size_t>(slot)].hp);
    out.append(text::CellAp);
    number(power);
    out.append(text::CellSp);
    number(row.sp);
    out.append(text::CellClose);
}

void BattleReport::appendFrontCell(std::string& out, const BattleState& state, int position) const {
    const int32_t slot = state.Front[static_cast<size_t>(position)];
    if (slot >= 1 && slot <= 20 && state.slots[static_cast<size_t>(slot)].hp > 0)
        appendCardCell(out, state, slot);
    else
        out.append(text::DownCell);
}

std::string BattleReport::rosterLine(const BattleState& state) const {
    std::string out(text::RosterOpen);
    auto cells = [&](std::initializer_list<int32_t> slots) {
        for (int32_t s : slots)
            appendCardCell(out, state, s);
    };
    cells({1, 4, 6});
    out.append(text::EmptyCell);
    cells({11, 14, 16});
    out.append(text::RowBreak);
    cells({2, 9, 7});
    out.append(text::VersusCell);
    cells({12, 19, 17});
    out.append(text::RowBreak);
    cells({3, 5, 8});
    out.append(text::EmptyCell);
    cells({13, 15, 18});
    out.append(text::RosterClose);
    return out;
}

void BattleReport::OpenReport(BattleState& state) {
    if (sink_)
        sink_->open();
    WriteReportLine(text::Html);
    state.ReportOpen = true;
    state.TurnNo = 0;
    if (sink_) {
        WriteReportLine(headerLine());
        WriteReportLine(rosterLine(state));
    } else if (!state.powersReadable) {
        // Without a report the roster is not written, but a card whose AP column is
        // not a number still stops the battle here, as it would with one.
        for (int32_t slot : {1, 4, 6, 11, 14, 16, 2, 9, 7, 12, 19, 17, 3, 5, 8, 13, 15, 18}) {
            const int32_t id = state.slots[static_cast<size_t>(slot)].cardId;
            const bool vehicle = slot % 10 == 9;
            (vehicle ? catalogue_.vehicleTraits(id) : catalogue_.characterTraits(id))
                .power.get(vehicle ? 'V' : 'C', id);
        }
    }
}

void BattleReport::WriteTurnSection(const BattleState& state) {
    if (!sink_) {
        if (state.powersReadable)
            return;
        for (int p = 1; p <= 6; ++p) {
            const int32_t slot = state.Front[static_cast<size_t>(p)];
            if (slot >= 1 && slot <= 20 && state.slots[static_cast<size_t>(slot)].hp > 0)
                catalogue_.characterTraits(state.slots[static_cast<size_t>(slot)].cardId)
                    .power.get('C', state.slots[static_cast<size_t>(slot)].cardId);
        }
        for (int32_t slot : {9, 19}) {
            const int32_t id = state.slots[static_cast<size_t>(slot)].cardId;
            catalogue_.vehicleTraits(id).power.get('V', id);
        }
        return;
    }
    std::string line;
    line.append(text::TurnHeadingOpen).append(std::to_string(state.TurnNo)).append(text::TurnHeadingEnd);
    WriteReportLine(line);
    WriteReportLine(text::FrontOpen);
    WriteReportLine(text::FrontRowOpen);
    auto front = [&](int position) {
        line.clear();
        appendFrontCell(line, state, position);
        WriteReportLine(line);
    };
    auto vehicle = [&](int32_t slot) {
        line.clear();
        appendCardCell(line, state, slot);
        WriteReportLine(line);
    };
    front(1);
    WriteReportLine(text::EmptyCell);
    front(4);
    WriteReportLine(text::FrontRowClose);
    vehicle(9);
    front(2);
    WriteReportLine(text::VersusCell);
    front(5);
    vehicle(19);
    WriteReportLine(text::FrontRowOpen);
    front(3);
    WriteReportLine(text::EmptyCell);
    front(6);
    WriteReportLine(text::FrontRowClose);
    WriteReportLine(text::FrontClose);
}

void BattleReport::CloseReport(BattleState& state) {
    if (sink_)
        sink_->close();
    state.ReportOpen = false;
    if (show_)
        show_();
}

void BattleReport::HaltReport(BattleState& state) noexcept {
    if (state.ReportOpen && sink_ && !sink_->halt())
        state.ReportOpen = false;
}

void BattleReport::AbandonReport(BattleState& state) {
    if (!state.ReportOpen)
        return;
    if (sink_)
        sink_->close();
    state.ReportOpen = false;
}

} // namespace morvane
