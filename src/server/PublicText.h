#pragma once
// Failures as the service's pages and API show them. They are public, the host's
// folders are not: every path is given from the battle root, as "0003/deck.dat".

#include <exception>
#include <string>
#include <string_view>

namespace morvane {

class MorvaneError;

// "where: message" in UTF-8, with the root left out of every path in it.
std::string publicText(const MorvaneError& error, std::string_view root);
// The same for any failure; a halt that threw nothing is "the battle halted".
std::string publicText(const std::exception_ptr& error, std::string_view root);

// Writes "morvane-server: text" and a line break to stderr in one write, so that lines
// from the runners, the ladder's loop and the listening line never interleave: a
// reader of the log (the tests, an operator's script) finds each whole.
void logLine(std::string_view text);

} // namespace morvane
