#include "server/PageTemplate.h"

#include <algorithm>

namespace morvane {

namespace {

constexpr std::string_view Open = "{{";
constexpr std::string_view Close = "}}";

// What the innermost fill that has the name holds of it; nothing when none has.
template <class Map>
const typename Map::mapped_type* innermost(const std::vector<const PageFill*>& scopes, Map PageFill::*member,
                                           const std::string& name) {
    for (size_t i = scopes.size(); i-- > 0;) {
        const Map& map = scopes[i]->*member;
        if (const auto found = map.find(name); found != map.end())
            return &found->second;
    }
    return nullptr;
}

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
            if (const std::string* value = innermost(scopes, &PageFill::values, std::string(name)))
                out += *value;
            continue;
        }
        const std::string list(name.substr(1));
        const std::string end = std::string(Open) + "/" + list + std::string(Close);
        const size_t endAt = text.find(end, at);
        if (endAt == std::string_view::npos)
            break;
        const std::string_view part = text.substr(at, endAt - at);
        at = endAt + end.size();
        if (const std::vector<PageFill>* fills = innermost(scopes, &PageFill::lists, list))
            for (const PageFill& fill : *fills) {
                scopes.push_back(&fill);
                fillInto(out, part, scopes);
                scopes.pop_back();
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
