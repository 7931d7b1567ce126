#pragma once
// The service's pages are files of markup with places to fill: {{name}} takes a value
// as given (the caller escapes it), and {{#name}}...{{/name}} repeats its markup for
// each fill of the list name, none for an empty list, so rows, cells and optional
// parts are written in the page files and never pieced together in code. Inside a
// repeated part a name is looked up in its own fill first, then outwards.

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

struct PageFill {
    std::map<std::string, std::string> values;
    std::map<std::string, std::vector<PageFill>> lists;

    // A list of one fill that adds nothing: the part is shown, or (false) not.
    static std::vector<PageFill> shown(bool shown) {
        return shown ? std::vector<PageFill>(1) : std::vector<PageFill>();
    }
};

std::string fillPage(std::string_view text, const PageFill& fill);

} // namespace morvane
