// Any bytes as a deck file: each line applied to a side as a deck line, and the list
// written back as the save button writes it. Applying selects only cards the
// catalogue offers (or nothing), a team written as a deck line applies as the same
// team, and a saved list reads back as the same list.

#include "cards/CardCatalogue.h"
#include "cards/Deck.h"
#include "common/Errors.h"
#include "common/TextLines.h"

#include <cstdint>
#include <string_view>

namespace {

// Characters 1-6 and vehicles 1-2 with gaps at 3 and 5, so ids the catalogue lacks
// are met too.
const morvane::CardCatalogue& catalogue() {
    static const morvane::CardCatalogue cards = [] {
        std::string bytes;
        for (const char* id : {"001", "002", "004", "006"})
            bytes += std::string("C") + id + "\x95\xa8\x92n 1 9 3 5" + std::string(50, '-') + "name\r\n";
        for (const char* id : {"001", "002"})
            bytes += std::string("V") + id + "\x81Q\x92n5030 0 0" + std::string(50, '-') + "car\r\n";
        morvane::CardCatalogue c;
        c.loadBytes(bytes);
        return c;
    }();
    return cards;
}

bool offered(const morvane::SideSelection& side) {
    if (side.vehicle != 0 && !catalogue().offersVehicle(side.vehicle))
        return false;
    for (const int32_t id : side.characters)
        if (id != 0 && !catalogue().offersCharacter(id))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace morvane;
    const std::vector<TextLine> lines = splitTextLines(std::string_view(reinterpret_cast<const char*>(data), size));
    DeckList list;
    for (const TextLine& line : lines) {
        list.addLine(line.text);
        deckEntryText(line.text);
        SideSelection side;
        try {
            applyDeckLine(line.text, side, catalogue());
        } catch (const InputError&) {
            // A column that is no number, or an id short of its digits.
        }
        if (!offered(side))
            __builtin_trap();
        SideSelection again;
        applyDeckLine(formatDeckLine(side, static_cast<int>(list.lines().size())), again, catalogue());
        if (!(again == side))
            __builtin_trap();
    }
    std::vector<std::string> read;
    for (TextLine& line : splitTextLines(list.fileBytes()))
        read.push_back(std::move(line.text));
    if (read != list.lines())
        __builtin_trap();
    return 0;
}
