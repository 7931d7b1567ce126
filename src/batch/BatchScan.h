#pragma once
// The batch runner's walk over its numbered folders. Deck pairs are dropped into
// folders 0000/, 0001/, ... under a root folder; a folder that holds "deck.dat" but no
// "battle.html" is ready and gets one battle, whose report it then receives as
// "battle.html"; a folder that holds "battle.html" is done.
//
// This neither plays nor waits for battles: the caller starts each battle its own way
// and comes back once it has ended. The command line tool walks the folders in a loop;
// the desktop program keeps a BatchScan and the folder whose battle runs between ticks
// of its timer:
//
//   tick:  if a batch battle was started: if it is still running, re-arm and return;
//              if it halted, show the error, forget the folder and stop (timer stays off);
//              else copyBatchReport(the program folder's report, that folder), passing
//              over a failed copy (the folder stays ready), forget it and go on with the
//              same scan;
//          otherwise scan = BatchScan(last).
//          if (folder = scan.next(root text)): readDeckPair, applyDeckPair (or Deck0Set,
//              Deck1Set with its lines), click BattleBtn, remember the folder, re-arm, return.
//          re-arm (the next scan follows a second later).
//
// A battle left halted by an earlier failure still holds its open report, and the
// battle button would carry on in it: abandon it before a folder's battle starts, so
// that the folder receives a report of its own battle only.
//
// Paths are in the file system's own encoding; error locations are code page 932.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

class CardCatalogue;
struct Teams;

namespace batch {
inline constexpr std::string_view DeckFile = "deck.dat";
inline constexpr std::string_view ReportFile = "battle.html";
} // namespace batch

// Folder `number` under root: the root text as given, the number as "%.4d", then "/".
std::string batchFolderName(std::string_view root, int number);

struct BatchFolder {
    int number = 0;
    std::string path; // ends with "/"

    // The folder's number as "%.4d".
    std::string name() const;
};

class BatchScan {
public:
    // One scan over folders 0 to last, both included; last < 0 scans nothing.
    explicit BatchScan(int last = -1) : last_(last) {}

    // Walks on from the folder after the one returned last, making sure each folder
    // exists (parents first), and returns the first ready one; nothing once folder
    // `last` has been passed. The root text is asked afresh for every folder, so an
    // edit made while a scan runs takes effect at the next folder. A folder that
    // cannot be created is passed over: its deck pair is simply not found.
    //
    // Throws FolderError, and stays at that folder, when the root text is empty or is
    // relative with a first folder that does not exist.
    std::optional<BatchFolder> next(const std::function<std::string()>& root);
    std::optional<BatchFolder> next(std::string_view root);

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

// Puts a finished report into the folder as "battle.html" through a temporary file and
// a rename, so that a crash or a full disk never leaves a partial report that would
// count as done. Throws IoError naming the file; the folder then stays ready.
void storeBatchReport(const BatchFolder& folder, std::string_view report);
// The same from a report file that a battle wrote.
void copyBatchReport(const std::filesystem::path& report, const BatchFolder& folder);

} // namespace morvane
