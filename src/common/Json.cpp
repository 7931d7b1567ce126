#include "common/Json.h"

#include <charconv>
#include <cmath>

namespace morvane {

namespace {

void append(std::string& out, const Json& value) {
    switch (value.type()) {
    case Json::value_t::object: {
        out += '{';
        bool first = true;
        for (const auto& [key, item] : value.items()) {
            out += first ? "" : ", ";
            first = false;
            append(out, Json(key));
            out += ": ";
            append(out, item);
        }
        out += '}';
        break;
    }
    case Json::value_t::array: {
        out += '[';
        bool first = true;
        for (const Json& item : value) {
            out += first ? "" : ", ";
            first = false;
            append(out, item);
        }
        out += ']';
        break;
    }
    case Json::value_t::number_float: {
        // The library would write 24.0 where the figure reads 24.
        const double number = value.get<double>();
        if (!std::isfinite(number)) {
            out += "null";
            break;
        }
        char buffer[64];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, number).ptr;
        out.append(buffer, end);
        break;
    }
    default:
        out += value.dump(-1, ' ', false, Json::error_handler_t::replace);
        break;
    }
}

} // namespace

std::string jsonText(const Json& value) {
    std::string out;
    append(out, value);
    return out;
}

std::string jsonMembers(const Json& object) {
    std::string out = jsonText(object);
    return out.substr(1, out.size() - 2);
}

} // namespace morvane
