#include "batch/BatchScan.h"

#include "batch/BatchClaim.h"
#include "batch/FolderState.h"
#include "cards/Deck.h"
#include "cards/Team.h"
#include "common/AtomicFile.h"
#include "common/Errors.h"
#include "common/FileNames.h"
#include "common/Files.h"
#include "common/Messages.h"
#include "common/TextLines.h"

#include <cstdio>
#include <sys/stat.h>
#include <system_error>

namespace fs = std::filesystem;

namespace morvane {

namespace {

// A relative root is taken from the working folder, and a scan that would create its
// first folder there is almost always a mistyped root: it stops instead. A folder
// that cannot be made is the caller's to pass over.
void refuseMistypedRoot(const std::string& root, const std::string& folder) {
    if (root.empty())
        throw FolderError(folder);
    std::error_code ec;
    if (root.front() != '/' && !fs::is_directory(folder.substr(0, folder.find('/')), ec))
        throw FolderError(folder);
}

bool madeFolder(const std::string& folder) {
    std::error_code ec;
    fs::create_directories(fs::path(folder).parent_path(), ec);
    return fs::is_directory(folder, ec);
}

} // namespace

std::string batchFolderName(std::string_view root, int number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%.4d/", number);
    return std::string(root) + digits;
}

std::optional<int> batchFolderNumber(std::string_view name) {
    // Nine digits at most, so every number fits an int.
    if (name.size() < 4 || name.size() > 9 || (name.size() > 4 && name.front() == '0'))
        return std::nullopt;
    int number = 0;
    for (const char c : name) {
        if (c < '0' || c > '9')
            return std::nullopt;
        number = number * 10 + (c - '0');
    }
    return number;
}

std::string BatchFolder::name() const {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%.4d", number);
    return digits;
}

std::optional<ScannedFolder> BatchScan::next(const std::function<std::string()>& root) {
    while (next_ <= last_) {
        const std::string rootText = root();
        ScannedFolder found{{next_, batchFolderName(rootText, next_)}, nullptr};
        refuseMistypedRoot(rootText, found.folder.path);
        ++next_;
        if (!madeFolder(found.folder.path)) {
            found.problem = std::make_exception_ptr(FolderError(found.folder.path));
            return found;
        }
        const FolderLook look = lookAtBatchFolder(found.folder.path);
        found.state = look.state;
        found.problem = look.problem;
        // What killed writers left goes at once (a live writer's file is locked and
        // stays); a held folder is its holder's alone.
        if (look.temporaryFiles && look.state != FolderState::Claimed)
            sweepBatchTemporaries(found.folder.path);
        switch (look.state) {
        case FolderState::Missing:
        case FolderState::Empty:
            continue;
        case FolderState::Done:
            // Only a runner that stopped between storing a report and giving up its
            // claim leaves one in a done folder.
            if (!look.claimFile)
                continue;
            found.claimLeft = true;
            return found;
        case FolderState::Writing:
        case FolderState::Ready:
        case FolderState::Claimed:
        case FolderState::Failed:
            return found;
        }
    }
    return std::nullopt;
}

std::optional<ScannedFolder> BatchScan::next(std::string_view root) {
    return next([root] { return std::string(root); });
}

DeckPair readDeckPair(const BatchFolder& folder) {
    const std::string file = findFileNoCase(folder.path, file::BatchDecks).string();
    // The error names the file, and why it cannot be read.
    const std::vector<TextLine> lines = readDeckFile(file);
    DeckPair pair;
    auto take = [&](size_t index, std::string& line, std::string& origin) {
        if (index < lines.size()) {
            line = lines[index].text;
            origin = file + ":" + std::to_string(lines[index].number);
        } else {
            origin = file + (index == 0 ? " (no first line)" : " (no second line)");
        }
    };
    take(0, pair.top, pair.topWhere);
    take(1, pair.bottom, pair.bottomWhere);
    return pair;
}

void applyDeckPair(const DeckPair& pair, const std::function<void(int side, std::string_view line)>& set) {
    applyDeckLines({pair.top, pair.topWhere}, {pair.bottom, pair.bottomWhere}, set);
}

void applyDeckPair(const DeckPair& pair, Teams& teams, const CardCatalogue& catalogue) {
    applyDeckPair(pair, [&](int side, std::string_view line) {
        applyDeckLine(line, teams.side[static_cast<size_t>(side)], catalogue);
    });
}

bool storeBatchReport(const BatchFolder& folder, std::string_view report) {
    // Placed, never renamed over: a runner that stalled past its claim's age and
    // finishes late must not replace the report of the runner that took over.
    return placeNewFile(folder.path + std::string(file::Report), report, 0666, Durability::Folder);
}

} // namespace morvane
