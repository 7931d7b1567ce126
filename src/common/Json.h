#pragma once
// JSON as the program writes it. Documents are built with nlohmann's ordered_json, so
// keys stay in the order they were added, and printed by jsonText in the one style of
// every --json output: one line, `{"key": value, "list": [1, 2]}`. Strings are escaped
// by the library (text that is not UTF-8 is replaced, never passed on); a double is
// written as the shortest text that reads back as the same number ("0.5", "24"), and
// one that JSON cannot hold (not finite) as null.

#include <nlohmann/json.hpp>

#include <string>

namespace morvane {

using Json = nlohmann::ordered_json;

std::string jsonText(const Json& value);
// The members of an object as jsonText writes them, without its braces: for a document
// too large to build whole, written a piece at a time in the same text.
std::string jsonMembers(const Json& object);

} // namespace morvane
