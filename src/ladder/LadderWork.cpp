// Unit folders only: placing a unit, reading the answered ones and retiring them. The
// runners that play the units come with the ladder.

#include "ladder/LadderWork.h"

#include "common/AtomicFile.h"
#include "common/Errors.h"
#include "common/Files.h"

#include <algorithm>
#include <system_error>

namespace fs = std::filesystem;

namespace morvane {

namespace {

constexpr std::string_view UnitFile = "unit.dat";
constexpr std::string_view AnswerFile = "answer.dat";
constexpr std::uintmax_t MaxUnitBytes = std::uintmax_t{16} << 20;

bool unitId(std::string_view id) {
    return !id.empty() && id.size() <= 32 && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '-';
    });
}

std::string_view kindName(WorkKind kind) {
    return kind == WorkKind::Event ? "event" : "matches";
}

// unit.dat: the kind on the first line, the body after it.
std::optional<WorkUnit> readUnit(const fs::path& folder, const std::string& id) {
    const std::string text = readFileBytes(folder / UnitFile, MaxUnitBytes);
    const size_t end = text.find('\n');
    if (end == std::string::npos)
        return std::nullopt;
    const std::string_view kind = std::string_view(text).substr(0, end);
    WorkUnit unit;
    unit.id = id;
    if (kind == "event")
        unit.kind = WorkKind::Event;
    else if (kind == "matches")
        unit.kind = WorkKind::Matches;
    else
        return std::nullopt;
    unit.body = text.substr(end + 1);
    return unit;
}

} // namespace

fs::path ladderWorkFolder(const fs::path& root) {
    return root / "ladder" / "work";
}

void submitWork(const fs::path& root, const WorkUnit& unit) {
    if (!unitId(unit.id))
        throw InputError("no unit id", unit.id);
    const fs::path folder = ladderWorkFolder(root) / unit.id;
    std::error_code error;
    fs::create_directories(ladderWorkFolder(root), error);
    if (!fs::create_directory(folder, error)) {
        if (error)
            throw FolderError(folder.string());
        throw IoError("unit exists", folder.string());
    }
    std::string text(kindName(unit.kind));
    text.append("\n").append(unit.body);
    try {
        if (!placeNewFile(folder / UnitFile, text, 0644, Durability::Folder))
            throw IoError("unit exists", folder.string());
    } catch (...) {
        fs::remove_all(folder, error);
        throw;
    }
}

std::vector<AnsweredWork> answeredWork(const fs::path& root) {
    std::vector<AnsweredWork> answered;
    std::error_code error;
    for (fs::directory_iterator it(ladderWorkFolder(root), error), end; !error && it != end; it.increment(error)) {
        const std::string id = it->path().filename().string();
        if (!unitId(id) || !fs::exists(it->path() / AnswerFile, error))
            continue;
        try {
            std::optional<WorkUnit> unit = readUnit(it->path(), id);
            if (!unit)
                continue;
            answered.push_back({std::move(*unit), readFileBytes(it->path() / AnswerFile, MaxUnitBytes)});
        } catch (const MorvaneError&) {
            // Unreadable now: looked at again next time.
        }
    }
    std::sort(answered.begin(), answered.end(),
              [](const AnsweredWork& a, const AnsweredWork& b) { return a.unit.id < b.unit.id; });
    return answered;
}

void retireWork(const fs::path& root, const std::string& id) {
    if (!unitId(id))
        return;
    std::error_code error;
    fs::remove_all(ladderWorkFolder(root) / id, error);
}

} // namespace morvane
