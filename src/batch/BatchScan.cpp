#include "batch/BatchScan.h"

#include "cards/Deck.h"
#include "common/Errors.h"
#include "common/Text.h"

#include <cstdio>
#include <system_error>

namespace fs = std::filesystem;

namespace morvane {

namespace {

// Error locations name paths as the file system spells them.
const std::string& where(const std::string& path) {
    return path;
}

// A relative root is taken from the working folder, and a scan that would create its
// first folder there is almost always a mistyped root: it stops instead.
void makeFolder(const std::string& root, const std::string& folder) {
    if (root.empty())
        throw FolderError(where(folder));
    std::error_code ec;
    if (root.front() != '/' && !fs::is_directory(folder.substr(0, folder.find('/')), ec))
        throw FolderError(where(folder));
    fs::create_directories(fs::path(folder).parent_path(), ec);
}

bool holds(const std::string& folder, std::string_view name) {
    std::error_code ec;
    return fs::exists(findFileNoCase(folder, name), ec);
}

} // namespace

std::string batchFolderName(std::string_view root, int number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%.4d/", number);
    return std::string(root) + digits;
}

std::string BatchFolder::name() const {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%.4d", number);
    return digits;
}

std::optional<BatchFolder> BatchScan::next(const std::function<std::string()>& root) {
    while (next_ <= last_) {
        const std::string rootText = root();
        BatchFolder folder{next_, batchFolderName(rootText, next_)};
        makeFolder(rootText, folder.path);
        ++next_;
        if (holds(folder.path, batch::DeckFile) && !holds(folder.path, batch::ReportFile))
            return folder;
    }
    return std::nullopt;
}

std::optional<BatchFolder> BatchScan::next(std::string_view root) {
    const std::string text(root);
    return next([&text] { return text; });
}

DeckPair readDeckPair(const BatchFolder& folder) {
    const std::string file = findFileNoCase(folder.path, batch::DeckFile).string();
    // The error names the file, and why it cannot be read.
    const std::vector<TextLine> lines = readDeckFile(file);
    DeckPair pair;
    auto take = [&](size_t index, std::string& line, std::string& origin) {
        if (index < lines.size()) {
            line = lines[index].text;
            origin = where(file) + ":" + std::to_string(lines[index].number);
        } else {
            origin = where(file) + (index == 0 ? " (no first line)" : " (no second line)");
        }
    };
    take(0, pair.top, pair.topWhere);
    take(1, pair.bottom, pair.bottomWhere);
    return pair;
}

void applyDeckPair(const DeckPair& pair, Teams& teams, const CardCatalogue& catalogue) {
    try {
        Deck0Set(pair.top, teams, catalogue);
    } catch (MorvaneError& e) {
        e.setWhere(pair.topWhere);
        throw;
    }
    try {
        Deck1Set(pair.bottom, teams, catalogue);
    } catch (MorvaneError& e) {
        e.setWhere(pair.bottomWhere);
        throw;
    }
}

void storeBatchReport(const BatchFolder& folder, std::string_view report) {
    const std::string file = folder.path + std::string(batch::ReportFile);
    try {
        writeFileAtomic(file, report);
    } catch (MorvaneError& e) {
        e.setWhere(where(file));
        throw;
    }
}

void copyBatchReport(const fs::path& report, const BatchFolder& folder) {
    std::string bytes;
    try {
        bytes = readFileBytes(report);
    } catch (MorvaneError& e) {
        e.setWhere(where(report.string()));
        throw;
    }
    storeBatchReport(folder, bytes);
}

} // namespace morvane
