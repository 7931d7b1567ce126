#include "server/PageTemplate.h"

namespace morvane {

namespace {

constexpr std::string_view Open = "{{";
constexpr std::string_view Close = "}}";

void fillInto(std::string& out, std::string_view text, std::vector<const PageFill*>& scopes) {
    size_t at = 0;
    for (size_t open; (open = text.find(Open, at)) != std::string_view::npos;) {
        const size_t close = text.find(Close, open);
        if (close == std::string_view::npos)
            break;
        out.append(text.substr(at, open - at));
        const std::string_view name = text.substr(open + Open.size(), close - open - Open.size());
        at = close + Close.size();
        if (name.empty() || name.front() != '#') {
            for (auto scope = scopes.rbegin(); scope != scopes.rend(); ++scope)
                if (const auto value = (*scope)->values.find(std::string(name)); value != (*scope)->values.end()) {
                    out += value->second;
                    break;
                }
            continue;
        }
        const std::string list(name.substr(1));
        const std::string end = std::string(Open) + "/" + list + std::string(Close);
        const size_t endAt = text.find(end, at);
        if (endAt == std::string_view::npos)
            break;
        const std::string_view part = text.substr(at, endAt - at);
        at = endAt + end.size();
        for (auto scope = scopes.rbegin(); scope != scopes.rend(); ++scope)
            if (const auto fills = (*scope)->lists.find(list); fills != (*scope)->lists.end()) {
                for (const PageFill& fill : fills->second) {
                    scopes.push_back(&fill);
                    fillInto(out, part, scopes);
                    scopes.pop_back();
                }
                break;
            }
    }
    out.append(text.substr(std::min(at, text.size())));
}

} // namespace

std::string fillPage(std::string_view text, const PageFill& fill) {
    std::string out;
    out.reserve(text.size() * 2);
    std::vector<const PageFill*> scopes{&fill};
    fillInto(out, text, scopes);
    return out;
}

} // namespace morvane
