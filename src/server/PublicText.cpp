#include "server/PublicText.h"

#include <iostream>

#include "common/Errors.h"

namespace morvane {

namespace {

// Every occurrence of from in text, as to.
std::string replaced(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    for (size_t at; (at = text.find(from)) != std::string_view::npos;) {
        out.append(text.substr(0, at)).append(to);
        text.remove_prefix(at + from.size());
    }
    return out.append(text);
}

std::string withoutRoot(const std::string& text, std::string_view root) {
    if (root.empty())
        return text;
    std::string out = replaced(text, root, "");
    // The root itself, named without its closing slash (a root that cannot be
    // listed), is the folder the paths start from.
    if (root.size() > 1 && root.back() == '/')
        out = replaced(out, root.substr(0, root.size() - 1), ".");
    return out;
}

} // namespace

std::string publicText(const MorvaneError& error, std::string_view root) {
    return withoutRoot(utf8Text(error), root);
}

std::string publicText(const std::exception_ptr& error, std::string_view root) {
    if (!error)
        return "the battle halted";
    try {
        std::rethrow_exception(error);
    } catch (const MorvaneError& e) {
        return publicText(e, root);
    } catch (const std::exception& e) {
        return withoutRoot(e.what(), root);
    }
}

void logLine(std::string_view text) {
    const std::string line = std::string("morvane-server: ").append(text).append("\n");
    std::cerr.write(line.data(), static_cast<std::streamsize>(line.size()));
    std::cerr.flush();
}

} // namespace morvane
