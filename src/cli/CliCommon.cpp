#include "cli/CliCommon.h"

#include "common/Errors.h"
#include "common/Paths.h"
#include "common/Text.h"

#include <algorithm>
#include <iostream>

namespace morvane::cli {

Options::Options(std::vector<std::string> args, const std::vector<std::string>& valued,
                 const std::vector<std::string>& flags) {
    auto has = [](const std::vector<std::string>& list, const std::string& name) {
        return std::find(list.begin(), list.end(), name) != list.end();
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (has(valued, arg)) {
            if (i + 1 >= args.size())
                throw UsageError("option " + arg + " needs a value");
            values_.emplace_back(arg, args[++i]);
        } else if (has(flags, arg)) {
            flags_.push_back(arg);
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            positional_.push_back(arg);
        }
    }
}

std::optional<std::string> Options::value(const std::string& name) const {
    std::optional<std::string> found;
    for (const auto& [key, value] : values_)
        if (key == name)
            found = value; // the last one given wins
    return found;
}

bool Options::flag(const std::string& name) const {
    return std::find(flags_.begin(), flags_.end(), name) != flags_.end();
}

uint32_t parseSeed(const std::string& text) {
    return static_cast<uint32_t>(parseCount("--seed", text, 0, 4294967295ll));
}

long long parseCount(const std::string& option, const std::string& text, long long min, long long max) {
    if (text.empty() || text.size() > 12 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        throw UsageError(option + " wants a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                         ", not '" + text + "'");
    const long long value = std::stoll(text);
    if (value < min || value > max)
        throw UsageError(option + " wants a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                         ", not '" + text + "'");
    return value;
}

int reportFailure(const std::exception& error) {
    std::string text;
    int status = ExitFailure;
    if (const auto* e = dynamic_cast<const MorvaneError*>(&error)) {
        text = e->where().empty() ? cp932ToUtf8(e->message()) : e->where() + ": " + cp932ToUtf8(e->message());
        if (dynamic_cast<const InputError*>(e))
            status = ExitBadInput;
    } else if (dynamic_cast<const UsageError*>(&error)) {
        text = error.what();
        status = ExitBadInput;
    } else {
        text = error.what();
    }
    std::cerr << "morvane-cli: " << escapeControls(text) << std::endl;
    return status;
}

std::string escapeControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            static constexpr char Hex[] = "0123456789abcdef";
            out.append("\\x").push_back(Hex[byte >> 4]);
            out.push_back(Hex[byte & 0xf]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::filesystem::path cardsPath(const Options& options) {
    if (auto path = options.value("--cards"))
        return *path;
    return ProgramFolder() + "card.dat";
}

CardCatalogue loadCatalogue(const std::filesystem::path& path) {
    CardCatalogue catalogue;
    try {
        catalogue.load(path);
    } catch (const IoError& e) {
        // An unreadable catalogue is the user's input, not the program's failure.
        throw InputError(e.message(), e.where());
    }
    return catalogue;
}

std::filesystem::path folderOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

DeckSource deckLine(const Options& options, const std::string& option, const std::filesystem::path& folder, int side) {
    if (auto line = options.value(option))
        return {utf8ToCp932(*line), option + " deck line"};
    const std::filesystem::path path = deckFilePath(folder, side);
    std::vector<TextLine> lines;
    try {
        lines = readDeckFile(path);
    } catch (const IoError& e) {
        throw InputError(e.message(), e.where());
    }
    // An empty deck file applies an empty line, which fails like any bad deck line.
    if (lines.empty())
        return {std::string(), path.string() + " (no deck line)"};
    return {lines.front().text, path.string() + ":" + std::to_string(lines.front().number)};
}

Teams teamsFrom(const CardCatalogue& catalogue, const DeckSource& top, const DeckSource& bottom) {
    Teams teams;
    for (int side = 0; side < 2; ++side) {
        const DeckSource& source = side == 0 ? top : bottom;
        try {
            applyDeckLine(source.line, teams.side[static_cast<size_t>(side)], catalogue);
        } catch (MorvaneError& e) {
            e.setWhere(source.where);
            throw;
        }
    }
    return teams;
}

} // namespace morvane::cli
