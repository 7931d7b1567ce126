#pragma once
// Deck lines: one side's team as card ids in a fixed-column line,
// "V%.3dC%.3dC%.3dC%.3dC%.3dC%.3dC%.3dC%.3dC%.3d:%.3d", and the deck files that keep
// a side's list of them.

#include "common/StoredFile.h"
#include "common/TextLines.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

class CardCatalogue;

// A side's nine selections as card ids; 0 means the selector has no selection.
struct SideSelection {
    int32_t vehicle = 0;
    std::array<int32_t, 8> characters{}; // slots 1 to 8

    bool operator==(const SideSelection&) const = default;
};

// The two teams as the selectors show them: side 0 (top) and side 1 (bottom).
struct Teams {
    std::array<SideSelection, 2> side;
};

std::string formatDeckLine(const SideSelection& selection, int listNumber);

// Applies a deck line to a side's selections, vehicle first, then slots 1 to 8. An id
// that no selector entry offers leaves that selection empty. A column that is not a
// number throws ConversionError; the selections set before it keep their new value.
// An id shorter than its three columns (the line ends inside it, or the next letter
// follows early) throws InputError naming it, "'C01' はカード番号の桁が足りません",
// before any selection changes.
void applyDeckLine(std::string_view line, SideSelection& selection, const CardCatalogue& catalogue);
inline void Deck0Set(std::string_view line, Teams& teams, const CardCatalogue& catalogue) {
    applyDeckLine(line, teams.side[0], catalogue);
}
inline void Deck1Set(std::string_view line, Teams& teams, const CardCatalogue& catalogue) {
    applyDeckLine(line, teams.side[1], catalogue);
}

// The card ids a deck line names, whether or not a catalogue has them; 0 where a column
// holds no number.
SideSelection deckLineIds(std::string_view line);
// Indexes of the lines that name a card: a character ('C') in any slot, or a vehicle ('V').
std::vector<size_t> linesUsingCard(const std::vector<std::string>& lines, char kind, int32_t id);

// A deck list entry's text: the line from column 38 on (empty for shorter lines).
std::string deckEntryText(std::string_view line);

// Largest deck file read (deck0.dat, deck1.dat, a batch folder's deck.dat, a league's
// list). A deck line is some 42 bytes with its line end, so this holds about 25,000
// of them: far more than a drop-down list can usefully offer or a league can pair.
inline constexpr std::uintmax_t MaxDeckFileBytes = std::uintmax_t{1} << 20;

// A deck file's lines; throws FileNotFoundError or IoError as readTextLines does.
std::vector<TextLine> readDeckFile(const std::filesystem::path& path);

// A deck line and where it came from ("decks.dat:3", "--top deck line"), for messages.
struct DeckSource {
    std::string line;
    std::string where;
};
// Every deck line of a deck file with its file and line number.
std::vector<DeckSource> readDeckSources(const std::filesystem::path& path);
// Applies a deck line to a team of its own; a failure names where the line came from.
SideSelection applyDeckSource(const DeckSource& source, const CardCatalogue& catalogue);

// What a save of a deck list did with what another writer stored meanwhile.
struct DeckSave {
    // Another writer had stored the file since it was read: the list is now the file's
    // lines as that writer left them, this list's new lines after them.
    bool merged = false;
    // The list numbers this list's new lines got in the file, in their order.
    std::vector<int> newNumbers;
};

// One side's stored deck lines, as kept by "deck0.dat" / "deck1.dat".
class DeckList {
public:
    // Reads the deck file; throws FileNotFoundError or IoError.
    static DeckList load(const std::filesystem::path& path);
    // The list of a deck file as read (missing: an empty list).
    static DeckList of(StoredFile file);

    const std::vector<std::string>& lines() const { return lines_; }
    std::vector<std::string> entries() const;

    // Appends the team as a new line whose list number is the current line count;
    // returns the new entry text.
    std::string add(const SideSelection& selection);
    void addLine(std::string line) { lines_.push_back(std::move(line)); }

    // The file's bytes: every line and CR LF, then one more CR LF. A file read with a
    // byte 26 before its end keeps that byte and everything after it, after the lines:
    // readers stop at it, so those bytes were never lines of the list, and a save must
    // not lose them.
    std::string fileBytes() const;
    // Lines added since the list was read or last saved.
    size_t unsavedLines() const { return lines_.size() - savedLines_; }

    // Replaces the file atomically, under its lock, when it still holds what was read.
    // Where another writer stored it since, nothing of that writer's is dropped: under
    // the same lock the file is read again and the lines added here are appended to
    // it, renumbered from where its list ends, as appendToDeckFile does; the list
    // becomes the merged one. Throws IoError and leaves the file as it was. A list that
    // was not read from its file (start-up stopped before it) must not empty an
    // existing file: IoError ("読み込んでいないﾌｧｲﾙには記録できません"). Where no file
    // exists yet, the save creates it.
    DeckSave save(const std::filesystem::path& path);

private:
    friend int appendToDeckFile(const std::filesystem::path& path, const SideSelection& team);
    // The file as it stands now, with teams appended to it and stored; the caller holds
    // the file's lock.
    static DeckList appendLocked(const std::filesystem::path& path, const FileLock& lock,
                                 const std::vector<SideSelection>& teams);

    std::vector<std::string> lines_;
    // How many of lines_ the file held when it was read or saved.
    size_t savedLines_ = 0;
    // The file as read, and what of it follows a byte 26.
    StoredFile stored_;
    std::string afterEnd_;
};

// Appends the team to the deck file as it stands now (created when missing), as one
// step under the file's lock: writers appending at the same time each keep their
// line and get their own list number. Returns the new line's list number, the count
// of lines before it. Throws IoError and leaves the file as it was.
int appendToDeckFile(const std::filesystem::path& path, const SideSelection& team);

// A list number as a deck list shows it: "%.3d".
std::string listNumberText(int listNumber);

// The program folder's deck file of a side, found without regard to case so that
// "deck0.dat" and "Deck0.dat" name one file.
std::filesystem::path deckFilePath(const std::filesystem::path& folder, int side);

} // namespace morvane
