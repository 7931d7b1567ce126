#include "cards/Deck.h"

#include "cards/CardCatalogue.h"
#include "cards/NumberRule.h"
#include "common/AtomicFile.h"
#include "common/Errors.h"
#include "common/FileNames.h"
#include "common/Files.h"
#include "common/Messages.h"
#include "common/TextLines.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

namespace morvane {

std::string formatDeckLine(const SideSelection& s, int listNumber) {
    char buffer[128];
    const auto& c = s.characters;
    std::snprintf(buffer, sizeof buffer, "V%.3dC%.3dC%.3dC%.3dC%.3dC%.3dC%.3dC%.3dC%.3d:%.3d", s.vehicle, c[0], c[1],
                  c[2], c[3], c[4], c[5], c[6], c[7], listNumber);
    return buffer;
}

void applyDeckLine(std::string_view line, SideSelection& selection, const CardCatalogue& catalogue) {
    const int32_t vehicle = readNumberColumn(line, 2, 3);
    selection.vehicle = catalogue.offersVehicle(vehicle) ? vehicle : 0;
    for (int k = 1; k <= 8; ++k) {
        const int32_t id = readNumberColumn(line, 4 * k + 2, 3);
        selection.characters[static_cast<size_t>(k - 1)] = catalogue.offersCharacter(id) ? id : 0;
    }
}

SideSelection deckLineIds(std::string_view line) {
    SideSelection ids;
    ids.vehicle = parseNumber(cardColumn(line, 2, 3)).value_or(0);
    for (int k = 1; k <= 8; ++k)
        ids.characters[static_cast<size_t>(k - 1)] = parseNumber(cardColumn(line, 4 * k + 2, 3)).value_or(0);
    return ids;
}

std::vector<size_t> linesUsingCard(const std::vector<std::string>& lines, char kind, int32_t id) {
    std::vector<size_t> found;
    for (size_t i = 0; i < lines.size(); ++i) {
        const SideSelection ids = deckLineIds(lines[i]);
        const bool uses = kind == 'V'
                              ? ids.vehicle == id
                              : std::find(ids.characters.begin(), ids.characters.end(), id) != ids.characters.end();
        if (uses)
            found.push_back(i);
    }
    return found;
}

std::string deckEntryText(std::string_view line) {
    return line.size() > 37 ? std::string(line.substr(37)) : std::string();
}

std::vector<TextLine> readDeckFile(const std::filesystem::path& path) {
    return readTextLines(path, MaxDeckFileBytes);
}

std::vector<DeckSource> readDeckSources(const std::filesystem::path& path) {
    std::vector<DeckSource> sources;
    for (TextLine& line : readDeckFile(path))
        sources.push_back({std::move(line.text), path.string() + ":" + std::to_string(line.number)});
    return sources;
}

SideSelection applyDeckSource(const DeckSource& source, const CardCatalogue& catalogue) {
    SideSelection team;
    try {
        applyDeckLine(source.line, team, catalogue);
    } catch (MorvaneError& e) {
        e.setWhere(source.where);
        throw;
    }
    return team;
}

DeckList DeckList::load(const std::filesystem::path& path) {
    DeckList list;
    for (TextLine& line : readDeckFile(path))
        list.lines_.push_back(std::move(line.text));
    list.read_ = true;
    return list;
}

std::vector<std::string> DeckList::entries() const {
    std::vector<std::string> entries;
    entries.reserve(lines_.size());
    for (const std::string& line : lines_)
        entries.push_back(deckEntryText(line));
    return entries;
}

std::string DeckList::add(const SideSelection& selection) {
    const int n = static_cast<int>(lines_.size());
    lines_.push_back(formatDeckLine(selection, n));
    char entry[32];
    std::snprintf(entry, sizeof entry, "%.3d", n);
    return entry;
}

std::string DeckList::fileBytes() const {
    std::string bytes;
    for (const std::string& line : lines_) {
        bytes += line;
        bytes += "\r\n";
    }
    bytes += "\r\n";
    return bytes;
}

void DeckList::save(const std::filesystem::path& path) const {
    // A link to a missing file counts as no file: the save creates what it names.
    std::error_code ec;
    if (!read_ && std::filesystem::exists(path, ec))
        throw IoError(std::string(msg::ListNotRead), path.string());
    writeFileAtomic(path, fileBytes());
}

std::filesystem::path deckFilePath(const std::filesystem::path& folder, int side) {
    return findFileNoCase(folder, file::Decks[side == 0 ? 0 : 1]);
}

} // namespace morvane
