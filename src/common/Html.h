#pragma once
// Text put into our own HTML pages: the service's pages and the balance page. Card
// names come from a catalogue that may hold markup, and error texts may quote what a
// client sent, so everything a page shows goes through here.

#include <string>
#include <string_view>

namespace morvane {

// The text escaped for HTML text and attribute values: & < > " ' as entities; control
// bytes other than tab and line breaks, and bytes that are not well-formed UTF-8, as
// U+FFFD, so that a page served as UTF-8 is UTF-8.
std::string escapeHtml(std::string_view utf8);

} // namespace morvane
