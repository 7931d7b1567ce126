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
#include <array>
#include <cstdio>
#include <system_error>

namespace morvane {

std::string formatDeckLine(const SideSelection& s, int listNumber) {
    const auto& c = s.characters;
    const std::array<int32_t, 10> numbers{s.vehicle, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], listNumber};
    // Ids of three digits by hand: the ladder formats and checks two deck lines a match,
    // millions a minute, and snprintf took a fifth of a runner's time.
    if (std::all_of(numbers.begin(), numbers.end(), [](int32_t n) { return n >= 0 && n <= 999; })) {
        std::string line = "V000C000C000C000C000C000C000C000C000:000";
        for (size_t k = 0; k < numbers.size(); ++k) {
            char* digits = line.data() + 4 * k + 1;
            digits[0] = static_cast<char>('0' + numbers[k] / 100);
            digits[1] = static_cast<char>('0' + numbers[k] / 10 % 10);
            digits[2] = static_cast<char>('0' + numbers[k] % 10);
        }
        return line;
    }
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "V%.3dC%.3dC%.3dC%.3dC%.3dC%.3dC%.3dC%.3dC%.3d:%.3d", s.vehicle, c[0], c[1],
                  c[2], c[3], c[4], c[5], c[6], c[7], listNumber);
    return buffer;
}

namespace {

// The first column of the id of slot k (0 the vehicle, 1 to 8 the characters).
constexpr int idColumn(int k) {
    return k == 0 ? 2 : 4 * k + 2;
}
constexpr int IdWidth = 3;

// A line cut short, or an id written with a digit too few, still holds numbers where
// the ids stand: "C01" at the end reads as card 1 and a short id in the middle pulls
// the next letter into its column. Either would play a card nobody chose, so the
// whole line is refused before any selection changes. A column that is no number at
// all is left to the number rule and its own message, and so is every id after it.
void refuseShortIds(std::string_view line) {
    for (int k = 0; k <= 8; ++k) {
        const std::string_view column = cardColumn(line, idColumn(k), IdWidth);
        const bool cut = !column.empty() && column.size() < IdWidth;
        if (!cut && (column.empty() || parseNumber(column)))
            continue;
        const std::string_view id = column.substr(0, column.find_first_of("C:\r\n"));
        if ((!cut && id.size() == column.size()) || !parseNumber(id))
            return; // no number at all: the columns after it no longer stand where ids do
        std::string text = "'";
        text.append(1, line[static_cast<size_t>(idColumn(k) - 2)]).append(id).append("' ");
        throw InputError(text.append(msg::DeckIdTooShort));
    }
}

} // namespace

void applyDeckLine(std::string_view line, SideSelection& selection, const CardCatalogue& catalogue) {
    refuseShortIds(line);
    const int32_t vehicle = readNumberColumn(line, idColumn(0), IdWidth);
    selection.vehicle = catalogue.offersVehicle(vehicle) ? vehicle : 0;
    for (int k = 1; k <= 8; ++k) {
        const int32_t id = readNumberColumn(line, idColumn(k), IdWidth);
        selection.characters[static_cast<size_t>(k - 1)] = catalogue.offersCharacter(id) ? id : 0;
    }
}

SideSelection deckLineIds(std::string_view line) {
    SideSelection ids;
    ids.vehicle = parseNumber(cardColumn(line, idColumn(0), IdWidth)).value_or(0);
    for (int k = 1; k <= 8; ++k)
        ids.characters[static_cast<size_t>(k - 1)] = parseNumber(cardColumn(line, idColumn(k), IdWidth)).value_or(0);
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
    return of(StoredFile::read(path, MaxDeckFileBytes));
}

DeckList DeckList::of(StoredFile file) {
    DeckList list;
    for (TextLine& line : splitTextLines(file.bytes()))
        list.lines_.push_back(std::move(line.text));
    const size_t end = file.bytes().find('\x1a');
    if (end != std::string::npos)
        list.afterEnd_ = file.bytes().substr(end);
    list.stored_ = std::move(file);
    list.savedLines_ = list.lines_.size();
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
    return listNumberText(n);
}

std::string listNumberText(int listNumber) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%.3d", listNumber);
    return entry;
}

std::string DeckList::fileBytes() const {
    std::string bytes;
    for (const std::string& line : lines_) {
        bytes += line;
        bytes += "\r\n";
    }
    bytes += "\r\n";
    return bytes + afterEnd_;
}

DeckSave DeckList::save(const std::filesystem::path& path) {
    const FileLock lock(path);
    StoredFile file = stored_.at(path);
    try {
        file.save(fileBytes(), lock);
        stored_ = std::move(file);
        savedLines_ = lines_.size();
        return {};
    } catch (const FileChangedError&) {
        // Another copy of the program, or optimize --save, stored its own lines: they
        // stay, and the lines added here follow them.
    }
    std::vector<SideSelection> added;
    for (size_t i = savedLines_; i < lines_.size(); ++i)
        added.push_back(deckLineIds(lines_[i]));
    DeckList merged = appendLocked(path, lock, added);
    DeckSave outcome{true, {}};
    for (size_t i = merged.lines_.size() - added.size(); i < merged.lines_.size(); ++i)
        outcome.newNumbers.push_back(static_cast<int>(i));
    *this = std::move(merged);
    return outcome;
}

DeckList DeckList::appendLocked(const std::filesystem::path& path, const FileLock& lock,
                                const std::vector<SideSelection>& teams) {
    DeckList list = of(StoredFile::readIfThere(path, MaxDeckFileBytes));
    for (const SideSelection& team : teams)
        list.add(team);
    list.stored_.save(list.fileBytes(), lock);
    list.savedLines_ = list.lines_.size();
    return list;
}

int appendToDeckFile(const std::filesystem::path& path, const SideSelection& team) {
    const FileLock lock(path);
    return static_cast<int>(DeckList::appendLocked(path, lock, {team}).lines().size()) - 1;
}

std::filesystem::path deckFilePath(const std::filesystem::path& folder, int side) {
    return findFileNoCase(folder, file::Decks[side == 0 ? 0 : 1]);
}

} // namespace morvane
