#pragma once
// The walk over a batch root's numbered folders. Deck pairs are dropped into folders
// 0000/, 0001/, ... under a root folder; a folder that holds "deck.dat" but no
// "battle.html" is ready and gets one battle, whose report it then receives as
// "battle.html"; a folder that holds "battle.html" is done. BatchRunner drives the
// walk; these are its parts: the scan, the deck pair of a folder and the storing of
// its report.
//
// Paths are in the file system's own encoding; error locations name them as they are.

#include "batch/FolderState.h"

#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

class CardCatalogue;
struct Teams;

// Folder `number` under root: the root text as given, the number as "%.4d", then "/".
std::string batchFolderName(std::string_view root, int number);

// The number of a folder name as batchFolderName spells it ("0042", "12345"); nothing
// for any other name ("42", "00042", "x"), so that one folder never has two numbers.
std::optional<int> batchFolderNumber(std::string_view name);

struct BatchFolder {
    int number = 0;
    std::string path; // ends with "/"

    // The folder's number as "%.4d".
    std::string name() const;
};

// A folder the scan stopped at: one with a deck pair that waits (ready, claimed, or
// still being written), one passed over because it could not be made or looked into
// (problem holds why), or one done but still holding a claim file (claimLeft: its
// runner may have stopped before giving the claim up).
struct ScannedFolder {
    BatchFolder folder;
    std::exception_ptr problem;
    bool claimLeft = false;
    FolderState state = FolderState::Ready;
};

class BatchScan {
public:
    // One scan over folders 0 to last, both included; last < 0 scans nothing.
    explicit BatchScan(int last = -1) : last_(last) {}

    // Walks on from the folder after the one returned last, making sure each folder
    // exists (parents first), and returns the first folder with a waiting deck pair,
    // done folder with a claim file, or folder that had to be passed over; nothing once
    // folder `last` has been passed. Done folders and folders without a deck pair are
    // walked past, and the temporary files that dead writers left in them removed. The root text is asked afresh
    // for every folder, so an edit made while a scan runs takes effect at the next
    // folder.
    //
    // Throws FolderError, and stays at that folder, when the root text is empty or is
    // relative with a first folder that does not exist: such a root is almost always
    // mistyped, and would scatter folders over the working folder.
    std::optional<ScannedFolder> next(const std::function<std::string()>& root);
    std::optional<ScannedFolder> next(std::string_view root);

    bool finished() const { return next_ > last_; }
    int last() const { return last_; }
    // Folders looked at so far in this scan.
    int scanned() const { return next_; }

private:
    int last_;
    int next_ = 0;
};

// The two deck lines of a folder's "deck.dat": the first for the top side, the second
// for the bottom side; a missing line reads as the empty text and later lines are
// ignored. Each line's origin ("…/deck.dat:2") travels along for error messages.
struct DeckPair {
    std::string top;
    std::string bottom;
    std::string topWhere;
    std::string bottomWhere;
};

// Throws FileNotFoundError or IoError naming the file.
DeckPair readDeckPair(const BatchFolder& folder);

// Deck0Set with the top line, then Deck1Set with the bottom line. A line that cannot
// be applied throws ConversionError naming its file and line; selections already
// changed stay changed, as when a saved deck is picked by hand.
void applyDeckPair(const DeckPair& pair, Teams& teams, const CardCatalogue& catalogue);
// The same through the caller's own deck setter (side 0 top, 1 bottom).
void applyDeckPair(const DeckPair& pair, const std::function<void(int side, std::string_view line)>& set);

// Puts a finished report into the folder as "battle.html" through a temporary file
// linked into place, so that a crash or a full disk never leaves a partial report that
// would count as done. False, storing nothing, when the folder has a report already.
// Throws IoError naming the file and the reason; the folder then stays ready.
bool storeBatchReport(const BatchFolder& folder, std::string_view report);

} // namespace morvane
